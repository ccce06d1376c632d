#pragma once
// A platform in memory: a small file tree that resolves ".." as Windows
// does, a scripted game, a captured standard output and a log of every call
// the launcher made, in order. It fails on demand where a real disk won't.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "launcher/layout.h"
#include "launcher/platform.h"
#include "launcher/run_record.h"

// What EndProcess throws, so a test sees the exit code.
struct ProcessEnded {
    std::uint32_t exitCode;
};

struct FakeFile {
    std::string bytes;
    std::uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
    std::uint64_t lastWrite = 0;
    bool operator==(const FakeFile& o) const {
        return bytes == o.bytes && attributes == o.attributes && lastWrite == o.lastWrite;
    }
    bool operator!=(const FakeFile& o) const { return !(*this == o); }

    auto Fields() const { return std::tie(bytes, attributes, lastWrite); }
    bool operator<(const FakeFile& other) const { return Fields() < other.Fields(); }
};

// A small model of a disk behind a cache. Names point at files; a file's
// bytes reach the disk when it is flushed. The names' changes (creates,
// renames, removes) form one ordered journal, and a flush of any file
// commits every change before it. How a rename reaches the disk depends on
// the model:
// - WriteThrough, as Windows does for a move asked to be written through:
//   such a rename commits the journal too; a power cut keeps only what was
//   committed.
// - Journal, as Wine on ext4 does (it ignores write-through): a rename is an
//   ordinary change, and a power cut keeps the committed changes and any
//   prefix of the rest.
// Either way a file's unflushed bytes may be lost even where its name stays;
// a kill keeps everything.
// A mod's archive or its backup, by the fake disk's name for it: the mod's
// own files, which a mod update or a mod manager replaces whenever it likes.
bool IsModsFile(const Text& key);

struct FakeDisk {
    enum class Model { WriteThrough, Journal };
    struct Node {
        FakeFile now;      // what a reader sees
        FakeFile durable;  // what is on the disk
        // The change time, as the system keeps it: moved by any change of the
        // file's bytes, times or attributes (a test's own included, seen at
        // the next read) and by each rename.
        std::uint64_t changeTime = 0;
        FakeFile changeSeen{};
        int moves = 0;
        int movesSeen = 0;
        // The change time moves to `time`, for all that is now.
        void StampChange(std::uint64_t time) {
            changeTime = time;
            changeSeen = now;
            movesSeen = moves;
        }

        auto Fields() const {
            return std::tie(now, durable, changeTime, changeSeen, moves, movesSeen);
        }
        bool operator<(const Node& other) const { return Fields() < other.Fields(); }
    };
    // One change of names, made at once: (name, node), node 0 for a name gone.
    using NameChange = std::vector<std::pair<Text, int>>;
    Model model = Model::WriteThrough;
    std::map<Text, int> names;         // full path -> node
    std::map<Text, int> durableNames;  // the names as last committed
    std::vector<NameChange> pending;   // the changes since, in order
    std::map<int, Node> nodes;
    std::set<Text> folders;  // made once and kept: no test needs a folder to vanish
    // Second names of folders (a linked folder, a junction), full path ->
    // the folder they lead to: a path through one is the same file. The
    // link is listed in its folder as a folder of its own.
    std::map<Text, Text> folderLinks;
    int nextNode = 1;
    // The archive that the game calls its own now (empty: it has none); a
    // game update changes it. The tests check the disk against it.
    std::string gamesArchive;
    // Every version of the game's archive that must not be lost: the
    // first, and each update once written; one that another program itself
    // destroyed (its last copy overwritten or deleted) leaves the list.
    std::vector<std::string> versions;

    // Every field above: two disks that order neither way are the same disk,
    // and a run from either does the same (the enumerations count on it to
    // run a disk they met before only once). A field added above goes here
    // too; the size check after the class says when one is missing.
    auto Fields() const {
        return std::tie(model, names, durableNames, pending, nodes, folders, folderLinks, nextNode,
                        gamesArchive, versions);
    }
    bool operator<(const FakeDisk& other) const { return Fields() < other.Fields(); }

