#pragma once
// One launcher at a time works on a game's archives: it locks the first
// byte of a file in the game's backup folder until it ends.
#include "launcher/archive_work.h"
#include "launcher/layout.h"

enum class Lock { Taken, HeldByAnother, NotTaken };

struct [[nodiscard]] LockOutcome {
    Lock lock;
    Failed failed;  // why it was not taken, for Lock::NotTaken
};

// The file's identity locks, whichever spelling of the folder a launcher
// uses and from whichever Wine prefix, and the system lets go of it however
// the launcher ends.
LockOutcome TakeLock(const GameLayout& paths);
