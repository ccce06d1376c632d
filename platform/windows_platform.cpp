#include "platform/windows_platform.h"

#include <tlhelp32.h>

#include "platform/scope_exit.h"
#include "platform/unique_handle.h"
#include "platform/utf8.h"

// The 32-bit product fills the record in its documented 60-byte layout; the
// 64-bit test build runs the same code over the wider 64-bit record.
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60,
              "SHELLEXECUTEINFOW must have its 32-bit layout of 60 bytes");

// The seam's constants are Windows' own numbers: the logic compares the
// errors and attributes these calls give back against them.
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(kAttributeReadOnly == FILE_ATTRIBUTE_READONLY);
static_assert(kAttributeHidden == FILE_ATTRIBUTE_HIDDEN);
static_assert(kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrorBadFormat == ERROR_BAD_FORMAT);
static_assert(kErrorOutOfMemory == ERROR_OUTOFMEMORY);
static_assert(kErrorWriteProtect == ERROR_WRITE_PROTECT);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorLockViolation == ERROR_LOCK_VIOLATION);
static_assert(kErrorHandleDiskFull == ERROR_HANDLE_DISK_FULL);
static_assert(kErrorFileExists == ERROR_FILE_EXISTS);
static_assert(kErrorDiskFull == ERROR_DISK_FULL);
static_assert(kErrorInvalidName == ERROR_INVALID_NAME);
static_assert(kErrorBadPathName == ERROR_BAD_PATHNAME);
static_assert(kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kErrorInvalidExeSignature == ERROR_INVALID_EXE_SIGNATURE);
static_assert(kErrorBadExeFormat == ERROR_BAD_EXE_FORMAT);
static_assert(kErrorFileNameTooLong == ERROR_FILENAME_EXCED_RANGE);
static_assert(kErrorExeMachineTypeMismatch == ERROR_EXE_MACHINE_TYPE_MISMATCH);
static_assert(kFileTypeUnknown == FILE_TYPE_UNKNOWN);
static_assert(kFileTypeChar == FILE_TYPE_CHAR);

