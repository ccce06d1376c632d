// The shader archive swap over the fake platform: the order of the copies,
// the lock, what the marker records, and the failures a real disk does not
// give on demand.
#include "launcher/archives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "fake_platform.h"
#include "launcher/failure.h"
#include "launcher/file_steps.h"
#include "launcher/gate.h"
#include "launcher/kept.h"
#include "launcher/marker.h"
#include "launcher/notice.h"
#include "launcher/report.h"
#include "launcher/sequence.h"
#include "runs.h"

namespace {

using Log = std::vector<std::string>;

// The places as the fake's log shows them: relative to the mod's folder.
const GameLayout kPlaces(u"");
const Text kGame = kPlaces.LiveArchive();
const Text kGameBackup = kPlaces.GameArchiveBackup();
const Text kMarker = kPlaces.SwapMarker();
const Text kMod = kPlaces.ModArchive();
const Text kModBackup = kPlaces.ModArchiveBackup();
const Text kCaptured = kPlaces.CapturedArchive();
const Text kOld = kPlaces.OldKeptVersion();
// What a copy is made as beside its target before its rename.
const Text kNew = GameLayout::Temporary(u"");

// 2024-02-29 12:34:56 UTC as a file time: the installations' files are
// written a moment after it, within that second, so a version kept aside
// from them is named after it.
constexpr std::uint64_t kLeapDayNoon = 133536836960000000;
const std::string kKeptAtNoon = "Shaders_client.kept-2024-02-29-123456.zip";

// What the launcher wrote on its standard output, all writes together.
std::string Output(const FakePlatform& os) {
    std::string all;
    for (const std::string& write : os.writes) all += write;
    return all;
}

// The files of the game's backup folder that hold kept versions, by name,
// with their bytes.
std::map<std::string, std::string> KeptFiles(const FakePlatform& os) {
    const Text folder = u"C:\\G\\mods\\bf2\\Backup\\";
    std::map<std::string, std::string> kept;
    for (const auto& [path, node] : os.disk.names) {
        if (path.compare(0, folder.size(), folder) != 0) continue;
        const std::string name = Narrow(path.substr(folder.size()));
        if (name == "Shaders_client.zip.old" || GameLayout::IsKeptName(Widen(name))) {
            kept[name] = os.Content(path);
        }
    }
    return kept;
}

// The launcher's own files that a whole run must not leave: the marker, the
// capture, a copy beside its target.
std::vector<std::string> LauncherFilesLeft(const FakePlatform& os) {
    std::vector<std::string> left;
    for (const auto& [path, node] : os.disk.names) {
        const std::string name = Narrow(path);
        if (name.find(".ModLauncher-") != std::string::npos ||
            name.find(".swapped") != std::string::npos ||
            name.find("ModLauncher.probe") != std::string::npos) {
            left.push_back(name);
        }
    }
    return left;
}

// A mod's folder in an installation with both archives and both backup folders.
struct Installation : FakePlatform {
    Installation() {
        clock = kLeapDayNoon;
        AddFile(kGame, "G");
        AddFile(kMod, "M");
        AddFolder(kPlaces.ModBackupFolder());
        AddFolder(kPlaces.GameBackupFolder());
    }
};

TEST(Archives, OrdinaryRunBacksUpSwapsAndRestoresInOrder) {
    Installation os;
    const Preparation preparation = PrepareArchives(os.Paths(), os.run);
    ASSERT_EQ(preparation.prepared, Prepared::ModsArchive);
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.Content(kModBackup), "M");
    // The marker records what was live before and what went in.
    FileStamp live, before;
    ASSERT_TRUE(os.ReadFileStamp(kGame, live));
    ASSERT_TRUE(os.ReadFileStamp(kGameBackup, before));
    const Marker marker = ReadMarker(Widen(os.Content(kMarker)));
    EXPECT_EQ(marker.swappedIn, live);
    EXPECT_EQ(marker.gameStamp, before);
    EXPECT_EQ(Narrow(marker.modFolder), "C:\\G\\mods\\mymod\\");
    // What was live stays captured while the game runs; nothing else of the
    // launcher's is left but the marker.
    EXPECT_EQ(os.Content(kCaptured), "G");
    EXPECT_EQ(LauncherFilesLeft(os),
              (Log{"C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped",
                   "C:\\G\\mods\\bf2\\Shaders_client.zip.ModLauncher-captured"}));
    ASSERT_TRUE(RestoreGameArchive(os.Paths(), preparation.wayBack, os.run));
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(LauncherFilesLeft(os), Log{});
    // The order of every call of this run is pinned once, with the game
    // between, in sequence_test.cpp (LaunchSequence.OrdinaryRunSwapsAroundTheGame).
    EXPECT_TRUE(KeptFiles(os).empty());
    EXPECT_TRUE(os.boxes.empty());
}

// After an ordinary run the backups hold the archives' very bytes: the next
// run reads them to be sure, writes neither again, and copies only the swap.
TEST(Archives, NextOrdinaryRunCopiesOnlyTheSwap) {
    Installation os;
    ASSERT_EQ(PrepareArchives(os.Paths(), os.run).prepared, Prepared::ModsArchive);
    ASSERT_TRUE(RestoreGameArchive(os.Paths(), WayBack{}, os.run));
    os.log.clear();
    ASSERT_EQ(PrepareArchives(os.Paths(), os.run).prepared, Prepared::ModsArchive);
    std::vector<std::string> copies;
    for (const std::string& entry : os.log) {
        if (entry.rfind("copy ", 0) == 0) copies.push_back(entry);
    }
    EXPECT_EQ(copies,
              Log{"copy Shaders_client.zip -> ..\\bf2\\Shaders_client.zip.ModLauncher-new"});
    // Still made sure to be on the disk.
    EXPECT_NE(std::find(os.log.begin(), os.log.end(), "flush ..\\bf2\\Backup\\Shaders_client.zip"),
              os.log.end());
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.Content(kGame), "M");
}

