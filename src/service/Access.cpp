#include "service/Access.h"

#include <optional>

namespace orvel::service {
namespace {

// Strict base64 (RFC 4648 with padding): anything else is no credentials at all.
std::optional<std::string> FromBase64(std::string_view text)
{
    if (text.size() % 4)
        return std::nullopt;
    const auto value = [](char c) {
        return c >= 'A' && c <= 'Z'   ? c - 'A'
               : c >= 'a' && c <= 'z' ? c - 'a' + 26
               : c >= '0' && c <= '9' ? c - '0' + 52
               : c == '+'             ? 62
               : c == '/'             ? 63
                                      : -1;
    };
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    std::string bytes;
    uint32_t bits = 0;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        const int digit = value(text[i]);
        if (digit < 0)
            return std::nullopt;
        bits = bits << 6 | uint32_t(digit);
        if (i % 4 == 3)
            bytes += {char(bits >> 16), char(bits >> 8), char(bits)};
    }
    if (padding == 1)
        bytes += {char(bits >> 10), char(bits >> 2)};
    else if (padding == 2)
        bytes += char(bits >> 4);
    return bytes;
}

bool StartsWithCaseless(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if ((text[i] | 0x20) != (prefix[i] | 0x20))
            return false;
    return true;
}

} // namespace

std::optional<std::pair<std::string, std::string>> BasicCredentials(const HttpRequest& request)
{
    const auto header = request.Header("Authorization");
    if (!header || !StartsWithCaseless(*header, "basic "))
        return std::nullopt;
    std::string_view encoded = header->substr(6);
    while (!encoded.empty() && encoded.front() == ' ')
        encoded.remove_prefix(1);
    const auto decoded = FromBase64(encoded);
    const size_t colon = decoded ? decoded->find(':') : std::string::npos;
    if (colon == std::string::npos)
        return std::nullopt;
    return std::pair{decoded->substr(0, colon), decoded->substr(colon + 1)};
}

int32_t BasicAdmission(const Users& users, const HttpRequest& request)
{
    if (request.Loopback)
        return Users::kAdmitted;
    if (users.Open())
        return Users::kLoopbackOnly;
    const auto credentials = BasicCredentials(request);
    if (!credentials)
        return Users::kDenied;
    return AdmitRequest(users, credentials->first, credentials->second, request);
}

int32_t AdmitRequest(const Users& users, std::string_view user, std::string_view password, const HttpRequest& request)
{
    if (!request.Loopback && !request.Secure && !users.Open() && users.RefusesPlainRemote())
        return Users::kDenied;
    return users.Admit(user, password, request.Loopback, request.Client);
}

HttpResponse LoginRequired(const char* contentType, std::string body)
{
    HttpResponse response{401, contentType, std::move(body)};
    response.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"OrvelWddx\"");
    return response;
}

} // namespace orvel::service
