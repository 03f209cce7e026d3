#include "soap/IAddress3Unit.h"

#include "soap/RpcCall.h"

namespace orvel {
namespace {

const std::string kNamespace = "urn:Address3Intf-IAddress3";

class Address3Port final : public IAddress3
{
public:
    explicit Address3Port(std::shared_ptr<SoapClient> client) : Client(std::move(client)) {}

    int32_t CheckPlzOrt(const WideString& UN, const WideString& PW, const WideString& Plz, const WideString& Ort,
                        int32_t Rewrite, WideString& ResultText, WideString& Rewritten, TStringDynArray& Orte,
                        TStringDynArray& AlteOrte) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "CheckPlzOrt",
                {TextInput("UN", UN), TextInput("PW", PW), TextInput("Plz", Plz), TextInput("Ort", Ort),
                 IntInput("Rewrite", Rewrite)},
                &result,
                {{"ResultText", &ResultText}, {"Rewritten", &Rewritten}, {"Orte", &Orte}, {"AlteOrte", &AlteOrte}});
        return result;
    }

    int32_t CheckPlzOrtStr(const WideString& UN, const WideString& PW, const WideString& Plz, const WideString& Ort,
                           const WideString& Str, const WideString& Hnr, int32_t Rewrite, WideString& ResultText,
                           WideString& Rewritten, WideString& Str46, WideString& Str22, WideString& Ortsteil,
                           WideString& PlzOut, TStringDynArray& Orte, TStringDynArray& AlteOrte) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "CheckPlzOrtStr",
                {TextInput("UN", UN), TextInput("PW", PW), TextInput("Plz", Plz), TextInput("Ort", Ort),
                 TextInput("Str", Str), TextInput("Hnr", Hnr), IntInput("Rewrite", Rewrite)},
                &result,
                {{"ResultText", &ResultText},
                 {"Rewritten", &Rewritten},
                 {"Str46", &Str46},
                 {"Str22", &Str22},
                 {"Ortsteil", &Ortsteil},
                 {"PlzOut", &PlzOut},
                 {"Orte", &Orte},
                 {"AlteOrte", &AlteOrte}});
        return result;
    }

    int32_t CheckPlzOrtPof(const WideString& UN, const WideString& PW, const WideString& Plz, const WideString& Ort,
                           const WideString& Pof, int32_t Rewrite, WideString& ResultText, WideString& Rewritten,
                           TStringDynArray& Orte, TStringDynArray& AlteOrte) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "CheckPlzOrtPof",
                {TextInput("UN", UN), TextInput("PW", PW), TextInput("Plz", Plz), TextInput("Ort", Ort),
                 TextInput("Pof", Pof), IntInput("Rewrite", Rewrite)},
                &result,
                {{"ResultText", &ResultText}, {"Rewritten", &Rewritten}, {"Orte", &Orte}, {"AlteOrte", &AlteOrte}});
        return result;
    }

    int32_t GetPlzType(const WideString& UN, const WideString& PW, const WideString& Plz,
                       WideString& ResultText) override
    {
        int32_t result = 0;
        CallRpc(*Client, kNamespace, "GetPlzType", {TextInput("UN", UN), TextInput("PW", PW), TextInput("Plz", Plz)},
                &result, {{"ResultText", &ResultText}});
        return result;
    }

private:
    std::shared_ptr<SoapClient> Client;
};

} // namespace

std::shared_ptr<IAddress3> GetIAddress3(std::shared_ptr<SoapClient> HTTPRIO)
{
    return std::make_shared<Address3Port>(HTTPRIO ? std::move(HTTPRIO) : std::make_shared<SoapClient>());
}

} // namespace orvel
