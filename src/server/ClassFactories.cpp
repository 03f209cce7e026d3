// Each class is one list of its C++ members in the slot order of its interface.

#include "server/OrvelWddx_TLB.h"

namespace orvel {
namespace {

// One member per line, in slot order.
// clang-format off
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
        Bind<&TTarvik::Search>(),
        Bind<&TTarvik::Banken>(),
        Bind<&TTarvik::BankenString>(),
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

std::vector<TMemberBinding<TAddress>> AddressMembers()
{
    return {
        Bind<&TAddress::Check>(),
        Bind<&TAddress::CheckStr>(),
        Bind<&TAddress::CheckPof>(),
        Bind<&TAddress::SetProxy>(),
        Bind<&TAddress::Result>(),
        Bind<&TAddress::Resulttext>(),
        Bind<&TAddress::Orte>(),
        Bind<&TAddress::GetPlzType>(),
        Bind<&TAddress::OrteString>(),
        Bind<&TAddress::AlteOrte>(),
        Bind<&TAddress::AlteOrteString>(),
        Bind<&TAddress::SSLMode>(),
        Bind<&TAddress::SetSSLMode>(),
        Bind<&TAddress::Rewrite>(),
        Bind<&TAddress::SetRewrite>(),
        Bind<&TAddress::Rewritten>(),
        Bind<&TAddress::Str46>(),
        Bind<&TAddress::Str22>(),
        Bind<&TAddress::Ortsteil>(),
        Bind<&TAddress::PlzOut>(),
        Bind<&TAddress::CheckStrHnr>(),
        Bind<&TAddress::Host>(),
        Bind<&TAddress::SetHost>(),
        Bind<&TAddress::Timeout>(),
        Bind<&TAddress::SetTimeout>(),
    };
}

std::vector<TMemberBinding<TUStID>> UStIDMembers()
{
    return {
        Bind<&TUStID::Check>(),
        Bind<&TUStID::Result>(),
        Bind<&TUStID::Resulttext>(),
        Bind<&TUStID::SetProxy>(),
        Bind<&TUStID::Timeout>(),
        Bind<&TUStID::SetTimeout>(),
    };
}

// clang-format on

} // namespace

void RegisterClassFactories(TComServer& Server)
{
    Server.AddFactory(std::make_unique<TTypedFactory<TTarvik>>(Server, "Tarvik", TarvikMembers()));
    Server.AddFactory(std::make_unique<TTypedFactory<TAddress>>(Server, "Address", AddressMembers()));
    Server.AddFactory(std::make_unique<TTypedFactory<TUStID>>(Server, "UStID", UStIDMembers()));
}

} // namespace orvel
