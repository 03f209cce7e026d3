#include "service/Http.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace orvel::service {

void Router::Add(std::string path, Handler handler, TooLargeAnswer tooLarge)
{
    Routes.push_back({std::move(path), std::move(handler), tooLarge});
}

const Router::Route* Router::Lookup(std::string_view path) const
{
    for (const Route& route : Routes)
        if (route.Path == path)
            return &route;
    return nullptr;
}

const Handler* Router::Find(std::string_view path) const
{
    const Route* route = Lookup(path);
    return route ? &route->Serve : nullptr;
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

int OpenListener(const std::string& address)
{
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 == address.size())
        throw std::runtime_error("listen address without a port: " + address);
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
        throw std::runtime_error("listen address " + address + ": " + gai_strerror(error));
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
    throw std::runtime_error("cannot listen on " + address + ": " + failure);
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
    size_t Received = 0;
    Clock::time_point Start = Clock::now();
};

constexpr size_t kMaxDiscarded = 8u << 20;
// TLS 1.2 and 1.3 only, ephemeral key exchange and AEAD ciphers only, in our order rather than the client's.
constexpr char kTlsPriorities[] = "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-RSA:-DHE-RSA:-CIPHER-ALL:"
                                  "+AES-256-GCM:+CHACHA20-POLY1305:+AES-128-GCM:-MAC-ALL:+AEAD:%SERVER_PRECEDENCE";

// The context of a request without a body: nothing to keep, nothing to allocate.
char kHeadOnly;

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

// The request as a log line shows it: the path and the query, with the password's value left out.
std::string LoggedTarget(MHD_Connection* connection, const char* url)
{
    std::string target = url;
    char separator = '?';
    std::pair<std::string*, char*> line{&target, &separator};
    MHD_get_connection_values_n(
        connection, MHD_GET_ARGUMENT_KIND,
        [](void* context, MHD_ValueKind, const char* key, size_t keySize, const char* value,
           size_t valueSize) -> MHD_Result {
            auto* parts = static_cast<std::pair<std::string*, char*>*>(context);
            parts->first->append(1, *parts->second).append(key, keySize);
            *parts->second = '&';
            const std::string_view name(key, keySize);
            if (name == "pw" || name == "PW")
                parts->first->append("=*");
            else if (value)
                parts->first->append("=").append(value, valueSize);
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

    Daemon(const Router& router, const ServerLimits& limits) : Routes(router), Limits(limits) {}

    MHD_Result Send(MHD_Connection* connection, const HttpResponse& answer, const char* method, const char* url,
                    Clock::time_point start) const
    {
        MHD_Response* response = MHD_create_response_from_buffer(
            answer.Body.size(), const_cast<char*>(answer.Body.data()), MHD_RESPMEM_MUST_COPY);
        if (!response)
            return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.ContentType);
        for (const auto& [name, value] : answer.Headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, answer.Status, response);
        MHD_destroy_response(response);
        if (Log) {
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            std::fprintf(stderr, "%s %s %u %lldus\n", method, LoggedTarget(connection, url).c_str(), answer.Status,
                         static_cast<long long>(micros));
        }
        return queued;
    }

    static HttpResponse Plain(unsigned status, const char* text) { return {status, "text/plain; charset=utf-8", text}; }

    MHD_Result Serve(MHD_Connection* connection, const char* url, const char* method, const char* upload,
                     size_t* uploadSize, void** context) const
    {
        if (!*context) {
            // The first call only sees the head: an answer queued now would end the kept-alive connection.
            const bool hasBody =
                std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0;
            if (!hasBody) {
                *context = &kHeadOnly;
                return MHD_YES;
            }
            // Refuse a body announced too large before reading a byte of it.
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (length && std::strtoull(length, nullptr, 10) > Limits.MaxBody)
                return Send(connection, Routes.TooLarge(url), method, url, Clock::now());
            *context = new Pending();
            return MHD_YES;
        }
        Pending* pending = *context == &kHeadOnly ? nullptr : static_cast<Pending*>(*context);
        const Clock::time_point start = pending ? pending->Start : Clock::now();
        if (*uploadSize) {
            const size_t size = *uploadSize;
            *uploadSize = 0;
            if (!pending) // a body on a GET: not read
                return MHD_YES;
            // A body grown too large is read to its end and dropped, so that the client gets to read the 413 (an
            // answer now would meet a reset connection); past kMaxDiscarded it is answered at once.
            pending->Received += size;
            if (pending->Received <= Limits.MaxBody)
                pending->Body.append(upload, size);
            else if (pending->Received > kMaxDiscarded)
                return Send(connection, Routes.TooLarge(url), method, url, start);
            return MHD_YES;
        }
        if (pending && pending->Received > Limits.MaxBody)
            return Send(connection, Routes.TooLarge(url), method, url, start);
        if (QueryLength(connection) > ServerLimits::kMaxQuery)
            return Send(connection, Plain(414, "Anfrage zu lang\n"), method, url, start);

        const Handler* handler = Routes.Find(url);
        if (!handler)
            return Send(connection, Plain(404, "Nicht gefunden\n"), method, url, start);
        MhdRequest request(connection);
        request.Method = method;
        request.Path = url;
        if (pending)
            request.Body = pending->Body;
        request.Loopback = IsLoopback(connection);
        const std::string client = ClientAddress(connection);
        request.Client = client;
        try {
            return Send(connection, (*handler)(request), method, url, start);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s %s: %s\n", method, url, error.what());
            return Send(connection, Plain(500, "Interner Fehler\n"), method, url, start);
        }
    }
};

HttpServer::HttpServer(const Router& router, int socket, const ServerLimits& limits, const TlsFiles* tls, bool log)
    : Running(std::make_unique<Daemon>(router, limits)), ListenPort(ListenerPort(socket))
{
    Running->Log = log;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG | MHD_USE_TURBO;
    if (tls) {
        Running->Tls = *tls;
        flags |= MHD_USE_TLS;
    }
    const auto access = [](void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                           const char* upload, size_t* uploadSize, void** context) -> MHD_Result {
        return static_cast<const Daemon*>(cls)->Serve(connection, url, method, upload, uploadSize, context);
    };
    const auto completed = [](void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
        if (*context != &kHeadOnly)
            delete static_cast<Pending*>(*context);
        *context = nullptr;
    };
    MHD_AccessHandlerCallback accessCallback = access;
    MHD_RequestCompletedCallback completedCallback = completed;
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, socket, nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, limits.Threads, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, limits.TimeoutSeconds, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, limits.MaxConnections, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.MaxConnectionsPerAddress, nullptr},
        // The request head must fit here; a longer one is refused by the library itself.
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 32 << 10, nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(completedCallback), nullptr},
    };
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
        throw std::runtime_error("cannot start the HTTP server on port " + std::to_string(ListenPort));
    }
}

HttpServer::~HttpServer()
{
    // Stopping also closes the listening socket.
    if (Running && Running->Handle)
        MHD_stop_daemon(Running->Handle);
}

} // namespace orvel::service
