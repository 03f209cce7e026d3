#include "wddx/WddxCheckObject.h"

#include "platform/Config.h"
#include "wddx/Proxy.h"

namespace orvel {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Beyond this many, certificates presented in mode 2 are judged at once rather than kept.
constexpr size_t kMaxUnjudged = 64;

void AppendPercent(std::string& out, unsigned char byte)
{
    out.push_back('%');
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

} // namespace

TWddxCheckObject::TWddxCheckObject()
    : FHttpClient(std::make_unique<HttpClient>()), FCertChecker(std::make_unique<TCerts>()),
      FTlsHandler(std::make_unique<TlsHandler>()), FHost(config::WddxHost())
{
    FTlsHandler->SetRootStore(&FCertChecker->RootStore());
    FTlsHandler->SetValidateEvent([this](X509* certificate) { return CertificateValidate(certificate); });
}

TWddxCheckObject::~TWddxCheckObject()
{
    FHttpClient.reset();
    FTlsHandler.reset();
    FCertChecker.reset();
}

void TWddxCheckObject::SetHost(const WideString& Value)
{
    if (!Value.empty())
        FHost = Narrow(Value);
}

void TWddxCheckObject::SetSSLMode(int32_t Value)
{
    if (Value >= 0 && Value <= 2)
        FSSLMode = uint8_t(Value);
}

void TWddxCheckObject::SetProxy(const WideString& aProxy, int32_t aPort, const WideString& aUser,
                                const WideString& aPass)
{
    SetHttpProxy(*FHttpClient, Narrow(aProxy), aPort, Narrow(aUser), Narrow(aPass));
}

std::string TWddxCheckObject::EncodeQueryValue(std::string_view Value)
{
    std::string out;
    out.reserve(Value.size() * 3);
    for (char c : Value) {
        if (c == ' ')
            out.push_back('+');
        else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            out.push_back(c);
        else
            AppendPercent(out, static_cast<unsigned char>(c));
    }
    return out;
}

std::string TWddxCheckObject::RawQueryValue(std::string_view Value)
{
    std::string out;
    out.reserve(Value.size());
    for (char c : Value) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '#')
            AppendPercent(out, byte);
        else
            out.push_back(c);
    }
    return out;
}

TCerts& TWddxCheckObject::CertChecker()
{
    JudgeUnjudged();
    return *FCertChecker;
}

void TWddxCheckObject::JudgeUnjudged()
{
    if (FUnjudged.empty())
        return;
    FTlsHandler->SetRootStore(&FCertChecker->RootStore());
    for (const X509Handle& certificate : FUnjudged) {
        FTlsHandler->Judge(certificate.get());
        FCertChecker->ValidateCertificate(certificate.get(), *FTlsHandler);
    }
    FUnjudged.clear();
    if (FNamedSinceUnjudged)
        FCertChecker->SetServerName(FCertChecker->ServerName());
    FTlsHandler->SetRootStore(FSSLMode == 2 ? nullptr : &FCertChecker->RootStore());
}

void TWddxCheckObject::PrepareConnection()
{
    if (FSSLMode != 2)
        JudgeUnjudged();
    FHttpClient->SetTlsHandler(FSSLMode != 0 ? FTlsHandler.get() : nullptr);
    // Without roots the handler's own judgement costs nothing; CertificateValidate keeps the certificates instead.
    FTlsHandler->SetRootStore(FSSLMode == 2 ? nullptr : &FCertChecker->RootStore());
    // A connection whose certificate was let through in mode 2 must not carry a request of mode 1.
    FTlsHandler->SetConnectionPolicy(std::to_string(FSSLMode));
    FCertChecker->SetServerName(FHost);
    FNamedSinceUnjudged = true;
    FRefusedName.clear();
}

void TWddxCheckObject::RequestCycle(const std::function<void()>& Steps,
                                    const std::function<void(const std::string& M)>& OnFailure)
{
    PrepareConnection();
    try {
        Steps();
    } catch (const std::exception& error) {
        if (FRefusedName.empty()) {
            JudgeUnjudged();
            FResult = result::kRequestFailed;
            OnFailure(error.what() + FCertChecker->ErrorSuffix());
        } else {
            // The handshake ended before the query was sent; the caller sees the post-check's verdict.
            FResult = result::kCertificatePostCheck;
            OnFailure(FRefusedName);
            FResulttext = FRefusedName;
        }
    }
}

std::string TWddxCheckObject::Fetch(const std::string& PathAndQuery)
{
    return FHttpClient->Get(GetScheme() + "://" + FHost + PathAndQuery);
}

bool TWddxCheckObject::CertificateValidate(X509* Certificate)
{
    if (FSSLMode == 2) {
        X509_up_ref(Certificate);
        FUnjudged.emplace_back(Certificate);
        FNamedSinceUnjudged = false;
        if (FUnjudged.size() > kMaxUnjudged)
            JudgeUnjudged();
        return true;
    }
    const bool accepted = FCertChecker->ValidateCertificate(Certificate, *FTlsHandler);
    if (FSSLMode != 1)
        return true;
    if (accepted && FTlsHandler->AtServerCertificate()) {
        // The query carries the user's password: a server whose certificate names another host never receives it.
        int32_t result = 0;
        FCertChecker->CheckServerName(result, FRefusedName);
        return FRefusedName.empty();
    }
    return accepted;
}

void TWddxCheckObject::CheckCertificateResult()
{
    if (FSSLMode == 1)
        FCertChecker->CheckServerName(FResult, FResulttext);
}

} // namespace orvel