namespace {

// A small text file is read in pieces of this size.
constexpr DWORD kReadPieceBytes = 4096;
// No marker nor log is this long (the log keeps about 64 KiB): a longer file
// is refused rather than read whole.
constexpr std::size_t kMaxSmallFileBytes = 256 * 1024;
// The lock covers this many bytes of the lock file, from its first.
constexpr DWORD kLockedBytes = 1;
// Opens that must not stand in the way of another program's, nor of a
// rename or delete of the file meanwhile.
constexpr DWORD kShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE AsHandle(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The failure of the call just made, its error read before another call
// can overwrite it.
OsResult FailureOfLastCall() { return {false, ::GetLastError()}; }

// A call's BOOL as the result, with the error when it failed.
OsResult ResultOf(BOOL succeeded) { return succeeded ? OsResult{} : FailureOfLastCall(); }

// The 64-bit number that Windows gives in two 32-bit halves.
std::uint64_t JoinHalves(DWORD high, DWORD low) {
    constexpr int kHalfBits = 32;
    return (std::uint64_t{high} << kHalfBits) | low;
}

Text AsText(const wchar_t* text, std::size_t length) {
    return Text(reinterpret_cast<const char16_t*>(text), length);
}

// A file or folder opened only to be looked at: no access to its contents,
// in no other program's way.
UniqueHandle OpenToLook(const Text& path) {
    return UniqueHandle(::CreateFileW(Wide(path), FILE_READ_ATTRIBUTES, kShareEverything, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// What a volume's size says of it, read without a call to Wine's mount
// manager: the same for every file of one volume.
bool ReadVolumeShape(HANDLE file, VolumeShape& shape) {
    IO_STATUS_BLOCK status;
    FILE_FS_SIZE_INFORMATION size;
    if (!NT_SUCCESS(::NtQueryVolumeInformationFile(file, &status, &size, sizeof size,
                                                   FileFsSizeInformation))) {
        return false;
    }
    shape = {static_cast<std::uint64_t>(size.TotalAllocationUnits.QuadPart),
             size.SectorsPerAllocationUnit, size.BytesPerSector};
    return true;
}

// A file that another program holds open refuses to be replaced or removed
// with "access denied", as if it were a matter of rights. Asking to delete it
// while sharing everything tells the two apart: an open that fails for
// sharing means the file is in use. Any other result is given back as it is.
OsResult SharingViolationIfHeld(OsResult result, const Text& path) {
    if (result.error != ERROR_ACCESS_DENIED) return result;
    UniqueHandle probe(
        ::CreateFileW(Wide(path), DELETE, kShareEverything, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        return {false, ERROR_SHARING_VIOLATION};
    }
    return result;
}

// The system's own text for an error, as it gives it (line end included);
// empty when it has none.
Text SystemMessage(std::uint32_t error) {
    wchar_t* message = nullptr;
    ScopeExit freeMessage([&message] {
        if (message) ::LocalFree(message);
    });
    // With ALLOCATE_BUFFER the call writes the address of a buffer of its
    // own where the buffer would go.
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    return message ? AsText(message, length) : Text();
}

}  // namespace

std::uint32_t WindowsPlatform::CurrentDirectory(std::uint32_t length, char16_t* buffer) {
    return ::GetCurrentDirectoryW(length, reinterpret_cast<wchar_t*>(buffer));
}

const char16_t* WindowsPlatform::CommandLine() {
    return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

Text WindowsPlatform::ProgramPath() {
    // A path longer than the buffer is cut short, and then cut off: no path.
    std::wstring path(32768, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return Text();
    return AsText(path.c_str(), length);
}

std::vector<Text> WindowsPlatform::RunningProgramsNamed(const Text& fileName) {
    std::vector<Text> programs;
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) return programs;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        // The name only chooses which processes to ask for their file.
        if (::CompareStringOrdinal(entry.szExeFile, -1, Wide(fileName), -1, TRUE) != CSTR_EQUAL)
            continue;
        UniqueHandle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process.get()) continue;
        wchar_t path[MAX_PATH * 4];
        DWORD length = MAX_PATH * 4;
        if (::QueryFullProcessImageNameW(process.get(), 0, path, &length))
            programs.push_back(AsText(path, length));
    }
    return programs;
}

const char16_t* WindowsPlatform::NextChar(const char16_t* position) {
    return reinterpret_cast<const char16_t*>(
        ::CharNextW(reinterpret_cast<const wchar_t*>(position)));
}

AttributeQuery WindowsPlatform::FileAttributes(const Text& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return {FailureOfLastCall(), attributes};
    return {OsResult{}, attributes};
}

OsResult WindowsPlatform::SetAttributes(const Text& path, std::uint32_t attributes) {
    return ResultOf(::SetFileAttributesW(Wide(path), attributes));
}

AttributeQuery WindowsPlatform::FindEntry(const Text& path) {
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(::FindFirstFileW(Wide(path), &found));
    if (!search) return {FailureOfLastCall(), INVALID_FILE_ATTRIBUTES};
    return {OsResult{}, found.dwFileAttributes};
}

OsResult WindowsPlatform::MakeFolder(const Text& path) {
    return ResultOf(::CreateDirectoryW(Wide(path), nullptr));
}

OsResult WindowsPlatform::CopyWholeFile(const Text& from, const Text& to) {
    constexpr BOOL kReplaceExisting = FALSE;  // the call's flag is "fail if it exists"
    return ResultOf(::CopyFileW(Wide(from), Wide(to), kReplaceExisting));
}

OsResult WindowsPlatform::FlushToDisk(const Text& path) {
    // Flushing needs the file open for writing; a copy inherits a read-only
    // attribute from its source, so that is cleared for as long as it takes.
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return FailureOfLastCall();
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) ::SetFileAttributesW(Wide(path), attributes & ~FILE_ATTRIBUTE_READONLY);
    // Declared before the file, so the file is closed before the attribute
    // goes back, and after the result has read the flush's error.
    ScopeExit restoreAttributes([&] {
        if (readOnly) ::SetFileAttributesW(Wide(path), attributes);
    });
    const UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return ResultOf(file && ::FlushFileBuffers(file.get()));
}

OsResult WindowsPlatform::WriteNewFile(const Text& path, TextView content) {
    const std::string bytes =
        Utf8({reinterpret_cast<const wchar_t*>(content.data()), content.size()});
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return FailureOfLastCall();
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
        return FailureOfLastCall();
    }
    // A write that stops short without an error has found the disk full.
    if (written != bytes.size()) return {false, ERROR_DISK_FULL};
    return ResultOf(::FlushFileBuffers(file.get()));
}

OsResult WindowsPlatform::MoveOver(const Text& from, const Text& to) {
    // The file in the way is the one another program may hold.
    return SharingViolationIfHeld(
        ResultOf(::MoveFileExW(Wide(from), Wide(to),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)),
        to);
}

OsResult WindowsPlatform::MoveToFreeName(const Text& from, const Text& to) {
    // Nothing is in the way: the file moved is the one another program may hold.
    return SharingViolationIfHeld(
        ResultOf(::MoveFileExW(Wide(from), Wide(to), MOVEFILE_WRITE_THROUGH)), from);
}

OsResult WindowsPlatform::ListFolder(const Text& pattern, std::vector<FolderEntry>& entries) {
    entries.clear();
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(::FindFirstFileW(Wide(pattern), &found));
    if (!search) {
        const OsResult failed = FailureOfLastCall();
        // A pattern that matches no entry is an empty list, not a failure.
        return failed.error == ERROR_FILE_NOT_FOUND ? OsResult{} : failed;
    }
    do {
        const Text name = AsText(found.cFileName, ::wcslen(found.cFileName));
        if (name == u"." || name == u"..") continue;
        entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (::FindNextFileW(search.get(), &found));
    return {};
}

OsResult WindowsPlatform::ReadSmallFile(const Text& path, Text& text) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_READ, kShareEverything, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return FailureOfLastCall();
    std::string bytes;
    char piece[kReadPieceBytes];
    DWORD got = 0;
    // A read of nothing is the file's end; a read that fails is no end.
    for (;;) {
        if (!::ReadFile(file.get(), piece, sizeof piece, &got, nullptr)) return FailureOfLastCall();
        if (got == 0) break;
        bytes.append(piece, got);
        if (bytes.size() > kMaxSmallFileBytes) return {false, ERROR_FILE_TOO_LARGE};
    }
    text = FromUtf8(bytes);
    return {};
}

OsResult WindowsPlatform::ReadPart(const Text& path, std::uint64_t offset, std::uint32_t count,
                                   std::string& bytes) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_READ, kShareEverything, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return FailureOfLastCall();
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return FailureOfLastCall();
    bytes.resize(count);
    DWORD got = 0;
    std::uint32_t filled = 0;
    // A read of nothing is the file's end: the bytes so far are the part. A
    // read that fails is no end: the part is not known, and the caller must
    // not take what came so far for the whole file.
    while (filled < count) {
        if (!::ReadFile(file.get(), bytes.data() + filled, count - filled, &got, nullptr)) {
            return FailureOfLastCall();
        }
        if (got == 0) break;
        filled += got;
    }
    bytes.resize(filled);
    return {};
}

OsResult WindowsPlatform::RemoveFile(const Text& path) {
    return SharingViolationIfHeld(ResultOf(::DeleteFileW(Wide(path))), path);
}

OsResult WindowsPlatform::ReadFileStamp(const Text& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) {
        return FailureOfLastCall();
    }
    stamp.size = JoinHalves(data.nFileSizeHigh, data.nFileSizeLow);
    stamp.lastWrite =
        JoinHalves(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return {};
}

bool WindowsPlatform::VolumeSerialOf(HANDLE file, DWORD& serial) {
    VolumeShape shape;
    if (!ReadVolumeShape(file, shape)) return false;
    if (const auto known = serials_.find(shape); known != serials_.end()) {
        serial = known->second;
        return true;
    }
    if (!::GetVolumeInformationByHandleW(file, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
        return false;
    }
    serials_.emplace(shape, serial);
    return true;
}

OsResult WindowsPlatform::IdentityThrough(HANDLE file, FileIdentity& identity) {
    IO_STATUS_BLOCK status;
    FILE_INTERNAL_INFORMATION index;
    const NTSTATUS read =
        ::NtQueryInformationFile(file, &status, &index, sizeof index, FileInternalInformation);
    if (!NT_SUCCESS(read)) return {false, ::RtlNtStatusToDosError(read)};
    DWORD serial = 0;
    if (!VolumeSerialOf(file, serial)) return FailureOfLastCall();
    identity.volume = serial;
    identity.index = static_cast<std::uint64_t>(index.IndexNumber.QuadPart);
    return {};
}

OsResult WindowsPlatform::ReadFileIdentity(const Text& path, FileIdentity& identity) {
    const UniqueHandle entry = OpenToLook(path);
    if (!entry) return FailureOfLastCall();
    return IdentityThrough(entry.get(), identity);
}

OsResult WindowsPlatform::ReadFileLook(const Text& path, FileLook& look) {
    const UniqueHandle file = OpenToLook(path);
    if (!file) return FailureOfLastCall();
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard)) {
        return FailureOfLastCall();
    }
    if (const OsResult identity = IdentityThrough(file.get(), look.identity); !identity) {
        return identity;
    }
    look.stamp.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    look.stamp.lastWrite = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
    // As the system gives it: the volume's name says nothing of what it
    // does (under Wine every Linux file system is "NTFS"); the gate's probe
    // decides.
    look.changeTime = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
    return {};
}

