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
    std::map<Text, std::deque<std::uint32_t>> copyErrors;  // target -> error of each failing try
    std::set<Text> flushFails;
    std::set<Text> writeFails;
    std::map<Text, std::uint32_t> attributeQueryErrors;  // the query fails, the search finds it
    std::string throwBadAllocAt;                         // a call name, e.g. "AppWindow"

    // The game: the result of ShellExecuteExW and the exit code of each poll
    // (the last one repeats). An empty script makes the poll fail.
    bool startSucceeds = true;
    std::deque<std::uint32_t> exitCodes{0};
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

    std::vector<std::string> log;

    // Platform
    std::uint32_t CurrentDirectory(std::uint32_t length, char16_t* buffer) override;
    const char16_t* CommandLine() override;
    const char16_t* NextChar(const char16_t* position) override;
    std::uint32_t FileAttributes(const Text& path) override;
    bool SetAttributes(const Text& path, std::uint32_t attributes) override;
    std::uint32_t LastError() override;
    bool FindEntry(const Text& path, std::uint32_t& attributes) override;
    bool MakeFolder(const Text& path) override;
    bool CopyWholeFile(const Text& from, const Text& to) override;
    bool FlushToDisk(const Text& path) override;
    bool WriteNewFile(const Text& path, TextView content) override;
    bool RemoveFile(const Text& path) override;
    void Pause(std::uint32_t milliseconds) override;
    OsHandle AppWindow() override;
    bool StartGame(const LaunchRequest& request) override;
    bool PollGameExitCode(std::uint32_t& exitCode) override;
    void ProcessMessages() override;
    bool Terminated() override;
    void AwaitGameOrMessage() override;
    OsHandle StdOutput() override;
    std::uint32_t FileType(OsHandle handle) override;
    void CloseOsHandle(OsHandle handle) override;
    bool WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) override;
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
    std::uint32_t lastError_ = 0;
    int pumps_ = 0;
    bool terminated_ = false;
};

// UTF-16 to UTF-8 for messages and logs.
std::string Narrow(TextView text);
