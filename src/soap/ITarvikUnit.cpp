#include "soap/ITarvikUnit.h"

#include "soap/RpcCall.h"

namespace orvel::ITarvikUnit {
namespace {

const std::string kNamespace = "urn:TarvikIntf-ITarvik";

class TarvikPort final : public ITarvik
{
public:
    explicit TarvikPort(std::shared_ptr<SoapClient> client) : Client(std::move(client)) {}

    int32_t TestBlzKto(const WideString& UN, const WideString& PW, const WideString& Blz, const WideString& Kto,
                       const WideString& C, int32_t Id, const WideString& Name, WideString& ResultText,
                       WideString& BankName, WideString& NewBlz, WideString& Iban, WideString& Bic) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "TestBlzKto",
                {TextInput("UN", UN), TextInput("PW", PW), TextInput("Blz", Blz), TextInput("Kto", Kto),
                 TextInput("C", C), IntInput("Id", Id), TextInput("Name", Name)},
                &result,
                {{"ResultText", &ResultText},
                 {"BankName", &BankName},
                 {"NewBlz", &NewBlz},
                 {"Iban", &Iban},
                 {"Bic", &Bic}});
        return result;
    }

    int32_t TestIban(const WideString& UN, const WideString& PW, const WideString& IbanIn, int32_t Id,
                     const WideString& Name, WideString& ResultText, WideString& BankName, WideString& NewBlz,
                     WideString& IbanOut, WideString& Bic) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "TestIban",
                {TextInput("UN", UN), TextInput("PW", PW), TextInput("IbanIn", IbanIn), IntInput("Id", Id),
                 TextInput("Name", Name)},
                &result,
                {{"ResultText", &ResultText},
                 {"BankName", &BankName},
                 {"NewBlz", &NewBlz},
                 {"IbanOut", &IbanOut},
                 {"Bic", &Bic}});
        return result;
    }

    int32_t TestIbanBic(const WideString& UN, const WideString& PW, const WideString& IbanIn, const WideString& BicIn,
                        int32_t Id, const WideString& Name, WideString& ResultText, WideString& BankNameIban,
                        WideString& BankNameBic, WideString& NewBlz, WideString& IbanOut, WideString& BicOut,
                        int32_t& ServiceSCT, int32_t& ServiceSDD, int32_t& ServiceB2B) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "TestIbanBic",
                {TextInput("UN", UN), TextInput("PW", PW), TextInput("IbanIn", IbanIn), TextInput("BicIn", BicIn),
                 IntInput("Id", Id), TextInput("Name", Name)},
                &result,
                {{"ResultText", &ResultText},
                 {"BankNameIban", &BankNameIban},
                 {"BankNameBic", &BankNameBic},
                 {"NewBlz", &NewBlz},
                 {"IbanOut", &IbanOut},
                 {"BicOut", &BicOut},
                 {"ServiceSCT", &ServiceSCT},
                 {"ServiceSDD", &ServiceSDD},
                 {"ServiceB2B", &ServiceB2B}});
        return result;
    }

    void TestBic(const WideString& UN, const WideString& PW, const WideString& Bic, WideString& BankName,
                 int32_t& ServiceSCT, int32_t& ServiceSDD, int32_t& ServiceB2B) override
    {
        CallRpc(*Client, kNamespace, "TestBic", {TextInput("UN", UN), TextInput("PW", PW), TextInput("Bic", Bic)},
                std::nullopt,
                {{"BankName", &BankName},
                 {"ServiceSCT", &ServiceSCT},
                 {"ServiceSDD", &ServiceSDD},
                 {"ServiceB2B", &ServiceB2B}});
    }

    int32_t TestCc(const WideString& UN, const WideString& PW, const WideString& Cc, WideString& ResultText) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "TestCc", {TextInput("UN", UN), TextInput("PW", PW), TextInput("Cc", Cc)}, &result,
                {{"ResultText", &ResultText}});
        return result;
    }

    TStringDynArray Search(const WideString& UN, const WideString& PW, const WideString& SearchString,
                           const WideString& C, int32_t Fragments) override
    {
        TStringDynArray result;
        CallRpc(*Client, kNamespace, "Search",
                {TextInput("UN", UN), TextInput("PW", PW), TextInput("SearchString", SearchString), TextInput("C", C),
                 IntInput("Fragments", Fragments)},
                &result, {});
        return result;
    }

private:
    std::shared_ptr<SoapClient> Client;
};

} // namespace

std::shared_ptr<ITarvik> GetITarvik(std::shared_ptr<SoapClient> HTTPRIO)
{
    return std::make_shared<TarvikPort>(HTTPRIO ? std::move(HTTPRIO) : std::make_shared<SoapClient>());
}

} // namespace orvel::ITarvikUnit