// Whenever the game's own archive could not be made safe, or the swap itself
// failed, the game starts with its own archive and the player is told why,
// before the game, with the file or folder and what would help.
struct SkippedSwap {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
    const char* says;  // a part of the message that names the cause
};

void PrintTo(const SkippedSwap& c, std::ostream* os) { *os << c.name; }

class SwapSkipped : public testing::TestWithParam<SkippedSwap> {};

TEST_P(SwapSkipped, GameStartsWithItsOwnArchiveAndThePlayerIsTold) {
    FakePlatform os;
    os.AddFile(kGame, "G");
    os.AddFile(kMod, "M");
    os.stdOutput = 0;  // started the ordinary way: a box
    GetParam().arrange(os);
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(os.liveArchiveAtStart, "G");
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
    ASSERT_EQ(os.boxes.size(), 1u);
    const std::string& box = os.boxes[0];
    EXPECT_EQ(box.rfind("warning: The mod's shaders were not put in place: the game starts with "
                        "its own shaders. Could not ",
                        0),
              0u)
        << box;
    EXPECT_NE(box.find(GetParam().says), std::string::npos) << box;
    // Told before the game starts.
    const auto boxAt = std::find(os.log.begin(), os.log.end(), "box");
    EXPECT_LT(boxAt, std::find(os.log.begin(), os.log.end(), "start"));
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, SwapSkipped,
    testing::Values(
        SkippedSwap{"BackupCopyFailed",
                    [](FakePlatform& os) { os.copyErrors[kGameBackup + kNew] = {kErrorDiskFull}; },
                    "copy over C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip: There is not enough "
                    "space on the disk. Free some space on that drive."},
        SkippedSwap{"BackupFlushFailed",
                    [](FakePlatform& os) { os.flushFails.insert(kGameBackup + kNew); },
                    "flush to disk C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip: Error 1117."},
        SkippedSwap{"MarkerNotWritten",
                    [](FakePlatform& os) { os.writeFails.insert(kMarker + kNew); },
                    "write C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped: Access is "
                    "denied. Give your account write access to that folder, or start the "
                    "launcher as administrator."},
        SkippedSwap{"ModBackupFolderNotMade",
                    [](FakePlatform& os) {
                        os.folderErrors[kPlaces.ModBackupFolder()] = kErrorAccessDenied;
                    },
                    "make the folder C:\\G\\mods\\mymod\\Backup: Access is denied."},
        SkippedSwap{"GameBackupFolderNotMade",
                    [](FakePlatform& os) {
                        os.AddFile(kPlaces.GameBackupFolder(), "a file, not a folder");
                    },
                    "make the folder C:\\G\\mods\\bf2\\Backup: Error 183."},
        SkippedSwap{"LockNotTaken", [](FakePlatform& os) { os.lockError = kErrorAccessDenied; },
                    "lock C:\\G\\mods\\bf2\\Backup\\ModLauncher.lock: Access is denied."},
        // The swap's copy beside the live archive fails, or the live archive
        // cannot be captured: it never changed, and no marker says it did.
        SkippedSwap{"SwapCopyFailed",
                    [](FakePlatform& os) { os.copyErrors[kGame + kNew] = {kErrorDiskFull}; },
                    "copy over C:\\G\\mods\\bf2\\Shaders_client.zip: There is not enough space"},
        SkippedSwap{
            "LiveArchiveHeldByAnotherProgram",
            [](FakePlatform& os) { os.heldOpen.insert(u"C:\\G\\mods\\bf2\\Shaders_client.zip"); },
            "replace C:\\G\\mods\\bf2\\Shaders_client.zip: The process cannot access "
            "the file because it is being used by another process. Close the program "
            "that holds the file"}),
    [](const testing::TestParamInfo<SkippedSwap>& info) { return info.param.name; });

TEST(Archives, WithNoGameArchiveToLoseTheSwapNeedsNoBackup) {
    FakePlatform os;
    os.AddFile(kMod, "M");
    os.AddFile(kPlaces.ModBackupFolder(), "a file, not a folder");
    EXPECT_EQ(PrepareArchives(os.Paths(), os.run).prepared, Prepared::ModsArchive);
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_TRUE(
        RestoreGameArchive(os.Paths(), WayBack{}, os.run));  // the game had none: it has none again
    EXPECT_FALSE(os.HasFile(kGame));
    EXPECT_FALSE(os.HasFile(kMarker));
}

// A second launcher of the same game touches nothing and starts nothing.
TEST(Archives, LockHeldByAnotherLauncherChangesNothing) {
    Installation os;
    os.lockError = kErrorSharingViolation;
    os.stdOutputType = 2;  // a console: the line is there at once
    EXPECT_EQ(RunLaunchSequence(), kExitAlreadyRunning);
    for (const std::string& entry : os.log) {
        for (const char* change : {"mkdir", "copy", "write ..", "remove", "start"})
            EXPECT_NE(entry.rfind(change, 0), 0u) << entry;
    }
    ASSERT_EQ(os.writes.size(), 1u);
    EXPECT_EQ(os.writes[0],
              "Error: A launcher is already running for the game in C:\\G. Close the game "
              "first, then start this one again.\r\n");
    EXPECT_EQ(os.Content(kGame), "G");
}

// What an earlier run left decides what this one does: the marker and the
// live archive say whether the game's backup goes back, the game's archive
// is already live, or something else wrote the game's new archive.
struct EarlierRun {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
    const char* seenByGame;
    const char* liveAfter;
    const char* backupAfter;
    std::uint32_t exitCode;
};