    const FakeFile* Find(const Text& key) const;
    FakeFile* Find(const Text& key);
    // Puts new bytes under the name: into the file already there, or a new one.
    void Write(const Text& key, const FakeFile& file);
    // A file that is on the disk already, as a test sets it up.
    void Settle(const Text& key, const FakeFile& file);
    void Remove(const Text& key);
    void Move(const Text& from, const Text& to);
    void Flush(const Text& key);
    void Commit();
    // A rename asked to be written through: committed in the WriteThrough model.
    void WrittenThrough();
    // The disk as a power cut leaves it: the committed names and the first
    // `prefix` pending changes, and the flushed bytes; `torn`, when set,
    // keeps the first half of its cached bytes.
    FakeDisk PowerCut(std::size_t prefix, int torn = 0) const;
    // The files named in that state whose bytes have not all reached the disk.
    std::vector<int> Unflushed(std::size_t prefix) const;
    // How many files hold these bytes, one name left out. A mod's files
    // are not counted: they hold no version of the game's archive.
    int Copies(const std::string& bytes, const Text& except = Text()) const;
    // Takes a version off the list once no file holds it.
    void ForgetIfGone(const std::string& bytes);
};

// The fields that Fields() names, in their order: a file or a disk with any
// other field is of another size, on the 32-bit build and the 64-bit one.
namespace fake_disk_fields {
struct File {
    std::string bytes;
    std::uint32_t attributes;
    std::uint64_t lastWrite;
};
static_assert(sizeof(File) == sizeof(FakeFile), "FakeFile::Fields must name every field");
struct Node {
    FakeFile now, durable;
    std::uint64_t changeTime;
    FakeFile changeSeen;
    int moves, movesSeen;
};
static_assert(sizeof(Node) == sizeof(FakeDisk::Node),
              "FakeDisk::Node::Fields must name every field");
struct Named {
    FakeDisk::Model model;
    std::map<Text, int> names, durableNames;
    std::vector<FakeDisk::NameChange> pending;
    std::map<int, FakeDisk::Node> nodes;
    std::set<Text> folders;
    std::map<Text, Text> folderLinks;
    int nextNode;
    std::string gamesArchive;
    std::vector<std::string> versions;
};
static_assert(sizeof(Named) == sizeof(FakeDisk), "FakeDisk::Fields must name every field");
}  // namespace fake_disk_fields

// What the process's end at one point of a run leaves on the disk.
struct CrashState {
    std::string what;  // e.g. "kill before op 3 (copy a -> b)"
    FakeDisk disk;
};

// Thrown by the fake where the process dies.
struct Crashed {};

// One object behind every part of the seam, since the parts share its
// state (the disk, the log); each part's calls are grouped below.
class FakePlatform : public Platform {
public:
    // Installs itself as the launcher's platform and empties standard output.
    FakePlatform();
    ~FakePlatform() override;

    // The file tree. Paths are absolute, or relative to `base` when they do
    // not start with a drive.
    Text base = u"C:\\G\\mods\\mymod\\";
    // The game's places as the launcher sees them from `base`, and the
    // record of a run that a test drives step by step.
    GameLayout Paths() const { return GameLayout(base); }
    RunRecord run;
    void AddFolder(const Text& path);
    void AddFile(const Text& path, const std::string& bytes, std::uint32_t attributes = 0x20);
    bool HasFile(const Text& path) const;
    bool HasFolder(const Text& path) const;
    std::string Content(const Text& path) const;  // "<none>" when absent
    std::uint32_t Attributes(const Text& path) const;

    // The launcher's inputs.
    Text currentDirectory = u"C:\\G\\mods\\mymod";
    Text commandLine = u"ModLauncher.exe";
    // The launcher's own program file (empty: the system cannot say).
    Text programPath = u"C:\\G\\mods\\mymod\\ModLauncher.exe";
    // The program files of the processes running besides the launcher.
    std::vector<Text> runningPrograms;

