// The shader archive swap over the fake platform: the order of the copies,
// the lock, what the marker records, and the failures a real disk does not
// give on demand.
#include "launcher/archives.h"

#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"
#include "launcher/failure.h"
#include "launcher/notice.h"
#include "launcher/report.h"
#include "launcher/sequence.h"

namespace {

using Log = std::vector<std::string>;

const Text kGame = u"..\\bf2\\Shaders_client.zip";
const Text kGameBackup = u"..\\bf2\\Backup\\Shaders_client.zip";
const Text kMarker = u"..\\bf2\\Backup\\Shaders_client.zip.swapped";
const Text kMod = u"Shaders_client.zip";
const Text kModBackup = u"Backup\\Shaders_client.zip";

// A mod's folder in an installation with both archives and both backup folders.
struct Installation : FakePlatform {
    Installation() {
        BaseFolder = base;
        AddFile(kGame, "G");
        AddFile(kMod, "M");
        AddFolder(u"Backup");
        AddFolder(u"..\\bf2\\Backup");
    }
};

TEST(Archives, OrdinaryRunBacksUpSwapsAndRestoresInOrder) {
    Installation os;
    ASSERT_EQ(PrepareArchives(), Prepared::ModsArchive);
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.Content(kModBackup), "M");
    // The marker records what was swapped in, once it is complete and on disk.
    FileStamp live;
    ASSERT_TRUE(os.ReadFileStamp(kGame, live));
    EXPECT_EQ(CompletedSwapIn(os.Content(kMarker)), live);
    ASSERT_TRUE(RestoreGameArchive());
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
    EXPECT_EQ(os.log, (Log{
                          "lock ..\\bf2\\Backup\\ModLauncher.lock",
                          "copy ..\\bf2\\Shaders_client.zip -> ..\\bf2\\Backup\\Shaders_client.zip",
                          "flush ..\\bf2\\Backup\\Shaders_client.zip",
                          "copy Shaders_client.zip -> Backup\\Shaders_client.zip",
                          "write ..\\bf2\\Backup\\Shaders_client.zip.swapped",
                          "copy Shaders_client.zip -> ..\\bf2\\Shaders_client.zip",
                          "flush ..\\bf2\\Shaders_client.zip",
                          "write ..\\bf2\\Backup\\Shaders_client.zip.swapped",
                          "copy ..\\bf2\\Backup\\Shaders_client.zip -> ..\\bf2\\Shaders_client.zip",
                          "flush ..\\bf2\\Shaders_client.zip",
                          "remove ..\\bf2\\Backup\\Shaders_client.zip.swapped",
                      }));
    EXPECT_TRUE(os.boxes.empty());
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
                    [](FakePlatform& os) { os.copyErrors[kGameBackup] = {kErrorDiskFull}; },
                    "copy over C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip: There is not enough "
                    "space on the disk. Free some space on that drive."},
        SkippedSwap{"BackupFlushFailed",
                    [](FakePlatform& os) { os.flushFails.insert(kGameBackup); },
                    "flush to disk C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip: Error 1117."},
        SkippedSwap{"MarkerNotWritten", [](FakePlatform& os) { os.writeFails.insert(kMarker); },
                    "write C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped: Access is "
                    "denied. Give your account write access to that folder, or start the "
                    "launcher as administrator."},
        SkippedSwap{"ModBackupFolderNotMade",
                    [](FakePlatform& os) { os.folderErrors[u"Backup"] = kErrorAccessDenied; },
                    "make the folder C:\\G\\mods\\mymod\\Backup: Access is denied."},
        SkippedSwap{
            "GameBackupFolderNotMade",
            [](FakePlatform& os) { os.AddFile(u"..\\bf2\\Backup", "a file, not a folder"); },
            "make the folder C:\\G\\mods\\bf2\\Backup: Error 183."},
        SkippedSwap{"LockNotTaken", [](FakePlatform& os) { os.lockError = kErrorAccessDenied; },
                    "write in the folder C:\\G\\mods\\bf2\\Backup: Access is denied."},
        // The marker is written, then the copy fails: the game's archive goes
        // back before the game starts.
        SkippedSwap{"SwapCopyFailed",
                    [](FakePlatform& os) { os.copyErrors[kGame] = {kErrorSharingViolation}; },
                    "copy over C:\\G\\mods\\bf2\\Shaders_client.zip: The process cannot access "
                    "the file because it is being used by another process. Close the program "
                    "that holds the file"}),
    [](const testing::TestParamInfo<SkippedSwap>& info) { return info.param.name; });

