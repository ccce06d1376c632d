#include "harness.h"
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/utf8.h"
#include "tests/bundle/crash_debugger.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

constexpr wchar_t kReportName[] = L"standin-report.txt";
constexpr DWORD kPollMs = 20;

std::string RequiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) {
        ADD_FAILURE() << name << " is not set; run the tests through ctest";
        return {};
    }
    return value;
}

// Polls until ready() holds or timeoutMs has passed; says whether it held.
template <typename Ready>
bool PollUntil(DWORD timeoutMs, Ready ready) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (ready()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// The inherited environment without STANDIN_* and without the names set
// again, then those, as a block for CREATE_UNICODE_ENVIRONMENT.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& env) {
    std::vector<std::wstring> entries;
    wchar_t* inherited = GetEnvironmentStringsW();
    for (const wchar_t* p = inherited; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        std::wstring name = entry.substr(0, entry.find(L'=', 1));
        bool replaced = std::any_of(env.begin(), env.end(),
                                    [&](const auto& e) { return EqualsNoCase(e.first, name); });
        if (!replaced && !EqualsNoCase(name.substr(0, 8), L"STANDIN_")) entries.push_back(entry);
    }
    FreeEnvironmentStringsW(inherited);
    for (const auto& [name, value] : env) entries.push_back(name + L"=" + value);
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    });
    std::wstring block;
    for (const auto& entry : entries) block += entry + L'\0';
    return block + L'\0';
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

// Up to 24 bytes from at, quoted, with what cannot be printed as \xNN and a
// mark where the bytes go on.
std::string Excerpt(const std::string& bytes, std::size_t at) {
    constexpr std::size_t kLength = 24;
    static const char kHex[] = "0123456789abcdef";
    std::string out = at > 0 ? "..." : "";
    out += '"';
    for (std::size_t i = at; i < bytes.size() && i < at + kLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    out += '"';
    if (bytes.size() > at + kLength) out += "...";
    return out;
}

std::string Sized(const std::string& bytes) {
    return std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte " : " bytes ") +
           Excerpt(bytes, 0);
}

void EndProcessById(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
}

}  // namespace

// ---- Text and paths ----

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

