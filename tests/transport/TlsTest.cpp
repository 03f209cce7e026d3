#include "transport/Tls.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/TestPki.h"
#include "transport/HttpClient.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orvel {
namespace {

using test::Credential;
using test::FixtureServer;
using test::Pki;

std::string CommonName(X509* certificate)
{
    char name[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, name, sizeof name);
    return name;
}

struct VerdictCase
{
    const char* Label;
    const Credential* Certificate;
    std::string Store;
    CertificateVerdict Verdict;
    ValidityReasons Reasons;
};

TEST(TlsVerdict, FollowsTheRulesSelfSignedFirstThenTrustedElseInvalid)
{
    const auto& pki = Pki();
    const Credential notYetValid =
        test::Issue({.CommonName = "localhost", .Issuer = &pki.Intermediate, .ValidFromDays = 1, .ValidToDays = 30});
    const Credential expiredByRoot =
        test::Issue({.CommonName = "old", .Issuer = &pki.Root, .ValidFromDays = -30, .ValidToDays = -1});
    const Credential impostor = test::Issue({.CommonName = "Orvel Test Root", .Authority = true});
    const Credential forged = test::Issue({.CommonName = "localhost", .Issuer = &impostor});
    const Credential foreignKeyId = test::Issue({.CommonName = "self", .AuthorityKeyOf = &pki.Root});
    const std::string root = pki.RootStoreFile();
    const std::string intermediateOnly = pki.PemFile("intermediate-only.pem", {&pki.Intermediate});

    const VerdictCase cases[] = {
        {"root in the store", &pki.Root, root, CertificateVerdict::SelfSigned, 0},
        {"self-signed, not in the store", &pki.SelfSigned, root, CertificateVerdict::SelfSigned, 0},
        {"issued by a root of the store", &pki.Intermediate, root, CertificateVerdict::Trusted, 0},
        {"expired, issued by a root of the store", &expiredByRoot, root, CertificateVerdict::Trusted, vrExpired},
        {"held in the store, issuer unknown", &pki.Intermediate, intermediateOnly, CertificateVerdict::Trusted, 0},
        {"issuer is not a root", &pki.Localhost, root, CertificateVerdict::Invalid, vrUnknownCA},
        {"expired", &pki.Expired, root, CertificateVerdict::Invalid, vrExpired | vrUnknownCA},
        {"not yet valid", &notYetValid, root, CertificateVerdict::Invalid, vrNotYetValid | vrUnknownCA},
        {"names a root as issuer, signed by another key", &forged, root, CertificateVerdict::Invalid,
         vrInvalidSignature},
        {"issuer name is its own, key identifiers differ", &foreignKeyId, root, CertificateVerdict::Invalid,
         vrUnknownCA},
        {"no store file", &pki.Root, "/nonexistent/roots.pem", CertificateVerdict::StorageError, 0},
        {"store is a directory", &pki.Localhost, "/tmp", CertificateVerdict::StorageError, 0},
    };
    for (const auto& c : cases) {
        CertificateStorage store;
        store.Open(c.Store);
        TlsHandler handler;
        handler.SetRootStore(&store);
        handler.Judge(c.Certificate->Certificate.get());
        EXPECT_EQ(handler.Verdict(), c.Verdict) << c.Label;
        EXPECT_EQ(handler.Reasons(), c.Reasons) << c.Label;
    }
}

TEST(TlsVerdict, StorageReadsEveryCertificateOfTheFileAndRefusesADamagedOne)
{
    const auto& pki = Pki();
    CertificateStorage store;
    store.Open(pki.PemFile("two-roots.pem", {&pki.Root, &pki.SelfSigned}));
    EXPECT_TRUE(store.Available());
    EXPECT_EQ(store.Certificates().size(), 2u);
    EXPECT_TRUE(store.Holds(pki.SelfSigned.Certificate.get()));
    EXPECT_FALSE(store.Holds(pki.Intermediate.Certificate.get()));

    const std::string damaged = pki.PemFile("damaged.pem", {});
    std::ofstream(damaged) << "-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n";
    store.Open(damaged);
    EXPECT_FALSE(store.Available());
    EXPECT_TRUE(store.Certificates().empty());

    store.Open(pki.PemFile("empty.pem", {}));
    EXPECT_TRUE(store.Available()); // readable, trusts nothing
}

struct Presented
{
    std::string Name;
    CertificateVerdict Verdict;
    ValidityReasons Reasons;
    bool ServerCertificate;

