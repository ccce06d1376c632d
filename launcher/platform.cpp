#include "launcher/platform.h"

namespace {
Platform* current = nullptr;
}

Platform& Os() { return *current; }

void UsePlatform(Platform* platform) { current = platform; }
