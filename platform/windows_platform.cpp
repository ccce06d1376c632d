#include "platform/windows_platform.h"

#include "platform/unique_handle.h"
#include "platform/utf8.h"

SHELLEXECUTEINFOW LaunchInfo;

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

HANDLE AsHandle(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The lock on the game's archives, held until the process ends.
HANDLE ArchiveLock = nullptr;

// The outcome of a call, with its error read at once.
OsResult Outcome(BOOL succeeded) {
    return succeeded ? OsResult{} : OsResult{false, ::GetLastError()};
}

std::uint64_t Join(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }

Text AsText(const wchar_t* text, std::size_t length) {
    return Text(reinterpret_cast<const char16_t*>(text), length);
}

// The volume and index that identify a file or folder, whatever its spelling.
bool IdentityOf(const Text& path, BY_HANDLE_FILE_INFORMATION& info) {
    UniqueHandle entry(::CreateFileW(Wide(path), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return entry && ::GetFileInformationByHandle(entry.get(), &info);
}

// A file that another program holds open refuses to be replaced or removed
// with "access denied", as if it were a matter of rights. Asking to delete it
// while sharing everything tells the two apart: an open that fails for
// sharing means the file is in use.
OsResult InUseOr(OsResult refused, const Text& path) {
    UniqueHandle probe(::CreateFileW(Wide(path), DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        return {false, ERROR_SHARING_VIOLATION};
    }
    return refused;
}

}  // namespace

std::uint32_t WindowsPlatform::CurrentDirectory(std::uint32_t length, char16_t* buffer) {
    return ::GetCurrentDirectoryW(length, reinterpret_cast<wchar_t*>(buffer));
}

const char16_t* WindowsPlatform::CommandLine() {
    return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

const char16_t* WindowsPlatform::NextChar(const char16_t* position) {
    return reinterpret_cast<const char16_t*>(
        ::CharNextW(reinterpret_cast<const wchar_t*>(position)));
}

AttributeQuery WindowsPlatform::FileAttributes(const Text& path) {
    DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return {Outcome(FALSE), attributes};
    return {OsResult{}, attributes};
}

OsResult WindowsPlatform::SetAttributes(const Text& path, std::uint32_t attributes) {
    return Outcome(::SetFileAttributesW(Wide(path), attributes));
}

AttributeQuery WindowsPlatform::FindEntry(const Text& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return {Outcome(FALSE), INVALID_FILE_ATTRIBUTES};
    ::FindClose(search);
    return {OsResult{}, found.dwFileAttributes};
}

OsResult WindowsPlatform::MakeFolder(const Text& path) {
    return Outcome(::CreateDirectoryW(Wide(path), nullptr));
}

OsResult WindowsPlatform::CopyWholeFile(const Text& from, const Text& to) {
    return Outcome(::CopyFileW(Wide(from), Wide(to), FALSE));
}

OsResult WindowsPlatform::FlushToDisk(const Text& path) {
    // Flushing needs the file open for writing; a copy inherits a read-only
    // attribute from its source, so that is cleared for as long as it takes.
    DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return Outcome(FALSE);
    bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly) ::SetFileAttributesW(Wide(path), attributes & ~FILE_ATTRIBUTE_READONLY);
    OsResult flushed;
    {
        UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        flushed = Outcome(file && ::FlushFileBuffers(file.get()));
    }
    if (readOnly) ::SetFileAttributesW(Wide(path), attributes);
    return flushed;
}

OsResult WindowsPlatform::WriteNewFile(const Text& path, TextView content) {
    const std::string bytes =
        Utf8({reinterpret_cast<const wchar_t*>(content.data()), content.size()});
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Outcome(FALSE);
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr)) {
        return Outcome(FALSE);
    }
    if (written != bytes.size()) return {false, ERROR_DISK_FULL};
    return Outcome(::FlushFileBuffers(file.get()));
}

OsResult WindowsPlatform::MoveOver(const Text& from, const Text& to) {
    OsResult moved = Outcome(
        ::MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    return moved.error == ERROR_ACCESS_DENIED ? InUseOr(moved, to) : moved;
}

OsResult WindowsPlatform::MoveToFreeName(const Text& from, const Text& to) {
    OsResult moved = Outcome(::MoveFileExW(Wide(from), Wide(to), MOVEFILE_WRITE_THROUGH));
    return moved.error == ERROR_ACCESS_DENIED ? InUseOr(moved, from) : moved;
}

OsResult WindowsPlatform::ListFolder(const Text& pattern, std::vector<FolderEntry>& entries) {
    entries.clear();
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Wide(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const OsResult none = Outcome(FALSE);
        return none.error == ERROR_FILE_NOT_FOUND ? OsResult{} : none;  // no entry matches
    }
    do {
        const Text name = AsText(found.cFileName, ::wcslen(found.cFileName));
        if (name == u"." || name == u"..") continue;
        entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return {};
}

OsResult WindowsPlatform::ReadSmallFile(const Text& path, Text& text) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Outcome(FALSE);
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
        if (bytes.size() > 65536) return {false, ERROR_FILE_TOO_LARGE};  // no marker is this long
    }
    text = FromUtf8(bytes);
    return {};
}

OsResult WindowsPlatform::ReadPart(const Text& path, std::uint64_t offset, std::uint32_t count,
                                   std::string& bytes) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return Outcome(FALSE);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return Outcome(FALSE);
    bytes.resize(count);
    DWORD got = 0;
    std::uint32_t filled = 0;
    while (filled < count &&
           ::ReadFile(file.get(), bytes.data() + filled, count - filled, &got, nullptr) &&
           got > 0) {
        filled += got;
    }
    bytes.resize(filled);
    return {};
}

