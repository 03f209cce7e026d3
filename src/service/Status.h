#pragma once
// "/status": the data in use and its age as JSON, for monitoring and for people who ask how current answers are.

#include "rules/BankDirectory.h"
#include "rules/PostalData.h"
#include "service/BankData.h"
#include "service/Http.h"
#include "service/Users.h"

#include <ctime>
#include <string>

namespace orvel::service {

// The data in use, each source with its edition: valid from and until, fetched at, and whether it is superseded.
std::string StatusJson(const BankSnapshot& snapshot, const rules::PostalData& postal, const std::string& postalFile,
                       std::time_t now);

// "/status" for this machine and those who logged in (see Access); 401 for other machines, 403 without a users file.
void AddStatus(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
               const Users& users);

} // namespace orvel::service