OsResult WindowsPlatform::MakeNewFile(const Text& path) {
    const UniqueHandle made(::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    return made ? OsResult{} : FailureOfLastCall();
}

OsResult WindowsPlatform::SetLastWriteTime(const Text& path, std::uint64_t time) {
    const UniqueHandle file(::CreateFileW(Wide(path), FILE_WRITE_ATTRIBUTES, kShareEverything,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    if (!file) return FailureOfLastCall();
    constexpr int kHalfBits = 32;
    const FILETIME lastWrite{static_cast<DWORD>(time), static_cast<DWORD>(time >> kHalfBits)};
    return ResultOf(::SetFileTime(file.get(), nullptr, nullptr, &lastWrite));
}

OsResult WindowsPlatform::KeepWritersOut(const Text& path, OsHandle& handle) {
    const HANDLE file = ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FailureOfLastCall();
    handle = reinterpret_cast<OsHandle>(file);
    return {};
}

void WindowsPlatform::LetWritersIn(OsHandle handle) { ::CloseHandle(AsHandle(handle)); }

std::uint64_t WindowsPlatform::SystemTime() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return JoinHalves(now.dwHighDateTime, now.dwLowDateTime);
}

bool WindowsPlatform::IsSameFolder(const Text& one, const Text& other) {
    FileIdentity first, second;
    return ReadFileIdentity(one, first) && ReadFileIdentity(other, second) && first == second;
}

OsResult WindowsPlatform::HoldLockFile(const Text& path) {
    // Every sharing is allowed, so only the lock itself refuses; a byte-range
    // lock holds across Wine prefixes, where sharing modes do not. Write
    // access too: Wine locks a file open only for reading with a shared
    // lock, which another prefix does not see as held.
    UniqueHandle lock;
    auto open = [&] {
        const HANDLE opened =
            ::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, kShareEverything, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const OsResult result = ResultOf(opened != INVALID_HANDLE_VALUE);
        lock.reset(opened);
        return result;
    };
    OsResult opened = open();
    // A read-only lock file (copied from a disc with the rest, say) is no
    // reason to go without the lock. The open's own error is kept: the
    // attribute calls would overwrite it.
    if (opened.error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = ::GetFileAttributesW(Wide(path));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
            ::SetFileAttributesW(Wide(path), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            opened = open();
        }
    }
    if (!opened) return opened;
    OVERLAPPED fromFirstByte{};  // the range starts at the record's offset, zero
    constexpr DWORD kReserved = 0;
    constexpr DWORD kLockedBytesHigh = 0;
    if (!::LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, kReserved,
                      kLockedBytes, kLockedBytesHigh, &fromFirstByte)) {
        return FailureOfLastCall();  // read before the file is closed on the way out
    }
    // Held for the rest of the process and never closed by the launcher: the
    // system lets go of the lock when the process ends, however it ends.
    archiveLock_ = lock.release();
    return {};
}

Text WindowsPlatform::FullPath(const Text& path) {
    // Asked first for the room it needs, zero included, then for the path.
    const DWORD needed = ::GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(Wide(path), needed, full.data(), nullptr);
    // More room needed now: the working folder changed between the two calls.
    if (length == 0 || length >= needed) return path;
    return AsText(full.c_str(), length);
}

Text WindowsPlatform::ErrorText(std::uint32_t error) {
    Text text = SystemMessage(error);
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
    if (text.empty()) text = u"Error " + DecimalText(error);
    return text;
}

void WindowsPlatform::Pause(std::uint32_t milliseconds) {
    // Asleep, but the hidden window goes on answering: a sent message (the
    // session's end, say) must not wait for the pause to pass.
    const DWORD start = ::GetTickCount();
    DWORD elapsed = 0;
    while (elapsed < milliseconds) {
        // With no handle to wait for, WAIT_OBJECT_0 means a message waits.
        if (::MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0) {
            window_.ProcessMessages();
        }
        // Unsigned, so the difference is right across the tick count's wrap.
        elapsed = ::GetTickCount() - start;
    }
}

OsHandle WindowsPlatform::AppWindow() { return reinterpret_cast<OsHandle>(window_.Handle()); }

namespace {

// A start's result code above this means it succeeded; the codes below it
// are the same numbers as the system's errors, for the errors both know.
constexpr std::uintptr_t kStartSucceededAbove = 32;

// The system's error code for a start that failed. The start leaves it as
// the thread's last error; where it does not, its result code is turned into one.
std::uint32_t StartError(const SHELLEXECUTEINFOW& info) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_SUCCESS) return error;
    switch (const auto result = reinterpret_cast<std::uintptr_t>(info.hInstApp)) {
        case SE_ERR_SHARE:
            return ERROR_SHARING_VIOLATION;
        case SE_ERR_ASSOCINCOMPLETE:
        case SE_ERR_NOASSOC:
            return ERROR_NO_ASSOCIATION;
        case SE_ERR_DDETIMEOUT:
        case SE_ERR_DDEFAIL:
        case SE_ERR_DDEBUSY:
            return ERROR_DDE_FAIL;
        case SE_ERR_DLLNOTFOUND:
            return ERROR_DLL_NOT_FOUND;
        default:
            return result > 0 && result < kStartSucceededAbove ? static_cast<std::uint32_t>(result)
                                                               : ERROR_BAD_FORMAT;
    }
}

}  // namespace

