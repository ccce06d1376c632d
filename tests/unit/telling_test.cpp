// Never stuck, never silent: what a run leaves in the game's place when the
// kept versions are as many as the launcher keeps, that every kept version
// is named to the player (also after a kill), and that each message says
// what really happened.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "launcher/sequence.h"
#include "runs.h"

namespace {

using namespace runs;

const std::string kSwapCopy =
    "copy Shaders_client.zip -> ..\\bf2\\Shaders_client.zip.ModLauncher-new";
const std::string kSwapRename =
    "move ..\\bf2\\Shaders_client.zip.ModLauncher-new -> new ..\\bf2\\Shaders_client.zip";

// As many versions kept as the launcher keeps.
void ThreeKept(FakePlatform& os) {
    for (const char* version : {"K1-kept", "K2-kept", "K3-kept"}) {
        os.AddFile(kBackupFolder + u"Shaders_client.kept-2020-01-0" +
                       Text(1, static_cast<char16_t>(version[1])) + u"-000000.zip",
                   version);
        os.disk.versions.push_back(version);
    }
}

std::string Said(const FakePlatform& os) {
    std::string said;
    for (const std::string& line : os.writes) said += line;
    return said;
}

void UpdatedBetweenRuns(FakePlatform& os) {
    AfterAnOrdinaryRun(os, "G-archive");
    RenameUpdateOver(os, "U-update");
}

// A full kept list never leaves a mod's archive live: an update renamed in
// as the swap's copy begins is kept as the game's archive after the game,
// one more version kept for it, and the player told.
TEST(NeverStuck, FullKeptListStillPutsTheGamesArchiveBack) {
    auto arrange = [](FakePlatform& os) {
        AfterAnOrdinaryRun(os, "G-archive");
        ThreeKept(os);
    };
    const int swapCopy = ChangeNumber(arrange, kSwapCopy);
    ASSERT_GE(swapCopy, 0);
    FakePlatform os;
    arrange(os);
    os.otherAt = swapCopy;
    os.other = [](FakePlatform& other) { RenameUpdateOver(other, "U-update"); };
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(os.Content(kLive), "U-update") << "a mod's archive left live";
    EXPECT_EQ(os.Content(kBackup), "U-update");
    EXPECT_FALSE(os.HasFile(kMarkerPath));
    EXPECT_EQ(Lost(os.disk), "");
    EXPECT_EQ(KeptFiles(os.disk).size(), 4u);
    EXPECT_NE(Said(os).find("kept as"), std::string::npos) << Said(os);
}

// Four game updates in a row, one between each two runs: every run puts
// the mod's archive in, every version is kept, none is destroyed for room,
// the log names each, and the run that keeps the fourth says after the
// game how many are kept, their room and the oldest.
TEST(NeverStuck, EveryUpdateKeptAndTheModInEveryGame) {
    FakeDisk disk;
    {
        FakePlatform first;
        GameAndMod(first);
        ASSERT_EQ(RunLaunchSequence(), kExitGameRan);
        disk = first.disk;
    }
    for (int update = 1; update <= 4; ++update) {
        FakePlatform os;
        os.UseDisk(disk);
        os.clock = 100000 * static_cast<std::uint64_t>(update);  // each update later
        RenameUpdateOver(os, "U" + std::to_string(update) + "-update");
        EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning) << "update " << update;
        EXPECT_EQ(os.liveArchiveAtStart, "M-archive") << "update " << update;
        EXPECT_EQ(Wrong(os.disk), "") << "update " << update;
        const std::vector<Text> kept = KeptFiles(os.disk);
        ASSERT_EQ(kept.size(), static_cast<std::size_t>(update));
        const std::string log = os.Content(Resolved(kPaths.Log()));
        for (const Text& path : kept)
            EXPECT_NE(log.find(Narrow(path)), std::string::npos) << Narrow(path) << " in\n" << log;
        const std::size_t many = Said(os).find("The launcher now keeps ");
        if (update < 4) {
            EXPECT_EQ(many, std::string::npos) << Said(os);
        } else {
            // Said after the game, with the oldest: the first game's archive.
            std::string oldest;
            for (const Text& path : kept) {
                if (os.disk.Find(path)->bytes == "G-archive") oldest = Narrow(path);
            }
            EXPECT_NE(Said(os).find("The launcher now keeps 4 earlier versions of the game's "
                                    "shaders in C:\\G\\mods\\bf2\\Backup, taking 1 KB; the "
                                    "oldest is " +
                                    oldest + "."),
                      std::string::npos)
                << Said(os);
            EXPECT_NE(log.find("The launcher now keeps 4"), std::string::npos) << log;
        }
        disk = os.disk;
    }
}

