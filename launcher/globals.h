#pragma once
// The launcher's global texts: set by the launch sequence, read by its
// steps, released by the exit routine.
#include "launcher/text.h"

// The working folder with one backslash appended.
extern Text BaseFolder;
// Every argument of the launcher, each after one space.
extern Text ForwardedArgs;
// The game's program file, kept for as long as the game's start record.
extern Text GameExePath;
