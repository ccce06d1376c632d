// What the player keeps and learns, with the real launcher under Wine or
// Windows: the mod in every game however often the game is updated, the
// log, the boxes that ask nothing coming after the game, the launcher's
// own folder when the working folder is wrong, and a game already running
// left alone.
#include <windows.h>

#include <string>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const std::wstring kLog = L"mods\\bf2\\Backup\\ModLauncher.log";
const std::string kModArchive = "the mod's archive\r\n" + std::string(50000, 'M');

LaunchOptions Launch(const GameTree& tree, StdHandles std, const std::wstring& folder,
                     std::vector<std::pair<std::wstring, std::wstring>> env = {}) {
    LaunchOptions options;
    options.exe = tree.Launcher();
    options.commandLine = Quoted(tree.Launcher());
    options.folder = folder;
    options.std = std;
    options.env = std::move(env);
    return options;
}

std::string Update(int number) {
    return "the game's archive, version " + std::to_string(number) + "\r\n" +
           std::string(40000 + number, 'U');
}

GameLayout WithBothArchives() {
    GameLayout layout;
    layout.gameArchive = Update(0);
    layout.modArchive = kModArchive;
    return layout;
}

// Whether the process shows a message box now.
bool ShowsABox(DWORD pid) {
    for (HWND window : TopLevelWindowsOf(pid)) {
        if (ClassOf(window) == L"#32770" && IsWindowVisible(window)) return true;
    }
    return false;
}

// Four updates of the game in a row, one before each run: the mod's
// archive is in every game, every version is kept, and the log names each.
// The ordinary run before them writes no log.
TEST_F(E2eTest, FourUpdatesInARowKeepTheModInEveryGame) {
    GameTree& tree = LayTree(WithBothArchives());
    Process& ordinary = Start(Launch(tree, StdHandles::Pipe, tree.ModFolder()));
    ASSERT_EQ(ordinary.WaitForExit(), 0u) << ordinary.ReadOutput();
    EXPECT_EQ(ordinary.ReadOutput(), "");
    EXPECT_FALSE(tree.Read(kLog)) << "the ordinary run wrote a log";
    for (int update = 1; update <= 4; ++update) {
        tree.Write(kLive, Update(update));
        Process& launcher = Start(Launch(tree, StdHandles::Pipe, tree.ModFolder()));
        ASSERT_EQ(launcher.WaitForExit(), 4u) << launcher.ReadOutput();
        const std::optional<StandinReport> report = ReadStandinReport(tree.Root());
        ASSERT_TRUE(report);
        EXPECT_TRUE(SameBytes("the live archive in game " + std::to_string(update), report->archive,
                              kModArchive));
        EXPECT_TRUE(tree.Holds(kLive, Update(update)));
        EXPECT_TRUE(tree.Holds(kGameBackup, Update(update)));
        const auto kept = KeptFiles(tree);
        ASSERT_EQ(kept.size(), static_cast<std::size_t>(update)) << launcher.ReadOutput();
        std::map<std::string, int> versions;
        for (const auto& [name, bytes] : kept) ++versions[bytes];
        for (int earlier = 0; earlier < update; ++earlier)
            EXPECT_EQ(versions[Update(earlier)], 1) << "version " << earlier << " kept once";
        const std::string log = tree.Read(kLog).value_or("<no log>");
        for (const auto& [name, bytes] : kept)
            EXPECT_NE(log.find(Narrow(name)), std::string::npos) << Narrow(name) << " in\n" << log;
        const bool many = launcher.ReadOutput().find("The launcher now keeps 4 earlier versions") !=
                          std::string::npos;
        EXPECT_EQ(many, update == 4) << launcher.ReadOutput();
    }
}

// A run that keeps a version starts the game before any box: on a pipe the
// line is there at once, while the game runs; without standard output the
// box comes once the game has ended.
TEST_F(E2eTest, KeptVersionIsSaidAtOnceAndItsBoxWaitsForTheGame) {
    GameTree& tree = LayTree(WithBothArchives());
    Process& ordinary = Start(Launch(tree, StdHandles::Null, tree.ModFolder()));
    ASSERT_EQ(ordinary.WaitForExit(), 0u);
    // Each game's report is waited for anew.
    DeleteFileW(tree.Path(L"standin-report.txt").c_str());
    const std::vector<std::pair<std::wstring, std::wstring>> untilQuit = {
        {L"STANDIN_RUN_UNTIL", L"quit.txt"}};

    tree.Write(kLive, Update(1));
    Process& piped = Start(Launch(tree, StdHandles::Pipe, tree.ModFolder(), untilQuit));
    ASSERT_TRUE(WaitForStandinReport(tree.Root())) << "the game was not started";
    EXPECT_NE(piped.ReadOutput().find("is kept as"), std::string::npos)
        << "not on the pipe while the game runs: " << piped.ReadOutput();
    tree.Write(L"quit.txt", "");
    EXPECT_EQ(piped.WaitForExit(), 4u);
    DeleteFileW(tree.Path(L"quit.txt").c_str());
    DeleteFileW(tree.Path(L"standin-report.txt").c_str());

    tree.Write(kLive, Update(2));
    Process& boxed = Start(Launch(tree, StdHandles::Null, tree.ModFolder(), untilQuit));
    const std::optional<StandinReport> report = WaitForStandinReport(tree.Root());
    ASSERT_TRUE(report) << "the game was not started: a box held it back?";
    EXPECT_TRUE(SameBytes("the live archive in the game", report->archive, kModArchive));
    EXPECT_FALSE(ShowsABox(boxed.Id())) << "a box while the game runs";
    tree.Write(L"quit.txt", "");
    const std::optional<MessageBoxSeen> box = WaitForMessageBox(boxed.Id());
    ASSERT_TRUE(box) << "no box after the game";
    EXPECT_NE(Narrow(box->text).find("is kept as"), std::string::npos) << Narrow(box->text);
    EXPECT_TRUE(WaitForStandinReport(tree.Root(), kStartTimeoutMs, true)) << "the game still runs";
    CloseMessageBox(box->window);
    EXPECT_EQ(boxed.WaitForExit(), 4u);
    // The box told of the version: it has its told name now.
    for (const auto& [name, bytes] : KeptFiles(tree))
        EXPECT_EQ(name.find(L".untold"), std::wstring::npos) << Narrow(name);
}

