#include "objects/checkVatService.h"

#include "platform/Text.h"
#include "transport/Xml.h"

namespace orvel {
namespace {

// The service's namespace carries the European Commission's domain; its messages live in the types namespace.
const std::string kNamespace = "urn:ec.europa.eu:taxud:vies:services:checkVat";
const std::string kTypesNamespace = kNamespace + ":types";

const SoapOperation kCheckVat{"checkVat", kTypesNamespace, SoapStyle::DocumentLiteral, ""};

// Each line, however it ended (CR, LF or CR LF), followed by CR LF; a last line without a break gets one too.
std::string WithCrLfLineEnds(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 64);
    size_t start = 0;
    for (size_t end = text.find_first_of("\r\n"); end != std::string_view::npos;
         end = text.find_first_of("\r\n", start)) {
        out.append(text, start, end - start).append("\r\n");
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    out.append(text, start);
    if (!text.empty() && text.back() != '\r' && text.back() != '\n')
        out += "\r\n";
    return out;
}

[[noreturn]] void Fail(std::string_view utf8Message)
{
    throw Error(Ansi(utf8Message));
}

const xmlNode* Required(const xmlNode* response, std::string_view name)
{
    const xmlNode* node = SoapChild(response, name);
    if (!node)
        Fail("Die Antwort enthält kein Element " + std::string(name) + ".");
    return node;
}

WideString Optional(const xmlNode* response, std::string_view name)
{
    const xmlNode* node = SoapChild(response, name);
    return node ? FromUtf8(XmlText(node)) : WideString();
}

// XML Schema's boolean: "true", "false", "1" or "0", surrounding white space allowed.
bool ReadBoolean(const xmlNode* node)
{
    const std::string text = XmlText(node);
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto value =
        first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    if (value == "true" || value == "1")
        return true;
    if (value == "false" || value == "0")
        return false;
    throw Error(Ansi("Ungültiger Wahrheitswert in der Antwort: \"") + Narrow(FromUtf8(value)) + "\"");
}

class checkVatPort : public checkVatPortType
{
public:
    explicit checkVatPort(std::unique_ptr<THTTPRIO2> client) : Client(std::move(client)) {}

    checkVatResponse checkVat(const checkVatRequest& parameters) override
    {
        return ReadcheckVatResponse(Client->Invoke(kCheckVat,
                                                   {{"countryCode", ToUtf8(Widen(parameters.countryCode))},
                                                    {"vatNumber", ToUtf8(Widen(parameters.vatNumber))}}));
    }

private:
    std::unique_ptr<THTTPRIO2> Client;
};

} // namespace

checkVatResponse ReadcheckVatResponse(const SoapResponse& answer)
{
    const xmlNode* element = answer.Expect(kTypesNamespace, "checkVatResponse");
    checkVatResponse response;
    response.countryCode = Optional(element, "countryCode");
    response.vatNumber = Optional(element, "vatNumber");
    response.requestDate = FromUtf8(XmlText(Required(element, "requestDate")));
    response.valid = ReadBoolean(Required(element, "valid"));
    response.name = Optional(element, "name");
    response.address = Optional(element, "address");
    return response;
}

void THTTPRIO2::BeforeExecute(const std::string& MethodName, std::string& Request)
{
    if (!OnBeforeExecute)
        return;
    // The handler sees the text as the system code page reads it; every byte survives the way back.
    std::string lines = WithCrLfLineEnds(Request);
    WideString text = Widen(lines);
    const WideString given = text;
    OnBeforeExecute(MethodName, text);
    // Untouched, the text would come back as these very bytes.
    Request = text == given ? std::move(lines) : WithCrLfLineEnds(Narrow(text));
}

std::unique_ptr<checkVatPortType> GetcheckVatPortType(std::unique_ptr<THTTPRIO2> HTTPRIO)
{
    return std::make_unique<checkVatPort>(std::move(HTTPRIO));
}

} // namespace orvel
