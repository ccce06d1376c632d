#pragma once
// The changes of the game's place that settle a swap: the game's backup
// put back over the mod's archive, the mod's archive taken out of a game
// that has none, and the live archive kept as the game's new one. Each
// captures the live archive first and looks at its bytes before anything
// goes.
#include "launcher/archive_work.h"
#include "launcher/layout.h"

// What a put-back found in the live name once it had captured it.
enum class PutBack { Done, UpdateFound };

struct [[nodiscard]] PutBackOutcome : StepOutcome {
    PutBack found = PutBack::Done;
};

// Where the game's archive that goes back comes from: a copy of the backup,
// or the capture itself, renamed, when it holds the backup's very bytes
// (CaptureHoldsBackup): then not a byte is read or written.
enum class GoesBack { BackupsCopy, Capture };

// The game's backup put in the live archive's place. With a marker, the
// launcher's copy of the marker's mod's archive (or none) stands there;
// when the capture is not proven that copy after all (an update landed
// after the look, or it cannot be read), it goes back and is the game's new
// archive (PutBack::UpdateFound); so is whatever takes the live name
// meanwhile. Without a marker, what is captured is kept aside unless its
// bytes are elsewhere. What the swap proved of the live archive spares reading
// it, while it lasts.
PutBackOutcome PutBackupInPlace(const GameLayout& paths, const std::optional<Marker>& marker,
                                GoesBack goesBack, const WayBack& wayBack);

// The mod's archive taken out of the place of a game that has none; what is
// captured goes only when it is the launcher's copy of the marker's mod's
// archive (or a copy cut short).
PutBackOutcome TakeModsArchiveOut(const GameLayout& paths, const Marker& marker);

// The live archive is the game's new one: it is backed up, and the backup
// it replaces is kept aside unless its bytes are elsewhere (`backupKeptAs`).
StepOutcome KeepUpdate(const GameLayout& paths);
