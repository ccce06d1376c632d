#pragma once
// What one run of the launcher knows besides where the game's files are
// (layout.h): handed to the steps that need it, never kept anywhere else.
#include <cstddef>
#include <optional>
#include <vector>

#include "launcher/layout.h"
#include "launcher/platform.h"
#include "launcher/text.h"

// A message whose box waits for the game's end, since it asks nothing of
// the player; with the kept versions it names that take their told names
// once it is shown (none when the log told of them already).
struct BoxAfterTheGame {
    MessageKind kind;
    Text text;
    std::vector<Text> untold;
};

struct RunRecord {
    // Every argument of the launcher, each after one space: the game gets them.
    Text forwardedArgs;
    // The player has been warned in this run: the exit code says so.
    bool playerWarned = false;
    // Versions of the game's archive that this run kept aside.
    std::size_t versionsKept = 0;
    // The game's places once its program is found: the log is written there.
    // Before that (no game found) nothing is written anywhere.
    std::optional<GameLayout> game;
    // The game has ended, or will not run: a box need wait no longer.
    bool gameOver = false;
    std::vector<BoxAfterTheGame> boxesAfterTheGame;
};
