// The changes that settle a swap: the backup put back, the mod's archive
// taken out, an update kept.
#include "launcher/changes.h"

#include "launcher/capture.h"
#include "launcher/copies.h"
#include "launcher/file_steps.h"
#include "launcher/file_system.h"
#include "launcher/gate.h"

// Its copy beside the live archive first, so that the live name is empty
// only for two renames.
PutBackOutcome PutBackupInPlace(const GameLayout& paths, const std::optional<Marker>& marker,
                                GoesBack goesBack, const WayBack& wayBack) {
    const Text live = paths.LiveArchive();
    const Text captured = paths.CapturedArchive();
    const Text backup = paths.GameArchiveBackup();
    PutBackOutcome outcome;
    if (goesBack == GoesBack::Capture) {
        const OsResult moved =
            WithRetries([&] { return MoveToFree(captured, GameLayout::Temporary(live)); });
        if (!moved) {
            outcome.failed = StepFailure{u"put back", live, moved.error};
            return outcome;
        }
    } else if (outcome.Add(CopyBeside(paths, backup, live, Durable::Yes))) {
        return outcome;
    }
    Captured capture = CaptureLiveWithProof(paths, wayBack.liveIsModsCopy);
    if ((outcome.failed = capture.failed)) {
        DiscardBackupCopy(paths, GameLayout::Temporary(live));
        return outcome;
    }
    // What the launcher put there, by the marker: the marker's mod's archive,
    // or a copy of it or of the backup cut short; known without reading
    // while the swap's proof lasts. Without a marker nothing says the
    // launcher put anything there: what is captured (an update that took
    // the empty live name) is kept aside unless its bytes are elsewhere.
    std::optional<Proof> launchers = std::move(capture.proof);
    if (!launchers && marker && IsExistingFile(captured)) {
        const Likeness toBackup = Compare(captured, backup);
        if (toBackup != Likeness::Same) launchers = ProveMarkersCopy(paths, captured, *marker);
        if (!launchers) {
            // The game's own archive after all, or an update that landed
            // after the look: it goes back, and nothing else changes here.
            DiscardBackupCopy(paths, GameLayout::Temporary(live));
            if (toBackup != Likeness::Same) outcome.found = PutBack::UpdateFound;
            (void)outcome.Add(ReturnCapture(paths, marker));  // the caller reads it
            return outcome;
        }
    }
    const OsResult in = WithRetries([&] { return MoveToFree(GameLayout::Temporary(live), live); });
    if (!in) {
        DiscardBackupCopy(paths, GameLayout::Temporary(live));
        if (!IsNameTaken(in.error)) {
            // The failure told is the rename's; a capture that cannot go
            // back now is settled first thing by the next run.
            (void)outcome.Add(ReturnCapture(paths, marker));
            outcome.failed = StepFailure{u"replace", live, in.error};
            return outcome;
        }
        outcome.found = PutBack::UpdateFound;
        (void)outcome.Add(DisposeOfCapture(paths, marker));  // the caller reads it
        return outcome;
    }
    // A copy that holds the backup's very bytes (a mod that ships the game's
    // own archive) is the game's archive too: it takes the backup's place
    // rather than going, so that nothing is lost should a scanner take the
    // backup meanwhile. Only a copy with the backup's stamp is read.
    if (launchers && IsWholeCopyOf(captured, backup)) {
        (void)outcome.Add(DisposeOfCapture(paths, marker));  // the caller reads it
        return outcome;
    }
    outcome.Add(Retire(paths, captured, Unheld::KeepAside, launchers), live);
    return outcome;
}

PutBackOutcome TakeModsArchiveOut(const GameLayout& paths, const Marker& marker) {
    const Text captured = paths.CapturedArchive();
    PutBackOutcome outcome;
    if ((outcome.failed = CaptureLive(paths)) || !IsExistingFile(captured)) return outcome;
    const std::optional<Proof> mods = ProveMarkersCopy(paths, captured, marker);
    if (!mods) {
        outcome.found = PutBack::UpdateFound;
        (void)outcome.Add(ReturnCapture(paths, marker));  // the caller reads it
        return outcome;
    }
    outcome.Add(Retire(paths, captured, Unheld::KeepAside, mods), paths.LiveArchive());
    // Told as the live archive's: that is where the player saw it.
    if (outcome.failed) outcome.failed->path = paths.LiveArchive();
    return outcome;
}

StepOutcome KeepUpdate(const GameLayout& paths) {
    const Text backup = paths.GameArchiveBackup();
    StepOutcome outcome;
    if (outcome.Add(CopyBeside(paths, paths.LiveArchive(), backup, Durable::Yes))) return outcome;
    (void)outcome.Add(ReplaceWithCopy(paths, backup, true));  // the caller reads it
    return outcome;
}
