#pragma once
// The checking page at "/": a form per check that asks the JSON interface, and what the service is, its result
// codes, the data in use and where it comes from.

#include "rules/PostalData.h"
#include "rules/TarvikChecks.h"
#include "service/BankData.h"
#include "service/Http.h"
#include "service/Users.h"

#include <string>

namespace orvel::service {

// UTF-8 HTML, the whole page.
std::string StartPage(const BankSnapshot& snapshot, const rules::PostalData& postal, const std::string& postalFile,
                      const Users& users);
// What another machine sees without a login: the forms and that it needs one; nothing about the data.
std::string LoginStartPage(const Users& users);

// "/": the whole page for this machine and those who logged in (see Access), else LoginStartPage. The page is made
// per request, as the bank directory may have been switched since the start. Its style and script are served under
// names that change with their content.
void AddStartPage(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
                  const Users& users);

} // namespace orvel::service
