#pragma once
// For as long as the game runs, the mod's shader archive stands in the place
// of the game's own. All paths are the base folder followed by a literal.
//
// The game's own archive is never lost: every change to an archive is
// written beside its target and then renamed over it in one step, so a
// crash leaves the old file or the new one, never half of one. The marker
// file says what is under way before the live archive changes, and the game's
// backup is on the disk before the marker says so. One launcher at a time
// works on a game's archives: it locks a file in the game's backup folder.
#include <optional>
#include <string>

#include "launcher/platform.h"
#include "launcher/text.h"

// Relative to the base folder (the mod's folder).
inline constexpr const char16_t* kModArchive = u"Shaders_client.zip";
inline constexpr const char16_t* kModBackupFolder = u"Backup";
inline constexpr const char16_t* kModArchiveBackup = u"Backup\\Shaders_client.zip";
inline constexpr const char16_t* kGameContentFolder = u"..\\bf2";
inline constexpr const char16_t* kGameArchive = u"..\\bf2\\Shaders_client.zip";
inline constexpr const char16_t* kGameBackupFolder = u"..\\bf2\\Backup";
inline constexpr const char16_t* kGameArchiveBackup = u"..\\bf2\\Backup\\Shaders_client.zip";
inline constexpr const char16_t* kSwapMarker = u"..\\bf2\\Backup\\Shaders_client.zip.swapped";
inline constexpr const char16_t* kArchiveLock = u"..\\bf2\\Backup\\ModLauncher.lock";
// The game's earlier backup, set aside when the launcher takes a changed live
// archive for the game's new one; one is kept.
inline constexpr const char16_t* kSetAsideBackup = u"..\\bf2\\Backup\\Shaders_client.zip.old";
// What a copy or a write is made as, beside its target, before the rename.
inline constexpr const char16_t* kTemporarySuffix = u".tmp";

// What PrepareArchives leaves in the game's place.
enum class Prepared {
    GamesArchive,         // the game's own archive, or what an earlier run left there
    ModsArchive,          // the mod's archive: restore it after the game
    AnotherLauncherRuns,  // another launcher holds this game's archives: nothing touched
};

// Takes the game's lock, settles what an earlier run left, backs both
// archives up and swaps the mod's archive in. Tells the player what did not
// go as it should.
Prepared PrepareArchives();

// Puts the game's archive back after the game, as the marker says: the
// game's backup over the mod's archive, or no archive where the game had
// none; a live archive that something else wrote meanwhile is kept as the
// game's new one. The marker goes once that is on the disk; when it cannot,
// the marker stays for the next run and the player is told. True when the
// marker is gone.
bool RestoreGameArchive();

// Makes the folder exist, creating missing parents first.
OsResult ForceFolder(const Text& path);
bool IsExistingFolder(const Text& path);
bool IsExistingFile(const Text& path);

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

// How a live archive stands to a file the launcher knows: the same bytes, a
// copy of it cut short (its first part, or that and zeros up to some size,
// as a copy that set the full size first leaves), or something else.
enum class Likeness { Same, CutShort, Different };
Likeness Compare(const Text& live, const Text& known);

// The pauses between the tries of a restore that finds the file in use.
inline constexpr unsigned kRestorePausesMs[] = {60, 120, 250, 500, 1000};
