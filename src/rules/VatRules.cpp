#include "rules/VatRules.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

namespace orvel::rules {
namespace {

using enum VatVerdict;

// Longer input is no VAT id of any state; the bound keeps normalisation cheap for junk.
constexpr std::size_t kMaxInput = 64;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool IsUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}
int Digit(char c)
{
    return c - '0';
}

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

// Sum of weight * digit over the first weights.size() digits of s.
int Weighted(std::string_view s, std::initializer_list<int> weights)
{
    int sum = 0;
    std::size_t i = 0;
    for (int weight : weights)
        sum += weight * Digit(s[i++]);
    return sum;
}

std::uint64_t Number(std::string_view digits)
{
    std::uint64_t value = 0;
    for (char c : digits)
        value = value * 10 + static_cast<std::uint64_t>(Digit(c));
    return value;
}

VatVerdict Verdict(bool checkDigitsFit)
{
    return checkDigitsFit ? Valid : Invalid;
}

// Luhn over all digits, the last one being the check digit.
bool Luhn(std::string_view digits)
{
    int sum = 0;
    bool twice = false;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it, twice = !twice) {
        int d = Digit(*it);
        if (twice && (d *= 2) > 9)
            d -= 9;
        sum += d;
    }
    return sum % 10 == 0;
}

// ISO 7064 MOD 11,10 over all digits, the last one being the check digit.
bool Mod11_10(std::string_view digits)
{
    int product = 10;
    for (std::size_t i = 0; i + 1 < digits.size(); ++i) {
        int sum = (Digit(digits[i]) + product) % 10;
        product = (sum == 0 ? 10 : sum) * 2 % 11;
    }
    return (11 - product) % 10 == Digit(digits.back());
}

bool IsDate(int year, int month, int day)
{
    static constexpr std::array<int, 12> kDays{31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[static_cast<std::size_t>(month - 1)])
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month != 2 || day <= 28 || leap;
}

VatVerdict AT(std::string_view n)
{
    if (n.size() != 9 || n[0] != 'U' || !AllDigits(n.substr(1)))
        return Malformed;
    int sum = 0;
    for (std::size_t i = 1; i <= 7; ++i) {
        int d = Digit(n[i]);
        sum += i % 2 == 0 ? d * 2 / 10 + d * 2 % 10 : d;
    }
    return Verdict((10 - (sum + 4) % 10) % 10 == Digit(n[8]));
}

VatVerdict BE(std::string_view n)
{
    // Nine-digit numbers are the old form of the ten-digit ones with a leading 0.
    std::array<char, 10> buffer{'0'};
    if (n.size() == 9) {
        std::copy(n.begin(), n.end(), buffer.begin() + 1);
        n = std::string_view(buffer.data(), buffer.size());
    }
    if (n.size() != 10 || !AllDigits(n) || (n[0] != '0' && n[0] != '1'))
        return Malformed;
    return Verdict(97 - Number(n.substr(0, 8)) % 97 == Number(n.substr(8)));
}

VatVerdict BG(std::string_view n)
{
    if (!AllDigits(n) || (n.size() != 9 && n.size() != 10))
        return Malformed;
    if (n.size() == 9) {
        int check = Weighted(n, {1, 2, 3, 4, 5, 6, 7, 8}) % 11;
        if (check == 10)
            check = Weighted(n, {3, 4, 5, 6, 7, 8, 9, 10}) % 11;
        return Verdict(check % 10 == Digit(n[8]));
    }
    // Ten digits: a personal number (with its birth date), a foreigner's number, or another one.
    int year = 1900 + static_cast<int>(Number(n.substr(0, 2)));
    int month = static_cast<int>(Number(n.substr(2, 2)));
    if (month > 40)
        year += 100, month -= 40;
    else if (month > 20)
        year -= 100, month -= 20;
    bool personal = IsDate(year, month, static_cast<int>(Number(n.substr(4, 2)))) &&
                    Weighted(n, {2, 4, 8, 5, 10, 9, 7, 3, 6}) % 11 % 10 == Digit(n[9]);
    bool foreigner = Weighted(n, {21, 19, 17, 13, 11, 9, 7, 3, 1}) % 10 == Digit(n[9]);
    bool other = (11 - Weighted(n, {4, 3, 2, 7, 6, 5, 4, 3, 2}) % 11) % 11 == Digit(n[9]);
    return Verdict(personal || foreigner || other);
}

