#include "launcher/archives.h"

#include <vector>

#include "launcher/failure.h"
#include "launcher/file_steps.h"
#include "launcher/file_system.h"
#include "launcher/gate.h"
#include "launcher/kept.h"
#include "launcher/notice.h"

namespace {

// What a step of the archive work gives back: nothing when it went
// through, else what it tried, on which file, and the system's error, for
// the player's message. The platform's calls answer with OsResult; a step
// adds what and where.
using Failed = std::optional<StepFailure>;

// A path for the player's eyes; nothing for no path (a version not kept).
Text FullPathOrNone(const Text& path) { return path.empty() ? Text() : Files().FullPath(path); }

// ---- The copies beside their targets, and the renames that put them in place ----

enum class Durable { No, Yes };

// Removes a copy of the launcher's own that a step no longer needs, but
// only when the gate finds its bytes in a file that no other program
// writes, or it is a copy of one cut short. A copy of the live archive may
// hold the last bytes of a version that another program replaced meanwhile:
// it stays, and the next run settles it (RemoveLeftovers).
void DropCopy(const GameLayout& paths, const Text& copy) {
    // Not checked: a copy that stays is settled by the next run.
    (void)Retire(paths, Text(), copy, Unheld::Stay);
}

// Whether the file is a mod's archive, whole or cut short: what a swap puts
// in the game's place. An empty file is that too, and holds nothing to lose.
std::optional<Proof> ProveModsArchive(const GameLayout& paths, const Text& path,
                                      const Text& markerModFolder) {
    return ProveHeld(paths, path, ModsArchives(paths, markerModFolder), Whole::OrCutShort);
}

// A copy left beside its target that holds the source's very bytes, as a
// copy keeps its time: the step that a kill cut off had made it whole.
bool IsWholeCopyOf(const Text& copy, const Text& source) {
    FileStamp a, b;
    return Files().ReadFileStamp(copy, a) && Files().ReadFileStamp(source, b) && a == b &&
           Compare(copy, source) == Likeness::Same;
}

// Copies the file beside the target, under a name of the launcher's own.
// Flushed where recovery relies on the new bytes being on the disk once the
// name is. When another program wrote the source while it was read, the
// copy is good only if it holds what the source holds now; otherwise it is
// an earlier version whole (the source renamed over) or a mix of two (the
// source rewritten in place), which the launcher cannot tell apart: it is
// kept aside unless its bytes are elsewhere, and the step fails.
Failed CopyBeside(const GameLayout& paths, RunRecord& run, const Text& from, const Text& to,
                  Durable durable) {
    const Text temporary = GameLayout::Temporary(to);
    // A copy left there may hold bytes found nowhere else: it is never
    // copied over. One that is the source's whole copy already serves.
    if (IsExistingFile(temporary)) {
        if (!IsWholeCopyOf(temporary, from))
            return StepFailure{u"copy over", to, kErrorAlreadyExists};
    } else {
        FileStamp before, after;
        const bool stamped = Files().ReadFileStamp(from, before).ok;
        if (OsResult done = CopyToFreeName(from, temporary); !done) {
            DropCopy(paths, temporary);
            return StepFailure{u"copy over", to, done.error};
        }
        const bool changed = stamped && !(Files().ReadFileStamp(from, after) && after == before);
        if (changed && Compare(temporary, from) != Likeness::Same) {
            const Retired retired = Retire(paths, Text(), temporary, Unheld::KeepAside);
            if (retired.how == Retired::How::KeptAside) {
                TellPlayer(run, MessageKind::Warning,
                           KeptAsideText(Files().FullPath(from), Files().FullPath(retired.keptAs)));
            }
            return StepFailure{u"copy", from, kErrorSharingViolation};
        }
    }
    if (durable == Durable::Yes) {
        if (OsResult flushed = Files().FlushToDisk(temporary); !flushed) {
            DropCopy(paths, temporary);
            return StepFailure{u"flush to disk", to, flushed.error};
        }
    }
    return std::nullopt;
}

// The copy beside a backup renamed over it. What the backup held goes only
// as the gate allows: `unheld` says what becomes of it otherwise. A copy
// that cannot go in is dropped when its bytes are elsewhere.
Failed ReplaceWithCopy(const GameLayout& paths, const Text& to, const Text& markerModFolder,
                       Unheld unheld, Text* keptAs = nullptr) {
    const Text temporary = GameLayout::Temporary(to);
    const Retired replaced = ReplaceOver(paths, markerModFolder, temporary, to, unheld);
    if (keptAs) *keptAs = replaced.keptAs;
    if (replaced.how != Retired::How::Stays && !replaced.failed) return std::nullopt;
    DropCopy(paths, temporary);
    if (replaced.failed) return replaced.failed;
    return StepFailure{u"replace", to, kErrorAlreadyExists};  // something unproven stands there
}

// Written whole beside it and renamed over it, so a kill never leaves half
// a marker; the write flushes it first.
Failed WriteMarker(const GameLayout& paths, const Marker& marker) {
    const Text path = paths.SwapMarker();
    const Text temporary = GameLayout::Temporary(path);
    OsResult done = WriteMarkerText(paths, temporary, MarkerText(marker));
    if (done) done = ReplaceMarkerText(paths, temporary, path);
    if (done) return std::nullopt;
    (void)RemoveMarkerText(paths, temporary);  // a copy left is removed by the next run
    return StepFailure{u"write", path, done.error};
}

Failed RemoveMarker(const GameLayout& paths) {
    const Text path = paths.SwapMarker();
    if (OsResult removed = RemoveMarkerText(paths, path); !removed)
        return StepFailure{u"remove", path, removed.error};
    return std::nullopt;
}

// ---- The live archive: captured before anything takes its place ----

// Renames whatever is live to the capture name: from then on nothing that
// another program puts in the live name can be replaced by the launcher,
// and what was taken can be looked at in peace. Nothing to capture is fine.
Failed CaptureLive(const GameLayout& paths) {
    const Text live = paths.LiveArchive();
    if (!IsExistingFile(live)) return std::nullopt;
    const OsResult moved = WithRetries([&] { return MoveToFree(live, paths.CapturedArchive()); });
    if (moved) return std::nullopt;
    return StepFailure{u"replace", live, moved.error};
}

// The capture becomes the game's backup: it holds the game's newest archive.
// The backup it replaces is kept aside unless its bytes are elsewhere.
Failed CaptureToBackup(const GameLayout& paths, const Text& markerModFolder, Text& keptAs) {
    const Text backup = paths.GameArchiveBackup();
    const Retired replaced =
        ReplaceOver(paths, markerModFolder, paths.CapturedArchive(), backup, Unheld::KeepAside);
    if (replaced.failed) return replaced.failed;
    keptAs = replaced.keptAs;
    return Flush(backup);
}

// The capture goes when its bytes are elsewhere. One that holds the
// backup's very bytes is renamed over the backup rather than removed:
// should a virus scanner take the backup meanwhile, the capture takes its
// place, and the bytes stay either way. The capture is flushed first, so
// the backup stays on the disk. `unheld` says what becomes of a capture
// whose bytes are nowhere else.
Retired RetireCapture(const GameLayout& paths, const Text& markerModFolder, Unheld unheld) {
    const Text captured = paths.CapturedArchive();
    const Text backup = paths.GameArchiveBackup();
    if (std::optional<Proof> same = ProveHeld(paths, backup, {captured}, Whole::Only)) {
        if (Failed failed = Flush(captured)) return {Retired::How::Stays, {}, failed};
        const Retired replaced =
            ReplaceOver(paths, markerModFolder, captured, backup, Unheld::Stay, same);
        if (replaced.how == Retired::How::Gone || replaced.failed) return replaced;
    }
    return Retire(paths, markerModFolder, captured, unheld);
}

// A capture whose place in the live name is taken by something newer: gone
// when its bytes are elsewhere, else kept aside.
Failed DisposeOfCapture(const GameLayout& paths, RunRecord& run, const Text& markerModFolder) {
    const Text captured = paths.CapturedArchive();
    if (!IsExistingFile(captured)) return std::nullopt;
    const Retired retired = RetireCapture(paths, markerModFolder, Unheld::KeepAside);
    if (retired.failed) return retired.failed;
    if (retired.how == Retired::How::KeptAside) {
        TellPlayer(
            run, MessageKind::Warning,
            KeptAsideText(Files().FullPath(paths.LiveArchive()), Files().FullPath(retired.keptAs)));
    }
    return std::nullopt;
}

// Puts the capture back in the live name, which must be free.
Failed ReturnCapture(const GameLayout& paths, RunRecord& run, const Text& markerModFolder) {
    const Text captured = paths.CapturedArchive();
    if (!IsExistingFile(captured)) return std::nullopt;
    const OsResult moved = WithRetries([&] { return MoveToFree(captured, paths.LiveArchive()); });
    if (moved) return std::nullopt;
    if (IsNameTaken(moved.error) && IsExistingFile(paths.LiveArchive()))
        return DisposeOfCapture(paths, run, markerModFolder);
    return StepFailure{u"put back", paths.LiveArchive(), moved.error};
}

// A capture that a run left: what was live when it was taken. Settled before
// anything else, at the start of a run and before the restore (where it is
// the swap's own, held until the game has ended so that its bytes are
// compared when that costs the player nothing).
Failed SettleCapture(const GameLayout& paths, RunRecord& run, const Text& markerModFolder) {
    const Text captured = paths.CapturedArchive();
    if (!IsExistingFile(captured)) return std::nullopt;
    if (!IsExistingFile(paths.LiveArchive())) return ReturnCapture(paths, run, markerModFolder);
    const Retired retired = RetireCapture(paths, markerModFolder, Unheld::Stay);
    if (retired.failed) return retired.failed;
    if (retired.how == Retired::How::Gone) return std::nullopt;
    // The capture holds a version found nowhere else. A mod's archive live
    // now was put there after it by a swap: the capture is the game's newest
    // archive (an update that landed just before the swap). Anything else
    // live came after the capture: the capture is the older one.
    if (!ProveModsArchive(paths, paths.LiveArchive(), markerModFolder))
        return DisposeOfCapture(paths, run, markerModFolder);
    Text keptAs;
    if (Failed failed = CaptureToBackup(paths, markerModFolder, keptAs)) return failed;
    TellPlayer(run, MessageKind::Warning,
               UpdateKeptText(Files().FullPath(paths.LiveArchive()), FullPathOrNone(keptAs)));
    return std::nullopt;
}

// A copy of the backup that is not needed after all. It is renamed over
// the backup rather than removed: should a virus scanner have taken the
// backup just before, the copy takes its place, and the bytes stay either way.
void DiscardBackupCopy(const GameLayout& paths, const Text& copy) {
    if (!IsExistingFile(copy)) return;
    // Not checked: a copy left for the next run is settled there.
    (void)ReplaceOver(paths, Text(), copy, paths.GameArchiveBackup(), Unheld::Stay);
}

// What a put-back found in the live name once it had captured it.
enum class PutBack { Done, UpdateFound };

// The game's backup put in the live archive's place, where a mod's archive
// (or none) stands: its copy beside the live archive first, so that the
// live name is empty only for two renames. When the capture is not proven
// the launcher's after all (an update landed after the look, or it cannot
// be read), it goes back and is the game's new archive; so is whatever
// takes the live name meanwhile.
Failed PutBackupInPlace(const GameLayout& paths, RunRecord& run, const Text& markerModFolder,
                        PutBack& outcome) {
    const Text live = paths.LiveArchive();
    const Text captured = paths.CapturedArchive();
    const Text backup = paths.GameArchiveBackup();
    outcome = PutBack::Done;
    if (Failed failed = CopyBeside(paths, run, backup, live, Durable::Yes)) return failed;
    if (Failed failed = CaptureLive(paths)) {
        DiscardBackupCopy(paths, GameLayout::Temporary(live));
        return failed;
    }
    // What the launcher put there: a mod's archive, or a copy of one or of
    // the backup cut short.
    std::optional<Proof> launchers;
    if (IsExistingFile(captured)) {
        const Likeness toBackup = Compare(captured, backup);
        if (toBackup != Likeness::Same) {
            std::vector<Text> places = ModsArchives(paths, markerModFolder);
            places.push_back(backup);
            launchers = ProveHeld(paths, captured, places, Whole::OrCutShort);
        }
        if (!launchers) {
            // The game's own archive after all, or an update that landed
            // after the look: it goes back, and nothing else changes here.
            DiscardBackupCopy(paths, GameLayout::Temporary(live));
            if (toBackup != Likeness::Same) outcome = PutBack::UpdateFound;
            return ReturnCapture(paths, run, markerModFolder);
        }
    }
    const OsResult in = WithRetries([&] { return MoveToFree(GameLayout::Temporary(live), live); });
    if (!in) {
        DiscardBackupCopy(paths, GameLayout::Temporary(live));
        if (!IsNameTaken(in.error)) {
            // The failure told is the rename's; a capture that cannot go
            // back now is settled first thing by the next run.
            (void)ReturnCapture(paths, run, markerModFolder);
            return StepFailure{u"replace", live, in.error};
        }
        outcome = PutBack::UpdateFound;
        return DisposeOfCapture(paths, run, markerModFolder);
    }
    const Retired retired = Retire(paths, markerModFolder, captured, Unheld::KeepAside, launchers);
    if (retired.failed) return retired.failed;
    if (retired.how == Retired::How::KeptAside) {
        TellPlayer(run, MessageKind::Warning,
                   KeptAsideText(Files().FullPath(live), Files().FullPath(retired.keptAs)));
    }
    return std::nullopt;
}

// The live archive is the game's new one: it is kept and backed up, and the
// backup it replaces is kept aside unless its bytes are elsewhere (in the
// new copy too, when the backup holds the update already).
Failed KeepUpdate(const GameLayout& paths, RunRecord& run, const Text& markerModFolder,
                  Text& keptAs) {
    const Text backup = paths.GameArchiveBackup();
    if (Failed failed = CopyBeside(paths, run, paths.LiveArchive(), backup, Durable::Yes))
        return failed;
    return ReplaceWithCopy(paths, backup, markerModFolder, Unheld::KeepAside, &keptAs);
}

// The mod's archive taken out of the place of a game that has none. What is
// captured goes only when it is a mod's archive (or a copy cut short).
Failed TakeModsArchiveOut(const GameLayout& paths, RunRecord& run, const Text& markerModFolder,
                          PutBack& outcome) {
    const Text captured = paths.CapturedArchive();
    outcome = PutBack::Done;
    if (Failed failed = CaptureLive(paths)) return failed;
    if (!IsExistingFile(captured)) return std::nullopt;
    const std::optional<Proof> mods = ProveModsArchive(paths, captured, markerModFolder);
    if (!mods) {
        outcome = PutBack::UpdateFound;
        return ReturnCapture(paths, run, markerModFolder);
    }
    const Retired retired = Retire(paths, markerModFolder, captured, Unheld::KeepAside, mods);
    if (retired.failed) {
        return StepFailure{retired.failed->action, paths.LiveArchive(), retired.failed->error};
    }
    if (retired.how == Retired::How::KeptAside) {
        TellPlayer(
            run, MessageKind::Warning,
            KeptAsideText(Files().FullPath(paths.LiveArchive()), Files().FullPath(retired.keptAs)));
    }
    return std::nullopt;
}

// What a kill left half made: only ever files under the launcher's own
// temporary names. A copy whose bytes are elsewhere goes, and so does a copy
// of the live archive cut short (it holds nothing). A whole copy of the live
// archive beside the backup is what the backup step was making: it stays
// for this run's backup to use. One that holds a version found nowhere else
// is kept aside. One that can be neither stays, and so does everything else
// this run would change: nothing may be copied over it. Gives the first
// that stays.
Failed RemoveLeftovers(const GameLayout& paths, RunRecord& run) {
    // The marker's text: no version of anything. One that stays is refused
    // again by the next write.
    (void)RemoveMarkerText(paths, GameLayout::Temporary(paths.SwapMarker()));
    const Text live = paths.LiveArchive();
    Failed stays;
    for (const Text& leftover : paths.ArchiveCopiesUnderWay()) {
        if (!IsExistingFile(leftover)) continue;
        std::optional<Proof> proof =
            ProveHeld(paths, leftover, HoldingPlaces(paths, Text()), Whole::OrCutShort);
        if (!proof) {
            if (leftover == GameLayout::Temporary(paths.GameArchiveBackup()) &&
                IsWholeCopyOf(leftover, live)) {
                continue;
            }
            proof = ProveCutShortOf(leftover, live);
        }
        const Retired retired = Retire(paths, Text(), leftover, Unheld::KeepAside, proof);
        if (retired.failed) {
            if (!stays) stays = retired.failed;
            continue;
        }
        if (retired.how == Retired::How::KeptAside) {
            TellPlayer(run, MessageKind::Warning,
                       KeptAsideText(Files().FullPath(leftover), Files().FullPath(retired.keptAs)));
        }
    }
    return stays;
}

enum class Lock { Taken, HeldByAnother, NotTaken };

struct LockOutcome {
    Lock lock;
    Failed failed;
};

// A lock on the first byte of a file that stays in the game's backup folder:
// the file's identity locks, whichever spelling of the folder a launcher
// uses and from whichever Wine prefix, and the system lets go of it however
// the launcher ends.
LockOutcome TakeLock(const GameLayout& paths) {
    const Text folder = paths.GameBackupFolder();
    OsResult made = ForceFolder(folder);
    // Another launcher may have made the folder at the same moment.
    if (!made && !IsExistingFolder(folder)) {
        return {Lock::NotTaken, StepFailure{kMakeFolderAction, folder, made.error}};
    }
    const Text path = paths.ArchiveLock();
    // A lock file whose delete is still pending (a launcher of an earlier
    // release deleted it, and a scanner still has it open) refuses to open
    // for a moment. A lock held by another launcher answers at once: it is
    // held for as long as that game runs.
    const OsResult lock =
        TryAgainWhile([](std::uint32_t error) { return error == kErrorAccessDenied; },
                      [&] { return Files().HoldLockFile(path); });
    if (lock) return {Lock::Taken, std::nullopt};
    if (lock.error == kErrorLockViolation || lock.error == kErrorSharingViolation) {
        return {Lock::HeldByAnother, std::nullopt};
    }
    return {Lock::NotTaken, StepFailure{u"lock", path, lock.error}};
}

// ---- What the marker and the live archive say, and what a run does with it ----

// What the live archive is, as far as the marker can tell.
enum class Live {
    Absent,
    GamesOwn,      // the game's own archive: what was live before the swap, or its backup
    LaunchersOwn,  // what the launcher put there, whole or cut short
    Other,         // a whole file that something else wrote: the game's new archive
};

enum class GameHad { No, Yes, Either };
enum class Backup { Missing, There, Either };

enum class Step {
    DropMarker,          // nothing to put back
    PutBackupBack,       // the game's backup in the live archive's place
    TakeModsArchiveOut,  // the game has no archive: take the mod's out
    KeepUpdate,          // the live archive is the game's new one: back it up
    TellBackupMissing,   // the game's archive is unaccounted for: change nothing
};

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
    return ProveModsArchive(paths, live, marker.modFolder) ? Live::LaunchersOwn : Live::Other;
}

