#include "launcher/launch.h"

#include "launcher/fault_hook.h"
#include "launcher/platform.h"
#include "launcher/sequence.h"
#include "launcher/split.h"

bool LaunchGame(const std::vector<Text>& pathParts) {
    GameExePath = BaseFolder + u"..\\..\\BF2.exe";
    OsHandle owner = Os().AppWindow();
    Text gameParameters = kGameParametersPrefix + ModName(pathParts) + ForwardedArgs;
    Text gameFolder = BaseFolder + u"..\\..\\";
    FaultPoint("launch");
    return Os().StartGame({owner, GameExePath, gameParameters, gameFolder});
}

void WaitForGame() {
    for (;;) {
        Os().ProcessMessages();
        Os().PollGameExitCode(GameExitCode);  // a failed poll leaves the code as it was
        if (GameExitCode != kStillActive) return;
        if (Os().Terminated()) return;
        Os().AwaitGameOrMessage();
    }
}
