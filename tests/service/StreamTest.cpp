// Streamed paths of the HTTP server: bodies of any size handed over in pieces, answers sent chunked, refusals from
// the head alone, and the deadline of a body that stalls, over raw sockets.

#include "service/Http.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace orvel::service {
namespace {

// Answers its body in capitals, after it has ended; counts the pieces it was handed.
class Capitals final : public BodyStream
{
public:
    explicit Capitals(std::atomic<size_t>& pieces) : Pieces(pieces) {}
    void Take(std::string_view piece) override
    {
        if (piece.find('!') != std::string_view::npos)
            throw std::runtime_error("a broken body");
        ++Pieces;
        for (const char c : piece)
            Text += char(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    HttpResponse Finish() override
    {
        if (Text.empty())
            return {400, "text/plain; charset=utf-8", "leer\n"};
        return {200, "text/plain; charset=utf-8"};
    }
    size_t Read(char* buffer, size_t size) override
    {
        const size_t n = std::min(size, Text.size() - At);
        std::memcpy(buffer, Text.data() + At, n);
        At += n;
        return n;
    }

private:
    std::atomic<size_t>& Pieces;
    std::string Text;
    size_t At = 0;
};

class StreamedPaths : public testing::Test
{
protected:
    StreamedPaths()
    {
        Routes.AddStream("/capitals",
                         [this](const HttpRequest& request) -> std::variant<HttpResponse, std::unique_ptr<BodyStream>> {
                             if (request.Header("X-Refuse"))
                                 return HttpResponse{415, "text/plain; charset=utf-8", "nein\n"};
                             return std::make_unique<Capitals>(Pieces);
                         });
        ServerLimits limits;
        limits.MaxBody = 4096;
        limits.TimeoutSeconds = 2;
        Server = std::make_unique<HttpServer>(Routes, OpenListener("127.0.0.1:0"), limits, nullptr, false);
    }

    // Sends the request and reads until the server closes or 20 s pass.
    std::string Exchange(const std::string& request, bool stall = false) const
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(Server->Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval wait{20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::string answer;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            for (size_t sent = 0; sent < request.size();) {
                const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += size_t(n);
            }
            if (!stall)
                shutdown(fd, SHUT_WR);
            char buffer[1 << 16];
            for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
                answer.append(buffer, size_t(n));
        }
        close(fd);
        return answer;
    }

    static std::string Post(const std::string& body, const std::string& headers = "")
    {
        return "POST /capitals HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    // The body of a chunked answer.
    static std::string Unchunked(std::string_view answer)
    {
        std::string body;
        size_t at = answer.find("\r\n\r\n") + 4;
        for (size_t size; at < answer.size() && (size = std::stoul(std::string(answer.substr(at)), nullptr, 16)) > 0;) {
            at = answer.find("\r\n", at) + 2;
            body.append(answer.substr(at, size));
            at += size + 2;
        }
        return body;
    }

    Router Routes;
    std::atomic<size_t> Pieces{0};
    std::unique_ptr<HttpServer> Server;
};

TEST_F(StreamedPaths, ABodyFarBeyondTheLimitComesInPiecesAndGoesBackChunked)
{
    std::string body;
    for (size_t i = 0; body.size() < (4u << 20); ++i)
        body += "row " + std::to_string(i) + " abc\n";
    const std::string answer = Exchange(Post(body));
    ASSERT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK") << answer.substr(0, 200);
    EXPECT_NE(answer.find("Transfer-Encoding: chunked"), std::string::npos);
    std::string capitals = body;
    std::transform(capitals.begin(), capitals.end(), capitals.begin(), [](char c) { return char(std::toupper(c)); });
    EXPECT_EQ(Unchunked(answer), capitals);
    EXPECT_GT(Pieces.load(), 16u) << "the body was handed over as it came, not whole";
}

TEST_F(StreamedPaths, RefusalsAndFailuresGetOneAnswer)
{
    struct Case
    {
        const char* Label;
        std::string Request;
        const char* Status;
    };
    const Case cases[] = {
        {"refused from the head, body unread", Post(std::string(100000, 'a'), "X-Refuse: 1\r\n"), "HTTP/1.1 415"},
        {"a stream that throws", Post("abc!def"), "HTTP/1.1 500"},
        {"refused after the body", Post(""), "HTTP/1.1 400"},
        {"other methods go to the plain handlers", "GET /capitals HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        EXPECT_EQ(Exchange(c.Request).substr(0, 12), c.Status);
    }
}

TEST_F(StreamedPaths, ABodyThatStallsGets408)
{
    const auto began = std::chrono::steady_clock::now();
    const std::string answer =
        Exchange("POST /capitals HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\nonly the start", true);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 408");
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(15));
}

} // namespace
} // namespace orvel::service
