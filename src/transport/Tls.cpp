#include "transport/Tls.h"

namespace orvel {
namespace {

// The lowest protocol version offered. TLS 1.0 and 1.1 are broken and refused by current servers; a deployment
// that must reach a legacy server lowers it here.
constexpr long kMinimumTlsVersion = CURL_SSLVERSION_TLSv1_2;

} // namespace

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
    if (!OnValidate)
        return true;
    int count = serverList ? sk_X509_num(serverList) : 0;
    if (count == 0)
        return OnValidate(serverCertificate);
    for (int i = count - 1; i >= 0; --i)
        if (!OnValidate(sk_X509_value(serverList, i)))
            return false;
    return true;
}

} // namespace orvel
