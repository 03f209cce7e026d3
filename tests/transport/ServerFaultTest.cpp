// Servers and proxies that misbehave: each fault ends the request with a clear message, never a hang or a crash.

#include "transport/HttpClient.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/Timing.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
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

Reply Raw(std::string bytes)
{
    Reply reply;
    reply.Act = Reply::Action::Raw;
    reply.Body = std::move(bytes);
    return reply;
}

TEST(ServerFault, BrokenAnswersAreRefusedAsSuch)
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

TEST(ServerFault, ResetMidBody)
{
    FixtureServer server;
    Reply reply = Reply::Ok(std::string(200000, 'x'));
    reply.Act = Reply::Action::ResetMidBody;
    server.AnswerAlways(reply);
    HttpClient client;
    EXPECT_EQ(FailureOf(client, "http://" + server.HostPort() + "/"),
              Ansi("Socket-Fehler # 10054\r\nVerbindung vom Server zurückgesetzt."));
}

TEST(ServerFault, EndlessBodyStopsAtTheSizeLimit)
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

TEST(ServerFault, ATricklingServerMeetsTheLimitOfTheWholeExchange)
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

TEST(ServerFault, TheLimitOfTheWholeExchangeGrowsWithTheReadTimeout)
{
    const std::pair<int32_t, int64_t> cases[] = {
        {0, 300'000},     {-1, 300'000},     {1, 30'000},          {3'000, 30'000},
        {10'000, 100'000}, {60'000, 300'000}, {600'000, 600'000}, {INT32_MAX, INT32_MAX},
    };
    for (const auto& [timeout, limit] : cases)
        EXPECT_EQ(HttpClient::ExchangeLimit(timeout), limit) << timeout;
}

TEST(ServerFault, ClosedDuringTheTlsHandshake)
{
    // Takes the client's hello and hangs up.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
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
    EXPECT_EQ(FailureOf(client, "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"),
              "Fehler beim Aufbau der TLS-Verbindung.");
    server.join();
    ::close(listener);
}

TEST(ServerFault, AProxyThatRefusesGivesItsStatusLine)
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
