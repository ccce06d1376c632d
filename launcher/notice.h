#pragma once
// Telling the player what the launcher could not do and what would help:
// one line on standard output when there is one, otherwise a box.
#include <cstdint>

#include "launcher/platform.h"
#include "launcher/text.h"

// Set once the player has been warned in this run: the exit code says so.
extern bool PlayerWarned;

// "Warning: <text>" or "Error: <text>" and CR LF on standard output, in
// the ANSI code page; a box with OK when there is no standard output (or
// the line could not be written).
void TellPlayer(MessageKind kind, const Text& text);

// A step that failed: what it tried, on which file or folder, and the
// platform's error.
struct StepFailure {
    const char16_t* action = u"";  // e.g. u"copy over", completes "Could not ..."
    Text path;
    std::uint32_t error = 0;
};

// The texts, short and plain: a player reads them in a box.
Text GameNotFoundText(const Text& gameExe);
Text AlreadyRunningText(const Text& gameFolder);
Text SwapNotMadeText(const StepFailure& failed);
Text RestoreNotMadeText(const StepFailure& failed, const Text& backup, const Text& live);
Text BlankInFolderNameText(const Text& folderName, const Text& modName);
// What an earlier run left in the game's place, and what became of it.
Text LeftInPlaceText(const StepFailure& failed);
Text ModsArchiveNotTakenOutText(const StepFailure& failed, const Text& live);
Text BackupMissingText(const Text& backup, const Text& live, bool liveThere);
Text UpdateKeptText(const Text& live, const Text& setAside);
