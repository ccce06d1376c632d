#pragma once
// What ends the process when a failure reaches no handler of the launcher.
#include <cstdint>

#include "launcher/failure.h"

// The program's exit routine: the "Application Error" box ends the run
// through it. It does not return.
using ExitRoutine = void (*)(std::uint32_t exitCode);

// Processor faults (an access violation and the like) end the run through
// the "Application Error" box too, with the exit code 1. Takes the exit
// routine that the box ends the run with.
void InstallPlatformFaultHandler(ExitRoutine exitRoutine);

// The failure that no handler took: offered to the platform, then shown in
// the "Application Error" box naming its kind, module and offset; exit 1.
[[noreturn]] void ReportUnhandledFailure(const Failure& failure);

// The same for a failure of a kind outside Failure's tree: no message.
[[noreturn]] void ReportUnhandledForeignFailure(const char16_t* kindName, std::uintptr_t address);

// A failure during start-up, before the launch: offered to the platform,
// then the "Runtime error 217 at ..." box and the exit code 217.
[[noreturn]] void ReportStartupFailure(const Failure& failure);

// The box's text, composed from its parts (the offset as 8 hex digits).
Text UnhandledFailureText(TextView kindName, TextView moduleName, std::uintptr_t offset,
                          TextView message, bool withMessage);
