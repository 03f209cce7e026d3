#include "service/TarvikFront.h"

#include "platform/Codepage.h"
#include "platform/StrToInt.h"
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

void Account(WddxPacket& packet, const rules::AccountAnswer& answer)
{
    packet.Number("result", answer.Result)
        .String("resulttext", answer.ResultText)
        .String("bankname", answer.BankName)
        .String("newblz", answer.NewBlz)
        .String("iban", answer.Iban)
        .String("bic", answer.Bic);
}

void Bic(WddxPacket& packet, const rules::BicAnswer& answer)
{
    packet.String("bicname", answer.BicName)
        .Number("bicsct", answer.Sct)
        .Number("bicsdd", answer.Sdd)
        .Number("bicb2b", answer.B2b);
}

// Users::kAdmitted, or the result code that refuses the call.
int32_t Admission(const Users& users, const RpcCall& call)
{
    return AdmitRequest(users, call.Text("UN"), call.Text("PW"), call.From());
}

std::string TarvikWddx(const rules::TarvikChecks& checks, const Users& users, const HttpRequest& request)
{
    const auto value = [&request](const char* key) { return request.Query(key).value_or(std::string_view()); };
    if (const int32_t admitted = AdmitRequest(users, value("un"), value("pw"), request); admitted != Users::kAdmitted)
        return Failure(admitted);

    WddxPacket packet;
    if (const auto search = request.Query("search")) {
        const rules::SearchAnswer answer = checks.Search(*search, value("c"), StrToIntDef(value("fragments"), 0) != 0);
        return packet.Number("result", answer.Result)
            .String("resulttext", answer.ResultText)
            .Array("banken", answer.Banken)
            .Finish();
    }
    if (const auto cc = request.Query("cc")) {
        const rules::Verdict answer = checks.Card(*cc);
        return packet.Number("result", answer.Result).String("resulttext", answer.ResultText).Finish();
    }
    const auto iban = request.Query("iban");
    const auto bic = request.Query("bic");
    if (iban && bic) {
        const rules::IbanBicAnswer answer = checks.IbanBic(*iban, *bic);
        Account(packet, answer.Account);
        Bic(packet, answer.Bic);
        return packet.Finish();
    }
    if (iban) {
        Account(packet, checks.Iban(*iban));
        return packet.Finish();
    }
    if (const auto blz = request.Query("blz")) {
        const auto kto = request.Query("kto");
        if (!kto)
            return Failure(91, "kto fehlt");
        Account(packet, checks.BlzKto(*blz, *kto, value("c")));
        return packet.Finish();
    }
    if (bic) {
        const rules::BicAnswer answer = checks.Bic(*bic);
        packet.Number("result", answer.Result).String("resulttext", answer.ResultText);
        Bic(packet, answer);
        return packet.Finish();
    }
    return Failure(92, "erwartet blz und kto, iban, bic, cc oder search");
}

} // namespace

void AddTarvik(Router& router, const BankData& banks, const Users& users)
{
    // Each answer holds the snapshot of its moment to its end, whatever a reload swaps in meanwhile.
    router.Add("/tarvik", [&banks, &users](const HttpRequest& request) {
        return HttpResponse{200, WddxPacket::kContentType, TarvikWddx(banks.Current()->Checks, users, request)};
    });

    auto soap = std::make_shared<SoapEndpoint>("urn:TarvikIntf-ITarvik");
    // Each operation reads its inputs first, so that a missing one is a fault before anything is checked.
    const auto account = [](RpcAnswer& out, const rules::AccountAnswer& answer, const char* ibanName) {
        out.Int("return", answer.Result)
            .Text("ResultText", answer.ResultText)
            .Text("BankName", answer.BankName)
            .Text("NewBlz", answer.NewBlz)
            .Text(ibanName, answer.Iban)
            .Text("Bic", answer.Bic);
    };
    const auto refused = [](RpcAnswer& out, int32_t code) {
        out.Int("return", code).Text("ResultText", rules::ResultCodeText(code));
    };

    soap->Add("TestBlzKto", [&, account, refused](const RpcCall& call, RpcAnswer& out) {
        const std::string blz = call.Text("Blz"), kto = call.Text("Kto"), country = call.Text("C");
        if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
            return refused(out, code);
        account(out, banks.Current()->Checks.BlzKto(blz, kto, country), "Iban");
    });
    soap->Add("TestIban", [&, account, refused](const RpcCall& call, RpcAnswer& out) {
        const std::string iban = call.Text("IbanIn");
        if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
            return refused(out, code);
        account(out, banks.Current()->Checks.Iban(iban), "IbanOut");
    });
    soap->Add("TestIbanBic", [&, refused](const RpcCall& call, RpcAnswer& out) {
        const std::string iban = call.Text("IbanIn"), bic = call.Text("BicIn");
        if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
            return refused(out, code);
        const rules::IbanBicAnswer answer = banks.Current()->Checks.IbanBic(iban, bic);
        out.Int("return", answer.Account.Result)
            .Text("ResultText", answer.Account.ResultText)
            .Text("BankNameIban", answer.Account.BankName)
            .Text("BankNameBic", answer.Bic.BicName)
            .Text("NewBlz", answer.Account.NewBlz)
            .Text("IbanOut", answer.Account.Iban)
            .Text("BicOut", answer.Account.Bic)
            .Int("ServiceSCT", answer.Bic.Sct)
            .Int("ServiceSDD", answer.Bic.Sdd)
            .Int("ServiceB2B", answer.Bic.B2b);
    });
    soap->Add("TestBic", [&](const RpcCall& call, RpcAnswer& out) {
        const std::string bic = call.Text("Bic");
        if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
            throw ClientError(ToUtf8(Widen(rules::ResultCodeText(code))));
        const rules::BicAnswer answer = banks.Current()->Checks.Bic(bic);
        out.Text("BankName", answer.BicName)
            .Int("ServiceSCT", answer.Sct)
            .Int("ServiceSDD", answer.Sdd)
            .Int("ServiceB2B", answer.B2b);
    });
    soap->Add("TestCc", [&, refused](const RpcCall& call, RpcAnswer& out) {
        const std::string cc = call.Text("Cc");
        if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
            return refused(out, code);
        const rules::Verdict answer = banks.Current()->Checks.Card(cc);
        out.Int("return", answer.Result).Text("ResultText", answer.ResultText);
    });
    soap->Add("Search", [&](const RpcCall& call, RpcAnswer& out) {
        const std::string words = call.Text("SearchString"), country = call.Text("C");
        const int32_t fragments = call.Int("Fragments");
        if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
            throw ClientError(ToUtf8(Widen(rules::ResultCodeText(code))));
        out.List("return", banks.Current()->Checks.Search(words, country, fragments != 0).Banken);
    });
    router.Add(
        "/soap/ITarvik", [soap](const HttpRequest& request) { return soap->Answer(request); }, SoapEndpoint::TooLarge);
}

} // namespace orvel::service
