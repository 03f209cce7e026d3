#pragma once
// What the two web-services interfaces share: the string list type and the preparation of a proxy object before
// each call.

#include "platform/Codepage.h"
#include "transport/Soap.h"

#include <string>
#include <vector>

namespace orvel {

// A zero-based list of texts; on the wire a SOAP-encoded array of strings.
using TStringDynArray = std::vector<WideString>;

// The window's settings at the moment of a call.
struct TServiceSettings
{
    std::string HostWeb{}; // 8-bit; goes into the endpoint as it stands
    bool SSL = false;
    WideString ProxyHost{};
    WideString ProxyPort{}; // the port field's text, unchecked
    WideString ProxyUser{};
    WideString ProxyPass{};
};

// Points the proxy object at "http[s]://HostWeb/soap/<InterfaceName>" and gives its transport the proxy ("host:port"
// or, with an empty host, the system's proxy configuration) and the proxy user name and password, empty ones too.
// Nothing else of the transport changes.
void PrepareService(const std::string& InterfaceName, SoapClient& Proxy, const TServiceSettings& Settings);

} // namespace orvel
