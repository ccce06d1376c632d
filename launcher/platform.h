#pragma once
// The seam between the launcher's logic and Windows, one small interface per
// concern: the program's inputs, the files, the game and its wait, and what
// the player is told. It lists only the calls the logic makes, under our own
// names (windows.h turns CopyFile and friends into macros). platform/
// implements them over the real calls; the unit tests implement them with a
// fake that records calls and fails on demand. Each part of the logic uses
// the one it needs: the archives only the files.
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/text.h"

// The platform's constants that the logic compares against: Windows' own
// numbers (platform/windows_platform.cpp holds them to it).
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeHidden = 0x02;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorBadFormat = 11;
constexpr std::uint32_t kErrorOutOfMemory = 14;
constexpr std::uint32_t kErrorWriteProtect = 19;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorLockViolation = 33;
constexpr std::uint32_t kErrorHandleDiskFull = 39;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorBadPathName = 161;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorInvalidExeSignature = 191;
constexpr std::uint32_t kErrorBadExeFormat = 193;
constexpr std::uint32_t kErrorFileNameTooLong = 206;
constexpr std::uint32_t kErrorExeMachineTypeMismatch = 216;
constexpr std::uint32_t kErrorElevationRequired =
    740;  // ERROR_ELEVATION_REQUIRED: no mingw-w64 header names it
constexpr std::uint32_t kFileTypeUnknown = 0;
constexpr std::uint32_t kFileTypeChar = 2;

// What every call that can fail gives back: whether it succeeded and, when
// not, the system's error, read at once so that no later call can overwrite
// it. A caller that drops one says why.
struct [[nodiscard]] OsResult {
    bool ok = true;
    std::uint32_t error = 0;
    explicit operator bool() const { return ok; }
};

// An attribute query: a call's outcome like any other, and the attribute
// bits it read (kInvalidFileAttributes when it failed).
struct AttributeQuery : OsResult {
    std::uint32_t attributes = kInvalidFileAttributes;
};

