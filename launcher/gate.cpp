// The one rule's gate: what counts as elsewhere, the proofs, and every
// call that replaces or removes a file.
#include "launcher/gate.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "launcher/file_steps.h"
#include "launcher/file_system.h"
#include "launcher/kept.h"
#include "launcher/volume_probe.h"

// The one maker of proofs: Proof befriends it, and only this file defines it.
struct ProofMaker {
    static Proof Make(Text path, FileLook pathLook, Text holder, FileLook holderLook) {
        return Proof(std::move(path), pathLook, std::move(holder), holderLook);
    }
};

namespace {

bool SameNameIgnoringCase(TextView a, TextView b) {
    if (a.size() != b.size()) return false;
    auto lower = [](char16_t unit) {
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The proof still holds: both files are as they were when compared. The
// path is looked at last, so that the destroying call follows its look at once.
bool StillHolds(const Proof& proof) {
    FileLook holder, path;
    return LookAt(proof.holder(), holder) && holder == proof.holderLook() &&
           LookAt(proof.path(), path) && path == proof.pathLook();
}

// A look at what is about to be replaced or removed, made just before the
// call: true when a file stands there.
bool LookBeforeChange(const Text& path) {
    FileIdentity identity;
    return Files().ReadFileIdentity(path, identity).ok;
}

bool IsMarkerFile(const GameLayout& paths, const Text& path) {
    return path == paths.SwapMarker() || path == GameLayout::Temporary(paths.SwapMarker());
}

// The marker and the log hold the launcher's own text, no version of
// anything: written beside their place and renamed over it with no proof.
// `own` says the names are theirs; any other is refused.
OsResult WriteOwnText(bool own, const Text& path, TextView content) {
    if (!own) return {false, kErrorAccessDenied};
    LookBeforeChange(path);  // the launcher's own text: no version of anything
    return Files().WriteNewFile(path, content);
}

// A rename over the target, once the caller has proven what it replaces.
// A rename that reported failure but took effect counts as done.
OsResult MoveOverProven(const Text& from, const Text& to) {
    const std::optional<FileIdentity> source = IdentityBeforeRename(from);
    ClearBlockingAttributes(to);
    LookBeforeChange(to);  // what it replaces was proven a moment ago
    const OsResult moved = Files().MoveOver(from, to);
    if (moved.ok || RenameTookEffect(source, moved.error, from, to)) return {};
    return moved;
}

OsResult ReplaceOwnText(bool own, const Text& from, const Text& to) {
    if (!own) return {false, kErrorAccessDenied};
    return MoveOverProven(from, to);
}

// The sentinel for a file that may no longer go when the change is made.
constexpr std::uint32_t kChangedMeanwhile = ~std::uint32_t{0};

// Removes the file, tried again while another program holds it. Before each
// try `mayGo` looks at it (its identity read last, so that the removal
// follows its look at once) and says whether it may still go; when not, the
// answer is kChangedMeanwhile. A file already gone counts as removed.
template <typename MayGo>
OsResult RemoveLooked(const Text& path, MayGo mayGo) {
    ClearBlockingAttributes(path);
    const OsResult removed = WithRetries([&] {
        if (!mayGo()) return OsResult{false, kChangedMeanwhile};
        return Files().RemoveFile(path);
    });
    if (removed || !IsExistingFile(path)) return {};
    return removed;
}

// The live archive's identity; `unknown` when it is there but its identity
// cannot be read, so that no file can be told apart from it.
struct LiveIdentity {
    std::optional<FileIdentity> identity;
    bool unknown = false;
};

LiveIdentity ReadLiveIdentity(const GameLayout& paths) {
    FileIdentity identity;
    if (Files().ReadFileIdentity(paths.LiveArchive(), identity)) return {identity, false};
    return {std::nullopt, IsExistingFile(paths.LiveArchive())};
}

// Whether the file may be the live archive under another name: then it
// holds nothing, since other programs write the live archive.
bool IsLive(const LiveIdentity& live, const FileIdentity& identity) {
    return live.unknown || (live.identity && *live.identity == identity);
}

}  // namespace

bool LookAt(const Text& path, FileLook& look) {
    // The folder's volume is asked first, so that a destroying call still
    // follows its look at once.
    const bool changeTimesProve = ChangeTimesProveIn(FolderOf(path));
    if (!Files().ReadFileLook(path, look)) return false;
    if (!changeTimesProve) look.changeTime = 0;
    return true;
}

bool StillUnchanged(const Proof& proof) {
    auto unchanged = [](const Text& path, const FileLook& then) {
        FileLook now;
        return then.changeTime != 0 && LookAt(path, now) && now == then &&
               now.changeTime == then.changeTime;
    };
    return unchanged(proof.holder(), proof.holderLook()) &&
           unchanged(proof.path(), proof.pathLook());
}

std::optional<Proof> ProveCopy(const GameLayout& paths, const Text& copy, const Text& source,
                               const std::optional<FileLook>& before) {
    FileLook sourceNow, copyNow;
    if (!before || before->changeTime == 0 || !LookAt(source, sourceNow) ||
        !(sourceNow == *before) || sourceNow.changeTime != before->changeTime ||
        !LookAt(copy, copyNow) || copyNow.identity == sourceNow.identity ||
        copyNow.stamp.size != sourceNow.stamp.size) {
        return std::nullopt;
    }
    if (IsLive(ReadLiveIdentity(paths), sourceNow.identity)) return std::nullopt;
    return ProofMaker::Make(copy, copyNow, source, sourceNow);
}

WritersKeptOut::WritersKeptOut(const Text& path)
    : held_(Files().KeepWritersOut(path, handle_).ok) {}

WritersKeptOut::WritersKeptOut(WritersKeptOut&& other) noexcept
    : handle_(other.handle_), held_(other.held_) {
    other.held_ = false;
}

WritersKeptOut::~WritersKeptOut() {
    if (held_) Files().LetWritersIn(handle_);
}

MovedWithProof MoveWithProof(const Text& from, const Text& to, const std::optional<Proof>& proof,
                             WrittenThere writtenThere) {
    std::optional<WritersKeptOut> writersOut;
    if (proof && proof->path() == from) writersOut.emplace(from);
    std::optional<Proof> moving;
    if (writersOut && *writersOut && StillUnchanged(*proof)) moving = proof;
    MovedWithProof outcome{WithRetries([&] { return MoveToFree(from, to); }), std::nullopt,
                           std::nullopt};
    FileLook look;
    if (moving && outcome.moved && LookAt(to, look) && look == moving->pathLook()) {
        outcome.proof = ProofMaker::Make(to, look, moving->holder(), moving->holderLook());
        if (writtenThere == WrittenThere::ByAnyProgram)
            outcome.writersOut.emplace(std::move(*writersOut));
    }
    return outcome;
}

std::optional<Proof> LetWritersIn(MovedWithProof& moved) {
    const bool past =
        moved.proof && moved.writersOut && *moved.writersOut &&
        ChangeTimePassedIn(FolderOf(moved.proof->path()), moved.proof->pathLook().changeTime);
    moved.writersOut.reset();
    if (!past) return std::nullopt;
    return moved.proof;
}

namespace {

// Where `a` first differs from `b` in their first `count` bytes; `count`
// when nowhere. memcmp finds a block that differs, the loop only the byte
// in it: the compare runs at memcmp's speed.
std::size_t FirstDifference(const char* a, const char* b, std::size_t count) {
    constexpr std::size_t kBlock = 4096;
    std::size_t at = 0;
    while (at < count) {
        const std::size_t length = std::min(kBlock, count - at);
        if (std::memcmp(a + at, b + at, length) != 0) {
            while (a[at] == b[at]) ++at;
            return at;
        }
        at += length;
    }
    return count;
}

// Whether the bytes are all zeros: each equals the one before, and the first is 0.
bool AllZeros(const char* bytes, std::size_t count) {
    return count == 0 || (bytes[0] == '\0' && std::memcmp(bytes, bytes + 1, count - 1) == 0);
}

}  // namespace

Likeness Compare(const Text& file, const Text& known) {
    constexpr std::uint32_t kPart = kComparePart;
    std::string a, b;
    Likeness likeness = Likeness::Same;
    for (std::uint64_t at = 0;; at += kPart) {
        // A read that fails says nothing of the bytes: not even that they differ.
        if (!Files().ReadPart(file, at, kPart, a) || !Files().ReadPart(known, at, kPart, b)) {
            return Likeness::Unread;
        }
        std::size_t zerosFrom = 0;
        if (likeness == Likeness::Same) {
            const std::size_t common = std::min(a.size(), b.size());
            const std::size_t differs = FirstDifference(a.data(), b.data(), common);
            if (differs == common) {
                if (a.size() > b.size()) return Likeness::Different;  // the file goes on
                zerosFrom = a.size();
            } else {
                // After the first difference only zeros: the end of a copy
                // that set the file's full size before it wrote.
                if (a[differs] != '\0') return Likeness::Different;
                likeness = Likeness::CutShort;
                zerosFrom = differs;
            }
        }
        if (!AllZeros(a.data() + zerosFrom, a.size() - zerosFrom)) return Likeness::Different;
        if (a.size() < b.size()) return Likeness::CutShort;  // the file ends first
        if (a.size() < kPart) return likeness;               // both end here
    }
}

namespace {

// Every mod's archive, each in a folder of the mods folder, the game's own
// content folder left out by name (a second name of it is left out by
// identity when a file is compared).
std::vector<Text> ModsArchives(const GameLayout& paths) {
    std::vector<Text> archives;
    std::vector<FolderEntry> entries;
    if (!Files().ListFolder(paths.ModsFolderEntries(), entries)) return archives;
    for (const FolderEntry& entry : entries) {
        if (!entry.isFolder || SameNameIgnoringCase(entry.name, GameLayout::kGameContentName))
            continue;
        archives.push_back(GameLayout::ModArchiveIn(paths.ModFolderNamed(entry.name)));
    }
    return archives;
}

// The places that hold a version of the game's archive, and why each may:
// - the game's backup: only the launcher writes it, and only by a rename
//   through this gate;
// - the capture: a name of the launcher's own, which no other program writes;
// - the kept versions: the launcher's own names, which only the player removes.
// Not the live archive, under any name: other programs write it at moments
// of their own. Not a copy beside its target: it is what a step is making.
// Not a mod's archive or its backup: a mod update or a mod manager replaces
// them whenever it likes.
std::vector<Text> GamesPlaces(const GameLayout& paths) {
    std::vector<Text> places{paths.GameArchiveBackup(), paths.CapturedArchive()};
    for (Text& kept : KeptVersions(paths)) places.push_back(std::move(kept));
    return places;
}

bool IsGamesPlace(const GameLayout& paths, const Text& path) {
    const std::vector<Text> places = GamesPlaces(paths);
    return std::find(places.begin(), places.end(), path) != places.end();
}

std::optional<Proof> ProveHeldIn(const GameLayout& paths, const Text& path,
                                 const std::vector<Text>& places, Whole whole) {
    FileLook before;
    if (!LookAt(path, before)) return std::nullopt;
    // The live archive's identity, read once a place is worth reading.
    std::optional<LiveIdentity> live;
    for (const Text& place : places) {
        FileLook other;
        if (!Files().ReadFileStamp(place, other.stamp)) continue;
        if (whole == Whole::Only ? other.stamp.size != before.stamp.size
                                 : other.stamp.size < before.stamp.size) {
            continue;
        }
        if (!LookAt(place, other)) continue;              // not proven
        if (other.identity == before.identity) continue;  // the same file
        if (!live) live = ReadLiveIdentity(paths);
        if (live->unknown) return std::nullopt;  // a live archive that cannot be told from a place
        if (IsLive(*live, other.identity)) continue;
        const Likeness likeness = Compare(path, place);
        if (likeness != Likeness::Same &&
            !(whole == Whole::OrCutShort && likeness == Likeness::CutShort)) {
            continue;
        }
        // Either file written while it was read proves nothing.
        FileLook pathAfter, placeAfter;
        if (!LookAt(path, pathAfter) || !(pathAfter == before) ||
            pathAfter.changeTime != before.changeTime) {
            return std::nullopt;
        }
        if (!LookAt(place, placeAfter) || !(placeAfter == other) ||
            placeAfter.changeTime != other.changeTime) {
            continue;
        }
        return ProofMaker::Make(path, before, place, other);
    }
    return std::nullopt;
}

// The launcher's copy of the archive of the mod in `modFolder`: the game's
// places hold it, and so do that mod's archive and its backup.
std::optional<Proof> ProveLaunchersCopy(const GameLayout& paths, const Text& path,
                                        const Text& modFolder) {
    std::vector<Text> places = GamesPlaces(paths);
    if (!modFolder.empty()) {
        places.push_back(GameLayout::ModArchiveIn(modFolder));
        places.push_back(GameLayout::ModBackupIn(modFolder));
    }
    return ProveHeldIn(paths, path, places, Whole::OrCutShort);
}

// A mod's archive holds the launcher's copy of it, never a version of the
// game's: when the game's backup is gone (another program took it) and the
// live archive, the game's own now, holds the copy's very bytes (a mod that
// ships the game's own archive), the copy is the game's archive too, and a
// mod's file is no place for it. Otherwise the backup, or the live archive
// being other bytes, says the copy holds nothing of the game's. Only where
// the backup is gone is anything read.
bool ModsFileMayHold(const GameLayout& paths, const Proof& proof) {
    if (IsGamesPlace(paths, proof.holder()) || IsExistingFile(paths.GameArchiveBackup()) ||
        !IsExistingFile(paths.LiveArchive())) {
        return true;
    }
    return Compare(proof.path(), paths.LiveArchive()) == Likeness::Different;
}

}  // namespace

std::optional<Proof> ProveHeld(const GameLayout& paths, const Text& path, Whole whole) {
    return ProveHeldIn(paths, path, GamesPlaces(paths), whole);
}

std::optional<Proof> ProveSameAs(const GameLayout& paths, const Text& path, const Text& place) {
    if (!IsGamesPlace(paths, place)) return std::nullopt;
    return ProveHeldIn(paths, path, {place}, Whole::Only);
}

std::optional<Proof> ProveMarkersCopy(const GameLayout& paths, const Text& path,
                                      const Marker& marker) {
    return ProveLaunchersCopy(paths, path, marker.modFolder);
}

std::optional<Proof> ProveCapturedMarkersCopy(const GameLayout& paths, const Marker& marker) {
    const Text captured = paths.CapturedArchive();
    FileStamp stamp;
    if (marker.gameStamp && Files().ReadFileStamp(captured, stamp) && stamp == *marker.gameStamp)
        return std::nullopt;
    return ProveLaunchersCopy(paths, captured, marker.modFolder);
}

std::optional<Proof> ProveModsBackupCopy(const GameLayout& paths, const Text& copy) {
    if (copy != GameLayout::Temporary(paths.ModArchiveBackup())) return std::nullopt;
    return ProveLaunchersCopy(paths, copy, paths.ModFolder());
}

Text ModsArchiveLike(const GameLayout& paths, const Text& path) {
    for (const Text& archive : ModsArchives(paths)) {
        // Not a proof of anything: compared only to tell the player.
        if (ProveHeldIn(paths, path, {archive}, Whole::Only)) return archive;
    }
    return Text();
}

std::optional<Proof> ProveCaptureHoldsBackup(const GameLayout& paths,
                                             const std::optional<Proof>& carried) {
    const Text captured = paths.CapturedArchive();
    const Text backup = paths.GameArchiveBackup();
    if (carried && carried->path() == captured && carried->holder() == backup &&
        StillUnchanged(*carried)) {
        return carried;
    }
    return ProveHeldIn(paths, captured, {backup}, Whole::Only);
}

std::optional<Proof> ProveCutShortOf(const Text& path, const Text& known) {
    FileLook before, other;
    if (!LookAt(path, before) || !LookAt(known, other) || before.identity == other.identity) {
        return std::nullopt;
    }
    if (Compare(path, known) != Likeness::CutShort) return std::nullopt;
    FileLook pathAfter, knownAfter;
    if (!LookAt(path, pathAfter) || !(pathAfter == before) || !LookAt(known, knownAfter) ||
        !(knownAfter == other)) {
        return std::nullopt;
    }
    return ProofMaker::Make(path, before, known, other);
}

Retired Retire(const GameLayout& paths, const Text& path, Unheld unheld,
               const std::optional<Proof>& given) {
    if (!IsExistingFile(path)) return {};
    std::optional<Proof> proof = given;
    if (proof && (proof->path() != path || !ModsFileMayHold(paths, *proof))) proof.reset();
    if (!proof) proof = ProveHeld(paths, path, Whole::OrCutShort);
    if (proof) {
        const OsResult removed = RemoveLooked(path, [&] { return StillHolds(*proof); });
        if (removed) return {};
        if (removed.error != kChangedMeanwhile) {
            return {Retired::How::Stays, {}, StepFailure{u"remove", path, removed.error}};
        }
    }
    if (unheld == Unheld::Stay) return {Retired::How::Stays, {}, std::nullopt};
    Kept kept = KeepAside(paths, path);
    if (kept.failed) return {Retired::How::Stays, {}, kept.failed};
    return {Retired::How::KeptAside, kept.as, std::nullopt};
}

Retired ReplaceOver(const GameLayout& paths, const Text& from, const Text& to, Unheld unheld,
                    const std::optional<Proof>& given) {
    Retired retired;
    if (IsExistingFile(to) && to != paths.ModArchiveBackup()) {
        std::optional<Proof> proof = given;
        if (!proof || proof->path() != to) {
            std::vector<Text> places{from};
            for (Text& place : GamesPlaces(paths)) places.push_back(std::move(place));
            proof = ProveHeldIn(paths, to, places, Whole::Only);
        }
        if (!proof || !StillHolds(*proof)) {
            if (unheld == Unheld::Stay) return {Retired::How::Stays, {}, std::nullopt};
            Kept kept = KeepAside(paths, to);
            if (kept.failed) return {Retired::How::Stays, {}, kept.failed};
            retired = {Retired::How::KeptAside, kept.as, std::nullopt};
        }
    }
    if (const OsResult moved = MoveOverProven(from, to); !moved) {
        // What was kept aside stays kept, and is told as such.
        retired.failed = StepFailure{u"replace", to, moved.error};
        if (retired.how == Retired::How::Gone) retired.how = Retired::How::Stays;
    }
    return retired;
}

OsResult CopyToFreeName(const Text& from, const Text& to) {
    if (IsExistingFile(to)) return {false, kErrorAlreadyExists};
    LookBeforeChange(to);  // nothing there: the copy destroys nothing
    return Files().CopyWholeFile(from, to);
}

OsResult WriteMarkerText(const GameLayout& paths, const Text& path, TextView content) {
    return WriteOwnText(IsMarkerFile(paths, path), path, content);
}

OsResult ReplaceMarkerText(const GameLayout& paths, const Text& from, const Text& to) {
    return ReplaceOwnText(IsMarkerFile(paths, from) && IsMarkerFile(paths, to), from, to);
}

OsResult RemoveMarkerText(const GameLayout& paths, const Text& path) {
    if (!IsMarkerFile(paths, path)) return {false, kErrorAccessDenied};
    if (!IsExistingFile(path)) return {};
    return RemoveLooked(path, [&] {
        LookBeforeChange(path);
        return true;  // the marker's own text: no version of anything
    });
}

namespace {

bool IsLogFile(const GameLayout& paths, const Text& path) {
    return path == paths.Log() || path == GameLayout::Temporary(paths.Log());
}

}  // namespace

OsResult WriteLogText(const GameLayout& paths, const Text& path, TextView content) {
    return WriteOwnText(IsLogFile(paths, path), path, content);
}

OsResult ReplaceLogText(const GameLayout& paths, const Text& from, const Text& to) {
    return ReplaceOwnText(IsLogFile(paths, from) && IsLogFile(paths, to), from, to);
}

OsResult MakeProbeFile(const Text& path) {
    if (!GameLayout::IsProbe(path)) return {false, kErrorAccessDenied};
    const OsResult made = Files().MakeNewFile(path);
    if (made || !IsNameTaken(made.error)) return made;
    // One that a killed run left, empty: the launcher's own.
    if (const OsResult removed = RemoveProbeFile(path); !removed) return removed;
    return Files().MakeNewFile(path);
}

OsResult RemoveProbeFile(const Text& path) {
    if (!GameLayout::IsProbe(path)) return {false, kErrorAccessDenied};
    if (!IsExistingFile(path)) return {};
    return RemoveLooked(path, [&] {
        // Only ever empty: a file of that name with bytes is not the launcher's.
        FileStamp stamp;
        return Files().ReadFileStamp(path, stamp) && stamp.size == 0 && LookBeforeChange(path);
    });
}
