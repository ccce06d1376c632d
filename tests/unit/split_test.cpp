// The base folder splits into path parts; the mod's name is the
// second-to-last one.
#include "launcher/split.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace {

// One code unit at a time, never past a zero unit.
const char16_t* NextUnit(const char16_t* at) { return *at ? at + 1 : at; }

std::vector<std::string> Split(const Text& text, CharStep next = NextUnit) {
    std::vector<Text> list{u"left over"};  // the split empties the list first
    SplitText(u'\\', text, list, next);
    std::vector<std::string> items;
    for (const Text& item : list) items.push_back(Narrow(item));
    return items;
}

struct ModNameCase {
    const char* name;
    const char16_t* workingFolder;
    std::vector<std::string> parts;
    std::string modName;
};

// Failure messages name the row, not its bytes.
void PrintTo(const ModNameCase& c, std::ostream* os) { *os << c.name; }

class ModNameFromFolder : public testing::TestWithParam<ModNameCase> {};

TEST_P(ModNameFromFolder, SplitsTheBaseFolder) {
    Text baseFolder = Text(GetParam().workingFolder) + u"\\";
    EXPECT_EQ(Split(baseFolder), GetParam().parts);
    std::vector<Text> parts;
    SplitText(u'\\', baseFolder, parts, NextUnit);
    EXPECT_EQ(Narrow(ModName(parts)), GetParam().modName);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModNameFromFolder,
    testing::Values(
        ModNameCase{"Plain",
                    u"C:\\Games\\Game\\mods\\mymod",
                    {"C:", "Games", "Game", "mods", "mymod", ""},
                    "mymod"},
        ModNameCase{"BlankInName",
                    u"D:\\Game\\mods\\my mod",
                    {"D:", "Game", "mods", "my", "mod", ""},
                    "mod"},
        ModNameCase{
            "ThreeWords", u"D:\\Game\\mods\\x y z", {"D:", "Game", "mods", "x", "y", "z", ""}, "z"},
        ModNameCase{
            "TwoBlanks", u"D:\\Game\\mods\\a  b", {"D:", "Game", "mods", "a", "b", ""}, "b"},
        ModNameCase{"BlankAbove",
                    u"C:\\Program Files\\Game\\mods\\mymod",
                    {"C:", "Program", "Files", "Game", "mods", "mymod", ""},
                    "mymod"},
        ModNameCase{
            "Dot", u"C:\\Game\\mods\\my.mod", {"C:", "Game", "mods", "my.mod", ""}, "my.mod"},
        ModNameCase{"DriveRoot", u"C:\\", {"C:", "", ""}, ""},
        ModNameCase{"NetworkShare",
                    u"\\\\host\\share\\mods\\x",
                    {"", "", "host", "share", "mods", "x", ""},
                    "x"},
        ModNameCase{"NoBreakSpace",
                    u"C:\\Game\\mods\\x\u00A0y",
                    {"C:", "Game", "mods", "x\u00A0y", ""},
                    "x\u00A0y"},
        ModNameCase{
            "Tab", u"C:\\Game\\mods\\tab\tmod", {"C:", "Game", "mods", "tab", "mod", ""}, "mod"}),
    [](const ::testing::TestParamInfo<ModNameCase>& info) { return std::string(info.param.name); });

TEST(SplitText, EdgesOfTheText) {
    EXPECT_EQ(Split(u""), std::vector<std::string>{});
    EXPECT_EQ(Split(u"   "), std::vector<std::string>{});
    EXPECT_EQ(Split(u"\\a"), (std::vector<std::string>{"", "a"}));
    EXPECT_EQ(Split(u"a\\\\b"), (std::vector<std::string>{"a", "", "b"}));
    // Blanks next to a delimiter add no item.
    EXPECT_EQ(Split(u"a\\ \\b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Split(u"  a \\ b  "), (std::vector<std::string>{"a", "b"}));
    // A final delimiter followed only by blanks gives no empty last item.
    EXPECT_EQ(Split(u"a\\  "), (std::vector<std::string>{"a"}));
    EXPECT_EQ(Split(u"a\\"), (std::vector<std::string>{"a", ""}));
}

// The split looks only where the given step lands: a delimiter that the
// step jumps over, as part of the character before it, cuts nothing.
TEST(SplitText, CutsOnlyWhereTheStepLands) {
    const CharStep overCaret = [](const char16_t* at) { return at + (*at == u'^' ? 2 : 1); };
    EXPECT_EQ(Split(u"a^\\b c", overCaret), (std::vector<std::string>{"a^\\b", "c"}));
    EXPECT_EQ(Split(u"a^\\b c"), (std::vector<std::string>{"a^", "b", "c"}));
}

}  // namespace
