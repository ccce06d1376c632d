#include "launcher/notice.h"

#include "launcher/report.h"

bool PlayerWarned = false;

void TellPlayer(MessageKind kind, const Text& text) {
    if (kind == MessageKind::Warning) PlayerWarned = true;
    if (StdOut.Available()) {
        StdOut.Write(kind == MessageKind::Warning ? u"Warning" : u"Error");
        StdOut.Write(u": ");
        StdOut.Write(text);
        StdOut.WriteLineEnd();
        // A line that could not be written must not pass for one that was,
        // nor leave its error to a later failure report.
        if (StdOut.TakeStatus() == 0) return;
    }
    Os().ShowMessage(kind, text);
}

namespace {

Text Quote(const Text& text) { return u"\"" + text + u"\""; }

// The platform's words for the error, and what a player can do about it.
Text Why(const StepFailure& failed) {
    Text why = u"Could not ";
    why += failed.action;
    why += u" " + Os().FullPath(failed.path) + u": " + Os().ErrorText(failed.error);
    if (why.back() != u'.') why += u'.';
    switch (failed.error) {
        case kErrorAccessDenied:
            return why +
                   u" Give your account write access to that folder, or start the launcher as "
                   u"administrator.";
        case kErrorDiskFull:
        case kErrorHandleDiskFull:
            return why + u" Free some space on that drive.";
        case kErrorSharingViolation:
        case kErrorLockViolation:
            return why + u" Close the program that holds the file, then start the launcher again.";
        default:
            return why + u" Check that folder, then start the launcher again.";
    }
}

}  // namespace

Text GameNotFoundText(const Text& gameExe) {
    return u"BF2.exe was not found at " + gameExe +
           u". The launcher must sit in the mod's folder inside the game's mods folder, and "
           u"start with that folder as its working folder (a shortcut's \"Start in\").";
}

Text AlreadyRunningText(const Text& gameFolder) {
    return u"A launcher is already running for the game in " + gameFolder +
           u". Close the game first, then start this one again.";
}

Text SwapNotMadeText(const StepFailure& failed) {
    return u"The mod's shaders were not put in place: the game starts with its own shaders. " +
           Why(failed);
}

Text RestoreNotMadeText(const StepFailure& failed, const Text& backup, const Text& live) {
    return u"The game's own shaders could not be put back. " + Why(failed) + u" They are safe in " +
           backup + u". The next start of the launcher puts them back; or copy that file over " +
           live + u" by hand.";
}

Text BlankInFolderNameText(const Text& folderName, const Text& modName) {
    return u"The mod's folder name " + Quote(folderName) +
           u" holds a blank, so the game is told only " + Quote(modName) + u" (+modPath mods/" +
           modName + u"). A folder name without blanks avoids this.";
}

Text LeftInPlaceText(const StepFailure& failed) {
    return u"Another mod's shaders may still be in place from an earlier run that did not end, "
           u"and they could not be put back. " +
           Why(failed) + u" The game starts with whatever is in place now.";
}

Text ModsArchiveNotTakenOutText(const StepFailure& failed, const Text& live) {
    return u"The mod's shaders could not be taken out of the game's folder (the game has no "
           u"shaders of its own there). " +
           Why(failed) + u" The next start of the launcher takes them out; or delete " + live +
           u" by hand.";
}

Text BackupMissingText(const Text& backup, const Text& live, bool liveThere) {
    return u"The backup of the game's own shaders, " + backup + u", is gone" +
           (liveThere ? u", and " + live + u" holds a mod's shaders" : u", and so is " + live) +
           u". An antivirus program may have moved the backup away. The launcher leaves both as "
           u"they are: put the game's Shaders_client.zip back as " +
           backup + u", or repair the game, then start the launcher again.";
}

Text UpdateKeptText(const Text& live, const Text& setAside) {
    Text text = live +
                u" was changed while a mod's shaders were in place (the game was updated or "
                u"repaired, say): it is kept as the game's own shaders and backed up.";
    if (!setAside.empty()) text += u" The backup it replaces is kept as " + setAside + u".";
    return text;
}
