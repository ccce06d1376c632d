#pragma once
// For as long as the game runs, the mod's shader archive stands in the place
// of the game's own. Every path comes from the game's layout (layout.h).
//
// The one rule: the launcher never destroys bytes that exist nowhere else.
// Before it replaces or removes a file in the game's folders, the bytes that
// go must be in another file: the game's backup, a mod's archive or its
// backup, or a version kept aside. Other programs (patchers, stores, sync
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
#include <optional>
#include <string>

#include "launcher/file_steps.h"
#include "launcher/gate.h"
#include "launcher/kept.h"
#include "launcher/layout.h"
#include "launcher/platform.h"
#include "launcher/run_record.h"
#include "launcher/text.h"

// What PrepareArchives leaves in the game's place.
enum class Prepared {
    GamesArchive,         // the game's own archive, or what an earlier run left there
    ModsArchive,          // the mod's archive: restore it after the game
    AnotherLauncherRuns,  // another launcher holds this game's archives: nothing touched
};

// Takes the game's lock, settles what an earlier run left, backs both
// archives up and swaps the mod's archive in. Tells the player what did not
// go as it should.
Prepared PrepareArchives(const GameLayout& paths, RunRecord& run);

// Puts the game's archive back after the game, as the marker says: the
// game's backup over the mod's archive, or no archive where the game had
// none; a live archive that something else wrote meanwhile is kept as the
// game's new one. The marker goes once that is on the disk; when it cannot,
// the marker stays for the next run and the player is told. True when the
// marker is gone.
bool RestoreGameArchive(const GameLayout& paths, RunRecord& run);

// The marker's record. Its first line names the mod's folder; the second
// what the live archive was before the swap ("game <size> <time>", or "game
// none" for a game without an archive); the third "swapping <size> <time>",
// the stamp the mod's archive has once in the game's place. Markers of
// earlier releases have the first line alone (1.1.0), or it and "swapping"
// or "swapped <size> <time>" (the stamp of what went in); they read as a
// game that had an archive, with nothing known of its stamp.
struct Marker {
    Text modFolder;
    bool gameHadArchive = true;
    std::optional<FileStamp> gameStamp;  // the live archive before the swap
    std::optional<FileStamp> swappedIn;  // the mod's archive in its place
};
Text MarkerText(const Marker& marker);
Marker ReadMarker(TextView text);
