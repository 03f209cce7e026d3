#pragma once
// SOAP 1.1 over HTTP POST: request envelopes in document/literal or rpc/encoded style, answers and faults read
// with libxml2 (section-5 encoded values included), and a client that posts one operation per call.

#include "platform/Codepage.h"
#include "platform/Error.h"
#include "transport/Handles.h"
#include "transport/HttpClient.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
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

    const std::string& FaultCode() const { return FCode; } // as written, e.g. "env:Server"
    const WideString& FaultString() const { return FText; }

private:
    std::string FCode;
    WideString FText;
};

// The serialised request: UTF-8 XML text with an XML declaration.
std::string WriteSoapRequest(const SoapOperation& operation, const std::vector<SoapParameter>& inputs);

// A parsed answer. Throws SoapFault for a fault, Error (Windows-1252 message) for anything that is not a SOAP
// envelope with an element in its body, and for a document type declaration, which SOAP forbids and which could
// declare external entities.
class SoapResponse
{
public:
    // References followed from one accessor to its value at most.
    static constexpr int kMaxReferenceHops = 8;
    // The text one decoded array may hold at most.
    static constexpr size_t kMaxArrayText = 16u << 20;

    explicit SoapResponse(std::string_view utf8);

    // The first element in the body.
    const xmlNode* BodyElement() const { return FBody; }
    // The first body element with this namespace and name (in rpc answers, independent multi-reference values may
    // stand before it); otherwise throws Error.
    const xmlNode* Expect(std::string_view namespaceUri, std::string_view localName) const;

    // Section-5 encoded values. An accessor holds its value itself or refers to it with href="#id": the element
    // with that id anywhere in the body, such as a multiRef element after the answer's element. Types are taken
    // from the binding, so xsi:type attributes may be there or not.

    // The element holding the accessor's value. Throws Error for a reference that leads nowhere, in a circle or
    // through more than kMaxReferenceHops references.
    const xmlNode* Value(const xmlNode* accessor) const;
    // The value's text, UTF-8; empty for a nil value.
    std::string EncodedString(const xmlNode* accessor) const;
    // An xsd:int, white space around it allowed; throws Error for anything else, nil included.
    int32_t EncodedInt(const xmlNode* accessor) const;
    // The items of an array (SOAP-ENC:Array with its arrayType, or any element whose child elements are the items)
    // in order, each read as EncodedString; a nil value is the empty array. Throws Error when the items' text would
    // exceed kMaxArrayText.
    std::vector<std::string> EncodedStringArray(const xmlNode* accessor) const;

private:
    XmlDocHandle FDocument;
    const xmlNode* FBody = nullptr;
    std::unordered_map<std::string, const xmlNode*> FIds; // the body's elements by their id attribute
};

// The first child element with this local name (any namespace), or nullptr.
const xmlNode* SoapChild(const xmlNode* parent, std::string_view localName);
// The child elements in order (the items of an encoded array).
std::vector<const xmlNode*> SoapChildElements(const xmlNode* parent);
// The accessor of an rpc answer's return value: the child "return", or else the first child when it is none of the
// outputs, because SOAP 1.1 gives the return value's name no meaning ("result" and "<operation>Return" are
// common); nullptr when there is neither.
const xmlNode* SoapReturnAccessor(const xmlNode* response, const std::vector<std::string_view>& outputNames);

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

    const std::string& URL() const { return FUrl; }
    void SetURL(const std::string& url) { FUrl = url; }
    // "host:port", or empty for the system's proxy configuration.
    const std::string& Proxy() const { return FProxyText; }
    void SetProxy(const std::string& proxy);
    const std::string& UserName() const { return FHttp.ProxyUsername(); }
    void SetUserName(const std::string& user);
    const std::string& Password() const { return FHttp.ProxyPassword(); }
    void SetPassword(const std::string& password);
    // Milliseconds for each wait for the answer; 0 and negative values leave kDefaultReceiveTimeout in force.
    int32_t ReceiveTimeout() const { return FTimeout; }
    void SetReceiveTimeout(int32_t milliseconds) { FTimeout = milliseconds; }

    // Serialises, lets BeforeExecute see the request, posts it and reads the answer. A transport failure or an
    // HTTP status other than 2xx throws Error with the transport's message or the status line; a fault throws
    // SoapFault (also with status 500, the status SOAP gives faults).
    SoapResponse Invoke(const SoapOperation& operation, const std::vector<SoapParameter>& inputs);
    // The body of the last answer as received (a fault's too); empty after a transport failure.
    const std::string& LastAnswer() const { return FLastAnswer; }

protected:
    // Runs after the request is serialised and before it is sent; Request is what will be sent.
    virtual void BeforeExecute(const std::string& operationName, std::string& request);

private:
    void ApplyCredentials(const std::string& user, const std::string& password);

    HttpClient FHttp;
    std::string FUrl;
    std::string FProxyText;
    int32_t FTimeout = 0;
    std::string FLastAnswer;
};

} // namespace orvel
