#pragma once
// Starting the game and waiting for its end.
#include <vector>

#include "launcher/layout.h"
#include "launcher/platform.h"
#include "launcher/text.h"

// Starts the game's program, owned by the application window, in the game's
// folder, with the parameters that select the mod (its folder's last name,
// from the path's parts) and then the launcher's own arguments. Whether the
// platform reported it started and, when not, the error it gave.
OsResult LaunchGame(const GameLayout& paths, const std::vector<Text>& pathParts,
                    const Text& forwardedArgs);

// Pumps the thread's messages until the game's process has ended or a quit
// message has set Terminated. Between passes it sleeps until either could have
// changed, so a long game costs the launcher no processor time.
void WaitForGame();
