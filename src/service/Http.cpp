#include "service/Http.h"

#include "platform/Codepage.h"
#include "service/Messages.h"
#include "service/SlowWork.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <strings.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace orvel::service {

void Router::Add(std::string path, Handler handler, TooLargeAnswer tooLarge)
{
    Routes.push_back({std::move(path), std::move(handler), tooLarge});
}

namespace {

// Whether path has the pattern's segments, "{…}" standing for any one that is not empty.
bool Matches(std::string_view pattern, std::string_view path)
{
    while (!pattern.empty() && !path.empty()) {
        const size_t patternEnd = std::min(pattern.find('/', 1), pattern.size());
        const size_t pathEnd = std::min(path.find('/', 1), path.size());
        const std::string_view wanted = pattern.substr(0, patternEnd), given = path.substr(0, pathEnd);
        const bool any = wanted.size() > 3 && wanted.substr(0, 2) == "/{" && wanted.back() == '}';
        if (any ? given.size() < 2 : wanted != given)
            return false;
        pattern.remove_prefix(patternEnd);
        path.remove_prefix(pathEnd);
    }
    return pattern.empty() && path.empty();
}

} // namespace

std::optional<std::string_view> HttpRequest::Segment(std::string_view name) const
{
    std::string_view pattern = Route, path = Path;
    while (!pattern.empty() && !path.empty()) {
        const size_t patternEnd = std::min(pattern.find('/', 1), pattern.size());
        const size_t pathEnd = std::min(path.find('/', 1), path.size());
        const std::string_view wanted = pattern.substr(0, patternEnd);
        if (wanted.size() == name.size() + 3 && wanted.substr(2, name.size()) == name && wanted.substr(0, 2) == "/{")
            return path.substr(1, pathEnd - 1);
        pattern.remove_prefix(patternEnd);
        path.remove_prefix(pathEnd);
    }
    return std::nullopt;
}

const Router::Route* Router::Lookup(std::string_view path) const
{
    for (const Route& route : Routes)
        if (route.Path == path)
            return &route;
    for (const Route& route : Routes)
        if (route.Path.find('{') != std::string::npos && Matches(route.Path, path))
            return &route;
    return nullptr;
}

const Handler* Router::Find(std::string_view path, std::string_view* route) const
{
    const Route* found = Lookup(path);
    if (found && route)
        *route = found->Path;
    return found ? &found->Serve : nullptr;
}

void Router::MarkSlow(std::string path)
{
    SlowPaths.push_back(std::move(path));
}

bool Router::IsSlow(std::string_view path) const
{
    return std::any_of(SlowPaths.begin(), SlowPaths.end(), [path](const std::string& slow) {
        return slow.back() == '/' ? path.starts_with(slow) : path == slow;
    });
}

void Router::AddStream(std::string path, StreamHandler open)
{
    Streams.emplace_back(std::move(path), std::move(open));
}

const StreamHandler* Router::FindStream(std::string_view path) const
{
    for (const auto& [streamed, open] : Streams)
        if (streamed == path)
            return &open;
    return nullptr;
}

HttpResponse Router::TooLarge(std::string_view path) const
{
    const Route* route = Lookup(path);
    HttpResponse answer = route && route->TooLarge
                              ? route->TooLarge()
                              : HttpResponse{413, "text/plain; charset=utf-8", "Anfrage zu gro\xc3\x9f\n"};
    answer.Status = 413;
    return answer;
}

void Router::ExpectXml(std::string path, TooLargeAnswer crowded)
{
    XmlPaths.push_back({std::move(path), crowded});
}

namespace {

// The entry of the path: its own, or one ending in "/" that the path lies under.
template <class Entry> const Entry* Covering(const std::vector<Entry>& entries, std::string_view path)
{
    for (const Entry& entry : entries)
        if (entry.Path.back() == '/' ? path.substr(0, entry.Path.size()) == entry.Path : path == entry.Path)
            return &entry;
    return nullptr;
}

} // namespace

const Router::XmlPath* Router::LookupXml(std::string_view path) const
{
    return Covering(XmlPaths, path);
}

bool Router::ExpectsXml(std::string_view path) const
{
    return LookupXml(path) != nullptr;
}

std::optional<HttpResponse> Router::RefuseXml(std::string_view path, std::string_view body) const
{
    const XmlPath* xml = LookupXml(path);
    if (!xml || !HasCrowdedElement(body))
        return std::nullopt;
    return xml->Crowded();
}

void Router::ExpectJson(std::string path, ProblemAnswer problem)
{
    JsonPaths.push_back({std::move(path), problem});
}

const Router::JsonPath* Router::LookupJson(std::string_view path) const
{
    return Covering(JsonPaths, path);
}

bool Router::ExpectsJson(std::string_view path) const
{
    return LookupJson(path) != nullptr;
}

HttpResponse Router::AsJson(std::string_view path, HttpResponse answer) const
{
    const JsonPath* json = LookupJson(path);
    if (!json || answer.Status < 400 || std::string_view(answer.ContentType).rfind("text/plain", 0) != 0)
        return answer;
    std::string_view text = answer.Body;
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    HttpResponse problem = json->Problem(answer.Status, text);
    for (auto& header : answer.Headers)
        problem.Headers.push_back(std::move(header));
    return problem;
}

HttpResponse Problem(unsigned status, std::string_view title)
{
    return Problem(status, title, "about:blank");
}