TEST(Archives, WithNoGameArchiveToLoseTheSwapNeedsNoBackup) {
    FakePlatform os;
    BaseFolder = os.base;
    os.AddFile(kMod, "M");
    os.AddFile(u"Backup", "a file, not a folder");
    EXPECT_EQ(PrepareArchives(), Prepared::ModsArchive);
    EXPECT_EQ(os.Content(kGame), "M");
    RestoreGameArchive();  // nothing of the game's to put back
    EXPECT_EQ(os.Content(kGame), "M");
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

// What an earlier run left decides what this one does: the marker vouches
// for the game's backup, unless something else has written the live archive
// since a complete swap.
struct EarlierRun {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
    const char* seenByGame;
    const char* liveAfter;
    const char* backupAfter;
};

void PrintTo(const EarlierRun& c, std::ostream* os) { *os << c.name; }

class AfterAnEarlierRun : public testing::TestWithParam<EarlierRun> {};

TEST_P(AfterAnEarlierRun, GameArchiveEndsLiveAndInItsBackup) {
    Installation os;
    GetParam().arrange(os);
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    EXPECT_EQ(os.liveArchiveAtStart, GetParam().seenByGame);
    EXPECT_EQ(os.Content(kGame), GetParam().liveAfter);
    EXPECT_EQ(os.Content(kGameBackup), GetParam().backupAfter);
    EXPECT_FALSE(os.HasFile(kMarker));
}

// An earlier run killed during its game: the mod's archive is live, the
// marker records it.
void KilledDuringTheGame(FakePlatform& os) {
    os.AddFile(kGame, "M-old");
    os.AddFile(kGameBackup, "G");
    FileStamp live;
    os.ReadFileStamp(kGame, live);
    os.AddFile(kMarker, Narrow(MarkerText(os.base, live)));
}

INSTANTIATE_TEST_SUITE_P(
    Markers, AfterAnEarlierRun,
    testing::Values(EarlierRun{"KilledDuringTheGame", KilledDuringTheGame, "M", "G", "G"},
                    EarlierRun{"ReleaseOneOneMarker",
                               [](FakePlatform& os) {
                                   os.AddFile(kGame, "M-old");
                                   os.AddFile(kGameBackup, "G");
                                   os.AddFile(kMarker, "C:\\G\\mods\\other\\\r\n");
                               },
                               "M", "G", "G"},
                    // The game's updater wrote its new archive over the live one.
                    EarlierRun{"GameUpdatedAfterTheKill",
                               [](FakePlatform& os) {
                                   KilledDuringTheGame(os);
                                   os.AddFile(kGame, "G2");
                               },
                               "M", "G2", "G2"},
                    // Killed during the swap's copy: a torn live archive is no update.
                    EarlierRun{"KilledDuringTheSwapCopy",
                               [](FakePlatform& os) {
                                   os.AddFile(kGame, "M-torn");
                                   os.AddFile(kGameBackup, "G");
                                   os.AddFile(kMarker, Narrow(MarkerText(os.base, std::nullopt)));
                               },
                               "M", "G", "G"},
                    EarlierRun{"MarkerWithoutItsBackup",
                               [](FakePlatform& os) { os.AddFile(kMarker, "stale"); }, "M", "G",
                               "G"},
                    // No swap in this run: the game's own archive goes back before the game.
                    EarlierRun{"KilledThenAModWithoutArchive",
                               [](FakePlatform& os) {
                                   KilledDuringTheGame(os);
                                   os.RemoveFile(kMod);
                               },
                               "G", "G", "G"}),
    [](const testing::TestParamInfo<EarlierRun>& info) { return info.param.name; });

// Started in the game's own content folder, the launcher has no mod: its
// "mod's archive" and "mod's backup" are the game's own.
TEST(Archives, GameContentFolderIsNoMod) {
    FakePlatform os;
    os.base = u"C:\\G\\mods\\bf2\\";
    os.currentDirectory = u"C:\\G\\mods\\bf2";
    os.AddFile(kGame, "M-old");
    os.AddFile(kGameBackup, "G");
    os.AddFile(kMarker, "C:\\G\\mods\\other\\\r\n");
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
    ASSERT_EQ(PrepareArchives(), Prepared::ModsArchive);
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.Content(kModBackup), "M");
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_EQ(os.Attributes(kGame) & 0x01, 0x01u);  // a copy takes its source's attributes
    RestoreGameArchive();
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
}

