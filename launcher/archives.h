#pragma once
// For as long as the game runs, the mod's shader archive stands in the place
// of the game's own. All paths are the base folder followed by a literal.
//
// The game's own archive is never lost: at every moment the live archive or
// the game's backup holds it, and the marker file says which. The marker
// exists exactly while the live archive may hold a mod's archive and the
// game's backup holds the game's own.
#include "launcher/text.h"

// Relative to the base folder (the mod's folder).
inline constexpr const char16_t* kModArchive = u"Shaders_client.zip";
inline constexpr const char16_t* kModBackupFolder = u"Backup";
inline constexpr const char16_t* kModArchiveBackup = u"Backup\\Shaders_client.zip";
inline constexpr const char16_t* kGameArchive = u"..\\bf2\\Shaders_client.zip";
inline constexpr const char16_t* kGameBackupFolder = u"..\\bf2\\Backup";
inline constexpr const char16_t* kGameArchiveBackup = u"..\\bf2\\Backup\\Shaders_client.zip";
inline constexpr const char16_t* kSwapMarker = u"..\\bf2\\Backup\\Shaders_client.zip.swapped";

// Forces the backup folders, backs both archives up and swaps the mod's
// archive in where the game's own archive is safe. Returns whether the live
// archive now holds (or may hold) the mod's archive, so it must be restored.
bool PrepareArchives();

// Copies the game's backup back over the live archive and drops the marker
// once that copy is on disk; on failure the marker stays for the next run.
void RestoreGameArchive();

// Makes the folder exist, creating missing parents first.
bool ForceFolder(const Text& path);
bool IsExistingFolder(const Text& path);
bool IsExistingFile(const Text& path);

// The pauses between the tries of a restore that finds the file in use.
inline constexpr unsigned kRestorePausesMs[] = {60, 120, 250, 500, 1000};
