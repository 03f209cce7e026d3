#pragma once
// The Result values a check object sets itself; every other value is the service's answer, passed on unchanged.

#include <cstdint>

namespace orvel::result {

// The request did not complete (no connection, time-out, HTTP error, refused certificate); Resulttext holds why.
inline constexpr int32_t kRequestFailed = -200;
// In SSLMode 1 the post-check of the server's certificate objected: a diagnosis, or it names another host.
inline constexpr int32_t kCertificatePostCheck = -250;
// A reply came but could not be read: no WDDX document, or a result field that is missing or no number.
inline constexpr int32_t kUnreadableReply = -300;

} // namespace orvel::result
