#include "rules/Card.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvel::rules {
extern const char kCardSchemes[]; // CardSchemesData.cpp, made from data/card_schemes.txt

namespace {

struct Range
{
    std::string_view Scheme;
    std::string_view From; // the number's first From.size() digits lie in From..To
    std::string_view To;
    uint32_t Lengths; // bit n: numbers of n digits
};

struct Schemes
{
    std::string_view Release;
    std::vector<Range> Ranges; // in the table's order
};

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find(separator, start), text.size());
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Lines "name TAB lengths TAB prefixes TAB source"; the views point into the compiled-in table.
Schemes Parse(std::string_view table)
{
    Schemes schemes;
    for (const std::string_view line : Split(table, '\n')) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line.starts_with("release ")) {
            schemes.Release = line.substr(8);
            continue;
        }
        const std::vector<std::string_view> fields = Split(line, '\t');
        if (fields.size() != 4)
            throw std::logic_error("card scheme table: damaged line " + std::string(line));
        uint32_t lengths = 0;
        for (const std::string_view length : Split(fields[1], ','))
            lengths |= 1u << std::stoul(std::string(length));
        for (const std::string_view prefix : Split(fields[2], ' ')) {
            const size_t dash = prefix.find('-');
            const std::string_view from = prefix.substr(0, dash);
            const std::string_view to = dash == std::string_view::npos ? from : prefix.substr(dash + 1);
            if (from.empty() || from.size() != to.size())
                throw std::logic_error("card scheme table: damaged range " + std::string(prefix));
            schemes.Ranges.push_back({fields[0], from, to, lengths});
        }
    }
    return schemes;
}

const Schemes& TheSchemes()
{
    static const Schemes schemes = Parse(kCardSchemes);
    return schemes;
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
    // Overlapping ranges: the longest matching prefix names the scheme, as the table's source resolves them.
    const Range* best = nullptr;
    for (const Range& range : TheSchemes().Ranges) {
        const std::string_view prefix = digits.substr(0, range.From.size());
        if (prefix < range.From || prefix > range.To)
            continue;
        if (!best || range.From.size() > best->From.size())
            best = &range;
    }
    if (!best)
        return {CardVerdict::UnknownIssuer, {}};
    const bool length = (best->Lengths >> digits.size()) & 1u;
    return {length ? CardVerdict::Valid : CardVerdict::WrongLength, best->Scheme};
}

std::string_view CardSchemesRelease()
{
    return TheSchemes().Release;
}

} // namespace orvel::rules
