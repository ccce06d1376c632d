// The real launcher in real installations: what the game is started with,
// the wait for its end, and what the launcher leaves behind.
#include "harness.h"

namespace e2e {
namespace {

const std::wstring kFixedParameters = L"+menu 1 +fullscreen 1 +modPath mods/";

// The stand-in's command line as Wine's ShellExecuteExW composes it: the
// program path exactly as the launcher gave it (the working folder, a
// backslash, "..\..\BF2.exe"), quoted, a blank, then the parameters.
std::wstring GameCommandLine(const std::wstring& workingFolder, const std::wstring& parameters) {
    return Quoted(workingFolder + L"\\..\\..\\BF2.exe") + L" " + parameters;
}

struct StartCase {
    const char* name;
    std::wstring rootFolder;  // the game's root below the test's folder, if any
    std::wstring modName;
    bool quoteProgram;       // how the caller writes the program's own path
    std::wstring arguments;  // the rest of the launcher's command line
    std::wstring expected;   // the parameters after "+modPath mods/"
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class GameStartTest : public E2eTest, public ::testing::WithParamInterface<StartCase> {};

// Whatever the command line, the launcher starts the game from its root with
// the mod's name and its own arguments, waits, ends with 0, and (with no
// shader archives in the tree) changes no file.
TEST_P(GameStartTest, GameGetsModAndArgumentsInItsRoot) {
    const StartCase& c = GetParam();
    GameLayout layout;
    layout.modName = c.modName;
    GameTree& tree = LayTree(layout, c.rootFolder);
    const Snapshot before = tree.Files();

    LaunchOptions options;
    options.exe = tree.Launcher();
    options.commandLine =
        (c.quoteProgram ? Quoted(tree.Launcher()) : tree.Launcher()) + c.arguments;
    options.folder = tree.ModFolder();
    Process& launcher = Start(options);

    EXPECT_EQ(launcher.WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_EQ(game->commandLine, GameCommandLine(tree.ModFolder(), kFixedParameters + c.expected));
    // The platform resolves "<mod folder>\..\..\" to the root itself.
    EXPECT_EQ(game->folder, tree.Root());
    EXPECT_EQ(SnapshotDiff(before, tree.Files()), "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, GameStartTest,
    ::testing::Values(
        StartCase{"NoArguments", L"", L"mymod", true, L"", L"mymod"},
        StartCase{"QuotesRemoved", L"", L"mymod", true, L" -a \"b c\"", L"mymod -a b c"},
        StartCase{"BlankRunsBecomeOneSpace", L"", L"mymod", true, L"\t  +x \t\t1  \t",
                  L"mymod +x 1"},
        StartCase{"NonAsciiAndNoBreakSpaceKept", L"", L"mymod", true, L" caf\u00e9\u00a0x y",
                  L"mymod caf\u00e9\u00a0x y"},
        // An unquoted path with a blank: its remainder becomes the first argument.
        StartCase{"UnquotedProgramPathWithBlank", L"Games Dir", L"mymod", false, L" x",
                  L"mymod Dir\\mods\\mymod\\ModLauncher.exe x"},
        StartCase{"QuotedProgramPathWithBlank", L"Games Dir", L"mymod", true, L" x", L"mymod x"},
        // The mod's name is the last blank-separated word of its folder's name.
        StartCase{"ModFolderWithBlank", L"", L"my mod", true, L" -a", L"mod -a"}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// In a drive root the mod's name is empty: "mods/" is followed directly by the
// arguments. The game's path keeps the doubled backslash, and R:\..\.. is R:\,
// so the game that runs (and reports) is R:\BF2.exe.
TEST_F(E2eTest, DriveRootGivesEmptyModName) {
    GameLayout layout;
    layout.modName = L"";
    GameTree& tree = LayTreeAt(DriveR(), layout);
    const Snapshot before = tree.Files();

    Process& launcher = StartLauncher(tree, L" -x 1");

    EXPECT_EQ(launcher.WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_EQ(game->commandLine, GameCommandLine(L"R:\\", kFixedParameters + L" -x 1"));
    EXPECT_EQ(game->folder, L"R:\\");
    EXPECT_EQ(SnapshotDiff(before, tree.Files()), "");
}

// A working folder longer than 260 characters is read whole. Wine cannot
// start a process in such a folder, nor from a program file that deep, so
// the launcher starts from a copy in the game's root and is moved into the
// mod's folder from inside before it runs: it never asks where it lies.
TEST_F(E2eTest, WorkingFolderLongerThan260CharactersIsReadWhole) {
    GameLayout layout;
    layout.modName = std::wstring(250, L'm');
    layout.gameArchive = "G";
    layout.modArchive = "M";
    GameTree& tree = LayTree(layout);
    ASSERT_GT(tree.ModFolder().size(), 260u);
    CopyOrFail(LauncherExe(), tree.Path(L"ModLauncher.exe"));

    LaunchOptions options;
    options.exe = tree.Path(L"ModLauncher.exe");
    options.commandLine = Quoted(options.exe) + L" -x";
    options.folder = tree.Root();
    options.folderFromInside = tree.ModFolder();
    Process& launcher = Start(options);

    EXPECT_EQ(launcher.WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_EQ(game->commandLine,
              GameCommandLine(tree.ModFolder(), kFixedParameters + layout.modName + L" -x"));
    EXPECT_EQ(game->folder, tree.Root());
    EXPECT_TRUE(SameBytes("the live archive as the game saw it", game->archive, "M"));
    EXPECT_TRUE(tree.Holds(L"mods\\" + layout.modName + L"\\Backup\\Shaders_client.zip", "M"));
    EXPECT_TRUE(tree.Holds(L"mods\\bf2\\Shaders_client.zip", "G"));
}

struct GameEndCase {
    const char* name;
    DWORD runMs;
    DWORD exitCode;
};

void PrintTo(const GameEndCase& c, std::ostream* os) { *os << c.name; }

class GameEndTest : public E2eTest, public ::testing::WithParamInterface<GameEndCase> {};

// The launcher ends only after the game has ended, and the game's exit code
// never becomes its own.
TEST_P(GameEndTest, LauncherEndsAfterGameWithZero) {
    const GameEndCase& c = GetParam();
    GameTree& tree = LayTree();
    Process& launcher = StartLauncher(tree, L"",
                                      {{L"STANDIN_RUN_MS", std::to_wstring(c.runMs)},
                                       {L"STANDIN_EXIT_CODE", std::to_wstring(c.exitCode)}});

    ASSERT_TRUE(WaitForStandinReport(tree.Root())) << "the game was not started";
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game);
    EXPECT_TRUE(game->ended) << "the launcher ended before the game";
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, GameEndTest,
                         ::testing::Values(GameEndCase{"EndsAtOnce", 0, 0},
                                           GameEndCase{"RunsAWhileThenSeven", 2000, 7},
                                           GameEndCase{"EndsWithOne", 0, 1}),
                         [](const ::testing::TestParamInfo<GameEndCase>& info) {
                             return info.param.name;
                         });

// 259 reads as "still running", so such a game never ends the wait; only a
// quit message does.
TEST_F(E2eTest, GameEndingWith259NeedsQuitMessage) {
    GameTree& tree = LayTree();
    Process& launcher = StartLauncher(tree, L"", {{L"STANDIN_EXIT_CODE", L"259"}});

    std::optional<StandinReport> game = WaitForStandinReport(tree.Root(), kStartTimeoutMs, true);
    ASSERT_TRUE(game) << "the game did not run to its end";
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, game->pid));
    if (process) WaitForSingleObject(process.get(), 5000);
    EXPECT_EQ(launcher.WaitForExit(1500), std::nullopt) << "the wait ended on exit code 259";

    ASSERT_TRUE(PostThreadMessageW(launcher.ThreadId(), WM_QUIT, 0, 0));
    EXPECT_EQ(launcher.WaitForExit(), 0u);
}

// Without BF2.exe the platform shows its own box, owned by the launcher's
// window; once it is closed the launcher ends with 2 and changes no file.
TEST_F(E2eTest, MissingGameShowsPlatformBoxThenExitsWithTwo) {
    GameLayout layout;
    layout.withGame = false;
    GameTree& tree = LayTree(layout);
    const Snapshot before = tree.Files();

    Process& launcher = StartLauncher(tree, L" -a");

    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box) << "no box appeared";
    EXPECT_EQ(box->title, L"Error");
    // The platform's own text, line break included.
    EXPECT_EQ(box->text, L"File not found.\r\n");
    EXPECT_EQ(GetWindow(box->window, GW_OWNER), WaitForWindow(launcher.Id(), L"TApplication", 0));
    CloseMessageBox(box->window);

    EXPECT_EQ(launcher.WaitForExit(), 2u);
    EXPECT_FALSE(ReadStandinReport(tree.Root()));
    EXPECT_EQ(SnapshotDiff(before, tree.Files()), "");
}

}  // namespace
}  // namespace e2e
