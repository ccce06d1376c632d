#include "launcher/launch.h"

#include "launcher/fault_hook.h"
#include "launcher/globals.h"
#include "launcher/platform.h"
#include "launcher/split.h"

OsResult LaunchGame(const std::vector<Text>& pathParts) {
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
        // The game's end is its process's end, whatever code it returned: a
        // game may well return 259, which reads as "still active".
        if (Os().GameHasEnded()) return;
        if (Os().Terminated()) return;
        Os().AwaitGameOrMessage();
    }
}
