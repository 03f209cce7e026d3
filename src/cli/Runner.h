#pragma once
// Checks of orvelwddx-check: the settings of a run, the call of one check operation, and the two ways to run it,
// in this process through the program's class objects or through OrvelWddx.Checks of a running server.

#include "server/Checks.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orvel::cli {

// Every value UTF-8; a setting left empty keeps the object's default.
struct TRunSettings
{
    std::optional<std::string> User, Pass, Host, Proxy, ProxyUser, ProxyPass;
    std::optional<int32_t> SSLMode, Timeout, Rewrite;
};

// What Given leaves open, from the environment (ORVELWDDX_USER, _PASS, _HOST, _TLS, _TIMEOUT, _PROXY, _PROXY_USER,
// _PROXY_PASS) and then from the window's settings in RegistryFile. Throws std::invalid_argument naming a variable
// whose value does not fit.
TRunSettings ResolveSettings(TRunSettings Given, const std::string& RegistryFile);

// The part of Settings the class takes.
TCheckSettings SettingsFor(const TInterfaceInfo& Interface, const TRunSettings& Settings);

struct TCheckCall
{
    const TAutoObjectFactory* Factory = nullptr;
    const TOperationInfo* Operation = nullptr;
    std::vector<Variant> Args;
};

// The parameters of the method by name ("aIban", UTF-8 text); user and password come from Settings, a parameter not
// given is empty text or 0.
using TParams = std::map<std::string, std::string, std::less<>>;
TCheckCall MakeCall(const TComServer& Server, std::string_view CoClass, std::string_view Method, const TParams& Params,
                    const TRunSettings& Settings);

class TRunner
{
public:
    virtual ~TRunner() = default;
    // Safe to call from several threads at once.
    virtual TCheckOutcome Run(const TCheckCall& Call, const TCheckSettings& Settings) = 0;
};

std::unique_ptr<TRunner> InProcessRunner();
// Through the session bus; a failed call comes back with its D-Bus error name as Info.Source.
std::unique_ptr<TRunner> BusRunner();

} // namespace orvel::cli
