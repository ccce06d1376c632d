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

// Past this many kept versions a run that would have to keep one more to
// swap the mod's archive in does not swap, and asks the player to delete
// what is no longer needed. The limit never stops the way back: what must
// be kept to put the game's archive back is kept, however many there are.
inline constexpr std::size_t kKeptAtMost = 3;
bool KeptListFull(const GameLayout& paths);

// The versions kept aside so far: release 1.2.0's one and the launcher's
// own. A folder that cannot be listed gives none, so more is kept, not less.
std::vector<Text> KeptVersions(const GameLayout& paths);

// What keeping a file aside came to: where it is kept now, or why not.
struct Kept {
    Text as;
    std::optional<StepFailure> failed;
};

// The kept versions are as many as the launcher keeps: "no room" is this
// failure, told with the list of kept files.
StepFailure NoRoomToKeep(const Text& path);
bool IsNoRoom(const std::optional<StepFailure>& failed);

// Renames the file among the kept versions under a free name from its
// last-write time, so that it replaces nothing. The limit is the caller's.
Kept KeepAside(const GameLayout& paths, const Text& path);

// The kept versions not yet told to the player: a kill came between keeping
// and telling.
std::vector<Text> UntoldKeptVersions(const GameLayout& paths);

// Gives a kept version that the player has been told of its name; true when
// it has it. One that cannot have it now is told again by the next run.
bool NameToldKeptVersion(const Text& untold);
