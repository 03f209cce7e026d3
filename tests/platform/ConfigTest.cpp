#include "platform/Config.h"
#include "support/Environment.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(Config, ViesUrlIsTheSecureEndpointUnlessTheVariableSetsOne)
{
    {
        test::ScopedEnvironment unset("ORVELWDDX_VIES_URL", nullptr);
        EXPECT_EQ(config::ViesUrl(), "https://ec.europa.eu/taxation_customs/vies/services/checkVatService");
    }
    test::ScopedEnvironment set("ORVELWDDX_VIES_URL", "http://127.0.0.1:8080/checkVatService");
    EXPECT_EQ(config::ViesUrl(), "http://127.0.0.1:8080/checkVatService");
}

TEST(Config, WddxHostIsTheLocalServiceUnlessTheVariableSetsOne)
{
    {
        test::ScopedEnvironment unset("ORVELWDDX_HOST", nullptr);
        EXPECT_EQ(config::WddxHost(), "127.0.0.1:8590");
    }
    test::ScopedEnvironment set("ORVELWDDX_HOST", "checks.example:8080");
    EXPECT_EQ(config::WddxHost(), "checks.example:8080");
}

TEST(Config, WindowDefaultsGiveWayToTheirVariables)
{
    {
        test::ScopedEnvironment host("ORVELWDDX_WEB_HOST", nullptr);
        test::ScopedEnvironment info("ORVELWDDX_INFO_URL", nullptr);
        // Unset, the window follows its own WDDX host and opens its README.
        EXPECT_EQ(config::WebHost(), "");
        EXPECT_EQ(config::InfoUrl(), "");
    }
    test::ScopedEnvironment host("ORVELWDDX_WEB_HOST", "127.0.0.1:8591");
    test::ScopedEnvironment info("ORVELWDDX_INFO_URL", "http://127.0.0.1:8591/");
    EXPECT_EQ(config::WebHost(), "127.0.0.1:8591");
    EXPECT_EQ(config::InfoUrl(), "http://127.0.0.1:8591/");
}

} // namespace
} // namespace orvel
