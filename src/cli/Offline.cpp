#include "cli/Offline.h"

#include "confirm/Confirm.h"
#include "platform/Codepage.h"
#include "platform/Text.h"
#include "rules/AddressRules.h"
#include "rules/VatRules.h"
#include "server/ComServer.h"

#include <ctime>
#include <stdexcept>

namespace orvel::cli {
namespace {

// The properties a check writes, as the check objects hold them after reading the service's answer. A handful per
// check, so a flat list is the fastest map.
class TProperties
{
public:
    TProperties& Number(std::string_view Name, int32_t Value)
    {
        FValues.emplace_back(Name, Value);
        return *this;
    }

    // Windows-1252, as the service sends its texts.
    TProperties& Text(std::string_view Name, std::string_view Value)
    {
        FValues.emplace_back(Name, Widen(Value));
        return *this;
    }

    TProperties& List(std::string_view Name, const std::vector<std::string>& Windows1252)
    {
        std::vector<WideString> list;
        list.reserve(Windows1252.size());
        for (const std::string& item : Windows1252)
            list.push_back(Widen(item));
        FLists.emplace_back(Name, std::move(list));
        return *this;
    }

    // In the order the operation writes them; a property this answer leaves alone keeps a fresh object's value.
    std::vector<TCheckValue> Values(const TOperationInfo& Operation)
    {
        std::vector<TCheckValue> values;
        values.reserve(Operation.Writes.size());
        for (std::string_view name : Operation.Writes) {
            TCheckValue value{name};
            if (auto list = Find(FLists, name)) {
                value.IsList = true;
                value.List = std::move(*list);
            } else if (auto found = Find(FValues, name)) {
                value.Value = std::move(*found);
            } else {
                value.IsList = name == "Banken" || name == "Orte" || name == "AlteOrte";
                value.Value = WideString();
            }
            values.push_back(std::move(value));
        }
        return values;
    }

private:
    template <class T> static T* Find(std::vector<std::pair<std::string_view, T>>& Entries, std::string_view Name)
    {
        for (auto& [name, value] : Entries)
            if (name == Name)
                return &value;
        return nullptr;
    }

    std::vector<std::pair<std::string_view, Variant>> FValues;
    std::vector<std::pair<std::string_view, std::vector<WideString>>> FLists;
};

// The call's arguments by parameter name, as the objects put them into the query: Windows-1252.
class TArguments
{
public:
    explicit TArguments(const TCheckCall& Call)
        : FParams(Call.Factory->Interface().FindMember(Call.Operation->Method)->Params), FArgs(Call.Args)
    {
    }

    std::string Text(std::string_view Name) const
    {
        const Variant* arg = Find(Name);
        return arg && arg->Type() == VarType::Text ? Narrow(std::get<WideString>(*arg)) : std::string();
    }

    int32_t Number(std::string_view Name) const
    {
        const Variant* arg = Find(Name);
        return arg && arg->Type() == VarType::Int32 ? std::get<int32_t>(*arg) : 0;
    }

private:
    const Variant* Find(std::string_view Name) const
    {
        for (size_t i = 0; i < FParams.size() && i < FArgs.size(); ++i)
            if (FParams[i].Name == Name)
                return &FArgs[i];
        return nullptr;
    }

