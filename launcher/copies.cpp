// Copies beside their targets renamed into place, the marker's writes, and
// what a kill left half made.
#include "launcher/copies.h"

#include "launcher/file_system.h"
#include "launcher/gate.h"
#include "launcher/volume_probe.h"

void DropCopy(const GameLayout& paths, const Text& copy, const std::optional<Proof>& proof) {
    // Not checked: a copy that stays is settled by the next run.
    (void)Retire(paths, copy, Unheld::Stay, proof);
}

bool IsWholeCopyOf(const Text& copy, const Text& source) {
    FileStamp a, b;
    return Files().ReadFileStamp(copy, a) && Files().ReadFileStamp(source, b) && a == b &&
           Compare(copy, source) == Likeness::Same;
}

// A copy whose source another program wrote while it was read is good only
// if it holds what the source holds now. Otherwise it is the earlier version
// whole (the other program wrote behind the copy's reads, or renamed a new
// file over the source), or a mix of two: nothing tells them apart, so it is
// kept aside unless its bytes are elsewhere.
Copied CopyBeside(const GameLayout& paths, const Text& from, const Text& to, Durable durable) {
    const Text temporary = GameLayout::Temporary(to);
    Copied outcome;
    if (IsExistingFile(temporary)) {
        if (!IsWholeCopyOf(temporary, from)) {
            outcome.failed = StepFailure{u"copy over", to, kErrorAlreadyExists};
            return outcome;
        }
    } else {
        FileLook before;
        FileStamp after;
        const bool looked = LookAt(from, before);
        if (OsResult done = CopyToFreeName(from, temporary); !done) {
            // What a failed copy wrote is at most the source's first part.
            DropCopy(paths, temporary, ProveCutShortOf(temporary, from));
            outcome.failed = StepFailure{u"copy over", to, done.error};
            return outcome;
        }
        const bool changed =
            looked && !(Files().ReadFileStamp(from, after) && after == before.stamp);
        if (changed && Compare(temporary, from) != Likeness::Same) {
            const Retired retired = Retire(paths, temporary, Unheld::KeepAside);
            if (retired.how == Retired::How::KeptAside)
                outcome.kept.push_back({from, retired.keptAs, true});
            outcome.failed =
                StepFailure{u"copy", from, kErrorSharingViolation, StepFailure::Why::SourceChanged};
            return outcome;
        }
        if (looked) outcome.sourceBefore = before;
    }
    if (durable == Durable::Yes) {
        if (OsResult flushed = Files().FlushToDisk(temporary); !flushed) {
            DropCopy(paths, temporary);
            outcome.failed = StepFailure{u"flush to disk", to, flushed.error};
        }
    }
    return outcome;
}

StepOutcome ReplaceWithCopy(const GameLayout& paths, const Text& to, bool keepWhatStands) {
    const Text temporary = GameLayout::Temporary(to);
    const Retired replaced =
        ReplaceOver(paths, temporary, to, keepWhatStands ? Unheld::KeepAside : Unheld::Stay);
    StepOutcome outcome;
    outcome.backupKeptAs = replaced.keptAs;
    if (replaced.how != Retired::How::Stays && !replaced.failed) return outcome;
    DropCopy(paths, temporary);
    // Without a failure, something unproven stands there.
    outcome.failed =
        replaced.failed ? replaced.failed : StepFailure{u"replace", to, kErrorAlreadyExists};
    return outcome;
}

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

std::optional<Marker> ReadMarkerFile(const GameLayout& paths) {
    Text record;
    if (!IsExistingFile(paths.SwapMarker()) || !Files().ReadSmallFile(paths.SwapMarker(), record))
        return std::nullopt;
    return ReadMarker(record);
}

StepOutcome RemoveLeftovers(const GameLayout& paths) {
    RemoveProbesLeft(paths);  // empty files of the launcher's own
    // The marker's text: no version of anything. One that stays is refused
    // again by the next write.
    (void)RemoveMarkerText(paths, GameLayout::Temporary(paths.SwapMarker()));
    const Text live = paths.LiveArchive();
    // A copy beside the live archive is the launcher's copy of a mod's
    // archive only where a marker says a swap was under way.
    const std::optional<Marker> marker = ReadMarkerFile(paths);
    StepOutcome outcome;
    for (const Text& leftover : paths.ArchiveCopiesUnderWay()) {
        if (!IsExistingFile(leftover)) continue;
        std::optional<Proof> proof = ProveHeld(paths, leftover, Whole::OrCutShort);
        if (!proof && leftover == GameLayout::Temporary(live) && marker)
            proof = ProveMarkersCopy(paths, leftover, *marker);
        if (!proof) proof = ProveModsBackupCopy(paths, leftover);
        if (!proof) {
            if (leftover == GameLayout::Temporary(paths.GameArchiveBackup()) &&
                IsWholeCopyOf(leftover, live)) {
                continue;
            }
            proof = ProveCutShortOf(leftover, live);
        }
        const Retired retired = Retire(paths, leftover, Unheld::KeepAside, proof);
        if (retired.failed) {
            if (!outcome.failed) outcome.failed = retired.failed;
            continue;
        }
        if (retired.how == Retired::How::KeptAside)
            outcome.kept.push_back({leftover, retired.keptAs});
    }
    return outcome;
}
