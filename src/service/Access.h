#pragma once
// The paths whose protocol names no user (VIES, eVatR, /status, the start page's details): this machine is answered
// as it always was; another machine sends HTTP Basic credentials of the users file, checked like every other login
// (remembered, throttled).

#include "service/Http.h"
#include "service/Users.h"

#include <optional>
#include <string>
#include <utility>

namespace orvel::service {

// Users::Admit for the request's client; kDenied for another machine over plain HTTP when the users refuse that.
int32_t AdmitRequest(const Users& users, std::string_view user, std::string_view password, const HttpRequest& request);

// Users::kAdmitted; kDenied for another machine without the right credentials; kLoopbackOnly for another machine
// when there is no users file to log in with.
int32_t BasicAdmission(const Users& users, const HttpRequest& request);

// User name and password of the request's HTTP Basic Authorization header; nullopt without a well-formed one.
std::optional<std::pair<std::string, std::string>> BasicCredentials(const HttpRequest& request);

// 401 with the challenge that makes a client send HTTP Basic credentials.
HttpResponse LoginRequired(const char* contentType, std::string body);

} // namespace orvel::service