OsResult WindowsPlatform::StartGame(const LaunchRequest& request) {
    // Filled in the record's own order; every field not named stays zero.
    gameStart_ = SHELLEXECUTEINFOW{};
    gameStart_.cbSize = sizeof gameStart_;
    // No box of the system's: it would block a caller that reads the
    // launcher's output, and the launcher says itself why the game did not start.
    gameStart_.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    gameStart_.hwnd = reinterpret_cast<HWND>(request.ownerWindow);
    gameStart_.lpFile = Wide(request.file);
    gameStart_.lpParameters = Wide(request.parameters);
    gameStart_.lpDirectory = Wide(request.directory);
    gameStart_.nShow = SW_SHOWNORMAL;
    // Cleared first, so that StartError can tell a start that set no error.
    ::SetLastError(ERROR_SUCCESS);
    if (::ShellExecuteExW(&gameStart_)) return {};
    return {false, StartError(gameStart_)};
}

bool WindowsPlatform::GameHasEnded() {
    // A game that cannot be watched counts as ended: there is no process to wait for.
    const HANDLE game = gameStart_.hProcess;
    constexpr DWORD kLookOnly = 0;  // no wait: whether it has ended now
    return !game || ::WaitForSingleObject(game, kLookOnly) != WAIT_TIMEOUT;
}

