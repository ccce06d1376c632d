// The marker's rules: what the live archive is, and the row a run acts on.
#include "launcher/rules.h"

#include "launcher/capture.h"
#include "launcher/changes.h"
#include "launcher/copies.h"
#include "launcher/file_system.h"
#include "launcher/gate.h"
#include "launcher/kept.h"
#include "launcher/marker.h"

namespace {

// What the live archive is, as far as the marker can tell.
enum class Live {
    Absent,
    GamesOwn,      // the game's own archive: what was live before the swap, or its backup
    LaunchersOwn,  // what the launcher put there, whole or cut short
    Other,         // a whole file that something else wrote: the game's new archive
};

enum class GameHad { No, Yes, Either };
enum class Backup { Missing, There, Either };

struct Rule {
    Live live;
    GameHad gameHadArchive;
    Backup backup;
    Step step;
};

// The rules for a marker found, at the start of a run or after its game.
// Without a marker the live archive is the game's own, a mod's archive
// that a swap left behind, or the game's new archive.
constexpr Rule kRules[] = {
    // the live archive  the game had one  its backup       what the run does
    {Live::Absent, GameHad::No, Backup::Either, Step::DropMarker},
    {Live::Absent, GameHad::Yes, Backup::There, Step::PutBackupBack},
    {Live::Absent, GameHad::Yes, Backup::Missing, Step::TellBackupMissing},
    {Live::GamesOwn, GameHad::Either, Backup::Either, Step::DropMarker},
    {Live::LaunchersOwn, GameHad::No, Backup::Either, Step::TakeModsArchiveOut},
    {Live::LaunchersOwn, GameHad::Yes, Backup::There, Step::PutBackupBack},
    {Live::LaunchersOwn, GameHad::Yes, Backup::Missing, Step::TellBackupMissing},
    {Live::Other, GameHad::Either, Backup::Either, Step::KeepUpdate},
};

Step RuleFor(Live live, bool gameHadArchive, bool backupThere) {
    for (const Rule& rule : kRules) {
        if (rule.live != live) continue;
        if (rule.gameHadArchive != GameHad::Either &&
            (rule.gameHadArchive == GameHad::Yes) != gameHadArchive)
            continue;
        if (rule.backup != Backup::Either && (rule.backup == Backup::There) != backupThere)
            continue;
        return rule.step;
    }
    return Step::TellBackupMissing;  // every combination has its row; never reached
}

// The record settles the common cases without reading an archive; only
// when it does not are the bytes compared. The answer only chooses a row:
// no file is replaced or removed on a stamp's word, since each change
// captures the live archive and looks at its bytes first.
Live WhatIsLive(const GameLayout& paths, const Marker& marker) {
    const Text live = paths.LiveArchive();
    if (!IsExistingFile(live)) return Live::Absent;
    FileStamp stamp;
    if (Files().ReadFileStamp(live, stamp)) {
        if (stamp == marker.swappedIn) return Live::LaunchersOwn;
        if (stamp == marker.gameStamp) return Live::GamesOwn;
    }
    switch (Compare(live, paths.GameArchiveBackup())) {
        case Likeness::Same:
            return Live::GamesOwn;
        case Likeness::CutShort:
            return Live::LaunchersOwn;  // a copy of the backup cut short: a restore that did not
                                        // end
        case Likeness::Different:
        case Likeness::Unread:  // not known to be the backup's: the bytes decide below
            break;
    }
    return ProveMarkersCopy(paths, live, marker) ? Live::LaunchersOwn : Live::Other;
}

// The state a swap leaves while its game runs: the launcher's own archive
// live (by the record: the rule puts the backup back), the capture holding
// the backup's very bytes, and the name for its copy free.
bool IsCaptureToGoBack(const ArchiveWork& work, const Marker& marker) {
    const GameLayout& paths = work.paths;
    FileStamp stamp;
    return marker.gameHadArchive && IsExistingFile(paths.CapturedArchive()) &&
           IsExistingFile(paths.GameArchiveBackup()) &&
           !IsExistingFile(GameLayout::Temporary(paths.LiveArchive())) &&
           Files().ReadFileStamp(paths.LiveArchive(), stamp) && stamp == marker.swappedIn &&
           CaptureHoldsBackup(paths, work.wayBack);
}

// The marker for as long as its rules are settled.
class MarkerFor {
public:
    MarkerFor(ArchiveWork& work, const Marker& marker) : work_(work) { work_.marker = marker; }
    ~MarkerFor() { work_.marker.reset(); }
    MarkerFor(const MarkerFor&) = delete;
    MarkerFor& operator=(const MarkerFor&) = delete;

private:
    ArchiveWork& work_;
};

}  // namespace

Failed SettleCaptureAndTell(ArchiveWork& work) {
    const GameLayout& paths = work.paths;
    const CaptureSettled capture = SettleCapture(paths, work.marker);
    const bool becameBackup = capture.becameBackup;
    const bool backupMadeAgain = capture.backupMadeAgain;
    const Text keptAs = capture.backupKeptAs;
    if (Failed failed = work.Take(capture)) return failed;
    if (backupMadeAgain)
        work.Inform(BackupMadeAgainText(Files().FullPath(paths.GameArchiveBackup())));
    if (becameBackup)
        work.Inform(UpdateKeptText(Files().FullPath(paths.LiveArchive()), work.Named(keptAs)));
    return std::nullopt;
}

void TellNotDone(ArchiveWork& work, When when, Step step, const StepFailure& failed) {
    const Text live = Files().FullPath(work.paths.LiveArchive());
    if (when != When::AfterTheGame) {
        work.Warn(LeftInPlaceText(failed));
    } else if (step == Step::TakeModsArchiveOut) {
        work.Warn(ModsArchiveNotTakenOutText(failed, live));
    } else {
        work.Warn(
            RestoreNotMadeText(failed, Files().FullPath(work.paths.GameArchiveBackup()), live));
    }
}

bool SettleMarker(ArchiveWork& work, When when) {
    const GameLayout& paths = work.paths;
    const Text markerPath = paths.SwapMarker();
    if (!IsExistingFile(markerPath)) return true;
    const Text live = paths.LiveArchive();
    const Text backup = paths.GameArchiveBackup();
    Text record;
    Step step = Step::TellBackupMissing;
    if (OsResult read = Files().ReadSmallFile(markerPath, record); !read) {
        TellNotDone(work, when, step, StepFailure{u"read", markerPath, read.error});
        return false;
    }
    const Marker marker = ReadMarker(record);
    const MarkerFor markerFor(work, marker);
    // As a game ends: the launcher's own archive live, and the capture the
    // backup's bytes. The capture itself goes back then. Otherwise a capture
    // left from the swap (or a run that did not end) goes first.
    const bool captureGoesBack = IsCaptureToGoBack(work, marker);
    if (!captureGoesBack) {
        if (Failed failed = SettleCaptureAndTell(work)) {
            TellNotDone(work, when, step, *failed);
            return false;
        }
    }
    step = RuleFor(WhatIsLive(paths, marker), marker.gameHadArchive, IsExistingFile(backup));
    PutBackOutcome change;
    switch (step) {
        case Step::DropMarker:
            break;
        case Step::PutBackupBack:
            change = PutBackupInPlace(paths, work.marker,
                                      captureGoesBack ? GoesBack::Capture : GoesBack::BackupsCopy,
                                      work.wayBack);
            break;
        case Step::TakeModsArchiveOut:
            change = TakeModsArchiveOut(paths, marker);
            break;
        case Step::KeepUpdate:
            change.found = PutBack::UpdateFound;
            break;
        case Step::TellBackupMissing:
            work.Warn(BackupMissingText(Files().FullPath(backup), Files().FullPath(live),
                                        IsExistingFile(live)));
            return false;
    }
    const PutBack found = change.found;
    Failed failed = work.Take(change);
    Text keptAs;
    if (!failed && found == PutBack::UpdateFound) {
        step = Step::KeepUpdate;
        StepOutcome kept = KeepUpdate(paths);
        keptAs = kept.backupKeptAs;
        failed = work.Take(kept);
    }
    if (!failed) failed = RemoveMarker(paths);
    if (failed) {
        TellNotDone(work, when, step, *failed);
        return false;
    }
    if (step == Step::KeepUpdate) {
        const Text kept = work.Named(keptAs);
        if (when == When::DuringTheSwap) {
            work.Warn(UpdateDuringSwapText(Files().FullPath(live), kept));
        } else {
            work.Inform(UpdateKeptText(Files().FullPath(live), kept));
        }
    }
    return true;
}
