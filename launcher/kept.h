#pragma once
// The versions of the game's archive kept aside: each a file of its own in
// the game's backup folder, named after its last-write time, which the
// player may delete once they know it is not needed. Keeping aside is a
// rename to a free name: it destroys nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "launcher/layout.h"
#include "launcher/notice.h"
#include "launcher/text.h"

// Every version is kept, however many there are: none is destroyed to make
// room, and none stops a swap. From this many on, a run that keeps one more
// tells the player, after the game, how many are kept, the room they take
// and the oldest, so that old game versions can be deleted.
inline constexpr std::size_t kKeptManyFrom = 4;

// The versions kept aside so far: release 1.2.0's one and the launcher's
// own. A folder that cannot be listed gives none, so more is kept, not less.
std::vector<Text> KeptVersions(const GameLayout& paths);

// The kept versions summed up for the player: how many, their bytes, and
// the oldest by last-write time (empty when there is none).
struct KeptSummary {
    std::size_t count = 0;
    std::uint64_t bytes = 0;
    Text oldest;
};
KeptSummary SumUpKept(const GameLayout& paths);

// What keeping a file aside came to: where it is kept now, or why not.
struct Kept {
    Text as;
    std::optional<StepFailure> failed;
};

// Renames the file among the kept versions under a free name from its
// last-write time, so that it replaces nothing. The limit is the caller's.
Kept KeepAside(const GameLayout& paths, const Text& path);

// The kept versions not yet told to the player: a kill came between keeping
// and telling.
std::vector<Text> UntoldKeptVersions(const GameLayout& paths);

// Gives a kept version that the player has been told of its name; true when
// it has it. One that cannot have it now is told again by the next run.
bool NameToldKeptVersion(const Text& untold);
