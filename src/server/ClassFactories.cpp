// Each class is one list of its C++ members in the slot order of its interface.

#include "server/OrvelWddx_TLB.h"

namespace orvel {
namespace {

// PENDING(address branch): TTarvik's bank search arrives with the address work.
TMemberBinding<TTarvik> Pending(VarType Result, std::vector<VarType> Params)
{
    if (Result == VarType::Text)
        return {[](TTarvik&, std::span<const Variant>) -> Variant { return WideString(u"0"); }, Result,
                std::move(Params)};
    return {[](TTarvik&, std::span<const Variant>) -> Variant { return {}; }, Result, std::move(Params)};
}

std::vector<TMemberBinding<TTarvik>> TarvikMembers()
{
    return {
        Bind<&TTarvik::TestBlzKto>(),
        Bind<&TTarvik::SetProxy>(),
        Bind<&TTarvik::Result>(),
        Bind<&TTarvik::Resulttext>(),
        Bind<&TTarvik::BankName>(),
        Bind<&TTarvik::SSLMode>(),
        Bind<&TTarvik::SetSSLMode>(),
        Bind<&TTarvik::NewBlz>(),
        Bind<&TTarvik::TestCc>(),
        Pending(VarType::Empty, {VarType::Text, VarType::Text, VarType::Text, VarType::Text, VarType::Int32}),
        Pending(VarType::Text, {VarType::Int32}),
        Pending(VarType::Text, {}),
        Bind<&TTarvik::Host>(),
        Bind<&TTarvik::SetHost>(),
        Bind<&TTarvik::Timeout>(),
        Bind<&TTarvik::SetTimeout>(),
        Bind<&TTarvik::Iban>(),
        Bind<&TTarvik::Bic>(),
        Bind<&TTarvik::TestIban>(),
        Bind<&TTarvik::TestIbanBic>(),
        Bind<&TTarvik::TestBic>(),
        Bind<&TTarvik::BicName>(),
        Bind<&TTarvik::BicSct>(),
        Bind<&TTarvik::BicSdd>(),
        Bind<&TTarvik::BicB2b>(),
    };
}

std::vector<TMemberBinding<TUStID>> UStIDMembers()
{
    return {
        Bind<&TUStID::Check>(),    Bind<&TUStID::Result>(),  Bind<&TUStID::Resulttext>(),
        Bind<&TUStID::SetProxy>(), Bind<&TUStID::Timeout>(), Bind<&TUStID::SetTimeout>(),
    };
}

} // namespace

void RegisterClassFactories(TComServer& Server)
{
    Server.AddFactory(std::make_unique<TTypedFactory<TTarvik>>(Server, "Tarvik", TarvikMembers()));
    Server.AddFactory(std::make_unique<TTypedFactory<TUStID>>(Server, "UStID", UStIDMembers()));
}

} // namespace orvel
