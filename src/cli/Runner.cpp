#include "cli/Runner.h"

#include "platform/Codepage.h"
#include "platform/Registry.h"
#include "platform/StrToInt.h"
#include "server/DBusMarshal.h"
#include "server/Introspection.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <cstdlib>
#include <stdexcept>

namespace orvel::cli {
namespace {

std::optional<std::string> Environment(const char* Name)
{
    const char* value = std::getenv(Name);
    return value && *value ? std::optional<std::string>(value) : std::nullopt;
}

std::optional<int32_t> EnvironmentNumber(const char* Name)
{
    const std::optional<std::string> text = Environment(Name);
    if (!text)
        return std::nullopt;
    const std::optional<int32_t> number = TryStrToInt(*text);
    if (!number)
        throw std::invalid_argument(std::string(Name) + " is no number: " + *text);
    return number;
}

template <class T> void Fill(std::optional<T>& Setting, std::optional<T> Value)
{
    if (!Setting)
        Setting = std::move(Value);
}

// The window's settings; a value that is missing or of another kind is no setting.
class TStored
{
public:
    explicit TStored(const std::string& File) : FKey(File)
    {
        FOpen = FKey.OpenKey("\\Software\\Orvel\\OrvelWddx", false);
    }

    std::optional<std::string> Text(std::string_view Name) const
    {
        try {
            std::string value = FOpen ? FKey.ReadString(Name) : std::string();
            return value.empty() ? std::nullopt : std::optional(value);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    std::optional<int32_t> Number(std::string_view Name) const
    {
        try {
            return FOpen ? std::optional(FKey.ReadInteger(Name)) : std::nullopt;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

private:
    TRegistry FKey;
    bool FOpen = false;
};

class TInProcessRunner final : public TRunner
{
public:
    TCheckOutcome Run(const TCheckCall& Call, const TCheckSettings& Settings) override
    {
        return RunCheck(*Call.Factory, *Call.Operation, Call.Args, Settings);
    }
};

class TBusRunner final : public TRunner
{
public:
    TBusRunner() : FBus(QDBusConnection::sessionBus())
    {
        if (!FBus.isConnected())
            throw std::runtime_error("no session bus: " + FBus.lastError().message().toStdString());
    }

    TCheckOutcome Run(const TCheckCall& Call, const TCheckSettings& Settings) override
    {
        const TTypeLibrary& library = Call.Factory->Server().TypeLibrary();
        QDBusMessage message = QDBusMessage::createMethodCall(
            dbus::ToQString(Call.Factory->ProgID()), dbus::ToQString(dbus::ClassPath(library, Call.Factory->CoClass())),
            QLatin1String(dbus::kChecksInterface), dbus::ToQString(Call.Operation->Method));
        QVariantList args;
        for (const Variant& arg : Call.Args)
            args << dbus::ToDBus(arg);
        args << dbus::SettingsToDBus(Settings);
        message.setArguments(args);
        const QDBusMessage reply = FBus.call(message, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
            return {E_FAIL, {{}, reply.errorName().toStdU16String(), reply.errorMessage().toStdU16String()}};
        return {S_OK, {}, dbus::ResultsFromDBus(reply.arguments().constFirst(), *Call.Operation)};
    }

private:
    // Long enough for a server started by the call and a slow service behind it.
    static constexpr int kCallTimeoutMs = 120000;
    QDBusConnection FBus;
};

} // namespace

TRunSettings ResolveSettings(TRunSettings Given, const std::string& RegistryFile)
{
    TRunSettings& s = Given;
    Fill(s.User, Environment("ORVELWDDX_USER"));
    Fill(s.Pass, Environment("ORVELWDDX_PASS"));
    Fill(s.Host, Environment("ORVELWDDX_HOST"));
    Fill(s.SSLMode, EnvironmentNumber("ORVELWDDX_TLS"));
    Fill(s.Timeout, EnvironmentNumber("ORVELWDDX_TIMEOUT"));
    Fill(s.Proxy, Environment("ORVELWDDX_PROXY"));
    Fill(s.ProxyUser, Environment("ORVELWDDX_PROXY_USER"));
    Fill(s.ProxyPass, Environment("ORVELWDDX_PROXY_PASS"));

    const TStored stored(RegistryFile);
    Fill(s.User, stored.Text("User"));
    Fill(s.Pass, stored.Text("Pass"));
    Fill(s.Host, stored.Text("HostWddx"));
    if (const std::optional<int32_t> ssl = stored.Number("SSL"); ssl && !s.SSLMode)
        s.SSLMode = *ssl == 0 ? 0 : stored.Number("IgnoreInvalidCerts").value_or(0) != 0 ? 2 : 1;
    const std::optional<std::string> proxyHost = stored.Text("ProxyHost");
    const std::optional<int32_t> proxyPort = stored.Number("ProxyPort");
    if (proxyHost && proxyPort && *proxyPort > 0)
        Fill(s.Proxy, std::optional(*proxyHost + ":" + std::to_string(*proxyPort)));
    Fill(s.ProxyUser, stored.Text("ProxyUser"));
    Fill(s.ProxyPass, stored.Text("ProxyPass"));
    return Given;
}

TCheckSettings SettingsFor(const TInterfaceInfo& Interface, const TRunSettings& Settings)
{
    TCheckSettings settings;
    auto add = [&](std::string_view Name, const auto& Value) {
        if (!Value || !TakesOption(Interface, Name))
            return;
        if constexpr (std::is_same_v<std::decay_t<decltype(*Value)>, std::string>)
            settings.emplace_back(std::string(Name), FromUtf8(*Value));
        else
            settings.emplace_back(std::string(Name), *Value);
    };
    add("Host", Settings.Host);
    add("SSLMode", Settings.SSLMode);
    add("Timeout", Settings.Timeout);
    add("Rewrite", Settings.Rewrite);
    add("Proxy", Settings.Proxy);
    add("ProxyUser", Settings.ProxyUser);
    add("ProxyPass", Settings.ProxyPass);
    return settings;
}

TCheckCall MakeCall(const TComServer& Server, std::string_view CoClass, std::string_view Method, const TParams& Params,
                    const TRunSettings& Settings)
{
    TCheckCall call;
    for (const auto& factory : Server.Factories())
        if (factory->CoClass().Name == CoClass)
            call.Factory = factory.get();
    call.Operation = call.Factory->Interface().FindOperation(Method);
    for (const TParamInfo& param : call.Factory->Interface().FindMember(Method)->Params) {
        std::string value;
        if (param.Name == "aUser")
            value = Settings.User.value_or("");
        else if (param.Name == "aPass")
            value = Settings.Pass.value_or("");
        else if (auto given = Params.find(param.Name); given != Params.end())
            value = given->second;
        if (param.Type == VarType::Int32)
            call.Args.emplace_back(StrToIntDef(value, 0));
        else
            call.Args.emplace_back(FromUtf8(value));
    }
    return call;
}

std::unique_ptr<TRunner> InProcessRunner()
{
    return std::make_unique<TInProcessRunner>();
}

std::unique_ptr<TRunner> BusRunner()
{
    return std::make_unique<TBusRunner>();
}

} // namespace orvel::cli
