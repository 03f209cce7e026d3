#pragma once
// The service's HTTP side: requests and answers as plain values, a router from paths to handlers, and the server
// on libmicrohttpd (internal thread pool with epoll, bounded memory and time per connection, HTTPS via GnuTLS).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
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
    bool Secure = false;     // over TLS
    std::string_view Client; // its address: "192.0.2.7", "2001:db8::7", "local" for a Unix socket
    std::string_view Route;  // the router's path that matched, "/api/v1/iban/{iban}" for one with a segment

    // The path's segment that stands where Route has "{name}"; nullopt when Route has none of that name.
    std::optional<std::string_view> Segment(std::string_view name) const;

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

// A path whose body is read as it arrives, of any size, and whose answer goes out in chunks: the body's pieces are
// handed over one by one within the same deadline and minimum rate as any body, then the answer is read piece by
// piece while the client takes it. libmicrohttpd sends no answer before the body has ended, so a stream keeps what
// it made until then (bounded in memory: see the batch).
class BodyStream
{
public:
    virtual ~BodyStream() = default;
    // The next piece of the body, as it came.
    virtual void Take(std::string_view piece) = 0;
    // The body has ended: the answer's status, type and headers, its body then given by Read; or, with a Body, the
    // whole answer (a refusal after all).
    virtual HttpResponse Finish() = 0;
    // Up to size bytes of the answer's body; 0 at its end.
    virtual size_t Read(char* buffer, size_t size) = 0;
};
// Given the request's head (Body empty): an answer at once, the body left unread, or the stream for the body.
using StreamHandler = std::function<std::variant<HttpResponse, std::unique_ptr<BodyStream>>(const HttpRequest&)>;

// An error of a JSON interface as a problem answer (application/problem+json, RFC 9457); type names the cause.
HttpResponse Problem(unsigned status, std::string_view title, std::string_view type);
HttpResponse Problem(unsigned status, std::string_view title); // type "about:blank"
// The problem answer of a JSON interface for a status, with the server's own text for it.
using ProblemAnswer = HttpResponse (*)(unsigned status, std::string_view text);

// The answer to a body over the limit in the path's own form (a SOAP fault, say); its status becomes 413.
using TooLargeAnswer = HttpResponse (*)();

class Router
{
public:
    // A segment of the path written "{name}" stands for any one segment that is not empty; a path without one wins
    // over those with.
    void Add(std::string path, Handler handler, TooLargeAnswer tooLarge = nullptr);
    // The handler of the path, or nullptr; route: the path it was added under.
    const Handler* Find(std::string_view path, std::string_view* route = nullptr) const;
    // The path's handler may wait long (on another service, another program): it runs on a thread of its own while
    // its connection waits, so that the server's threads go on serving the other connections.
    void MarkSlow(std::string path);
    bool IsSlow(std::string_view path) const;
    // POST bodies to this path are streamed (no body limit); other methods go to the handlers added with Add.
    void AddStream(std::string path, StreamHandler open);
    const StreamHandler* FindStream(std::string_view path) const;
    // What a body too large for the path gets.
    HttpResponse TooLarge(std::string_view path) const;
    // POST bodies to this path (every path under it, when it ends in "/") must be XML; others get 415. A body with
    // an element crowded past kMaxAttributes gets crowded() before any XML parser sees it.
    void ExpectXml(std::string path, TooLargeAnswer crowded);
    bool ExpectsXml(std::string_view path) const;
    // crowded() of the path, when the body is XML for it and too crowded to parse.
    std::optional<HttpResponse> RefuseXml(std::string_view path, std::string_view body) const;
    // This path (every path under it, when it ends in "/") speaks JSON: the server's own errors there, which are
    // text elsewhere, become problem answers, made by problem.
    void ExpectJson(std::string path, ProblemAnswer problem = Problem);
    bool ExpectsJson(std::string_view path) const;
    // The server's text error in the path's JSON form; the answer as it is for other paths.
    HttpResponse AsJson(std::string_view path, HttpResponse answer) const;

private:
    struct Route
    {
        std::string Path;
        Handler Serve;
        TooLargeAnswer TooLarge;
    };
    const Route* Lookup(std::string_view path) const;
    struct XmlPath
    {
        std::string Path;
        TooLargeAnswer Crowded;
    };
    const XmlPath* LookupXml(std::string_view path) const;
    std::vector<Route> Routes;
    std::vector<std::string> SlowPaths; // every path under one that ends in "/"
    std::vector<std::pair<std::string, StreamHandler>> Streams;
    std::vector<XmlPath> XmlPaths;
    struct JsonPath
    {
        std::string Path;
        ProblemAnswer Problem;
    };
    const JsonPath* LookupJson(std::string_view path) const;
    std::vector<JsonPath> JsonPaths;
};

// libxml2 takes time quadratic in the attributes of one element: bodies where one element carries more than this
// (namespace declarations included) are refused before they are parsed.
constexpr size_t kMaxAttributes = 32;
bool HasCrowdedElement(std::string_view xml);

// The block a client address counts in: IPv4 by its first v4Bits, IPv6 by its first v6Bits, as "prefix/bits";
// the whole address when it is all of it (or not an address at all, as "local").
std::string AddressBlock(std::string_view address, int v4Bits, int v6Bits);
// One client for the limits on connections and failed logins: an IPv4 address, or the /64 of an IPv6 address, as
// one host usually holds the whole of it.
inline std::string ClientBlock(std::string_view address)
{
    return AddressBlock(address, 32, 64);
}

struct ServerLimits
{
    static constexpr size_t kMaxQuery = 8u << 10; // longer queries get 414
    // More query arguments, or a longer target with a query, get 414 before the arguments are taken apart.
    static constexpr size_t kMaxArguments = 100;
    static constexpr size_t kMaxTarget = 16u << 10;
    unsigned Threads = 2;
    // An idle connection is closed after this, and so is a request not complete this long after it began, unless
    // its body keeps coming at kMinBodyRate or more; such a request gets 408 where one can still be sent.
    unsigned TimeoutSeconds = 10;
    static constexpr size_t kMinBodyRate = 1024; // bytes per second, from the body's first second on
    size_t MaxBody = 64u << 10; // larger bodies get 413 (streamed paths excepted); the requests here are a few kB
    unsigned MaxConnections = 1000;
    // One client (ClientBlock) cannot take every connection and lock others out. Near either limit the slowest
    // requests incomplete for over a second make room for new connections.
    unsigned MaxConnectionsPerAddress = 64;
    // Requests waiting for slow work (SlowWork: a password to verify); more get 503 with Retry-After.
    size_t MaxDeferred = 64;
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
