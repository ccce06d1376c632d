// The shader archive swap on a real folder tree: what the game finds while
// it runs and what the archives and backups hold afterwards, from every
// start state that matters; and that whatever stops the launcher, the next
// ordinary run ends with the game's own archive live and in its backup.
#include <functional>

#include "harness.h"

namespace e2e {
namespace {

const std::wstring kMod = L"mods\\mymod\\Shaders_client.zip";
const std::wstring kModBackup = L"mods\\mymod\\Backup\\Shaders_client.zip";

// The four archives and the marker; nothing where a file is missing.
struct Archives {
    std::optional<std::string> live, gameBackup, mod, modBackup;
    bool marker = false;

    bool operator==(const Archives& o) const {
        return live == o.live && gameBackup == o.gameBackup && mod == o.mod &&
               modBackup == o.modBackup && marker == o.marker;
    }
};

std::string Show(const std::optional<std::string>& bytes) { return bytes ? *bytes : "(none)"; }

void PrintTo(const Archives& a, std::ostream* os) {
    *os << "live " << Show(a.live) << ", game backup " << Show(a.gameBackup) << ", mod "
        << Show(a.mod) << ", mod backup " << Show(a.modBackup)
        << (a.marker ? ", marker" : ", no marker");
}

Archives ArchivesOf(const GameTree& tree) {
    return {tree.Read(kLive), tree.Read(kGameBackup), tree.Read(kMod), tree.Read(kModBackup),
            tree.Read(kMarker).has_value()};
}

std::optional<std::string> None() { return std::nullopt; }

struct StartState {
    const char* name;
    std::function<void(const GameTree&)> arrange;
    std::optional<std::string> seenByGame;  // the live archive while the game ran
    Archives after;
    DWORD exitCode = 0;        // 4 where the player is warned
    const char* warning = "";  // a part of the warning
};

void PrintTo(const StartState& s, std::ostream* os) { *os << s.name; }

class ArchiveSwapTest : public E2eTest, public ::testing::WithParamInterface<StartState> {};

TEST_P(ArchiveSwapTest, GameSeesAndLeavesTheRightArchives) {
    const StartState& s = GetParam();
    GameTree& tree = LayTree();
    s.arrange(tree);
    // Standard output on a file, so that a warning is a line, not a box.
    LaunchOptions options;
    options.exe = tree.Launcher();
    options.commandLine = Quoted(tree.Launcher());
    options.folder = tree.ModFolder();
    options.std = StdHandles::File;
    options.outputFile = tree.Path(L"stdout.txt");
    Process& launcher = Start(options);
    EXPECT_EQ(launcher.WaitForExit(), s.exitCode);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_TRUE(SameBytes("the live archive as the game saw it", game->archive, s.seenByGame));
    EXPECT_EQ(ArchivesOf(tree), s.after);
    const std::string output = tree.Read(L"stdout.txt").value_or("");
    if (s.exitCode == 4) {
        EXPECT_EQ(output.rfind("Warning: ", 0), 0u) << output;
        EXPECT_NE(output.find(s.warning), std::string::npos) << output;
    } else {
        EXPECT_EQ(output, "");
    }
}

void Both(const GameTree& t) {
    t.Write(kLive, "G");
    t.Write(kMod, "M");
}

INSTANTIATE_TEST_SUITE_P(
    StartStates, ArchiveSwapTest,
    ::testing::Values(StartState{"BothArchives", Both, "M", {"G", "G", "M", "M", false}},
                      // A live archive that is neither the game's backup nor a mod's is
                      // the game's new one: backed up, the old backup kept aside.
                      StartState{"BothArchivesAndOldBackups",
                                 [](const GameTree& t) {
                                     Both(t);
                                     t.Write(kGameBackup, "G-old");
                                     t.Write(kModBackup, "M-old");
                                 },
                                 "M",
                                 {"G", "G", "M", "M", false},
                                 4,
                                 "is not the game's backed-up shaders nor a mod's"},
                      StartState{"NoModArchive",
                                 [](const GameTree& t) { t.Write(kLive, "G"); },
                                 "G",
                                 {"G", "G", None(), None(), false}},
                      // The game's archive missing while its backup is there: the backup
                      // goes back before the game, and the player is told.
                      StartState{"OnlyAnEarlierBackup",
                                 [](const GameTree& t) {
                                     t.Write(kMod, "M");
                                     t.Write(kGameBackup, "G-old");
                                 },
                                 "M",
                                 {"G-old", "G-old", "M", "M", false},
                                 4,
                                 "was missing: the game's own shaders are put back from"},
                      StartState{"NothingOfTheGames",
                                 [](const GameTree& t) { t.Write(kMod, "M"); },
                                 "M",
                                 {None(), None(), "M", "M", false}},
                      // The content folder is made on the way to its backup folder.
                      StartState{"NoContentFolder",
                                 [](const GameTree& t) {
                                     t.Write(kMod, "M");
                                     ASSERT_TRUE(RemoveDirectoryW(t.Path(L"mods\\bf2").c_str()));
                                 },
                                 "M",
                                 {None(), None(), "M", "M", false}},
                      // No backup can be made, so the game's own archive stays where it is.
                      StartState{"FileNamedBackupInTheModFolder",
                                 [](const GameTree& t) {
                                     Both(t);
                                     t.Write(L"mods\\mymod\\Backup", "a file");
                                 },
                                 "G",
                                 {"G", None(), "M", None(), false},
                                 4,
                                 "The mod's shaders were not put in place"},
                      StartState{"FolderNamedLikeTheModArchive",
                                 [](const GameTree& t) {
                                     t.Write(kLive, "G");
                                     ASSERT_TRUE(CreateDirectoryW(t.Path(kMod).c_str(), nullptr));
                                 },
                                 "G",
                                 {"G", "G", None(), None(), false}},
                      // An earlier run of release 1.1.0 ended during its game: the mod's
                      // archive is live and the marker, one line naming the mod's folder,
                      // says the backup holds the game's own, which must survive.
                      StartState{"ReleaseOneOneMarkerLeftByAnEarlierRun",
                                 [](const GameTree& t) {
                                     Both(t);
                                     t.Write(kLive, "M");
                                     t.Write(kGameBackup, "G");
                                     t.Write(kMarker, Narrow(t.ModFolder()) + "\\\r\n");
                                 },
                                 "M",
                                 {"G", "G", "M", "M", false}},
                      // Killed inside the restore's copy by the last release: the live
                      // archive is the first part of the game's, and the marker's record
                      // names the mod's archive. No update: the game's own comes back.
                      StartState{
                          "RestoreCutShortByTheLastRelease",
                          [](const GameTree& t) {
                              Both(t);
                              t.Write(kGameBackup, "the game's own archive");
                              t.Write(kLive, "the game's");
                              t.Write(kMarker, Narrow(t.ModFolder()) +
                                                   "\\\r\nswapped 1 131000000000000000\r\n");
                          },
                          "M",
                          {"the game's own archive", "the game's own archive", "M", "M", false}},
                      // With no swap in this run, the game's own archive goes back
                      // before the game starts.
                      StartState{"MarkerThenAModWithoutArchive",
                                 [](const GameTree& t) {
                                     t.Write(kLive, "M-old");
                                     t.Write(L"mods\\other\\Shaders_client.zip", "M-old");
                                     t.Write(kGameBackup, "G");
                                     t.Write(kMarker, Narrow(t.Path(L"mods\\other")) + "\\\r\n");
                                 },
                                 "G",
                                 {"G", "G", None(), None(), false}},
                      // Torn by a kill in the middle of the swap's copy.
                      StartState{"TornLiveArchiveWithMarker",
                                 [](const GameTree& t) {
                                     t.Write(kMod, "M");
                                     t.Write(kLive, "");
                                     t.Write(kGameBackup, "G");
                                     t.Write(kMarker, "earlier run");
                                 },
                                 "M",
                                 {"G", "G", "M", "M", false}},
                      // A marker whose backup is gone, with the game's own archive live:
                      // the live archive is kept as the game's, and the player is told.
                      StartState{"MarkerWithoutBackup",
                                 [](const GameTree& t) {
                                     Both(t);
                                     t.Write(kMarker, "stale");
                                 },
                                 "M",
                                 {"G", "G", "M", "M", false},
                                 4,
                                 "was changed while a mod's shaders were in place"}),
    [](const ::testing::TestParamInfo<StartState>& info) { return info.param.name; });

// In a drive root the base folder ends in two backslashes, and every path
// holds them: the backup folders are still made and used, and "..\bf2" from
// the root is the root's own bf2.
TEST_F(E2eTest, DriveRootStillBacksUpSwapsAndRestores) {
    if (const std::string skip = NoSecondDrive(); !skip.empty()) GTEST_SKIP() << skip;
    GameLayout layout;
    layout.modName = L"";
    layout.modArchive = "M";
    GameTree& tree = LayTreeAt(DriveR(), layout);
    tree.Write(L"bf2\\Shaders_client.zip", "G");
    Process& launcher = StartLauncher(tree);
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    ASSERT_TRUE(ReadStandinReport(tree.Root())) << "the game was not started";
    EXPECT_TRUE(tree.Holds(L"Backup\\Shaders_client.zip", "M"));
    EXPECT_TRUE(tree.Holds(L"bf2\\Backup\\Shaders_client.zip", "G"));
    EXPECT_TRUE(tree.Holds(L"bf2\\Shaders_client.zip", "G"));
    EXPECT_FALSE(tree.Read(L"bf2\\Backup\\Shaders_client.zip.swapped"));
}

// Whatever stopped the first run, the next ordinary one ends with the game's
// own archive live and in its backup, byte for byte.
class ArchiveRecoveryTest : public E2eTest {
protected:
    GameTree& Installation() {
        GameLayout layout;
        layout.modArchive = std::string(100000, 'M');
        GameTree& tree = LayTree(layout);
        tree.Write(kLive, game_);
        return tree;
    }