// A kill between keeping the old backup aside and telling: the next whole
// run names the kept version by its name.
TEST(NeverSilent, KeptVersionOfAKilledRunIsNamedByTheNext) {
    const int kept =
        ChangeNumber(UpdatedBetweenRuns, "move ..\\bf2\\Backup\\Shaders_client.zip -> new");
    ASSERT_GE(kept, 0);
    RunResult killed = RunOnce(UpdatedBetweenRuns, nullptr, kept + 1, true);
    ASSERT_FALSE(killed.completed);
    ASSERT_FALSE(killed.crashes.empty());
    RunResult next = RunOnce(nullptr, &killed.crashes.front().disk);
    ASSERT_TRUE(next.completed);
    const std::vector<Text> keptFiles = KeptFiles(next.disk);
    ASSERT_EQ(keptFiles.size(), 1u);
    EXPECT_FALSE(GameLayout::IsUntoldKeptName(LastName(keptFiles[0])));
    EXPECT_NE(next.said.find(Narrow(keptFiles[0])), std::string::npos) << next.said;
}

// The capture of an update becomes the backup, the old backup kept aside
// first, and then the rename over the backup fails: the kept version is
// named in this run, not left for the next.
TEST(NeverSilent, BackupKeptByAStepThatThenFailedIsNamedAtOnce) {
    FakePlatform os;
    KilledDuringTheGame(os);
    os.AddFile(kPaths.CapturedArchive(), "U-update");
    os.disk.versions.push_back("U-update");
    os.moveErrors[u"..\\bf2\\Backup\\Shaders_client.zip"] = {kErrorSharingViolation};
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    const std::vector<Text> kept = KeptFiles(os.disk);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(os.disk.Find(kept[0])->bytes, "G-archive");
    EXPECT_FALSE(GameLayout::IsUntoldKeptName(LastName(kept[0]))) << Narrow(kept[0]);
    EXPECT_NE(Said(os).find(Narrow(kept[0])), std::string::npos) << Said(os);
    EXPECT_EQ(Lost(os.disk), "");
}

// Told means written: a kept version takes its told name only once its line
// is in the log or was shown without an error, and that rename is tried
// again while another program holds the file; the live archive missing and
// not put back is told as it is, mod or none.
struct ToldCase {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
    int named;  // the kept version has its told name after the run (-1: no version kept)
    const char* said;
    const char* notSaid;
};

void PrintTo(const ToldCase& c, std::ostream* os) { *os << c.name; }

void LiveMissingBackupThere(FakePlatform& os) {
    os.AddFile(kBackup, "G-archive");
    os.disk.gamesArchive = "G-archive";
    os.disk.versions = {"G-archive"};
    os.copyErrors[u"..\\bf2\\Shaders_client.zip.ModLauncher-new"] = {kErrorDiskFull};
}

const ToldCase kToldCases[] = {
    {"LineLostOnAPipeAndNoLog",
     [](FakePlatform& os) {
         UpdatedBetweenRuns(os);
         os.stdOutputType = 3;
         os.writeError = 232;  // ERROR_NO_DATA: nobody reads the pipe any more
         os.writeFails.insert(u"..\\bf2\\Backup\\ModLauncher.log.ModLauncher-new");
     },
     0, "", ""},
    {"LineLostOnAPipeButLogged",
     [](FakePlatform& os) {
         UpdatedBetweenRuns(os);
         os.stdOutputType = 3;
         os.writeError = 232;
     },
     1, "", ""},
    // Without standard output nor a log, the box after the game tells it;
    // a box that cannot be shown tells nothing.
    {"ToldByTheBoxAfterTheGame",
     [](FakePlatform& os) {
         UpdatedBetweenRuns(os);
         os.stdOutput = 0;
         os.writeFails.insert(u"..\\bf2\\Backup\\ModLauncher.log.ModLauncher-new");
     },
     1, "kept as", ""},
    {"BoxThatCouldNotBeShown",
     [](FakePlatform& os) {
         UpdatedBetweenRuns(os);
         os.stdOutput = 0;
         os.boxFails = true;
         os.writeFails.insert(u"..\\bf2\\Backup\\ModLauncher.log.ModLauncher-new");
     },
     0, "", ""},
    {"ToldNameHeldForAMoment",
     [](FakePlatform& os) {
         UpdatedBetweenRuns(os);
         // The backup is kept aside under a name from its last-write time.
         const Text told =
             u"..\\bf2\\Backup\\" + GameLayout::KeptName(os.disk.Find(kBackup)->lastWrite, 0);
         os.moveErrors[told] = {kErrorSharingViolation, kErrorSharingViolation};
     },
     1, "", ""},
    {"LiveMissingNotPutBack", LiveMissingBackupThere, -1,
     "was missing, and the game's own shaders could not be put back", "starts with its own"},
    {"LiveMissingNotPutBackWithTheMod",
     [](FakePlatform& os) {
         LiveMissingBackupThere(os);
         os.AddFile(kModArchive, "M-archive");
     },
     -1, "The mod's shaders were not put in place either", "starts with its own"},
};

