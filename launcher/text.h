#pragma once
// Text is UTF-16 throughout the launcher; it becomes wchar_t only where it
// is handed to Windows.
#include <string>
#include <string_view>

using Text = std::u16string;
using TextView = std::u16string_view;
