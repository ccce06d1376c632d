#include "launcher/archives.h"

#include "launcher/failure.h"
#include "launcher/platform.h"
#include "launcher/sequence.h"

namespace {

Text At(const char16_t* relative) { return BaseFolder + relative; }

// CopyFileW refuses to replace a read-only or hidden target, and files
// installed from a disc are often read-only; the copies must still go through.
void ClearBlockingAttributes(const Text& path) {
    const std::uint32_t blocking = kAttributeReadOnly | kAttributeHidden;
    std::uint32_t attributes = Os().FileAttributes(path);
    if (attributes == kInvalidFileAttributes || (attributes & kAttributeDirectory) ||
        !(attributes & blocking)) {
        return;
    }
    Os().SetAttributes(path, attributes & ~blocking);
}

bool CopyOver(const Text& from, const Text& to) {
    ClearBlockingAttributes(to);
    return Os().CopyWholeFile(from, to);
}

// The game's backup is only worth trusting once its copy has reached the disk.
bool BackUpGameArchive() {
    return CopyOver(At(kGameArchive), At(kGameArchiveBackup)) &&
           Os().FlushToDisk(At(kGameArchiveBackup));
}

bool IsPassingLock(std::uint32_t error) {
    return error == kErrorSharingViolation || error == kErrorLockViolation ||
           error == kErrorAccessDenied;
}

}  // namespace

bool ForceFolder(const Text& path) {
    if (path.empty()) throw InOutError(3, u"Unable to create directory", CALLER_ADDRESS());
    Text folder = path;
    if (folder.back() == u'\\') folder.pop_back();
    if (folder.size() < 3) return true;  // a bare drive, say: counts as present
    if (IsExistingFolder(folder)) return true;
    if (folder.back() == u'\\' || folder.back() == u':') return true;  // its own parent
    std::size_t cut = folder.find_last_of(u"\\:");
    Text parent = cut == Text::npos ? Text() : folder.substr(0, cut + 1);
    if (!ForceFolder(parent)) return false;
    return Os().MakeFolder(folder);
}

bool IsExistingFolder(const Text& path) {
    std::uint32_t attributes = Os().FileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & kAttributeDirectory);
}

bool IsExistingFile(const Text& path) {
    std::uint32_t attributes = Os().FileAttributes(path);
    if (attributes != kInvalidFileAttributes) return !(attributes & kAttributeDirectory);
    std::uint32_t error = Os().LastError();
    if (error == kErrorFileNotFound || error == kErrorPathNotFound || error == kErrorInvalidName) {
        return false;
    }
    // Some entries answer a search but not an attribute query.
    if (!Os().FindEntry(path, attributes)) return false;
    return !(attributes & kAttributeDirectory);
}

bool PrepareArchives() {
    // A marker left by an earlier run means the live archive is not the
    // game's own: the backup holds that, and nothing may copy over it.
    bool backupVouched = false;
    if (IsExistingFile(At(kSwapMarker))) {
        backupVouched = IsExistingFile(At(kGameArchiveBackup));
        // A marker without its backup vouches for nothing.
        if (!backupVouched) Os().RemoveFile(At(kSwapMarker));
    }

    bool gameArchiveSafe = backupVouched;
    if (ForceFolder(At(kModBackupFolder)) && ForceFolder(At(kGameBackupFolder))) {
        if (!backupVouched && IsExistingFile(At(kGameArchive))) {
            gameArchiveSafe = BackUpGameArchive();
        }
        if (IsExistingFile(At(kModArchive))) CopyOver(At(kModArchive), At(kModArchiveBackup));
    }

    if (!IsExistingFile(At(kModArchive))) return backupVouched;
    bool gameArchiveExists = IsExistingFile(At(kGameArchive));
    if (!gameArchiveSafe && gameArchiveExists) {
        return false;  // no safe copy of the game's archive: leave it alone
    }
    // Without its marker a swap must not happen while there is anything of
    // the game's to protect: the next run would take the mod's archive for it.
    if (!backupVouched && !Os().WriteNewFile(At(kSwapMarker), BaseFolder + u"\r\n") &&
        (gameArchiveExists || IsExistingFile(At(kGameArchiveBackup)))) {
        return false;
    }
    CopyOver(At(kModArchive), At(kGameArchive));
    return true;
}

void RestoreGameArchive() {
    if (!IsExistingFile(At(kGameArchiveBackup))) {
        Os().RemoveFile(At(kSwapMarker));  // nothing of the game's to put back
        return;
    }
    // The game's process may hold the file for a moment after its end, and
    // virus scanners open new files: try again for about two seconds.
    bool restored = CopyOver(At(kGameArchiveBackup), At(kGameArchive));
    for (unsigned pause : kRestorePausesMs) {
        if (restored || !IsPassingLock(Os().LastError())) break;
        Os().Pause(pause);
        restored = CopyOver(At(kGameArchiveBackup), At(kGameArchive));
    }
    if (restored && Os().FlushToDisk(At(kGameArchive))) Os().RemoveFile(At(kSwapMarker));
}
