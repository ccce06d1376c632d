#pragma once
// For as long as the game runs, the mod's shader archive stands in the place
// of the game's own. All paths are the base folder followed by a literal.
//
// The game's own archive is never lost: at every moment the live archive or
// the game's backup holds it, and the marker file says which. The marker
// exists exactly while the live archive may hold a mod's archive and the
// game's backup holds the game's own. One launcher at a time works on a
// game's archives: it holds a lock file in the game's backup folder.
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

// What PrepareArchives leaves in the game's place.
enum class Prepared {
    GamesArchive,         // the game's own archive, or nothing of the game's to protect
    ModsArchive,          // the mod's archive: restore it after the game
    AnotherLauncherRuns,  // another launcher holds this game's archives: nothing touched
};

// Takes the game's lock, reads what an earlier run left, backs both archives
// up and swaps the mod's archive in where the game's own archive is safe.
// Tells the player when the mod has an archive that did not go in.
Prepared PrepareArchives();

// Copies the game's backup back over the live archive and drops the marker
// once that copy is on disk. When it cannot, the marker stays for the next
// run and the player is told. True when the game's archive is back.
bool RestoreGameArchive();

// Makes the folder exist, creating missing parents first.
OsResult ForceFolder(const Text& path);
bool IsExistingFolder(const Text& path);
bool IsExistingFile(const Text& path);

// The marker's text: the mod's folder on the first line; then "swapping"
// while the swap's copy may be incomplete, or "swapped <size> <time>" once
// the copy is complete and on disk, with the stamp of the archive it put in
// place. A marker of release 1.1.0 has the first line alone.
Text MarkerText(const Text& modFolder, const std::optional<FileStamp>& swappedIn);
// The stamp a complete swap recorded; nothing for an incomplete swap, a
// marker of release 1.1.0 or one that cannot be read.
std::optional<FileStamp> CompletedSwapIn(const std::string& marker);

// The pauses between the tries of a restore that finds the file in use.
inline constexpr unsigned kRestorePausesMs[] = {60, 120, 250, 500, 1000};