void PrintTo(const EarlierRun& c, std::ostream* os) { *os << c.name; }

class AfterAnEarlierRun : public testing::TestWithParam<EarlierRun> {};

TEST_P(AfterAnEarlierRun, GameArchiveEndsLiveAndInItsBackup) {
    Installation os;
    GetParam().arrange(os);
    EXPECT_EQ(RunLaunchSequence(), GetParam().exitCode);
    EXPECT_EQ(os.liveArchiveAtStart, GetParam().seenByGame);
    EXPECT_EQ(os.Content(kGame), GetParam().liveAfter);
    EXPECT_EQ(os.Content(kGameBackup), GetParam().backupAfter);
    EXPECT_FALSE(os.HasFile(kMarker));
}

// An earlier run killed during its game: the mod's archive is live, the
// marker records it.
void KilledDuringTheGame(FakePlatform& os) {
    os.AddFile(kGameBackup, "G");
    os.AddFile(kGame, "M");
    os.MarkSwapped();
}

// A marker of an earlier release, for the mod in C:\G\mods\other, whose
// archive is live.
void OlderMarker(FakePlatform& os, const char* record) {
    os.AddFile(u"C:\\G\\mods\\other\\Shaders_client.zip", "M-other");
    os.AddFile(kGame, "M-other");
    os.AddFile(kGameBackup, "G");
    os.AddFile(kMarker, std::string("C:\\G\\mods\\other\\\r\n") + record);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, AfterAnEarlierRun,
    testing::Values(
        EarlierRun{"KilledDuringTheGame", KilledDuringTheGame, "M", "G", "G", kExitGameRan},
        EarlierRun{"ReleaseOneOneMarker", [](FakePlatform& os) { OlderMarker(os, ""); }, "M", "G",
                   "G", kExitGameRan},
        EarlierRun{"LastReleasesSwapping",
                   [](FakePlatform& os) { OlderMarker(os, "swapping\r\n"); }, "M", "G", "G",
                   kExitGameRan},
        // The live archive's time moved (a daylight-saving change on FAT, a
        // network share), its bytes did not: still the mod's.
        EarlierRun{"TimeMovedBytesNot",
                   [](FakePlatform& os) {
                       KilledDuringTheGame(os);
                       os.AddFile(kGame, "M");
                   },
                   "M", "G", "G", kExitGameRan},
        // The game's updater wrote its new archive over the live one: it is
        // kept, and the old backup is kept aside.
        EarlierRun{"GameUpdatedAfterTheKill",
                   [](FakePlatform& os) {
                       KilledDuringTheGame(os);
                       os.AddFile(kGame, "G2");
                   },
                   "M", "G2", "G2", kExitGameRanWithWarning},
        // Killed inside a restore's copy by an earlier release: the first part
        // of the game's archive, or that and zeros, is no update.
        EarlierRun{"RestoreCutShort",
                   [](FakePlatform& os) {
                       KilledDuringTheGame(os);
                       os.AddFile(kGameBackup, "G-archive");
                       os.AddFile(kGame, "G-ar");
                   },
                   "M", "G-archive", "G-archive", kExitGameRan},
        EarlierRun{"RestoreCutShortAndZeroed",
                   [](FakePlatform& os) {
                       KilledDuringTheGame(os);
                       os.AddFile(kGameBackup, "G-archive");
                       os.AddFile(kGame, std::string("G-ar\0\0\0\0\0", 9));
                   },
                   "M", "G-archive", "G-archive", kExitGameRan},
        EarlierRun{"SwapCutShort",
                   [](FakePlatform& os) {
                       OlderMarker(os, "swapping\r\n");
                       os.AddFile(kGame, "M-ot");
                   },
                   "M", "G", "G", kExitGameRan},
        // A marker whose backup is gone, with the game's archive live: the
        // live archive is kept as the game's, and the player is told.
        EarlierRun{"MarkerWithoutItsBackup", [](FakePlatform& os) { os.AddFile(kMarker, "stale"); },
                   "M", "G", "G", kExitGameRanWithWarning},
        // No swap in this run (the mod's archive removed since, the killed
        // run's backup of it still there): the game's own archive goes back
        // before the game.
        EarlierRun{"KilledThenAModWithoutArchive",
                   [](FakePlatform& os) {
                       KilledDuringTheGame(os);
                       os.AddFile(kModBackup, "M");
                       os.disk.Remove(os.Resolve(kMod));
                   },
                   "G", "G", "G", kExitGameRan}),
    [](const testing::TestParamInfo<EarlierRun>& info) { return info.param.name; });

// The game's backup vanished while the mod's archive was live (a virus
// scanner took it): nothing is changed, the marker stays, the player is told.
TEST(Archives, BackupThatVanishedIsToldAndTheMarkerStays) {
    Installation os;
    KilledDuringTheGame(os);
    os.disk.Remove(os.Resolve(kGameBackup));
    os.stdOutputType = 2;  // a console: each line at once
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(os.liveArchiveAtStart, "M");
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_TRUE(os.HasFile(kMarker));
    EXPECT_NE(Output(os).find("Warning: The backup of the game's own shaders, "
                              "C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip, is gone"),
              std::string::npos)
        << Output(os);
}

// A game without an archive of its own (none live, none backed up) gets
// none back: the marker says so, and the mod's archive is taken out after
// the game.
TEST(Archives, GameWithoutAnArchiveHasNoneAfterTheGame) {
    FakePlatform os;
    os.AddFile(kMod, "M");
    std::string markerDuringTheGame;
    os.duringGame = [&](FakePlatform& game) { markerDuringTheGame = game.Content(kMarker); };
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    EXPECT_EQ(os.liveArchiveAtStart, "M");
    EXPECT_FALSE(ReadMarker(Widen(markerDuringTheGame)).gameHadArchive);
    EXPECT_FALSE(os.HasFile(kGame));
    EXPECT_FALSE(os.HasFile(kGameBackup));
    EXPECT_EQ(LauncherFilesLeft(os), Log{});
}

