#pragma once
// The application shell: a hidden top-level window that owns the game's
// start, one pump step over the thread's queue, and the Terminated flag.
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/windows_platform.h"

struct AppShell {
    HWND Handle = nullptr;
    bool FHandleCreated = false;
    std::wstring Title;
    bool Terminated = false;
    bool FNeedToUninitialize = false;
    HICON Icon = nullptr;
};

// The process's one shell.
extern AppShell Application;

// OLE, the icon, the title and the hidden window. Raises OutOfResources when
// the window class cannot be registered, after undoing what it had done.
void StartAppShell(AppShell& shell);

// One pump step: takes and handles every waiting message, never waits.
void ProcessMessages(AppShell& shell);

// Takes and handles one message; false when none was waiting.
bool PumpOneMessage(AppShell& shell);

// Asks for the quit message that sets Terminated.
void Terminate(AppShell& shell);

// Destroys the window and undoes the OLE initialisation.
void TeardownAppShell(AppShell& shell);

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A shell as the platform sees it, handed to the platform by the program's
// entry (or a test).
class AppShellWindow final : public AppWindowAccess {
public:
    explicit AppShellWindow(AppShell& shell) : shell_(shell) {}
    HWND Handle() override { return shell_.Handle; }
    const std::wstring& Title() override { return shell_.Title; }
    void ProcessMessages() override;
    bool Terminated() override { return shell_.Terminated; }
    void Teardown() override;

private:
    AppShell& shell_;
};

// The window title for a program file: its name up to the first full stop,
// lower-cased after the first character, from at most 255 units of the path.
std::wstring TitleFromModulePath(std::wstring_view modulePath);

// The queue calls whose A or W form depends on the message's window, and the
// default handling. A test may swap an entry to see which form was called.
struct ShellUser32 {
    BOOL(WINAPI* PeekMessageW)(MSG*, HWND, UINT, UINT, UINT);
    BOOL(WINAPI* PeekMessageA)(MSG*, HWND, UINT, UINT, UINT);
    LRESULT(WINAPI* DispatchMessageW)(const MSG*);
    LRESULT(WINAPI* DispatchMessageA)(const MSG*);
    LRESULT(WINAPI* DefWindowProcW)(HWND, UINT, WPARAM, LPARAM);
};
extern ShellUser32 ShellCalls;