VatVerdict CY(std::string_view n)
{
    if (n.size() != 9 || !AllDigits(n.substr(0, 8)) || !IsUpper(n[8]))
        return Malformed;
    if (std::string_view("013459").find(n[0]) == std::string_view::npos || n.starts_with("12"))
        return Malformed;
    static constexpr std::array<int, 10> kOdd{1, 0, 5, 7, 9, 13, 15, 17, 19, 21};
    int sum = 0;
    for (std::size_t i = 0; i < 8; ++i)
        sum += i % 2 == 0 ? kOdd[static_cast<std::size_t>(Digit(n[i]))] : Digit(n[i]);
    return Verdict('A' + sum % 26 == n[8]);
}

// A Czech birth number: six digits of birth date, then three or (since 1954) four digits.
bool CzechBirthNumber(std::string_view n)
{
    int year = 1900 + static_cast<int>(Number(n.substr(0, 2)));
    int month = static_cast<int>(Number(n.substr(2, 2))) % 50 % 20;
    int day = static_cast<int>(Number(n.substr(4, 2)));
    if (n.size() == 9) {
        if (year >= 1980)
            year -= 100;
        if (year > 1953)
            return false;
        return IsDate(year, month, day);
    }
    if (year < 1954)
        year += 100;
    if (!IsDate(year, month, day))
        return false;
    auto check = Number(n.substr(0, 9)) % 11;
    if (year < 1985)
        check %= 10;
    return check == static_cast<std::uint64_t>(Digit(n[9]));
}

VatVerdict CZ(std::string_view n)
{
    if (!AllDigits(n) || n.size() < 8 || n.size() > 10)
        return Malformed;
    if (n.size() == 8) {
        if (n[0] == '9')
            return Malformed;
        int check = (11 - Weighted(n, {8, 7, 6, 5, 4, 3, 2}) % 11) % 11;
        return Verdict((check == 0 ? 1 : check) % 10 == Digit(n[7]));
    }
    if (n.size() == 9 && n[0] == '6') {
        int sum = Weighted(n.substr(1), {8, 7, 6, 5, 4, 3, 2}) % 11;
        return Verdict((18 - (10 - sum) % 11) % 10 == Digit(n[8]));
    }
    return Verdict(CzechBirthNumber(n));
}

VatVerdict DE(std::string_view n)
{
    if (n.size() != 9 || !AllDigits(n) || n[0] == '0')
        return Malformed;
    return Verdict(Mod11_10(n));
}

VatVerdict DK(std::string_view n)
{
    if (n.size() != 8 || !AllDigits(n) || n[0] == '0')
        return Malformed;
    return Verdict(Weighted(n, {2, 7, 6, 5, 4, 3, 2, 1}) % 11 == 0);
}

VatVerdict EE(std::string_view n)
{
    if (n.size() != 9 || !AllDigits(n) || !n.starts_with("10"))
        return Malformed;
    return Verdict((10 - Weighted(n, {3, 7, 1, 3, 7, 1, 3, 7}) % 10) % 10 == Digit(n[8]));
}

VatVerdict EL(std::string_view n)
{
    // Eight-digit numbers are the old form of the nine-digit ones with a leading 0.
    std::array<char, 9> buffer{'0'};
    if (n.size() == 8) {
        std::copy(n.begin(), n.end(), buffer.begin() + 1);
        n = std::string_view(buffer.data(), buffer.size());
    }
    if (n.size() != 9 || !AllDigits(n))
        return Malformed;
    return Verdict(Weighted(n, {256, 128, 64, 32, 16, 8, 4, 2}) % 11 % 10 == Digit(n[8]));
}

char SpanishIdLetter(std::uint64_t number)
{
    return "TRWAGMYFPDXBNJZSQVHLCKE"[number % 23];
}