// The live archive gone (deleted by hand, a repair that did not end) while
// its backup is there: the backup is put back before the game, whether a
// mod's archive then goes in its place or not, and the player is told.
TEST(Archives, MissingLiveArchiveIsPutBackBeforeTheGame) {
    for (const bool withMod : {true, false}) {
        FakePlatform os;
        os.stdOutputType = 3;  // a pipe
        os.AddFile(kGameBackup, "G");
        if (withMod) os.AddFile(kMod, "M");
        std::string capturedDuringTheGame;
        os.duringGame = [&](FakePlatform& game) {
            capturedDuringTheGame = game.Content(kCaptured);
        };
        EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning) << withMod;
        EXPECT_EQ(os.liveArchiveAtStart, withMod ? "M" : "G");
        // With a mod, the swap captured what had been put back.
        EXPECT_EQ(capturedDuringTheGame, withMod ? "G" : "<none>");
        EXPECT_EQ(os.Content(kGame), "G");
        EXPECT_EQ(os.Content(kGameBackup), "G");
        EXPECT_EQ(LauncherFilesLeft(os), Log{});
        EXPECT_TRUE(KeptFiles(os).empty());
        ASSERT_EQ(os.writes.size(), 1u);
        EXPECT_EQ(
            os.writes[0].rfind("Warning: C:\\G\\mods\\bf2\\Shaders_client.zip was missing", 0), 0u)
            << os.writes[0];
    }
}

// The texts of an update kept after the game, and of the backup it replaced.
const std::string kUpdateKeptLine =
    "Warning: C:\\G\\mods\\bf2\\Shaders_client.zip was changed while a mod's shaders were in "
    "place (the game was updated or repaired, say): it is kept as the game's own shaders and "
    "backed up. The backup it replaces is kept as C:\\G\\mods\\bf2\\Backup\\";

// Something wrote the game's archive while the game ran (its updater, a
// repair): the restore keeps it, backs it up and keeps the old backup aside
// under a name from its last-write time. The version release 1.2.0 kept as
// ".old" is one more kept version: left as it is, never overwritten.
TEST(Archives, UpdateDuringTheGameIsKept) {
    Installation os;
    os.AddFile(kOld, "G0");
    os.duringGame = [](FakePlatform& game) { game.AddFile(kGame, "G2"); };
    os.stdOutputType = 2;  // a console: each line at once
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(os.Content(kGame), "G2");
    EXPECT_EQ(os.Content(kGameBackup), "G2");
    EXPECT_EQ(KeptFiles(os), (std::map<std::string, std::string>{{"Shaders_client.zip.old", "G0"},
                                                                 {kKeptAtNoon, "G"}}));
    EXPECT_EQ(LauncherFilesLeft(os), Log{});
    EXPECT_EQ(Output(os), kUpdateKeptLine + kKeptAtNoon + ".\r\n");
}

// An update put in during the game with the very size and last-write time
// of the mod's archive, which the marker records as what went in: its bytes
// are no mod's, so it is the game's new archive, kept and backed up, never
// replaced by the backup.
TEST(Archives, UpdateWithTheModsStampDuringTheGameIsKept) {
    Installation os;
    os.duringGame = [](FakePlatform& game) {
        FakeFile update = *game.disk.Find(game.Resolve(kMod));
        update.bytes = "S";  // the mod's "M", one byte too
        game.disk.Settle(game.Resolve(kGame), update);
    };
    os.stdOutputType = 2;
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(os.Content(kGame), "S");
    EXPECT_EQ(os.Content(kGameBackup), "S");
    EXPECT_EQ(KeptFiles(os), (std::map<std::string, std::string>{{kKeptAtNoon, "G"}}));
    EXPECT_EQ(os.Content(kMod), "M");
    EXPECT_EQ(LauncherFilesLeft(os), Log{});
    EXPECT_EQ(Output(os), kUpdateKeptLine + kKeptAtNoon + ".\r\n");
}

// The game rewrites its live archive in place while it runs (the mod's
// archive there), once in each of two runs: each run keeps the version
// before (the second under the next free name, both last written in the
// same second), the newest ends live and backed up, and the player is told
// each time.
TEST(Archives, ArchiveRewrittenInPlaceInTwoRunsKeepsEachVersion) {
    auto rewrite = [](const char* bytes) {
        return [bytes](FakePlatform& game) {
            FakeFile* live = game.disk.Find(game.Resolve(kGame));
            live->bytes = bytes;
            live->lastWrite = ++game.clock;
        };
    };
    const std::string keptNext = "Shaders_client.kept-2024-02-29-123456-2.zip";
    FakeDisk disk;
    {
        Installation os;
        os.stdOutputType = 2;
        os.duringGame = rewrite("W1");
        EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
        EXPECT_EQ(os.liveArchiveAtStart, "M");
        EXPECT_EQ(os.Content(kGame), "W1");
        EXPECT_EQ(os.Content(kGameBackup), "W1");
        EXPECT_EQ(KeptFiles(os), (std::map<std::string, std::string>{{kKeptAtNoon, "G"}}));
        EXPECT_EQ(Output(os), kUpdateKeptLine + kKeptAtNoon + ".\r\n");
        disk = os.disk;
    }
    FakePlatform os;
    os.UseDisk(disk);
    os.stdOutputType = 2;
    os.duringGame = rewrite("W2");
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(os.liveArchiveAtStart, "M");
    EXPECT_EQ(os.Content(kGame), "W2");
    EXPECT_EQ(os.Content(kGameBackup), "W2");
    EXPECT_EQ(KeptFiles(os),
              (std::map<std::string, std::string>{{kKeptAtNoon, "G"}, {keptNext, "W1"}}));
    EXPECT_EQ(os.Content(kMod), "M");
    EXPECT_EQ(LauncherFilesLeft(os), Log{});
    EXPECT_EQ(Output(os), kUpdateKeptLine + keptNext + ".\r\n");
}

