// The test bundle's runner: run-tests.cmd starts it in the unpacked bundle.
// It clears the download mark from the bundle's files, runs the unit, shell
// and end-to-end test programs against the bundle's ModLauncher.exe in a
// work folder beside them (a substituted drive for the drive-root tests),
// and writes one report that a release can be published with: the commit,
// the tested program's SHA-256 against the release's sums, the date, the
// system, the account, the conditions that make tests skip (a crash
// debugger, no second drive), each test folder's file system, each test's
// result with every failure's whole message, and every skip with its
// reason. Its exit code is 0 exactly when nothing failed. Started in a
// console window of its own (a double click in Explorer), it waits for a
// key before that window closes.
//
//   RunTests.exe            every test (for Windows, before a release)
//   RunTests.exe --smoke    one test of each program, the tests of the
//                           last-resort box and of the file system's
//                           behaviour, for CI under Wine
//
// With MODLAUNCHER_BUNDLE_FAIL set, the end-to-end tests are told that the
// stand-in game is the release, so the release test fails: the check that
// a failure reaches the report and the exit code.
#include <windows.h>
// After windows.h, which they need.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bundle_commit.h"
#include "platform/unique_handle.h"
#include "platform/utf8.h"
#include "tests/bundle/crash_debugger.h"
#include "tests/bundle/wine_version.h"

namespace {

// ---- Text ----

std::wstring Wide(const std::string& utf8) {
    const std::u16string text = FromUtf8(utf8);
    return std::wstring(text.begin(), text.end());
}

// What the report says goes to standard output and to the report file.
class Report {
public:
    explicit Report(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}

    void Line(const std::wstring& text = L"") {
        const std::string bytes = Utf8(text) + "\r\n";
        Write(GetStdHandle(STD_OUTPUT_HANDLE), bytes);
        Write(file_.get(), bytes);
    }
    bool Written() const { return static_cast<bool>(file_); }

private:
    static void Write(HANDLE to, const std::string& bytes) {
        DWORD written = 0;
        if (to && to != INVALID_HANDLE_VALUE)
            WriteFile(to, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    UniqueHandle file_;
};

// Progress, on standard output only.
void Say(const std::wstring& text) {
    const std::string bytes = Utf8(text) + "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

// ---- The system and the folders ----

std::wstring OwnFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L'\\'));
}

// A value of the key that names the running Windows, in the system's own
// view of the registry; empty when absent.
std::wstring CurrentVersionValue(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return L"";
    wchar_t text[256] = L"";
    DWORD type = 0;
    DWORD size = sizeof text - sizeof(wchar_t);
    const bool read = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text),
                                       &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!read) return L"";
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, text, sizeof number);
        return std::to_wstring(number);
    }
    return type == REG_SZ ? std::wstring(text, wcsnlen(text, size / sizeof(wchar_t))) : L"";
}

// Windows by its kernel's own version (GetVersionEx answers what the
// program's manifest claims to know) and its kind, workstation or server:
// "Windows 11 Professional, a workstation, build 10.0.22631.4602"; "Wine
// 8.0, not Windows" under Wine, with what it answers.
std::wstring SystemName() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto get = reinterpret_cast<GetVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get || get(&info) != 0) return L"Windows of an unknown version";
    const bool workstation = info.wProductType == VER_NT_WORKSTATION;
    const DWORD build = info.dwBuildNumber;
    std::wstring number = std::to_wstring(info.dwMajorVersion) + L"." +
                          std::to_wstring(info.dwMinorVersion) + L"." + std::to_wstring(build);
    if (const std::wstring revision = CurrentVersionValue(L"UBR"); !revision.empty())
        number += L"." + revision;
    const std::wstring kind = workstation ? L"a workstation" : L"a server";
    if (const std::optional<std::string> wine = WineVersion())
        return L"Wine " + Wide(*wine) + L", not Windows (it answers as " + kind + L", build " +
               number + L")";
    std::wstring name = L"Windows";
    if (info.dwMajorVersion == 10 && workstation) {
        name = build >= 22000 ? L"Windows 11" : L"Windows 10";
    } else if (info.dwMajorVersion == 10) {
        // The servers by the build each was released with.
        const std::pair<DWORD, const wchar_t*> kServers[] = {{14393, L"Windows Server 2016"},
                                                             {17763, L"Windows Server 2019"},
                                                             {20348, L"Windows Server 2022"},
                                                             {26100, L"Windows Server 2025"}};
        name = L"Windows Server";
        for (const auto& [released, server] : kServers)
            if (build == released) name = server;
    }
    const std::wstring edition = CurrentVersionValue(L"EditionID");
    return name + (edition.empty() ? L"" : L" " + edition) + L", " + kind + L", build " + number;
}