HttpResponse Problem(unsigned status, std::string_view title, std::string_view type)
{
    const nlohmann::json problem = {{"type", type}, {"title", title}, {"status", status}};
    return {status, "application/problem+json; charset=utf-8",
            problem.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

bool HasCrowdedElement(std::string_view xml)
{
    bool inTag = false;
    char quote = 0;
    size_t attributes = 0;
    for (const char c : xml) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (!inTag) {
            inTag = c == '<';
            attributes = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            inTag = false;
        } else if (c == '=' && ++attributes > kMaxAttributes) {
            return true;
        }
    }
    return false;
}

std::string AddressBlock(std::string_view address, int v4Bits, int v6Bits)
{
    const std::string text(address);
    unsigned char bytes[sizeof(in6_addr)] = {};
    int family = AF_INET, bits = v4Bits, size = 4;
    if (inet_pton(AF_INET, text.c_str(), bytes) != 1) {
        if (inet_pton(AF_INET6, text.c_str(), bytes) != 1)
            return text;
        family = AF_INET6;
        bits = v6Bits;
        size = 16;
    }
    if (bits >= size * 8)
        return text;
    for (int at = 0; at < size; ++at)
        if (at * 8 >= bits)
            bytes[at] = 0;
        else if (at * 8 + 8 > bits)
            bytes[at] &= static_cast<unsigned char>(0xFF00 >> (bits - at * 8));
    char prefix[INET6_ADDRSTRLEN] = "";
    inet_ntop(family, bytes, prefix, sizeof prefix);
    return std::string(prefix) + "/" + std::to_string(bits);
}

int OpenListener(const std::string& address)
{
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 == address.size())
        throw std::runtime_error(Say("listen address without a port: {}", {address}));
    std::string host = address.substr(0, colon);
    const std::string port = address.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found))
        throw std::runtime_error(Say("listen address {}: {}", {address, gai_strerror(error)}));
    std::string failure = "no address";
    for (const addrinfo* candidate = found; candidate; candidate = candidate->ai_next) {
        const int fd = socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (candidate->ai_family == AF_INET6)
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        if (bind(fd, candidate->ai_addr, candidate->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
            freeaddrinfo(found);
            return fd;
        }
        failure = std::strerror(errno);
        close(fd);
    }
    freeaddrinfo(found);
    throw std::runtime_error(Say("cannot listen on {}: {}", {address, failure}));
}

uint16_t ListenerPort(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

namespace {

using Clock = std::chrono::steady_clock;

// What a request with a body keeps between the calls libmicrohttpd makes for it.
struct Pending
{
    std::string Body;
    size_t Expected = 0; // the announced length, or the body limit
    size_t Received = 0;
    Clock::time_point Start = Clock::now();
    std::unique_ptr<BodyStream> Stream; // a streamed path's body goes here instead of into Body
    bool StreamFailed = false;          // it threw: the rest of the body is read and dropped, the answer is 500
    // A request run again on the slow work's thread: what its request names. Its answer, or a slow path's, made on
    // another thread while the connection waited.
    std::string Client;
    std::optional<HttpResponse> Answer;
};

// One open connection, for the deadline of its requests and the limits on connections.
struct Link
{
    enum Phase { kReading, kWaiting, kServing, kShut }; // kWaiting: a slow path's handler runs
    int Fd = -1;
    std::string Client; // ClientBlock of its address
    // kReading until the request is complete; the sweeper shuts only a reading link, the last call serves only one
    // not shut, so a 408 never meets an answer on the wire.
    std::atomic<int> State{kReading};
    // When the request now being read began, and how much of its body came since when (steady clock ticks).
    std::atomic<Clock::rep> Since{Clock::now().time_since_epoch().count()};
    std::atomic<Clock::rep> BodySince{0};
    std::atomic<size_t> BodyBytes{0};
    // Its request line has come: a connection idle between requests is closed without a 408.
    std::atomic<bool> Begun{false};

    // Bytes of body per second since the request began: how the slowest requests are told.
    double Rate(Clock::rep now) const
    {
        const double seconds = std::chrono::duration<double>(Clock::duration(now - Since)).count();
        return seconds > 0 ? double(BodyBytes) / seconds : 0;
    }
    bool Overdue(Clock::rep now, Clock::duration timeout) const
    {
        if (now - Since <= timeout.count())
            return false;
        // Past the deadline only a body that keeps coming at the minimum rate goes on, judged after its first second.
        const Clock::rep bodySince = BodySince;
        if (bodySince == 0)
            return true;
        if (now - bodySince < std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)).count())
            return false;
        const double seconds = std::chrono::duration<double>(Clock::duration(now - bodySince)).count();
        return double(BodyBytes) / seconds < double(ServerLimits::kMinBodyRate);
    }
};

constexpr size_t kMaxDiscarded = 8u << 20;
// TLS 1.2 and 1.3 only, ephemeral key exchange and AEAD ciphers only, in our order rather than the client's.
constexpr char kTlsPriorities[] = "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-RSA:-DHE-RSA:-CIPHER-ALL:"
                                  "+AES-256-GCM:+CHACHA20-POLY1305:+AES-128-GCM:-MAC-ALL:+AEAD:%SERVER_PRECEDENCE";
// How the library begins its messages for a connection refused at its limit and for those ended mid-request.
constexpr char kLimitReached[] = "Server reached connection limit";
constexpr char kCutShort[] = "Connection was closed by remote side with incomplete request";
constexpr char kClosedReading[] = "Connection socket is closed when reading request";
// Memory is given back to the system once this many connections have closed since the most there were.
constexpr size_t kTrimAfterClosed = 64;

// The context of a request without a body: nothing to keep, nothing to allocate.
char kHeadOnly;
// What the look at the raw request target leaves for the first call of a request.
char kFreshRequest;
char kOversizedQuery;
char kBrokenTarget;

bool IsMarker(const void* context)
{
    return context == &kHeadOnly || context == &kFreshRequest || context == &kOversizedQuery ||
           context == &kBrokenTarget;
}

