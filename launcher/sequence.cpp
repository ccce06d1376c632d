// The launch sequence: the whole run, start to exit code.
#include "launcher/sequence.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <vector>

#include "launcher/archives.h"
#include "launcher/command_line.h"
#include "launcher/fault_hook.h"
#include "launcher/file_system.h"
#include "launcher/kept.h"
#include "launcher/launch.h"
#include "launcher/layout.h"
#include "launcher/notice.h"
#include "launcher/platform.h"
#include "launcher/report.h"
#include "launcher/split.h"

namespace {

// A blank in the folder's name cuts the mod's name short: the game is told
// the last word only. Said before the game starts, so the player knows why.
void WarnOfBlankInFolderName(RunRecord& run, const Text& modFolder,
                             const std::vector<Text>& pathParts) {
    const Text folder(LastName(modFolder));
    for (char16_t unit : folder) {
        if (IsBlank(unit)) {
            TellPlayer(run, MessageKind::Warning,
                       BlankInFolderNameText(folder, ModName(pathParts)));
            return;
        }
    }
}

// The system's own character stepping, so that the folder's name is cut as
// Windows counts its characters.
const char16_t* SystemCharStep(const char16_t* at) { return Inputs().NextChar(at); }

// The steps after the archives are prepared: whether the game was started,
// and why not.
OsResult LaunchAndWait(const GameLayout& paths, RunRecord& run) {
    // Released here whether the steps that use it end normally or not.
    std::vector<Text> pathParts;
    SplitText(u'\\', paths.ModFolder(), pathParts, SystemCharStep);
    WarnOfBlankInFolderName(run, paths.ModFolder(), pathParts);
    const OsResult started = LaunchGame(paths, pathParts, run.forwardedArgs);
    if (started) WaitForGame();
    return started;
}

// The mod's folder: the working folder, or, where that has no game two
// levels up (a shortcut whose "Start in" is wrong), the launcher's own
// folder where that has. Started anywhere else the launcher would make
// backup folders and copies outside the game: it makes nothing, and tells
// the player where it looked. Where it runs in its own folder, `note`
// says so, for the log.
std::optional<GameLayout> FindGame(RunRecord& run, const Text& workingFolder, Text& note) {
    const GameLayout working(workingFolder);
    if (IsExistingFile(working.GameProgram())) return working;
    const Text ownFolder = ReadProgramFolder();
    const Text fromWorking = Files().FullPath(working.GameProgram());
    if (!ownFolder.empty()) {
        const GameLayout own(ownFolder);
        if (IsExistingFile(own.GameProgram())) {
            note = OwnFolderUsedText(Files().FullPath(working.ModFolder()),
                                     Files().FullPath(own.ModFolder()));
            return own;
        }
        const Text fromOwn = Files().FullPath(own.GameProgram());
        if (fromOwn != fromWorking) {
            TellPlayer(run, MessageKind::Error, GameNotFoundEitherText(fromWorking, fromOwn));
            return std::nullopt;
        }
    }
    TellPlayer(run, MessageKind::Error, GameNotFoundText(fromWorking));
    return std::nullopt;
}

// Whether this game's program runs already (started without the launcher,
// or by one that was killed): a process whose program file is this very
// file, by its identity, not by its name.
bool IsGameRunning(const GameLayout& paths) {
    FileIdentity game;
    if (!Files().ReadFileIdentity(paths.GameProgram(), game)) return false;
    for (const Text& program : Game().RunningProgramsNamed(kGameProgramName)) {
        FileIdentity running;
        if (Files().ReadFileIdentity(program, running) && running == game) return true;
    }
    return false;
}

// What asks nothing of the player is shown once the game has ended: its
// boxes, and, when this run kept one more version and they are many, how
// many are kept and how much room they take.
void TellAfterTheGame(const GameLayout& paths, RunRecord& run) {
    if (run.versionsKept > 0) {
        const KeptSummary kept = SumUpKept(paths);
        if (kept.count >= kKeptManyFrom)
            TellPlayer(
                run, MessageKind::Warning,
                ManyKeptText(kept.count, kept.bytes, Files().FullPath(paths.GameBackupFolder()),
                             Files().FullPath(kept.oldest)),
                BoxWhen::AfterTheGame);
    }
    // Not checked: a version that keeps its untold name is told again by
    // the next run.
    for (const Text& untold : ShowBoxesAfterTheGame(run)) (void)NameToldKeptVersion(untold);
}

std::uint32_t RunSteps() {
    const Text workingFolder = ReadWorkingFolder();
    RunRecord run;
    run.forwardedArgs = FormForwardedArgs();
    Text ownFolderNote;
    const std::optional<GameLayout> found = FindGame(run, workingFolder, ownFolderNote);
    if (!found) return kExitGameNotStarted;
    const GameLayout& paths = *found;
    // Before any archive is touched: under a running game the mod's archive
    // would go in, or the game's come back, while the game reads it. Told
    // without the log: a launcher that started that game may be waiting
    // for it, and the log is the one writer's at a time.
    if (IsGameRunning(paths)) {
        TellPlayer(run, MessageKind::Error,
                   GameAlreadyRunningText(Files().FullPath(paths.GameProgram())));
        return kExitAlreadyRunning;
    }
    run.game = paths;
    if (!ownFolderNote.empty()) NoteInLog(run, ownFolderNote);
    FaultPoint("archives");
    const Preparation preparation = PrepareArchives(paths, run);
    const Prepared prepared = preparation.prepared;
    if (prepared == Prepared::AnotherLauncherRuns) {
        run.game.reset();  // the log is the other launcher's to write
        TellPlayer(run, MessageKind::Error,
                   AlreadyRunningText(Files().FullPath(paths.GameFolder())));
        return kExitAlreadyRunning;
    }
    // The restore below must run whatever the game's steps raised, and only
    // then may the failure go on: held here, since a destructor must not raise.
    OsResult started;
    std::exception_ptr failure;
    try {
        started = LaunchAndWait(paths, run);
    } catch (...) {
        failure = std::current_exception();
    }
    // The mod's archive never stays in the game's place: the game's goes
    // back after the game, when the game could not be started, and before a
    // failure is reported.
    // A restore that cannot finish has told the player and leaves its marker
    // for the next run: nothing more to do here with its answer.
    if (prepared == Prepared::ModsArchive) RestoreGameArchive(paths, preparation.wayBack, run);
    TellAfterTheGame(paths, run);
    if (failure) std::rethrow_exception(failure);
    if (!started) {
        TellPlayer(run, MessageKind::Error,
                   GameNotStartedText(Files().FullPath(paths.GameProgram()), started.error));
        return kExitGameNotStarted;
    }
    return run.playerWarned ? kExitGameRanWithWarning : kExitGameRan;
}

}  // namespace

// The path of a failure, from here to the end of the process. A failure
// that a step raises ends the run here: its line goes to standard output
// (report.h) and the exit code is 1. Started the ordinary way, the launcher
// has no standard output: the failure then leaves this function as it was
// raised, and the program's entry shows it in the last-resort box, which
// ends the process through the exit routine. A failure inside a window
// procedure never comes here: the procedure shows it in a box of its own.
std::uint32_t RunLaunchSequence() {
    try {
        return RunSteps();
    } catch (const Failure& failure) {
        if (!ReportFailure(failure)) throw;
    } catch (const std::bad_alloc&) {
        const std::uintptr_t address = CodeAddress();
        if (!ReportFailure(OutOfMemory(address))) throw OutOfMemory(address);
    }
    return kExitFailure;
}

void FlushOutputAndExit(std::uint32_t exitCode) {
    StdOut.Close();
    Process().EndProcess(exitCode);
    std::abort();  // EndProcess does not return
}
