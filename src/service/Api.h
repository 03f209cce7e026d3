#pragma once
// What every path of the JSON API (/api/v1/) shares: problem answers (RFC 9457) with a stable type per cause and a
// German title, JSON answers that are never cached, the allowed methods, JSON bodies and the HTTP Basic login.

#include "service/Http.h"
#include "service/Users.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <variant>

namespace orvel::service {

inline constexpr std::string_view kApiRoot = "/api/v1/";

// application/problem+json: "type" "/api/v1/problems/<cause>" (bad-input, unauthorized, forbidden, not-found,
// method-not-allowed, timeout, too-large, too-long, unsupported-media-type, throttled, internal, not-implemented,
// upstream, busy; "about:blank" for any other status), the cause's German "title", "status" and "detail".
// retryAfter: the Retry-After header (429 and 503), whole seconds.
HttpResponse ApiProblem(unsigned status, std::string_view detail, std::chrono::seconds retryAfter = {});

// application/json with Cache-Control: no-store.
HttpResponse ApiJson(unsigned status, const nlohmann::ordered_json& body);
HttpResponse ApiJson(unsigned status, std::string body);

// text as a JSON string, quotes included, written as nlohmann's dump writes it: UTF-8 kept as it is, the bytes of a
// broken sequence as one U+FFFD, control characters escaped (\n and its kin, else \u00XX).
void AppendJsonString(std::string& out, std::string_view text);

// nullopt when the request's method is one of allowed (GET allows HEAD); else 405 with Allow.
std::optional<HttpResponse> ApiMethod(const HttpRequest& request, std::initializer_list<std::string_view> allowed);

// The body as JSON (discarded when it is none), and whether an object in it names a key twice: the parser keeps
// the last, but which one the client meant cannot be told.
nlohmann::json ParseJson(std::string_view body, bool& duplicateKeys);

// The request's body as JSON: 415 when its Content-Type is not JSON, 400 when it does not parse or names a key twice.
std::variant<nlohmann::json, HttpResponse> ApiBody(const HttpRequest& request);

// nullopt when the request may be answered. With a users file every request logs in by HTTP Basic, from this
// machine too: 401 without (or with wrong) credentials, 429 with Retry-After while a lock-out holds; without one,
// this machine is answered and other machines get 403. A 401 carries the WWW-Authenticate challenge unless the
// request says X-Requested-With: a page that asks for the login in its own form must not get the browser's dialog.
std::optional<HttpResponse> ApiLogin(const Users& users, const HttpRequest& request);

} // namespace orvel::service
