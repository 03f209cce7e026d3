#pragma once
// The maker's web service for account checks and the bank search, interface ITarvik (urn:TarvikIntf-ITarvik).
// Unlike the automation interface of the same name, every result comes back in the call: outputs are variables the
// caller clears before the call; those the answer carries are filled. Transport failures and SOAP faults throw
// (Error, SoapFault); result codes are the service's and never throw.

#include "soap/WebServices.h"
#include "transport/Soap.h"

#include <cstdint>
#include <memory>

// In a namespace of its own: the automation interface of the window's own objects has the same name.
namespace orvel::ITarvikUnit {

class ITarvik
{
public:
    virtual ~ITarvik() = default;

    virtual int32_t TestBlzKto(const WideString& UN, const WideString& PW, const WideString& Blz, const WideString& Kto,
                               const WideString& C, int32_t Id, const WideString& Name, WideString& ResultText,
                               WideString& BankName, WideString& NewBlz, WideString& Iban, WideString& Bic) = 0;
    virtual int32_t TestIban(const WideString& UN, const WideString& PW, const WideString& IbanIn, int32_t Id,
                             const WideString& Name, WideString& ResultText, WideString& BankName, WideString& NewBlz,
                             WideString& IbanOut, WideString& Bic) = 0;
    virtual int32_t TestIbanBic(const WideString& UN, const WideString& PW, const WideString& IbanIn,
                                const WideString& BicIn, int32_t Id, const WideString& Name, WideString& ResultText,
                                WideString& BankNameIban, WideString& BankNameBic, WideString& NewBlz,
                                WideString& IbanOut, WideString& BicOut, int32_t& ServiceSCT, int32_t& ServiceSDD,
                                int32_t& ServiceB2B) = 0;
    // No return value: whatever "return" the service sends is not read.
    virtual void TestBic(const WideString& UN, const WideString& PW, const WideString& Bic, WideString& BankName,
                         int32_t& ServiceSCT, int32_t& ServiceSDD, int32_t& ServiceB2B) = 0;
    virtual int32_t TestCc(const WideString& UN, const WideString& PW, const WideString& Cc,
                           WideString& ResultText) = 0;
    virtual TStringDynArray Search(const WideString& UN, const WideString& PW, const WideString& SearchString,
                                   const WideString& C, int32_t Fragments) = 0;
};

// The interface of a SOAP proxy object, which keeps endpoint, proxy, user name and password; the interface keeps
// the object alive. Without an object a new one is made.
std::shared_ptr<ITarvik> GetITarvik(std::shared_ptr<SoapClient> HTTPRIO);

} // namespace orvel::ITarvikUnit
