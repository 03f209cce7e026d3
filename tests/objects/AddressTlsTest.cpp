#include "objects/Address.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/TestPki.h"
#include "support/Wddx.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

using test::FixtureServer;
using test::Pki;
using test::Reply;

// The address object shares the account object's connection; these cases show the certificate check reaches it.
TEST(AddressTls, CertificateCheckAppliesToTheAddressChecks)
{
    const auto& pki = Pki();
    const std::string reply = test::WddxPacket({{"result", "0"}, {"resulttext", "Adresse korrekt"}});
    struct Row
    {
        const char* Label;
        const test::Credential* Server;
        int32_t Mode;
        bool Refused; // -250 with the name mismatch, and the query never sent
    };
    const Row rows[] = {
        {"valid chain, mode 1", &pki.Localhost, 1, false},
        {"other name, mode 2", &pki.OtherName, 2, false},
        {"other name, mode 1", &pki.OtherName, 1, true},
    };
    for (const auto& row : rows) {
        FixtureServer server(pki.Identity(*row.Server, {&pki.Intermediate}),
                             [&](const test::Request&) { return Reply::Ok(reply); });
        const std::string host = "localhost:" + std::to_string(server.Port());
        TAddress address;
        address.CertChecker().RootStore().Open(pki.RootStoreFile());
        address.SetHost(FromUtf8(host));
        address.SetSSLMode(row.Mode);
        address.Check(u"user", u"secret", u"53111", u"Bonn");
        const std::string text = row.Refused ? "Unterschiedliche Servernamen: Server heißt \"" + host +
                                                   "\", aber Zertifikat ist auf \"other.example\" ausgestellt"
                                             : "Adresse korrekt";
        EXPECT_EQ(address.Result(), row.Refused ? -250 : 0) << row.Label;
        EXPECT_EQ(ToUtf8(address.Resulttext()), text) << row.Label;
        EXPECT_EQ(server.RequestLines().size(), row.Refused ? 0u : 1u) << row.Label;
    }
}

} // namespace
} // namespace orvel
