#pragma once
// The connection and request cycle shared by the account and address check objects.

#include "platform/Codepage.h"
#include "transport/HttpClient.h"
#include "transport/Tls.h"
#include "wddx/Certs.h"
#include "wddx/ResultCodes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvel {

class TWddxCheckObject
{
public:
    virtual ~TWddxCheckObject();
    TWddxCheckObject(const TWddxCheckObject&) = delete;
    TWddxCheckObject& operator=(const TWddxCheckObject&) = delete;

    WideString Host() const { return Widen(FHost); }
    void SetHost(const WideString& Value);
    int32_t SSLMode() const { return FSSLMode; }
    void SetSSLMode(int32_t Value);
    int32_t Timeout() const { return FHttpClient->ReadTimeout(); }
    void SetTimeout(int32_t Value) { FHttpClient->SetReadTimeout(Value); }
    void SetProxy(const WideString& aProxy, int32_t aPort, const WideString& aUser = {}, const WideString& aPass = {});
    int32_t Result() const { return FResult; }
    WideString Resulttext() const { return Widen(FResulttext); }

    // The certificate checker, for the post-check and its diagnosis.
    TCerts& CertChecker();

    // A byte-for-byte form of a query value: blank as "+", letters and digits kept, everything else "%XX".
    static std::string EncodeQueryValue(std::string_view Value);
    // A value the service takes as typed. Only what cannot stand in a request line (blanks, control and non-ASCII
    // bytes) and "#", which would end the query, are percent-encoded.
    static std::string RawQueryValue(std::string_view Value);

protected:
    TWddxCheckObject();

    std::string GetScheme() const { return FSSLMode != 0 ? "https" : "http"; }
    // Runs one request cycle. Steps fetches and reads the reply; when it throws, Result becomes
    // result::kRequestFailed and OnFailure receives the message with the certificate checker's suffix. When the
    // handshake ended because the server's certificate names another host, Result becomes
    // result::kCertificatePostCheck and OnFailure and Resulttext receive the post-check's text instead.
    void RequestCycle(const std::function<void()>& Steps, const std::function<void(const std::string& M)>& OnFailure);
    // One GET of GetScheme() + "://" + Host + PathAndQuery.
    std::string Fetch(const std::string& PathAndQuery);
    void CheckCertificateResult();

    int32_t FResult = 0;
    std::string FResulttext;

private:
    void PrepareConnection();
    bool CertificateValidate(X509* Certificate);
    void JudgeUnjudged();

    std::unique_ptr<HttpClient> FHttpClient;
    std::unique_ptr<TCerts> FCertChecker;
    std::unique_ptr<TlsHandler> FTlsHandler;
    std::string FHost;
    uint8_t FSSLMode = 0;
    // The post-check's text when it ended the handshake in mode 1, before the query was sent.
    std::string FRefusedName;
    // Mode 2 lets every certificate through, so the roots are read only once a failure's message, another mode or
    // a caller asks for the checker's verdict; until then the certificates presented wait here, in order.
    std::vector<X509Handle> FUnjudged;
    bool FNamedSinceUnjudged = false; // SetServerName came after the last of them and cleared the diagnosis

};

} // namespace orvel
