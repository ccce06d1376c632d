#pragma once
// What both fuzz targets share: reading the input as UTF-16 and stopping at
// the first broken invariant, with the text that broke it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "launcher/text.h"

// The input bytes as little-endian UTF-16 code units; an odd last byte is dropped.
inline Text UnitsOf(const std::uint8_t* data, std::size_t size) {
    Text units;
    units.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    }
    return units;
}

// Printable ASCII as it is, every other unit as \u{XXXX}, so blanks, zeros
// and quotes can be told apart in the report.
inline std::string Shown(TextView text) {
    std::string shown;
    for (char16_t unit : text) {
        if (unit > 32 && unit < 127) {
            shown += static_cast<char>(unit);
        } else {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u{%04X}", static_cast<unsigned>(unit));
            shown += escaped;
        }
    }
    return shown;
}

// Aborts, so libFuzzer keeps the input, when the condition is false.
#define FUZZ_CHECK(condition, text)                                                         \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n  text: \"%s\"\n", __FILE__, \
                         __LINE__, #condition, Shown(text).c_str());                        \
            std::abort();                                                                   \
        }                                                                                   \
    } while (false)
