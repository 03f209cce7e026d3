#include "transport/Tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace orvel {
namespace {

// The lowest protocol version offered. TLS 1.0 and 1.1 are broken and refused by current servers; a deployment
// that must reach a legacy server lowers it here.
constexpr long kMinimumTlsVersion = CURL_SSLVERSION_TLSv1_2;

// Issuer and subject are the same name, and the key identifiers, where both are given, name the same key.
bool SelfIssued(X509* certificate)
{
    if (X509_NAME_cmp(X509_get_issuer_name(certificate), X509_get_subject_name(certificate)) != 0)
        return false;
    const ASN1_OCTET_STRING* authorityKey = X509_get0_authority_key_id(certificate);
    const ASN1_OCTET_STRING* subjectKey = X509_get0_subject_key_id(certificate);
    return !authorityKey || !subjectKey || ASN1_OCTET_STRING_cmp(authorityKey, subjectKey) == 0;
}

ValidityReasons DateReasons(X509* certificate)
{
    ValidityReasons reasons = 0;
    if (X509_cmp_current_time(X509_get0_notBefore(certificate)) > 0)
        reasons |= vrNotYetValid;
    if (X509_cmp_current_time(X509_get0_notAfter(certificate)) < 0)
        reasons |= vrExpired;
    return reasons;
}

} // namespace

bool SignatureVerifiedBy(X509* certificate, X509* signer)
{
    ERR_set_mark(); // a failed check leaves errors that a running handshake must not see
    EVP_PKEY* key = X509_get0_pubkey(signer);
    bool verified = key && X509_verify(certificate, key) == 1;
    ERR_pop_to_mark();
    return verified;
}

void CertificateStorage::Open(const std::string& pemFile)
{
    FFile = pemFile;
    FContent.reset();
}

std::shared_ptr<const CertificateStorage::Content> CertificateStorage::Load(const std::string& pemFile)
{
    auto content = std::make_shared<Content>();
    std::unique_ptr<FILE, Deleter<std::fclose>> file(std::fopen(pemFile.c_str(), "rb"));
    if (!file)
        return content;
    std::string pem;
    char buffer[65536];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, file.get()))
        pem.append(buffer, n);
    if (std::ferror(file.get()))
        return content; // e.g. a directory
    ERR_set_mark();
    std::unique_ptr<BIO, Deleter<BIO_free_all>> in(BIO_new_mem_buf(pem.data(), int(pem.size())));
    if (in) {
        while (X509* certificate = PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr)) {
            // Fills the certificate's cached extensions now, so that sharing threads only ever read it.
            X509_check_purpose(certificate, -1, 0);
            content->Certificates.emplace_back(certificate);
        }
        // Reading ends with "no start line" at the end of the file; anything else means the file is damaged.
        unsigned long last = ERR_peek_last_error();
        content->Available = ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
        if (!content->Available)
            content->Certificates.clear();
    }
    ERR_pop_to_mark();
    return content;
}

const CertificateStorage::Content& CertificateStorage::Read() const
{
    if (FContent)
        return *FContent;
    // One parse of a file per process while it stays the same; objects on other threads share the result.
    struct Cached
    {
        struct stat Status;
        std::shared_ptr<const Content> Roots;
    };
    static std::mutex mutex;
    static std::map<std::string, Cached> cache;
    struct stat status{};
    if (::stat(FFile.c_str(), &status) != 0) {
        FContent = std::make_shared<const Content>();
        return *FContent;
    }
    const std::lock_guard lock(mutex);
    auto it = cache.find(FFile);
    const auto same = [&status](const struct stat& before) {
        return before.st_dev == status.st_dev && before.st_ino == status.st_ino && before.st_size == status.st_size &&
               before.st_mtim.tv_sec == status.st_mtim.tv_sec && before.st_mtim.tv_nsec == status.st_mtim.tv_nsec;
    };
    if (it == cache.end() || !same(it->second.Status))
        it = cache.insert_or_assign(FFile, Cached{status, Load(FFile)}).first;
    FContent = it->second.Roots;
    return *FContent;
}

