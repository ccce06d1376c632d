#pragma once
// The marker's rules: with a marker found, at the start of a run, before
// the game after a swap that did not take, and after the game, what the
// live archive is (by the record, then by its bytes) and what the run does
// about it, one row of kRules each. The rows' changes are the steps of
// changes.h; what they come to is told through the run's context.
#include "launcher/archive_work.h"

// What a row of the rules does.
enum class Step {
    DropMarker,          // nothing to put back
    PutBackupBack,       // the game's backup in the live archive's place
    TakeModsArchiveOut,  // the game has no archive: take the mod's out
    KeepUpdate,          // the live archive is the game's new one: back it up
    TellBackupMissing,   // the game's archive is unaccounted for: change nothing
};

enum class When { BeforeTheGame, DuringTheSwap, AfterTheGame };

// Tells the player why a change did not go through.
void TellNotDone(ArchiveWork& work, When when, Step step, const StepFailure& failed);

// Settles a capture that a run left (capture.h) and tells what became of
// it; gives the failure that left it in place.
[[nodiscard]] Failed SettleCaptureAndTell(ArchiveWork& work);

// Acts on the marker by the rules. True when the marker is gone: the game's
// own archive (or none) is live, and its backup holds it.
bool SettleMarker(ArchiveWork& work, When when);
