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

std::string Windows1252(std::string_view utf8)
{
    return Narrow(FromUtf8(utf8));
}

std::vector<std::string> Windows1252(const std::vector<std::string>& utf8)
{
    std::vector<std::string> out;
    out.reserve(utf8.size());
    for (const std::string& item : utf8)
        out.push_back(Windows1252(item));
    return out;
}

// The query's texts in UTF-8, kept while the verdict points into them.
struct Texts
{
    std::string PostalCode, Place, Street, HouseNumber, PoBox;

    rules::AddressQuery Query(int32_t rewrite) const
    {
        return {PostalCode, Place, Street, HouseNumber, PoBox, rewrite};
    }
};

std::string AddressWddx(const rules::PostalData& data, const Users& users, const HttpRequest& request)
{
    const auto value = [&request](const char* key) { return request.Query(key).value_or(std::string_view()); };
    if (const int32_t admitted = AdmitRequest(users, value("un"), value("pw"), request); admitted != Users::kAdmitted)
        return WddxPacket::Result(admitted, rules::ResultCodeText(admitted));

    const std::string_view function = value("func");
    if (function != "check" && function != "type")
        return WddxPacket::Result(92, rules::ResultCodeText(92, "erwartet func=check oder func=type"));
    if (!request.Query("plz"))
        return WddxPacket::Result(91, rules::ResultCodeText(91, "plz fehlt"));
    if (function == "type") {
        const rules::PostalCodeTypeVerdict verdict = rules::GetPlzType(data, value("plz"));
        return WddxPacket::Result(verdict.Result, Windows1252(verdict.Resulttext));
    }
    if (!request.Query("ort"))
        return WddxPacket::Result(91, rules::ResultCodeText(91, "ort fehlt"));

    const Texts texts{Utf8(value("plz")), Utf8(value("ort")), Utf8(value("str")), Utf8(value("hnr")),
                      Utf8(value("pof"))};
    const rules::AddressVerdict verdict = rules::CheckAddress(data, texts.Query(StrToIntDef(value("rewrite"), 0)));
    return WddxPacket()
        .Number("result", verdict.Result)
        .String("resulttext", Windows1252(verdict.Resulttext))
        .String("rewritten", Windows1252(verdict.Rewritten))
        .String("str46", Windows1252(verdict.Str46))
        .String("str22", Windows1252(verdict.Str22))
        .String("ortsteil", Windows1252(verdict.Ortsteil))
        .String("plzout", Windows1252(verdict.PlzOut))
        .Array("orte", Windows1252(verdict.Orte))
        .Array("alteorte", Windows1252(verdict.AlteOrte))
        .Finish();
}

// Users::kAdmitted, or the result code that refuses the call.
int32_t Admission(const Users& users, const RpcCall& call)
{
    return AdmitRequest(users, call.Text("UN"), call.Text("PW"), call.From());
}

// The inputs of a check, read before anything is answered so that a missing one is a fault.
Texts CheckInputs(const RpcCall& call, bool street, bool poBox)
{
    Texts texts{call.Utf8Text("Plz"), call.Utf8Text("Ort"), {}, {}, {}};
    if (street) {
        texts.Street = call.Utf8Text("Str");
        texts.HouseNumber = call.Utf8Text("Hnr");
    }
    if (poBox)
        texts.PoBox = call.Utf8Text("Pof");
    return texts;
}

// Result code, text and rewritten name, then the street fields when asked, then the two lists.
void WriteCheck(const rules::AddressVerdict& verdict, bool streetFields, RpcAnswer& out)
{
    out.Int("return", verdict.Result)
        .Utf8Text("ResultText", verdict.Resulttext)
        .Utf8Text("Rewritten", verdict.Rewritten);
    if (streetFields)
        out.Utf8Text("Str46", verdict.Str46)
            .Utf8Text("Str22", verdict.Str22)
            .Utf8Text("Ortsteil", verdict.Ortsteil)
            .Utf8Text("PlzOut", verdict.PlzOut);
    out.Utf8List("Orte", verdict.Orte).Utf8List("AlteOrte", verdict.AlteOrte);
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
    const auto check = [&data, &users](bool street, bool poBox) {
        return [&data, &users, street, poBox](const RpcCall& call, RpcAnswer& out) {
            const Texts texts = CheckInputs(call, street, poBox);
            const int32_t rewrite = call.Int("Rewrite");
            if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
                return Refuse(code, out);
            WriteCheck(rules::CheckAddress(data, texts.Query(rewrite)), street, out);
        };
    };
    soap->Add("CheckPlzOrt", check(false, false));
    soap->Add("CheckPlzOrtStr", check(true, false));
    soap->Add("CheckPlzOrtPof", check(false, true));
    soap->Add("GetPlzType", [&data, &users](const RpcCall& call, RpcAnswer& out) {
        const std::string postalCode = call.Utf8Text("Plz");
        if (const int32_t code = Admission(users, call); code != Users::kAdmitted)
            return Refuse(code, out);
        const rules::PostalCodeTypeVerdict verdict = rules::GetPlzType(data, postalCode);
        out.Int("return", verdict.Result).Utf8Text("ResultText", verdict.Resulttext);
    });
    router.Add(
        "/soap/IAddress3", [soap](const HttpRequest& request) { return soap->Answer(request); },
        SoapEndpoint::TooLarge);
}

} // namespace orvel::service