std::string Narrow(const std::wstring& text) { return Utf8(text); }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring WindowsPath(const std::string& configured) {
    const bool windows =
        (configured.size() >= 2 && configured[1] == ':') || configured.rfind("\\\\", 0) == 0;
    std::wstring path = (windows ? L"" : L"Z:") + Wide(configured);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring LauncherExe() { return WindowsPath(RequiredEnv("MODLAUNCHER_EXE")); }
std::wstring FaultsLauncherExe() { return WindowsPath(RequiredEnv("MODLAUNCHER_FAULTS_EXE")); }
std::wstring StandinExe() { return WindowsPath(RequiredEnv("STANDIN_GAME_EXE")); }
std::wstring WorkFolder() { return WindowsPath(RequiredEnv("E2E_WORK_DIR")); }

std::wstring DriveR() {
    const char* configured = std::getenv("E2E_DRIVE");
    std::wstring drive = Wide(configured && *configured ? configured : "R:") + L"\\";
    const std::wstring marker = L"drive-r-check.txt";
    const std::wstring folderSide = WindowsPath(RequiredEnv("E2E_DRIVE_R")) + L"\\" + marker;
    WriteBytes(folderSide, "R");
    if (ReadBytes(drive + marker) != std::optional<std::string>("R"))
        ADD_FAILURE() << "drive " << Narrow(drive)
                      << " does not show E2E_DRIVE_R; was the prefix made by wine-prefix.sh,"
                         " or the drive substituted by the bundle's runner?";
    DeleteFileW(folderSide.c_str());
    return drive;
}

std::string NoSecondDrive() {
    const char* folder = std::getenv("E2E_DRIVE_R");
    if ((folder && *folder) || !WineVersion()) return "";
    return "no second drive was given: Wine's file calls do not see a drive that "
           "DefineDosDevice (subst) makes, and only ctest's prefix has one of its own";
}

// ---- Wine or Windows ----

std::string OnlyOnWindows(const std::string& why) {
    const std::optional<std::string> wine = WineVersion();
    return wine ? "only Windows shows this (Wine " + *wine + "): " + why : "";
}

std::string OnlyUnderWine(const std::string& why) {
    return WineVersion() ? "" : "an expectation of Wine's own, not Windows': " + why;
}

std::string CrashDebugger() {
    const ::CrashDebugger debugger = RegisteredCrashDebugger();
    if (debugger.command.empty()) return "";
    return Narrow(debugger.key) + ": Debugger \"" + Narrow(debugger.command) + "\", " +
           (debugger.automatic ? "started without a question" : "started after a question") +
           (debugger.startable ? "" : ", but its program is not there");
}

std::string WhyCrashDebuggerTakesTheBox() {
    const ::CrashDebugger debugger = RegisteredCrashDebugger();
    if (debugger.command.empty() || !debugger.startable) return "";
    const std::string registered = "a crash debugger is registered (" + CrashDebugger() +
                                   "), which takes the launcher's failure before its last-resort "
                                   "box can appear. To run this test, ";
    if (WineVersion())
        return registered +
               "name a debugger that does not exist in that key, as the project's test prefix "
               "does: wine reg add \"" +
               Narrow(debugger.key) + "\" /v Debugger /d C:\\no-such-debugger.exe /f";
    return registered +
           "run the bundle on a Windows where none is registered, or (as "
           "administrator) rename that key's Debugger value for the run and put it "
           "back afterwards";
}

FileSystem FileSystemOf(const std::wstring& path) {
    wchar_t volume[MAX_PATH * 4];
    wchar_t name[MAX_PATH + 1] = L"";
    DWORD flags = 0;
    if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH * 4) ||
        !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, name, MAX_PATH + 1))
        return {"unknown (error " + std::to_string(GetLastError()) + ")"};
    return {Narrow(name), (flags & FILE_PERSISTENT_ACLS) != 0,
            (flags & FILE_SUPPORTS_REPARSE_POINTS) != 0};
}

// ---- Files ----

std::optional<std::string> ReadBytes(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << Narrow(path);
}

