#pragma once
// The launcher's command line: its arguments, handed on to the game.
#include <vector>

#include "launcher/text.h"

// Reads one token at `position` and leaves `position` at the blank or the
// end that stopped it. Quotes only open and close quoted runs; a backslash
// escapes nothing.
Text ReadToken(const char16_t*& position);

// Every argument after the program's own name, quotes removed, in order.
std::vector<Text> CommandLineArguments(const char16_t* commandLine);

// Every argument after the program's own name, each preceded by one
// space; empty when there is none.
Text ForwardedArgsOf(const char16_t* commandLine);

// The same for the launcher's own command line.
Text FormForwardedArgs();