struct RestoreCase {
    const char* name;
    std::deque<std::uint32_t> errors;  // of the restore copy's tries, in turn
    Log pauses;
    bool restored;
};

void PrintTo(const RestoreCase& c, std::ostream* os) { *os << c.name; }

class RestoreRetry : public testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreRetry, RetriesOnlyWhileTheFileIsInUse) {
    Installation os;
    os.stdOutput = 0;
    ASSERT_EQ(PrepareArchives(), Prepared::ModsArchive);
    os.log.clear();
    os.copyErrors[kGame] = GetParam().errors;
    EXPECT_EQ(RestoreGameArchive(), GetParam().restored);
    Log pauses;
    for (const std::string& entry : os.log) {
        if (entry.rfind("pause", 0) == 0) pauses.push_back(entry);
    }
    EXPECT_EQ(pauses, GetParam().pauses);
    EXPECT_EQ(os.Content(kGame), GetParam().restored ? "G" : "M");
    // The marker stays for the next run exactly when the restore failed,
    // and then the player is told where the game's archive is.
    EXPECT_EQ(os.HasFile(kMarker), !GetParam().restored);
    EXPECT_EQ(PlayerWarned, !GetParam().restored);
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
        RestoreCase{"HeldTooLong",
                    {32, 32, 32, 32, 32, 32, 32},
                    {"pause 60", "pause 120", "pause 250", "pause 500", "pause 1000"},
                    false},
        RestoreCase{"DiskFullIsNotRetried", {112}, {}, false}),
    [](const testing::TestParamInfo<RestoreCase>& info) { return info.param.name; });

TEST(Archives, RestoreFlushFailureKeepsTheMarker) {
    Installation os;
    ASSERT_EQ(PrepareArchives(), Prepared::ModsArchive);
    os.flushFails.insert(kGame);
    EXPECT_FALSE(RestoreGameArchive());
    EXPECT_TRUE(os.HasFile(kMarker));
}

// The marker's record, read back; anything but a whole record vouches for
// the backup, as a marker of release 1.1.0 does.
TEST(Marker, RecordReadsBackAndAnythingElseIsNoCompleteSwap) {
    const FileStamp stamp{123456789, 133456789012345678};
    EXPECT_EQ(CompletedSwapIn(Narrow(MarkerText(u"C:\\G\\mods\\m\\", stamp))), stamp);
    const std::pair<const char*, const char*> incomplete[] = {
        {"ReleaseOneOne", "C:\\G\\mods\\m\\\r\n"},
        {"Swapping", "C:\\G\\mods\\m\\\r\nswapping\r\n"},
        {"Empty", ""},
        {"CutShort", "C:\\G\\mods\\m\\\r\nswapped 12 "},
        {"NoLineEnd", "C:\\G\\mods\\m\\\r\nswapped 12 34"},
        {"NotANumber", "C:\\G\\mods\\m\\\r\nswapped 12 x4\r\n"},
        {"TooLarge", "C:\\G\\mods\\m\\\r\nswapped 123456789012345678901 1\r\n"},
        {"RecordOnTheFirstLine", "swapped 12 34\r\n"},
    };
    for (const auto& [name, text] : incomplete) {
        EXPECT_EQ(CompletedSwapIn(text), std::nullopt) << name;
    }
}

