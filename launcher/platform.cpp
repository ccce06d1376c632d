// The installed platform, and each concern of it.
#include "launcher/platform.h"

#include "launcher/volume_probe.h"

namespace {
Platform* current = nullptr;
}

// What a run measured of its volumes holds for the platform it was measured
// through.
void UsePlatform(Platform* platform) {
    current = platform;
    ForgetVolumeVerdicts();
}

ProgramInputs& Inputs() { return *current; }
FileSystem& Files() { return *current; }
GameSession& Game() { return *current; }
PlayerOutput& Output() { return *current; }
ProcessEnd& Process() { return *current; }
