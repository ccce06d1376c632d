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

// A mod's files are the mod's: whatever their bytes, they hold no version
// of the game's archive, and a file in the game's place is the launcher's
// copy of a mod's archive only where this run's making or the marker says
// so. Each row runs its runs in turn, each checked (nothing destroyed that
// is found nowhere else on the game's side), and then what the player was
// told and what the disk holds.
struct FoundFault {
    const char* name;
    // What happens before each run, from the disk the last one left.
    std::vector<std::function<void(FakePlatform&)>> beforeEachRun;
    // Another program acting inside the first run's first copy that begins
    // so (none when null), its writes behind the copy's reads.
    const char* insideTheCopy;
    std::function<void(FakePlatform&)> other;
    // What is live after them.
    const char* live;
    // What was told, in all the runs, must hold this (nothing at all may be
    // told when it is null); and must not hold `notSaid` (when set).
    const char* said;
    const char* notSaid;
};

std::string Bytes(const FakeDisk& disk, const Text& path) {
    const FakeFile* file = disk.Find(path);
    return file ? file->bytes : "<none>";
}

void PrintTo(const FoundFault& c, std::ostream* os) { *os << c.name; }

class FoundFaults : public testing::TestWithParam<FoundFault> {};

TEST_P(FoundFaults, NothingLostAndToldAsItIs) {
    const FoundFault& row = GetParam();
    std::optional<RunResult> last;
    std::string said;
    int number = 0;
    const int copyAt =
        row.insideTheCopy ? ChangeNumber(row.beforeEachRun[0], row.insideTheCopy) : -1;
    if (row.insideTheCopy) {
        ASSERT_GE(copyAt, 0) << row.insideTheCopy;
    }
    for (const auto& before : row.beforeEachRun) {
        auto arrange = [&](FakePlatform& os) {
            before(os);
            if (number > 0 || copyAt < 0) return;
            os.otherAt = copyAt;
            os.otherInsideCopy = true;
            os.copyReadsAhead = true;
            os.other = row.other;
        };
        RunResult run = RunOnce(arrange, last ? &last->disk : nullptr);
        ++number;
        ASSERT_TRUE(run.completed) << "run " << number;
        EXPECT_EQ(Misbehaved(run), "") << "run " << number;
        EXPECT_EQ(Lost(run.disk), "") << "run " << number;
        said += run.said;
        last = std::move(run);
    }
    EXPECT_EQ(Bytes(last->disk, kLive), row.live);
    if (!row.said) {
        EXPECT_EQ(said, "");
    } else {
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
    }
    if (row.notSaid) {
        EXPECT_EQ(said.find(row.notSaid), std::string::npos) << said;
    }
    // An ordinary run after them settles everything.
    RunResult next = RunOnce(nullptr, &last->disk);
    EXPECT_EQ(Misbehaved(next), "");
    EXPECT_EQ(Wrong(next.disk), "");
}

void ShipsTheGamesArchive(FakePlatform& os) {
    GameAndMod(os);
    os.AddFile(kModArchive, "G-archive");
}
void GameUpdated(FakePlatform& os) { RenameUpdateOver(os, "G1-update"); }
void ModUpdated(FakePlatform& os) { os.AddFile(kModArchive, "M2-archive"); }

const Text kOtherMod = u"..\\othermod\\Shaders_client.zip";

// The game updated between runs to the bytes another mod ships.
void UpdatedToAnotherModsBytes(FakePlatform& os) {
    AfterAnOrdinaryRun(os, "G-archive");
    os.AddFile(kOtherMod, "O-update");
    RenameUpdateOver(os, "O-update");
}

// A patcher rewrites the live archive in place.
void RewrittenInPlace(FakePlatform& os) {
    FakeFile* live = os.disk.Find(kLive);
    os.disk.Commit();
    live->bytes = "W1-rewrite";
    live->lastWrite = ++os.clock;
    os.disk.nodes.at(os.disk.names.at(kLive)).durable = *live;
    os.disk.versions.push_back("W1-rewrite");
    os.disk.gamesArchive = "W1-rewrite";
}

