#include "rules/BatchColumns.h"

namespace orvel::rules {
namespace {

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

std::span<const BatchChoice> BatchChoices()
{
    return kChoices;
}

} // namespace orvel::rules
