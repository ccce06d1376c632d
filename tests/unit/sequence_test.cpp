// The whole launch over the fake platform: the order of effects, the exit
// codes, and failures on the way.
#include "launcher/sequence.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/layout.h"
#include "launcher/report.h"

namespace {

// The places as the fake's log shows them: relative to the mod's folder.
const GameLayout kPlaces(u"");

// The marker's rename into place, as the log shows it.
const std::string kMoveMarkerInPlace =
    "move ..\\bf2\\Backup\\Shaders_client.zip.swapped.ModLauncher-new -> "
    "..\\bf2\\Backup\\Shaders_client.zip.swapped";

using Log = std::vector<std::string>;

struct Installation : FakePlatform {
    Installation() {
        AddFile(kPlaces.LiveArchive(), "G");
        AddFile(kPlaces.ModArchive(), "M");
        commandLine = u"ModLauncher.exe -a";
        endAfterPolls = 2;
    }
};

// The one pinned log of every call of an ordinary run, the game between.
TEST(LaunchSequence, OrdinaryRunSwapsAroundTheGame) {
    Installation os;
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    EXPECT_EQ(os.liveArchiveAtStart, "M");
    EXPECT_EQ(os.Content(kPlaces.LiveArchive()), "G");
    EXPECT_EQ(Narrow(os.startedParameters), "+menu 1 +fullscreen 1 +modPath mods/mymod -a");
    EXPECT_EQ(
        os.log,
        (Log{
            "CurrentDirectory 261",
            "CommandLine",
            "mkdir ..\\bf2\\Backup",
            "lock ..\\bf2\\Backup\\ModLauncher.lock",
            "mkdir Backup",
            // Before its first look in a folder, the launcher's probe file
            // there: its last-write time set back until its change time is
            // seen to move past the one it was made with (here, with no time
            // spent on the disk, by pauses past the volume's tick).
            "make ..\\bf2\\ModLauncher.probe",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 1",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 1",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 2",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 4",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 8",
            "set time ..\\bf2\\ModLauncher.probe",
            "remove ..\\bf2\\ModLauncher.probe",
            // The game's backup, on the disk before anything else changes.
            // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one entry cut in two
            "copy ..\\bf2\\Shaders_client.zip -> "
            "..\\bf2\\Backup\\Shaders_client.zip.ModLauncher-new",
            "flush ..\\bf2\\Backup\\Shaders_client.zip.ModLauncher-new",
            "move ..\\bf2\\Backup\\Shaders_client.zip.ModLauncher-new -> "
            "..\\bf2\\Backup\\Shaders_client.zip",
            "make ModLauncher.probe",
            "set time ModLauncher.probe",
            "pause 1",
            "set time ModLauncher.probe",
            "pause 1",
            "set time ModLauncher.probe",
            "pause 2",
            "set time ModLauncher.probe",
            "remove ModLauncher.probe",
            // The swap's copy beside the live archive; the marker says what is
            // under way before the live archive changes; then the live archive
            // is captured and the copy renamed in under the free name.
            "copy Shaders_client.zip -> ..\\bf2\\Shaders_client.zip.ModLauncher-new",
            "write ..\\bf2\\Backup\\Shaders_client.zip.swapped.ModLauncher-new",
            kMoveMarkerInPlace,
            "move ..\\bf2\\Shaders_client.zip -> new "
            "..\\bf2\\Shaders_client.zip.ModLauncher-captured",
            "move ..\\bf2\\Shaders_client.zip.ModLauncher-new -> new ..\\bf2\\Shaders_client.zip",
            // The mod's backup, made while writers are kept out of the mod's
            // archive in the game's place, until a change stamped on that
            // volume (the probe file's) carries a later change time than its
            // rename's (here, with no time spent on the disk, after pauses):
            // any write then moves its change time, which the way back looks
            // at.
            "copy Shaders_client.zip -> Backup\\Shaders_client.zip.ModLauncher-new",
            "move Backup\\Shaders_client.zip.ModLauncher-new -> Backup\\Shaders_client.zip",
            "make ..\\bf2\\ModLauncher.probe",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 1",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 1",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 2",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 4",
            "set time ..\\bf2\\ModLauncher.probe",
            "pause 8",
            "set time ..\\bf2\\ModLauncher.probe",
            "remove ..\\bf2\\ModLauncher.probe",
            "start",
            "pump",
            "poll",
            "await",
            "pump",
            "poll",
            // The backup's folder, first looked at now.
            "make ..\\bf2\\Backup\\ModLauncher.probe",
            "set time ..\\bf2\\Backup\\ModLauncher.probe",
            "pause 1",
            "set time ..\\bf2\\Backup\\ModLauncher.probe",
            "pause 1",
            "set time ..\\bf2\\Backup\\ModLauncher.probe",
            "pause 2",
            "set time ..\\bf2\\Backup\\ModLauncher.probe",
            "remove ..\\bf2\\Backup\\ModLauncher.probe",
            // After the game the capture, the backup's very bytes (as the swap
            // proved, and nothing has changed since), goes back itself: renamed
            // beside the live archive, the mod's archive captured, and renamed
            // in. Not a byte is read or copied; the marker goes last.
            "move ..\\bf2\\Shaders_client.zip.ModLauncher-captured -> new "
            "..\\bf2\\Shaders_client.zip.ModLauncher-new",
            "move ..\\bf2\\Shaders_client.zip -> new "
            "..\\bf2\\Shaders_client.zip.ModLauncher-captured",
            "move ..\\bf2\\Shaders_client.zip.ModLauncher-new -> new ..\\bf2\\Shaders_client.zip",
            "remove ..\\bf2\\Shaders_client.zip.ModLauncher-captured",
            "remove ..\\bf2\\Backup\\Shaders_client.zip.swapped",
        }));
}

TEST(LaunchSequence, GameThatCannotStartStillGetsItsArchiveBack) {
    Installation os;
    os.startSucceeds = false;
    EXPECT_EQ(RunLaunchSequence(), kExitGameNotStarted);
    EXPECT_EQ(os.Content(kPlaces.LiveArchive()), "G");
    EXPECT_FALSE(os.HasFile(kPlaces.SwapMarker()));
    for (const std::string& entry : os.log) EXPECT_NE(entry, "pump");
}

TEST(LaunchSequence, NoArchivesNoCopies) {
    FakePlatform os;
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    for (const std::string& entry : os.log) EXPECT_EQ(entry.find("copy"), std::string::npos);
}

// Started anywhere but in a mod's folder of the game, the launcher makes
// nothing, starts nothing, and says where it looked for the game.
TEST(LaunchSequence, NoGameWhereItShouldBeMakesNothing) {
    FakePlatform os;
    os.currentDirectory = u"C:\\Users\\me";
    os.programPath = u"C:\\Users\\me\\ModLauncher.exe";
    os.AddFolder(u"C:\\Users\\me");
    os.stdOutput = 0;
    EXPECT_EQ(RunLaunchSequence(), kExitGameNotStarted);
    EXPECT_EQ(os.log,
              (Log{"CurrentDirectory 261", "CommandLine", "StdOutput", "close-handle", "box"}));
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_EQ(os.boxes[0].rfind("error: BF2.exe was not found at C:\\BF2.exe. The launcher must "
                                "sit in the mod's folder inside the game's mods folder",
                                0),
              0u)
        << os.boxes[0];
}

// A blank cuts the mod's name short; the player is told before the game.
// A shortcut whose "Start in" is wrong: the launcher's own folder has the
// game two levels up, so the run is the ordinary one from there, said to
// the log alone.
TEST(LaunchSequence, WrongWorkingFolderRunsFromTheLaunchersOwn) {
    FakePlatform os;
    os.currentDirectory = u"C:\\Users\\me";
    os.AddFolder(u"C:\\Users\\me");
    os.AddFile(u"Shaders_client.zip", "M");
    os.AddFile(u"..\\bf2\\Shaders_client.zip", "G");
    os.duringGame = [](FakePlatform& game) {
        EXPECT_EQ(game.Content(u"..\\bf2\\Shaders_client.zip"), "M");
    };
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    EXPECT_EQ(Narrow(os.startedParameters), "+menu 1 +fullscreen 1 +modPath mods/mymod");
    EXPECT_EQ(Narrow(os.startedDirectory), "C:\\G\\mods\\mymod\\..\\..\\");
    EXPECT_EQ(os.Content(u"..\\bf2\\Shaders_client.zip"), "G");
    EXPECT_TRUE(os.writes.empty());
    const std::string log = os.Content(os.Paths().Log());
    EXPECT_NE(log.find("UTC  The working folder C:\\Users\\me has no BF2.exe two levels up"),
              std::string::npos)
        << log;
}

// This game's program running already (by its file, whatever the case of
// its name): nothing changes, no second game starts, and the log is left to
// the launcher that may wait for that game.
TEST(LaunchSequence, GameAlreadyRunningChangesNothing) {
    FakePlatform os;
    os.AddFile(u"Shaders_client.zip", "M");
    os.AddFile(u"..\\bf2\\Shaders_client.zip", "M");  // a killed launcher's swap
    os.MarkSwapped();
    os.runningPrograms = {u"C:\\G\\bf2.exe"};
    EXPECT_EQ(RunLaunchSequence(), kExitAlreadyRunning);
    EXPECT_EQ(os.log, (Log{"CurrentDirectory 261", "CommandLine", "StdOutput", "WriteFile 159"}));
    EXPECT_EQ(os.Content(u"..\\bf2\\Shaders_client.zip"), "M");
    // Another game of the same name elsewhere is no reason to stop.
    FakePlatform other;
    other.runningPrograms = {u"D:\\Games\\BF2.exe", u"C:\\G\\mods\\BF2.exe"};
    other.AddFile(u"C:\\G\\mods\\BF2.exe", "another game");
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
}

TEST(LaunchSequence, BlankInTheFolderNameIsSaid) {
    FakePlatform os;
    os.currentDirectory = u"C:\\G\\mods\\my mod";
    os.AddFolder(u"C:\\G\\mods\\my mod");
    os.stdOutputType = 2;
    EXPECT_EQ(RunLaunchSequence(), kExitGameRanWithWarning);
    EXPECT_EQ(Narrow(os.startedParameters), "+menu 1 +fullscreen 1 +modPath mods/mod");
    std::string written;
    for (const std::string& bytes : os.writes) written += bytes;
    EXPECT_EQ(written,
              "Warning: The mod's folder name \"my mod\" holds a blank, so the game is told only "
              "\"mod\" (+modPath mods/mod). A folder name without blanks avoids this.\r\n");
    // On a console the line is out before the game starts.
    const auto firstWrite = std::find_if(os.log.begin(), os.log.end(), [](const std::string& e) {
        return e.rfind("WriteFile", 0) == 0;
    });
    EXPECT_LT(firstWrite, std::find(os.log.begin(), os.log.end(), "start"));
}

// Memory exhausted in a step: one report line, the steps after it skipped.
// After the swap, the game's archive goes back before the report.
struct OutOfMemoryCase {
    const char* name;
    const char* failingCall;
};

void PrintTo(const OutOfMemoryCase& c, std::ostream* os) { *os << c.name; }

class OutOfMemoryInAStep : public testing::TestWithParam<OutOfMemoryCase> {};

TEST_P(OutOfMemoryInAStep, IsReportedAndEndsTheRun) {
    Installation os;
    os.throwBadAllocAt = GetParam().failingCall;
    EXPECT_EQ(RunLaunchSequence(), kExitFailure);
    for (const std::string& entry : os.log) EXPECT_NE(entry, "start");
    EXPECT_EQ(os.Content(kPlaces.LiveArchive()), "G");
    EXPECT_FALSE(os.HasFile(kPlaces.SwapMarker()));
    StdOut.Close();
    EXPECT_EQ(os.writes, Log{"EOutOfMemory: Out of memory\r\n"});
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OutOfMemoryInAStep,
    testing::Values(OutOfMemoryCase{"FormingTheBaseFolder", "CurrentDirectory"},
                    OutOfMemoryCase{"FormingTheArguments", "CommandLine"},
                    OutOfMemoryCase{"BackingUp", "copy"},
                    OutOfMemoryCase{"FormingTheGameTexts", "AppWindow"}),
    [](const testing::TestParamInfo<OutOfMemoryCase>& info) { return info.param.name; });

TEST(LaunchSequence, ReportThatCannotBeWrittenLeavesTheSequenceWithTheFailure) {
    Installation os;
    os.stdOutput = 0;
    os.throwBadAllocAt = "AppWindow";
    try {
        RunLaunchSequence();
        FAIL() << "the failure did not leave the sequence";
    } catch (const Failure& failure) {
        EXPECT_EQ(Narrow(failure.KindName()), "EOutOfMemory");
        EXPECT_NE(failure.Address(), 0u);
    }
}

TEST(FlushOutputAndExit, WritesWhatStandardOutputHoldsThenEndsTheProcess) {
    Installation os;
    // A part of a line that has no end yet: what the exit writes last.
    StdOut.Write(u"EOutOfMemory: Out of memory");
    os.log.clear();
    try {
        FlushOutputAndExit(kExitFailure);
    } catch (const ProcessEnded& ended) {
        EXPECT_EQ(ended.exitCode, kExitFailure);
    }
    EXPECT_EQ(os.log, (Log{"WriteFile 27", "exit 1"}));
}

}  // namespace