OsResult WindowsPlatform::RemoveFile(const Text& path) {
    OsResult removed = Outcome(::DeleteFileW(Wide(path)));
    return removed.error == ERROR_ACCESS_DENIED ? InUseOr(removed, path) : removed;
}

OsResult WindowsPlatform::ReadFileStamp(const Text& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) return Outcome(FALSE);
    stamp.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    stamp.lastWrite = Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return {};
}

bool WindowsPlatform::IsSameFolder(const Text& a, const Text& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return IdentityOf(a, first) && IdentityOf(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

OsResult WindowsPlatform::HoldLockFile(const Text& path) {
    // Every sharing is allowed, so only the lock itself refuses; a byte-range
    // lock holds across Wine prefixes, where sharing modes do not. Write
    // access too: Wine locks a file open only for reading with a shared
    // lock, which another prefix does not see as held.
    auto open = [&] {
        return ::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE lock = open();
    OsResult opened = Outcome(lock != INVALID_HANDLE_VALUE);
    // A read-only lock file (copied from a disc with the rest, say) is no
    // reason to go without the lock. The open's own error is kept: the
    // attribute calls would overwrite it.
    if (opened.error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = ::GetFileAttributesW(Wide(path));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
            ::SetFileAttributesW(Wide(path), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            lock = open();
            opened = Outcome(lock != INVALID_HANDLE_VALUE);
        }
    }
    if (!opened) return opened;
    OVERLAPPED first{};
    if (!::LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first)) {
        OsResult refused = Outcome(FALSE);
        ::CloseHandle(lock);
        return refused;
    }
    // Never closed by the launcher: the lock goes with the process.
    ArchiveLock = lock;
    return {};
}

Text WindowsPlatform::FullPath(const Text& path) {
    DWORD needed = ::GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    DWORD length = ::GetFullPathNameW(Wide(path), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    return AsText(full.c_str(), length);
}

Text WindowsPlatform::ErrorText(std::uint32_t error) {
    wchar_t* message = nullptr;
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    Text text = message ? AsText(message, length) : Text();
    if (message) ::LocalFree(message);
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
    if (text.empty()) text = u"Error " + DecimalText(error);
    return text;
}

void WindowsPlatform::Pause(std::uint32_t milliseconds) {
    // Asleep, but the hidden window goes on answering: a sent message (the
    // session's end, say) must not wait for the pause to pass.
    const DWORD start = ::GetTickCount();
    for (DWORD elapsed = 0; elapsed < milliseconds; elapsed = ::GetTickCount() - start) {
        if (::MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0) {
            window_.ProcessMessages();
        }
    }
}

OsHandle WindowsPlatform::AppWindow() { return reinterpret_cast<OsHandle>(window_.Handle()); }

namespace {

// The system's error code for a start that failed. The start leaves it as
// the thread's last error; where it does not, its result code (at most 32,
// the same numbers for the errors both know) is turned into one.
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
            return result > 0 && result < 32 ? static_cast<std::uint32_t>(result)
                                             : ERROR_BAD_FORMAT;
    }
}

}  // namespace

OsResult WindowsPlatform::StartGame(const LaunchRequest& request) {
    // Filled in the record's own order; every field not named stays zero.
    ZeroMemory(&LaunchInfo, sizeof LaunchInfo);
    LaunchInfo.cbSize = sizeof LaunchInfo;
    // No box of the system's: it would block a caller that reads the
    // launcher's output, and the launcher says itself why the game did not start.
    LaunchInfo.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    LaunchInfo.hwnd = reinterpret_cast<HWND>(request.ownerWindow);
    LaunchInfo.lpFile = Wide(request.file);
    LaunchInfo.lpParameters = Wide(request.parameters);
    LaunchInfo.lpDirectory = Wide(request.directory);
    LaunchInfo.nShow = SW_SHOWNORMAL;
    ::SetLastError(ERROR_SUCCESS);
    if (::ShellExecuteExW(&LaunchInfo)) return {};
    return {false, StartError(LaunchInfo)};
}

bool WindowsPlatform::GameHasEnded() {
    // A game that cannot be watched counts as ended: there is no process to wait for.
    HANDLE game = LaunchInfo.hProcess;
    return !game || ::WaitForSingleObject(game, 0) != WAIT_TIMEOUT;
}

void WindowsPlatform::ProcessMessages() { window_.ProcessMessages(); }

bool WindowsPlatform::Terminated() { return window_.Terminated(); }

void WindowsPlatform::AwaitGameOrMessage() {
    // Sleeps until the game ends or a message (posted, sent or input) waits.
    HANDLE game = LaunchInfo.hProcess;
    ::MsgWaitForMultipleObjectsEx(1, &game, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void WindowsPlatform::ShowMessage(MessageKind kind, const Text& text) {
    // No owner: the hidden window would keep the box out of the taskbar.
    const UINT icon = kind == MessageKind::Warning ? MB_ICONWARNING : MB_ICONERROR;
    ::MessageBoxW(nullptr, Wide(text), window_.Title().c_str(),
                  MB_OK | icon | MB_TASKMODAL | MB_SETFOREGROUND);
}

OsHandle WindowsPlatform::StdOutput() {
    return reinterpret_cast<OsHandle>(::GetStdHandle(STD_OUTPUT_HANDLE));
}

std::uint32_t WindowsPlatform::FileType(OsHandle handle) { return ::GetFileType(AsHandle(handle)); }

void WindowsPlatform::CloseOsHandle(OsHandle handle) { ::CloseHandle(AsHandle(handle)); }

OsResult WindowsPlatform::WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) {
    DWORD written;
    return Outcome(::WriteFile(AsHandle(handle), bytes, count, &written, nullptr));
}

std::string WindowsPlatform::ToAnsi(TextView text) {
    if (text.empty()) return {};
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    int length = static_cast<int>(text.size());
    UINT codePage = ::GetACP();
    int size = ::WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, wide, length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

void WindowsPlatform::TeardownShell() { window_.Teardown(); }

void WindowsPlatform::EndProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }
