#pragma once
// Windows-1252 text (8-bit, std::string) and wide text (UTF-16, WideString).

#include <string>
#include <string_view>

namespace orvel {

using WideString = std::u16string;

// Every byte maps to one character; the five bytes Windows-1252 leaves undefined map to the C1 control
// characters of the same value, so that any 8-bit text survives a round trip.
WideString Widen(std::string_view text);

// Characters outside Windows-1252 become "?".
std::string Narrow(std::u16string_view text);

// UTF-8 at the edges of the system (D-Bus, XML, terminals).
std::string ToUtf8(std::u16string_view text);
WideString FromUtf8(std::string_view text);
// The same as ToUtf8(Widen(text)), in one pass.
std::string AnsiToUtf8(std::string_view text);
// AnsiToUtf8 appended to out, which keeps its capacity for the next text.
void AppendAnsiAsUtf8(std::string& out, std::string_view text);

// The length of the UTF-8 character at text[at] in its shortest form (1 to 4), or 0 where the bytes there are no
// character: a stray continuation byte, a cut or overlong sequence, a surrogate or a value beyond U+10FFFF.
size_t Utf8CharLength(std::string_view text, size_t at);

} // namespace orvel
