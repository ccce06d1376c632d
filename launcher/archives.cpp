#include "launcher/archives.h"

#include <vector>

#include "launcher/failure.h"
#include "launcher/file_system.h"
#include "launcher/notice.h"

namespace {

// What a step of the archive work gives back: nothing when it went
// through, else what it tried, on which file, and the system's error, for
// the player's message. The platform's calls answer with OsResult; a step
// adds what and where.
using Failed = std::optional<StepFailure>;

// A rename refuses to replace a read-only target, and files installed from
// a disc are often read-only (hidden ones too, for some tools): the changes
// must still go through.
void ClearBlockingAttributes(const Text& path) {
    const std::uint32_t blocking = kAttributeReadOnly | kAttributeHidden;
    std::uint32_t attributes = Files().FileAttributes(path).attributes;
    if (attributes == kInvalidFileAttributes || (attributes & kAttributeDirectory) ||
        !(attributes & blocking)) {
        return;
    }
    // Not checked: a change that the attribute still blocks fails on its
    // own, with the error the player's advice is made from.
    Files().SetAttributes(path, attributes & ~blocking);
}

// A refusal that passes by itself: another program holds the file for a
// moment (the game's process just after its end, a virus scanner on a new
// file). "Access denied" is among them: Windows says it of a file whose
// delete is still pending.
bool IsMomentaryHold(std::uint32_t error) {
    return error == kErrorSharingViolation || error == kErrorLockViolation ||
           error == kErrorAccessDenied;
}

bool IsNameTaken(std::uint32_t error) {
    return error == kErrorAlreadyExists || error == kErrorFileExists;
}

// A path for the player's eyes; nothing for no path (a version not kept).
Text FullPathOrNone(const Text& path) { return path.empty() ? Text() : Files().FullPath(path); }

// Makes the change, and makes it again after each pause while it is refused
// with an error that `mayPass` says may pass: about two seconds in all.
template <typename MayPass, typename Change>
OsResult TryAgainWhile(MayPass mayPass, Change change) {
    OsResult done = change();
    for (unsigned pause : kRetryPausesMs) {
        if (done || !mayPass(done.error)) break;
        Files().Pause(pause);
        done = change();
    }
    return done;
}

// A change refused while another program holds its file, tried again.
template <typename Change>
OsResult WithRetries(Change change) {
    return TryAgainWhile(IsMomentaryHold, change);
}

enum class Replace { No, Yes };

// A rename that reported failure but took effect (its reply lost on a
// network share, say) counts as done: the source gone and the target there
// can only be this rename's doing, since the targets are names no other
// program writes, or the live name the launcher has just emptied.
OsResult Rename(const Text& from, const Text& to, Replace replace) {
    if (replace == Replace::Yes) ClearBlockingAttributes(to);
    const OsResult moved =
        replace == Replace::Yes ? Files().MoveOver(from, to) : Files().MoveToFreeName(from, to);
    if (moved || IsNameTaken(moved.error)) return moved;
    if (!IsExistingFile(from) && IsExistingFile(to)) return {};
    return moved;
}

// Removes one of the launcher's own files: a copy beside its target, the
// capture, the marker. A file already gone counts as removed.
OsResult RemoveOwn(const Text& path) {
    if (!IsExistingFile(path)) return {};
    ClearBlockingAttributes(path);
    const OsResult removed = WithRetries([&] { return Files().RemoveFile(path); });
    if (removed || !IsExistingFile(path)) return {};
    return removed;
}

// ---- Where versions of the game's archive are, and whether bytes are elsewhere ----

bool SameNameIgnoringCase(TextView a, TextView b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char16_t unit) {
            return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The versions kept aside so far: release 1.2.0's one and the launcher's
// own. A folder that cannot be listed gives none, so more is kept, not less.
std::vector<Text> KeptVersions(const GameLayout& paths) {
    std::vector<Text> kept;
    if (IsExistingFile(paths.OldKeptVersion())) kept.push_back(paths.OldKeptVersion());
    std::vector<FolderEntry> entries;
    if (!Files().ListFolder(paths.KeptVersionsPattern(), entries)) return kept;
    for (const FolderEntry& entry : entries) {
        if (!entry.isFolder) kept.push_back(paths.KeptVersion(entry.name));
    }
    return kept;
}

// Every mod's archive and its backup: this mod's first, then each other
// folder's in the mods folder, the game's own content folder left out.
std::vector<Text> ModsArchives(const GameLayout& paths, const Text& alsoModFolder) {
    std::vector<Text> archives{paths.ModArchive(), paths.ModArchiveBackup()};
    if (!alsoModFolder.empty() && alsoModFolder != paths.ModFolder()) {
        archives.push_back(GameLayout::ModArchiveIn(alsoModFolder));
        archives.push_back(GameLayout::ModBackupIn(alsoModFolder));
    }
    std::vector<FolderEntry> entries;
    if (!Files().ListFolder(paths.ModsFolderEntries(), entries)) return archives;
    for (const FolderEntry& entry : entries) {
        if (!entry.isFolder || SameNameIgnoringCase(entry.name, GameLayout::kGameContentName) ||
            SameNameIgnoringCase(entry.name, LastName(paths.ModFolder())) ||
            SameNameIgnoringCase(entry.name, LastName(alsoModFolder))) {
            continue;
        }
        const Text folder = paths.ModFolderNamed(entry.name);
        archives.push_back(GameLayout::ModArchiveIn(folder));
        archives.push_back(GameLayout::ModBackupIn(folder));
    }
    return archives;
}

enum class Whole { Only, OrCutShort };

// Whether one of the places holds the file's very bytes (or, with
// OrCutShort, the file is a copy of one cut short). Sizes first: only a
// place of the same size (or larger, for a copy cut short) is read.
bool FoundIn(const Text& path, const std::vector<Text>& places, Whole whole) {
    FileStamp stamp;
    if (!Files().ReadFileStamp(path, stamp)) return false;
    for (const Text& place : places) {
        FileStamp other;
        if (place == path || !Files().ReadFileStamp(place, other)) continue;
        if (whole == Whole::Only ? other.size != stamp.size : other.size < stamp.size) continue;
        const Likeness likeness = Compare(path, place);
        if (likeness == Likeness::Same ||
            (whole == Whole::OrCutShort && likeness == Likeness::CutShort)) {
            return true;
        }
    }
    return false;
}

// Whether the file's bytes are in another file that no program but the
// launcher (or a player, for the mods) writes: the game's backup, the
// capture, a kept version, a mod's archive or its backup. The live archive
// is no such place: what stands there now may be gone the next moment.
// With OrCutShort, a copy of one of them cut short counts as held too: it
// is what a copy that did not end leaves, and holds nothing to lose.
bool HeldElsewhere(const GameLayout& paths, const Text& path, const Text& markerModFolder,
                   Whole whole = Whole::Only) {
    std::vector<Text> places{paths.GameArchiveBackup(), paths.CapturedArchive()};
    for (Text& kept : KeptVersions(paths)) places.push_back(std::move(kept));
    for (Text& archive : ModsArchives(paths, markerModFolder)) places.push_back(std::move(archive));
    return FoundIn(path, places, whole);
}

// Whether the file is a mod's archive, whole or cut short: what a swap puts
// in the game's place. An empty file is that too, and holds nothing to lose.
bool IsModsArchive(const GameLayout& paths, const Text& path, const Text& markerModFolder) {
    return FoundIn(path, ModsArchives(paths, markerModFolder), Whole::OrCutShort);
}

// Removes a copy of the launcher's own that a step no longer needs, but
// only when its bytes are in a file that no other program writes, or it is
// a copy of one cut short. A copy of the live archive may hold the last
// bytes of a version that another program replaced meanwhile: it stays,
// no copy is made over it (CopyBeside), and the next run settles it by its
// bytes (RemoveLeftovers). A removal that fails leaves it to that run too.
void DropCopy(const GameLayout& paths, const Text& copy) {
    if (HeldElsewhere(paths, copy, Text(), Whole::OrCutShort)) RemoveOwn(copy);
}

// A time of the file system (100 ns steps since 1601, UTC) as
// "YYYY-MM-DD-hhmmss".
Text TimeName(std::uint64_t fileTime) {
    std::uint64_t seconds = fileTime / 10000000;
    const unsigned secondOfDay = static_cast<unsigned>(seconds % 86400);
    // Days since 1601-01-01 to a civil date, by 400-year eras from 0000-03-01.
    std::int64_t days = static_cast<std::int64_t>(seconds / 86400) + 584694;
    const std::int64_t era = days / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const unsigned month =
        static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    auto two = [](unsigned value) {
        return Text{static_cast<char16_t>(u'0' + value / 10),
                    static_cast<char16_t>(u'0' + value % 10)};
    };
    return DecimalText(year) + u"-" + two(month) + u"-" + two(day) + u"-" +
           two(secondOfDay / 3600) + two(secondOfDay / 60 % 60) + two(secondOfDay % 60);
}

// What a version that had to be kept aside came to.
struct Kept {
    Text as;        // where it is kept now; empty when it was not
    Failed failed;  // why not
};

// The kept versions are as many as the launcher keeps.
constexpr const char16_t* kKeepAsideAction = u"keep aside";
StepFailure NoRoomToKeep(const Text& path) { return {kKeepAsideAction, path, 0}; }
bool IsNoRoom(const Failed& failed) {
    return failed && failed->action == kKeepAsideAction && failed->error == 0;
}

// Renames the file among the kept versions under a free name from its
// last-write time, so that it replaces nothing.
Kept KeepAside(const GameLayout& paths, const Text& path) {
    if (KeptVersions(paths).size() >= kKeptAtMost) return {{}, NoRoomToKeep(path)};
    // A stamp that cannot be read names the version by the earliest time;
    // the name stays free of any other all the same.
    FileStamp stamp;
    Files().ReadFileStamp(path, stamp);
    OsResult moved;
    for (unsigned number = 0; number < 100; ++number) {
        const Text as = paths.KeptVersion(KeptName(stamp.lastWrite, number));
        ClearBlockingAttributes(path);
        moved = Rename(path, as, Replace::No);
        if (moved) return {as, std::nullopt};
        if (!IsNameTaken(moved.error)) break;
    }
    return {{}, StepFailure{kKeepAsideAction, path, moved.error}};
}

// ---- The copies beside their targets, and the renames that put them in place ----

enum class Durable { No, Yes };
enum class Retry { No, Yes };

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
    // copied over.
    if (IsExistingFile(temporary)) return StepFailure{u"copy over", to, kErrorAlreadyExists};
    FileStamp before, after;
    const bool stamped = Files().ReadFileStamp(from, before).ok;
    if (OsResult done = Files().CopyWholeFile(from, temporary); !done) {
        DropCopy(paths, temporary);
        return StepFailure{u"copy over", to, done.error};
    }
    const bool changed = stamped && !(Files().ReadFileStamp(from, after) && after == before);
    if (changed && Compare(temporary, from) != Likeness::Same) {
        if (HeldElsewhere(paths, temporary, Text(), Whole::OrCutShort)) {
            RemoveOwn(temporary);
        } else if (Kept kept = KeepAside(paths, temporary); !kept.failed) {
            TellPlayer(run, MessageKind::Warning,
                       KeptAsideText(Files().FullPath(from), Files().FullPath(kept.as)));
        }
        return StepFailure{u"copy", from, kErrorSharingViolation};
    }
    if (durable == Durable::Yes) {
        if (OsResult flushed = Files().FlushToDisk(temporary); !flushed) {
            DropCopy(paths, temporary);
            return StepFailure{u"flush to disk", to, flushed.error};
        }
    }
    return std::nullopt;
}

// The copy beside a file of the launcher's own renamed over it. Only for
// the backups and the marker, whose bytes the caller has made sure of.
Failed ReplaceWithCopy(const GameLayout& paths, const Text& to, Retry retry) {
    const Text temporary = GameLayout::Temporary(to);
    auto rename = [&] { return Rename(temporary, to, Replace::Yes); };
    const OsResult done = retry == Retry::Yes ? WithRetries(rename) : rename();
    if (done) return std::nullopt;
    DropCopy(paths, temporary);
    return StepFailure{u"replace", to, done.error};
}

// Flushing any file puts every rename made before it on the disk, even
// where a rename is not written through (Wine): what comes next may rely on it.
Failed Flush(const Text& path) {
    const OsResult flushed = Files().FlushToDisk(path);
    if (flushed) return std::nullopt;
    return StepFailure{u"flush to disk", path, flushed.error};
}

// Written whole beside it and renamed over it, so a kill never leaves half
// a marker; the write flushes it first.
Failed WriteMarker(const GameLayout& paths, const Marker& marker) {
    const Text path = paths.SwapMarker();
    const Text temporary = GameLayout::Temporary(path);
    OsResult done = Files().WriteNewFile(temporary, MarkerText(marker));
    if (done) done = Rename(temporary, path, Replace::Yes);
    if (done) return std::nullopt;
    RemoveOwn(temporary);  // the marker's text: no version of anything
    return StepFailure{u"write", path, done.error};
}

Failed RemoveMarker(const GameLayout& paths) {
    const Text path = paths.SwapMarker();
    if (OsResult removed = RemoveOwn(path); !removed)
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
    const OsResult moved =
        WithRetries([&] { return Rename(live, paths.CapturedArchive(), Replace::No); });
    if (moved) return std::nullopt;
    return StepFailure{u"replace", live, moved.error};
}

// The capture becomes the game's backup: it holds the game's newest archive.
// The backup it replaces is kept aside unless its bytes are elsewhere.
Failed CaptureToBackup(const GameLayout& paths, const Text& markerModFolder, Text& keptAs) {
    const Text backup = paths.GameArchiveBackup();
    if (IsExistingFile(backup) && !HeldElsewhere(paths, backup, markerModFolder)) {
        Kept kept = KeepAside(paths, backup);
        if (kept.failed) return kept.failed;
        keptAs = kept.as;
    }
    const OsResult moved = Rename(paths.CapturedArchive(), backup, Replace::Yes);
    if (!moved) return StepFailure{u"replace", backup, moved.error};
    return Flush(backup);
}

// A capture whose bytes are elsewhere goes. One that holds the backup's
// very bytes is renamed over the backup rather than removed: should a virus
// scanner take the backup meanwhile, the capture takes its place, and the
// bytes stay either way. The capture is flushed first, so the backup stays
// on the disk.
std::optional<Failed> RetireCapture(const GameLayout& paths, const Text& markerModFolder) {
    const Text captured = paths.CapturedArchive();
    const Text backup = paths.GameArchiveBackup();
    if (FoundIn(captured, {backup}, Whole::Only)) {
        if (Failed failed = Flush(captured)) return failed;
        if (OsResult moved = Rename(captured, backup, Replace::Yes); !moved)
            return StepFailure{u"replace", backup, moved.error};
        return Failed();
    }
    if (HeldElsewhere(paths, captured, markerModFolder, Whole::OrCutShort)) {
        if (OsResult removed = RemoveOwn(captured); !removed)
            return StepFailure{u"remove", captured, removed.error};
        return Failed();
    }
    return std::nullopt;  // its bytes are nowhere else
}

// A capture whose place in the live name is taken by something newer: gone
// when its bytes are elsewhere, else kept aside.
Failed DisposeOfCapture(const GameLayout& paths, RunRecord& run, const Text& markerModFolder) {
    const Text captured = paths.CapturedArchive();
    if (!IsExistingFile(captured)) return std::nullopt;
    if (std::optional<Failed> retired = RetireCapture(paths, markerModFolder)) return *retired;
    Kept kept = KeepAside(paths, captured);
    if (kept.failed) return kept.failed;
    TellPlayer(run, MessageKind::Warning,
               KeptAsideText(Files().FullPath(paths.LiveArchive()), Files().FullPath(kept.as)));
    return std::nullopt;
}

// Puts the capture back in the live name, which must be free.
Failed ReturnCapture(const GameLayout& paths, RunRecord& run, const Text& markerModFolder) {
    const Text captured = paths.CapturedArchive();
    if (!IsExistingFile(captured)) return std::nullopt;
    const OsResult moved =
        WithRetries([&] { return Rename(captured, paths.LiveArchive(), Replace::No); });
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
    if (std::optional<Failed> retired = RetireCapture(paths, markerModFolder)) return *retired;
    // The capture holds a version found nowhere else. A mod's archive live
    // now was put there after it by a swap: the capture is the game's newest
    // archive (an update that landed just before the swap). Anything else
    // live came after the capture: the capture is the older one.
    if (!IsModsArchive(paths, paths.LiveArchive(), markerModFolder))
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
    // A copy left for the next run is settled there.
    Rename(copy, paths.GameArchiveBackup(), Replace::Yes);
}

// What a put-back found in the live name once it had captured it.
enum class PutBack { Done, UpdateFound };

// The game's backup put in the live archive's place, where a mod's archive
// (or none) stands: its copy beside the live archive first, so that the
// live name is empty only for two renames. When the capture is not a mod's
// archive after all (an update landed after the look), it goes back and is
// the game's new archive; so is whatever takes the live name meanwhile.
Failed PutBackupInPlace(const GameLayout& paths, RunRecord& run, const Text& markerModFolder,
                        PutBack& outcome) {
    const Text live = paths.LiveArchive();
    const Text captured = paths.CapturedArchive();
    outcome = PutBack::Done;
    if (Failed failed = CopyBeside(paths, run, paths.GameArchiveBackup(), live, Durable::Yes))
        return failed;
    if (Failed failed = CaptureLive(paths)) {
        DiscardBackupCopy(paths, GameLayout::Temporary(live));
        return failed;
    }
    if (IsExistingFile(captured)) {
        const Likeness toBackup = Compare(captured, paths.GameArchiveBackup());
        if (toBackup == Likeness::Same ||
            (toBackup == Likeness::Different && !IsModsArchive(paths, captured, markerModFolder))) {
            // The game's own archive after all, or an update that landed
            // after the look: it goes back, and nothing else changes here.
            DiscardBackupCopy(paths, GameLayout::Temporary(live));
            if (toBackup == Likeness::Different) outcome = PutBack::UpdateFound;
            return ReturnCapture(paths, run, markerModFolder);
        }
    }
    const OsResult in =
        WithRetries([&] { return Rename(GameLayout::Temporary(live), live, Replace::No); });
    if (!in) {
        DiscardBackupCopy(paths, GameLayout::Temporary(live));
        if (!IsNameTaken(in.error)) {
            // The failure told is the rename's; a capture that cannot go
            // back now is settled first thing by the next run.
            ReturnCapture(paths, run, markerModFolder);
            return StepFailure{u"replace", live, in.error};
        }
        outcome = PutBack::UpdateFound;
        return DisposeOfCapture(paths, run, markerModFolder);
    }
    // What was captured is a mod's archive, or a copy cut short: nothing to lose.
    if (OsResult removed = RemoveOwn(captured); !removed)
        return StepFailure{u"remove", captured, removed.error};
    return std::nullopt;
}

// The live archive is the game's new one: it is kept and backed up, and the
// backup it replaces is kept aside unless its bytes are elsewhere.
Failed KeepUpdate(const GameLayout& paths, RunRecord& run, const Text& markerModFolder,
                  Text& keptAs) {
    const Text backup = paths.GameArchiveBackup();
    if (Failed failed = CopyBeside(paths, run, paths.LiveArchive(), backup, Durable::Yes))
        return failed;
    // The backup is kept aside unless its bytes are elsewhere: in the new
    // copy too, when the backup holds the update already.
    if (IsExistingFile(backup) && !FoundIn(backup, {GameLayout::Temporary(backup)}, Whole::Only) &&
        !HeldElsewhere(paths, backup, markerModFolder)) {
        Kept kept = KeepAside(paths, backup);
        if (kept.failed) {
            DropCopy(paths, GameLayout::Temporary(backup));
            return kept.failed;
        }
        keptAs = kept.as;
    }
    return ReplaceWithCopy(paths, backup, Retry::No);
}

// The mod's archive taken out of the place of a game that has none. What is
// captured is removed only when it is a mod's archive (or a copy cut short).
Failed TakeModsArchiveOut(const GameLayout& paths, RunRecord& run, const Text& markerModFolder,
                          PutBack& outcome) {
    const Text captured = paths.CapturedArchive();
    outcome = PutBack::Done;
    if (Failed failed = CaptureLive(paths)) return failed;
    if (!IsExistingFile(captured)) return std::nullopt;
    if (!IsModsArchive(paths, captured, markerModFolder)) {
        outcome = PutBack::UpdateFound;
        return ReturnCapture(paths, run, markerModFolder);
    }
    if (OsResult removed = RemoveOwn(captured); !removed)
        return StepFailure{u"remove", paths.LiveArchive(), removed.error};
    return std::nullopt;
}

// What a kill left half made: only ever files under the launcher's own
// temporary names. A copy whose bytes are elsewhere (or that is cut short)
// goes; one that holds a version found nowhere else is kept aside. One that
// can be neither stays, and so does everything else this run would change:
// nothing may be copied over it. Gives the first that stays.
Failed RemoveLeftovers(const GameLayout& paths, RunRecord& run) {
    RemoveOwn(GameLayout::Temporary(paths.SwapMarker()));  // the marker's text: no version
    Failed stays;
    for (const Text& leftover : paths.ArchiveCopiesUnderWay()) {
        if (!IsExistingFile(leftover)) continue;
        std::vector<Text> places{paths.LiveArchive(), paths.GameArchiveBackup(),
                                 paths.CapturedArchive()};
        for (Text& kept : KeptVersions(paths)) places.push_back(std::move(kept));
        for (Text& archive : ModsArchives(paths, Text())) places.push_back(std::move(archive));
        if (FoundIn(leftover, places, Whole::OrCutShort)) {
            RemoveOwn(leftover);
            continue;
        }
        Kept kept = KeepAside(paths, leftover);
        if (kept.failed) {
            if (!stays) stays = kept.failed;
            continue;
        }
        TellPlayer(run, MessageKind::Warning,
                   KeptAsideText(Files().FullPath(leftover), Files().FullPath(kept.as)));
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
            break;
    }
    return IsModsArchive(paths, live, marker.modFolder) ? Live::LaunchersOwn : Live::Other;
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
        return ReplaceWithCopy(paths, backup, Retry::No);
    }
    if (AlreadyBackedUp(live, backup) || Compare(live, backup) == Likeness::Same)
        return Flush(backup);
    if (IsModsArchive(paths, live, Text())) {
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
        ReplaceWithCopy(paths, paths.ModArchiveBackup(), Retry::No);
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
        RemoveMarker(paths);
        return Swap::NotMade;
    }
    const OsResult in = Rename(GameLayout::Temporary(live), live, Replace::No);
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

Text KeptName(std::uint64_t lastWrite, unsigned number) {
    Text name = GameLayout::kKeptPrefix + TimeName(lastWrite);
    if (number > 0) name += u"-" + DecimalText(number + 1);
    return name + GameLayout::kKeptSuffix;
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

Likeness Compare(const Text& live, const Text& known) {
    constexpr std::uint32_t kPart = 1 << 20;
    std::string a, b;
    Likeness likeness = Likeness::Same;
    for (std::uint64_t at = 0;; at += kPart) {
        if (!Files().ReadPart(live, at, kPart, a) || !Files().ReadPart(known, at, kPart, b)) {
            return Likeness::Different;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            // After the first difference only zeros: the end of a copy that
            // set the file's full size before it wrote.
            if (likeness == Likeness::CutShort ? a[i] != '\0'
                                               : i >= b.size() || (a[i] != b[i] && a[i] != '\0')) {
                return Likeness::Different;
            }
            if (likeness == Likeness::Same && a[i] != b[i]) likeness = Likeness::CutShort;
        }
        if (a.size() < b.size()) return Likeness::CutShort;  // the live archive ends first
        if (a.size() < kPart) return likeness;               // both end here
    }
}
