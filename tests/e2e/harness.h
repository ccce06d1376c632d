#pragma once
// The end-to-end harness: throwaway game installations, the real launcher
// started under exactly the conditions a test names, the stand-in game's
// report, and the launcher's windows. The places come from the environment
// (ctest's, or the bundle's runner on Windows): a Windows path is taken as
// it is, a Unix path as Wine's drive Z: shows it.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/bundle/wine_version.h"

namespace e2e {

// Generous, but a hung launcher fails its test instead of hanging the run.
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 30000;
// Long enough to outlast any test; the fixture ends the game at teardown.
constexpr DWORD kLongRunMs = 120000;

// ---- Text and paths ----

std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& text);
std::wstring Quoted(const std::wstring& text);
// A path from the environment: a Windows path (a drive letter or \\) as
// it is, a Unix path as Wine's drive Z: shows it.
std::wstring WindowsPath(const std::string& path);
// The programs and folders that ctest names in the environment.
std::wstring LauncherExe();        // MODLAUNCHER_EXE
std::wstring FaultsLauncherExe();  // MODLAUNCHER_FAULTS_EXE
std::wstring StandinExe();         // STANDIN_GAME_EXE
std::wstring WorkFolder();         // E2E_WORK_DIR
// The second drive's root (E2E_DRIVE, R: by default), after checking that
// it shows the folder E2E_DRIVE_R: the prefix's drive under ctest, a
// substituted drive in the bundle.
std::wstring DriveR();
// Empty when a second drive was given; under Wine without one (the bundle:
// Wine does not see a substituted drive) why a test of it skips.
std::string NoSecondDrive();

// ---- Wine or Windows ----

// WineVersion(): the Wine version, or nothing on Windows (wine_version.h).
// Empty on Windows; under Wine why a test that only Windows can show skips
// there, naming the Wine version.
std::string OnlyOnWindows(const std::string& why);
// Empty under Wine; on Windows why a test whose expectation is Wine's own
// skips there.
std::string OnlyUnderWine(const std::string& why);
// The file system of the volume a path lies on ("NTFS", "FAT32", "exFAT"),
// and whether it keeps access lists and reparse points.
struct FileSystem {
    std::string name;
    bool acls = false;
    bool reparsePoints = false;
};
FileSystem FileSystemOf(const std::wstring& path);
// The crash debugger registered for 32-bit programs (AeDebug), which takes
// a failure that no handler took before the program's own last-resort box
// can appear. Empty when none is registered; else where, what, whether it
// starts without a question and whether its program is there to start.
std::string CrashDebugger();
// Empty when the last-resort box can appear here: no crash debugger is
// registered, or its program cannot be started (the test prefix names one
// that does not exist); else why a test of the box skips and what to change.
std::string WhyCrashDebuggerTakesTheBox();

// ---- Files ----

std::optional<std::string> ReadBytes(const std::wstring& path);
// Creates the folders on the way.
void WriteBytes(const std::wstring& path, const std::string& bytes);
void CopyOrFail(const std::wstring& from, const std::wstring& to);
// Removes a folder and everything in it, read-only files included.
void RemoveTree(const std::wstring& folder);
// Removes the folder's contents, keeping the folder.
void EmptyFolder(const std::wstring& folder);

// Whether this process writes through read-only files and folders, as root
// with its power to override permissions does; tried on a file in the folder.
bool CanWriteThroughReadOnly(const std::wstring& folder);

// Makes a folder writable or not for everyone. Under Wine on the Unix side
// (Wine keeps no read-only attribute on folders and no access lists): runs
// chmod, which Wine starts as the Unix program it is, for folders on drive
// Z:. On Windows with an access list entry that denies making, renaming and
// removing entries in it, removed again to make it writable.
bool SetFolderWritable(const std::wstring& folder, bool writable);
// Empty when SetFolderWritable can refuse writes in the folder; else why not
// (this process writes through read-only folders, or the file system keeps
// no access lists).
std::string WhyNoUnwritableFolder(const std::wstring& folder);
// `link` made a second name of the folder `target` for the object's life,
// and the target holds a Backup folder: under Wine a symbolic link on the
// Linux side, which Wine shows as a folder (both on drive Z:); on Windows a
// directory junction, as mod managers make. Waits until the link leads
// there, and until it is gone.
class FolderLink {
public:
    FolderLink(const std::wstring& link, const std::wstring& target);
    ~FolderLink();
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;
    bool Made() const { return made_; }
    // Empty when a link can be made in the folder; else why not (FAT).
    static std::string WhyNot(const std::wstring& folder);

private:
    std::wstring link_;
    bool made_ = false;
};
// ---- Comparing bytes ----

