#pragma once
// Whether a test program runs under Wine, and which: ntdll's own
// wine_get_version, which Windows' ntdll does not have.
#include <windows.h>

#include <optional>
#include <string>

inline std::optional<std::string> WineVersion() {
    using GetVersion = const char*(CDECL*)();
    const auto get = reinterpret_cast<GetVersion>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    if (!get) return std::nullopt;
    return std::string(get());
}
