#pragma once
// The VAT id check object behind the coclass UStID: one VIES checkVat call per check.

#include "objects/checkVatService.h"
#include "platform/Codepage.h"

#include <cstdint>
#include <memory>

namespace orvel {

namespace result {
// The Result of a VAT id check.
inline constexpr int32_t kVatValid = 0;
inline constexpr int32_t kVatInvalid = 1;
inline constexpr int32_t kVatError = 2; // no answer, a fault or an unreadable reply; Resulttext holds why
} // namespace result

class TUStID
{
public:
    TUStID();
    ~TUStID();
    TUStID(const TUStID&) = delete;
    TUStID& operator=(const TUStID&) = delete;

    // Result one of the codes above; Resulttext holds the answer's six fields joined by "~" or the error.
    void Check(const WideString& aUStID);
    int32_t Result() const { return FResult; }
    WideString Resulttext() const { return FResulttext; }
    // An empty aProxy means the system's proxy configuration; user and password are taken in either case.
    void SetProxy(const WideString& aProxy, int32_t aPort, const WideString& aUser, const WideString& aPass);
    int32_t Timeout() const { return VatClient->ReceiveTimeout(); }
    // The VIES endpoint the checks go to.
    std::string Url() const { return VatClient->URL(); }
    void SetTimeout(int32_t Value) { VatClient->SetReceiveTimeout(Value); }

private:
    void RequestHook(const std::string& MethodName, WideString& Request);
    // Appends the check just made to the journal; a check that cannot be recorded becomes a fault.
    void Record(const std::string& VatId, const std::string& Raw);

    THTTPRIO2* VatClient; // owned by VatPort
    std::unique_ptr<checkVatPortType> VatPort;
    int32_t FResult = 0;
    // Kept wide: traders' names and addresses come in every script of the Union.
    WideString FResulttext;
};

} // namespace orvel
