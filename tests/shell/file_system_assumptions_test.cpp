// What the archive rule assumes of the file system, each test named by its
// assumption, on the volume the tests' temporary folder lies on (in the
// test bundle, the one it was unpacked on): the change time moves with
// every change of a file, and a proof that rests on it holds only as long
// as it does; the launcher's sharing keeps writers out; a read inside
// another handle's locked range fails rather than coming back short. What
// only Windows shows skips under Wine saying why, and on a volume that keeps
// no change time (FAT, exFAT) the tests of the change time skip: the
// launcher compares bytes there instead.
#include <windows.h>

#include <functional>
#include <string>

#include "launcher/volume_probe.h"
#include "platform/windows_platform.h"
#include "tests/bundle/wine_version.h"
#include "tests/shell/shell_fixture.h"

namespace {

Text AsText(const std::wstring& text) { return Text(text.begin(), text.end()); }

// The clock the file system stamps with has to pass the last change by
// this much before a later change is sure to get another stamp: the
// launcher's own margin.
constexpr std::uint64_t kPastTheTick = std::uint64_t{10} * 10000;  // 10 ms in file-time units
constexpr DWORD kOtherProgramTimeoutMs = 30000;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring FileSystemName(const std::wstring& path) {
    wchar_t volume[MAX_PATH * 4];
    wchar_t name[MAX_PATH + 1] = L"";
    if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH * 4) ||
        !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return L"of an unknown file system";
    return name;
}

// Empty on Windows; under Wine why a test skips there.
std::string OnlyOnWindows(const std::string& why) {
    const std::optional<std::string> wine = WineVersion();
    return wine ? "only Windows shows this (Wine " + *wine + "): " + why : "";
}

void WriteWhole(const std::wstring& path, const std::string& bytes) {
    const HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE) << "cannot write " << Narrow(path);
    DWORD wrote = 0;
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
    CloseHandle(out);
}

std::string ReadWhole(const std::wstring& path) {
    const HANDLE in = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return "<unreadable>";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(in);
    return bytes;
}

class WindowsFileSystem : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ = std::wstring(temp) + L"file-system-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        file_ = folder_ + L"\\Shaders_client.zip";
        ASSERT_NO_FATAL_FAILURE(WriteWhole(file_, "0123456789"));
        window_ = std::make_unique<AppShellWindow>(shell_);
        platform_ = std::make_unique<WindowsPlatform>(*window_);
        // The launcher's own probe runs over it.
        UsePlatform(platform_.get());
    }
    void TearDown() override {
        UsePlatform(nullptr);
        platform_.reset();
        window_.reset();
        for (const std::wstring& name : {file_, renamed_}) {
            SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(name.c_str());
        }
        RemoveDirectoryW(folder_.c_str());
        ShellTest::TearDown();
    }

    FileLook Look(const std::wstring& path) {
        FileLook look;
        EXPECT_TRUE(platform_->ReadFileLook(AsText(path), look))
            << "cannot look at " << Narrow(path);
        return look;
    }
    // Empty where the launcher's probe finds that change times prove
    // something on this volume; else why a test of them skips.
    std::string NoChangeTimes() {
        if (ChangeTimesProveIn(AsText(folder_))) return "";
        return "on this volume (" + Narrow(FileSystemName(folder_)) +
               ") the launcher's probe saw no change time move: it compares bytes there instead";
    }
    // Waits until the clock has passed the file's last change by the margin.
    void WaitPastTheTick(std::uint64_t changeTime) {
        while (platform_->SystemTime() <= changeTime + kPastTheTick) Sleep(1);
    }
    // Another program appends a line to the file: cmd.exe's redirection. Its
    // exit code, or nothing when it did not end.
    std::optional<DWORD> AnotherProgramAppends(const std::wstring& path) {
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
        std::wstring line = L"\"" + cmd + L"\" /d /c echo another program>>\"" + path + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, folder_.c_str(), &startup, &info)) {
            ADD_FAILURE() << "cmd.exe could not be started: error " << GetLastError();
            return std::nullopt;
        }
        CloseHandle(info.hThread);
        std::optional<DWORD> code;
        DWORD exitCode = 0;
        if (WaitForSingleObject(info.hProcess, kOtherProgramTimeoutMs) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(info.hProcess, &exitCode))
            code = exitCode;
        CloseHandle(info.hProcess);
        return code;
    }

    std::wstring folder_, file_, renamed_;
    std::unique_ptr<AppShellWindow> window_;
    std::unique_ptr<WindowsPlatform> platform_;
};

