#pragma once
// Starting the game and waiting for its end.
#include <vector>

#include "launcher/platform.h"
#include "launcher/text.h"

inline constexpr const char16_t* kGameParametersPrefix = u"+menu 1 +fullscreen 1 +modPath mods/";

// Starts "BF2.exe" two levels above the mod's folder, owned by the
// application window. Whether the platform reported it started and, when
// not, the error it gave.
OsResult LaunchGame(const std::vector<Text>& pathParts);

// Pumps the thread's messages until the game's process has ended or a quit
// message has set Terminated. Between passes it sleeps until either could have
// changed, so a long game costs the launcher no processor time.
void WaitForGame();
