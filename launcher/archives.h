#pragma once
// For as long as the game runs, the mod's shader archive stands in the place
// of the game's own. Every path comes from the game's layout (layout.h).
//
// The one rule: the launcher never destroys bytes that exist nowhere else.
// Before it replaces or removes a file in the game's folders, the bytes that
// go must be in another file: for a version of the game's archive, the
// game's backup, the capture or a version kept aside; a mod's files hold
// none (gate.h). Other programs (patchers, stores, sync
// clients, virus scanners) write the live archive at moments of their own,
// so the launcher never replaces it where it stands: it first renames it to
// a name of its own (the capture), which no other program writes, looks at
// what it took there, and renames the new file in under a name that must be
// free. A version found in no other file is kept under a name of its own
// and the player is told.
//
// Every change is a transaction too: a copy is written beside its target
// under a name only the launcher uses and then renamed into place, so a
// crash leaves the old file or the new one, never half of one. The marker
// says what is under way before the live archive changes. One launcher at a
// time works on a game's archives: it locks a file in the game's backup folder.
//
// The states of the game's place and the moves between them. Files, in
// mods\bf2: L the live archive, C the capture (L.ModLauncher-captured), N a
// copy beside its target (<target>.ModLauncher-new), B the game's backup,
// K a kept version, and the marker in Backup\. G is the game's archive, M
// the mod's, U one that another program wrote.
//
//    ordinary, no marker        swap                       game runs
//   [L=G  B=G|none] --copy M->N, write marker--> [L=G N=M marker]
//          ^              --capture L->C, rename N->L (free name)-->
//          |                                        [L=M C=G marker]
//          |                                                 |
//          |      after the game (rules.cpp, kRules):       |
//          |  C=B's bytes (the swap's proof while it lasts,  |
//          |  else compared): C->N, capture L->C, N->L, C    |
//          |  goes on the swap's proof (else compared)       |
//          |  otherwise: C settled first, then copy B->N,    |
//          |  capture L->C, rename N->L, C goes              |
//          +----------- marker removed <--------------------+
//
//   At any point a kill leaves N (settled first: RemoveLeftovers), C
//   (SettleCapture: back to a free L, over B when it is B's bytes, kept
//   aside, or B's successor when the marker's mod's copy is live), or the marker
//   (SettleMarker: one row of kRules by what L is). Another program's U in
//   L makes the row "the game's new archive": U backed up to B, the old B
//   kept as K unless its bytes are elsewhere. Without a marker
//   (SettleGamesArchive): L missing and B there, B goes back; L not B's
//   bytes, L is kept as the game's new archive, a mod's archive's bytes
//   included: no record says the launcher put them there. Every removal
//   and every rename over a file is the gate's (gate.h): N, C, B and K go
//   only when their bytes are elsewhere.
#include "launcher/archive_work.h"
#include "launcher/layout.h"
#include "launcher/run_record.h"

// What PrepareArchives leaves in the game's place.
enum class Prepared {
    GamesArchive,         // the game's own archive, or what an earlier run left there
    ModsArchive,          // the mod's archive: restore it after the game
    AnotherLauncherRuns,  // another launcher holds this game's archives: nothing touched
};

// What is in the game's place, and, with the mod's archive there, what the
// swap proved for the way back.
struct Preparation {
    Prepared prepared;
    WayBack wayBack;
};

// Takes the game's lock, settles what an earlier run left, backs both
// archives up and swaps the mod's archive in. Tells the player what did not
// go as it should.
Preparation PrepareArchives(const GameLayout& paths, RunRecord& run);

// Puts the game's archive back after the game, as the marker says: the
// game's backup over the mod's archive, or no archive where the game had
// none; a live archive that something else wrote meanwhile is kept as the
// game's new one. The marker goes once that is on the disk; when it cannot,
// the marker stays for the next run and the player is told. True when the
// marker is gone. What the swap proved spares reading what it proves,
// while it lasts.
bool RestoreGameArchive(const GameLayout& paths, const WayBack& wayBack, RunRecord& run);
