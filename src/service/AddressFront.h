#pragma once
// The address side on the wire: WDDX "/address" (func=check and func=type, as the address object sends them) and
// SOAP "/soap/IAddress3" (the web-services interface IAddress3). The rules speak UTF-8; WDDX is Windows-1252.

#include "rules/PostalData.h"
#include "service/Http.h"
#include "service/Users.h"

namespace orvel::service {

// The handlers keep references: data and users outlive the router.
void AddAddress(Router& router, const rules::PostalData& data, const Users& users);

} // namespace orvel::service