bool CertificateStorage::Holds(X509* certificate) const
{
    ERR_set_mark();
    const auto& roots = Certificates();
    bool held = std::any_of(roots.begin(), roots.end(),
                            [certificate](const X509Handle& root) { return X509_cmp(root.get(), certificate) == 0; });
    ERR_pop_to_mark();
    return held;
}

void TlsHandler::Judge(X509* certificate)
{
    if (!FRoots || !FRoots->Available()) {
        Report(CertificateVerdict::StorageError, 0);
        return;
    }
    ERR_set_mark(); // malformed extensions or dates leave errors behind
    ValidityReasons reasons = DateReasons(certificate);
    CertificateVerdict verdict = CertificateVerdict::Invalid;
    const bool selfIssued = SelfIssued(certificate);
    if (selfIssued && SignatureVerifiedBy(certificate, certificate)) {
        verdict = CertificateVerdict::SelfSigned;
    } else {
        bool issuerKnown = false;
        X509_NAME* issuer = X509_get_issuer_name(certificate);
        for (const auto& root : FRoots->Certificates()) {
            if (X509_cmp(root.get(), certificate) == 0) {
                verdict = CertificateVerdict::Trusted;
                break;
            }
            if (X509_NAME_cmp(X509_get_subject_name(root.get()), issuer) == 0) {
                issuerKnown = true;
                if (SignatureVerifiedBy(certificate, root.get())) {
                    verdict = CertificateVerdict::Trusted;
                    break;
                }
            }
        }
        if (verdict == CertificateVerdict::Invalid) {
            if (selfIssued || issuerKnown)
                reasons |= vrInvalidSignature;
            if (!issuerKnown)
                reasons |= vrUnknownCA;
        }
    }
    ERR_pop_to_mark();
    Report(verdict, reasons);
}

void TlsHandler::Apply(CURL* easy)
{
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, kMinimumTlsVersion);
    // The decision is ours (VerifyChainCallback); libcurl must neither check the chain nor the host name.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    // A resumed session skips the certificate check; every connection is judged.
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &TlsHandler::ContextCallback);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
}

CURLcode TlsHandler::ContextCallback(CURL*, void* sslCtx, void* self)
{
    auto* ctx = static_cast<SSL_CTX*>(sslCtx);
    // SSL_VERIFY_PEER makes OpenSSL honour the callback's answer; with libcurl's VERIFY_NONE it would be ignored.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(ctx, &TlsHandler::VerifyChainCallback, self);
    return CURLE_OK;
}

int TlsHandler::VerifyChainCallback(X509_STORE_CTX* ctx, void* self)
{
    auto* handler = static_cast<TlsHandler*>(self);
    bool accepted = handler->ValidateList(X509_STORE_CTX_get0_untrusted(ctx), X509_STORE_CTX_get0_cert(ctx));
    if (!accepted)
        X509_STORE_CTX_set_error(ctx, X509_V_ERR_APPLICATION_VERIFICATION);
    return accepted ? 1 : 0;
}

bool TlsHandler::ValidateList(STACK_OF(X509) * serverList, X509* serverCertificate)
{
    if (!FOnValidate)
        return true;
    // The list as the server sent it, its own certificate first; it is judged from the other end.
    int count = serverList ? sk_X509_num(serverList) : 0;
    if (count == 0)
        return Present(serverCertificate, true);
    for (int i = count - 1; i >= 0; --i)
        if (!Present(sk_X509_value(serverList, i), i == 0))
            return false;
    return true;
}

bool TlsHandler::Present(X509* certificate, bool serverCertificate)
{
    Judge(certificate);
    FAtServerCertificate = serverCertificate;
    bool accepted = FOnValidate(certificate);
    FAtServerCertificate = false;
    return accepted;
}

} // namespace orvel
