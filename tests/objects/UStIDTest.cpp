#include "objects/UStID.h"
#include "confirm/Journal.h"
#include "platform/Text.h"
#include "support/Environment.h"
#include "support/FixtureServer.h"
#include "support/TestPki.h"
#include "support/Timing.h"
#include "support/Tinyproxy.h"
#include "support/ViesServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace orvel {
namespace {

using test::ScopedEnvironment;
using test::ViesServer;

std::string Utf8(const WideString& text)
{
    return ToUtf8(text);
}

class UStIDTest : public testing::Test
{
protected:
    ViesServer Vies;
    // The endpoint is fixed when the object is made; the proxy variables must not send the checks elsewhere.
    ScopedEnvironment Url{"ORVELWDDX_VIES_URL", Vies.Url().c_str()};
    ScopedEnvironment HttpProxy{"http_proxy", nullptr};
    TUStID UStID;

    std::string Resulttext() { return Utf8(UStID.Resulttext()); }
};

// Switched on, a simple check leaves its record in the journal too; without a journal to write it is a fault.
TEST_F(UStIDTest, SimpleChecksAreJournaledWhenSwitchedOn)
{
    const auto folder = std::filesystem::temp_directory_path() / ("orvel-ustid-journal-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    ScopedEnvironment data("XDG_DATA_HOME", folder.c_str());
    {
        ScopedEnvironment off("ORVELWDDX_JOURNAL_CHECKS", nullptr);
        UStID.Check(u"DE123456789");
        EXPECT_FALSE(std::filesystem::exists(folder / "OrvelWddx" / "journal.sqlite"));
    }
    ScopedEnvironment on("ORVELWDDX_JOURNAL_CHECKS", "1");
    const test::ViesTrader& trader = test::kViesTraders.front();
    UStID.Check(Widen(std::string(trader.CountryCode) + trader.VatNumber));
    EXPECT_EQ(UStID.Result(), 0) << Resulttext();
    UStID.Check(u"DE000000000");
    EXPECT_EQ(UStID.Result(), 1) << Resulttext();
    const std::vector<confirm::Record> records = confirm::Journal(confirm::Journal::DefaultPath()).Read({});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Kind, "check");
    EXPECT_EQ(records[0].ForeignId, std::string(trader.CountryCode) + trader.VatNumber);
    EXPECT_EQ(records[0].Status, "valid");
    EXPECT_NE(records[0].Raw.find("checkVatResponse"), std::string::npos);
    EXPECT_EQ(records[1].Status, "invalid");

    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "no folder";
    UStID.Check(u"DE000000000");
    EXPECT_EQ(UStID.Result(), 2);
    EXPECT_TRUE(Resulttext().starts_with("Prüfung ohne Nachweis verworfen: ")) << Resulttext();
    std::filesystem::remove_all(folder);
}

TEST_F(UStIDTest, FreshObjectReportsValidWithEmptyText)
{
    EXPECT_EQ(UStID.Result(), 0);
    EXPECT_EQ(UStID.Resulttext(), u"");
    EXPECT_EQ(UStID.Timeout(), 0);
}

TEST_F(UStIDTest, DropsSeparatorsUpperCasesMapsGreeceAndSplitsAfterTwoCharacters)
{
    struct Row
    {
        WideString Input;
        std::string CountryCode;
        std::string VatNumber;
    };
    const Row rows[] = {
        {u"de 123 456 789", "DE", "123456789"},
        {u"DE-123.456", "DE", "123456"},
        {u" at\tu 1234", "AT", "U1234"}, // separators of any kind go
        {u"gr 094", "EL", "094"},
        {u"d", "D", ""},
        {u"", "", ""},
        {u"  ", "", ""},
        {u"xäö é", "XÄ", "ÖÉ"},
        {u"elΣ1", "EL", "1"}, // narrowed to 8-bit text first, where Σ is a "?"
    };
    for (const auto& row : rows) {
        UStID.Check(row.Input);
        const auto call = Vies.Calls().back();
        EXPECT_EQ(call.CountryCode, row.CountryCode) << Utf8(row.Input);
        EXPECT_EQ(call.VatNumber, row.VatNumber) << Utf8(row.Input);
    }
    EXPECT_EQ(Vies.Calls().size(), std::size(rows));
}

TEST_F(UStIDTest, SendsTheDocumentLiteralRequestWithCrLfLineEnds)
{
    UStID.Check(u"de123456789");
    const auto request = Vies.Requests().at(0);
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/"><SOAP-ENV:Body>)"
        R"(<checkVat xmlns="urn:ec.europa.eu:taxud:vies:services:checkVat:types">)"
        "<countryCode>DE</countryCode><vatNumber>123456789</vatNumber></checkVat>"
        "</SOAP-ENV:Body></SOAP-ENV:Envelope>\r\n";
    EXPECT_EQ(request.Body, body);
    EXPECT_TRUE(request.Raw.starts_with("POST /taxation_customs/vies/services/checkVatService HTTP/1.1\r\n"));
    EXPECT_NE(request.Raw.find("\r\nContent-Type: text/xml\r\n"), std::string::npos);
    EXPECT_NE(request.Raw.find("\r\nSOAPAction: \"\"\r\n"), std::string::npos);
    EXPECT_TRUE(request.Raw.ends_with("\r\n\r\n" + body));
    for (size_t at = request.Raw.find('\n'); at != std::string::npos; at = request.Raw.find('\n', at + 1))
        EXPECT_EQ(request.Raw[at - 1], '\r') << "bare LF at " << at;
}

TEST_F(UStIDTest, ValidIdGivesTheSixFieldsOfTheAnswerInAnyScript)
{
    for (const auto& trader : test::kViesTraders) {
        UStID.Check(FromUtf8(std::string(trader.CountryCode) + trader.VatNumber));
        const std::string text = Resulttext();
        EXPECT_EQ(UStID.Result(), 0) << trader.Name;
        EXPECT_EQ(text, std::string(trader.CountryCode) + "~" + trader.VatNumber + "~2024-11-11+01:00~True~" +
                            trader.Name + "~" + trader.Address);
        EXPECT_EQ(std::count(text.begin(), text.end(), '~'), 5) << trader.Name;
    }
}

TEST_F(UStIDTest, IdUnknownToViesGivesOneAndFalse)
{
    UStID.Check(u"FR 999 999 999");
    EXPECT_EQ(UStID.Result(), 1);
    EXPECT_EQ(Resulttext(), "FR~999999999~2024-11-11+01:00~False~---~---");
}

TEST_F(UStIDTest, ACountryOutsideViesIsAnsweredAtOnce)
{
    for (const char16_t* id : {u"GB123456789", u"ch-e 123.456.789", u"NO 123456789MVA"}) {
        UStID.Check(id);
        EXPECT_EQ(UStID.Result(), 1);
        EXPECT_EQ(Resulttext(), "kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der EU-Mitgliedstaaten und "
                                "Nordirlands (XI)");
    }
    EXPECT_TRUE(Vies.Calls().empty());
}

TEST_F(UStIDTest, FaultGivesTwoAndTheFaultString)
{
    for (const auto& fault : test::kViesFaults) {
        UStID.Check(u"DE" + FromUtf8(fault));
        EXPECT_EQ(UStID.Result(), 2) << fault;
        EXPECT_EQ(Resulttext(), fault);
    }
    UStID.Check(u"");
    EXPECT_EQ(UStID.Result(), 2);
    EXPECT_EQ(Resulttext(), "INVALID_INPUT");
}

TEST_F(UStIDTest, UnreadableAnswerOrTransportFailureGivesTwoAndTheMessage)
{
    struct Row
    {
        const char* VatNumber;
        std::string Message; // UTF-8
    };
    const Row rows[] = {
        {test::kNotXml, "Die Antwort ist kein XML-Dokument: Start tag expected, '<' not found"},
        {test::kNoDate, "Die Antwort enthält kein Element requestDate."},
        {test::kWrongBody, "Unerwartetes Element {urn:ec.europa.eu:taxud:vies:services:checkVat:types}"
                           "checkVatApproxResponse in der Antwort; erwartet: "
                           "{urn:ec.europa.eu:taxud:vies:services:checkVat:types}checkVatResponse."},
        {test::kOversize, "Die Antwort ist größer als 4 MiB und wird nicht gelesen."},
        {test::kExternalEntity, "Die Antwort ist kein XML-Dokument: Entitätsdeklaration nicht erlaubt: 'trader'"},
        {test::kHttp500, "HTTP/1.1 500 Internal Server Error"},
    };
    for (const auto& row : rows) {
        UStID.Check(u"DE" + FromUtf8(row.VatNumber));
        EXPECT_EQ(UStID.Result(), 2) << row.VatNumber;
        EXPECT_EQ(Resulttext(), row.Message);
    }
}

TEST(UStID, UnreachableServiceGivesTwoAndTheSocketError)
{
    ScopedEnvironment url("ORVELWDDX_VIES_URL",
                          ("http://127.0.0.1:" + std::to_string(test::FreePort()) + "/checkVatService").c_str());
    TUStID ustid;
    ustid.Check(u"DE123456789");
    EXPECT_EQ(ustid.Result(), 2);
    EXPECT_EQ(Utf8(ustid.Resulttext()), "Socket-Fehler # 10061\r\nVerbindung abgelehnt.");
}

TEST(UStID, SecureEndpointAcceptsNoCertificateOutsideTheSystemRoots)
{
    // The test PKI's chain is sound, but its root is not among the system's.
    const auto& pki = test::Pki();
    test::FixtureServer server(pki.Identity(pki.Localhost, {&pki.Intermediate}));
    ScopedEnvironment url("ORVELWDDX_VIES_URL",
                          ("https://localhost:" + std::to_string(server.Port()) + "/checkVatService").c_str());
    TUStID ustid;
    ustid.Check(u"DE123456789");
    EXPECT_EQ(ustid.Result(), 2);
    EXPECT_EQ(Utf8(ustid.Resulttext()), "Fehler beim Aufbau der TLS-Verbindung: Zertifikat des Servers abgelehnt.");
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(UStIDTest, TimeoutBoundsAStalledAnswerAndZeroOrLessKeepsTheDefault)
{
    UStID.SetTimeout(300);
    const auto start = std::chrono::steady_clock::now();
    UStID.Check(FromUtf8(std::string("DE") + test::kStall));
    EXPECT_LT(std::chrono::steady_clock::now() - start, test::kShortTimeoutBound);
    EXPECT_EQ(UStID.Result(), 2);
    EXPECT_EQ(Resulttext(), "Zeitüberschreitung beim Lesen");

    for (int32_t value : {0, -5}) {
        UStID.SetTimeout(value);
        EXPECT_EQ(UStID.Timeout(), value);
        UStID.Check(u"DE123456789");
        EXPECT_EQ(UStID.Result(), 0);
    }
}

TEST_F(UStIDTest, ProxyWithBasicAuthenticationCarriesTheCheck)
{
    test::Tinyproxy proxy("proxyuser", "secret");
    UStID.SetProxy(u"127.0.0.1", proxy.Port(), u"proxyuser", u"secret");
    UStID.Check(u"DE123456789");
    EXPECT_EQ(UStID.Result(), 0);
    EXPECT_EQ(Vies.Requests().back().Headers.count("via"), 1u); // tinyproxy's mark

    // The proxy refuses and closes with the body unread: its status line or the reset reaches the check.
    UStID.SetProxy(u"127.0.0.1", proxy.Port(), u"proxyuser", u"wrong");
    UStID.Check(u"DE123456789");
    EXPECT_EQ(UStID.Result(), 2);
    EXPECT_NE(Resulttext(), "");
    EXPECT_EQ(Vies.Requests().size(), 1u);
}

TEST_F(UStIDTest, EmptyProxyFollowsTheProxyVariablesAndStillTakesTheUserName)
{
    test::Tinyproxy proxy("proxyuser", "secret");
    ScopedEnvironment noProxy("no_proxy", nullptr);
    ScopedEnvironment httpProxy("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str());

    UStID.SetProxy(u"", 0, u"", u"");
    UStID.Check(u"DE123456789");
    EXPECT_EQ(UStID.Result(), 2); // refused by the proxy
    EXPECT_TRUE(Vies.Requests().empty());

    UStID.SetProxy(u"", 0, u"proxyuser", u"secret");
    UStID.Check(u"DE123456789");
    EXPECT_EQ(UStID.Result(), 0);
    ASSERT_EQ(Vies.Requests().size(), 1u);
    EXPECT_EQ(Vies.Requests().back().Headers.count("via"), 1u);
}

} // namespace
} // namespace orvel
