// Any command line, zero units and control characters included, scanned
// into arguments and the text forwarded to the game.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "launcher/command_line.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text units = UnitsOf(data, size);
    // Exactly the units and one zero: a read past the zero lands in the
    // sanitizer's red zone instead of in spare string capacity.
    auto line = std::make_unique<char16_t[]>(units.size() + 1);
    std::copy(units.begin(), units.end(), line.get());
    const TextView seen(line.get());  // up to the first zero, which ends the line

    const std::vector<Text> arguments = CommandLineArguments(line.get());
    Text joined;
    std::size_t from = 0;
    for (const Text& argument : arguments) {
        FUZZ_CHECK(!argument.empty(), seen);
        FUZZ_CHECK(argument.find(u'"') == Text::npos, seen);
        // Scanning only drops units: every argument unit comes from the
        // line, after the ones before it.
        for (char16_t unit : argument) {
            from = seen.find(unit, from);
            FUZZ_CHECK(from != TextView::npos, seen);
            ++from;
        }
        joined += u' ';
        joined += argument;
    }

    const Text forwarded = ForwardedArgsOf(line.get());
    FUZZ_CHECK(forwarded.empty() || forwarded[0] == u' ', seen);
    FUZZ_CHECK(forwarded == joined, seen);
    return 0;
}
