#pragma once
// The mod is selected by the name of the folder the launcher runs in.
#include <vector>

#include "launcher/text.h"

// Steps from one character to the next, as the system counts characters;
// never beyond a zero unit.
using CharStep = const char16_t* (*)(const char16_t* at);

// Cuts `text` into `list` at the delimiter and at runs of blanks, stepping
// character by character with `next`. A delimiter that ends the text gives
// an empty last item; blanks next to a delimiter give none.
void SplitText(char16_t delimiter, const Text& text, std::vector<Text>& list, CharStep next);

// The second-to-last item: with the base folder's trailing backslash, the
// last blank-separated word of the working folder's last name.
const Text& ModName(const std::vector<Text>& pathParts);