Link* LinkOf(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Link*>(info->socket_context) : nullptr;
}

void* InspectTarget(void*, const char* uri, MHD_Connection* connection)
{
    if (Link* link = LinkOf(connection))
        link->Begun = true;
    if (!uri)
        return &kFreshRequest;
    const std::string_view target(uri);
    const size_t question = target.find('?');
    void* verdict = &kFreshRequest;
    if (target.find_first_of(" \t") != std::string_view::npos)
        verdict = &kBrokenTarget;
    else if (question != std::string_view::npos &&
             (target.size() > ServerLimits::kMaxTarget ||
              size_t(std::count(target.begin() + question, target.end(), '&')) >= ServerLimits::kMaxArguments))
        verdict = &kOversizedQuery;
    // The library takes the arguments apart right after this call, into the connection's fixed memory; too many
    // would exhaust it and leave the client without an answer. Ending the query here keeps them out.
    if (verdict != &kFreshRequest && question != std::string_view::npos)
        const_cast<char*>(uri)[question + 1] = '\0';
    return verdict;
}

class MhdRequest final : public HttpRequest
{
public:
    explicit MhdRequest(MHD_Connection* connection) : Connection(connection) {}

    std::optional<std::string_view> Query(const char* key) const override { return Lookup(MHD_GET_ARGUMENT_KIND, key); }
    std::optional<std::string_view> Header(const char* name) const override { return Lookup(MHD_HEADER_KIND, name); }

private:
    std::optional<std::string_view> Lookup(MHD_ValueKind kind, const char* key) const
    {
        const char* value = nullptr;
        size_t size = 0;
        if (MHD_lookup_connection_value_n(Connection, kind, key, std::strlen(key), &value, &size) != MHD_YES)
            return std::nullopt;
        return std::string_view(value ? value : "", value ? size : 0);
    }

    MHD_Connection* Connection;
};

bool IsLoopbackAddress(const sockaddr* address)
{
    if (address->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    if (address->sa_family == AF_INET6) {
        const in6_addr& ip = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&ip))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&ip) && ip.s6_addr[12] == 127;
    }
    return address->sa_family == AF_UNIX;
}

bool IsLoopback(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return info && info->client_addr && IsLoopbackAddress(info->client_addr);
}

// The client's address as text; an IPv4 client on an IPv6 socket as IPv4, so that it counts as one client.
std::string ClientAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return "unknown";
    const sockaddr* address = info->client_addr;
    char text[INET6_ADDRSTRLEN] = "";
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const in6_addr& ip = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&ip))
            inet_ntop(AF_INET, ip.s6_addr + 12, text, sizeof text);
        else
            inet_ntop(AF_INET6, &ip, text, sizeof text);
    } else {
        return "local";
    }
    return text;
}

// The sum of the query's keys and values: what a client made us parse.
size_t QueryLength(MHD_Connection* connection)
{
    size_t length = 0;
    MHD_get_connection_values_n(
        connection, MHD_GET_ARGUMENT_KIND,
        [](void* total, MHD_ValueKind, const char*, size_t keySize, const char*, size_t valueSize) -> MHD_Result {
            *static_cast<size_t*>(total) += keySize + valueSize + 2;
            return MHD_YES;
        },
        &length);
    return length;
}

// How the head says the body is framed: every Content-Length and Transfer-Encoding it carries.
struct Framing
{
    size_t Lengths = 0;
    bool LengthsDiffer = false;
    std::string_view Length;
    size_t Codings = 0;
    std::string_view Coding;
    // A name with a blank in it: the line had whitespace before its colon, and a header it names would go unseen.
    // The library joins a folded line to the name before it ("Transfer-Encoding:\r\n chunked" arrives as
    // "Transfer-Encodingchunked"): a framing header's name with more after it is one folded.
    bool MangledName = false;
};

Framing ReadFraming(MHD_Connection* connection)
{
    Framing framing;
    MHD_get_connection_values_n(
        connection, MHD_HEADER_KIND,
        [](void* context, MHD_ValueKind, const char* key, size_t keySize, const char* value,
           size_t valueSize) -> MHD_Result {
            auto& seen = *static_cast<Framing*>(context);
            const std::string_view name(key, keySize);
            const std::string_view text(value ? value : "", value ? valueSize : 0);
            const auto is = [&name](std::string_view header) {
                return name.size() == header.size() && strncasecmp(name.data(), header.data(), name.size()) == 0;
            };
            const auto extends = [&name](std::string_view header) {
                return name.size() > header.size() && strncasecmp(name.data(), header.data(), header.size()) == 0;
            };
            seen.MangledName = seen.MangledName || name.find_first_of(" \t") != std::string_view::npos ||
                               extends(MHD_HTTP_HEADER_CONTENT_LENGTH) || extends(MHD_HTTP_HEADER_TRANSFER_ENCODING);
            if (is(MHD_HTTP_HEADER_CONTENT_LENGTH)) {
                seen.LengthsDiffer = seen.LengthsDiffer || (seen.Lengths && text != seen.Length);
                seen.Length = text;
                ++seen.Lengths;
            } else if (is(MHD_HTTP_HEADER_TRANSFER_ENCODING)) {
                seen.Coding = text;
                ++seen.Codings;
            }
            return MHD_YES;
        },
        &framing);
    return framing;
}

bool SameLetters(std::string_view text, std::string_view lower)
{
    return text.size() == lower.size() && strncasecmp(text.data(), lower.data(), text.size()) == 0;
}

