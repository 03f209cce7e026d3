#include "wddx/Certs.h"

#include "platform/Config.h"

namespace orvel {

TCerts::TCerts() : FRootStore(config::RootStore()) {}

void TCerts::SetServerName(const std::string& Name)
{
    FServerName = Name;
    FDiagnosis.clear();
}

bool TCerts::ValidateCertificate(X509*, TlsHandler&)
{
    return true;
}

std::string TCerts::ErrorSuffix() const
{
    return FDiagnosis.empty() ? std::string() : " (" + FDiagnosis + ")";
}

void TCerts::CheckServerName(int32_t& Result, std::string& Resulttext) const
{
    if (!FDiagnosis.empty()) {
        Result = -250;
        Resulttext = FDiagnosis;
    }
}

} // namespace orvel
