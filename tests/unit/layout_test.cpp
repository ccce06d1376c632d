// Every place in the game's folders, pinned to its spelling: the rest of
// the tests take their paths from the layout, so a wrong one is caught here.
#include "launcher/layout.h"

#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"

namespace {

struct PlaceCase {
    const char* name;
    std::function<Text(const GameLayout&)> place;
    const char16_t* spelled;
};

void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class Place : public testing::TestWithParam<PlaceCase> {};

TEST_P(Place, IsTheModFolderFollowedByItsRelativePath) {
    const GameLayout paths(u"C:\\G\\mods\\mymod\\");
    EXPECT_EQ(Narrow(GetParam().place(paths)), Narrow(GetParam().spelled));
}

#define PLACE(name, spelled)                                                 \
    PlaceCase {                                                              \
#name, [](const GameLayout& paths) { return paths.name(); }, spelled \
    }

INSTANTIATE_TEST_SUITE_P(
    Table, Place,
    testing::Values(
        PLACE(ModFolder, u"C:\\G\\mods\\mymod\\"), PLACE(GameFolder, u"C:\\G\\mods\\mymod\\..\\.."),
        PLACE(GameProgram, u"C:\\G\\mods\\mymod\\..\\..\\BF2.exe"),
        PLACE(ModsFolder, u"C:\\G\\mods\\mymod\\..\\"),
        PLACE(ModArchive, u"C:\\G\\mods\\mymod\\Shaders_client.zip"),
        PLACE(ModBackupFolder, u"C:\\G\\mods\\mymod\\Backup"),
        PLACE(ModArchiveBackup, u"C:\\G\\mods\\mymod\\Backup\\Shaders_client.zip"),
        PLACE(GameContentFolder, u"C:\\G\\mods\\mymod\\..\\bf2"),
        PLACE(LiveArchive, u"C:\\G\\mods\\mymod\\..\\bf2\\Shaders_client.zip"),
        PLACE(CapturedArchive,
              u"C:\\G\\mods\\mymod\\..\\bf2\\Shaders_client.zip.ModLauncher-captured"),
        PLACE(GameBackupFolder, u"C:\\G\\mods\\mymod\\..\\bf2\\Backup"),
        PLACE(GameArchiveBackup, u"C:\\G\\mods\\mymod\\..\\bf2\\Backup\\Shaders_client.zip"),
        PLACE(SwapMarker, u"C:\\G\\mods\\mymod\\..\\bf2\\Backup\\Shaders_client.zip.swapped"),
        PLACE(ArchiveLock, u"C:\\G\\mods\\mymod\\..\\bf2\\Backup\\ModLauncher.lock"),
        PLACE(KeptVersionsPattern,
              u"C:\\G\\mods\\mymod\\..\\bf2\\Backup\\Shaders_client.kept-*.zip"),
        PLACE(OldKeptVersion, u"C:\\G\\mods\\mymod\\..\\bf2\\Backup\\Shaders_client.zip.old"),
        PlaceCase{"ModArchiveOfAnotherMod",
                  [](const GameLayout&) { return GameLayout::ModArchiveIn(u"C:\\G\\mods\\o\\"); },
                  u"C:\\G\\mods\\o\\Shaders_client.zip"},
        PlaceCase{"ModBackupOfAnotherMod",
                  [](const GameLayout&) { return GameLayout::ModBackupIn(u"C:\\G\\mods\\o\\"); },
                  u"C:\\G\\mods\\o\\Backup\\Shaders_client.zip"},
        PLACE(ModsFolderEntries, u"C:\\G\\mods\\mymod\\..\\*"),
        PlaceCase{"ModFolderNamed",
                  [](const GameLayout& paths) { return paths.ModFolderNamed(u"other"); },
                  u"C:\\G\\mods\\mymod\\..\\other\\"},
        PlaceCase{"Temporary",
                  [](const GameLayout& paths) { return GameLayout::Temporary(paths.ModArchive()); },
                  u"C:\\G\\mods\\mymod\\Shaders_client.zip.ModLauncher-new"}),
    [](const testing::TestParamInfo<PlaceCase>& info) { return std::string(info.param.name); });

#undef PLACE

TEST(Layout, TheCopiesAKillCanLeaveAreBesideTheThreeArchivesCopiedOver) {
    const GameLayout paths(u"C:\\G\\mods\\mymod\\");
    std::vector<std::string> copies;
    for (const Text& copy : paths.ArchiveCopiesUnderWay()) copies.push_back(Narrow(copy));
    EXPECT_EQ(copies, (std::vector<std::string>{
                          "C:\\G\\mods\\mymod\\..\\bf2\\Shaders_client.zip.ModLauncher-new",
                          "C:\\G\\mods\\mymod\\..\\bf2\\Backup\\Shaders_client.zip.ModLauncher-new",
                          "C:\\G\\mods\\mymod\\Backup\\Shaders_client.zip.ModLauncher-new"}));
}

}  // namespace
