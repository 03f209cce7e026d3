#pragma once
// A scriptable HTTP(S) server on 127.0.0.1 for tests: records every request and answers as the test says.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvel::test {

struct Request
{
    std::string RequestLine;                    // e.g. "GET /tarvik?un=a HTTP/1.1"
    std::map<std::string, std::string> Headers; // names in lower case
    std::string Body;
    std::string Raw;      // the bytes as received, head and body
    int ConnectionId = 0; // requests on one kept-alive connection share it
};

struct Reply
{
    enum class Action {
        Answer,            // status line, headers, body
        StallAfterHeaders, // status line and headers with a Content-Length, then silence
        Stall,             // nothing at all
        Close,             // close the connection without a word
        Raw,               // Body as it is, nothing added, then close: for answers that are no HTTP
        Trickle,           // status line and headers, then the body one byte every TrickleInterval
        ResetMidBody,      // headers announcing the whole body, half of it, then a reset (RST)
        Endless,           // headers without a length, then body bytes until the client hangs up
    };

    std::string StatusLine = "HTTP/1.1 200 OK";
    std::string Body;
    std::vector<std::string> Headers; // extra header lines without CR LF
    Action Act = Action::Answer;
    std::chrono::milliseconds TrickleInterval{500};

    static Reply Ok(std::string body);
    static Reply Status(std::string statusLine, std::string body = {});
};

struct TlsIdentity
{
    std::string CertificateChainFile; // PEM: the server's certificate first, then what it sends along
    std::string KeyFile;
    int MinProtocolVersion = 0; // e.g. TLS1_3_VERSION; 0 leaves OpenSSL's default
    int MaxProtocolVersion = 0;
};

class FixtureServer
{
public:
    using Handler = std::function<Reply(const Request&)>;

    explicit FixtureServer(Handler handler = {});
    FixtureServer(TlsIdentity identity, Handler handler = {});
    ~FixtureServer();

    uint16_t Port() const { return ListenPort; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(ListenPort); }
    void SetHandler(Handler handler);
    // Every reply from now on is this one.
    void AnswerAlways(Reply reply);
    // A /status body of the local service with its built-in bank data, for windows that show the date.
    static constexpr char kServiceStatus[] =
        R"({"bankDirectory": {"kind": "built-in", "sources": "npm bankdata-germany 2.2602.0", )"
        R"("validFrom": "2026-09-07", "ageDays": 95, "bankCodes": 3507, "bics": 3075}})";
    // GET /status is answered with this body (404 while it is empty), never recorded and never handed to the handler.
    void SetStatusBody(std::string body)
    {
        std::lock_guard guard(Lock);
        StatusBody = std::move(body);
    }

    std::vector<Request> Requests() const;
    std::vector<std::string> RequestLines() const;
    // The target of the latest request line ("/tarvik?un=a"); empty when no request came.
    std::string LastTarget() const;
    int ConnectionCount() const { return Connections.load(); }
    void ClearRequests();

private:
    void Start();
    void AcceptLoop();
    void Serve(int socket, int connectionId);
    void ServeRequests(int socket, int connectionId);
    bool WaitReadable(int socket) const;
    // False once the server stops or the client hangs up within the pause.
    bool Pause(int socket, std::chrono::milliseconds pause) const;

    TlsIdentity Identity;
    void* TlsContext = nullptr; // SSL_CTX*
    int ListenSocket = -1;
    int StopPipe[2] = {-1, -1};
    uint16_t ListenPort = 0;
    std::thread Acceptor;
    std::vector<std::thread> Workers;
    std::vector<int> OpenSockets;
    std::atomic<int> Connections{0};
    mutable std::mutex Lock;
    Handler Answer;
    std::string StatusBody;
    std::vector<Request> Recorded;
};

} // namespace orvel::test