// The launcher's probe, on a file of its own in the folder, finds change
// times that prove something on NTFS and ReFS, and none on FAT and exFAT
// (none kept, or one that follows the last-write time): there it compares
// bytes. It leaves no file behind either way.
TEST_F(WindowsFileSystem, VolumeProbeAnswersNoOnFatAndExFat) {
    if (const std::string skip = OnlyOnWindows(
            "Wine names every Linux file system NTFS; the end-to-end test on an exFAT image "
            "(e2e_exfat) shows the probe's answer there");
        !skip.empty())
        GTEST_SKIP() << skip;
    const std::wstring system = FileSystemName(folder_);
    const bool keeps = system == L"NTFS" || system == L"ReFS";
    const bool keepsNone = system == L"FAT" || system == L"FAT32" || system == L"exFAT";
    if (!keeps && !keepsNone)
        GTEST_SKIP() << "the file system " << Narrow(system)
                     << " is neither NTFS, ReFS, FAT nor exFAT";
    const bool proves = ChangeTimesProveIn(AsText(folder_));
    EXPECT_EQ(proves, keeps) << "the volume probe answered " << (proves ? "yes" : "no") << " on "
                             << Narrow(system) << " in " << Narrow(folder_);
    const std::wstring probe = folder_ + L"\\ModLauncher.probe";
    EXPECT_EQ(GetFileAttributesW(probe.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the probe left " << Narrow(probe);
}

// A writer that keeps its handle open after writing (a patcher, a sync
// client): either the change time seen through another handle has moved
// already, or the launcher cannot keep writers out while that handle is
// open, and so keeps no proof then. Both together would let a proof hold
// over bytes it never saw.
TEST_F(WindowsFileSystem, WriteThroughAHandleStillOpenMovesChangeTimeOrTheHoldOnWritersFails) {
    if (const std::string skip = NoChangeTimes(); !skip.empty()) GTEST_SKIP() << skip;
    const FileLook before = Look(file_);
    WaitPastTheTick(before.changeTime);
    const HANDLE writer = CreateFileW(file_.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(writer, "abcdefghij", 10, &wrote, nullptr));
    const FileLook whileOpen = Look(file_);
    OsHandle held = kInvalidHandle;
    const OsResult hold = platform_->KeepWritersOut(AsText(file_), held);
    if (hold) platform_->LetWritersIn(held);
    CloseHandle(writer);
    EXPECT_TRUE(whileOpen.changeTime != before.changeTime || !hold)
        << "a write through a handle still open left the change time as it was, and the launcher "
           "could keep writers out meanwhile: a proof would hold over bytes it never read";
    if (!hold) {
        EXPECT_EQ(hold.error, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION))
            << "the hold on writers failed for another reason than the writer's handle";
    }
    EXPECT_NE(Look(file_).changeTime, before.changeTime)
        << "the change time stayed as it was once the writer closed its handle";
}

// A change that is not a write of bytes still moves the change time: the
// last-write time set back (as a patcher that restores it does), and a
// rename (which the launcher's own proofs follow).
struct Change {
    const char* name;
    std::function<void(const std::wstring& file, const std::wstring& renamed)> make;
};

void PrintTo(const Change& change, std::ostream* os) { *os << change.name; }

class ChangeTimeMoves : public WindowsFileSystem, public ::testing::WithParamInterface<Change> {};

TEST_P(ChangeTimeMoves, With) {
    if (const std::string skip = NoChangeTimes(); !skip.empty()) GTEST_SKIP() << skip;
    renamed_ = folder_ + L"\\Shaders_client.zip.renamed";
    const FileLook before = Look(file_);
    WaitPastTheTick(before.changeTime);
    GetParam().make(file_, renamed_);
    const bool moved = GetFileAttributesW(renamed_.c_str()) != INVALID_FILE_ATTRIBUTES;
    const FileLook after = Look(moved ? renamed_ : file_);
    EXPECT_EQ(after.identity, before.identity);
    EXPECT_NE(after.changeTime, before.changeTime)
        << GetParam().name << " left the change time as it was";
}

INSTANTIATE_TEST_SUITE_P(
    WindowsFileSystem, ChangeTimeMoves,
    ::testing::Values(Change{"SettingTheLastWriteTimeBack",
                             [](const std::wstring& file, const std::wstring&) {
                                 const HANDLE out = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES,
                                                                FILE_SHARE_READ, nullptr,
                                                                OPEN_EXISTING, 0, nullptr);
                                 ASSERT_NE(out, INVALID_HANDLE_VALUE);
                                 FILETIME earlier{0x12345678, 0x01D00000};
                                 EXPECT_TRUE(SetFileTime(out, nullptr, nullptr, &earlier));
                                 CloseHandle(out);
                             }},
                      Change{"ARename",
                             [](const std::wstring& file, const std::wstring& renamed) {
                                 ASSERT_TRUE(MoveFileExW(file.c_str(), renamed.c_str(), 0))
                                     << "error " << GetLastError();
                             }}),
    [](const ::testing::TestParamInfo<Change>& info) { return info.param.name; });

