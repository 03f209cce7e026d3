#pragma once
// POST /api/v1/batch: CSV or NDJSON in (by Content-Type), NDJSON or CSV out (by Accept), one answer per input row
// with its line number, in input order; the body is checked as it arrives and the answer kept in a spool file, so
// that memory stays bounded whatever the size.

#include "rules/PostalData.h"
#include "service/BankData.h"
#include "service/Http.h"
#include "service/Users.h"

namespace orvel::service {

void AddBatch(Router& router, const BankData& banks, const rules::PostalData& postal, const Users& users);

} // namespace orvel::service
