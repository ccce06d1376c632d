// Starting the game and waiting for it, over the fake platform.
#include "launcher/launch.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/command_line.h"
#include "launcher/layout.h"
#include "launcher/split.h"

namespace {

using Log = std::vector<std::string>;

struct LaunchCase {
    const char* name;
    const char16_t* workingFolder;
    const char16_t* commandLine;
    std::string file, parameters, directory;
};

// Failure messages name the row, not its bytes.
void PrintTo(const LaunchCase& c, std::ostream* os) { *os << c.name; }

class LaunchFields : public testing::TestWithParam<LaunchCase> {};

TEST_P(LaunchFields, AreThePlainConcatenations) {
    FakePlatform os;
    os.currentDirectory = GetParam().workingFolder;
    os.commandLine = GetParam().commandLine;
    const GameLayout paths(ReadWorkingFolder());
    std::vector<Text> parts;
    SplitText(u'\\', paths.ModFolder(), parts,
              [](const char16_t* at) { return Inputs().NextChar(at); });
    EXPECT_TRUE(LaunchGame(paths, parts, FormForwardedArgs()));
    EXPECT_EQ(Narrow(os.startedFile), GetParam().file);
    EXPECT_EQ(Narrow(os.startedParameters), GetParam().parameters);
    EXPECT_EQ(Narrow(os.startedDirectory), GetParam().directory);
    EXPECT_EQ(os.startedOwner, os.appWindow);
    EXPECT_EQ(paths.GameProgram(), os.startedFile);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchFields,
    testing::Values(LaunchCase{"NoArguments", u"C:\\G\\mods\\mymod", u"ModLauncher.exe",
                               "C:\\G\\mods\\mymod\\..\\..\\BF2.exe",
                               "+menu 1 +fullscreen 1 +modPath mods/mymod",
                               "C:\\G\\mods\\mymod\\..\\..\\"},
                    LaunchCase{"QuotedArgument", u"C:\\G\\mods\\mymod",
                               u"ModLauncher.exe -a \"b c\"", "C:\\G\\mods\\mymod\\..\\..\\BF2.exe",
                               "+menu 1 +fullscreen 1 +modPath mods/mymod -a b c",
                               "C:\\G\\mods\\mymod\\..\\..\\"},
                    LaunchCase{"DriveRoot", u"C:\\", u"ModLauncher.exe -x", "C:\\\\..\\..\\BF2.exe",
                               "+menu 1 +fullscreen 1 +modPath mods/ -x", "C:\\\\..\\..\\"}),
    [](const ::testing::TestParamInfo<LaunchCase>& info) { return std::string(info.param.name); });

TEST(WaitForGame, GameThatAlreadyEndedTakesOnePumpAndOnePoll) {
    FakePlatform os;
    WaitForGame();
    EXPECT_EQ(os.log, (Log{"pump", "poll"}));
}

TEST(WaitForGame, SleepsBetweenPassesUntilTheGameEnds) {
    FakePlatform os;
    os.endAfterPolls = 3;
    WaitForGame();
    EXPECT_EQ(os.log, (Log{"pump", "poll", "await", "pump", "poll", "await", "pump", "poll"}));
}

TEST(WaitForGame, QuitMessageEndsTheWaitWhileTheGameRuns) {
    FakePlatform os;
    os.endAfterPolls = -1;
    os.terminateAfterPumps = 2;
    WaitForGame();
    EXPECT_EQ(os.log, (Log{"pump", "poll", "await", "pump", "poll"}));
}

}  // namespace
