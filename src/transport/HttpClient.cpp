#include "transport/HttpClient.h"

#include "platform/Error.h"
#include "platform/Text.h"
#include "transport/Tls.h"

#include <cerrno>
#include <chrono>
#include <map>

namespace orvel {
namespace {

using Clock = std::chrono::steady_clock;

// Socket errors by their Windows Sockets numbers, which the clients of this service know from its texts.
struct SocketError
{
    int Number;
    const char* Text;
};

SocketError SocketErrorOf(long osErrno)
{
    static const std::map<long, SocketError> table = {
        {ECONNREFUSED, {10061, "Verbindung abgelehnt."}},
        {EHOSTUNREACH, {10065, "Keine Route zum Host."}},
        {ENETUNREACH, {10051, "Netzwerk nicht erreichbar."}},
        {ECONNRESET, {10054, "Verbindung vom Server zurückgesetzt."}},
        {ECONNABORTED, {10053, "Verbindung abgebrochen."}},
        {ETIMEDOUT, {10060, "Zeitüberschreitung der Verbindung."}},
        {EADDRNOTAVAIL, {10049, "Adresse nicht verfügbar."}},
        {ENETDOWN, {10050, "Netzwerk ausgefallen."}},
    };
    auto it = table.find(osErrno);
    return it != table.end() ? it->second : SocketError{10061, "Verbindung abgelehnt."};
}

[[noreturn]] void Fail(std::string_view utf8Message)
{
    throw Error(Ansi(utf8Message));
}

[[noreturn]] void FailSocket(int number, std::string_view utf8Text)
{
    Fail("Socket-Fehler # " + std::to_string(number) + "\r\n" + std::string(utf8Text));
}

curl_slist* Append(curl_slist* list, const char* header)
{
    curl_slist* appended = curl_slist_append(list, header);
    if (!appended)
        throw std::bad_alloc();
    return appended;
}

} // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient()
{
    if (FMulti)
        curl_multi_remove_handle(FMulti.get(), FEasy.get());
}

void HttpClient::SetProxyServer(const std::string& server)
{
    if (!SameText(server, FProxy.Server))
        DiscardProxyAuthentication();
    FProxy.Server = server;
}

void HttpClient::SetProxyPort(int32_t port)
{
    if (port != FProxy.Port)
        DiscardProxyAuthentication();
    FProxy.Port = port;
}

std::string HttpClient::ConnectionKey(const std::string& url) const
{
    // Scheme and host of the URL, TLS on or off and the policy its certificates were judged under, and the proxy.
    // Proxy credentials are left out: a change of them that counts goes through DiscardProxyAuthentication.
    auto schemeEnd = url.find("://");
    auto hostEnd = schemeEnd == std::string::npos ? std::string::npos : url.find_first_of("/?#", schemeEnd + 3);
    std::string key = url.substr(0, hostEnd);
    key += FTls ? "\n+tls " + FTls->ConnectionPolicy() + "\n" : "\n-tls\n";
    key += FProxy.Server + "\n" + std::to_string(FProxy.Port) + (FProxy.BasicAuthentication ? "\n+basic" : "\n-basic");
    return key;
}

void HttpClient::SetUpHandle()
{
    CURL* easy = FEasy.get();
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, FCurlMessage);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpClient::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpClient::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &HttpClient::OnRequestReady);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(FMaxBodySize));
    if (FTimeout > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(FTimeout));
    // Without a handler of ours, "https" gets libcurl's own verification against the system's roots.
    if (FTls)
        FTls->Apply(easy);
    if (FProxy.Server.empty() && !FUseSystemProxy) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else {
        if (!FProxy.Server.empty()) {
            curl_easy_setopt(easy, CURLOPT_PROXY, FProxy.Server.c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYTYPE, CURLPROXY_HTTP);
            curl_easy_setopt(easy, CURLOPT_PROXYPORT, long(FProxy.Port));
        }
        if (FProxy.BasicAuthentication) {
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, FProxy.Username.c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, FProxy.Password.c_str());
        }
    }
}

