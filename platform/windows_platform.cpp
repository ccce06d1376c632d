#include "platform/windows_platform.h"

#include "platform/unique_handle.h"
#include "platform/utf8.h"
#include "shell/app_shell.h"

SHELLEXECUTEINFOW LaunchInfo;

// The launcher's wait and the game's parameters rely on the 32-bit layout.
static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60,
              "SHELLEXECUTEINFOW must have its 32-bit layout of 60 bytes");

namespace {

HANDLE AsHandle(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }

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

std::uint32_t WindowsPlatform::FileAttributes(const Text& path) {
    return ::GetFileAttributesW(Wide(path));
}

bool WindowsPlatform::SetAttributes(const Text& path, std::uint32_t attributes) {
    return ::SetFileAttributesW(Wide(path), attributes);
}

std::uint32_t WindowsPlatform::LastError() { return ::GetLastError(); }

bool WindowsPlatform::FindEntry(const Text& path, std::uint32_t& attributes) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Wide(path), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    attributes = found.dwFileAttributes;
    return true;
}

bool WindowsPlatform::MakeFolder(const Text& path) {
    return ::CreateDirectoryW(Wide(path), nullptr);
}

bool WindowsPlatform::CopyWholeFile(const Text& from, const Text& to) {
    return ::CopyFileW(Wide(from), Wide(to), FALSE);
}

bool WindowsPlatform::FlushToDisk(const Text& path) {
    // Flushing needs the file open for writing; a copy inherits a read-only
    // attribute from its source, so that is cleared for as long as it takes.
    DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly) ::SetFileAttributesW(Wide(path), attributes & ~FILE_ATTRIBUTE_READONLY);
    bool flushed;
    {
        UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        flushed = file && ::FlushFileBuffers(file.get());
    }
    if (readOnly) ::SetFileAttributesW(Wide(path), attributes);
    return flushed;
}

bool WindowsPlatform::WriteNewFile(const Text& path, TextView content) {
    const std::string bytes =
        Utf8({reinterpret_cast<const wchar_t*>(content.data()), content.size()});
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size() && ::FlushFileBuffers(file.get());
}

bool WindowsPlatform::RemoveFile(const Text& path) { return ::DeleteFileW(Wide(path)); }

void WindowsPlatform::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

OsHandle WindowsPlatform::AppWindow() { return reinterpret_cast<OsHandle>(Application.Handle); }

bool WindowsPlatform::StartGame(const LaunchRequest& request) {
    // Filled in the record's own order; every field not named stays zero.
    ZeroMemory(&LaunchInfo, sizeof LaunchInfo);
    LaunchInfo.cbSize = sizeof LaunchInfo;
    LaunchInfo.fMask = SEE_MASK_NOCLOSEPROCESS;
    LaunchInfo.hwnd = reinterpret_cast<HWND>(request.ownerWindow);
    LaunchInfo.lpFile = Wide(request.file);
    LaunchInfo.lpParameters = Wide(request.parameters);
    LaunchInfo.lpDirectory = Wide(request.directory);
    LaunchInfo.nShow = SW_SHOWNORMAL;
    return ::ShellExecuteExW(&LaunchInfo);
}

bool WindowsPlatform::PollGameExitCode(std::uint32_t& exitCode) {
    DWORD code;
    if (!::GetExitCodeProcess(LaunchInfo.hProcess, &code)) return false;
    exitCode = code;
    return true;
}

void WindowsPlatform::ProcessMessages() { ::ProcessMessages(Application); }

bool WindowsPlatform::Terminated() { return Application.Terminated; }

void WindowsPlatform::AwaitGameOrMessage() {
    // Sleeps until the game ends or a message (posted, sent or input) waits.
    // A game that ended with the code 259 looks alive to the poll while its
    // handle is signalled: then only a message can change anything.
    HANDLE game = LaunchInfo.hProcess;
    DWORD count = game && ::WaitForSingleObject(game, 0) == WAIT_TIMEOUT ? 1 : 0;
    ::MsgWaitForMultipleObjectsEx(count, count ? &game : nullptr, INFINITE, QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
}

OsHandle WindowsPlatform::StdOutput() {
    return reinterpret_cast<OsHandle>(::GetStdHandle(STD_OUTPUT_HANDLE));
}

std::uint32_t WindowsPlatform::FileType(OsHandle handle) { return ::GetFileType(AsHandle(handle)); }

void WindowsPlatform::CloseOsHandle(OsHandle handle) { ::CloseHandle(AsHandle(handle)); }

bool WindowsPlatform::WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) {
    DWORD written;
    return ::WriteFile(AsHandle(handle), bytes, count, &written, nullptr);
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

void WindowsPlatform::TeardownShell() { TeardownAppShell(Application); }

void WindowsPlatform::EndProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }
