#include "support/FixtureServer.h"
#include "transport/HttpClient.h"
#include "wddx/Proxy.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

// The fixture server stands in as the proxy: it sees the absolute request target and the proxy headers.
class SetHttpProxyTest : public testing::Test
{
protected:
    test::FixtureServer Proxy;
    HttpClient Client;

    test::Request Fetch()
    {
        Client.Get("http://service.invalid/tarvik?un=a");
        return Proxy.Requests().back();
    }
};

TEST_F(SetHttpProxyTest, BasicAuthenticationExactlyWhenUserOrPasswordIsGiven)
{
    EXPECT_FALSE(SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "", ""));
    auto request = Fetch();
    EXPECT_EQ(request.RequestLine, "GET http://service.invalid/tarvik?un=a HTTP/1.1");
    EXPECT_EQ(request.Headers.count("proxy-authorization"), 0u);

    EXPECT_TRUE(SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "bob", ""));
    EXPECT_EQ(Fetch().Headers.at("proxy-authorization"), "Basic Ym9iOg=="); // bob:
    EXPECT_TRUE(SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "", "pw"));
    EXPECT_EQ(Fetch().Headers.at("proxy-authorization"), "Basic OnB3"); // :pw
}

TEST_F(SetHttpProxyTest, TheAuthenticatedConnectionLastsUntilTheSettingsChange)
{
    SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "bob", "secret");
    Fetch();
    SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "bob", "secret");
    Fetch();
    EXPECT_EQ(Proxy.ConnectionCount(), 1);

    SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "BOB", "SECRET");
    EXPECT_EQ(Fetch().Headers.at("proxy-authorization"), "Basic Qk9COlNFQ1JFVA=="); // BOB:SECRET
    SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "alice", "SECRET");
    EXPECT_EQ(Fetch().Headers.at("proxy-authorization"), "Basic YWxpY2U6U0VDUkVU"); // alice:SECRET
    EXPECT_EQ(Proxy.Requests().back().ConnectionId, Proxy.ConnectionCount());
}

TEST_F(SetHttpProxyTest, EmptyServerConnectsDirectly)
{
    test::FixtureServer service;
    SetHttpProxy(Client, "127.0.0.1", Proxy.Port(), "bob", "secret");
    SetHttpProxy(Client, "", 0, "", "");
    Client.Get("http://" + service.HostPort() + "/direct");
    EXPECT_EQ(service.RequestLines().at(0), "GET /direct HTTP/1.1");
    EXPECT_TRUE(Proxy.Requests().empty());
}

} // namespace
} // namespace orvel