    // The disk. A test may start from another run's disk.
    FakeDisk disk;
    void UseDisk(const FakeDisk& other);
    // Writes the marker a run leaves while its game runs: the live archive
    // as the one it swapped in, the game's backup as what was live before.
    void MarkSwapped();

    // Crashes on demand: the process dies before its change number `crashAt`
    // (counting from 0) and `crashes` receives every state that leaves: the
    // kill; inside a copy, its target cut short, and cut short with the rest
    // zero (a copy that set the full size first); and, unless `killsOnly`,
    // the power cuts.
    int crashAt = -1;
    bool killsOnly = false;
    int changes = 0;
    std::vector<std::string> changeLog;  // what each change was, in order
    std::vector<CrashState> crashes;
    // The states a power cut leaves now, after the last change.
    std::vector<CrashState> PowerCutsNow(const std::string& when) const;
    // Called when the game starts, to change the disk as a game or its
    // updater would meanwhile.
    std::function<void(FakePlatform&)> duringGame;
    // Another program acting once in the run, as the crash points are
    // enumerated: before change number `otherAt` or, with otherInsideCopy
    // and a copy there, while that copy reads its source (a rename over the
    // source leaves the copy reading the old file through its handle; a
    // rewrite in place gives it the new bytes from the middle on, or, with
    // copyReadsAhead, none: the copy's reads ran ahead of the writer's).
    int otherAt = -1;
    bool otherInsideCopy = false;
    bool copyReadsAhead = false;
    std::function<void(FakePlatform&)> other;
    // A rename that takes effect but reports failure (its reply lost on a
    // network share): the rename at this change.
    int lostReplyAt = -1;
    // What that rename answers: the share's own error, or "already exists"
    // when the system tried it again and found the name taken.
    std::uint32_t lostReplyError = 64;  // ERROR_NETNAME_DELETED
    // Each of the launcher's replacing or removing calls that destroyed the
    // last copy of a version in `disk.versions`.
    std::vector<std::string> destroyed;
    // Full paths that another program holds open without
    // delete sharing: they cannot be replaced, removed or written.
    std::set<Text> heldOpen;
    // Files (by node) that another program holds with a byte-range lock, or
    // that have a bad sector, from this offset on: a read that reaches it
    // fails, and so does a copy from the file. The file keeps it through
    // renames, for the run.
    std::map<int, std::uint64_t> unreadableFrom;
    // The volume keeps no change time (FAT, exFAT).
    bool noChangeTimes = false;
    // Folders (as the fake disk names them) on a volume whose change time
    // follows each file's last-write time, as exFAT's does under Wine: a
    // program that sets the last-write time back sets it back too.
    std::set<Text> changeTimeFollowsLastWrite;
    // How many parts of files the launcher has read.
    int partsRead = 0;
    // Whether the launcher keeps writers out of the file now: another
    // program's write to it fails (an act that writes in place asks first).
    bool IsKeptFromWriters(const Text& path) const;
    void MakeUnreadableFrom(const Text& path, std::uint64_t offset);

    // Failures on demand, by call name and path relative to `base`.
    // target -> the error of each try in turn (0: that try goes through)
    std::map<Text, std::deque<std::uint32_t>> copyErrors;
    std::set<Text> flushFails;
    std::set<Text> writeFails;
    std::map<Text, std::deque<std::uint32_t>>
        moveErrors;  // target -> error of each try (0: it goes through)
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
    // this error), and the poll of its process that first finds it ended
    // (-1: none does).
    bool startSucceeds = true;
    std::uint32_t startError = 193;  // ERROR_BAD_EXE_FORMAT
    int endAfterPolls = 1;
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
    // Standard output is a console: each WriteConsoleW call's text, as UTF-8
    // in `writes` too, so that a test reads what was said either way.
    bool stdOutputIsConsole = false;
    std::vector<Text> consoleWrites;
    // The boxes shown, "warning: <text>" or "error: <text>".
    std::vector<std::string> boxes;
    bool boxFails = false;  // MessageBoxW gives 0: no box appears

    std::vector<std::string> log;

