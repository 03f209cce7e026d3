#pragma once
// The HTML start page at "/": what the service is, its result codes, the data in use and where it comes from.

#include "rules/PostalData.h"
#include "rules/TarvikChecks.h"
#include "service/Users.h"

#include <string>

namespace orvel::service {

// UTF-8 HTML, made once at start.
std::string StartPage(const rules::TarvikChecks& checks, const rules::PostalData& postal, const std::string& postalFile,
                      const Users& users);

} // namespace orvel::service
