#include "wddx/Certs.h"
#include "platform/Text.h"
#include "support/Environment.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

using test::Credential;
using test::Pki;
using test::ScopedEnvironment;

// A TLS layer that reports whatever verdict the test gives it.
class ReportingHandler : public TlsHandler
{
public:
    using TlsHandler::Report;
};

class CertsTest : public testing::Test
{
protected:
    TCerts Certs;
    ReportingHandler Handler;

    void SetUp() override { Certs.RootStore().Open(Pki().RootStoreFile()); }

    bool Validate(const Credential& credential, CertificateVerdict verdict, ValidityReasons reasons = 0)
    {
        Handler.Report(verdict, reasons);
        return Certs.ValidateCertificate(credential.Certificate.get(), Handler);
    }
};

struct ValidateCase
{
    const char* Label;
    const Credential* Before; // accepted as Trusted first, or none
    const Credential* Certificate;
    CertificateVerdict Verdict;
    ValidityReasons Reasons;
    bool Accepted;
    std::string Diagnosis;
    const Credential* LastAfterwards; // none: still the empty certificate
};

TEST_F(CertsTest, ValidateCertificateActsOnTheHandlersVerdict)
{
    const auto& pki = Pki();
    const ValidateCase cases[] = {
        {"trusted, reasons ignored", nullptr, &pki.Intermediate, CertificateVerdict::Trusted, vrExpired, true, "",
         &pki.Intermediate},
        {"self-signed and held by the root store", nullptr, &pki.Root, CertificateVerdict::SelfSigned, 0, true, "",
         &pki.Root},
        {"self-signed, not in the root store", nullptr, &pki.SelfSigned, CertificateVerdict::SelfSigned, 0, false,
         "Selbstsigniertes Zertifikat \"localhost\" nicht im Zertifikatsspeicher", nullptr},
        {"chain link signed by the last certificate", &pki.Intermediate, &pki.Localhost, CertificateVerdict::Invalid,
         vrUnknownCA, true, "", &pki.Localhost},
        {"chain link nothing accepted has signed", nullptr, &pki.Localhost, CertificateVerdict::Invalid, vrUnknownCA,
         false, "Unterzeichner des Zertifikats \"localhost\" nicht prüfbar", nullptr},
        {"chain link signed by another", &pki.Root, &pki.Localhost, CertificateVerdict::Invalid, vrUnknownCA, false,
         "Unterzeichner des Zertifikats \"localhost\" nicht prüfbar", &pki.Root},
        {"expired", &pki.Intermediate, &pki.Expired, CertificateVerdict::Invalid, vrExpired | vrUnknownCA, false,
         "vrExpired\r\nvrUnknownCA\r\n", &pki.Intermediate},
        {"every reason, unknown bits add nothing", nullptr, &pki.Localhost, CertificateVerdict::Invalid, 0xFFFFFFFFu,
         false, "vrBadData\r\nvrRevoked\r\nvrNotYetValid\r\nvrExpired\r\nvrInvalidSignature\r\nvrUnknownCA\r\n",
         nullptr},
        {"storage error", nullptr, &pki.Localhost, CertificateVerdict::StorageError, 0, false,
         "cvStorageError: Kein Zertifikatsspeicher zugreifbar", nullptr},
        {"unknown verdict 7", nullptr, &pki.Localhost, CertificateVerdict(7), vrUnknownCA, false,
         "cvUnknownError: Unbekannter Fehler 7", nullptr},
    };
    for (const auto& c : cases) {
        TCerts certs;
        certs.RootStore().Open(pki.RootStoreFile());
        if (c.Before) {
            Handler.Report(CertificateVerdict::Trusted, 0);
            ASSERT_TRUE(certs.ValidateCertificate(c.Before->Certificate.get(), Handler)) << c.Label;
        }
        Handler.Report(c.Verdict, c.Reasons);
        EXPECT_EQ(certs.ValidateCertificate(c.Certificate->Certificate.get(), Handler), c.Accepted) << c.Label;
        EXPECT_EQ(certs.Diagnosis(), Ansi(c.Diagnosis)) << c.Label;
        if (c.LastAfterwards)
            EXPECT_EQ(X509_cmp(certs.LastCertificate(), c.LastAfterwards->Certificate.get()), 0) << c.Label;
        else
            EXPECT_EQ(certs.CertificateName(), "") << c.Label;
    }
}