enum class When { BeforeTheGame, DuringTheSwap, AfterTheGame };

// Tells the player that the kept versions are as many as the launcher
// keeps, or why a change did not go through.
void TellNotDone(const GameLayout& paths, RunRecord& run, When when, Step step,
                 const StepFailure& failed) {
    const Text live = Files().FullPath(paths.LiveArchive());
    if (IsNoRoom(failed)) {
        std::vector<Text> kept;
        for (const Text& path : KeptVersions(paths)) kept.push_back(Files().FullPath(path));
        TellPlayer(run, MessageKind::Warning, TooManyKeptText(kept, when != When::AfterTheGame));
    } else if (when != When::AfterTheGame) {
        TellPlayer(run, MessageKind::Warning, LeftInPlaceText(failed));
    } else if (step == Step::TakeModsArchiveOut) {
        TellPlayer(run, MessageKind::Warning, ModsArchiveNotTakenOutText(failed, live));
    } else {
        TellPlayer(run, MessageKind::Warning,
                   RestoreNotMadeText(failed, Files().FullPath(paths.GameArchiveBackup()), live));
    }
}

// Acts on the marker by the rules. True when the marker is gone: the game's
// own archive (or none) is live, and its backup holds it.
bool SettleMarker(const GameLayout& paths, RunRecord& run, When when) {
    const Text markerPath = paths.SwapMarker();
    if (!IsExistingFile(markerPath)) return true;
    const Text live = paths.LiveArchive();
    const Text backup = paths.GameArchiveBackup();
    Text record;
    Step step = Step::TellBackupMissing;
    Marker marker;
    if (OsResult read = Files().ReadSmallFile(markerPath, record); !read) {
        TellNotDone(paths, run, when, step, StepFailure{u"read", markerPath, read.error});
        return false;
    }
    marker = ReadMarker(record);
    // A capture left from the swap (or a run that did not end) goes first.
    if (Failed failed = SettleCapture(paths, run, marker.modFolder)) {
        TellNotDone(paths, run, when, step, *failed);
        return false;
    }
    const bool backupThere = IsExistingFile(backup);
    step = RuleFor(WhatIsLive(paths, marker), marker.gameHadArchive, backupThere);
    Failed failed;
    PutBack putBack = PutBack::Done;
    switch (step) {
        case Step::DropMarker:
            break;
        case Step::PutBackupBack:
            failed = PutBackupInPlace(paths, run, marker.modFolder, putBack);
            break;
        case Step::TakeModsArchiveOut:
            failed = TakeModsArchiveOut(paths, run, marker.modFolder, putBack);
            break;
        case Step::KeepUpdate:
            putBack = PutBack::UpdateFound;
            break;
        case Step::TellBackupMissing:
            TellPlayer(run, MessageKind::Warning,
                       BackupMissingText(Files().FullPath(backup), Files().FullPath(live),
                                         IsExistingFile(live)));
            return false;
    }
    Text keptAs;
    if (!failed && putBack == PutBack::UpdateFound) {
        step = Step::KeepUpdate;
        failed = KeepUpdate(paths, run, marker.modFolder, keptAs);
    }
    if (!failed) failed = RemoveMarker(paths);
    if (failed) {
        TellNotDone(paths, run, when, step, *failed);
        return false;
    }
    if (step == Step::KeepUpdate) {
        const Text kept = FullPathOrNone(keptAs);
        TellPlayer(run, MessageKind::Warning,
                   when == When::DuringTheSwap ? UpdateDuringSwapText(Files().FullPath(live), kept)
                                               : UpdateKeptText(Files().FullPath(live), kept));
    }
    return true;
}

