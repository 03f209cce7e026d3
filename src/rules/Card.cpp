#include "rules/Card.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>

namespace orvel::rules {
namespace {

constexpr uint32_t LengthBits(std::initializer_list<unsigned> lengths)
{
    uint32_t bits = 0;
    for (const unsigned length : lengths)
        bits |= 1u << length;
    return bits;
}

struct Range
{
    std::string_view Scheme;
    unsigned From; // the number's first Digits digits lie in From..To
    unsigned To;
    unsigned Digits;
    uint32_t Lengths; // bit n: numbers of n digits
};

// Longer prefixes first, so that a co-branded range wins over the scheme's wider one.
const std::array kRanges = {
    Range{"Mastercard", 2221, 2720, 4, LengthBits({16})},
    Range{"Discover", 6011, 6011, 4, LengthBits({16, 17, 18, 19})},
    Range{"JCB", 3528, 3589, 4, LengthBits({16, 17, 18, 19})},
    Range{"Diners Club", 300, 305, 3, LengthBits({14, 15, 16, 17, 18, 19})},
    Range{"Discover", 644, 649, 3, LengthBits({16, 17, 18, 19})},
    Range{"American Express", 34, 34, 2, LengthBits({15})},
    Range{"American Express", 37, 37, 2, LengthBits({15})},
    Range{"Diners Club", 36, 36, 2, LengthBits({14, 15, 16, 17, 18, 19})},
    Range{"Diners Club", 38, 39, 2, LengthBits({14, 15, 16, 17, 18, 19})},
    Range{"Mastercard", 51, 55, 2, LengthBits({16})},
    Range{"Discover", 65, 65, 2, LengthBits({16, 17, 18, 19})},
    Range{"UnionPay", 62, 62, 2, LengthBits({14, 15, 16, 17, 18, 19})},
    Range{"Maestro", 50, 50, 2, LengthBits({12, 13, 14, 15, 16, 17, 18, 19})},
    Range{"Maestro", 56, 59, 2, LengthBits({12, 13, 14, 15, 16, 17, 18, 19})},
    Range{"Maestro", 63, 63, 2, LengthBits({12, 13, 14, 15, 16, 17, 18, 19})},
    Range{"Maestro", 67, 67, 2, LengthBits({12, 13, 14, 15, 16, 17, 18, 19})},
    Range{"Visa", 4, 4, 1, LengthBits({13, 16, 18, 19})},
};

unsigned Prefix(std::string_view digits, unsigned count)
{
    unsigned value = 0;
    for (unsigned i = 0; i < count; ++i)
        value = value * 10 + unsigned(digits[i] - '0');
    return value;
}

} // namespace

std::string NormalizeCard(std::string_view text)
{
    std::string digits;
    digits.reserve(text.size());
    for (const char c : text)
        if (c != ' ' && c != '-')
            digits += c;
    return digits;
}

bool LuhnValid(std::string_view digits)
{
    unsigned sum = 0;
    bool twice = false;
    for (auto c = digits.rbegin(); c != digits.rend(); ++c) {
        unsigned digit = unsigned(*c - '0');
        if (twice && (digit *= 2) > 9)
            digit -= 9;
        sum += digit;
        twice = !twice;
    }
    return sum % 10 == 0;
}

CardCheck CheckCard(std::string_view digits)
{
    if (digits.size() < 12 || digits.size() > 19 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {CardVerdict::Malformed, {}};
    if (!LuhnValid(digits))
        return {CardVerdict::WrongChecksum, {}};
    for (const Range& range : kRanges) {
        const unsigned prefix = Prefix(digits, range.Digits);
        if (prefix < range.From || prefix > range.To)
            continue;
        const bool length = (range.Lengths >> digits.size()) & 1u;
        return {length ? CardVerdict::Valid : CardVerdict::WrongLength, range.Scheme};
    }
    return {CardVerdict::UnknownIssuer, {}};
}

} // namespace orvel::rules
