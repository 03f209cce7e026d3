#pragma once
// The maker's web service for address checks, interface IAddress3 (urn:Address3Intf-IAddress3). Outputs are
// variables the caller clears before the call; those the answer carries are filled. The lists Orte and AlteOrte
// hold the places and former place names without a count element. Transport failures and SOAP faults throw
// (Error, SoapFault); result codes are the service's and never throw.

#include "soap/WebServices.h"
#include "transport/Soap.h"

#include <cstdint>
#include <memory>

namespace orvel {

class IAddress3
{
public:
    virtual ~IAddress3() = default;

    virtual int32_t CheckPlzOrt(const WideString& UN, const WideString& PW, const WideString& Plz,
                                const WideString& Ort, int32_t Rewrite, WideString& ResultText, WideString& Rewritten,
                                TStringDynArray& Orte, TStringDynArray& AlteOrte) = 0;
    virtual int32_t CheckPlzOrtStr(const WideString& UN, const WideString& PW, const WideString& Plz,
                                   const WideString& Ort, const WideString& Str, const WideString& Hnr, int32_t Rewrite,
                                   WideString& ResultText, WideString& Rewritten, WideString& Str46, WideString& Str22,
                                   WideString& Ortsteil, WideString& PlzOut, TStringDynArray& Orte,
                                   TStringDynArray& AlteOrte) = 0;
    virtual int32_t CheckPlzOrtPof(const WideString& UN, const WideString& PW, const WideString& Plz,
                                   const WideString& Ort, const WideString& Pof, int32_t Rewrite,
                                   WideString& ResultText, WideString& Rewritten, TStringDynArray& Orte,
                                   TStringDynArray& AlteOrte) = 0;
    virtual int32_t GetPlzType(const WideString& UN, const WideString& PW, const WideString& Plz,
                               WideString& ResultText) = 0;
};

// The interface of a SOAP proxy object, which keeps endpoint, proxy, user name and password; the interface keeps
// the object alive. Without an object a new one is made.
std::shared_ptr<IAddress3> GetIAddress3(std::shared_ptr<SoapClient> HTTPRIO);

} // namespace orvel
