#pragma once
// The BZSt's eVatR REST interface (confirmation requests and the list of statuses) at the real paths, answered from
// the offline VAT id rules: form and check digits only, no register data, so no field is ever said to match.

#include "service/BusySwitch.h"
#include "service/Http.h"
#include "service/Users.h"

namespace orvel::service {

inline constexpr const char* kEvatrRequestPath = "/app/v1/abfrage";
inline constexpr const char* kEvatrStatusPath = "/app/v1/info/statusmeldungen";

// This machine is answered; another machine with HTTP Basic credentials of the users file (see Access), else 401
// (403 without a users file).
void AddEvatr(Router& router, const Users& users, BusySwitch& busy);

// A fresh identifier for one answer: 16 random hex digits after the prefix.
std::string FreshAnswerId(const char* prefix);

} // namespace orvel::service