// Empty when the two are the same (both missing counts as the same);
// otherwise where they differ, in one line: which one is missing, or both
// sizes and the first byte that differs with a few bytes around it on each
// side. Never the whole bytes: archives run to megabytes.
std::string BytesDifference(const std::optional<std::string>& actual,
                            const std::optional<std::string>& expected);
// For EXPECT_TRUE: the bytes are the expected ones; on failure the message
// names what was compared (a file, say) and where it differs.
::testing::AssertionResult SameBytes(const std::string& what,
                                     const std::optional<std::string>& actual,
                                     const std::optional<std::string>& expected);

// Every file under a folder: path relative to it -> bytes.
using Snapshot = std::map<std::wstring, std::string>;
Snapshot TakeSnapshot(const std::wstring& folder);
// Empty when equal; otherwise one line per file added, removed or changed.
std::string SnapshotDiff(const Snapshot& before, const Snapshot& after);

// ---- A throwaway game installation ----

// The game's archive files and the launcher's own in an installation,
// relative to its root.
inline const std::wstring kLive = L"mods\\bf2\\Shaders_client.zip";
inline const std::wstring kGameBackup = L"mods\\bf2\\Backup\\Shaders_client.zip";
inline const std::wstring kMarker = L"mods\\bf2\\Backup\\Shaders_client.zip.swapped";
inline const std::wstring kLock = L"mods\\bf2\\Backup\\ModLauncher.lock";
inline const std::wstring kGameBackupFolder = L"mods\\bf2\\Backup";

struct GameLayout {
    // The launcher sits in mods\<modName>; empty puts it in the root itself.
    std::wstring modName = L"mymod";
    std::wstring launcherName = L"ModLauncher.exe";
    // Which build of the program to copy in; empty means LauncherExe().
    std::wstring launcherSource;
    bool withGame = true;  // the stand-in as BF2.exe
    // The game's live archive, mods\bf2\Shaders_client.zip (..\bf2 from the mod).
    std::optional<std::string> gameArchive;
    std::optional<std::string> modArchive;  // the mod's Shaders_client.zip
};

class GameTree {
public:
    // Lays the installation out in root (created when missing).
    GameTree(std::wstring root, const GameLayout& layout);

    const std::wstring& Root() const { return root_; }
    // The launcher's folder, and so its working folder.
    const std::wstring& ModFolder() const { return modFolder_; }
    const std::wstring& Launcher() const { return launcher_; }
    std::wstring Path(const std::wstring& relative) const;  // relative to the root
    std::optional<std::string> Read(const std::wstring& relative) const;
    // For EXPECT_TRUE: the file holds exactly these bytes (nothing: it is
    // missing); on failure, which file and where it differs.
    ::testing::AssertionResult Holds(const std::wstring& relative,
                                     const std::optional<std::string>& expected) const;
    void Write(const std::wstring& relative, const std::string& bytes) const;
    // Every file but those the stand-in writes about itself.
    Snapshot Files() const;

private:
    std::wstring root_;
    std::wstring modFolder_;
    std::wstring launcher_;
};

// The versions of the game's archive kept aside in an installation, the
// files mods\bf2\Backup\Shaders_client.kept-*: file name -> bytes.
std::map<std::wstring, std::string> KeptFiles(const GameTree& tree);

// ---- Processes ----

enum class StdHandles { Null, Pipe, File };

struct LaunchOptions {
    std::wstring exe;          // lpApplicationName
    std::wstring commandLine;  // lpCommandLine, passed exactly as it is
    std::wstring folder;       // lpCurrentDirectory
    // Set on top of the inherited environment (any STANDIN_* there is dropped).
    std::vector<std::pair<std::wstring, std::wstring>> env;
    // Null: all three standard handles null, as for an ordinary start of a
    // windowed program. Pipe: output and error into one pipe. File: into outputFile.
    StdHandles std = StdHandles::Null;
    std::wstring outputFile;
    // When set, the working folder the process runs in, set from inside it
    // before it starts: Wine cannot start a process in a folder this long.
    std::wstring folderFromInside;
};

