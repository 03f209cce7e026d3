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

} // namespace
} // namespace orvel