    void ExpectNextRunPutsEverythingRight(GameTree& tree) {
        DeleteFileW(tree.Path(L"standin-report.txt").c_str());
        Process& next = StartLauncher(tree);
        EXPECT_EQ(next.WaitForExit(), 0u);
        std::optional<StandinReport> game = ReadStandinReport(tree.Root());
        ASSERT_TRUE(game);
        EXPECT_TRUE(SameBytes("the live archive as the game saw it", game->archive,
                              std::string(100000, 'M')));
        EXPECT_TRUE(tree.Holds(kLive, game_));
        EXPECT_TRUE(tree.Holds(kGameBackup, game_));
        EXPECT_FALSE(tree.Read(kMarker));
    }

    // Starts the launcher with a game that runs 3 s and waits for the game.
    Process& StartWithRunningGame(const GameTree& tree) {
        Process& launcher = StartLauncher(tree, L"", {{L"STANDIN_RUN_MS", L"3000"}});
        EXPECT_TRUE(WaitForStandinReport(tree.Root())) << "the game was not started";
        return launcher;
    }

    // The one version kept aside holds these bytes, and the player is told
    // where it is.
    static void ExpectKeptAside(const GameTree& tree, const std::string& bytes,
                                const std::string& output) {
        const std::map<std::wstring, std::string> kept = KeptFiles(tree);
        ASSERT_EQ(kept.size(), 1u) << "versions kept aside";
        const auto& [name, held] = *kept.begin();
        EXPECT_TRUE(SameBytes("the version kept aside, " + Narrow(name), held, bytes));
        EXPECT_NE(output.find("kept as " + Narrow(tree.Path(kGameBackupFolder + L"\\" + name))),
                  std::string::npos)
            << output;
    }

