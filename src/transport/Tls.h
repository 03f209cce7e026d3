#pragma once
// TLS for the HTTP client: the handshake asks our own code, not OpenSSL's chain verdict, whether to go on.

#include "transport/Handles.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvel {

// How a presented certificate stands against the root store. A handler may report other values; whoever reads
// the verdict treats them as errors of their own.
enum class CertificateVerdict : int {
    Trusted = 0,      // a root of the store signed it, or the store holds exactly this certificate
    SelfSigned = 1,   // issued by itself and its own key verifies it
    Invalid = 2,      // neither; the reasons say why
    StorageError = 3, // there is no store to judge against
};

// Why a certificate is not acceptable: a set of these bits.
using ValidityReasons = uint32_t;
enum ValidityReason : ValidityReasons {
    vrBadData = 1u << 0, // never set by our rules
    vrRevoked = 1u << 1, // never set by our rules
    vrNotYetValid = 1u << 2,
    vrExpired = 1u << 3,
    vrInvalidSignature = 1u << 4,
    vrUnknownCA = 1u << 5,
};

// True when the public key of Signer verifies the signature of Certificate.
bool SignatureVerifiedBy(X509* certificate, X509* signer);

// The trusted root certificates of a PEM file. The file is read when the storage is first consulted, so that an
// object that never makes a TLS connection never pays for parsing the system's bundle. What is read is shared,
// unchangeable, by every storage of the process that opens the same file, until the file changes.
class CertificateStorage
{
public:
    // Names the file and forgets what was read before.
    void Open(const std::string& pemFile);
    const std::string& File() const { return FFile; }

    // False when the file is missing or unreadable, or holds a damaged certificate.
    bool Available() const { return Read().Available; }
    const std::vector<X509Handle>& Certificates() const { return Read().Certificates; }
    // True when the storage holds a certificate with exactly this encoding.
    bool Holds(X509* certificate) const;

private:
    struct Content
    {
        std::vector<X509Handle> Certificates;
        bool Available = false;
    };
    const Content& Read() const;

    static std::shared_ptr<const Content> Load(const std::string& pemFile);

    std::string FFile;
    mutable std::shared_ptr<const Content> FContent;
};

class TlsHandler
{
public:
    // Raised once per certificate of the server's list, from the root end to the server's own certificate, after
    // the certificate has been judged (Verdict, Reasons); false ends the handshake.
    using ValidateEvent = std::function<bool(X509* certificate)>;

    void SetRootStore(const CertificateStorage* storage) { FRoots = storage; }
    void SetValidateEvent(ValidateEvent event) { FOnValidate = std::move(event); }

    // Judges a certificate against the root store; Verdict and Reasons hold the outcome until the next one.
    void Judge(X509* certificate);
    CertificateVerdict Verdict() const { return FVerdict; }
    ValidityReasons Reasons() const { return FReasons; }
    // True while the validate event is raised for the server's own certificate, the last one of a handshake.
    bool AtServerCertificate() const { return FAtServerCertificate; }

    // Connections made under one policy (e.g. how strictly their certificates were judged) are never reused under
    // another; the HTTP client keys its kept-alive connection on it.
    void SetConnectionPolicy(std::string policy) { FPolicy = std::move(policy); }
    const std::string& ConnectionPolicy() const { return FPolicy; }

    // Sets the TLS options of a transfer on the easy handle.
    void Apply(CURL* easy);

protected:
    // For handlers that report a verdict of their own making.
    void Report(CertificateVerdict verdict, ValidityReasons reasons)
    {
        FVerdict = verdict;
        FReasons = reasons;
    }

private:
    static CURLcode ContextCallback(CURL*, void* sslCtx, void* self);
    static int VerifyChainCallback(X509_STORE_CTX* ctx, void* self);
    bool ValidateList(STACK_OF(X509) * serverList, X509* serverCertificate);
    bool Present(X509* certificate, bool serverCertificate);

    const CertificateStorage* FRoots = nullptr;
    ValidateEvent FOnValidate;
    std::string FPolicy;
    CertificateVerdict FVerdict = CertificateVerdict::StorageError;
    ValidityReasons FReasons = 0;
    bool FAtServerCertificate = false;
};

} // namespace orvel
