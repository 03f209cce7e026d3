#include "wddx/Proxy.h"

#include "platform/Text.h"
#include "transport/HttpClient.h"

namespace orvel {

bool SetHttpProxy(HttpClient& Client, const std::string& Server, int32_t Port, const std::string& User,
                  const std::string& Password)
{
    if (!SameText(User, Client.ProxyUsername()) || !SameText(Password, Client.ProxyPassword()))
        Client.DiscardProxyAuthentication();
    Client.SetProxyServer(Server);
    Client.SetProxyPort(Port);
    Client.SetProxyUsername(User);
    Client.SetProxyPassword(Password);
    const bool basic = !User.empty() || !Password.empty();
    Client.SetProxyBasicAuthentication(basic);
    return basic;
}

} // namespace orvel
