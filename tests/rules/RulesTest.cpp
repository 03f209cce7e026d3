#include "rules/Bic.h"
#include "rules/Card.h"
#include "rules/Iban.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace orvel::rules {
namespace {

// The example IBAN of each country as the IBAN registry prints it.
const std::vector<std::string> kRegistryExamples = {
    "AD1200012030200359100100",
    "AE070331234567890123456",
    "AL47212110090000000235698741",
    "AT611904300234573201",
    "AZ21NABZ00000000137010001944",
    "BA391290079401028494",
    "BE68539007547034",
    "BG80BNBG96611020345678",
    "BH67BMAG00001299123456",
    "BR1800360305000010009795493C1",
    "CH9300762011623852957",
    "CR05015202001026284066",
    "CY17002001280000001200527600",
    "CZ6508000000192000145399",
    "DE89370400440532013000",
    "DK5000400440116243",
    "DO28BAGR00000001212453611324",
    "EE382200221020145685",
    "ES9121000418450200051332",
    "FI2112345600000785",
    "FO6264600001631634",
    "FR1420041010050500013M02606",
    "GB29NWBK60161331926819",
    "GE29NB0000000101904917",
    "GI75NWBK000000007099453",
    "GL8964710001000206",
    "GR1601101250000000012300695",
    "GT82TRAJ01020000001210029690",
    "HR1210010051863000160",
    "HU42117730161111101800000000",
    "IE29AIBK93115212345678",
    "IL620108000000099999999",
    "IS140159260076545510730339",
    "IT60X0542811101000000123456",
    "JO94CBJO0010000000000131000302",
    "KW81CBKU0000000000001234560101",
    "KZ86125KZT5004100100",
    "LB62099900000001001901229114",
    "LI21088100002324013AA",
    "LT121000011101001000",
    "LU280019400644750000",
    "LV80BANK0000435195001",
    "MC5811222000010123456789030",
    "MD24AG000225100013104168",
    "ME25505000012345678951",
    "MK07250120000058984",
    "MR1300020001010000123456753",
    "MT84MALT011000012345MTLCAST001S",
    "MU17BOMM0101101030300200000MUR",
    "NL91ABNA0417164300",
    "NO9386011117947",
    "PK36SCBL0000001123456702",
    "PL61109010140000071219812874",
    "PS92PALS000000000400123456702",
    "PT50000201231234567890154",
    "QA58DOHB00001234567890ABCDEFG",
    "RO49AAAA1B31007593840000",
    "RS35260005601001611379",
    "SA0380000000608010167519",
    "SC18SSCB11010000000000001497USD",
    "SE4550000000058398257466",
    "SI56263300012039086",
    "SK3112000000198742637541",
    "SM86U0322509800000000270100",
    "ST68000100010051845310112",
    "SV62CENR00000000000000700025",
    "TL380080012345678910157",
    "TN5910006035183598478831",
    "TR330006100519786457841326",
    "UA213223130000026007233566001",
    "VA59001123000012345678",
    "VG96VPVG0000012345678901",
    "XK051212012345678906",
};

// One digit of the account part changed, so that the structure still fits.
std::string OneDigitChanged(std::string iban)
{
    const size_t last = iban.find_last_of("0123456789");
    iban[last] = iban[last] == '9' ? '0' : char(iban[last] + 1);
    return iban;
}

// Two different neighbouring digits of the BBAN swapped.
std::string DigitsSwapped(std::string iban)
{
    for (size_t i = 4; i + 1 < iban.size(); ++i)
        if (std::isdigit(static_cast<unsigned char>(iban[i])) &&
            std::isdigit(static_cast<unsigned char>(iban[i + 1])) && iban[i] != iban[i + 1]) {
            std::swap(iban[i], iban[i + 1]);
            return iban;
        }
    return iban;
}

TEST(IbanRules, EveryRegistryExampleIsValidAndItsNearMissesAreNot)
{
    for (const std::string& iban : kRegistryExamples) {
        SCOPED_TRACE(iban);
        EXPECT_EQ(CheckIban(iban), IbanVerdict::Valid);
        EXPECT_EQ(CheckIban(OneDigitChanged(iban)), IbanVerdict::WrongChecksum);
        EXPECT_EQ(CheckIban(DigitsSwapped(iban)), IbanVerdict::WrongChecksum);
        EXPECT_EQ(CheckIban(iban.substr(0, iban.size() - 1)), IbanVerdict::WrongLength);
        EXPECT_EQ(CheckIban(iban + "0"), IbanVerdict::WrongLength);
    }
}

TEST(IbanRules, FormAndStructure)
{
    const struct
    {
        const char* Text;
        IbanVerdict Expected;
    } cases[] = {
        {"", IbanVerdict::Malformed},
        {"DE89", IbanVerdict::Malformed},
        {"DE89-3704-0044-0532-0130-00", IbanVerdict::Malformed},
        {"8989370400440532013000", IbanVerdict::Malformed},
        {"ZZ89370400440532013000", IbanVerdict::UnknownCountry},
        {"US89370400440532013000", IbanVerdict::UnknownCountry},
        {"DE89370400440532O13000", IbanVerdict::WrongStructure}, // letter O in an all-digit BBAN
        {"GB29NWBK6016133192681A", IbanVerdict::WrongStructure},
        {"GB2912345601613319268", IbanVerdict::WrongLength},
        // Check digits lie in 02..98: 00, 01 and 99 are refused although mod 97 takes them for 97, 98 and 02.
        {"NL99XAMF5326831071", IbanVerdict::WrongChecksum},
        {"NL02XAMF5326831071", IbanVerdict::Valid},
        {"GB01NWBK60161331926838", IbanVerdict::WrongChecksum},
        {"GB98NWBK60161331926838", IbanVerdict::Valid},
        {"AT001904300234573232", IbanVerdict::WrongChecksum},
        {"AT971904300234573232", IbanVerdict::Valid},
        {"DE99370400440532013014", IbanVerdict::WrongChecksum},
        {"DE02370400440532013014", IbanVerdict::Valid},
        // Registry members and structures as SWIFT's own registry file has them.
        {"PK32PRDYNVP8AMB6GN2DEL0Q", IbanVerdict::Valid},
        {"PS89SPDAELAC68D7KQYTFS7G5Y670", IbanVerdict::Valid},
        {"BY38BO0N15522CD1EI6CFEUK72KX", IbanVerdict::Valid},
        {"DO4783KL14212660150795887646", IbanVerdict::Valid},
        {"BI4210000100010000332045181", IbanVerdict::Valid},
        {"DJ2100010000000154000100186", IbanVerdict::Valid},
        {"BL6820041010050500013M02606", IbanVerdict::Valid},
        {"FR1420041010050500013M02606", IbanVerdict::Valid},
        {"GE29NB0000000101904917", IbanVerdict::Valid},
        {"GE29010000000101904917", IbanVerdict::WrongStructure}, // the bank code is two letters
        {"IE29AIBK93115212345678", IbanVerdict::Valid},
        {"IE29AIBK9311521234567X", IbanVerdict::WrongStructure}, // the account is digits only
        {"TR330006100519786457841326", IbanVerdict::Valid},
        {"TR3300061A0519786457841326", IbanVerdict::WrongStructure}, // the reserved digit is a digit
        {"VG96VPVG0000012345678901", IbanVerdict::Valid},
        {"VG96VPVG000001234567890A", IbanVerdict::WrongStructure},
    };
    for (const auto& entry : cases)
        EXPECT_EQ(CheckIban(entry.Text), entry.Expected) << entry.Text;
}

TEST(IbanRules, NormalizeAndCheckDigits)
{
    EXPECT_EQ(NormalizeIban("de89 3704 0044 0532 0130 00"), "DE89370400440532013000");
    EXPECT_EQ(IbanCheckDigits("DE", "370400440532013000"), "89");
    EXPECT_EQ(IbanCheckDigits("GB", "NWBK60161331926819"), "29");
    EXPECT_EQ(IbanCheckDigits("DE", "899999990000001234"), "32");
    EXPECT_GE(IbanRegistryCountries(), 89u);
    EXPECT_FALSE(IbanRegistryRelease().empty());
}

TEST(BicRules, Form)
{
    const struct
    {
        const char* Text;
        BicVerdict Expected;
    } cases[] = {
        {"DEUTDEFF", BicVerdict::Valid},          {"DEUTDEFF500", BicVerdict::Valid},
        {"COBADEFFXXX", BicVerdict::Valid},       {"NWBKGB2L", BicVerdict::Valid},
        {"DEU1DEFF", BicVerdict::Valid}, // digits in the institution code since ISO 9362:2014
        {"DEUTDEF", BicVerdict::Malformed},       {"DEUTDEFF50", BicVerdict::Malformed},
        {"DEUTDEFF5000", BicVerdict::Malformed},  {"DEUTD3FF", BicVerdict::Malformed},
        {"DEUT-EFF", BicVerdict::Malformed},      {"", BicVerdict::Malformed},
        {"DEUTXXFF", BicVerdict::UnknownCountry}, {"DEUTQQFFXXX", BicVerdict::UnknownCountry},
    };
    for (const auto& entry : cases)
        EXPECT_EQ(CheckBic(entry.Text), entry.Expected) << entry.Text;
    EXPECT_EQ(NormalizeBic(" deut de ff "), "DEUTDEFF");
    EXPECT_TRUE(SameBic("DEUTDEFF", "DEUTDEFFXXX"));
    EXPECT_FALSE(SameBic("DEUTDEFF", "DEUTDEFF500"));
}

// The first two different neighbouring digits swapped, except 0 and 9, the one swap the Luhn digit cannot see.
std::string NeighboursSwapped(std::string number)
{
    for (size_t i = 0; i + 1 < number.size(); ++i)
        if (number[i] != number[i + 1] && std::abs(number[i] - number[i + 1]) != 9) {
            std::swap(number[i], number[i + 1]);
            break;
        }
    return number;
}

// The digit that makes the number pass the Luhn check.
std::string WithCheckDigit(const std::string& body)
{
    for (char digit = '0'; digit <= '9'; ++digit)
        if (LuhnValid(body + digit))
            return body + digit;
    return body;
}

TEST(CardRules, PaymentProviderTestNumbers)
{
    const struct
    {
        const char* Number;
        const char* Scheme;
    } cases[] = {
        {"4111111111111111", "Visa"},
        {"4242424242424242", "Visa"},
        {"4012888888881881", "Visa"},
        {"5555555555554444", "Mastercard"},
        {"5105105105105100", "Mastercard"},
        {"2223003122003222", "Mastercard"},
        {"378282246310005", "American Express"},
        {"371449635398431", "American Express"},
        {"6011111111111117", "Discover"},
        {"6011000990139424", "Discover"},
        {"30569309025904", "Diners Club"},
        {"38520000023237", "Diners Club"},
        {"3530111333300000", "JCB"},
        {"3566002020360505", "JCB"},
        {"6200000000000005", "UnionPay"},
        {"6759649826438453", "Maestro"},
        {"2200000000000004", "Mir"},
        {"2204941877211883", "Mir"},
        {"8171999927660000", "UnionPay"},
        {"8100000000000002", "UnionPay"},
        {"6362970000457013", "Elo"},
        {"5066991111111118", "Elo"},
        {"6062826786276634", "Hipercard"},
        {"6370950000000005", "Hiper"},
        {"9792131234567895", "Troy"},
        {"5061000000000005", "Verve"},
        {"5895620000000002", "Naranja"},
        {"30950000000000", "Diners Club"}, // Diners Club International's 3095 range
        {"3095000000000000007", "Diners Club"},
    };
    for (const auto& entry : cases) {
        const std::string number = entry.Number;
        SCOPED_TRACE(number);
        const CardCheck check = CheckCard(number);
        EXPECT_EQ(check.Verdict, CardVerdict::Valid);
        EXPECT_EQ(check.Scheme, entry.Scheme);
        EXPECT_EQ(CheckCard(OneDigitChanged(number)).Verdict, CardVerdict::WrongChecksum);
        EXPECT_EQ(CheckCard(NeighboursSwapped(number)).Verdict, CardVerdict::WrongChecksum);
    }
}

TEST(CardRules, FormIssuerAndLength)
{
    const struct
    {
        std::string Number;
        CardVerdict Expected;
        std::string_view Scheme = {};
    } cases[] = {
        {"", CardVerdict::Malformed},
        {"41111111111", CardVerdict::Malformed},          // 11 digits
        {"41111111111111111111", CardVerdict::Malformed}, // 20 digits
        {"4111a11111111111", CardVerdict::Malformed},
        {"4111111111111112", CardVerdict::WrongChecksum},
        {"1411111111111111", CardVerdict::WrongChecksum},                           // two digits swapped
        {WithCheckDigit("41111111111111"), CardVerdict::WrongLength, "Visa"},       // 15 digits
        {WithCheckDigit("55555555555544"), CardVerdict::WrongLength, "Mastercard"}, // 15 digits
        {WithCheckDigit("10000000000000"), CardVerdict::UnknownIssuer},
        {WithCheckDigit("99999999999999"), CardVerdict::UnknownIssuer},
        {WithCheckDigit("309600000000000"), CardVerdict::UnknownIssuer},    // beside Diners Club's 3095
        {WithCheckDigit("220500000000000"), CardVerdict::UnknownIssuer},    // beside Mir's 2200-2204
        {WithCheckDigit("422222222222"), CardVerdict::WrongLength, "Visa"}, // 13 digits: no longer issued
        {WithCheckDigit("22000000000000"), CardVerdict::WrongLength, "Mir"},
        {WithCheckDigit("30950000000000"), CardVerdict::WrongLength, "Diners Club"},
        {WithCheckDigit("97921312345678"), CardVerdict::WrongLength, "Troy"},
        {WithCheckDigit("636297000045701300"), CardVerdict::WrongLength, "Elo"},
    };
    for (const auto& entry : cases) {
        const CardCheck check = CheckCard(entry.Number);
        EXPECT_EQ(check.Verdict, entry.Expected) << entry.Number;
        EXPECT_EQ(check.Scheme, entry.Scheme) << entry.Number;
    }
    EXPECT_EQ(NormalizeCard("4111 1111-1111 1111"), "4111111111111111");
}

TEST(CardRules, TheLongestMatchingPrefixNamesTheScheme)
{
    const struct
    {
        std::string Body; // without the check digit
        const char* Scheme;
    } cases[] = {
        {"401178000000000", "Elo"},      // not Visa's 4
        {"650031000000000", "Elo"},      // not Discover's 65
        {"637095000000000", "Hiper"},    // not Maestro's 63
        {"650052000000000", "Troy"},     // not Discover's 65
        {"506100000000000", "Verve"},    // Verve and Maestro both name six digits: the earlier row wins
        {"622126000000000", "UnionPay"}, // not Maestro's 6
        {"609999000000000", "Maestro"},  // Maestro's 6 alone
    };
    for (const auto& entry : cases) {
        const CardCheck check = CheckCard(WithCheckDigit(entry.Body));
        EXPECT_EQ(check.Verdict, CardVerdict::Valid) << entry.Body;
        EXPECT_EQ(check.Scheme, entry.Scheme) << entry.Body;
    }
    EXPECT_EQ(CardSchemesRelease(), "credit-card-type-10.3.0");
}

} // namespace
} // namespace orvel::rules
