#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace orvel::rules {

// What the offline rules can say about a VAT id: form and check digits only, never whether the
// tax authorities know the number.
enum class VatVerdict {
    Valid,          // the form and the check digits of the member state fit
    Invalid,        // the form fits, the check digits (or a coded date or office number) do not
    Malformed,      // not the form of that member state: length, characters, fixed parts
    NotMemberState, // the country code names no member state (nor XI)
};

struct VatCheck
{
    VatVerdict Verdict = VatVerdict::Malformed;
    std::string CountryCode; // upper case as given when two letters, else empty
    std::string Number;      // upper case, blanks, dots and hyphens removed
};

// The 27 member states (Greece as EL) and XI, Northern Ireland.
bool IsVatMemberState(std::string_view countryCode);
// An id (normalised, country code in front) whose two leading letters name a country VIES does not serve ("GB…",
// "CH…"); false for anything shorter or not led by two capitals, which VIES itself refuses.
bool IsOutsideVies(std::string_view vatId);

// Checks a VAT id as VIES takes it: the country code and the national number, which may carry blanks,
// dots, hyphens and lower-case letters ("de", "136.695.976"). The number never carries the country code
// again: VIES answers "DE" + "DE136695976" as not valid, and so does this. Surrounding white space is
// ignored in both. Greece is EL; GR, GB and other codes are not member states.
VatCheck CheckVatId(std::string_view countryCode, std::string_view number);

// The same for a whole id with the country code in front: "ATU13585627", "at u 135 856 27".
VatCheck CheckVatId(std::string_view vatId);

// "valid", "invalid", "malformed", "not-a-member-state".
std::string_view VatVerdictName(VatVerdict verdict);

// requestDate as VIES writes it: the local date and its offset from UTC, "2024-11-11+01:00".
std::string ViesRequestDate(std::time_t now);

} // namespace orvel::rules
