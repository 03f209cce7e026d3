#pragma once
// ISO 9362 business identifier codes.

#include <string>
#include <string_view>

namespace orvel::rules {

enum class BicVerdict {
    Valid,
    Malformed,      // not 4 letters or digits for the institution, 2 letters, 2 letters or digits, optional 3 more
    UnknownCountry, // positions 5 and 6 are no ISO 3166 country code
};

// Blanks removed, letters upper-cased.
std::string NormalizeBic(std::string_view text);
BicVerdict CheckBic(std::string_view bic);
// Whether two valid BICs name the same office: an 8-character BIC equals its 11-character form with "XXX".
bool SameBic(std::string_view a, std::string_view b);

} // namespace orvel::rules
