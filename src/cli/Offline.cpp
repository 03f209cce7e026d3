#include "cli/Offline.h"

#include "confirm/Confirm.h"
#include "platform/Codepage.h"
#include "platform/Text.h"
#include "rules/AddressRules.h"
#include "rules/CheckTable.h"
#include "rules/VatRules.h"
#include "server/ComServer.h"

#include <algorithm>
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
        for (auto& [name, value] : FValues)
            if (name == Name) {
                value = Value;
                return *this;
            }
        FValues.emplace_back(Name, Value);
        return *this;
    }

    // Windows-1252, as the service sends its texts.
    TProperties& Text(std::string_view Name, std::string_view Value)
    {
        FValues.emplace_back(Name, Widen(Value));
        return *this;
    }

    TProperties& Utf8Text(std::string_view Name, std::string_view Value)
    {
        if (std::all_of(Value.begin(), Value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            FValues.emplace_back(Name, WideString(Value.begin(), Value.end()));
        else
            FValues.emplace_back(Name, FromUtf8(Value));
        return *this;
    }

    // Items in Windows-1252 (Widen) or UTF-8 (FromUtf8).
    TProperties& List(std::string_view Name, const std::vector<std::string>& Items,
                      WideString (*Convert)(std::string_view))
    {
        std::vector<WideString> list;
        list.reserve(Items.size());
        for (const std::string& item : Items)
            list.push_back(Convert(item));
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
            } else if (name == "Result") {
                value.Value = int32_t(0);
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
    TArguments(const std::vector<TParamInfo>& Params, const TCheckCall& Call) : FParams(Params), FArgs(Call.Args) {}

    std::string Text(std::string_view Name) const
    {
        const Variant* arg = Find(Name);
        return arg && arg->Type() == VarType::Text ? Narrow(std::get<WideString>(*arg)) : std::string();
    }

    std::string Utf8(std::string_view Name) const
    {
        const Variant* arg = Find(Name);
        if (!arg || arg->Type() != VarType::Text)
            return {};
        const WideString& text = std::get<WideString>(*arg);
        if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; }))
            return std::string(text.begin(), text.end());
        return ToUtf8(text);
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

int32_t RewriteOf(const TCheckSettings& Settings)
{
    for (const auto& [name, value] : Settings)
        if (name == "Rewrite" && value.Type() == VarType::Int32)
            return std::get<int32_t>(value);
    return kDefaultRewrite;
}

// The row's answer as the object's properties. The address's rewrite mode is a setting of the object, not an argument.
TProperties Answer(const rules::CheckRow& Row, const rules::CheckData& Data, const TArguments& Args,
                   const TCheckSettings& Settings)
{
    std::vector<std::optional<std::string>> inputs;
    inputs.reserve(Row.Params.size());
    for (const rules::CheckParam& param : Row.Params) {
        if (param.Name == "rewrite")
            inputs.emplace_back(std::to_string(RewriteOf(Settings)));
        else if (param.Object.empty())
            inputs.emplace_back();
        else
            inputs.emplace_back(param.Number      ? std::to_string(Args.Number(param.Object))
                                : Row.Windows1252 ? Args.Text(param.Object)
                                                  : Args.Utf8(param.Object));
    }
    const rules::CheckAnswer answer = Row.Run(Data, inputs);

    TProperties out;
    for (size_t i = 0; i < Row.Fields.size(); ++i) {
        const rules::CheckField& field = Row.Fields[i];
        const rules::CheckValue& value = answer.Values[i];
        if (field.Property.empty())
            continue;
        if (field.Kind != rules::FieldKind::Text && field.Kind != rules::FieldKind::List)
            out.Number(field.Property, value.Number);
        else if (field.Kind == rules::FieldKind::Text)
            Row.Windows1252 ? out.Text(field.Property, value.Text) : out.Utf8Text(field.Property, value.Text);
        // The place lists come only with a place that does not fit.
        else if (Row.Family != "Address" || answer.Result() == 4)
            out.List(field.Property, value.List, Row.Windows1252 ? Widen : FromUtf8);
    }
    // The object counts the banks a search found.
    if (Row.Name == "banks")
        out.Number("Result", int32_t(answer.Values[2].List.size()));
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
        return out.Number("Result", 1).Utf8Text("Resulttext", confirm::kNotMemberState);
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
    // A batch asks the same operation row after row: what it is found by names is kept for the next call.
    thread_local struct
    {
        const TOperationInfo* Operation = nullptr;
        const std::vector<TParamInfo>* Params = nullptr;
        const rules::CheckRow* Row = nullptr;
    } last;
    if (last.Operation != Call.Operation) {
        last.Params = &Call.Factory->Interface().FindMember(method)->Params;
        last.Row = rules::FindCheckByMethod(coClass, method);
        last.Operation = Call.Operation;
    }
    const TArguments args(*last.Params, Call);
    try {
        const rules::CheckRow* row = last.Row;
        if (!row && coClass != "UStID")
            throw std::invalid_argument("no offline answer for " + std::string(coClass) + "." + std::string(method));
        TProperties answer = row ? Answer(*row, {&FChecks, &FPostal}, args, Settings) : UStID(args);
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