// What tells one version of a file from another without reading it: its
// size and last-write time (a copy keeps its source's last-write time).
struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    bool operator==(const FileStamp& o) const { return size == o.size && lastWrite == o.lastWrite; }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// Which file a name leads to, whatever its spelling: the volume and the
// file's index on it. Two names of one file (a linked folder, a hard link,
// a short name, another case) give the same identity.
struct FileIdentity {
    std::uint32_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// Which file a name leads to, its stamp and its change time, as one look
// saw them. The change time is the volume's own: where it moves with any
// change of the file's bytes, its times, its attributes or its names, an
// unchanged one says that nothing wrote the file meanwhile; but some
// volumes keep none (0), and some follow the last-write time with it (exFAT
// under Wine). The platform gives it as the system does; only the gate's
// look (LookAt) decides, by what the volume was seen to do in this run,
// whether it proves anything. Equal looks are by identity and stamp: the
// launcher's own renames and attribute changes move the change time.
struct FileLook {
    FileIdentity identity;
    FileStamp stamp;
    std::uint64_t changeTime = 0;
    bool operator==(const FileLook& o) const { return identity == o.identity && stamp == o.stamp; }
};

// How a message to the player is shown when there is no standard output.
enum class MessageKind { Warning, Error };

// A window or kernel handle, as the platform gives it.
using OsHandle = std::uintptr_t;
constexpr OsHandle kInvalidHandle = ~OsHandle{0};

// One entry of a folder: its name alone, and whether it is a folder.
struct FolderEntry {
    Text name;
    bool isFolder = false;
};

// What the game is started with; the texts stay alive until StartGame returns.
struct LaunchRequest {
    OsHandle ownerWindow;
    const Text& file;
    const Text& parameters;
    const Text& directory;
};

// The launcher's working folder and command line.
class ProgramInputs {
public:
    // Copies the working folder into the buffer when it fits (`length`
    // units, the zero included) and returns its length; otherwise returns
    // the room it needs, zero included.
    virtual std::uint32_t CurrentDirectory(std::uint32_t length, char16_t* buffer) = 0;
    virtual const char16_t* CommandLine() = 0;
    // The next character as the system counts them (a surrogate pair is one).
    virtual const char16_t* NextChar(const char16_t* position) = 0;
    // The full path of the launcher's own program file; empty when the
    // system cannot give it.
    virtual Text ProgramPath() = 0;

protected:
    ~ProgramInputs() = default;
};

// Files and folders. Paths may hold "..": the system resolves them.
//
// Contracts the logic relies on:
// - "Access denied" from MoveOver, MoveToFreeName and RemoveFile is turned
//   into kErrorSharingViolation when another program holds the file open:
//   Windows says "access denied" for both, and the player's advice ("close
//   the program", or "give your account write access") depends on which.
// - A rename is one step: a crash leaves the old name or the new, never
//   half a file.
class FileSystem {
public:
    virtual AttributeQuery FileAttributes(const Text& path) = 0;
    virtual OsResult SetAttributes(const Text& path, std::uint32_t attributes) = 0;
    // The attributes of a directory entry, by a search of its folder: it
    // finds what the attribute query may be refused (a file in use, say).
    virtual AttributeQuery FindEntry(const Text& path) = 0;
    virtual OsResult MakeFolder(const Text& path) = 0;
    // Replaces an existing target. A copy cut short (killed, disk full)
    // leaves its target torn.
    virtual OsResult CopyWholeFile(const Text& from, const Text& to) = 0;
    virtual OsResult FlushToDisk(const Text& path) = 0;
    // Writes the text as UTF-8, replacing the file, and flushes it to disk.
    virtual OsResult WriteNewFile(const Text& path, TextView content) = 0;
    // Renames the file over the target in one step, replacing it. It asks
    // for the rename to be written through, which Windows honours and Wine
    // does not: only a later flush puts it on the disk there.
    virtual OsResult MoveOver(const Text& from, const Text& to) = 0;
    // Renames the file to a name that must be free, in one step: when
    // anything holds that name the call fails with kErrorAlreadyExists (or
    // kErrorFileExists) and nothing changes. So what another program put
    // there a moment before is never replaced.
    virtual OsResult MoveToFreeName(const Text& from, const Text& to) = 0;
    // The entries of a folder whose names match the pattern ("*" and "?"
    // wildcards, as the system reads them), "." and ".." left out. No entry
    // matching is success with none.
    virtual OsResult ListFolder(const Text& pattern, std::vector<FolderEntry>& entries) = 0;
    // Reads a small UTF-8 text file whole. A read that fails is a failure,
    // never the file's end.
    virtual OsResult ReadSmallFile(const Text& path, Text& text) = 0;
    // Up to `count` bytes from `offset` on; fewer only at the file's end. A
    // read that fails (another program's locked range, a bad sector, a share
    // that drops) is a failure with the system's error, never a short part.
    virtual OsResult ReadPart(const Text& path, std::uint64_t offset, std::uint32_t count,
                              std::string& bytes) = 0;
    virtual OsResult RemoveFile(const Text& path) = 0;
    // Makes an empty file under a name that must be free: when anything
    // holds the name the call fails with kErrorFileExists (or
    // kErrorAlreadyExists) and nothing changes.
    virtual OsResult MakeNewFile(const Text& path) = 0;
    // Sets the file's last-write time, as any program may.
    virtual OsResult SetLastWriteTime(const Text& path, std::uint64_t time) = 0;
    virtual OsResult ReadFileStamp(const Text& path, FileStamp& stamp) = 0;
    // Which file the path leads to; read without access to its contents.
    virtual OsResult ReadFileIdentity(const Text& path, FileIdentity& identity) = 0;
    // The file's identity, stamp and change time, read through one open
    // without access to its contents.
    virtual OsResult ReadFileLook(const Text& path, FileLook& look) = 0;
    // Opens the file for reading, shared for reading and deleting only: until
    // the handle is closed (LetWritersIn) no program can open it to write,
    // while it may still be renamed. Fails with kErrorSharingViolation while
    // another program has it open to write.
    virtual OsResult KeepWritersOut(const Text& path, OsHandle& handle) = 0;
    // The time now, in the units of file times (100 ns since 1601), from
    // the clock the file system stamps files with.
    virtual std::uint64_t SystemTime() = 0;
    virtual void LetWritersIn(OsHandle handle) = 0;
    // Whether two paths name one folder, by its identity, not its spelling;
    // false too when either cannot be opened.
    virtual bool IsSameFolder(const Text& one, const Text& other) = 0;
    // Creates or opens the file, sharing it with everyone, and locks its
    // first byte until the process ends: the system lets go of the lock then,
    // however the process ends. The file itself stays. A lock held by
    // another process fails with kErrorLockViolation (or, for a launcher of
    // an earlier release holding the file unshared, kErrorSharingViolation).
    virtual OsResult HoldLockFile(const Text& path) = 0;
    // The path made absolute and without "." and ".." names, for the
    // player's eyes; the path as given when the system cannot.
    virtual Text FullPath(const Text& path) = 0;
    // Waits this long before a change is tried again, answering the
    // thread's messages meanwhile.
    virtual void Pause(std::uint32_t milliseconds) = 0;

protected:
    ~FileSystem() = default;
};

// The game's process, owned by the application window, and the wait for
// its end on the thread's message queue.
class GameSession {
public:
    virtual OsHandle AppWindow() = 0;
    // Starts the game without any box of the system's: a game that cannot be
    // started is the launcher's to tell. The error says why it did not start.
    virtual OsResult StartGame(const LaunchRequest& request) = 0;
    // The game's process has ended (or cannot be watched), whatever its code.
    virtual bool GameHasEnded() = 0;
    // One pump step: takes and handles every waiting message, never waits.
    virtual void ProcessMessages() = 0;
    // A quit message has been taken (the session is ending).
    virtual bool Terminated() = 0;
    // Sleeps until the game ends or a message waits.
    virtual void AwaitGameOrMessage() = 0;
    // The program files of the running processes whose file has this name
    // (in any case), by their full paths: which of them is this game's is
    // the caller's to tell, by the file's identity. A process whose path the
    // system will not give is left out.
    virtual std::vector<Text> RunningProgramsNamed(const Text& fileName) = 0;

protected:
    ~GameSession() = default;
};

// What the player is told: standard output, or a box where there is none.
class PlayerOutput {
public:
    // The process's standard output; kInvalidHandle when it has none.
    virtual OsHandle StdOutput() = 0;
    // kFileTypeUnknown for a null handle: no standard output after all.
    virtual std::uint32_t FileType(OsHandle handle) = 0;
    virtual void CloseOsHandle(OsHandle handle) = 0;
    virtual OsResult WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) = 0;
    // Whether the handle is a console's: there text goes as UTF-16, so that
    // every character shows, whatever the code page.
    virtual bool IsConsole(OsHandle handle) = 0;
    virtual OsResult WriteConsoleText(OsHandle handle, const char16_t* units,
                                      std::uint32_t count) = 0;
    // The text in the system's ANSI code page, as consoles and callers read it.
    virtual std::string ToAnsi(TextView text) = 0;
    // A box with OK, titled with the application window's title; false when
    // it could not be shown.
    virtual bool ShowMessage(MessageKind kind, const Text& text) = 0;
    // The system's own words for an error code; "Error <n>" when it has none.
    virtual Text ErrorText(std::uint32_t error) = 0;

protected:
    ~PlayerOutput() = default;
};

// The end of the process.
class ProcessEnd {
public:
    [[noreturn]] virtual void EndProcess(std::uint32_t exitCode) = 0;

protected:
    ~ProcessEnd() = default;
};

// The platform the launcher runs on, one object for every concern; the
// program's entry (or a test) installs it once, and each part of the logic
// reaches only the concern it uses.
class Platform : public ProgramInputs,
                 public FileSystem,
                 public GameSession,
                 public PlayerOutput,
                 public ProcessEnd {
public:
    virtual ~Platform() = default;
};

void UsePlatform(Platform* platform);
ProgramInputs& Inputs();
FileSystem& Files();
GameSession& Game();
PlayerOutput& Output();
ProcessEnd& Process();