    // The game updated between runs: the next run keeps the update live and
    // backs it up, keeps the game's archive aside, and tells the player.
    void ExpectUpdateBetweenRunsKept(GameTree& tree) {
        tree.Write(kLive, update_);
        DeleteFileW(tree.Path(L"standin-report.txt").c_str());
        Process& next = StartLauncherWithOutput(tree);
        EXPECT_EQ(next.WaitForExit(), 4u);
        EXPECT_TRUE(SameBytes("the live archive", tree.Read(kLive), update_));
        EXPECT_TRUE(SameBytes("the game's backup", tree.Read(kGameBackup), update_));
        ExpectKeptAside(tree, game_, next.ReadOutput());
    }

    const std::string game_ = "the game's own archive\r\n" + std::string(70000, 'G');
    // What the game's updater, or its repair, writes over the live archive.
    const std::string update_ = "the game's updated archive\r\n" + std::string(90000, 'U');
};

// The killed launcher's lock goes with it: the next run is not refused.
TEST_F(ArchiveRecoveryTest, LauncherKilledWhileTheGameRuns) {
    GameTree& tree = Installation();
    StartWithRunningGame(tree).Kill();
    // The mod's archive is live and the marker says so.
    EXPECT_TRUE(tree.Holds(kLive, std::string(100000, 'M')));
    EXPECT_TRUE(tree.Read(kMarker));
    EXPECT_TRUE(LockIsFree(tree));
    ASSERT_TRUE(WaitForStandinReport(tree.Root(), kStartTimeoutMs, true));
    ExpectNextRunPutsEverythingRight(tree);
}

// The game's updater, or its repair, writes a new archive of the game's
// own over the live one after a launcher was killed: that archive is kept.
TEST_F(ArchiveRecoveryTest, GameArchiveReplacedAfterAKillIsKept) {
    GameTree& tree = Installation();
    StartWithRunningGame(tree).Kill();
    ASSERT_TRUE(WaitForStandinReport(tree.Root(), kStartTimeoutMs, true));
    tree.Write(kLive, update_);
    DeleteFileW(tree.Path(L"standin-report.txt").c_str());
    Process& next = StartLauncherWithOutput(tree);
    EXPECT_EQ(next.WaitForExit(), 4u);
    EXPECT_TRUE(SameBytes("the archive the game saw", ReadStandinReport(tree.Root())->archive,
                          std::string(100000, 'M')));
    EXPECT_TRUE(SameBytes("the live archive", tree.Read(kLive), update_));
    EXPECT_TRUE(SameBytes("the game's backup", tree.Read(kGameBackup), update_));
    EXPECT_FALSE(tree.Read(kMarker));
    ExpectKeptAside(tree, game_, next.ReadOutput());
}

// A mod that ships the game's own archive as its own (it changes no
// shaders); then the game is updated, then the mod: a mod's files hold no
// version of the game's archive, so every version stays in the game's own
// places, and the runs say only what changed.
TEST_F(ArchiveRecoveryTest, ModThatShipsTheGamesArchiveKeepsEveryVersion) {
    GameTree& tree = Installation();
    tree.Write(kMod, game_);
    Process& first = StartLauncherWithOutput(tree);
    EXPECT_EQ(first.WaitForExit(), 0u);
    EXPECT_EQ(first.ReadOutput(), "");
    EXPECT_TRUE(SameBytes("the game's backup", tree.Read(kGameBackup), game_));
    // The game updated: its earlier archive is kept aside, told.
    ExpectUpdateBetweenRunsKept(tree);
    // The mod updated: its backup follows it, and nothing else changes.
    const std::string modUpdate = "the mod's update\r\n" + std::string(50000, 'N');
    tree.Write(kMod, modUpdate);
    DeleteFileW(tree.Path(L"standin-report.txt").c_str());
    Process& third = StartLauncherWithOutput(tree);
    EXPECT_EQ(third.WaitForExit(), 0u);
    EXPECT_EQ(third.ReadOutput(), "");
    EXPECT_TRUE(
        SameBytes("the archive the game saw", ReadStandinReport(tree.Root())->archive, modUpdate));
    EXPECT_TRUE(SameBytes("the mod's backup", tree.Read(kModBackup), modUpdate));
    // Every version of the game's archive is still held: the update live and
    // in the backup, the earlier one kept aside.
    EXPECT_TRUE(SameBytes("the live archive", tree.Read(kLive), update_));
    EXPECT_TRUE(SameBytes("the game's backup", tree.Read(kGameBackup), update_));
    const std::map<std::wstring, std::string> kept = KeptFiles(tree);
    ASSERT_EQ(kept.size(), 1u) << "versions kept aside";
    EXPECT_TRUE(SameBytes("the version kept aside, " + Narrow(kept.begin()->first),
                          kept.begin()->second, game_));
}

// Killed during the swap's copy, the launcher leaves a live archive that
// may be torn: it is no update, and the game's own archive comes back.
TEST_F(ArchiveRecoveryTest, LauncherKilledDuringTheSwapCopy) {
    GameLayout layout;
    layout.modArchive = std::string(32 << 20, 'M');
    GameTree& tree = LayTree(layout);
    tree.Write(kLive, game_);
    Process& launcher = StartLauncher(tree);
    const DWORD start = GetTickCount();
    auto swapping = [&] {
        std::optional<std::string> marker = tree.Read(kMarker);
        return marker && marker->find("swapping") != std::string::npos;
    };
    while (!swapping() && launcher.IsRunning() && GetTickCount() - start < kStartTimeoutMs)
        Sleep(1);
    ASSERT_TRUE(swapping()) << "the swap was not seen";
    launcher.KillAll();
    DeleteFileW(tree.Path(L"standin-report.txt").c_str());
    EXPECT_EQ(StartLauncher(tree).WaitForExit(), 0u);
    EXPECT_TRUE(SameBytes("the live archive", tree.Read(kLive), game_));
    EXPECT_TRUE(SameBytes("the game's backup", tree.Read(kGameBackup), game_));
    EXPECT_FALSE(tree.Read(kMarker));
}

// The game's own content folder is no mod: a launcher there swaps nothing,
// and an earlier run's marker gets the game's own archive back before the
// game starts.
TEST_F(E2eTest, LauncherInTheGameContentFolderAfterALeftoverMarker) {
    GameLayout layout;
    layout.modName = L"bf2";
    GameTree& tree = LayTree(layout);
    tree.Write(kLive, "M-old");
    tree.Write(L"mods\\other\\Shaders_client.zip", "M-old");
    tree.Write(kGameBackup, "G");
    tree.Write(kMarker, Narrow(tree.Path(L"mods\\other")) + "\\\r\n");
    EXPECT_EQ(StartLauncher(tree).WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_EQ(game->archive, "G");
    EXPECT_EQ(tree.Read(kLive), "G");
    EXPECT_EQ(tree.Read(kGameBackup), "G");
    EXPECT_FALSE(tree.Read(kMarker));
    EXPECT_TRUE(Narrow(game->commandLine).find("+modPath mods/bf2") != std::string::npos);
}

// A player without write access to the game's content folder (a game under
// Program Files, say) is told, before the game, that the mod's shaders did
// not go in and why; the game starts with its own, and nothing of the
// game's changes.
class UnwritableContentFolderTest : public E2eTest,
                                    public ::testing::WithParamInterface<StdHandles> {
protected:
    void TearDown() override {
        if (!contentFolder_.empty()) SetFolderWritable(contentFolder_, true);
        E2eTest::TearDown();
    }
    std::wstring contentFolder_;
};

TEST_P(UnwritableContentFolderTest, GameStartsWithItsOwnArchiveAndThePlayerIsTold) {
    GameLayout layout;
    layout.gameArchive = "G";
    layout.modArchive = "M";
    GameTree& tree = LayTree(layout);
    if (const std::string skip = WhyNoUnwritableFolder(tree.Root()); !skip.empty())
        GTEST_SKIP() << skip;
    contentFolder_ = tree.Path(L"mods\\bf2");
    ASSERT_TRUE(SetFolderWritable(contentFolder_, false));
    const Snapshot before = TakeSnapshot(contentFolder_);

    LaunchOptions options;
    options.exe = tree.Launcher();
    options.commandLine = Quoted(tree.Launcher());
    options.folder = tree.ModFolder();
    options.std = GetParam();
    options.outputFile = tree.Path(L"stdout.txt");
    Process& launcher = Start(options);
    const std::wstring folder = tree.Path(L"mods\\bf2\\Backup");
    std::wstring said;
    if (GetParam() == StdHandles::Null) {
        std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
        ASSERT_TRUE(box) << "no box appeared";
        EXPECT_FALSE(ReadStandinReport(tree.Root())) << "the game started before the box";
        EXPECT_EQ(box->title, L"Modlauncher");
        said = box->text;
        CloseMessageBox(box->window);
    }
    EXPECT_EQ(launcher.WaitForExit(), 4u);
    if (GetParam() == StdHandles::File) {
        const std::string output = tree.Read(L"stdout.txt").value_or("");
        ASSERT_EQ(output.find("\r\n"), output.size() - 2) << "not one line: " << output;
        ASSERT_EQ(output.rfind("Warning: ", 0), 0u) << output;
        said = Wide(output.substr(9, output.size() - 11));
    }
    EXPECT_EQ(said.rfind(L"The mod's shaders were not put in place: the game starts with its own "
                         L"shaders. Could not make the folder " +
                             folder + L": ",
                         0),
              0u)
        << Narrow(said);
    EXPECT_NE(said.find(L"write access to that folder"), std::wstring::npos) << Narrow(said);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_EQ(game->archive, "G");
    EXPECT_EQ(SnapshotDiff(before, TakeSnapshot(contentFolder_)), "");
}

INSTANTIATE_TEST_SUITE_P(Output, UnwritableContentFolderTest,
                         ::testing::Values(StdHandles::File, StdHandles::Null),
                         [](const ::testing::TestParamInfo<StdHandles>& info) {
                             return info.param == StdHandles::File ? "LineOnAFile" : "BoxWithout";
                         });

// A session end that was called off only ends the wait: the restore runs at
// once while the game goes on. One that goes through ends the launcher with
// no restore; the next run puts things right.
// FAT keeps local time and moves it an hour across a change of daylight
// saving; network shares keep coarser times. A live archive whose time moved
// but whose bytes did not is still the mod's, and the game's own comes back.
TEST_F(ArchiveRecoveryTest, LiveArchiveWhoseTimeMovedAfterAKill) {
    GameTree& tree = Installation();
    StartWithRunningGame(tree).Kill();
    ASSERT_TRUE(WaitForStandinReport(tree.Root(), kStartTimeoutMs, true));
    {
        UniqueHandle live(CreateFileW(tree.Path(kLive).c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        FILETIME written;
        ASSERT_TRUE(live && GetFileTime(live.get(), nullptr, nullptr, &written));
        ULARGE_INTEGER time{{written.dwLowDateTime, written.dwHighDateTime}};
        time.QuadPart += 36000000000ULL;  // an hour
        written = {time.LowPart, time.HighPart};
        ASSERT_TRUE(SetFileTime(live.get(), nullptr, nullptr, &written));
    }
    ExpectNextRunPutsEverythingRight(tree);
    EXPECT_EQ(KeptFiles(tree).size(), 0u) << "the mod's archive was taken for an update";
}

// A mod manager's linked folder in mods\ leads to mods\bf2: the game's
// backup under that second name is no copy of it. The game updated between
// runs: the old version is kept aside, the update live and backed up.
TEST_F(ArchiveRecoveryTest, SecondNameForTheGamesFolderIsNoCopyOfItsBackup) {
    GameTree& tree = Installation();
    if (const std::string skip = FolderLink::WhyNot(tree.Root()); !skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_EQ(StartLauncher(tree).WaitForExit(), 0u);
    ASSERT_TRUE(tree.Holds(kGameBackup, game_));
    FolderLink link(tree.Path(L"mods\\bf2link"), tree.Path(L"mods\\bf2"));
    ASSERT_TRUE(link.Made());
    ExpectUpdateBetweenRunsKept(tree);
}

// Another program holds the live archive while the swap is tried: the swap
// is not made, no marker says it was, and the player is told it is in use.
// An update written after that is the game's new archive: backed up, and
// the backup it replaces, found in no other file, kept aside.
TEST_F(ArchiveRecoveryTest, LiveArchiveHeldDuringTheSwapThenUpdated) {
    GameTree& tree = Installation();
    {
        UniqueHandle held(CreateFileW(tree.Path(kLive).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        Process& launcher = StartLauncherWithOutput(tree);
        EXPECT_EQ(launcher.WaitForExit(), 4u);
        const std::string output = launcher.ReadOutput();
        EXPECT_EQ(output.rfind("Warning: The mod's shaders were not put in place", 0), 0u)
            << output;
        EXPECT_NE(output.find("Could not replace " + Narrow(tree.Path(kLive))), std::string::npos)
            << output;
        // In use, which no access right changes.
        EXPECT_NE(output.find("Close the program that holds the file"), std::string::npos)
            << output;
        EXPECT_EQ(output.find("could not be put back"), std::string::npos) << output;
    }
    EXPECT_TRUE(
        SameBytes("the archive the game saw", ReadStandinReport(tree.Root())->archive, game_));
    EXPECT_FALSE(tree.Read(kMarker));
    ExpectUpdateBetweenRunsKept(tree);
}

// The game's updater (or a repair) writes the game's archive while the game
// runs: the restore keeps that one, and keeps the old backup aside.
TEST_F(ArchiveRecoveryTest, ArchiveReplacedWhileTheGameRuns) {
    GameTree& tree = Installation();
    Process& launcher = StartLauncherWithOutput(tree, {{L"STANDIN_RUN_UNTIL", L"quit.txt"}});
    ASSERT_TRUE(WaitForStandinReport(tree.Root())) << "the game was not started";
    tree.Write(kLive, update_);
    tree.Write(L"quit.txt", "");
    EXPECT_EQ(launcher.WaitForExit(), 4u);
    EXPECT_TRUE(SameBytes("the live archive", tree.Read(kLive), update_));
    EXPECT_TRUE(SameBytes("the game's backup", tree.Read(kGameBackup), update_));
    EXPECT_FALSE(tree.Read(kMarker));
    ExpectKeptAside(tree, game_, launcher.ReadOutput());
    EXPECT_NE(launcher.ReadOutput().find(Narrow(tree.Path(kLive)) + " was changed"),
              std::string::npos)
        << launcher.ReadOutput();
}

// Game engines keep their archives open while they run, sharing only
// reading: the swap comes before and the restore after, so both go through.
TEST_F(ArchiveRecoveryTest, GameThatKeepsItsArchiveOpen) {
    GameTree& tree = Installation();
    Process& launcher = StartLauncher(tree, L"", {{L"STANDIN_OPEN_ARCHIVE", L"1"}});
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    std::optional<StandinReport> game = ReadStandinReport(tree.Root());
    ASSERT_TRUE(game) << "the game was not started";
    EXPECT_TRUE(game->archiveOpen);
    EXPECT_TRUE(SameBytes("the archive the game saw", game->archive, std::string(100000, 'M')));
    EXPECT_TRUE(tree.Holds(kLive, game_));
    EXPECT_TRUE(tree.Holds(kGameBackup, game_));
    EXPECT_FALSE(tree.Read(kMarker));
}

// A restore tried while such a game still runs (the session's end called
// off) cannot replace the file: the player is told, the marker stays, and
// the next run puts everything right.
TEST_F(ArchiveRecoveryTest, RestoreWhileTheGameStillHoldsItsArchive) {
    GameTree& tree = Installation();
    Process& launcher = StartLauncherWithOutput(
        tree, {{L"STANDIN_OPEN_ARCHIVE", L"1"}, {L"STANDIN_RUN_MS", L"120000"}});
    std::optional<StandinReport> game = WaitForStandinReport(tree.Root());
    ASSERT_TRUE(game && game->archiveOpen) << "the game was not started with its archive open";
    PostMessageW(WaitForWindow(launcher.Id(), L"TApplication"), WM_ENDSESSION, 0, 0);
    EXPECT_EQ(launcher.WaitForExit(), 4u);
    const std::string output = launcher.ReadOutput();
    EXPECT_EQ(output.rfind("Warning: The game's own shaders could not be put back.", 0), 0u)
        << output;
    EXPECT_TRUE(tree.Holds(kLive, std::string(100000, 'M')));
    EXPECT_TRUE(tree.Read(kMarker));
    UniqueHandle gameProcess(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, game->pid));
    ASSERT_TRUE(gameProcess && TerminateProcess(gameProcess.get(), 0));
    WaitForSingleObject(gameProcess.get(), kExitTimeoutMs);
    ExpectNextRunPutsEverythingRight(tree);
}

TEST_F(ArchiveRecoveryTest, SessionEndCalledOffRestoresAtOnce) {
    GameTree& tree = Installation();
    Process& launcher = StartWithRunningGame(tree);
    PostMessageW(WaitForWindow(launcher.Id(), L"TApplication"), WM_ENDSESSION, 0, 0);
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    EXPECT_FALSE(ReadStandinReport(tree.Root())->ended);
    EXPECT_TRUE(tree.Holds(kLive, game_));
    EXPECT_FALSE(tree.Read(kMarker));
}

TEST_F(ArchiveRecoveryTest, SessionEndedWhileTheGameRuns) {
    GameTree& tree = Installation();
    Process& launcher = StartWithRunningGame(tree);
    PostMessageW(WaitForWindow(launcher.Id(), L"TApplication"), WM_ENDSESSION, 1, 0);
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    EXPECT_TRUE(tree.Read(kMarker));  // no restore while the session ends
    ASSERT_TRUE(WaitForStandinReport(tree.Root(), kStartTimeoutMs, true));
    ExpectNextRunPutsEverythingRight(tree);
}

TEST_F(ArchiveRecoveryTest, GameThatCannotStartGetsItsArchiveBackAtOnce) {
    GameTree& tree = Installation();
    ASSERT_TRUE(MoveFileW(tree.Path(L"BF2.exe").c_str(), tree.Path(L"BF2.bak").c_str()));
    Process& launcher = StartLauncher(tree);
    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box);
    CloseMessageBox(box->window);
    EXPECT_EQ(launcher.WaitForExit(), 2u);
    EXPECT_TRUE(tree.Holds(kLive, game_));
    EXPECT_FALSE(tree.Read(kMarker));
    ASSERT_TRUE(MoveFileW(tree.Path(L"BF2.bak").c_str(), tree.Path(L"BF2.exe").c_str()));
    ExpectNextRunPutsEverythingRight(tree);
}

// The game's process (here a helper it leaves behind) holds the archive for
// a moment after its end: the restore tries again until it goes through.
TEST_F(ArchiveRecoveryTest, RestoreWaitsForAnArchiveHeldForAMoment) {
    GameTree& tree = Installation();
    Process& launcher = StartLauncher(tree, L"", {{L"STANDIN_HOLD_ARCHIVE_MS", L"700"}});
    EXPECT_EQ(launcher.WaitForExit(), 0u);
    EXPECT_TRUE(tree.Holds(kLive, game_));
    EXPECT_FALSE(tree.Read(kMarker));
}

// Held far longer, the restore gives up and leaves the marker; the player
// is told, after the game, where the game's archive is: the next run puts
// things right.
TEST_F(ArchiveRecoveryTest, ArchiveHeldTooLongIsPutRightByTheNextRun) {
    GameTree& tree = Installation();
    Process& launcher = StartLauncher(tree, L"", {{L"STANDIN_HOLD_ARCHIVE_MS", L"6000"}});
    std::optional<MessageBoxSeen> box = WaitForMessageBox(launcher.Id());
    ASSERT_TRUE(box) << "no box appeared";
    EXPECT_TRUE(ReadStandinReport(tree.Root())->ended) << "the box came before the game's end";
    EXPECT_EQ(box->title, L"Modlauncher");
    EXPECT_NE(box->text.find(L"They are safe in " + tree.Path(kGameBackup) +
                             L". The next start of the launcher puts them back"),
              std::wstring::npos)
        << Narrow(box->text);
    CloseMessageBox(box->window);
    EXPECT_EQ(launcher.WaitForExit(), 4u);
    EXPECT_TRUE(tree.Read(kMarker));
    ASSERT_TRUE(WaitForArchiveRelease(tree.Root(), 15000));
    EXPECT_TRUE(tree.Holds(kLive, std::string(100000, 'M')));
    ExpectNextRunPutsEverythingRight(tree);
}

// Archives installed from a disc are read-only, and copies inherit that; no
// copy may be blocked by it. Root on Linux writes through read-only files,
// so this shows something only where the tests run without that power.
TEST_F(ArchiveRecoveryTest, ReadOnlyArchivesDoNotBlockAnyCopy) {
    GameTree& tree = Installation();
    if (CanWriteThroughReadOnly(tree.Root()))
        GTEST_SKIP() << "read-only files can be written here (running as root?)";

    for (const std::wstring& file : {kLive, kMod})
        ASSERT_TRUE(SetFileAttributesW(tree.Path(file).c_str(), FILE_ATTRIBUTE_READONLY));
    // Twice: the second run finds read-only backups and a read-only live archive.
    for (int run = 0; run < 2; ++run) {
        DeleteFileW(tree.Path(L"standin-report.txt").c_str());
        Process& launcher = StartLauncher(tree);
        EXPECT_EQ(launcher.WaitForExit(), 0u);
        std::optional<StandinReport> game = ReadStandinReport(tree.Root());
        ASSERT_TRUE(game);
        EXPECT_TRUE(SameBytes("the live archive as the game saw it", game->archive,
                              std::string(100000, 'M')))
            << "run " << run;
        EXPECT_TRUE(tree.Holds(kLive, game_)) << "run " << run;
        EXPECT_TRUE(tree.Holds(kGameBackup, game_)) << "run " << run;
        EXPECT_FALSE(tree.Read(kMarker)) << "run " << run;
    }
}

}  // namespace
}  // namespace e2e
