#include "shell/app_shell.h"

#include <ole2.h>

#include <new>

#include "launcher/failure.h"
#include "launcher/fault_hook.h"
#include "launcher/sequence.h"
#include "platform/scope_exit.h"

ShellUser32 ShellCalls = {
    ::PeekMessageW, ::PeekMessageA, ::DispatchMessageW, ::DispatchMessageA, ::DefWindowProcW,
};

namespace {

// Other programs, and the end-to-end tests, find the launcher's window by
// this class name, so it stays as it is.
constexpr wchar_t kPublicClassName[] = L"TApplication";
// The icon's name in ModLauncher.rc.
constexpr wchar_t kIconResource[] = L"MAINICON";
// GetModuleFileNameW's buffer for the title, zero unit included.
constexpr size_t kTitleBufferUnits = 256;
constexpr DWORD kWindowStyle =
    WS_POPUP | WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static_assert(kWindowStyle == 0x84CA0000);
// The low four bits of a system command belong to the platform.
constexpr WPARAM kSysCommandMask = 0xFFF0;

void UndoOle(AppShell& shell) {
    if (shell.oleToUndo) {
        OleUninitialize();
        shell.oleToUndo = false;
    }
}

// Out of line so that the address it reports lies where registration failed.
[[noreturn]] __attribute__((noinline)) void RaiseClassFailure() {
    throw OutOfResources(u"Error creating window class", CALLER_ADDRESS());
}

void CreateAppWindow(AppShell& shell, HINSTANCE instance) {
    if (shell.windowCreated) return;
    WNDCLASSW existing{};
    if (!GetClassInfoW(instance, kPublicClassName, &existing)) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kPublicClassName;
        if (FaultRequested("register-class") || !RegisterClassW(&windowClass)) {
            RaiseClassFailure();
        }
    }
    // A null handle is tolerated: the game is then started without an owner.
    shell.window =
        CreateWindowExW(WS_EX_TOOLWINDOW, kPublicClassName, shell.title.c_str(), kWindowStyle,
                        GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                        nullptr, nullptr, instance, nullptr);
    shell.windowCreated = true;
    // The Ptr forms are SetWindowLongW and SetClassLongW in the 32-bit product.
    // The shell goes on the window before the procedure that reads it.
    SetWindowLongPtrW(shell.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&shell));
    // Swapped in after creation, so the creation messages get only the default handling.
    SetWindowLongPtrW(shell.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AppWindowProc));
    SendMessageW(shell.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(shell.icon));
    SetClassLongPtrW(shell.window, GCLP_HICON, reinterpret_cast<LONG_PTR>(shell.icon));
}

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

std::wstring TitleFromModulePath(std::wstring_view modulePath) {
    std::wstring title(modulePath.substr(0, kTitleBufferUnits - 1));
    if (const size_t end = title.find(L'\0'); end != std::wstring::npos) title.resize(end);
    if (const size_t slash = title.rfind(L'\\'); slash != std::wstring::npos) {
        title.erase(0, slash + 1);
    }
    if (const size_t stop = title.find(L'.'); stop != std::wstring::npos) title.resize(stop);
    CharLowerW(CharNextW(title.data()));
    return title;
}

void StartAppShell(AppShell& shell) {
    shell.oleToUndo = SUCCEEDED(OleInitialize(nullptr));
    ScopeExit undoOle([&shell] { UndoOle(shell); });
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    shell.icon = LoadIconW(instance, kIconResource);
    wchar_t modulePath[kTitleBufferUnits] = {};
    GetModuleFileNameW(instance, modulePath, kTitleBufferUnits);
    // Older systems leave a path cut to the buffer unterminated.
    modulePath[kTitleBufferUnits - 1] = L'\0';
    shell.title = TitleFromModulePath(modulePath);
    CreateAppWindow(shell, instance);
    undoOle.Dismiss();
}

bool PumpOneMessage(AppShell& shell) {
    MSG msg{};
    // The mouse range is read first, so a message in it is taken ahead of
    // any other, even one that arrived earlier.
    bool taken = ShellCalls.PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSEHWHEEL, PM_REMOVE);
    if (!taken && !ShellCalls.PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) return false;
    // A window with an ANSI procedure gets its message in ANSI form, untranslated.
    const bool wide = msg.hwnd == nullptr || IsWindowUnicode(msg.hwnd);
    if (!taken) {
        taken = wide ? ShellCalls.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)
                     : ShellCalls.PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
        if (!taken) return false;
    }
    if (msg.message == WM_QUIT) {
        shell.terminated = true;
        return true;
    }
    TranslateMessage(&msg);
    if (wide) {
        ShellCalls.DispatchMessageW(&msg);
    } else {
        ShellCalls.DispatchMessageA(&msg);
    }
    return true;
}

void ProcessMessages(AppShell& shell) {
    while (PumpOneMessage(shell)) {
    }
}

void Terminate() { PostQuitMessage(0); }

void AppShellWindow::ProcessMessages() { ::ProcessMessages(shell_); }

void AppShellWindow::Teardown() { TeardownAppShell(shell_); }

void TeardownAppShell(AppShell& shell) {
    if (shell.window && shell.windowCreated) {
        SendMessageW(shell.window, WM_SETICON, ICON_BIG, 0);
        DestroyWindow(shell.window);
    }
    shell.window = nullptr;
    shell.windowCreated = false;
    UndoOle(shell);
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
                if (wParam != 0) ExitProgram(kExitGameRan);
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