// The launcher lets writers back in to the file it renamed once a change
// stamped on the volume after the rename carries a later change time (its
// wait on the volume's own clock): a write from then on gets a change time
// of its own, every time.
TEST_F(WindowsFileSystem, WriteOnceTheLaunchersTickWaitEndsMovesChangeTime) {
    if (const std::string skip = NoChangeTimes(); !skip.empty()) GTEST_SKIP() << skip;
    renamed_ = folder_ + L"\\Shaders_client.zip.renamed";
    constexpr int kTries = 20;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const std::wstring& from = attempt % 2 ? renamed_ : file_;
        const std::wstring& to = attempt % 2 ? file_ : renamed_;
        ASSERT_TRUE(platform_->MoveToFreeName(AsText(from), AsText(to)));
        const std::uint64_t renamedAt = Look(to).changeTime;
        ASSERT_TRUE(ChangeTimePassedIn(AsText(folder_), renamedAt))
            << "try " << attempt + 1
            << ": the volume's clock never passed the rename's change time";
        const HANDLE out =
            CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(out, INVALID_HANDLE_VALUE);
        DWORD wrote = 0;
        WriteFile(out, "x", 1, &wrote, nullptr);
        CloseHandle(out);
        ASSERT_NE(Look(to).changeTime, renamedAt) << "try " << attempt + 1 << " of " << kTries
                                                  << ": a write once the launcher's wait for the "
                                                     "volume's tick had ended left the rename's "
                                                     "change time as it was";
    }
}

// While the launcher keeps writers out, another program cannot open the
// file to write, and its write does not reach the file; once they are let
// in, the same program writes.
TEST_F(WindowsFileSystem, WritersAreKeptOutByTheLaunchersSharing) {
    OsHandle held = kInvalidHandle;
    ASSERT_TRUE(platform_->KeepWritersOut(AsText(file_), held));
    const std::optional<DWORD> refused = AnotherProgramAppends(file_);
    const std::string whileHeld = ReadWhole(file_);
    platform_->LetWritersIn(held);
    // Wine's cmd.exe ends with 0 even when its redirection fails: the file
    // itself says whether the write arrived.
    ASSERT_TRUE(refused) << "cmd.exe did not end";
    EXPECT_EQ(whileHeld, "0123456789") << "another program wrote while writers were kept out";

    const std::optional<DWORD> allowed = AnotherProgramAppends(file_);
    ASSERT_TRUE(allowed) << "cmd.exe did not end";
    EXPECT_EQ(*allowed, 0u);
    EXPECT_EQ(ReadWhole(file_).rfind("0123456789another program", 0), 0u)
        << "the write of another program, once writers were let in, did not arrive: "
        << ReadWhole(file_);
}

