#include "platform/Config.h"

#include <cstdlib>

namespace orvel::config {
namespace {

std::string FromEnvironment(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    return value && *value ? value : fallback;
}

} // namespace

std::string WddxHost()
{
    return FromEnvironment("ORVELWDDX_HOST", "wddx.orvel.de");
}

std::string RootStore()
{
    return FromEnvironment("ORVELWDDX_ROOT_STORE", "/etc/ssl/certs/ca-certificates.crt");
}

} // namespace orvel::config