TEST_F(CertsTest, EachJudgementReplacesTheDiagnosisAndSetServerNameClearsIt)
{
    EXPECT_EQ(Certs.ErrorSuffix(), "");
    EXPECT_FALSE(Validate(Pki().Localhost, CertificateVerdict::StorageError));
    EXPECT_EQ(Certs.ErrorSuffix(), " (cvStorageError: Kein Zertifikatsspeicher zugreifbar)");
    EXPECT_FALSE(Validate(Pki().Localhost, CertificateVerdict::Invalid, vrRevoked));
    EXPECT_EQ(Certs.ErrorSuffix(), " (vrRevoked\r\n)");
    EXPECT_TRUE(Validate(Pki().Intermediate, CertificateVerdict::Trusted));
    EXPECT_EQ(Certs.ErrorSuffix(), "");

    EXPECT_FALSE(Validate(Pki().Localhost, CertificateVerdict(-1)));
    EXPECT_EQ(Certs.Diagnosis(), "cvUnknownError: Unbekannter Fehler -1");
    Certs.SetServerName("localhost");
    EXPECT_EQ(Certs.ServerName(), "localhost");
    EXPECT_EQ(Certs.Diagnosis(), "");
    EXPECT_EQ(Certs.ErrorSuffix(), "");
    EXPECT_EQ(Certs.CertificateName(), "Orvel Test Intermediate"); // survives SetServerName
}

struct NameCase
{
    const char* ServerName;
    const Credential* Certificate; // accepted as Trusted; none: nothing accepted yet
    const char* Mismatch;          // UTF-8; none: no change
};

TEST_F(CertsTest, CheckServerNameComparesTheCommonNameIgnoringCaseAndPort)
{
    const auto& pki = Pki();
    const Credential umlaut = test::Issue({.CommonName = "münchen.example", .Issuer = &pki.Root});
    const NameCase cases[] = {
        {"localhost", &pki.Localhost, nullptr},
        {"LocalHost", &pki.Localhost, nullptr},
        {"localhost:8443", &pki.Localhost, nullptr},
        {"MÜNCHEN.example", &umlaut, nullptr},
        {"localhost", &pki.OtherName,
         "Unterschiedliche Servernamen: Server heißt \"localhost\", aber Zertifikat ist auf \"other.example\" "
         "ausgestellt"},
        {"www.localhost:8443", &pki.Wildcard,
         "Unterschiedliche Servernamen: Server heißt \"www.localhost:8443\", aber Zertifikat ist auf \"*.localhost\" "
         "ausgestellt"},
        {"localhost", nullptr,
         "Unterschiedliche Servernamen: Server heißt \"localhost\", aber Zertifikat ist auf \"\" ausgestellt"},
    };
    for (const auto& c : cases) {
        TCerts certs;
        if (c.Certificate) {
            Handler.Report(CertificateVerdict::Trusted, 0);
            certs.ValidateCertificate(c.Certificate->Certificate.get(), Handler);
        }
        certs.SetServerName(Ansi(c.ServerName));
        int32_t result = 17;
        std::string text = "unchanged";
        certs.CheckServerName(result, text);
        EXPECT_EQ(result, c.Mismatch ? -250 : 17) << c.ServerName;
        EXPECT_EQ(text, Ansi(c.Mismatch ? c.Mismatch : "unchanged")) << c.ServerName;
    }
}

TEST_F(CertsTest, CheckServerNameGivesTheDiagnosisFirst)
{
    Validate(Pki().Localhost, CertificateVerdict::Trusted);
    Certs.SetServerName("localhost");
    Validate(Pki().Expired, CertificateVerdict::Invalid, vrExpired);
    int32_t result = 0;
    std::string text;
    Certs.CheckServerName(result, text);
    EXPECT_EQ(result, -250);
    EXPECT_EQ(text, "vrExpired\r\n");
}

TEST(CertsRootStore, OpensThePemFileNamedByTheEnvironmentOrTheSystemBundle)
{
    {
        ScopedEnvironment unset("ORVELWDDX_ROOT_STORE", nullptr);
        EXPECT_EQ(TCerts().RootStore().File(), "/etc/ssl/certs/ca-certificates.crt");
    }
    {
        ScopedEnvironment root("ORVELWDDX_ROOT_STORE", Pki().RootStoreFile().c_str());
        TCerts certs;
        EXPECT_EQ(certs.RootStore().File(), Pki().RootStoreFile());
        EXPECT_TRUE(certs.RootStore().Available());
        EXPECT_TRUE(certs.RootStore().Holds(Pki().Root.Certificate.get()));
    }
    ScopedEnvironment missing("ORVELWDDX_ROOT_STORE", "/nonexistent/roots.pem");
    EXPECT_FALSE(TCerts().RootStore().Available());
}

TEST(CertsRootStore, AFreshCheckerHoldsAnEmptyCertificate)
{
    TCerts certs;
    EXPECT_EQ(certs.CertificateName(), "");
    EXPECT_EQ(certs.ServerName(), "");
    EXPECT_EQ(certs.Diagnosis(), "");
}

} // namespace
} // namespace orvel
