#pragma once
// The copies beside their targets: every change of an archive's bytes is
// written beside its target under a name of the launcher's own and renamed
// into place in one step, so a kill leaves the old file or the new one,
// never half of one. The marker is written the same way. What a kill left
// half made is settled here too.
#include "launcher/archive_work.h"
#include "launcher/layout.h"
#include "launcher/marker.h"

enum class Durable { No, Yes };

// Copies `from` beside `to` (GameLayout::Temporary), flushed when Durable.
// A copy left there is never copied over; one that is the source's whole
// copy already serves. When another program wrote the source while it was
// read and the copy is not what the source holds now, the copy goes when its
// bytes are elsewhere and is kept aside otherwise (it may be the earlier
// version whole), and the step fails with
// Why::SourceChanged.
// A copy just made comes with the look at its source before the copy, from
// which the gate may prove the copy (ProveCopy).
struct [[nodiscard]] Copied : StepOutcome {
    std::optional<FileLook> sourceBefore;
};
Copied CopyBeside(const GameLayout& paths, const Text& from, const Text& to, Durable durable);

// The copy beside `to` renamed over it, as the gate allows: what stood at
// `to` is kept aside first (Unheld::KeepAside) unless its bytes are
// elsewhere, and `backupKeptAs` says where. A copy that cannot go in is
// dropped when its bytes are elsewhere.
StepOutcome ReplaceWithCopy(const GameLayout& paths, const Text& to, bool keepWhatStands);

// A copy that a step no longer needs, removed when its bytes are elsewhere
// (by `proof`, when the step has one for it); else left for the next run to
// settle.
void DropCopy(const GameLayout& paths, const Text& copy,
              const std::optional<Proof>& proof = std::nullopt);

// Whether `copy` holds the very bytes of `source`: a copy keeps its source's
// size and time, so only one of the same stamp is read.
bool IsWholeCopyOf(const Text& copy, const Text& source);

// The marker as a run left it; none when there is none or it cannot be read.
std::optional<Marker> ReadMarkerFile(const GameLayout& paths);

// The marker, written whole beside it and renamed over it; and removed.
[[nodiscard]] Failed WriteMarker(const GameLayout& paths, const Marker& marker);
[[nodiscard]] Failed RemoveMarker(const GameLayout& paths);

// What a kill left half made, under the launcher's own temporary names:
// a copy whose bytes are elsewhere goes (beside the live archive, a copy of
// the marker's mod's archive; beside the mod's backup, one of the mod's
// archive), and so does one of the live archive cut short; a whole copy of the live archive beside
// the backup stays for the backup step to use; any other is kept aside. `failed` is the first that
// can be neither: nothing may be copied over it.
StepOutcome RemoveLeftovers(const GameLayout& paths);
