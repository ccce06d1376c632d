// Every crash point of the runs that matter, enumerated rather than sampled.
// A run on the fake disk dies before each of its changes in turn; each death
// leaves the states that a kill leaves (and, inside a copy, its target cut
// short) and those that a power cut leaves. From each, the next ordinary run
// goes on, itself killed once more at each of its own changes, and one more
// run follows. The game's own archive (or its update) must then be live and
// in its backup, with no marker or temporary file left; and at no crash
// point may the live archive and the backup both hold something else.
#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"
#include "launcher/archives.h"
#include "launcher/sequence.h"

namespace {

const Text kLive = u"C:\\G\\mods\\bf2\\Shaders_client.zip";
const Text kBackup = u"C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip";
const Text kMarkerPath = u"C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped";
const Text kModArchive = u"C:\\G\\mods\\mymod\\Shaders_client.zip";

// What may stay in the game's folders after a run: the archive, its backup,
// the lock file, an old backup set aside, and the mod's backup.
bool MayStay(const Text& path) {
    for (const Text& kept : {kLive, kBackup, Text(u"C:\\G\\mods\\bf2\\Backup\\ModLauncher.lock"),
                             Text(u"C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.old"),
                             Text(u"C:\\G\\mods\\mymod\\Backup\\Shaders_client.zip"), kModArchive,
                             Text(u"C:\\G\\BF2.exe")}) {
        if (path == kept) return true;
    }
    return false;
}

std::string Bytes(const FakeDisk& disk, const Text& path) {
    const FakeFile* file = disk.Find(path);
    return file ? file->bytes : "<none>";
}

// The game's archive is safe in this state: live or in its backup.
std::string Unsafe(const FakeDisk& disk) {
    if (disk.gamesArchive.empty()) return {};
    if (Bytes(disk, kLive) == disk.gamesArchive || Bytes(disk, kBackup) == disk.gamesArchive) {
        return {};
    }
    return "neither the live archive (" + Bytes(disk, kLive) + ") nor the backup (" +
           Bytes(disk, kBackup) + ") holds the game's archive " + disk.gamesArchive;
}

// What is wrong after the last run, or nothing.
std::string Wrong(const FakeDisk& disk) {
    std::string wrong;
    const std::string expected = disk.gamesArchive.empty() ? "<none>" : disk.gamesArchive;
    if (Bytes(disk, kLive) != expected) {
        wrong += "live archive " + Bytes(disk, kLive) + ", not " + expected + "; ";
    }
    if (!disk.gamesArchive.empty() && Bytes(disk, kBackup) != expected) {
        wrong += "backup " + Bytes(disk, kBackup) + ", not " + expected + "; ";
    }
    for (const auto& [path, node] : disk.names) {
        if (!MayStay(path)) wrong += "left behind: " + Narrow(path) + "; ";
    }
    return wrong;
}

// A run on a disk; `arrange` sets the disk and the run's conditions up, and
// is left out for the ordinary runs that follow.
struct RunResult {
    bool completed = false;
    std::vector<CrashState> crashes;
    FakeDisk disk;
};

RunResult RunOnce(const std::function<void(FakePlatform&)>& arrange, const FakeDisk* from,
                  int crashAt, bool killsOnly) {
    FakePlatform os;
    if (from) os.UseDisk(*from);
    if (arrange) arrange(os);
    os.crashAt = crashAt;
    os.killsOnly = killsOnly;
    RunResult run;
    try {
        RunLaunchSequence();
        run.completed = true;
        if (!killsOnly) run.crashes = os.PowerCutsNow("after the last change");
    } catch (const Crashed&) {
        run.crashes = os.crashes;
    }
    run.disk = os.disk;
    return run;
}

struct Scenario {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

// Before the run: the game's archive G live, the mod's M.
void GameAndMod(FakePlatform& os) {
    os.AddFile(kLive, "G-archive");
    os.AddFile(kModArchive, "M-archive");
    os.disk.gamesArchive = "G-archive";
}

// An earlier run was killed while its game ran.
void KilledDuringTheGame(FakePlatform& os) {
    GameAndMod(os);
    os.AddFile(kBackup, "G-archive");
    os.AddFile(kLive, "M-archive");
    os.AddFolder(u"C:\\G\\mods\\mymod\\Backup");
    os.AddFile(u"C:\\G\\mods\\mymod\\Backup\\Shaders_client.zip", "M-archive");
    os.MarkSwapped();
}

// What an ordinary run leaves: each backup holds its archive's very bytes and
// time. `gameBackup` replaces the game's backup's bytes, keeping that time.
void AfterAnOrdinaryRun(FakePlatform& os, const std::string& gameBackup) {
    GameAndMod(os);
    FakeFile backup = *os.disk.Find(kLive);
    backup.bytes = gameBackup;
    os.disk.Settle(kBackup, backup);
    os.AddFolder(u"C:\\G\\mods\\mymod\\Backup");
    os.disk.Settle(u"C:\\G\\mods\\mymod\\Backup\\Shaders_client.zip", *os.disk.Find(kModArchive));
}

void UpdateTheGame(FakePlatform& os) {
    os.AddFile(kLive, "U-update");
    os.disk.gamesArchive = "U-update";
}

class EveryCrashPoint : public testing::TestWithParam<Scenario> {};

TEST_P(EveryCrashPoint, LeavesTheGamesArchiveSafeAndTheNextRunsPutItBack) {
    int states = 0;
    std::vector<std::string> failures;
    auto check = [&](const std::string& where, const std::string& wrong) {
        if (!wrong.empty()) failures.push_back(where + ": " + wrong);
    };
    for (int crashAt = 0;; ++crashAt) {
        RunResult first = RunOnce(GetParam().arrange, nullptr, crashAt, false);
        for (const CrashState& crash : first.crashes) {
            ++states;
            check(crash.what, Unsafe(crash.disk));
            // The next ordinary run, killed at each of its own changes.
            for (int again = 0;; ++again) {
                RunResult next = RunOnce(nullptr, &crash.disk, again, true);
                if (next.completed) {
                    check(crash.what + ", then a whole run", Wrong(next.disk));
                    break;
                }
                for (const CrashState& nested : next.crashes) {
                    ++states;
                    const std::string where = crash.what + ", then " + nested.what;
                    check(where, Unsafe(nested.disk));
                    RunResult last = RunOnce(nullptr, &nested.disk, -1, true);
                    check(where + ", then a whole run", Wrong(last.disk));
                }
            }
        }
        if (first.completed) break;
    }
    std::cout << GetParam().name << ": " << states << " crash states checked\n";
    for (std::size_t i = 0; i < failures.size() && i < 8; ++i) ADD_FAILURE() << failures[i];
    EXPECT_EQ(failures.size(), 0u) << "crash states that lose or misplace the game's archive";
}

INSTANTIATE_TEST_SUITE_P(
    Runs, EveryCrashPoint,
    testing::Values(Scenario{"OrdinaryRun", GameAndMod},
                    Scenario{"AfterAnOrdinaryRun",
                             [](FakePlatform& os) { AfterAnOrdinaryRun(os, "G-archive"); }},
                    // The same size and time is no proof of the same bytes.
                    Scenario{"BackupOfTheSameStampButOtherBytes",
                             [](FakePlatform& os) { AfterAnOrdinaryRun(os, "X-archive"); }},
                    Scenario{"FindsAnEarlierMarker", KilledDuringTheGame},
                    Scenario{"GameUpdatedAfterAKill",
                             [](FakePlatform& os) {
                                 KilledDuringTheGame(os);
                                 UpdateTheGame(os);
                             }},
                    Scenario{"GameUpdatedDuringTheGame",
                             [](FakePlatform& os) {
                                 GameAndMod(os);
                                 os.duringGame = UpdateTheGame;
                             }},
                    Scenario{"InTheGamesOwnFolder",
                             [](FakePlatform& os) {
                                 GameAndMod(os);
                                 os.base = u"C:\\G\\mods\\bf2\\";
                                 os.currentDirectory = u"C:\\G\\mods\\bf2";
                             }},
                    Scenario{"SwapFails",
                             [](FakePlatform& os) {
                                 GameAndMod(os);
                                 os.heldOpen.insert(kLive);
                             }},
                    Scenario{"RestoreFails",
                             [](FakePlatform& os) {
                                 GameAndMod(os);
                                 // The game holds its archive past its end.
                                 os.duringGame = [](FakePlatform& game) {
                                     game.heldOpen.insert(kLive);
                                 };
                             }},
                    Scenario{"GameWithoutAnArchive",
                             [](FakePlatform& os) {
                                 GameAndMod(os);
                                 os.disk.Remove(kLive);
                                 os.disk.Commit();
                                 os.disk.gamesArchive.clear();
                             }}),
    [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
