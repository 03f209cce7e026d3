#include "probe/Probe.h"
#include "server/Checks.h"
#include "server/OrvelWddx_TLB.h"
#include "support/FixtureServer.h"
#include "support/Wddx.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

using test::TProbe;

// An object of one class, through its IDispatch only.
class DispatchTest : public testing::Test
{
protected:
    TComServer Server{OrvelWddxTypeLibrary()};
    TAutoObjectPtr Object;

    void SetUp() override
    {
        RegisterClassFactories(Server);
        Object = TAutoObjectPtr(Server.Factories().front()->CreateInstance());
    }

    HRESULT Call(const char* Name, InvokeKind Kind, std::vector<Variant> Args, Variant* Result = nullptr)
    {
        std::vector<DispId> ids;
        const HRESULT hr = Object->GetIDsOfNames(std::vector<WideString>{FromUtf8(Name)}, ids);
        if (Failed(hr))
            return hr;
        Variant result;
        ErrorInfo info;
        return Object->Invoke(ids[0], Kind, Args, Result ? *Result : result, info);
    }
};

TEST_F(DispatchTest, NamesIgnoreCaseAndParametersCountFromZero)
{
    std::vector<DispId> ids;
    EXPECT_EQ(Object->GetIDsOfNames(std::vector<WideString>{u"TESTBLZKTO", u"aname", u"AID"}, ids), S_OK);
    EXPECT_EQ(ids, (std::vector<DispId>{201, 6, 5}));
    EXPECT_EQ(Object->GetIDsOfNames(std::vector<WideString>{u"sslmode"}, ids), S_OK);
    EXPECT_EQ(ids, std::vector<DispId>{206});
    EXPECT_EQ(Object->GetIDsOfNames(std::vector<WideString>{u"BicB2b"}, ids), S_OK);
    EXPECT_EQ(ids, std::vector<DispId>{222});

    EXPECT_EQ(Object->GetIDsOfNames(std::vector<WideString>{u"Nichts"}, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(Object->GetIDsOfNames(std::vector<WideString>{u"SetProxy", u"aPort", u"aNothing"}, ids),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::vector<DispId>{202, 1, -1}));
}

TEST_F(DispatchTest, PropertiesByDispIdAndKind)
{
    Variant value;
    EXPECT_EQ(Call("SSLMode", InvokeKind::Put, {int32_t(2)}), S_OK);
    EXPECT_EQ(Call("SSLMode", InvokeKind::Get, {}, &value), S_OK);
    EXPECT_EQ(value, Variant(int32_t(2)));
    EXPECT_EQ(Call("Host", InvokeKind::Put, {WideString(u"127.0.0.1:1")}), S_OK);
    EXPECT_EQ(Call("Host", InvokeKind::Get, {}, &value), S_OK);
    EXPECT_EQ(value, Variant(WideString(u"127.0.0.1:1")));
    // A method answers no value.
    EXPECT_EQ(Call("SetProxy", InvokeKind::Method, {WideString(), int32_t(0)}, &value), S_OK);
    EXPECT_EQ(value.Type(), VarType::Empty);
}

TEST_F(DispatchTest, FailuresOfTheCallItself)
{
    const WideString text = u"x";
    struct Case
    {
        const char* Name;
        InvokeKind Kind;
        std::vector<Variant> Args;
        HRESULT Expected;
    } cases[] = {
        {"Result", InvokeKind::Put, {int32_t(1)}, DISP_E_MEMBERNOTFOUND},
        {"TestCc", InvokeKind::Get, {}, DISP_E_MEMBERNOTFOUND},
        {"Result", InvokeKind::Get, {int32_t(1)}, DISP_E_BADPARAMCOUNT},
        {"SSLMode", InvokeKind::Put, {}, DISP_E_PARAMNOTOPTIONAL},
        {"SetProxy", InvokeKind::Method, {text}, DISP_E_PARAMNOTOPTIONAL},
        {"SetProxy", InvokeKind::Method, {text, int32_t(1), text, text, text}, DISP_E_BADPARAMCOUNT},
        {"SetProxy", InvokeKind::Method, {text, WideString(u"acht")}, DISP_E_TYPEMISMATCH},
        {"SetProxy", InvokeKind::Method, {text, WideString(u"")}, DISP_E_TYPEMISMATCH},
        {"SetProxy", InvokeKind::Method, {text, 3e10}, DISP_E_OVERFLOW},
        {"Nichts", InvokeKind::Method, {}, DISP_E_UNKNOWNNAME},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Call(c.Name, c.Kind, c.Args), c.Expected) << c.Name;

    Variant result;
    ErrorInfo info;
    EXPECT_EQ(Object->Invoke(299, InvokeKind::Method, {}, result, info), DISP_E_MEMBERNOTFOUND);
}

TEST_F(DispatchTest, ArgumentsConvertToTheDeclaredTypes)
{
    test::FixtureServer fixture{[](const test::Request&) {
        return test::Reply::Ok(test::WddxPacket({{"result", "0"}, {"resulttext", "ok"}}));
    }};
    ASSERT_EQ(Call("Host", InvokeKind::Put, {FromUtf8(fixture.HostPort())}), S_OK);
    // Numbers as text, numbers for texts, a rounded fraction and true as -1.
    ASSERT_EQ(Call("TestBlzKto", InvokeKind::Method,
                   {WideString(u"u"), true, int32_t(37050198), 1.5, WideString(u"DE"), WideString(u" 2.5 "),
                    WideString(u"N")}),
              S_OK);
    const std::string line = fixture.RequestLines().back();
    EXPECT_NE(line.find("/tarvik?un=u&pw=-1&blz=37050198&kto=1.5&c=DE&id=2&name=N "), std::string::npos) << line;
}

TEST(DispatchErrorTest, AnErrorEscapingAMemberFailsTheCallWithItsErrorInformation)
{
    TComServer server(test::ProbeLibrary());
    test::RegisterProbeFactory(server);
    const TAutoObjectPtr probe(server.Factories().front()->CreateInstance());
    struct Case
    {
        DispId Id;
        Variant Arg;
        HRESULT Expected;
        WideString Description;
    } cases[] = {
        {201, WideString(u"Gr\u00fc\u00dfe gescheitert"), E_UNEXPECTED, u"Gr\u00fc\u00dfe gescheitert"},
        {202, int32_t(0x80004005), int32_t(0x80004005), u"Fehler mit eigenem Code"},
        {202, int32_t(5), E_UNEXPECTED, u"Fehler mit eigenem Code"},
    };
    for (const Case& c : cases) {
        Variant result;
        ErrorInfo info;
        EXPECT_EQ(probe->Invoke(c.Id, InvokeKind::Method, std::span(&c.Arg, 1), result, info), c.Expected);
        EXPECT_EQ(info.Guid, "{5D1F5C0A-0B7E-4C55-9A55-3F1B2C9E0A02}");
        EXPECT_EQ(info.Source, u"OrvelProbe.Probe");
        EXPECT_EQ(info.Description, c.Description);
    }
}

TEST(DispatchErrorTest, OmittedOptionalParametersAreEmptyText)
{
    TComServer server(test::ProbeLibrary());
    test::RegisterProbeFactory(server);
    auto probe = CoCreateInstance<TProbe>("{5d1f5c0a-0b7e-4c55-9a55-3f1b2c9e0a03}");
    Variant result;
    ErrorInfo info;
    const std::vector<Variant> args{WideString(u"proxy"), int32_t(8080)};
    ASSERT_EQ(probe.Dispatch().Invoke(203, InvokeKind::Method, args, result, info), S_OK);
    EXPECT_EQ(probe->Proxy(), u"proxy:8080::");
}

TEST(ClassFactoryTest, BindingsMustMatchTheInterfaceSlotForSlot)
{
    TComServer server(test::ProbeLibrary());
    using Bindings = std::vector<TMemberBinding<TProbe>>;
    // Slots swapped, one missing, a class the library lacks.
    EXPECT_THROW(TTypedFactory<TProbe>(server, "Probe",
                                       Bindings{Bind<&TProbe::FailCode>(), Bind<&TProbe::Fail>(),
                                                Bind<&TProbe::SetProxy>(), Bind<&TProbe::Proxy>()}),
                 Error);
    EXPECT_THROW(
        TTypedFactory<TProbe>(server, "Probe",
                              Bindings{Bind<&TProbe::Fail>(), Bind<&TProbe::FailCode>(), Bind<&TProbe::SetProxy>()}),
        Error);
    EXPECT_THROW(TTypedFactory<TProbe>(server, "Tarvik", Bindings{}), Error);
}

TEST(ClassFactoryTest, OperationsMayNameOnlyMethodsAndGettersOfTheInterface)
{
    TTypeLibrary library = test::ProbeLibrary();
    using Bindings = std::vector<TMemberBinding<TProbe>>;
    const Bindings bindings{Bind<&TProbe::Fail>(), Bind<&TProbe::FailCode>(), Bind<&TProbe::SetProxy>(),
                            Bind<&TProbe::Proxy>()};
    const std::vector<std::pair<TOperationInfo, bool>> cases = {
        {{"Fail", {"Proxy"}}, true},     {{"Fail", {"Missing"}}, false},
        {{"Proxy", {}}, false},                                 // a getter is no operation
        {{"Fail", {"SetProxy"}}, false}, {{"fail", {}}, false}, // names as the table spells them
    };
    for (const auto& [operation, fits] : cases) {
        library.Interfaces[0].Operations = {operation};
        TComServer server(library);
        if (fits)
            EXPECT_NO_THROW(TTypedFactory<TProbe>(server, "Probe", bindings));
        else
            EXPECT_THROW(TTypedFactory<TProbe>(server, "Probe", bindings), Error) << operation.Method;
    }

    // A one-off check whose operation fails answers the failure and no values.
    library.Interfaces[0].Operations = {{"Fail", {"Proxy"}}};
    TComServer server(library);
    const TTypedFactory<TProbe> factory(server, "Probe", bindings);
    const Variant message(WideString(u"kaputt"));
    const TCheckOutcome outcome = RunCheck(factory, library.Interfaces[0].Operations[0], std::span(&message, 1), {});
    EXPECT_EQ(outcome.Info.Description, u"kaputt");
    EXPECT_TRUE(Failed(outcome.Hr));
    EXPECT_TRUE(outcome.Values.empty());
    EXPECT_EQ(server.ObjectCount(), 0);
}

TEST(ClassFactoryTest, CreatorsFindTheClassObjectsOfTheProcess)
{
    try {
        CoTarvik::Create();
        FAIL() << "created without a server";
    } catch (const ComError& error) {
        EXPECT_EQ(error.Code(), REGDB_E_CLASSNOTREG);
    }
    TComServer server(OrvelWddxTypeLibrary());
    RegisterClassFactories(server);
    {
        ITarvik first = CoTarvik::Create();
        ITarvik second = CoTarvik::Create();
        EXPECT_EQ(server.ObjectCount(), 2);
        first->SetSSLMode(2);
        EXPECT_EQ(first->SSLMode(), 2);
        EXPECT_EQ(second->SSLMode(), 0);
        ITarvik copy = first;
        first = ITarvik();
        EXPECT_EQ(server.ObjectCount(), 2);
        IAddress address = CoAddress::Create();
        IUStID vat = CoUStID::Create();
        EXPECT_EQ(address->Rewrite(), 0);
        EXPECT_EQ(vat->Result(), 0);
        EXPECT_EQ(server.ObjectCount(), 4);
    }
    EXPECT_EQ(server.ObjectCount(), 0);
}

TEST(ClassFactoryTest, OnlyAnAutomationStartEndsWithItsLastObject)
{
    for (TStartMode mode : {TStartMode::Automation, TStartMode::Standalone}) {
        TComServer server(OrvelWddxTypeLibrary());
        RegisterClassFactories(server);
        server.SetStartMode(mode);
        int ends = 0;
        server.SetOnLastRelease([&] { ++ends; });
        ITarvik first = CoTarvik::Create();
        ITarvik second = CoTarvik::Create();
        first = ITarvik();
        EXPECT_EQ(ends, 0);
        second = ITarvik();
        EXPECT_EQ(ends, mode == TStartMode::Automation ? 1 : 0);
    }
}

TEST(StartModeTest, FirstMatchingModeWins)
{
    struct Case
    {
        std::vector<std::string> Args;
        TStartMode Expected;
    } cases[] = {
        {{}, TStartMode::Standalone},
        {{"Embedding"}, TStartMode::Standalone},
        {{"--embedding"}, TStartMode::Standalone},
        {{"-"}, TStartMode::Standalone},
        {{"/Embedding"}, TStartMode::Automation},
        {{"-AUTOMATION"}, TStartMode::Automation},
        {{"/regserver"}, TStartMode::Register},
        {{"-UNREGSERVER"}, TStartMode::Unregister},
        {{"-unregserver", "/RegServer"}, TStartMode::Register},
        {{"-regserver", "-embedding"}, TStartMode::Automation},
        {{"x", "/UnRegServer", "-automation"}, TStartMode::Automation},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StartModeFromCommandLine(c.Args), c.Expected) << (c.Args.empty() ? "" : c.Args.front());
}

} // namespace
} // namespace orvel
