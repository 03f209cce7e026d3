#pragma once
// TLS for the HTTP client: the handshake asks our own code, not OpenSSL's chain verdict, whether to go on.

#include "transport/Handles.h"

#include <functional>
#include <string>

namespace orvel {

class TlsHandler
{
public:
    // Raised once per certificate of the server's list, from the root end to the server's own certificate;
    // false ends the handshake.
    using ValidateEvent = std::function<bool(X509* certificate)>;

    void SetRootStore(std::string pemFile) { RootStoreFile = std::move(pemFile); }
    const std::string& RootStore() const { return RootStoreFile; }
    void SetValidateEvent(ValidateEvent event) { OnValidate = std::move(event); }

    // Sets the TLS options of a transfer on the easy handle.
    void Apply(CURL* easy);

private:
    static CURLcode ContextCallback(CURL*, void* sslCtx, void* self);
    static int VerifyChainCallback(X509_STORE_CTX* ctx, void* self);
    bool ValidateList(STACK_OF(X509) * serverList, X509* serverCertificate);

    std::string RootStoreFile;
    ValidateEvent OnValidate;
};

} // namespace orvel
