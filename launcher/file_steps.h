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

// A rename's reply may be lost on a network share and answered with any
// error, "name taken" included when the system tried it again and found the
// name taken by the renamed file itself. The source's identity, read before
// the rename, tells: the rename took effect when the source is gone and the
// target is that very file. With the identity unknown, a target there after
// any error but "name taken" is taken for it, as no other program writes
// the targets.
std::optional<FileIdentity> IdentityBeforeRename(const Text& from);
bool RenameTookEffect(const std::optional<FileIdentity>& source, std::uint32_t error,
                      const Text& from, const Text& to);

// Renames the file to a name that must be free: "name taken" from another
// program's file is given back as it is. A rename that took effect although
// its reply said otherwise counts as done.
[[nodiscard]] OsResult MoveToFree(const Text& from, const Text& to);

// Flushing any file puts every rename made before it on the disk, even
// where a rename is not written through (Wine): what comes next may rely on it.
[[nodiscard]] std::optional<StepFailure> Flush(const Text& path);
