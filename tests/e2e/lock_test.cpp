// One launcher at a time per game installation: a second one, started while
// the first works on the archives or waits for its game, changes nothing and
// starts nothing; a killed launcher's lock blocks no one.
#include <functional>

#include "harness.h"

namespace e2e {
namespace {

// Large enough that the copies take a while to watch.
const std::string& GameArchive() {
    static const std::string bytes = "the game's own\r\n" + std::string(32 << 20, 'G');
    return bytes;
}
const std::string& ModArchive() {
    static const std::string bytes(32 << 20, 'M');
    return bytes;
}

// Only an entry's presence is looked at: a file being copied may not open.
bool Exists(const GameTree& tree, const std::wstring& relative) {
    return GetFileAttributesW(tree.Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MarkerSays(const GameTree& tree, const char* word) {
    std::optional<std::string> marker = tree.Read(kMarker);
    return marker && marker->find(word) != std::string::npos;
}

// A moment in the first launcher's run, told by its files.
struct Phase {
    const char* name;
    std::function<bool(const GameTree&)> reached;
};

// Whether a file is there, without reading it: the lock and a file being
// copied cannot be opened meanwhile.
const Phase kPhases[] = {
    {"BackingUp", [](const GameTree& t) { return Exists(t, kGameBackup) && !Exists(t, kMarker); }},
    {"Swapping", [](const GameTree& t) { return MarkerSays(t, "swapping"); }},
    {"Playing", [](const GameTree& t) { return Exists(t, L"standin-report.txt"); }},
    {"Restoring",
     [](const GameTree& t) {
         std::optional<StandinReport> game = ReadStandinReport(t.Root());
         return game && game->ended && Exists(t, kMarker);
     }},
};

struct SecondLauncher {
    const char* phase;
    bool otherMod;  // another mod's launcher, or the same one again
};

std::string Name(const SecondLauncher& c) {
    return std::string(c.otherMod ? "OtherModWhile" : "SameModWhile") + c.phase;
}

void PrintTo(const SecondLauncher& c, std::ostream* os) { *os << Name(c); }

class TwoLaunchersTest : public E2eTest, public ::testing::WithParamInterface<SecondLauncher> {};

TEST_P(TwoLaunchersTest, GameArchiveSurvives) {
    const Phase& phase = *std::find_if(std::begin(kPhases), std::end(kPhases), [](const Phase& p) {
        return std::string(p.name) == GetParam().phase;
    });
    GameLayout layout;
    layout.gameArchive = GameArchive();
    layout.modArchive = ModArchive();
    GameTree& tree = LayTree(layout);
    const std::wstring otherFolder = tree.Path(L"mods\\other");
    WriteBytes(otherFolder + L"\\Shaders_client.zip", std::string(1 << 20, 'N'));
    CopyOrFail(tree.Launcher(), otherFolder + L"\\ModLauncher.exe");

    // Up to its restore the first launcher surely holds the lock: its game
    // runs until the test ends it. For the restore, the game ends at once and
    // its archive is held a moment, so that the restore takes a while.
    const bool restoring = std::string(phase.name) == "Restoring";
    Process& first =
        StartLauncher(tree, L"",
                      {{L"STANDIN_RUN_MS", restoring ? L"0" : std::to_wstring(kLongRunMs)},
                       {L"STANDIN_HOLD_ARCHIVE_MS", restoring ? L"600" : L"0"}});
    // Watched until the phase comes, or a later one has come.
    const DWORD start = GetTickCount();
    while (!phase.reached(tree) && (restoring || !Exists(tree, L"standin-report.txt")) &&
           first.IsRunning() && GetTickCount() - start < kStartTimeoutMs)
        Sleep(1);

    LaunchOptions second;
    second.exe = GetParam().otherMod ? otherFolder + L"\\ModLauncher.exe" : tree.Launcher();
    second.commandLine = Quoted(second.exe);
    second.folder = GetParam().otherMod ? otherFolder : tree.ModFolder();
    second.std = StdHandles::File;
    second.outputFile = tree.Path(L"second.txt");
    const std::optional<DWORD> secondCode = Start(second).WaitForExit();
    if (restoring) {
        // The first may have let go before the second looked: then the
        // second made an ordinary run.
        EXPECT_TRUE(secondCode == 3u || secondCode == 0u) << secondCode.value_or(999);
    } else {
        EXPECT_EQ(secondCode, 3u) << "the second launcher was not refused";
    }
    if (!restoring) {
        std::optional<StandinReport> game = WaitForStandinReport(tree.Root());
        ASSERT_TRUE(game) << "the first game was not started";
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, game->pid));
        ASSERT_TRUE(process && TerminateProcess(process.get(), 0)) << "cannot end the game";
    }
    EXPECT_EQ(first.WaitForExit(), 0u);
    if (restoring) {
        ASSERT_TRUE(WaitForArchiveRelease(tree.Root()));
    }

    DeleteFileW(tree.Path(L"standin-report.txt").c_str());
    EXPECT_EQ(StartLauncher(tree).WaitForExit(), 0u);
    EXPECT_TRUE(SameBytes("the live archive", tree.Read(kLive), GameArchive()));
    EXPECT_TRUE(SameBytes("the game's backup", tree.Read(kGameBackup), GameArchive()));
    EXPECT_FALSE(tree.Read(kMarker));
    EXPECT_TRUE(LockIsFree(tree));
}

INSTANTIATE_TEST_SUITE_P(
    Phases, TwoLaunchersTest,
    ::testing::Values(SecondLauncher{"BackingUp", true}, SecondLauncher{"Swapping", true},
                      SecondLauncher{"Playing", true}, SecondLauncher{"Restoring", true},
                      SecondLauncher{"BackingUp", false}, SecondLauncher{"Swapping", false},
                      SecondLauncher{"Playing", false}, SecondLauncher{"Restoring", false}),
    [](const ::testing::TestParamInfo<SecondLauncher>& info) { return Name(info.param); });

// While the first one's game runs, a second launcher of the same game says
// that the game runs, in a box, changes no file, starts no game and ends
// with 3; the first one then ends as usual.
TEST_F(E2eTest, SecondLauncherWhileTheGameRunsIsRefused) {
    GameLayout layout;
    layout.gameArchive = "G";
    layout.modArchive = "M";
    GameTree& tree = LayTree(layout);
    Process& first = StartLauncher(tree, L"", {{L"STANDIN_RUN_MS", std::to_wstring(kLongRunMs)}});
    std::optional<StandinReport> game = WaitForStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the first game was not started";
    EXPECT_TRUE(Exists(tree, kLock));
    const Snapshot before = tree.Files();

    Process& second = StartLauncher(tree);
    std::optional<MessageBoxSeen> box = WaitForMessageBox(second.Id());
    ASSERT_TRUE(box) << "no box appeared";
    EXPECT_EQ(box->title, L"Modlauncher");
    EXPECT_EQ(box->text, L"The game is already running: " + tree.Path(L"BF2.exe") +
                             L". The launcher changes nothing and starts no second game. Quit "
                             L"the game first, then start the launcher again.");
    CloseMessageBox(box->window);
    EXPECT_EQ(second.WaitForExit(), 3u);
    EXPECT_EQ(SnapshotDiff(before, tree.Files()), "");
    EXPECT_EQ(ReadStandinReport(tree.Root())->pid, game->pid) << "a second game was started";

    // The first launcher ends as usual when its game does.
    UniqueHandle gameProcess(OpenProcess(PROCESS_TERMINATE, FALSE, game->pid));
    ASSERT_TRUE(gameProcess && TerminateProcess(gameProcess.get(), 0));
    EXPECT_EQ(first.WaitForExit(), 0u);
    EXPECT_EQ(tree.Read(kLive), "G");
    EXPECT_FALSE(tree.Read(kMarker));
    EXPECT_TRUE(LockIsFree(tree));
}

}  // namespace
}  // namespace e2e
