#pragma once

#include <string>
#include <string_view>

namespace orvel {

// Compares 8-bit Windows-1252 texts ignoring letter case, umlauts and other accented letters included.
bool SameText(std::string_view a, std::string_view b);

// Upper case of 8-bit Windows-1252 text, accented letters included ("ß" and "µ" have no upper case here).
std::string AnsiUpperCase(std::string_view text);

// Windows-1252 bytes from a UTF-8 literal, for the German texts the system produces.
std::string Ansi(std::string_view utf8);

} // namespace orvel
