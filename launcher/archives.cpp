#include "launcher/archives.h"

#include "launcher/failure.h"
#include "launcher/notice.h"
#include "launcher/sequence.h"

namespace {

Text At(const char16_t* relative) { return BaseFolder + relative; }

// CopyFileW refuses to replace a read-only or hidden target, and files
// installed from a disc are often read-only; the copies must still go through.
void ClearBlockingAttributes(const Text& path) {
    const std::uint32_t blocking = kAttributeReadOnly | kAttributeHidden;
    std::uint32_t attributes = Os().FileAttributes(path).attributes;
    if (attributes == kInvalidFileAttributes || (attributes & kAttributeDirectory) ||
        !(attributes & blocking)) {
        return;
    }
    Os().SetAttributes(path, attributes & ~blocking);
}

OsResult CopyOver(const Text& from, const Text& to) {
    ClearBlockingAttributes(to);
    return Os().CopyWholeFile(from, to);
}

bool IsPassingLock(std::uint32_t error) {
    return error == kErrorSharingViolation || error == kErrorLockViolation ||
           error == kErrorAccessDenied;
}

Text Decimal(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    return Text(digits.begin(), digits.end());
}

enum class Lock { Taken, HeldByAnother, NotTaken };

// The lock is a file in the game's backup folder, open with no sharing:
// the file's identity locks, whichever spelling of the folder a launcher
// uses, and the system lets go of it however the launcher ends.
Lock TakeLock(StepFailure& failed) {
    const Text folder = At(kGameBackupFolder);
    OsResult made = ForceFolder(folder);
    // Another launcher may have made the folder at the same moment.
    if (!made && !IsExistingFolder(folder)) {
        failed = {u"make the folder", folder, made.error};
        return Lock::NotTaken;
    }
    OsResult lock = Os().HoldLockFile(At(kArchiveLock));
    if (lock) return Lock::Taken;
    if (lock.error == kErrorSharingViolation) return Lock::HeldByAnother;
    failed = {u"write in the folder", folder, lock.error};
    return Lock::NotTaken;
}

// An earlier run's marker vouches for the game's backup, unless that backup
// is gone, or the live archive changed after a complete swap: something
// other than the launcher (the game's updater, its repair) wrote the game's
// own new archive there. A marker that vouches for nothing is dropped.
bool MarkerVouchesForTheBackup() {
    const Text marker = At(kSwapMarker);
    if (!IsExistingFile(marker)) return false;
    bool vouches = IsExistingFile(At(kGameArchiveBackup));
    std::string record;
    if (vouches && Os().ReadSmallFile(marker, record)) {
        std::optional<FileStamp> swappedIn = CompletedSwapIn(record);
        FileStamp live;
        if (swappedIn && Os().ReadFileStamp(At(kGameArchive), live) && live != *swappedIn) {
            vouches = false;
        }
    }
    if (!vouches) Os().RemoveFile(marker);
    return vouches;
}

// The game's backup is only worth trusting once its copy has reached the disk.
bool BackUpGameArchive(StepFailure& failed) {
    const Text backup = At(kGameArchiveBackup);
    OsResult done = CopyOver(At(kGameArchive), backup);
    if (!done) {
        failed = {u"copy over", backup, done.error};
        return false;
    }
    done = Os().FlushToDisk(backup);
    if (!done) failed = {u"flush to disk", backup, done.error};
    return static_cast<bool>(done);
}

// The marker goes first, so that whenever the mod's archive may be live the
// marker says where the game's own is. Once the copy is complete and on
// disk, the marker records what was put in place.
bool SwapModArchiveIn(StepFailure& failed) {
    const Text marker = At(kSwapMarker);
    const Text live = At(kGameArchive);
    OsResult marked = Os().WriteNewFile(marker, MarkerText(BaseFolder, std::nullopt));
    // Without its marker a swap must not happen while there is anything of
    // the game's to protect: the next run would take the mod's archive for it.
    if (!marked && (IsExistingFile(live) || IsExistingFile(At(kGameArchiveBackup)))) {
        failed = {u"write", marker, marked.error};
        return false;
    }
    OsResult copied = CopyOver(At(kModArchive), live);
    if (!copied) {
        failed = {u"copy over", live, copied.error};
        return false;
    }
    // Not flushed, the marker stays "swapping" and keeps vouching for the backup.
    FileStamp stamp;
    if (marked && Os().FlushToDisk(live) && Os().ReadFileStamp(live, stamp)) {
        Os().WriteNewFile(marker, MarkerText(BaseFolder, stamp));
    }
    return true;
}

}  // namespace

OsResult ForceFolder(const Text& path) {
    if (path.empty()) throw InOutError(3, u"Unable to create directory", CALLER_ADDRESS());
    Text folder = path;
    if (folder.back() == u'\\') folder.pop_back();
    if (folder.size() < 3) return {};  // a bare drive, say: counts as present
    if (IsExistingFolder(folder)) return {};
    if (folder.back() == u'\\' || folder.back() == u':') return {};  // its own parent
    std::size_t cut = folder.find_last_of(u"\\:");
    Text parent = cut == Text::npos ? Text() : folder.substr(0, cut + 1);
    if (OsResult made = ForceFolder(parent); !made) return made;
    return Os().MakeFolder(folder);
}