// Tells the player why this run changes nothing in the game's place: the
// kept versions are as many as the launcher keeps, or a step failed; for
// the latter, only when something was to change (an earlier run's swap to
// put back, or this mod's to make).
void TellNothingChanged(const GameLayout& paths, RunRecord& run, bool modArchive,
                        const StepFailure& failed) {
    if (IsNoRoom(failed)) {
        TellNotDone(paths, run, When::BeforeTheGame, Step::KeepUpdate, failed);
    } else if (IsExistingFile(paths.SwapMarker())) {
        TellPlayer(run, MessageKind::Warning, LeftInPlaceText(failed));
    } else if (modArchive) {
        TellPlayer(run, MessageKind::Warning, SwapNotMadeText(failed));
    }
}

// ---- The steps of an ordinary run ----

Failed MakeModBackupFolder(const GameLayout& paths) {
    const Text folder = paths.ModBackupFolder();
    if (OsResult made = ForceFolder(folder); !made) {
        return StepFailure{kMakeFolderAction, folder, made.error};
    }
    return std::nullopt;
}

// Whether the backup holds the file's very bytes already, as it does after
// an ordinary run: a copy keeps its source's time, so the stamps tell which
// backups are worth reading.
bool AlreadyBackedUp(const Text& file, const Text& backup) {
    FileStamp original, copy;
    return Files().ReadFileStamp(file, original) && Files().ReadFileStamp(backup, copy) &&
           original == copy && Compare(file, backup) == Likeness::Same;
}

