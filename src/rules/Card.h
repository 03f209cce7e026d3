#pragma once
// Payment card numbers: Luhn check digit, and the schemes' issuer ranges and lengths (a data table compiled in
// from data/card_schemes.txt).

#include <string>
#include <string_view>

namespace orvel::rules {

enum class CardVerdict {
    Valid,
    Malformed,     // not 12 to 19 digits
    WrongChecksum, // the Luhn check digit does not fit
    UnknownIssuer, // no scheme issues numbers beginning like this
    WrongLength,   // the scheme issues no numbers of this length
};

struct CardCheck
{
    CardVerdict Verdict = CardVerdict::Malformed;
    std::string_view Scheme; // "Visa", "Mastercard", ...; empty when no scheme matched
};

// Blanks and hyphens removed.
std::string NormalizeCard(std::string_view text);
bool LuhnValid(std::string_view digits);
CardCheck CheckCard(std::string_view digits);
// The release of the scheme table's source, "credit-card-type-10.3.0".
std::string_view CardSchemesRelease();

} // namespace orvel::rules