const FoundFault kFoundFaults[] = {
    {"AModThatShipsTheGamesArchiveThenTheGameAndTheModUpdated",
     {ShipsTheGamesArchive, GameUpdated, ModUpdated},
     nullptr,
     nullptr,
     "G1-update",
     "The backup it replaces is kept as",
     nullptr},
    {"AGameUpdateWithAnotherModsBytesBetweenRuns",
     {UpdatedToAnotherModsBytes},
     nullptr,
     nullptr,
     "O-update",
     "holds the same bytes as the mod's shaders C:\\G\\mods\\othermod\\Shaders_client.zip",
     "earlier run"},
    {"AGameUpdateWithAnotherModsBytesDuringTheGame",
     {[](FakePlatform& os) {
         GameAndMod(os);
         os.AddFile(kOtherMod, "O-update");
         os.duringGame = [](FakePlatform& game) { RenameUpdateOver(game, "O-update"); };
     }},
     nullptr,
     nullptr,
     "O-update",
     "was changed while a mod's shaders were in place",
     nullptr},
    {"AWholeEarlierVersionReadBehindAPatcher",
     // The copy that backs the game's update up holds the update whole.
     {UpdatedBetweenRuns},
     "copy ..\\bf2\\Shaders_client.zip -> ",
     RewrittenInPlace,
     "W1-rewrite",
     "it may also be a mix of two versions",
     nullptr},
    {"AMarkerDeletedDuringTheGame",
     {[](FakePlatform& os) {
         GameAndMod(os);
         os.duringGame = [](FakePlatform& game) {
             game.disk.Remove(kMarkerPath);
             game.disk.Commit();
             // The way back puts the game's archive back, by itself.
             EXPECT_EQ(game.Content(kLive), "M-archive");
         };
     }},
     nullptr,
     nullptr,
     "G-archive",
     nullptr,
     nullptr},
};