// Whose rights the tests run with: an administrator's account or not, and
// whether its administrator's rights are in force (elevated).
std::wstring AccountName() {
    wchar_t user[256] = L"";
    DWORD length = 256;
    const std::wstring name = GetUserNameW(user, &length) ? user : L"an account of unknown name";
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    BOOL member = FALSE;
    if (AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        CheckTokenMembership(nullptr, administrators, &member);
        FreeSid(administrators);
    }
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenElevationType, &elevation, sizeof elevation, &size);
        CloseHandle(token);
    }
    std::wstring rights = L"not an administrator";
    if (member)
        rights = L"an administrator, with its rights in force (elevated, or no UAC)";
    else if (elevation == TokenElevationTypeLimited)
        rights = L"an administrator's account, without its rights (not elevated)";
    return name + L", " + rights + (WineVersion() ? L", as Wine reports it" : L"");
}

// The file system of a folder's volume, as the system reports it: under
// Wine that is Wine's guess from the drive's settings, not the Linux file
// system underneath.
std::wstring FileSystemOf(const std::wstring& folder) {
    wchar_t volume[MAX_PATH * 4];
    wchar_t name[MAX_PATH + 1] = L"";
    if (!GetVolumePathNameW(folder.c_str(), volume, MAX_PATH * 4) ||
        !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return L"an unknown file system (error " + std::to_wstring(GetLastError()) + L")";
    return std::wstring(name) + (WineVersion() ? L", as Wine reports it (its guess, not the Linux "
                                                 L"file system underneath)"
                                               : L", as Windows reports it");
}

// The file's SHA-256 in lowercase hex, as sha256sum writes it; empty when
// the file cannot be read or the system cannot hash.
std::wstring Sha256Of(const std::wstring& path) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return L"";
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::wstring hex;
    if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        std::vector<unsigned char> buffer(1 << 16);
        DWORD got = 0;
        bool read = static_cast<bool>(file);
        while (read &&
               (read = ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                                nullptr)) &&
               got > 0)
            BCryptHashData(hash, buffer.data(), got, 0);
        unsigned char digest[32];
        if (read && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0))) {
            for (const unsigned char byte : digest) {
                wchar_t two[3];
                swprintf(two, 3, L"%02x", byte);
                hex += two;
            }
        }
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return hex;
}

// The hash that a sums file (sha256sum's form) gives a name; empty when it
// names none.
std::wstring SumFor(const std::string& sums, const std::string& name) {
    std::size_t at = 0;
    while (at < sums.size()) {
        std::size_t end = sums.find('\n', at);
        if (end == std::string::npos) end = sums.size();
        std::string line = sums.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || space + 2 > line.size()) continue;
        // "<hash>  <name>", or "<hash> *<name>" for a binary file.
        if (line.substr(space + 2) == name) return Wide(line.substr(0, space));
    }
    return L"";
}

// The date and time now, in UTC and on the machine's clock.
std::wstring Now() {
    SYSTEMTIME utc, local;
    GetSystemTime(&utc);
    GetLocalTime(&local);
    wchar_t text[96];
    swprintf(text, 96, L"%04u-%02u-%02u %02u:%02u:%02u UTC (%04u-%02u-%02u %02u:%02u local time)",
             utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond, local.wYear,
             local.wMonth, local.wDay, local.wHour, local.wMinute);
    return text;
}

