// The installed platform, and each concern of it.
#include "launcher/platform.h"

namespace {
Platform* current = nullptr;
}

void UsePlatform(Platform* platform) { current = platform; }

ProgramInputs& Inputs() { return *current; }
FileSystem& Files() { return *current; }
GameSession& Game() { return *current; }
PlayerOutput& Output() { return *current; }
ProcessEnd& Process() { return *current; }
