#include "platform/StrToInt.h"

namespace orvel {

std::optional<int32_t> TryStrToInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    // Hexadecimal spans the full 32 bits ("$FFFFFFFF" is -1); decimal stops at the signed range.
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    uint32_t bits = static_cast<uint32_t>(value);
    if (negative)
        bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

int32_t StrToIntDef(std::string_view text, int32_t Default)
{
    return TryStrToInt(text).value_or(Default);
}

} // namespace orvel
