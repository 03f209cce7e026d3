#include "transport/Soap.h"

#include "platform/Text.h"
#include "transport/Xml.h"

#include <libxml/tree.h>

#include <memory>

namespace orvel {
namespace {

constexpr char kEnvelopeNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kEncodingNamespace[] = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr char kSchemaNamespace[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kSchemaInstanceNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";

const xmlChar* X(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

std::string_view View(const xmlChar* text)
{
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

bool IsElement(const xmlNode* node, std::string_view namespaceUri, std::string_view localName)
{
    return node && node->type == XML_ELEMENT_NODE && View(node->name) == localName &&
           View(node->ns ? node->ns->href : nullptr) == namespaceUri;
}

const xmlNode* FirstElement(const xmlNode* node)
{
    for (; node; node = node->next)
        if (node->type == XML_ELEMENT_NODE)
            return node;
    return nullptr;
}

[[noreturn]] void Fail(std::string_view utf8Message)
{
    throw Error(Ansi(utf8Message));
}

struct XmlFree
{
    void operator()(xmlChar* p) const { xmlFree(p); }
};

} // namespace

SoapFault::SoapFault(std::string faultCode, const std::string& faultStringUtf8)
    : Error(Narrow(FromUtf8(faultStringUtf8))), Code(std::move(faultCode)), Text(FromUtf8(faultStringUtf8))
{
}

std::string WriteSoapRequest(const SoapOperation& operation, const std::vector<SoapParameter>& inputs)
{
    XmlDocHandle document(xmlNewDoc(X("1.0")));
    xmlNode* envelope = xmlNewDocNode(document.get(), nullptr, X("Envelope"), nullptr);
    xmlDocSetRootElement(document.get(), envelope);
    xmlNs* soap = xmlNewNs(envelope, X(kEnvelopeNamespace), X("SOAP-ENV"));
    xmlSetNs(envelope, soap);
    xmlNode* body = xmlNewChild(envelope, soap, X("Body"), nullptr);
    xmlNode* call = xmlNewChild(body, nullptr, X(operation.Name.c_str()), nullptr);
    const bool encoded = operation.Style == SoapStyle::RpcEncoded;
    xmlNs* schemaInstance = nullptr;
    if (encoded) {
        xmlNewNs(envelope, X(kSchemaNamespace), X("xsd"));
        schemaInstance = xmlNewNs(envelope, X(kSchemaInstanceNamespace), X("xsi"));
        xmlNewNs(envelope, X(kEncodingNamespace), X("SOAP-ENC"));
        xmlNewNsProp(body, soap, X("encodingStyle"), X(kEncodingNamespace));
        xmlSetNs(call, xmlNewNs(call, X(operation.Namespace.c_str()), X("NS1")));
    } else {
        // The message element declares its namespace as the default one, so its children stand unprefixed in it.
        xmlSetNs(call, xmlNewNs(call, X(operation.Namespace.c_str()), nullptr));
    }
    for (const auto& input : inputs) {
        // Unqualified: under the default namespace of document/literal it stands in that namespace, in rpc/encoded
        // in none. The value is raw text, escaped when written.
        xmlNode* child =
            xmlAddChild(call, xmlNewDocRawNode(document.get(), nullptr, X(input.Name.c_str()), X(input.Value.c_str())));
        if (encoded)
            xmlNewNsProp(child, schemaInstance, X("type"), X(input.XsdType.c_str()));
    }
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(document.get(), &text, &size, "UTF-8");
    std::unique_ptr<xmlChar, XmlFree> owned(text);
    if (!text)
        throw std::bad_alloc();
    return std::string(reinterpret_cast<const char*>(text), size_t(size));
}

SoapResponse::SoapResponse(std::string_view utf8)
{
    try {
        Document = ParseXml(utf8, XmlOptions{.DropBlankText = false});
    } catch (const Error& error) {
        throw Error(Ansi("Die Antwort ist kein XML-Dokument: ") + error.what());
    }
    if (Document->intSubset || Document->extSubset)
        Fail("Die Antwort enthält eine Dokumenttyp-Deklaration (DTD) und wird nicht gelesen.");
    const xmlNode* envelope = xmlDocGetRootElement(Document.get());
    if (!IsElement(envelope, kEnvelopeNamespace, "Envelope"))
        Fail("Die Antwort ist kein SOAP-Umschlag.");
    const xmlNode* body = FirstElement(envelope->children);
    if (IsElement(body, kEnvelopeNamespace, "Header"))
        body = FirstElement(body->next);
    if (!IsElement(body, kEnvelopeNamespace, "Body"))
        Fail("Die Antwort enthält keinen SOAP-Body.");
    Body = FirstElement(body->children);
    if (!Body)
        Fail("Der SOAP-Body der Antwort ist leer.");
    if (IsElement(Body, kEnvelopeNamespace, "Fault")) {
        const xmlNode* code = SoapChild(Body, "faultcode");
        const xmlNode* text = SoapChild(Body, "faultstring");
        throw SoapFault(code ? XmlText(code) : std::string(), text ? XmlText(text) : std::string());
    }
}

const xmlNode* SoapResponse::Expect(std::string_view namespaceUri, std::string_view localName) const
{
    if (!IsElement(Body, namespaceUri, localName))
        Fail("Unerwartetes Element {" + std::string(View(Body->ns ? Body->ns->href : nullptr)) + "}" +
             std::string(View(Body->name)) + " in der Antwort; erwartet: {" + std::string(namespaceUri) + "}" +
             std::string(localName) + ".");
    return Body;
}

const xmlNode* SoapChild(const xmlNode* parent, std::string_view localName)
{
    for (const xmlNode* child = FirstElement(parent->children); child; child = FirstElement(child->next))
        if (View(child->name) == localName)
            return child;
    return nullptr;
}

std::vector<const xmlNode*> SoapChildElements(const xmlNode* parent)
{
    std::vector<const xmlNode*> elements;
    for (const xmlNode* child = FirstElement(parent->children); child; child = FirstElement(child->next))
        elements.push_back(child);
    return elements;
}

SoapClient::SoapClient()
{
    Http.SetMaxBodySize(kMaxResponseSize);
    Http.SetUseSystemProxy(true);
}

SoapClient::~SoapClient() = default;

void SoapClient::SetProxy(const std::string& proxy)
{
    // libcurl reads the port from "host:port" while the separate port stays 0.
    ProxyText = proxy;
    Http.SetProxyServer(proxy);
    Http.SetProxyPort(0);
}

void SoapClient::SetUserName(const std::string& user)
{
    ApplyCredentials(user, Http.ProxyPassword());
}

void SoapClient::SetPassword(const std::string& password)
{
    ApplyCredentials(Http.ProxyUsername(), password);
}

void SoapClient::ApplyCredentials(const std::string& user, const std::string& password)
{
    if (user != Http.ProxyUsername() || password != Http.ProxyPassword())
        Http.DiscardProxyAuthentication();
    Http.SetProxyUsername(user);
    Http.SetProxyPassword(password);
    Http.SetProxyBasicAuthentication(!user.empty() || !password.empty());
}

void SoapClient::BeforeExecute(const std::string&, std::string&) {}

SoapResponse SoapClient::Invoke(const SoapOperation& operation, const std::vector<SoapParameter>& inputs)
{
    std::string request = WriteSoapRequest(operation, inputs);
    BeforeExecute(operation.Name, request);
    Http.SetReadTimeout(Timeout > 0 ? Timeout : kDefaultReceiveTimeout);
    HttpReply reply =
        Http.Post(Url, request, {"Content-Type: text/xml", "SOAPAction: \"" + operation.SoapAction + "\""});
    if (reply.Status >= 200 && reply.Status <= 299)
        return SoapResponse(reply.Body);
    if (reply.Status == 500) {
        try {
            SoapResponse{reply.Body};
        } catch (const SoapFault&) {
            throw;
        } catch (const Error&) {
            // not a fault: the status line tells more than the body
        }
    }
    throw Error(reply.StatusLine);
}

} // namespace orvel
