// The player's messages: their texts, the advice, and how they are shown.
#include "launcher/notice.h"

#include "launcher/layout.h"
#include "launcher/log.h"
#include "launcher/output.h"

namespace {

Text SystemWords(std::uint32_t error, TextView fileName);

const char16_t* KindWord(MessageKind kind) {
    return kind == MessageKind::Warning ? u"Warning" : u"Error";
}

}  // namespace

bool TellPlayer(RunRecord& run, MessageKind kind, const Text& text, BoxWhen when,
                const std::vector<Text>& untold) {
    if (kind == MessageKind::Warning) run.playerWarned = true;
    bool logged = false;
    Text shown = text;
    if (run.game) {
        const OsResult added = AddToLog(*run.game, Text(KindWord(kind)) + u": " + text);
        logged = added.ok;
        if (!logged) shown += LogNotWrittenText(Files().FullPath(run.game->Log()), added.error);
    }
    if (StdOut.Available()) {
        StdOut.Write(KindWord(kind));
        StdOut.Write(u": ");
        StdOut.Write(shown);
        StdOut.WriteLineEnd();
        // Whether or not the line went through, its error is not left to a
        // later failure report, and no box blocks the caller.
        return StdOut.TakeStatus() == 0 || logged;
    }
    if (when == BoxWhen::AfterTheGame && !run.gameOver) {
        run.boxesAfterTheGame.push_back({kind, shown, logged ? std::vector<Text>() : untold});
        return logged;
    }
    return Output().ShowMessage(kind, shown) || logged;
}

void NoteInLog(const RunRecord& run, const Text& text) {
    // Not checked: a line that only the log would hold tells the player
    // nothing they must know.
    if (run.game) (void)AddToLog(*run.game, text);
}

std::vector<Text> ShowBoxesAfterTheGame(RunRecord& run) {
    run.gameOver = true;
    std::vector<Text> named;
    for (const BoxAfterTheGame& box : run.boxesAfterTheGame) {
        if (Output().ShowMessage(box.kind, box.text))
            named.insert(named.end(), box.untold.begin(), box.untold.end());
    }
    run.boxesAfterTheGame.clear();
    return named;
}

Text LogNotWrittenText(const Text& log, std::uint32_t error) {
    return u" (This message could not be written to the launcher's log, " + log + u": " +
           SystemWords(error, LastName(log)) + u")";
}

namespace {

Text Quote(const Text& text) { return u"\"" + text + u"\""; }

// The system's words for the error, ending with a full stop. Some of them
// hold a place for the file's name ("%1 is not a valid ..."): it is filled.
Text SystemWords(std::uint32_t error, TextView fileName) {
    Text said = Output().ErrorText(error);
    for (std::size_t at = said.find(u"%1"); at != Text::npos; at = said.find(u"%1", at)) {
        said.replace(at, 2, fileName);
        at += fileName.size();
    }
    if (said.empty() || said.back() != u'.') said += u'.';
    return said;
}

bool NamesAFolder(const StepFailure& failed) {
    const TextView action = failed.action;
    return action == kMakeFolderAction;
}

// What a player can do, from the cause found: what is really at the path
// first, then the error.
Text Advice(const StepFailure& failed, const Text& fullPath) {
    const std::uint32_t found = Files().FileAttributes(failed.path).attributes;
    const bool exists = found != kInvalidFileAttributes;
    const bool isFolder = exists && (found & kAttributeDirectory);
    if (isFolder && !NamesAFolder(failed))
        return fullPath +
               u" is a folder, not a file: remove or rename it, then start the "
               u"launcher again.";
    if (exists && !isFolder && NamesAFolder(failed))
        return fullPath +
               u" is a file, not a folder: remove or rename it, then start the "
               u"launcher again.";
    switch (failed.error) {
        case kErrorSharingViolation:
        case kErrorLockViolation:
            // In use, which no access right changes.
            return u"Close the program that holds the file, then start the launcher again.";
        case kErrorDiskFull:
        case kErrorHandleDiskFull:
            return u"Free some space on that drive.";
        case kErrorWriteProtect:
            return u"The drive cannot be written: install the game on one that can.";
        case kErrorAccessDenied:
            if (exists && (found & kAttributeReadOnly))
                return fullPath +
                       u" is read-only: clear its read-only attribute, then start the "
                       u"launcher again.";
            return u"Give your account write access to that folder, or start the launcher as "
                   u"administrator.";
        default:
            return u"Check that folder, then start the launcher again.";
    }
}

// The step, the platform's words for the error, and what a player can do about it.
Text WhatFailedAndAdvice(const StepFailure& failed) {
    const Text path = Files().FullPath(failed.path);
    if (failed.why == StepFailure::Why::SourceChanged) {
        return u"Could not " + Text(failed.action) + u" " + path +
               u": another program wrote it while it was being copied. Start the launcher "
               u"again once that program is done.";
    }
    return u"Could not " + Text(failed.action) + u" " + path + u": " +
           SystemWords(failed.error, LastName(path)) + u" " + Advice(failed, path);
}

// What would help a game that the system could not start.
const char16_t* StartAdvice(std::uint32_t error) {
    switch (error) {
        case kErrorBadFormat:
        case kErrorBadExeFormat:
        case kErrorInvalidExeSignature:
        case kErrorExeMachineTypeMismatch:
            return u"It is not a program that this system can run: reinstall or repair the game.";
        case kErrorFileNotFound:
        case kErrorPathNotFound:
        case kErrorInvalidName:
        case kErrorBadPathName:
        case kErrorFileNameTooLong:
            return u"The system could not reach it by that path: install the game in a folder "
                   u"with a shorter, plain path, or reinstall it.";
        case kErrorAccessDenied:
            return u"Your account may not run it: give it the right to, or start the launcher as "
                   u"administrator.";
        case kErrorElevationRequired:
            return u"The game asks to run as administrator: start the launcher as administrator.";
        case kErrorNotEnoughMemory:
        case kErrorOutOfMemory:
            return u"Close some programs to free memory, then start the launcher again.";
        case kErrorSharingViolation:
        case kErrorLockViolation:
            return u"Another program holds it (an update or a virus scanner, say): let it "
                   u"finish, then start the launcher again.";
        default:
            return u"Reinstall or repair the game.";
    }
}

}  // namespace