VatVerdict ES(std::string_view n)
{
    if (n.size() != 9 || !AllDigits(n.substr(1, 7)))
        return Malformed;
    char first = n[0];
    char last = n[8];
    if (IsDigit(first)) { // DNI of a Spanish resident
        if (!IsUpper(last))
            return Malformed;
        return Verdict(SpanishIdLetter(Number(n.substr(0, 8))) == last);
    }
    if (first == 'X' || first == 'Y' || first == 'Z') { // NIE of a foreigner
        if (!IsUpper(last))
            return Malformed;
        auto number = static_cast<std::uint64_t>(first - 'X') * 10000000 + Number(n.substr(1, 7));
        return Verdict(SpanishIdLetter(number) == last);
    }
    if (first == 'K' || first == 'L' || first == 'M') { // persons without DNI or NIE
        if (!IsUpper(last))
            return Malformed;
        return Verdict(SpanishIdLetter(Number(n.substr(1, 7))) == last);
    }
    if (std::string_view("ABCDEFGHJNPQRSUVW").find(first) == std::string_view::npos)
        return Malformed;
    // CIF of an entity: A, B, E, H end in a digit; N, P, Q, S, W in a letter; the others in either.
    int sum = 0;
    for (std::size_t i = 1; i <= 7; ++i) {
        int d = Digit(n[i]);
        sum += i % 2 == 1 ? d * 2 / 10 + d * 2 % 10 : d;
    }
    int check = (10 - sum % 10) % 10;
    char asDigit = static_cast<char>('0' + check);
    char asLetter = "JABCDEFGHI"[check];
    bool digitOnly = std::string_view("ABEH").find(first) != std::string_view::npos;
    bool letterOnly = std::string_view("NPQSW").find(first) != std::string_view::npos;
    if (!(IsDigit(last) || IsUpper(last)) || (digitOnly && !IsDigit(last)) || (letterOnly && !IsUpper(last)))
        return Malformed;
    return Verdict(last == asDigit || last == asLetter);
}

VatVerdict FI(std::string_view n)
{
    if (n.size() != 8 || !AllDigits(n))
        return Malformed;
    int rest = Weighted(n, {7, 9, 10, 5, 8, 4, 2}) % 11;
    return Verdict(rest != 1 && (rest == 0 ? 0 : 11 - rest) == Digit(n[7]));
}

VatVerdict FR(std::string_view n)
{
    // Two check characters, then the nine-digit SIREN of the company.
    static constexpr std::string_view kAlphabet = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";
    if (n.size() != 11 || !AllDigits(n.substr(2)) || kAlphabet.find(n[0]) == std::string_view::npos ||
        kAlphabet.find(n[1]) == std::string_view::npos)
        return Malformed;
    std::string_view siren = n.substr(2);
    // Companies of Monaco carry SIRENs beginning with 000, outside the Luhn rule.
    if (!siren.starts_with("000") && !Luhn(siren))
        return Invalid;
    if (IsDigit(n[0]) && IsDigit(n[1]))
        return Verdict((12 + 3 * (Number(siren) % 97)) % 97 == Number(n.substr(0, 2)));
    auto first = static_cast<std::uint64_t>(kAlphabet.find(n[0]));
    auto second = static_cast<std::uint64_t>(kAlphabet.find(n[1]));
    std::uint64_t s = IsDigit(n[0]) ? first * 24 + second - 10 : first * 34 + second - 100;
    return Verdict((Number(siren) + 1 + s / 11) % 11 == s % 11);
}

VatVerdict HR(std::string_view n)
{
    if (n.size() != 11 || !AllDigits(n))
        return Malformed;
    return Verdict(Mod11_10(n));
}

VatVerdict HU(std::string_view n)
{
    if (n.size() != 8 || !AllDigits(n))
        return Malformed;
    return Verdict((10 - Weighted(n, {9, 7, 3, 1, 9, 7, 3}) % 10) % 10 == Digit(n[7]));
}

VatVerdict IE(std::string_view n)
{
    static constexpr std::string_view kLetters = "WABCDEFGHIJKLMNOPQRSTUV";
    if ((n.size() != 8 && n.size() != 9) || !IsDigit(n[0]) || !AllDigits(n.substr(2, 5)) ||
        kLetters.find(n[7]) == std::string_view::npos)
        return Malformed;
    int sum = 0;
    if (IsDigit(n[1])) {
        // Since 1996: seven digits, the check letter, and since 2013 a second letter (A to I, or W).
        if (n.size() == 9 && kLetters.substr(0, 10).find(n[8]) == std::string_view::npos)
            return Malformed;
        sum = Weighted(n, {8, 7, 6, 5, 4, 3, 2});
        if (n.size() == 9)
            sum += 9 * static_cast<int>(kLetters.find(n[8]));
    } else {
        // Before 1996: digit, letter or "+" or "*", five digits, check letter; weighed as 0, the five, the first.
        if (n.size() != 8 || !(IsUpper(n[1]) || n[1] == '+' || n[1] == '*'))
            return Malformed;
        sum = Weighted(n.substr(2), {7, 6, 5, 4, 3}) + 2 * Digit(n[0]);
    }
    return Verdict(kLetters[static_cast<std::size_t>(sum % 23)] == n[7]);
}

