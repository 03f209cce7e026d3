#include "service/ViesFront.h"

#include "confirm/Confirm.h"
#include "rules/VatRules.h"
#include "service/Access.h"
#include "service/EvatrFront.h"
#include "service/SoapRpc.h"
#include "transport/Soap.h"
#include "transport/Xml.h"

namespace orvel::service {
namespace {

constexpr std::string_view kTypesNamespace = "urn:ec.europa.eu:taxud:vies:services:checkVat:types";

// Where VIES gives the trader's address, the offline answer says what it is: no confirmation by anyone.
constexpr const char* kOfflineAddress = "Offline-Prüfung: nur Aufbau und Prüfziffer, keine Bestätigung durch die EU";

// VIES's own fault strings; the client shows them as they are.
constexpr const char* kInvalidInput = "INVALID_INPUT";
constexpr const char* kIpBlocked = "IP_BLOCKED";
constexpr const char* kBusy = "MS_MAX_CONCURRENT_REQ";

// The numbers by which VIES's own test service answers each fault, and the two verdicts, whatever the country:
// 100 valid, 200 invalid, then the faults. 603 is this service's own, for the older WSDL's SERVER_BUSY.
constexpr std::pair<std::string_view, std::string_view> kTestFaults[] = {
    {"201", "INVALID_INPUT"},
    {"202", "INVALID_REQUESTER_INFO"},
    {"300", "SERVICE_UNAVAILABLE"},
    {"301", "MS_UNAVAILABLE"},
    {"302", "TIMEOUT"},
    {"400", "VAT_BLOCKED"},
    {"401", "IP_BLOCKED"},
    {"500", "GLOBAL_MAX_CONCURRENT_REQ"},
    {"501", "GLOBAL_MAX_CONCURRENT_REQ_TIME"},
    {"600", "MS_MAX_CONCURRENT_REQ"},
    {"601", "MS_MAX_CONCURRENT_REQ_TIME"},
    {"603", "SERVER_BUSY"},
};

const char* TestFault(std::string_view number)
{
    for (const auto& [test, fault] : kTestFaults)
        if (number == test)
            return fault.data();
    return nullptr;
}

std::string Field(std::string_view name, std::string_view utf8)
{
    std::string field = "<ns2:";
    field.append(name).append(">").append(XmlEscapeUtf8(utf8)).append("</ns2:").append(name).append(">");
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

    if (const char* fault = TestFault(number))
        return SoapEndpoint::Fault("SOAP-ENV:Server", fault);
    rules::VatCheck check = rules::CheckVatId(countryCode, number);
    if (check.Verdict == rules::VatVerdict::NotMemberState || check.Number.empty())
        return SoapEndpoint::Fault("SOAP-ENV:Server", kInvalidInput);
    if (number == "100" || number == "200")
        check.Verdict = number == "100" ? rules::VatVerdict::Valid : rules::VatVerdict::Invalid;

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
        .append(Field("address", kOfflineAddress));
    body.append("</ns2:checkVatResponse></env:Body></env:Envelope>");
    return {200, "text/xml; charset=utf-8", std::move(body)};
}

// The trader fields a request may carry, and the match element each one's answer goes in.
constexpr std::pair<const char*, const char*> kTraderFields[] = {{"traderName", "traderNameMatch"},
                                                                 {"traderCompanyType", "traderCompanyTypeMatch"},
                                                                 {"traderStreet", "traderStreetMatch"},
                                                                 {"traderPostcode", "traderPostcodeMatch"},
                                                                 {"traderCity", "traderCityMatch"}};

// True for a checkVatApprox request; anything else goes to CheckVat, which judges it.
bool AsksApprox(std::string_view body)
{
    if (body.find("checkVatApprox") == std::string_view::npos)
        return false;
    try {
        const SoapResponse envelope(body); // owns the element read below
        const xmlNode* element = envelope.BodyElement();
        return element && std::string_view(reinterpret_cast<const char*>(element->name)) == "checkVatApprox";
    } catch (const std::exception&) {
        return false;
    }
}

HttpResponse CheckVatApprox(const HttpRequest& request, BusySwitch& busy)
{
    std::string countryCode, number, requesterCountry, requester, companyType;
    std::vector<const char*> asked;
    try {
        const SoapResponse envelope(request.Body);
        const xmlNode* approx = envelope.Expect(kTypesNamespace, "checkVatApprox");
        const xmlNode* countryNode = SoapChild(approx, "countryCode");
        const xmlNode* numberNode = SoapChild(approx, "vatNumber");
        if (!countryNode || !numberNode)
            return SoapEndpoint::Fault("SOAP-ENV:Client", kInvalidInput);
        countryCode = XmlText(countryNode);
        number = XmlText(numberNode);
        for (const auto& [field, match] : kTraderFields)
            if (const xmlNode* node = SoapChild(approx, field); node && !XmlText(node).empty())
                asked.push_back(match);
        if (const xmlNode* node = SoapChild(approx, "requesterVatNumber"))
            requester = XmlText(node);
        if (const xmlNode* node = SoapChild(approx, "requesterCountryCode"))
            requesterCountry = XmlText(node);
        if (const xmlNode* node = SoapChild(approx, "traderCompanyType"))
            companyType = XmlText(node);
    } catch (const std::exception&) {
        return SoapEndpoint::Fault("SOAP-ENV:Client", kInvalidInput);
    }
    if (busy.Take())
        return SoapEndpoint::Fault("SOAP-ENV:Server", kBusy);
    if (const char* fault = TestFault(number))
        return SoapEndpoint::Fault("SOAP-ENV:Server", fault);
    rules::VatCheck check = rules::CheckVatId(countryCode, number);
    if (check.Verdict == rules::VatVerdict::NotMemberState || check.Number.empty())
        return SoapEndpoint::Fault("SOAP-ENV:Server", kInvalidInput);
    if (!companyType.empty() && !confirm::IsCompanyType(companyType))
        return SoapEndpoint::Fault("SOAP-ENV:Server", kInvalidInput);
    if ((!requester.empty() || !requesterCountry.empty()) &&
        rules::CheckVatId(requesterCountry, requester).Verdict != rules::VatVerdict::Valid)
        return SoapEndpoint::Fault("SOAP-ENV:Server", "INVALID_REQUESTER_INFO");
    // The test numbers: 100 valid with every field asked about matching, 200 invalid.
    const bool test = number == "100" || number == "200";
    if (test)
        check.Verdict = number == "100" ? rules::VatVerdict::Valid : rules::VatVerdict::Invalid;

    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Header/>"
                       "<env:Body><ns2:checkVatApproxResponse xmlns:ns2=\"";
    body.append(kTypesNamespace).append("\">");
    body.append(Field("countryCode", countryCode))
        .append(Field("vatNumber", number))
        .append(Field("requestDate", rules::ViesRequestDate(std::time(nullptr))))
        .append(Field("valid", check.Verdict == rules::VatVerdict::Valid ? "true" : "false"))
        .append(Field("traderName", "---"))
        .append(Field("traderAddress", "---"));
    // Without register data no field is ever said to match: each one asked about is "not processed".
    for (const char* match : asked)
        body.append(Field(match, test ? "1" : "3"));
    // VIES gives a consultation number only to a requester who names its own id.
    if (!requester.empty())
        body.append(Field("requestIdentifier", FreshAnswerId("LOKAL")));
    body.append("</ns2:checkVatApproxResponse></env:Body></env:Envelope>");
    return {200, "text/xml; charset=utf-8", std::move(body)};
}

} // namespace

void AddVies(Router& router, const Users& users, BusySwitch& busy)
{
    // VIES itself refuses a client it does not serve with IP_BLOCKED, whatever the reason.
    router.Add(
        kViesPath,
        [&users, &busy](const HttpRequest& request) {
            if (BasicAdmission(users, request) != Users::kAdmitted)
                return SoapEndpoint::Fault("SOAP-ENV:Server", kIpBlocked);
            if (request.Method == "POST" && AsksApprox(request.Body))
                return CheckVatApprox(request, busy);
            return CheckVat(request);
        },
        ViesInvalidInput);
}

HttpResponse ViesInvalidInput()
{
    return SoapEndpoint::Fault("SOAP-ENV:Client", kInvalidInput);
}

} // namespace orvel::service
