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
// makes its next answers the fault MS_MAX_CONCURRENT_REQ. A requester whose id is not valid gets
// INVALID_REQUESTER_INFO, a company type out of form INVALID_INPUT. The numbers of VIES's test service answer in
// any country: 100 valid (every field asked about matching, 1), 200 invalid, 201 INVALID_INPUT,
// 202 INVALID_REQUESTER_INFO, 300 SERVICE_UNAVAILABLE, 301 MS_UNAVAILABLE, 302 TIMEOUT, 400 VAT_BLOCKED,
// 401 IP_BLOCKED, 500 GLOBAL_MAX_CONCURRENT_REQ, 501 its _TIME form, 600 MS_MAX_CONCURRENT_REQ, 601 its _TIME form,
// and 603 SERVER_BUSY.
void AddVies(Router& router, const Users& users, BusySwitch& busy);
// VIES's answer to a request it cannot read.
HttpResponse ViesInvalidInput();

} // namespace orvel::service
