#pragma once
// The one rule, decided here and nowhere else: the launcher never destroys
// bytes that exist nowhere else. Every call that replaces or removes a file
// of the archive code (the live archive, a backup, the capture, a copy beside
// its target, a kept version, the marker) is made in gate.cpp, and only once
// the bytes that go are proven to be in another file, or have been kept
// aside under a name of their own.
//
// What counts as elsewhere depends on what the bytes that go are, and the
// gate alone says it:
// - A version of the game's archive is held only by the launcher's own
//   places on the game's side, which no other program writes: the game's
//   backup, the capture and the kept versions. A mod's files are the mod's:
//   a mod update or a mod manager replaces them whenever it likes, so they
//   never hold a version of the game's archive, whatever their bytes.
// - The launcher's copy of a mod's archive is held by those places and by
//   that mod's archive and its backup too. A file is that copy only where
//   this run's proof of making it (ProveCopy), or the marker's record of the
//   swap (ProveMarkersCopy), says so; anything else in the game's place is
//   a version of the game's archive.
//
// The proof is by bytes and by file identity:
// - "Another file" is one of those places, or the source of a rename over
//   the target. The live name is never one: what stands there now may be
//   gone the next moment.
// - A file, not a name: a place that is the same file as the one that goes
//   (a linked folder, a second spelling) is no other file, and neither is
//   one that is the live archive under another name.
// - A proof holds for the files as they were compared. Each destroying call
//   reads both again at once before it is made; a file whose stamp or
//   identity has moved since, or cannot be read, is not proven.
// - A read that fails proves nothing: it is never taken for the file's end.
// - A proof made before the game lasts through it while neither file has
//   changed since, by its change time as well (StillUnchanged), in a folder
//   where this run saw the change time move when a last-write time was set
//   back (LookAt asks launcher/volume_probe.h); elsewhere no proof lasts
//   that long. A proof follows its file through the launcher's own rename
//   only with writers kept out of the file meanwhile (MoveWithProof).
// - Only the gate makes a proof: Proof's constructor is private.
// Stamps (size and time) only choose what is worth reading; they never prove.
#include <optional>
#include <utility>
#include <vector>

#include "launcher/layout.h"
#include "launcher/marker.h"
#include "launcher/notice.h"
#include "launcher/platform.h"
#include "launcher/text.h"

// How a file stands to a file the launcher knows: the same bytes, a copy of
// it cut short (its first part, or that and zeros up to some size, as a copy
// that set the full size first leaves), something else, or not known: a
// read of either failed.
enum class Likeness { Same, CutShort, Different, Unread };
Likeness Compare(const Text& file, const Text& known);
// Compare reads both files in parts of this size: large enough that opening
// each file for each part costs little beside the reading.
constexpr std::uint32_t kComparePart = 4 << 20;

// The gate's word that the bytes of `path` are in `holder` (whole, or `path`
// is a copy of it cut short), for the two files as they were compared. Only
// the gate makes one; callers carry it, and the gate checks it again where
// it is used.
class Proof {
public:
    const Text& path() const { return path_; }
    const FileLook& pathLook() const { return pathLook_; }
    const Text& holder() const { return holder_; }
    const FileLook& holderLook() const { return holderLook_; }

private:
    friend struct ProofMaker;  // gate.cpp's alone
    Proof(Text path, FileLook pathLook, Text holder, FileLook holderLook)
        : path_(std::move(path)),
          pathLook_(pathLook),
          holder_(std::move(holder)),
          holderLook_(holderLook) {}
    Text path_;
    FileLook pathLook_;
    Text holder_;
    FileLook holderLook_;
};

// Whether the proof's two files are as they were when it was made, their
// change times included: nothing wrote either since, however long ago.
// False on a volume that keeps no change time.
bool StillUnchanged(const Proof& proof);

enum class Whole { Only, OrCutShort };

// Whether the launcher's places on the game's side (the game's backup, the
// capture, the kept versions) hold the file's bytes: all that a version of
// the game's archive may go on.
std::optional<Proof> ProveHeld(const GameLayout& paths, const Text& path, Whole whole);

// Whether `place`, one of those places, holds the file's very bytes. Any
// other file proves nothing here.
std::optional<Proof> ProveSameAs(const GameLayout& paths, const Text& path, const Text& place);

// Whether the file is the launcher's copy of the marker's mod's archive, as
// the marker's record says: the bytes of that mod's archive or its backup,
// or the first part of one of them or of the game's backup (what a copy cut
// short leaves).
std::optional<Proof> ProveMarkersCopy(const GameLayout& paths, const Text& path,
                                      const Marker& marker);
// The same for a capture that a run left. The capture a swap takes is the
// game's own archive, with the stamp the marker records for it: a capture
// with that stamp is not told apart from it by the record, whatever its
// bytes (a mod may ship the game's own archive), and proves nothing here.
std::optional<Proof> ProveCapturedMarkersCopy(const GameLayout& paths, const Marker& marker);

// Whether the copy a kill left beside the mod's backup holds the mod's
// archive's bytes (or the first part of them): it is in the mod's own
// folder, and holds no version of the game's archive.
std::optional<Proof> ProveModsBackupCopy(const GameLayout& paths, const Text& copy);

// The first mod's archive (any mods\*\Shaders_client.zip but the game's own
// folder's) that holds the file's very bytes; empty when none does. Found,
// not proven: a mod's archive holds no version of the game's.
Text ModsArchiveLike(const GameLayout& paths, const Text& path);

// Whether the file is a copy of `known` cut short: it holds nothing to lose,
// whatever becomes of `known` later, so any file may serve here, the live
// archive included.
std::optional<Proof> ProveCutShortOf(const Text& path, const Text& known);