// After an ordinary game the way back reads no archive: what the swap
// proved still holds, as both files' change times show. Anything that makes
// the proof doubtful makes it read: a volume that keeps no change time, or
// one whose change time follows the last-write time (exFAT under Wine), or
// a write that set the live archive's size and last-write time back (only
// its change time moved), which is then kept as the game's new archive.
// That write comes as soon as writers are let in after the swap: its change
// time moves past the swap's whatever the volume's clock (trailing the
// system's, stamping in ticks of its own), since the launcher waited for
// that clock, not the system's.
// A marker deleted during the game is written again from the run's own
// record, and the proofs still hold.
TEST(Archives, WayBackReadsNothingWhileTheSwapsProofsLast) {
    constexpr std::uint64_t kMs = 10000;
    struct Case {
        const char* name;
        bool noChangeTimes;
        bool followsLastWrite;          // the game's content folder's volume
        std::uint64_t fileClockBehind;  // the file system's clock, behind the system's
        std::uint64_t tick;             // the file system's tick
        const char* rewrite;  // bytes written into the live archive during the game, stamp kept
        bool reads;
        const char* live;
        bool markerDeleted = false;
    };
    constexpr std::uint64_t kTick = FakePlatform::kChangeTimeTick;
    const Case cases[] = {
        {"an ordinary game", false, false, 0, kTick, nullptr, false, "G"},
        {"a volume without change times", true, false, 0, kTick, nullptr, true, "G"},
        {"the live archive rewritten, its stamp set back", false, false, 0, kTick, "K", true, "K"},
        {"a change time that follows the last-write time", false, true, 0, kTick, nullptr, true,
         "G"},
        {"a change time that follows the last-write time, the live archive rewritten", false, true,
         0, kTick, "K", true, "K"},
        {"the file system's clock 9 ms behind", false, false, 9 * kMs, kTick, nullptr, false, "G"},
        {"the file system's clock 4 ms behind, the live archive rewritten", false, false, 4 * kMs,
         kTick, "K", true, "K"},
        {"the file system's clock 9 ms behind, the live archive rewritten", false, false, 9 * kMs,
         kTick, "K", true, "K"},
        {"ticks of 15.6 ms, the live archive rewritten", false, false, 0, 156250, "K", true, "K"},
        {"the marker deleted during the game", false, false, 0, kTick, nullptr, false, "G", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Installation os;  // after an ordinary run: both backups made
        os.AddFile(kGameBackup, "G");
        os.AddFile(kModBackup, "M");
        os.stdOutputType = 2;
        os.noChangeTimes = c.noChangeTimes;
        if (c.followsLastWrite)
            os.changeTimeFollowsLastWrite.insert(os.Resolve(kPlaces.GameContentFolder()));
        os.fileClockBehind = c.fileClockBehind;
        os.changeTimeTick = c.tick;
        os.duringGame = [&c](FakePlatform& game) {
            game.partsRead = 0;
            if (c.markerDeleted) {
                game.disk.Remove(game.Resolve(kMarker));
                game.disk.Commit();
            }
            if (!c.rewrite) return;
            // As soon as the game starts: in the clock's tick of the swap,
            // unless the swap let it pass.
            game.WroteKeepingItsStamp(kGame, c.rewrite);  // "M" had one byte too
        };
        EXPECT_EQ(RunLaunchSequence(), c.rewrite ? kExitGameRanWithWarning : kExitGameRan);
        EXPECT_EQ(os.partsRead > 0, c.reads) << os.partsRead << " parts read after the game";
        EXPECT_EQ(os.Content(kGame), c.live);
        EXPECT_EQ(os.Content(kGameBackup), c.live);
        EXPECT_EQ(os.Content(kMod), "M");
        EXPECT_EQ(LauncherFilesLeft(os), Log{});
        if (c.rewrite) {
            EXPECT_EQ(KeptFiles(os), (std::map<std::string, std::string>{{kKeptAtNoon, "G"}}));
            EXPECT_EQ(Output(os), kUpdateKeptLine + kKeptAtNoon + ".\r\n");
        } else {
            EXPECT_TRUE(KeptFiles(os).empty());
            EXPECT_EQ(Output(os), "");
        }
    }
}

// However many versions are kept, a run that keeps one more (the backup
// that a new live archive replaces) still swaps the mod's archive in. What
// was kept is said at once, on standard output; how many are kept, after
// the game.
TEST(Archives, ManyKeptVersionsNeverStopTheSwap) {
    Installation os;
    os.stdOutputType = 2;
    os.AddFile(kGameBackup, "G0");                         // the live "G" is an update since
    os.AddFile(GameLayout::Temporary(kGameBackup), "U1");  // a kill left it
    os.AddFile(kOld, "V1");
    os.AddFile(u"..\\bf2\\Backup\\Shaders_client.kept-2023-05-01-080000.zip", "V2");
    os.AddFile(u"..\\bf2\\Backup\\Shaders_client.kept-2023-11-30-221500.zip", "V3");
    os.AddFolder(kPlaces.ModBackupFolder());
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(os.liveArchiveAtStart, "M");
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_EQ(os.Content(kGameBackup), "G");
    std::multiset<std::string> kept;
    for (const auto& [path, bytes] : KeptFiles(os)) kept.insert(bytes);
    EXPECT_EQ(kept, (std::multiset<std::string>{"G0", "U1", "V1", "V2", "V3"}));
    EXPECT_EQ(LauncherFilesLeft(os), Log{});
    const auto start = std::find(os.log.begin(), os.log.end(), "start");
    ASSERT_NE(start, os.log.end());
    ASSERT_GE(os.writes.size(), 3u);
    EXPECT_EQ(os.writes.back().rfind("Warning: The launcher now keeps 5 earlier versions", 0), 0u)
        << os.writes.back();
    // The kept ones at once, before the game; the count after it.
    const auto lastWrite = std::find_if(os.log.rbegin(), os.log.rend(), [](const std::string& e) {
        return e.rfind("WriteFile", 0) == 0;
    });
    EXPECT_GT(lastWrite.base(), start);
    EXPECT_EQ(std::count_if(os.log.begin(), start,
                            [](const std::string& e) { return e.rfind("WriteFile", 0) == 0; }),
              static_cast<long>(os.writes.size() - 1));
}

// An update is copied beside the backup, then the backup cannot be kept
// aside (a scanner holds it), and meanwhile another program renames a
// newer update over the live archive: the copy holds the only bytes of the
// first update. It stays, and the next run keeps it aside.
TEST(Archives, CopyOfTheLiveArchiveWhoseBytesAreNowhereElseIsNotRemoved) {
    auto arrange = [](FakePlatform& os) {
        os.AddFile(kGame, "U1");
        os.AddFile(kGameBackup, "G");
        os.AddFile(kMod, "M");
        os.AddFolder(kPlaces.ModBackupFolder());
        os.heldOpen.insert(os.Resolve(kGameBackup));
    };
    // The change after which the copy beside the backup is whole.
    int flushOfTheCopy = -1;
    {
        FakePlatform dry;
        arrange(dry);
        RunLaunchSequence();
        const std::string flush = "flush " + Narrow(GameLayout::Temporary(kGameBackup));
        const auto at = std::find(dry.changeLog.begin(), dry.changeLog.end(), flush);
        ASSERT_NE(at, dry.changeLog.end()) << "no flush of the copy beside the backup";
        flushOfTheCopy = static_cast<int>(at - dry.changeLog.begin());
    }
    FakePlatform os;
    arrange(os);
    os.otherAt = flushOfTheCopy + 1;
    os.other = [](FakePlatform& other) { runs::RenameUpdateOver(other, "U2"); };
    RunLaunchSequence();
    EXPECT_EQ(os.Content(kGame), "U2");
    EXPECT_EQ(os.Content(GameLayout::Temporary(kGameBackup)), "U1");
    // The next run, with the backup let go, keeps the first update aside.
    FakePlatform next;
    next.UseDisk(os.disk);
    RunLaunchSequence();
    std::vector<std::string> kept;
    for (const auto& [name, bytes] : KeptFiles(next)) kept.push_back(bytes);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"G", "U1"}));
    EXPECT_EQ(next.Content(kGameBackup), "U2");
    EXPECT_EQ(LauncherFilesLeft(next), std::vector<std::string>{});
}

