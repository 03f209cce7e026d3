#pragma once
// ISO 13616 IBANs: the per-country length and BBAN structure of the IBAN registry (a data table compiled in from
// data/iban_registry.txt) and the mod 97-10 check digits.

#include <string>
#include <string_view>

namespace orvel::rules {

enum class IbanVerdict {
    Valid,
    Malformed,      // characters other than letters and digits, or too short
    UnknownCountry, // no IBAN country of the registry
    WrongLength,
    WrongStructure, // the BBAN's letters and digits are not where the registry puts them
    WrongChecksum,
};

// Blanks removed, letters upper-cased: the form an IBAN is checked and answered in.
std::string NormalizeIban(std::string_view text);
// Checks a normalised IBAN.
IbanVerdict CheckIban(std::string_view iban);
// The two check digits that make country + "00" + bban valid, e.g. IbanCheckDigits("DE", "370400440532013000")
// is "89".
std::string IbanCheckDigits(std::string_view country, std::string_view bban);
// The registry release the table was taken from, and its number of countries.
const std::string& IbanRegistryRelease();
size_t IbanRegistryCountries();

} // namespace orvel::rules
