#pragma once
// Telling the player what the launcher could not do and what would help:
// one line on standard output when there is one, otherwise a box.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "launcher/platform.h"
#include "launcher/run_record.h"
#include "launcher/text.h"

// When a box may come: what the player must know before playing (the mod's
// shaders not put in, and why) at once; what asks nothing (a version kept,
// an update kept) only after the game, so that no box holds the game back.
enum class BoxWhen { AtOnce, AfterTheGame };

// "Warning: <text>" or "Error: <text>" and CR LF on standard output,
// handed to the system whole; a box with OK only when there is no standard
// output. A caller that gave one may read it unattended, so it is never
// blocked by a box: a line it cannot take is lost, and the exit code still
// says what happened. Once the game is found, every message goes to the
// log first, with its date and time; a log that cannot be written is said
// in the message. A warning marks the run's record.
// True when the player has been told: the line is in the log, or was shown
// without an error. A box put off until after the game carries `untold`,
// the kept versions it names, to be named when it is shown.
bool TellPlayer(RunRecord& run, MessageKind kind, const Text& text, BoxWhen when = BoxWhen::AtOnce,
                const std::vector<Text>& untold = {});

// A line for the log alone: what the launcher did that asks nothing and
// changes nothing the player must know of. A log that cannot be written is
// let be.
void NoteInLog(const RunRecord& run, const Text& text);

// The boxes put off until the game's end, shown now, in order; gives the
// kept versions they named.
std::vector<Text> ShowBoxesAfterTheGame(RunRecord& run);

// A step that failed: what it tried, on which file or folder, and why: the
// platform's error, or one of the launcher's own reasons.
struct StepFailure {
    enum class Why {
        SystemError,    // `error` says it
        SourceChanged,  // another program wrote the source while it was copied
    };
    const char16_t* action = u"";  // e.g. u"copy over", completes "Could not ..."
    Text path;
    std::uint32_t error = 0;
    Why why = Why::SystemError;
    // The player has been told of it already, in its own words.
    bool told = false;
};

// The actions whose path names a folder; every other action's names a file.
// The advice looks at what is really at the path: a folder where a file
// belongs (or the other way round) is said as such, whatever the error.
inline constexpr const char16_t* kMakeFolderAction = u"make the folder";

// The texts, short and plain: a player reads them in a box.
// Added to a message that the log could not take, and why.
Text LogNotWrittenText(const Text& log, std::uint32_t error);
Text GameNotFoundText(const Text& gameExe);
Text AlreadyRunningText(const Text& gameFolder);
Text SwapNotMadeText(const StepFailure& failed);
Text RestoreNotMadeText(const StepFailure& failed, const Text& backup, const Text& live);
Text BlankInFolderNameText(const Text& folderName, const Text& modName);
// The game's program, by its full path, could not be started: the system's
// words for the error and what would help.
Text GameNotStartedText(const Text& gameExe, std::uint32_t error);
// What an earlier run left in the game's place, and what became of it.
Text LeftInPlaceText(const StepFailure& failed);
Text ModsArchiveNotTakenOutText(const StepFailure& failed, const Text& live);
// The marker was deleted during the game and could not be written again:
// nothing is put back without it, and no later run knows what to put back.
Text MarkerLostText(const StepFailure& failed, const Text& backup, const Text& live,
                    bool gameHadArchive);
Text BackupMissingText(const Text& backup, const Text& live, bool liveThere);
Text UpdateKeptText(const Text& live, const Text& setAside);
// The versions of the game's archive that the rule "never destroy bytes
// found nowhere else" made the launcher keep, and what became of the rest.
Text UpdateFoundText(const Text& live, const Text& keptAs);
Text UpdateDuringSwapText(const Text& live, const Text& keptAs);
Text KeptAsideText(const Text& path, const Text& keptAs);
// A copy of a file that another program wrote while it was read: it may be
// the earlier version whole, the only copy of it now, or a mix of two.
Text KeptReadWhileWrittenText(const Text& path, const Text& keptAs);
Text KeptEarlierText(const Text& keptAs);
// The game's backup was gone after the game and is made again from the capture.
Text BackupMadeAgainText(const Text& backup);
// A kept version that the backup holds again (an update rolled back) goes.
Text KeptCopyRemovedText(const Text& kept, const Text& backup);
// The live archive holds a mod's archive's bytes with no marker to say the
// launcher put them there: kept as the game's new archive, like any other.
Text ModsBytesFoundText(const Text& live, const Text& modsArchive, const Text& keptAs);
Text LiveMissingText(const Text& live, const Text& backup);
// Told after the game when one more version is kept and they are many:
// how many, the room they take, the oldest, and that old ones may go.
Text ManyKeptText(std::size_t count, std::uint64_t bytes, const Text& folder, const Text& oldest);
// The live archive was missing, and its backup could not be put back:
// whether the mod's archive then goes in is said too, as the game starts
// without an archive of its own in that place.
Text LiveMissingNotPutBackText(const StepFailure& failed, const Text& live, const Text& backup,
                               bool modArchive);
// The launcher ran in its own folder, as the working folder had no game
// two levels up; and the game found in neither place.
Text OwnFolderUsedText(const Text& workingFolder, const Text& ownFolder);
Text GameNotFoundEitherText(const Text& fromWorking, const Text& fromOwn);
// The game's program is running already, started without this launcher.
Text GameAlreadyRunningText(const Text& gameExe);
