// The capture: taking the live archive aside, giving it back, settling it.
#include "launcher/capture.h"

#include "launcher/file_steps.h"
#include "launcher/file_system.h"
#include "launcher/gate.h"

namespace {

// The capture goes when its bytes are elsewhere. One that holds the
// backup's very bytes is renamed over the backup rather than removed:
// should a virus scanner take the backup meanwhile, the capture takes its
// place, and the bytes stay either way. The capture is flushed first, so
// the backup stays on the disk. `unheld` says what becomes of a capture
// whose bytes are nowhere else. With a marker, a capture of the launcher's
// copy of the marker's mod's archive (a way back that did not end) goes on
// that mod's archive too.
Retired RetireCapture(const GameLayout& paths, const std::optional<Marker>& marker, Unheld unheld) {
    const Text captured = paths.CapturedArchive();
    const Text backup = paths.GameArchiveBackup();
    if (std::optional<Proof> same = ProveSameAs(paths, backup, captured)) {
        if (Failed failed = Flush(captured)) return {Retired::How::Stays, {}, failed};
        Retired replaced = ReplaceOver(paths, captured, backup, Unheld::Stay, same);
        if (replaced.how == Retired::How::Gone || replaced.failed) return replaced;
    }
    std::optional<Proof> launchers;
    if (marker) launchers = ProveCapturedMarkersCopy(paths, *marker);
    return Retire(paths, captured, unheld, launchers);
}

}  // namespace

Failed CaptureLive(const GameLayout& paths) {
    return CaptureLiveWithProof(paths, std::nullopt).failed;
}

Captured CaptureLiveWithProof(const GameLayout& paths, const std::optional<Proof>& proofOfLive) {
    const Text live = paths.LiveArchive();
    if (!IsExistingFile(live)) return {};
    MovedWithProof moved =
        MoveWithProof(live, paths.CapturedArchive(), proofOfLive, WrittenThere::ByTheLauncherOnly);
    if (moved.moved) return {std::nullopt, std::move(moved.proof)};
    return {StepFailure{u"replace", live, moved.moved.error}, std::nullopt};
}

StepOutcome CaptureToBackup(const GameLayout& paths) {
    const Text backup = paths.GameArchiveBackup();
    const Retired replaced = ReplaceOver(paths, paths.CapturedArchive(), backup, Unheld::KeepAside);
    StepOutcome outcome;
    // Kept aside even when the rename then failed: told either way.
    outcome.backupKeptAs = replaced.keptAs;
    outcome.failed = replaced.failed;
    if (outcome.failed) return outcome;
    outcome.failed = Flush(backup);
    return outcome;
}

StepOutcome DisposeOfCapture(const GameLayout& paths, const std::optional<Marker>& marker) {
    StepOutcome outcome;
    if (!IsExistingFile(paths.CapturedArchive())) return outcome;
    outcome.Add(RetireCapture(paths, marker, Unheld::KeepAside), paths.LiveArchive());
    return outcome;
}

StepOutcome ReturnCapture(const GameLayout& paths, const std::optional<Marker>& marker) {
    const Text captured = paths.CapturedArchive();
    StepOutcome outcome;
    if (!IsExistingFile(captured)) return outcome;
    const OsResult moved = WithRetries([&] { return MoveToFree(captured, paths.LiveArchive()); });
    if (moved) return outcome;
    if (IsNameTaken(moved.error) && IsExistingFile(paths.LiveArchive()))
        return DisposeOfCapture(paths, marker);
    outcome.failed = StepFailure{u"put back", paths.LiveArchive(), moved.error};
    return outcome;
}

CaptureSettled SettleCapture(const GameLayout& paths, const std::optional<Marker>& marker) {
    const Text captured = paths.CapturedArchive();
    CaptureSettled settled;
    if (!IsExistingFile(captured)) return settled;
    if (!IsExistingFile(paths.LiveArchive())) {
        (void)settled.Add(ReturnCapture(paths, marker));  // the caller reads it
        return settled;
    }
    const Retired retired = RetireCapture(paths, marker, Unheld::Stay);
    settled.failed = retired.failed;
    if (retired.failed || retired.how == Retired::How::Gone) return settled;
    // The capture holds a version found nowhere else. The launcher's copy of
    // the marker's mod's archive live now was put there after it by a swap:
    // the capture is the game's newest archive (an update that landed just
    // before the swap). Anything else live came after the capture: the
    // capture is the older one.
    if (!marker || !ProveMarkersCopy(paths, paths.LiveArchive(), *marker)) {
        (void)settled.Add(DisposeOfCapture(paths, marker));  // the caller reads it
        return settled;
    }
    const bool backupGone = !IsExistingFile(paths.GameArchiveBackup());
    const bool done = !settled.Add(CaptureToBackup(paths));
    settled.becameBackup = done && !backupGone;
    settled.backupMadeAgain = done && backupGone;
    return settled;
}

bool CaptureHoldsBackup(const GameLayout& paths, const WayBack& wayBack) {
    return ProveCaptureHoldsBackup(paths, wayBack.captureHoldsBackup).has_value();
}

void DiscardBackupCopy(const GameLayout& paths, const Text& copy) {
    if (!IsExistingFile(copy)) return;
    // Not checked: a copy left for the next run is settled there.
    (void)ReplaceOver(paths, copy, paths.GameArchiveBackup(), Unheld::Stay);
}
