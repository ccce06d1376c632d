// The launch sequence: the whole run, start to exit code.
#include "launcher/sequence.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <vector>

#include "launcher/archives.h"
#include "launcher/command_line.h"
#include "launcher/fault_hook.h"
#include "launcher/file_system.h"
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

std::uint32_t RunSteps() {
    const GameLayout paths(ReadWorkingFolder());
    RunRecord run;
    run.forwardedArgs = FormForwardedArgs();
    // Started anywhere but in a mod's folder of the game, the launcher would
    // make backup folders and copies outside the game: it makes nothing.
    if (!IsExistingFile(paths.GameProgram())) {
        TellPlayer(run, MessageKind::Error,
                   GameNotFoundText(Files().FullPath(paths.GameProgram())));
        return kExitGameNotStarted;
    }
    FaultPoint("archives");
    const Preparation preparation = PrepareArchives(paths, run);
    const Prepared prepared = preparation.prepared;
    if (prepared == Prepared::AnotherLauncherRuns) {
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
