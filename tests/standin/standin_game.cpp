// A stand-in for the game, for the end-to-end tests. It records what it was
// started with and what the live shader archive held, in standin-report.txt
// next to its own program file, then runs and ends as its environment says:
//   STANDIN_RUN_MS           how long to run (default 0)
//   STANDIN_RUN_UNTIL        instead, run until a file of this name appears
//                            next to the program file (the player quits)
//   STANDIN_EXIT_CODE        the exit code (default 0; 259 is allowed)
//   STANDIN_HOLD_ARCHIVE_MS  lock the live archive with no sharing and keep it
//                            locked this long after the game itself has ended
//   STANDIN_OPEN_ARCHIVE     keep the live archive open for reading, sharing
//                            only reading, for the game's whole run, as game
//                            engines keep their archives open
//   STANDIN_REWRITE_ARCHIVE  the full path of a file whose bytes the game
//                            writes over the live archive's, in place (the
//                            same file, opened and rewritten), once it has
//                            read it and before its report appears, as a
//                            game that repairs its own archive does; the
//                            report says rewrite=yes or rewrite=failed <error>
//   STANDIN_UPDATE_AT_END    the full path of a file that the game renames
//                            over the live archive (MoveFileExW, replacing it)
//                            just before it ends, as an updater started by the
//                            game does; the last report says update=yes or
//                            update=failed <error>
// The live archive is mods\bf2\Shaders_client.zip below the game's root: the
// game's own content folder, which a launcher in mods\<mod> reaches as ..\bf2.
// The report is always replaced whole, so a test that polls for it never reads
// half of it. Each line is key=value; in the archive's value a backslash, a CR
// and a LF are written as \\, \r and \n. It also records the standard output
// handle it was given (stdout=null, invalid or handle) and its file type
// (stdouttype=<GetFileType>), as the platform hands them to a new process.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/unique_handle.h"
#include "platform/utf8.h"

namespace {

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

DWORD EnvNumber(const wchar_t* name, DWORD fallback) {
    wchar_t value[32];
    DWORD length = GetEnvironmentVariableW(name, value, 32);
    if (length == 0 || length >= 32) return fallback;
    return static_cast<DWORD>(wcstoul(value, nullptr, 10));
}

bool IsSet(const wchar_t* name) { return GetEnvironmentVariableW(name, nullptr, 0) != 0; }

// The archive's bytes, escaped to stay on one line, or <missing>.
std::string ArchiveText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            switch (buffer[i]) {
                case '\\':
                    text += "\\\\";
                    break;
                case '\r':
                    text += "\\r";
                    break;
                case '\n':
                    text += "\\n";
                    break;
                default:
                    text += buffer[i];
            }
        }
    }
    CloseHandle(file);
    return text;
}

// The path an environment variable holds; empty when it is not set.
std::wstring EnvPath(const wchar_t* name) {
    wchar_t value[MAX_PATH * 4];
    DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4) return {};
    return std::wstring(value, length);
}

std::string Outcome(bool done) { return done ? "yes" : "failed " + std::to_string(GetLastError()); }

// Writes the bytes of the file at from over the archive's own, in place: the
// archive is opened as it is, written from its start and cut to the new size.
bool RewriteInPlace(const std::wstring& archive, const std::wstring& from) {
    UniqueHandle source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!source) return false;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(source.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    UniqueHandle target(CreateFileW(archive.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!target) return false;
    DWORD written = 0;
    return WriteFile(target.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size() && SetEndOfFile(target.get());
}

// Written to a temporary name, flushed, closed and then moved into place.
void WriteWhole(const std::wstring& path, const std::string& bytes) {
    std::wstring temp = path + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
    // Replacing a file fails while someone has it open (a test that polls the
    // report, say; under Wine even a reader that shares deletion blocks it):
    // that reader closes it soon, so try again until the move goes through.
    while (!MoveFileExW(temp.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return;
        Sleep(5);
    }
}

// Starts a helper process (this program, started with --hold) that locks
// the archive with a handle of its own and keeps it until holdMs after this
// process ended. Returns once the lock is in place: the helper's process id,
// or 0 when the helper or its lock failed.
//
// The helper opens the archive itself rather than inheriting a handle from
// here: under Wine a lock handed on by inheritance stays in force after the
// helper closes it, until the helper's process ends, so the helper's word
// that it let go came before the archive was free.
DWORD HoldArchive(const std::wstring& archive, DWORD holdMs) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle locked(CreateEventW(&inherit, TRUE, FALSE, nullptr));
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE, TRUE, 0);
    UniqueHandle selfOwner(self);
    if (!locked || !self) return 0;

    wchar_t program[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, program, MAX_PATH * 4);
    std::wstring commandLine =
        L"\"" + std::wstring(program) + L"\" --hold " + std::to_wstring(holdMs) + L" " +
        std::to_wstring(reinterpret_cast<UINT_PTR>(self)) + L" " +
        std::to_wstring(reinterpret_cast<UINT_PTR>(locked.get())) + L" \"" + archive + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper{};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &helper))
        return 0;
    UniqueHandle helperProcess(helper.hProcess);
    UniqueHandle helperThread(helper.hThread);
    // Either the lock is in place, or the helper ended without it.
    HANDLE events[] = {locked.get(), helperProcess.get()};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) return 0;
    return helper.dwProcessId;
}

