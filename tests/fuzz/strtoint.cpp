// Integer reading as the replies' numbers are read: the two forms agree, and a number read prints back the same.

#include "platform/StrToInt.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto value = TryStrToInt(text);
    if (StrToIntDef(text, 12345) != value.value_or(12345))
        __builtin_trap();
    if (value && TryStrToInt(std::to_string(*value)) != value)
        __builtin_trap();
    return 0;
}
