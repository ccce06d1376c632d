// The working folder cut into its parts, and the mod's name.
#include "launcher/split.h"

void SplitText(char16_t delimiter, const Text& text, std::vector<Text>& list, CharStep next) {
    list.clear();
    const char16_t* p = text.c_str();
    const char16_t* const end = p + text.size();
    auto skipBlanks = [&] {
        while (p < end && IsBlank(*p)) p = next(p);
    };

    skipBlanks();
    while (p < end) {
        const char16_t* start = p;
        while (p < end && !IsBlank(*p) && *p != delimiter) p = next(p);
        list.emplace_back(start, p);
        skipBlanks();
        if (p < end && *p == delimiter) {
            const char16_t* after = next(p);
            if (after >= end) list.emplace_back();
            p = after;
            skipBlanks();
        }
    }
}

const Text& ModName(const std::vector<Text>& pathParts) { return pathParts[pathParts.size() - 2]; }
