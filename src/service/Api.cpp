#include "service/Api.h"

#include "platform/Codepage.h"
#include "service/Access.h"

#include <strings.h>

#include <set>
#include <string>
#include <vector>

namespace orvel::service {
namespace {

struct Cause
{
    unsigned Status;
    const char* Type;
    const char* Title;
};

// Clients switch on the type; the titles are for people.
constexpr Cause kCauses[] = {
    {400, "bad-input", "Ungültige Eingabe"},
    {401, "unauthorized", "Anmeldung erforderlich"},
    {403, "forbidden", "Nur von diesem Rechner"},
    {404, "not-found", "Nicht gefunden"},
    {405, "method-not-allowed", "Methode nicht erlaubt"},
    {408, "timeout", "Zeitüberschreitung"},
    {413, "too-large", "Anfrage zu groß"},
    {414, "too-long", "Anfrage zu lang"},
    {415, "unsupported-media-type", "Nur JSON (Content-Type: application/json)"},
    {429, "throttled", "Zu viele fehlgeschlagene Anmeldungen"},
    {500, "internal", "Interner Fehler"},
    {501, "not-implemented", "Nicht unterstützt"},
    {502, "upstream", "Antwort der Gegenstelle unbrauchbar"},
    {503, "busy", "Dienst ausgelastet"},
};

bool IsJsonType(std::string_view type)
{
    type = type.substr(0, type.find(';'));
    while (!type.empty() && type.back() == ' ')
        type.remove_suffix(1);
    const size_t plus = type.rfind("+json");
    return (type.size() == 16 && strncasecmp(type.data(), "application/json", 16) == 0) ||
           (plus != std::string_view::npos && plus + 5 == type.size() &&
            strncasecmp(type.data(), "application/", 12) == 0);
}

// How many bytes from at are the longest start of a UTF-8 character (at least 1): what one U+FFFD stands for.
size_t BrokenLength(std::string_view text, size_t at)
{
    const auto b = static_cast<unsigned char>(text[at]);
    const size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 1;
    size_t k = 1;
    for (; k < length && at + k < text.size(); ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        const bool fits = k == 1 && b == 0xE0   ? next >= 0xA0 && next <= 0xBF
                          : k == 1 && b == 0xED ? next >= 0x80 && next <= 0x9F
                          : k == 1 && b == 0xF0 ? next >= 0x90 && next <= 0xBF
                          : k == 1 && b == 0xF4 ? next >= 0x80 && next <= 0x8F
                                                : (next & 0xC0) == 0x80;
        if (!fits)
            break;
    }
    return k;
}

} // namespace

void AppendJsonString(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    size_t plain = 0; // start of the bytes not yet copied
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80) {
            ++i;
            continue;
        }
        const size_t length = c < 0x80 ? 1 : Utf8CharLength(text, i);
        if (length > 1) {
            i += length;
            continue;
        }
        out.append(text.substr(plain, i - plain));
        if (c >= 0x80) {
            out.append("\xEF\xBF\xBD");
            i += BrokenLength(text, i);
            plain = i;
            continue;
        }
        const char* const shortForm = c == '"'    ? "\\\""
                                      : c == '\\' ? "\\\\"
                                      : c == '\b' ? "\\b"
                                      : c == '\t' ? "\\t"
                                      : c == '\n' ? "\\n"
                                      : c == '\f' ? "\\f"
                                      : c == '\r' ? "\\r"
                                                  : nullptr;
        if (shortForm)
            out.append(shortForm);
        else
            out.append("\\u00").append({kHex[c >> 4], kHex[c & 0xF]});
        plain = ++i;
    }
    out.append(text.substr(plain)).push_back('"');
}

