#include "shell/app_shell.h"

#include <ole2.h>

#include <new>

#include "launcher/failure.h"
#include "launcher/fault_hook.h"
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

void TeardownAppShell(AppShell& shell) {
    if (shell.window && shell.windowCreated) {
        SendMessageW(shell.window, WM_SETICON, ICON_BIG, 0);
        DestroyWindow(shell.window);
    }
    shell.window = nullptr;
    shell.windowCreated = false;
    UndoOle(shell);
}
