#include "objects/UStID.h"

#include "confirm/Confirm.h"
#include "confirm/Journal.h"
#include "platform/Codepage.h"
#include "platform/Config.h"
#include "platform/Text.h"
#include "rules/VatRules.h"

#include <string>

namespace orvel {

TUStID::TUStID()
{
    auto client = std::make_unique<THTTPRIO2>();
    client->SetURL(config::ViesUrl());
    client->OnBeforeExecute = [this](const std::string& MethodName, WideString& Request) {
        RequestHook(MethodName, Request);
    };
    VatClient = client.get();
    VatPort = GetcheckVatPortType(std::move(client));
}

TUStID::~TUStID() = default;

void TUStID::RequestHook(const std::string&, WideString&) {}

void TUStID::Check(const WideString& aUStID)
{
    // Separators go and GR becomes EL; VIES itself judges everything else.
    const std::string id = AnsiUpperCase(confirm::NormalizeId(Narrow(aUStID)));
    checkVatRequest request;
    request.countryCode = id.substr(0, 2);
    request.vatNumber = id.size() > 2 ? id.substr(2) : std::string();
    std::string raw;
    if (rules::IsOutsideVies(id)) {
        // VIES could only refuse it; no need to ask.
        FResult = result::kVatInvalid;
        FResulttext = FromUtf8(std::string(confirm::kNotMemberState));
    } else {
        try {
            const checkVatResponse response = VatPort->checkVat(request);
            FResult = response.valid ? result::kVatValid : result::kVatInvalid;
            FResulttext = response.countryCode + u"~" + response.vatNumber + u"~" + response.requestDate + u"~" +
                          (response.valid ? u"True" : u"False") + u"~" + response.name + u"~" + response.address;
        } catch (const SoapFault& fault) {
            FResult = result::kVatError;
            FResulttext = fault.FaultString();
        } catch (const Error& error) {
            FResult = result::kVatError;
            FResulttext = Widen(error.what());
        }
        raw = VatClient->LastAnswer();
    }
    if (config::JournalChecks())
        Record(request.countryCode + request.vatNumber, raw);
}

void TUStID::Record(const std::string& VatId, const std::string& Raw)
{
    confirm::Record record;
    record.Kind = "check";
    record.Service = "vies";
    record.Endpoint = VatClient->URL();
    record.ForeignId = VatId;
    record.Status = FResult == result::kVatValid ? "valid" : FResult == result::kVatInvalid ? "invalid" : "not-checked";
    record.Message = ToUtf8(FResulttext);
    record.Raw = Raw;
    try {
        confirm::Journal(confirm::Journal::DefaultPath()).Append(std::move(record));
    } catch (const confirm::JournalError& error) {
        // A check that was to be kept as proof and cannot be is no answer to rely on.
        FResult = result::kVatError;
        FResulttext = Widen(Ansi("Prüfung ohne Nachweis verworfen: ")) + FromUtf8(error.what());
    }
}

void TUStID::SetProxy(const WideString& aProxy, int32_t aPort, const WideString& aUser, const WideString& aPass)
{
    VatClient->SetProxy(aProxy.empty() ? std::string() : Narrow(aProxy) + ":" + std::to_string(aPort));
    VatClient->SetUserName(Narrow(aUser));
    VatClient->SetPassword(Narrow(aPass));
}

} // namespace orvel
