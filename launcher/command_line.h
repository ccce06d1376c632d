#pragma once
// The launcher's two inputs besides the game's files: its working folder
// and its command line.
#include <vector>

#include "launcher/text.h"

// Reads one token at `position` and leaves `position` at the blank or the
// end that stopped it. Quotes only open and close quoted runs; a backslash
// escapes nothing.
Text ReadToken(const char16_t*& position);

// Every argument after the program's own name, quotes removed, in order.
std::vector<Text> CommandLineArguments(const char16_t* commandLine);

// The working folder with one backslash appended, always.
Text FormBaseFolder();

// Every argument after the program's own name, each preceded by one
// space; empty when there is none.
Text ForwardedArgsOf(const char16_t* commandLine);

// The same for the launcher's own command line.
Text FormForwardedArgs();
