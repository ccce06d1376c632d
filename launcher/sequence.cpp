#include "launcher/sequence.h"

#include <cstdlib>
#include <exception>
#include <new>
#include <vector>

#include "launcher/archives.h"
#include "launcher/command_line.h"
#include "launcher/fault_hook.h"
#include "launcher/launch.h"
#include "launcher/notice.h"
#include "launcher/platform.h"
#include "launcher/report.h"
#include "launcher/split.h"

Text BaseFolder;
Text ForwardedArgs;
Text GameExePath;

namespace {

// The name of the folder the launcher runs in: the base folder's last name.
Text FolderName(const Text& baseFolder) {
    const Text folder = baseFolder.substr(0, baseFolder.size() - 1);  // the appended backslash
    return folder.substr(folder.rfind(u'\\') + 1);                    // npos + 1 is 0
}

// A blank in the folder's name cuts the mod's name short: the game is told
// the last word only. Said before the game starts, so the player knows why.
void WarnOfBlankInFolderName(const std::vector<Text>& pathParts) {
    const Text folder = FolderName(BaseFolder);
    for (char16_t unit : folder) {
        if (IsBlank(unit)) {
            TellPlayer(MessageKind::Warning, BlankInFolderNameText(folder, ModName(pathParts)));
            return;
        }
    }
}

// The system's own character stepping, so that the folder's name is cut as
// Windows counts its characters.
const char16_t* SystemCharStep(const char16_t* at) { return Inputs().NextChar(at); }

// The steps after the archives are prepared: whether the game was started,
// and why not.
OsResult LaunchAndWait() {
    // Released here whether the steps that use it end normally or not.
    std::vector<Text> pathParts;
    SplitText(u'\\', BaseFolder, pathParts, SystemCharStep);
    WarnOfBlankInFolderName(pathParts);
    const OsResult started = LaunchGame(pathParts);
    if (started) WaitForGame();
    return started;
}

std::uint32_t RunSteps() {
    BaseFolder = FormBaseFolder();
    ForwardedArgs = FormForwardedArgs();
    // Started anywhere but in a mod's folder of the game, the launcher would
    // make backup folders and copies outside the game: it makes nothing.
    const Text gameExe = BaseFolder + u"..\\..\\BF2.exe";
    if (!IsExistingFile(gameExe)) {
        TellPlayer(MessageKind::Error, GameNotFoundText(Files().FullPath(gameExe)));
        return kExitGameNotStarted;
    }
    FaultPoint("archives");
    const Prepared prepared = PrepareArchives();
    if (prepared == Prepared::AnotherLauncherRuns) {
        TellPlayer(MessageKind::Error, AlreadyRunningText(Files().FullPath(BaseFolder + u"..\\..")));
        return kExitAlreadyRunning;
    }
    OsResult started;
    std::exception_ptr failure;
    try {
        started = LaunchAndWait();
    } catch (...) {
        failure = std::current_exception();
    }
    // The mod's archive never stays in the game's place: the game's goes
    // back after the game, when the game could not be started, and before a
    // failure is reported.
    if (prepared == Prepared::ModsArchive) RestoreGameArchive();
    if (failure) std::rethrow_exception(failure);
    if (!started) {
        TellPlayer(MessageKind::Error,
                   GameNotStartedText(Files().FullPath(GameExePath), started.error));
        return kExitGameNotStarted;
    }
    return PlayerWarned ? kExitGameRanWithWarning : kExitGameRan;
}

}  // namespace

std::uint32_t RunLaunchSequence() {
    try {
        return RunSteps();
    } catch (const Failure& failure) {
        ReportFailure(failure);
    } catch (const std::bad_alloc&) {
        ReportFailure(OutOfMemory(CodeAddress()));
    }
    return kExitFailure;
}

void ExitProgram(std::uint32_t exitCode) {
    // The globals first, the shell next, standard output last.
    Text().swap(BaseFolder);
    Text().swap(ForwardedArgs);
    Text().swap(GameExePath);
    Process().TeardownShell();
    StdOut.Close();
    Process().EndProcess(exitCode);
    std::abort();  // EndProcess does not return
}
