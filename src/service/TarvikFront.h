#pragma once
// The account side on the wire: WDDX "/tarvik" (the function chosen by the query's keys, as the automation
// objects send them) and SOAP "/soap/ITarvik" (the web-services interface ITarvik).

#include "service/Http.h"
#include "service/TarvikChecks.h"
#include "service/Users.h"

namespace orvel::service {

// The handlers keep references: checks and users outlive the router.
void AddTarvik(Router& router, const TarvikChecks& checks, const Users& users);

} // namespace orvel::service