namespace {

// The path in the form that reaches past 260 characters ("\\\\?\\C:\\...",
// "\\\\?\\UNC\\server\\..."), without a backslash at its end: the trees of
// the long-path tests go past it, and a plain path would leave them behind.
// That form takes no "." or "..", so the path is made whole first.
std::wstring LongPathForm(const std::wstring& path) {
    std::wstring full(32768, L'\0');
    full.resize(
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    if (full.empty()) full = path;
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    if (full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Removes everything in a folder given in the long form, read-only files
// included (Windows refuses to delete them), and the folder itself when
// asked. A linked folder is removed as the entry it is, never followed.
void RemoveEntries(const std::wstring& folder, bool andTheFolder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            const DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveEntries(path, true);
            else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(path.c_str());
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (andTheFolder) RemoveDirectoryW(folder.c_str());
}

}  // namespace

void RemoveTree(const std::wstring& folder) { RemoveEntries(LongPathForm(folder), true); }

void CopyOrFail(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        ADD_FAILURE() << "cannot copy " << Narrow(from) << " to " << Narrow(to) << ": error "
                      << GetLastError();
}

void EmptyFolder(const std::wstring& folder) { RemoveEntries(LongPathForm(folder), false); }

bool CanWriteThroughReadOnly(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\read-only probe";
    WriteBytes(probe, "x");
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    const bool writable = UniqueHandle(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
                              .
                              operator bool();
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(probe.c_str());
    return writable;
}

namespace {

// A Linux program of the machine under Wine, by its path on drive Z:.
// Wine gives no handle that waits for a Unix program: the caller waits for
// its effect.
bool StartUnixProgram(const wchar_t* program, std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        ADD_FAILURE() << "cannot run " << Narrow(program) << ": error " << GetLastError();
        return false;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    return true;
}

// The path on the Linux side of a path on drive Z:.
std::optional<std::wstring> UnixPath(const std::wstring& path) {
    if (path.size() < 3 || _wcsnicmp(path.c_str(), L"Z:\\", 3) != 0) {
        ADD_FAILURE() << Narrow(path) << " is not on drive Z:";
        return std::nullopt;
    }
    std::wstring unixPath = path.substr(2);
    std::replace(unixPath.begin(), unixPath.end(), L'\\', L'/');
    return unixPath;
}

}  // namespace

namespace {

// Under Wine: chmod on the Unix side.
bool ChmodFolder(const std::wstring& folder, bool writable) {
    const std::optional<std::wstring> unixPath = UnixPath(folder);
    return unixPath &&
           StartUnixProgram(L"Z:\\bin\\chmod",
                            std::wstring(L"chmod ") + (writable ? L"u+w " : L"a-w ") + *unixPath);
}

// On Windows: the folder's access list before a deny entry was added, by
// folder, as text, to be set back whole.
std::map<std::wstring, std::wstring>& SavedAccessLists() {
    static std::map<std::wstring, std::wstring> saved;
    return saved;
}

struct LocalFreed {
    void operator()(void* memory) const { LocalFree(memory); }
};

bool DenyFolderWrites(const std::wstring& folder) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<void, LocalFreed> descriptor(raw);
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            raw, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return false;
    SavedAccessLists()[folder] = text;
    LocalFree(text);
    // Everyone is refused new entries and the removal of entries; the
    // files already there stay as they are, as under chmod a-w.
    EXPLICIT_ACCESSW deny{};
    deny.grfAccessPermissions = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
    deny.grfAccessMode = DENY_ACCESS;
    deny.grfInheritance = NO_INHERITANCE;
    deny.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    deny.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    wchar_t everyone[] = L"EVERYONE";
    deny.Trustee.ptstrName = everyone;
    PACL denied = nullptr;
    if (SetEntriesInAclW(1, &deny, dacl, &denied) != ERROR_SUCCESS) return false;
    const std::unique_ptr<void, LocalFreed> deniedOwner(denied);
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, denied,
                                 nullptr) == ERROR_SUCCESS;
}

bool RestoreFolderWrites(const std::wstring& folder) {
    const auto saved = SavedAccessLists().find(folder);
    if (saved == SavedAccessLists().end()) return true;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(saved->second.c_str(),
                                                              SDDL_REVISION_1, &raw, nullptr))
        return false;
    const std::unique_ptr<void, LocalFreed> descriptor(raw);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(raw, &present, &dacl, &defaulted) ||
        SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                              nullptr) != ERROR_SUCCESS)
        return false;
    SavedAccessLists().erase(saved);
    return true;
}

}  // namespace

bool SetFolderWritable(const std::wstring& folder, bool writable) {
    const bool asked = WineVersion() ? ChmodFolder(folder, writable)
                       : writable    ? RestoreFolderWrites(folder)
                                     : DenyFolderWrites(folder);
    if (!asked) {
        ADD_FAILURE() << "cannot make " << Narrow(folder) << (writable ? " " : " not ")
                      << "writable: error " << GetLastError();
        return false;
    }
    // Seen by making (and removing) a folder in it.
    const std::wstring probe = folder + L"\\write-probe";
    const bool done = PollUntil(kExitTimeoutMs, [&] {
        // A probe made just before the folder turned read-only cannot be
        // removed until it is writable again: clear it first each time.
        RemoveDirectoryW(probe.c_str());
        const bool made = CreateDirectoryW(probe.c_str(), nullptr) != FALSE;
        if (made) RemoveDirectoryW(probe.c_str());
        return made == writable;
    });
    if (!done)
        ADD_FAILURE() << "the folder " << Narrow(folder) << " was not made"
                      << (writable ? " " : " not ")
                      << "writable (running as root with its power to write anywhere?)";
    return done;
}

std::string WhyNoUnwritableFolder(const std::wstring& folder) {
    if (CanWriteThroughReadOnly(folder))
        return "read-only folders can be written here (running as root?)";
    const FileSystem fileSystem = FileSystemOf(folder);
    if (!WineVersion() && !fileSystem.acls)
        return "the work folder's file system, " + fileSystem.name +
               ", keeps no access lists: no folder refuses writes there";
    return "";
}