    // ProgramInputs
    std::uint32_t CurrentDirectory(std::uint32_t length, char16_t* buffer) override;
    const char16_t* CommandLine() override;
    const char16_t* NextChar(const char16_t* position) override;
    Text ProgramPath() override;
    // FileSystem, over the fake disk
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
    // The clock, and the time that the launcher's pauses let pass.
    std::uint64_t SystemTime() override;
    std::uint64_t paused = 0;
    // Change times are stamped from the file system's clock in ticks (10 ms
    // unless a test says otherwise), as a file system does: two changes in
    // one tick leave one change time. That clock may trail the system's
    // (Linux's coarse clock, a share's server): by `fileClockBehind`. A
    // change the launcher did not make through the fake is stamped when it
    // is first seen; one stamped at once:
    static constexpr std::uint64_t kChangeTimeTick = 100000;
    std::uint64_t changeTimeTick = kChangeTimeTick;
    std::uint64_t fileClockBehind = 0;
    std::uint64_t ChangeTimeNow();
    void WroteKeepingItsStamp(const Text& path, const std::string& bytes);
    bool IsSameFolder(const Text& one, const Text& other) override;
    OsResult HoldLockFile(const Text& path) override;
    Text FullPath(const Text& path) override;
    void Pause(std::uint32_t milliseconds) override;
    // GameSession, scripted
    OsHandle AppWindow() override;
    OsResult StartGame(const LaunchRequest& request) override;
    bool GameHasEnded() override;
    void ProcessMessages() override;
    bool Terminated() override;
    void AwaitGameOrMessage() override;
    std::vector<Text> RunningProgramsNamed(const Text& fileName) override;
    // PlayerOutput, captured
    OsHandle StdOutput() override;
    std::uint32_t FileType(OsHandle handle) override;
    void CloseOsHandle(OsHandle handle) override;
    OsResult WriteBytes(OsHandle handle, const char* bytes, std::uint32_t count) override;
    bool IsConsole(OsHandle handle) override;
    OsResult WriteConsoleText(OsHandle handle, const char16_t* units, std::uint32_t count) override;
    std::string ToAnsi(TextView text) override;
    bool ShowMessage(MessageKind kind, const Text& text) override;
    Text ErrorText(std::uint32_t error) override;
    // ProcessEnd, recorded
    [[noreturn]] void EndProcess(std::uint32_t exitCode) override;

private:
    Text Relative(const Text& path) const;
    std::string Shown(const Text& path) const;
    void Call(const std::string& entry);
    // Counts a change to the disk, and dies there when told to.
    // Returns the change's number.
    int Change(const std::string& entry, const Text* copyFrom = nullptr,
               const Text* copyTo = nullptr);
    // The launcher is about to replace or remove what the name holds; a
    // rename's source (`from`) holds what it puts there.
    void Destroying(const Text& key, const Text& from = Text());
    // A place that counts as elsewhere for a version of the game's archive:
    // one of the launcher's own on the game's side, which no other program writes.
    bool IsHoldingPlace(const Text& key) const;
    // The path on the disk: through a folder's second name, and in the case
    // that the disk has it.
    Text OnDisk(const Text& key) const;
    bool IsUnreadable(const Text& key, std::uint64_t upTo) const;
    // The last path whose identity was read: the gate reads what it is about
    // to destroy just before, and a destroying call on any other is one
    // that went around it.
    Text lookedAt_;
    bool IsHeld(const Text& path) const;
    // The files the launcher keeps writers out of: handle -> node.
    std::map<OsHandle, int> writersKeptOut_;
    OsHandle nextHold_ = 0x7000;
    // A rename over the target, or (without `replace`) to a free name only.
    OsResult Rename(const Text& from, const Text& to, bool replace);

public:
    Text Resolve(const Text& path) const;

private:
    int pumps_ = 0;
    int polls_ = 0;
    bool terminated_ = false;
};

// An absolute path as the fake disk names it: "..", "." and empty names gone.
Text Resolved(const Text& full);

// UTF-16 to UTF-8 for messages and logs, and back.
std::string Narrow(TextView text);
Text Widen(const std::string& utf8);