void WindowsPlatform::ProcessMessages() { window_.ProcessMessages(); }

bool WindowsPlatform::Terminated() { return window_.Terminated(); }

void WindowsPlatform::AwaitGameOrMessage() {
    // Sleeps until the game ends or a message (posted, sent or input) waits.
    HANDLE game = gameStart_.hProcess;
    ::MsgWaitForMultipleObjectsEx(1, &game, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

bool WindowsPlatform::ShowMessage(MessageKind kind, const Text& text) {
    // No owner: the hidden window would keep the box out of the taskbar.
    const UINT icon = kind == MessageKind::Warning ? MB_ICONWARNING : MB_ICONERROR;
    return ::MessageBoxW(nullptr, Wide(text), window_.Title().c_str(),
                         MB_OK | icon | MB_TASKMODAL | MB_SETFOREGROUND) != 0;
}

OsHandle WindowsPlatform::StdOutput() {
    return reinterpret_cast<OsHandle>(::GetStdHandle(STD_OUTPUT_HANDLE));
}

std::uint32_t WindowsPlatform::FileType(OsHandle handle) { return ::GetFileType(AsHandle(handle)); }

void WindowsPlatform::CloseOsHandle(OsHandle handle) { ::CloseHandle(AsHandle(handle)); }

OsResult WindowsPlatform::WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) {
    DWORD written = 0;
    return ResultOf(::WriteFile(AsHandle(handle), bytes, count, &written, nullptr));
}

bool WindowsPlatform::IsConsole(OsHandle handle) {
    DWORD mode = 0;
    return ::GetConsoleMode(AsHandle(handle), &mode) != 0;
}

OsResult WindowsPlatform::WriteConsoleText(OsHandle handle, const char16_t* units,
                                           std::uint32_t count) {
    DWORD written = 0;
    return ResultOf(::WriteConsoleW(AsHandle(handle), units, count, &written, nullptr));
}

std::string WindowsPlatform::ToAnsi(TextView text) {
    if (text.empty()) return {};
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const UINT codePage = ::GetACP();
    const int size = ::WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, wide, length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

void WindowsPlatform::EndProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }
