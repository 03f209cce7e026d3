#pragma once
// Synchronous HTTP/1.1 GET over libcurl with a millisecond inactivity time-out.

#include "transport/Handles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvel {

class TlsHandler;

// An answer as received, whatever its status.
struct HttpReply
{
    long Status = 0;
    std::string StatusLine;
    std::string Body;
};

class HttpClient
{
public:
    // Larger reply bodies are refused instead of being read into memory (unless SetMaxBodySize says otherwise).
    static constexpr size_t kMaxBodySize = 16u << 20;

    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The body byte for byte. Throws Error with the transport's German message, or with the status line as
    // received for any status outside 200..299 (redirects are not followed).
    std::string Get(const std::string& url);
    // POST of body with extra header lines ("Name: value"). Returns the answer with any status (a SOAP fault
    // arrives with status 500); transport failures throw as for Get.
    HttpReply Post(const std::string& url, const std::string& body, const std::vector<std::string>& headers);

    // Whole MiB; bodies above it fail with a message naming the limit.
    void SetMaxBodySize(size_t bytes) { FMaxBodySize = bytes; }

    // Milliseconds; bounds the connection set-up and every single wait for data. 0 means no limit.
    int32_t ReadTimeout() const { return FTimeout; }
    // A server that sends a byte now and then never lets the read time-out strike, so the whole exchange after the
    // connection stands is bounded too: ten read time-outs, at least 30 s and at most 5 min (unless one read
    // time-out is longer); without a read time-out, 5 min.
    static constexpr int64_t kExchangeLimitFactor = 10;
    static constexpr int64_t kMinimumExchangeLimit = 30'000;
    static constexpr int64_t kMaximumExchangeLimit = 300'000;
    static int64_t ExchangeLimit(int32_t readTimeout);
    void SetReadTimeout(int32_t milliseconds) { FTimeout = milliseconds; }

    // TLS is used for "https" URLs only while a handler is attached.
    void SetTlsHandler(TlsHandler* handler) { FTls = handler; }
    TlsHandler* AttachedTlsHandler() const { return FTls; }

    const std::string& ProxyServer() const { return FProxy.Server; }
    int32_t ProxyPort() const { return FProxy.Port; }
    const std::string& ProxyUsername() const { return FProxy.Username; }
    const std::string& ProxyPassword() const { return FProxy.Password; }
    bool ProxyBasicAuthentication() const { return FProxy.BasicAuthentication; }
    // Server and port discard the cached proxy authentication when they change (the server ignoring case).
    void SetProxyServer(const std::string& server);
    void SetProxyPort(int32_t port);
    void SetProxyUsername(const std::string& user) { FProxy.Username = user; }
    void SetProxyPassword(const std::string& password) { FProxy.Password = password; }
    void SetProxyBasicAuthentication(bool on) { FProxy.BasicAuthentication = on; }
    // The next request authenticates to the proxy afresh, on a new connection.
    void DiscardProxyAuthentication() { FKeptConnection.clear(); }
    // With no proxy server: false connects directly, true follows the proxy environment variables (and offers the
    // proxy credentials to the proxy found there).
    void SetUseSystemProxy(bool on) { FUseSystemProxy = on; }

private:
    struct ProxySettings
    {
        std::string Server;
        int32_t Port = 0;
        std::string Username;
        std::string Password;
        bool BasicAuthentication = false;
        bool operator==(const ProxySettings&) const = default;
    };

    // Everything the easy handle's options are made of, apart from what each transfer sets (URL, header list, body).
    struct HandleSettings
    {
        std::string Key; // ConnectionKey
        bool Post = false; // a GET after a POST needs the handle reset
        size_t MaxBodySize = 0;
        int32_t Timeout = 0;
        const TlsHandler* Tls = nullptr;
        ProxySettings Proxy;
        bool UseSystemProxy = false;
        bool operator==(const HandleSettings&) const = default;
    };

    HttpReply Perform(const std::string& url, const std::string* postBody, const std::vector<std::string>& headers);
    static std::string BodyOfSuccess(HttpReply reply);
    void PrepareTransfer(const std::string& url, const std::string* postBody, curl_slist* headers);
    // Sets every option that stays the same from one transfer to the next under unchanged settings.
    void SetUpHandle();
    // Drives the prepared transfer until it ends and returns libcurl's outcome; throws once a connected server
    // has sent nothing for FTimeout, or has not finished within ExchangeLimit(FTimeout).
    CURLcode RunTransfer();
    std::string ConnectionKey(const std::string& url) const;
    [[noreturn]] void ThrowTransferError(CURLcode code);

    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static int OnRequestReady(void* self, char*, char*, int, int);

    CurlHandle FEasy;
    CurlMultiHandle FMulti;
    CurlList FHeaders;
    int32_t FTimeout = 0;
    TlsHandler* FTls = nullptr;
    ProxySettings FProxy;
    bool FUseSystemProxy = false;
    size_t FMaxBodySize = kMaxBodySize;
    // Identifies what the kept-alive connection was made for; any change means a new connection.
    std::string FKeptConnection;
    // What the easy handle was last set up with; a transfer under the same settings leaves the options alone.
    HandleSettings FApplied;
    bool FHandleSetUp = false;

    // State of the running transfer.
    std::string FBody;
    std::string FStatusLine;
    bool FBodyTooLarge = false;
    bool FMalformed = false; // a header the answer cannot be read with
    std::string FContentLength;
    bool FConnected = false;
    size_t FReceived = 0;
    char FCurlMessage[CURL_ERROR_SIZE] = {};
};

} // namespace orvel
