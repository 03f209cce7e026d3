#pragma once
// The server side of the web services' SOAP binding: rpc style, section-5 encoding, one endpoint per interface
// whose operations are looked up by the body element's name in the interface's namespace. Bad envelopes, unknown
// operations and missing inputs get a Client fault.

#include "rules/CheckTable.h"
#include "service/Http.h"
#include "transport/Soap.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::service {

// The inputs of one call.
class RpcCall
{
public:
    RpcCall(const SoapResponse& envelope, const xmlNode* operation, const HttpRequest& request)
        : Envelope(envelope), Operation(operation), Request(request)
    {
    }

    // The input as Windows-1252 text; a missing input throws ClientError.
    std::string Text(const char* name) const;
    // The same as UTF-8, as it came.
    std::string Utf8Text(const char* name) const;
    int32_t Int(const char* name) const;
    // The row's inputs that SOAP sends, in the row's encoding and order: a missing one throws ClientError.
    std::vector<std::optional<std::string>> Inputs(const rules::CheckRow& row) const;
    const HttpRequest& From() const { return Request; }

private:
    const xmlNode* Input(const char* name) const;
    const SoapResponse& Envelope;
    const xmlNode* Operation;
    const HttpRequest& Request;
};

// The "<operation>Response" element: return value and outputs in the order they are added.
class RpcAnswer
{
public:
    RpcAnswer(std::string_view interfaceNamespace, std::string_view operation);
    RpcAnswer& Text(std::string_view name, std::string_view windows1252);
    RpcAnswer& Int(std::string_view name, int32_t value);
    RpcAnswer& List(std::string_view name, const std::vector<std::string>& windows1252);
    RpcAnswer& Utf8Text(std::string_view name, std::string_view utf8);
    RpcAnswer& Utf8List(std::string_view name, const std::vector<std::string>& utf8);
    // The fields of the answer that SOAP carries, under their SOAP names, those skip() leaves.
    RpcAnswer& Answer(const rules::CheckRow& row, const rules::CheckAnswer& answer,
                      bool (*skip)(const rules::CheckField&) = nullptr);
    std::string Finish();

private:
    std::string Operation;
    std::string Body;
};

// A fault the caller caused (SOAP-ENV:Client); other exceptions become Server faults.
class ClientError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class SoapEndpoint
{
public:
    using Operation = std::function<void(const RpcCall&, RpcAnswer&)>;

    explicit SoapEndpoint(std::string interfaceNamespace) : Namespace(std::move(interfaceNamespace)) {}
    void Add(std::string name, Operation operation);
    HttpResponse Answer(const HttpRequest& request) const;

    // A fault envelope with status 500; text is UTF-8.
    static HttpResponse Fault(const char* code, std::string_view text);
    // The Client fault for a body over the limit (the router gives it status 413).
    static HttpResponse TooLarge();

private:
    std::string Namespace;
    std::map<std::string, Operation, std::less<>> Operations;
};

} // namespace orvel::service