// text/xml, application/xml and every "+xml" type, with or without parameters.
bool IsXmlType(std::string_view type)
{
    type = type.substr(0, type.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.remove_suffix(1);
    return SameLetters(type, "text/xml") || SameLetters(type, "application/xml") ||
           (type.size() > 4 && SameLetters(type.substr(type.size() - 4), "+xml"));
}

// Text for a log line: control characters, the backslash and bytes that are not UTF-8 as escapes.
std::string LogEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8CharLength(text, at);
        // C1 controls (U+0080 to U+009F) drive terminals as their 8-bit forms do: escaped byte by byte.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
        if ((length > 1 && !c1) || (length == 1 && c >= 0x20 && c != 0x7F && c != '\\')) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            constexpr char kHex[] = "0123456789abcdef";
            out.append("\\x").append(1, kHex[c >> 4]).append(1, kHex[c & 0xF]);
        }
        ++at;
    }
    return out;
}

// The library's own messages name the request's path as it was decoded.
void LogLibraryMessage(const char* format, va_list arguments)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::string_view message(text);
    if (!message.empty() && message.back() == '\n')
        message.remove_suffix(1);
    std::fprintf(stderr, "%s\n", LogEscaped(message).c_str());
}

// The request as a log line shows it: the path and the query, with the password's value left out, and every
// byte that could forge or colour a line written as an escape.
std::string LoggedTarget(MHD_Connection* connection, const char* url)
{
    std::string target = LogEscaped(url);
    char separator = '?';
    std::pair<std::string*, char*> line{&target, &separator};
    MHD_get_connection_values_n(
        connection, MHD_GET_ARGUMENT_KIND,
        [](void* context, MHD_ValueKind, const char* key, size_t keySize, const char* value,
           size_t valueSize) -> MHD_Result {
            auto* parts = static_cast<std::pair<std::string*, char*>*>(context);
            const std::string_view name(key, keySize);
            parts->first->append(1, *parts->second).append(LogEscaped(name));
            *parts->second = '&';
            // Passwords and card numbers never reach the log.
            if (name == "pw" || name == "PW" || name == "cc" || name == "number")
                parts->first->append("=*");
            else if (value)
                parts->first->append("=").append(LogEscaped(std::string_view(value, valueSize)));
            return MHD_YES;
        },
        &line);
    return target;
}

} // namespace

bool ListensBeyondThisMachine(int socket)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return true;
    return !IsLoopbackAddress(reinterpret_cast<const sockaddr*>(&address));
}

struct HttpServer::Daemon
{
    const Router& Routes;
    ServerLimits Limits;
    bool Log = false;
    TlsFiles Tls;
    MHD_Daemon* Handle = nullptr;

    // The open connections and how many each client holds; the sweeper ends requests that are overdue.
    std::mutex LinksLock;
    std::unordered_set<Link*> Links;
    std::unordered_map<std::string, size_t> PerClient;
    // Connections refused at a limit since the last report, ours and the library's, and those that ended with a
    // request incomplete (closed by the client or by the sweeper).
    std::atomic<size_t> Refused{0};
    std::atomic<size_t> CutShort{0};
    size_t MostLinks = 0; // since memory was last given back
    // Slow paths' handlers running; the server stops only after the last has resumed its connection.
    static constexpr size_t kMaxWaiting = 64;
    mutable std::mutex WaitingLock;
    mutable std::condition_variable WaitingDone;
    mutable size_t Waiting = 0;
    std::condition_variable Wake; // a first connection or the end
    bool Stopped = false;
    std::thread Sweeper;
    // Where the requests go whose logins need a password verified.
    mutable SlowWork Slow;

    Daemon(const Router& router, const ServerLimits& limits) : Routes(router), Limits(limits), Slow(limits.MaxDeferred)
    {
    }

