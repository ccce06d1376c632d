// The game's start and the wait for its end.
#include "launcher/launch.h"

#include "launcher/fault_hook.h"
#include "launcher/platform.h"
#include "launcher/split.h"

OsResult LaunchGame(const GameLayout& paths, const std::vector<Text>& pathParts,
                    const Text& forwardedArgs) {
    const Text program = paths.GameProgram();
    const OsHandle owner = Game().AppWindow();
    const Text parameters =
        Text(u"+menu 1 +fullscreen 1 ") + kModPathParameter + ModName(pathParts) + forwardedArgs;
    const Text gameFolder = paths.GameFolder() + u"\\";
    FaultPoint("launch");
    return Game().StartGame({owner, program, parameters, gameFolder});
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
