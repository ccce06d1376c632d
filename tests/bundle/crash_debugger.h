#pragma once
// The crash debugger a machine has registered (the AeDebug key), as a 32-bit
// program sees it: such a debugger takes a failure that no handler took
// before the program can show its own last-resort box. Visual Studio and
// WinDbg register one on Windows; every Wine prefix has Wine's own.
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/bundle/wine_version.h"

struct CrashDebugger {
    std::wstring key;        // where it is registered, as a person would look it up
    std::wstring command;    // the Debugger value; empty when none is registered
    bool automatic = false;  // Auto is 1: it starts without asking
    // Its program is there to start: one that is not cannot take a failure.
    bool startable = false;
};

// Whether the program a command line starts is there: a path as it is, a
// bare name where the system looks for programs.
inline bool ProgramIsThere(const std::wstring& command) {
    std::wstring program;
    if (!command.empty() && command[0] == L'"')
        program = command.substr(1, command.find(L'"', 1) - 1);
    else
        program = command.substr(0, command.find(L' '));
    if (program.empty()) return false;
    if (program.find_first_of(L"\\/:") != std::wstring::npos) {
        const bool named = GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES;
        return named || GetFileAttributesW((program + L".exe").c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    wchar_t found[MAX_PATH];
    return SearchPathW(nullptr, program.c_str(), L".exe", MAX_PATH, found, nullptr) > 0;
}

inline CrashDebugger RegisteredCrashDebugger() {
    CrashDebugger found;
    // A 32-bit program on 64-bit Windows reads the key's 32-bit view.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const bool view32 = wow64 || sizeof(void*) == 8;
    found.key = view32
                    ? L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug"
                    : L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", 0,
                      KEY_READ | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS) {
        wchar_t text[1024] = L"";
        DWORD type = 0;
        DWORD size = sizeof text - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"Debugger", nullptr, &type, reinterpret_cast<BYTE*>(text),
                             &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ))
            found.command.assign(text, wcsnlen(text, size / sizeof(wchar_t)));
        // Without an Auto value Windows asks first and Wine does not.
        found.automatic = WineVersion().has_value();
        wchar_t autoText[16] = L"";
        size = sizeof autoText - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"Auto", nullptr, &type, reinterpret_cast<BYTE*>(autoText),
                             &size) == ERROR_SUCCESS) {
            DWORD number = 0;
            if (type == REG_DWORD) std::memcpy(&number, autoText, sizeof number);
            found.automatic = type == REG_DWORD ? number != 0 : autoText[0] == L'1';
        }
        RegCloseKey(key);
    }
    // Wine starts its own debugger, without asking, when none is named.
    if (found.command.empty() && WineVersion()) {
        found.command = L"winedbg --auto %ld %ld";
        found.automatic = true;
    }
    found.startable = !found.command.empty() && ProgramIsThere(found.command);
    return found;
}
