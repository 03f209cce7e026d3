#include "platform/Config.h"

#include <cstdlib>

namespace orvel::config {
namespace {

// The local checking service answers WDDX and the web services on one address.
constexpr char kServiceHost[] = "127.0.0.1:8590";

std::string FromEnvironment(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

} // namespace

std::string WddxHost()
{
    return FromEnvironment("ORVELWDDX_HOST", kServiceHost);
}

std::string RootStore()
{
    return FromEnvironment("ORVELWDDX_ROOT_STORE", "/etc/ssl/certs/ca-certificates.crt");
}

std::string ViesUrl()
{
    // VIES redirects plain HTTP to HTTPS, so only the secure endpoint answers.
    return FromEnvironment("ORVELWDDX_VIES_URL", kOfficialViesUrl);
}

std::string BzstUrl()
{
    return FromEnvironment("ORVELWDDX_BZST_URL", kOfficialBzstUrl);
}

bool JournalChecks()
{
    return FromEnvironment("ORVELWDDX_JOURNAL_CHECKS", "0") == "1";
}

std::string WebHost()
{
    return FromEnvironment("ORVELWDDX_WEB_HOST", "");
}

std::string InfoUrl()
{
    return FromEnvironment("ORVELWDDX_INFO_URL", "");
}

} // namespace orvel::config
