// The procedure of the archive work: the lock, what an earlier run left,
// the backups and the swap before the game, and the restore after it.
#include "launcher/archives.h"

#include "launcher/archive_work.h"
#include "launcher/capture.h"
#include "launcher/changes.h"
#include "launcher/copies.h"
#include "launcher/file_steps.h"
#include "launcher/file_system.h"
#include "launcher/gate.h"
#include "launcher/kept.h"
#include "launcher/lock.h"
#include "launcher/marker.h"
#include "launcher/rules.h"

namespace {

// Tells the player why this run changes nothing in the game's place: a
// step failed, and something was to change (an earlier run's swap to put
// back, or this mod's to make).
void TellNothingChanged(ArchiveWork& work, bool modArchive, const StepFailure& failed) {
    if (IsExistingFile(work.paths.SwapMarker())) {
        work.Warn(LeftInPlaceText(failed));
    } else if (modArchive) {
        work.Warn(SwapNotMadeText(failed));
    }
}

[[nodiscard]] Failed MakeModBackupFolder(const GameLayout& paths) {
    const Text folder = paths.ModBackupFolder();
    if (OsResult made = ForceFolder(folder); !made) {
        return StepFailure{kMakeFolderAction, folder, made.error};
    }
    return std::nullopt;
}

// What a put-back before the game came to: done (and told with its text),
// or not because it found an update in the live name; and its failure.
struct [[nodiscard]] PutBackBefore {
    bool done = false;
    Failed failed;
};

PutBackBefore PutBackBeforeTheGame(ArchiveWork& work) {
    const GameLayout& paths = work.paths;
    PutBackOutcome putBack =
        PutBackupInPlace(paths, std::nullopt, GoesBack::BackupsCopy, WayBack{});
    PutBackBefore outcome;
    outcome.done = putBack.found == PutBack::Done;
    if ((outcome.failed = work.Take(putBack)) || !outcome.done) return outcome;
    work.Inform(LiveMissingText(Files().FullPath(paths.LiveArchive()),
                                Files().FullPath(paths.GameArchiveBackup())));
    outcome.failed = Flush(paths.GameArchiveBackup());
    return outcome;
}

// With no marker, the game's backup must hold the game's archive before a
// With no marker, the game's backup must hold the game's archive before a
// swap. Whatever is live is the game's own when it is the backup's bytes,
// and otherwise the game's new one: with no marker nothing says that the
// launcher put it there, not even when a mod's archive holds the same bytes
// (a mod may ship the game's own archive, or the game's update). Only a
// backup whose bytes are on the disk may stand for it.
[[nodiscard]] Failed SettleGamesArchive(ArchiveWork& work, bool modArchive) {
    const GameLayout& paths = work.paths;
    const Text live = paths.LiveArchive();
    const Text backup = paths.GameArchiveBackup();
    if (!IsExistingFile(live)) {
        if (!IsExistingFile(backup)) return std::nullopt;  // the game has none to lose
        PutBackBefore putBack = PutBackBeforeTheGame(work);
        if (putBack.failed && !IsExistingFile(live)) {
            // The game starts without its archive: said so, mod or none.
            work.Warn(LiveMissingNotPutBackText(*putBack.failed, Files().FullPath(live),
                                                Files().FullPath(backup), modArchive));
            putBack.failed->told = true;
        }
        if (putBack.done || putBack.failed) return putBack.failed;
    }
    Failed failed;
    if (!IsExistingFile(backup)) {
        if ((failed = work.Take(CopyBeside(paths, live, backup, Durable::Yes)))) return failed;
        return work.Take(ReplaceWithCopy(paths, backup, false));
    }
    // The proof that they are the same lasts to the way back: the capture
    // then needs no reading to go back (SwapModArchiveIn carries it).
    const std::optional<Proof> same = ProveSameAs(paths, live, backup);
    if (same || Compare(live, backup) == Likeness::Same) {
        work.wayBack.captureHoldsBackup = same;
        return Flush(backup);
    }
    // The game's new archive backed up means the old backup kept aside,
    // unless its bytes are elsewhere: however many are kept already.
    const Text modsArchive = ModsArchiveLike(paths, live);
    StepOutcome kept = KeepUpdate(paths);
    const Text keptAs = kept.backupKeptAs;
    if ((failed = work.Take(kept))) return failed;
    const Text shown = Files().FullPath(live);
    work.Inform(modsArchive.empty()
                    ? UpdateFoundText(shown, work.Named(keptAs))
                    : ModsBytesFoundText(shown, Files().FullPath(modsArchive), work.Named(keptAs)));
    return std::nullopt;
}

void BackUpModArchive(ArchiveWork& work) {
    const GameLayout& paths = work.paths;
    // After an ordinary run the backup holds the mod's very bytes already.
    if (IsWholeCopyOf(paths.ModArchiveBackup(), paths.ModArchive())) return;
    // A failed backup of the mod's archive stops nothing and is not told:
    // the mod's archive itself stays where it is, the swap copies from it,
    // and the next run makes the backup again.
    if (!work.Take(CopyBeside(paths, paths.ModArchive(), paths.ModArchiveBackup(), Durable::No)))
        (void)work.Take(ReplaceWithCopy(paths, paths.ModArchiveBackup(), false));
}

// A kept version whose bytes the backup holds again (an update rolled
// back, say) holds nothing to lose: it goes, and the player is told.
void RemoveKeptCopiesOfBackup(ArchiveWork& work) {
    const GameLayout& paths = work.paths;
    const Text backup = paths.GameArchiveBackup();
    for (const Text& kept : KeptVersions(paths)) {
        const std::optional<Proof> same = ProveSameAs(paths, kept, backup);
        if (!same) continue;
        const Text shown = Files().FullPath(GameLayout::ToldKeptPath(kept));
        if (Retire(paths, kept, Unheld::Stay, same).how == Retired::How::Gone)
            work.Inform(KeptCopyRemovedText(shown, Files().FullPath(backup)));
    }
}

// What became of a swap, and why it was not made when the player is still
// to be told.
enum class Swap { Made, NotMade, UpdateArrived };
// A swap made holds writers out of the mod's archive in the game's place
// until its proof is taken (LetWritersIn).
struct [[nodiscard]] SwapOutcome {
    Swap swap = Swap::NotMade;
    Failed failed;
    std::optional<MovedWithProof> in;
};

// The mod's archive in the game's place. Its copy is made beside the live
// archive first; the marker then says what is under way: what was live, and
// the stamp the mod's archive will have in its place (a copy keeps its
// source's size and time). The live archive is captured, and the copy
// renamed in under the free live name. The capture stays until the game
// has ended, and goes back itself then. What the swap proves on the way
// (the capture holds the backup's bytes; the live archive is its copy of
// the mod's archive) is kept for the way back, which need read neither
// while the proofs last.
// The mod's archive need not be on the disk before the game: a power cut
// that tears it leaves a copy of it cut short, which the next run
// recognises as the launcher's own.
SwapOutcome SwapModArchiveIn(ArchiveWork& work) {
    const GameLayout& paths = work.paths;
    const Text live = paths.LiveArchive();
    const Text copy = GameLayout::Temporary(live);
    Marker marker;
    marker.modFolder = paths.ModFolder();
    FileStamp stamp;
    marker.gameHadArchive = IsExistingFile(live);
    if (marker.gameHadArchive && Files().ReadFileStamp(live, stamp)) marker.gameStamp = stamp;
    if (Files().ReadFileStamp(paths.ModArchive(), stamp)) marker.swappedIn = stamp;
    SwapOutcome outcome;
    Failed& failed = outcome.failed;
    const Copied copied = CopyBeside(paths, paths.ModArchive(), live, Durable::No);
    if ((failed = work.Take(copied))) return outcome;
    const std::optional<Proof> copyProof =
        ProveCopy(paths, copy, paths.ModArchive(), copied.sourceBefore);
    if ((failed = WriteMarker(paths, marker))) {
        DropCopy(paths, copy, copyProof);
        return outcome;
    }
    // What was proven of the live archive moves to the capture with it, and
    // the proof of the copy to the live name: the way back's (WayBack).
    Captured captured = CaptureLiveWithProof(paths, work.wayBack.captureHoldsBackup);
    work.wayBack.captureHoldsBackup = std::move(captured.proof);
    if ((failed = captured.failed)) {
        DropCopy(paths, copy, copyProof);
        // Nothing changed in the game's place: no marker may say otherwise.
        // One that cannot go now is dropped by the next run, which finds
        // the game's own archive live.
        (void)RemoveMarker(paths);
        return outcome;
    }
    MovedWithProof in = MoveWithProof(copy, live, copyProof, WrittenThere::ByAnyProgram);
    if (in.moved) {
        outcome.swap = Swap::Made;
        work.wayBack.swapped = marker;
        outcome.in.emplace(std::move(in));
        return outcome;
    }
    // A folder in the live archive's place takes its name too: no update.
    const bool updateArrived = IsNameTaken(in.moved.error) && !IsExistingFolder(live);
    // Not swapped: what was captured goes back, unless something took the
    // live name meanwhile; the marker's rules then settle what is live.
    DropCopy(paths, copy, copyProof);
    if ((failed = work.Take(ReturnCapture(paths, marker)))) return outcome;
    if (!updateArrived) {
        failed = StepFailure{u"replace", live, in.moved.error};
        if (!SettleMarker(work, When::BeforeTheGame)) failed.reset();  // the player is told already
        return outcome;
    }
    if (SettleMarker(work, When::DuringTheSwap)) outcome.swap = Swap::UpdateArrived;
    return outcome;
}

Prepared Prepare(ArchiveWork& work) {
    const GameLayout& paths = work.paths;
    // In the game's own content folder the "mod's archive" is the game's own.
    const bool modArchive = !Files().IsSameFolder(paths.ModFolder(), paths.GameContentFolder()) &&
                            IsExistingFile(paths.ModArchive());
    const LockOutcome lock = TakeLock(paths);
    if (lock.lock == Lock::HeldByAnother) return Prepared::AnotherLauncherRuns;
    if (lock.lock == Lock::NotTaken) {
        // Unguarded, no archive may be touched.
        TellNothingChanged(work, modArchive, *lock.failed);
        return Prepared::GamesArchive;
    }
    work.TellEarlierKept();
    // A copy that a kill left, holding bytes found nowhere else, that can be
    // neither removed nor kept aside: nothing changes while it stays.
    if (Failed stays = work.Take(RemoveLeftovers(paths))) {
        TellNothingChanged(work, modArchive, *stays);
        return Prepared::GamesArchive;
    }
    // What an earlier run left in the game's place goes back first; while it
    // cannot, nothing else changes.
    if (!SettleMarker(work, When::BeforeTheGame)) return Prepared::GamesArchive;
    if (Failed failed = SettleCaptureAndTell(work)) {
        TellNotDone(work, When::BeforeTheGame, Step::DropMarker, *failed);
        return Prepared::GamesArchive;
    }
    // Without the backup folders no backup is made; the swap then waits for
    // nothing only when the game has no archive to lose.
    Failed failed = MakeModBackupFolder(paths);
    const bool backupFolders = !failed;
    if (backupFolders) {
        failed = SettleGamesArchive(work, modArchive);
        if (!failed) RemoveKeptCopiesOfBackup(work);
    } else if (!IsExistingFile(paths.LiveArchive())) {
        failed.reset();
    }
    if (!modArchive) return Prepared::GamesArchive;
    SwapOutcome swap = failed ? SwapOutcome{} : SwapModArchiveIn(work);
    // The mod's backup is made after the swap, while writers stay out of
    // the mod's archive in the game's place: the clock's tick of its rename
    // passes meanwhile, and the proof for the way back costs no wait.
    if (backupFolders) BackUpModArchive(work);
    if (swap.swap == Swap::Made) {
        work.wayBack.liveIsModsCopy = LetWritersIn(*swap.in);
        return Prepared::ModsArchive;
    }
    if (!failed) failed = std::move(swap.failed);
    if (failed && !failed->told) work.Warn(SwapNotMadeText(*failed));
    return Prepared::GamesArchive;
}

}  // namespace

Preparation PrepareArchives(const GameLayout& paths, RunRecord& run) {
    ArchiveWork work(paths);
    const Prepared prepared = Prepare(work);
    work.TellAll(run);
    if (prepared != Prepared::ModsArchive) return {prepared, {}};
    return {prepared, std::move(work.wayBack)};
}

bool RestoreGameArchive(const GameLayout& paths, const WayBack& wayBack, RunRecord& run) {
    ArchiveWork work(paths);
    work.wayBack = wayBack;
    // The run knows what it swapped: a marker that another program deleted
    // during the game is written again first, so that the way back is
    // settled by it (and a kill on the way leaves it for the next run).
    if (wayBack.swapped && !IsExistingFile(paths.SwapMarker())) {
        if (Failed failed = WriteMarker(paths, *wayBack.swapped)) {
            work.Warn(MarkerLostText(*failed, Files().FullPath(paths.GameArchiveBackup()),
                                     Files().FullPath(paths.LiveArchive()),
                                     wayBack.swapped->gameHadArchive));
            work.TellAll(run);
            return false;
        }
    }
    const bool settled = SettleMarker(work, When::AfterTheGame);
    if (settled) RemoveKeptCopiesOfBackup(work);
    work.TellAll(run);
    return settled;
}