bool IsExistingFolder(const Text& path) {
    std::uint32_t attributes = Os().FileAttributes(path).attributes;
    return attributes != kInvalidFileAttributes && (attributes & kAttributeDirectory);
}

bool IsExistingFile(const Text& path) {
    AttributeQuery query = Os().FileAttributes(path);
    if (query.attributes != kInvalidFileAttributes)
        return !(query.attributes & kAttributeDirectory);
    if (query.error == kErrorFileNotFound || query.error == kErrorPathNotFound ||
        query.error == kErrorInvalidName) {
        return false;
    }
    // Some entries answer a search but not an attribute query.
    std::uint32_t attributes = 0;
    if (!Os().FindEntry(path, attributes)) return false;
    return !(attributes & kAttributeDirectory);
}

Prepared PrepareArchives() {
    // In the game's own content folder the "mod's archive" is the game's own.
    const bool modArchive =
        !Os().IsSameFolder(BaseFolder, At(kGameContentFolder)) && IsExistingFile(At(kModArchive));
    StepFailure failed;
    switch (TakeLock(failed)) {
        case Lock::HeldByAnother:
            return Prepared::AnotherLauncherRuns;
        case Lock::NotTaken:
            // Unguarded, no archive may be touched: as when a backup fails.
            if (modArchive) TellPlayer(MessageKind::Warning, SwapNotMadeText(failed));
            return Prepared::GamesArchive;
        case Lock::Taken:
            break;
    }

    const bool backupIsTheGames = MarkerVouchesForTheBackup();
    const bool gameArchive = IsExistingFile(At(kGameArchive));
    // The game's own archive may be replaced only while a copy of it is safe
    // on disk, or when there is none to lose.
    bool gameArchiveSafe = backupIsTheGames || !gameArchive;
    if (OsResult folder = ForceFolder(At(kModBackupFolder)); !folder) {
        failed = {u"make the folder", At(kModBackupFolder), folder.error};
    } else {
        if (!backupIsTheGames && gameArchive) gameArchiveSafe = BackUpGameArchive(failed);
        if (modArchive) CopyOver(At(kModArchive), At(kModArchiveBackup));
    }
    if (modArchive && gameArchiveSafe && SwapModArchiveIn(failed)) return Prepared::ModsArchive;

    if (modArchive) TellPlayer(MessageKind::Warning, SwapNotMadeText(failed));
    // No swap, yet the marker says the game's own archive is in the backup
    // (an earlier run's, or this run's swap that failed half-way): it goes
    // back before the game starts.
    if (IsExistingFile(At(kSwapMarker))) RestoreGameArchive();
    return Prepared::GamesArchive;
}

bool RestoreGameArchive() {
    const Text backup = At(kGameArchiveBackup);
    const Text live = At(kGameArchive);
    if (!IsExistingFile(backup)) {
        Os().RemoveFile(At(kSwapMarker));  // nothing of the game's to put back
        return true;
    }
    // The game's process may hold the file for a moment after its end, and
    // virus scanners open new files: try again for about two seconds.
    OsResult restored = CopyOver(backup, live);
    for (unsigned pause : kRestorePausesMs) {
        if (restored || !IsPassingLock(restored.error)) break;
        Os().Pause(pause);
        restored = CopyOver(backup, live);
    }
    StepFailure failed{u"copy over", live, restored.error};
    if (restored) {
        restored = Os().FlushToDisk(live);
        failed = {u"flush to disk", live, restored.error};
    }
    if (restored) {
        Os().RemoveFile(At(kSwapMarker));
        return true;
    }
    TellPlayer(MessageKind::Warning,
               RestoreNotMadeText(failed, Os().FullPath(backup), Os().FullPath(live)));
    return false;
}

Text MarkerText(const Text& modFolder, const std::optional<FileStamp>& swappedIn) {
    Text text = modFolder + u"\r\n";
    if (!swappedIn) return text + u"swapping\r\n";
    return text + u"swapped " + Decimal(swappedIn->size) + u" " + Decimal(swappedIn->lastWrite) +
           u"\r\n";
}

std::optional<FileStamp> CompletedSwapIn(const std::string& marker) {
    const std::string key = "\nswapped ";
    std::size_t at = marker.find(key);
    if (at == std::string::npos) return std::nullopt;
    at += key.size();
    // Two decimal numbers, a space between them, then the line's end.
    auto number = [&](std::uint64_t& value) {
        const std::size_t start = at;
        value = 0;
        for (; at < marker.size() && marker[at] >= '0' && marker[at] <= '9'; ++at) {
            if (at - start == 19) return false;  // more than 64 bits could hold
            value = value * 10 + static_cast<std::uint64_t>(marker[at] - '0');
        }
        return at > start;
    };
    FileStamp stamp;
    if (!number(stamp.size) || at == marker.size() || marker[at++] != ' ' ||
        !number(stamp.lastWrite) || at == marker.size() ||
        (marker[at] != '\r' && marker[at] != '\n')) {
        return std::nullopt;
    }
    return stamp;
}