Text GameNotFoundText(const Text& gameExe) {
    return kGameProgramName + Text(u" was not found at ") + gameExe +
           u". The launcher must sit in the mod's folder inside the game's mods folder, and "
           u"start with that folder as its working folder (a shortcut's \"Start in\").";
}

Text AlreadyRunningText(const Text& gameFolder) {
    return u"A launcher is already running for the game in " + gameFolder +
           u". Close the game first, then start this one again.";
}

Text SwapNotMadeText(const StepFailure& failed) {
    return u"The mod's shaders were not put in place: the game starts with its own shaders. " +
           WhatFailedAndAdvice(failed);
}

Text RestoreNotMadeText(const StepFailure& failed, const Text& backup, const Text& live) {
    return u"The game's own shaders could not be put back. " + WhatFailedAndAdvice(failed) +
           u" They are safe in " + backup +
           u". The next start of the launcher puts them back; or copy that file over " + live +
           u" by hand.";
}

Text BlankInFolderNameText(const Text& folderName, const Text& modName) {
    return u"The mod's folder name " + Quote(folderName) +
           u" holds a blank, so the game is told only " + Quote(modName) + u" (" +
           kModPathParameter + modName + u"). A folder name without blanks avoids this.";
}

Text GameNotStartedText(const Text& gameExe, std::uint32_t error) {
    return u"The game could not be started: " + gameExe + u": " +
           SystemWords(error, LastName(gameExe)) + u" " + StartAdvice(error);
}

Text LeftInPlaceText(const StepFailure& failed) {
    return u"Another mod's shaders may still be in place from an earlier run that did not end, "
           u"and they could not be put back. " +
           WhatFailedAndAdvice(failed) + u" The game starts with whatever is in place now.";
}

Text ModsArchiveNotTakenOutText(const StepFailure& failed, const Text& live) {
    return u"The mod's shaders could not be taken out of the game's folder (the game has no "
           u"shaders of its own there). " +
           WhatFailedAndAdvice(failed) +
           u" The next start of the launcher takes them out; or delete " + live + u" by hand.";
}

Text MarkerLostText(const StepFailure& failed, const Text& backup, const Text& live,
                    bool gameHadArchive) {
    Text text =
        u"Another program deleted the launcher's record of the mod's shaders in place "
        u"while the game ran, and it could not be written again, so the mod's shaders "
        u"were not taken out. " +
        WhatFailedAndAdvice(failed);
    if (!gameHadArchive) {
        return text + u" The game has no shaders of its own there: delete " + live + u" by hand.";
    }
    return text + u" The game's own shaders are safe in " + backup + u": copy that file over " +
           live + u" by hand.";
}

Text BackupMissingText(const Text& backup, const Text& live, bool liveThere) {
    const Text andTheLive =
        liveThere ? u", and " + live + u" holds a mod's shaders" : u", and so is " + live;
    return u"The backup of the game's own shaders, " + backup + u", is gone" + andTheLive +
           u". An antivirus program may have moved the backup away. The launcher leaves both as "
           u"they are: put the game's " +
           kArchiveName + u" back as " + backup +
           u", or repair the game, then start the launcher again.";
}

namespace {

// The live archive kept as the game's new one, why the launcher took it for
// that, and where the backup it replaces is kept, if anywhere.
Text NewArchiveKeptText(const Text& live, const Text& why, const Text& then, const Text& keptAs) {
    Text text = live + why + u": it is kept as the game's own shaders and backed up" + then + u".";
    if (!keptAs.empty()) text += u" The backup it replaces is kept as " + keptAs + u".";
    return text;
}

}  // namespace

Text UpdateFoundText(const Text& live, const Text& keptAs) {
    return NewArchiveKeptText(live,
                              u" is not the game's backed-up shaders nor a mod's (the game was "
                              u"updated or repaired since the launcher last ran, say)",
                              Text(), keptAs);
}

