#include "support/WebServiceServer.h"

#include "platform/Codepage.h"
#include "transport/Soap.h"
#include "transport/Xml.h"

#include <libxml/tree.h>

#include <algorithm>

namespace orvel::test {
namespace {

const std::map<std::string, std::string> kInterfaceNamespaces = {
    {"ITarvik", "urn:TarvikIntf-ITarvik"},
    {"IAddress3", "urn:Address3Intf-IAddress3"},
};

const std::map<std::string, std::string> kOperationInterfaces = {
    {"TestBlzKto", "ITarvik"},    {"TestIban", "ITarvik"},         {"TestIbanBic", "ITarvik"},
    {"TestBic", "ITarvik"},       {"TestCc", "ITarvik"},           {"Search", "ITarvik"},
    {"CheckPlzOrt", "IAddress3"}, {"CheckPlzOrtStr", "IAddress3"}, {"CheckPlzOrtPof", "IAddress3"},
    {"GetPlzType", "IAddress3"},
};

constexpr char kEnvelopeStart[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">";
constexpr char kEnvelopeEnd[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

Reply Fault(const std::string& code, const std::string& text)
{
    Reply reply = Reply::Status("HTTP/1.1 500 Internal Server Error",
                                std::string(kEnvelopeStart) + "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>" + code +
                                    "</faultcode><faultstring>" + XmlEscape(text) + "</faultstring></SOAP-ENV:Fault>" +
                                    kEnvelopeEnd);
    reply.Headers.push_back("Content-Type: text/xml; charset=utf-8");
    return reply;
}

// The path of a request target, also of the absolute form a proxy receives.
std::string PathOf(const std::string& requestLine)
{
    const auto start = requestLine.find(' ') + 1;
    std::string target = requestLine.substr(start, requestLine.find(' ', start) - start);
    if (const auto scheme = target.find("://"); scheme != std::string::npos)
        target = target.substr(std::min(target.find('/', scheme + 3), target.size()));
    return target;
}

class AnswerWriter
{
public:
    explicit AnswerWriter(const WebForm& form) : Form(form) {}

    std::string Write(const WebValue& value)
    {
        switch (value.Type) {
        case WebValue::Kind::Text:
            return Accessor(value.Name, Typed("xsd:string"), XmlEscape(value.Values.at(0)));
        case WebValue::Kind::Int:
            return Accessor(value.Name, Typed("xsd:int"), value.Values.at(0));
        case WebValue::Kind::List: {
            std::string items;
            for (const auto& item : value.Values)
                items += Accessor("item", Typed("xsd:string"), XmlEscape(item));
            const std::string array = Form.Typed ? " xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[" +
                                                       std::to_string(value.Values.size()) + "]\""
                                                 : "";
            return Accessor(value.Name, array, items);
        }
        }
        return {};
    }

    const std::string& MultiRefs() const { return Independent; }

private:
    std::string Typed(const char* type) const
    {
        return Form.Typed ? std::string(" xsi:type=\"") + type + "\"" : std::string();
    }

    std::string Accessor(const std::string& name, const std::string& attributes, const std::string& content)
    {
        if (!Form.MultiRef)
            return "<" + name + attributes + ">" + content + "</" + name + ">";
        const std::string id = "id" + std::to_string(++LastId);
        Independent += "<multiRef id=\"" + id + "\" SOAP-ENC:root=\"0\"" + attributes + ">" + content + "</multiRef>";
        return "<" + name + " href=\"#" + id + "\"/>";
    }

    const WebForm& Form;
    std::string Independent;
    int LastId = 0;
};

std::string TypeOf(const xmlNode* node)
{
    const XmlString type(xmlGetNsProp(node, XmlChars("type"), XmlChars("http://www.w3.org/2001/XMLSchema-instance")));
    return std::string(XmlView(type.get()));
}

} // namespace

WebValue WebText(std::string name, std::string value)
{
    return {std::move(name), WebValue::Kind::Text, {std::move(value)}};
}

WebValue WebInt(std::string name, int32_t value)
{
    return {std::move(name), WebValue::Kind::Int, {std::to_string(value)}};
}

WebValue WebList(std::string name, std::vector<std::string> items)
{
    return {std::move(name), WebValue::Kind::List, std::move(items)};
}

const std::map<std::string, std::vector<WebValue>> kWebAnswers = {
    {"TestBlzKto",
     {WebInt("return", 0), WebText("ResultText", "Bankleitzahl und Kontonummer sind gültig"),
      WebText("BankName", "Stadtsparkasse München"), WebText("NewBlz", "70150000"),
      WebText("Iban", "DE02701500000000594937"), WebText("Bic", "SSKMDEMMXXX")}},
    {"TestIban",
     {WebInt("return", 1), WebText("ResultText", "IBAN gültig, Prüfziffer korrigiert"),
      WebText("BankName", "Raiffeisenlandesbank Niederösterreich-Wien"), WebText("NewBlz", ""),
      WebText("IbanOut", "AT611904300234573201"), WebText("Bic", "RLNWATWWXXX")}},
    {"TestIbanBic",
     {WebInt("return", -3), WebText("ResultText", "BIC passt nicht zur IBAN"), WebText("BankNameIban", "Commerzbank"),
      WebText("BankNameBic", "Deutsche Bank"), WebText("NewBlz", "37040044"),
      WebText("IbanOut", "DE89370400440532013000"), WebText("BicOut", "COBADEFFXXX"), WebInt("ServiceSCT", 1),
      WebInt("ServiceSDD", 0), WebInt("ServiceB2B", 1)}},
    {"TestBic",
     {WebText("BankName", "Crédit Agricole <Île-de-France> & Co"), WebInt("ServiceSCT", 1), WebInt("ServiceSDD", 1),
      WebInt("ServiceB2B", 0)}},
    {"TestCc", {WebInt("return", 5), WebText("ResultText", "Kreditkartennummer ungültig")}},
    {"Search",
     {WebList("return", {"10020500 Bank für Sozialwirtschaft – Berlin", "10050000 Landesbank Berlin",
                         "Εθνική Τράπεζα της Ελλάδος"})}},
    {"CheckPlzOrt",
     {WebInt("return", 2), WebText("ResultText", "Ort korrigiert"), WebText("Rewritten", "Frankfurt am Main"),
      WebList("Orte", {"Frankfurt am Main"}), WebList("AlteOrte", {"Höchst", "Frankfurt-Höchst"})}},
    {"CheckPlzOrtStr",
     {WebInt("return", 0), WebText("ResultText", "Adresse gültig"), WebText("Rewritten", "München"),
      WebText("Str46", "Leopoldstraße"), WebText("Str22", "Leopoldstr."), WebText("Ortsteil", "Schwabing-West"),
      WebText("PlzOut", "80802"), WebList("Orte", {"München"}), WebList("AlteOrte", {})}},
    {"CheckPlzOrtPof",
     {WebInt("return", 0), WebText("ResultText", "Postfach gültig"), WebText("Rewritten", "Köln"),
      WebList("Orte", {"Köln", "Köln-Deutz"}), WebList("AlteOrte", {})}},
    {"GetPlzType", {WebInt("return", 3), WebText("ResultText", "Großempfänger")}},
};

WebServiceServer::WebServiceServer() : Server([this](const Request& request) { return Answer(request); }) {}

void WebServiceServer::SetForm(WebForm form)
{
    std::lock_guard guard(Lock);
    Form = form;
}

void WebServiceServer::SetAnswer(const std::string& operation, std::vector<WebValue> values)
{
    std::lock_guard guard(Lock);
    Answers[operation] = std::move(values);
}

void WebServiceServer::SetFault(std::string faultString)
{
    std::lock_guard guard(Lock);
    FaultString = std::move(faultString);
}

std::vector<WebCall> WebServiceServer::Calls() const
{
    std::lock_guard guard(Lock);
    return Recorded;
}

Reply WebServiceServer::Answer(const Request& request)
{
    WebCall call;
    call.Path = PathOf(request.RequestLine);
    if (auto action = request.Headers.find("soapaction"); action != request.Headers.end()) {
        call.SoapAction = action->second;
        if (call.SoapAction.size() >= 2 && call.SoapAction.front() == '"' && call.SoapAction.back() == '"')
            call.SoapAction = call.SoapAction.substr(1, call.SoapAction.size() - 2);
    }
    try {
        const SoapResponse envelope(request.Body);
        const xmlNode* element = envelope.BodyElement();
        call.Operation = XmlView(element->name);
        call.Namespace = XmlView(element->ns ? element->ns->href : nullptr);
        for (const xmlNode* input : SoapChildElements(element))
            call.Inputs.push_back({std::string(XmlView(input->name)), TypeOf(input), XmlText(input)});
    } catch (const std::exception& error) {
        return Fault("SOAP-ENV:Client", ToUtf8(Widen(error.what())));
    }

    std::lock_guard guard(Lock);
    Recorded.push_back(call);
    if (!FaultString.empty())
        return Fault("SOAP-ENV:Server", FaultString);
    const auto interface = kOperationInterfaces.find(call.Operation);
    if (interface == kOperationInterfaces.end() || call.Path != "/soap/" + interface->second ||
        call.Namespace != kInterfaceNamespaces.at(interface->second) ||
        call.SoapAction != call.Namespace + "#" + call.Operation)
        return Fault("SOAP-ENV:Client", "No operation {" + call.Namespace + "}" + call.Operation +
                                            " with SOAPAction \"" + call.SoapAction + "\" at " + call.Path);

    std::vector<WebValue> values = Answers.at(call.Operation);
    if (Form.Reversed)
        std::reverse(values.begin(), values.end());
    AnswerWriter writer(Form);
    std::string accessors;
    for (const auto& value : values)
        accessors += writer.Write(value);
    Reply reply = Reply::Ok(std::string(kEnvelopeStart) +
                            "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
                            "<NS1:" +
                            call.Operation + "Response xmlns:NS1=\"" + call.Namespace + "\">" + accessors +
                            "</NS1:" + call.Operation + "Response>" + writer.MultiRefs() + kEnvelopeEnd);
    reply.Headers = {"Content-Type: text/xml; charset=utf-8"};
    return reply;
}

} // namespace orvel::test