HttpResponse ApiProblem(unsigned status, std::string_view detail, std::chrono::seconds retryAfter)
{
    const Cause* cause = nullptr;
    for (const Cause& known : kCauses)
        if (known.Status == status)
            cause = &known;
    nlohmann::ordered_json problem = {
        {"type", cause ? std::string(kApiRoot) + "problems/" + cause->Type : std::string("about:blank")}};
    if (cause)
        problem["title"] = cause->Title;
    problem["status"] = status;
    if (!detail.empty())
        problem["detail"] = detail;
    HttpResponse response{status, "application/problem+json; charset=utf-8",
                          problem.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
    response.Headers.emplace_back("Cache-Control", "no-store");
    if (retryAfter.count() > 0)
        response.Headers.emplace_back("Retry-After", std::to_string(retryAfter.count()));
    return response;
}

HttpResponse ApiJson(unsigned status, const nlohmann::ordered_json& body)
{
    HttpResponse response{status, "application/json; charset=utf-8",
                          body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

HttpResponse ApiJson(unsigned status, std::string body)
{
    HttpResponse response{status, "application/json; charset=utf-8", std::move(body)};
    response.Headers.emplace_back("Cache-Control", "no-store");
    return response;
}

std::optional<HttpResponse> ApiMethod(const HttpRequest& request, std::initializer_list<std::string_view> allowed)
{
    std::string allow;
    for (const std::string_view method : allowed) {
        if (method == request.Method || (method == "GET" && request.Method == "HEAD"))
            return std::nullopt;
        allow.append(allow.empty() ? "" : ", ").append(method);
        if (method == "GET")
            allow.append(", HEAD");
    }
    HttpResponse refusal = ApiProblem(405, "Erlaubt: " + allow);
    refusal.Headers.emplace_back("Allow", allow);
    return refusal;
}

nlohmann::json ParseJson(std::string_view body, bool& duplicateKeys)
{
    using json = nlohmann::json;
    std::vector<std::set<std::string>> objects;
    const auto seen = [&objects, &duplicateKeys](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start)
            objects.emplace_back();
        else if (event == json::parse_event_t::object_end && !objects.empty())
            objects.pop_back();
        else if (event == json::parse_event_t::key && !objects.empty())
            duplicateKeys = !objects.back().insert(parsed.get<std::string>()).second || duplicateKeys;
        return true;
    };
    return json::parse(body, seen, false);
}

std::variant<nlohmann::json, HttpResponse> ApiBody(const HttpRequest& request)
{
    const auto type = request.Header("Content-Type");
    if (!type || !IsJsonType(*type))
        return ApiProblem(415, "Der Körper muss JSON sein (Content-Type: application/json)");
    bool duplicateKeys = false;
    nlohmann::json body = ParseJson(request.Body, duplicateKeys);
    if (body.is_discarded())
        return ApiProblem(400, "Der Körper ist kein gültiges JSON");
    if (duplicateKeys)
        return ApiProblem(400, "Schlüssel doppelt im JSON-Körper");
    return body;
}

std::optional<HttpResponse> ApiLogin(const Users& users, const HttpRequest& request)
{
    if (users.Open())
        return request.Loopback ? std::nullopt
                                : std::optional(ApiProblem(403, "Ohne Benutzerdatei nur von diesem Rechner"));
    if (!request.Loopback && !request.Secure && users.RefusesPlainRemote())
        return ApiProblem(403, "Andere Rechner nur über HTTPS");
    const auto credentials = BasicCredentials(request);
    if (credentials && AdmitRequest(users, credentials->first, credentials->second, request) == Users::kAdmitted)
        return std::nullopt;
    if (credentials)
        if (const auto wait = users.LockedFor(credentials->first, request.Loopback, request.Client); wait.count() > 0)
            return ApiProblem(429, "Zu viele fehlgeschlagene Anmeldungen; später erneut versuchen", wait);
    HttpResponse refusal =
        ApiProblem(401, credentials ? "Benutzername oder Passwort falsch" : "Anmeldung mit HTTP Basic erforderlich");
    if (!request.Header("X-Requested-With"))
        refusal.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"OrvelWddx\", charset=\"UTF-8\"");
    return refusal;
}

} // namespace orvel::service
