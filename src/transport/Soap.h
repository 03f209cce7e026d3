#pragma once
// SOAP 1.1 over HTTP POST: request envelopes in document/literal or rpc/encoded style, answers and faults read
// with libxml2, and a client that posts one operation per call.

#include "platform/Codepage.h"
#include "platform/Error.h"
#include "transport/Handles.h"
#include "transport/HttpClient.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

enum class SoapStyle {
    DocumentLiteral, // the body element is the message element; its children are unqualified, untyped
    RpcEncoded,      // section-5 encoding: the body element names the operation; children carry xsi:type
};

struct SoapOperation
{
    std::string Name;      // the element in the SOAP body: the message element or the operation name
    std::string Namespace; // of that element; a default namespace in document/literal, prefix "NS1" in rpc/encoded
    SoapStyle Style = SoapStyle::DocumentLiteral;
    std::string SoapAction; // the SOAPAction header's value without its quotes
};

// One input value, written as a child element of the body element.
struct SoapParameter
{
    std::string Name;
    std::string Value;                  // UTF-8
    std::string XsdType = "xsd:string"; // rpc/encoded only, e.g. "xsd:int"
};

// A fault answered by the service. what() is the fault string in Windows-1252; FaultString keeps it whole.
class SoapFault : public Error
{
public:
    SoapFault(std::string faultCode, const std::string& faultStringUtf8);

    const std::string& FaultCode() const { return Code; } // as written, e.g. "env:Server"
    const WideString& FaultString() const { return Text; }

private:
    std::string Code;
    WideString Text;
};

// The serialised request: UTF-8 XML text with an XML declaration.
std::string WriteSoapRequest(const SoapOperation& operation, const std::vector<SoapParameter>& inputs);

// A parsed answer. Throws SoapFault for a fault, Error (Windows-1252 message) for anything that is not a SOAP
// envelope with an element in its body, and for a document type declaration, which SOAP forbids and which could
// declare external entities.
class SoapResponse
{
public:
    explicit SoapResponse(std::string_view utf8);

    // The first element in the body.
    const xmlNode* BodyElement() const { return Body; }
    // The body element when it has this namespace and name; otherwise throws Error.
    const xmlNode* Expect(std::string_view namespaceUri, std::string_view localName) const;

private:
    XmlDocHandle Document;
    const xmlNode* Body = nullptr;
};

// The first child element with this local name (any namespace), or nullptr.
const xmlNode* SoapChild(const xmlNode* parent, std::string_view localName);
// The child elements in order (the items of an encoded array).
std::vector<const xmlNode*> SoapChildElements(const xmlNode* parent);

// Posts operations to one endpoint. Without a proxy the proxy environment variables apply; the user name and
// password go to the proxy with Basic authentication.
class SoapClient
{
public:
    // Answers larger than this are not read.
    static constexpr size_t kMaxResponseSize = 4u << 20;
    // The wait for data while ReceiveTimeout is not above 0.
    static constexpr int32_t kDefaultReceiveTimeout = 60000;

    SoapClient();
    virtual ~SoapClient();
    SoapClient(const SoapClient&) = delete;
    SoapClient& operator=(const SoapClient&) = delete;

    const std::string& URL() const { return Url; }
    void SetURL(const std::string& url) { Url = url; }
    // "host:port", or empty for the system's proxy configuration.
    const std::string& Proxy() const { return ProxyText; }
    void SetProxy(const std::string& proxy);
    const std::string& UserName() const { return Http.ProxyUsername(); }
    void SetUserName(const std::string& user);
    const std::string& Password() const { return Http.ProxyPassword(); }
    void SetPassword(const std::string& password);
    // Milliseconds for each wait for the answer; 0 and negative values leave kDefaultReceiveTimeout in force.
    int32_t ReceiveTimeout() const { return Timeout; }
    void SetReceiveTimeout(int32_t milliseconds) { Timeout = milliseconds; }

    // Serialises, lets BeforeExecute see the request, posts it and reads the answer. A transport failure or an
    // HTTP status other than 2xx throws Error with the transport's message or the status line; a fault throws
    // SoapFault (also with status 500, the status SOAP gives faults).
    SoapResponse Invoke(const SoapOperation& operation, const std::vector<SoapParameter>& inputs);

protected:
    // Runs after the request is serialised and before it is sent; Request is what will be sent.
    virtual void BeforeExecute(const std::string& operationName, std::string& request);

private:
    void ApplyCredentials(const std::string& user, const std::string& password);

    HttpClient Http;
    std::string Url;
    std::string ProxyText;
    int32_t Timeout = 0;
};

} // namespace orvel