// With no marker, the game's backup must hold the game's archive before a
// swap. Whatever is live is the game's own, unless it is a mod's archive
// that a swap left behind (its marker lost), which the backup replaces. A
// live archive that is neither the backup's bytes nor a mod's is the game's
// new one. Only a backup whose bytes are on the disk may stand for it.
Failed SettleGamesArchive(const GameLayout& paths, RunRecord& run) {
    const Text live = paths.LiveArchive();
    const Text backup = paths.GameArchiveBackup();
    if (!IsExistingFile(live)) {
        if (!IsExistingFile(backup)) return std::nullopt;  // the game has none to lose
        PutBack outcome = PutBack::Done;
        if (Failed failed = PutBackupInPlace(paths, run, Text(), outcome)) return failed;
        if (outcome == PutBack::Done) {
            TellPlayer(run, MessageKind::Warning,
                       LiveMissingText(Files().FullPath(live), Files().FullPath(backup)));
            return Flush(backup);
        }
    }
    if (!IsExistingFile(backup)) {
        if (Failed failed = CopyBeside(paths, run, live, backup, Durable::Yes)) return failed;
        return ReplaceWithCopy(paths, backup, Text(), Unheld::Stay);
    }
    if (AlreadyBackedUp(live, backup) || Compare(live, backup) == Likeness::Same)
        return Flush(backup);
    if (ProveModsArchive(paths, live, Text())) {
        PutBack outcome = PutBack::Done;
        if (Failed failed = PutBackupInPlace(paths, run, Text(), outcome)) return failed;
        if (outcome == PutBack::Done) {
            TellPlayer(run, MessageKind::Warning,
                       LeftBehindPutBackText(Files().FullPath(live), Files().FullPath(backup)));
            return Flush(backup);
        }
    }
    Text keptAs;
    if (Failed failed = KeepUpdate(paths, run, Text(), keptAs)) return failed;
    TellPlayer(run, MessageKind::Warning,
               UpdateFoundText(Files().FullPath(live), FullPathOrNone(keptAs)));
    return std::nullopt;
}