// Removes the download mark (the Zone.Identifier stream) that a browser or
// an unpacker leaves on each file, so that the system does not hold the
// test programs for a question; says how many files had one.
int ClearDownloadMarks(const std::wstring& folder) {
    int cleared = 0;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring stream = folder + L"\\" + found.cFileName + L":Zone.Identifier";
        if (DeleteFileW(stream.c_str())) ++cleared;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return cleared;
}

// The path in the form that reaches past 260 characters: a failed test of
// long paths keeps a tree that goes past it.
std::wstring LongPathForm(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

// Removes a folder and everything in it, read-only files included; the
// folder is given in the long form.
void RemoveLongTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            // A junction is removed as the empty folder it is, never followed.
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveLongTree(path);
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(path.c_str());
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void RemoveTree(const std::wstring& folder) { RemoveLongTree(LongPathForm(folder)); }

// The entries of a folder, "." and ".." left out.
std::vector<std::wstring> EntriesOf(const std::wstring& folder) {
    std::vector<std::wstring> entries;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") entries.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

// Whether this process has a console window of its own, made for it and the
// cmd.exe that run-tests.cmd runs in, as a double click in Explorer gives:
// that window closes when they end. Not so in a command prompt (the prompt
// shares the console), under "cmd /c" from another program, in CI, or with
// no console input.
bool InAWindowOfItsOwn() {
    if (GetEnvironmentVariableW(L"CI", nullptr, 0)) return false;
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return false;
    DWORD processes[4];
    const DWORD count = GetConsoleProcessList(processes, 4);
    return count > 0 && count <= 2;
}

// Waits for a key, so that the report can be read before the window closes.
void WaitForAKey() {
    Say(L"");
    Say(L"Press a key to close this window.");
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
}

// A drive letter that shows a folder, for as long as the object lives, as
// subst makes one: the tests of a game in a drive's root need one. A letter
// counts only once a file made in the folder is seen through it: Wine
// accepts the definition but its file calls do not see the drive.
class SubstitutedDrive {
public:
    explicit SubstitutedDrive(const std::wstring& folder) : folder_(folder) {
        const std::wstring marker = L"substituted-drive-check";
        UniqueHandle made(CreateFileW((folder + L"\\" + marker).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        const DWORD used = GetLogicalDrives();
        for (wchar_t letter = L'R'; letter > L'D' && drive_.empty(); --letter) {
            if (used & (1u << (letter - L'A'))) continue;
            const std::wstring drive{letter, L':'};
            if (!DefineDosDeviceW(0, drive.c_str(), folder.c_str())) continue;
            if (GetFileAttributesW((drive + L"\\" + marker).c_str()) != INVALID_FILE_ATTRIBUTES) {
                drive_ = drive;
                break;
            }
            Remove(drive);
            break;  // the system's drives do not follow a definition at all
        }
    }
    ~SubstitutedDrive() {
        if (!drive_.empty()) Remove(drive_);
    }
    SubstitutedDrive(const SubstitutedDrive&) = delete;
    SubstitutedDrive& operator=(const SubstitutedDrive&) = delete;
    // Empty when no letter could be given.
    const std::wstring& Drive() const { return drive_; }

private:
    void Remove(const std::wstring& drive) const {
        DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, drive.c_str(),
                         folder_.c_str());
    }
    std::wstring folder_;
    std::wstring drive_;
};

// ---- The test programs ----

// What the release test found running, which it records for the report.
const wchar_t* const kLauncherUnderTest = L"launcher-under-test.txt";

struct Program {
    const wchar_t* file;
    const wchar_t* what;
    // The smoke run's filter; the first test the program lists when asked.
    const wchar_t* smokeFilter;
    bool smokeFirstListed;
};

const Program kPrograms[] = {
    {L"unit_tests.exe", L"the logic over a fake platform, with the enumerations", L"", true},
    // The file system's behaviour that the archive rule relies on, each test
    // named by its assumption.
    {L"shell_tests.exe", L"the application window on a real message queue", L"WindowsFileSystem*",
     true},
    // The release test runs the real launcher and game; the Windows-only
    // rows say why they skip under Wine; the last-resort boxes are what a
    // crash debugger takes.
    {L"e2e_tests.exe", L"the release's ModLauncher.exe in real folder trees",
     L"ReleaseUnderTest.*:WindowsOnly/"
     L"*:ReportTest.NoStandardOutputShowsTheFailureInTheLastResortBox:"
     L"ReportTest.StartupFailureShowsErrorBoxAndChangesNothing",
     false},
};

// The project's tests that the bundle does not hold, and why.
const wchar_t* const kNotInTheBundle[][2] = {
    {L"e2e_two_prefixes", L"two Wine prefixes, which mean nothing on Windows"},
    {L"enumerations on a native 64-bit build",
     L"the qemu route of a machine that runs no 32-bit code; here the 32-bit unit_tests.exe "
     L"runs them"},
};

// Runs a program to its end with its output in a file; its exit code, or
// nothing when it could not be started.
std::optional<DWORD> RunProgram(const std::wstring& exe, std::wstring commandLine,
                                const std::wstring& folder, const std::wstring& outputFile) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle output(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = startup.hStdError = output.get();
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.c_str(), &startup, &info))
        return std::nullopt;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

// The first test that a program's --gtest_list_tests names, as Suite.Name.
std::wstring FirstListedTest(const std::string& listing) {
    std::string suite;
    std::size_t at = 0;
    while (at < listing.size()) {
        std::size_t end = listing.find('\n', at);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(at, end - at);
        at = end + 1;
        line = line.substr(0, line.find_first_of("#\r"));
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (line.empty()) continue;
        if (line[0] != ' ') {
            suite = line;  // "Suite." with its full stop
        } else if (!suite.empty()) {
            return Wide(suite + line.substr(line.find_first_not_of(' ')));
        }
    }
    return L"";
}

// ---- GoogleTest's XML report ----

// "&amp;" and the like back to their characters.
std::string Unescaped(const std::string& text) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [entity, character] : kEntities) {
            const std::size_t length = std::char_traits<char>::length(entity);
            if (text.compare(i, length, entity) == 0) {
                out += character;
                i += length;
                replaced = true;
                break;
            }
        }
        if (replaced) continue;
        if (text.compare(i, 3, "&#x") == 0 && text.find(';', i) != std::string::npos) {
            const std::size_t end = text.find(';', i);
            out += static_cast<char>(std::stoul(text.substr(i + 3, end - i - 3), nullptr, 16));
            i = end + 1;
            continue;
        }
        out += text[i++];
    }
    return out;
}

