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

HttpClient::HttpClient() : Easy(curl_easy_init())
{
    if (!Easy)
        throw std::bad_alloc();
    Headers.reset(Append(nullptr, "Accept: text/html, */*"));
    Append(Headers.get(), "User-Agent: Mozilla/3.0 (compatible; Indy Library)"); // appends in place
}

HttpClient::~HttpClient()
{
    if (Multi)
        curl_multi_remove_handle(Multi.get(), Easy.get());
}

void HttpClient::SetProxyServer(const std::string& server)
{
    if (!SameText(server, Proxy.Server))
        DiscardProxyAuthentication();
    Proxy.Server = server;
}

void HttpClient::SetProxyPort(int32_t port)
{
    if (port != Proxy.Port)
        DiscardProxyAuthentication();
    Proxy.Port = port;
}

std::string HttpClient::ConnectionKey(const std::string& url) const
{
    // Scheme and host of the URL, TLS on or off and the policy its certificates were judged under, and the proxy.
    // Proxy credentials are left out: a change of them that counts goes through DiscardProxyAuthentication.
    auto schemeEnd = url.find("://");
    auto hostEnd = schemeEnd == std::string::npos ? std::string::npos : url.find_first_of("/?#", schemeEnd + 3);
    std::string key = url.substr(0, hostEnd);
    key += Tls ? "\n+tls " + Tls->ConnectionPolicy() + "\n" : "\n-tls\n";
    key += Proxy.Server + "\n" + std::to_string(Proxy.Port) + (Proxy.BasicAuthentication ? "\n+basic" : "\n-basic");
    return key;
}

void HttpClient::PrepareTransfer(const std::string& url, const std::string* postBody, curl_slist* headers)
{
    CURL* easy = Easy.get();
    const std::string key = ConnectionKey(url);
    if (Multi)
        curl_multi_remove_handle(Multi.get(), easy);
    if (!Multi || key != KeptConnection) {
        // A new multi handle drops the connection cache: nothing made under other settings is ever reused.
        Multi.reset(curl_multi_init());
        if (!Multi)
            throw std::bad_alloc();
        KeptConnection = key;
    }
    curl_easy_reset(easy);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    if (postBody) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postBody->data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(postBody->size()));
    }
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, CurlMessage);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpClient::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpClient::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &HttpClient::OnRequestReady);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxBodySize));
    if (Timeout > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(Timeout));
    // Without a handler of ours, "https" gets libcurl's own verification against the system's roots.
    if (Tls)
        Tls->Apply(easy);
    if (Proxy.Server.empty() && !UseSystemProxy) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else {
        if (!Proxy.Server.empty()) {
            curl_easy_setopt(easy, CURLOPT_PROXY, Proxy.Server.c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYTYPE, CURLPROXY_HTTP);
            curl_easy_setopt(easy, CURLOPT_PROXYPORT, long(Proxy.Port));
        }
        if (Proxy.BasicAuthentication) {
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, Proxy.Username.c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, Proxy.Password.c_str());
        }
    }
    Body.clear();
    StatusLine.clear();
    BodyTooLarge = false;
    Connected = false;
    Received = 0;
    CurlMessage[0] = '\0';
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

HttpReply HttpClient::Post(const std::string& url, const std::string& body,
                                const std::vector<std::string>& headers)
{
    return Perform(url, &body, headers);
}

