#pragma once

#include "rules/PostalData.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::rules {

// Every answer of the address check and of the postal-code type, each with its result code.
enum class AddressAnswer {
    Match,               // 0: postal code and place as typed
    Rewritten,           // 9: the place after rewriting its name
    StreetNotChecked,    // 12: postal code and place fit; the street cannot be checked offline
    PoBoxNotChecked,     // 12: postal code and place fit; the PO box cannot be checked offline
    WrongPlace,          // 4: no such place at this postal code; its places are listed
    PlaceMissing,        // 4: no place given; the places of the postal code are listed
    OtherSpelling,       // 4: a place of the postal code in a spelling this mode does not take; listed as well
    UnknownPostalCode,   // 5
    MalformedPostalCode, // 6
    TypeUnknown,         // 100
    TypeWithPlaces,      // 101
    TypeTest,            // 109
    TypeMalformed,       // 110
};

struct AddressCode
{
    AddressAnswer Answer;
    int Result;
    std::string_view Text; // UTF-8
};

// The table of codes and texts, in the order of AddressAnswer.
std::span<const AddressCode> AddressCodes();
const AddressCode& AddressCodeOf(AddressAnswer answer);

// Put in front of every check answer for the test postal code 99999.
inline constexpr std::string_view kTestDataPrefix = "Testdaten: ";

struct AddressQuery
{
    std::string_view PostalCode{};  // blanks around it are ignored
    std::string_view Place{};       // UTF-8, as typed
    std::string_view Street{};      // empty when not asked
    std::string_view HouseNumber{}; // empty when not asked
    std::string_view PoBox{};       // empty when not asked
    // 0: exact names only; 1: also rewritten short names and districts; 2: also rewritten long
    // names; 3: as 2, answering the long name. Below 0 counts as 0, above 3 as 3.
    int Rewrite = 0;
};

// One answer, field by field as the reply carries it; texts are UTF-8. The views point into the
// PostalData and the query, so they live as long as both.
struct AddressVerdict
{
    AddressAnswer Answer = AddressAnswer::MalformedPostalCode;
    int Result = 0;                    // "result"
    std::string Resulttext;            // "resulttext"
    std::string_view Rewritten;        // "rewritten": the place's name as answered; empty when the typed name stands
    std::string_view Str46;            // "str46": streets are not known offline, always empty
    std::string_view Str22;            // "str22": always empty
    std::string_view Ortsteil;         // "ortsteil": the district typed after the place ("Berlin-Mitte")
    std::string_view PlzOut;           // "plzout": the postal code when the check passed
    std::vector<std::string> Orte;     // "orte" when Result is 4: "PLZ|Ort", the place after the last "|"
    std::vector<std::string> AlteOrte; // "alteorte": former names; the data has none, always empty
    bool StreetNotChecked = false;     // a street or PO box was given and could not be checked
    bool TestData = false;             // the test postal code 99999
};

// Postal code and place (and, in name only, street or PO box) against the data.
AddressVerdict CheckAddress(const PostalData& data, const AddressQuery& query);

struct PostalCodeTypeVerdict
{
    AddressAnswer Answer = AddressAnswer::TypeMalformed;
    int Result = 0;              // "result"
    std::string_view Resulttext; // "resulttext"
};

PostalCodeTypeVerdict GetPlzType(const PostalData& data, std::string_view postalCode);

// Five digits, blanks around them ignored; nothing for anything else.
std::optional<std::uint32_t> ParsePostalCode(std::string_view postalCode);

} // namespace orvel::rules
