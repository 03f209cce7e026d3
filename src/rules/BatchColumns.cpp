#include "rules/BatchColumns.h"

#include <algorithm>
#include <utility>

namespace orvel::rules {
namespace {

constexpr std::pair<std::string_view, std::string_view> kColumns[] = {
    {"iban", "aIban"}, {"blz", "aBlz"}, {"kto", "aKto"}, {"bic", "aBic"}, {"card", "aCc"}, {"vat", "aUStID"},
    {"plz", "aPlz"},   {"ort", "aOrt"}, {"str", "aStr"}, {"hnr", "aHnr"}, {"pof", "aPof"},
};

const BatchChoice kChoices[] = {
    {{"aUStID", "OwnVatId"}, "UStID", "Confirm", "vat"},
    {{"aUStID"}, "UStID", "Check", "vat"},
    {{"aCc"}, "Tarvik", "TestCc", "card"},
    {{"aIban", "aBic"}, "Tarvik", "TestIbanBic", "iban"},
    {{"aIban"}, "Tarvik", "TestIban", "iban"},
    {{"aBlz", "aKto"}, "Tarvik", "TestBlzKto", "iban"},
    {{"aBic"}, "Tarvik", "TestBic", "iban"},
    {{"aPlz", "aOrt", "aPof"}, "Address", "CheckPof", "address"},
    {{"aPlz", "aOrt", "aStr", "aHnr"}, "Address", "CheckStrHnr", "address"},
    {{"aPlz", "aOrt", "aStr"}, "Address", "CheckStr", "address"},
    {{"aPlz", "aOrt"}, "Address", "Check", "address"},
    {{"aPlz"}, "Address", "GetPlzType", "address"},
};

} // namespace

std::string_view BatchParameter(std::string_view header)
{
    for (const auto& [column, param] : kColumns)
        if (header.size() == column.size() &&
            std::equal(header.begin(), header.end(), column.begin(),
                       [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a + 32) : a) == b; }))
            return param;
    return {};
}

std::span<const BatchChoice> BatchChoices()
{
    return kChoices;
}

} // namespace orvel::rules
