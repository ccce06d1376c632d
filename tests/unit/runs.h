#pragma once
// Whole runs of the launcher on the fake disk, and what must hold of the
// disk between and after them: shared by the enumerations of crashes and of
// other programs acting at every point.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fake_platform.h"

namespace runs {

// The game's places from the usual mod's folder, as the fake disk names them.
inline const GameLayout kPaths(u"C:\\G\\mods\\mymod\\");
inline const Text kLive = Resolved(kPaths.LiveArchive());
inline const Text kBackup = Resolved(kPaths.GameArchiveBackup());
inline const Text kMarkerPath = Resolved(kPaths.SwapMarker());
inline const Text kModArchive = Resolved(kPaths.ModArchive());
inline const Text kModBackup = Resolved(kPaths.ModArchiveBackup());
inline const Text kBackupFolder = Resolved(kPaths.GameBackupFolder()) + u"\\";

// A version kept aside: the launcher's own names in the game's backup
// folder, and release 1.2.0's one.
bool IsKept(const Text& path);
std::vector<Text> KeptFiles(const FakeDisk& disk);

// Each version that must not be lost is in some file; empty when so.
std::string Lost(const FakeDisk& disk);
// The log, where there is one, reads whole: UTF-8 lines, each with its date
// and time and its line end; empty when so.
std::string BadLog(const FakeDisk& disk);
// What is wrong after the last run: the newest version not live or not in
// the backup, a file of the launcher's left (the marker, a copy beside its
// target, the capture), a kept file whose bytes are in another file too.
std::string Wrong(const FakeDisk& disk);

struct RunResult {
    FakeDisk start;  // the disk as the run found it
    bool completed = false;
    std::vector<CrashState> crashes;
    FakeDisk disk;
    bool warned = false;
    std::string said;                    // every line and box, one after another
    std::vector<std::string> destroyed;  // the launcher's calls that broke the rule
    std::vector<std::string> changes;    // what each change of the run was
};

// A run on a disk; `arrange` sets the disk and the run's conditions up.
RunResult RunOnce(const std::function<void(FakePlatform&)>& arrange, const FakeDisk* from,
                  int crashAt = -1, bool killsOnly = true);

// The number of the first change of a run from this state that begins so
// (the changes are counted from 0); -1 when none does.
int ChangeNumber(const std::function<void(FakePlatform&)>& arrange, const std::string& begins);

// Something is wrong with a run itself: it broke the rule, or a whole run
// left a kept version unnamed: one it kept, or one an earlier run kept and
// was killed before it could name (each is named once, by its kept name,
// and has that name after the run).
std::string Misbehaved(const RunResult& run);

// A run's starting state, by name.
struct Scenario {
    const char* name;
    std::function<void(FakePlatform&)> arrange;
};
inline void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }
// The starting states both enumerations run from, and others after them.
std::vector<Scenario> StartingStates(std::vector<Scenario> more);

// Starting states.
void GameAndMod(FakePlatform& os);           // G live, the mod's M, nothing else
void KilledDuringTheGame(FakePlatform& os);  // M live, G backed up, the marker
void AfterAnOrdinaryRun(FakePlatform& os, const std::string& gameBackup);
// M live, G backed up, no marker: M is the game's archive to the oracle.
void LeftBehindWithoutMarker(FakePlatform& os);
void GameWithoutAnArchive(FakePlatform& os);
// A mod that shipped the game's archive G as its own; then the game was
// updated to G1 and the mod to M2: G only in the game's backup and the
// mod's backup.
void ModShippedTheGamesArchive(FakePlatform& os);
// An update renamed over the live archive; with `stamp`, it has that size
// and last-write time.
void RenameUpdateOver(FakePlatform& os, const std::string& bytes, const FakeFile* stamp = nullptr);

}  // namespace runs
