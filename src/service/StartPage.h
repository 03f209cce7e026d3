#pragma once
// The HTML start page at "/": what the service is, its result codes, the data in use and where it comes from.

#include "rules/PostalData.h"
#include "rules/TarvikChecks.h"
#include "service/BankData.h"
#include "service/Http.h"
#include "service/Users.h"

#include <string>

namespace orvel::service {

// UTF-8 HTML.
std::string StartPage(const BankSnapshot& snapshot, const rules::PostalData& postal, const std::string& postalFile,
                      const Users& users);
// What another machine sees without a login: the service's name and that it needs one; nothing about its data.
std::string LoginStartPage();

// "/": the whole page for this machine and those who logged in (see Access), else LoginStartPage. The page is made
// per request, as the bank directory may have been switched since the start.
void AddStartPage(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
                  const Users& users);

} // namespace orvel::service