// The launcher's own copy, made a moment ago from `source` (as `before`
// saw it), holds the source's bytes when the source has not changed since,
// by its change time too: no program wrote it while it was read. The live
// archive, under any name, proves nothing here either.
std::optional<Proof> ProveCopy(const GameLayout& paths, const Text& copy, const Text& source,
                               const std::optional<FileLook>& before);

// Whether the capture holds the game's backup's very bytes: by the proof
// carried from before the game, checked here while it lasts, else by
// reading both.
std::optional<Proof> ProveCaptureHoldsBackup(const GameLayout& paths,
                                             const std::optional<Proof>& carried);

// Renames `from` to the free name `to` (tried again while held), with
// writers kept out of the file from before the proof for it is checked
// until it is looked at under its new name: the proof moves with the file
// (a rename moves its change time). Where other programs write `to` (the
// live name), writers stay out until a change stamped on that volume
// carries a later change time, so that any later write moves it again
// (LetWritersIn). The rename is made whether or
// not there is a proof to move.
enum class WrittenThere { ByTheLauncherOnly, ByAnyProgram };

// No program may open the file to write while this is held; it may still
// be renamed. Released however the step ends.
class WritersKeptOut {
public:
    explicit WritersKeptOut(const Text& path);
    WritersKeptOut(WritersKeptOut&& other) noexcept;
    ~WritersKeptOut();
    WritersKeptOut(const WritersKeptOut&) = delete;
    WritersKeptOut& operator=(const WritersKeptOut&) = delete;
    WritersKeptOut& operator=(WritersKeptOut&&) = delete;
    explicit operator bool() const { return held_; }

private:
    OsHandle handle_ = kInvalidHandle;
    bool held_;
};

// What the rename came to, and the proof under the new name. Where other
// programs write that name (WrittenThere::ByAnyProgram), writers are still
// kept out, and the proof counts only once LetWritersIn gives it back: the
// caller may do other work meanwhile, while the clock's tick passes.
struct [[nodiscard]] MovedWithProof {
    OsResult moved;
    std::optional<Proof> proof;
    std::optional<WritersKeptOut> writersOut;
};
MovedWithProof MoveWithProof(const Text& from, const Text& to, const std::optional<Proof>& proof,
                             WrittenThere writtenThere);
// Waits until a change stamped on the moved file's volume now carries a
// later change time than its rename's, lets writers in, and gives back the
// proof (none when that does not come).
std::optional<Proof> LetWritersIn(MovedWithProof& moved);

// What to do with a file whose bytes are not proven to be elsewhere.
enum class Unheld {
    KeepAside,  // kept aside as a version of its own
    Stay,       // left where it is, for a later run to settle
};

// What became of a file that was to go.
struct Retired {
    enum class How {
        Gone,       // removed or replaced: its bytes are elsewhere (or it was not there)
        KeptAside,  // kept aside, as `keptAs`
        Stays,      // still where it was: not proven, or `failed` says why
    };
    How how = How::Gone;
    Text keptAs;
    std::optional<StepFailure> failed;
};

// Removes the file once its bytes are proven elsewhere (or it is a copy of
// one cut short): by `proof` when one is given for it, else as a version
// of the game's archive, by the launcher's places on the game's side.
[[nodiscard]] Retired Retire(const GameLayout& paths, const Text& path, Unheld unheld,
                             const std::optional<Proof>& proof = std::nullopt);

// Renames `from` over `to`. What stood at `to` goes only when it was not
// there, or its whole bytes are in `from` or in one of the launcher's places
// on the game's side; otherwise it is kept aside first, or (Unheld::Stay)
// the rename is not made. The mod's backup is the mod's own file, the
// launcher's copy of the mod's archive, replaced whenever the mod's archive
// changes: it holds no version of the game's archive, and needs no proof.
[[nodiscard]] Retired ReplaceOver(const GameLayout& paths, const Text& from, const Text& to,
                                  Unheld unheld, const std::optional<Proof>& proof = std::nullopt);

// A look at a file now: its stamp and identity; false when either cannot
// be read. Its change time is 0 (proves nothing) unless this run has seen
// change times move on the volume of the file's folder.
bool LookAt(const Text& path, FileLook& look);

// A copy under a name of the launcher's own, which must be free: nothing is
// ever copied over a file left there.
[[nodiscard]] OsResult CopyToFreeName(const Text& from, const Text& to);

// The marker and its copy hold the launcher's own text, no version of any
// archive: written beside the marker, renamed over it, and removed, with no
// proof needed. Any other path is refused.
[[nodiscard]] OsResult WriteMarkerText(const GameLayout& paths, const Text& path, TextView content);
[[nodiscard]] OsResult ReplaceMarkerText(const GameLayout& paths, const Text& from, const Text& to);
[[nodiscard]] OsResult RemoveMarkerText(const GameLayout& paths, const Text& path);

// The log and its copy hold the launcher's own text too: written beside the
// log and renamed over it, with no proof needed. Any other path is refused.
[[nodiscard]] OsResult WriteLogText(const GameLayout& paths, const Text& path, TextView content);
[[nodiscard]] OsResult ReplaceLogText(const GameLayout& paths, const Text& from, const Text& to);

// The probe file (GameLayout::ProbeIn) is the launcher's own, empty: made
// where nothing stands (one a killed run left is removed first), removed
// with no proof needed while it is empty. Any other path is refused.
[[nodiscard]] OsResult MakeProbeFile(const Text& path);
[[nodiscard]] OsResult RemoveProbeFile(const Text& path);
