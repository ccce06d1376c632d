#pragma once
// Text is UTF-16 throughout the launcher; it becomes wchar_t only where it
// is handed to Windows.
#include <string>
#include <string_view>
#include <type_traits>

using Text = std::u16string;
using TextView = std::u16string_view;

// A blank is any code unit from 1 to 32: the space, the tab, the line breaks
// and every other control character. Everything above 32 is ordinary.
constexpr bool IsBlank(char16_t unit) { return unit >= 1 && unit <= 32; }

// A whole number in decimal digits, a minus sign first when it is negative.
template <typename Integer>
Text DecimalText(Integer value) {
    static_assert(std::is_integral_v<Integer>, "DecimalText takes a whole number");
    const std::string digits = std::to_string(value);
    return Text(digits.begin(), digits.end());
}
