#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvel {

// Reads a signed 32-bit integer: leading blanks, one sign, "$" or "0x" for hexadecimal digits. Empty text, any
// other character or an overflow gives Default.
int32_t StrToIntDef(std::string_view text, int32_t Default);
// The same reading; no value where StrToIntDef gives Default.
std::optional<int32_t> TryStrToInt(std::string_view text);

} // namespace orvel