    bool operator==(const Presented&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Presented& p)
{
    return out << p.Name << "/" << int(p.Verdict) << "/" << p.Reasons << (p.ServerCertificate ? "/server" : "");
}

// A client whose handler records every certificate it is asked about and rejects the one named RejectName.
class TlsHandshake : public testing::Test
{
protected:
    CertificateStorage Store;
    TlsHandler Handler;
    HttpClient Client;
    std::vector<Presented> Seen;
    std::string RejectName;

    void SetUp() override
    {
        Store.Open(Pki().RootStoreFile());
        Handler.SetRootStore(&Store);
        Handler.SetValidateEvent([this](X509* certificate) {
            Seen.push_back(
                {CommonName(certificate), Handler.Verdict(), Handler.Reasons(), Handler.AtServerCertificate()});
            return Seen.back().Name != RejectName;
        });
        Client.SetTlsHandler(&Handler);
    }

    std::string Get(const FixtureServer& server)
    {
        try {
            return Client.Get("https://localhost:" + std::to_string(server.Port()) + "/");
        } catch (const Error& error) {
            return error.what();
        }
    }
};

TEST_F(TlsHandshake, PresentsTheServersListFromTheRootEnd)
{
    const auto& pki = Pki();
    const Presented root{"Orvel Test Root", CertificateVerdict::SelfSigned, 0, false};
    const Presented intermediate{"Orvel Test Intermediate", CertificateVerdict::Trusted, 0, false};
    const Presented leaf{"localhost", CertificateVerdict::Invalid, vrUnknownCA, true};

    FixtureServer full(pki.Identity(pki.Localhost, {&pki.Intermediate, &pki.Root}),
                       [](const test::Request&) { return test::Reply::Ok("full"); });
    EXPECT_EQ(Get(full), "full");
    EXPECT_EQ(Seen, (std::vector<Presented>{root, intermediate, leaf}));

    Seen.clear();
    FixtureServer withoutRoot(pki.Identity(pki.Localhost, {&pki.Intermediate}));
    Get(withoutRoot);
    EXPECT_EQ(Seen, (std::vector<Presented>{intermediate, leaf}));
}

TEST_F(TlsHandshake, ARejectEndsTheHandshakeBeforeTheRequest)
{
    const auto& pki = Pki();
    FixtureServer server(pki.Identity(pki.Localhost, {&pki.Intermediate, &pki.Root}));
    RejectName = "Orvel Test Intermediate";
    EXPECT_EQ(Get(server), Ansi("Fehler beim Aufbau der TLS-Verbindung: Zertifikat des Servers abgelehnt."));
    EXPECT_EQ(Seen.size(), 2u); // the server's own certificate is never presented
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(TlsHandshake, EveryNewConnectionIsJudgedAndOnlyReusedUnderTheSamePolicy)
{
    const auto& pki = Pki();
    FixtureServer server(pki.Identity(pki.Localhost, {&pki.Intermediate}));
    Handler.SetConnectionPolicy("strict");
    Get(server);
    Get(server);
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_EQ(Seen.size(), 2u);

    Handler.SetConnectionPolicy("lenient");
    Get(server);
    EXPECT_EQ(server.ConnectionCount(), 2);
    Client.DiscardProxyAuthentication(); // a new connection under the same policy: no resumed session
    Get(server);
    EXPECT_EQ(server.ConnectionCount(), 3);
    EXPECT_EQ(Seen.size(), 6u);
}

TEST_F(TlsHandshake, NegotiatesTls12AndTls13)
{
    const auto& pki = Pki();
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        test::TlsIdentity identity = pki.Identity(pki.Localhost, {&pki.Intermediate});
        identity.MinProtocolVersion = identity.MaxProtocolVersion = version;
        FixtureServer server(identity, [](const test::Request&) { return test::Reply::Ok("ok"); });
        EXPECT_EQ(Get(server), "ok") << version;
    }
}

} // namespace
} // namespace orvel
