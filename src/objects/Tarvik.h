#pragma once
// The account check object behind the coclass Tarvik.

#include "wddx/WddxCheckObject.h"
#include "wddx/WddxValue.h"

namespace orvel {

class TTarvik : public TWddxCheckObject
{
public:
    TTarvik() = default;

    void TestBlzKto(const WideString& aUser, const WideString& aPass, const WideString& aBlz, const WideString& aKto,
                    const WideString& aLand, int32_t aId, const WideString& aName);
    void TestIban(const WideString& aUser, const WideString& aPass, const WideString& aIban, int32_t aId,
                  const WideString& aName);
    void TestIbanBic(const WideString& aUser, const WideString& aPass, const WideString& aIban,
                     const WideString& aBic, int32_t aId, const WideString& aName);
    void TestBic(const WideString& aUser, const WideString& aPass, const WideString& aBic);
    void TestCc(const WideString& aUser, const WideString& aPass, const WideString& aCc);
    // Searches the bank directory; Result is the number of banks found.
    void Search(const WideString& aUser, const WideString& aPass, const WideString& aSearchString,
                const WideString& aLand, int32_t aFragmentsFlag);

    WideString BankName() const { return Widen(FBankName); }
    WideString NewBlz() const { return Widen(FNewBlz); }
    WideString Iban() const { return Widen(FIban); }
    WideString Bic() const { return Widen(FBic); }
    WideString BicName() const { return Widen(FBicName); }
    int32_t BicSct() const { return FBicSct; }
    int32_t BicSdd() const { return FBicSdd; }
    int32_t BicB2b() const { return FBicB2b; }
    // Element 0 is the count, 1 to n the entries; empty text outside the list or before the first search.
    WideString Banken(int32_t Index) const { return ListElement(FBankenList, Index); }
    WideString BankenString() const { return ListString(FBankenList); }

private:
    static std::string Query(const WideString& aUser, const WideString& aPass);
    // The account-check steps shared by TestBlzKto, TestIban and TestIbanBic.
    void ReadAccountReply(const std::string& Reply);
    void ClearAccountFields(const std::string& M);
    void ReadBicReply(const std::string& Reply);
    void ClearBicFields(const std::string& M);
    void ClearBanken();

    std::string FBankName;
    std::string FNewBlz;
    std::string FIban;
    std::string FBic;
    std::string FBicName;
    int32_t FBicSct = 0;
    int32_t FBicSdd = 0;
    int32_t FBicB2b = 0;
    TWddxValue FBankenList; // no value until the first search
};

} // namespace orvel