// A Shaders_client.zip.tmp is another program's (a patcher's staged file,
// or what an interrupted release 1.2.0 left): never moved, written or removed.
TEST(Archives, AnotherProgramsTmpFilesAreLeftAsTheyAre) {
    Installation os;
    const Text tmpFiles[] = {u"..\\bf2\\Shaders_client.zip.tmp",
                             u"..\\bf2\\Backup\\Shaders_client.zip.tmp",
                             u"Backup\\Shaders_client.zip.tmp"};
    os.AddFile(tmpFiles[0], "P-staged");
    os.AddFile(tmpFiles[1], "G");  // a whole copy of the live archive
    os.AddFile(tmpFiles[2], "M-h");
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    EXPECT_EQ(os.Content(tmpFiles[0]), "P-staged");
    EXPECT_EQ(os.Content(tmpFiles[1]), "G");
    EXPECT_EQ(os.Content(tmpFiles[2]), "M-h");
    for (const std::string& entry : os.log)
        EXPECT_EQ(entry.find(".tmp"), std::string::npos) << entry;
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_TRUE(KeptFiles(os).empty());
}

// Started in the game's own content folder, the launcher has no mod: its
// "mod's archive" and "mod's backup" are the game's own.
TEST(Archives, GameContentFolderIsNoMod) {
    FakePlatform os;
    os.base = u"C:\\G\\mods\\bf2\\";
    os.currentDirectory = u"C:\\G\\mods\\bf2";
    OlderMarker(os, "");
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    EXPECT_EQ(os.liveArchiveAtStart, "G");
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
}

TEST(Archives, ReadOnlyAndHiddenTargetsDoNotBlockTheCopies) {
    Installation os;
    os.AddFile(kMod, "M", 0x01 | 0x20);             // installed read-only
    os.AddFile(kGameBackup, "older", 0x02 | 0x20);  // hidden
    os.AddFile(kModBackup, "older", 0x01);
    ASSERT_EQ(PrepareArchives(os.Paths(), os.run).prepared, Prepared::ModsArchive);
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.Content(kModBackup), "M");
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_EQ(os.Attributes(kGame) & 0x01, 0x01u);  // a copy takes its source's attributes
    RestoreGameArchive(os.Paths(), WayBack{}, os.run);
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
}

struct RestoreCase {
    const char* name;
    std::deque<std::uint32_t> errors;  // of the restore's renames into the live name, in turn
    Log pauses;
    bool restored;
};

void PrintTo(const RestoreCase& c, std::ostream* os) { *os << c.name; }

