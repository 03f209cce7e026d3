#pragma once
// The JSON API's single checks, its status and its OpenAPI document: one path per row of rules/CheckTable (rows
// that share a path chosen by the parameters given), answering the WDDX result code and text with typed fields
// beside them; "/api/v1/vat/{id}?vies=true" asks the configured VIES address instead of the rules.

#include "rules/PostalData.h"
#include "service/BankData.h"
#include "service/Http.h"
#include "service/Users.h"

#include <string>
#include <string_view>

namespace orvel::service {

// The OpenAPI 3.1 document (data/openapi.json, compiled in).
std::string_view OpenApiDocument();

// The handlers keep references: everything passed outlives the router.
void AddApi(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
            const Users& users);

} // namespace orvel::service
