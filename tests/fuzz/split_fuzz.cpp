// Any working folder split into path parts for the mod name, and any text
// split as it stands.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "launcher/split.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// One code unit at a time, never past a zero unit.
const char16_t* NextUnit(const char16_t* at) { return *at ? at + 1 : at; }

bool HoldsBlankOrBackslash(const Text& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char16_t unit) { return IsBlank(unit) || unit == u'\\'; });
}

// The mod's name as a player reads it off the folder: the last word of the
// folder's last name, or nothing when that name has no word.
Text LastWordOfLastName(const Text& folder) {
    const std::size_t nameStart = folder.rfind(u'\\') + 1;  // 0 when there is none
    std::size_t end = folder.size();
    while (end > nameStart && IsBlank(folder[end - 1])) --end;
    std::size_t start = end;
    while (start > nameStart && !IsBlank(folder[start - 1])) --start;
    return folder.substr(start, end - start);
}

// Splitting only cuts: no item keeps a cut unit, and the items, joined,
// are the text without its blanks and backslashes.
void CheckItems(const Text& text, const std::vector<Text>& items) {
    Text joined;
    for (const Text& item : items) {
        FUZZ_CHECK(!HoldsBlankOrBackslash(item), text);
        joined += item;
    }
    Text kept;
    for (char16_t unit : text) {
        if (!IsBlank(unit) && unit != u'\\') kept += unit;
    }
    FUZZ_CHECK(joined == kept, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // No folder name holds a zero unit, and a character step stops at one:
    // zeros are dropped.
    Text folder = UnitsOf(data, size);
    folder.erase(std::remove(folder.begin(), folder.end(), u'\0'), folder.end());
    // The base folder as the launcher forms it: the folder and one backslash.
    const Text baseFolder = folder + u'\\';

    std::vector<Text> parts;
    SplitText(u'\\', baseFolder, parts, NextUnit);
    // The trailing backslash always gives the name's last item and an empty one.
    FUZZ_CHECK(parts.size() >= 2, baseFolder);
    FUZZ_CHECK(parts.back().empty(), baseFolder);
    const Text& modName = ModName(parts);
    FUZZ_CHECK(!HoldsBlankOrBackslash(modName), baseFolder);
    FUZZ_CHECK(modName == LastWordOfLastName(folder), baseFolder);
    CheckItems(baseFolder, parts);

    // The folder itself, which need not end in a backslash: no invariant on
    // the count, but the same cuts.
    SplitText(u'\\', folder, parts, NextUnit);
    CheckItems(folder, parts);
    return 0;
}
