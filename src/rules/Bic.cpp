#include "rules/Bic.h"

#include "rules/Iban.h"

#include <algorithm>

namespace orvel::rules {
namespace {

// ISO 3166-1 alpha-2, sorted, plus XK (Kosovo), which SWIFT uses.
constexpr std::string_view kCountries =
    "AD AE AF AG AI AL AM AO AQ AR AS AT AU AW AX AZ BA BB BD BE BF BG BH BI BJ BL BM BN BO BQ BR BS BT BV BW BY BZ "
    "CA CC CD CF CG CH CI CK CL CM CN CO CR CU CV CW CX CY CZ DE DJ DK DM DO DZ EC EE EG EH ER ES ET FI FJ FK FM FO "
    "FR GA GB GD GE GF GG GH GI GL GM GN GP GQ GR GS GT GU GW GY HK HM HN HR HT HU ID IE IL IM IN IO IQ IR IS IT JE "
    "JM JO JP KE KG KH KI KM KN KP KR KW KY KZ LA LB LC LI LK LR LS LT LU LV LY MA MC MD ME MF MG MH MK ML MM MN MO "
    "MP MQ MR MS MT MU MV MW MX MY MZ NA NC NE NF NG NI NL NO NP NR NU NZ OM PA PE PF PG PH PK PL PM PN PR PS PT PW "
    "PY QA RE RO RS RU RW SA SB SC SD SE SG SH SI SJ SK SL SM SN SO SR SS ST SV SX SY SZ TC TD TF TG TH TJ TK TL TM "
    "TN TO TR TT TV TW TZ UA UG UM US UY UZ VA VC VE VG VI VN VU WF WS XK YE YT ZA ZM ZW";

bool IsUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool IsUpperOrDigit(char c)
{
    return IsUpper(c) || (c >= '0' && c <= '9');
}

bool KnownCountry(std::string_view code)
{
    // Every code takes three characters of the list, so a hit at a multiple of three is a whole code.
    for (size_t at = kCountries.find(code); at != std::string_view::npos; at = kCountries.find(code, at + 1))
        if (at % 3 == 0)
            return true;
    return false;
}

} // namespace

std::string NormalizeBic(std::string_view text)
{
    return NormalizeIban(text);
}

BicVerdict CheckBic(std::string_view bic)
{
    if (bic.size() != 8 && bic.size() != 11)
        return BicVerdict::Malformed;
    const std::string_view institution = bic.substr(0, 4), country = bic.substr(4, 2), rest = bic.substr(6);
    if (!std::all_of(institution.begin(), institution.end(), IsUpperOrDigit) ||
        !std::all_of(country.begin(), country.end(), IsUpper) || !std::all_of(rest.begin(), rest.end(), IsUpperOrDigit))
        return BicVerdict::Malformed;
    return KnownCountry(country) ? BicVerdict::Valid : BicVerdict::UnknownCountry;
}

bool SameBic(std::string_view a, std::string_view b)
{
    const auto branch = [](std::string_view bic) { return bic.size() == 8 ? std::string_view("XXX") : bic.substr(8); };
    return a.substr(0, 8) == b.substr(0, 8) && branch(a) == branch(b);
}

} // namespace orvel::rules
