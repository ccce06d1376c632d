// Other programs (patchers, stores, sync clients, virus scanners) write the
// game's folder at moments of their own. As the crash points are, every
// point of a run is enumerated: before each of its changes, and inside each
// copy, another program acts once (or an update lands twice), and a rename's
// reply may be lost although it took effect. The run goes on, and two
// ordinary runs follow. At each of the launcher's replacing or removing
// calls the bytes it destroys must be in another file; no version may be
// lost but by the other program's own doing; at the end the newest version
// is live and in the backup, every other one kept once and only where found
// nowhere else, the player told of each, and nothing of the launcher's left.
#include <gtest/gtest.h>

#include <iostream>

#include "runs.h"

namespace {

using namespace runs;

struct Action {
    const char* name;
    std::function<void(FakePlatform&)> act;
    bool insideCopiesOnly = false;
};

void UpdateRenamedOver(FakePlatform& os) { RenameUpdateOver(os, "U1-update"); }

// A writer opens the file to write: it cannot while the launcher keeps
// writers out of it.
void RewrittenInPlace(FakePlatform& os) {
    FakeFile* live = os.disk.Find(kLive);
    if (!live || os.IsKeptFromWriters(kLive)) return;
    const std::string gone = live->bytes;
    // The writer flushes what it wrote.
    os.disk.Commit();
    live->bytes = "W1-rewrite";
    live->lastWrite = ++os.clock;
    const int node = os.disk.names.at(kLive);
    os.disk.nodes.at(node).durable = *live;
    os.disk.ForgetIfGone(gone);
    os.disk.versions.push_back("W1-rewrite");
    os.disk.gamesArchive = "W1-rewrite";
}

// A writer that sets the file's last-write time back and keeps its size
// (some patchers do): only the change time shows it wrote.
void RewrittenKeepingItsStamp(FakePlatform& os) {
    FakeFile* live = os.disk.Find(kLive);
    if (!live || os.IsKeptFromWriters(kLive)) return;
    const std::string gone = live->bytes;
    std::string bytes = "K1-rewrite";
    bytes.resize(gone.size(), '.');
    os.disk.Commit();
    live->bytes = bytes;
    os.disk.nodes.at(os.disk.names.at(kLive)).durable = *live;
    os.disk.ForgetIfGone(gone);
    os.disk.versions.push_back(bytes);
    os.disk.gamesArchive = bytes;
}

// An update that has the mod's archive's size and last-write time.
void UpdateWithTheModsStamp(FakePlatform& os) {
    const FakeFile mods = *os.disk.Find(kModArchive);
    RenameUpdateOver(os, "S-update", &mods);
}

// A patcher slower than the copy's reads: the copy holds the earlier
// version whole, found in no other file once the rewrite ends.
void RewrittenBehindTheCopysReads(FakePlatform& os) {
    os.copyReadsAhead = true;
    RewrittenInPlace(os);
}

// An update whose bytes another mod's archive holds too (that mod shipped
// it, say): the mod's file is no copy of it.
void UpdateWithAnotherModsBytes(FakePlatform& os) {
    os.AddFile(u"..\\othermod\\Shaders_client.zip", "O-update");
    RenameUpdateOver(os, "O-update");
}

void BackupDeleted(FakePlatform& os) {
    const FakeFile* backup = os.disk.Find(kBackup);
    if (!backup) return;
    const std::string gone = backup->bytes;
    os.disk.Commit();
    os.disk.Remove(kBackup);
    os.disk.Commit();
    os.disk.ForgetIfGone(gone);
}

const Action kActions[] = {
    {"an update renamed over the live archive", UpdateRenamedOver},
    {"the live archive rewritten in place", RewrittenInPlace},
    {"the live archive rewritten in place, its stamp kept", RewrittenKeepingItsStamp},
    {"an update with the mod's archive's size and time", UpdateWithTheModsStamp},
    {"an update with another mod's archive's bytes", UpdateWithAnotherModsBytes},
    {"the game's backup deleted", BackupDeleted},
    {"the live archive rewritten in place behind the copy's reads", RewrittenBehindTheCopysReads,
     true},
};

bool IsRename(const std::string& change) { return change.compare(0, 5, "move ") == 0; }
bool IsCopy(const std::string& change) { return change.compare(0, 5, "copy ") == 0; }

class OtherProgramAtEveryPoint : public testing::TestWithParam<Scenario> {
protected:
    int states_ = 0;
    std::vector<std::string> failures_;

    void Check(const std::string& where, const std::string& wrong) {
        if (!wrong.empty()) failures_.push_back(where + ": " + wrong);
    }

