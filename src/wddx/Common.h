#pragma once
// Reading fields out of the checking service's WDDX replies (8-bit Windows-1252 text).

#include <string>
#include <string_view>

namespace orvel {

// The decoded value of the string variable Name, found by a literal, case-insensitive text search; the first
// occurrence wins. Empty text when there is none.
std::string GetWddxVar(std::string_view Packet, std::string_view Name);

// Decodes the umlaut, sharp s, "&amp;", "&lt;" and "&gt;" entities, one kind after another.
std::string DecodeEntities(std::string Text);

} // namespace orvel
