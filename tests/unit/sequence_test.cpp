// The whole launch over the fake platform: the order of effects, the exit
// codes, and failures on the way.
#include "launcher/sequence.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/report.h"

namespace {

using Log = std::vector<std::string>;

struct Installation : FakePlatform {
    Installation() {
        AddFile(u"..\\bf2\\Shaders_client.zip", "G");
        AddFile(u"Shaders_client.zip", "M");
        commandLine = u"ModLauncher.exe -a";
        exitCodes = {259, 3};
    }
};

TEST(LaunchSequence, OrdinaryRunSwapsAroundTheGame) {
    Installation os;
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);  // whatever the game's own code
    EXPECT_EQ(os.liveArchiveAtStart, "M");
    EXPECT_EQ(os.Content(u"..\\bf2\\Shaders_client.zip"), "G");
    EXPECT_EQ(Narrow(os.startedParameters), "+menu 1 +fullscreen 1 +modPath mods/mymod -a");
    EXPECT_EQ(os.log, (Log{
                          "CurrentDirectory 261",
                          "CommandLine",
                          "mkdir Backup",
                          "mkdir ..\\bf2\\Backup",
                          "copy ..\\bf2\\Shaders_client.zip -> ..\\bf2\\Backup\\Shaders_client.zip",
                          "flush ..\\bf2\\Backup\\Shaders_client.zip",
                          "copy Shaders_client.zip -> Backup\\Shaders_client.zip",
                          "write ..\\bf2\\Backup\\Shaders_client.zip.swapped",
                          "copy Shaders_client.zip -> ..\\bf2\\Shaders_client.zip",
                          "start",
                          "pump",
                          "poll",
                          "await",
                          "pump",
                          "poll",
                          "copy ..\\bf2\\Backup\\Shaders_client.zip -> ..\\bf2\\Shaders_client.zip",
                          "flush ..\\bf2\\Shaders_client.zip",
                          "remove ..\\bf2\\Backup\\Shaders_client.zip.swapped",
                      }));
}

TEST(LaunchSequence, GameThatCannotStartStillGetsItsArchiveBack) {
    Installation os;
    os.startSucceeds = false;
    EXPECT_EQ(RunLaunchSequence(), kExitGameNotStarted);
    EXPECT_EQ(os.Content(u"..\\bf2\\Shaders_client.zip"), "G");
    EXPECT_FALSE(os.HasFile(u"..\\bf2\\Backup\\Shaders_client.zip.swapped"));
    for (const std::string& entry : os.log) EXPECT_NE(entry, "pump");
}

TEST(LaunchSequence, NoArchivesNoCopies) {
    FakePlatform os;
    EXPECT_EQ(RunLaunchSequence(), kExitGameRan);
    for (const std::string& entry : os.log) EXPECT_EQ(entry.find("copy"), std::string::npos);
}

// Memory exhausted in a step: one report line, the steps after it skipped.
struct OutOfMemoryCase {
    const char* name;
    const char* failingCall;
    bool swapped;  // the failure came after the swap
};

// Failure messages name the row, not its bytes.
void PrintTo(const OutOfMemoryCase& c, std::ostream* os) { *os << c.name; }

class OutOfMemoryInAStep : public testing::TestWithParam<OutOfMemoryCase> {};

TEST_P(OutOfMemoryInAStep, IsReportedAndEndsTheRun) {
    Installation os;
    os.throwBadAllocAt = GetParam().failingCall;
    EXPECT_EQ(RunLaunchSequence(), kExitFailure);
    for (const std::string& entry : os.log) EXPECT_NE(entry, "start");
    EXPECT_EQ(os.Content(u"..\\bf2\\Shaders_client.zip"), GetParam().swapped ? "M" : "G");
    // The marker says what the next run must put right.
    EXPECT_EQ(os.HasFile(u"..\\bf2\\Backup\\Shaders_client.zip.swapped"), GetParam().swapped);
    StdOut.Close();
    EXPECT_EQ(os.writes, Log{"EOutOfMemory: Out of memory\r\n"});
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OutOfMemoryInAStep,
    testing::Values(OutOfMemoryCase{"FormingTheBaseFolder", "CurrentDirectory", false},
                    OutOfMemoryCase{"FormingTheArguments", "CommandLine", false},
                    OutOfMemoryCase{"BackingUp", "copy", false},
                    OutOfMemoryCase{"FormingTheGameTexts", "AppWindow", true}),
    [](const testing::TestParamInfo<OutOfMemoryCase>& info) { return info.param.name; });

TEST(LaunchSequence, ReportThatCannotBeWrittenLeavesTheSequence) {
    Installation os;
    os.stdOutput = 0;
    os.throwBadAllocAt = "AppWindow";
    try {
        RunLaunchSequence();
        FAIL() << "the output failure did not leave the sequence";
    } catch (const InOutError& failure) {
        EXPECT_EQ(failure.ErrorCode, 105);
    }
}

TEST(ExitProgram, ReleasesTheGlobalsThenTheShellThenStandardOutput) {
    Installation os;
    ReportFailure(OutOfMemory());
    BaseFolder = u"C:\\G\\mods\\mymod\\";
    os.log.clear();
    try {
        ExitProgram(kExitFailure);
    } catch (const ProcessEnded& ended) {
        EXPECT_EQ(ended.exitCode, kExitFailure);
    }
    EXPECT_TRUE(BaseFolder.empty());
    EXPECT_EQ(os.log, (Log{"teardown", "WriteFile 29", "exit 1"}));
}

}  // namespace
