#pragma once
// The server certificate checker of a WDDX check object. The request cycle uses only SetServerName,
// ValidateCertificate, ErrorSuffix, CheckServerName and RootStore.

#include "transport/Tls.h"

#include <cstdint>
#include <string>

namespace orvel {

class TCerts
{
public:
    // Opens RootStore on the configured PEM file of trusted roots.
    TCerts();
    TCerts(const TCerts&) = delete;
    TCerts& operator=(const TCerts&) = delete;

    // Remembers the name the certificate must carry and clears the last diagnosis.
    void SetServerName(const std::string& Name);
    // Judges a certificate the handshake presents by the verdict the handler has just computed for it; records a
    // diagnosis when it is not acceptable.
    bool ValidateCertificate(X509* Certificate, const TlsHandler& Handler);
    // " (" + diagnosis + ")", or empty text when there is none.
    std::string ErrorSuffix() const;
    // result::kCertificatePostCheck and a text when there is a diagnosis or LastCertificate is issued to another name than ServerName;
    // otherwise both stay as they are.
    void CheckServerName(int32_t& Result, std::string& Resulttext) const;
    // The common name of LastCertificate's subject, or empty text.
    std::string CertificateName() const;

    CertificateStorage& RootStore() { return FRootStore; }
    // The last certificate accepted as trusted or as signed by the one accepted before it.
    X509* LastCertificate() const { return FLastCertificate.get(); }
    const std::string& ServerName() const { return FServerName; }
    const std::string& Diagnosis() const { return FDiagnosis; }

private:
    void Keep(X509* Certificate);

    CertificateStorage FRootStore;
    X509Handle FLastCertificate;
    std::string FServerName;
    std::string FDiagnosis;
};

} // namespace orvel
