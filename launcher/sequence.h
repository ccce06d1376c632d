#pragma once
// The launch sequence and the exit routine, over the launcher's global state.
#include <cstdint>

#include "launcher/text.h"

extern Text BaseFolder;
extern Text ForwardedArgs;
extern Text GameExePath;
extern std::uint32_t GameExitCode;

// Exit codes: the game was started and waited for (or the session ended
// meanwhile); a failure ended the run; the game could not be started (or
// was not where it should be); another launcher runs for the same game; the
// game ran and the player was warned of what the launcher could not do; a
// failure during start-up.
constexpr std::uint32_t kExitGameRan = 0;
constexpr std::uint32_t kExitFailure = 1;
constexpr std::uint32_t kExitGameNotStarted = 2;
constexpr std::uint32_t kExitAlreadyRunning = 3;
constexpr std::uint32_t kExitGameRanWithWarning = 4;
constexpr std::uint32_t kExitStartupFailure = 217;

// Runs the launch once and returns the exit code for ExitProgram. A failure
// that its own report raises (no standard output) leaves it.
std::uint32_t RunLaunchSequence();

// Releases the global texts, tears the shell down, closes standard output
// and ends the process. Safe to run from inside a window procedure.
[[noreturn]] void ExitProgram(std::uint32_t exitCode);
