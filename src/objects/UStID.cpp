#include "objects/UStID.h"

#include "confirm/Journal.h"
#include "platform/Codepage.h"
#include "platform/Config.h"
#include "platform/Text.h"

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
    // Only blanks go; VIES itself judges everything else.
    std::string id = Narrow(aUStID);
    std::erase(id, ' ');
    id = AnsiUpperCase(id);
    checkVatRequest request;
    request.countryCode = id.substr(0, 2);
    request.vatNumber = id.size() > 2 ? id.substr(2) : std::string();
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
    if (config::JournalChecks())
        Record(request.countryCode + request.vatNumber);
}

void TUStID::Record(const std::string& VatId)
{
    confirm::Record record;
    record.Kind = "check";
    record.Service = "vies";
    record.Endpoint = VatClient->URL();
    record.ForeignId = VatId;
    record.Status = FResult == result::kVatValid ? "valid" : FResult == result::kVatInvalid ? "invalid" : "not-checked";
    record.Message = ToUtf8(FResulttext);
    record.Raw = VatClient->LastAnswer();
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