void BackUpModArchive(const GameLayout& paths, RunRecord& run) {
    if (AlreadyBackedUp(paths.ModArchive(), paths.ModArchiveBackup())) return;
    // A failed backup of the mod's archive stops nothing and is not told:
    // the mod's archive itself stays where it is, the swap copies from it,
    // and the next run makes the backup again.
    if (!CopyBeside(paths, run, paths.ModArchive(), paths.ModArchiveBackup(), Durable::No))
        (void)ReplaceWithCopy(paths, paths.ModArchiveBackup(), Text(), Unheld::Stay);
}

// What became of a swap.
enum class Swap { Made, NotMade, UpdateArrived };

// The mod's archive in the game's place. Its copy is made beside the live
// archive first; the marker then says what is under way: what was live, and
// the stamp the mod's archive will have in its place (a copy keeps its
// source's size and time). The live archive is captured, and the copy
// renamed in under the free live name. The capture stays until the game
// has ended, when comparing it with the backup costs the player nothing.
// The mod's archive need not be on the disk before the game: a power cut
// that tears it leaves a copy of it cut short, which the next run
// recognises as the launcher's own.
Swap SwapModArchiveIn(const GameLayout& paths, RunRecord& run, Failed& failed) {
    const Text live = paths.LiveArchive();
    Marker marker;
    marker.modFolder = paths.ModFolder();
    FileStamp stamp;
    marker.gameHadArchive = IsExistingFile(live);
    if (marker.gameHadArchive && Files().ReadFileStamp(live, stamp)) marker.gameStamp = stamp;
    if (Files().ReadFileStamp(paths.ModArchive(), stamp)) marker.swappedIn = stamp;
    if ((failed = CopyBeside(paths, run, paths.ModArchive(), live, Durable::No)))
        return Swap::NotMade;
    if ((failed = WriteMarker(paths, marker))) {
        DropCopy(paths, GameLayout::Temporary(live));
        return Swap::NotMade;
    }
    if ((failed = CaptureLive(paths))) {
        DropCopy(paths, GameLayout::Temporary(live));
        // Nothing changed in the game's place: no marker may say otherwise.
        // One that cannot go now is dropped by the next run, which finds
        // the game's own archive live.
        (void)RemoveMarker(paths);
        return Swap::NotMade;
    }
    const OsResult in = MoveToFree(GameLayout::Temporary(live), live);
    if (in) return Swap::Made;
    // A folder in the live archive's place takes its name too: no update.
    const bool updateArrived = IsNameTaken(in.error) && !IsExistingFolder(live);
    // Not swapped: what was captured goes back, unless something took the
    // live name meanwhile; the marker's rules then settle what is live.
    DropCopy(paths, GameLayout::Temporary(live));
    if ((failed = ReturnCapture(paths, run, paths.ModFolder()))) return Swap::NotMade;
    if (!updateArrived) {
        failed = StepFailure{u"replace", live, in.error};
        if (!SettleMarker(paths, run, When::BeforeTheGame))
            failed.reset();  // the player is told already
        return Swap::NotMade;
    }
    return SettleMarker(paths, run, When::DuringTheSwap) ? Swap::UpdateArrived : Swap::NotMade;
}