namespace {

// A directory junction at link that leads to target, as mod managers make
// them: an empty folder with a mount point's reparse data.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    UniqueHandle folder(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (!folder) return false;
    // The mount point's layout: the tag, the data's length, then the
    // substitute name (the target in the object manager's form) and the
    // name shown, each followed by a zero.
    const std::wstring substitute = L"\\??\\" + target;
    std::wstring names = substitute + L'\0' + target + L'\0';
    const auto units = [](std::size_t count) { return static_cast<WORD>(count * sizeof(wchar_t)); };
    std::vector<BYTE> data(16 + units(names.size()));
    auto put16 = [&](std::size_t at, WORD value) { std::memcpy(&data[at], &value, sizeof value); };
    constexpr DWORD kMountPoint = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
    std::memcpy(&data[0], &kMountPoint, sizeof kMountPoint);
    put16(4, static_cast<WORD>(data.size() - 8));
    put16(8, 0);
    put16(10, units(substitute.size()));
    put16(12, units(substitute.size() + 1));
    put16(14, units(target.size()));
    std::memcpy(&data[16], names.data(), units(names.size()));
    DWORD returned = 0;
    return DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, data.data(),
                           static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
}

}  // namespace

std::string FolderLink::WhyNot(const std::wstring& folder) {
    if (WineVersion()) return "";
    const FileSystem fileSystem = FileSystemOf(folder);
    return fileSystem.reparsePoints ? ""
                                    : "the work folder's file system, " + fileSystem.name +
                                          ", has no junctions or symbolic links";
}

FolderLink::FolderLink(const std::wstring& link, const std::wstring& target) : link_(link) {
    if (WineVersion()) {
        const std::optional<std::wstring> unixLink = UnixPath(link);
        const std::optional<std::wstring> unixTarget = UnixPath(target);
        if (!unixLink || !unixTarget ||
            !StartUnixProgram(L"Z:\\bin\\ln", L"ln -s " + *unixTarget + L" " + *unixLink)) {
            return;
        }
    } else if (!MakeJunction(link, target)) {
        ADD_FAILURE() << "cannot make the junction " << Narrow(link) << ": error "
                      << GetLastError();
        RemoveDirectoryW(link.c_str());
        return;
    }
    const std::wstring through = link + L"\\Backup";
    made_ = PollUntil(kExitTimeoutMs, [&] {
        const DWORD attributes = GetFileAttributesW(through.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    });
    if (!made_)
        ADD_FAILURE() << "no folder " << Narrow(link) << " was made that leads to "
                      << Narrow(target);
}

FolderLink::~FolderLink() {
    // The link goes before the tree does: a removal of the tree would go
    // through it into the folder it leads to. A junction goes as the empty
    // folder it is.
    if (WineVersion()) {
        const std::optional<std::wstring> unixLink = UnixPath(link_);
        if (!unixLink || !StartUnixProgram(L"Z:\\bin\\rm", L"rm " + *unixLink)) return;
    } else {
        RemoveDirectoryW(link_.c_str());
    }
    if (!PollUntil(kExitTimeoutMs,
                   [&] { return GetFileAttributesW(link_.c_str()) == INVALID_FILE_ATTRIBUTES; })) {
        ADD_FAILURE() << "the link " << Narrow(link_) << " was left";
    }
}

// ---- Comparing bytes ----

std::string BytesDifference(const std::optional<std::string>& actual,
                            const std::optional<std::string>& expected) {
    if (actual == expected) return {};
    if (!actual) return "missing, expected " + Sized(*expected);
    if (!expected) return "present (" + Sized(*actual) + "), expected missing";
    const std::string& a = *actual;
    const std::string& e = *expected;
    const auto common = static_cast<std::ptrdiff_t>(std::min(a.size(), e.size()));
    const auto at = static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + common, e.begin()).first - a.begin());
    // A few bytes before the difference, to show where it lies.
    const std::size_t from = at < 8 ? 0 : at - 8;
    return std::to_string(a.size()) + " bytes, expected " + std::to_string(e.size()) +
           "; first difference at byte " + std::to_string(at) + ": " + Excerpt(a, from) +
           " where " + Excerpt(e, from) + " was expected";
}