    // The run as arranged, then two ordinary runs, each checked.
    void RunAndFollow(const std::string& where, const std::function<void(FakePlatform&)>& arrange) {
        ++states_;
        RunResult run = RunOnce(arrange, nullptr);
        Check(where, Misbehaved(run));
        Check(where, Lost(run.disk));
        if (!run.completed) {
            Check(where, "the run did not end");
            return;
        }
        RunResult next = RunOnce(nullptr, &run.disk);
        Check(where + ", then a run", Misbehaved(next));
        RunResult last = RunOnce(nullptr, &next.disk);
        Check(where + ", then two runs", Misbehaved(last));
        Check(where + ", then two runs", Wrong(last.disk));
    }

    void Report(const char* what) {
        std::cout << GetParam().name << ": " << states_ << " runs with " << what << " checked\n";
        for (std::size_t i = 0; i < failures_.size() && i < 8; ++i) ADD_FAILURE() << failures_[i];
        EXPECT_EQ(failures_.size(), 0u) << "runs in which the launcher broke the rule";
    }
};

// The changes of the run as arranged, with no other program.
std::vector<std::string> ChangesOf(const Scenario& scenario) {
    return RunOnce(scenario.arrange, nullptr).changes;
}

TEST_P(OtherProgramAtEveryPoint, ActingOnce) {
    const Scenario& scenario = GetParam();
    const std::vector<std::string> changes = ChangesOf(scenario);
    for (std::size_t at = 0; at < changes.size(); ++at) {
        for (const Action& action : kActions) {
            for (bool inside : {false, true}) {
                if (inside ? !IsCopy(changes[at]) : action.insideCopiesOnly) continue;
                const std::string where = std::string(action.name) +
                                          (inside ? " inside " : " before ") + "change " +
                                          std::to_string(at) + " (" + changes[at] + ")";
                RunAndFollow(where, [&](FakePlatform& os) {
                    scenario.arrange(os);
                    os.otherAt = static_cast<int>(at);
                    os.otherInsideCopy = inside;
                    os.other = action.act;
                });
            }
        }
        if (IsRename(changes[at])) {
            // Answered with the share's error, or with "already exists" by
            // a retry that found the name taken by the renamed file itself.
            for (std::uint32_t answer : {64u, kErrorAlreadyExists}) {
                RunAndFollow("the reply of change " + std::to_string(at) + " (" + changes[at] +
                                 ") lost, answered " + std::to_string(answer),
                             [&](FakePlatform& os) {
                                 scenario.arrange(os);
                                 os.lostReplyAt = static_cast<int>(at);
                                 os.lostReplyError = answer;
                             });
            }
        }
    }
    Report("another program acting once");
}

TEST_P(OtherProgramAtEveryPoint, TwoUpdatesInARow) {
    const Scenario& scenario = GetParam();
    const std::vector<std::string> changes = ChangesOf(scenario);
    for (std::size_t first = 0; first < changes.size(); ++first) {
        for (std::size_t second = first; second < changes.size(); ++second) {
            const std::string where = "an update before change " + std::to_string(first) + " (" +
                                      changes[first] + "), another before change " +
                                      std::to_string(second) + " (" + changes[second] + ")";
            RunAndFollow(where, [&](FakePlatform& os) {
                scenario.arrange(os);
                os.otherAt = static_cast<int>(first);
                os.other = [second](FakePlatform& game) {
                    RenameUpdateOver(game, "U1-update");
                    auto again = [](FakePlatform& later) { RenameUpdateOver(later, "U2-update"); };
                    if (second == static_cast<std::size_t>(game.otherAt)) {
                        again(game);
                    } else {
                        game.otherAt = static_cast<int>(second);
                        game.other = again;
                    }
                };
            });
        }
    }
    Report("two updates in a row");
}

const std::vector<Scenario> kScenarios = StartingStates({
    // The update's stamp is the mod archive's.
    {"StampsCollide",
     [](FakePlatform& os) {
         KilledDuringTheGame(os);
         UpdateWithTheModsStamp(os);
     }},
    // An update kept earlier: the version before it is kept aside (as
    // release 1.2.0 named it), and one more update must not take its place.
    {"AnEarlierVersionKeptAside",
     [](FakePlatform& os) {
         AfterAnOrdinaryRun(os, "W0-update");
         os.AddFile(kLive, "W0-update");
         os.AddFile(kBackupFolder + u"Shaders_client.zip.old", "G-archive");
         os.disk.gamesArchive = "W0-update";
         os.disk.versions = {"G-archive", "W0-update"};
     }},
});

INSTANTIATE_TEST_SUITE_P(Runs, OtherProgramAtEveryPoint, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
