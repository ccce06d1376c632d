// What the hidden window answers, and the end of the program, which the
// session's end brings about from inside the window procedure.
#include <new>

#include "launcher/failure.h"
#include "launcher/fault_hook.h"
#include "launcher/sequence.h"
#include "shell/app_shell.h"

namespace {

// The low four bits of a system command belong to the platform.
constexpr WPARAM kSysCommandMask = 0xFFF0;

// The shell that CreateAppWindow stored on the window; null until then.
AppShell* ShellOf(HWND window) {
    return reinterpret_cast<AppShell*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Shows a failure that a message raised; never raises itself, since it runs
// inside the window procedure.
void ShowFailure(const AppShell& shell, const Failure& failure) noexcept {
    const TextView message = failure.Message();
    // The message is zero-terminated: a literal or the failure's own string.
    const wchar_t* text = reinterpret_cast<const wchar_t*>(message.data());
    std::wstring withStop;
    // A message that ends in a character after the full stop in code order
    // (a letter, a digit, a slash) gets one; one that ends in a stop, a
    // comma, a blank or any other character before it is shown as it is.
    if (!message.empty() && message.back() > u'.') {
        try {
            withStop.assign(text, message.size());
            withStop += L'.';
            text = withStop.c_str();
        } catch (const std::bad_alloc&) {
            // Without memory to spare the message goes out as it is.
        }
    }
    MessageBoxW(shell.window, text, shell.title.c_str(), MB_ICONERROR | MB_OK);
}

// Shows the window minimised with the minimise animation off for this one call.
void ShowMinimizedWithoutAnimation(HWND window) {
    ANIMATIONINFO animation{sizeof(animation), 0};
    SystemParametersInfoW(SPI_GETANIMATION, sizeof(animation), &animation, 0);
    const int wasAnimating = animation.iMinAnimate;
    if (wasAnimating) {
        animation.iMinAnimate = 0;
        SystemParametersInfoW(SPI_SETANIMATION, sizeof(animation), &animation, 0);
    }
    ShowWindow(window, SW_MINIMIZE);
    if (wasAnimating) {
        animation.iMinAnimate = wasAnimating;
        SystemParametersInfoW(SPI_SETANIMATION, sizeof(animation), &animation, 0);
    }
}

void Minimize(AppShell& shell) {
    if (IsIconic(shell.window)) return;
    SetActiveWindow(shell.window);
    ShowMinimizedWithoutAnimation(shell.window);
}

// The launcher has no other window to bring back: a minimised window only
// becomes active, and stays minimised.
void Restore(AppShell& shell) {
    if (IsIconic(shell.window)) SetActiveWindow(shell.window);
}

}  // namespace

void ExitProgram(AppShell& shell, std::uint32_t exitCode) {
    // The window first, standard output last: what is left to write goes
    // out however the window's end went.
    TeardownAppShell(shell);
    FlushOutputAndExit(exitCode);
}

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AppShell* const shell = ShellOf(window);
    if (!shell) return ShellCalls.DefWindowProcW(window, message, wParam, lParam);
    try {
        switch (message) {
            case WM_QUERYENDSESSION:
                // The launcher never stands in the way of the session's end.
                return 1;
            case WM_ENDSESSION:
                // The session's end ends the wait; when it really ends, so does the process.
                Terminate();
                if (wParam != 0) ExitProgram(*shell, kExitGameRan);
                return 0;
            case WM_CLOSE:
                // Closing would only destroy the window the game is owned by: ignored.
                return 0;
            case WM_SYSCOMMAND:
                // Minimise and restore act on the hidden window alone; the rest is default.
                switch (wParam & kSysCommandMask) {
                    case SC_MINIMIZE:
                        Minimize(*shell);
                        return 0;
                    case SC_RESTORE:
                        Restore(*shell);
                        return 0;
                    default:
                        return ShellCalls.DefWindowProcW(window, message, wParam, lParam);
                }
            case WM_APP:
                // A test build of the program can be told to fail while handling a message.
                FaultPoint("window-message");
                return ShellCalls.DefWindowProcW(window, message, wParam, lParam);
            default:
                // The launcher shows no other window: nothing else needs handling of its own.
                return ShellCalls.DefWindowProcW(window, message, wParam, lParam);
        }
    } catch (const Failure& failure) {
        // A failure must not unwind through the platform's dispatch.
        ShowFailure(*shell, failure);
    } catch (const std::bad_alloc&) {
        ShowFailure(*shell, OutOfMemory());
    }
    return 0;
}
