// The small file steps the archive code shares: attributes, retries,
// renames to a free name, flushes.
#include "launcher/file_steps.h"

#include "launcher/file_system.h"

void ClearBlockingAttributes(const Text& path) {
    const std::uint32_t blocking = kAttributeReadOnly | kAttributeHidden;
    std::uint32_t attributes = Files().FileAttributes(path).attributes;
    if (attributes == kInvalidFileAttributes || (attributes & kAttributeDirectory) ||
        !(attributes & blocking)) {
        return;
    }
    // Not checked: a change that the attribute still blocks fails on its
    // own, with the error the player's advice is made from.
    (void)Files().SetAttributes(path, attributes & ~blocking);
}

bool IsMomentaryHold(std::uint32_t error) {
    return error == kErrorSharingViolation || error == kErrorLockViolation ||
           error == kErrorAccessDenied;
}

bool IsNameTaken(std::uint32_t error) {
    return error == kErrorAlreadyExists || error == kErrorFileExists;
}

std::optional<FileIdentity> IdentityBeforeRename(const Text& from) {
    FileIdentity identity;
    if (!Files().ReadFileIdentity(from, identity)) return std::nullopt;
    return identity;
}

bool RenameTookEffect(const std::optional<FileIdentity>& source, std::uint32_t error,
                      const Text& from, const Text& to) {
    if (IsExistingFile(from)) return false;
    if (!source) return !IsNameTaken(error) && IsExistingFile(to);
    FileIdentity there;
    return Files().ReadFileIdentity(to, there) && there == *source;
}

OsResult MoveToFree(const Text& from, const Text& to) {
    const std::optional<FileIdentity> source = IdentityBeforeRename(from);
    const OsResult moved = Files().MoveToFreeName(from, to);
    if (moved.ok || RenameTookEffect(source, moved.error, from, to)) return {};
    return moved;
}

std::optional<StepFailure> Flush(const Text& path) {
    const OsResult flushed = Files().FlushToDisk(path);
    if (flushed) return std::nullopt;
    return StepFailure{u"flush to disk", path, flushed.error};
}
