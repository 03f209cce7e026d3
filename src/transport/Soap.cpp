#include "transport/Soap.h"

#include "platform/Text.h"
#include "transport/Xml.h"

#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>

namespace orvel {
namespace {

constexpr char kEnvelopeNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kEncodingNamespace[] = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr char kSchemaNamespace[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kSchemaInstanceNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";

[[noreturn]] void Fail(std::string_view utf8Message)
{
    throw Error(Ansi(utf8Message));
}

std::string_view TrimXmlSpace(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// xsi:nil="true" of XML Schema, or xsi:null="1" of its 1999 draft that older toolkits still write.
bool IsNil(const xmlNode* node)
{
    for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
        if (!attribute->ns || !XmlView(attribute->ns->href).ends_with("/XMLSchema-instance"))
            continue;
        if (XmlView(attribute->name) != "nil" && XmlView(attribute->name) != "null")
            continue;
        const XmlString value(xmlNodeListGetString(node->doc, attribute->children, 1));
        const std::string_view flag = TrimXmlSpace(XmlView(value.get()));
        return flag == "true" || flag == "1";
    }
    return false;
}

void IndexIds(const xmlNode* root, std::unordered_map<std::string, const xmlNode*>& ids)
{
    const xmlNode* node = root->children;
    while (node) {
        if (node->type == XML_ELEMENT_NODE) {
            if (auto id = XmlAttribute(node, "id"))
                ids.emplace(std::move(*id), node); // the first of equal ids counts
            if (node->children) {
                node = node->children;
                continue;
            }
        }
        while (!node->next) {
            node = node->parent;
            if (node == root)
                return;
        }
        node = node->next;
    }
}

std::string NameOf(const xmlNode* node)
{
    return std::string(XmlView(node->name));
}

} // namespace

SoapFault::SoapFault(std::string faultCode, const std::string& faultStringUtf8)
    : Error(Narrow(FromUtf8(faultStringUtf8))), FCode(std::move(faultCode)), FText(FromUtf8(faultStringUtf8))
{
}

std::string WriteSoapRequest(const SoapOperation& operation, const std::vector<SoapParameter>& inputs)
{
    XmlDocHandle document(xmlNewDoc(XmlChars("1.0")));
    xmlNode* envelope = xmlNewDocNode(document.get(), nullptr, XmlChars("Envelope"), nullptr);
    xmlDocSetRootElement(document.get(), envelope);
    xmlNs* soap = xmlNewNs(envelope, XmlChars(kEnvelopeNamespace), XmlChars("SOAP-ENV"));
    xmlSetNs(envelope, soap);
    xmlNode* body = xmlNewChild(envelope, soap, XmlChars("Body"), nullptr);
    xmlNode* call = xmlNewChild(body, nullptr, XmlChars(operation.Name.c_str()), nullptr);
    const bool encoded = operation.Style == SoapStyle::RpcEncoded;
    xmlNs* schemaInstance = nullptr;
    if (encoded) {
        xmlNewNs(envelope, XmlChars(kSchemaNamespace), XmlChars("xsd"));
        schemaInstance = xmlNewNs(envelope, XmlChars(kSchemaInstanceNamespace), XmlChars("xsi"));
        xmlNewNs(envelope, XmlChars(kEncodingNamespace), XmlChars("SOAP-ENC"));
        xmlNewNsProp(body, soap, XmlChars("encodingStyle"), XmlChars(kEncodingNamespace));
        xmlSetNs(call, xmlNewNs(call, XmlChars(operation.Namespace.c_str()), XmlChars("NS1")));
    } else {
        // The message element declares its namespace as the default one, so its children stand unprefixed in it.
        xmlSetNs(call, xmlNewNs(call, XmlChars(operation.Namespace.c_str()), nullptr));
    }
    for (const auto& input : inputs) {
        // Unqualified: under the default namespace of document/literal it stands in that namespace, in rpc/encoded
        // in none. The value is raw text, escaped when written.
        xmlNode* child = xmlAddChild(call, xmlNewDocRawNode(document.get(), nullptr, XmlChars(input.Name.c_str()),
                                                            XmlChars(input.Value.c_str())));
        if (encoded)
            xmlNewNsProp(child, schemaInstance, XmlChars("type"), XmlChars(input.XsdType.c_str()));
    }
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(document.get(), &text, &size, "UTF-8");
    const XmlString owned(text);
    if (!text)
        throw std::bad_alloc();
    return std::string(reinterpret_cast<const char*>(text), size_t(size));
}

SoapResponse::SoapResponse(std::string_view utf8)
{
    try {
        FDocument = ParseXml(utf8, XmlOptions{.DropBlankText = false});
    } catch (const Error& error) {
        throw Error(Ansi("Die Antwort ist kein XML-Dokument: ") + error.what());
    }
    if (FDocument->intSubset || FDocument->extSubset)
        Fail("Die Antwort enthält eine Dokumenttyp-Deklaration (DTD) und wird nicht gelesen.");
    const xmlNode* envelope = xmlDocGetRootElement(FDocument.get());
    if (!IsXmlElement(envelope, kEnvelopeNamespace, "Envelope"))
        Fail("Die Antwort ist kein SOAP-Umschlag.");
    const xmlNode* body = FirstXmlElement(envelope->children);
    if (IsXmlElement(body, kEnvelopeNamespace, "Header"))
        body = FirstXmlElement(body->next);
    if (!IsXmlElement(body, kEnvelopeNamespace, "Body"))
        Fail("Die Antwort enthält keinen SOAP-Body.");
    FBody = FirstXmlElement(body->children);
    if (!FBody)
        Fail("Der SOAP-Body der Antwort ist leer.");
    IndexIds(body, FIds);
    if (IsXmlElement(FBody, kEnvelopeNamespace, "Fault")) {
        const xmlNode* code = SoapChild(FBody, "faultcode");
        const xmlNode* text = SoapChild(FBody, "faultstring");
        throw SoapFault(code ? XmlText(code) : std::string(), text ? XmlText(text) : std::string());
    }
}

const xmlNode* SoapResponse::Expect(std::string_view namespaceUri, std::string_view localName) const
{
    for (const xmlNode* element = FBody; element; element = FirstXmlElement(element->next))
        if (IsXmlElement(element, namespaceUri, localName))
            return element;
    Fail("Unerwartetes Element {" + std::string(XmlView(FBody->ns ? FBody->ns->href : nullptr)) + "}" +
         std::string(XmlView(FBody->name)) + " in der Antwort; erwartet: {" + std::string(namespaceUri) + "}" +
         std::string(localName) + ".");
}

const xmlNode* SoapResponse::Value(const xmlNode* accessor) const
{
    const auto reference = XmlAttribute(accessor, "href");
    const xmlNode* value = accessor;
    for (int hops = 0;; ++hops) {
        const auto href = hops == 0 ? reference : XmlAttribute(value, "href");
        if (!href)
            return value;
        const auto target = href->starts_with('#') ? FIds.find(href->substr(1)) : FIds.end();
        if (target == FIds.end())
            Fail("Der Verweis href=\"" + *href + "\" im Element " + NameOf(accessor) +
                 " der Antwort zeigt auf kein Element.");
        // Toolkits refer straight to the value; a long chain is a circle or an answer made to keep us busy.
        if (hops == kMaxReferenceHops)
            Fail("Der Verweis href=\"" + *reference + "\" im Element " + NameOf(accessor) +
                 " der Antwort führt im Kreis oder über mehr als " + std::to_string(kMaxReferenceHops) + " Verweise.");
        value = target->second;
    }
}

std::string SoapResponse::EncodedString(const xmlNode* accessor) const
{
    const xmlNode* value = Value(accessor);
    return IsNil(value) ? std::string() : XmlText(value);
}

int32_t SoapResponse::EncodedInt(const xmlNode* accessor) const
{
    const std::string text = XmlText(Value(accessor));
    std::string_view digits = TrimXmlSpace(text);
    if (digits.starts_with('+') && !digits.substr(1).starts_with('-'))
        digits.remove_prefix(1);
    int32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        Fail("Ungültige Ganzzahl im Element " + NameOf(accessor) + " der Antwort: \"" + text + "\"");
    return number;
}

std::vector<std::string> SoapResponse::EncodedStringArray(const xmlNode* accessor) const
{
    const xmlNode* array = Value(accessor);
    std::vector<std::string> items;
    if (IsNil(array))
        return items;
    // Items referring to one shared value multiply its text without making the answer larger.
    size_t total = 0;
    for (const xmlNode* item : SoapChildElements(array)) {
        items.push_back(EncodedString(item));
        total += items.back().size();
        if (total > kMaxArrayText)
            Fail("Die Liste im Element " + NameOf(accessor) + " der Antwort ist größer als " +
                 std::to_string(kMaxArrayText >> 20) + " MiB und wird nicht gelesen.");
    }
    return items;
}

const xmlNode* SoapChild(const xmlNode* parent, std::string_view localName)
{
    for (const xmlNode* child = FirstXmlElement(parent->children); child; child = FirstXmlElement(child->next))
        if (XmlView(child->name) == localName)
            return child;
    return nullptr;
}

std::vector<const xmlNode*> SoapChildElements(const xmlNode* parent)
{
    std::vector<const xmlNode*> elements;
    for (const xmlNode* child = FirstXmlElement(parent->children); child; child = FirstXmlElement(child->next))
        elements.push_back(child);
    return elements;
}

const xmlNode* SoapReturnAccessor(const xmlNode* response, const std::vector<std::string_view>& outputNames)
{
    if (const xmlNode* named = SoapChild(response, "return"))
        return named;
    const xmlNode* first = FirstXmlElement(response->children);
    if (!first || std::find(outputNames.begin(), outputNames.end(), XmlView(first->name)) != outputNames.end())
        return nullptr;
    return first;
}

SoapClient::SoapClient()
{
    FHttp.SetMaxBodySize(kMaxResponseSize);
    FHttp.SetUseSystemProxy(true);
}

SoapClient::~SoapClient() = default;

void SoapClient::SetProxy(const std::string& proxy)
{
    // libcurl reads the port from "host:port" while the separate port stays 0.
    FProxyText = proxy;
    FHttp.SetProxyServer(proxy);
    FHttp.SetProxyPort(0);
}

void SoapClient::SetUserName(const std::string& user)
{
    ApplyCredentials(user, FHttp.ProxyPassword());
}

void SoapClient::SetPassword(const std::string& password)
{
    ApplyCredentials(FHttp.ProxyUsername(), password);
}

void SoapClient::ApplyCredentials(const std::string& user, const std::string& password)
{
    if (user != FHttp.ProxyUsername() || password != FHttp.ProxyPassword())
        FHttp.DiscardProxyAuthentication();
    FHttp.SetProxyUsername(user);
    FHttp.SetProxyPassword(password);
    FHttp.SetProxyBasicAuthentication(!user.empty() || !password.empty());
}

void SoapClient::BeforeExecute(const std::string&, std::string&) {}

SoapResponse SoapClient::Invoke(const SoapOperation& operation, const std::vector<SoapParameter>& inputs)
{
    std::string request = WriteSoapRequest(operation, inputs);
    BeforeExecute(operation.Name, request);
    FHttp.SetReadTimeout(FTimeout > 0 ? FTimeout : kDefaultReceiveTimeout);
    FLastAnswer.clear();
    HttpReply reply =
        FHttp.Post(FUrl, request, {"Content-Type: text/xml", "SOAPAction: \"" + operation.SoapAction + "\""});
    FLastAnswer = std::move(reply.Body);
    if (reply.Status >= 200 && reply.Status <= 299)
        return SoapResponse(FLastAnswer);
    if (reply.Status == 500) {
        try {
            SoapResponse{FLastAnswer};
        } catch (const SoapFault&) {
            throw;
        } catch (const Error&) {
            // not a fault: the status line tells more than the body
        }
    }
    throw Error(reply.StatusLine);
}

} // namespace orvel
