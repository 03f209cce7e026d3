#include "service/TarvikFront.h"

#include "platform/Codepage.h"
#include "service/Access.h"
#include "service/SoapRpc.h"
#include "service/Wddx.h"

#include <memory>

namespace orvel::service {
namespace {

std::string Failure(int32_t code, std::string_view detail = {})
{
    return WddxPacket::Result(code, rules::ResultCodeText(code, detail));
}

std::string TarvikWddx(const rules::CheckData& data, const Users& users, const HttpRequest& request)
{
    const auto value = [&request](const char* key) { return request.Query(key).value_or(std::string_view()); };
    if (const int32_t admitted = AdmitRequest(users, value("un"), value("pw"), request); admitted != Users::kAdmitted)
        return Failure(admitted);

    std::string_view missing;
    const rules::CheckRow* row = rules::ChooseWddx(
        "Tarvik", [&request](std::string_view key) { return request.Query(std::string(key).c_str()).has_value(); },
        &missing);
    if (!row)
        return missing.empty() ? Failure(92, "erwartet blz und kto, iban, bic, cc oder search")
                               : Failure(91, std::string(missing) + " fehlt");
    std::vector<std::optional<std::string>> inputs;
    for (const rules::CheckParam& param : row->Params)
        if (const auto given = request.Query(std::string(param.Wddx).c_str()))
            inputs.emplace_back(*given);
        else
            inputs.emplace_back();
    return WddxPacket().Answer(*row, row->Run(data, inputs)).Finish();
}

} // namespace

void AddTarvik(Router& router, const BankData& banks, const Users& users)
{
    // Each answer holds the snapshot of its moment to its end, whatever a reload swaps in meanwhile.
    router.Add("/tarvik", [&banks, &users](const HttpRequest& request) {
        const auto snapshot = banks.Current();
        return HttpResponse{200, WddxPacket::kContentType, TarvikWddx({&snapshot->Checks}, users, request)};
    });

    auto soap = std::make_shared<SoapEndpoint>("urn:TarvikIntf-ITarvik");
    for (const rules::CheckRow& row : rules::CheckTable()) {
        if (row.Family != "Tarvik" || row.SoapMethod.empty())
            continue;
        // An operation without a result code of its own refuses a login by a fault.
        const bool refusesByFault = row.Fields[0].Soap.empty();
        // Each operation reads its inputs first, so that a missing one is a fault before anything is checked.
        soap->Add(std::string(row.SoapMethod), [&, refusesByFault](const RpcCall& call, RpcAnswer& out) {
            const auto inputs = call.Inputs(row);
            if (const int32_t code = AdmitRequest(users, call.Text("UN"), call.Text("PW"), call.From());
                code != Users::kAdmitted) {
                if (refusesByFault)
                    throw ClientError(ToUtf8(Widen(rules::ResultCodeText(code))));
                out.Int("return", code).Text("ResultText", rules::ResultCodeText(code));
                return;
            }
            const auto snapshot = banks.Current();
            out.Answer(row, row.Run({&snapshot->Checks}, inputs));
        });
    }
    router.Add(
        "/soap/ITarvik", [soap](const HttpRequest& request) { return soap->Answer(request); }, SoapEndpoint::TooLarge);
}

} // namespace orvel::service
