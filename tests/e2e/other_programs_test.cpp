// Other programs write the game's live archive beside the launcher: an
// updater that renames a new archive in during the swap or as the game ends,
// a game that rewrites its archive in place, an update that happens to have
// the mod's archive's size and time, a patcher's staged files, a swap whose
// marker never reached the disk. Each row needs no luck of timing: what the
// other program does waits for an event (the marker, the game's start, its
// end). Once the runs have settled, the game's newest archive is live and in
// its backup, every other version of it is in exactly one kept file, the
// player was told of each, and nothing of the launcher's own is left.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "harness.h"

namespace e2e {
namespace {

const std::wstring kMod = L"mods\\mymod\\Shaders_client.zip";
const std::wstring kModBackup = L"mods\\mymod\\Backup\\Shaders_client.zip";
const std::wstring kModLauncher = L"mods\\mymod\\ModLauncher.exe";
const std::wstring kKeptPrefix = L"Shaders_client.kept-";
// Where another program stages the update it renames over the live archive.
const std::wstring kStaged = L"mods\\bf2\\Shaders_client.zip.update";

// A version of an archive, by a name the failure messages use.
struct Version {
    std::string name;
    std::string bytes;
};

// Bytes that share no run with those of another name at the same place:
// the name, then bytes from a generator seeded by it.
Version MakeVersion(const std::string& name, std::size_t size) {
    std::string bytes = "archive " + name + "\r\n";
    std::uint32_t state = 2166136261u;
    for (char c : name) state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    bytes.reserve(size);
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        bytes += static_cast<char>(state >> 24);
    }
    bytes.resize(size);
    return {name, bytes};
}

std::wstring TwoDigits(unsigned value) {
    return {static_cast<wchar_t>(L'0' + value / 10 % 10), static_cast<wchar_t>(L'0' + value % 10)};
}

// Empty when the kept file is named "Shaders_client.kept-YYYY-MM-DD-hhmmss.zip"
// (or with "-N" before ".zip") after its own last-write time, UTC; else why not.
std::string KeptNameProblem(const std::wstring& path, const std::wstring& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    SYSTEMTIME time;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        !FileTimeToSystemTime(&data.ftLastWriteTime, &time))
        return "cannot read the time of " + Narrow(path);
    const std::wstring stamp = std::to_wstring(time.wYear) + L"-" + TwoDigits(time.wMonth) + L"-" +
                               TwoDigits(time.wDay) + L"-" + TwoDigits(time.wHour) +
                               TwoDigits(time.wMinute) + TwoDigits(time.wSecond);
    const std::wstring expected = kKeptPrefix + stamp;
    std::string problem =
        Narrow(name) + " is not named after its last write, " + Narrow(stamp) + " UTC";
    if (name.rfind(expected, 0) != 0) return problem;
    std::wstring rest = name.substr(expected.size());
    if (rest == L".zip") return "";
    if (rest.size() < 6 || rest[0] != L'-' || rest.substr(rest.size() - 4) != L".zip")
        return problem;
    rest = rest.substr(1, rest.size() - 5);
    if (!std::all_of(rest.begin(), rest.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }) ||
        std::stoul(rest) < 2)
        return problem;
    return "";
}

// Every line a warning, whole, and at least one.
bool AllWarnings(const std::string& output) {
    if (output.size() < 2 || output.substr(output.size() - 2) != "\r\n") return false;
    for (std::size_t at = 0; at < output.size();) {
        const std::size_t end = output.find("\r\n", at);
        if (output.compare(at, 9, "Warning: ") != 0) return false;
        at = end + 2;
    }
    return true;
}

// Another program's updater: as soon as the marker exists, it renames its
// staged archive over the live one, trying again while the file is in use.
// 0, or the error that stopped it.
DWORD RenameInOnceTheMarkerAppears(const std::wstring& marker, const std::wstring& staged,
                                   const std::wstring& live) {
    const DWORD start = GetTickCount();
    while (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > kStartTimeoutMs) return ERROR_TIMEOUT;
    }
    while (!MoveFileExW(staged.c_str(), live.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
            GetTickCount() - start > kStartTimeoutMs)
            return error;
    }
    return 0;
}