void HttpClient::PrepareTransfer(const std::string& url, const std::string* postBody, curl_slist* headers)
{
    CURL* easy = FEasy.get();
    const std::string key = ConnectionKey(url);
    if (FMulti)
        curl_multi_remove_handle(FMulti.get(), easy);
    if (!FMulti || key != FKeptConnection) {
        // A new multi handle drops the connection cache: nothing made under other settings is ever reused.
        FMulti.reset(curl_multi_init());
        if (!FMulti)
            throw std::bad_alloc();
        FKeptConnection = key;
    }
    HandleSettings settings{key, postBody != nullptr, FMaxBodySize, FTimeout, FTls, FProxy, FUseSystemProxy};
    if (!FHandleSetUp || settings != FApplied) {
        SetUpHandle();
        FApplied = std::move(settings);
        FHandleSetUp = true;
    }
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    if (postBody) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postBody->data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(postBody->size()));
    }
    FBody.clear();
    FStatusLine.clear();
    FBodyTooLarge = false;
    FMalformed = false;
    FContentLength.clear();
    FConnected = false;
    FReceived = 0;
    FCurlMessage[0] = '\0';
}

std::string HttpClient::BodyOfSuccess(HttpReply reply)
{
    if (reply.Status < 200 || reply.Status > 299)
        throw Error(reply.StatusLine);
    return std::move(reply.Body);
}

std::string HttpClient::Get(const std::string& url)
{
    return BodyOfSuccess(Perform(url, nullptr, {}));
}

HttpReply HttpClient::Post(const std::string& url, const std::string& body, const std::vector<std::string>& headers)
{
    return Perform(url, &body, headers);
}

HttpReply HttpClient::Perform(const std::string& url, const std::string* postBody,
                              const std::vector<std::string>& headers)
{
    // At the first transfer: an object that never sends anything never loads libcurl.
    if (!FEasy) {
        FEasy.reset(curl_easy_init());
        if (!FEasy)
            throw std::bad_alloc();
        FHeaders.reset(Append(nullptr, "Accept: text/html, */*"));
        Append(FHeaders.get(), "User-Agent: Mozilla/3.0 (compatible; Indy Library)"); // appends in place
    }
    CurlList extended;
    if (!headers.empty()) {
        for (curl_slist* item = FHeaders.get(); item; item = item->next)
            extended.reset(Append(extended.release(), item->data));
        for (const auto& header : headers)
            extended.reset(Append(extended.release(), header.c_str()));
        extended.reset(Append(extended.release(), "Expect:"));
    }
    PrepareTransfer(url, postBody, extended ? extended.get() : FHeaders.get());
    curl_multi_add_handle(FMulti.get(), FEasy.get());
    const CURLcode outcome = RunTransfer();
    curl_multi_remove_handle(FMulti.get(), FEasy.get());
    if (outcome != CURLE_OK)
        ThrowTransferError(outcome);

    HttpReply reply;
    curl_easy_getinfo(FEasy.get(), CURLINFO_RESPONSE_CODE, &reply.Status);
    reply.StatusLine = std::move(FStatusLine);
    reply.Body = std::move(FBody);
    return reply;
}

int64_t HttpClient::ExchangeLimit(int32_t readTimeout)
{
    if (readTimeout <= 0)
        return kMaximumExchangeLimit;
    const int64_t timeout = readTimeout;
    return std::max(kMinimumExchangeLimit,
                    std::min(kExchangeLimitFactor * timeout, std::max(kMaximumExchangeLimit, timeout)));
}

CURLcode HttpClient::RunTransfer()
{
    CURLM* multi = FMulti.get();
    // The connection set-up is bounded by CURLOPT_CONNECTTIMEOUT_MS; from the moment the request is ready to
    // go, every wait for data is bounded by FTimeout, measured from the last byte received, and the whole
    // exchange by ExchangeLimit.
    const int64_t limit = ExchangeLimit(FTimeout);
    auto lastActivity = Clock::now();
    auto connectedAt = lastActivity;
    size_t receivedBefore = 0;
    bool wasConnected = false;
    const auto abandon = [&](std::string_view message) {
        curl_multi_remove_handle(multi, FEasy.get());
        FMulti.reset(); // the stalled connection must not be reused
        Fail(message);
    };
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK)
            Fail(std::string("HTTP-Fehler: ") + curl_multi_strerror(mc));
        if (FConnected && !wasConnected)
            connectedAt = Clock::now();
        if (FConnected && (!wasConnected || FReceived != receivedBefore))
            lastActivity = Clock::now();
        wasConnected = FConnected;
        receivedBefore = FReceived;
        if (running == 0) {
            CURLcode outcome = CURLE_OK;
            int pending = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &pending))
                if (message->msg == CURLMSG_DONE)
                    outcome = message->data.result;
            return outcome;
        }
        long curlWait = -1;
        curl_multi_timeout(multi, &curlWait);
        int wait = curlWait < 0 ? 1000 : int(std::min(curlWait, 1000L));
        if (FConnected) {
            const auto now = Clock::now();
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - connectedAt).count();
            if (elapsed >= limit)
                abandon("Zeitüberschreitung: Antwort nicht vollständig in " + std::to_string((limit + 999) / 1000) +
                        " s");
            wait = int(std::min<long long>(wait, limit - elapsed));
            if (FTimeout > 0) {
                auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastActivity).count();
                if (idle >= FTimeout)
                    abandon("Zeitüberschreitung beim Lesen");
                wait = int(std::min<long long>(wait, FTimeout - idle));
            }
        }
        curl_multi_poll(multi, nullptr, 0, wait, nullptr);
    }
}

