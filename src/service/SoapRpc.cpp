#include "service/SoapRpc.h"

#include "platform/Codepage.h"
#include "transport/Xml.h"

#include <libxml/tree.h>

namespace orvel::service {
namespace {

constexpr std::string_view kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">";
constexpr std::string_view kEnvelopeEnd = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
constexpr const char* kContentType = "text/xml; charset=utf-8";

std::string Utf8(std::string_view windows1252)
{
    return ToUtf8(Widen(windows1252));
}

} // namespace

const xmlNode* RpcCall::Input(const char* name) const
{
    const xmlNode* input = SoapChild(Operation, name);
    if (!input)
        throw ClientError(std::string("Parameter ") + name + " fehlt");
    return input;
}

std::string RpcCall::Text(const char* name) const
{
    return Narrow(FromUtf8(Utf8Text(name)));
}

std::string RpcCall::Utf8Text(const char* name) const
{
    return Envelope.EncodedString(Input(name));
}

std::vector<std::optional<std::string>> RpcCall::Inputs(const rules::CheckRow& row) const
{
    std::vector<std::optional<std::string>> inputs;
    inputs.reserve(row.Params.size());
    for (const rules::CheckParam& param : row.Params) {
        const std::string name(param.Soap);
        if (name.empty())
            inputs.emplace_back();
        else
            inputs.emplace_back(param.Number      ? std::to_string(Int(name.c_str()))
                                : row.Windows1252 ? Text(name.c_str())
                                                  : Utf8Text(name.c_str()));
    }
    return inputs;
}

int32_t RpcCall::Int(const char* name) const
{
    try {
        return Envelope.EncodedInt(Input(name));
    } catch (const ClientError&) {
        throw;
    } catch (const std::exception&) {
        throw ClientError(std::string("Parameter ") + name + " ist keine Zahl");
    }
}

RpcAnswer::RpcAnswer(std::string_view interfaceNamespace, std::string_view operation) : Operation(operation)
{
    Body.reserve(1024);
    Body.append(kEnvelopeStart)
        .append("<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><NS1:")
        .append(Operation)
        .append("Response xmlns:NS1=\"")
        .append(interfaceNamespace)
        .append("\">");
}

RpcAnswer& RpcAnswer::Text(std::string_view name, std::string_view windows1252)
{
    return Utf8Text(name, Utf8(windows1252));
}

RpcAnswer& RpcAnswer::Utf8Text(std::string_view name, std::string_view utf8)
{
    Body.append("<").append(name).append(" xsi:type=\"xsd:string\">").append(XmlEscapeUtf8(utf8));
    Body.append("</").append(name).append(">");
    return *this;
}

RpcAnswer& RpcAnswer::Int(std::string_view name, int32_t value)
{
    Body.append("<").append(name).append(" xsi:type=\"xsd:int\">").append(std::to_string(value));
    Body.append("</").append(name).append(">");
    return *this;
}

RpcAnswer& RpcAnswer::List(std::string_view name, const std::vector<std::string>& windows1252)
{
    std::vector<std::string> utf8;
    utf8.reserve(windows1252.size());
    for (const std::string& item : windows1252)
        utf8.push_back(Utf8(item));
    return Utf8List(name, utf8);
}

RpcAnswer& RpcAnswer::Answer(const rules::CheckRow& row, const rules::CheckAnswer& answer,
                             bool (*skip)(const rules::CheckField&))
{
    for (size_t i = 0; i < row.Fields.size(); ++i) {
        const rules::CheckField& field = row.Fields[i];
        if (field.Soap.empty() || (skip && skip(field)))
            continue;
        const rules::CheckValue& value = answer.Values[i];
        if (field.Kind != rules::FieldKind::Text && field.Kind != rules::FieldKind::List)
            Int(field.Soap, value.Number);
        else if (field.Kind == rules::FieldKind::Text)
            row.Windows1252 ? Text(field.Soap, value.Text) : Utf8Text(field.Soap, value.Text);
        else
            row.Windows1252 ? List(field.Soap, value.List) : Utf8List(field.Soap, value.List);
    }
    return *this;
}

RpcAnswer& RpcAnswer::Utf8List(std::string_view name, const std::vector<std::string>& utf8)
{
    Body.append("<").append(name).append(" xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[");
    Body.append(std::to_string(utf8.size())).append("]\">");
    for (const std::string& item : utf8)
        Body.append("<item xsi:type=\"xsd:string\">").append(XmlEscapeUtf8(item)).append("</item>");
    Body.append("</").append(name).append(">");
    return *this;
}

std::string RpcAnswer::Finish()
{
    Body.append("</NS1:").append(Operation).append("Response>").append(kEnvelopeEnd);
    return std::move(Body);
}

void SoapEndpoint::Add(std::string name, Operation operation)
{
    Operations.emplace(std::move(name), std::move(operation));
}

HttpResponse SoapEndpoint::Fault(const char* code, std::string_view text)
{
    HttpResponse response{500, kContentType, std::string(kEnvelopeStart)};
    response.Body.append("<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>")
        .append(code)
        .append("</faultcode><faultstring>")
        .append(XmlEscapeUtf8(text))
        .append("</faultstring></SOAP-ENV:Fault>")
        .append(kEnvelopeEnd);
    return response;
}

HttpResponse SoapEndpoint::TooLarge()
{
    return Fault("SOAP-ENV:Client", "Anfrage zu gro\xc3\x9f");
}

HttpResponse SoapEndpoint::Answer(const HttpRequest& request) const
{
    if (request.Method != "POST")
        return Fault("SOAP-ENV:Client", "Nur POST");
    try {
        const SoapResponse envelope(request.Body);
        const xmlNode* element = envelope.BodyElement();
        const std::string_view name = reinterpret_cast<const char*>(element->name);
        const std::string_view space = element->ns ? reinterpret_cast<const char*>(element->ns->href) : "";
        const auto operation = Operations.find(name);
        if (space != Namespace || operation == Operations.end())
            return Fault("SOAP-ENV:Client", "Unbekannte Operation {" + std::string(space) + "}" + std::string(name));
        if (const auto action = request.Header("SOAPAction"); action && !action->empty()) {
            std::string_view quoted = *action;
            if (quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"')
                quoted = quoted.substr(1, quoted.size() - 2);
            if (quoted != Namespace + "#" + std::string(name))
                return Fault("SOAP-ENV:Client", "SOAPAction passt nicht zur Operation: " + std::string(quoted));
        }
        const RpcCall call(envelope, element, request);
        RpcAnswer answer(Namespace, name);
        operation->second(call, answer);
        return {200, kContentType, answer.Finish()};
    } catch (const ClientError& error) {
        return Fault("SOAP-ENV:Client", Utf8(error.what()));
    } catch (const SoapFault&) {
        return Fault("SOAP-ENV:Client", "Die Anfrage ist selbst ein Fault");
    } catch (const Error& error) {
        // Messages of the XML and SOAP readers are Windows-1252.
        return Fault("SOAP-ENV:Client", Utf8(error.what()));
    }
}

} // namespace orvel::service
