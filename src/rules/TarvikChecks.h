#pragma once
// The account-side answers of the service: bank code + account, IBAN, IBAN + BIC, BIC, card and bank search, as
// plain values that the WDDX and SOAP front ends write out. Texts are Windows-1252.

#include "rules/BankDirectory.h"
#include "rules/OfficialData.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class AccountNumberCheck;

namespace orvel::rules {

struct ResultCode
{
    int32_t Code;
    const char* Text; // UTF-8; the general text, some answers add details
};
// Every result code the account side answers with; 0 to 10 mean passed.
extern const std::vector<ResultCode> kTarvikResultCodes;
// The code's text in Windows-1252.
const std::string& ResultCodeText(int32_t code);
// The same followed by ": " and the detail, when there is one.
std::string ResultCodeText(int32_t code, std::string_view detail);

struct Verdict
{
    int32_t Result = 0;
    std::string ResultText;
};

struct AccountAnswer : Verdict
{
    std::string BankName;
    std::string NewBlz; // empty unless the bank code is deleted or about to be; "00000000": no successor named
    std::string Iban;
    std::string Bic;
};

struct BicAnswer : Verdict
{
    std::string BicName;
    // Reachability as the SCL directory lists it; without one installed, 1 when the BIC is in the bank directory.
    int32_t Sct = 0;
    int32_t Sdd = 0;
    int32_t B2b = 0;
    int32_t Scc = 0;
    std::time_t SclDate = 0; // the SCL directory's date when the flags come from it, else 0
};

struct IbanBicAnswer
{
    AccountAnswer Account;
    BicAnswer Bic;
};

struct SearchAnswer : Verdict
{
    std::vector<std::string> Banken; // "BLZ|BIC|Name|PLZ|Ort"
};

// Whether this program computes the check digit of a Bundesbank method code.
bool ComputableMethod(std::string_view method);

class TarvikChecks
{
public:
    static constexpr size_t kMaxSearchHits = 1000;

    // now decides whether the directory counts as stale (older than a year) or superseded (past its end, or 13
    // weeks after its start when it names no end).
    TarvikChecks(const BankDirectory& directory, std::time_t now);
    // The bank directory with the SCL and OeNB directories the data holds, when it holds them.
    TarvikChecks(const OfficialData& data, std::time_t now);
    ~TarvikChecks();
    TarvikChecks(const TarvikChecks&) = delete;
    TarvikChecks& operator=(const TarvikChecks&) = delete;

    // country "DE" (or empty) or "AT".
    AccountAnswer BlzKto(std::string_view blz, std::string_view kto, std::string_view country) const;
    AccountAnswer Iban(std::string_view iban) const;
    IbanBicAnswer IbanBic(std::string_view iban, std::string_view bic) const;
    // A failed query names "*" + the reason as BicName.
    BicAnswer Bic(std::string_view bic) const;
    Verdict Card(std::string_view number) const;
    SearchAnswer Search(std::string_view words, std::string_view country, bool fragments) const;

    const BankDirectory& Directory() const { return Banks; }
    // The OeNB directory, when one is installed.
    const AustrianDirectory* Austrian() const { return Austria; }
    bool Stale() const { return StaleData; }
    bool Superseded() const { return SupersededData; }

private:
    AccountAnswer German(std::string_view blz, std::string_view kto) const;
    AccountAnswer Austrian(std::string_view blz, std::string_view kto) const;
    // Result 5 with name and BIC, or 12, from the OeNB directory; else 4 with the built-in table's BIC.
    AccountAnswer AustrianBankOf(std::string_view blz) const;
    BicAnswer BicInfo(std::string_view bic) const;
    // An AccountNumberCheck::Result.
    int Check(std::string_view blz, std::string_view kto, std::string_view method) const;

    TarvikChecks(const BankDirectory& directory, std::time_t now, const OfficialData* data);

    const BankDirectory& Banks;
    const SclDirectory* Scl = nullptr;
    std::string SclNote; // the SCL directory's date, for the BIC answers taken from it
    const AustrianDirectory* Austria = nullptr;
    std::unique_ptr<AccountNumberCheck> Methods;
    bool StaleData = false;
    bool SupersededData = false;
    std::string StaleSuffix;
};

} // namespace orvel::rules