Text ModsBytesFoundText(const Text& live, const Text& modsArchive, const Text& keptAs) {
    Text text = NewArchiveKeptText(live,
                                   u" holds the same bytes as the mod's shaders " + modsArchive +
                                       u", with no record that the launcher put them there",
                                   Text(), keptAs);
    if (!keptAs.empty()) {
        text += u" If they are a mod's shaders left in place, copy that file over " + live +
                u" and start the launcher again.";
    }
    return text;
}

Text UpdateDuringSwapText(const Text& live, const Text& keptAs) {
    return NewArchiveKeptText(live,
                              u" changed just as the mod's shaders were being put in its place "
                              u"(an update, say)",
                              u", and the game starts with them, without the mod's shaders",
                              keptAs);
}

Text KeptAsideText(const Text& path, const Text& keptAs) {
    return path + u" held a version of the game's shaders found in no other file: it is kept as " +
           keptAs + u". Delete it once you know you do not need it.";
}

Text KeptReadWhileWrittenText(const Text& path, const Text& keptAs) {
    return path +
           u" was written by another program while the launcher copied it: the copy is "
           u"kept as " +
           keptAs +
           u", as it may be the earlier version whole, found in no other file now; it may also "
           u"be a mix of two versions. Delete it once you know you do not need it.";
}

Text BackupMadeAgainText(const Text& backup) {
    return u"The backup of the game's own shaders, " + backup +
           u", was gone (an antivirus program may have moved it away): it is made again from "
           u"the game's shaders as they were before the mod's were put in place.";
}

Text KeptCopyRemovedText(const Text& kept, const Text& backup) {
    return kept +
           u", a version of the game's shaders kept aside earlier, holds the same bytes "
           u"as " +
           backup + u" now: it is removed, as nothing is lost with it.";
}

Text KeptEarlierText(const Text& keptAs) {
    return keptAs +
           u" holds a version of the game's shaders found in no other file, which an "
           u"earlier run of the launcher kept aside and was stopped before it could "
           u"say so. Delete it once you know you do not need it.";
}

Text LiveMissingText(const Text& live, const Text& backup) {
    return live + u" was missing: the game's own shaders are put back from " + backup + u".";
}

namespace {

// A size as a player reads it: kilobytes below a megabyte, else megabytes
// with one decimal.
Text SizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kKilo = 1024;
    constexpr std::uint64_t kMega = kKilo * kKilo;
    if (bytes < kMega)
        return DecimalText(static_cast<std::int64_t>((bytes + kKilo - 1) / kKilo)) + u" KB";
    const std::uint64_t tenths = (bytes * 10 + kMega / 2) / kMega;
    return DecimalText(static_cast<std::int64_t>(tenths / 10)) + u"." +
           DecimalText(static_cast<std::int64_t>(tenths % 10)) + u" MB";
}

}  // namespace

Text ManyKeptText(std::size_t count, std::uint64_t bytes, const Text& folder, const Text& oldest) {
    return u"The launcher now keeps " + DecimalText(static_cast<std::int64_t>(count)) +
           u" earlier versions of the game's shaders in " + folder + u", taking " +
           SizeText(bytes) + u"; the oldest is " + oldest +
           u". Each holds the game's shaders as an earlier version of the game had them: the "
           u"versions of games you no longer play can be deleted. The launcher deletes none "
           u"itself.";
}

Text LiveMissingNotPutBackText(const StepFailure& failed, const Text& live, const Text& backup,
                               bool modArchive) {
    return live + u" was missing, and the game's own shaders could not be put back from " + backup +
           u". " + WhatFailedAndAdvice(failed) +
           (modArchive ? u" The mod's shaders were not put in place either: the game starts "
                         u"without shaders in that place."
                       : u" The game starts without shaders in that place.") +
           u" The next start of the launcher puts them back; or copy " + backup + u" to " + live +
           u" by hand.";
}

Text OwnFolderUsedText(const Text& workingFolder, const Text& ownFolder) {
    return u"The working folder " + workingFolder + u" has no " + kGameProgramName +
           u" two levels up (a shortcut's \"Start in\" may be wrong): the launcher runs in its "
           u"own folder, " +
           ownFolder + u".";
}

Text GameNotFoundEitherText(const Text& fromWorking, const Text& fromOwn) {
    return kGameProgramName + Text(u" was not found at ") + fromWorking +
           u" (from the working "
           u"folder) nor at " +
           fromOwn +
           u" (from the launcher's own folder). The launcher must "
           u"sit in the mod's folder inside the game's mods folder.";
}

Text GameAlreadyRunningText(const Text& gameExe) {
    return u"The game is already running: " + gameExe +
           u". The launcher changes nothing and starts no second game. Quit the game first, "
           u"then start the launcher again.";
}

Text UpdateKeptText(const Text& live, const Text& setAside) {
    return NewArchiveKeptText(live,
                              u" was changed while a mod's shaders were in place (the game was "
                              u"updated or repaired, say)",
                              Text(), setAside);
}