    const std::vector<TParamInfo>& FParams;
    const std::vector<Variant>& FArgs;
};

void Account(TProperties& Out, const rules::AccountAnswer& Answer)
{
    Out.Number("Result", Answer.Result)
        .Text("Resulttext", Answer.ResultText)
        .Text("BankName", Answer.BankName)
        .Text("NewBlz", Answer.NewBlz)
        .Text("Iban", Answer.Iban)
        .Text("Bic", Answer.Bic);
}

void Bic(TProperties& Out, const rules::BicAnswer& Answer)
{
    Out.Text("BicName", Answer.BicName)
        .Number("BicSct", Answer.Sct)
        .Number("BicSdd", Answer.Sdd)
        .Number("BicB2b", Answer.B2b);
}

TProperties Tarvik(const rules::TarvikChecks& Checks, std::string_view Method, const TArguments& Args)
{
    TProperties out;
    if (Method == "TestBlzKto") {
        Account(out, Checks.BlzKto(Args.Text("aBlz"), Args.Text("aKto"), Args.Text("aLand")));
    } else if (Method == "TestIban") {
        Account(out, Checks.Iban(Args.Text("aIban")));
    } else if (Method == "TestIbanBic") {
        const rules::IbanBicAnswer answer = Checks.IbanBic(Args.Text("aIban"), Args.Text("aBic"));
        Account(out, answer.Account);
        Bic(out, answer.Bic);
    } else if (Method == "TestBic") {
        // The object takes no result code from a BIC check: the name carries why a BIC failed.
        out.Number("Result", 0);
        Bic(out, Checks.Bic(Args.Text("aBic")));
    } else if (Method == "TestCc") {
        const rules::Verdict answer = Checks.Card(Args.Text("aCc"));
        out.Number("Result", answer.Result).Text("Resulttext", answer.ResultText);
    } else if (Method == "Search") {
        const rules::SearchAnswer answer =
            Checks.Search(Args.Text("aSearchString"), Args.Text("aLand"), Args.Number("aFragmentsFlag") != 0);
        out.Number("Result", int32_t(answer.Banken.size()))
            .Text("Resulttext", answer.ResultText)
            .List("Banken", answer.Banken);
    } else {
        throw std::invalid_argument("no offline answer for Tarvik." + std::string(Method));
    }
    return out;
}

std::string Windows1252(std::string_view Utf8)
{
    return Narrow(FromUtf8(Utf8));
}

std::vector<std::string> Windows1252(const std::vector<std::string>& Utf8)
{
    std::vector<std::string> out;
    out.reserve(Utf8.size());
    for (const std::string& item : Utf8)
        out.push_back(Windows1252(item));
    return out;
}

int32_t RewriteOf(const TCheckSettings& Settings)
{
    for (const auto& [name, value] : Settings)
        if (name == "Rewrite" && value.Type() == VarType::Int32)
            return std::get<int32_t>(value);
    return kDefaultRewrite;
}

TProperties Address(const rules::PostalData& Postal, std::string_view Method, const TArguments& Args,
                    const TCheckSettings& Settings)
{
    TProperties out;
    if (Method == "GetPlzType") {
        const rules::PostalCodeTypeVerdict verdict = rules::GetPlzType(Postal, Args.Text("aPlz"));
        return out.Number("Result", verdict.Result).Text("Resulttext", Windows1252(verdict.Resulttext));
    }
    // The texts as the rules read them: what Windows-1252 can carry, in UTF-8.
    const std::string plz = AnsiToUtf8(Args.Text("aPlz")), place = AnsiToUtf8(Args.Text("aOrt")),
                      street = AnsiToUtf8(Args.Text("aStr")), number = AnsiToUtf8(Args.Text("aHnr")),
                      box = AnsiToUtf8(Args.Text("aPof"));
    const rules::AddressVerdict verdict =
        rules::CheckAddress(Postal, {plz, place, street, number, box, RewriteOf(Settings)});
    out.Number("Result", verdict.Result)
        .Text("Resulttext", Windows1252(verdict.Resulttext))
        .Text("Rewritten", Windows1252(verdict.Rewritten))
        .Text("Str46", Windows1252(verdict.Str46))
        .Text("Str22", Windows1252(verdict.Str22))
        .Text("Ortsteil", Windows1252(verdict.Ortsteil))
        .Text("PlzOut", Windows1252(verdict.PlzOut));
    // The place lists come only with a place that does not fit.
    if (verdict.Result == 4)
        out.List("Orte", Windows1252(verdict.Orte)).List("AlteOrte", Windows1252(verdict.AlteOrte));
    return out;
}

// VIES's name of a trader whose state discloses none, and the address the local service puts in its place.
constexpr const char* kUndisclosed = "---";
constexpr const char* kOfflineAddress = "Offline-Prüfung: nur Aufbau und Prüfziffer, keine Bestätigung durch die EU";

TProperties UStID(const TArguments& Args)
{
    // Split as the object sends it to VIES: the first two characters are the country, the rest the number.
    const std::string id = confirm::NormalizeId(AnsiToUtf8(Args.Text("aUStID")));
    const std::string country = id.substr(0, 2), number = id.size() > 2 ? id.substr(2) : std::string();
    TProperties out;
    if (rules::IsOutsideVies(id))
        return out.Number("Result", 1).Text("Resulttext", Windows1252(std::string(confirm::kNotMemberState)));
    const rules::VatCheck check = rules::CheckVatId(country, number);
    if (check.Number.empty())
        return out.Number("Result", 2).Text("Resulttext", "INVALID_INPUT");
    const bool valid = check.Verdict == rules::VatVerdict::Valid;
    return out.Number("Result", valid ? 0 : 1)
        .Text("Resulttext", country + "~" + number + "~" + rules::ViesRequestDate(std::time(nullptr)) + "~" +
                                (valid ? "True" : "False") + "~" + kUndisclosed + "~" + Ansi(kOfflineAddress));
}

} // namespace

TOfflineRunner::TOfflineRunner()
    : FData(rules::OfficialData::Load(std::time(nullptr))), FChecks(FData, std::time(nullptr)),
      FPostal(rules::PostalData::Load(rules::DefaultPostalDataPath()))
{
}

TCheckOutcome TOfflineRunner::Run(const TCheckCall& Call, const TCheckSettings& Settings)
{
    const std::string_view coClass = Call.Factory->CoClass().Name;
    const std::string_view method = Call.Operation->Method;
    const TArguments args(Call);
    try {
        TProperties answer = coClass == "Tarvik"    ? Tarvik(FChecks, method, args)
                             : coClass == "Address" ? Address(FPostal, method, args, Settings)
                                                    : UStID(args);
        return {S_OK, {}, answer.Values(*Call.Operation)};
    } catch (const std::exception& error) {
        return {E_UNEXPECTED, {std::string(Call.Factory->Interface().Guid), u"offline", Widen(error.what())}};
    }
}

std::string TOfflineRunner::Source() const
{
    std::string editions;
    for (const std::string& edition : rules::DescribeEditions(FData, std::time(nullptr)))
        editions += "; " + edition;
    return "ohne Dienst aus den Regeln und Daten dieses Rechners (Bankdaten vom " +
           rules::GermanDate(FData.Banks.Date()) + editions + "; Postleitzahlen vom " +
           (FPostal.Date().empty() ? std::string("?") : FPostal.Date()) + ")";
}

} // namespace orvel::cli
