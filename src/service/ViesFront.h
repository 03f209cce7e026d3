#pragma once
// VIES's checkVat (document/literal, the Commission's namespace and element names) at the path of the real
// service, answered from the offline VAT id rules: form and check digits only, no trader data.

#include "service/BusySwitch.h"
#include "service/Http.h"
#include "service/Users.h"

namespace orvel::service {

inline constexpr const char* kViesPath = "/taxation_customs/vies/services/checkVatService";

// This machine is answered; another machine with HTTP Basic credentials of the users file, as VIES's form carries
// no user (see Access).
// checkVatApprox is answered there too, with no trader data and every field asked about "not processed" (3); busy
// makes its next answers the fault MS_MAX_CONCURRENT_REQ.
void AddVies(Router& router, const Users& users, BusySwitch& busy);
// VIES's answer to a request it cannot read.
HttpResponse ViesInvalidInput();

} // namespace orvel::service
