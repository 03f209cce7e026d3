#pragma once
// The BZSt's eVatR REST interface (confirmation requests and the list of statuses) at the real paths, answered from
// the offline VAT id rules: form and check digits only, no register data, so no field is ever said to match.

#include "service/BusySwitch.h"
#include "service/Http.h"
#include "service/Users.h"

namespace orvel::service {

inline constexpr const char* kEvatrRequestPath = "/app/v1/abfrage";
inline constexpr const char* kEvatrStatusPath = "/app/v1/info/statusmeldungen";
inline constexpr const char* kEvatrMemberStatesPath = "/app/v1/info/eu_mitgliedstaaten";

// This machine is answered; another machine with HTTP Basic credentials of the users file (see Access), else 401
// (403 without a users file). A requested id CC + "TEST" + four digits ("ATTEST2001") answers the status of those
// digits with its HTTP status and fields (evatr-0000 every field asked about matching, A; evatr-2002 and
// evatr-2006 with their validity dates), so that every status can be tried. Asking about some trader fields without
// both name and place answers evatr-0003.
void AddEvatr(Router& router, const Users& users, BusySwitch& busy);

// A fresh identifier for one answer: 16 random hex digits after the prefix.
std::string FreshAnswerId(const char* prefix);

} // namespace orvel::service
