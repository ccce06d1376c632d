#pragma once
// The capture: before anything takes the live archive's place, whatever is
// live is renamed to a name of the launcher's own, which no other program
// writes, so that what another program puts in the live name is never
// replaced, and what was taken is looked at in peace. Here: taking it,
// giving it back, and settling one that a run left.
#include "launcher/archive_work.h"
#include "launcher/layout.h"

// Renames whatever is live to the capture name; nothing to capture is fine.
[[nodiscard]] Failed CaptureLive(const GameLayout& paths);
// The same, with a proof for what is live moved to the capture with it
// (MoveWithProof): nothing when it no longer holds.
struct [[nodiscard]] Captured {
    Failed failed;
    std::optional<Proof> proof;
};
Captured CaptureLiveWithProof(const GameLayout& paths, const std::optional<Proof>& proofOfLive);

// The capture becomes the game's backup: it holds the game's newest
// archive. The backup it replaces is kept aside unless its bytes are
// elsewhere (`backupKeptAs`).
StepOutcome CaptureToBackup(const GameLayout& paths);

// A capture whose place in the live name is taken by something newer: gone
// when its bytes are elsewhere (with a marker, a copy of the marker's mod's
// archive goes on that mod's archive), else kept aside.
StepOutcome DisposeOfCapture(const GameLayout& paths, const std::optional<Marker>& marker);

// Puts the capture back in the live name, which must be free; when
// something took the name meanwhile, the capture is disposed of instead.
StepOutcome ReturnCapture(const GameLayout& paths, const std::optional<Marker>& marker);

// What settling a capture that a run left came to.
struct [[nodiscard]] CaptureSettled : StepOutcome {
    // It held the game's newest archive and is its backup now.
    bool becameBackup = false;
    // The backup was gone (a scanner took it, say): the capture, the
    // game's archive from before the swap, is the backup again.
    bool backupMadeAgain = false;
};

// A capture that a run left: what was live when it was taken. Settled
// before anything else, at the start of a run and before the restore, by
// the marker when there is one.
CaptureSettled SettleCapture(const GameLayout& paths, const std::optional<Marker>& marker);

// Whether the capture holds the game's backup's very bytes: by what the
// swap proved, while it lasts, else by reading both.
bool CaptureHoldsBackup(const GameLayout& paths, const WayBack& wayBack);

// A copy of the backup that is not needed after all, renamed over the
// backup rather than removed: should a virus scanner have taken the backup
// just before, the copy takes its place.
void DiscardBackupCopy(const GameLayout& paths, const Text& copy);
