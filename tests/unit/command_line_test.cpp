// The working folder and the command line become the base folder and the
// forwarded arguments.
#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/layout.h"

namespace {

struct ScanCase {
    const char* name;
    const char16_t* afterName;  // the command line after the program's own name
    std::vector<std::string> arguments;
    std::string forwarded;
};

// Failure messages name the row, not its bytes.
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class CommandLineScan : public testing::TestWithParam<ScanCase> {};

TEST_P(CommandLineScan, GivesArgumentsAndForwardedText) {
    FakePlatform os;
    os.commandLine = Text(u"\"C:\\G\\mods\\mymod\\ModLauncher.exe\"") + GetParam().afterName;
    std::vector<std::string> arguments;
    for (const Text& argument : CommandLineArguments(os.commandLine.c_str())) {
        arguments.push_back(Narrow(argument));
    }
    EXPECT_EQ(arguments, GetParam().arguments);
    EXPECT_EQ(Narrow(FormForwardedArgs()), GetParam().forwarded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineScan,
    testing::Values(
        ScanCase{"Nothing", u"", {}, ""}, ScanCase{"BlanksOnly", u"   ", {}, ""},
        ScanCase{"TwoArguments", u" +x 1", {"+x", "1"}, " +x 1"},
        ScanCase{"RunsOfBlanks", u"   +x   1  ", {"+x", "1"}, " +x 1"},
        ScanCase{"Tab", u" +x\t1", {"+x", "1"}, " +x 1"},
        ScanCase{"QuotedWords", u" \"two words\" c", {"two words", "c"}, " two words c"},
        ScanCase{"QuotesInsideAWord", u" a\"b c\"d e", {"ab cd", "e"}, " ab cd e"},
        ScanCase{"EmptyPair", u" \"\" b", {"b"}, " b"},
        ScanCase{"EmptyPairsBetween", u" a \"\" \"\" b", {"a", "b"}, " a b"},
        ScanCase{"PairsSideBySide", u" \"a\"\"b\"", {"ab"}, " ab"},
        ScanCase{"UnclosedQuote", u" a \"b c", {"a", "b c"}, " a b c"},
        ScanCase{"LoneQuoteAtTheEnd", u" a \"", {"a"}, " a"},
        ScanCase{"QuoteThenBlank", u" a \" ", {"a", " "}, " a  "},
        ScanCase{"BackslashBeforeQuote", u" a\\\"b c\\\" d", {"a\\b c\\", "d"}, " a\\b c\\ d"},
        // Control characters are blanks; the no-break space is not.
        ScanCase{"ControlsAreBlanks", u"\r\n-a\x01-b", {"-a", "-b"}, " -a -b"},
        ScanCase{"NoBreakSpaceAndAccents",
                 u" x\u00A0y \u00E9t\u00E9",
                 {"x\u00A0y", "\u00E9t\u00E9"},
                 " x\u00A0y \u00E9t\u00E9"}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(CommandLine, ProgramNameIsTakenByTheSameRulesAsAnyToken) {
    // Unquoted, a path with a space ends at the space: the rest is forwarded.
    FakePlatform os;
    os.commandLine = u"C:\\Games Dir\\mods\\m\\launcher.exe x";
    EXPECT_EQ(Narrow(FormForwardedArgs()), " Dir\\mods\\m\\launcher.exe x");
    os.commandLine = u"\"C:\\Games Dir\\mods\\m\\launcher.exe\" x";
    EXPECT_EQ(Narrow(FormForwardedArgs()), " x");
    // A name made only of a quote pair is skipped like blanks are.
    os.commandLine = u"\"\"launcher x";
    EXPECT_EQ(Narrow(FormForwardedArgs()), " x");
}

struct FolderCase {
    const char* name;
    const char16_t* workingFolder;
    const char16_t* baseFolder;
};

// Failure messages name the row, not its bytes.
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class BaseFolderForm : public testing::TestWithParam<FolderCase> {};

TEST_P(BaseFolderForm, AppendsOneBackslashAndNothingElse) {
    FakePlatform os;
    os.currentDirectory = GetParam().workingFolder;
    EXPECT_EQ(ReadWorkingFolder(), Text(GetParam().baseFolder));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BaseFolderForm,
    testing::Values(
        FolderCase{"Plain", u"C:\\Games\\Game\\mods\\mymod", u"C:\\Games\\Game\\mods\\mymod\\"},
        FolderCase{"DriveRoot", u"C:\\", u"C:\\\\"},
        FolderCase{"NetworkShare", u"\\\\host\\share\\mods\\x", u"\\\\host\\share\\mods\\x\\"},
        FolderCase{"NonAsciiAndBlanks", u"D:\\Spiele mit \u00DCberl\u00E4nge\\mods\\m\u00F6d",
                   u"D:\\Spiele mit \u00DCberl\u00E4nge\\mods\\m\u00F6d\\"}),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

TEST(BaseFolder, FolderOfExactly260CharactersFitsTheFirstBuffer) {
    FakePlatform os;
    os.currentDirectory = u"C:\\" + Text(257, u'a');
    EXPECT_EQ(ReadWorkingFolder(), os.currentDirectory + u"\\");
    EXPECT_EQ(os.log, std::vector<std::string>{"CurrentDirectory 261"});
}

TEST(BaseFolder, DeeperFolderIsReadWholeWithTheRoomItNeeds) {
    FakePlatform os;
    os.currentDirectory = u"C:\\" + Text(130, u'a') + u"\\" + Text(130, u'b') + u"\\mods\\mymod";
    ASSERT_EQ(os.currentDirectory.size(), 275u);
    EXPECT_EQ(ReadWorkingFolder(), os.currentDirectory + u"\\");
    EXPECT_EQ(os.log, (std::vector<std::string>{"CurrentDirectory 261", "CurrentDirectory 276"}));
}

}  // namespace
