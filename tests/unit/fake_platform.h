#pragma once
// A platform in memory: a small file tree that resolves ".." as Windows
// does, a scripted game, a captured standard output and a log of every call
// the launcher made, in order. It fails on demand where a real disk won't.
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/platform.h"

// What EndProcess throws, so a test sees the exit code.
struct ProcessEnded {
    std::uint32_t exitCode;
};

struct FakeFile {
    std::string bytes;
    std::uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
    std::uint64_t lastWrite = 0;
};

class FakePlatform : public Platform {
public:
    // Installs itself as the launcher's platform and resets the launcher's globals.
    FakePlatform();
    ~FakePlatform() override;

    // The file tree. Paths are absolute, or relative to `base` when they do
    // not start with a drive.
    Text base = u"C:\\G\\mods\\mymod\\";
    void AddFolder(const Text& path);
    void AddFile(const Text& path, const std::string& bytes, std::uint32_t attributes = 0x20);
    bool HasFile(const Text& path) const;
    bool HasFolder(const Text& path) const;
    std::string Content(const Text& path) const;  // "<none>" when absent
    std::uint32_t Attributes(const Text& path) const;

    // The launcher's inputs.
    Text currentDirectory = u"C:\\G\\mods\\mymod";
    Text commandLine = u"ModLauncher.exe";

    // Failures on demand, by call name and path relative to `base`.
    // target -> the error of each try in turn (0: that try goes through)
    std::map<Text, std::deque<std::uint32_t>> copyErrors;
    std::set<Text> flushFails;
    std::set<Text> writeFails;
    std::map<Text, std::uint32_t> attributeQueryErrors;  // the query fails, the search finds it
    std::map<Text, std::uint32_t> folderErrors;          // CreateDirectoryW fails with this
    std::set<Text> attributesKept;  // SetFileAttributesW fails (another account's file)
    std::string throwBadAllocAt;    // a call name, e.g. "AppWindow"
    // The lock file: taken by this run, or failing with an error (32: held
    // by another launcher).
    std::uint32_t lockError = 0;
    bool lockHeld = false;
    // The last-write time a copy or a write gives its target, when it has no
    // source to take one from; every file keeps one.
    std::uint64_t clock = 1000;

    // The game: the result of ShellExecuteExW (startError: it failed with
    // this error) and the exit code of each poll
    // (the last one repeats). An empty script makes the poll fail. The game
    // has ended once a poll reads anything but 259, or after endAfterPolls.
    bool startSucceeds = true;
    std::uint32_t startError = 193;  // ERROR_BAD_EXE_FORMAT
    std::deque<std::uint32_t> exitCodes{0};
    int endAfterPolls = -1;
    int terminateAfterPumps = -1;  // a quit message taken in that pump step
    Text startedFile, startedParameters, startedDirectory;
    OsHandle startedOwner = 0;
    OsHandle appWindow = 0x1234;
    // What the live archive held when the game was started.
    std::string liveArchiveAtStart;

    // Standard output: the handle GetStdHandle gives, its file type, and
    // which writes fail with which error.
    OsHandle stdOutput = 0x50;
    std::uint32_t stdOutputType = 1;  // FILE_TYPE_DISK
    std::uint32_t writeError = 0;
    std::vector<std::string> writes;  // each WriteFile call's bytes
    // The boxes shown, "warning: <text>" or "error: <text>".
    std::vector<std::string> boxes;

    std::vector<std::string> log;

    // Platform
    std::uint32_t CurrentDirectory(std::uint32_t length, char16_t* buffer) override;
    const char16_t* CommandLine() override;
    const char16_t* NextChar(const char16_t* position) override;
    AttributeQuery FileAttributes(const Text& path) override;
    bool SetAttributes(const Text& path, std::uint32_t attributes) override;
    bool FindEntry(const Text& path, std::uint32_t& attributes) override;
    OsResult MakeFolder(const Text& path) override;
    OsResult CopyWholeFile(const Text& from, const Text& to) override;
    OsResult FlushToDisk(const Text& path) override;
    OsResult WriteNewFile(const Text& path, TextView content) override;
    bool ReadSmallFile(const Text& path, std::string& bytes) override;
    bool RemoveFile(const Text& path) override;
    bool ReadFileStamp(const Text& path, FileStamp& stamp) override;
    bool IsSameFolder(const Text& a, const Text& b) override;
    OsResult HoldLockFile(const Text& path) override;
    Text FullPath(const Text& path) override;
    Text ErrorText(std::uint32_t error) override;
    void Pause(std::uint32_t milliseconds) override;
    OsHandle AppWindow() override;
    OsResult StartGame(const LaunchRequest& request) override;
    bool PollGameExitCode(std::uint32_t& exitCode) override;
    bool GameHasEnded() override;
    void ProcessMessages() override;
    bool Terminated() override;
    void AwaitGameOrMessage() override;
    void ShowMessage(MessageKind kind, const Text& text) override;
    OsHandle StdOutput() override;
    std::uint32_t FileType(OsHandle handle) override;
    void CloseOsHandle(OsHandle handle) override;
    OsResult WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) override;
    std::string ToAnsi(TextView text) override;
    void TeardownShell() override;
    [[noreturn]] void EndProcess(std::uint32_t exitCode) override;

private:
    Text Resolve(const Text& path) const;
    Text Relative(const Text& path) const;
    std::string Shown(const Text& path) const;
    void Call(const std::string& entry);

    std::map<Text, FakeFile> files_;
    std::set<Text> folders_;
    int pumps_ = 0;
    int polls_ = 0;
    std::uint32_t lastPolled_ = 0;
    bool terminated_ = false;
};

// UTF-16 to UTF-8 for messages and logs.
std::string Narrow(TextView text);