void HttpClient::ThrowTransferError(CURLcode code)
{
    long osErrno = 0;
    curl_easy_getinfo(FEasy.get(), CURLINFO_OS_ERRNO, &osErrno);
    // A broken connection is not kept.
    FMulti.reset();
    if (FMalformed)
        Fail("Ungültige Antwort des Servers");
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        FailSocket(11001, "Host nicht gefunden.");
    case CURLE_COULDNT_CONNECT: {
        SocketError error = SocketErrorOf(osErrno);
        FailSocket(error.Number, error.Text);
    }
    case CURLE_OPERATION_TIMEDOUT:
        Fail(FConnected ? "Zeitüberschreitung beim Lesen" : "Zeitüberschreitung der Verbindung.");
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WRITE_ERROR:
        if (code == CURLE_FILESIZE_EXCEEDED || FBodyTooLarge)
            Fail("Die Antwort ist größer als " + std::to_string(FMaxBodySize >> 20) + " MiB und wird nicht gelesen.");
        break;
    case CURLE_PROXY:
        // The proxy refused the tunnel; its status line says why (e.g. 407).
        if (!FStatusLine.empty())
            throw Error(FStatusLine);
        break;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        Fail("Verbindung wurde vom Server geschlossen.");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        if (osErrno == ECONNRESET || osErrno == EPIPE)
            FailSocket(10054, "Verbindung vom Server zurückgesetzt.");
        Fail("Verbindung wurde vom Server geschlossen.");
    case CURLE_PEER_FAILED_VERIFICATION:
        Fail("Fehler beim Aufbau der TLS-Verbindung: Zertifikat des Servers abgelehnt.");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
        Fail("Fehler beim Aufbau der TLS-Verbindung.");
    case CURLE_WEIRD_SERVER_REPLY:
        Fail("Ungültige Antwort des Servers");
    case CURLE_UNSUPPORTED_PROTOCOL:
        // Once the request went out, this is an answer without an HTTP status line.
        if (FConnected)
            Fail("Ungültige Antwort des Servers");
        Fail("Ungültige URL.");
    case CURLE_URL_MALFORMAT:
        Fail("Ungültige URL.");
    default:
        break;
    }
    Fail(std::string("HTTP-Fehler: ") + (FCurlMessage[0] ? FCurlMessage : curl_easy_strerror(code)));
}

size_t HttpClient::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto* client = static_cast<HttpClient*>(self);
    size_t bytes = size * count;
    if (client->FBody.size() + bytes > client->FMaxBodySize) {
        client->FBodyTooLarge = true;
        return 0;
    }
    client->FBody.append(data, bytes);
    client->FReceived += bytes;
    return bytes;
}

size_t HttpClient::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto* client = static_cast<HttpClient*>(self);
    size_t bytes = size * count;
    client->FReceived += bytes;
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    // Every status line starts a new header block (100 Continue, a proxy's CONNECT answer); the last one counts.
    if (line.starts_with("HTTP/")) {
        client->FStatusLine = line;
        client->FContentLength.clear();
    } else if (line.size() > 15 && SameText(line.substr(0, 15), "Content-Length:")) {
        // Two different lengths leave it open where the body ends: an answer smuggled behind it could be taken
        // for the next one on the kept connection.
        std::string_view value = line.substr(15);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (!client->FContentLength.empty() && client->FContentLength != value) {
            client->FMalformed = true;
            return 0;
        }
        client->FContentLength = value;
    }
    return bytes;
}

int HttpClient::OnRequestReady(void* self, char*, char*, int, int)
{
    static_cast<HttpClient*>(self)->FConnected = true;
    return CURL_PREREQFUNC_OK;
}

} // namespace orvel
