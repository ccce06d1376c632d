// The program file's own resources, read as Windows reads them.
#include "harness.h"

namespace e2e {
namespace {

TEST(ProgramFile, VersionRecordSaysOnePointOne) {
    const std::wstring exe = LauncherExe();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"1.1.0.0");
}

TEST(ProgramFile, ManifestAsksForTheInvokersRightsAndCommonControls6) {
    HMODULE module = LoadLibraryExW(LauncherExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_TRUE(found);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(bytes, SizeofResource(module, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    // The icon the hidden window and the shell show, at both small sizes.
    for (int side : {16, 32}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(module, L"MAINICON", IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
        EXPECT_TRUE(icon) << side;
        ICONINFO info{};
        if (icon && GetIconInfo(icon, &info)) {
            BITMAP bitmap{};
            GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
            EXPECT_EQ(bitmap.bmWidth, side);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
        }
        if (icon) DestroyIcon(icon);
    }
    FreeLibrary(module);
}

}  // namespace
}  // namespace e2e
