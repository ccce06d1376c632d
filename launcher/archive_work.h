#pragma once
// What the archive steps give back, and the one context of a run's archive
// work. A step changes files and returns what happened: the failure that
// stopped it, and the versions it kept aside on the way. It tells the
// player nothing; the procedure (archives.cpp) and the marker's rules
// (rules.cpp) turn what the steps returned into the player's messages,
// kept in order in the context and told when the work is done.
#include <optional>
#include <vector>

#include "launcher/gate.h"
#include "launcher/layout.h"
#include "launcher/marker.h"
#include "launcher/notice.h"
#include "launcher/platform.h"
#include "launcher/run_record.h"
#include "launcher/text.h"

// Nothing when a step went through; else what it tried, on which file, and
// why, for the player's message.
using Failed = std::optional<StepFailure>;

// A version kept aside: where it stood (as the player knows it), and the
// kept file it is now; `readWhileWritten` when it is a copy of a file that
// another program wrote while it was read (the earlier version whole, or a
// mix of two).
struct KeptAside {
    Text from;
    Text as;
    bool readWhileWritten = false;
};

// What a step did: the failure that stopped it, if any; every version it
// kept aside on the way, each to be told; and, for a step that replaced
// the game's backup, what the old backup was kept as (empty: it was
// elsewhere, or there was none).
struct [[nodiscard]] StepOutcome {
    Failed failed;
    std::vector<KeptAside> kept;
    Text backupKeptAs;

    // Takes in what a step it ran did, and gives back that step's failure.
    [[nodiscard]] const Failed& Add(const StepOutcome& other);
    // Takes in what the gate did with a file that stood at `from`: its
    // failure, and the version kept aside, told as `from`'s.
    void Add(const Retired& retired, const Text& from);
};

// What the swap proved, for the way back after the game. Each holds for its
// two files as they were then, and lasts while neither has changed since
// (StillUnchanged): the way back then reads no archive to know it.
struct WayBack {
    // The capture holds the game's backup's bytes: it may go back itself.
    std::optional<Proof> captureHoldsBackup;
    // The live archive is the launcher's copy of the mod's archive.
    std::optional<Proof> liveIsModsCopy;
    // The marker the swap wrote: what the way back settles by, should the
    // marker be gone by then.
    std::optional<Marker> swapped;
};

// One run's archive work: where the files are, the marker whose rules are
// being settled (none otherwise), what the swap proved for the way back, and
// what the player is to be told, in order.
class ArchiveWork {
public:
    explicit ArchiveWork(const GameLayout& layout) : paths(layout) {}

    const GameLayout& paths;
    std::optional<Marker> marker;
    WayBack wayBack;

    // A warning for the player that must come before the game; and one that
    // asks nothing, whose box waits for the game's end (a version kept, an
    // update kept). A step's kept versions each become one. Each carries the
    // kept versions named in it since the last.
    void Warn(Text text);
    void Inform(Text text);
    // The step's kept versions told, its failure given back.
    [[nodiscard]] Failed Take(const StepOutcome& outcome);
    // A kept version as the player is told of it (nothing for none); it
    // takes that name once told.
    Text Named(const Text& keptAs);
    // The kept versions that an earlier run kept and was stopped before it
    // could tell.
    void TellEarlierKept();
    // Tells the player everything, in order, once the work is done, and
    // gives each kept version its told name once its message is told (in
    // the log, or shown); a box after the game names its own.
    void TellAll(RunRecord& run);

private:
    struct Warning {
        Text text;
        BoxWhen when;
        std::vector<Text> untold;
    };
    void Add(Text text, BoxWhen when);
    std::vector<Warning> warnings_;
    std::vector<Text> untold_;
    // Versions that this run kept aside (not an earlier run's, told now).
    std::size_t keptNow_ = 0;
    bool namingEarlier_ = false;
};
