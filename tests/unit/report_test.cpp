// The failure report line and the standard output stream it goes through.
#include "launcher/report.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/sequence.h"

namespace {

using Log = std::vector<std::string>;

class TestFailure : public Failure {
public:
    explicit TestFailure(Text message) : Failure(u"ETest", std::move(message), 0) {}
};

std::int32_t OutputFailureCode(const Failure& failure) {
    try {
        ReportFailure(failure);
    } catch (const InOutError& error) {
        EXPECT_EQ(Narrow(error.Message()), Narrow(OutputFailureMessage(error.ErrorCode)));
        EXPECT_NE(error.Address(), 0u);
        return error.ErrorCode;
    }
    return 0;
}

// A program reading a file or a pipe sees the line whole as soon as it is
// formed, handed over in one write, never in pieces nor held for the exit.
TEST(ReportFailure, LineGoesOutWholeInOneWriteOnEveryKindOfOutput) {
    const std::pair<const char*, std::uint32_t> kinds[] = {
        {"file", 1}, {"console", 2}, {"pipe", 3}};
    const std::string longLine = "ETest: " + std::string(150, 'x') + "\r\n";
    for (const auto& [kind, type] : kinds) {
        FakePlatform os;
        os.stdOutputType = type;
        ReportFailure(OutOfMemory());
        ReportFailure(TestFailure(Text(150, u'x')));
        EXPECT_EQ(os.writes, (Log{"EOutOfMemory: Out of memory\r\n", longLine})) << kind;
        StdOut.Close();
        EXPECT_EQ(os.writes.size(), 2u) << kind << ": the exit wrote more";
    }
}

// Only a line longer than the whole buffer goes out in bufferfuls; its end
// still goes out with the line end, not at the exit.
TEST(ReportFailure, LineLongerThanTheBufferGoesOutInBufferfuls) {
    FakePlatform os;
    os.stdOutputType = 3;
    const std::size_t size = OutputStream::kBufferSize;
    ReportFailure(TestFailure(Text(size, u'x')));
    const std::string line = "ETest: " + std::string(size, 'x') + "\r\n";
    EXPECT_EQ(os.writes, (Log{line.substr(0, size), line.substr(size)}));
}

TEST(ReportFailure, CharacterTheCodePageLacksBecomesItsDefault) {
    FakePlatform os;
    ReportFailure(TestFailure(u"caf\u00E9 \u0416"));
    StdOut.Close();
    EXPECT_EQ(os.writes, Log{"ETest: caf? ?\r\n"});
}

// Without standard output the line cannot be written: the caller is told,
// so that the failure itself goes on to the last-resort box, as it was, not
// a failure of the output.
TEST(ReportFailure, NoStandardOutputIsToldNotRaised) {
    FakePlatform os;
    os.stdOutput = 0;  // what GetStdHandle gives a process without one
    try {
        EXPECT_FALSE(ReportFailure(TestFailure(u"what went wrong")));
    } catch (const Failure& raised) {
        FAIL() << "raised " << Narrow(raised.KindName()) << " in place of telling the caller";
    }
    // Each of the four writes tried to open the stream again.
    EXPECT_EQ(os.log, (Log{"StdOutput", "close-handle", "StdOutput", "close-handle", "StdOutput",
                           "close-handle", "StdOutput", "close-handle"}));
    EXPECT_EQ(Narrow(OutputFailureMessage(105)), "I/O error 105");
}

TEST(ReportFailure, InvalidHandleValueIsNotClosed) {
    FakePlatform os;
    os.stdOutput = kInvalidHandle;
    EXPECT_FALSE(ReportFailure(OutOfMemory()));
    EXPECT_EQ(os.log, (Log{"StdOutput", "StdOutput", "StdOutput", "StdOutput"}));
}

TEST(ReportFailure, WriteErrorIsRaised) {
    FakePlatform os;
    os.stdOutputType = 3;
    os.writeError = 232;  // ERROR_NO_DATA: the pipe is being closed
    EXPECT_EQ(OutputFailureCode(TestFailure(Text(200, u'x'))), 232);
    EXPECT_EQ(os.log, (Log{"StdOutput", "WriteFile 209"}));
}

TEST(ReportFailure, WriteErrorOfTheFirstBufferfulDropsTheRest) {
    FakePlatform os;
    os.stdOutputType = 3;
    os.writeError = 232;
    const std::size_t size = OutputStream::kBufferSize;
    EXPECT_EQ(OutputFailureCode(TestFailure(Text(size + 100, u'x'))), 232);
    // The rest of that write was dropped; the line end's own write failed too.
    EXPECT_EQ(os.log, (Log{"StdOutput", "WriteFile " + std::to_string(size), "WriteFile 2"}));
}

// A console shows every character: the line goes out as UTF-16, whole, in
// one write; only a line longer than the buffer goes out in bufferfuls.
TEST(Console, EveryCharacterGoesOutAsItIs) {
    FakePlatform os;
    os.stdOutputType = kFileTypeChar;
    os.stdOutputIsConsole = true;
    os.currentDirectory = u"C:\\\u041C\u043E\u0434 caf\u00E9\\mods\\m";
    os.programPath = os.currentDirectory + u"\\ModLauncher.exe";
    EXPECT_EQ(RunLaunchSequence(), kExitGameNotStarted);
    ASSERT_EQ(os.consoleWrites.size(), 1u) << "the line in pieces, or not on the console";
    const Text line = os.consoleWrites[0];
    EXPECT_NE(line.find(u"C:\\\u041C\u043E\u0434 caf\u00E9\\BF2.exe"), Text::npos) << Narrow(line);
    EXPECT_EQ(line.substr(line.size() - 2), u"\r\n");

    const std::size_t units = OutputStream::kBufferSize / 2;
    os.consoleWrites.clear();
    ReportFailure(TestFailure(Text(units, u'\u0416')));
    const Text whole = u"ETest: " + Text(units, u'\u0416') + u"\r\n";
    EXPECT_EQ(os.consoleWrites, (std::vector<Text>{whole.substr(0, units), whole.substr(units)}));
}

TEST(Console, WriteErrorIsRaised) {
    FakePlatform os;
    os.stdOutputType = kFileTypeChar;
    os.stdOutputIsConsole = true;
    os.writeError = 6;  // ERROR_INVALID_HANDLE: the console went away
    EXPECT_EQ(OutputFailureCode(TestFailure(u"x")), 6);
}

TEST(OutputFailureMessage, FixedTextsAndTheNumberedRest) {
    const std::pair<std::int32_t, const char*> table[] = {
        {2, "The specified file was not found"},
        {4, "Too many open files"},
        {5, "File access denied"},
        {100, "Read beyond end of file"},
        {101, "Disk full"},
        {106, "Invalid numeric input"},
        {105, "I/O error 105"},
        {232, "I/O error 232"},
        {-1, "I/O error -1"},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(Narrow(OutputFailureMessage(code)), text) << code;
    }
}

}  // namespace
