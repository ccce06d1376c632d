// The smallest launcher there can be, for the start-up benchmark: it only
// starts the game two levels up and waits for it. With "--with-shell" it
// first does what any launcher that owns the game's start must: initialise
// OLE and make a hidden window, which shows what that costs on its own.
#include <windows.h>
// After windows.h, which they need.
#include <ole2.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    HWND owner = nullptr;
    if (std::wcsstr(commandLine, L"--with-shell")) {
        OleInitialize(nullptr);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = L"MinimalLauncher";
        RegisterClassW(&windowClass);
        owner = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0,
                                0, nullptr, nullptr, instance, nullptr);
    }
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = owner;
    info.lpFile = L"..\\..\\BF2.exe";
    info.lpParameters = L"+menu 1 +fullscreen 1 +modPath mods/benchmod";
    info.lpDirectory = L"..\\..\\";
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return 2;
    WaitForSingleObject(info.hProcess, INFINITE);
    return 0;
}
