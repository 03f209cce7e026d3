#include "soap/WebServices.h"

namespace orvel {

void PrepareService(const std::string& InterfaceName, SoapClient& Proxy, const TServiceSettings& Settings)
{
    std::string url = "http";
    if (Settings.SSL)
        url += "s";
    url += "://" + Settings.HostWeb + "/soap/" + InterfaceName;
    Proxy.SetURL(url);
    Proxy.SetProxy(Settings.ProxyHost.empty() ? std::string()
                                              : Narrow(Settings.ProxyHost) + ":" + Narrow(Settings.ProxyPort));
    Proxy.SetUserName(Narrow(Settings.ProxyUser));
    Proxy.SetPassword(Narrow(Settings.ProxyPass));
}

} // namespace orvel
