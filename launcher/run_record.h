#pragma once
// What one run of the launcher knows besides where the game's files are
// (layout.h): handed to the steps that need it, never kept anywhere else.
#include "launcher/text.h"

struct RunRecord {
    // Every argument of the launcher, each after one space: the game gets them.
    Text forwardedArgs;
    // The player has been warned in this run: the exit code says so.
    bool playerWarned = false;
};
