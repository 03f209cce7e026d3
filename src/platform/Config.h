#pragma once
// Compiled-in deployment defaults, each overridable by an environment variable read when it is first needed.

#include <string>

namespace orvel::config {

std::string WddxHost();  // ORVELWDDX_HOST
std::string RootStore(); // ORVELWDDX_ROOT_STORE
// The services' own endpoints: only their answers are an official confirmation.
inline constexpr char kOfficialViesUrl[] = "https://ec.europa.eu/taxation_customs/vies/services/checkVatService";
inline constexpr char kOfficialBzstUrl[] = "https://api.evatr.vies.bzst.de/app/v1/abfrage";

std::string ViesUrl();   // ORVELWDDX_VIES_URL: the VIES checkVat endpoint
std::string BzstUrl();   // ORVELWDDX_BZST_URL: the BZSt's eVatR endpoint for confirmation requests
// ORVELWDDX_WEB_HOST: host of the web services, where the window's SOAP calls go; empty when unset, and the window's
// web services then follow its WDDX host.
std::string WebHost();
// ORVELWDDX_INFO_URL: the product information page the window links to; empty when unset, and the window then opens
// its README.
std::string InfoUrl();
bool JournalChecks(); // ORVELWDDX_JOURNAL_CHECKS=1: simple VAT id checks are journaled as confirmations are

} // namespace orvel::config
