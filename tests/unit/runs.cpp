#include "runs.h"

#include <algorithm>

#include "launcher/notice.h"
#include "launcher/sequence.h"

namespace runs {

namespace {

bool StartsWith(const Text& text, const Text& start) {
    return text.compare(0, start.size(), start) == 0;
}

std::string Bytes(const FakeDisk& disk, const Text& path) {
    const FakeFile* file = disk.Find(path);
    return file ? file->bytes : "<none>";
}

// What may stay after a run: the archives, their backups, the lock file,
// the kept versions, and the files of the installation.
bool MayStay(const Text& path) {
    // The log, and its copy under way that a kill left: the launcher's own
    // text, which the next line written replaces.
    for (const Text& kept : {kLive, kBackup, Resolved(kPaths.ArchiveLock()), kModBackup,
                             kModArchive, Resolved(kPaths.GameProgram()), Resolved(kPaths.Log()),
                             Resolved(GameLayout::Temporary(kPaths.Log()))}) {
        if (path == kept) return true;
    }
    return IsKept(path) || IsModsFile(path);
}

}  // namespace

bool IsKept(const Text& path) {
    return path == Resolved(kPaths.OldKeptVersion()) ||
           (StartsWith(path, kBackupFolder) &&
            GameLayout::IsKeptName(TextView(path).substr(kBackupFolder.size())));
}

std::vector<Text> KeptFiles(const FakeDisk& disk) {
    std::vector<Text> kept;
    for (const auto& [path, node] : disk.names) {
        if (IsKept(path)) kept.push_back(path);
    }
    return kept;
}

std::string Lost(const FakeDisk& disk) {
    std::string lost;
    for (const std::string& version : disk.versions) {
        if (disk.Copies(version) == 0) lost += "no file holds " + version + "; ";
    }
    return lost;
}

std::string BadLog(const FakeDisk& disk) {
    const FakeFile* log = disk.Find(Resolved(kPaths.Log()));
    if (!log) return "";
    const std::string& bytes = log->bytes;
    if (Narrow(Widen(bytes)) != bytes) return "the log is not UTF-8; ";
    std::size_t at = 0;
    for (int line = 1; at < bytes.size(); ++line) {
        const std::size_t end = bytes.find("\r\n", at);
        const std::string text = bytes.substr(at, end == std::string::npos ? end : end - at);
        // "YYYY-MM-DD hh:mm:ss UTC  ..."
        const bool dated = text.size() > 25 && text[4] == '-' && text[10] == ' ' &&
                           text[13] == ':' && text.compare(19, 6, " UTC  ") == 0;
        if (end == std::string::npos || !dated)
            return "the log's line " + std::to_string(line) + " is cut or undated: " + text + "; ";
        at = end + 2;
    }
    return "";
}

std::string Wrong(const FakeDisk& disk) {
    std::string wrong = Lost(disk);
    const std::string expected = disk.gamesArchive.empty() ? "<none>" : disk.gamesArchive;
    // Another program may have destroyed the newest version itself (deleted
    // its last copy, the backup): then no run can put it back, and the
    // launcher only says so, leaving its marker.
    const bool destroyedByAnother =
        !disk.gamesArchive.empty() && std::find(disk.versions.begin(), disk.versions.end(),
                                                disk.gamesArchive) == disk.versions.end();
    if (!destroyedByAnother) {
        if (Bytes(disk, kLive) != expected) {
            wrong += "live archive " + Bytes(disk, kLive) + ", not " + expected + "; ";
        }
        if (!disk.gamesArchive.empty() && Bytes(disk, kBackup) != expected) {
            wrong += "backup " + Bytes(disk, kBackup) + ", not " + expected + "; ";
        }
    }
    for (const auto& [path, node] : disk.names) {
        if (!MayStay(path) && !(destroyedByAnother && path == kMarkerPath)) {
            wrong += "left behind: " + Narrow(path) + "; ";
        }
    }
    for (const Text& kept : KeptFiles(disk)) {
        const std::string bytes = Bytes(disk, kept);
        if (disk.Copies(bytes, kept) > 0) {
            wrong += "kept " + Narrow(kept) + " holds " + bytes + ", found elsewhere too; ";
        }
    }
    return wrong;
}

RunResult RunOnce(const std::function<void(FakePlatform&)>& arrange, const FakeDisk* from,
                  int crashAt, bool killsOnly) {
    FakePlatform os;
    if (from) os.UseDisk(*from);
    if (arrange) arrange(os);
    RunResult run;
    run.start = os.disk;
    os.crashAt = crashAt;
    os.killsOnly = killsOnly;
    try {
        RunLaunchSequence();
        run.completed = true;
        if (!killsOnly) run.crashes = os.PowerCutsNow("after the last change");
    } catch (const Crashed&) {
        run.crashes = os.crashes;
    }
    run.disk = os.disk;
    // Told as the player is told: a warning line on standard output, or a box.
    run.warned =
        std::any_of(os.writes.begin(), os.writes.end(),
                    [](const std::string& line) { return line.rfind("Warning: ", 0) == 0; }) ||
        std::any_of(os.boxes.begin(), os.boxes.end(),
                    [](const std::string& box) { return box.rfind("warning: ", 0) == 0; });
    for (const std::string& line : os.writes) run.said += line;
    for (const std::string& box : os.boxes) run.said += box + "\n";
    run.destroyed = os.destroyed;
    run.changes = os.changeLog;
    return run;
}

int ChangeNumber(const std::function<void(FakePlatform&)>& arrange, const std::string& begins) {
    const std::vector<std::string> changes = RunOnce(arrange, nullptr).changes;
    const auto found = std::find_if(changes.begin(), changes.end(),
                                    [&](const std::string& c) { return c.rfind(begins, 0) == 0; });
    return found == changes.end() ? -1 : static_cast<int>(found - changes.begin());
}

std::string Misbehaved(const RunResult& run) {
    std::string wrong;
    for (const std::string& destroyed : run.destroyed) wrong += destroyed + "; ";
    // A kill may come between keeping and naming: only a whole run must name.
    if (!run.completed) return wrong;
    const std::vector<Text> was = KeptFiles(run.start);
    for (const Text& kept : KeptFiles(run.disk)) {
        if (GameLayout::IsUntoldKeptName(LastName(kept))) {
            wrong += "kept " + Narrow(kept) + " left without its name; ";
        } else if (std::find(was.begin(), was.end(), kept) == was.end() &&
                   run.said.find(Narrow(kept)) == std::string::npos) {
            wrong += "kept " + Narrow(kept) + " without naming it to the player; ";
        }
    }
    return wrong;
}

void GameAndMod(FakePlatform& os) {
    os.AddFile(kLive, "G-archive");
    os.AddFile(kModArchive, "M-archive");
    os.disk.gamesArchive = "G-archive";
    os.disk.versions = {"G-archive"};
}

void KilledDuringTheGame(FakePlatform& os) {
    GameAndMod(os);
    os.AddFile(kBackup, "G-archive");
    os.AddFile(kLive, "M-archive");
    os.AddFolder(kPaths.ModBackupFolder());
    os.AddFile(kModBackup, "M-archive");
    os.MarkSwapped();
}

void AfterAnOrdinaryRun(FakePlatform& os, const std::string& gameBackup) {
    GameAndMod(os);
    FakeFile backup = *os.disk.Find(kLive);
    backup.bytes = gameBackup;
    os.disk.Settle(kBackup, backup);
    os.AddFolder(kPaths.ModBackupFolder());
    os.disk.Settle(kModBackup, *os.disk.Find(kModArchive));
}

void LeftBehindWithoutMarker(FakePlatform& os) {
    GameAndMod(os);
    os.AddFile(kBackup, "G-archive");
    os.AddFolder(kPaths.ModBackupFolder());
    os.disk.Settle(kModBackup, *os.disk.Find(kModArchive));
    os.disk.Settle(kLive, *os.disk.Find(kModArchive));
    // Nothing says that the launcher put it there: it is the game's archive
    // now, and the backup an older version.
    os.disk.gamesArchive = "M-archive";
    os.disk.versions = {"G-archive", "M-archive"};
}

void GameWithoutAnArchive(FakePlatform& os) {
    GameAndMod(os);
    os.disk.Remove(kLive);
    os.disk.Commit();
    os.disk.gamesArchive.clear();
    os.disk.versions.clear();
}

void ModShippedTheGamesArchive(FakePlatform& os) {
    AfterAnOrdinaryRun(os, "G-archive");
    os.disk.Settle(kModBackup, *os.disk.Find(kLive));
    os.AddFile(kModArchive, "M2-archive");
    RenameUpdateOver(os, "G1-update");
}

std::vector<Scenario> StartingStates(std::vector<Scenario> more) {
    std::vector<Scenario> states{
        {"OrdinaryRun", GameAndMod},
        {"AfterAnOrdinaryRun", [](FakePlatform& os) { AfterAnOrdinaryRun(os, "G-archive"); }},
        // The same size and time is no proof of the same bytes.
        {"BackupOfTheSameStampButOtherBytes",
         [](FakePlatform& os) { AfterAnOrdinaryRun(os, "X-archive"); }},
        {"FindsAnEarlierMarker", KilledDuringTheGame},
        // A swap whose marker never reached the disk (renames in two folders
        // not kept in order), or whose rename's reply was lost.
        {"FindsAModsArchiveLiveWithoutMarker", LeftBehindWithoutMarker},
        {"GameWithoutAnArchive", GameWithoutAnArchive},
        // A mod manager's linked folder in mods\ that leads to mods\bf2.
        {"SecondNameForTheGamesFolder",
         [](FakePlatform& os) {
             GameAndMod(os);
             os.disk.folderLinks[Resolved(kPaths.ModsFolder()) + u"\\bf2link"] =
                 Resolved(kPaths.GameContentFolder());
         }},
        // The game's archive that a mod shipped, in the mod's backup alone.
        {"ModShippedTheGamesArchive", ModShippedTheGamesArchive},
        // An update renamed in after a kill during the game, held by its
        // program with a byte-range lock from its middle on for this run.
        {"RangeLockedUpdateAfterAKill",
         [](FakePlatform& os) {
             KilledDuringTheGame(os);
             RenameUpdateOver(os, "U-update");
             os.MakeUnreadableFrom(kLive, 4);
         }},
    };
    states.insert(states.end(), more.begin(), more.end());
    return states;
}

void RenameUpdateOver(FakePlatform& os, const std::string& bytes, const FakeFile* stamp) {
    const FakeFile* old = os.disk.Find(kLive);
    const std::string gone = old ? old->bytes : std::string();
    FakeFile update{bytes, 0x20, ++os.clock};
    if (stamp) {
        update.bytes.resize(stamp->bytes.size(), '.');
        update.lastWrite = stamp->lastWrite;
    }
    os.AddFolder(kPaths.GameContentFolder());
    // The other program flushes its file before the rename, which commits
    // every earlier change of names too; its rename is then on the disk.
    os.disk.Commit();
    os.disk.Settle(kLive, update);
    if (old) os.disk.ForgetIfGone(gone);
    os.disk.versions.push_back(update.bytes);
    os.disk.gamesArchive = update.bytes;
}

}  // namespace runs
