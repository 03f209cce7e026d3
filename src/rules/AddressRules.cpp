#include "rules/AddressRules.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace orvel::rules {
namespace {

using enum AddressAnswer;
using PlaceId = PostalData::PlaceId;

constexpr std::array<AddressCode, 13> kCodes{{
    {Match, 0, "Postleitzahl und Ort passen zusammen."},
    {Rewritten, 9, "Postleitzahl und Ort passen zusammen; der Ortsname wurde berichtigt."},
    {StreetNotChecked, 12, "Postleitzahl und Ort passen zusammen; die Straße lässt sich offline nicht prüfen."},
    {PoBoxNotChecked, 12, "Postleitzahl und Ort passen zusammen; das Postfach lässt sich offline nicht prüfen."},
    {WrongPlace, 4,
     "Der Ort liegt nicht im Gebiet dieser Postleitzahl; die Ortsliste nennt die Orte der Postleitzahl."},
    {PlaceMissing, 4, "Kein Ort angegeben; die Ortsliste nennt die Orte der Postleitzahl."},
    {OtherSpelling, 4, "Schreibweise weicht ab: "}, // the place's name follows
    {UnknownPostalCode, 5, "Die Postleitzahl ist unbekannt."},
    {MalformedPostalCode, 6, "Die Postleitzahl ist ungültig: Sie besteht aus genau fünf Ziffern."},
    {TypeUnknown, 100, "Unbekannte Postleitzahl: Ihr ist kein Ort zugeordnet."},
    {TypeWithPlaces, 101, "Postleitzahl mit Orten: Sie gilt für Anschriften in den Orten ihres Gebiets."},
    {TypeTest, 109, "Testpostleitzahl: Sie gehört zu den Testdaten (Musterstadt), zu keiner echten Anschrift."},
    {TypeMalformed, 110, "Ungültige Postleitzahl: Eine Postleitzahl besteht aus genau fünf Ziffern."},
}};

// After a wrong place or an unknown postal code, where a place of the typed name lies instead.
constexpr std::string_view kElsewhereOne = " Postleitzahl für diesen Ortsnamen: ";
constexpr std::string_view kElsewhereMany = " Postleitzahlen für diesen Ortsnamen: ";
constexpr std::size_t kElsewhereShown = 20; // Hamburg alone has about a hundred

std::string_view Trim(std::string_view s, std::string_view blanks = " \t\r\n")
{
    std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

void AppendPostalCode(std::string& text, std::uint32_t code)
{
    std::array<char, 8> digits{};
    std::snprintf(digits.data(), digits.size(), "%05u", static_cast<unsigned>(code));
    text.append(digits.data());
}

// The postal codes of every place whose key is that of the typed name.
void AppendElsewhere(const PostalData& data, std::string_view place, std::string& text)
{
    std::string key;
    AppendPlaceKey(place, key);
    if (key.empty())
        return;
    std::vector<PlaceId> places;
    data.FindByKey(key, places);
    std::vector<std::uint32_t> codes;
    for (PlaceId id : places) {
        auto of = data.PostalCodesOf(id);
        codes.insert(codes.end(), of.begin(), of.end());
    }
    if (codes.empty())
        return;
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    text.append(codes.size() == 1 ? kElsewhereOne : kElsewhereMany);
    std::size_t shown = std::min(codes.size(), kElsewhereShown);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text.append(i + 1 == codes.size() ? " und " : ", ");
        AppendPostalCode(text, codes[i]);
    }
    if (shown < codes.size())
        text.append(" und ").append(std::to_string(codes.size() - shown)).append(" weitere");
    text.push_back('.');
}

// A place found at the postal code, and how.
struct Found
{
    PlaceId Place = 0;
    bool Exact = false;
    std::string_view District;
    std::string_view LongName; // an official long form as typed ("Ostseebad Binz") that the data holds short
};

// Official prefixes of a place's long name that the data leaves out ("Lutherstadt Wittenberg" is "Wittenberg").
// "Bad" comes off only where the data's name lacks it: a whole name is matched first.
constexpr std::array<std::string_view, 8> kOfficialPrefixes{"Lutherstadt", "Hansestadt", "Ostseeheilbad", "Ostseebad",
                                                            "Seebad",      "Kurort",     "Stadt",         "Bad"};

// The name after an official prefix and a blank, as typed; empty when the name has no such prefix.
std::string_view WithoutOfficialPrefix(std::string_view place)
{
    for (std::string_view prefix : kOfficialPrefixes)
        if (place.size() > prefix.size() + 1 && place.starts_with(prefix) && place[prefix.size()] == ' ')
            return Trim(place.substr(prefix.size() + 1));
    return {};
}

// The same for a key: the remainder of the key after the prefix's key; empty without a prefix.
std::string_view KeyWithoutOfficialPrefix(std::string_view key)
{
    for (std::string_view prefix : kOfficialPrefixes) {
        std::string prefixKey;
        AppendPlaceKey(prefix, prefixKey);
        if (key.size() > prefixKey.size() + 1 && key.starts_with(prefixKey) && key[prefixKey.size()] == ' ')
            return key.substr(prefixKey.size() + 1);
    }
    return {};
}

// The place of the postal code that the typed name means in this mode, if any.
std::optional<Found> FindPlace(const PostalData& data, std::span<const PlaceId> places, std::string_view place,
                               int mode)
{
    // A whole name before a short form: "Halle" may stand beside "Halle (Saale)".
    for (PlaceId id : places)
        if (place == data.Name(id))
            return Found{id, true, {}, {}};
    for (PlaceId id : places)
        if (place == data.ShortName(id))
            return Found{id, true, {}, {}};
    // The official long form of a name the data holds short is that place's long name, exact as typed.
    if (const std::string_view rest = WithoutOfficialPrefix(place); !rest.empty())
        for (PlaceId id : places)
            if (rest == data.Name(id) || rest == data.ShortName(id))
                return Found{id, true, {}, place};
    if (mode < 1)
        return std::nullopt;
    // Mode 1 knows the short names only, modes 2 and 3 the long ones as well.
    std::string key;
    key.reserve(place.size() + 8);
    auto match = [&]() -> std::optional<PlaceId> {
        if (key.empty())
            return std::nullopt;
        for (PlaceId id : places)
            if ((mode >= 2 || data.ShortName(id).size() == data.Name(id).size()) && SameKey(key, data.Key(id)))
                return id;
        for (PlaceId id : places)
            if (SameKey(key, data.ShortKey(id)))
                return id;
        return std::nullopt;
    };
    AppendPlaceKey(place, key);
    if (auto id = match())
        return Found{*id, false, {}, {}};
    // An official long form spelt otherwise ("ostseebad-binz") is a long name: rewritten from mode 2 on.
    if (const std::string_view rest = KeyWithoutOfficialPrefix(key); !rest.empty() && mode >= 2)
        for (PlaceId id : places)
            if (SameKey(rest, data.Key(id)) || SameKey(rest, data.ShortKey(id)))
                return Found{id, false, {}, {}};
    // A district after the place: "Berlin-Mitte", "Frankfurt Höchst"; the longest place first.
    static constexpr std::string_view kSeparators = " -/,(";
    for (std::size_t at = place.find_last_of(kSeparators); at != std::string_view::npos && at > 0;
         at = place.find_last_of(kSeparators, at - 1)) {
        std::string_view district = Trim(place.substr(at), " -/,()\t");
        std::string_view head = Trim(place.substr(0, at), " -/,(\t");
        if (district.empty() || head.empty())
            continue;
        // "an der Lahn" after "Limburg" is the long name's addition, no district.
        key.clear();
        AppendPlaceKey(district, key);
        if (key.size() == 1 || (key.size() > 1 && key[1] == ' '))
            continue;
        key.clear();
        AppendPlaceKey(head, key);
        if (auto id = match())
            return Found{*id, false, district, {}};
    }
    return std::nullopt;
}

void Answer(AddressVerdict& verdict, AddressAnswer answer)
{
    const AddressCode& code = AddressCodeOf(answer);
    verdict.Answer = answer;
    verdict.Result = code.Result;
    if (verdict.TestData)
        verdict.Resulttext.append(kTestDataPrefix);
    verdict.Resulttext.append(code.Text);
}

} // namespace

