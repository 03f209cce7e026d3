#pragma once
// The service's HTTP side: requests and answers as plain values, a router from paths to handlers, and the server
// on libmicrohttpd (internal thread pool with epoll, bounded memory and time per connection, HTTPS via GnuTLS).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::service {

class HttpRequest
{
public:
    virtual ~HttpRequest() = default;

    std::string_view Method;
    std::string_view Path; // without the query
    std::string_view Body;
    bool Loopback = false;   // the client connected from this machine
    std::string_view Client; // its address: "192.0.2.7", "2001:db8::7", "local" for a Unix socket

    // A query argument, decoded as sent (bytes, not text); nullopt when the key is missing.
    virtual std::optional<std::string_view> Query(const char* key) const = 0;
    // A header by its name in any letter case.
    virtual std::optional<std::string_view> Header(const char* name) const = 0;
};

struct HttpResponse
{
    HttpResponse(unsigned status = 200, const char* contentType = "text/plain; charset=utf-8", std::string body = {})
        : Status(status), ContentType(contentType), Body(std::move(body))
    {
    }

    unsigned Status = 200;
    const char* ContentType = "text/plain; charset=utf-8";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers; // beyond the content type
};

using Handler = std::function<HttpResponse(const HttpRequest&)>;

// The answer to a body over the limit in the path's own form (a SOAP fault, say); its status becomes 413.
using TooLargeAnswer = HttpResponse (*)();

class Router
{
public:
    void Add(std::string path, Handler handler, TooLargeAnswer tooLarge = nullptr);
    // The handler of the path, or nullptr.
    const Handler* Find(std::string_view path) const;
    // What a body too large for the path gets.
    HttpResponse TooLarge(std::string_view path) const;
    // POST bodies to this path (every path under it, when it ends in "/") must be XML; others get 415.
    void ExpectXml(std::string path);
    bool ExpectsXml(std::string_view path) const;

private:
    struct Route
    {
        std::string Path;
        Handler Serve;
        TooLargeAnswer TooLarge;
    };
    const Route* Lookup(std::string_view path) const;
    std::vector<Route> Routes;
    std::vector<std::string> XmlPaths;
};

struct ServerLimits
{
    static constexpr size_t kMaxQuery = 8u << 10; // longer queries get 414
    // More query arguments, or a longer target with a query, get 414 before the arguments are taken apart.
    static constexpr size_t kMaxArguments = 100;
    static constexpr size_t kMaxTarget = 16u << 10;
    unsigned Threads = 2;
    // An idle connection is closed after this, and so is one whose request head takes longer in all.
    unsigned TimeoutSeconds = 10;
    size_t MaxBody = 64u << 10; // larger bodies get 413; the requests served here are a few kB
    unsigned MaxConnections = 1000;
    // One address cannot take every connection and lock others out.
    unsigned MaxConnectionsPerAddress = 64;
};

struct TlsFiles
{
    std::string CertificatePem; // the server's certificate, then what it sends along
    std::string KeyPem;
};

// A bound, listening socket: "127.0.0.1:8590", "[::1]:8590", "localhost:0" (any free port). Throws
// std::runtime_error with the address and the system's message.
int OpenListener(const std::string& address);
uint16_t ListenerPort(int socket);
// Whether the socket is bound to an address other machines can reach.
bool ListensBeyondThisMachine(int socket);

class HttpServer
{
public:
    // Serves the router on the listening socket (taking it over); with tls the connections speak HTTPS.
    // log: one line per request on standard error. Throws std::runtime_error when the server cannot start.
    HttpServer(const Router& router, int socket, const ServerLimits& limits, const TlsFiles* tls, bool log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    uint16_t Port() const { return ListenPort; }

private:
    struct Daemon;
    std::unique_ptr<Daemon> Running;
    uint16_t ListenPort = 0;
};

} // namespace orvel::service