// A shortcut whose "Start in" is elsewhere: the launcher runs from its own
// folder, starts the game with the mod, says nothing and notes it in the log.
TEST_F(E2eTest, WrongWorkingFolderStartsTheGameWithTheMod) {
    GameTree& tree = LayTree(WithBothArchives());
    const std::wstring elsewhere = tree.Path(L"elsewhere");
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    Process& launcher = Start(Launch(tree, StdHandles::Pipe, elsewhere));
    ASSERT_EQ(launcher.WaitForExit(), 0u) << launcher.ReadOutput();
    EXPECT_EQ(launcher.ReadOutput(), "");
    const std::optional<StandinReport> report = ReadStandinReport(tree.Root());
    ASSERT_TRUE(report) << "the game was not started";
    EXPECT_NE(Narrow(report->commandLine).find("+modPath mods/mymod"), std::string::npos)
        << Narrow(report->commandLine);
    EXPECT_TRUE(SameBytes("the live archive in the game", report->archive, kModArchive));
    EXPECT_TRUE(tree.Holds(kLive, Update(0)));
    const std::string log = tree.Read(kLog).value_or("<no log>");
    EXPECT_NE(log.find("the launcher runs in its own folder"), std::string::npos) << log;
}

// The game started without the launcher and still running: the player is
// told so, nothing changes, and no second game starts.
TEST_F(E2eTest, GameAlreadyRunningIsToldAndLeftAlone) {
    GameTree& tree = LayTree(WithBothArchives());
    LaunchOptions game;
    game.exe = tree.Path(L"BF2.exe");
    game.commandLine = Quoted(game.exe);
    game.folder = tree.Root();
    game.env = {{L"STANDIN_RUN_UNTIL", L"quit.txt"}};
    Process& running = Start(game);
    const std::optional<StandinReport> first = WaitForStandinReport(tree.Root());
    ASSERT_TRUE(first) << "the stand-in did not start";
    const Snapshot before = tree.Files();
    Process& launcher = Start(Launch(tree, StdHandles::Pipe, tree.ModFolder()));
    EXPECT_EQ(launcher.WaitForExit(), 3u);
    const std::string output = launcher.ReadOutput();
    EXPECT_EQ(output.rfind("Error: The game is already running: ", 0), 0u) << output;
    EXPECT_EQ(SnapshotDiff(before, tree.Files()), "");
    const std::optional<StandinReport> after = ReadStandinReport(tree.Root());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->pid, first->pid) << "a second game was started";
    EXPECT_TRUE(running.IsRunning());
    tree.Write(L"quit.txt", "");
    EXPECT_EQ(running.WaitForExit(), 0u);
}

// A launcher killed while its game runs: the next launcher, started while
// that game still runs, leaves the mod's archive under it, and the one
// after the game puts the game's back.
TEST_F(E2eTest, KilledLaunchersGameKeepsItsArchive) {
    GameTree& tree = LayTree(WithBothArchives());
    Process& first = Start(
        Launch(tree, StdHandles::Null, tree.ModFolder(), {{L"STANDIN_RUN_UNTIL", L"quit.txt"}}));
    const std::optional<StandinReport> game = WaitForStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    first.Kill();
    ASSERT_TRUE(first.WaitForExit());
    const Snapshot before = tree.Files();
    Process& next = Start(Launch(tree, StdHandles::Pipe, tree.ModFolder()));
    EXPECT_EQ(next.WaitForExit(), 3u);
    EXPECT_EQ(next.ReadOutput().rfind("Error: The game is already running: ", 0), 0u)
        << next.ReadOutput();
    EXPECT_EQ(SnapshotDiff(before, tree.Files()), "");
    EXPECT_TRUE(tree.Holds(kLive, kModArchive));
    tree.Write(L"quit.txt", "");
    ASSERT_TRUE(WaitForStandinReport(tree.Root(), kStartTimeoutMs, true)) << "the game still runs";
    DeleteFileW(tree.Path(L"quit.txt").c_str());
    Process& after = Start(Launch(tree, StdHandles::Pipe, tree.ModFolder()));
    EXPECT_EQ(after.WaitForExit(), 0u) << after.ReadOutput();
    EXPECT_TRUE(tree.Holds(kLive, Update(0)));
}

}  // namespace
}  // namespace e2e
