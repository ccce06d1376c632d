// The test bundle's runner: run-tests.cmd starts it in the unpacked bundle.
// It clears the download mark from the bundle's files, runs the unit, shell
// and end-to-end test programs against the bundle's ModLauncher.exe in a
// work folder beside them (a substituted drive for the drive-root tests),
// and writes one report: the system, the work folder's file system, each
// test's result and every skip with its reason. Its exit code is 0 exactly
// when nothing failed.
//
//   RunTests.exe            every test (for Windows, before a release)
//   RunTests.exe --smoke    one test of each program, for CI under Wine
//
// With MODLAUNCHER_BUNDLE_FAIL set, the end-to-end tests are told that the
// stand-in game is the release, so the release test fails: the check that
// a failure reaches the report and the exit code.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/utf8.h"
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

// "Windows 11 (10.0.22631)", from the kernel's own version (GetVersionEx
// answers what the program's manifest claims to know); "Wine 8.0, not
// Windows" under Wine, whatever Windows version it reports.
std::wstring SystemName() {
    if (const std::optional<std::string> wine = WineVersion())
        return L"Wine " + Wide(*wine) + L", not Windows";
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto get = reinterpret_cast<GetVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get || get(&info) != 0) return L"Windows of an unknown version";
    const std::wstring number = std::to_wstring(info.dwMajorVersion) + L"." +
                                std::to_wstring(info.dwMinorVersion) + L"." +
                                std::to_wstring(info.dwBuildNumber);
    std::wstring name = L"Windows";
    if (info.dwMajorVersion == 10)
        name = info.dwBuildNumber >= 22000 ? L"Windows 11" : L"Windows 10";
    return name + L" (" + number + L")";
}