std::uint64_t LastWrite(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

bool SetLastWrite(const std::wstring& path, std::uint64_t time) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    const FILETIME written{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    return file && SetFileTime(file.get(), nullptr, nullptr, &written);
}

// What a run of the launcher came to.
struct RunSeen {
    std::optional<DWORD> exitCode;
    std::string output;  // its standard output, a pipe
    std::optional<StandinReport> game;
    std::vector<std::wstring> newlyKept;  // the kept files this run made, full paths
};

class OtherProgramsTest : public E2eTest {
protected:
    // As a player has it before the first run: the game's archive live and
    // the mod's archive in the mod's folder.
    GameTree& Installation() {
        GameLayout layout;
        layout.gameArchive = g_.bytes;
        layout.modArchive = m_.bytes;
        return LayTree(layout);
    }

    Process& Begin(const GameTree& tree,
                   std::vector<std::pair<std::wstring, std::wstring>> env = {}) {
        DeleteFileW(tree.Path(L"standin-report.txt").c_str());
        keptBefore_ = KeptFiles(tree);
        return StartLauncherWithOutput(tree, std::move(env));
    }

    RunSeen Finish(const GameTree& tree, Process& launcher) {
        RunSeen run;
        run.exitCode = launcher.WaitForExit();
        run.output = launcher.ReadOutput();
        run.game = ReadStandinReport(tree.Root());
        for (const auto& [name, bytes] : KeptFiles(tree))
            if (!keptBefore_.count(name))
                run.newlyKept.push_back(tree.Path(kGameBackupFolder) + L"\\" + name);
        return run;
    }

    RunSeen RunOnce(const GameTree& tree,
                    std::vector<std::pair<std::wstring, std::wstring>> env = {}) {
        return Finish(tree, Begin(tree, std::move(env)));
    }

    // Told in warning lines and the exit code 4; each version the run kept
    // is named.
    static void ExpectTold(const RunSeen& run, const std::string& which) {
        EXPECT_EQ(run.exitCode, 4u) << which << ", output:\n" << run.output;
        EXPECT_TRUE(AllWarnings(run.output))
            << which << ": not warning lines, each ending in CR LF:\n"
            << run.output;
        for (const std::wstring& kept : run.newlyKept)
            EXPECT_NE(run.output.find(Narrow(kept)), std::string::npos)
                << which << " kept " << Narrow(kept) << " without naming it:\n"
                << run.output;
    }

    static void ExpectSilent(const RunSeen& run, const std::string& which) {
        EXPECT_EQ(run.exitCode, 0u) << which << ", output:\n" << run.output;
        EXPECT_EQ(run.output, "") << which;
        for (const std::wstring& kept : run.newlyKept)
            ADD_FAILURE() << which << " kept " << Narrow(kept);
    }

    static void ExpectGameSaw(const RunSeen& run, const Version& version,
                              const std::string& which) {
        ASSERT_TRUE(run.game) << which << ": the game was not started";
        EXPECT_TRUE(SameBytes(
            which + ": the live archive as the game saw it (expected " + version.name + ")",
            run.game->archive, version.bytes));
    }

    // The runs have settled: newest live and in the game's backup; each of
    // kept in exactly one kept file, named after its last write, and no kept
    // file holding anything else; the mod's archive and its backup the
    // mod's; another program's files (relative to the root) as they were;
    // and no other file under mods: nothing of the launcher's own is left.
    void ExpectSettled(const GameTree& tree, const Version& newest,
                       const std::vector<Version>& kept,
                       const std::map<std::wstring, std::string>& others = {}) {
        EXPECT_TRUE(SameBytes(Narrow(kLive) + " (expected " + newest.name + ")", tree.Read(kLive),
                              newest.bytes));
        EXPECT_TRUE(SameBytes(Narrow(kGameBackup) + " (expected " + newest.name + ")",
                              tree.Read(kGameBackup), newest.bytes));
        EXPECT_TRUE(tree.Holds(kMod, m_.bytes));
        EXPECT_TRUE(tree.Holds(kModBackup, m_.bytes));
        for (const auto& [path, bytes] : others)
            EXPECT_TRUE(tree.Holds(path, bytes)) << "another program's file was touched";

        const std::map<std::wstring, std::string> keptFiles = KeptFiles(tree);
        auto versionOf = [&](const std::string& bytes) -> std::string {
            for (const Version* v : {&g_, &m_, &newest})
                if (v->bytes == bytes) return v->name;
            for (const Version& v : kept)
                if (v.bytes == bytes) return v.name;
            return "no version of this test, " + std::to_string(bytes.size()) + " bytes";
        };
        std::string listed;
        for (const auto& [name, bytes] : keptFiles)
            listed += "\n  " + Narrow(name) + ": " + versionOf(bytes);
        if (listed.empty()) listed = " none";
        for (const Version& version : kept) {
            const auto count =
                std::count_if(keptFiles.begin(), keptFiles.end(),
                              [&](const auto& file) { return file.second == version.bytes; });
            EXPECT_EQ(count, 1) << version.name << " is in " << count
                                << " kept files; the kept files:" << listed;
        }
        for (const auto& file : keptFiles) {
            EXPECT_TRUE(std::any_of(kept.begin(), kept.end(),
                                    [&](const Version& v) { return v.bytes == file.second; }))
                << Narrow(file.first) << " holds " << versionOf(file.second)
                << ", which was not to be kept";
            const std::wstring path = tree.Path(kGameBackupFolder) + L"\\" + file.first;
            EXPECT_EQ(KeptNameProblem(path, file.first), "");
        }

        // The log tells what was kept and why.
        std::set<std::wstring> expected{kLive,
                                        kGameBackup,
                                        kLock,
                                        kMod,
                                        kModBackup,
                                        kModLauncher,
                                        kGameBackupFolder + L"\\ModLauncher.log"};
        for (const auto& [name, bytes] : keptFiles)
            expected.insert(kGameBackupFolder + L"\\" + name);
        for (const auto& [path, bytes] : others) expected.insert(path);
        for (const auto& [path, bytes] : tree.Files()) {
            std::wstring relative = path;
            std::replace(relative.begin(), relative.end(), L'/', L'\\');
            if (relative.rfind(L"mods\\", 0) == 0 && !expected.count(relative))
                ADD_FAILURE() << "a file that should not be there: " << Narrow(relative) << ", "
                              << bytes.size() << " bytes";
        }
    }

    // One more ordinary run: the game gets the mod's archive, nothing is
    // said, the exit code is 0, and every file under mods is as it was.
    void ExpectQuietNextRun(const GameTree& tree) {
        const Snapshot before = TakeSnapshot(tree.Path(L"mods"));
        const RunSeen run = RunOnce(tree);
        ExpectSilent(run, "the next ordinary run");
        ExpectGameSaw(run, m_, "the next ordinary run");
        EXPECT_EQ(SnapshotDiff(before, TakeSnapshot(tree.Path(L"mods"))), "")
            << "the next ordinary run changed the files above (under mods)";
    }

    // A run during which an updater renames U in as soon as the marker
    // appears; the game runs until the update is in. No game in the result
    // when the game did not start or the update was not renamed in.
    RunSeen RunWithUpdateAsTheMarkerAppears(const GameTree& tree) {
        tree.Write(kStaged, u_.bytes);
        DWORD updated = ERROR_INVALID_FUNCTION;
        std::thread updater([&] {
            updated = RenameInOnceTheMarkerAppears(tree.Path(kMarker), tree.Path(kStaged),
                                                   tree.Path(kLive));
        });
        Process& launcher = Begin(tree, {{L"STANDIN_RUN_UNTIL", L"quit.txt"}});
        const bool started = WaitForStandinReport(tree.Root()).has_value();
        updater.join();
        tree.Write(L"quit.txt", "");
        RunSeen run = Finish(tree, launcher);
        DeleteFileW(tree.Path(L"quit.txt").c_str());
        EXPECT_TRUE(started) << "the game was not started";
        EXPECT_EQ(updated, 0u) << "the update was not renamed in (the marker never appeared?)";
        if (!started || updated != 0) run.game.reset();
        return run;
    }

    const Version g_ = MakeVersion("G, the game's archive", 200 << 10);
    const Version m_ = MakeVersion("M, the mod's archive", 300 << 10);
    const Version u_ = MakeVersion("U, the game's update", 150 << 10);
    std::map<std::wstring, std::string> keptBefore_;
};

// An updater renames its archive over the live one as soon as the marker
// appears: before the launcher captures the live archive, between the
// capture and the rename that puts the mod's in, or after it, while the game
// runs (which one is luck). Either way U is the game's newest archive and G
// is kept, in that run; the next ordinary run has nothing to add.
TEST_F(OtherProgramsTest, UpdateRenamedInAsTheMarkerAppears) {
    GameTree& tree = Installation();
    const RunSeen run = RunWithUpdateAsTheMarkerAppears(tree);
    ASSERT_TRUE(run.game) << "the game was not started, or the update not renamed in";
    ASSERT_TRUE(run.game);
    EXPECT_TRUE(run.game->archive == m_.bytes || run.game->archive == u_.bytes)
        << "the game saw neither M nor U: " << BytesDifference(run.game->archive, m_.bytes);
    ExpectTold(run, "the run the update landed in");
    ExpectSettled(tree, u_, {g_});
    ExpectQuietNextRun(tree);
}

// The same with as many versions kept as the launcher keeps: the way back
// still keeps what it must, one more, and no mod's archive stays live.
TEST_F(OtherProgramsTest, UpdateRenamedInAsTheMarkerAppearsWithThreeKept) {
    GameTree& tree = Installation();
    std::vector<Version> kept;
    for (WORD day = 1; day <= 3; ++day) {
        kept.push_back(MakeVersion("K" + std::to_string(day) + ", kept earlier", (40 + day) << 10));
        const std::wstring name =
            kKeptPrefix + L"2020-01-0" + std::to_wstring(day) + L"-000000.zip";
        const std::wstring path = tree.Path(kGameBackupFolder) + L"\\" + name;
        tree.Write(kGameBackupFolder + L"\\" + name, kept.back().bytes);
        SYSTEMTIME time{2020, 1, 0, day, 0, 0, 0, 0};
        FILETIME written;
        ASSERT_TRUE(SystemTimeToFileTime(&time, &written));
        ASSERT_TRUE(SetLastWrite(
            path, (std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime));
    }
    const RunSeen run = RunWithUpdateAsTheMarkerAppears(tree);
    ASSERT_TRUE(run.game) << "the game was not started, or the update not renamed in";
    ExpectTold(run, "the run the update landed in");
    EXPECT_FALSE(tree.Read(kMarker)) << "the marker stayed: a mod's archive may be live";
    kept.push_back(g_);
    ExpectSettled(tree, u_, kept);
}

// A run stopped between keeping a version aside and telling the player (the
// faults variant fails there, as exhausted memory would): the version keeps
// a name that says it is untold, and the next run names it.
TEST_F(OtherProgramsTest, KeptVersionOfAStoppedRunIsNamedByTheNext) {
    GameLayout layout;
    layout.gameArchive = g_.bytes;
    layout.modArchive = m_.bytes;
    layout.launcherSource = FaultsLauncherExe();
    GameTree& tree = LayTree(layout);
    ExpectSilent(RunOnce(tree), "the first run");
    tree.Write(kLive, u_.bytes);  // the game updated between runs
    const RunSeen stopped = RunOnce(tree, {{L"MODLAUNCHER_FAULT", L"kept"}});
    EXPECT_EQ(stopped.exitCode, 1u) << stopped.output;
    ASSERT_EQ(stopped.newlyKept.size(), 1u) << "nothing kept before the stop";
    EXPECT_NE(stopped.newlyKept[0].find(L".untold.zip"), std::wstring::npos)
        << Narrow(stopped.newlyKept[0]);
    const RunSeen next = RunOnce(tree);
    ExpectTold(next, "the run after the stopped one");
    ASSERT_EQ(next.newlyKept.size(), 1u);
    EXPECT_EQ(next.newlyKept[0].find(L".untold"), std::wstring::npos) << Narrow(next.newlyKept[0]);
    ExpectSettled(tree, u_, {g_});
}

// The game starts an updater that renames U over the live archive, where
// the mod's archive stands, just before the game ends.
TEST_F(OtherProgramsTest, UpdateRenamedInAsTheGameEnds) {
    GameTree& tree = Installation();
    tree.Write(kStaged, u_.bytes);
    const RunSeen run = RunOnce(tree, {{L"STANDIN_UPDATE_AT_END", tree.Path(kStaged)}});
    ASSERT_TRUE(run.game) << "the game was not started";
    ASSERT_EQ(run.game->update, "yes") << "the game's update was not renamed in";
    ExpectGameSaw(run, m_, "the run");
    ExpectTold(run, "the run the update landed in");
    ExpectSettled(tree, u_, {g_});
    ExpectQuietNextRun(tree);
}

// An update with the mod's archive's size and last-write time: the stamp
// the marker records for the mod's archive in the game's place. Its bytes
// say it is not the launcher's: it stays live and is backed up, G is kept.
TEST_F(OtherProgramsTest, UpdateWithTheModArchivesStampPutInDuringTheGame) {
    GameTree& tree = Installation();
    const Version update = MakeVersion("U, an update of the mod's archive's size", m_.bytes.size());
    tree.Write(kStaged, update.bytes);
    const std::uint64_t modTime = LastWrite(tree.Path(kMod));
    ASSERT_TRUE(SetLastWrite(tree.Path(kStaged), modTime));
    Process& launcher = Begin(tree, {{L"STANDIN_RUN_UNTIL", L"quit.txt"},
                                     {L"STANDIN_UPDATE_AT_END", tree.Path(kStaged)}});
    const bool started = WaitForStandinReport(tree.Root()).has_value();
    // The marker is there for as long as the game runs.
    const std::string marker = tree.Read(kMarker).value_or("(no marker)");
    tree.Write(L"quit.txt", "");
    const RunSeen run = Finish(tree, launcher);
    DeleteFileW(tree.Path(L"quit.txt").c_str());
    ASSERT_TRUE(started && run.game) << "the game was not started";
    EXPECT_NE(marker.find("swapping " + std::to_string(update.bytes.size()) + " " +
                          std::to_string(modTime) + "\r\n"),
              std::string::npos)
        << "the update's stamp is not the one the marker records for the swap:\n"
        << marker;
    ASSERT_EQ(run.game->update, "yes") << "the game's update was not renamed in";
    ExpectGameSaw(run, m_, "the run");
    ExpectTold(run, "the run the update landed in");
    ExpectSettled(tree, update, {g_});
    EXPECT_EQ(LastWrite(tree.Path(kLive)), modTime) << "the live archive is not the update itself";
    ExpectQuietNextRun(tree);
}

// A game that repairs its archive rewrites the live file in place, the
// same file the launcher put there, in two runs: each version it wrote
// becomes the game's, the one before is kept, and the player is told each
// time.
TEST_F(OtherProgramsTest, GameRewritesItsLiveArchiveInPlaceTwice) {
    GameTree& tree = Installation();
    const Version w1 = MakeVersion("W1, the game's first rewrite", 250 << 10);
    const Version w2 = MakeVersion("W2, the game's second rewrite", 100 << 10);
    tree.Write(L"w1.bin", w1.bytes);
    tree.Write(L"w2.bin", w2.bytes);

    const RunSeen first = RunOnce(tree, {{L"STANDIN_REWRITE_ARCHIVE", tree.Path(L"w1.bin")}});
    ASSERT_TRUE(first.game) << "the game was not started";
    ASSERT_EQ(first.game->rewrite, "yes") << "the game did not rewrite its archive";
    ExpectGameSaw(first, m_, "the first run");
    ExpectTold(first, "the first run");
    ExpectSettled(tree, w1, {g_});

    const RunSeen second = RunOnce(tree, {{L"STANDIN_REWRITE_ARCHIVE", tree.Path(L"w2.bin")}});
    ASSERT_TRUE(second.game) << "the game was not started";
    ASSERT_EQ(second.game->rewrite, "yes") << "the game did not rewrite its archive";
    ExpectGameSaw(second, m_, "the second run");
    ExpectTold(second, "the second run");
    ExpectSettled(tree, w2, {g_, w1});
    ExpectQuietNextRun(tree);
}

// The mod's archive live, byte for byte, the game's in its backup and no
// marker: a swap whose marker never reached the disk, or a game update that
// the mod ships too. Nothing says the launcher put it there, so it is the
// game's archive now: backed up, the old backup kept aside, and the player
// is told what was found, the mod's archive named.
TEST_F(OtherProgramsTest, ModsArchiveLiveWithoutAMarker) {
    GameTree& tree = Installation();
    tree.Write(kLive, m_.bytes);
    tree.Write(kGameBackup, g_.bytes);
    tree.Write(kModBackup, m_.bytes);
    const RunSeen run = RunOnce(tree);
    ExpectGameSaw(run, m_, "the run");
    ExpectTold(run, "the run");
    EXPECT_NE(run.output.find(Narrow(tree.Path(kLive)) + " holds the same bytes as the mod's " +
                              "shaders " + Narrow(tree.Path(kMod))),
              std::string::npos)
        << "the live archive and the mod's are not named:\n"
        << run.output;
    ExpectSettled(tree, m_, {g_});
    ExpectQuietNextRun(tree);
}

// Ordinary runs: the first from a player's installation, the next from what
// it left. Neither keeps anything, leaves a file beyond the backups and the
// lock, or says anything; the next changes no file. Another program's
// staged files, and those an interrupted run of release 1.2.0 left (the
// ".tmp" names, even holding bytes found elsewhere, or cut short), are
// never touched.
struct OrdinaryRun {
    const char* name;
    // Another program's files, relative to the root, from the game's and the mod's archives.
    std::function<std::map<std::wstring, std::string>(const GameTree&, const std::string& game,
                                                      const std::string& mod)>
        others;
};

void PrintTo(const OrdinaryRun& row, std::ostream* os) { *os << row.name; }

class OrdinaryRunTest : public OtherProgramsTest,
                        public ::testing::WithParamInterface<OrdinaryRun> {};

TEST_P(OrdinaryRunTest, KeepsNothingLeavesNoNewFileSaysNothing) {
    GameTree& tree = Installation();
    const std::map<std::wstring, std::string> others = GetParam().others(tree, g_.bytes, m_.bytes);
    for (const auto& [path, bytes] : others) tree.Write(path, bytes);
    const RunSeen first = RunOnce(tree);
    ExpectSilent(first, "the first run");
    ExpectGameSaw(first, m_, "the first run");
    ExpectSettled(tree, g_, {}, others);
    ExpectQuietNextRun(tree);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OrdinaryRunTest,
    ::testing::Values(OrdinaryRun{"NoOtherProgram",
                                  [](const GameTree&, const std::string&, const std::string&) {
                                      return std::map<std::wstring, std::string>{};
                                  }},
                      OrdinaryRun{"AnotherProgramsTmpFiles",
                                  [](const GameTree& tree, const std::string& game,
                                     const std::string& mod) {
                                      return std::map<std::wstring, std::string>{
                                          // A swap's copy of release 1.2.0, whole: the mod's bytes.
                                          {L"mods\\bf2\\Shaders_client.zip.tmp", mod},
                                          // Its backup's copy, cut short.
                                          {L"mods\\bf2\\Backup\\Shaders_client.zip.tmp",
                                           game.substr(0, 40 << 10)},
                                          // Its marker's, half written.
                                          {L"mods\\bf2\\Backup\\Shaders_client.zip.swapped.tmp",
                                           Narrow(tree.ModFolder()) + "\\\r\nswapp"},
                                          // A patcher's staged file.
                                          {L"mods\\mymod\\Backup\\Shaders_client.zip.tmp",
                                           MakeVersion("P, a patcher's", 64 << 10).bytes}};
                                  }}),
    [](const ::testing::TestParamInfo<OrdinaryRun>& info) { return info.param.name; });

// ---- What only Windows shows ----

// After a kill during the game (the mod's archive live, the marker there),
// an update U is renamed over the live archive, and another program holds a
// file of the game's while the next run needs it, in a way Wine does not
// enforce. The run destroys no version of the archive, and once the file is
// let go the next runs settle as ever: U live and backed up, G kept once.
struct HeldFile {
    const char* name;
    const char* onlyWindows;  // why Wine cannot show it
    // Holds a file from a handle of its own until that handle closes.
    std::function<UniqueHandle(const GameTree&)> hold;
};

void PrintTo(const HeldFile& row, std::ostream* os) { *os << row.name; }

class HeldFileTest : public OtherProgramsTest, public ::testing::WithParamInterface<HeldFile> {
protected:
    void KilledDuringTheGame(const GameTree& tree) {
        Process& first = Begin(tree, {{L"STANDIN_RUN_UNTIL", L"quit.txt"}});
        ASSERT_TRUE(WaitForStandinReport(tree.Root())) << "the game was not started";
        first.Kill();
        tree.Write(L"quit.txt", "");
        ASSERT_TRUE(WaitForStandinReport(tree.Root(), kStartTimeoutMs, true));
        DeleteFileW(tree.Path(L"quit.txt").c_str());
        ASSERT_TRUE(tree.Read(kMarker)) << "the kill left no marker";
    }

    // Each version is in some file under mods.
    void ExpectNoneLost(const GameTree& tree, const std::vector<Version>& versions) {
        const Snapshot files = TakeSnapshot(tree.Path(L"mods"));
        for (const Version& version : versions)
            EXPECT_TRUE(std::any_of(files.begin(), files.end(),
                                    [&](const auto& file) { return file.second == version.bytes; }))
                << version.name << " is in no file under mods after the run that found it held";
    }
};

// Where the update stops being readable: before it, U is the mod's
// archive's first part, so a read that stopped there would take U for a
// copy of the mod's archive cut short, and remove it.
constexpr DWORD kReadable = 64 << 10;

TEST_P(HeldFileTest, NothingLostThenSettled) {
    const HeldFile& row = GetParam();
    if (const std::string skip = OnlyOnWindows(row.onlyWindows); !skip.empty())
        GTEST_SKIP() << skip;
    GameTree& tree = Installation();
    ASSERT_NO_FATAL_FAILURE(KilledDuringTheGame(tree));
    Version update = MakeVersion("U, an update that begins like the mod's archive", 260 << 10);
    update.bytes.replace(0, kReadable, m_.bytes, 0, kReadable);
    tree.Write(kStaged, update.bytes);
    ASSERT_TRUE(MoveFileExW(tree.Path(kStaged).c_str(), tree.Path(kLive).c_str(),
                            MOVEFILE_REPLACE_EXISTING))
        << "the update was not renamed in: error " << GetLastError();
    {
        const UniqueHandle held = row.hold(tree);
        ASSERT_TRUE(held) << "the file could not be held: error " << GetLastError();
        const RunSeen run = RunOnce(tree);
        ASSERT_TRUE(run.game) << "the game was not started";
        EXPECT_TRUE(run.exitCode == 0u || run.exitCode == 4u)
            << "exit code " << run.exitCode.value_or(0xFFFFFFFF) << ", output:\n"
            << run.output;
    }
    ExpectNoneLost(tree, {g_, m_, update});
    const RunSeen next = RunOnce(tree);
    ASSERT_TRUE(next.game) << "the game was not started after the file was let go";
    ExpectSettled(tree, update, {g_});
    ExpectQuietNextRun(tree);
}

INSTANTIATE_TEST_SUITE_P(
    WindowsOnly, HeldFileTest,
    ::testing::Values(
        // Locked from its 64th KiB on (LockFileEx): on Windows no other
        // handle reads that range.
        HeldFile{"RangeLockedUpdate",
                 "another program's byte-range lock makes a read fail on Windows; Wine reads "
                 "the locked range",
                 [](const GameTree& tree) {
                     UniqueHandle file(
                         CreateFileW(tree.Path(kLive).c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
                     OVERLAPPED from{};
                     from.Offset = kReadable;
                     if (file && !LockFileEx(file.get(),
                                             LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                                             1u << 30, 0, &from))
                         file.reset();
                     return file;
                 }},
        // A scanner holds the game's backup, sharing reading and writing
        // but not deletion, while the update must be backed up over it.
        HeldFile{"BackupHeldWithoutDeleteSharing",
                 "Windows refuses every program a rename over, or a removal of, a file held "
                 "without delete sharing; Wine holds only its own processes to that",
                 [](const GameTree& tree) {
                     return UniqueHandle(CreateFileW(tree.Path(kGameBackup).c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_EXISTING, 0, nullptr));
                 }}),
    [](const ::testing::TestParamInfo<HeldFile>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
