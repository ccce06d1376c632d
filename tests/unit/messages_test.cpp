// Every message the launcher gives the player, as the player gets it: one
// row a cause, with the whole text (what happened, the system's words, the
// advice that fits the cause), its kind, when it is said and the exit code.
// A new message is a new row.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fake_platform.h"
#include "launcher/archives.h"
#include "launcher/layout.h"
#include "launcher/report.h"
#include "launcher/sequence.h"

namespace {

// The places as the fake's log shows them: relative to the mod's folder.
const GameLayout kPlaces(u"");

using Log = std::vector<std::string>;

const Text kGame = kPlaces.LiveArchive();
const Text kGameBackup = kPlaces.GameArchiveBackup();
const Text kMarker = kPlaces.SwapMarker();
const Text kMod = kPlaces.ModArchive();
// What a copy is made as beside its target before its rename.
const Text kNew = u".ModLauncher-new";

// 2024-02-29 12:34:56 UTC as a file time: the files the cases make are
// written a moment after it, so a version kept aside is named after it.
constexpr std::uint64_t kLeapDayNoon = 133536836960000000;

// When the message is said: the game's start is the line that matters.
enum class When { NoGame, BeforeTheGame, AfterTheGame };

struct MessageCase {
    const char* name;  // the cause
    std::function<void(FakePlatform&)> arrange;
    std::string line;  // "Warning: ..." or "Error: ...", without the line end
    When when;
    std::uint32_t exitCode;
    // It asks nothing of the player (a version kept, an update kept): its
    // line comes at once, its box only after the game.
    bool boxAfterTheGame = false;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

void BothArchives(FakePlatform& os) {
    os.clock = kLeapDayNoon;
    os.AddFile(kGame, "G");
    os.AddFile(kMod, "M");
}

// The advice texts, as they close a message.
const std::string kAgain = "then start the launcher again.";
const std::string kAccess =
    "Give your account write access to that folder, or start the launcher as administrator.";
const std::string kInUse = "Close the program that holds the file, " + kAgain;
const std::string kSwapNotMade =
    "Warning: The mod's shaders were not put in place: the game starts with its own shaders. ";
const std::string kRestoreNotMade = "Warning: The game's own shaders could not be put back. ";
const std::string kSafe =
    " They are safe in C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip. The next start of the "
    "launcher puts them back; or copy that file over C:\\G\\mods\\bf2\\Shaders_client.zip by hand.";
const std::string kLive = "C:\\G\\mods\\bf2\\Shaders_client.zip";
const std::string kBackupFolder = "C:\\G\\mods\\bf2\\Backup\\";
const std::string kKeptAtNoon = kBackupFolder + "Shaders_client.kept-2024-02-29-123456.zip";
const std::string kAccessDenied = ": Access is denied. ";
const std::string kLeftInPlace =
    "Warning: Another mod's shaders may still be in place from an earlier run that did not end, "
    "and they could not be put back. ";
const std::string kUpdateKept =
    " was changed while a mod's shaders were in place (the game was updated or repaired, say): "
    "it is kept as the game's own shaders and backed up. The backup it replaces is kept as " +
    kKeptAtNoon + ".";
const std::string kLogNotWritten = " (This message could not be written to the launcher's log, " +
                                   kBackupFolder + "ModLauncher.log: ";
const std::string kLiveMissingNotPutBack =
    "Warning: " + kLive + " was missing, and the game's own shaders could not be put back from " +
    kBackupFolder + "Shaders_client.zip. Could not copy over " + kLive +
    ": There is not enough space on the disk. Free some space on that drive.";
const std::string kPutBackLater = " The next start of the launcher puts them back; or copy " +
                                  kBackupFolder + "Shaders_client.zip to " + kLive + " by hand.";

// An earlier run killed while its game ran: the mod's archive is live, the
// game's in its backup, and the marker says so.
void KilledDuringTheGame(FakePlatform& os) {
    os.clock = kLeapDayNoon;
    os.AddFile(kMod, "M");
    os.AddFile(kGameBackup, "G");
    os.AddFile(kGame, "M");
    os.MarkSwapped();
}

// Another program renames an update into the live archive's name in the one
// moment it is free: after the capture, before the swap's rename.
void UpdateAtTheSwapsRename(FakePlatform& os) {
    os.otherAt = 0;
    os.other = [](FakePlatform& later) {
        if (later.changeLog.back() !=
            "move ..\\bf2\\Shaders_client.zip.ModLauncher-new -> new ..\\bf2\\Shaders_client.zip") {
            later.otherAt = later.changes;  // the next change, then
            return;
        }
        later.AddFile(kGame, "G2");
    };
}

const MessageCase kMessages[] = {
    {"GameNotFound",
     [](FakePlatform& os) {
         os.currentDirectory = u"C:\\Users\\me";
         os.programPath = u"C:\\Users\\me\\ModLauncher.exe";
         os.AddFolder(u"C:\\Users\\me");
     },
     "Error: BF2.exe was not found at C:\\BF2.exe. The launcher must sit in the mod's folder "
     "inside the game's mods folder, and start with that folder as its working folder (a "
     "shortcut's \"Start in\").",
     When::NoGame, kExitGameNotStarted},
    // A shortcut's "Start in" elsewhere, and the launcher's own file outside
    // any game too: both places are named.
    {"GameNotFoundFromEitherFolder",
     [](FakePlatform& os) {
         os.currentDirectory = u"C:\\Users\\me";
         os.programPath = u"C:\\Users\\me\\Downloads\\x\\ModLauncher.exe";
         os.AddFolder(u"C:\\Users\\me");
     },
     "Error: BF2.exe was not found at C:\\BF2.exe (from the working folder) nor at "
     "C:\\Users\\me\\BF2.exe (from the launcher's own folder). The launcher must sit in the "
     "mod's folder inside the game's mods folder.",
     When::NoGame, kExitGameNotStarted},
    // This game's program runs (started without the launcher): by its file.
    {"GameAlreadyRunning",
     [](FakePlatform& os) {
         os.runningPrograms = {u"D:\\Other\\BF2.exe", u"C:\\G\\mods\\..\\bf2.EXE"};
     },
     "Error: The game is already running: C:\\G\\BF2.exe. The launcher changes nothing and "
     "starts no second game. Quit the game first, then start the launcher again.",
     When::NoGame, kExitAlreadyRunning},
    {"AnotherLauncherRuns", [](FakePlatform& os) { os.lockError = kErrorSharingViolation; },
     "Error: A launcher is already running for the game in C:\\G. Close the game first, then "
     "start this one again.",
     When::NoGame, kExitAlreadyRunning},
    {"GameIsNotAProgram", [](FakePlatform& os) { os.startSucceeds = false; },
     "Error: The game could not be started: C:\\G\\BF2.exe: BF2.exe is not a valid Win32 "
     "application. It is not a program that this system can run: reinstall or repair the game.",
     When::AfterTheGame, kExitGameNotStarted},
    {"GamePathNotFound",
     [](FakePlatform& os) {
         os.startSucceeds = false;
         os.startError = kErrorPathNotFound;
     },
     "Error: The game could not be started: C:\\G\\BF2.exe: The system cannot find the path "
     "specified. The system could not reach it by that path: install the game in a folder with a "
     "shorter, plain path, or reinstall it.",
     When::AfterTheGame, kExitGameNotStarted},
    {"GameMayNotBeRun",
     [](FakePlatform& os) {
         os.startSucceeds = false;
         os.startError = kErrorAccessDenied;
     },
     "Error: The game could not be started: C:\\G\\BF2.exe: Access is denied. Your account may "
     "not run it: give it the right to, or start the launcher as administrator.",
     When::AfterTheGame, kExitGameNotStarted},
    {"BlankInTheFolderName",
     [](FakePlatform& os) {
         os.currentDirectory = u"C:\\G\\mods\\my mod";
         os.AddFolder(u"C:\\G\\mods\\my mod");
     },
     "Warning: The mod's folder name \"my mod\" holds a blank, so the game is told only \"mod\" "
     "(+modPath mods/mod). A folder name without blanks avoids this.",
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"SwapCopyOntoAFileInUse",
     [](FakePlatform& os) {
         BothArchives(os);
         os.heldOpen.insert(u"C:\\G\\mods\\bf2\\Shaders_client.zip");  // by another program
     },
     kSwapNotMade + "Could not replace " + kLive +
         ": The process cannot access the file because it is being used by another process. " +
         kInUse,
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"LiveArchiveIsAFolder",
     [](FakePlatform& os) {
         os.AddFile(kMod, "M");
         os.AddFolder(kGame);
     },
     kSwapNotMade + "Could not replace " + kLive + kAccessDenied + kLive +
         " is a folder, not a file: remove or rename it, " + kAgain,
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"MarkerIsAFolder",
     [](FakePlatform& os) {
         BothArchives(os);
         os.AddFolder(kMarker);
     },
     kSwapNotMade + "Could not write C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped" +
         kAccessDenied +
         "C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped is a folder, not a file: remove "
         "or rename it, " +
         kAgain,
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"MarkerFolderNotWritable",
     [](FakePlatform& os) {
         BothArchives(os);
         os.writeFails.insert(kMarker + kNew);
     },
     kSwapNotMade + "Could not write C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped" +
         kAccessDenied + kAccess,
     When::BeforeTheGame, kExitGameRanWithWarning},
    // Read-only, and the launcher could not clear that (another account's
    // file). The live archive is new, and the backup's bytes are kept
    // already: the backup is to be replaced.
    {"GameBackupReadOnly",
     [](FakePlatform& os) {
         BothArchives(os);
         os.AddFile(kGameBackup, "G-old", 0x21);
         os.AddFile(u"..\\bf2\\Backup\\Shaders_client.kept-2023-05-01-080000.zip", "G-old");
         os.attributesKept.insert(kGameBackup);
     },
     kSwapNotMade + "Could not replace C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip" +
         kAccessDenied +
         "C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip is read-only: clear its read-only "
         "attribute, " +
         kAgain,
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"DiskFull",
     [](FakePlatform& os) {
         BothArchives(os);
         os.copyErrors[kGameBackup + kNew] = {kErrorDiskFull};
     },
     kSwapNotMade +
         "Could not copy over C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip: There is not enough "
         "space on the disk. Free some space on that drive.",
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"GameBackupFolderIsAFile",
     [](FakePlatform& os) {
         BothArchives(os);
         os.AddFile(kPlaces.GameBackupFolder(), "a file");
     },
     kSwapNotMade +
         "Could not make the folder C:\\G\\mods\\bf2\\Backup: Error 183. "
         "C:\\G\\mods\\bf2\\Backup is a file, not a folder: remove or rename it, " +
         kAgain + kLogNotWritten + "Error 183.)",
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"LockNotTakenFolderNotWritable",
     [](FakePlatform& os) {
         BothArchives(os);
         os.lockError = kErrorAccessDenied;
     },
     kSwapNotMade + "Could not lock C:\\G\\mods\\bf2\\Backup\\ModLauncher.lock" + kAccessDenied +
         kAccess,
     When::BeforeTheGame, kExitGameRanWithWarning},
    // The swap went through; the game's process still held the archive
    // through every try of the restore.
    {"RestoreOntoAFileInUse",
     [](FakePlatform& os) {
         BothArchives(os);
         os.moveErrors[kGame] = {0, 32, 32, 32, 32, 32, 32};
     },
     kRestoreNotMade + "Could not replace " + kLive +
         ": The process cannot access the file because it is being used by another process. " +
         kInUse + kSafe,
     When::AfterTheGame, kExitGameRanWithWarning},
    // Another program deleted the marker during the game, and it cannot be
    // written again: nothing is put back without it.
    {"MarkerDeletedAndNotWrittenAgain",
     [](FakePlatform& os) {
         BothArchives(os);
         os.duringGame = [](FakePlatform& game) {
             game.disk.Remove(game.Resolve(kMarker));
             game.disk.Commit();
             game.writeFails.insert(kMarker + kNew);
         };
     },
     "Warning: Another program deleted the launcher's record of the mod's shaders in place "
     "while the game ran, and it could not be written again, so the mod's shaders were not "
     "taken out. Could not write C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.swapped" +
         kAccessDenied + kAccess +
         " The game's own shaders are safe in C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip: "
         "copy that file over " +
         kLive + " by hand.",
     When::AfterTheGame, kExitGameRanWithWarning},
    // The backup is copied back: a cleaner took the capture during the game.
    {"RestoreNotFlushed",
     [](FakePlatform& os) {
         BothArchives(os);
         os.flushFails.insert(kGame + kNew);
         os.duringGame = [](FakePlatform& game) {
             game.disk.Remove(game.Resolve(u"..\\bf2\\Shaders_client.zip.ModLauncher-captured"));
         };
     },
     kRestoreNotMade + "Could not flush to disk " + kLive + ": Error 1117. Check that folder, " +
         kAgain + kSafe,
     When::AfterTheGame, kExitGameRanWithWarning},
    // What an earlier run left in the game's place, and what became of it.
    {"EarlierModsArchiveHeldByAnotherProgram",
     [](FakePlatform& os) {
         KilledDuringTheGame(os);
         os.heldOpen.insert(u"C:\\G\\mods\\bf2\\Shaders_client.zip");
     },
     kLeftInPlace + "Could not replace " + kLive +
         ": The process cannot access the file because it is being used by another process. " +
         kInUse + " The game starts with whatever is in place now.",
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"LockNotTakenAfterAnEarlierRun",
     [](FakePlatform& os) {
         KilledDuringTheGame(os);
         os.lockError = kErrorAccessDenied;
     },
     kLeftInPlace + "Could not lock C:\\G\\mods\\bf2\\Backup\\ModLauncher.lock" + kAccessDenied +
         kAccess + " The game starts with whatever is in place now.",
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"GameBackupVanished",
     [](FakePlatform& os) {
         KilledDuringTheGame(os);
         os.disk.Remove(os.Resolve(kGameBackup));
     },
     "Warning: The backup of the game's own shaders, C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip, "
     "is gone, and " +
         kLive +
         " holds a mod's shaders. An antivirus program may have moved the backup away. The "
         "launcher leaves both as they are: put the game's Shaders_client.zip back as "
         "C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip, or repair the game, then start the "
         "launcher "
         "again.",
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"GameUpdatedAfterAnEarlierRun",
     [](FakePlatform& os) {
         KilledDuringTheGame(os);
         os.AddFile(kGame, "G2");
     },
     "Warning: " + kLive + kUpdateKept, When::BeforeTheGame, kExitGameRanWithWarning, true},
    {"GameUpdatedDuringTheGame",
     [](FakePlatform& os) {
         BothArchives(os);
         os.duringGame = [](FakePlatform& game) { game.AddFile(kGame, "G2"); };
     },
     "Warning: " + kLive + kUpdateKept, When::AfterTheGame, kExitGameRanWithWarning},
    // The game has no archive of its own; the mod's stays held past the game.
    {"ModsArchiveNotTakenOut",
     [](FakePlatform& os) {
         os.AddFile(kMod, "M");
         os.duringGame = [](FakePlatform& game) {
             game.heldOpen.insert(u"C:\\G\\mods\\bf2\\Shaders_client.zip");
         };
     },
     "Warning: The mod's shaders could not be taken out of the game's folder (the game has no "
     "shaders of its own there). Could not replace " +
         kLive +
         ": The process cannot access the file because it is being used by another process. " +
         kInUse + " The next start of the launcher takes them out; or delete " + kLive +
         " by hand.",
     When::AfterTheGame, kExitGameRanWithWarning},
    // What the launcher found, and kept or put right, by the rule that it
    // never destroys bytes found nowhere else.
    {"LeftoverCopyOfAVersionFoundNowhereElse",
     [](FakePlatform& os) {
         BothArchives(os);
         os.AddFile(kGameBackup + kNew, "X");
     },
     "Warning: " + kBackupFolder +
         "Shaders_client.zip.ModLauncher-new held a version of the game's shaders found in no "
         "other file: it is kept as " +
         kKeptAtNoon + ". Delete it once you know you do not need it.",
     When::BeforeTheGame, kExitGameRanWithWarning, true},
    {"GameUpdatedBetweenRuns",
     [](FakePlatform& os) {
         BothArchives(os);
         os.AddFile(kGameBackup, "G0");
     },
     "Warning: " + kLive +
         " is not the game's backed-up shaders nor a mod's (the game was updated or repaired "
         "since the launcher last ran, say): it is kept as the game's own shaders and backed up. "
         "The backup it replaces is kept as " +
         kKeptAtNoon + ".",
     When::BeforeTheGame, kExitGameRanWithWarning, true},
    {"GameUpdatedDuringTheSwap",
     [](FakePlatform& os) {
         BothArchives(os);
         UpdateAtTheSwapsRename(os);
     },
     "Warning: " + kLive +
         " changed just as the mod's shaders were being put in its place (an update, say): it is "
         "kept as the game's own shaders and backed up, and the game starts with them, without "
         "the mod's shaders. The backup it replaces is kept as " +
         kKeptAtNoon + ".",
     When::BeforeTheGame, kExitGameRanWithWarning},
    // A mod's archive's bytes live with no marker: a swap whose marker never
    // reached the disk, or the game's update that a mod ships too.
    {"ModsArchiveLeftWithoutMarker",
     [](FakePlatform& os) {
         os.clock = kLeapDayNoon;
         os.AddFile(kMod, "M");
         os.AddFile(kGameBackup, "G");
         os.AddFile(kGame, "M");
     },
     "Warning: " + kLive +
         " holds the same bytes as the mod's shaders C:\\G\\mods\\mymod\\Shaders_client.zip" +
         ", with no record that the launcher put them there: it is kept as the game's own "
         "shaders and backed up. The backup it replaces is kept as " +
         kKeptAtNoon + ". If they are a mod's shaders left in place, copy that file over " + kLive +
         " and start the launcher again.",
     When::BeforeTheGame, kExitGameRanWithWarning, true},
    {"GameArchiveMissing",
     [](FakePlatform& os) {
         os.AddFile(kMod, "M");
         os.AddFile(kGameBackup, "G");
     },
     "Warning: " + kLive +
         " was missing: the game's own shaders are put back from "
         "C:\\G\\mods\\bf2\\Backup\\Shaders_client.zip.",
     When::BeforeTheGame, kExitGameRanWithWarning, true},
    // The live archive missing, and its backup cannot be put back: the game
    // starts without shaders in that place, mod or none, and is told so.
    {"GameArchiveMissingAndNotPutBack",
     [](FakePlatform& os) {
         os.AddFile(kMod, "M");
         os.AddFile(kGameBackup, "G");
         os.copyErrors[kGame + kNew] = {kErrorDiskFull};
     },
     kLiveMissingNotPutBack +
         " The mod's shaders were not put in place either: the game starts without shaders in "
         "that place." +
         kPutBackLater,
     When::BeforeTheGame, kExitGameRanWithWarning},
    {"GameArchiveMissingAndNotPutBackNoMod",
     [](FakePlatform& os) {
         os.AddFile(kGameBackup, "G");
         os.copyErrors[kGame + kNew] = {kErrorDiskFull};
     },
     kLiveMissingNotPutBack + " The game starts without shaders in that place." + kPutBackLater,
     When::BeforeTheGame, kExitGameRanWithWarning},
    // A folder the log cannot be written in: the message says so.
    {"LogNotWritable",
     [](FakePlatform& os) {
         BothArchives(os);
         os.heldOpen.insert(u"C:\\G\\mods\\bf2\\Shaders_client.zip");
         os.writeFails.insert(kPlaces.Log() + kNew);
     },
     kSwapNotMade + "Could not replace " + kLive +
         ": The process cannot access the file because it is being used by another process. " +
         kInUse + kLogNotWritten + "Access is denied.)",
     When::BeforeTheGame, kExitGameRanWithWarning},
};

class Messages : public testing::TestWithParam<MessageCase> {};

// Where the first write (a line) and the game's start fall in the log.
void ExpectSaidAt(const Log& log, When when) {
    const auto written = std::find_if(log.begin(), log.end(), [](const std::string& entry) {
        return entry.rfind("WriteFile", 0) == 0 || entry == "box";
    });
    const auto start = std::find(log.begin(), log.end(), "start");
    ASSERT_NE(written, log.end()) << "nothing was said";
    switch (when) {
        case When::NoGame:
            EXPECT_EQ(start, log.end()) << "a game was started";
            break;
        case When::BeforeTheGame:
            EXPECT_LT(written, start) << "said after the game's start";
            break;
        case When::AfterTheGame:
            EXPECT_GT(written, start) << "said before the game's start";
            break;
    }
}

// With a standard output (a pipe here): one line, handed over whole in one
// write when it is formed, never a box.
TEST_P(Messages, OnAPipeOneWholeLineAndNoBox) {
    FakePlatform os;
    os.stdOutputType = 3;  // FILE_TYPE_PIPE
    GetParam().arrange(os);
    EXPECT_EQ(RunLaunchSequence(), GetParam().exitCode);
    EXPECT_EQ(os.writes, Log{GetParam().line + "\r\n"});
    EXPECT_TRUE(os.boxes.empty());
    ExpectSaidAt(os.log, GetParam().when);
}

// Without one: the same text in the launcher's own box.
TEST_P(Messages, WithoutStandardOutputTheSameTextInABox) {
    FakePlatform os;
    os.stdOutput = 0;
    GetParam().arrange(os);
    EXPECT_EQ(RunLaunchSequence(), GetParam().exitCode);
    std::string box = GetParam().line;
    const std::size_t colon = box.find(": ");
    std::transform(box.begin(), box.begin() + 1, box.begin(), ::tolower);
    box.replace(colon, 2, ": ");
    EXPECT_EQ(os.boxes, Log{box});
    ExpectSaidAt(os.log, GetParam().boxAfterTheGame ? When::AfterTheGame : GetParam().when);
}

INSTANTIATE_TEST_SUITE_P(Table, Messages, testing::ValuesIn(kMessages),
                         [](const testing::TestParamInfo<MessageCase>& info) {
                             return info.param.name;
                         });

// A caller that gave a standard output is never blocked by a box, even
// when the line cannot be written (the reader went away); the exit code
// still tells, and the error is not left to a later failure report.
TEST(TellPlayer, LineThatCannotBeWrittenShowsNoBox) {
    FakePlatform os;
    os.stdOutputType = 3;
    os.writeError = 232;  // ERROR_NO_DATA: the pipe is being closed
    os.startSucceeds = false;
    EXPECT_EQ(RunLaunchSequence(), kExitGameNotStarted);
    EXPECT_TRUE(os.boxes.empty());
    EXPECT_EQ(StdOut.TakeStatus(), 0);
}

}  // namespace
