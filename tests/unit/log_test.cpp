// The launcher's log: its lines, its bound, and how it is written.
#include "launcher/log.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/layout.h"

namespace {

// 2024-02-29 12:34:56 UTC as a file time.
constexpr std::uint64_t kLeapDayNoon = 133536836960000000;

TEST(LogLine, DatedOneLineEach) {
    const struct {
        std::uint64_t time;
        const char16_t* text;
        const char* line;
    } rows[] = {
        {kLeapDayNoon, u"Warning: kept", "2024-02-29 12:34:56 UTC  Warning: kept\r\n"},
        {0, u"x", "1601-01-01 00:00:00 UTC  x\r\n"},
        // A line break inside a text would make two entries of one.
        {kLeapDayNoon, u"a\r\nb\nc", "2024-02-29 12:34:56 UTC  a  b c\r\n"},
        {kLeapDayNoon, u"Mod caf\u00E9", "2024-02-29 12:34:56 UTC  Mod caf\xC3\xA9\r\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Narrow(LogLine(row.time, row.text)), row.line);
    }
}

// The newest lines stay, whole: the oldest go first, and never a part of one.
TEST(LogBound, OldestLinesGoWhole) {
    const Text line = Text(100, u'x') + u"\r\n";  // 102 bytes
    const std::size_t fit = kLogKeepsBytes / line.size();
    Text full;
    for (std::size_t i = 0; i < fit; ++i) full += line;
    const Text newest = u"new\r\n";
    // Past what the full log leaves free, by a few bytes.
    const Text longer = Text(kLogKeepsBytes - fit * line.size() + 8, u'n') + u"\r\n";
    const Text cjk(40000, u'\u4E2D');  // 120000 bytes in UTF-8: alone past the bound
    const struct {
        const char* name;
        Text log;
        Text line;
        Text expected;
    } rows[] = {
        {"none yet", Text(), newest, newest},
        {"appended", line, newest, line + newest},
        {"a line cut by another program ends first", u"cut", newest, u"cut\r\n" + newest},
        {"full: what fits stays", full, newest, full + newest},
        {"full: the oldest goes", full, longer, full.substr(line.size()) + longer},
        {"full of wide characters, counted in UTF-8", Text(30000, u'\u00E9') + u"\r\n" + line,
         Text(40000, u'y') + u"\r\n", line + Text(40000, u'y') + u"\r\n"},
        {"one line past the bound stays alone", full, cjk + u"\r\n", cjk + u"\r\n"},
    };
    for (const auto& row : rows) {
        const Text added = WithLineAdded(row.log, row.line);
        EXPECT_EQ(added.size(), row.expected.size()) << row.name;
        EXPECT_TRUE(added == row.expected) << row.name;
        if (row.line.size() < kLogKeepsBytes / 3) {
            EXPECT_LE(Narrow(added).size(), kLogKeepsBytes) << row.name;
        }
    }
}

// Written whole beside the log and renamed over it; a write that fails
// leaves the log as it was, and says why.
TEST(AddToLog, WholeBesideThenRenamedAndAFailureLeavesTheOldLog) {
    FakePlatform os;
    os.AddFile(u"C:\\G\\BF2.exe", "game");
    const GameLayout paths = os.Paths();
    os.clock = kLeapDayNoon;
    ASSERT_TRUE(AddToLog(paths, u"first").ok);
    EXPECT_EQ(os.log,
              (std::vector<std::string>{"mkdir ..\\bf2\\Backup",
                                        "write ..\\bf2\\Backup\\ModLauncher.log.ModLauncher-new",
                                        "move ..\\bf2\\Backup\\ModLauncher.log.ModLauncher-new -> "
                                        "..\\bf2\\Backup\\ModLauncher.log"}));
    const std::string first = os.Content(paths.Log());
    EXPECT_NE(first.find("UTC  first\r\n"), std::string::npos) << first;

    os.writeFails.insert(GameLayout::Temporary(u"..\\bf2\\Backup\\ModLauncher.log"));
    const OsResult failed = AddToLog(paths, u"second");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, kErrorAccessDenied);
    EXPECT_EQ(os.Content(paths.Log()), first);
}

}  // namespace
