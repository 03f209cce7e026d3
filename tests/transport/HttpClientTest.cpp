#include "transport/HttpClient.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/Timing.h"
#include "support/Tinyproxy.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

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

// A listening socket on 127.0.0.1 with the given backlog, and its port.
int ListenOnLoopback(int backlog, uint16_t& port)
{
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port = ntohs(address.sin_port);
    return listener;
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
    uint16_t port = 0;
    int listener = ListenOnLoopback(0, port);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    HttpClient client;
    client.SetReadTimeout(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(client, "http://127.0.0.1:" + std::to_string(port) + "/"),
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

// Servers and proxies that misbehave: each fault ends the request with a clear message, never a hang.

Reply Raw(std::string bytes)
{
    Reply reply;
    reply.Act = Reply::Action::Raw;
    reply.Body = std::move(bytes);
    return reply;
}

TEST(HttpClientServerFault, BrokenAnswersAreRefusedAsSuch)
{
    struct Case
    {
        const char* What;
        std::string Answer;
    };
    const Case cases[] = {
        {"no HTTP status line", "FOO 200 OK\r\nContent-Length: 2\r\n\r\nok"},
        {"status without a number", "HTTP/1.1 abc OK\r\nContent-Length: 2\r\n\r\nok"},
        {"two different lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 20\r\n\r\nok"},
        {"two lengths, second in other case", "HTTP/1.1 200 OK\r\ncontent-length: 2\r\nCONTENT-LENGTH:  3\r\n\r\nok!"},
    };
    FixtureServer server;
    HttpClient client;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        server.AnswerAlways(Raw(c.Answer));
        EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"), Ansi("Ungültige Antwort des Servers"));
    }
    // The same length twice says nothing new.
    server.AnswerAlways(Raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nok"));
    EXPECT_EQ(client.Get("http://" + server.HostPort() + "/"), "ok");
    // Without a connection, a URL of another scheme is still the caller's mistake.
    EXPECT_EQ(FailureOf(client, "ftp://" + server.HostPort() + "/"), Ansi("Ungültige URL."));
}

TEST(HttpClientServerFault, ResetMidBody)
{
    FixtureServer server;
    Reply reply = Reply::Ok(std::string(200000, 'x'));
    reply.Act = Reply::Action::ResetMidBody;
    server.AnswerAlways(reply);
    HttpClient client;
    EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"),
              Ansi("Socket-Fehler # 10054\r\nVerbindung vom Server zurückgesetzt."));
}

TEST(HttpClientServerFault, EndlessBodyStopsAtTheSizeLimit)
{
    FixtureServer server;
    Reply reply = Reply::Ok({});
    reply.Act = Reply::Action::Endless;
    server.AnswerAlways(reply);
    HttpClient client;
    client.SetMaxBodySize(1u << 20);
    EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"),
              Ansi("Die Antwort ist größer als 1 MiB und wird nicht gelesen."));
}

TEST(HttpClientServerFault, ATricklingServerMeetsTheLimitOfTheWholeExchange)
{
    // One byte every 200 ms never lets the read time-out of 3 s strike.
    FixtureServer server;
    Reply reply = Reply::Ok(std::string(1000, 'x'));
    reply.Act = Reply::Action::Trickle;
    reply.TrickleInterval = std::chrono::milliseconds(200);
    server.AnswerAlways(reply);
    HttpClient client;
    client.SetReadTimeout(3000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"),
              Ansi("Zeitüberschreitung: Antwort nicht vollständig in 30 s"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::seconds(30));
    EXPECT_LT(elapsed, std::chrono::seconds(30) + test::kShortTimeoutBound);

    // A slow answer that finishes in time is read whole.
    reply.Body = "ok";
    reply.TrickleInterval = std::chrono::milliseconds(20);
    server.AnswerAlways(reply);
    EXPECT_EQ(client.Get("http://" + server.HostPort() + "/"), "ok");
}

TEST(HttpClientServerFault, TheLimitOfTheWholeExchangeGrowsWithTheReadTimeout)
{
    const std::pair<int32_t, int64_t> cases[] = {
        {0, 300'000},     {-1, 300'000},     {1, 30'000},          {3'000, 30'000},
        {10'000, 100'000}, {60'000, 300'000}, {600'000, 600'000}, {INT32_MAX, INT32_MAX},
    };
    for (const auto& [timeout, limit] : cases)
        EXPECT_EQ(HttpClient::ExchangeLimit(timeout), limit) << timeout;
}

TEST(HttpClientServerFault, ClosedDuringTheTlsHandshake)
{
    // Takes the client's hello and hangs up.
    uint16_t port = 0;
    int listener = ListenOnLoopback(4, port);
    std::thread server([listener] {
        pollfd wait{listener, POLLIN, 0};
        if (::poll(&wait, 1, 10000) != 1)
            return;
        int connection = ::accept(listener, nullptr, nullptr);
        char hello[4096];
        (void)!::recv(connection, hello, sizeof hello, 0);
        ::close(connection);
    });
    HttpClient client;
    client.SetReadTimeout(5000);
    EXPECT_EQ(FailureOf(client, "https://127.0.0.1:" + std::to_string(port) + "/"),
              "Fehler beim Aufbau der TLS-Verbindung.");
    server.join();
    ::close(listener);
}

TEST(HttpClientServerFault, AProxyThatRefusesGivesItsStatusLine)
{
    // The fixture stands in for the proxy: a plain-HTTP request goes to it whole.
    FixtureServer proxy;
    HttpClient client;
    client.SetProxyServer("127.0.0.1");
    client.SetProxyPort(proxy.Port());
    for (const char* line : {"HTTP/1.1 401 Unauthorized", "HTTP/1.1 407 Proxy Authentication Required",
                             "HTTP/1.1 502 Bad Gateway"}) {
        Reply reply = Reply::Status(line, "<html>refused</html>");
        if (std::string_view(line).find("407") != std::string_view::npos)
            reply.Headers.push_back("Proxy-Authenticate: Basic realm=\"proxy\"");
        proxy.AnswerAlways(reply);
        EXPECT_EQ(FailureOf(client, "http://wddx.example.invalid/tarvik"), line);
    }
    ASSERT_FALSE(proxy.RequestLines().empty());
    EXPECT_EQ(proxy.RequestLines().back(), "GET http://wddx.example.invalid/tarvik HTTP/1.1");
}

} // namespace
} // namespace orvel
