#pragma once
// What a folder's volume does with change times, measured in this run on an
// empty file of the launcher's own there (GameLayout::ProbeIn), never
// believed from the volume's name: under Wine every Linux file system
// calls itself NTFS, and an exFAT drive's change time there follows its
// last-write time, which any program may set back. The gate's look at a
// file (LookAt) asks the first; its wait before it lets writers in after
// its own rename (LetWritersIn) asks the second.
#include <cstdint>

#include "launcher/layout.h"
#include "launcher/text.h"

// Whether a change time read in the folder proves anything: this run has
// seen, on its probe file there, that setting the last-write time back
// moves the change time forward, neither back with it nor nowhere. Measured
// once per folder and run; a folder where the probe file cannot be made
// proves nothing.
bool ChangeTimesProveIn(const Text& folder);

// Waits until a change stamped in the folder now (on its probe file)
// carries a later change time than `changeTime`: from then on a write to a
// file there moves that file's change time past it too. Measured on the
// volume's own clock, which may trail the system's (a share's server,
// Linux's coarse clock) and stamps in ticks of its own. False when that
// does not come within a bounded wait, or `changeTime` is 0.
bool ChangeTimePassedIn(const Text& folder, std::uint64_t changeTime);

// Removes the probe files that a killed run (or a power cut) left in the
// folders this run probes: the game's content folder, the mod's, and their
// backup folders. One left in another folder is removed by the next probe
// of that folder.
void RemoveProbesLeft(const GameLayout& paths);

// Forgets what was measured: installing the platform starts a run, which
// measures for itself.
void ForgetVolumeVerdicts();

// The folder a path names its file in, as spelled: everything before its
// last backslash.
Text FolderOf(const Text& path);