std::wstring FileSystemOf(const std::wstring& folder) {
    wchar_t volume[MAX_PATH * 4];
    wchar_t name[MAX_PATH + 1] = L"";
    if (!GetVolumePathNameW(folder.c_str(), volume, MAX_PATH * 4) ||
        !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return L"an unknown file system (error " + std::to_wstring(GetLastError()) + L")";
    return name;
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

// Removes a folder and everything in it, read-only files included.
void RemoveTree(const std::wstring& folder) {
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
                RemoveTree(path);
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(path.c_str());
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
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

struct Program {
    const wchar_t* file;
    const wchar_t* what;
    // The smoke run's filter; empty: the first test the program lists.
    const wchar_t* smokeFilter;
};

const Program kPrograms[] = {
    {L"unit_tests.exe", L"the logic over a fake platform, with the enumerations", L""},
    {L"shell_tests.exe", L"the application window on a real message queue", L""},
    // The release test runs the real launcher and game; the Windows-only
    // rows say why they skip under Wine.
    {L"e2e_tests.exe", L"the release's ModLauncher.exe in real folder trees",
     L"ReleaseUnderTest.*:WindowsOnly/*"},
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
    std::wstring detail;  // the first line of each failure, or the skip's reason
    std::wstring seconds;
};

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
                          Outcome::Passed, L"", Wide(Attribute(tag, "time"))};
        for (std::size_t f = body.find("<failure "); f != std::string::npos;
             f = body.find("<failure ", f + 1)) {
            std::string message = Attribute(body.substr(f, body.find('>', f) - f), "message");
            // The file and line, what was checked and what it was: enough to
            // name the fault; the log holds the rest.
            std::size_t cut = message.find('\n');
            for (int more = 0; more < 2 && cut != std::string::npos; ++more)
                cut = message.find('\n', cut + 1);
            result.outcome = Outcome::Failed;
            result.detail += (result.detail.empty() ? L"" : L" | ") + Wide(message.substr(0, cut));
        }
        if (result.outcome != Outcome::Failed && Attribute(tag, "result") == "skipped") {
            result.outcome = Outcome::Skipped;
            const std::size_t s = body.find("<skipped ");
            // The reason, without the file and line GTEST_SKIP puts before it.
            const std::string message =
                s == std::string::npos
                    ? ""
                    : Attribute(body.substr(s, body.find('>', s) - s), "message");
            const std::size_t reason = message.find('\n');
            result.detail =
                message.empty()
                    ? L"(no reason given)"
                    : Wide(message.substr(reason == std::string::npos ? 0 : reason + 1));
        }
        std::replace(result.detail.begin(), result.detail.end(), L'\n', L' ');
        std::replace(result.detail.begin(), result.detail.end(), L'\r', L' ');
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
    const bool smoke = argc > 1 && std::wstring(argv[1]) == L"--smoke";
    if (argc > 2 || (argc == 2 && !smoke)) {
        Say(L"usage: run-tests.cmd [--smoke]");
        return 2;
    }
    const bool deliberateFailure = GetEnvironmentVariableW(L"MODLAUNCHER_BUNDLE_FAIL", nullptr, 0);
    const std::wstring folder = OwnFolder();
    const int marksCleared = ClearDownloadMarks(folder);

    // A work folder of its own beside the programs, on the same file system.
    const std::wstring work = folder + L"\\work";
    RemoveTree(work);
    for (const std::wstring& made : {work, work + L"\\e2e", work + L"\\drive", work + L"\\temp"})
        CreateDirectoryW(made.c_str(), nullptr);
    const SubstitutedDrive drive(work + L"\\drive");

    const std::wstring release = folder + L"\\ModLauncher.exe";
    const std::wstring standin = folder + L"\\BF2.exe";
    const std::pair<const wchar_t*, std::wstring> environment[] = {
        {L"MODLAUNCHER_EXE", release},
        {L"MODLAUNCHER_RELEASE_EXE", deliberateFailure ? standin : release},
        {L"MODLAUNCHER_FAULTS_EXE", folder + L"\\ModLauncherFaults.exe"},
        {L"STANDIN_GAME_EXE", standin},
        {L"E2E_WORK_DIR", work + L"\\e2e"},
        {L"E2E_DRIVE_R", drive.Drive().empty() ? L"" : work + L"\\drive"},
        {L"E2E_DRIVE", drive.Drive()},
        // The shell tests' files go to the temporary folder.
        {L"TMP", work + L"\\temp"},
        {L"TEMP", work + L"\\temp"},
    };
    for (const auto& [name, value] : environment)
        SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());

    std::vector<std::pair<std::wstring, std::vector<TestResult>>> ran;
    std::vector<std::wstring> programFailures;
    for (const Program& program : kPrograms) {
        const std::wstring exe = folder + L"\\" + program.file;
        const std::wstring base = work + L"\\" + program.file;
        std::wstring filter = program.smokeFilter;
        if (smoke && filter.empty()) {
            RunProgram(exe, L"\"" + exe + L"\" --gtest_list_tests", work, base + L".list");
            filter = FirstListedTest(ReadFileBytes(base + L".list").value_or(""));
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
        ran.emplace_back(program.file, std::move(results));
    }

    Report report(folder + L"\\report.txt");
    Totals totals;
    report.Line(L"ModLauncher " + Wide(MODLAUNCHER_BUNDLE_VERSION) + L" test bundle report" +
                std::wstring(smoke ? L" (smoke run: one test of each program)" : L""));
    report.Line(L"System:      " + SystemName());
    report.Line(L"Work folder: " + work + L", on " + FileSystemOf(work));
    report.Line(L"Second drive: " + (drive.Drive().empty() ? std::wstring(L"none could be given")
                                                           : drive.Drive() + L" (substituted)"));
    report.Line(L"Download marks cleared: " + std::to_wstring(marksCleared) + L" file(s)");
    if (deliberateFailure)
        report.Line(
            L"MODLAUNCHER_BUNDLE_FAIL is set: the release test is told BF2.exe is the "
            L"release, and must fail");
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
                        (r.detail.empty() ? L"" : L": " + r.detail));
        }
    }
    report.Line();
    report.Line(L"Not in the bundle:");
    for (const auto& [name, why] : kNotInTheBundle)
        report.Line(std::wstring(L"  ") + name + L": " + why);
    for (const std::wstring& failure : programFailures) report.Line(L"FAILED " + failure);
    const int failed = totals.failed + static_cast<int>(programFailures.size());
    report.Line();
    report.Line(std::to_wstring(totals.passed) + L" passed, " + std::to_wstring(failed) +
                L" failed, " + std::to_wstring(totals.skipped) + L" skipped: " +
                (failed == 0 ? L"nothing failed" : L"FAILED") + L"; this report is " + folder +
                L"\\report.txt");
    if (!report.Written()) Say(L"the report file could not be written in " + folder);
    return failed == 0 && report.Written() ? 0 : 1;
}
