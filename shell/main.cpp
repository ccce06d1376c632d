// The program's entry: start-up, the launch, the exit routine.
#include <windows.h>

#include <new>

#include "launcher/failure.h"
#include "launcher/sequence.h"
#include "platform/last_resort.h"
#include "platform/windows_platform.h"
#include "shell/app_shell.h"

namespace {

// The program's one shell. The window's procedure reaches it through the
// window; the last-resort box, which a processor fault may show from
// anywhere, reaches it here, through the exit routine it is handed.
AppShell shell;

[[noreturn]] void ExitThisProgram(std::uint32_t exitCode) { ExitProgram(shell, exitCode); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InstallPlatformFaultHandler(ExitThisProgram);
    static AppShellWindow window(shell);
    static WindowsPlatform windows(window);
    UsePlatform(&windows);
    try {
        StartAppShell(shell);
    } catch (const Failure& failure) {
        ReportStartupFailure(failure);
    }
    // What escapes the launch sequence is a failure that could not be
    // reported on standard output, for there is none: the original failure.
    try {
        ExitProgram(shell, RunLaunchSequence());
    } catch (const Failure& failure) {
        ReportUnhandledFailure(failure);
    } catch (const std::bad_alloc&) {
        ReportUnhandledFailure(OutOfMemory());
    } catch (...) {
        ReportUnhandledForeignFailure(u"Exception", 0);
    }
}