// The helper: locks the archive with no sharing, says so, waits for the game
// to end, keeps the lock holdMs longer, then lets go and says so in
// standin-released.txt.
int RunHolder(wchar_t** argv) {
    DWORD holdMs = wcstoul(argv[2], nullptr, 10);
    HANDLE game = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(wcstoull(argv[3], nullptr, 10)));
    HANDLE locked = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(wcstoull(argv[4], nullptr, 10)));
    HANDLE lock =
        CreateFileW(argv[5], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (lock == INVALID_HANDLE_VALUE) return 1;
    SetEvent(locked);
    WaitForSingleObject(game, INFINITE);
    Sleep(holdMs);
    CloseHandle(lock);
    WriteWhole(OwnFolder() + L"standin-released.txt", "released\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && std::wstring(argv[1]) == L"--hold") return RunHolder(argv);
    // Read first, before anything else could change them.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const DWORD outputType = GetFileType(output);

    const std::wstring folder = OwnFolder();
    const std::wstring reportPath = folder + L"standin-report.txt";
    const std::wstring archive = folder + L"mods\\bf2\\Shaders_client.zip";

    wchar_t current[MAX_PATH * 4] = L"";
    GetCurrentDirectoryW(MAX_PATH * 4, current);

    std::string report = "commandline=" + Utf8(GetCommandLineW()) + "\n";
    report += "folder=" + Utf8(current) + "\n";
    report += "archive=" + ArchiveText(archive) + "\n";
    report += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    report += std::string("stdout=") +
              (output == nullptr                ? "null"
               : output == INVALID_HANDLE_VALUE ? "invalid"
                                                : "handle") +
              "\n";
    report += "stdouttype=" + std::to_string(outputType) + "\n";
    // Open, or locked, before the report appears, so a test that has seen the
    // report can rely on it. The open archive is let go when the game ends.
    if (IsSet(L"STANDIN_OPEN_ARCHIVE")) {
        HANDLE open = CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        report += open != INVALID_HANDLE_VALUE ? "open=yes\n" : "open=failed\n";
    }
    if (IsSet(L"STANDIN_HOLD_ARCHIVE_MS")) {
        DWORD helper = HoldArchive(archive, EnvNumber(L"STANDIN_HOLD_ARCHIVE_MS", 0));
        report += helper ? "holder=" + std::to_string(helper) + "\n" : "holder=failed\n";
    }
    const std::wstring rewrite = EnvPath(L"STANDIN_REWRITE_ARCHIVE");
    if (!rewrite.empty()) report += "rewrite=" + Outcome(RewriteInPlace(archive, rewrite)) + "\n";
    WriteWhole(reportPath, report);

    wchar_t quitName[MAX_PATH];
    DWORD quitLength = GetEnvironmentVariableW(L"STANDIN_RUN_UNTIL", quitName, MAX_PATH);
    if (quitLength > 0 && quitLength < MAX_PATH) {
        const std::wstring quit = folder + quitName;
        while (GetFileAttributesW(quit.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(20);
    } else {
        Sleep(EnvNumber(L"STANDIN_RUN_MS", 0));
    }
    const DWORD exitCode = EnvNumber(L"STANDIN_EXIT_CODE", 0);
    const std::wstring update = EnvPath(L"STANDIN_UPDATE_AT_END");
    if (!update.empty()) {
        report += "update=" +
                  Outcome(MoveFileExW(update.c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING)) +
                  "\n";
    }
    WriteWhole(reportPath, report + "ended\n");
    ExitProcess(exitCode);
}
