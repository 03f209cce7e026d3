#pragma once
// The account side on the wire: WDDX "/tarvik" (the function chosen by the query's keys, as the automation
// objects send them) and SOAP "/soap/ITarvik" (the web-services interface ITarvik).

#include "service/Http.h"
#include "service/TarvikChecks.h"
#include "service/Users.h"

namespace orvel::service {

// The handlers keep references: checks and users outlive the router.
void AddTarvik(Router& router, const TarvikChecks& checks, const Users& users);

// The WDDX answer to one "/tarvik" request, for tests without a server.
std::string TarvikWddx(const TarvikChecks& checks, const Users& users, const HttpRequest& request);

} // namespace orvel::service
