#include "rules/PostalData.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <unordered_map>
#include <utility>

#ifndef ORVEL_SOURCE_DATA_DIR
#define ORVEL_SOURCE_DATA_DIR "data"
#endif

namespace orvel::rules {
namespace {

// One UTF-8 character: its code point and length; length 0 for a broken sequence.
struct CodePoint
{
    char32_t Value = 0;
    std::size_t Size = 0;
};

CodePoint Decode(std::string_view s, std::size_t at)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(at);
    std::size_t size = lead < 0x80             ? 1
                       : (lead & 0xE0) == 0xC0 ? 2
                       : (lead & 0xF0) == 0xE0 ? 3
                       : (lead & 0xF8) == 0xF0 ? 4
                                               : 0;
    if (size == 0 || at + size > s.size())
        return {};
    char32_t value = size == 1 ? lead : lead & (0x7F >> size);
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {};
        value = value << 6 | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are no characters.
    static constexpr std::array<char32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[size] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return {};
    return {value, size};
}

// The spelling of a Latin-1 letter inside a key; empty for anything that separates words.
std::string_view FoldLatin1(char32_t c)
{
    if (c >= 'a' && c <= 'z')
        return {};
    switch (c) {
    case 0xC4:
    case 0xE4:
        return "ae";
    case 0xD6:
    case 0xF6:
        return "oe";
    case 0xDC:
    case 0xFC:
        return "ue";
    case 0xDF:
        return "ss";
    case 0xC7:
    case 0xE7:
        return "c";
    case 0xD1:
    case 0xF1:
        return "n";
    case 0xDD:
    case 0xFD:
    case 0xFF:
        return "y";
    default:
        break;
    }
    if ((c >= 0xC0 && c <= 0xC5) || (c >= 0xE0 && c <= 0xE5))
        return "a";
    if ((c >= 0xC8 && c <= 0xCB) || (c >= 0xE8 && c <= 0xEB))
        return "e";
    if ((c >= 0xCC && c <= 0xCF) || (c >= 0xEC && c <= 0xEF))
        return "i";
    if ((c >= 0xD2 && c <= 0xD5) || c == 0xD8 || (c >= 0xF2 && c <= 0xF5) || c == 0xF8)
        return "o";
    if ((c >= 0xD9 && c <= 0xDB) || (c >= 0xF9 && c <= 0xFB))
        return "u";
    return {};
}

// The one spelling of the words that place names abbreviate.
std::string_view Abbreviation(std::string_view word)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 12> kWords{{
        {"sankt", "st"},
        {"am", "a"},
        {"an", "a"},
        {"im", "i"},
        {"in", "i"},
        {"bei", "b"},
        {"der", "d"},
        {"den", "d"},
        {"dem", "d"},
        {"vor", "v"},
        {"ob", "o"},
        {"unter", "u"},
    }};
    for (const auto& [full, shortened] : kWords)
        if (word == full)
            return shortened;
    return word;
}

// Offsets and sizes live in 32 and 16 bits; the data stays far below both.
template <typename T> T Narrow(std::size_t value, std::string_view origin)
{
    if (value > std::numeric_limits<T>::max())
        throw std::runtime_error(std::string(origin) + ": too large");
    return static_cast<T>(value);
}

bool IsBlank(char c)
{
    return c == ' ';
}

// Compares two keys as if their blanks were not there.
int CompareKeys(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    for (;;) {
        while (i < a.size() && IsBlank(a[i]))
            ++i;
        while (j < b.size() && IsBlank(b[j]))
            ++j;
        if (i == a.size() || j == b.size())
            return (i == a.size() ? 0 : 1) - (j == b.size() ? 0 : 1);
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i, ++j;
    }
}

// UTF-8 without control characters.
bool IsText(std::string_view s)
{
    for (std::size_t at = 0; at < s.size();) {
        CodePoint point = Decode(s, at);
        if (point.Size == 0 || point.Value < 0x20 || point.Value == 0x7F)
            return false;
        at += point.Size;
    }
    return true;
}

