#pragma once
// VIES's checkVat (document/literal, the Commission's namespace and element names) at the path of the real
// service, answered from the offline VAT id rules: form and check digits only, no trader data.

#include "service/Http.h"
#include "service/Users.h"

namespace orvel::service {

inline constexpr const char* kViesPath = "/taxation_customs/vies/services/checkVatService";

// Without a users file only this machine is answered, as for the other families; VIES's form carries no user.
void AddVies(Router& router, const Users& users);

} // namespace orvel::service
