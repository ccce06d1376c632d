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
