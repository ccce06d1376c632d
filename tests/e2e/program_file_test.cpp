// The program file's own resources, read as Windows reads them.
#include "harness.h"
// The version the build gives the program, generated from the project's.
#include "version.h"

namespace e2e {
namespace {

// The version record says the project's version, in numbers and in words.
TEST(ProgramFile, VersionRecordSaysTheProjectsVersion) {
    const std::wstring exe = LauncherExe();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = MODLAUNCHER_VERSION_MAJOR << 16 | MODLAUNCHER_VERSION_MINOR;
    const DWORD low = MODLAUNCHER_VERSION_PATCH << 16 | MODLAUNCHER_VERSION_BUILD;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    const std::string version = MODLAUNCHER_VERSION_TEXT;  // digits and full stops
    const std::wstring expected(version.begin(), version.end());
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
        wchar_t* text = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &length))
            << "no " << Narrow(name);
        EXPECT_EQ(std::wstring(text), expected) << Narrow(name);
    }
}

TEST(ProgramFile, ManifestAsksForTheInvokersRightsAndCommonControls6) {
    HMODULE module = LoadLibraryExW(LauncherExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(module);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_TRUE(found);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(bytes, SizeofResource(module, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    const std::string identity =
        std::string("name=\"ModLauncher\" version=\"") + MODLAUNCHER_VERSION_TEXT + "\"";
    EXPECT_NE(manifest.find(identity), std::string::npos) << manifest;
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
