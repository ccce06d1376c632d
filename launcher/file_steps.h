#pragma once
// The small file steps that the archive code shares: clearing an attribute
// that blocks a change, trying a change again while another program holds
// its file, a rename to a name that must be free, and a flush. None of them
// destroys a file: what replaces or removes one is the gate's (gate.h).
#include <cstdint>
#include <optional>

#include "launcher/notice.h"
#include "launcher/platform.h"
#include "launcher/text.h"

// The pauses between the tries of a change that finds its file held.
inline constexpr unsigned kRetryPausesMs[] = {60, 120, 250, 500, 1000};

// A rename refuses to replace a read-only target, and files installed from
// a disc are often read-only (hidden ones too, for some tools): the changes
// must still go through.
void ClearBlockingAttributes(const Text& path);

// A refusal that passes by itself: another program holds the file for a
// moment (the game's process just after its end, a virus scanner on a new
// file). "Access denied" is among them: Windows says it of a file whose
// delete is still pending.
bool IsMomentaryHold(std::uint32_t error);
bool IsNameTaken(std::uint32_t error);

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

// Renames the file to a name that must be free. A rename that reported
// failure but took effect (its reply lost on a network share, say) counts
// as done: the source gone and the target there can only be this rename's
// doing, since the targets are names no other program writes, or the live
// name the launcher has just emptied. "Name taken" is given back as it is,
// unless the name is taken by the very file that was renamed: a reply lost
// and answered on a retry.
[[nodiscard]] OsResult MoveToFree(const Text& from, const Text& to);

// Flushing any file puts every rename made before it on the disk, even
// where a rename is not written through (Wine): what comes next may rely on it.
[[nodiscard]] std::optional<StepFailure> Flush(const Text& path);
