#pragma once
// The marker's text: what a swap under way records, written before the live
// archive changes and read by the next run. Only text here: no file calls.
#include <optional>

#include "launcher/platform.h"
#include "launcher/text.h"

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