Text StampText(const FileStamp& stamp) {
    return DecimalText(stamp.size) + u" " + DecimalText(stamp.lastWrite);
}

// A decimal number of at most 19 digits (all fit in 64 bits), and nothing
// else; nothing when the text is not that.
std::optional<std::uint64_t> ReadNumber(TextView text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t number = 0;
    for (char16_t unit : text) {
        if (unit < u'0' || unit > u'9') return std::nullopt;
        number = number * 10 + static_cast<std::uint64_t>(unit - u'0');
    }
    return number;
}

// Two decimal numbers, one space between, and nothing else.
std::optional<FileStamp> ReadStamp(TextView text) {
    const std::size_t space = text.find(u' ');
    if (space == TextView::npos) return std::nullopt;
    const std::optional<std::uint64_t> size = ReadNumber(text.substr(0, space));
    const std::optional<std::uint64_t> lastWrite = ReadNumber(text.substr(space + 1));
    if (!size || !lastWrite) return std::nullopt;
    return FileStamp{*size, *lastWrite};
}

}  // namespace

Prepared PrepareArchives(const GameLayout& paths, RunRecord& run) {
    // In the game's own content folder the "mod's archive" is the game's own.
    const bool modArchive = !Files().IsSameFolder(paths.ModFolder(), paths.GameContentFolder()) &&
                            IsExistingFile(paths.ModArchive());
    const LockOutcome lock = TakeLock(paths);
    if (lock.lock == Lock::HeldByAnother) return Prepared::AnotherLauncherRuns;
    if (lock.lock == Lock::NotTaken) {
        // Unguarded, no archive may be touched.
        TellNothingChanged(paths, run, modArchive, *lock.failed);
        return Prepared::GamesArchive;
    }
    // A copy that a kill left, holding bytes found nowhere else, that can be
    // neither removed nor kept aside: nothing changes while it stays.
    if (Failed stays = RemoveLeftovers(paths, run)) {
        TellNothingChanged(paths, run, modArchive, *stays);
        return Prepared::GamesArchive;
    }
    // What an earlier run left in the game's place goes back first; while it
    // cannot, nothing else changes.
    if (!SettleMarker(paths, run, When::BeforeTheGame)) return Prepared::GamesArchive;
    if (Failed failed = SettleCapture(paths, run, Text())) {
        TellNotDone(paths, run, When::BeforeTheGame, Step::DropMarker, *failed);
        return Prepared::GamesArchive;
    }
    // Without the backup folders no backup is made; the swap then waits for
    // nothing only when the game has no archive to lose.
    Failed failed = MakeModBackupFolder(paths);
    const bool backupFolders = !failed;
    if (backupFolders) {
        failed = SettleGamesArchive(paths, run);
    } else if (!IsExistingFile(paths.LiveArchive())) {
        failed.reset();
    }
    if (IsNoRoom(failed)) {
        TellNotDone(paths, run, When::BeforeTheGame, Step::KeepUpdate, *failed);
        return Prepared::GamesArchive;
    }
    if (!modArchive) return Prepared::GamesArchive;
    if (backupFolders) BackUpModArchive(paths, run);
    Swap swap = Swap::NotMade;
    if (!failed) swap = SwapModArchiveIn(paths, run, failed);
    if (swap == Swap::Made) return Prepared::ModsArchive;
    if (failed) TellPlayer(run, MessageKind::Warning, SwapNotMadeText(*failed));
    return Prepared::GamesArchive;
}

