// The demo's kill, as the Task Manager would do it: starts the launcher,
// waits for its game to start, ends the launcher alone by the handle this
// program holds, and checks that the game still ran at that moment.
//
//   kill_mid_game.exe <launcher> <game's report file>
//
// The launcher is started in the current folder, with no arguments. The game
// has started when the stand-in's report file appears; its pid= line names
// the game's process. Exit code 0 when the kill landed while the game ran;
// 1, with a line saying why, otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/unique_handle.h"
#include "platform/utf8.h"

namespace {

// A guard against a launcher that never starts its game, not a pace: the
// wait ends as soon as the report appears.
constexpr DWORD kGameStartGuardMs = 120000;
constexpr DWORD kPollMs = 20;

int Fail(const std::string& why) {
    std::printf("kill_mid_game: %s\n", why.c_str());
    return 1;
}

std::wstring FullPath(const wchar_t* path) {
    wchar_t full[MAX_PATH * 4] = L"";
    DWORD length = GetFullPathNameW(path, MAX_PATH * 4, full, nullptr);
    return length && length < MAX_PATH * 4 ? std::wstring(full, length) : std::wstring(path);
}

// The report's pid= value, or 0 while the report is missing or incomplete.
// The stand-in writes it whole (a temporary file moved into place).
DWORD GamePidFromReport(const std::wstring& report) {
    UniqueHandle file(CreateFileW(report.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return 0;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    std::size_t at = text.find("\npid=");
    return at == std::string::npos ? 0 : std::strtoul(text.c_str() + at + 5, nullptr, 10);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return Fail("usage: kill_mid_game.exe <launcher> <game's report file>");
    const std::wstring launcher = FullPath(argv[1]);
    const std::wstring report = FullPath(argv[2]);
    DeleteFileW(report.c_str());  // a report left by an earlier run is not this game's

    std::wstring commandLine = L"\"" + launcher + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(launcher.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return Fail("cannot start " + Utf8(launcher) + ": error " + std::to_string(GetLastError()));
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);

    DWORD gamePid = 0;
    const DWORD start = GetTickCount();
    while ((gamePid = GamePidFromReport(report)) == 0) {
        if (WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0)
            return Fail("the launcher ended before its game started");
        if (GetTickCount() - start >= kGameStartGuardMs) {
            TerminateProcess(process.get(), 1);
            return Fail("the game did not start; ended the launcher");
        }
    }
    UniqueHandle game(OpenProcess(SYNCHRONIZE, FALSE, gamePid));
    if (!game || WaitForSingleObject(game.get(), 0) != WAIT_TIMEOUT) {
        TerminateProcess(process.get(), 1);
        return Fail("the game (process " + std::to_string(gamePid) +
                    ") had already ended; the kill would not be mid-game");
    }

    if (!TerminateProcess(process.get(), 1))
        return Fail("TerminateProcess failed: error " + std::to_string(GetLastError()));
    WaitForSingleObject(process.get(), INFINITE);
    if (WaitForSingleObject(game.get(), 0) != WAIT_TIMEOUT)
        return Fail("the game ended before the launcher did; the kill was not mid-game");
    std::printf("killed the launcher (process %lu) while its game (process %lu) ran\n",
                info.dwProcessId, gamePid);
    return 0;
}
