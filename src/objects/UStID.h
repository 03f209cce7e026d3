#pragma once
// The VAT id check object behind the coclass UStID: one VIES checkVat call per check.

#include "objects/checkVatService.h"
#include "platform/Codepage.h"

#include <cstdint>
#include <memory>

namespace orvel {

class TUStID
{
public:
    TUStID();
    ~TUStID();
    TUStID(const TUStID&) = delete;
    TUStID& operator=(const TUStID&) = delete;

    // Result 0 valid, 1 not valid, 2 error; Resulttext holds the answer's six fields joined by "~" or the error.
    void Check(const WideString& aUStID);
    int32_t Result() const { return FResult; }
    WideString Resulttext() const { return FResulttext; }
    // An empty aProxy means the system's proxy configuration; user and password are taken in either case.
    void SetProxy(const WideString& aProxy, int32_t aPort, const WideString& aUser, const WideString& aPass);
    int32_t Timeout() const { return VatClient->ReceiveTimeout(); }
    void SetTimeout(int32_t Value) { VatClient->SetReceiveTimeout(Value); }

private:
    void RequestHook(const std::string& MethodName, WideString& Request);

    THTTPRIO2* VatClient; // owned by VatPort
    std::unique_ptr<checkVatPortType> VatPort;
    int32_t FResult = 0;
    // Kept wide: traders' names and addresses come in every script of the Union.
    WideString FResulttext;
};

} // namespace orvel
