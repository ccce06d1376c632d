// One launcher at a time per game: the lock on the game's backup folder.
#include "launcher/lock.h"

#include "launcher/file_steps.h"
#include "launcher/file_system.h"

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
