#pragma once
// A small type library whose members fail on request, for the paths a real object never takes.

#include "server/Bindings.h"

namespace orvel::test {

class TProbe
{
public:
    // Throws the ordinary error with Message, or one carrying Code.
    void Fail(const WideString& Message) { throw Error(Narrow(Message)); }
    void FailCode(int32_t Code) { throw ComError(Code, "Fehler mit eigenem Code"); }
    void SetProxy(const WideString& aProxy, int32_t aPort, const WideString& aUser, const WideString& aPass)
    {
        FProxy = aProxy + u":" + FromUtf8(std::to_string(aPort)) + u":" + aUser + u":" + aPass;
    }
    WideString Proxy() const { return FProxy; }

private:
    WideString FProxy;
};

inline const TTypeLibrary& ProbeLibrary()
{
    static const TTypeLibrary library{
        .Name = "OrvelProbe",
        .Guid = "{5D1F5C0A-0B7E-4C55-9A55-3F1B2C9E0A01}",
        .Version = {1, 0},
        .Lcid = 0,
        .Target = "win32",
        .HelpString = "Probe",
        .Interfaces = {{
            .Name = "IProbe",
            .Guid = "{5D1F5C0A-0B7E-4C55-9A55-3F1B2C9E0A02}",
            .Version = {1, 0},
            .HelpString = "Probe",
            .Members =
                {
                    {"Fail", 201, InvokeKind::Method, {{"aMessage", VarType::Text, false}}, VarType::Empty},
                    {"FailCode", 202, InvokeKind::Method, {{"aCode", VarType::Int32, false}}, VarType::Empty},
                    {"SetProxy",
                     203,
                     InvokeKind::Method,
                     {{"aProxy", VarType::Text, false},
                      {"aPort", VarType::Int32, false},
                      {"aUser", VarType::Text, true},
                      {"aPass", VarType::Text, true}},
                     VarType::Empty},
                    {"Proxy", 204, InvokeKind::Get, {}, VarType::Text},
                },
        }},
        .CoClasses = {{"Probe", "{5D1F5C0A-0B7E-4C55-9A55-3F1B2C9E0A03}", {1, 0}, "Probe Objekt", "IProbe"}},
    };
    return library;
}

inline void RegisterProbeFactory(TComServer& Server)
{
    Server.AddFactory(std::make_unique<TTypedFactory<TProbe>>(
        Server, "Probe",
        std::vector<TMemberBinding<TProbe>>{Bind<&TProbe::Fail>(), Bind<&TProbe::FailCode>(), Bind<&TProbe::SetProxy>(),
                                            Bind<&TProbe::Proxy>()}));
}

} // namespace orvel::test
