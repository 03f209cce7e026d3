#pragma once
// One-off checks: a fresh object with the caller's settings, one check operation, the result properties that
// operation writes, and the object gone. The bus interface OrvelWddx.Checks and orvelwddx-check both run them.

#include "server/ComServer.h"

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvel {

// A setting of a one-off check: the put of the class's property of that name, or a part of its SetProxy.
struct TCheckOption
{
    std::string_view Name;
    VarType Type; // Text or Int32
};
std::span<const TCheckOption> CheckOptions();

// The rewrite mode of a one-off address check that names none: long and short place names recognised, the typed
// name kept, as the window starts. The object's own default stays 0, as its clients know it.
constexpr int32_t kDefaultRewrite = 2;

// Option name and value, in the order given.
using TCheckSettings = std::vector<std::pair<std::string, Variant>>;

// Whether the class has what the option sets.
bool TakesOption(const TInterfaceInfo& Interface, std::string_view Name);
// Empty when the class takes every setting with its type; otherwise the message naming the first that does not fit.
std::string SettingsFault(const TInterfaceInfo& Interface, const TCheckSettings& Settings);

struct TCheckValue
{
    std::string_view Name;
    Variant Value{};                // a property
    std::vector<WideString> List{}; // a list property (a getter by Index), without its count
    bool IsList = false;
};

struct TCheckOutcome
{
    HRESULT Hr = S_OK; // a setting or the call failed: Info tells why, Values is empty
    ErrorInfo Info{};
    std::vector<TCheckValue> Values{};
};

// Args are the method's parameters in order. Settings must have passed SettingsFault; a class that takes Rewrite gets
// kDefaultRewrite unless Settings name it. Safe to call from several
// threads at once: every call has an object of its own.
TCheckOutcome RunCheck(const TAutoObjectFactory& Factory, const TOperationInfo& Operation,
                       std::span<const Variant> Args, const TCheckSettings& Settings);

} // namespace orvel
