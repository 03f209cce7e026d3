#pragma once
// A stand-in for the maker's SOAP web services ITarvik and IAddress3 on 127.0.0.1 ("/soap/ITarvik",
// "/soap/IAddress3"). It reads each rpc/encoded request, records it, and answers the operation with its entry of
// kWebAnswers (or what the test set) in the form the test chose. A request to an unknown operation, in the wrong
// namespace or with a SOAPAction that does not match gets a Client fault.

#include "support/FixtureServer.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace orvel::test {

// A return value or output: a text, an int or a string list, UTF-8.
struct WebValue
{
    enum class Kind {
        Text,
        Int,
        List,
    };
    std::string Name;
    Kind Type = Kind::Text;
    std::vector<std::string> Values; // one for Text and Int (the number in decimal), the items of a List

    bool operator==(const WebValue&) const = default;
};

WebValue WebText(std::string name, std::string value);
WebValue WebInt(std::string name, int32_t value);
WebValue WebList(std::string name, std::vector<std::string> items);

// Each operation's answer: the return value, named "return", first (TestBic has none), then the outputs in their
// declaration order.
extern const std::map<std::string, std::vector<WebValue>> kWebAnswers;

// One input as it came: name, the xsi:type attribute as written, and the text.
struct WebInput
{
    std::string Name;
    std::string Type;
    std::string Value;

    bool operator==(const WebInput&) const = default;
};

struct WebCall
{
    std::string Path;       // e.g. "/soap/ITarvik"
    std::string SoapAction; // without its quotes
    std::string Namespace;  // of the operation element
    std::string Operation;
    std::vector<WebInput> Inputs;
};

// How answers are written.
struct WebForm
{
    bool Typed = true;     // xsi:type on every value, lists as SOAP-ENC:Array with arrayType; else neither
    bool Reversed = false; // the answer's elements in reverse order, the return value last
    bool MultiRef = false; // every value, list items too, as a multiRef element after the answer, reached by href
};

class WebServiceServer
{
public:
    WebServiceServer();

    // "127.0.0.1:port", the web-services host.
    std::string Host() const { return Server.HostPort(); }
    void SetForm(WebForm form);
    // From now on the operation answers with these values instead of its entry in kWebAnswers.
    void SetAnswer(const std::string& operation, std::vector<WebValue> values);
    // Not empty: every call from now on gets a Server fault with this fault string, with status 500.
    void SetFault(std::string faultString);

    // The answer to a request; a test's stand-in proxy may pass requests on to it.
    Reply Answer(const Request& request);
    std::vector<Request> Requests() const { return Server.Requests(); }
    std::vector<WebCall> Calls() const;

private:
    mutable std::mutex Lock;
    WebForm Form;
    std::map<std::string, std::vector<WebValue>> Answers = kWebAnswers;
    std::string FaultString;
    std::vector<WebCall> Recorded;
    FixtureServer Server; // last: its threads use the members above
};

} // namespace orvel::test
