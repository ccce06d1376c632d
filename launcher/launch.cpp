#include "launcher/launch.h"

#include "launcher/fault_hook.h"
#include "launcher/globals.h"
#include "launcher/platform.h"
#include "launcher/split.h"

OsResult LaunchGame(const std::vector<Text>& pathParts) {
    GameExePath = BaseFolder + u"..\\..\\BF2.exe";
    OsHandle owner = Game().AppWindow();
    Text gameParameters = kGameParametersPrefix + ModName(pathParts) + ForwardedArgs;
    Text gameFolder = BaseFolder + u"..\\..\\";
    FaultPoint("launch");
    return Game().StartGame({owner, GameExePath, gameParameters, gameFolder});
}

void WaitForGame() {
    for (;;) {
        Game().ProcessMessages();
        // The game's end is its process's end, whatever code it returned: a
        // game may well return 259, which reads as "still active".
        if (Game().GameHasEnded()) return;
        if (Game().Terminated()) return;
        Game().AwaitGameOrMessage();
    }
}
