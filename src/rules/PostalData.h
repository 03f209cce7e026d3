#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::rules {

// Appends the matching key of a place name (UTF-8) to key: lower case; umlauts and ß spelt out
// (ä -> ae, ß -> ss) and accents dropped; every run of other characters (blanks, hyphens, dots,
// slashes, brackets) becomes one blank; and the abbreviations of place names made one spelling:
// Sankt/St. -> "st", am/an/a. -> "a", im/in/i. -> "i", bei/b. -> "b", der/den/dem/d. -> "d",
// vor/v. -> "v", ob/o. -> "o". "Neustadt a. d. Aisch" and "neustadt-an-der-aisch" give the same key.
void AppendPlaceKey(std::string_view name, std::string& key);

// Keys compare equal when they differ only in blanks ("garmisch partenkirchen", "garmischpartenkirchen").
bool SameKey(std::string_view a, std::string_view b);

// The short form of a long place name: the German part of a bilingual name, without the river,
// region or district that follows ("Frankfurt am Main" -> "Frankfurt", "Halle (Saale)" -> "Halle",
// "Bautzen - Budyšin" -> "Bautzen"). A name without such an addition is its own short form.
std::string_view ShortPlaceName(std::string_view name);

// German postal codes and their places, read once from the data file and read-only afterwards,
// so that any number of threads may look up at the same time.
//
// The file: UTF-8 lines of a five-digit postal code and its places, separated by TABs, in
// ascending order of the postal code; empty lines and lines starting with "#" are comments, and the
// comment "# Date: " names the data's date.
// The test pair 99999 "Musterstadt" is always added.
class PostalData
{
public:
    using PlaceId = std::uint32_t;

    static constexpr std::uint32_t kTestPostalCode = 99999;
    static constexpr std::string_view kTestPlace = "Musterstadt";

    // Throws std::runtime_error naming the file (and line) when it cannot be read or is damaged.
    static PostalData Load(const std::string& path);
    // The same for the file's content; origin names it in error messages.
    static PostalData Parse(std::string_view text, std::string_view origin);

    // The places of a postal code, in the file's order; empty for an unknown one.
    std::span<const PlaceId> PlacesAt(std::uint32_t postalCode) const;
    bool IsKnown(std::uint32_t postalCode) const { return !PlacesAt(postalCode).empty(); }

    std::string_view Name(PlaceId place) const;      // as in the file: the long form
    std::string_view ShortName(PlaceId place) const; // ShortPlaceName of Name
    std::string_view Key(PlaceId place) const;       // AppendPlaceKey of Name
    std::string_view ShortKey(PlaceId place) const;  // AppendPlaceKey of ShortName
    // The postal codes of a place, ascending.
    std::span<const std::uint32_t> PostalCodesOf(PlaceId place) const;

    // Appends to places every place whose key or short key is key (SameKey), each once, ascending.
    void FindByKey(std::string_view key, std::vector<PlaceId>& places) const;

    std::size_t PostalCodeCount() const { return Codes.size(); }
    std::size_t PairCount() const { return CodePlaces.size(); }
    std::size_t PlaceCount() const { return Places.size(); }
    // The date of the "# Date: " comment as written ("2021-03-20"); empty without one.
    const std::string& Date() const { return DataDate; }

private:
    struct Place
    {
        std::uint32_t NameAt = 0;
        std::uint32_t KeyAt = 0;
        std::uint32_t ShortKeyAt = 0;
        std::uint16_t NameSize = 0;
        std::uint16_t ShortNameSize = 0;
        std::uint16_t KeySize = 0;
        std::uint16_t ShortKeySize = 0;
    };

    static constexpr std::string_view kDateComment = "# Date: ";

    std::string DataDate;
    std::string Names; // every place name once, back to back
    std::string Keys;  // every key and short key, back to back
    std::vector<Place> Places;
    std::vector<std::uint32_t> Codes;      // ascending
    std::vector<std::uint32_t> CodeStarts; // Codes.size() + 1 offsets into CodePlaces
    std::vector<PlaceId> CodePlaces;
    std::vector<std::uint32_t> PlaceStarts; // Places.size() + 1 offsets into PlaceCodes
    std::vector<std::uint32_t> PlaceCodes;
    std::vector<PlaceId> ByKey;      // all places, ordered by key
    std::vector<PlaceId> ByShortKey; // places whose short key differs from the key, ordered by it
};

// Where the service finds postleitzahlen.tsv: share/orvelwddx/ beside the bin folder of the running
// program when the file is there (an installed program), else the data folder of the source tree.
std::string DefaultPostalDataPath();
// A data file of the rules ("postleitzahlen.tsv", "bankleitzahlen.tsv") found the same way.
std::string BuiltInDataPath(std::string_view name);

} // namespace orvel::rules