VatVerdict IT(std::string_view n)
{
    if (n.size() != 11 || !AllDigits(n) || Number(n.substr(0, 7)) == 0)
        return Malformed;
    // Digits 8 to 10 name the tax office: a province 001 to 100, or 120, 121, 888, 999.
    auto office = Number(n.substr(7, 3));
    if (!((office >= 1 && office <= 100) || office == 120 || office == 121 || office == 888 || office == 999))
        return Invalid;
    return Verdict(Luhn(n));
}

VatVerdict LT(std::string_view n)
{
    if (!AllDigits(n) || (n.size() == 9 ? n[7] : n.size() == 12 ? n[10] : '\0') != '1')
        return Malformed;
    std::size_t length = n.size() - 1;
    int sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum += static_cast<int>(1 + i % 9) * Digit(n[i]);
    if (sum % 11 == 10) {
        sum = 0;
        for (std::size_t i = 0; i < length; ++i)
            sum += static_cast<int>(1 + (i + 2) % 9) * Digit(n[i]);
    }
    return Verdict(sum % 11 % 10 == Digit(n[length]));
}

VatVerdict LU(std::string_view n)
{
    if (n.size() != 8 || !AllDigits(n))
        return Malformed;
    return Verdict(Number(n.substr(0, 6)) % 89 == Number(n.substr(6)));
}

VatVerdict LV(std::string_view n)
{
    if (n.size() != 11 || !AllDigits(n))
        return Malformed;
    if (n[0] > '3') // legal person
        return Verdict(Weighted(n, {9, 1, 4, 8, 3, 10, 2, 5, 7, 6, 1}) % 11 == 3);
    // Natural person: birth date DDMMYY, century digit, serial, check digit.
    int year = 1800 + 100 * Digit(n[6]) + static_cast<int>(Number(n.substr(4, 2)));
    if (!IsDate(year, static_cast<int>(Number(n.substr(2, 2))), static_cast<int>(Number(n.substr(0, 2)))))
        return Invalid;
    return Verdict((1101 - Weighted(n, {1, 6, 3, 7, 9, 10, 5, 8, 4, 2})) % 11 == Digit(n[10]));
}

VatVerdict MT(std::string_view n)
{
    if (n.size() != 8 || !AllDigits(n) || n[0] == '0')
        return Malformed;
    return Verdict(Weighted(n, {3, 4, 6, 7, 8, 9, 10, 1}) % 37 == 0);
}

VatVerdict NL(std::string_view n)
{
    if (n.size() != 12 || !AllDigits(n.substr(0, 9)) || n[9] != 'B' || !AllDigits(n.substr(10)) ||
        Number(n.substr(0, 9)) == 0 || n.ends_with("00"))
        return Malformed;
    // Companies: the eleven test; sole traders since 2020: ISO 7064 MOD 97-10 over "NL" + number.
    bool elevenTest = (Weighted(n, {9, 8, 7, 6, 5, 4, 3, 2}) - Digit(n[8])) % 11 == 0;
    std::uint64_t rest = (23 * 100 + 21) % 97; // N = 23, L = 21
    for (char c : n)
        rest = IsDigit(c) ? (rest * 10 + static_cast<std::uint64_t>(Digit(c))) % 97 : (rest * 100 + 11) % 97;
    return Verdict(elevenTest || rest == 1);
}

VatVerdict PL(std::string_view n)
{
    if (n.size() != 10 || !AllDigits(n))
        return Malformed;
    return Verdict(Weighted(n, {6, 5, 7, 2, 3, 4, 5, 6, 7}) % 11 == Digit(n[9]));
}

VatVerdict PT(std::string_view n)
{
    if (n.size() != 9 || !AllDigits(n) || n[0] == '0')
        return Malformed;
    int check = 11 - Weighted(n, {9, 8, 7, 6, 5, 4, 3, 2}) % 11;
    return Verdict((check >= 10 ? 0 : check) == Digit(n[8]));
}

VatVerdict RO(std::string_view n)
{
    if (n.size() < 2 || n.size() > 10 || !AllDigits(n) || n[0] == '0')
        return Malformed;
    // Test key 753217532, aligned to the right end of the digits before the check digit.
    static constexpr std::array<int, 9> kKey{7, 5, 3, 2, 1, 7, 5, 3, 2};
    std::size_t length = n.size() - 1;
    int sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum += kKey[9 - length + i] * Digit(n[i]);
    return Verdict(sum * 10 % 11 % 10 == Digit(n[length]));
}

VatVerdict SE(std::string_view n)
{
    if (n.size() != 12 || !AllDigits(n) || !n.ends_with("01"))
        return Malformed;
    return Verdict(Luhn(n.substr(0, 10)));
}

