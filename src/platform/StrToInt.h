#pragma once

#include <cstdint>
#include <string_view>

namespace orvel {

// Reads a signed 32-bit integer: leading blanks, one sign, "$" or "0x" for hexadecimal digits. Empty text, any
// other character or an overflow gives Default.
int32_t StrToIntDef(std::string_view text, int32_t Default);

} // namespace orvel
