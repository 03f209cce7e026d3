#include "objects/Tarvik.h"
#include "platform/Text.h"
#include "support/Environment.h"
#include "support/FixtureServer.h"
#include "support/TestPki.h"
#include "support/Tinyproxy.h"
#include "support/Wddx.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orvel {
namespace {

using test::Credential;
using test::FixtureServer;
using test::Pki;
using test::Reply;

const std::string kAccountReply = test::WddxPacket(
    {{"result", "0"}, {"resulttext", "Konto g&uuml;ltig"}, {"bankname", "Sparkasse"}, {"bicname", "Sparkasse Bonn"}});
const std::string kRejected = Ansi("Fehler beim Aufbau der TLS-Verbindung: Zertifikat des Servers abgelehnt.");

std::string Utf8(const WideString& text)
{
    return ToUtf8(text);
}

std::string Mismatch(const std::string& serverName, const std::string& certificateName)
{
    return "Unterschiedliche Servernamen: Server heißt \"" + serverName + "\", aber Zertifikat ist auf \"" +
           certificateName + "\" ausgestellt";
}

std::string Host(const FixtureServer& server, const std::string& name = "localhost")
{
    return name + ":" + std::to_string(server.Port());
}

class TarvikTls : public testing::Test
{
protected:
    TTarvik Tarvik;

    void SetUp() override { Tarvik.CertChecker().RootStore().Open(Pki().RootStoreFile()); }