// A started process inside a job of its own, so that the games it starts
// can be ended with it.
class Process {
public:
    // Fails the test (and returns a process that never started) on error.
    explicit Process(const LaunchOptions& options);
    ~Process();  // ends the whole job
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return static_cast<bool>(process_); }
    DWORD Id() const { return id_; }
    DWORD ThreadId() const { return threadId_; }
    HANDLE Handle() const { return process_.get(); }
    // The exit code, or nothing when it still runs after timeoutMs.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = kExitTimeoutMs);
    bool IsRunning() const;
    // Ends the launcher alone; what it started goes on.
    void Kill();
    // Ends the launcher and everything it started.
    void KillAll();
    // What the pipe holds so far (StdHandles::Pipe only).
    std::string ReadOutput();

private:
    UniqueHandle job_;
    UniqueHandle process_;
    UniqueHandle output_;
    DWORD id_ = 0;
    DWORD threadId_ = 0;
    std::string received_;
};

bool IsProcessRunning(DWORD pid);

// ---- The stand-in game's report ----

struct StandinReport {
    std::wstring commandLine;  // GetCommandLineW, as the game got it
    std::wstring folder;       // its working folder
    // The live archive (mods\bf2\Shaders_client.zip) at its start; nothing if missing.
    std::optional<std::string> archive;
    DWORD pid = 0;
    DWORD holder = 0;          // the process keeping the archive locked, if asked for
    bool archiveOpen = false;  // the game keeps the live archive open, as asked
    bool ended = false;
    // What came of a rewrite of the live archive in place, and of an update
    // renamed over it at the game's end, when asked for: "yes", or "failed"
    // and the error; empty when not asked for.
    std::string rewrite;
    std::string update;
    // The standard output handle it was given: "null", "invalid" or "handle",
    // and GetFileType on it.
    std::string stdOutput;
    std::optional<DWORD> stdOutputType;
};

std::optional<StandinReport> ReadStandinReport(const std::wstring& gameRoot);
// Polls until the report appears (the game has started), or until it says
// the game has ended.
std::optional<StandinReport> WaitForStandinReport(const std::wstring& gameRoot,
                                                  DWORD timeoutMs = kStartTimeoutMs,
                                                  bool ended = false);

// Polls until the stand-in's lock holder has let go of the live archive
// (it cannot be read while held); false on timeout.
bool WaitForArchiveRelease(const std::wstring& gameRoot, DWORD timeoutMs = kStartTimeoutMs);

// ---- Windows ----

std::vector<HWND> TopLevelWindowsOf(DWORD pid);
// The first top-level window of the process with that class; null on timeout.
HWND WaitForWindow(DWORD pid, const std::wstring& className, DWORD timeoutMs = kStartTimeoutMs);
std::wstring ClassOf(HWND window);
std::wstring TitleOf(HWND window);

struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring title;
    std::wstring text;
};
std::optional<MessageBoxSeen> WaitForMessageBox(DWORD pid, DWORD timeoutMs = kStartTimeoutMs);
// Presses the box's OK button.
void CloseMessageBox(HWND box);
// SendMessageTimeoutW; nothing when the window did not answer in time.
std::optional<LRESULT> SendWithTimeout(HWND window, UINT message, WPARAM wParam = 0,
                                       LPARAM lParam = 0, DWORD timeoutMs = 5000);

// ---- The fixture ----

// Owns the trees and processes of one test: at teardown every launcher and
// game still running is ended and, when the test passed, its trees removed.
class E2eTest : public ::testing::Test {
protected:
    void TearDown() override;

    // A fresh installation in a new folder under the work folder; subfolder
    // puts the root one level deeper (e.g. a name with a blank).
    GameTree& LayTree(const GameLayout& layout = {}, const std::wstring& subfolder = L"");
    // An installation in a given root, such as R:\, emptied first.
    GameTree& LayTreeAt(const std::wstring& root, const GameLayout& layout);

    Process& Start(const LaunchOptions& options);
    // The tree's launcher, started as a shortcut would: quoted program path
    // followed by arguments (which should begin with a blank), in its folder.
    Process& StartLauncher(const GameTree& tree, const std::wstring& arguments = L"",
                           std::vector<std::pair<std::wstring, std::wstring>> env = {});
    // The same with no arguments and standard output on a pipe, so that a
    // warning is a line, not a box.
    Process& StartLauncherWithOutput(const GameTree& tree,
                                     std::vector<std::pair<std::wstring, std::wstring>> env = {});

    std::vector<std::unique_ptr<GameTree>> trees_;
    std::vector<std::unique_ptr<Process>> processes_;
    std::vector<std::wstring> ownFolders_;
    std::vector<std::wstring> emptiedRoots_;
};

// Whether no launcher holds the game's lock now. The lock file stays; its
// lock goes with the launcher that took it, however that one ends.
bool LockIsFree(const GameTree& tree);

}  // namespace e2e
