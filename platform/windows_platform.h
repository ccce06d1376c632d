#pragma once
// The launcher's seam, every part of it, implemented over the real Windows
// calls and the application window that the program's entry hands over.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <winternl.h>

#include <map>
#include <string>
#include <tuple>

#include "launcher/platform.h"

// What the platform needs of the application window: the program's entry
// implements it over its window, so the platform knows nothing of the shell.
class AppWindowAccess {
public:
    virtual HWND Handle() = 0;
    virtual const std::wstring& Title() = 0;
    // One pump step: takes and handles every waiting message, never waits.
    virtual void ProcessMessages() = 0;
    // A quit message has been taken.
    virtual bool Terminated() = 0;

protected:
    ~AppWindowAccess() = default;
};

// A volume's size and units, which every file of it reports alike.
struct VolumeShape {
    std::uint64_t units = 0;
    DWORD sectorsPerUnit = 0;
    DWORD bytesPerSector = 0;
    bool operator<(const VolumeShape& o) const {
        return std::tie(units, sectorsPerUnit, bytesPerSector) <
               std::tie(o.units, o.sectorsPerUnit, o.bytesPerSector);
    }
};

class WindowsPlatform final : public Platform {
public:
    explicit WindowsPlatform(AppWindowAccess& window) : window_(window) {}

    // ProgramInputs
    std::uint32_t CurrentDirectory(std::uint32_t length, char16_t* buffer) override;
    const char16_t* CommandLine() override;
    const char16_t* NextChar(const char16_t* position) override;
    Text ProgramPath() override;
    // FileSystem
    AttributeQuery FileAttributes(const Text& path) override;
    OsResult SetAttributes(const Text& path, std::uint32_t attributes) override;
    AttributeQuery FindEntry(const Text& path) override;
    OsResult MakeFolder(const Text& path) override;
    OsResult CopyWholeFile(const Text& from, const Text& to) override;
    OsResult FlushToDisk(const Text& path) override;
    OsResult WriteNewFile(const Text& path, TextView content) override;
    OsResult MoveOver(const Text& from, const Text& to) override;
    OsResult MoveToFreeName(const Text& from, const Text& to) override;
    OsResult ListFolder(const Text& pattern, std::vector<FolderEntry>& entries) override;
    OsResult ReadSmallFile(const Text& path, Text& text) override;
    OsResult ReadPart(const Text& path, std::uint64_t offset, std::uint32_t count,
                      std::string& bytes) override;
    OsResult RemoveFile(const Text& path) override;
    OsResult MakeNewFile(const Text& path) override;
    OsResult SetLastWriteTime(const Text& path, std::uint64_t time) override;
    OsResult ReadFileStamp(const Text& path, FileStamp& stamp) override;
    OsResult ReadFileIdentity(const Text& path, FileIdentity& identity) override;
    OsResult ReadFileLook(const Text& path, FileLook& look) override;
    OsResult KeepWritersOut(const Text& path, OsHandle& handle) override;
    void LetWritersIn(OsHandle handle) override;
    std::uint64_t SystemTime() override;
    bool IsSameFolder(const Text& one, const Text& other) override;
    OsResult HoldLockFile(const Text& path) override;
    Text FullPath(const Text& path) override;
    void Pause(std::uint32_t milliseconds) override;
    // GameSession
    OsHandle AppWindow() override;
    OsResult StartGame(const LaunchRequest& request) override;
    bool GameHasEnded() override;
    void ProcessMessages() override;
    bool Terminated() override;
    void AwaitGameOrMessage() override;
    std::vector<Text> RunningProgramsNamed(const Text& fileName) override;
    // PlayerOutput
    OsHandle StdOutput() override;
    std::uint32_t FileType(OsHandle handle) override;
    void CloseOsHandle(OsHandle handle) override;
    OsResult WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) override;
    bool IsConsole(OsHandle handle) override;
    OsResult WriteConsoleText(OsHandle handle, const char16_t* units, std::uint32_t count) override;
    std::string ToAnsi(TextView text) override;
    bool ShowMessage(MessageKind kind, const Text& text) override;
    Text ErrorText(std::uint32_t error) override;
    // ProcessEnd
    [[noreturn]] void EndProcess(std::uint32_t exitCode) override;

private:
    AppWindowAccess& window_;
    // The record the game was started with. Only its process handle is read
    // after the start (its texts were the request's); the handle stays open
    // until the launcher's own process ends, so the wait can always ask it.
    SHELLEXECUTEINFOW gameStart_{};
    // The lock on the game's archives. Never closed by the launcher: the lock
    // must last as long as the process, through a failure report too, and
    // the system lets go of it however the process ends.
    HANDLE archiveLock_ = nullptr;
    // Each volume's serial number, by the shape every file of it reports
    // alike, read locally. Asking the volume costs a call to Wine's mount
    // manager, a round trip to another process, so each volume is asked
    // once. Two volumes of the very same shape would share the first's
    // serial: that can only make two files look like one, and a file that
    // looks like the one that goes proves nothing.
    std::map<VolumeShape, DWORD> serials_;
    bool VolumeSerialOf(HANDLE file, DWORD& serial);
    // The file's identity through a handle open on it.
    OsResult IdentityThrough(HANDLE file, FileIdentity& identity);
};

// Text as the wchar_t that Windows takes: both are UTF-16 here.
inline const wchar_t* Wide(const Text& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