    void Check(const std::string& host)
    {
        Tarvik.SetHost(FromUtf8(host));
        Tarvik.TestBlzKto(u"user", u"secret", u"37050198", u"1234567", u"DE", 0, u"");
    }
};

struct ChainCase
{
    const char* Label;
    const Credential* Server;
    std::vector<const Credential*> SentAlong;
    std::string HostName = "localhost";
    std::string RootStore = Pki().RootStoreFile();
    enum Outcome {
        Accepted,
        Rejected,
        NameMismatch,
    } Mode1 = Accepted;
    std::string Diagnosis = {};       // UTF-8; what the checker records
    std::string CertificateName = {}; // for NameMismatch
};

std::vector<ChainCase> ChainCases()
{
    const auto& pki = Pki();
    return {
        {"chain with the root", &pki.Localhost, {&pki.Intermediate, &pki.Root}},
        {"chain without the root", &pki.Localhost, {&pki.Intermediate}},
        {"letter case only", &pki.Localhost, {&pki.Intermediate}, "LocalHost"},
        {"missing intermediate",
         &pki.Localhost,
         {},
         "localhost",
         pki.RootStoreFile(),
         ChainCase::Rejected,
         "Unterzeichner des Zertifikats \"localhost\" nicht prüfbar"},
        {"expired",
         &pki.Expired,
         {&pki.Intermediate},
         "localhost",
         pki.RootStoreFile(),
         ChainCase::Rejected,
         "vrExpired\r\nvrUnknownCA\r\n"},
        {"other name",
         &pki.OtherName,
         {&pki.Intermediate},
         "localhost",
         pki.RootStoreFile(),
         ChainCase::NameMismatch,
         "",
         "other.example"},
        {"wildcard",
         &pki.Wildcard,
         {&pki.Intermediate},
         "www.localhost",
         pki.RootStoreFile(),
         ChainCase::NameMismatch,
         "",
         "*.localhost"},
        {"storage error",
         &pki.Localhost,
         {&pki.Intermediate},
         "localhost",
         "/nonexistent/roots.pem",
         ChainCase::Rejected,
         "cvStorageError: Kein Zertifikatsspeicher zugreifbar"},
        {"self-signed, not in the root store",
         &pki.SelfSigned,
         {},
         "localhost",
         pki.RootStoreFile(),
         ChainCase::Rejected,
         "Selbstsigniertes Zertifikat \"localhost\" nicht im Zertifikatsspeicher"},
        {"self-signed, held by the root store",
         &pki.SelfSigned,
         {},
         "localhost",
         pki.PemFile("root-and-self-signed.pem", {&pki.Root, &pki.SelfSigned})},
    };
}

TEST(TarvikTlsChains, ModeOneEnforcesTheCertificateBeforeTheQueryIsSent)
{
    for (const auto& c : ChainCases()) {
        TTarvik tarvik;
        tarvik.CertChecker().RootStore().Open(c.RootStore);
        tarvik.SetSSLMode(1);
        FixtureServer server(Pki().Identity(*c.Server, c.SentAlong),
                             [](const test::Request&) { return Reply::Ok(kAccountReply); });
        const std::string host = Host(server, c.HostName);
        tarvik.SetHost(FromUtf8(host));
        tarvik.TestIbanBic(u"user", u"secret", u"DE12370501980001234567", u"COLSDE33", 0, u"");
        switch (c.Mode1) {
        case ChainCase::Accepted:
            EXPECT_EQ(tarvik.Result(), 0) << c.Label;
            EXPECT_EQ(Utf8(tarvik.Resulttext()), "Konto gültig") << c.Label;
            EXPECT_EQ(tarvik.BankName(), u"Sparkasse") << c.Label;
            EXPECT_EQ(server.RequestLines().size(), 1u) << c.Label;
            continue;
        case ChainCase::Rejected:
            EXPECT_EQ(tarvik.Result(), -200) << c.Label;
            EXPECT_EQ(Narrow(tarvik.Resulttext()), kRejected + " (" + Ansi(c.Diagnosis) + ")") << c.Label;
            break;
        case ChainCase::NameMismatch:
            EXPECT_EQ(tarvik.Result(), -250) << c.Label;
            EXPECT_EQ(Utf8(tarvik.Resulttext()), Mismatch(host, c.CertificateName)) << c.Label;
            break;
        }
        // The user's password never reached the server; the data fields are those of a failed request.
        EXPECT_TRUE(server.RequestLines().empty()) << c.Label;
        EXPECT_EQ(tarvik.BankName(), u"") << c.Label;
        EXPECT_EQ(tarvik.BicName(), u"*" + tarvik.Resulttext()) << c.Label;
    }
}

TEST(TarvikTlsChains, ModeTwoAcceptsEveryCertificateAndKeepsTheDiagnosisForAFailure)
{
    for (const auto& c : ChainCases()) {
        TTarvik tarvik;
        tarvik.CertChecker().RootStore().Open(c.RootStore);
        tarvik.SetSSLMode(2);
        FixtureServer server(Pki().Identity(*c.Server, c.SentAlong), [](const test::Request& request) {
            return request.RequestLine.find("&blz=") != std::string::npos
                       ? Reply::Status("HTTP/1.1 500 Internal Server Error")
                       : Reply::Ok(kAccountReply);
        });
        tarvik.SetHost(FromUtf8(Host(server, c.HostName)));
        tarvik.TestBlzKto(u"user", u"secret", u"1", u"2", u"DE", 0, u"");
        EXPECT_EQ(tarvik.Result(), -200) << c.Label;
        EXPECT_EQ(Narrow(tarvik.Resulttext()),
                  "HTTP/1.1 500 Internal Server Error" + (c.Diagnosis.empty() ? "" : " (" + Ansi(c.Diagnosis) + ")"))
            << c.Label;

        tarvik.TestIban(u"user", u"secret", u"DE12370501980001234567", 0, u"");
        EXPECT_EQ(tarvik.Result(), 0) << c.Label; // no post-check, whatever the name
        EXPECT_EQ(Utf8(tarvik.Resulttext()), "Konto gültig") << c.Label;
    }
}

TEST_F(TarvikTls, SchemeFollowsTheModeAndModeZeroNeverCarriesASuffix)
{
    const auto& pki = Pki();
    FixtureServer tls(pki.Identity(pki.Expired, {&pki.Intermediate}),
                      [](const test::Request&) { return Reply::Status("HTTP/1.1 500 Internal Server Error"); });
    FixtureServer plain([](const test::Request&) { return Reply::Status("HTTP/1.1 500 Internal Server Error"); });

    Tarvik.SetSSLMode(2);
    Check(Host(tls));
    EXPECT_EQ(Narrow(Tarvik.Resulttext()), "HTTP/1.1 500 Internal Server Error (vrExpired\r\nvrUnknownCA\r\n)");

    Tarvik.SetSSLMode(0);
    Check(Host(plain));
    EXPECT_EQ(Narrow(Tarvik.Resulttext()), "HTTP/1.1 500 Internal Server Error");
    Check(Host(tls)); // plain HTTP to a TLS server
    EXPECT_EQ(Narrow(Tarvik.Resulttext()), Ansi("Verbindung wurde vom Server geschlossen."));
    EXPECT_EQ(tls.RequestLines().size(), 1u);
    EXPECT_EQ(plain.RequestLines().size(), 1u);
}

TEST_F(TarvikTls, SelfSignedServerForTheRightNameNeverReceivesThePassword)
{
    const auto& pki = Pki();
    const auto answer = [](const test::Request&) { return Reply::Ok(kAccountReply); };
    FixtureServer genuine(pki.Identity(pki.Localhost, {&pki.Intermediate}), answer);
    FixtureServer inTheMiddle(pki.Identity(pki.SelfSigned, {}), answer);
    Tarvik.SetSSLMode(1);
    Check(Host(genuine)); // leaves the genuine certificate, named "localhost", with the checker
    EXPECT_EQ(Tarvik.Result(), 0);

    Check(Host(inTheMiddle));
    EXPECT_EQ(Tarvik.Result(), -200);
    EXPECT_EQ(Narrow(Tarvik.Resulttext()),
              kRejected + Ansi(" (Selbstsigniertes Zertifikat \"localhost\" nicht im Zertifikatsspeicher)"));
    EXPECT_TRUE(inTheMiddle.RequestLines().empty());
}

TEST_F(TarvikTls, NameMismatchGivesEveryOperationTheFailedFieldsWithMinus250)
{
    const auto& pki = Pki();
    FixtureServer server(pki.Identity(pki.OtherName, {&pki.Intermediate}),
                         [](const test::Request&) { return Reply::Ok(kAccountReply); });
    Tarvik.SetHost(FromUtf8(Host(server)));
    Tarvik.SetSSLMode(1);
    Tarvik.TestBic(u"user", u"secret", u"COLSDE33");
    const std::string text = Mismatch(Host(server), "other.example");
    EXPECT_EQ(Tarvik.Result(), -250);
    EXPECT_EQ(Utf8(Tarvik.Resulttext()), text);
    EXPECT_EQ(Utf8(Tarvik.BicName()), "*" + text);
    EXPECT_EQ(Tarvik.BicSct(), 0);
    EXPECT_TRUE(server.RequestLines().empty());
}

TEST_F(TarvikTls, AConnectionAcceptedInModeTwoIsNotReusedInModeOne)
{
    const auto& pki = Pki();
    FixtureServer server(pki.Identity(pki.OtherName, {&pki.Intermediate}),
                         [](const test::Request&) { return Reply::Ok(kAccountReply); });
    Tarvik.SetSSLMode(2);
    Check(Host(server));
    EXPECT_EQ(Tarvik.Result(), 0);
    Tarvik.SetSSLMode(1);
    Check(Host(server));
    EXPECT_EQ(Tarvik.Result(), -250);
    EXPECT_EQ(server.RequestLines().size(), 1u); // only the query of mode 2
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST_F(TarvikTls, ModeOneKeepsItsConnectionAndPostChecksEveryReply)
{
    const auto& pki = Pki();
    FixtureServer server(pki.Identity(pki.Localhost, {&pki.Intermediate}),
                         [](const test::Request&) { return Reply::Ok(kAccountReply); });
    Tarvik.SetSSLMode(1);
    Check(Host(server));
    Check(Host(server));
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(server.RequestLines().size(), 2u);
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST_F(TarvikTls, HttpsThroughAProxyWithBasicAuthentication)
{
    const auto& pki = Pki();
    test::Tinyproxy proxy("proxyuser", "proxy-pass");
    FixtureServer server(pki.Identity(pki.Localhost, {&pki.Intermediate}),
                         [](const test::Request&) { return Reply::Ok(kAccountReply); });
    Tarvik.SetProxy(u"127.0.0.1", proxy.Port(), u"proxyuser", u"proxy-pass");
    Tarvik.SetSSLMode(1);
    Check(Host(server));
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(Utf8(Tarvik.Resulttext()), "Konto gültig");
    ASSERT_EQ(server.RequestLines().size(), 1u);
    EXPECT_EQ(server.RequestLines()[0],
              "GET /tarvik?un=user&pw=secret&blz=37050198&kto=1234567&c=DE&id=0&name= HTTP/1.1");
}

// As a new user would set it up: the trusted roots in one bundle file, a server that sends its certificate and
// the intermediate that issued it, as public servers do.
TEST(TarvikPublicChain, ModeOneTrustsAServerBelowARootOfTheBundle)
{
    const auto& pki = Pki();
    const Credential otherRoot = test::Issue({.CommonName = "Another Root CA", .Authority = true});
    const std::string bundle = pki.PemFile("bundle.pem", {&otherRoot, &pki.Root});
    if (std::ifstream system{"/etc/ssl/certs/ca-certificates.crt"}) {
        std::ofstream(bundle, std::ios::app) << system.rdbuf();
    }
    FixtureServer server(pki.Identity(pki.Localhost, {&pki.Intermediate}),
                         [](const test::Request&) { return Reply::Ok(kAccountReply); });

    test::ScopedEnvironment roots("ORVELWDDX_ROOT_STORE", bundle.c_str());
    TTarvik tarvik;
    tarvik.SetHost(FromUtf8(Host(server)));
    tarvik.SetSSLMode(1);
    tarvik.TestBlzKto(u"user", u"secret", u"37050198", u"1234567", u"DE", 0, u"");
    EXPECT_EQ(tarvik.Result(), 0);
    EXPECT_EQ(Utf8(tarvik.Resulttext()), "Konto gültig");
    EXPECT_EQ(tarvik.CertChecker().CertificateName(), "localhost");
}

} // namespace
} // namespace orvel
