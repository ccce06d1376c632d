// The shader archive swap over the fake platform: the order of the copies,
// and the failures a real disk does not give on demand.
#include "launcher/archives.h"

#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"
#include "launcher/failure.h"
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
    ASSERT_TRUE(PrepareArchives());
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.Content(kModBackup), "M");
    RestoreGameArchive();
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
    EXPECT_EQ(os.log, (Log{
                          "copy ..\\bf2\\Shaders_client.zip -> ..\\bf2\\Backup\\Shaders_client.zip",
                          "flush ..\\bf2\\Backup\\Shaders_client.zip",
                          "copy Shaders_client.zip -> Backup\\Shaders_client.zip",
                          "write ..\\bf2\\Backup\\Shaders_client.zip.swapped",
                          "copy Shaders_client.zip -> ..\\bf2\\Shaders_client.zip",
                          "copy ..\\bf2\\Backup\\Shaders_client.zip -> ..\\bf2\\Shaders_client.zip",
                          "flush ..\\bf2\\Shaders_client.zip",
                          "remove ..\\bf2\\Backup\\Shaders_client.zip.swapped",
                      }));
}

// Whenever the game's own archive could not be made safe, it is left alone
// and the game starts with it.
struct UnsafeCase {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
};

// Failure messages name the row, not its bytes.
void PrintTo(const UnsafeCase& c, std::ostream* os) { *os << c.name; }

class UnsafeBackup : public testing::TestWithParam<UnsafeCase> {};

TEST_P(UnsafeBackup, LeavesTheGameArchiveInPlace) {
    FakePlatform os;
    BaseFolder = os.base;
    os.AddFile(kGame, "G");
    os.AddFile(kMod, "M");
    GetParam().arrange(os);
    EXPECT_FALSE(PrepareArchives());
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
    for (const std::string& entry : os.log) {
        EXPECT_NE(entry, "copy Shaders_client.zip -> ..\\bf2\\Shaders_client.zip");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, UnsafeBackup,
    testing::Values(UnsafeCase{"BackupCopyFails",
                               [](FakePlatform& os) {
                                   os.AddFolder(u"Backup");
                                   os.copyErrors[kGameBackup] = {112};
                               }},
                    UnsafeCase{"BackupFlushFails",
                               [](FakePlatform& os) {
                                   os.AddFolder(u"Backup");
                                   os.flushFails.insert(kGameBackup);
                               }},
                    UnsafeCase{"MarkerCannotBeWritten",
                               [](FakePlatform& os) {
                                   os.AddFolder(u"Backup");
                                   os.writeFails.insert(kMarker);
                               }},
                    UnsafeCase{"ModBackupFolderIsAFile",
                               [](FakePlatform& os) { os.AddFile(u"Backup", "a file"); }},
                    UnsafeCase{"GameBackupFolderIsAFile",
                               [](FakePlatform& os) {
                                   os.AddFolder(u"Backup");
                                   os.AddFile(u"..\\bf2\\Backup", "a file");
                               }}),
    [](const testing::TestParamInfo<UnsafeCase>& info) { return info.param.name; });

TEST(Archives, WithNoGameArchiveToLoseTheSwapNeedsNoBackup) {
    FakePlatform os;
    BaseFolder = os.base;
    os.AddFile(kMod, "M");
    os.AddFile(u"Backup", "a file, not a folder");
    EXPECT_TRUE(PrepareArchives());
    EXPECT_EQ(os.Content(kGame), "M");
    RestoreGameArchive();  // nothing of the game's to put back
    EXPECT_EQ(os.Content(kGame), "M");
    EXPECT_FALSE(os.HasFile(kMarker));
}

TEST(Archives, MarkerFromAnEarlierRunProtectsTheBackup) {
    // An earlier run ended without its restore: the mod's archive is live.
    Installation os;
    os.AddFile(kGame, "M-old");
    os.AddFile(kGameBackup, "G");
    os.AddFile(kMarker, "C:\\G\\mods\\mymod\\");
    EXPECT_TRUE(PrepareArchives());
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.Content(kGame), "M");
    RestoreGameArchive();
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
}

TEST(Archives, MarkerWithoutItsBackupIsDroppedAndTheLiveArchiveBackedUp) {
    Installation os;
    os.AddFile(kMarker, "stale");
    EXPECT_TRUE(PrepareArchives());
    EXPECT_EQ(os.Content(kGameBackup), "G");
    EXPECT_EQ(os.log.front(), "remove ..\\bf2\\Backup\\Shaders_client.zip.swapped");
    EXPECT_TRUE(os.HasFile(kMarker));  // written anew for this run's swap
}

TEST(Archives, MarkerWithoutModArchiveStillAsksForTheRestore) {
    Installation os;
    os.AddFile(kGame, "M-old");
    os.AddFile(kGameBackup, "G");
    os.AddFile(kMarker, "");
    os.RemoveFile(kMod);
    EXPECT_TRUE(PrepareArchives());
    RestoreGameArchive();
    EXPECT_EQ(os.Content(kGame), "G");
    EXPECT_FALSE(os.HasFile(kMarker));
}

TEST(Archives, ReadOnlyAndHiddenTargetsDoNotBlockTheCopies) {
    Installation os;
    os.AddFile(kMod, "M", 0x01 | 0x20);             // installed read-only
    os.AddFile(kGameBackup, "older", 0x02 | 0x20);  // hidden
    os.AddFile(kModBackup, "older", 0x01);
    ASSERT_TRUE(PrepareArchives());
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

// Failure messages name the row, not its bytes.
void PrintTo(const RestoreCase& c, std::ostream* os) { *os << c.name; }

class RestoreRetry : public testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreRetry, RetriesOnlyWhileTheFileIsInUse) {
    Installation os;
    ASSERT_TRUE(PrepareArchives());
    os.log.clear();
    os.copyErrors[kGame] = GetParam().errors;
    RestoreGameArchive();
    Log pauses;
    for (const std::string& entry : os.log) {
        if (entry.rfind("pause", 0) == 0) pauses.push_back(entry);
    }
    EXPECT_EQ(pauses, GetParam().pauses);
    EXPECT_EQ(os.Content(kGame), GetParam().restored ? "G" : "M");
    // The marker stays for the next run exactly when the restore failed.
    EXPECT_EQ(os.HasFile(kMarker), !GetParam().restored);
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
    ASSERT_TRUE(PrepareArchives());
    os.flushFails.insert(kGame);
    RestoreGameArchive();
    EXPECT_TRUE(os.HasFile(kMarker));
}

struct ForceCase {
    const char* name;
    const char16_t* path;
    bool result;
    Log made;  // CreateDirectoryW calls, in order
};

// Failure messages name the row, not its bytes.
void PrintTo(const ForceCase& c, std::ostream* os) { *os << c.name; }

class ForceFolderCases : public testing::TestWithParam<ForceCase> {};

TEST_P(ForceFolderCases, CreatesFromTheTopDown) {
    FakePlatform os;
    os.AddFile(u"C:\\G\\mods\\mymod\\Backup", "a file");
    os.AddFolder(u"C:\\exists");
    EXPECT_EQ(ForceFolder(GetParam().path), GetParam().result);
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