std::span<const AddressCode> AddressCodes()
{
    return kCodes;
}

const AddressCode& AddressCodeOf(AddressAnswer answer)
{
    return kCodes[static_cast<std::size_t>(answer)];
}

std::optional<std::uint32_t> ParsePostalCode(std::string_view postalCode)
{
    postalCode = Trim(postalCode);
    if (postalCode.size() != 5)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : postalCode) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

AddressVerdict CheckAddress(const PostalData& data, const AddressQuery& query)
{
    AddressVerdict verdict;
    bool street = !Trim(query.Street).empty();
    verdict.StreetNotChecked = street || !Trim(query.PoBox).empty();
    auto code = ParsePostalCode(query.PostalCode);
    if (!code) {
        Answer(verdict, MalformedPostalCode);
        return verdict;
    }
    verdict.TestData = *code == PostalData::kTestPostalCode;
    std::string_view place = Trim(query.Place);
    auto places = data.PlacesAt(*code);
    if (places.empty()) {
        Answer(verdict, UnknownPostalCode);
        AppendElsewhere(data, place, verdict.Resulttext);
        return verdict;
    }
    int mode = std::clamp(query.Rewrite, 0, 3);
    auto found = place.empty() ? std::nullopt : FindPlace(data, places, place, mode);
    if (!found) {
        // The place is there, only spelt otherwise than this mode takes: saying it lies elsewhere would be wrong.
        const auto spelt = place.empty() ? std::nullopt : FindPlace(data, places, place, 3);
        if (spelt && spelt->District.empty()) {
            Answer(verdict, OtherSpelling);
            verdict.Resulttext.append(data.Name(spelt->Place));
        } else {
            Answer(verdict, place.empty() ? PlaceMissing : WrongPlace);
            if (!place.empty())
                AppendElsewhere(data, place, verdict.Resulttext);
        }
        std::string_view postalCode = Trim(query.PostalCode);
        verdict.Orte.reserve(places.size());
        for (PlaceId id : places)
            verdict.Orte.emplace_back(std::string(postalCode) + "|" + std::string(data.Name(id)));
        return verdict;
    }
    // Modes 0 to 2 answer the short name, mode 3 the long one; a typed name that is already
    // the answer stands.
    std::string_view answered = mode != 3                 ? data.ShortName(found->Place)
                                : found->LongName.empty() ? data.Name(found->Place)
                                                          : found->LongName;
    bool rewritten = !found->Exact || (mode == 3 && place != answered);
    if (rewritten)
        verdict.Rewritten = answered;
    verdict.Ortsteil = found->District;
    verdict.PlzOut = Trim(query.PostalCode);
    Answer(verdict,
           verdict.StreetNotChecked ? (street ? StreetNotChecked : PoBoxNotChecked) : (rewritten ? Rewritten : Match));
    return verdict;
}

PostalCodeTypeVerdict GetPlzType(const PostalData& data, std::string_view postalCode)
{
    auto code = ParsePostalCode(postalCode);
    AddressAnswer answer = !code                                  ? TypeMalformed
                           : *code == PostalData::kTestPostalCode ? TypeTest
                           : data.IsKnown(*code)                  ? TypeWithPlaces
                                                                  : TypeUnknown;
    const AddressCode& row = AddressCodeOf(answer);
    return {answer, row.Result, row.Text};
}

} // namespace orvel::rules