bool RestoreGameArchive(const GameLayout& paths, RunRecord& run) {
    return SettleMarker(paths, run, When::AfterTheGame);
}

Text MarkerText(const Marker& marker) {
    Text text = marker.modFolder + u"\r\n";
    if (!marker.gameHadArchive) {
        text += u"game none";
    } else if (marker.gameStamp) {
        text += u"game " + StampText(*marker.gameStamp);
    } else {
        text += u"game unknown";
    }
    text += u"\r\n";
    text += u"swapping";
    if (marker.swappedIn) text += u" " + StampText(*marker.swappedIn);
    return text + u"\r\n";
}

Marker ReadMarker(TextView text) {
    Marker marker;
    std::size_t line = 0;
    while (!text.empty()) {
        const std::size_t end = text.find(u'\n');
        TextView content = text.substr(0, end);
        if (!content.empty() && content.back() == u'\r') content.remove_suffix(1);
        text = end == TextView::npos ? TextView() : text.substr(end + 1);
        if (line++ == 0) {
            marker.modFolder = Text(content);
        } else if (content == u"game none") {
            marker.gameHadArchive = false;
        } else if (content.substr(0, 5) == u"game ") {
            marker.gameStamp = ReadStamp(content.substr(5));
        } else if (content.substr(0, 8) == u"swapped ") {  // the release before this one
            marker.swappedIn = ReadStamp(content.substr(8));
        } else if (content.substr(0, 9) == u"swapping ") {
            marker.swappedIn = ReadStamp(content.substr(9));
        }
    }
    return marker;
}
