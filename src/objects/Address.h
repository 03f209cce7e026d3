#pragma once
// The address check object behind the coclass Address.

#include "wddx/WddxCheckObject.h"
#include "wddx/WddxValue.h"

namespace orvel {

class TWddxDocument;

class TAddress : public TWddxCheckObject
{
public:
    TAddress();

    void Check(const WideString& aUser, const WideString& aPass, const WideString& aPlz, const WideString& aOrt);
    void CheckStr(const WideString& aUser, const WideString& aPass, const WideString& aPlz, const WideString& aOrt,
                  const WideString& aStr);
    void CheckStrHnr(const WideString& aUser, const WideString& aPass, const WideString& aPlz, const WideString& aOrt,
                     const WideString& aStr, const WideString& aHnr);
    void CheckPof(const WideString& aUser, const WideString& aPass, const WideString& aPlz, const WideString& aOrt,
                  const WideString& aPof);
    // Asks for the type of a postal code; leaves the street and place fields of the last check alone.
    void GetPlzType(const WideString& aUser, const WideString& aPass, const WideString& aPlz);

    int32_t Rewrite() const { return FRewrite; }
    void SetRewrite(int32_t Value) { FRewrite = Value; }
    WideString Rewritten() const { return Widen(FRewritten); }
    WideString Str46() const { return Widen(FStr46); }
    WideString Str22() const { return Widen(FStr22); }
    WideString Ortsteil() const { return Widen(FOrtsteil); }
    WideString PlzOut() const { return Widen(FPlzOut); }
    // Element 0 is the count, 1 to n the entries; empty text for anything else.
    WideString Orte(int32_t Index) const { return ListElement(FOrteList, Index); }
    WideString OrteString() const { return ListString(FOrteList); }
    WideString AlteOrte(int32_t Index) const { return ListElement(FAlteOrteList, Index); }
    WideString AlteOrteString() const { return ListString(FAlteOrteList); }

private:
    void RunCheck(const std::string& User, const std::string& Pass, const std::string& Plz, const std::string& Ort,
                  const std::string& Str, const std::string& Hnr, const std::string& Pof);
    // Fetches PathAndQuery and hands the reply document to Read. A reply that cannot be read gives
    // result::kUnreadableReply with the reply's own non-empty "resulttext" (decoded when DecodeText), else the
    // reader's message; a failed request gives result::kRequestFailed. Both reset the lists.
    void Exchange(const std::string& PathAndQuery, const std::function<void(const TWddxDocument&)>& Read,
                  bool DecodeText = true);
    // The variable as decoded 8-bit text; empty text when it cannot be read as text.
    static std::string ReplyField(const TWddxDocument& Document, std::string_view Name);
    // The same without decoding entities.
    static std::string RawReplyField(const TWddxDocument& Document, std::string_view Name);
    void ClearOrte();

    int32_t FRewrite = 0;
    std::string FRewritten;
    std::string FStr46;
    std::string FStr22;
    std::string FOrtsteil;
    std::string FPlzOut;
    TWddxValue FOrteList;
    TWddxValue FAlteOrteList;
};

} // namespace orvel