class RestoreRetry : public testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreRetry, RetriesOnlyWhileTheFileIsInUse) {
    Installation os;
    os.stdOutput = 0;
    ASSERT_EQ(PrepareArchives(os.Paths(), os.run).prepared, Prepared::ModsArchive);
    os.log.clear();
    os.moveErrors[kGame] = GetParam().errors;
    EXPECT_EQ(RestoreGameArchive(os.Paths(), WayBack{}, os.run), GetParam().restored);
    // The retries' pauses; not the volume probe's, each after its probe
    // file's time is set.
    Log pauses;
    for (std::size_t i = 0; i < os.log.size(); ++i) {
        const bool probes = i > 0 && os.log[i - 1].find("ModLauncher.probe") != std::string::npos;
        if (os.log[i].rfind("pause", 0) == 0 && !probes) pauses.push_back(os.log[i]);
    }
    EXPECT_EQ(pauses, GetParam().pauses);
    EXPECT_EQ(os.Content(kGame), GetParam().restored ? "G" : "M");
    // The marker stays for the next run exactly when the restore failed,
    // and then the player is told where the game's archive is.
    EXPECT_EQ(os.HasFile(kMarker), !GetParam().restored);
    EXPECT_EQ(os.run.playerWarned, !GetParam().restored);
    if (!GetParam().restored) {
        ASSERT_EQ(os.boxes.size(), 1u);
        EXPECT_NE(os.boxes[0].find("They are safe in C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip. "
                                   "The next start of the launcher puts them back; or copy that "
                                   "file over C:\\G\\mods\\bf2\\Shaders_client.zip by hand."),
                  std::string::npos)
            << os.boxes[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RestoreRetry,
    testing::Values(
        RestoreCase{"FirstTry", {}, {}, true},
        RestoreCase{"HeldForAMoment", {32, 33, 5}, {"pause 60", "pause 120", "pause 250"}, true},
        // Each of the six tries refused; the mod's archive captured goes back.
        RestoreCase{"HeldTooLong",
                    {32, 32, 32, 32, 32, 32},
                    {"pause 60", "pause 120", "pause 250", "pause 500", "pause 1000"},
                    false},
        RestoreCase{"DiskFullIsNotRetried", {112}, {}, false}),
    [](const testing::TestParamInfo<RestoreCase>& info) { return info.param.name; });

// The backup is copied back when the capture is not there to go back (a
// cleaner took it during the game): a copy that cannot reach the disk does
// not go in.
TEST(Archives, RestoreFlushFailureKeepsTheMarker) {
    Installation os;
    ASSERT_EQ(PrepareArchives(os.Paths(), os.run).prepared, Prepared::ModsArchive);
    os.disk.Remove(os.Resolve(kCaptured));
    os.flushFails.insert(kGame + kNew);
    EXPECT_FALSE(RestoreGameArchive(os.Paths(), WayBack{}, os.run));
    EXPECT_TRUE(os.HasFile(kMarker));
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_EQ(os.Content(kGameBackup), "G");
}

// The marker's record, read back; the markers of earlier releases read as a
// game that had an archive, with nothing known of its stamps.
TEST(Marker, RecordReadsBackAndOlderFormsMapOntoIt) {
    Marker marker;
    marker.modFolder = u"C:\\G\\mods\\m\\";
    marker.gameStamp = FileStamp{42, 133456789012345678};
    marker.swappedIn = FileStamp{123456789, 133456789012345679};
    const Marker read = ReadMarker(MarkerText(marker));
    EXPECT_EQ(read.modFolder, marker.modFolder);
    EXPECT_TRUE(read.gameHadArchive);
    EXPECT_EQ(read.gameStamp, marker.gameStamp);
    EXPECT_EQ(read.swappedIn, marker.swappedIn);
    marker.gameHadArchive = false;
    marker.gameStamp.reset();
    marker.swappedIn.reset();
    EXPECT_EQ(Narrow(MarkerText(marker)), "C:\\G\\mods\\m\\\r\ngame none\r\nswapping\r\n");
    EXPECT_FALSE(ReadMarker(MarkerText(marker)).gameHadArchive);

    struct Older {
        const char* name;
        const char16_t* text;
        std::optional<FileStamp> swappedIn;
    };
    const Older older[] = {
        {"ReleaseOneOne", u"C:\\G\\mods\\m\\\r\n", std::nullopt},
        {"Swapping", u"C:\\G\\mods\\m\\\r\nswapping\r\n", std::nullopt},
        {"Swapped", u"C:\\G\\mods\\m\\\r\nswapped 12 34\r\n", FileStamp{12, 34}},
        {"SwappingWithItsStamp", u"C:\\G\\mods\\m\\\r\nswapping 12 34\r\n", FileStamp{12, 34}},
        {"CutShort", u"C:\\G\\mods\\m\\\r\nswapped 12 ", std::nullopt},
        {"NotANumber", u"C:\\G\\mods\\m\\\r\nswapped 12 x4\r\n", std::nullopt},
        {"TooLarge", u"C:\\G\\mods\\m\\\r\nswapped 123456789012345678901 1\r\n", std::nullopt},
        {"RecordOnTheFirstLine", u"swapped 12 34\r\n", std::nullopt},
        {"Empty", u"", std::nullopt},
    };
    for (const Older& form : older) {
        const Marker old = ReadMarker(form.text);
        EXPECT_TRUE(old.gameHadArchive) << form.name;
        EXPECT_EQ(old.gameStamp, std::nullopt) << form.name;
        EXPECT_EQ(old.swappedIn, form.swappedIn) << form.name;
    }
    EXPECT_EQ(Narrow(ReadMarker(u"C:\\G\\mods\\m\\\r\nswapping\r\n").modFolder),
              "C:\\G\\mods\\m\\");
}

// A live archive against a file the launcher knows.
TEST(Compare, SameCutShortDifferentOrUnread) {
    FakePlatform os;
    os.AddFile(u"known", "abcdef");
    const std::pair<const char*, Likeness> cases[] = {
        {"abcdef", Likeness::Same},       {"abc", Likeness::CutShort},
        {"", Likeness::CutShort},         {"abcdeg", Likeness::Different},
        {"abcdefg", Likeness::Different}, {"xbc", Likeness::Different},
    };
    for (const auto& [live, expected] : cases) {
        os.AddFile(u"live", live);
        EXPECT_EQ(Compare(os.base + u"live", os.base + u"known"), expected) << live;
    }
    os.AddFile(u"live", std::string("abc\0\0\0", 6));
    EXPECT_EQ(Compare(os.base + u"live", os.base + u"known"), Likeness::CutShort);
    os.AddFile(u"live", std::string("ab\0d\0\0", 6));
    EXPECT_EQ(Compare(os.base + u"live", os.base + u"known"), Likeness::Different);
    // A read that fails says nothing of the bytes, not even that they differ:
    // neither a file that is missing nor one whose read fails part way is
    // taken for a copy cut short.
    EXPECT_EQ(Compare(os.base + u"live", os.base + u"missing"), Likeness::Unread);
    os.AddFile(u"live", "abc");
    os.MakeUnreadableFrom(u"known", 3);
    EXPECT_EQ(Compare(os.base + u"live", os.base + u"known"), Likeness::Unread);
}

// The same over archives of several parts: a difference or the start of the
// zeros anywhere, in a part after the first, inside a block or at its edge.
TEST(Compare, AcrossParts) {
    constexpr std::size_t kPart = kComparePart;
    std::string known(2 * kPart + kPart / 2, '\0');
    for (std::size_t i = 0; i < known.size(); ++i) known[i] = static_cast<char>('a' + i % 23);
    auto zeroedFrom = [&](std::size_t at) {
        return known.substr(0, at) + std::string(known.size() - at, '\0');
    };
    auto changedAt = [&](std::size_t at, char to) {
        std::string changed = known;
        changed[at] = to;
        return changed;
    };
    struct Case {
        const char* name;
        std::string live;
        Likeness expected;
    };
    const Case cases[] = {
        {"same", known, Likeness::Same},
        {"first part and a half", known.substr(0, kPart + kPart / 2), Likeness::CutShort},
        {"two whole parts", known.substr(0, 2 * kPart), Likeness::CutShort},
        {"zeros from inside the second part", zeroedFrom(kPart + 4096 + 7), Likeness::CutShort},
        {"zeros from a block's edge", zeroedFrom(kPart + 8192), Likeness::CutShort},
        {"one byte other in the second part", changedAt(kPart + 4096 + 7, '!'),
         Likeness::Different},
        {"one byte other at the last", changedAt(known.size() - 1, '!'), Likeness::Different},
        {"a byte after the zeros",
         changedAt(known.size() - 1, '!').replace(kPart, kPart, kPart, '\0'), Likeness::Different},
        {"one byte more", known + "x", Likeness::Different},
    };
    for (const Case& c : cases) {
        FakePlatform os;
        os.AddFile(u"known", known);
        os.AddFile(u"live", c.live);
        EXPECT_EQ(Compare(os.base + u"live", os.base + u"known"), c.expected) << c.name;
    }
}

// A kept version's name from its last-write time (a file time: 100 ns steps
// since 1601-01-01, UTC), to the second, and its number when taken.
// Only the names the launcher gives are read as kept versions: another
// program's file beside them is not one.
TEST(KeptName, OtherNamesAreNotKeptVersions) {
    for (const char* name :
         {"Shaders_client.zip", "Shaders_client.kept-.zip",
          "Shaders_client.kept-2024-02-29-123456.zip.tmp",
          "Shaders_client.kept-2024-02-29-1234.zip", "Shaders_client.kept-2024-02-29-123456-.zip",
          "Shaders_client.kept-2024-02-29-123456-x.zip",
          "Shaders_client.kept-2024x02-29-123456.zip"}) {
        EXPECT_FALSE(GameLayout::IsKeptName(Widen(name))) << name;
    }
}

TEST(KeptName, FromTheLastWriteTimeInUtc) {
    struct Case {
        std::uint64_t lastWrite;
        unsigned number;
        const char* name;
    };
    const Case cases[] = {
        {0, 0, "Shaders_client.kept-1601-01-01-000000.zip"},
        {863999999999, 0, "Shaders_client.kept-1601-01-01-235959.zip"},  // not rounded up
        {315359990000000, 0, "Shaders_client.kept-1601-12-31-235959.zip"},
        {94405823990000000, 0, "Shaders_client.kept-1900-02-28-235959.zip"},
        {94405824000000000, 0, "Shaders_client.kept-1900-03-01-000000.zip"},  // 1900: no leap day
        {125962560000000000, 0, "Shaders_client.kept-2000-02-29-000000.zip"},
        {133485407999999999, 0, "Shaders_client.kept-2023-12-31-235959.zip"},
        {kLeapDayNoon, 0, "Shaders_client.kept-2024-02-29-123456.zip"},
        {157520160000000000, 0, "Shaders_client.kept-2100-03-01-000000.zip"},  // nor 2100
        {116444736000000000, 1, "Shaders_client.kept-1970-01-01-000000-2.zip"},
        {116444736000000000, 2, "Shaders_client.kept-1970-01-01-000000-3.zip"},
        {116444736000000000, 9, "Shaders_client.kept-1970-01-01-000000-10.zip"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Narrow(GameLayout::KeptName(c.lastWrite, c.number)), c.name)
            << c.lastWrite << " #" << c.number;
        EXPECT_TRUE(GameLayout::IsKeptName(Widen(c.name))) << c.name;
    }
}

}  // namespace
