#include "transport/HttpClient.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/Timing.h"
#include "support/Tinyproxy.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace orvel {
namespace {

using test::FixtureServer;
using test::Reply;

std::string FailureOf(HttpClient& client, const std::string& url)
{
    try {
        client.Get(url);
    } catch (const Error& error) {
        return error.what();
    }
    return "(no failure)";
}

TEST(HttpClient, SendsHttp11WithTheFixedHeadersAndReturnsTheBodyByteForByte)
{
    std::string body("<x>\xE4\xF6\xFC\x80</x>\0tail", 19);
    FixtureServer server([&](const test::Request&) { return Reply::Ok(body); });
    HttpClient client;
    EXPECT_EQ(client.Get("http://" + server.HostPort() + "/tarvik?un=a&pw=b"), body);
    const auto request = server.Requests().at(0);
    EXPECT_EQ(request.RequestLine, "GET /tarvik?un=a&pw=b HTTP/1.1");
    EXPECT_EQ(request.Headers.at("accept"), "text/html, */*");
    EXPECT_EQ(request.Headers.at("user-agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(request.Headers.count("accept-encoding"), 0u);
}

TEST(HttpClient, EmptyBodyIsEmptyText)
{
    FixtureServer server;
    HttpClient client;
    EXPECT_EQ(client.Get("http://" + server.HostPort() + "/"), "");
}

TEST(HttpClient, StatusOutside2xxFailsWithTheStatusLineAsReceived)
{
    const char* lines[] = {"HTTP/1.1 404 Not Found", "HTTP/1.1 500 Internal Server Error",
                           "HTTP/1.0 503 Dienst nicht verfuegbar", "HTTP/1.1 300 Multiple"};
    FixtureServer server;
    HttpClient client;
    for (const char* line : lines) {
        server.AnswerAlways(Reply::Status(line, "<html>error page</html>"));
        EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"), line);
    }
}

TEST(HttpClient, RedirectIsNotFollowed)
{
    FixtureServer server([](const test::Request& request) {
        if (request.RequestLine.starts_with("GET /moved"))
            return Reply::Ok("<moved/>");
        Reply reply = Reply::Status("HTTP/1.1 302 Found");
        reply.Headers.push_back("Location: /moved");
        return reply;
    });
    HttpClient client;
    EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"), "HTTP/1.1 302 Found");
    EXPECT_EQ(server.RequestLines().size(), 1u);
}

TEST(HttpClient, RefusedConnectionGivesTheSocketError)
{
    HttpClient client;
    const std::string url = "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/";
    EXPECT_EQ(FailureOf(client, url), "Socket-Fehler # 10061\r\nVerbindung abgelehnt.");
}

TEST(HttpClient, UnknownHostGivesAGermanMessage)
{
    HttpClient client;
    EXPECT_EQ(FailureOf(client, "http://nonexistent.invalid/"), "Socket-Fehler # 11001\r\nHost nicht gefunden.");
}

TEST(HttpClient, ClosedConnectionFails)
{
    FixtureServer server;
    Reply reply;
    reply.Act = Reply::Action::Close;
    server.AnswerAlways(reply);
    HttpClient client;
    EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"), "Verbindung wurde vom Server geschlossen.");
}

TEST(HttpClient, ReadTimeoutBoundsEveryWaitInMilliseconds)
{
    for (auto action : {Reply::Action::Stall, Reply::Action::StallAfterHeaders}) {
        FixtureServer server;
        Reply reply = Reply::Ok("never sent");
        reply.Act = action;
        server.AnswerAlways(reply);
        HttpClient client;
        client.SetReadTimeout(300);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"), Ansi("Zeitüberschreitung beim Lesen"));
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(290));
        EXPECT_LT(elapsed, test::kShortTimeoutBound); // 300 s if it were seconds
    }
}

TEST(HttpClient, ConnectTimeoutWhenTheServerNeverAccepts)
{
    // A listening socket whose queue is full drops further connection attempts silently.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    HttpClient client;
    client.SetReadTimeout(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(client, "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"),
              Ansi("Zeitüberschreitung der Verbindung."));
    EXPECT_LT(std::chrono::steady_clock::now() - start, test::kShortTimeoutBound);
    for (int filler : fillers)
        ::close(filler);
    ::close(listener);
}

TEST(HttpClient, RefusesABodyLargerThan16MiB)
{
    FixtureServer server;
    server.AnswerAlways(Reply::Ok(std::string(HttpClient::kMaxBodySize + 1, 'x')));
    HttpClient client;
    EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"),
              Ansi("Die Antwort ist größer als 16 MiB und wird nicht gelesen."));
    server.AnswerAlways(Reply::Ok(std::string(HttpClient::kMaxBodySize, 'x')));
    EXPECT_EQ(client.Get("http://" + server.HostPort() + "/").size(), HttpClient::kMaxBodySize);
}

TEST(HttpClient, KeepsTheConnectionOnlyWhileNothingChanges)
{
    FixtureServer server;
    HttpClient client;
    const std::string url = "http://" + server.HostPort() + "/";
    client.Get(url);
    client.Get(url);
    EXPECT_EQ(server.ConnectionCount(), 1);
    client.DiscardProxyAuthentication();
    client.Get(url);
    EXPECT_EQ(server.ConnectionCount(), 2);
    client.SetProxyPort(0); // unchanged
    client.Get(url);
    EXPECT_EQ(server.ConnectionCount(), 2);
}

class HttpClientThroughProxy : public testing::Test
{
protected:
    test::Tinyproxy Proxy{"proxyuser", "proxy-pass"};
    FixtureServer Server{[](const test::Request&) { return Reply::Ok("<through/>"); }};
    HttpClient Client;

    void UseProxy(const std::string& user, const std::string& password)
    {
        Client.SetProxyServer("127.0.0.1");
        Client.SetProxyPort(Proxy.Port());
        Client.SetProxyUsername(user);
        Client.SetProxyPassword(password);
        Client.SetProxyBasicAuthentication(!user.empty() || !password.empty());
    }
};

TEST_F(HttpClientThroughProxy, CarriesTheRequestWithBasicAuthentication)
{
    UseProxy("proxyuser", "proxy-pass");
    EXPECT_EQ(Client.Get("http://" + Server.HostPort() + "/tarvik?un=x"), "<through/>");
    ASSERT_EQ(Server.RequestLines().size(), 1u);
    EXPECT_EQ(Server.RequestLines()[0], "GET /tarvik?un=x HTTP/1.1");
}

TEST_F(HttpClientThroughProxy, MissingOrWrongCredentialsFailWithTheProxysStatusLine)
{
    UseProxy("", "");
    EXPECT_EQ(FailureOf(Client, "http://" + Server.HostPort() + "/"), "HTTP/1.0 407 Proxy Authentication Required");
    UseProxy("proxyuser", "wrong");
    EXPECT_EQ(FailureOf(Client, "http://" + Server.HostPort() + "/"), "HTTP/1.0 401 Unauthorized");
    EXPECT_TRUE(Server.Requests().empty());
}

TEST_F(HttpClientThroughProxy, EmptyServerConnectsDirectly)
{
    UseProxy("", "");
    Client.SetProxyServer("");
    EXPECT_EQ(Client.Get("http://" + Server.HostPort() + "/"), "<through/>");
}

} // namespace
} // namespace orvel