HttpReply HttpClient::Perform(const std::string& url, const std::string* postBody,
                              const std::vector<std::string>& headers)
{
    CurlList extended;
    if (!headers.empty()) {
        for (curl_slist* item = Headers.get(); item; item = item->next)
            extended.reset(Append(extended.release(), item->data));
        for (const auto& header : headers)
            extended.reset(Append(extended.release(), header.c_str()));
        extended.reset(Append(extended.release(), "Expect:"));
    }
    PrepareTransfer(url, postBody, extended ? extended.get() : Headers.get());
    CURLM* multi = Multi.get();
    curl_multi_add_handle(multi, Easy.get());

    // The connection set-up is bounded by CURLOPT_CONNECTTIMEOUT_MS; from the moment the request is ready to
    // go, every wait for data is bounded by Timeout, measured from the last byte received.
    auto lastActivity = Clock::now();
    size_t receivedBefore = 0;
    bool wasConnected = false;
    CURLcode outcome = CURLE_OK;
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK)
            Fail(std::string("HTTP-Fehler: ") + curl_multi_strerror(mc));
        if (Connected && (!wasConnected || Received != receivedBefore))
            lastActivity = Clock::now();
        wasConnected = Connected;
        receivedBefore = Received;
        if (running == 0) {
            int pending = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &pending))
                if (message->msg == CURLMSG_DONE)
                    outcome = message->data.result;
            break;
        }
        long curlWait = -1;
        curl_multi_timeout(multi, &curlWait);
        int wait = curlWait < 0 ? 1000 : int(std::min(curlWait, 1000L));
        if (Connected && Timeout > 0) {
            auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastActivity).count();
            if (idle >= Timeout) {
                curl_multi_remove_handle(multi, Easy.get());
                Multi.reset(); // the stalled connection must not be reused
                Fail("Zeitüberschreitung beim Lesen");
            }
            wait = int(std::min<long long>(wait, Timeout - idle));
        }
        curl_multi_poll(multi, nullptr, 0, wait, nullptr);
    }
    curl_multi_remove_handle(multi, Easy.get());
    if (outcome != CURLE_OK)
        ThrowTransferError(outcome);

    HttpReply reply;
    curl_easy_getinfo(Easy.get(), CURLINFO_RESPONSE_CODE, &reply.Status);
    reply.StatusLine = std::move(StatusLine);
    reply.Body = std::move(Body);
    return reply;
}

void HttpClient::ThrowTransferError(CURLcode code)
{
    long osErrno = 0;
    curl_easy_getinfo(Easy.get(), CURLINFO_OS_ERRNO, &osErrno);
    // A broken connection is not kept.
    Multi.reset();
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        FailSocket(11001, "Host nicht gefunden.");
    case CURLE_COULDNT_CONNECT: {
        SocketError error = SocketErrorOf(osErrno);
        FailSocket(error.Number, error.Text);
    }
    case CURLE_OPERATION_TIMEDOUT:
        Fail(Connected ? "Zeitüberschreitung beim Lesen" : "Zeitüberschreitung der Verbindung.");
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WRITE_ERROR:
        if (code == CURLE_FILESIZE_EXCEEDED || BodyTooLarge)
            Fail("Die Antwort ist größer als " + std::to_string(MaxBodySize >> 20) + " MiB und wird nicht gelesen.");
        break;
    case CURLE_PROXY:
        // The proxy refused the tunnel; its status line says why (e.g. 407).
        if (!StatusLine.empty())
            throw Error(StatusLine);
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
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        Fail("Ungültige URL.");
    default:
        break;
    }
    Fail(std::string("HTTP-Fehler: ") + (CurlMessage[0] ? CurlMessage : curl_easy_strerror(code)));
}

size_t HttpClient::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto* client = static_cast<HttpClient*>(self);
    size_t bytes = size * count;
    if (client->Body.size() + bytes > client->MaxBodySize) {
        client->BodyTooLarge = true;
        return 0;
    }
    client->Body.append(data, bytes);
    client->Received += bytes;
    return bytes;
}

size_t HttpClient::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto* client = static_cast<HttpClient*>(self);
    size_t bytes = size * count;
    client->Received += bytes;
    std::string_view line(data, bytes);
    // Every status line starts a new header block (100 Continue, a proxy's CONNECT answer); the last one counts.
    if (line.starts_with("HTTP/")) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        client->StatusLine = line;
    }
    return bytes;
}

int HttpClient::OnRequestReady(void* self, char*, char*, int, int)
{
    static_cast<HttpClient*>(self)->Connected = true;
    return CURL_PREREQFUNC_OK;
}

} // namespace orvel
