// The one rule's gate over the fake disk: the ways past it that were found
// (a second name for the game's folder, a copy removed because the live
// archive held its bytes a moment earlier), and the gate's own answers:
// which places count as elsewhere, by file and not by name, and what a read
// that fails proves.
#include "launcher/gate.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/sequence.h"
#include "runs.h"

namespace {

using namespace runs;

const Text kBf2Link = Resolved(kPaths.ModsFolder()) + u"\\bf2link";

// The game updated between runs: G in the backup, the update live.
void UpdatedBetweenRuns(FakePlatform& os) {
    AfterAnOrdinaryRun(os, "G-archive");
    RenameUpdateOver(os, "U-update");
}

// A swap's marker left by a kill during the game, then an update renamed in.
void UpdatedAfterAKill(FakePlatform& os) {
    KilledDuringTheGame(os);
    RenameUpdateOver(os, "U-update");
}

struct LossCase {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
};

void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class NothingLost : public testing::TestWithParam<LossCase> {};

// Each run as arranged, then two ordinary runs: no call of the launcher's
// destroys a version held nowhere else, and in the end the newest is live
// and backed up, each older one kept once.
TEST_P(NothingLost, TheRunAndTheNextTwo) {
    RunResult run = RunOnce(GetParam().arrange, nullptr);
    EXPECT_EQ(Misbehaved(run), "");
    EXPECT_EQ(Lost(run.disk), "");
    RunResult next = RunOnce(nullptr, &run.disk);
    EXPECT_EQ(Misbehaved(next), "");
    RunResult last = RunOnce(nullptr, &next.disk);
    EXPECT_EQ(Misbehaved(last), "");
    EXPECT_EQ(Wrong(last.disk), "");
}

const LossCase kLossCases[] = {
    // A mod manager's linked folder in mods\ that leads to mods\bf2: its
    // Backup\Shaders_client.zip is the game's backup under a second name.
    {"LinkedSecondNameForTheGamesFolder",
     [](FakePlatform& os) {
         os.disk.folderLinks[kBf2Link] = Resolved(kPaths.GameContentFolder());
         UpdatedBetweenRuns(os);
     }},
    // A marker (of an earlier release, say) that names the game's own folder,
    // in another case: its "mod's archive" is the live archive, its "mod's
    // backup" the game's backup.
    {"MarkerNamingTheGamesFolder",
     [](FakePlatform& os) {
         UpdatedAfterAKill(os);
         os.AddFile(kPaths.SwapMarker(), "C:\\G\\mods\\BF2\\\r\n");
     }},
    // A whole copy of the live archive left beside the backup by a kill; the
    // live archive held its bytes when the run looked, and an update was
    // renamed over it before the run's next change.
    {"LeftoverWhoseBytesOnlyTheLiveArchiveHeld",
     [](FakePlatform& os) {
         UpdatedBetweenRuns(os);
         os.AddFile(GameLayout::Temporary(kBackup), "U-update");
         os.otherAt = 1;
         os.other = [](FakePlatform& other) { RenameUpdateOver(other, "V-update"); };
     }},
    // An update renamed in after a kill and held with a byte-range lock from
    // its middle on: what cannot be read is not taken for a copy cut short.
    {"RangeLockedUpdateAfterAKill",
     [](FakePlatform& os) {
         UpdatedAfterAKill(os);
         os.MakeUnreadableFrom(kLive, 4);
     }},
};

INSTANTIATE_TEST_SUITE_P(Gate, NothingLost, testing::ValuesIn(kLossCases),
                         [](const testing::TestParamInfo<LossCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Gate, LinkedSecondNameKeepsTheOldVersionAsideAndBacksTheUpdateUp) {
    RunResult run = RunOnce(
        [](FakePlatform& os) {
            os.disk.folderLinks[kBf2Link] = Resolved(kPaths.GameContentFolder());
            UpdatedBetweenRuns(os);
        },
        nullptr);
    ASSERT_TRUE(run.completed);
    const std::vector<Text> kept = KeptFiles(run.disk);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(run.disk.Find(kept[0])->bytes, "G-archive");
    EXPECT_EQ(run.disk.Find(kBackup)->bytes, "U-update");
    EXPECT_TRUE(run.warned);
}

// The gate's proof by file: a second name of the file itself, or of the live
// archive, is no other file; a file whose identity cannot be read proves
// nothing; a copy whose bytes are in a holding place is proven.
TEST(Gate, ProofIsByFileNotByName) {
    FakePlatform os;
    const GameLayout paths = os.Paths();
    os.AddFile(paths.LiveArchive(), "L");
    os.AddFile(paths.GameArchiveBackup(), "B");
    os.AddFile(paths.ModArchive(), "M");
    os.disk.folderLinks[kBf2Link] = Resolved(paths.GameContentFolder());
    const Text viaLink = kBf2Link + u"\\Backup\\Shaders_client.zip";
    EXPECT_FALSE(ProveHeld(paths, paths.GameArchiveBackup(), {viaLink}, Whole::Only));
    EXPECT_FALSE(ProveHeld(paths, paths.GameArchiveBackup(),
                           {u"C:\\G\\MODS\\BF2\\backup\\shaders_client.ZIP"}, Whole::Only));
    // A copy of the live archive: the live archive under a second name holds nothing.
    os.AddFile(GameLayout::Temporary(paths.GameArchiveBackup()), "L");
    EXPECT_FALSE(ProveHeld(paths, GameLayout::Temporary(paths.GameArchiveBackup()),
                           {kBf2Link + u"\\Shaders_client.zip"}, Whole::Only));
    // The same bytes in a place of its own prove it, and the proof names it.
    os.AddFile(u"Backup\\Shaders_client.zip", "L");
    const std::optional<Proof> proof =
        ProveHeld(paths, GameLayout::Temporary(paths.GameArchiveBackup()),
                  HoldingPlaces(paths, Text()), Whole::Only);
    ASSERT_TRUE(proof);
    EXPECT_EQ(Resolved(proof->holder), Resolved(paths.ModArchiveBackup()));
}

// The launcher's own copy is proven by its making only while its source is
// unchanged by its change time too, and never when the source is the live
// archive under another name.
TEST(Gate, CopyIsProvenByItsMakingOnlyFromAnUnchangedSourceThatIsNotLive) {
    FakePlatform os;
    const GameLayout paths = os.Paths();
    const Text copy = GameLayout::Temporary(paths.LiveArchive());
    os.AddFile(paths.LiveArchive(), "G");
    os.AddFile(paths.ModArchive(), "M");
    FileLook before;
    ASSERT_TRUE(LookAt(paths.ModArchive(), before));
    ASSERT_TRUE(os.CopyWholeFile(paths.ModArchive(), copy));
    const std::optional<Proof> proof = ProveCopy(paths, copy, paths.ModArchive(), before);
    ASSERT_TRUE(proof);
    EXPECT_TRUE(StillUnchanged(*proof));
    // Rewritten with its size and last-write time kept: only the change time tells.
    os.paused += FakePlatform::kChangeTimeTick;
    os.WroteKeepingItsStamp(paths.ModArchive(), "X");
    EXPECT_FALSE(StillUnchanged(*proof));
    EXPECT_FALSE(ProveCopy(paths, copy, paths.ModArchive(), before));
    // The mod's archive a second name (a hard link) of the live archive.
    os.disk.names[Resolved(paths.ModArchive())] = os.disk.names.at(Resolved(paths.LiveArchive()));
    ASSERT_TRUE(LookAt(paths.ModArchive(), before));
    EXPECT_FALSE(ProveCopy(paths, copy, paths.ModArchive(), before));
}

// What the gate does with a file whose bytes it cannot prove elsewhere, and
// with one whose holder changed between the proof and the removal.
TEST(Gate, RetireRemovesOnlyWhatIsProvenAndKeepsTheRestAside) {
    FakePlatform os;
    const GameLayout paths = os.Paths();
    const Text copy = GameLayout::Temporary(paths.GameArchiveBackup());
    os.AddFile(paths.GameArchiveBackup(), "G");
    os.AddFile(paths.LiveArchive(), "U");

    // Its bytes only in the live archive: kept aside, or left.
    os.AddFile(copy, "U");
    Retired retired = Retire(paths, Text(), copy, Unheld::Stay);
    EXPECT_EQ(retired.how, Retired::How::Stays);
    EXPECT_TRUE(os.HasFile(copy));
    retired = Retire(paths, Text(), copy, Unheld::KeepAside);
    ASSERT_EQ(retired.how, Retired::How::KeptAside);
    EXPECT_EQ(os.Content(retired.keptAs), "U");

    // In the backup: removed.
    os.AddFile(copy, "G");
    EXPECT_EQ(Retire(paths, Text(), copy, Unheld::Stay).how, Retired::How::Gone);
    EXPECT_FALSE(os.HasFile(copy));

    // Proven, but the holder was rewritten before the removal: not proven.
    os.AddFile(copy, "G");
    const std::optional<Proof> proof =
        ProveHeld(paths, copy, HoldingPlaces(paths, Text()), Whole::Only);
    ASSERT_TRUE(proof);
    os.disk.Find(Resolved(paths.GameArchiveBackup()))->lastWrite += 1;
    EXPECT_EQ(Retire(paths, Text(), copy, Unheld::Stay, proof).how, Retired::How::Stays);
    EXPECT_EQ(os.Content(copy), "G");
    EXPECT_TRUE(os.destroyed.empty()) << os.destroyed.front();
}

// A read that fails part way is no proof: not of the same bytes, and not of
// a copy cut short.
TEST(Gate, ReadErrorProvesNothing) {
    FakePlatform os;
    const GameLayout paths = os.Paths();
    const Text copy = GameLayout::Temporary(paths.GameArchiveBackup());
    os.AddFile(paths.GameArchiveBackup(), "G-archive");
    os.AddFile(copy, "G-arch");
    os.MakeUnreadableFrom(copy, 3);
    EXPECT_FALSE(ProveHeld(paths, copy, {paths.GameArchiveBackup()}, Whole::OrCutShort));
    EXPECT_EQ(Retire(paths, Text(), copy, Unheld::Stay).how, Retired::How::Stays);
    EXPECT_EQ(os.Content(copy), "G-arch");
}

}  // namespace
