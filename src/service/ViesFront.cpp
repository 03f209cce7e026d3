#include "service/ViesFront.h"

#include "rules/VatRules.h"
#include "service/SoapRpc.h"
#include "transport/Soap.h"
#include "transport/Xml.h"

namespace orvel::service {
namespace {

constexpr std::string_view kTypesNamespace = "urn:ec.europa.eu:taxud:vies:services:checkVat:types";

// VIES's own fault strings; the client shows them as they are.
constexpr const char* kInvalidInput = "INVALID_INPUT";
constexpr const char* kIpBlocked = "IP_BLOCKED";

std::string Field(std::string_view name, std::string_view utf8)
{
    std::string field = "<ns2:";
    field.append(name).append(">").append(XmlEscape(utf8)).append("</ns2:").append(name).append(">");
    return field;
}

HttpResponse CheckVat(const HttpRequest& request)
{
    if (request.Method != "POST")
        return SoapEndpoint::Fault("SOAP-ENV:Client", "Nur POST");
    std::string countryCode, number;
    try {
        const SoapResponse envelope(request.Body);
        const xmlNode* checkVat = envelope.Expect(kTypesNamespace, "checkVat");
        const xmlNode* countryNode = SoapChild(checkVat, "countryCode");
        const xmlNode* numberNode = SoapChild(checkVat, "vatNumber");
        if (!countryNode || !numberNode)
            return SoapEndpoint::Fault("SOAP-ENV:Client", kInvalidInput);
        countryCode = XmlText(countryNode);
        number = XmlText(numberNode);
    } catch (const std::exception&) {
        return SoapEndpoint::Fault("SOAP-ENV:Client", kInvalidInput);
    }

    const rules::VatCheck check = rules::CheckVatId(countryCode, number);
    if (check.Verdict == rules::VatVerdict::NotMemberState || check.Number.empty())
        return SoapEndpoint::Fault("SOAP-ENV:Server", kInvalidInput);

    // The request's fields come back as sent; name and address are VIES's "---" for undisclosed trader data.
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Header/>"
                       "<env:Body><ns2:checkVatResponse xmlns:ns2=\"";
    body.append(kTypesNamespace).append("\">");
    body.append(Field("countryCode", countryCode))
        .append(Field("vatNumber", number))
        .append(Field("requestDate", rules::ViesRequestDate(std::time(nullptr))))
        .append(Field("valid", check.Verdict == rules::VatVerdict::Valid ? "true" : "false"))
        .append(Field("name", "---"))
        .append(Field("address", "---"));
    body.append("</ns2:checkVatResponse></env:Body></env:Envelope>");
    return {200, "text/xml; charset=utf-8", std::move(body)};
}

} // namespace

void AddVies(Router& router, const Users& users)
{
    router.Add(kViesPath, [&users](const HttpRequest& request) {
        if (users.Open() && !request.Loopback)
            return SoapEndpoint::Fault("SOAP-ENV:Server", kIpBlocked);
        return CheckVat(request);
    });
}

} // namespace orvel::service
