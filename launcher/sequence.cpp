#include "launcher/sequence.h"

#include <cstdlib>
#include <new>
#include <vector>

#include "launcher/archives.h"
#include "launcher/command_line.h"
#include "launcher/fault_hook.h"
#include "launcher/launch.h"
#include "launcher/platform.h"
#include "launcher/report.h"
#include "launcher/split.h"

Text BaseFolder;
Text ForwardedArgs;
Text GameExePath;
std::uint32_t GameExitCode = 0;

namespace {

std::uint32_t RunSteps() {
    BaseFolder = FormBaseFolder();
    ForwardedArgs = FormForwardedArgs();
    FaultPoint("archives");
    bool liveArchiveReplaced = PrepareArchives();
    bool started;
    {
        // Released here whether the steps that use it end normally or not.
        std::vector<Text> pathParts;
        SplitText(u'\\', BaseFolder, pathParts);
        started = LaunchGame(pathParts);
        if (started) WaitForGame();
        // Also when the game could not be started: the mod's archive must
        // not stay in the game's place.
        if (liveArchiveReplaced) RestoreGameArchive();
    }
    return started ? kExitGameRan : kExitGameNotStarted;
}

}  // namespace

std::uint32_t RunLaunchSequence() {
    try {
        return RunSteps();
    } catch (const Failure& failure) {
        ReportFailure(failure);
    } catch (const std::bad_alloc&) {
        ReportFailure(OutOfMemory());
    }
    return kExitFailure;
}

void ExitProgram(std::uint32_t exitCode) {
    // The globals first, the shell next, standard output last.
    Text().swap(BaseFolder);
    Text().swap(ForwardedArgs);
    Text().swap(GameExePath);
    Os().TeardownShell();
    StdOut.Close();
    Os().EndProcess(exitCode);
    std::abort();  // EndProcess does not return
}
