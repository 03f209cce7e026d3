#include "server/Checks.h"

#include "platform/Codepage.h"
#include "platform/StrToInt.h"

#include <algorithm>
#include <array>
#include <optional>

namespace orvel {
namespace {

constexpr std::array<TCheckOption, 7> kOptions{{
    {"Host", VarType::Text},
    {"SSLMode", VarType::Int32},
    {"Timeout", VarType::Int32},
    {"Rewrite", VarType::Int32},
    {"Proxy", VarType::Text},
    {"ProxyUser", VarType::Text},
    {"ProxyPass", VarType::Text},
}};

bool IsProxyOption(std::string_view Name)
{
    return Name.starts_with("Proxy");
}

const TCheckOption* FindOption(std::string_view Name)
{
    for (const TCheckOption& option : kOptions)
        if (option.Name == Name)
            return &option;
    return nullptr;
}

// What the option sets on the class: its property put, or SetProxy for the proxy parts; nullptr when the class has
// no such member.
const TMemberInfo* Target(const TInterfaceInfo& Interface, std::string_view Name)
{
    for (const TMemberInfo& member : Interface.Members)
        if (IsProxyOption(Name) ? member.Kind == InvokeKind::Method && member.Name == "SetProxy"
                                : member.Kind == InvokeKind::Put && member.Name == Name)
            return &member;
    return nullptr;
}

struct TProxy
{
    WideString Host;
    int32_t Port = 0;
};

// "host:port"; empty text is no proxy.
std::optional<TProxy> ParseProxy(const WideString& Text)
{
    if (Text.empty())
        return TProxy{};
    const size_t colon = Text.rfind(u':');
    if (colon == WideString::npos || colon == 0)
        return std::nullopt;
    const std::optional<int32_t> port = TryStrToInt(Narrow(Text.substr(colon + 1)));
    if (!port || *port < 1 || *port > 65535 || Text.find_first_not_of(u"0123456789", colon + 1) != WideString::npos)
        return std::nullopt;
    return TProxy{Text.substr(0, colon), *port};
}

class TCheckRun
{
public:
    explicit TCheckRun(const TAutoObjectFactory& Factory) : FObject(Factory.CreateInstance()) {}

    bool Call(const TMemberInfo& Member, std::span<const Variant> Args, Variant& Result)
    {
        FOutcome.Hr = FObject->Invoke(Member.Id, Member.Kind, Args, Result, FOutcome.Info);
        return !Failed(FOutcome.Hr);
    }

    bool Apply(const TCheckSettings& Settings)
    {
        const TInterfaceInfo& interface = FObject->Interface();
        std::vector<Variant> proxy;
        Variant ignored;
        for (const auto& [name, value] : Settings) {
            if (!IsProxyOption(name)) {
                if (!Call(*Target(interface, name), std::span(&value, 1), ignored))
                    return false;
                continue;
            }
            if (proxy.empty())
                proxy = {WideString(), int32_t(0), WideString(), WideString()};
            if (name == "Proxy") {
                const TProxy parsed = *ParseProxy(std::get<WideString>(value));
                proxy[0] = parsed.Host;
                proxy[1] = parsed.Port;
            } else {
                proxy[name == "ProxyUser" ? 2 : 3] = value;
            }
        }
        return proxy.empty() || Call(*Target(interface, "Proxy"), proxy, ignored);
    }

    TCheckOutcome Run(const TOperationInfo& Operation, std::span<const Variant> Args, const TCheckSettings& Settings)
    {
        const TInterfaceInfo& interface = FObject->Interface();
        Variant ignored;
        const bool rewriteGiven = std::any_of(Settings.begin(), Settings.end(),
                                              [](const auto& setting) { return setting.first == "Rewrite"; });
        if (!rewriteGiven && TakesOption(interface, "Rewrite") && !Apply({{"Rewrite", Variant(kDefaultRewrite)}}))
            return std::move(FOutcome);
        if (!Apply(Settings) || !Call(*interface.FindMember(Operation.Method), Args, ignored))
            return std::move(FOutcome);
        for (std::string_view name : Operation.Writes) {
            const TMemberInfo& getter = *interface.FindMember(name);
            TCheckValue value{name};
            if (getter.Params.empty()) {
                if (!Call(getter, {}, value.Value))
                    return Fail();
            } else {
                // Element 0 holds the count; a list that is no list reads as empty.
                value.IsList = true;
                Variant element;
                const Variant first(int32_t(0));
                if (!Call(getter, std::span(&first, 1), element))
                    return Fail();
                const int32_t count = StrToIntDef(Narrow(std::get<WideString>(element)), 0);
                for (int32_t i = 1; i <= count; ++i) {
                    const Variant index(i);
                    if (!Call(getter, std::span(&index, 1), element))
                        return Fail();
                    value.List.push_back(std::get<WideString>(element));
                }
            }
            FOutcome.Values.push_back(std::move(value));
        }
        return std::move(FOutcome);
    }

private:
    TCheckOutcome Fail()
    {
        FOutcome.Values.clear();
        return std::move(FOutcome);
    }

    TAutoObjectPtr FObject;
    TCheckOutcome FOutcome;
};

} // namespace

std::span<const TCheckOption> CheckOptions()
{
    return kOptions;
}

bool TakesOption(const TInterfaceInfo& Interface, std::string_view Name)
{
    return FindOption(Name) && Target(Interface, Name);
}

std::string SettingsFault(const TInterfaceInfo& Interface, const TCheckSettings& Settings)
{
    for (const auto& [name, value] : Settings) {
        const TCheckOption* option = FindOption(name);
        if (!TakesOption(Interface, name))
            return "Unbekannte Option " + name + " für " + std::string(Interface.Name);
        if (value.Type() != option->Type)
            return "Die Option " + name + " erwartet den Typ \"" + (option->Type == VarType::Int32 ? "i" : "s") + "\"";
        if (name == "Proxy" && !ParseProxy(std::get<WideString>(value)))
            return "Die Option Proxy erwartet \"Host:Port\", nicht \"" + ToUtf8(std::get<WideString>(value)) + "\"";
    }
    return {};
}

TCheckOutcome RunCheck(const TAutoObjectFactory& Factory, const TOperationInfo& Operation,
                       std::span<const Variant> Args, const TCheckSettings& Settings)
{
    try {
        return TCheckRun(Factory).Run(Operation, Args, Settings);
    } catch (const std::exception& error) {
        // The object could not be made.
        return {E_UNEXPECTED, {std::string(Factory.Interface().Guid), FromUtf8(Factory.ProgID()), Widen(error.what())}};
    }
}

} // namespace orvel