class ToldMeansWritten : public testing::TestWithParam<ToldCase> {};

TEST_P(ToldMeansWritten, KeptNamedOnlyOnceTold) {
    const ToldCase& c = GetParam();
    RunResult run = RunOnce(c.arrange, nullptr);
    ASSERT_TRUE(run.completed);
    EXPECT_EQ(Lost(run.disk), "");
    const std::vector<Text> kept = KeptFiles(run.disk);
    if (c.named >= 0) {
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(!GameLayout::IsUntoldKeptName(LastName(kept[0])), c.named == 1)
            << Narrow(kept[0]);
        // The next run tells an untold one as an earlier run's, and only then.
        const RunResult next = RunOnce(nullptr, &run.disk);
        EXPECT_EQ(next.said.find("was stopped before it could say so") != std::string::npos,
                  c.named == 0)
            << next.said;
    }
    EXPECT_TRUE(run.warned || c.named >= 0) << "not told: " << run.said;
    EXPECT_NE(run.said.find(c.said), std::string::npos) << run.said;
    if (*c.notSaid) {
        EXPECT_EQ(run.said.find(c.notSaid), std::string::npos) << run.said;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ToldMeansWritten, testing::ValuesIn(kToldCases),
                         [](const testing::TestParamInfo<ToldCase>& info) {
                             return info.param.name;
                         });

// A swap whose rename took effect but answered "already exists" (its reply
// lost, the system's retry finding the name taken by the renamed file): the
// swap is made, and the game starts with the mod's archive.
TEST(NeverSilent, SwapWhoseLostReplySaidNameTakenIsMade) {
    const int rename = ChangeNumber(GameAndMod, kSwapRename);
    ASSERT_GE(rename, 0);
    FakePlatform os;
    GameAndMod(os);
    os.lostReplyAt = rename;
    os.lostReplyError = kErrorAlreadyExists;
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    EXPECT_EQ(os.liveArchiveAtStart, "M-archive");
    EXPECT_EQ(os.Content(kLive), "G-archive");
    EXPECT_EQ(Said(os), "");
}

// The messages say what happened: a backup a scanner took during the game
// is gone, not an update; a source written while it was copied is changed,
// not in use, and what was read from it is kept, told as what it may be.
TEST(NeverSilent, MessagesSayWhatReallyHappened) {
    {
        FakePlatform os;
        GameAndMod(os);
        os.duringGame = [](FakePlatform& game) {
            game.disk.Remove(kBackup);
            game.disk.Commit();
        };
        EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
        EXPECT_NE(Said(os).find("was gone"), std::string::npos) << Said(os);
        EXPECT_EQ(Said(os).find("updated or repaired"), std::string::npos) << Said(os);
        EXPECT_EQ(os.Content(kLive), "G-archive");
        EXPECT_EQ(os.Content(kBackup), "G-archive");
    }
    {
        auto arrange = [](FakePlatform& os) { GameAndMod(os); };
        const int backupCopy = ChangeNumber(arrange, "copy ..\\bf2\\Shaders_client.zip -> ");
        ASSERT_GE(backupCopy, 0);
        FakePlatform os;
        GameAndMod(os);
        os.otherAt = backupCopy;
        os.otherInsideCopy = true;
        os.other = [](FakePlatform& other) {
            FakeFile* live = other.disk.Find(kLive);
            live->bytes = "W-rewrite";
            live->lastWrite = ++other.clock;
        };
        EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
        EXPECT_NE(Said(os).find("another program wrote it while it was being copied"),
                  std::string::npos)
            << Said(os);
        EXPECT_EQ(Said(os).find("Close the program"), std::string::npos) << Said(os);
        EXPECT_EQ(KeptFiles(os.disk).size(), 1u);
        EXPECT_NE(Said(os).find("it may also be a mix of two versions"), std::string::npos)
            << Said(os);
    }
}

// G, then an update U, then G again: the kept G is the backup's bytes once
// more, and goes, named; U is kept.
TEST(NeverSilent, RollbackKeepsNoDuplicate) {
    RunResult first = RunOnce(UpdatedBetweenRuns, nullptr);
    ASSERT_TRUE(first.completed);
    RunResult second =
        RunOnce([](FakePlatform& os) { RenameUpdateOver(os, "G-archive"); }, &first.disk);
    ASSERT_TRUE(second.completed);
    std::vector<std::string> kept;
    for (const Text& path : KeptFiles(second.disk)) kept.push_back(second.disk.Find(path)->bytes);
    EXPECT_EQ(kept, std::vector<std::string>{"U-update"});
    EXPECT_NE(second.said.find("it is removed"), std::string::npos) << second.said;
    EXPECT_EQ(Wrong(second.disk), "");
}

}  // namespace
