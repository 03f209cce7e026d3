#pragma once
// The account side on the wire: WDDX "/tarvik" (the function chosen by the query's keys, as the automation
// objects send them) and SOAP "/soap/ITarvik" (the web-services interface ITarvik).

#include "service/BankData.h"
#include "service/Http.h"
#include "service/Users.h"

namespace orvel::service {

// The handlers keep references: the bank data and users outlive the router.
void AddTarvik(Router& router, const BankData& banks, const Users& users);

} // namespace orvel::service
