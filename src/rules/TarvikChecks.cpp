#include "rules/TarvikChecks.h"

#include "platform/Text.h"
#include "rules/Bic.h"
#include "rules/Card.h"
#include "rules/Iban.h"

#include <ktoblzcheck.h>

#include <algorithm>
#include <map>

namespace orvel::rules {

const std::vector<ResultCode> kTarvikResultCodes = {
    {0, "Gültig"},
    {1, "Gültig; für diese Bank gibt es kein Prüfziffernverfahren, die Kontonummer ist nur formal geprüft"},
    {2, "Gültig; die Bankleitzahl wird demnächst gelöscht"},
    {3, "Testdaten: Testbank, Bankleitzahl und Kontonummer gültig"},
    {4, "Österreichische Bankleitzahl: nur das Format geprüft"},
    {5, "Österreichische Bankleitzahl bekannt; Kontonummer nicht geprüft (kein öffentliches Prüfverfahren)"},
    {-1, "Die Bankleitzahl ist gelöscht"},
    {11, "Kontonummer ungültig (Prüfziffer falsch)"},
    {12, "Bankleitzahl unbekannt"},
    {13, "Bankleitzahl ungültig: 8 Ziffern erwartet (Österreich: 5)"},
    {14, "Kontonummer ungültig: 1 bis 10 Ziffern erwartet (Österreich: 11)"},
    {15, "Land nicht unterstützt: nur DE und AT"},
    {16, "Prüfziffernverfahren unbekannt"},
    {20, "IBAN ungültig: nur Buchstaben und Ziffern, am Anfang Ländercode und Prüfziffern"},
    {21, "IBAN ungültig: kein IBAN-Land"},
    {22, "IBAN ungültig: falsche Länge"},
    {23, "IBAN ungültig: Aufbau passt nicht zum Land"},
    {24, "IBAN ungültig: Prüfziffern falsch"},
    {30, "BIC ungültig: 8 oder 11 Buchstaben und Ziffern erwartet"},
    {31, "BIC ungültig: unbekanntes Land"},
    {32, "BIC passt nicht zur IBAN"},
    {33, "BIC nicht im Bankverzeichnis"},
    {40, "Kartennummer ungültig: 12 bis 19 Ziffern erwartet"},
    {41, "Kartennummer ungültig (Prüfziffer falsch)"},
    {42, "Kartennummer ungültig: unbekannter Herausgeber"},
    {43, "Kartennummer ungültig: falsche Länge"},
    {90, "Zugang verweigert: Benutzername oder Passwort ungültig"},
    {91, "Anfrage unvollständig"},
    {92, "Unbekannte Funktion"},
    {93, "Zugang verweigert: ohne Benutzerdatei nur vom eigenen Rechner"},
};

const std::string& ResultCodeText(int32_t code)
{
    static const std::map<int32_t, std::string> texts = [] {
        std::map<int32_t, std::string> made;
        for (const ResultCode& entry : kTarvikResultCodes)
            made.emplace(entry.Code, Ansi(entry.Text));
        return made;
    }();
    return texts.at(code);
}

std::string ResultCodeText(int32_t code, std::string_view detail)
{
    std::string text = ResultCodeText(code);
    if (!detail.empty())
        text.append(": ").append(detail);
    return text;
}

namespace {

constexpr std::string_view kTestBlz = "89999999";
constexpr std::string_view kTestKto = "1234";
constexpr long kStaleSeconds = 365L * 24 * 3600;

template <typename Answer> Answer Fail(int32_t code, std::string_view detail = {})
{
    Answer answer;
    answer.Result = code;
    answer.ResultText = ResultCodeText(code, detail);
    return answer;
}

bool Digits(std::string_view text, size_t min, size_t max)
{
    return text.size() >= min && text.size() <= max &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string WithoutBlanks(std::string_view text)
{
    std::string kept;
    for (const char c : text)
        if (c != ' ')
            kept += c;
    return kept;
}

std::string LeftPadded(std::string_view digits, size_t width)
{
    return std::string(width - std::min(width, digits.size()), '0') + std::string(digits);
}

std::string MakeIban(std::string_view country, const std::string& bban)
{
    return std::string(country) + IbanCheckDigits(country, bban) + bban;
}

// Methods 00 to 99, A0 to D9 and E0 to E3.
bool KnownToLibrary(std::string_view method)
{
    return method.size() == 2 && method[1] >= '0' && method[1] <= '9' &&
           ((method[0] >= '0' && method[0] <= '9') || (method[0] >= 'A' && method[0] <= 'D') ||
            (method[0] == 'E' && method[1] <= '3'));
}

const std::string& Valid()
{
    static const std::string text = Ansi("Bankleitzahl und Kontonummer gültig");
    return text;
}

} // namespace

bool ComputableMethod(std::string_view method)
{
    return KnownToLibrary(method) || method == "E4";
}

TarvikChecks::TarvikChecks(const BankDirectory& directory, std::time_t now) : TarvikChecks(directory, now, nullptr) {}

TarvikChecks::TarvikChecks(const OfficialData& data, std::time_t now) : TarvikChecks(data.Banks, now, &data) {}

TarvikChecks::TarvikChecks(const BankDirectory& directory, std::time_t now, const OfficialData* data)
    : Banks(directory), Scl(data && data->Scl ? &*data->Scl : nullptr),
      Austria(data && data->Austria ? &*data->Austria : nullptr),
      Methods(std::make_unique<AccountNumberCheck>("/dev/null")), StaleData(now - directory.Date() > kStaleSeconds),
      SupersededData(rules::Superseded(directory.Date(), data ? data->BanksEdition.Until : 0, now))
{
    if (StaleData)
        StaleSuffix = Ansi(" (Bankdaten vom " + GermanDate(directory.Date()) + ", älter als ein Jahr)");
    else if (SupersededData)
        StaleSuffix = Ansi(" (Bankdaten gültig ab " + GermanDate(directory.Date()) + ", neuere Ausgabe verfügbar)");
    if (Scl)
        SclNote =
            " (SCL-Verzeichnis vom " + GermanDate(Scl->Date()) +
            (rules::Superseded(data->SclEdition.From, data->SclEdition.Until, now) ? Ansi(", neuere Ausgabe verfügbar")
                                                                                   : std::string()) +
            ")";
    // ktoblzcheck fills its table of methods on the first check, unguarded: done here, before any thread checks.
    Methods->check("10000000", "1", "00");
}

TarvikChecks::~TarvikChecks() = default;

AccountAnswer TarvikChecks::BlzKto(std::string_view blz, std::string_view kto, std::string_view country) const
{
    const std::string cleanBlz = WithoutBlanks(blz), cleanKto = WithoutBlanks(kto);
    if (country.empty() || SameText(country, "DE"))
        return German(cleanBlz, cleanKto);
    if (SameText(country, "AT"))
        return Austrian(cleanBlz, cleanKto);
    return Fail<AccountAnswer>(15, country);
}

AccountAnswer TarvikChecks::German(std::string_view blz, std::string_view kto) const
{
    if (!Digits(blz, 8, 8))
        return Fail<AccountAnswer>(13);
    if (!Digits(kto, 1, 10))
        return Fail<AccountAnswer>(14);
    const std::string bban = std::string(blz) + LeftPadded(kto, 10);
    if (blz == kTestBlz && kto.substr(std::min(kto.find_first_not_of('0'), kto.size())) == kTestKto) {
        AccountAnswer answer;
        answer.Result = 3;
        answer.ResultText = ResultCodeText(3);
        answer.BankName = "Testbank";
        answer.Iban = MakeIban("DE", bban);
        return answer;
    }
    const Bank* bank = Banks.Find(blz);
    if (!bank) {
        // Old data is what gets a new bank code wrong.
        const Bank* gone = Banks.FindGone(blz);
        AccountAnswer answer = Fail<AccountAnswer>(
            12, gone ? "nicht mehr im Bankverzeichnis (" + Ansi("früher: ") + gone->Name + ")" : std::string());
        answer.ResultText += StaleSuffix;
        return answer;
    }

    AccountAnswer answer;
    answer.BankName = bank->Name;
    if (bank->Change == 'D' || bank->Deletion)
        answer.NewBlz = bank->Successor.empty() ? "00000000" : bank->Successor;
    if (bank->Change == 'D') {
        answer.Result = -1;
        answer.ResultText = ResultCodeText(-1) + StaleSuffix;
        return answer;
    }
    // Method 09 means the bank's account numbers carry no check digit. Zeros name no account, and the library's
    // method 87 recurses without end on them.
    const bool zeros = kto.find_first_not_of('0') == std::string_view::npos;
    const auto verdict = zeros                  ? AccountNumberCheck::ERROR
                         : bank->Method == "09" ? AccountNumberCheck::UNKNOWN
                                                : Check(blz, kto, bank->Method);
    if (verdict == AccountNumberCheck::UNKNOWN && bank->Method != "09") {
        // A method this program cannot compute proves nothing about the account.
        answer.Result = 16;
        answer.ResultText = ResultCodeText(16, bank->Method.empty() ? "keines angegeben" : bank->Method) + StaleSuffix;
        return answer;
    }
    switch (verdict) {
    case AccountNumberCheck::OK:
        answer.Result = bank->Deletion ? 2 : 0;
        answer.ResultText = bank->Deletion ? ResultCodeText(2) : Valid();
        break;
    case AccountNumberCheck::UNKNOWN:
        answer.Result = 1;
        answer.ResultText = ResultCodeText(1);
        break;
    default:
        answer.Result = 11;
        answer.ResultText = ResultCodeText(11) + StaleSuffix;
        return answer;
    }
    answer.ResultText += StaleSuffix;
    answer.Iban = MakeIban("DE", bban);
    answer.Bic = bank->Bic;
    return answer;
}

int TarvikChecks::Check(std::string_view blz, std::string_view kto, std::string_view method) const
{
    const std::string code(blz), account(kto);
    // The library's methods stop at E3 and it complains on stderr about any other. E4 is variant 1 as method 02,
    // else variant 2 as method 00.
    if (method == "E4")
        return Methods->check(code, account, "02") == AccountNumberCheck::OK ? AccountNumberCheck::OK
                                                                             : Methods->check(code, account, "00");
    if (!KnownToLibrary(method))
        return AccountNumberCheck::UNKNOWN;
    return Methods->check(code, account, std::string(method));
}

AccountAnswer TarvikChecks::Austrian(std::string_view blz, std::string_view kto) const
{
    if (!Digits(blz, 5, 5))
        return Fail<AccountAnswer>(13);
    if (!Digits(kto, 1, 11))
        return Fail<AccountAnswer>(14);
    AccountAnswer answer = AustrianBankOf(blz);
    if (answer.Result != 12)
        answer.Iban = MakeIban("AT", std::string(blz) + LeftPadded(kto, 11));
    return answer;
}

AccountAnswer TarvikChecks::AustrianBankOf(std::string_view blz) const
{
    // No public method checks an Austrian account number: the OeNB directory knows the bank, nothing more.
    if (Austria) {
        const AustrianBank* bank = Austria->Find(blz);
        if (!bank)
            return Fail<AccountAnswer>(12, Ansi("nicht im OeNB-Verzeichnis vom ") + GermanDate(Austria->Date()));
        AccountAnswer answer;
        answer.Result = 5;
        answer.ResultText = ResultCodeText(5);
        answer.BankName = bank->Name;
        answer.Bic = bank->Bic;
        return answer;
    }
    AccountAnswer answer;
    answer.Result = 4;
    answer.ResultText = ResultCodeText(4) + Ansi(" (kein OeNB-Verzeichnis installiert)");
    answer.Bic = BuiltInAustrianBic(blz);
    return answer;
}

AccountAnswer TarvikChecks::Iban(std::string_view text) const
{
    const std::string iban = NormalizeIban(text);
    switch (CheckIban(iban)) {
    case IbanVerdict::Malformed:
        return Fail<AccountAnswer>(20);
    case IbanVerdict::UnknownCountry:
        return Fail<AccountAnswer>(21, iban.substr(0, 2));
    case IbanVerdict::WrongLength:
        return Fail<AccountAnswer>(22, std::to_string(iban.size()) + " Zeichen");
    case IbanVerdict::WrongStructure:
        return Fail<AccountAnswer>(23);
    case IbanVerdict::WrongChecksum:
        return Fail<AccountAnswer>(24);
    case IbanVerdict::Valid:
        break;
    }
    const std::string_view country = std::string_view(iban).substr(0, 2);
    if (country == "DE") {
        AccountAnswer answer = German(iban.substr(4, 8), iban.substr(12));
        if (answer.Result >= -1 && answer.Result <= 10)
            answer.Iban = iban;
        return answer;
    }
    AccountAnswer answer;
    if (country == "AT") {
        answer = AustrianBankOf(iban.substr(4, 5));
        if (answer.Result == 12)
            return answer;
        answer.ResultText = Ansi("IBAN gültig; ") + answer.ResultText;
    } else {
        answer.Result = 0;
        answer.ResultText = Ansi("IBAN gültig; das Konto ist nur formal geprüft");
    }
    answer.Iban = iban;
    return answer;
}

BicAnswer TarvikChecks::BicInfo(std::string_view bic) const
{
    BicAnswer answer;
    switch (CheckBic(bic)) {
    case BicVerdict::Malformed:
        return Fail<BicAnswer>(30);
    case BicVerdict::UnknownCountry:
        return Fail<BicAnswer>(31, bic.substr(4, 2));
    case BicVerdict::Valid:
        break;
    }
    if (const SclEntry* entry = Scl ? Scl->Find(bic) : nullptr) {
        answer.BicName = entry->Name;
        answer.Sct = entry->Sct;
        answer.Sdd = entry->Sdd;
        answer.B2b = entry->B2b;
        answer.Scc = entry->Scc;
        answer.SclDate = Scl->Date();
        answer.ResultText = Ansi("BIC gültig") + SclNote;
    } else if (const Bank* bank = Banks.FindBic(bic)) {
        answer.BicName = bank->Name;
        // Without the SCL directory, a BIC in the bank directory is taken as reachable, as before there was one.
        answer.Sct = answer.Sdd = answer.B2b = Scl ? 0 : 1;
        answer.ResultText =
            Scl ? Ansi("BIC gültig; nicht im SCL-Verzeichnis") + SclNote : Ansi("BIC gültig") + StaleSuffix;
    } else if (bic.substr(4, 2) == "DE") {
        answer.Result = 33;
        answer.ResultText = ResultCodeText(33) + StaleSuffix;
    } else {
        answer.ResultText = Ansi("BIC gültig; nur das Format geprüft");
    }
    return answer;
}

BicAnswer TarvikChecks::Bic(std::string_view bic) const
{
    // A BIC query has no result code of its own to the objects: a name that begins with "*" marks the failure.
    BicAnswer answer = BicInfo(NormalizeBic(bic));
    if (answer.Result != 0)
        answer.BicName = "*" + answer.ResultText;
    return answer;
}

IbanBicAnswer TarvikChecks::IbanBic(std::string_view iban, std::string_view text) const
{
    IbanBicAnswer answer{Iban(iban), BicInfo(NormalizeBic(text))};
    AccountAnswer& account = answer.Account;
    const BicAnswer& bic = answer.Bic;
    const bool passed = account.Result >= -1 && account.Result <= 10;
    if (!passed)
        return answer;
    if (bic.Result == 30 || bic.Result == 31) {
        account.Result = bic.Result;
        account.ResultText = bic.ResultText;
        return answer;
    }
    const std::string normalized = NormalizeBic(text);
    const bool otherCountry = normalized.substr(4, 2) != account.Iban.substr(0, 2);
    const bool otherBank = !account.Bic.empty() && !SameBic(account.Bic, normalized);
    if (otherCountry || otherBank) {
        account.Result = 32;
        account.ResultText = ResultCodeText(32);
        if (otherBank)
            account.ResultText += Ansi(": die Bank der IBAN hat den BIC ") + account.Bic + StaleSuffix;
        return answer;
    }
    account.Bic = normalized;
    return answer;
}

Verdict TarvikChecks::Card(std::string_view number) const
{
    const CardCheck check = CheckCard(NormalizeCard(number));
    switch (check.Verdict) {
    case CardVerdict::Malformed:
        return Fail<Verdict>(40);
    case CardVerdict::WrongChecksum:
        return Fail<Verdict>(41);
    case CardVerdict::UnknownIssuer:
        return Fail<Verdict>(42);
    case CardVerdict::WrongLength:
        return Fail<Verdict>(43, check.Scheme);
    case CardVerdict::Valid:
        break;
    }
    return {0, Ansi("Kartennummer gültig (") + std::string(check.Scheme) + ")"};
}

SearchAnswer TarvikChecks::Search(std::string_view words, std::string_view country, bool fragments) const
{
    SearchAnswer answer;
    if (SameText(country, "AT")) {
        if (!Austria) {
            answer.ResultText = Ansi("Kein österreichisches Bankverzeichnis (OeNB) installiert");
            return answer;
        }
        for (const AustrianBank* bank : Austria->Search(words, fragments, kMaxSearchHits))
            answer.Banken.push_back(bank->Blz + "|" + bank->Bic + "|" + bank->Name + "|" + bank->Plz + "|" +
                                    bank->Place);
        answer.Result = int32_t(answer.Banken.size());
        answer.ResultText = std::to_string(answer.Banken.size()) + Ansi(" Banken gefunden (OeNB-Verzeichnis vom ") +
                            GermanDate(Austria->Date()) + ")";
        return answer;
    }
    if (!country.empty() && !SameText(country, "DE"))
        return Fail<SearchAnswer>(15, country);
    for (const Bank* bank : Banks.Search(words, fragments, kMaxSearchHits))
        answer.Banken.push_back(bank->Blz + "|" + bank->Bic + "|" + bank->Name + "|" + bank->Plz + "|" + bank->Place);
    answer.Result = int32_t(answer.Banken.size());
    answer.ResultText = std::to_string(answer.Banken.size()) + " Banken gefunden" + StaleSuffix;
    return answer;
}

} // namespace orvel::rules
