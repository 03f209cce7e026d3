#include "service/AddressFront.h"

#include "platform/Codepage.h"
#include "platform/StrToInt.h"
#include "rules/AddressRules.h"
#include "rules/TarvikChecks.h"
#include "service/Access.h"
#include "service/SoapRpc.h"
#include "service/Wddx.h"

#include <memory>

namespace orvel::service {
namespace {

std::string Utf8(std::string_view windows1252)
{
    return ToUtf8(Widen(windows1252));
}

const rules::CheckRow& Row(std::string_view name)
{
    return *rules::FindCheck(name);
}

std::string AddressWddx(const rules::PostalData& data, const Users& users, const HttpRequest& request)
{
    const auto value = [&request](const char* key) { return request.Query(key).value_or(std::string_view()); };
    if (const int32_t admitted = AdmitRequest(users, value("un"), value("pw"), request); admitted != Users::kAdmitted)
        return WddxPacket::Result(admitted, rules::ResultCodeText(admitted));

    const rules::CheckRow* row = nullptr;
    for (const rules::CheckRow& candidate : rules::CheckTable())
        if (candidate.Family == "Address" && candidate.WddxFunc == value("func"))
            row = &candidate;
    if (!row)
        return WddxPacket::Result(92, rules::ResultCodeText(92, "erwartet func=check oder func=type"));
    // The objects send Windows-1252; the rules read UTF-8.
    std::vector<std::optional<std::string>> inputs;
    for (const rules::CheckParam& param : row->Params) {
        const auto given = request.Query(std::string(param.Wddx).c_str());
        if (!given && param.Required)
            return WddxPacket::Result(91, rules::ResultCodeText(91, std::string(param.Wddx) + " fehlt"));
        inputs.push_back(given ? std::optional<std::string>(Utf8(*given)) : std::nullopt);
    }
    return WddxPacket().Answer(*row, row->Run({nullptr, &data}, inputs)).Finish();
}

// The inputs of a check, read before anything is answered so that a missing one is a fault: the street with its
// house number, or the PO box, only for the operations that send them.
std::vector<std::optional<std::string>> CheckInputs(const rules::CheckRow& row, const RpcCall& call, bool street,
                                                    bool poBox)
{
    std::vector<std::optional<std::string>> inputs(row.Params.size());
    for (size_t i = 0; i < row.Params.size(); ++i) {
        const rules::CheckParam& param = row.Params[i];
        const bool asked = param.Required || param.Number ||
                           (street && (param.Name == "street" || param.Name == "house_number")) ||
                           (poBox && param.Name == "po_box");
        if (asked)
            inputs[i] = param.Number ? std::to_string(call.Int(std::string(param.Soap).c_str()))
                                     : call.Utf8Text(std::string(param.Soap).c_str());
    }
    return inputs;
}

// Users::kAdmitted, or the result code that refuses the call.
int32_t Admission(const Users& users, const RpcCall& call)
{
    return AdmitRequest(users, call.Text("UN"), call.Text("PW"), call.From());
}

// The fields the address answers without a street leave out.
bool StreetField(const rules::CheckField& field)
{
    return field.Soap == "Str46" || field.Soap == "Str22" || field.Soap == "Ortsteil" || field.Soap == "PlzOut";
}

void Refuse(int32_t code, RpcAnswer& out)
{
    out.Int("return", code).Text("ResultText", rules::ResultCodeText(code));
}

} // namespace

void AddAddress(Router& router, const rules::PostalData& data, const Users& users)
{
    router.Add("/address", [&data, &users](const HttpRequest& request) {
        return HttpResponse{200, WddxPacket::kContentType, AddressWddx(data, users, request)};
    });

    auto soap = std::make_shared<SoapEndpoint>("urn:Address3Intf-IAddress3");
    // One check, three operations: with the street and house number, with the PO box, or with neither.
    const auto check = [&data, &users](bool street, bool poBox) {
        return [&data, &users, street, poBox](const RpcCall& call, RpcAnswer& out) {
            const rules::CheckRow& row = Row("address");
            const auto inputs = CheckInputs(row, call, street, poBox);
            if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
                return Refuse(code, out);
            out.Answer(row, row.Run({nullptr, &data}, inputs), street ? nullptr : StreetField);
        };
    };
    soap->Add("CheckPlzOrt", check(false, false));
    soap->Add("CheckPlzOrtStr", check(true, false));
    soap->Add("CheckPlzOrtPof", check(false, true));
    for (const rules::CheckRow& row : rules::CheckTable()) {
        if (row.Family != "Address" || row.SoapMethod.empty())
            continue;
        soap->Add(std::string(row.SoapMethod), [&data, &users, &row](const RpcCall& call, RpcAnswer& out) {
            const auto inputs = call.Inputs(row);
            if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
                return Refuse(code, out);
            out.Answer(row, row.Run({nullptr, &data}, inputs));
        });
    }
    router.Add(
        "/soap/IAddress3", [soap](const HttpRequest& request) { return soap->Answer(request); },
        SoapEndpoint::TooLarge);
}

} // namespace orvel::service