VatVerdict SI(std::string_view n)
{
    if (n.size() != 8 || !AllDigits(n) || n[0] == '0')
        return Malformed;
    int check = 11 - Weighted(n, {8, 7, 6, 5, 4, 3, 2}) % 11;
    return Verdict(check != 11 && check % 10 == Digit(n[7]));
}

VatVerdict SK(std::string_view n)
{
    if (n.size() != 10 || !AllDigits(n) || n[0] == '0' ||
        std::string_view("234789").find(n[2]) == std::string_view::npos)
        return Malformed;
    return Verdict(Number(n) % 11 == 0);
}

VatVerdict XI(std::string_view n)
{
    // Government departments GD000 to GD499 and health authorities HA500 to HA999 carry no check digits.
    if (n.size() == 5 && (n.starts_with("GD") || n.starts_with("HA"))) {
        if (!AllDigits(n.substr(2)))
            return Malformed;
        return Verdict((Number(n.substr(2)) < 500) == (n[0] == 'G'));
    }
    // Nine digits, or twelve for a branch, whose last three stay out of the check.
    if ((n.size() != 9 && n.size() != 12) || !AllDigits(n))
        return Malformed;
    int rest = Weighted(n, {8, 7, 6, 5, 4, 3, 2, 10, 1}) % 97;
    // Since 2010 new numbers (from 100 0000 00) fit the modulus 97 after adding 55.
    return Verdict(rest == 0 || (rest == 42 && Number(n.substr(0, 3)) >= 100));
}

struct Rule
{
    std::string_view Code;
    VatVerdict (*Check)(std::string_view);
};

constexpr std::array<Rule, 28> kRules{{
    {"AT", AT}, {"BE", BE}, {"BG", BG}, {"CY", CY}, {"CZ", CZ}, {"DE", DE}, {"DK", DK},
    {"EE", EE}, {"EL", EL}, {"ES", ES}, {"FI", FI}, {"FR", FR}, {"HR", HR}, {"HU", HU},
    {"IE", IE}, {"IT", IT}, {"LT", LT}, {"LU", LU}, {"LV", LV}, {"MT", MT}, {"NL", NL},
    {"PL", PL}, {"PT", PT}, {"RO", RO}, {"SE", SE}, {"SI", SI}, {"SK", SK}, {"XI", XI},
}};

const Rule* RuleOf(std::string_view countryCode)
{
    for (const Rule& rule : kRules)
        if (rule.Code == countryCode)
            return &rule;
    return nullptr;
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view Trim(std::string_view s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

bool IsOutsideVies(std::string_view vatId)
{
    const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
    return vatId.size() >= 2 && capital(vatId[0]) && capital(vatId[1]) && !IsVatMemberState(vatId.substr(0, 2));
}

bool IsVatMemberState(std::string_view countryCode)
{
    return RuleOf(countryCode) != nullptr;
}

VatCheck CheckVatId(std::string_view countryCode, std::string_view number)
{
    VatCheck check;
    countryCode = Trim(countryCode);
    if (countryCode.size() == 2)
        check.CountryCode = {Upper(countryCode[0]), Upper(countryCode[1])};
    const Rule* rule = RuleOf(check.CountryCode);
    if (rule == nullptr) {
        check.Verdict = NotMemberState;
        return check;
    }
    number = Trim(number);
    if (number.size() > kMaxInput)
        return check;
    check.Number.reserve(number.size());
    for (char c : number)
        if (c != ' ' && c != '.' && c != '-')
            check.Number.push_back(Upper(c));
    if (check.Number.empty())
        return check;
    check.Verdict = rule->Check(check.Number);
    return check;
}

VatCheck CheckVatId(std::string_view vatId)
{
    vatId = Trim(vatId);
    if (vatId.size() < 2)
        return CheckVatId(vatId, {});
    return CheckVatId(vatId.substr(0, 2), vatId.substr(2));
}

std::string_view VatVerdictName(VatVerdict verdict)
{
    switch (verdict) {
    case Valid:
        return "valid";
    case Invalid:
        return "invalid";
    case Malformed:
        return "malformed";
    case NotMemberState:
        break;
    }
    return "not-a-member-state";
}

std::string ViesRequestDate(std::time_t now)
{
    std::tm local{};
    localtime_r(&now, &local);
    const long offset = local.tm_gmtoff / 60;
    const long minutes = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02ld:%02ld", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

} // namespace orvel::rules
