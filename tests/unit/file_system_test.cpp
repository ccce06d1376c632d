// The small file questions and the folder maker that every step uses.
#include "launcher/file_system.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "launcher/failure.h"

namespace {

using Log = std::vector<std::string>;

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
        (void)ForceFolder(u"");  // it raises
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