// A place listed twice for a postal code counts once; pairs of one code are contiguous.
void AddPair(std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs, std::uint32_t code, std::uint32_t place)
{
    for (auto it = pairs.rbegin(); it != pairs.rend() && it->first == code; ++it)
        if (it->second == place)
            return;
    pairs.emplace_back(code, place);
}

// Pairs ordered by their first member, as offsets (one per distinct first, and the end) into the seconds.
void Group(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs, std::vector<std::uint32_t>& starts,
           std::vector<std::uint32_t>& seconds)
{
    seconds.reserve(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (i == 0 || pairs[i].first != pairs[i - 1].first)
            starts.push_back(static_cast<std::uint32_t>(i));
        seconds.push_back(pairs[i].second);
    }
    starts.push_back(static_cast<std::uint32_t>(pairs.size()));
    starts.shrink_to_fit();
}

std::string LineError(std::string_view origin, std::size_t line, std::string_view what)
{
    return std::string(origin) + ":" + std::to_string(line) + ": " + std::string(what);
}

} // namespace

void AppendPlaceKey(std::string_view name, std::string& key)
{
    const std::size_t keyStart = key.size();
    std::size_t wordStart = std::string::npos;
    auto endWord = [&] {
        if (wordStart == std::string::npos)
            return;
        std::string_view shortened = Abbreviation(std::string_view(key).substr(wordStart));
        if (shortened.size() != key.size() - wordStart)
            key.replace(wordStart, std::string::npos, shortened);
        wordStart = std::string::npos;
    };
    auto append = [&](std::string_view letters) {
        if (wordStart == std::string::npos) {
            if (key.size() > keyStart)
                key.push_back(' ');
            wordStart = key.size();
        }
        key.append(letters);
    };
    for (std::size_t at = 0; at < name.size();) {
        char c = name[at];
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            append(std::string_view(&name[at], 1));
            ++at;
            continue;
        }
        if (c >= 'A' && c <= 'Z') {
            char lower = static_cast<char>(c - 'A' + 'a');
            append(std::string_view(&lower, 1));
            ++at;
            continue;
        }
        CodePoint point = Decode(name, at);
        if (point.Size == 0) { // a broken byte separates words like punctuation
            endWord();
            ++at;
            continue;
        }
        if (point.Value < 0x80 || (point.Value < 0x100 && FoldLatin1(point.Value).empty()))
            endWord();
        else if (point.Value < 0x100)
            append(FoldLatin1(point.Value));
        else if (point.Value == 0x1E9E) // capital sharp s
            append("ss");
        else // letters beyond Latin-1 (Sorbian names) stay as they are
            append(name.substr(at, point.Size));
        at += point.Size;
    }
    endWord();
}

bool SameKey(std::string_view a, std::string_view b)
{
    return CompareKeys(a, b) == 0;
}

std::string_view ShortPlaceName(std::string_view name)
{
    // Bilingual names give the German name first: "Bautzen - Budyšin".
    std::string_view shortName = name.substr(0, name.find(" - "));
    static constexpr std::array<std::string_view, 17> kAdditions{
        " (",    "/",   ",",    " am ", " an ",  " a.", " im ",    " in ", " i.",
        " bei ", " b.", " ob ", " o.",  " vor ", " v.", " unter ", " u.",
    };
    std::size_t cut = shortName.size();
    for (std::string_view addition : kAdditions)
        cut = std::min(cut, shortName.find(addition));
    shortName = shortName.substr(0, cut);
    while (!shortName.empty() && shortName.back() == ' ')
        shortName.remove_suffix(1);
    return shortName.empty() ? name : shortName;
}

PostalData PostalData::Load(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error(path + ": " + std::generic_category().message(errno));
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        throw std::runtime_error(path + ": read error");
    return Parse(content.str(), path);
}

