// The platform's reads and file identities on the real file system: what
// the archive rule's proofs rest on. A read that fails must come back as a
// failure, never as a short part (the end of the file); two spellings of one
// file must give one identity.
#include <windows.h>

#include <string>

#include "platform/windows_platform.h"
#include "tests/shell/shell_fixture.h"

namespace {

Text AsText(const std::wstring& text) { return Text(text.begin(), text.end()); }

class PlatformFiles : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ = std::wstring(temp) + L"platform-files-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        file_ = folder_ + L"\\Shaders_client.zip";
        const HANDLE out = CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(out, INVALID_HANDLE_VALUE);
        DWORD wrote = 0;
        WriteFile(out, "0123456789", 10, &wrote, nullptr);
        CloseHandle(out);
    }
    void TearDown() override {
        DeleteFileW(file_.c_str());
        RemoveDirectoryW(folder_.c_str());
        ShellTest::TearDown();
    }
    std::wstring folder_, file_;
};

TEST_F(PlatformFiles, PartIsShortOnlyAtTheFilesEnd) {
    AppShellWindow window(shell_);
    WindowsPlatform platform(window);
    std::string bytes;
    ASSERT_TRUE(platform.ReadPart(AsText(file_), 4, 100, bytes));
    EXPECT_EQ(bytes, "456789");
    ASSERT_TRUE(platform.ReadPart(AsText(file_), 10, 100, bytes));
    EXPECT_EQ(bytes, "");
}

// A file that opens but whose read fails: under Wine, the process's own
// memory file, whose first page is never mapped. On Windows the same fault
// comes from another program's byte-range lock or a bad sector, which a
// test cannot make on demand; where the file does not exist the test has
// nothing to read, and says so.
TEST_F(PlatformFiles, ReadThatFailsIsAFailureNotTheEnd) {
    AppShellWindow window(shell_);
    WindowsPlatform platform(window);
    const Text unreadable = u"Z:\\proc\\self\\mem";
    if (GetFileAttributesW(L"Z:\\proc\\self\\mem") == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no file here opens and then fails to read";
    }
    std::string bytes = "left from before";
    const OsResult part = platform.ReadPart(unreadable, 0, 4096, bytes);
    EXPECT_FALSE(part) << "a failed read came back as a part of " << bytes.size() << " bytes";
    EXPECT_NE(part.error, 0u);
    Text text;
    EXPECT_FALSE(platform.ReadSmallFile(unreadable, text))
        << "a failed read came back as a text of " << text.size() << " units";
}

TEST_F(PlatformFiles, TwoSpellingsOfOneFileHaveOneIdentity) {
    AppShellWindow window(shell_);
    WindowsPlatform platform(window);
    const std::wstring other = folder_ + L"\\other.zip";
    ASSERT_TRUE(CopyFileW(file_.c_str(), other.c_str(), FALSE));
    FileIdentity plain, respelled, different;
    ASSERT_TRUE(platform.ReadFileIdentity(AsText(file_), plain));
    std::wstring upper = folder_ + L"\\.\\..\\";
    upper += folder_.substr(folder_.rfind(L'\\') + 1) + L"\\SHADERS_CLIENT.ZIP";
    ASSERT_TRUE(platform.ReadFileIdentity(AsText(upper), respelled));
    ASSERT_TRUE(platform.ReadFileIdentity(AsText(other), different));
    EXPECT_EQ(plain, respelled);
    EXPECT_NE(plain, different);
    FileIdentity none;
    EXPECT_FALSE(platform.ReadFileIdentity(AsText(folder_ + L"\\missing.zip"), none));
    DeleteFileW(other.c_str());
}

}  // namespace
