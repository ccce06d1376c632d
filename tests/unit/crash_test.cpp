// Every crash point of the runs that matter, enumerated rather than sampled.
// A run on the fake disk dies before each of its changes in turn; each death
// leaves the states that a kill leaves (and, inside a copy, its target cut
// short) and those that a power cut leaves, under both models of how renames
// reach the disk. From each, the next ordinary run goes on, itself killed
// once more at each of its own changes, and one more run follows. No version
// of the game's archive may be lost at any point, and none destroyed by the
// launcher; at the end the newest is live and in its backup, with nothing of
// the launcher's left but kept versions, each told to the player.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <utility>

#include "runs.h"

namespace {

using namespace runs;

void UpdateTheGame(FakePlatform& os) { RenameUpdateOver(os, "U-update"); }

class EveryCrashPoint : public testing::TestWithParam<std::tuple<Scenario, FakeDisk::Model>> {};

// What a run from a disk leads to is the same wherever the disk came from:
// the run starts on a new fake platform with nothing arranged, and its clock
// comes from the disk's files. So the findings below are kept by the disk
// they start from, and a disk met again (a kill and a power cut that leave
// the same names, two deaths around a change that left no trace) is run once.
struct Findings {
    int states = 0;                     // the crash states met on the way
    std::vector<std::string> failures;  // each after the name of where it started
};

// The last, ordinary run after two deaths.
Findings LastRun(const FakeDisk& disk) {
    Findings found;
    RunResult last = RunOnce(nullptr, &disk);
    for (const auto& [then, wrong] :
         {std::pair{", then a run", Misbehaved(last)},
          std::pair{", then a whole run", Wrong(last.disk) + BadLog(last.disk)}}) {
        if (!wrong.empty()) found.failures.push_back(then + (": " + wrong));
    }
    return found;
}

// The next ordinary run after a crash, killed at each of its own changes,
// and the last run after each of those deaths.
Findings NextRuns(const FakeDisk& disk, std::map<FakeDisk, Findings>& lastRuns) {
    Findings found;
    auto check = [&](const std::string& where, const std::string& wrong) {
        if (!wrong.empty()) found.failures.push_back(where + ": " + wrong);
    };
    for (int again = 0;; ++again) {
        RunResult next = RunOnce(nullptr, &disk, again, true);
        check(", then a run", Misbehaved(next));
        if (next.completed) {
            check(", then a whole run", Wrong(next.disk));
            return found;
        }
        for (const CrashState& nested : next.crashes) {
            ++found.states;
            const std::string where = ", then " + nested.what;
            check(where, Lost(nested.disk) + BadLog(nested.disk));
            auto last = lastRuns.find(nested.disk);
            if (last == lastRuns.end()) {
                last = lastRuns.emplace(nested.disk, LastRun(nested.disk)).first;
            }
            for (const std::string& failure : last->second.failures) {
                found.failures.push_back(where + failure);
            }
        }
    }
}

TEST_P(EveryCrashPoint, LosesNothingAndTheNextRunsPutTheNewestBack) {
    const Scenario& scenario = std::get<0>(GetParam());
    const FakeDisk::Model model = std::get<1>(GetParam());
    auto arrange = [&](FakePlatform& os) {
        os.disk.model = model;
        scenario.arrange(os);
    };
    int states = 0;
    std::vector<std::string> failures;
    auto check = [&](const std::string& where, const std::string& wrong) {
        if (!wrong.empty()) failures.push_back(where + ": " + wrong);
    };
    std::map<FakeDisk, Findings> nextRuns, lastRuns;
    for (int crashAt = 0;; ++crashAt) {
        RunResult first = RunOnce(arrange, nullptr, crashAt, false);
        check("the first run, up to its crash", Misbehaved(first));
        for (const CrashState& crash : first.crashes) {
            ++states;
            check(crash.what, Lost(crash.disk) + BadLog(crash.disk));
            auto next = nextRuns.find(crash.disk);
            if (next == nextRuns.end()) {
                next = nextRuns.emplace(crash.disk, NextRuns(crash.disk, lastRuns)).first;
            }
            states += next->second.states;
            for (const std::string& failure : next->second.failures) {
                failures.push_back(crash.what + failure);
            }
        }
        if (first.completed) break;
    }
    std::cout << scenario.name << (model == FakeDisk::Model::Journal ? ", journal" : "") << ": "
              << states << " crash states checked, from " << nextRuns.size() << " and "
              << lastRuns.size() << " different disks\n";
    for (std::size_t i = 0; i < failures.size() && i < 8; ++i) ADD_FAILURE() << failures[i];
    EXPECT_EQ(failures.size(), 0u) << "crash states that lose or misplace the game's archive";
}

const std::vector<Scenario> kScenarios = StartingStates({
    {"GameUpdatedAfterAKill",
     [](FakePlatform& os) {
         KilledDuringTheGame(os);
         UpdateTheGame(os);
     }},
    {"GameUpdatedDuringTheGame",
     [](FakePlatform& os) {
         GameAndMod(os);
         os.duringGame = UpdateTheGame;
     }},
    {"InTheGamesOwnFolder",
     [](FakePlatform& os) {
         GameAndMod(os);
         os.currentDirectory = Resolved(kPaths.GameContentFolder());
         os.base = os.currentDirectory + u"\\";
     }},
    // As many versions kept as the launcher keeps, and a whole copy of the
    // backup left beside it by a kill: the copy still goes.
    {"ThreeKeptAndACopyLeft",
     [](FakePlatform& os) {
         AfterAnOrdinaryRun(os, "G-archive");
         for (const char* version : {"K1-kept", "K2-kept", "K3-kept"}) {
             os.AddFile(kBackupFolder + u"Shaders_client.kept-2020-01-0" +
                            Text(1, static_cast<char16_t>(version[1])) + u"-000000.zip",
                        version);
             os.disk.versions.push_back(version);
         }
         os.AddFile(GameLayout::Temporary(kBackup), "G-archive");
     }},
    {"SwapFails",
     [](FakePlatform& os) {
         GameAndMod(os);
         os.heldOpen.insert(kLive);
     }},
    {"RestoreFails",
     [](FakePlatform& os) {
         GameAndMod(os);
         // The game holds its archive past its end.
         os.duringGame = [](FakePlatform& game) { game.heldOpen.insert(kLive); };
     }},
});

INSTANTIATE_TEST_SUITE_P(
    Runs, EveryCrashPoint,
    testing::Combine(testing::ValuesIn(kScenarios),
                     testing::Values(FakeDisk::Model::WriteThrough, FakeDisk::Model::Journal)),
    [](const testing::TestParamInfo<EveryCrashPoint::ParamType>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == FakeDisk::Model::Journal ? "_Journal" : "");
    });

}  // namespace
