#include "wddx/Certs.h"

#include "platform/Codepage.h"
#include "platform/Config.h"
#include "platform/Text.h"
#include "wddx/ResultCodes.h"

#include <openssl/crypto.h>

namespace orvel {
namespace {

// Names of the reasons, in bit order.
constexpr const char* kReasonNames[] = {"vrBadData", "vrRevoked",          "vrNotYetValid",
                                        "vrExpired", "vrInvalidSignature", "vrUnknownCA"};

std::string CommonName(X509* certificate)
{
    X509_NAME* subject = X509_get_subject_name(certificate);
    int index = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (index < 0)
        return {};
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    if (length < 0)
        return {};
    std::string name = Narrow(FromUtf8(std::string_view(reinterpret_cast<const char*>(utf8), size_t(length))));
    OPENSSL_free(utf8);
    return name;
}

// A host as written in a URL, without its port; a certificate never names one.
std::string_view WithoutPort(std::string_view host)
{
    if (host.starts_with('[')) // an IPv6 address
        return host.substr(0, host.find(']') + 1);
    auto colon = host.find(':');
    return colon != std::string_view::npos && host.find(':', colon + 1) == std::string_view::npos
               ? host.substr(0, colon)
               : host;
}

} // namespace

TCerts::TCerts() : FLastCertificate(X509_new())
{
    if (!FLastCertificate)
        throw std::bad_alloc();
    FRootStore.Open(config::RootStore());
}

void TCerts::SetServerName(const std::string& Name)
{
    FServerName = Name;
    FDiagnosis.clear();
}

void TCerts::Keep(X509* Certificate)
{
    X509* copy = X509_dup(Certificate);
    if (!copy)
        throw std::bad_alloc();
    FLastCertificate.reset(copy);
}

bool TCerts::ValidateCertificate(X509* Certificate, const TlsHandler& Handler)
{
    const CertificateVerdict verdict = Handler.Verdict();
    const ValidityReasons reasons = Handler.Reasons();
    FDiagnosis.clear();
    switch (verdict) {
    case CertificateVerdict::Trusted:
        Keep(Certificate);
        return true;
    case CertificateVerdict::SelfSigned:
        // Anyone can make a self-signed certificate for any name: only one that the root store holds is trusted,
        // and it then stands for the server like a trusted one.
        if (FRootStore.Holds(Certificate)) {
            Keep(Certificate);
            return true;
        }
        FDiagnosis =
            Ansi("Selbstsigniertes Zertifikat \"") + CommonName(Certificate) + Ansi("\" nicht im Zertifikatsspeicher");
        return false;
    case CertificateVerdict::Invalid:
        if (reasons == vrUnknownCA) {
            // A link of the chain: the certificate accepted just before must have signed it.
            if (SignatureVerifiedBy(Certificate, FLastCertificate.get())) {
                Keep(Certificate);
                return true;
            }
            FDiagnosis = Ansi("Unterzeichner des Zertifikats \"") + CommonName(Certificate) + Ansi("\" nicht prüfbar");
            return false;
        }
        for (size_t bit = 0; bit < std::size(kReasonNames); ++bit)
            if (reasons & (1u << bit))
                FDiagnosis += std::string(kReasonNames[bit]) + "\r\n";
        return false;
    case CertificateVerdict::StorageError:
        FDiagnosis = "cvStorageError: Kein Zertifikatsspeicher zugreifbar";
        return false;
    }
    FDiagnosis = "cvUnknownError: Unbekannter Fehler " + std::to_string(static_cast<int>(verdict));
    return false;
}

std::string TCerts::ErrorSuffix() const
{
    return FDiagnosis.empty() ? std::string() : " (" + FDiagnosis + ")";
}

void TCerts::CheckServerName(int32_t& Result, std::string& Resulttext) const
{
    if (!FDiagnosis.empty()) {
        Result = result::kCertificatePostCheck;
        Resulttext = FDiagnosis;
        return;
    }
    const std::string name = CertificateName();
    if (!SameText(WithoutPort(FServerName), name)) {
        Result = result::kCertificatePostCheck;
        Resulttext = Ansi("Unterschiedliche Servernamen: Server heißt \"") + FServerName +
                     Ansi("\", aber Zertifikat ist auf \"") + name + Ansi("\" ausgestellt");
    }
}

std::string TCerts::CertificateName() const
{
    return CommonName(FLastCertificate.get());
}

} // namespace orvel
