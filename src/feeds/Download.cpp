#include "feeds/Download.h"

#include "platform/Config.h"
#include "transport/Handles.h"

#include <chrono>
#include <stdexcept>
#include <strings.h>

namespace orvel::feeds {
namespace {

using Clock = std::chrono::steady_clock;

struct Transfer
{
    Reply Answer;
    size_t MaxBytes = 0;
    bool TooLarge = false;
    std::chrono::seconds Timeout{};
    Clock::time_point LastData = Clock::now();
    bool Stalled = false;
};

// libcurl's low-speed limit averages over seconds and lets a trickle pass: the wait since the last byte counts.
int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto& transfer = *static_cast<Transfer*>(self);
    transfer.Stalled = Clock::now() - transfer.LastData > transfer.Timeout;
    return transfer.Stalled ? 1 : 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* self)
{
    auto& transfer = *static_cast<Transfer*>(self);
    transfer.LastData = Clock::now();
    if (transfer.Answer.Body.size() + size * count > transfer.MaxBytes) {
        transfer.TooLarge = true;
        return 0; // ends the transfer at once
    }
    transfer.Answer.Body.append(data, size * count);
    return size * count;
}

// The value of a header line "Name: value\r\n" when it is that header, else empty.
std::string HeaderValue(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':' || strncasecmp(line.data(), name.data(), name.size()))
        return {};
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
        value.remove_suffix(1);
    return std::string(value);
}

size_t OnHeader(char* data, size_t size, size_t count, void* self)
{
    static_cast<Transfer*>(self)->LastData = Clock::now();
    auto& answer = static_cast<Transfer*>(self)->Answer;
    const std::string_view line(data, size * count);
    // Each answer of a redirect chain brings its own headers; only the last one's count.
    if (line.starts_with("HTTP/")) {
        answer.Etag.clear();
        answer.LastModified.clear();
    } else if (std::string etag = HeaderValue(line, "ETag"); !etag.empty()) {
        answer.Etag = std::move(etag);
    } else if (std::string modified = HeaderValue(line, "Last-Modified"); !modified.empty()) {
        answer.LastModified = std::move(modified);
    }
    return size * count;
}

std::string Reason(CURLcode code, const Request& request, const char* detail)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "Rechner nicht gefunden";
    case CURLE_COULDNT_CONNECT:
        return "keine Verbindung";
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:
        return "Zeitüberschreitung: " + std::to_string(request.Timeout) + " s ohne Daten oder Übertragung nicht in " +
               std::to_string(request.Timeout * 10) + " s vollständig";
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WRITE_ERROR:
        return "größer als " + std::to_string(request.MaxBytes >> 20) + " MiB";
    case CURLE_TOO_MANY_REDIRECTS:
        return "zu viele Weiterleitungen";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "Zertifikat nicht vertrauenswürdig";
    case CURLE_PARTIAL_FILE:
        return "Übertragung abgebrochen, Datei unvollständig";
    default:
        return std::string("Übertragungsfehler: ") + (*detail ? detail : curl_easy_strerror(code));
    }
}

} // namespace

Reply Download(const Request& request)
{
    CurlHandle easy(curl_easy_init());
    if (!easy)
        throw std::runtime_error(request.Url + ": libcurl nicht verfügbar");
    Transfer transfer;
    transfer.MaxBytes = request.MaxBytes;
    transfer.Timeout = std::chrono::seconds(request.Timeout);
    curl_slist* lines = nullptr;
    if (!request.Etag.empty())
        lines = curl_slist_append(lines, ("If-None-Match: " + request.Etag).c_str());
    if (!request.LastModified.empty())
        lines = curl_slist_append(lines, ("If-Modified-Since: " + request.LastModified).c_str());
    const CurlList headers(lines);
    char message[CURL_ERROR_SIZE] = {};
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, request.Url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "orvelwddx-service");
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, message);
    // The roots every other HTTPS client of this program trusts.
    const std::string roots = config::RootStore();
    curl_easy_setopt(handle, CURLOPT_CAINFO, roots.c_str());
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, long(request.Timeout));
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, long(request.Timeout) * 10);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.MaxBytes));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    const CURLcode code = curl_easy_perform(handle);
    if (code != CURLE_OK)
        throw std::runtime_error(
            request.Url + ": " +
            (transfer.TooLarge ? Reason(CURLE_FILESIZE_EXCEEDED, request, message) : Reason(code, request, message)));
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.Answer.Status);
    const char* effective = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective);
    transfer.Answer.Url = effective ? effective : request.Url;
    if (transfer.Answer.Status != 200 && transfer.Answer.Status != 304)
        throw std::runtime_error(transfer.Answer.Url + ": Antwort HTTP " + std::to_string(transfer.Answer.Status));
    return std::move(transfer.Answer);
}

} // namespace orvel::feeds
