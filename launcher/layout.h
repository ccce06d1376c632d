#pragma once
// Every place in the game's folders that the launcher reads or writes,
// spelled here and nowhere else. The launcher runs in a mod's folder inside
// the game's mods folder, and every path is that folder followed by a
// relative part, which the system resolves:
//
//   ..\..\BF2.exe                                  the game's program
//   ..\                                            the mods folder
//   Shaders_client.zip                             the mod's archive
//   Backup\Shaders_client.zip                      its backup
//   ..\bf2\Shaders_client.zip                      the live archive: the game's
//                                                  own, or a mod's while the game runs
//   ..\bf2\Shaders_client.zip.ModLauncher-captured what was live, renamed aside
//                                                  before anything takes its place
//   ..\bf2\Backup\Shaders_client.zip               the game's backup
//   ..\bf2\Backup\Shaders_client.zip.swapped       the marker: a swap under way
//   ..\bf2\Backup\ModLauncher.lock                 one launcher at a time per game
//   ..\bf2\Backup\ModLauncher.log                  what the launcher told, and when
//   ..\bf2\Backup\Shaders_client.kept-<time>.zip   versions found in no other file
//                                                  (<time>.untold.zip until told)
//   ..\bf2\Backup\Shaders_client.zip.old           the one that release 1.2.0 kept
//   <file>.ModLauncher-new                         a copy or a write under way beside
//                                                  its target: what a kill can leave
//   <folder>\ModLauncher.probe                     a file of the launcher's own, made
//                                                  and removed at once: what the
//                                                  folder's volume does with change times
//
// The captured and temporary names are the launcher's alone: no other
// program writes them, so what stands there is surely the launcher's.
#include <cstdint>
#include <vector>

#include "launcher/text.h"

// The file names that the game and the mods share.
inline constexpr const char16_t* kArchiveName = u"Shaders_client.zip";
inline constexpr const char16_t* kGameProgramName = u"BF2.exe";
// The game's parameter that selects a mod, the mod's folder name following.
inline constexpr const char16_t* kModPathParameter = u"+modPath mods/";

class GameLayout {
public:
    // `modFolder` is the folder the launcher runs in, with one backslash appended.
    explicit GameLayout(Text modFolder) : mod_(std::move(modFolder)) {}

    const Text& ModFolder() const { return mod_; }
    // The game's folder, two levels up, and its program there.
    Text GameFolder() const { return mod_ + u"..\\.."; }
    Text GameProgram() const { return mod_ + u"..\\..\\" + kGameProgramName; }
    Text ModsFolder() const { return mod_ + u"..\\"; }
    // Every entry of the mods folder, for a listing; and a mod's folder
    // there by its name, as the launcher's own is spelled: with a backslash.
    Text ModsFolderEntries() const { return ModsFolder() + u"*"; }
    Text ModFolderNamed(const Text& name) const { return ModsFolder() + name + u"\\"; }

    // This mod's archive and its backup; and any mod's, by its folder.
    Text ModArchive() const { return ModArchiveIn(mod_); }
    Text ModBackupFolder() const { return mod_ + u"Backup"; }
    Text ModArchiveBackup() const { return ModBackupIn(mod_); }
    static Text ModArchiveIn(const Text& modFolder) { return modFolder + kArchiveName; }
    static Text ModBackupIn(const Text& modFolder) {
        return modFolder + u"Backup\\" + kArchiveName;
    }

    // The game's own content folder in the mods folder, by its name too, so
    // that a look over the mods folder can leave it out.
    static constexpr const char16_t* kGameContentName = u"bf2";
    Text GameContentFolder() const { return ModsFolder() + kGameContentName; }
    Text LiveArchive() const { return GameContentFolder() + u"\\" + kArchiveName; }
    Text CapturedArchive() const { return LiveArchive() + u".ModLauncher-captured"; }
    Text GameBackupFolder() const { return GameContentFolder() + u"\\Backup"; }
    Text GameArchiveBackup() const { return GameBackupFolder() + u"\\" + kArchiveName; }
    Text SwapMarker() const { return GameArchiveBackup() + u".swapped"; }
    Text ArchiveLock() const { return GameBackupFolder() + u"\\ModLauncher.lock"; }
    Text Log() const { return GameBackupFolder() + u"\\ModLauncher.log"; }

    // The versions kept aside: each under a name of its own in the game's
    // backup folder, "Shaders_client.kept-<time>.zip" with <time> its
    // last-write time in UTC as "YYYY-MM-DD-hhmmss" (and "-2", "-3"... when
    // that name is taken), and the one release 1.2.0 kept.
    static constexpr const char16_t* kKeptPrefix = u"Shaders_client.kept-";
    static constexpr const char16_t* kKeptSuffix = u".zip";
    Text KeptVersion(const Text& name) const { return GameBackupFolder() + u"\\" + name; }
    // Matches every name a kept version gets, for a listing of the folder.
    Text KeptVersionsPattern() const { return KeptVersion(Text(kKeptPrefix) + u"*" + kKeptSuffix); }
    Text OldKeptVersion() const { return GameArchiveBackup() + u".old"; }
    // A kept version's name from its last-write time (a FILETIME), with
    // `number` 0 for the first free one; and whether a name is one.
    static Text KeptName(std::uint64_t lastWrite, unsigned number);
    static bool IsKeptName(TextView name);
    // A version is kept under its name with ".untold" before ".zip" until the
    // player has been told of it, then renamed to its name: one that a kill
    // left untold is told by the next run. Both count as kept.
    static constexpr const char16_t* kUntoldMark = u".untold";
    static bool IsUntoldKeptName(TextView name);
    static Text UntoldKeptPath(const Text& keptPath);
    // The name the player is told: the untold mark left out.
    static Text ToldKeptPath(const Text& keptPath);
    Text UntoldKeptPattern() const {
        return KeptVersion(Text(kKeptPrefix) + u"*" + kUntoldMark + kKeptSuffix);
    }

    // What a copy or a write is made as, beside its target, before the rename.
    static Text Temporary(const Text& target) { return target + u".ModLauncher-new"; }
    // The launcher's probe of a folder's volume (launcher/volume_probe.h):
    // empty, in the folder (spelled without a backslash at its end).
    static Text ProbeIn(const Text& folder) { return folder + u"\\" + kProbeName; }
    static bool IsProbe(TextView path);
    static constexpr const char16_t* kProbeName = u"ModLauncher.probe";
    // The copies that a kill can leave half made, beside the archives they
    // were to replace; the marker's is only ever the launcher's own text.
    std::vector<Text> ArchiveCopiesUnderWay() const {
        return {Temporary(LiveArchive()), Temporary(GameArchiveBackup()),
                Temporary(ModArchiveBackup())};
    }

private:
    Text mod_;
};

// The folder the launcher runs in, with one backslash appended, always:
// what the layout is built from.
Text ReadWorkingFolder();
// The folder of the launcher's own program file, with one backslash
// appended; empty when the system cannot say.
Text ReadProgramFolder();

// The last name of a path; a backslash at its end is left out first.
TextView LastName(TextView path);

// A time of the file system (100 ns steps since 1601, UTC) as
// "YYYY-MM-DD-hhmmss".
Text TimeName(std::uint64_t fileTime);
