#include "support/ViesServer.h"

#include "transport/Soap.h"
#include "transport/Xml.h"

#include <algorithm>

namespace orvel::test {
namespace {

constexpr char kTypesNamespace[] = "urn:ec.europa.eu:taxud:vies:services:checkVat:types";
constexpr char kEnvelopeStart[] =
    "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Header/><env:Body>";
constexpr char kEnvelopeEnd[] = "</env:Body></env:Envelope>";

const std::vector<std::string> kMemberStates = {"AT", "BE", "BG", "CY", "CZ", "DE", "DK", "EE", "EL", "ES",
                                                "FI", "FR", "HR", "HU", "IE", "IT", "LT", "LU", "LV", "MT",
                                                "NL", "PL", "PT", "RO", "SE", "SI", "SK", "XI"};

std::string Field(const char* name, std::string_view xml)
{
    return std::string("<ns2:") + name + ">" + std::string(xml) + "</ns2:" + name + ">";
}

struct Answer
{
    bool Valid = false;
    std::string NameXml = "---";
    std::string AddressXml = "---";
    bool WithDate = true;
};

std::string CheckVatResponse(const ViesServer::Call& call, const Answer& answer)
{
    return std::string(kEnvelopeStart) + "<ns2:checkVatResponse xmlns:ns2=\"" + kTypesNamespace + "\">" +
           Field("countryCode", XmlEscape(call.CountryCode)) + Field("vatNumber", XmlEscape(call.VatNumber)) +
           (answer.WithDate ? Field("requestDate", kViesRequestDate) : "") +
           Field("valid", answer.Valid ? "true" : "false") + Field("name", answer.NameXml) +
           Field("address", answer.AddressXml) + "</ns2:checkVatResponse>" + kEnvelopeEnd;
}

Reply Xml(std::string body)
{
    return Reply::Ok(std::move(body)); // Content-Type: text/xml
}

Reply Fault(const std::string& code, const std::string& text)
{
    Reply reply = Reply::Status("HTTP/1.1 500 Internal Server Error",
                                std::string(kEnvelopeStart) + "<env:Fault><faultcode>" + code +
                                    "</faultcode><faultstring>" + text + "</faultstring></env:Fault>" + kEnvelopeEnd);
    reply.Headers.push_back("Content-Type: text/xml;charset=UTF-8");
    return reply;
}

} // namespace

const char kViesRequestDate[] = "2024-11-11+01:00";

const std::vector<ViesTrader> kViesTraders = {
    {"AT", "U12345678", "Muster Handels GmbH", "Hauptstraße 1\n1010 Wien"},
    {"IE", "6388047V", "O'Brien & Daughters Ltd", "12 Main Street\nDublin 2"},
    {"EL", "094014201", "ΕΜΠΟΡΙΚΗ ΑΘΗΝΩΝ Α.Ε.", "ΛΕΩΦΟΡΟΣ ΚΗΦΙΣΙΑΣ 10\n11526 ΑΘΗΝΑ"},
    {"BG", "175074752", "ТЪРГОВСКА КЪЩА ЕООД", "ул. Витоша 1\n1000 София"},
    {"DE", "123456789", "---", "---"}, // valid, but Germany gives no trader data
};

const std::vector<std::string> kViesFaults = {
    "INVALID_INPUT",
    "INVALID_REQUESTER_INFO",
    "SERVICE_UNAVAILABLE",
    "MS_UNAVAILABLE",
    "TIMEOUT",
    "VAT_BLOCKED",
    "IP_BLOCKED",
    "GLOBAL_MAX_CONCURRENT_REQ",
    "GLOBAL_MAX_CONCURRENT_REQ_TIME",
    "MS_MAX_CONCURRENT_REQ",
    "MS_MAX_CONCURRENT_REQ_TIME",
};

ViesServer::ViesServer() : Server([this](const Request& request) { return Answer(request); }) {}

std::string ViesServer::Url() const
{
    return "http://" + Server.HostPort() + "/taxation_customs/vies/services/checkVatService";
}

std::vector<ViesServer::Call> ViesServer::Calls() const
{
    std::lock_guard guard(Lock);
    return Recorded;
}

Reply ViesServer::Answer(const Request& request)
{
    Call call;
    try {
        const SoapResponse envelope(request.Body);
        const xmlNode* checkVat = envelope.Expect(kTypesNamespace, "checkVat");
        const xmlNode* countryCode = SoapChild(checkVat, "countryCode");
        const xmlNode* vatNumber = SoapChild(checkVat, "vatNumber");
        if (!countryCode || !vatNumber)
            return Fault("env:Client", "INVALID_INPUT");
        call = {XmlText(countryCode), XmlText(vatNumber)};
    } catch (const std::exception&) {
        return Fault("env:Client", "INVALID_INPUT");
    }
    {
        std::lock_guard guard(Lock);
        Recorded.push_back(call);
    }

    const std::string& number = call.VatNumber;
    for (const std::string& fault : kViesFaults) {
        std::string compact = fault; // as a client that drops separators sends it
        std::erase(compact, '_');
        if (number == fault || number == compact)
            return Fault("env:Server", fault);
    }
    if (number == kNotXml)
        return Reply::Ok("Service temporarily unavailable, please retry later.");
    if (number == kHttp500) {
        Reply reply = Reply::Status("HTTP/1.1 500 Internal Server Error", "<html><body>Internal error</body></html>");
        reply.Headers.push_back("Content-Type: text/html");
        return reply;
    }
    if (number == kStall) {
        Reply reply;
        reply.Act = Reply::Action::Stall;
        return reply;
    }
    if (number == kNoDate)
        return Xml(CheckVatResponse(call, {.WithDate = false}));
    if (number == kWrongBody)
        return Xml(std::string(kEnvelopeStart) + "<ns2:checkVatApproxResponse xmlns:ns2=\"" + kTypesNamespace + "\"/>" +
                   kEnvelopeEnd);
    if (number == kOversize)
        return Xml(CheckVatResponse(call, {.Valid = true, .AddressXml = std::string(5u << 20, 'x')}));
    if (number == kExternalEntity) {
        const std::string body = CheckVatResponse(call, {.Valid = true, .NameXml = "&trader;"});
        return Xml("<?xml version=\"1.0\"?><!DOCTYPE env:Envelope [<!ENTITY trader SYSTEM \"file:///etc/hostname\">]>" +
                   body);
    }
    if (std::find(kMemberStates.begin(), kMemberStates.end(), call.CountryCode) == kMemberStates.end() ||
        number.empty())
        return Fault("env:Server", "INVALID_INPUT");
    for (const auto& trader : kViesTraders)
        if (call.CountryCode == trader.CountryCode && number == trader.VatNumber)
            return Xml(CheckVatResponse(
                call, {.Valid = true, .NameXml = XmlEscape(trader.Name), .AddressXml = XmlEscape(trader.Address)}));
    return Xml(CheckVatResponse(call, {}));
}

} // namespace orvel::test
