#include "support/FixtureServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <stdexcept>

namespace orvel::test {
namespace {

// The window asks its service for /status by itself (at start, after its settings dialog), through a proxy too;
// the tests look at the checks.
bool IsStatusRequest(const std::string& requestLine)
{
    if (!requestLine.starts_with("GET "))
        return false;
    std::string_view target(requestLine);
    target.remove_prefix(4);
    target = target.substr(0, target.find(' '));
    if (const size_t scheme = target.find("://"); scheme != std::string_view::npos) {
        target.remove_prefix(scheme + 3);
        target.remove_prefix(std::min(target.find('/'), target.size()));
    }
    return target == "/status";
}

// One connection, plain or TLS.
class Channel
{
public:
    Channel(int socket, SSL* ssl) : Socket(socket), Ssl(ssl) {}
    ~Channel()
    {
        if (Ssl) {
            SSL_shutdown(Ssl);
            SSL_free(Ssl);
        }
    }
    long Read(char* buffer, size_t size)
    {
        if (Ssl) {
            int n = SSL_read(Ssl, buffer, int(size));
            return n > 0 ? n : -1;
        }
        ssize_t n = ::recv(Socket, buffer, size, 0);
        return n > 0 ? long(n) : -1;
    }
    // False when the client has gone.
    bool Write(const std::string& data)
    {
        size_t sent = 0;
        while (sent < data.size()) {
            long n = Ssl ? SSL_write(Ssl, data.data() + sent, int(data.size() - sent))
                         : long(::send(Socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL));
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return true;
    }
    bool Pending() const { return Ssl && SSL_pending(Ssl) > 0; }

private:
    int Socket;
    SSL* Ssl;
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string Head(const Reply& reply, bool withBodyLength)
{
    std::string head = reply.StatusLine + "\r\n";
    for (const auto& header : reply.Headers)
        head += header + "\r\n";
    if (withBodyLength)
        head += "Content-Length: " + std::to_string(reply.Body.size()) + "\r\n";
    return head + "\r\n";
}

} // namespace

Reply Reply::Ok(std::string body)
{
    Reply reply;
    reply.Body = std::move(body);
    reply.Headers.push_back("Content-Type: text/xml");
    return reply;
}

Reply Reply::Status(std::string statusLine, std::string body)
{
    Reply reply;
    reply.StatusLine = std::move(statusLine);
    reply.Body = std::move(body);
    return reply;
}

FixtureServer::FixtureServer(Handler handler) : Answer(std::move(handler))
{
    Start();
}

FixtureServer::FixtureServer(TlsIdentity identity, Handler handler)
    : Identity(std::move(identity)), Answer(std::move(handler))
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, Identity.CertificateChainFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, Identity.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_set_min_proto_version(ctx, Identity.MinProtocolVersion) != 1 ||
        SSL_CTX_set_max_proto_version(ctx, Identity.MaxProtocolVersion) != 1) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("fixture server: cannot load " + Identity.CertificateChainFile);
    }
    TlsContext = ctx;
    // OpenSSL writes to the socket with write(): a client that hangs up mid-handshake must not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    Start();
}

