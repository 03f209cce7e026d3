#include "rules/VatRules.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace orvel::rules {
namespace {

using enum VatVerdict;

struct VatCase
{
    const char* Country;
    const char* Number;
    VatVerdict Expected;
};

void PrintTo(const VatCase& c, std::ostream* os) { *os << c.Country << " \"" << c.Number << '"'; }

class VatIdTable : public testing::TestWithParam<VatCase>
{
};

TEST_P(VatIdTable, FormAndCheckDigits)
{
    const VatCase& c = GetParam();
    EXPECT_EQ(VatVerdictName(CheckVatId(c.Country, c.Number).Verdict), VatVerdictName(c.Expected));
}

// Per state: published valid ids, then the same with one digit changed, then the other forms a state has.
INSTANTIATE_TEST_SUITE_P(PublishedAndNearMisses, VatIdTable, testing::Values(
    VatCase{"AT", "U13585627", Valid}, VatCase{"AT", "U13585626", Invalid}, VatCase{"AT", "U23585627", Invalid},
    VatCase{"BE", "0428759497", Valid}, VatCase{"BE", "0428759498", Invalid}, VatCase{"BE", "0431150351", Invalid},
    VatCase{"BE", "428759497", Valid}, // the old nine-digit form
    VatCase{"BG", "175074752", Valid}, VatCase{"BG", "175074751", Invalid},
    VatCase{"CY", "10259033P", Valid}, VatCase{"CY", "10259033Z", Invalid}, VatCase{"CY", "10259133P", Invalid},
    VatCase{"CZ", "25123891", Valid}, VatCase{"CZ", "25123890", Invalid},
    VatCase{"CZ", "7103192745", Valid}, VatCase{"CZ", "7103192746", Invalid}, // birth number
    VatCase{"CZ", "640903926", Valid}, VatCase{"CZ", "640903927", Invalid},   // the special nine-digit form
    VatCase{"DE", "136695976", Valid}, VatCase{"DE", "136695978", Invalid}, VatCase{"DE", "136695977", Invalid},
    VatCase{"DK", "13585628", Valid}, VatCase{"DK", "13585627", Invalid},
    VatCase{"EE", "100594102", Valid}, VatCase{"EE", "100594103", Invalid},
    VatCase{"EL", "094259216", Valid}, VatCase{"EL", "094259217", Invalid}, VatCase{"EL", "123456781", Invalid},
    VatCase{"ES", "B64717838", Valid}, VatCase{"ES", "B64717839", Invalid},
    VatCase{"ES", "54362315K", Valid}, VatCase{"ES", "54362316K", Invalid},  // DNI
    VatCase{"ES", "X5253868R", Valid}, VatCase{"ES", "X5253869R", Invalid},  // NIE
    VatCase{"ES", "M1234567L", Valid}, VatCase{"ES", "B6471783I", Malformed}, // an A/B/E/H company ends in a digit
    VatCase{"FI", "20774740", Valid}, VatCase{"FI", "20774741", Invalid},
    VatCase{"FR", "23334175221", Valid}, VatCase{"FR", "24334175221", Invalid}, VatCase{"FR", "84323140391", Invalid},
    VatCase{"FR", "K7399859412", Valid}, VatCase{"FR", "4Z123456782", Valid}, VatCase{"FR", "4Z123456783", Invalid},
    VatCase{"FR", "IO334175221", Malformed}, // I and O are no key letters
    VatCase{"HR", "33392005961", Valid}, VatCase{"HR", "33392005962", Invalid},
    VatCase{"HU", "12892312", Valid}, VatCase{"HU", "12892313", Invalid},
    VatCase{"IE", "6433435F", Valid}, VatCase{"IE", "6433435E", Invalid}, VatCase{"IE", "6433435OA", Valid},
    VatCase{"IE", "6433435OB", Invalid}, VatCase{"IE", "8D79739I", Valid}, VatCase{"IE", "8D79738I", Invalid},
    VatCase{"IT", "00743110157", Valid}, VatCase{"IT", "00743110158", Invalid},
    VatCase{"LT", "119511515", Valid}, VatCase{"LT", "119511516", Invalid}, VatCase{"LT", "100001919017", Valid},
    VatCase{"LT", "100001919018", Invalid}, VatCase{"LT", "100004801610", Valid},
    VatCase{"LU", "15027442", Valid}, VatCase{"LU", "15027443", Invalid},
    VatCase{"LV", "40003521600", Valid}, VatCase{"LV", "40003521601", Invalid},
    VatCase{"LV", "16117519997", Valid}, VatCase{"LV", "16137519997", Invalid}, // person: 13th month
    VatCase{"MT", "11679112", Valid}, VatCase{"MT", "11679113", Invalid},
    VatCase{"NL", "004495445B01", Valid}, VatCase{"NL", "004495446B01", Invalid},
    VatCase{"NL", "002455799B11", Valid}, VatCase{"NL", "123456789B90", Invalid}, // sole trader since 2020
    VatCase{"PL", "8567346215", Valid}, VatCase{"PL", "8567346216", Invalid},
    VatCase{"PT", "501964843", Valid}, VatCase{"PT", "501964842", Invalid},
    VatCase{"RO", "18547290", Valid}, VatCase{"RO", "18547291", Invalid},
    VatCase{"SE", "123456789701", Valid}, VatCase{"SE", "123456789101", Invalid},
    VatCase{"SI", "50223054", Valid}, VatCase{"SI", "50223055", Invalid},
    VatCase{"SK", "2022749619", Valid}, VatCase{"SK", "2022749618", Invalid},
    VatCase{"XI", "980780684", Valid}, VatCase{"XI", "980780685", Invalid}, VatCase{"XI", "802311781", Invalid},
    VatCase{"XI", "980780684001", Valid}, // a branch
    VatCase{"XI", "GD100", Valid}, VatCase{"XI", "HA500", Valid}, VatCase{"XI", "HA100", Invalid}));

// As users type them: the forms a person enters into a VAT field.
INSTANTIATE_TEST_SUITE_P(AsTyped, VatIdTable, testing::Values(
    VatCase{"DE", "136 695 976", Valid}, VatCase{"DE", "136.695.976", Valid}, VatCase{"DE", "136-695-976", Valid},
    VatCase{"DE", "  136695976 ", Valid}, VatCase{"de", "136695976", Valid}, VatCase{" DE ", "136695976", Valid},
    VatCase{"DE", "DE136695976", Valid}, VatCase{"DE", "de 136 695 976", Valid},
    VatCase{"AT", "u13585627", Valid}, VatCase{"at", "atu 135 856 27", Valid}, VatCase{"NL", "4495445b01", Malformed},
    VatCase{"NL", "004495445.b.01", Valid}, VatCase{"IE", "6433435oa", Valid}, VatCase{"ES", "x-5253868-r", Valid},
    VatCase{"FR", "FR 23 334 175 221", Valid}, VatCase{"EL", "EL094259216", Valid},
    VatCase{"XI", "980 7806 84", Valid}));

INSTANTIATE_TEST_SUITE_P(Malformed, VatIdTable, testing::Values(
    VatCase{"DE", "", Malformed}, VatCase{"DE", "   ", Malformed}, VatCase{"DE", " . - ", Malformed},
    VatCase{"DE", "13669597", Malformed}, VatCase{"DE", "1366959766", Malformed}, // one digit short, one too many
    VatCase{"DE", "036695976", Malformed},                                       // no leading 0
    VatCase{"DE", "13669597A", Malformed}, VatCase{"DE", "I36695976", Malformed}, // letters where digits belong
    VatCase{"DE", "136695976136695976136695976136695976136695976136695976136695976136695976", Malformed},
    VatCase{"DE", "136/695/976", Malformed}, VatCase{"DE", "136_695_976", Malformed},
    VatCase{"AT", "13585627", Malformed}, VatCase{"AT", "X13585627", Malformed},
    VatCase{"BE", "2428759497", Malformed}, VatCase{"CY", "102590339", Malformed},
    VatCase{"EE", "200594102", Malformed}, VatCase{"IT", "0074311015", Malformed},
    VatCase{"LT", "119511525", Malformed}, // the eighth digit of an organisation is 1
    VatCase{"NL", "004495445C01", Malformed}, VatCase{"NL", "004495445B00", Malformed},
    VatCase{"SE", "123456789702", Malformed}, VatCase{"SK", "2012749619", Malformed},
    VatCase{"RO", "0185472", Malformed}, VatCase{"RO", "12345678901", Malformed},
    VatCase{"XI", "GD1000", Malformed}, VatCase{"XI", "98078068", Malformed}));

INSTANTIATE_TEST_SUITE_P(NotMemberStates, VatIdTable, testing::Values(
    VatCase{"GR", "094259216", NotMemberState}, // Greece is EL
    VatCase{"GB", "980780684", NotMemberState}, VatCase{"CH", "116281710", NotMemberState},
    VatCase{"", "136695976", NotMemberState}, VatCase{"D", "136695976", NotMemberState},
    VatCase{"DEU", "136695976", NotMemberState}, VatCase{"1E", "136695976", NotMemberState}));

TEST(VatRules, AnswersTheNormalisedId)
{
    VatCheck check = CheckVatId("at", " atu 135.856-27 ");
    EXPECT_EQ(check.Verdict, Valid);
    EXPECT_EQ(check.CountryCode, "AT");
    EXPECT_EQ(check.Number, "U13585627");
}

TEST(VatRules, AFrenchKeyMayReadLikeTheCountryCode)
{
    // "FR" is a valid pair of key letters for the SIREN 100000009.
    EXPECT_EQ(CheckVatId("FR", "FR100000009").Number, "FR100000009");
    EXPECT_EQ(CheckVatId("FR", "FR100000009").Verdict, Valid);
    EXPECT_EQ(CheckVatId("FR", "FRFR100000009").Number, "FR100000009");
    EXPECT_EQ(CheckVatId("FR", "FR100000008").Verdict, Invalid);
}

TEST(VatRules, WholeIdsCarryTheirCountryCode)
{
    EXPECT_EQ(CheckVatId("DE136695976").Verdict, Valid);
    EXPECT_EQ(CheckVatId("  el 094 259 216").Verdict, Valid);
    EXPECT_EQ(CheckVatId("ATU13585626").Verdict, Invalid);
    EXPECT_EQ(CheckVatId("").Verdict, NotMemberState);
    EXPECT_EQ(CheckVatId("GB980780684").Verdict, NotMemberState);
}

TEST(VatRules, EveryMemberStateAndNorthernIreland)
{
    for (const char* code : {"AT", "BE", "BG", "CY", "CZ", "DE", "DK", "EE", "EL", "ES", "FI", "FR", "HR", "HU",
                             "IE", "IT", "LT", "LU", "LV", "MT", "NL", "PL", "PT", "RO", "SE", "SI", "SK", "XI"})
        EXPECT_TRUE(IsVatMemberState(code)) << code;
    for (const char* code : {"GR", "GB", "UK", "EU", "CH", "NO", "de", ""})
        EXPECT_FALSE(IsVatMemberState(code)) << code;
}

TEST(ViesRequestDate, IsTheLocalDateWithItsOffset)
{
    EXPECT_TRUE(std::regex_match(ViesRequestDate(0), std::regex(R"((1969-12-31|1970-01-01)[+-]\d\d:\d\d)")));
}

} // namespace
} // namespace orvel::rules