// A read that reaches a range another handle has locked fails with the
// lock's error: the launcher never takes the bytes before the lock for the
// whole file (which would make an update look like a copy cut short).
TEST_F(WindowsFileSystem, RangeLockedReadIsRefusedNeverShort) {
    if (const std::string skip = OnlyOnWindows(
            "Wine lets a read through another handle's locked range, so it cannot show how "
            "Windows refuses it");
        !skip.empty())
        GTEST_SKIP() << skip;
    constexpr DWORD kReadable = 64 << 10;
    ASSERT_NO_FATAL_FAILURE(WriteWhole(file_, std::string(2 * kReadable, 'U')));
    const HANDLE locker = CreateFileW(file_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locker, INVALID_HANDLE_VALUE);
    OVERLAPPED from{};
    from.Offset = kReadable;
    ASSERT_TRUE(LockFileEx(locker, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1u << 30,
                           0, &from));
    std::string whole = "left from before";
    const OsResult read = platform_->ReadPart(AsText(file_), 0, 2 * kReadable, whole);
    std::string before;
    const OsResult part = platform_->ReadPart(AsText(file_), 0, kReadable, before);
    UnlockFileEx(locker, 0, 1u << 30, 0, &from);
    CloseHandle(locker);
    EXPECT_FALSE(read) << "a read into the locked range came back as a part of " << whole.size()
                       << " bytes";
    EXPECT_EQ(read.error, static_cast<std::uint32_t>(ERROR_LOCK_VIOLATION));
    EXPECT_TRUE(part) << "the bytes before the lock could not be read";
    EXPECT_EQ(before.size(), kReadable);
}

// The known limit: a program that sets the change time back itself, or
// tells the file system to leave it as it is while it writes (-1 in the
// time's place), writes bytes the change time does not show. Its look is
// then as it was before the write, so a proof made before would still hold;
// the launcher cannot tell, and relies on no such program writing the
// game's archive while the game runs.
struct HiddenWrite {
    const char* name;
    // Given the time to set back to; sets the change time through the writer's handle.
    std::function<void(HANDLE writer, const FileLook& before)> hide;
    bool beforeTheWrite;
};

void PrintTo(const HiddenWrite& row, std::ostream* os) { *os << row.name; }

class KnownLimit : public WindowsFileSystem, public ::testing::WithParamInterface<HiddenWrite> {};

TEST_P(KnownLimit, WriteNotShownByChangeTime) {
    if (const std::string skip = OnlyOnWindows(
            "Wine sets no change time a program asks for: the Linux file system stamps its own");
        !skip.empty())
        GTEST_SKIP() << skip;
    if (const std::string skip = NoChangeTimes(); !skip.empty()) GTEST_SKIP() << skip;
    const FileLook before = Look(file_);
    WaitPastTheTick(before.changeTime);
    const HANDLE writer = CreateFileW(file_.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    if (GetParam().beforeTheWrite) GetParam().hide(writer, before);
    DWORD wrote = 0;
    EXPECT_TRUE(WriteFile(writer, "abcdefghij", 10, &wrote, nullptr));
    if (!GetParam().beforeTheWrite) GetParam().hide(writer, before);
    CloseHandle(writer);
    EXPECT_EQ(ReadWhole(file_), "abcdefghij");
    const FileLook after = Look(file_);
    EXPECT_TRUE(after == before) << "the stamp or identity changed";
    EXPECT_EQ(after.changeTime, before.changeTime)
        << GetParam().name << ": the change time moved; the limit the docs name is not there";
}

void SetTimes(HANDLE file, LONGLONG lastWrite, LONGLONG change) {
    FILE_BASIC_INFO times{};
    times.LastWriteTime.QuadPart = lastWrite;
    times.ChangeTime.QuadPart = change;
    EXPECT_TRUE(SetFileInformationByHandle(file, FileBasicInfo, &times, sizeof times))
        << "error " << GetLastError();
}

INSTANTIATE_TEST_SUITE_P(
    WindowsFileSystem, KnownLimit,
    ::testing::Values(HiddenWrite{"ChangeTimeSetBack",
                                  [](HANDLE writer, const FileLook& before) {
                                      SetTimes(writer,
                                               static_cast<LONGLONG>(before.stamp.lastWrite),
                                               static_cast<LONGLONG>(before.changeTime));
                                  },
                                  false},
                      HiddenWrite{"ChangeTimeSuspended",
                                  [](HANDLE writer, const FileLook&) { SetTimes(writer, -1, -1); },
                                  true}),
    [](const ::testing::TestParamInfo<HiddenWrite>& info) { return info.param.name; });

}  // namespace
