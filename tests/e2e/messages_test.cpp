// What the player, or a program reading the launcher's output, is told: a
// game that cannot be started, every message the real launcher gives here
// through a pipe with no window of any kind in front of the caller, and a
// warning that can be read whole while the game still runs.
#include <functional>
#include <set>

#include "harness.h"

namespace e2e {
namespace {

// The visible top-level windows that would stand in front of a caller: the
// launcher's own, and a dialog box of any process (the system's boxes may
// come from a helper). The game's windows are the game's business.
struct WindowSearch {
    DWORD launcher;
    std::set<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (IsWindowVisible(window) && (owner == search->launcher || ClassOf(window) == L"#32770"))
        search->found.insert(window);
    return TRUE;
}

std::set<HWND> VisibleWindows(DWORD launcher) {
    WindowSearch search{launcher, {}};
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// "<class> '<title>': <text of its static control>", for a failure message.
std::string Describe(HWND window) {
    wchar_t text[1024] = L"";
    GetDlgItemTextW(window, 0xFFFF, text, 1024);
    return Narrow(ClassOf(window)) + " '" + Narrow(TitleOf(window)) + "': " + Narrow(text);
}

struct Watched {
    std::optional<DWORD> exitCode;     // nothing: still running at the timeout
    std::vector<std::string> windows;  // every window that appeared meanwhile
};

// Waits for the launcher's end, looking at the desktop between short waits
// (before: the dialogs there were before the launcher started);
// a window that appears is noted and dismissed, so the run goes on to its end.
Watched WaitWatchingWindows(Process& launcher, const std::set<HWND>& before) {
    Watched watched;
    std::set<HWND> seen = before;
    auto look = [&] {
        for (HWND window : VisibleWindows(launcher.Id())) {
            if (!seen.insert(window).second) continue;
            watched.windows.push_back(Describe(window));
            PostMessageW(window, WM_COMMAND, IDOK, 0);
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
    };
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(launcher.Handle(), 20) == WAIT_TIMEOUT) {
        look();
        if (GetTickCount() - start > kExitTimeoutMs) return watched;
    }
    look();  // a box of another process may outlive the launcher
    watched.exitCode = launcher.WaitForExit(0);
    return watched;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += "\n  " + line;
    return all;
}

LaunchOptions InItsFolder(const GameTree& tree, StdHandles std) {
    LaunchOptions options;
    options.exe = tree.Launcher();
    options.commandLine = Quoted(tree.Launcher());
    options.folder = tree.ModFolder();
    options.std = std;
    return options;
}

// ---- A game that cannot be started ----

struct BrokenGame {
    const char* name;
    std::string bytes;  // BF2.exe's content
};

void PrintTo(const BrokenGame& c, std::ostream* os) { *os << c.name; }

class GameNotStartedTest : public E2eTest, public ::testing::WithParamInterface<BrokenGame> {};

// With a pipe: one line naming the program's full path, the system's words
// and what would help; no window of any kind; the game's archive back; 2.
// Without standard output: the launcher's own box with the same text; 2.
TEST_P(GameNotStartedTest, OneLineOnAPipeOrTheLaunchersOwnBox) {
    GameLayout layout;
    layout.gameArchive = "G";
    layout.modArchive = "M";
    GameTree& tree = LayTree(layout);
    tree.Write(L"BF2.exe", GetParam().bytes);
    const std::wstring program = tree.Path(L"BF2.exe");

    const std::set<HWND> before = VisibleWindows(0);
    Process& piped = Start(InItsFolder(tree, StdHandles::Pipe));
    const Watched watched = WaitWatchingWindows(piped, before);
    EXPECT_EQ(watched.windows, std::vector<std::string>{}) << Lines(watched.windows);
    EXPECT_EQ(watched.exitCode, 2u);
    const std::string output = piped.ReadOutput();
    ASSERT_EQ(output.find("\r\n"), output.size() - 2) << "not one line: " << output;
    ASSERT_EQ(output.rfind("Error: ", 0), 0u) << output;
    const std::string said = output.substr(7, output.size() - 9);
    // The path, the system's own words, then the advice.
    const std::string named = "The game could not be started: " + Narrow(program) + ": ";
    const std::string advice =
        ". It is not a program that this system can run: reinstall or repair the game.";
    ASSERT_GT(said.size(), named.size() + advice.size()) << said;
    EXPECT_EQ(said.substr(0, named.size()), named) << said;
    EXPECT_EQ(said.substr(said.size() - advice.size()), advice) << said;
    EXPECT_TRUE(tree.Holds(kLive, "G"));
    EXPECT_FALSE(tree.Read(kMarker));

    Process& boxed = Start(InItsFolder(tree, StdHandles::Null));
    std::optional<MessageBoxSeen> box = WaitForMessageBox(boxed.Id());
    ASSERT_TRUE(box) << "no box appeared";
    EXPECT_EQ(box->title, L"Modlauncher");
    EXPECT_EQ(Narrow(box->text), said);
    CloseMessageBox(box->window);
    EXPECT_EQ(boxed.WaitForExit(), 2u);
    EXPECT_EQ(TopLevelWindowsOf(boxed.Id()).size(), 0u) << "another box followed";
    EXPECT_TRUE(tree.Holds(kLive, "G"));
    EXPECT_FALSE(ReadStandinReport(tree.Root()));
}

INSTANTIATE_TEST_SUITE_P(Programs, GameNotStartedTest,
                         ::testing::Values(BrokenGame{"ZeroBytes", ""},
                                           BrokenGame{"Text", "This is not a program.\r\n"}),
                         [](const ::testing::TestParamInfo<BrokenGame>& info) {
                             return info.param.name;
                         });

// ---- Every message through a pipe, no window ----

struct PipedCase {
    const char* name;
    std::function<void(GameTree&)> arrange;
    // The layout's mod folder; a blank in it is a message of its own.
    std::wstring modName = L"mymod";
    // Parts of the output, in order, and the exit code.
    std::vector<std::string> says;
    DWORD exitCode;
    // The stand-in's environment.
    std::vector<std::pair<std::wstring, std::wstring>> env = {};
    // The case needs a folder that cannot be written, which root writes anyway.
    bool needsUnwritable = false;
};

void PrintTo(const PipedCase& c, std::ostream* os) { *os << c.name; }

class PipedMessagesTest : public E2eTest, public ::testing::WithParamInterface<PipedCase> {
protected:
    void TearDown() override {
        if (lock_ != INVALID_HANDLE_VALUE) CloseHandle(lock_);
        lock_ = INVALID_HANDLE_VALUE;
        if (!unwritable_.empty()) SetFolderWritable(unwritable_, true);
        unwritable_.clear();
        E2eTest::TearDown();
    }

public:
    static HANDLE lock_;
    static std::wstring unwritable_;
};

HANDLE PipedMessagesTest::lock_ = INVALID_HANDLE_VALUE;
std::wstring PipedMessagesTest::unwritable_;

// A caller that reads the launcher's output is never held up: whatever the
// launcher says, it says it on the pipe, and nothing shows a window.
TEST_P(PipedMessagesTest, SaidOnThePipeWithNoWindow) {
    const PipedCase& c = GetParam();
    GameLayout layout;
    layout.modName = c.modName;
    layout.gameArchive = "G";
    layout.modArchive = "M";
    GameTree& tree = LayTree(layout);
    if (c.needsUnwritable) {
        if (const std::string skip = WhyNoUnwritableFolder(tree.Root()); !skip.empty())
            GTEST_SKIP() << skip;
    }
    c.arrange(tree);

    const std::set<HWND> before = VisibleWindows(0);
    LaunchOptions options = InItsFolder(tree, StdHandles::Pipe);
    options.env = c.env;
    Process& launcher = Start(options);
    const Watched watched = WaitWatchingWindows(launcher, before);
    EXPECT_EQ(watched.windows, std::vector<std::string>{}) << Lines(watched.windows);
    EXPECT_EQ(watched.exitCode, c.exitCode);
    const std::string output = launcher.ReadOutput();
    std::size_t at = 0;
    for (const std::string& part : c.says) {
        at = output.find(part, at);
        ASSERT_NE(at, std::string::npos)
            << "missing, or out of order: " << part << "\nin: " << output;
    }
}

// Makes the folder unwritable until the test's end.
void Unwritable(const std::wstring& folder) {
    PipedMessagesTest::unwritable_ = folder;
    ASSERT_TRUE(SetFolderWritable(folder, false));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, PipedMessagesTest,
    ::testing::Values(
        PipedCase{"GameNotFound",
                  [](GameTree& t) { DeleteFileW(t.Path(L"BF2.exe").c_str()); },
                  L"mymod",
                  {"Error: BF2.exe was not found at ", "\r\n"},
                  2},
        PipedCase{"AnotherLauncherRuns",
                  [](GameTree& t) {
                      CreateDirectoryW(t.Path(L"mods\\bf2\\Backup").c_str(), nullptr);
                      PipedMessagesTest::lock_ =
                          CreateFileW(t.Path(kLock).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
                      ASSERT_NE(PipedMessagesTest::lock_, INVALID_HANDLE_VALUE);
                  },
                  L"mymod",
                  {"Error: A launcher is already running for the game in ", "\r\n"},
                  3},
        PipedCase{"LiveArchiveIsAFolder",
                  [](GameTree& t) {
                      DeleteFileW(t.Path(kLive).c_str());
                      CreateDirectoryW(t.Path(kLive).c_str(), nullptr);
                  },
                  L"mymod",
                  {"Warning: The mod's shaders were not put in place",
                   "Shaders_client.zip is a "
                   "folder, not a file: remove or rename it, then start the launcher again.\r\n"},
                  4},
        PipedCase{"BlankInTheFolderName",
                  [](GameTree&) {},
                  L"my mod",
                  {"Warning: The mod's folder name \"my mod\" holds a blank", "\r\n"},
                  4},
        PipedCase{"RestoreOntoAnArchiveInUse",
                  [](GameTree&) {},
                  L"mymod",
                  {"Warning: The game's own shaders could not be put back. Could not replace ",
                   "Close the program that holds the file, then start the launcher again. They "
                   "are safe in ",
                   "\r\n"},
                  4,
                  {{L"STANDIN_HOLD_ARCHIVE_MS", L"6000"}}},
        PipedCase{"ContentFolderNotWritable",
                  [](GameTree& t) { Unwritable(t.Path(L"mods\\bf2")); },
                  L"mymod",
                  {"Warning: The mod's shaders were not put in place", "write access", "\r\n"},
                  4,
                  {},
                  true},
        PipedCase{"GameIsNotAProgram",
                  [](GameTree& t) { t.Write(L"BF2.exe", ""); },
                  L"mymod",
                  {"Error: The game could not be started: ", "\r\n"},
                  2}),
    [](const ::testing::TestParamInfo<PipedCase>& info) { return info.param.name; });

// ---- A warning read while the game runs ----

// The warning, longer than any small buffer, is whole on the pipe before the
// game starts, and stays so while it runs: nothing of it waits for the
// launcher's end.
TEST_F(E2eTest, WarningOnAPipeIsWholeWhileTheGameRuns) {
    GameLayout layout;
    layout.modName = L"my mod";
    GameTree& tree = LayTree(layout);
    LaunchOptions options = InItsFolder(tree, StdHandles::Pipe);
    options.env = {{L"STANDIN_RUN_UNTIL", L"quit.txt"}};
    Process& launcher = Start(options);
    ASSERT_TRUE(WaitForStandinReport(tree.Root())) << "the game was not started";
    const std::string expected =
        "Warning: The mod's folder name \"my mod\" holds a blank, so the game is told only "
        "\"mod\" (+modPath mods/mod). A folder name without blanks avoids this.\r\n";
    ASSERT_GT(expected.size(), 128u);
    EXPECT_EQ(launcher.ReadOutput(), expected);
    EXPECT_TRUE(launcher.IsRunning()) << "the launcher ended before the game";
    tree.Write(L"quit.txt", "");
    EXPECT_EQ(launcher.WaitForExit(), 4u);
    EXPECT_EQ(launcher.ReadOutput(), expected);
}

}  // namespace
}  // namespace e2e
