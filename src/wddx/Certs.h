#pragma once
// The server certificate checker of a WDDX check object. The request cycle uses only SetServerName,
// ValidateCertificate, ErrorSuffix, CheckServerName and RootStore.

#include <openssl/x509.h>

#include <cstdint>
#include <string>

namespace orvel {

class TlsHandler;

class TCerts
{
public:
    TCerts();

    // Remembers the name the certificate must carry and clears the last diagnosis.
    void SetServerName(const std::string& Name);
    // Judges a certificate the handshake presents; records a diagnosis when it is not acceptable.
    bool ValidateCertificate(X509* Certificate, TlsHandler& Handler);
    // " (" + diagnosis + ")", or empty text when there is none.
    std::string ErrorSuffix() const;
    // After a successful request: -250 and a text when the certificate does not pass, otherwise unchanged.
    void CheckServerName(int32_t& Result, std::string& Resulttext) const;
    // The PEM file of trusted roots.
    const std::string& RootStore() const { return FRootStore; }

    const std::string& ServerName() const { return FServerName; }
    const std::string& Diagnosis() const { return FDiagnosis; }

private:
    std::string FRootStore;
    std::string FServerName;
    std::string FDiagnosis;
};

} // namespace orvel
