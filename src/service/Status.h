#pragma once
// "/status": the data in use and its age as JSON, for monitoring and for people who ask how current answers are.

#include "rules/BankDirectory.h"
#include "rules/PostalData.h"

#include <ctime>
#include <string>

namespace orvel::service {

std::string StatusJson(const rules::BankDirectory& banks, const rules::PostalData& postal,
                       const std::string& postalFile, std::time_t now);

} // namespace orvel::service