    MHD_Result Send(MHD_Connection* connection, HttpResponse answer, const char* method, const char* url,
                    Clock::time_point start, std::unique_ptr<BodyStream> stream = nullptr) const
    {
        // The server's own text errors, on a JSON interface in its form.
        answer = Routes.AsJson(url, std::move(answer));
        // A request the sweeper has shut gets no answer of ours: it may have had its 408 already. One deferred to the
        // slow work is being served since, and a slow path's has been waiting for its handler.
        int reading = Link::kReading, waiting = Link::kWaiting;
        if (Link* link = LinkOf(connection); link && !link->State.compare_exchange_strong(reading, Link::kServing) &&
                                             reading != Link::kServing &&
                                             !link->State.compare_exchange_strong(waiting, Link::kServing))
            return MHD_NO;
        MHD_Response* response =
            stream ? StreamResponse(std::move(stream))
                   : MHD_create_response_from_buffer(answer.Body.size(), const_cast<char*>(answer.Body.data()),
                                                     MHD_RESPMEM_MUST_COPY);
        if (!response)
            return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.ContentType);
        for (const auto& [name, value] : answer.Headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, answer.Status, response);
        MHD_destroy_response(response);
        if (Log) {
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            std::fprintf(stderr, "%s %s %u %lldus\n", LogEscaped(method).c_str(), LoggedTarget(connection, url).c_str(),
                         answer.Status, static_cast<long long>(micros));
        }
        return queued;
    }

    // An answer of unknown length, sent chunked as the stream gives it; the response owns the stream.
    static MHD_Response* StreamResponse(std::unique_ptr<BodyStream> stream)
    {
        const auto read = [](void* cls, uint64_t, char* buffer, size_t size) -> ssize_t {
            try {
                const size_t given = static_cast<BodyStream*>(cls)->Read(buffer, size);
                return given ? ssize_t(given) : MHD_CONTENT_READER_END_OF_STREAM;
            } catch (const std::exception& error) {
                std::fprintf(stderr, "streamed answer: %s\n", LogEscaped(error.what()).c_str());
                return MHD_CONTENT_READER_END_WITH_ERROR;
            }
        };
        const auto free = [](void* cls) { delete static_cast<BodyStream*>(cls); };
        MHD_ContentReaderCallback reader = read;
        MHD_ContentReaderFreeCallback freer = free;
        MHD_Response* response =
            MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64u << 10, reader, stream.get(), freer);
        if (response)
            stream.release();
        return response;
    }

    static HttpResponse Plain(unsigned status, const char* text) { return {status, "text/plain; charset=utf-8", text}; }
    // The library ends the connection after an answer that says so.
    static HttpResponse Ending(HttpResponse answer)
    {
        answer.Headers.emplace_back(MHD_HTTP_HEADER_CONNECTION, "close");
        return answer;
    }
    static HttpResponse Closing(unsigned status, const char* text) { return Ending(Plain(status, text)); }

    // What the whole head already tells: a request that cannot be framed or served is refused before a byte of its
    // body is read, and its connection ends, so that nothing left of it can pass for a request of its own.
    std::optional<HttpResponse> Refusal(MHD_Connection* connection, const char* url, const char* method,
                                        const char* version, const void* verdict) const
    {
        if (verdict == &kOversizedQuery)
            return Closing(414, "Anfrage zu lang\n");
        if (verdict == &kBrokenTarget)
            return Closing(400, "Fehlerhafte Anfrage\n");
        if (std::strcmp(version, MHD_HTTP_VERSION_1_0) != 0 &&
            !MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST))
            return Closing(400, "Fehlerhafte Anfrage: Host fehlt\n");
        const Framing framing = ReadFraming(connection);
        if (framing.MangledName)
            return Closing(400, "Fehlerhafte Anfrage: Leerraum vor dem Doppelpunkt oder gefaltete Kopfzeile\n");
        if (framing.Codings > 1 || (framing.Codings && framing.Lengths) || framing.LengthsDiffer)
            return Closing(400, "Fehlerhafte Anfrage: L\xc3\xa4nge des Inhalts mehrdeutig\n");
        if (framing.Codings && !SameLetters(framing.Coding, "chunked"))
            return Closing(501, "\xc3\x9c"
                                "bertragungskodierung nicht unterst\xc3\xbctzt\n");
        const bool post = std::strcmp(method, MHD_HTTP_METHOD_POST) == 0;
        if (!post && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
            HttpResponse refusal = Closing(405, "Methode nicht erlaubt\n");
            refusal.Headers.emplace_back(MHD_HTTP_HEADER_ALLOW, "GET, HEAD, POST");
            return refusal;
        }
        if (post && Routes.ExpectsXml(url)) {
            const char* type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
            if (!type || !IsXmlType(type))
                return Closing(415, "Nur XML (Content-Type: text/xml)\n");
        }
        if (framing.Lengths && std::strtoull(std::string(framing.Length).c_str(), nullptr, 10) > Limits.MaxBody &&
            !(post && Routes.FindStream(url)))
            return Ending(Routes.TooLarge(url));
        return std::nullopt;
    }

    // The request's head as a handler sees it, request.Client viewing client.
    void Describe(MhdRequest& request, MHD_Connection* connection, const char* method, const char* url,
                  const std::string& client) const
    {
        request.Method = method;
        request.Path = url;
        request.Loopback = IsLoopback(connection);
        request.Secure = !Tls.KeyPem.empty();
        request.Client = client;
    }

    MHD_Result Serve(MHD_Connection* connection, const char* url, const char* method, const char* version,
                     const char* upload, size_t* uploadSize, void** context) const
    {
        if (!*context || (IsMarker(*context) && *context != &kHeadOnly)) {
            // The first call: the head is complete.
            if (const auto refusal = Refusal(connection, url, method, version, *context))
                return Send(connection, *refusal, method, url, Clock::now());
            // An answer queued now would end the kept-alive connection: it waits for the last call.
            if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0) {
                *context = &kHeadOnly;
                return MHD_YES;
            }
            std::unique_ptr<BodyStream> stream;
            if (const StreamHandler* open = Routes.FindStream(url)) {
                // The head alone decides whether the body is read at all: a login, say, is checked first.
                MhdRequest request(connection);
                const std::string client = ClientAddress(connection);
                Describe(request, connection, method, url, client);
                try {
                    auto opened = (*open)(request);
                    if (auto* refusal = std::get_if<HttpResponse>(&opened))
                        return Send(connection, Ending(std::move(*refusal)), method, url, Clock::now());
                    stream = std::move(std::get<std::unique_ptr<BodyStream>>(opened));
                } catch (const std::exception& error) {
                    std::fprintf(stderr, "%s %s: %s\n", LogEscaped(method).c_str(), LogEscaped(url).c_str(),
                                 LogEscaped(error.what()).c_str());
                    return Send(connection, Closing(500, "Interner Fehler\n"), method, url, Clock::now());
                }
            }
            auto* pending = new Pending();
            pending->Stream = std::move(stream);
            if (Link* link = LinkOf(connection))
                link->BodySince = Clock::now().time_since_epoch().count();
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            pending->Expected = length ? std::strtoull(length, nullptr, 10) : Limits.MaxBody;
            *context = pending;
            return MHD_YES;
        }
        Pending* pending = *context == &kHeadOnly ? nullptr : static_cast<Pending*>(*context);
        const Clock::time_point start = pending ? pending->Start : Clock::now();
        // Resumed after the slow work or a slow path's handler made the answer.
        if (pending && pending->Answer)
            return Send(connection, std::move(*pending->Answer), method, url, start);
        if (*uploadSize) {
            const size_t size = *uploadSize;
            *uploadSize = 0;
            if (!pending) // a body on a GET: not read
                return MHD_YES;
            if (pending->Stream) {
                if (Link* link = LinkOf(connection))
                    link->BodyBytes += size;
                if (!pending->StreamFailed)
                    try {
                        pending->Stream->Take(std::string_view(upload, size));
                    } catch (const std::exception& error) {
                        std::fprintf(stderr, "%s %s: %s\n", LogEscaped(method).c_str(), LogEscaped(url).c_str(),
                                     LogEscaped(error.what()).c_str());
                        pending->StreamFailed = true;
                    }
                return MHD_YES;
            }
            // A body grown too large is read to its end and dropped, so that the client gets to read the 413 (an
            // answer now would meet a reset connection); past kMaxDiscarded it is answered at once.
            pending->Received += size;
            if (Link* link = LinkOf(connection))
                link->BodyBytes += size;
            if (pending->Received <= Limits.MaxBody) {
                // Grown in steps, but never beyond what is announced: a held body takes no more than its size.
                std::string& body = pending->Body;
                if (body.capacity() < body.size() + size)
                    body.reserve(std::max(std::min(body.capacity() * 2, pending->Expected), body.size() + size));
                body.append(upload, size);
            } else if (pending->Received > kMaxDiscarded)
                return Send(connection, Ending(Routes.TooLarge(url)), method, url, start);
            return MHD_YES;
        }
        if (pending && pending->Stream) {
            if (pending->StreamFailed)
                return Send(connection, Plain(500, "Interner Fehler\n"), method, url, start);
            try {
                HttpResponse head = pending->Stream->Finish();
                if (!head.Body.empty()) // a refusal after all
                    return Send(connection, std::move(head), method, url, start);
                return Send(connection, std::move(head), method, url, start, std::move(pending->Stream));
            } catch (const std::exception& error) {
                std::fprintf(stderr, "%s %s: %s\n", LogEscaped(method).c_str(), LogEscaped(url).c_str(),
                             LogEscaped(error.what()).c_str());
                return Send(connection, Plain(500, "Interner Fehler\n"), method, url, start);
            }
        }
        if (pending && pending->Received > Limits.MaxBody)
            return Send(connection, Routes.TooLarge(url), method, url, start);
        if (QueryLength(connection) > ServerLimits::kMaxQuery)
            return Send(connection, Plain(414, "Anfrage zu lang\n"), method, url, start);

        std::string_view route;
        const Handler* handler = Routes.Find(url, &route);
        if (!handler)
            return Send(connection, Plain(404, "Nicht gefunden\n"), method, url, start);
        if (Routes.IsSlow(url))
            return Wait(connection, *handler, method, url, route,
                        pending ? pending : static_cast<Pending*>(*context = new Pending()));
        MhdRequest request(connection);
        const std::string client = ClientAddress(connection);
        Describe(request, connection, method, url, client);
        request.Route = route;
        if (pending)
            request.Body = pending->Body;
        if (const auto crowded = Routes.RefuseXml(url, request.Body); pending && crowded)
            return Send(connection, *crowded, method, url, start);
        HttpResponse answer;
        try {
            const NetworkThread marked;
            answer = Answer(*handler, request);
        } catch (const Deferred&) {
            if (!pending)
                *context = pending = new Pending();
            pending->Start = start;
            return Defer(connection, *handler, request, *pending);
        }
        return Send(connection, std::move(answer), method, url, start);
    }

    // The handler's answer; 500 for an error it did not expect.
    static HttpResponse Answer(const Handler& handler, const HttpRequest& request)
    {
        try {
            return handler(request);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s %s: %s\n", LogEscaped(request.Method).c_str(), LogEscaped(request.Path).c_str(),
                         LogEscaped(error.what()).c_str());
            return Plain(500, "Interner Fehler\n");
        }
    }

    // Runs the request again on the slow work's thread while its connection is suspended, which keeps its head, its
    // body (in pending) and the request's texts where they are, untouched by the network thread; the connection is
    // resumed with the answer, for the call that sends it. No room in the queue: 503.
    MHD_Result Defer(MHD_Connection* connection, const Handler& handler, const MhdRequest& request,
                     Pending& pending) const
    {
        // Complete now: neither a request too slow nor the slowest when connections run short.
        if (Link* link = LinkOf(connection)) {
            int reading = Link::kReading;
            if (!link->State.compare_exchange_strong(reading, Link::kServing))
                return MHD_NO;
        }
        pending.Client = request.Client;
        MhdRequest held = request;
        held.Client = pending.Client;
        held.Body = pending.Body;
        const bool queued = Slow.Post(
            [connection, &handler, held, &pending](bool run) {
                pending.Answer = run ? Answer(handler, held) : Busy();
                MHD_resume_connection(connection);
            },
            [connection] { MHD_suspend_connection(connection); });
        if (!queued)
            return Send(connection, Busy(), held.Method.data(), held.Path.data(), pending.Start);
        return MHD_YES;
    }

    static HttpResponse Busy()
    {
        HttpResponse busy = Plain(503, "Dienst ausgelastet, bitte gleich noch einmal versuchen\n");
        busy.Headers.emplace_back(MHD_HTTP_HEADER_RETRY_AFTER, "1");
        return busy;
    }

    // Runs a slow path's handler on a thread of its own while the connection is suspended; the library calls again
    // once it is resumed, and the answer is sent then. Beyond kMaxWaiting at once: 503.
    MHD_Result Wait(MHD_Connection* connection, const Handler& handler, const char* method, const char* url,
                    std::string_view route, Pending* pending) const
    {
        Link* link = LinkOf(connection);
        int reading = Link::kReading;
        {
            const std::lock_guard lock(WaitingLock);
            if (Waiting >= kMaxWaiting) {
                HttpResponse busy = Plain(503, "Zu viele Anfragen in Arbeit\n");
                busy.Headers.emplace_back(MHD_HTTP_HEADER_RETRY_AFTER, "5");
                return Send(connection, std::move(busy), method, url, pending->Start);
            }
            // The sweeper leaves a waiting request alone: its time is the handler's.
            if (link && !link->State.compare_exchange_strong(reading, Link::kWaiting))
                return MHD_NO;
            ++Waiting;
        }
        MHD_suspend_connection(connection);
        std::thread([this, connection, &handler, pending, method = std::string(method), url = std::string(url),
                     route = std::string(route)] {
            MhdRequest request(connection);
            const std::string client = ClientAddress(connection);
            Describe(request, connection, method.c_str(), url.c_str(), client);
            request.Route = route;
            request.Body = pending->Body;
            try {
                pending->Answer = handler(request);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "%s %s: %s\n", LogEscaped(method).c_str(), LogEscaped(url).c_str(),
                             LogEscaped(error.what()).c_str());
                pending->Answer = Plain(500, "Interner Fehler\n");
            }
            const std::lock_guard lock(WaitingLock);
            MHD_resume_connection(connection);
            --Waiting;
            WaitingDone.notify_all();
        }).detach();
        return MHD_YES;
    }

    // The incomplete request that brought the least body per second (the oldest of equals), among those of one
    // client or of all; with grace only those incomplete for over a second. nullptr when there is none. LinksLock
    // is held.
    Link* Slowest(Clock::rep now, const std::string* client, bool grace = true) const
    {
        const Clock::rep second = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)).count();
        Link* slowest = nullptr;
        double slowestRate = 0;
        for (Link* link : Links) {
            if (link->State != Link::kReading || (grace && now - link->Since < second) ||
                (client && link->Client != *client))
                continue;
            const double rate = link->Rate(now);
            if (!slowest || rate < slowestRate || (rate == slowestRate && link->Since < slowest->Since)) {
                slowest = link;
                slowestRate = rate;
            }
        }
        return slowest;
    }

    // Ends a request still being read, with a 408 where the connection is plain HTTP and the request has begun
    // (a connection refused at a limit gets none). The library sees the end of the stream and closes it itself.
    void Shut(Link* link, bool answer = true) const
    {
        int reading = Link::kReading;
        if (link->Fd < 0 || !link->State.compare_exchange_strong(reading, Link::kShut))
            return;
        static constexpr char kTimeout[] =
            "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        if (answer && link->Begun && Tls.KeyPem.empty()) [[maybe_unused]]
            const ssize_t sent = send(link->Fd, kTimeout, sizeof kTimeout - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        shutdown(link->Fd, SHUT_RDWR);
    }

    void Opened(MHD_Connection* connection, void** socketContext)
    {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        auto* link = new Link();
        link->Fd = info ? info->connect_fd : -1;
        link->Client = ClientBlock(ClientAddress(connection));
        *socketContext = link;
        const Clock::rep now = Clock::now().time_since_epoch().count();
        const std::lock_guard lock(LinksLock);
        // At a limit the slowest request makes room; without one the new connection is refused.
        if (++PerClient[link->Client] > Limits.MaxConnectionsPerAddress) {
            if (Link* slowest = Slowest(now, &link->Client))
                Shut(slowest);
            else {
                Shut(link, false);
                ++Refused;
            }
        }
        // Near the limit, before the library refuses connections itself: a client holding few connections takes a
        // slot from the one holding the most even while its requests are young (a flood reconnects in a burst).
        const size_t headroom = std::min<size_t>(std::max<size_t>(Limits.Threads * 8, Limits.MaxConnections / 20),
                                                 (Limits.MaxConnections - 1) / 4);
        if (link->State == Link::kReading && Links.size() + headroom >= Limits.MaxConnections) {
            Link* slowest = Slowest(now, nullptr);
            if (!slowest) {
                const auto most = std::max_element(PerClient.begin(), PerClient.end(),
                                                   [](const auto& a, const auto& b) { return a.second < b.second; });
                if (most->second >= 2 * PerClient[link->Client])
                    slowest = Slowest(now, &most->first, false);
            }
            if (slowest)
                Shut(slowest);
            else {
                Shut(link, false);
                ++Refused;
            }
        }
        Links.insert(link);
        MostLinks = std::max(MostLinks, Links.size());
        if (Links.size() == 1)
            Wake.notify_all();
    }

    // Called before the library closes the socket, so the sweeper never touches a number reused since.
    void Closed(void** socketContext)
    {
        auto* link = static_cast<Link*>(*socketContext);
        *socketContext = nullptr;
        const std::lock_guard lock(LinksLock);
        Links.erase(link);
        if (const auto counted = PerClient.find(link->Client); counted != PerClient.end() && --counted->second == 0)
            PerClient.erase(counted);
        delete link;
    }

    // Once a second: ends the requests not complete within the time-out (each byte renews the library's idle
    // time-out, so a client could stretch a request for ever), says how many connections the limits refused, once
    // a minute, and gives the memory of many closed connections back to the system, as a desktop server should
    // after a burst.
    void Sweep()
    {
        const auto timeout = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(Limits.TimeoutSeconds));
        Clock::time_point lastReport = Clock::now();
        std::unique_lock lock(LinksLock);
        while (!Wake.wait_for(lock, std::chrono::seconds(1), [this] { return Stopped; })) {
            const Clock::rep now = Clock::now().time_since_epoch().count();
            for (Link* link : Links)
                if (link->State == Link::kReading && link->Overdue(now, timeout))
                    Shut(link);
            if (Clock::now() - lastReport >= std::chrono::minutes(1)) {
                lastReport = Clock::now();
                if (const size_t cut = CutShort.exchange(0))
                    std::fprintf(
                        stderr,
                        "orvelwddx-service: %zu connections ended with an incomplete request in the last minute\n",
                        cut);
                if (const size_t refused = Refused.exchange(0))
                    std::fprintf(
                        stderr,
                        "orvelwddx-service: %zu connections refused in the last minute at the connection limits\n",
                        refused);
            }
            if (MostLinks >= Links.size() + kTrimAfterClosed) {
                MostLinks = Links.size();
                lock.unlock();
                malloc_trim(0);
                lock.lock();
            }
            // Without connections there is nothing to watch until one comes, or a report is due.
            const auto watch = [this] { return Stopped || !Links.empty(); };
            if (Refused || CutShort)
                Wake.wait_until(lock, lastReport + std::chrono::minutes(1), watch);
            else
                Wake.wait(lock, watch);
        }
    }
};

