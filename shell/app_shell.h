#pragma once
// The application shell: a hidden top-level window that owns the game's
// start, one pump step over the thread's queue, and whether a quit message
// has been taken.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/windows_platform.h"

// The program's entry owns the one shell; its window keeps a pointer to it,
// so the shell must outlive the window.
struct AppShell {
    HWND window = nullptr;
    // Creation has run, even when it gave no window: it runs once.
    bool windowCreated = false;
    std::wstring title;
    // A quit message has been taken.
    bool terminated = false;
    // This shell's start initialised OLE, so its teardown uninitialises it.
    bool oleToUndo = false;
    HICON icon = nullptr;
};

// OLE, the icon, the title and the hidden window. Raises OutOfResources when
// the window class cannot be registered, after undoing what it had done.
void StartAppShell(AppShell& shell);

// One pump step: takes and handles every waiting message, never waits.
void ProcessMessages(AppShell& shell);

// Takes and handles one message; false when none was waiting.
bool PumpOneMessage(AppShell& shell);

// Asks for the quit message that the pump step marks as taken.
void Terminate();

// Destroys the window and undoes the OLE initialisation.
void TeardownAppShell(AppShell& shell);

// The program's exit routine: tears the shell down, writes what standard
// output still holds and ends the process. Safe to run from inside the
// window procedure.
[[noreturn]] void ExitProgram(AppShell& shell, std::uint32_t exitCode);

// The hidden window's procedure. It finds its shell through the window; a
// message that comes before the shell is stored there gets the default handling.
LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A shell as the platform sees it, handed to the platform by the program's
// entry (or a test).
class AppShellWindow final : public AppWindowAccess {
public:
    explicit AppShellWindow(AppShell& shell) : shell_(shell) {}
    HWND Handle() override { return shell_.window; }
    const std::wstring& Title() override { return shell_.title; }
    void ProcessMessages() override;
    bool Terminated() override { return shell_.terminated; }

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
