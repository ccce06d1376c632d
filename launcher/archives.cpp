#include "launcher/archives.h"

#include "launcher/failure.h"
#include "launcher/globals.h"
#include "launcher/notice.h"

namespace {

using Failed = std::optional<StepFailure>;

Text At(const char16_t* relative) { return BaseFolder + relative; }
Text Temporary(const Text& target) { return target + kTemporarySuffix; }

// A rename refuses to replace a read-only target, and files installed from
// a disc are often read-only (hidden ones too, for some tools): the changes
// must still go through.
void ClearBlockingAttributes(const Text& path) {
    const std::uint32_t blocking = kAttributeReadOnly | kAttributeHidden;
    std::uint32_t attributes = Os().FileAttributes(path).attributes;
    if (attributes == kInvalidFileAttributes || (attributes & kAttributeDirectory) ||
        !(attributes & blocking)) {
        return;
    }
    Os().SetAttributes(path, attributes & ~blocking);
}

bool IsPassingLock(std::uint32_t error) {
    return error == kErrorSharingViolation || error == kErrorLockViolation ||
           error == kErrorAccessDenied;
}

// The game's process may hold its archive for a moment after its end, and
// virus scanners open new files: a change refused for that is tried again
// for about two seconds.
template <typename Change>
OsResult WithRetries(Change change) {
    OsResult done = change();
    for (unsigned pause : kRestorePausesMs) {
        if (done || !IsPassingLock(done.error)) break;
        Os().Pause(pause);
        done = change();
    }
    return done;
}

OsResult PutInPlace(const Text& temporary, const Text& target) {
    ClearBlockingAttributes(target);
    return Os().MoveOver(temporary, target);
}

void RemoveIfThere(const Text& path) {
    if (!IsExistingFile(path)) return;
    ClearBlockingAttributes(path);
    Os().RemoveFile(path);
}

enum class Durable { No, Yes };
enum class Retry { No, Yes };

// Copies the file beside the target, then renames it over the target: the
// target is the old file or the new one at every moment. Flushed first where
// recovery relies on the new bytes being on the disk once the name is.
// The first half: the copy beside the target, gone again when it failed.
Failed CopyBeside(const Text& from, const Text& to, Durable durable) {
    const Text temporary = Temporary(to);
    OsResult done = Os().CopyWholeFile(from, temporary);
    Failed failed;
    if (!done) failed = StepFailure{u"copy over", to, done.error};
    if (!failed && durable == Durable::Yes) {
        done = Os().FlushToDisk(temporary);
        if (!done) failed = StepFailure{u"flush to disk", to, done.error};
    }
    if (failed) RemoveIfThere(temporary);
    return failed;
}

// The second half: the copy beside the target renamed over it.
Failed ReplaceWithCopy(const Text& to, Retry retry) {
    const Text temporary = Temporary(to);
    auto rename = [&] { return PutInPlace(temporary, to); };
    const OsResult done = retry == Retry::Yes ? WithRetries(rename) : rename();
    if (done) return std::nullopt;
    RemoveIfThere(temporary);
    return StepFailure{u"replace", to, done.error};
}

Failed CopyInPlace(const Text& from, const Text& to, Durable durable, Retry retry) {
    if (Failed failed = CopyBeside(from, to, durable)) return failed;
    return ReplaceWithCopy(to, retry);
}

// Written whole beside it and renamed over it, so a kill never leaves half
// a marker; the write flushes it first.
Failed WriteMarker(const Marker& marker) {
    const Text path = At(kSwapMarker);
    const Text temporary = Temporary(path);
    OsResult done = Os().WriteNewFile(temporary, MarkerText(marker));
    if (done) done = PutInPlace(temporary, path);
    if (done) return std::nullopt;
    RemoveIfThere(temporary);
    return StepFailure{u"write", path, done.error};
}

Failed RemoveMarker() {
    const Text path = At(kSwapMarker);
    ClearBlockingAttributes(path);
    OsResult removed = Os().RemoveFile(path);
    if (removed || removed.error == kErrorFileNotFound) return std::nullopt;
    return StepFailure{u"remove", path, removed.error};
}

// What a kill left half made: only ever the temporary files beside their targets.
void RemoveLeftovers() {
    for (const char16_t* target :
         {kGameArchive, kGameArchiveBackup, kSwapMarker, kModArchiveBackup})
        RemoveIfThere(Temporary(At(target)));
}

enum class Lock { Taken, HeldByAnother, NotTaken };

struct LockOutcome {
    Lock lock;
    Failed failed;
};

// A lock on the first byte of a file that stays in the game's backup folder:
// the file's identity locks, whichever spelling of the folder a launcher
// uses and from whichever Wine prefix, and the system lets go of it however
// the launcher ends.
LockOutcome TakeLock() {
    const Text folder = At(kGameBackupFolder);
    OsResult made = ForceFolder(folder);
    // Another launcher may have made the folder at the same moment.
    if (!made && !IsExistingFolder(folder)) {
        return {Lock::NotTaken, StepFailure{kMakeFolderAction, folder, made.error}};
    }
    const Text path = At(kArchiveLock);
    OsResult lock = Os().HoldLockFile(path);
    // A lock file whose delete is still pending (a launcher of an earlier
    // release deleted it, and a scanner still has it open) refuses to open
    // for a moment.
    for (unsigned pause : kRestorePausesMs) {
        if (lock || lock.error != kErrorAccessDenied) break;
        Os().Pause(pause);
        lock = Os().HoldLockFile(path);
    }
    if (lock) return {Lock::Taken, std::nullopt};
    if (lock.error == kErrorLockViolation || lock.error == kErrorSharingViolation) {
        return {Lock::HeldByAnother, std::nullopt};
    }
    return {Lock::NotTaken, StepFailure{u"lock", path, lock.error}};
}

// ---- What the marker and the live archive say, and what a run does with it ----

// What the live archive is, as far as the marker can tell.
enum class Live {
    Absent,
    GamesOwn,  // the game's own archive: what was live before the swap, or its backup
    Ours,      // what the launcher put there, whole or cut short
    Other,     // a whole file that something else wrote: the game's new archive
};

enum class Had { No, Yes, Either };
enum class Backup { Missing, There, Either };

enum class Step {
    DropMarker,          // nothing to put back
    PutBackupBack,       // the game's backup over the live archive
    TakeModsArchiveOut,  // the game has no archive: remove the mod's
    KeepUpdate,          // the live archive is the game's new one: set the old backup aside
    TellBackupMissing,   // the game's archive is unaccounted for: change nothing
};

struct Rule {
    Live live;
    Had gameHadArchive;
    Backup backup;
    Step step;
};

// The rules for a marker found, at the start of a run or after its game.
// Without a marker the live archive is the game's own, or the game has none.
constexpr Rule kRules[] = {
    // the live archive  the game had one  its backup       what the run does
    {Live::Absent, Had::No, Backup::Either, Step::DropMarker},
    {Live::Absent, Had::Yes, Backup::There, Step::PutBackupBack},
    {Live::Absent, Had::Yes, Backup::Missing, Step::TellBackupMissing},
    {Live::GamesOwn, Had::Either, Backup::Either, Step::DropMarker},
    {Live::Ours, Had::No, Backup::Either, Step::TakeModsArchiveOut},
    {Live::Ours, Had::Yes, Backup::There, Step::PutBackupBack},
    {Live::Ours, Had::Yes, Backup::Missing, Step::TellBackupMissing},
    {Live::Other, Had::Either, Backup::Either, Step::KeepUpdate},
};

Step RuleFor(Live live, bool gameHadArchive, bool backupThere) {
    for (const Rule& rule : kRules) {
        if (rule.live != live) continue;
        if (rule.gameHadArchive != Had::Either &&
            (rule.gameHadArchive == Had::Yes) != gameHadArchive)
            continue;
        if (rule.backup != Backup::Either && (rule.backup == Backup::There) != backupThere)
            continue;
        return rule.step;
    }
    return Step::TellBackupMissing;  // every combination has its row; never reached
}

// The record settles the common cases without reading an archive; only
// when it does not are the bytes compared.
Live WhatIsLive(const Marker& marker) {
    const Text live = At(kGameArchive);
    if (!IsExistingFile(live)) return Live::Absent;
    FileStamp stamp;
    if (Os().ReadFileStamp(live, stamp)) {
        if (stamp == marker.swappedIn) return Live::Ours;
        if (stamp == marker.gameStamp) return Live::GamesOwn;
    }
    switch (Compare(live, At(kGameArchiveBackup))) {
        case Likeness::Same:
            return Live::GamesOwn;
        case Likeness::CutShort:
            return Live::Ours;  // a copy of the backup cut short: a restore that did not end
        case Likeness::Different:
            break;
    }
    if (!marker.modFolder.empty()) {
        for (const char16_t* modsCopy : {kModArchive, kModArchiveBackup}) {
            if (Compare(live, marker.modFolder + modsCopy) != Likeness::Different)
                return Live::Ours;
        }
    }
    return Live::Other;
}

// The live archive is the game's new one: it is kept and backed up, and the
// backup it replaces is set aside rather than lost, should that be wrong.
Failed KeepUpdate() {
    const Text backup = At(kGameArchiveBackup);
    if (Failed failed = CopyBeside(At(kGameArchive), backup, Durable::Yes)) return failed;
    if (IsExistingFile(backup)) {
        const Text aside = At(kSetAsideBackup);
        ClearBlockingAttributes(aside);
        if (OsResult setAside = Os().MoveOver(backup, aside); !setAside) {
            RemoveIfThere(Temporary(backup));
            return StepFailure{u"replace", aside, setAside.error};
        }
    }
    return ReplaceWithCopy(backup, Retry::No);
}

enum class When { BeforeTheGame, AfterTheGame };

// Acts on the marker by the rules. True when the marker is gone: the game's
// own archive (or none) is live, and its backup holds it.
bool SettleMarker(When when) {
    const Text markerPath = At(kSwapMarker);
    if (!IsExistingFile(markerPath)) return true;
    const Text live = At(kGameArchive);
    const Text backup = At(kGameArchiveBackup);
    const bool backupThere = IsExistingFile(backup);
    Text record;
    Failed failed;
    Step step = Step::TellBackupMissing;
    if (OsResult read = Os().ReadSmallFile(markerPath, record); !read) {
        failed = StepFailure{u"read", markerPath, read.error};
    } else {
        const Marker marker = ReadMarker(record);
        step = RuleFor(WhatIsLive(marker), marker.gameHadArchive, backupThere);
    }
    if (!failed) {
        switch (step) {
            case Step::DropMarker:
                break;
            case Step::PutBackupBack:
                failed = CopyInPlace(backup, live, Durable::Yes, Retry::Yes);
                break;
            case Step::TakeModsArchiveOut:
                ClearBlockingAttributes(live);
                if (OsResult removed = WithRetries([&] { return Os().RemoveFile(live); }); !removed)
                    failed = StepFailure{u"remove", live, removed.error};
                break;
            case Step::KeepUpdate:
                failed = KeepUpdate();
                break;
            case Step::TellBackupMissing:
                TellPlayer(MessageKind::Warning,
                           BackupMissingText(Os().FullPath(backup), Os().FullPath(live),
                                             IsExistingFile(live)));
                return false;
        }
    }
    if (!failed) failed = RemoveMarker();
    if (!failed) {
        if (step == Step::KeepUpdate) {
            TellPlayer(MessageKind::Warning,
                       UpdateKeptText(Os().FullPath(live),
                                      backupThere ? Os().FullPath(At(kSetAsideBackup)) : Text()));
        }
        return true;
    }
    if (when == When::BeforeTheGame) {
        TellPlayer(MessageKind::Warning, LeftInPlaceText(*failed));
    } else if (step == Step::TakeModsArchiveOut) {
        TellPlayer(MessageKind::Warning, ModsArchiveNotTakenOutText(*failed, Os().FullPath(live)));
    } else {
        TellPlayer(MessageKind::Warning,
                   RestoreNotMadeText(*failed, Os().FullPath(backup), Os().FullPath(live)));
    }
    return false;
}

// ---- The steps of an ordinary run ----

Failed MakeModBackupFolder() {
    const Text folder = At(kModBackupFolder);
    if (OsResult made = ForceFolder(folder); !made) {
        return StepFailure{kMakeFolderAction, folder, made.error};
    }
    return std::nullopt;
}

// Whether the backup holds the file's very bytes already, as it does after
// an ordinary run: a copy keeps its source's time, so the stamps tell which
// backups are worth reading.
bool AlreadyBackedUp(const Text& file, const Text& backup) {
    FileStamp original, copy;
    return Os().ReadFileStamp(file, original) && Os().ReadFileStamp(backup, copy) &&
           original == copy && Compare(file, backup) == Likeness::Same;
}

// Only a backup whose bytes are on the disk may stand for the game's archive.
Failed BackUpGameArchive() {
    const Text live = At(kGameArchive);
    const Text backup = At(kGameArchiveBackup);
    if (!IsExistingFile(live)) return std::nullopt;  // the game has none to lose
    if (AlreadyBackedUp(live, backup) && Os().FlushToDisk(backup)) return std::nullopt;
    return CopyInPlace(live, backup, Durable::Yes, Retry::No);
}

void BackUpModArchive() {
    if (AlreadyBackedUp(At(kModArchive), At(kModArchiveBackup))) return;
    CopyInPlace(At(kModArchive), At(kModArchiveBackup), Durable::No, Retry::No);
}

// The marker says what is under way before the live archive changes: what
// was live, and the stamp the mod's archive will have in its place (a copy
// keeps its source's size and time). The mod's archive itself need not be on
// the disk before the game: a power cut that tears it leaves a copy of it cut
// short, which the next run recognises as the launcher's own.
Failed SwapModArchiveIn() {
    const Text live = At(kGameArchive);
    Marker marker;
    marker.modFolder = BaseFolder;
    FileStamp stamp;
    marker.gameHadArchive = IsExistingFile(live);
    if (marker.gameHadArchive && Os().ReadFileStamp(live, stamp)) marker.gameStamp = stamp;
    if (Os().ReadFileStamp(At(kModArchive), stamp)) marker.swappedIn = stamp;
    if (Failed failed = WriteMarker(marker)) return failed;
    if (Failed failed = CopyInPlace(At(kModArchive), live, Durable::No, Retry::No)) {
        // Nothing changed in the game's place: no marker may say otherwise.
        RemoveMarker();
        return failed;
    }
    return std::nullopt;
}

Text StampText(const FileStamp& stamp) {
    return DecimalText(stamp.size) + u" " + DecimalText(stamp.lastWrite);
}

// Two decimal numbers and nothing else; nothing when the text is not that.
std::optional<FileStamp> ReadStamp(TextView text) {
    FileStamp stamp;
    std::uint64_t* number = &stamp.size;
    std::size_t digits = 0;
    for (char16_t unit : text) {
        if (unit == u' ' && number == &stamp.size && digits > 0) {
            number = &stamp.lastWrite;
            digits = 0;
        } else if (unit >= u'0' && unit <= u'9' && digits < 19) {  // 19 digits fit in 64 bits
            *number = *number * 10 + static_cast<std::uint64_t>(unit - u'0');
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (number != &stamp.lastWrite || digits == 0) return std::nullopt;
    return stamp;
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
    const LockOutcome lock = TakeLock();
    if (lock.lock == Lock::HeldByAnother) return Prepared::AnotherLauncherRuns;
    if (lock.lock == Lock::NotTaken) {
        // Unguarded, no archive may be touched.
        if (IsExistingFile(At(kSwapMarker))) {
            TellPlayer(MessageKind::Warning, LeftInPlaceText(*lock.failed));
        } else if (modArchive) {
            TellPlayer(MessageKind::Warning, SwapNotMadeText(*lock.failed));
        }
        return Prepared::GamesArchive;
    }
    RemoveLeftovers();
    // What an earlier run left in the game's place goes back first; while it
    // cannot, nothing else changes.
    if (!SettleMarker(When::BeforeTheGame)) return Prepared::GamesArchive;
    // Without the backup folders no backup is made; the swap then waits for
    // nothing only when the game has no archive to lose.
    Failed failed = MakeModBackupFolder();
    const bool backupFolders = !failed;
    if (backupFolders) {
        failed = BackUpGameArchive();
    } else if (!IsExistingFile(At(kGameArchive))) {
        failed.reset();
    }
    if (!modArchive) return Prepared::GamesArchive;
    if (backupFolders) BackUpModArchive();
    if (!failed) failed = SwapModArchiveIn();
    if (!failed) return Prepared::ModsArchive;
    TellPlayer(MessageKind::Warning, SwapNotMadeText(*failed));
    return Prepared::GamesArchive;
}

bool RestoreGameArchive() { return SettleMarker(When::AfterTheGame); }

Text MarkerText(const Marker& marker) {
    Text text = marker.modFolder + u"\r\n";
    text += marker.gameHadArchive && marker.gameStamp ? u"game " + StampText(*marker.gameStamp)
            : marker.gameHadArchive                   ? Text(u"game unknown")
                                                      : Text(u"game none");
    text += u"\r\n";
    text += u"swapping";
    if (marker.swappedIn) text += u" " + StampText(*marker.swappedIn);
    return text + u"\r\n";
}

Marker ReadMarker(TextView text) {
    Marker marker;
    std::size_t line = 0;
    while (!text.empty()) {
        const std::size_t end = text.find(u'\n');
        TextView content = text.substr(0, end);
        if (!content.empty() && content.back() == u'\r') content.remove_suffix(1);
        text = end == TextView::npos ? TextView() : text.substr(end + 1);
        if (line++ == 0) {
            marker.modFolder = Text(content);
        } else if (content == u"game none") {
            marker.gameHadArchive = false;
        } else if (content.substr(0, 5) == u"game ") {
            marker.gameStamp = ReadStamp(content.substr(5));
        } else if (content.substr(0, 8) == u"swapped ") {  // the release before this one
            marker.swappedIn = ReadStamp(content.substr(8));
        } else if (content.substr(0, 9) == u"swapping ") {
            marker.swappedIn = ReadStamp(content.substr(9));
        }
    }
    return marker;
}

Likeness Compare(const Text& live, const Text& known) {
    constexpr std::uint32_t kPart = 1 << 20;
    std::string a, b;
    Likeness likeness = Likeness::Same;
    for (std::uint64_t at = 0;; at += kPart) {
        if (!Os().ReadPart(live, at, kPart, a) || !Os().ReadPart(known, at, kPart, b)) {
            return Likeness::Different;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            // After the first difference only zeros: the end of a copy that
            // set the file's full size before it wrote.
            if (likeness == Likeness::CutShort ? a[i] != '\0'
                                               : i >= b.size() || (a[i] != b[i] && a[i] != '\0')) {
                return Likeness::Different;
            }
            if (likeness == Likeness::Same && a[i] != b[i]) likeness = Likeness::CutShort;
        }
        if (a.size() < b.size()) return Likeness::CutShort;  // the live archive ends first
        if (a.size() < kPart) return likeness;               // both end here
    }
}
