#pragma once
// One GET of an official file: the seam the updater fetches through, so that tests hand it a loopback stand-in.

#include <cstddef>
#include <functional>
#include <string>

namespace orvel::feeds {

struct Request
{
    std::string Url;
    std::string Etag;         // sent as If-None-Match when not empty
    std::string LastModified; // sent as If-Modified-Since when not empty
    size_t MaxBytes = 0;      // a larger body is refused while it arrives
    unsigned Timeout = 30;    // seconds: connection set-up and every wait for data; the whole transfer ten times it
};

struct Reply
{
    long Status = 0;  // 200, or 304 when the conditional request found nothing new
    std::string Url;  // after redirects
    std::string Body; // empty for 304
    std::string Etag;
    std::string LastModified;
};

using Fetch = std::function<Reply(const Request&)>;

// libcurl: redirects followed (at most five, HTTP and HTTPS only), the proxy variables (http_proxy, https_proxy,
// no_proxy) honoured, the roots of config::RootStore(). Throws std::runtime_error with a German reason naming the
// address for a transport failure and for any final status but 200 and 304.
Reply Download(const Request& request);

} // namespace orvel::feeds
