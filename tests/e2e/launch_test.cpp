// The real launcher in real installations: what the game is started with,
// the wait for its end, and what the launcher leaves behind.
#include <cstring>

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

std::wstring FullPath(const std::wstring& path) {
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    full.resize(
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    return full;
}

// For EXPECT_TRUE: the game's command line. Under Wine exactly as above;
// Windows may spell the program's path its own way, so there the program
// part must lead to the same BF2.exe and the parameters follow it exactly.
::testing::AssertionResult GameGot(const std::wstring& actual, const std::wstring& workingFolder,
                                   const std::wstring& parameters) {
    const std::wstring expected = GameCommandLine(workingFolder, parameters);
    if (WineVersion() || actual == expected) {
        if (actual == expected) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the game's command line is\n  " << Narrow(actual)
                                             << "\nnot\n  " << Narrow(expected);
    }
    const bool quoted = !actual.empty() && actual[0] == L'"';
    const std::size_t end = quoted ? actual.find(L'"', 1) : actual.find(L' ');
    const std::wstring program =
        end == std::wstring::npos ? actual : actual.substr(quoted ? 1 : 0, end - (quoted ? 1 : 0));
    const std::size_t rest = end == std::wstring::npos ? actual.size() : end + (quoted ? 1 : 0);
    const std::wstring wanted = FullPath(workingFolder + L"\\..\\..\\BF2.exe");
    if (_wcsicmp(FullPath(program).c_str(), wanted.c_str()) != 0 ||
        actual.substr(rest) != L" " + parameters)
        return ::testing::AssertionFailure()
               << "the game's command line is\n  " << Narrow(actual) << "\nnot " << Narrow(wanted)
               << " (in any spelling) followed by\n   " << Narrow(parameters);
    return ::testing::AssertionSuccess();
}

struct StartCase {
    const char* name;
    std::wstring rootFolder;  // the game's root below the test's folder, if any
    std::wstring modName;
    bool quoteProgram;       // how the caller writes the program's own path
    std::wstring arguments;  // the rest of the launcher's command line
    std::wstring expected;   // the parameters after "+modPath mods/"
    bool warned = false;     // the player is told that a blank cut the name short
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class GameStartTest : public E2eTest, public ::testing::WithParamInterface<StartCase> {};

// Whatever the command line, the launcher starts the game from its root with
// the mod's name and its own arguments, waits, ends with 0 (4 when it warned
// the player, on its standard output here), and (with no shader archives in
// the tree) changes no file.
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
    options.std = StdHandles::File;
    options.outputFile = tree.Path(L"stdout.txt");
    Process& launcher = Start(options);

    EXPECT_EQ(launcher.WaitForExit(), c.warned ? 4u : 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_TRUE(GameGot(game->commandLine, tree.ModFolder(), kFixedParameters + c.expected));
    // The platform resolves "<mod folder>\..\..\" to the root itself.
    EXPECT_EQ(game->folder, tree.Root());
    Snapshot after = tree.Files();
    const std::string output = after[L"stdout.txt"];
    after.erase(L"stdout.txt");
    after.erase(kLock);  // the lock file stays
    // A warning goes to the log too.
    const std::wstring log = L"mods\\bf2\\Backup\\ModLauncher.log";
    EXPECT_EQ(after.count(log) == 1, c.warned);
    if (c.warned) {
        EXPECT_NE(after[log].find("holds a blank"), std::string::npos) << after[log];
    }
    after.erase(log);
    EXPECT_EQ(SnapshotDiff(before, after), "");
    if (c.warned) {
        const std::wstring word = c.expected.substr(0, c.expected.find(L' '));
        EXPECT_EQ(output, "Warning: The mod's folder name \"" + Narrow(c.modName) +
                              "\" holds a blank, so the game is told only \"" + Narrow(word) +
                              "\" (+modPath mods/" + Narrow(word) +
                              "). A folder name without blanks avoids this.\r\n");
    } else {
        EXPECT_EQ(output, "");
    }
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
        StartCase{"ModFolderWithBlank", L"", L"my mod", true, L" -a", L"mod -a", true}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// In a drive root the mod's name is empty: "mods/" is followed directly by the
// arguments. The game's path keeps the doubled backslash, and R:\..\.. is R:\,
// so the game that runs (and reports) is R:\BF2.exe.
TEST_F(E2eTest, DriveRootGivesEmptyModName) {
    if (const std::string skip = NoSecondDrive(); !skip.empty()) GTEST_SKIP() << skip;
    GameLayout layout;
    layout.modName = L"";
    GameTree& tree = LayTreeAt(DriveR(), layout);
    const Snapshot before = tree.Files();

    Process& launcher = StartLauncher(tree, L" -x 1");

    EXPECT_EQ(launcher.WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_TRUE(GameGot(game->commandLine, tree.Root(), kFixedParameters + L" -x 1"));
    EXPECT_EQ(game->folder, tree.Root());
    Snapshot after = tree.Files();
    after.erase(L"bf2\\Backup\\ModLauncher.lock");  // the lock file stays
    EXPECT_EQ(SnapshotDiff(before, after), "");
}

// A working folder longer than 260 characters is read whole. Wine cannot
// start a process in such a folder, nor from a program file that deep, so
// the launcher starts from a copy in the game's root and is moved into the
// mod's folder from inside before it runs: it never asks where it lies.
TEST_F(E2eTest, WorkingFolderLongerThan260CharactersIsReadWhole) {
    if (const std::string skip = OnlyUnderWine(
            "Windows lets no program that does not declare itself long-path aware work in a "
            "folder longer than 260 characters (ArchivePathsLongerThan260Characters is the long "
            "path there)");
        !skip.empty())
        GTEST_SKIP() << skip;
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
    EXPECT_TRUE(
        GameGot(game->commandLine, tree.ModFolder(), kFixedParameters + layout.modName + L" -x"));
    EXPECT_EQ(game->folder, tree.Root());
    EXPECT_TRUE(SameBytes("the live archive as the game saw it", game->archive, "M"));
    EXPECT_TRUE(tree.Holds(L"mods\\" + layout.modName + L"\\Backup\\Shaders_client.zip", "M"));
    EXPECT_TRUE(tree.Holds(L"mods\\bf2\\Shaders_client.zip", "G"));
}

// Archive paths longer than 260 characters, the launcher's own folder
// shorter, so that Windows starts it there: the live archive's path and the
// lock's stay below the limit, the names the launcher makes beside the
// archives (a copy, the capture, the marker, a kept version) go past it.
// Windows refuses such paths to a program that is not long-path aware, and
// Wine, which maps every path to Linux, does not. Whatever the launcher can
// do there, the game starts, no version is lost, no marker is left, the
// game's archive is live afterwards, and what was not done is said.
TEST_F(E2eTest, ArchivePathsLongerThan260Characters) {
    if (const std::string skip =
            OnlyOnWindows("Wine maps every path to a Linux one, for which 260 characters are "
                          "no limit");
        !skip.empty())
        GTEST_SKIP() << skip;
    GameLayout layout;
    layout.gameArchive = "the game's own archive";
    layout.modArchive = "the mod's archive";
    // A root of about 218 characters: the folder LayTree makes, then one
    // folder to pad it.
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::size_t made = WorkFolder().size() + 1 +
                             std::to_wstring(GetCurrentProcessId()).size() + 3 +
                             std::min<std::size_t>(24, std::strlen(test->name())) + 1;
    ASSERT_LT(made, 200u) << "the work folder is too long for this test: " << Narrow(WorkFolder());
    GameTree& tree = LayTree(layout, std::wstring(218 - made, L'p'));
    const std::size_t root = tree.Root().size();
    ASSERT_LT(tree.Path(kGameBackup).size(), 260u) << Narrow(tree.Root());
    ASSERT_GT(tree.Path(kMarker).size(), 260u) << Narrow(tree.Root());
    for (int run = 0; run < 2; ++run) {
        DeleteFileW(tree.Path(L"standin-report.txt").c_str());
        Process& launcher = StartLauncherWithOutput(tree);
        const std::optional<DWORD> exitCode = launcher.WaitForExit();
        const std::string output = launcher.ReadOutput();
        std::optional<StandinReport> game = ReadStandinReport(tree.Root());
        ASSERT_TRUE(game) << "run " << run << ": the game was not started; root of " << root
                          << " characters, output:\n"
                          << output;
        EXPECT_TRUE(tree.Holds(kLive, layout.gameArchive)) << "run " << run;
        EXPECT_FALSE(tree.Read(kMarker)) << "run " << run << ": a marker was left";
        if (exitCode == 0u) {
            // Everything went through: the swap and the backup.
            EXPECT_EQ(output, "") << "run " << run;
            EXPECT_TRUE(SameBytes("the archive the game saw", game->archive, layout.modArchive));
            EXPECT_TRUE(tree.Holds(kGameBackup, layout.gameArchive)) << "run " << run;
        } else {
            EXPECT_EQ(exitCode, 4u) << "run " << run << ", output:\n" << output;
            EXPECT_EQ(output.rfind("Warning: ", 0), 0u) << "run " << run << ": " << output;
            EXPECT_TRUE(SameBytes("the archive the game saw", game->archive, layout.gameArchive));
        }
        EXPECT_TRUE(tree.Holds(L"mods\\mymod\\Shaders_client.zip", layout.modArchive));
    }
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

// A game may end with 259, which a poll reads as "still running": the end
// of its process ends the wait all the same, and the archive is restored.
TEST_F(E2eTest, GameEndingWith259EndsTheWait) {
    GameLayout layout;
    layout.gameArchive = "G";
    layout.modArchive = "M";
    GameTree& tree = LayTree(layout);
    Process& launcher = StartLauncher(tree, L"", {{L"STANDIN_EXIT_CODE", L"259"}});
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game && game->ended) << "the game did not run to its end";
    EXPECT_EQ(game->archive, "M");
    EXPECT_EQ(tree.Read(L"mods\\bf2\\Shaders_client.zip"), "G");
    EXPECT_FALSE(tree.Read(L"mods\\bf2\\Backup\\Shaders_client.zip.swapped"));
}

// Without BF2.exe two levels up from the working folder nor from its own
// (the game missing, or the launcher in and started from folders that are
// no mod's), the launcher makes and changes nothing, starts nothing, and
// says where it looked for the game in a box of its own: one place, or both
// when they differ.
struct MisplacedCase {
    const char* name;
    bool withGame;
    const wchar_t* startFolder;  // relative to the game's root; empty: the launcher's folder
    const wchar_t* modName;      // the launcher's folder below mods; empty: the game's root
};

void PrintTo(const MisplacedCase& c, std::ostream* os) { *os << c.name; }

class NoGameTest : public E2eTest, public ::testing::WithParamInterface<MisplacedCase> {};

TEST_P(NoGameTest, MakesNothingAndSaysWhereItLooked) {
    GameLayout layout;
    layout.withGame = GetParam().withGame;
    layout.modName = GetParam().modName;
    layout.gameArchive = "G";
    layout.modArchive = "M";
    GameTree& tree = LayTree(layout, L"Game");
    const std::wstring outside = tree.Root() + L"\\..";  // the test's own folder
    const Snapshot before = TakeSnapshot(outside);
    const std::wstring folder =
        *GetParam().startFolder ? tree.Path(GetParam().startFolder) : tree.ModFolder();

    LaunchOptions options;
    options.exe = tree.Launcher();
    options.commandLine = Quoted(tree.Launcher()) + L" -a";
    options.folder = folder;
    Process& launcher = Start(options);

    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box) << "no box appeared";
    EXPECT_EQ(box->title, L"Modlauncher");
    // Where "..\..\BF2.exe" from the working folder leads, and from the
    // launcher's own.
    auto fullPath = [](const std::wstring& path) {
        wchar_t full[MAX_PATH];
        GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
        return std::wstring(full);
    };
    const std::wstring fromWorking = fullPath(folder + L"\\..\\..\\BF2.exe");
    const std::wstring fromOwn = fullPath(tree.ModFolder() + L"\\..\\..\\BF2.exe");
    const std::wstring places = fromWorking == fromOwn
                                    ? fromWorking
                                    : fromWorking + L" (from the working folder) nor at " +
                                          fromOwn + L" (from the launcher's own folder)";
    EXPECT_EQ(box->text.rfind(L"BF2.exe was not found at " + places +
                                  L". The launcher must sit in the mod's folder inside the "
                                  L"game's mods folder",
                              0),
              0u)
        << Narrow(box->text) << "\nexpected the places " << Narrow(places);
    CloseMessageBox(box->window);
    EXPECT_EQ(launcher.WaitForExit(), 2u);
    EXPECT_EQ(TopLevelWindowsOf(launcher.Id()).size(), 0u);
    EXPECT_FALSE(ReadStandinReport(tree.Root()));
    EXPECT_EQ(SnapshotDiff(before, TakeSnapshot(outside)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Places, NoGameTest,
    ::testing::Values(MisplacedCase{"GameMissing", false, L"", L"mymod"},
                      MisplacedCase{"InTheGameRoot", true, L"", L""},
                      MisplacedCase{"InTheRootStartedInMods", true, L"mods", L""}),
    [](const ::testing::TestParamInfo<MisplacedCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
