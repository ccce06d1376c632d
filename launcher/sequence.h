#pragma once
// The launch sequence, its exit codes, and the end of the process.
#include <cstdint>

#include "launcher/failure.h"

// Exit codes besides a failure's (failure.h): the game was started and
// waited for (or the session ended meanwhile); the game could not be
// started (or was not where it should be); another launcher runs for the
// same game; the game ran and the player was warned of what the launcher
// could not do.
constexpr std::uint32_t kExitGameRan = 0;
constexpr std::uint32_t kExitGameNotStarted = 2;
constexpr std::uint32_t kExitAlreadyRunning = 3;
constexpr std::uint32_t kExitGameRanWithWarning = 4;

// Runs the launch once and returns the exit code for ExitProgram. A failure
// that cannot be reported (no standard output) leaves it unchanged, for the
// last-resort box to show.
std::uint32_t RunLaunchSequence();

// Writes what standard output still holds and ends the process: the last
// step of the program's exit routine, once the shell is torn down.
[[noreturn]] void FlushOutputAndExit(std::uint32_t exitCode);