::testing::AssertionResult SameBytes(const std::string& what,
                                     const std::optional<std::string>& actual,
                                     const std::optional<std::string>& expected) {
    const std::string difference = BytesDifference(actual, expected);
    if (difference.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << ": " << difference;
}

Snapshot TakeSnapshot(const std::wstring& folder) {
    Snapshot files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(fs::path(folder), error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        if (!it->is_regular_file(error)) continue;
        files[fs::relative(it->path(), fs::path(folder)).wstring()] =
            ReadBytes(it->path().wstring()).value_or("<unreadable>");
    }
    return files;
}

std::string SnapshotDiff(const Snapshot& before, const Snapshot& after) {
    std::string diff;
    for (const auto& [path, bytes] : before) {
        auto now = after.find(path);
        if (now == after.end())
            diff += "removed " + Narrow(path) + "\n";
        else if (now->second != bytes)
            diff += "changed " + Narrow(path) + ": " + BytesDifference(now->second, bytes) +
                    " (the bytes before)\n";
    }
    for (const auto& [path, bytes] : after)
        if (!before.count(path)) diff += "added " + Narrow(path) + ": " + Sized(bytes) + "\n";
    return diff;
}

// ---- A throwaway game installation ----

GameTree::GameTree(std::wstring root, const GameLayout& layout) : root_(std::move(root)) {
    modFolder_ = layout.modName.empty() ? root_ : Path(L"mods\\" + layout.modName);
    launcher_ = modFolder_ + (modFolder_.back() == L'\\' ? L"" : L"\\") + layout.launcherName;
    std::error_code error;
    // An installation's root bf2 folder, and mods\bf2, the game's own content.
    for (const wchar_t* folder : {L"bf2", L"mods\\bf2"})
        fs::create_directories(fs::path(Path(folder)), error);
    fs::create_directories(fs::path(modFolder_), error);
    if (error) ADD_FAILURE() << "cannot make " << Narrow(modFolder_) << ": " << error.message();

    CopyOrFail(layout.launcherSource.empty() ? LauncherExe() : layout.launcherSource, launcher_);
    if (layout.withGame) CopyOrFail(StandinExe(), Path(L"BF2.exe"));
    if (layout.gameArchive) Write(L"mods\\bf2\\Shaders_client.zip", *layout.gameArchive);
    if (layout.modArchive) WriteBytes(modFolder_ + L"\\Shaders_client.zip", *layout.modArchive);
}

std::wstring GameTree::Path(const std::wstring& relative) const {
    return root_ + (root_.back() == L'\\' ? L"" : L"\\") + relative;
}

std::optional<std::string> GameTree::Read(const std::wstring& relative) const {
    return ReadBytes(Path(relative));
}

::testing::AssertionResult GameTree::Holds(const std::wstring& relative,
                                           const std::optional<std::string>& expected) const {
    return SameBytes(Narrow(relative), Read(relative), expected);
}

void GameTree::Write(const std::wstring& relative, const std::string& bytes) const {
    WriteBytes(Path(relative), bytes);
}

Snapshot GameTree::Files() const {
    Snapshot files = TakeSnapshot(root_);
    for (const wchar_t* own : {kReportName, L"standin-report.txt.tmp", L"standin-released.txt"})
        files.erase(own);
    return files;
}

std::map<std::wstring, std::string> KeptFiles(const GameTree& tree) {
    std::map<std::wstring, std::string> kept;
    const std::wstring folder = tree.Path(kGameBackupFolder) + L"\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"Shaders_client.kept-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return kept;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            kept[found.cFileName] = ReadBytes(folder + found.cFileName).value_or("<unreadable>");
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return kept;
}

// ---- Processes ----

namespace {

// Where SetCurrentDirectoryW lies in a 32-bit process, seen from a 64-bit
// driver (the drivers stay native where this machine runs no 32-bit code):
// the 32-bit kernel32's preferred base, where Wine maps it, plus the export's
// address in its file. Zero when the file does not say.
std::uintptr_t SetFolderIn32BitProcess() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemWow64DirectoryW(folder, MAX_PATH);
    if (!length || length >= MAX_PATH) return 0;
    const std::optional<std::string> file = ReadBytes(std::wstring(folder) + L"\\kernel32.dll");
    if (!file) return 0;
    const std::string& bytes = *file;
    auto read32 = [&](std::size_t offset) {
        std::uint32_t value = 0;
        if (offset + sizeof value <= bytes.size())
            std::memcpy(&value, &bytes[offset], sizeof value);
        return value;
    };
    auto read16 = [&](std::size_t offset) { return static_cast<std::uint16_t>(read32(offset)); };
    const std::size_t pe = read32(0x3C);
    const std::size_t optional = pe + 24;
    const std::size_t sections = optional + read16(pe + 20);
    // A file offset from an address in the image, through the section table.
    auto offsetOf = [&](std::uint32_t rva) -> std::size_t {
        for (std::size_t i = 0; i < read16(pe + 6); ++i) {
            const std::size_t section = sections + i * 40;
            const std::uint32_t start = read32(section + 12);
            if (rva >= start && rva - start < read32(section + 8))
                return rva - start + read32(section + 20);
        }
        return bytes.size();
    };
    const std::size_t exports = offsetOf(read32(optional + 96));
    for (std::uint32_t i = 0; i < read32(exports + 24); ++i) {
        const std::size_t name = offsetOf(read32(offsetOf(read32(exports + 32)) + 4 * i));
        if (name < bytes.size() && std::strcmp(bytes.c_str() + name, "SetCurrentDirectoryW") == 0) {
            const std::uint16_t ordinal = read16(offsetOf(read32(exports + 36)) + 2 * i);
            return read32(optional + 28) + read32(offsetOf(read32(exports + 28)) + 4 * ordinal);
        }
    }
    return 0;
}

// Runs SetCurrentDirectoryW on a thread of the suspended process, before its
// own code runs. Wine maps kernel32 at the same address in every process of
// one width, and so does Windows for one boot; only the test of a folder past
// 260 characters, which skips on Windows, uses this, and the bundle's driver
// is 32-bit like the launcher, so the preferred base below serves only this
// machine's native driver under Wine.
void SetFolderFromInside(HANDLE process, const std::wstring& folder) {
    const SIZE_T bytes = (folder.size() + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, folder.c_str(), bytes, nullptr)) {
        ADD_FAILURE() << "cannot write the folder into the process: error " << GetLastError();
        return;
    }
    auto setFolder = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetCurrentDirectoryW")));
    BOOL wow64 = FALSE;
    if (sizeof(void*) == 8 && IsWow64Process(process, &wow64) && wow64) {
        setFolder = reinterpret_cast<LPTHREAD_START_ROUTINE>(SetFolderIn32BitProcess());
        if (!setFolder) {
            ADD_FAILURE() << "SetCurrentDirectoryW not found in the 32-bit kernel32.dll";
            return;
        }
    }
    UniqueHandle thread(CreateRemoteThread(process, nullptr, 0, setFolder, remote, 0, nullptr));
    DWORD set = 0;
    if (!thread || WaitForSingleObject(thread.get(), kStartTimeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeThread(thread.get(), &set) || !set) {
        ADD_FAILURE() << "cannot set the working folder from inside: error " << GetLastError();
    }
}

}  // namespace

