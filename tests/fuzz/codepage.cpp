// The code-page conversions: Windows-1252 both ways, UTF-8 both ways, and the round trips that must hold.

#include "platform/Codepage.h"
#include "platform/Text.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (Narrow(Widen(bytes)) != bytes)
        __builtin_trap();
    const WideString decoded = FromUtf8(bytes);
    if (FromUtf8(ToUtf8(decoded)) != decoded)
        __builtin_trap();
    Ansi(bytes);
    // The same bytes as UTF-16 code units, lone surrogates and all.
    WideString units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.push_back(char16_t(data[i] | data[i + 1] << 8));
    Narrow(units);
    FromUtf8(ToUtf8(units));
    AnsiUpperCase(bytes);
    return 0;
}