struct ForceCase {
    const char* name;
    const char16_t* path;
    bool result;
    Log made;  // CreateDirectoryW calls, in order
};

void PrintTo(const ForceCase& c, std::ostream* os) { *os << c.name; }

class ForceFolderCases : public testing::TestWithParam<ForceCase> {};

TEST_P(ForceFolderCases, CreatesFromTheTopDown) {
    FakePlatform os;
    os.AddFile(u"C:\\G\\mods\\mymod\\Backup", "a file");
    os.AddFolder(u"C:\\exists");
    EXPECT_EQ(static_cast<bool>(ForceFolder(GetParam().path)), GetParam().result);
    EXPECT_EQ(os.log, GetParam().made);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ForceFolderCases,
    testing::Values(
        ForceCase{"MissingContentFolder",
                  u"C:\\G\\mods\\mymod\\..\\bf3\\Backup",
                  true,
                  {"mkdir ..\\bf3", "mkdir ..\\bf3\\Backup"}},
        ForceCase{"Existing", u"C:\\exists", true, {}},
        ForceCase{"TrailingBackslash", u"C:\\exists\\new\\", true, {"mkdir C:\\exists\\new"}},
        ForceCase{"DriveRootDoubled", u"C:\\\\Backup", true, {"mkdir C:\\\\Backup"}},
        ForceCase{"BareDriveIsPresent", u"C:\\", true, {}},
        ForceCase{"DriveThatDoesNotExist", u"Q:\\a\\b", false, {"mkdir Q:\\a"}},
        ForceCase{"FileInTheWay", u"C:\\G\\mods\\mymod\\Backup", false, {"mkdir Backup"}}),
    [](const testing::TestParamInfo<ForceCase>& info) { return info.param.name; });

TEST(ForceFolder, RefusesAnEmptyPath) {
    FakePlatform os;
    try {
        ForceFolder(u"");
        FAIL() << "no failure raised";
    } catch (const InOutError& failure) {
        EXPECT_EQ(failure.ErrorCode, 3);
        EXPECT_EQ(Narrow(failure.Message()), "Unable to create directory");
        EXPECT_EQ(Narrow(failure.KindName()), "EInOutError");
    }
}

TEST(IsExistingFile, AnyEntryButAFolder) {
    FakePlatform os;
    os.AddFile(u"plain", "x");
    os.AddFile(u"locked", "x", 0x01 | 0x02 | 0x04);
    os.AddFolder(u"Shaders_client.zip");
    os.AddFile(u"busy", "x");
    os.attributeQueryErrors[u"busy"] = 32;  // only the search sees it
    os.attributeQueryErrors[u"gone"] = 32;
    EXPECT_TRUE(IsExistingFile(os.base + u"plain"));
    EXPECT_TRUE(IsExistingFile(os.base + u"locked"));
    EXPECT_FALSE(IsExistingFile(os.base + u"Shaders_client.zip"));
    EXPECT_FALSE(IsExistingFile(os.base + u"missing"));
    EXPECT_FALSE(IsExistingFile(os.base + u"no\\such\\folder"));
    EXPECT_TRUE(IsExistingFile(os.base + u"busy"));
    EXPECT_FALSE(IsExistingFile(os.base + u"gone"));
    EXPECT_EQ(os.log, (Log{"find busy", "find gone"}));
}

}  // namespace
