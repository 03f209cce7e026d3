#include "rules/CheckTable.h"

#include "platform/StrToInt.h"
#include "rules/AustrianDirectory.h"
#include "rules/VatRules.h"

#include <algorithm>
#include <array>
#include <ctime>

namespace orvel::rules {
namespace {

std::string Input(CheckInputs inputs, size_t index)
{
    return index < inputs.size() && inputs[index] ? *inputs[index] : std::string();
}

std::string_view Utf8Input(CheckInputs inputs, size_t index)
{
    return index < inputs.size() && inputs[index] ? std::string_view(*inputs[index]) : std::string_view();
}

CheckValue Number(int32_t value)
{
    return {value, {}, {}};
}

CheckValue Text(std::string value)
{
    return {0, std::move(value), {}};
}

CheckValue List(std::vector<std::string> value)
{
    return {0, {}, std::move(value)};
}

bool AccountPassed(const CheckAnswer& answer)
{
    return answer.Result() >= 0 && answer.Result() <= 10;
}

// A search passes when it found a bank: its result is the number found, or the code of a refusal.
bool SearchPassed(const CheckAnswer& answer)
{
    return !answer.Values[2].List.empty();
}

// Postal code and place fit, exactly or after rewriting; a street or PO box the data cannot check does not fail.
bool AddressPassed(const CheckAnswer& answer)
{
    return answer.Result() == 0 || answer.Result() == 9 || answer.Result() == 12;
}

bool PostalCodeKnown(const CheckAnswer& answer)
{
    return answer.Result() == 101 || answer.Result() == 109;
}

bool VatPassed(const CheckAnswer& answer)
{
    return answer.Result() == 0;
}

// The bank's code, place and postal code, which the account answers do not carry, from the directory of its
// country: the IBAN names both when there is one, else the bank code checked.
void BankPlace(const TarvikChecks& checks, const AccountAnswer& answer, std::string_view blz,
               std::array<CheckValue, 3>& out)
{
    std::string code(blz), zip, city;
    const std::string_view iban = answer.Iban;
    const bool austrian = iban.starts_with("AT") || (iban.empty() && code.size() == 5);
    if (iban.starts_with("DE") && iban.size() == 22)
        code = iban.substr(4, 8);
    else if (iban.starts_with("AT") && iban.size() == 20)
        code = iban.substr(4, 5);
    if (austrian) {
        if (const AustrianDirectory* directory = checks.Austrian())
            if (const AustrianBank* bank = directory->Find(code)) {
                zip = bank->Plz;
                city = bank->Place;
            }
    } else if (const Bank* bank = checks.Directory().Find(code)) {
        zip = bank->Plz;
        city = bank->Place;
    }
    out = {Text(answer.BankName.empty() && answer.Bic.empty() ? std::string() : std::move(code)), Text(std::move(zip)),
           Text(std::move(city))};
}

// Result, text, bank name, successor, IBAN, BIC, then the bank's code, postal code and place.
std::vector<CheckValue> AccountValues(const CheckData& data, AccountAnswer answer, std::string_view blz)
{
    std::array<CheckValue, 3> place;
    if (data.Details)
        BankPlace(*data.Banks, answer, blz, place);
    std::vector<CheckValue> values;
    values.reserve(15);
    values.push_back(Number(answer.Result));
    values.push_back(Text(std::move(answer.ResultText)));
    values.push_back(Text(std::move(answer.BankName)));
    values.push_back(Text(std::move(answer.NewBlz)));
    values.push_back(Text(std::move(answer.Iban)));
    values.push_back(Text(std::move(answer.Bic)));
    for (CheckValue& value : place)
        values.push_back(std::move(value));
    return values;
}

// The BIC's name and reachability: SCT, SDD, B2B, SCC, and the SCL directory's date when they come from it.
void BicValues(const CheckData& data, const BicAnswer& answer, std::vector<CheckValue>& values)
{
    values.push_back(Text(answer.BicName));
    values.push_back(Number(answer.Sct));
    values.push_back(Number(answer.Sdd));
    values.push_back(Number(answer.B2b));
    values.push_back(Number(answer.Scc));
    values.push_back(Text(data.Details && answer.SclDate ? IsoDate(answer.SclDate) : std::string()));
}

CheckAnswer Account(const CheckData& data, CheckInputs inputs)
{
    const std::string blz = Input(inputs, 0);
    return {AccountValues(data, data.Banks->BlzKto(blz, Input(inputs, 1), Input(inputs, 2)), blz)};
}

CheckAnswer IbanCheck(const CheckData& data, CheckInputs inputs)
{
    return {AccountValues(data, data.Banks->Iban(Input(inputs, 0)), {})};
}

CheckAnswer IbanBicCheck(const CheckData& data, CheckInputs inputs)
{
    IbanBicAnswer answer = data.Banks->IbanBic(Input(inputs, 0), Input(inputs, 1));
    CheckAnswer out{AccountValues(data, std::move(answer.Account), {})};
    BicValues(data, answer.Bic, out.Values);
    return out;
}

CheckAnswer BicCheck(const CheckData& data, CheckInputs inputs)
{
    const BicAnswer answer = data.Banks->Bic(Input(inputs, 0));
    CheckAnswer out{{Number(answer.Result), Text(answer.ResultText)}};
    BicValues(data, answer, out.Values);
    return out;
}

CheckAnswer CardCheck(const CheckData& data, CheckInputs inputs)
{
    const Verdict answer = data.Banks->Card(Input(inputs, 0));
    return {{Number(answer.Result), Text(answer.ResultText)}};
}

CheckAnswer SearchCheck(const CheckData& data, CheckInputs inputs)
{
    SearchAnswer answer =
        data.Banks->Search(Input(inputs, 0), Input(inputs, 1), StrToIntDef(Utf8Input(inputs, 2), 0) != 0);
    return {{Number(answer.Result), Text(answer.ResultText), List(std::move(answer.Banken))}};
}

CheckAnswer AddressCheck(const CheckData& data, CheckInputs inputs)
{
    const AddressVerdict verdict =
        CheckAddress(*data.Postal, {Utf8Input(inputs, 0), Utf8Input(inputs, 1), Utf8Input(inputs, 2),
                                    Utf8Input(inputs, 3), Utf8Input(inputs, 4), StrToIntDef(Utf8Input(inputs, 5), 0)});
    return {{Number(verdict.Result), Text(verdict.Resulttext), Text(std::string(verdict.Rewritten)),
             Text(std::string(verdict.Str46)), Text(std::string(verdict.Str22)), Text(std::string(verdict.Ortsteil)),
             Text(std::string(verdict.PlzOut)), List(verdict.Orte), List(verdict.AlteOrte)}};
}

CheckAnswer PostalCodeType(const CheckData& data, CheckInputs inputs)
{
    const PostalCodeTypeVerdict verdict = GetPlzType(*data.Postal, Utf8Input(inputs, 0));
    return {{Number(verdict.Result), Text(std::string(verdict.Resulttext))}};
}

// What the rules can say of a VAT id: its form and check digits, never whether the tax authorities know it.
CheckAnswer VatCheck(const CheckData&, CheckInputs inputs)
{
    const rules::VatCheck check = CheckVatId(Utf8Input(inputs, 0));
    static constexpr std::pair<VatVerdict, std::pair<int32_t, const char*>> kTexts[] = {
        {VatVerdict::Valid, {0, "USt-IdNr. im gültigen Aufbau mit stimmender Prüfziffer"}},
        {VatVerdict::Invalid, {1, "USt-IdNr. ungültig: Prüfziffer falsch"}},
        {VatVerdict::Malformed, {2, "USt-IdNr. ungültig: Aufbau passt nicht zum Mitgliedstaat"}},
        {VatVerdict::NotMemberState, {3, "Kein EU-Mitgliedstaat"}},
    };
    const auto& [result, text] = std::find_if(std::begin(kTexts), std::end(kTexts), [&](const auto& entry) {
                                     return entry.first == check.Verdict;
                                 })->second;
    return {{Number(result), Text(text), Text(check.CountryCode), Text(check.Number),
             Text(std::string(VatVerdictName(check.Verdict)))}};
}

constexpr CheckField kResult{"result", "result", "return", "Result", FieldKind::Number};
constexpr CheckField kResultText{"result_text", "resulttext", "ResultText", "Resulttext"};

// The account answers' fields after the result; iban is the SOAP name of the IBAN answered.
std::vector<CheckField> AccountFields(std::string_view iban, std::string_view bankName = "BankName",
                                      std::string_view bic = "Bic")
{
    return {kResult,
            kResultText,
            {"bank.name", "bankname", bankName, "BankName"},
            {"new_bank_code", "newblz", "NewBlz", "NewBlz"},
            {"iban", "iban", iban, "Iban"},
            {"bank.bic", "bic", bic, "Bic"},
            {"bank.code", {}, {}, {}},
            {"bank.zip", {}, {}, {}},
            {"bank.city", {}, {}, {}}};
}

std::vector<CheckField> BicFields(std::string_view name)
{
    return {{"bic_name", "bicname", name, "BicName"},
            {"sepa.sct", "bicsct", "ServiceSCT", "BicSct", FieldKind::Flag},
            {"sepa.sdd", "bicsdd", "ServiceSDD", "BicSdd", FieldKind::Flag},
            {"sepa.b2b", "bicb2b", "ServiceB2B", "BicB2b", FieldKind::Flag},
            {"sepa.scc", {}, {}, {}, FieldKind::Flag},
            {"sepa.date", {}, {}, {}}};
}

std::vector<CheckField> Join(std::vector<CheckField> first, const std::vector<CheckField>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const CheckParam kIban{"iban", "iban", "IbanIn", "aIban", true, false, "iban"};
const CheckParam kBic{"bic", "bic", "BicIn", "aBic", true, false, "bic"};
const CheckParam kZip{"zip", "plz", "Plz", "aPlz", true, false, "plz"};

const std::vector<CheckRow> kRows = {
    {.Name = "banks",
     .Family = "Tarvik",
     .SoapMethod = "Search",
     .JsonPath = "/api/v1/banks",
     .Methods = {"Search"},
     .Params = {{"q", "search", "SearchString", "aSearchString"},
                {"country", "c", "C", "aLand", false},
                {"fragments", "fragments", "Fragments", "aFragmentsFlag", false, true}},
     .Fields = {{"result", "result", {}, "Result", FieldKind::Number},
                {"result_text", "resulttext", {}, "Resulttext"},
                {"banks", "banken", "return", "Banken", FieldKind::List, "code|bic|name|zip|city"}},
     .Run = SearchCheck,
     .Passed = SearchPassed,
     .Source = CheckSource::Banks,
     .Windows1252 = true},
    {.Name = "card",
     .Family = "Tarvik",
     .SoapMethod = "TestCc",
     .JsonPath = "/api/v1/card",
     .JsonPost = true,
     .Methods = {"TestCc"},
     .Params = {{"number", "cc", "Cc", "aCc", true, false, "card"}},
     .Fields = {kResult, kResultText},
     .Run = CardCheck,
     .Passed = AccountPassed,
     .Windows1252 = true},
    {.Name = "iban_bic",
     .Family = "Tarvik",
     .SoapMethod = "TestIbanBic",
     .JsonPath = "/api/v1/iban/{iban}",
     .Methods = {"TestIbanBic"},
     .Params = {kIban, kBic},
     .Fields = Join(AccountFields("IbanOut", "BankNameIban", "BicOut"), BicFields("BankNameBic")),
     .Run = IbanBicCheck,
     .Passed = AccountPassed,
     .Source = CheckSource::Banks,
     .Windows1252 = true},
    {.Name = "iban",
     .Family = "Tarvik",
     .SoapMethod = "TestIban",
     .JsonPath = "/api/v1/iban/{iban}",
     .Methods = {"TestIban"},
     .Params = {kIban},
     .Fields = AccountFields("IbanOut"),
     .Run = IbanCheck,
     .Passed = AccountPassed,
     .Source = CheckSource::Banks,
     .Windows1252 = true},
    {.Name = "account",
     .Family = "Tarvik",
     .SoapMethod = "TestBlzKto",
     .JsonPath = "/api/v1/account",
     .Methods = {"TestBlzKto"},
     .Params = {{"bank_code", "blz", "Blz", "aBlz", true, false, "blz"},
                {"account", "kto", "Kto", "aKto", true, false, "kto"},
                {"country", "c", "C", "aLand", false}},
     .Fields = AccountFields("Iban"),
     .Run = Account,
     .Passed = AccountPassed,
     .Source = CheckSource::Banks,
     .Windows1252 = true},
    // The web services answer a BIC without a result code, and the objects take none from it.
    {.Name = "bic",
     .Family = "Tarvik",
     .SoapMethod = "TestBic",
     .JsonPath = "/api/v1/bic/{bic}",
     .Methods = {"TestBic"},
     .Params = {{"bic", "bic", "Bic", "aBic", true, false, "bic"}},
     .Fields = Join({{"result", "result", {}, {}, FieldKind::Number}, {"result_text", "resulttext", {}, {}}},
                    BicFields("BankName")),
     .Run = BicCheck,
     .Passed = AccountPassed,
     .Source = CheckSource::Banks,
     .Windows1252 = true},
    {.Name = "address",
     .Family = "Address",
     .WddxFunc = "check",
     .JsonPath = "/api/v1/address",
     .Methods = {"Check", "CheckStr", "CheckPof", "CheckStrHnr"},
     .Params = {kZip,
                {"city", "ort", "Ort", "aOrt", true, false, "ort"},
                {"street", "str", "Str", "aStr", false, false, "str"},
                {"house_number", "hnr", "Hnr", "aHnr", false, false, "hnr"},
                {"po_box", "pof", "Pof", "aPof", false, false, "pof"},
                {"rewrite", "rewrite", "Rewrite", {}, false, true}},
     .Fields = {kResult,
                kResultText,
                {"rewritten", "rewritten", "Rewritten", "Rewritten"},
                {"street_46", "str46", "Str46", "Str46"},
                {"street_22", "str22", "Str22", "Str22"},
                {"district", "ortsteil", "Ortsteil", "Ortsteil"},
                {"zip", "plzout", "PlzOut", "PlzOut"},
                {"places", "orte", "Orte", "Orte", FieldKind::List, "zip|city"},
                {"former_places", "alteorte", "AlteOrte", "AlteOrte", FieldKind::List, "zip|city"}},
     .Run = AddressCheck,
     .Passed = AddressPassed,
     .Source = CheckSource::Postal},
    {.Name = "postal_code_type",
     .Family = "Address",
     .SoapMethod = "GetPlzType",
     .WddxFunc = "type",
     .JsonPath = "/api/v1/postal-codes/{zip}",
     .Methods = {"GetPlzType"},
     .Params = {kZip},
     .Fields = {kResult, kResultText},
     .Run = PostalCodeType,
     .Passed = PostalCodeKnown,
     .Source = CheckSource::Postal},
    {.Name = "vat",
     .Family = "UStID",
     .JsonPath = "/api/v1/vat/{id}",
     .Params = {{"id", {}, {}, "aUStID", true, false, "vat"}},
     .Fields = {{"result", {}, {}, {}, FieldKind::Number},
                {"result_text", {}, {}, {}},
                {"country_code", {}, {}, {}},
                {"number", {}, {}, {}},
                {"verdict", {}, {}, {}}},
     .Run = VatCheck,
     .Passed = VatPassed},
};

} // namespace

int CheckRow::Param(std::string_view name) const
{
    for (size_t i = 0; i < Params.size(); ++i)
        if (Params[i].Name == name)
            return int(i);
    return -1;
}

int CheckRow::Field(std::string_view json) const
{
    for (size_t i = 0; i < Fields.size(); ++i)
        if (Fields[i].Json == json)
            return int(i);
    return -1;
}

std::span<const CheckRow> CheckTable()
{
    return kRows;
}

const CheckRow* FindCheck(std::string_view name)
{
    for (const CheckRow& row : kRows)
        if (row.Name == name)
            return &row;
    return nullptr;
}

const CheckRow* FindCheckByMethod(std::string_view family, std::string_view method)
{
    for (const CheckRow& row : kRows)
        if (row.Family == family && std::find(row.Methods.begin(), row.Methods.end(), method) != row.Methods.end())
            return &row;
    return nullptr;
}

std::string_view ObjectParamOfColumn(std::string_view column)
{
    for (const CheckRow& row : kRows)
        for (const CheckParam& param : row.Params)
            if (!param.Column.empty() && param.Column == column)
                return param.Object;
    return {};
}

const CheckRow* ChooseWddx(std::string_view family, const std::function<bool(std::string_view)>& has,
                           std::string_view* missing)
{
    const CheckRow* partly = nullptr;
    for (const CheckRow& row : kRows) {
        if (row.Family != family || row.Params.empty() || row.Params[0].Wddx.empty())
            continue;
        const auto absent = std::find_if(row.Params.begin(), row.Params.end(),
                                         [&](const CheckParam& param) { return param.Required && !has(param.Wddx); });
        if (absent == row.Params.end()) {
            *missing = {};
            return &row;
        }
        if (!partly && has(row.Params[0].Wddx)) {
            partly = &row;
            *missing = absent->Wddx;
        }
    }
    return nullptr;
}

} // namespace orvel::rules