void FixtureServer::Start()
{
    if (::pipe(StopPipe) != 0)
        throw std::runtime_error("fixture server: pipe");
    ListenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(ListenSocket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(ListenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(ListenSocket, 16) != 0 ||
        ::getsockname(ListenSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("fixture server: cannot listen");
    ListenPort = ntohs(address.sin_port);
    Acceptor = std::thread([this] { AcceptLoop(); });
}

FixtureServer::~FixtureServer()
{
    char stop = 1;
    (void)!::write(StopPipe[1], &stop, 1);
    Acceptor.join();
    {
        std::lock_guard guard(Lock);
        for (int socket : OpenSockets)
            ::shutdown(socket, SHUT_RDWR);
    }
    for (auto& worker : Workers)
        worker.join();
    for (int socket : OpenSockets)
        ::close(socket);
    ::close(ListenSocket);
    ::close(StopPipe[0]);
    ::close(StopPipe[1]);
    SSL_CTX_free(static_cast<SSL_CTX*>(TlsContext));
}

void FixtureServer::SetHandler(Handler handler)
{
    std::lock_guard guard(Lock);
    Answer = std::move(handler);
}

void FixtureServer::AnswerAlways(Reply reply)
{
    SetHandler([reply](const Request&) { return reply; });
}

std::vector<Request> FixtureServer::Requests() const
{
    std::lock_guard guard(Lock);
    return Recorded;
}

std::vector<std::string> FixtureServer::RequestLines() const
{
    std::vector<std::string> lines;
    for (const auto& request : Requests())
        lines.push_back(request.RequestLine);
    return lines;
}

std::string FixtureServer::LastTarget() const
{
    const auto lines = RequestLines();
    if (lines.empty())
        return {};
    const std::string& line = lines.back();
    const size_t start = line.find(' ') + 1;
    return line.substr(start, line.rfind(' ') - start);
}

void FixtureServer::ClearRequests()
{
    std::lock_guard guard(Lock);
    Recorded.clear();
}

bool FixtureServer::Pause(int socket, std::chrono::milliseconds pause) const
{
    // The client sends nothing more while it waits for the answer: anything readable is its hang-up.
    pollfd fds[2] = {{socket, POLLIN, 0}, {StopPipe[0], POLLIN, 0}};
    return ::poll(fds, 2, int(pause.count())) == 0;
}

bool FixtureServer::WaitReadable(int socket) const
{
    pollfd fds[2] = {{socket, POLLIN, 0}, {StopPipe[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) <= 0)
        return false;
    return !(fds[1].revents & POLLIN) && (fds[0].revents & (POLLIN | POLLHUP | POLLERR));
}

void FixtureServer::AcceptLoop()
{
    for (;;) {
        if (!WaitReadable(ListenSocket))
            return;
        int socket = ::accept4(ListenSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        int id = ++Connections;
        std::lock_guard guard(Lock);
        OpenSockets.push_back(socket);
        Workers.emplace_back([this, socket, id] { Serve(socket, id); });
    }
}

void FixtureServer::Serve(int socket, int connectionId)
{
    ServeRequests(socket, connectionId);
    ::shutdown(socket, SHUT_RDWR); // the client sees the end at once; the descriptor closes with the server
}

void FixtureServer::ServeRequests(int socket, int connectionId)
{
    SSL* ssl = nullptr;
    if (TlsContext) {
        ssl = SSL_new(static_cast<SSL_CTX*>(TlsContext));
        SSL_set_fd(ssl, socket);
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            ERR_clear_error();
            return; // the client rejected us or gave up
        }
    }
    Channel channel(socket, ssl);
    std::string buffer;
    char chunk[16384];
    for (;;) {
        // Read one request: the head, then a body of Content-Length bytes.
        size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!channel.Pending() && !WaitReadable(socket))
                return;
            long n = channel.Read(chunk, sizeof chunk);
            if (n <= 0)
                return;
            buffer.append(chunk, size_t(n));
        }
        Request request;
        request.ConnectionId = connectionId;
        std::string head = buffer.substr(0, headEnd);
        size_t lineEnd = head.find("\r\n");
        request.RequestLine = head.substr(0, lineEnd);
        for (size_t pos = lineEnd; pos != std::string::npos && pos < head.size();) {
            size_t next = head.find("\r\n", pos + 2);
            std::string line = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
            if (auto colon = line.find(':'); colon != std::string::npos) {
                size_t valueStart = line.find_first_not_of(' ', colon + 1);
                request.Headers[Lower(line.substr(0, colon))] =
                    valueStart == std::string::npos ? "" : line.substr(valueStart);
            }
            pos = next;
        }
        size_t bodyLength = 0;
        if (auto it = request.Headers.find("content-length"); it != request.Headers.end())
            bodyLength = std::stoul(it->second);
        while (buffer.size() < headEnd + 4 + bodyLength) {
            if (!channel.Pending() && !WaitReadable(socket))
                return;
            long n = channel.Read(chunk, sizeof chunk);
            if (n <= 0)
                return;
            buffer.append(chunk, size_t(n));
        }
        request.Body = buffer.substr(headEnd + 4, bodyLength);
        request.Raw = buffer.substr(0, headEnd + 4 + bodyLength);
        buffer.erase(0, headEnd + 4 + bodyLength);

        Handler handler;
        std::optional<Reply> status;
        {
            std::lock_guard guard(Lock);
            if (IsStatusRequest(request.RequestLine))
                status = StatusBody.empty() ? Reply::Status("HTTP/1.1 404 Not Found") : Reply::Ok(StatusBody);
            else
                Recorded.push_back(request);
            handler = Answer;
        }
        Reply reply = status ? *status : handler ? handler(request) : Reply::Ok({});
        switch (reply.Act) {
        case Reply::Action::Answer:
            channel.Write(Head(reply, true) + reply.Body);
            if (std::find(reply.Headers.begin(), reply.Headers.end(), "Connection: close") != reply.Headers.end())
                return;
            break;
        case Reply::Action::StallAfterHeaders:
            channel.Write(Head(reply, true));
            [[fallthrough]];
        case Reply::Action::Stall:
            while (WaitReadable(socket)) {
                if (channel.Read(chunk, sizeof chunk) <= 0)
                    break;
            }
            return;
        case Reply::Action::Close:
            return;
        case Reply::Action::Raw:
            channel.Write(reply.Body);
            return;
        case Reply::Action::Trickle:
            channel.Write(Head(reply, true));
            for (char byte : reply.Body) {
                channel.Write(std::string(1, byte));
                if (!Pause(socket, reply.TrickleInterval))
                    return;
            }
            break;
        case Reply::Action::ResetMidBody: {
            channel.Write(Head(reply, true) + reply.Body.substr(0, reply.Body.size() / 2));
            // Closing with a zero linger time resets the connection; the number stays taken by an idle socket
            // until the server closes it.
            linger reset{1, 0};
            ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            int idle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            ::dup2(idle, socket);
            ::close(idle);
            return;
        }
        case Reply::Action::Endless: {
            channel.Write(Head(reply, false));
            const std::string block(65536, 'x');
            while (Pause(socket, std::chrono::milliseconds(0)) && channel.Write(block)) {
            }
            return;
        }
        }
    }
}

} // namespace orvel::test
