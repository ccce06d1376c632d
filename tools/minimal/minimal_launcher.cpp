// The smallest launcher there can be, for the start-up benchmark: it only
// starts the game two levels up and waits for it.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = L"..\\..\\BF2.exe";
    info.lpParameters = L"+menu 1 +fullscreen 1 +modPath mods/benchmod";
    info.lpDirectory = L"..\\..\\";
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return 2;
    WaitForSingleObject(info.hProcess, INFINITE);
    return 0;
}
