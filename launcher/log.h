#pragma once
// The launcher's log, ModLauncher.log beside the game's backup: every line
// the player was told, and what the launcher did of its own accord (the
// folder it ran in), each with the date and time, so that what a box said
// is still there once it is dismissed. UTF-8, the newest lines only, and
// never torn: each write makes the whole log anew beside it and renames it
// over the old one. A run that has nothing to tell writes nothing.
#include <cstddef>
#include <cstdint>

#include "launcher/layout.h"
#include "launcher/platform.h"
#include "launcher/text.h"

// The log keeps about this many of its newest bytes: older lines go whole.
inline constexpr std::size_t kLogKeepsBytes = 64 * 1024;

// One line of the log: "YYYY-MM-DD hh:mm:ss UTC  <text>", CR LF; line
// breaks inside the text become blanks, so that every line is one entry.
Text LogLine(std::uint64_t fileTime, TextView text);

// The log as it was with the line added, its oldest lines left out until it
// fits the bound (the new line always stays).
Text WithLineAdded(const Text& log, const Text& line);

// Adds the line to the game's log. A failure leaves the log as it was, and
// is the caller's to say: the run goes on.
[[nodiscard]] OsResult AddToLog(const GameLayout& paths, TextView text);