PostalData PostalData::Parse(std::string_view text, std::string_view origin)
{
    PostalData data;
    std::unordered_map<std::string_view, PlaceId> idOf;
    std::vector<std::pair<std::uint32_t, PlaceId>> pairs;
    auto placeId = [&](std::string_view name) {
        auto [it, added] = idOf.try_emplace(name, Narrow<PlaceId>(data.Places.size(), origin));
        if (added) {
            Place place;
            place.NameAt = Narrow<std::uint32_t>(data.Names.size(), origin);
            place.NameSize = Narrow<std::uint16_t>(name.size(), origin);
            place.ShortNameSize = Narrow<std::uint16_t>(ShortPlaceName(name).size(), origin);
            data.Names.append(name);
            data.Places.push_back(place);
        }
        return it->second;
    };

    std::uint32_t previous = 0;
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        ++lineNumber;
        // A file cut off while it was written or copied loses codes without a trace.
        if (end == std::string_view::npos)
            throw std::runtime_error(LineError(origin, lineNumber, "the file ends within this line"));
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.starts_with(kDateComment))
            data.DataDate = line.substr(kDateComment.size());
        if (line.empty() || line.starts_with('#'))
            continue;
        std::string_view code = line.substr(0, line.find('\t'));
        if (code.size() != 5 || !std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
            throw std::runtime_error(LineError(origin, lineNumber, "no five-digit postal code"));
        std::uint32_t value = 0;
        for (char digit : code)
            value = value * 10 + static_cast<std::uint32_t>(digit - '0');
        if (!data.Codes.empty() && value <= previous)
            throw std::runtime_error(LineError(origin, lineNumber, "postal codes out of order"));
        previous = value;
        if (code.size() == line.size())
            throw std::runtime_error(LineError(origin, lineNumber, "postal code without places"));
        data.Codes.push_back(value);
        for (std::size_t from = code.size() + 1; from <= line.size();) {
            std::size_t to = std::min(line.find('\t', from), line.size());
            std::string_view name = line.substr(from, to - from);
            from = to + 1;
            if (!IsText(name))
                throw std::runtime_error(LineError(origin, lineNumber, "place name is no UTF-8 text"));
            if (name.empty() || name.front() == ' ' || name.back() == ' ')
                throw std::runtime_error(LineError(origin, lineNumber, "empty place name or blanks around it"));
            AddPair(pairs, value, placeId(name));
        }
    }
    if (data.Codes.empty())
        throw std::runtime_error(LineError(origin, lineNumber + 1, "no postal codes in the file"));
    if (data.Codes.back() != kTestPostalCode)
        data.Codes.push_back(kTestPostalCode);
    AddPair(pairs, kTestPostalCode, placeId(kTestPlace));

    Narrow<std::uint32_t>(pairs.size(), origin);
    // Postal code -> places; the pairs came in ascending order of the code, places in the file's order.
    Group(pairs, data.CodeStarts, data.CodePlaces);
    // Place -> postal codes.
    for (auto& [code, place] : pairs)
        std::swap(code, place);
    std::sort(pairs.begin(), pairs.end());
    Group(pairs, data.PlaceStarts, data.PlaceCodes);

    // Keys and the two indexes over them.
    for (PlaceId id = 0; id < data.Places.size(); ++id) {
        Place& place = data.Places[id];
        std::string_view name = data.Name(id);
        place.KeyAt = Narrow<std::uint32_t>(data.Keys.size(), origin);
        AppendPlaceKey(name, data.Keys);
        place.KeySize = Narrow<std::uint16_t>(data.Keys.size() - place.KeyAt, origin);
        place.ShortKeyAt = Narrow<std::uint32_t>(data.Keys.size(), origin);
        AppendPlaceKey(name.substr(0, place.ShortNameSize), data.Keys);
        place.ShortKeySize = Narrow<std::uint16_t>(data.Keys.size() - place.ShortKeyAt, origin);
        data.ByKey.push_back(id);
        if (!SameKey(data.Key(id), data.ShortKey(id)))
            data.ByShortKey.push_back(id);
    }
    std::sort(data.ByKey.begin(), data.ByKey.end(),
              [&](PlaceId a, PlaceId b) { return CompareKeys(data.Key(a), data.Key(b)) < 0; });
    std::sort(data.ByShortKey.begin(), data.ByShortKey.end(),
              [&](PlaceId a, PlaceId b) { return CompareKeys(data.ShortKey(a), data.ShortKey(b)) < 0; });
    data.Keys.shrink_to_fit();
    data.Names.shrink_to_fit();
    return data;
}

