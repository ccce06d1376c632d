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

// What the way back's proofs rest on: a write that sets the file's
// last-write time back still moves its change time.
TEST_F(PlatformFiles, ChangeTimeMovesWithAWriteThatSetsItsTimeBack) {
    AppShellWindow window(shell_);
    WindowsPlatform platform(window);
    FileLook look;
    ASSERT_TRUE(platform.ReadFileLook(AsText(file_), look));
    const std::uint64_t before = look.changeTime;
    if (before == 0) GTEST_SKIP() << "this volume keeps no change time";
    // A write in the clock's tick of the last change may leave the change
    // time as it was: wait for the clock to pass it.
    while (platform.SystemTime() <= before + 200000) Sleep(5);
    FileStamp stamp;
    ASSERT_TRUE(platform.ReadFileStamp(AsText(file_), stamp));
    const HANDLE out = CreateFileW(file_.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(stamp.lastWrite);
    written.dwHighDateTime = static_cast<DWORD>(stamp.lastWrite >> 32);
    DWORD wrote = 0;
    EXPECT_TRUE(WriteFile(out, "abcdefghij", 10, &wrote, nullptr));
    EXPECT_TRUE(SetFileTime(out, nullptr, nullptr, &written));
    CloseHandle(out);
    FileLook after;
    ASSERT_TRUE(platform.ReadFileLook(AsText(file_), after));
    EXPECT_EQ(after.stamp, stamp) << "the writer did not set the last-write time back";
    EXPECT_EQ(after.identity, look.identity);
    EXPECT_NE(after.changeTime, before) << "the change time stayed through a write";
}

// While the launcher keeps writers out, no program opens the file to write,
// but it may still be read and renamed.
TEST_F(PlatformFiles, WritersKeptOutCannotWriteButTheFileMayBeRenamed) {
    AppShellWindow window(shell_);
    WindowsPlatform platform(window);
    OsHandle held = kInvalidHandle;
    ASSERT_TRUE(platform.KeepWritersOut(AsText(file_), held));
    const HANDLE writer = CreateFileW(file_.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD refused = GetLastError();
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_EQ(refused, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    std::string bytes;
    EXPECT_TRUE(platform.ReadPart(AsText(file_), 0, 4, bytes));
    const std::wstring renamed = folder_ + L"\\Shaders_client.zip.renamed";
    EXPECT_TRUE(platform.MoveToFreeName(AsText(file_), AsText(renamed)));
    platform.LetWritersIn(held);
    const HANDLE after =
        CreateFileW(renamed.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(after, INVALID_HANDLE_VALUE) << "writers still kept out once let in";
    if (after != INVALID_HANDLE_VALUE) CloseHandle(after);
    MoveFileW(renamed.c_str(), file_.c_str());
}

}  // namespace