// The value of attribute name in the tag text; empty when absent.
std::string Attribute(const std::string& tag, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string::npos) return "";
    const std::size_t from = at + key.size();
    return Unescaped(tag.substr(from, tag.find('"', from) - from));
}

enum class Outcome { Passed, Failed, Skipped };

struct TestResult {
    std::wstring name;  // Suite.Name, with a parameter's name where there is one
    Outcome outcome;
    // Each failure's whole message, or the skip's reason: lines, without
    // the source file and line that GoogleTest puts first.
    std::vector<std::wstring> detail;
    std::wstring seconds;
};

// The lines of a text, without empty ones at its end.
std::vector<std::wstring> Lines(const std::string& text) {
    std::vector<std::wstring> lines;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(Wide(line));
        at = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// A message of GoogleTest's without its first line when that line is only
// the source file and line ("./tests/e2e/report_test.cpp:242"), which the
// bundle does not hold, nor the "Failed" a failure added by hand begins with.
std::vector<std::wstring> WithoutSourceLine(const std::string& message) {
    std::vector<std::wstring> lines = Lines(message);
    if (!lines.empty()) {
        const std::wstring& first = lines.front();
        const std::size_t colon = first.rfind(L':');
        if (colon != std::wstring::npos && first.find(L".cpp") != std::wstring::npos &&
            first.find_first_not_of(L"0123456789", colon + 1) == std::wstring::npos)
            lines.erase(lines.begin());
    }
    // ADD_FAILURE's own first word; the test's message follows it.
    if (lines.size() > 1 && lines.front() == L"Failed") lines.erase(lines.begin());
    return lines;
}

// Each <testcase> of the report: passed, failed (with a <failure>) or
// skipped (result="skipped", with the reason GTEST_SKIP gave).
std::vector<TestResult> ParseResults(const std::string& xml) {
    std::vector<TestResult> results;
    for (std::size_t at = xml.find("<testcase "); at != std::string::npos;
         at = xml.find("<testcase ", at + 1)) {
        const std::size_t tagEnd = xml.find('>', at);
        const std::string tag = xml.substr(at, tagEnd - at);
        const bool empty = tag.back() == '/';
        const std::size_t bodyEnd = empty ? tagEnd : xml.find("</testcase>", tagEnd);
        // A test that passed is one empty tag, with no body at all.
        const std::string body = empty ? "" : xml.substr(tagEnd + 1, bodyEnd - tagEnd - 1);
        if (Attribute(tag, "status") == "notrun") continue;
        TestResult result{Wide(Attribute(tag, "classname") + "." + Attribute(tag, "name")),
                          Outcome::Passed,
                          {},
                          Wide(Attribute(tag, "time"))};
        for (std::size_t f = body.find("<failure "); f != std::string::npos;
             f = body.find("<failure ", f + 1)) {
            result.outcome = Outcome::Failed;
            for (const std::wstring& line :
                 WithoutSourceLine(Attribute(body.substr(f, body.find('>', f) - f), "message")))
                result.detail.push_back(line);
        }
        if (result.outcome != Outcome::Failed && Attribute(tag, "result") == "skipped") {
            result.outcome = Outcome::Skipped;
            const std::size_t s = body.find("<skipped ");
            const std::string message =
                s == std::string::npos
                    ? ""
                    : Attribute(body.substr(s, body.find('>', s) - s), "message");
            std::wstring reason;
            for (const std::wstring& line : WithoutSourceLine(message))
                reason += (reason.empty() ? L"" : L" ") + line;
            result.detail.push_back(reason.empty() ? L"(no reason given)" : reason);
        }
        results.push_back(result);
    }
    return results;
}

struct Totals {
    int passed = 0, failed = 0, skipped = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    const bool pauseAtTheEnd = InAWindowOfItsOwn();
    const bool smoke = argc > 1 && std::wstring(argv[1]) == L"--smoke";
    if (argc > 2 || (argc == 2 && !smoke)) {
        Say(L"usage: run-tests.cmd [--smoke]");
        if (pauseAtTheEnd) WaitForAKey();
        return 2;
    }
    const bool deliberateFailure = GetEnvironmentVariableW(L"MODLAUNCHER_BUNDLE_FAIL", nullptr, 0);
    const std::wstring folder = OwnFolder();
    const int marksCleared = ClearDownloadMarks(folder);
    const std::wstring started = Now();

    // A work folder of its own beside the programs, on the same file system.
    const std::wstring work = folder + L"\\work";
    RemoveTree(work);
    const std::wstring e2eFolder = work + L"\\e2e", temp = work + L"\\temp";
    for (const std::wstring& made : {work, e2eFolder, work + L"\\drive", temp})
        CreateDirectoryW(made.c_str(), nullptr);
    const SubstitutedDrive drive(work + L"\\drive");

    const std::wstring release = folder + L"\\ModLauncher.exe";
    const std::wstring standin = folder + L"\\BF2.exe";
    const std::pair<const wchar_t*, std::wstring> environment[] = {
        {L"MODLAUNCHER_EXE", release},
        {L"MODLAUNCHER_RELEASE_EXE", deliberateFailure ? standin : release},
        {L"MODLAUNCHER_FAULTS_EXE", folder + L"\\ModLauncherFaults.exe"},
        {L"STANDIN_GAME_EXE", standin},
        {L"E2E_WORK_DIR", e2eFolder},
        {L"E2E_DRIVE_R", drive.Drive().empty() ? L"" : work + L"\\drive"},
        {L"E2E_DRIVE", drive.Drive()},
        // The shell tests' files go to the temporary folder.
        {L"TMP", temp},
        {L"TEMP", temp},
    };
    for (const auto& [name, value] : environment)
        SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());

    std::vector<std::pair<std::wstring, std::vector<TestResult>>> ran;
    std::vector<std::wstring> programFailures;
    for (const Program& program : kPrograms) {
        const std::wstring exe = folder + L"\\" + program.file;
        const std::wstring base = work + L"\\" + program.file;
        std::wstring filter = program.smokeFilter;
        if (smoke && program.smokeFirstListed) {
            RunProgram(exe, L"\"" + exe + L"\" --gtest_list_tests", work, base + L".list");
            const std::wstring first = FirstListedTest(ReadFileBytes(base + L".list").value_or(""));
            filter = filter.empty() ? first : first + L":" + filter;
        }
        std::wstring commandLine = L"\"" + exe + L"\" --gtest_output=xml:" + base + L".xml";
        if (smoke) commandLine += L" --gtest_filter=" + filter;
        Say(std::wstring(L"running ") + program.file + (smoke ? L" (" + filter + L")" : L"") +
            L", output in " + base + L".log");
        const std::optional<DWORD> code = RunProgram(exe, commandLine, work, base + L".log");
        const std::optional<std::string> xml = ReadFileBytes(base + L".xml");
        std::vector<TestResult> results = xml ? ParseResults(*xml) : std::vector<TestResult>{};
        const bool failedInside =
            std::any_of(results.begin(), results.end(),
                        [](const TestResult& r) { return r.outcome == Outcome::Failed; });
        if (!code) {
            programFailures.push_back(std::wstring(program.file) +
                                      L" could not be started: error " +
                                      std::to_wstring(GetLastError()));
        } else if (!xml || results.empty()) {
            programFailures.push_back(std::wstring(program.file) + L" ended with " +
                                      std::to_wstring(*code) + L" and reported no test (see " +
                                      base + L".log)");
        } else if (*code != 0 && !failedInside) {
            programFailures.push_back(std::wstring(program.file) + L" ended with " +
                                      std::to_wstring(*code) + L" though no test failed (see " +
                                      base + L".log)");
        }
        // A test that passed removes what it made; only a failed one keeps its
        // folder, for the maintainer to look at.
        for (const std::wstring& left : {e2eFolder, temp}) {
            if (failedInside) break;
            for (const std::wstring& entry : EntriesOf(left))
                if (entry != kLauncherUnderTest)
                    programFailures.push_back(std::wstring(program.file) + L" passed but left " +
                                              left + L"\\" + entry + L" behind");
        }
        ran.emplace_back(program.file, std::move(results));
    }

    // What the report is of: the commit, the program's bytes, the machine.
    const std::wstring hash = Sha256Of(release);
    const std::wstring releaseHash =
        SumFor(ReadFileBytes(folder + L"\\release-SHA256SUMS").value_or(""), "ModLauncher.exe");
    const bool isTheRelease = !hash.empty() && hash == releaseHash;
    if (!isTheRelease)
        programFailures.push_back(L"ModLauncher.exe is not the release's: its SHA-256 is " +
                                  (hash.empty() ? L"unknown (it could not be read)" : hash) +
                                  L", release-SHA256SUMS says " +
                                  (releaseHash.empty() ? L"nothing of it" : releaseHash));
    const CrashDebugger debugger = RegisteredCrashDebugger();

    Report report(folder + L"\\report.txt");
    Totals totals;
    report.Line(L"ModLauncher " + Wide(MODLAUNCHER_BUNDLE_VERSION) + L" test bundle report" +
                std::wstring(smoke ? L" (smoke run: one test of each program, and the tests of the "
                                     L"last-resort box and the file system)"
                                   : L""));
    report.Line(L"Commit:      " + Wide(MODLAUNCHER_BUNDLE_COMMIT));
    report.Line(L"Tested:      " + release);
    report.Line(L"SHA-256:     " + (hash.empty() ? L"unknown" : hash) +
                (isTheRelease ? L", the release's (as release-SHA256SUMS says)"
                              : L", NOT the release's (see below)"));
    if (const std::optional<std::string> ran =
            ReadFileBytes(e2eFolder + L"\\" + kLauncherUnderTest))
        report.Line(L"Ran:         " + Wide(ran->substr(0, ran->find_first_of("\r\n"))) +
                    L" (as the release test saw it)");
    report.Line(L"Started:     " + started);
    report.Line(L"Ended:       " + Now());
    report.Line(L"System:      " + SystemName());
    report.Line(L"Account:     " + AccountName());
    report.Line(L"Crash debugger: " +
                (debugger.command.empty()
                     ? std::wstring(L"none registered")
                     : debugger.key + L": \"" + debugger.command + L"\"" +
                           (debugger.automatic ? L", starts without a question"
                                               : L", starts after a question") +
                           (debugger.startable ? L"; the tests of the last-resort box skip"
                                               : L", but its program is not there")));
    report.Line(L"Test folders, and their file systems:");
    report.Line(L"  " + work + L" (the programs' working folder): " + FileSystemOf(work));
    report.Line(L"  " + e2eFolder + L" (the end-to-end tests' game folders): " +
                FileSystemOf(e2eFolder));
    report.Line(L"  " + temp + L" (the shell tests' files): " + FileSystemOf(temp));
    report.Line(L"  second drive: " +
                (drive.Drive().empty()
                     ? std::wstring(L"none could be given; the tests of a game in a drive's root "
                                    L"skip")
                     : drive.Drive() + L"\\, substituted for " + work + L"\\drive: " +
                           FileSystemOf(drive.Drive() + L"\\")));
    report.Line(L"Download marks cleared: " + std::to_wstring(marksCleared) + L" file(s)");
    if (deliberateFailure)
        report.Line(
            L"MODLAUNCHER_BUNDLE_FAIL is set: the release test is told BF2.exe is the "
            L"release, and must fail");
    std::vector<std::wstring> skips;
    for (const auto& [file, results] : ran) {
        report.Line();
        report.Line(file + L":");
        for (const TestResult& r : results) {
            const wchar_t* word = r.outcome == Outcome::Passed   ? L"passed "
                                  : r.outcome == Outcome::Failed ? L"FAILED "
                                                                 : L"skipped";
            (r.outcome == Outcome::Passed   ? totals.passed
             : r.outcome == Outcome::Failed ? totals.failed
                                            : totals.skipped)++;
            report.Line(std::wstring(L"  ") + word + L" " + r.name + L" (" + r.seconds + L" s)" +
                        (r.outcome == Outcome::Skipped ? L": " + r.detail.front() : L""));
            if (r.outcome == Outcome::Failed)
                for (const std::wstring& line : r.detail) report.Line(L"      " + line);
            if (r.outcome == Outcome::Skipped)
                skips.push_back(file + L" " + r.name + L": " + r.detail.front());
        }
    }
    report.Line();
    report.Line(L"Not in the bundle:");
    for (const auto& [name, why] : kNotInTheBundle)
        report.Line(std::wstring(L"  ") + name + L": " + why);
    report.Line();
    report.Line(L"Skipped, and why (" + std::to_wstring(skips.size()) + L"):");
    if (skips.empty()) report.Line(L"  nothing");
    for (const std::wstring& skip : skips) report.Line(L"  " + skip);
    for (const std::wstring& failure : programFailures) report.Line(L"FAILED " + failure);
    const int failed = totals.failed + static_cast<int>(programFailures.size());
    report.Line();
    report.Line(std::to_wstring(totals.passed) + L" passed, " + std::to_wstring(failed) +
                L" failed, " + std::to_wstring(totals.skipped) + L" skipped: " +
                (failed == 0 ? L"nothing failed" : L"FAILED") + L"; this report is " + folder +
                L"\\report.txt");
    if (!report.Written()) Say(L"the report file could not be written in " + folder);
    if (pauseAtTheEnd) WaitForAKey();
    return failed == 0 && report.Written() ? 0 : 1;
}
