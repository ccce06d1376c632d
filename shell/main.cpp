// The program's entry: start-up, the launch, the exit routine.
#include <windows.h>

#include <new>

#include "launcher/failure.h"
#include "launcher/sequence.h"
#include "platform/last_resort.h"
#include "platform/windows_platform.h"
#include "shell/app_shell.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    InstallPlatformFaultHandler(ExitProgram);
    // The program's one shell, static like the platform that holds it: the
    // window's procedure reaches it through the window as long as that lives.
    static AppShell shell;
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
        ExitProgram(RunLaunchSequence());
    } catch (const Failure& failure) {
        ReportUnhandledFailure(failure);
    } catch (const std::bad_alloc&) {
        ReportUnhandledFailure(OutOfMemory());
    } catch (...) {
        ReportUnhandledForeignFailure(u"Exception", 0);
    }
}