Process::Process(const LaunchOptions& options) {
    job_.reset(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    UniqueHandle childOutput;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (options.std == StdHandles::Pipe) {
        HANDLE read = nullptr, write = nullptr;
        CreatePipe(&read, &write, &inherit, 1 << 16);
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        output_.reset(read);
        childOutput.reset(write);
    } else if (options.std == StdHandles::File) {
        childOutput.reset(CreateFileW(options.outputFile.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                      0, nullptr));
    }
    startup.hStdOutput = startup.hStdError = childOutput.get();

    std::wstring commandLine = options.commandLine;
    std::wstring environment = EnvironmentBlock(options.env);
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job, so nothing it starts escapes the job.
    if (!CreateProcessW(
            options.exe.c_str(), commandLine.data(), nullptr, nullptr, childOutput ? TRUE : FALSE,
            CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.data(),
            options.folder.empty() ? nullptr : options.folder.c_str(), &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed for " << Narrow(options.commandLine) << " in "
                      << Narrow(options.folder) << ": error " << GetLastError();
        return;
    }
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    id_ = info.dwProcessId;
    threadId_ = info.dwThreadId;
    if (!AssignProcessToJobObject(job_.get(), process_.get()))
        ADD_FAILURE() << "AssignProcessToJobObject failed: error " << GetLastError();
    if (!options.folderFromInside.empty())
        SetFolderFromInside(process_.get(), options.folderFromInside);
    ResumeThread(thread.get());
}

Process::~Process() { KillAll(); }

std::optional<DWORD> Process::WaitForExit(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool Process::IsRunning() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

void Process::Kill() {
    if (!IsRunning()) return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
}

void Process::KillAll() {
    if (!job_) return;
    TerminateJobObject(job_.get(), 1);
    Kill();
}

std::string Process::ReadOutput() {
    DWORD available = 0;
    while (output_ && PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr) &&
           available > 0) {
        std::string chunk(available, '\0');
        DWORD got = 0;
        if (!ReadFile(output_.get(), chunk.data(), available, &got, nullptr)) break;
        received_.append(chunk, 0, got);
    }
    return received_;
}

bool IsProcessRunning(DWORD pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// ---- The stand-in game's report ----

std::optional<StandinReport> ReadStandinReport(const std::wstring& gameRoot) {
    std::wstring path = gameRoot + (gameRoot.back() == L'\\' ? L"" : L"\\") + kReportName;
    std::optional<std::string> text = ReadBytes(path);
    if (!text) return std::nullopt;
    StandinReport report;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        std::string key = line.substr(0, line.find('='));
        std::string value = line.size() > key.size() ? line.substr(key.size() + 1) : "";
        if (key == "commandline") report.commandLine = Wide(value);
        if (key == "folder") report.folder = Wide(value);
        if (key == "archive" && value != "<missing>") report.archive = Unescape(value);
        if (key == "pid") report.pid = std::stoul(value);
        if (key == "holder" && value != "failed") report.holder = std::stoul(value);
        if (key == "ended") report.ended = true;
        if (key == "rewrite") report.rewrite = value;
        if (key == "update") report.update = value;
        if (key == "open") report.archiveOpen = value == "yes";
        if (key == "stdout") report.stdOutput = value;
        if (key == "stdouttype") report.stdOutputType = std::stoul(value);
    }
    return report;
}

std::optional<StandinReport> WaitForStandinReport(const std::wstring& gameRoot, DWORD timeoutMs,
                                                  bool ended) {
    std::optional<StandinReport> report;
    PollUntil(timeoutMs, [&] {
        report = ReadStandinReport(gameRoot);
        return report && (!ended || report->ended);
    });
    if (report && ended && !report->ended) return std::nullopt;
    return report;
}

bool WaitForArchiveRelease(const std::wstring& gameRoot, DWORD timeoutMs) {
    const std::wstring released =
        gameRoot + (gameRoot.back() == L'\\' ? L"" : L"\\") + L"standin-released.txt";
    return PollUntil(timeoutMs, [&] { return ReadBytes(released).has_value(); });
}

// ---- Windows ----

namespace {

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOf(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD pid) {
    WindowSearch search{pid, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TitleOf(HWND window) {
    wchar_t title[512] = L"";
    GetWindowTextW(window, title, 512);
    return title;
}

HWND WaitForWindow(DWORD pid, const std::wstring& className, DWORD timeoutMs) {
    HWND found = nullptr;
    PollUntil(timeoutMs, [&] {
        for (HWND window : TopLevelWindowsOf(pid))
            if (ClassOf(window) == className) return (found = window) != nullptr;
        return false;
    });
    return found;
}

std::optional<MessageBoxSeen> WaitForMessageBox(DWORD pid, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    HWND box = WaitForWindow(pid, L"#32770", timeoutMs);
    // The box is found as soon as it exists; its title and text are set
    // before it is shown.
    if (!box || !PollUntil(timeoutMs - std::min(timeoutMs, GetTickCount() - start),
                           [&] { return IsWindowVisible(box) != FALSE; }))
        return std::nullopt;
    wchar_t text[1024] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return MessageBoxSeen{box, TitleOf(box), text};
}

void CloseMessageBox(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

std::optional<LRESULT> SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       DWORD timeoutMs) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, timeoutMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

// ---- The fixture ----

GameTree& E2eTest::LayTree(const GameLayout& layout, const std::wstring& subfolder) {
    static unsigned counter = 0;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    // The parameter's name for a table row, else the test's own.
    std::wstring name = Wide(test->name());
    name = name.substr(name.find(L'/') + 1);
    name.erase(std::remove_if(name.begin(), name.end(), [](wchar_t c) { return !iswalnum(c); }),
               name.end());
    // Short, so that the deepest working folder stays far below Wine's limit.
    std::wstring folder = WorkFolder() + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(++counter) + L"-" + name.substr(0, 24);
    RemoveTree(folder);
    ownFolders_.push_back(folder);
    std::wstring root = subfolder.empty() ? folder : folder + L"\\" + subfolder;
    trees_.push_back(std::make_unique<GameTree>(root, layout));
    return *trees_.back();
}

GameTree& E2eTest::LayTreeAt(const std::wstring& root, const GameLayout& layout) {
    EmptyFolder(root);
    emptiedRoots_.push_back(root);
    trees_.push_back(std::make_unique<GameTree>(root, layout));
    return *trees_.back();
}

Process& E2eTest::Start(const LaunchOptions& options) {
    processes_.push_back(std::make_unique<Process>(options));
    return *processes_.back();
}

namespace {

LaunchOptions LauncherOptions(const GameTree& tree, const std::wstring& arguments,
                              std::vector<std::pair<std::wstring, std::wstring>> env) {
    LaunchOptions options;
    options.exe = tree.Launcher();
    options.commandLine = Quoted(tree.Launcher()) + arguments;
    options.folder = tree.ModFolder();
    options.env = std::move(env);
    return options;
}

}  // namespace

Process& E2eTest::StartLauncher(const GameTree& tree, const std::wstring& arguments,
                                std::vector<std::pair<std::wstring, std::wstring>> env) {
    return Start(LauncherOptions(tree, arguments, std::move(env)));
}

Process& E2eTest::StartLauncherWithOutput(const GameTree& tree,
                                          std::vector<std::pair<std::wstring, std::wstring>> env) {
    LaunchOptions options = LauncherOptions(tree, L"", std::move(env));
    options.std = StdHandles::Pipe;
    return Start(options);
}

void E2eTest::TearDown() {
    // The jobs take the games along; a game that left its job (or a lock
    // holder) is ended by the id its report gives.
    processes_.clear();
    for (const auto& tree : trees_) {
        if (auto report = ReadStandinReport(tree->Root())) {
            if (!report->ended && report->pid) EndProcessById(report->pid);
            if (report->holder && !tree->Read(L"standin-released.txt"))
                EndProcessById(report->holder);
        }
    }
    if (HasFailure()) {
        for (const auto& tree : trees_) std::cout << "kept " << Narrow(tree->Root()) << "\n";
    } else {
        for (const auto& folder : ownFolders_) RemoveTree(folder);
        for (const auto& root : emptiedRoots_) EmptyFolder(root);
    }
    trees_.clear();
}

bool LockIsFree(const GameTree& tree) {
    UniqueHandle file(CreateFileW(tree.Path(kLock).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND;
    OVERLAPPED first{};
    if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &first)) {
        return false;
    }
    UnlockFileEx(file.get(), 0, 1, 0, &first);
    return true;
}

}  // namespace e2e