std::span<const PostalData::PlaceId> PostalData::PlacesAt(std::uint32_t postalCode) const
{
    auto it = std::lower_bound(Codes.begin(), Codes.end(), postalCode);
    if (it == Codes.end() || *it != postalCode)
        return {};
    auto index = static_cast<std::size_t>(it - Codes.begin());
    return std::span<const PlaceId>(CodePlaces).subspan(CodeStarts[index], CodeStarts[index + 1] - CodeStarts[index]);
}

std::string_view PostalData::Name(PlaceId place) const
{
    return std::string_view(Names).substr(Places[place].NameAt, Places[place].NameSize);
}

std::string_view PostalData::ShortName(PlaceId place) const
{
    return std::string_view(Names).substr(Places[place].NameAt, Places[place].ShortNameSize);
}

std::string_view PostalData::Key(PlaceId place) const
{
    return std::string_view(Keys).substr(Places[place].KeyAt, Places[place].KeySize);
}

std::string_view PostalData::ShortKey(PlaceId place) const
{
    return std::string_view(Keys).substr(Places[place].ShortKeyAt, Places[place].ShortKeySize);
}

std::span<const std::uint32_t> PostalData::PostalCodesOf(PlaceId place) const
{
    return std::span<const std::uint32_t>(PlaceCodes)
        .subspan(PlaceStarts[place], PlaceStarts[place + 1] - PlaceStarts[place]);
}

void PostalData::FindByKey(std::string_view key, std::vector<PlaceId>& places) const
{
    const std::size_t first = places.size();
    auto collect = [&](const std::vector<PlaceId>& index, auto keyOf) {
        auto range = std::equal_range(index.begin(), index.end(), key, [&](const auto& a, const auto& b) {
            if constexpr (std::is_same_v<std::decay_t<decltype(a)>, PlaceId>)
                return CompareKeys((this->*keyOf)(a), b) < 0;
            else
                return CompareKeys(a, (this->*keyOf)(b)) < 0;
        });
        places.insert(places.end(), range.first, range.second);
    };
    collect(ByKey, &PostalData::Key);
    collect(ByShortKey, &PostalData::ShortKey);
    std::sort(places.begin() + static_cast<std::ptrdiff_t>(first), places.end());
    places.erase(std::unique(places.begin() + static_cast<std::ptrdiff_t>(first), places.end()), places.end());
}

std::string BuiltInDataPath(std::string_view name)
{
    // Beside an installed program, then where the library was installed to, then the source tree of a build.
    std::vector<std::filesystem::path> candidates;
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        candidates.push_back(program.parent_path().parent_path() / "share" / "orvelwddx");
#ifdef ORVEL_INSTALL_DATA_DIR
    candidates.emplace_back(ORVEL_INSTALL_DATA_DIR);
#endif
    for (const auto& folder : candidates)
        if (std::filesystem::is_regular_file(folder / name, error))
            return (folder / name).string();
    return std::string(ORVEL_SOURCE_DATA_DIR) + "/" + std::string(name);
}

std::string DefaultPostalDataPath()
{
    return BuiltInDataPath("postleitzahlen.tsv");
}

} // namespace orvel::rules
