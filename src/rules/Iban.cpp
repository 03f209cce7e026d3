#include "rules/Iban.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace orvel::rules {

extern const char kIbanRegistry[]; // IbanRegistryData.cpp, made from data/iban_registry.txt

namespace {

struct Country
{
    std::array<char, 2> Code{};
    size_t Length = 0;
    std::string Structure; // one class letter per BBAN character: n, a or c
};

struct Registry
{
    std::string Release;
    std::vector<Country> Countries; // sorted by code
};

Registry Parse(std::string_view table)
{
    Registry registry;
    size_t start = 0;
    while (start < table.size()) {
        const size_t end = std::min(table.find('\n', start), table.size());
        const std::string line(table.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("release ", 0) == 0) {
            registry.Release = line.substr(8);
            continue;
        }
        Country country;
        country.Code = {line.at(0), line.at(1)};
        const size_t blank = line.find(' ', 3);
        country.Length = std::stoul(line.substr(3, blank - 3));
        // "8!n12!c": counts followed by "!" and a class letter; the row's source follows after a blank.
        const size_t structureEnd = std::min(line.find(' ', blank + 1), line.size());
        for (size_t i = blank + 1; i < structureEnd;) {
            const size_t mark = line.find('!', i);
            const size_t count = std::stoul(line.substr(i, mark - i));
            country.Structure.append(count, line.at(mark + 1));
            i = mark + 2;
        }
        if (country.Structure.size() + 4 != country.Length)
            throw std::logic_error("IBAN registry table: inconsistent line " + line);
        registry.Countries.push_back(std::move(country));
    }
    std::sort(registry.Countries.begin(), registry.Countries.end(),
              [](const Country& a, const Country& b) { return a.Code < b.Code; });
    return registry;
}

const Registry& TheRegistry()
{
    static const Registry registry = Parse(kIbanRegistry);
    return registry;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

// The remainder mod 97 of the number the text stands for, letters counting A = 10 ... Z = 35, continuing from the
// remainder of the text before it.
unsigned Mod97(std::string_view text, unsigned remainder = 0)
{
    // Reduced only when the next step could overflow: a division for every few characters, not for each.
    uint64_t value = remainder;
    for (const char c : text) {
        value = IsDigit(c) ? value * 10 + unsigned(c - '0') : value * 100 + unsigned(c - 'A' + 10);
        if (value >= (uint64_t(1) << 56))
            value %= 97;
    }
    return unsigned(value % 97);
}

} // namespace

std::string NormalizeIban(std::string_view text)
{
    std::string iban;
    iban.reserve(text.size());
    for (const char c : text)
        if (c != ' ' && c != '\t')
            iban += (c >= 'a' && c <= 'z') ? char(c - 0x20) : c;
    return iban;
}

IbanVerdict CheckIban(std::string_view iban)
{
    if (iban.size() < 5 || !IsUpper(iban[0]) || !IsUpper(iban[1]) || !IsDigit(iban[2]) || !IsDigit(iban[3]) ||
        !std::all_of(iban.begin(), iban.end(), [](char c) { return IsDigit(c) || IsUpper(c); }))
        return IbanVerdict::Malformed;
    const auto& countries = TheRegistry().Countries;
    const std::array<char, 2> code{iban[0], iban[1]};
    const auto country = std::lower_bound(countries.begin(), countries.end(), code,
                                          [](const Country& entry, const auto& key) { return entry.Code < key; });
    if (country == countries.end() || country->Code != code)
        return IbanVerdict::UnknownCountry;
    if (iban.size() != country->Length)
        return IbanVerdict::WrongLength;
    for (size_t i = 0; i < country->Structure.size(); ++i) {
        const char c = iban[4 + i];
        const char kind = country->Structure[i];
        if ((kind == 'n' && !IsDigit(c)) || (kind == 'a' && !IsUpper(c)))
            return IbanVerdict::WrongStructure;
    }
    // 00, 01 and 99 leave the same remainder as 97, 98 and 02, but ISO 13616 never issues them.
    const int digits = (iban[2] - '0') * 10 + (iban[3] - '0');
    if (digits < 2 || digits > 98)
        return IbanVerdict::WrongChecksum;
    // Country and check digits move behind the BBAN; the whole must leave 1.
    const unsigned remainder = Mod97(iban.substr(0, 4), Mod97(iban.substr(4)));
    return remainder == 1 ? IbanVerdict::Valid : IbanVerdict::WrongChecksum;
}

std::string IbanCheckDigits(std::string_view country, std::string_view bban)
{
    const unsigned digits = 98 - Mod97("00", Mod97(country, Mod97(bban)));
    return {char('0' + digits / 10), char('0' + digits % 10)};
}

const std::string& IbanRegistryRelease()
{
    return TheRegistry().Release;
}

size_t IbanRegistryCountries()
{
    return TheRegistry().Countries.size();
}

} // namespace orvel::rules