INSTANTIATE_TEST_SUITE_P(Gate, FoundFaults, testing::ValuesIn(kFoundFaults),
                         [](const testing::TestParamInfo<FoundFault>& info) {
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
// archive, is no other file; a mod's files hold no version of the game's
// archive; a copy whose bytes are in one of the game's places is proven.
TEST(Gate, ProofIsByFileNotByName) {
    FakePlatform os;
    const GameLayout paths = os.Paths();
    os.AddFile(paths.LiveArchive(), "L");
    os.AddFile(paths.GameArchiveBackup(), "B");
    os.AddFile(paths.ModArchive(), "M");
    os.disk.folderLinks[kBf2Link] = Resolved(paths.GameContentFolder());
    const Text viaLink = kBf2Link + u"\\Backup\\Shaders_client.zip";
    // The backup under a second name, or in another case, is the backup.
    EXPECT_FALSE(ProveSameAs(paths, paths.GameArchiveBackup(), viaLink));
    EXPECT_FALSE(ProveSameAs(paths, paths.GameArchiveBackup(),
                             u"C:\\G\\MODS\\BF2\\backup\\shaders_client.ZIP"));
    // A copy of the live archive: a marker that names the game's folder by a
    // second name makes the live archive its "mod's archive", which holds nothing.
    const Text copy = GameLayout::Temporary(paths.LiveArchive());
    os.AddFile(copy, "L");
    Marker marker;
    marker.modFolder = kBf2Link + u"\\";
    EXPECT_FALSE(ProveMarkersCopy(paths, copy, marker));
    EXPECT_EQ(ModsArchiveLike(paths, copy), Text());
    // A mod's archive or backup with the same bytes holds no version of the
    // game's archive: no proof, and no comparing with it on request either.
    os.AddFile(u"Backup\\Shaders_client.zip", "L");
    os.AddFile(u"..\\othermod\\Shaders_client.zip", "L");
    EXPECT_FALSE(ProveHeld(paths, copy, Whole::Only));
    EXPECT_FALSE(ProveSameAs(paths, copy, paths.ModArchiveBackup()));
    EXPECT_EQ(Resolved(ModsArchiveLike(paths, copy)),
              Resolved(paths.ModFolderNamed(u"othermod") + u"Shaders_client.zip"));
    // The same bytes in a place of the game's own prove it, and the proof names it.
    os.AddFile(paths.OldKeptVersion(), "L");
    const std::optional<Proof> proof = ProveHeld(paths, copy, Whole::Only);
    ASSERT_TRUE(proof);
    EXPECT_EQ(Resolved(proof->holder()), Resolved(paths.OldKeptVersion()));
}

// The launcher's copy of a mod's archive, by the marker's record: the
// marker's mod's archive holds it, no other mod's does, and a capture with
// the stamp the game's own archive had is not told apart from the game's.
TEST(Gate, MarkersCopyIsOnlyTheMarkersModsArchive) {
    FakePlatform os;
    const GameLayout paths = os.Paths();
    os.AddFile(paths.GameArchiveBackup(), "G");
    os.AddFile(paths.ModArchive(), "M");
    os.AddFile(u"..\\othermod\\Shaders_client.zip", "O");
    Marker marker;
    marker.modFolder = paths.ModFolder();
    os.AddFile(paths.LiveArchive(), "M");
    std::optional<Proof> proof = ProveMarkersCopy(paths, paths.LiveArchive(), marker);
    ASSERT_TRUE(proof);
    EXPECT_EQ(Resolved(proof->holder()), Resolved(paths.ModArchive()));
    os.AddFile(paths.LiveArchive(), "O");
    EXPECT_FALSE(ProveMarkersCopy(paths, paths.LiveArchive(), marker));
    // A capture with the stamp the game's own archive had is the one a swap
    // took from the game, whatever its bytes.
    os.AddFile(paths.CapturedArchive(), "M");
    EXPECT_TRUE(ProveCapturedMarkersCopy(paths, marker));
    FileStamp stamp;
    ASSERT_TRUE(os.ReadFileStamp(paths.CapturedArchive(), stamp));
    marker.gameStamp = stamp;
    EXPECT_FALSE(ProveCapturedMarkersCopy(paths, marker));
    EXPECT_TRUE(ProveMarkersCopy(paths, paths.CapturedArchive(), marker));
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
    Retired retired = Retire(paths, copy, Unheld::Stay);
    EXPECT_EQ(retired.how, Retired::How::Stays);
    EXPECT_TRUE(os.HasFile(copy));
    retired = Retire(paths, copy, Unheld::KeepAside);
    ASSERT_EQ(retired.how, Retired::How::KeptAside);
    EXPECT_EQ(os.Content(retired.keptAs), "U");

    // In the backup: removed.
    os.AddFile(copy, "G");
    EXPECT_EQ(Retire(paths, copy, Unheld::Stay).how, Retired::How::Gone);
    EXPECT_FALSE(os.HasFile(copy));

    // Proven, but the holder was rewritten before the removal: not proven.
    os.AddFile(copy, "G");
    const std::optional<Proof> proof = ProveHeld(paths, copy, Whole::Only);
    ASSERT_TRUE(proof);
    os.disk.Find(Resolved(paths.GameArchiveBackup()))->lastWrite += 1;
    EXPECT_EQ(Retire(paths, copy, Unheld::Stay, proof).how, Retired::How::Stays);
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
    EXPECT_FALSE(ProveHeld(paths, copy, Whole::OrCutShort));
    EXPECT_EQ(Retire(paths, copy, Unheld::Stay).how, Retired::How::Stays);
    EXPECT_EQ(os.Content(copy), "G-arch");
}

}  // namespace