HttpServer::HttpServer(const Router& router, int socket, const ServerLimits& limits, const TlsFiles* tls, bool log)
    : Running(std::make_unique<Daemon>(router, limits)), ListenPort(ListenerPort(socket))
{
    Running->Log = log;
    unsigned flags =
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
    if (tls) {
        Running->Tls = *tls;
        flags |= MHD_USE_TLS;
    }
    const auto access = [](void* cls, MHD_Connection* connection, const char* url, const char* method,
                           const char* version, const char* upload, size_t* uploadSize, void** context) -> MHD_Result {
        return static_cast<const Daemon*>(cls)->Serve(connection, url, method, version, upload, uploadSize, context);
    };
    const auto completed = [](void*, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
        if (!IsMarker(*context))
            delete static_cast<Pending*>(*context);
        *context = nullptr;
        // The next request starts now.
        if (Link* link = LinkOf(connection)) {
            link->Since = Clock::now().time_since_epoch().count();
            link->BodySince = 0;
            link->BodyBytes = 0;
            link->Begun = false;
            int serving = Link::kServing;
            link->State.compare_exchange_strong(serving, Link::kReading);
        }
    };
    const auto notify = [](void* cls, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode code) {
        auto* daemon = static_cast<Daemon*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            daemon->Opened(connection, socketContext);
        else
            daemon->Closed(socketContext);
    };
    MHD_AccessHandlerCallback accessCallback = access;
    MHD_RequestCompletedCallback completedCallback = completed;
    MHD_NotifyConnectionCallback notifyCallback = notify;
    void* (*targetCallback)(void*, const char*, MHD_Connection*) = InspectTarget;
    const auto logLibrary = [](void* cls, const char* format, va_list arguments) {
        // Under a flood each of these would be a line; the sweeper reports them once a minute instead.
        if (std::strncmp(format, kLimitReached, sizeof kLimitReached - 1) == 0)
            ++static_cast<Daemon*>(cls)->Refused;
        else if (std::strncmp(format, kCutShort, sizeof kCutShort - 1) == 0 ||
                 std::strncmp(format, kClosedReading, sizeof kClosedReading - 1) == 0)
            ++static_cast<Daemon*>(cls)->CutShort;
        else
            LogLibraryMessage(format, arguments);
    };
    void (*libraryLog)(void*, const char*, va_list) = logLibrary;
    std::vector<MHD_OptionItem> options = {
        // First, so that the library's messages on the options that follow come here too.
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(libraryLog), Running.get()},
        {MHD_OPTION_LISTEN_SOCKET, socket, nullptr},
        // The sweeper ends idle connections and overdue requests, these with their 408, within a second of the
        // time-out; the library's own, later, only backs it up and cannot close a request before its 408 is sent.
        {MHD_OPTION_CONNECTION_TIMEOUT, limits.TimeoutSeconds + 2, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, limits.MaxConnections, nullptr},
        // The request head must fit here; a longer one is refused by the library itself.
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 32 << 10, nullptr},
        // Not strict: its refusal of a head without Host comes with a doubled header block, and a target with a
        // blank goes unanswered; the first call answers both.
        {MHD_OPTION_STRICT_FOR_CLIENT, 0, nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(completedCallback), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(notifyCallback), Running.get()},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(targetCallback), nullptr},
    };
    // One thread is the library's polling thread alone: a pool of one only makes it warn.
    if (limits.Threads > 1)
        options.push_back({MHD_OPTION_THREAD_POOL_SIZE, limits.Threads, nullptr});
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(Running->Tls.CertificatePem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(Running->Tls.KeyPem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    Running->Handle = MHD_start_daemon(flags, 0, nullptr, nullptr, accessCallback, Running.get(), MHD_OPTION_ARRAY,
                                       options.data(), MHD_OPTION_END);
    if (!Running->Handle) {
        close(socket);
        throw std::runtime_error(Say("cannot start the HTTP server on port {}", {std::to_string(ListenPort)}));
    }
    Running->Sweeper = std::thread([daemon = Running.get()] { daemon->Sweep(); });
}

HttpServer::~HttpServer()
{
    if (!Running || !Running->Handle)
        return;
    {
        const std::lock_guard lock(Running->LinksLock);
        Running->Stopped = true;
    }
    Running->Wake.notify_all();
    Running->Sweeper.join();
    {
        std::unique_lock lock(Running->WaitingLock);
        Running->WaitingDone.wait(lock, [this] { return Running->Waiting == 0; });
    }
    // The library must not stop while a connection is suspended: every deferred request is answered first.
    Running->Slow.Stop();
    // Stopping also closes the listening socket.
    MHD_stop_daemon(Running->Handle);
}

} // namespace orvel::service
