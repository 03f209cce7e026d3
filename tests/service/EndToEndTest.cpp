// The service as the program meets it: the objects and the web-services client over loopback, no fixture server.

#include "objects/Address.h"
#include "objects/Tarvik.h"
#include "objects/UStID.h"
#include "platform/Text.h"
#include "rules/DataFolders.h"
#include "service/Service.h"
#include "service/SlowWork.h"
#include "service/SoapRpc.h"
#include "service/ViesFront.h"
#include "soap/IAddress3Unit.h"
#include "soap/ITarvikUnit.h"
#include "support/OfficialFiles.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

namespace orvel::service {
namespace {

using ITarvikUnit::GetITarvik;

constexpr const char* kDebianDirectory = "/usr/share/ktoblzcheck/blz_20200420.txt";

ServiceConfig TestConfig()
{
    ServiceConfig config;
    config.Listen = {"127.0.0.1:0"};
    config.BankFile = kDebianDirectory;
    config.Timeout = 1;
    return config;
}

std::string Utf8(const WideString& text)
{
    return ToUtf8(text);
}

// A connection to 127.0.0.1:port from the given loopback address (127.0.0.0/8 all reach this machine).
int ConnectFrom(uint16_t port, const char* from)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends raw bytes and reads what comes back until the server closes or 5 s pass.
std::string Exchange(uint16_t port, const std::string& request)
{
    const int fd = ConnectFrom(port, "127.0.0.1");
    std::string answer;
    if (fd < 0)
        return answer;
    for (size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += size_t(n);
    }
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, size_t(n));
    close(fd);
    return answer;
}

// What a connection from the given loopback address gets back for the request.
std::string ExchangeFrom(uint16_t port, const std::string& request, const char* from)
{
    const int fd = ConnectFrom(port, from);
    std::string answer;
    if (fd < 0)
        return answer;
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, size_t(n));
    close(fd);
    return answer;
}

class ServiceEndToEnd : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ServiceConfig config = TestConfig();
        const test::TlsIdentity identity = test::Pki().Identity(test::Pki().Localhost, {&test::Pki().Intermediate});
        config.TlsListen = {"127.0.0.1:0"};
        config.TlsCert = identity.CertificateChainFile;
        config.TlsKey = identity.KeyFile;
        Running = new Service(config);
    }
    static void TearDownTestSuite()
    {
        delete Running;
        Running = nullptr;
    }

    static uint16_t Port() { return Running->Ports().at(0); }
    static uint16_t TlsPort() { return Running->Ports().at(1); }
    static WideString Host() { return FromUtf8("127.0.0.1:" + std::to_string(Port())); }

    static Service* Running;
    TTarvik Tarvik;

    void SetUp() override { Tarvik.SetHost(Host()); }
};

Service* ServiceEndToEnd::Running = nullptr;

TEST_F(ServiceEndToEnd, TarvikObjectChecksEveryKindOverWddx)
{
    Tarvik.TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 0) << Utf8(Tarvik.Resulttext());
    EXPECT_EQ(Tarvik.BankName(), u"Commerzbank");
    EXPECT_EQ(Tarvik.Iban(), u"DE89370400440532013000");
    EXPECT_EQ(Tarvik.Bic(), u"COBADEFFXXX");
    EXPECT_EQ(Tarvik.NewBlz(), u"");
    EXPECT_EQ(Utf8(Tarvik.Resulttext()).rfind("Bankleitzahl und Kontonummer gültig", 0), 0u);

    Tarvik.TestBlzKto(u"demo", u"wexo", u"89999999", u"1234", u"DE", 0, u"Bäckerei Nord");
    EXPECT_EQ(Tarvik.Result(), 3);
    EXPECT_EQ(Tarvik.BankName(), u"Testbank");
    EXPECT_EQ(Tarvik.Iban(), u"DE32899999990000001234");

    Tarvik.TestBlzKto(u"demo", u"wexo", u"37040044", u"0532013001", u"DE", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 0);
    Tarvik.TestBlzKto(u"demo", u"wexo", u"37040044", u"0532014000", u"DE", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 11);
    EXPECT_EQ(Tarvik.Iban(), u"");

    Tarvik.TestIbanBic(u"demo", u"wexo", u"DE89370400440532013000", u"COBADEFFXXX", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(Tarvik.BicSct(), 1);
    EXPECT_EQ(Tarvik.BicSdd(), 1);
    EXPECT_EQ(Tarvik.BicB2b(), 1);
    EXPECT_EQ(Utf8(Tarvik.BicName()).rfind("Commerzbank", 0), 0u);

    Tarvik.TestBic(u"demo", u"wexo", u"DEUTDEFFXXX");
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(Utf8(Tarvik.BicName()).rfind("Deutsche Bank", 0), 0u);
    EXPECT_EQ(Tarvik.BicSct(), 1);

    for (const char16_t* bic : {u"DEUTDEF", u"ABC", u"DEUTDEFF!!"}) {
        Tarvik.TestBic(u"demo", u"wexo", bic);
        EXPECT_EQ(Tarvik.BicName(), u"*BIC ungültig: 8 oder 11 Buchstaben und Ziffern erwartet");
        EXPECT_EQ(Tarvik.BicSct(), 0);
    }
    Tarvik.TestBic(u"demo", u"wexo", u"NONEDEFFXXX");
    EXPECT_EQ(Utf8(Tarvik.BicName()).rfind("*BIC nicht im Bankverzeichnis", 0), 0u);

    Tarvik.TestCc(u"demo", u"wexo", u"5555 5555 5555 4444");
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(Tarvik.Resulttext(), u"Kartennummer gültig (Mastercard)");

    Tarvik.Search(u"demo", u"wexo", u"Commerzbank Köln", u"DE", 0);
    ASSERT_GE(Tarvik.Result(), 1);
    EXPECT_NE(Utf8(Tarvik.Banken(1)).find("|COBADEFF"), std::string::npos);
    EXPECT_NE(Utf8(Tarvik.Banken(1)).find("|Köln"), std::string::npos);
    Tarvik.Search(u"demo", u"wexo", u"sparkass", u"DE", 1);
    EXPECT_GT(Tarvik.Result(), 100);
    Tarvik.Search(u"demo", u"wexo", u"sparkass", u"DE", 0);
    EXPECT_EQ(Tarvik.Result(), 0);
}

TEST_F(ServiceEndToEnd, DeletedBankCodeNamesItsSuccessor)
{
    // A bank code the 2020 directory marks as deleted, with a successor.
    std::ifstream in(kDebianDirectory, std::ios::binary);
    std::string line, blz, successor;
    while (std::getline(in, line))
        if (line.size() >= 168 && line[158] == 'D' && line.compare(160, 8, "00000000") != 0 && line[8] == '1') {
            blz = line.substr(0, 8);
            successor = line.substr(160, 8);
            break;
        }
    ASSERT_FALSE(blz.empty());
    Tarvik.TestBlzKto(u"demo", u"wexo", FromUtf8(blz), u"1234567", u"DE", 0, u"");
    EXPECT_EQ(Tarvik.Result(), -1) << Utf8(Tarvik.Resulttext());
    EXPECT_EQ(Utf8(Tarvik.NewBlz()), successor);
}

// The SCL and OeNB directories of a data folder, through the check object as the program asks.
TEST(OfficialDirectories, TheTarvikObjectGetsSclFlagsAndAustrianBanks)
{
    const auto folder = std::filesystem::temp_directory_path() / ("orvel-official-e2e-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    test::WriteSclFile((folder / "scl_20261204.csv").string(), "04.12.2026",
                       {{"BNPAFRPP", "BNP PARIBAS", "1;1;0;0;1"}, {"COBADEFFXXX", "Commerzbank AG", "1;1;0;1;0"}});
    test::WriteOenbFile(
        (folder / "oenb_20261210.csv").string(), "10.12.2026",
        {{.Blz = "32000", .Name = "Raiffeisenlandesbank Nieder\xF6sterreich-Wien AG", .Bic = "RLNWATWWXXX"}});
    rules::SetDataDir(folder.string());
    {
        const Service running(TestConfig());
        TTarvik tarvik;
        tarvik.SetHost(FromUtf8("127.0.0.1:" + std::to_string(running.Ports().at(0))));
        tarvik.TestBic(u"", u"", u"BNPAFRPP");
        EXPECT_EQ(tarvik.BicName(), u"BNP PARIBAS");
        EXPECT_EQ(std::vector<int32_t>({tarvik.BicSct(), tarvik.BicSdd(), tarvik.BicB2b()}),
                  std::vector<int32_t>({1, 1, 0}));
        // 8 characters are the XXX form; the IBAN's bank and the BIC agree.
        tarvik.TestIbanBic(u"", u"", u"DE89370400440532013000", u"COBADEFF", 0, u"");
        EXPECT_EQ(tarvik.Result(), 0) << Utf8(tarvik.Resulttext());
        EXPECT_EQ(tarvik.BicName(), u"Commerzbank AG");
        EXPECT_EQ(tarvik.BicB2b(), 1);
        tarvik.TestIban(u"", u"", u"AT063200000000123456", 0, u"");
        EXPECT_EQ(tarvik.Result(), 5) << Utf8(tarvik.Resulttext());
        EXPECT_EQ(tarvik.BankName(), u"Raiffeisenlandesbank Niederösterreich-Wien AG");
        EXPECT_EQ(tarvik.Bic(), u"RLNWATWWXXX");
        tarvik.Search(u"", u"", u"Raiffeisenlandesbank", u"AT", 0);
        EXPECT_EQ(tarvik.Result(), 1) << Utf8(tarvik.Resulttext());
        EXPECT_EQ(tarvik.Banken(1), u"32000|RLNWATWWXXX|Raiffeisenlandesbank Niederösterreich-Wien AG|1010|Wien");
    }
    rules::SetDataDir("");
    std::filesystem::remove_all(folder);
}

TEST_F(ServiceEndToEnd, HttpsWithCertificateEnforcement)
{
    Tarvik.SetHost(FromUtf8("localhost:" + std::to_string(TlsPort())));
    Tarvik.SetSSLMode(1);
    Tarvik.CertChecker().RootStore().Open(test::Pki().RootStoreFile());
    Tarvik.TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 0) << Utf8(Tarvik.Resulttext());
    EXPECT_EQ(Tarvik.BankName(), u"Commerzbank");
}

TEST_F(ServiceEndToEnd, WebServicesClient)
{
    auto client = std::make_shared<SoapClient>();
    client->SetURL("http://127.0.0.1:" + std::to_string(Port()) + "/soap/ITarvik");
    const auto service = GetITarvik(client);

    WideString text, bank, newBlz, iban, bic, bankBic;
    EXPECT_EQ(service->TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"", text, bank, newBlz, iban, bic), 0);
    EXPECT_EQ(bank, u"Commerzbank");
    EXPECT_EQ(iban, u"DE89370400440532013000");
    EXPECT_EQ(bic, u"COBADEFFXXX");
    EXPECT_EQ(Utf8(text).rfind("Bankleitzahl und Kontonummer gültig", 0), 0u);

    EXPECT_EQ(service->TestBlzKto(u"demo", u"wexo", u"89999999", u"1234", u"DE", 0, u"", text, bank, newBlz, iban, bic),
              3);
    EXPECT_EQ(bank, u"Testbank");

    int32_t sct = -1, sdd = -1, b2b = -1;
    EXPECT_EQ(service->TestIbanBic(u"demo", u"wexo", u"DE89370400440532013000", u"DEUTDEFFXXX", 0, u"", text, bank,
                                   bankBic, newBlz, iban, bic, sct, sdd, b2b),
              32);
    EXPECT_EQ(Utf8(bankBic).rfind("Deutsche Bank", 0), 0u);

    service->TestBic(u"demo", u"wexo", u"COBADEFFXXX", bank, sct, sdd, b2b);
    EXPECT_EQ(Utf8(bank).rfind("Commerzbank", 0), 0u);
    EXPECT_EQ(sct + sdd + b2b, 3);
    service->TestBic(u"demo", u"wexo", u"ABC", bank, sct, sdd, b2b);
    EXPECT_EQ(bank, u"*BIC ungültig: 8 oder 11 Buchstaben und Ziffern erwartet");
    EXPECT_EQ(sct + sdd + b2b, 0);

    EXPECT_EQ(service->TestCc(u"demo", u"wexo", u"378282246310005", text), 0);
    EXPECT_EQ(text, u"Kartennummer gültig (American Express)");

    const TStringDynArray found = service->Search(u"demo", u"wexo", u"Commerzbank Köln", u"DE", 0);
    ASSERT_FALSE(found.empty());
    EXPECT_NE(Utf8(found[0]).find("|Köln"), std::string::npos);
}

TEST_F(ServiceEndToEnd, AddressObjectChecksOverWddx)
{
    TAddress address;
    address.SetHost(Host());
    address.Check(u"demo", u"wexo", u"10117", u"Berlin");
    EXPECT_EQ(address.Result(), 0) << Utf8(address.Resulttext());
    EXPECT_EQ(address.Resulttext(), u"Postleitzahl und Ort passen zusammen.");
    EXPECT_EQ(address.PlzOut(), u"10117");
    EXPECT_EQ(address.OrteString(), u"0");

    address.Check(u"demo", u"wexo", u"10117", u"Hamburg");
    EXPECT_EQ(address.Result(), 4);
    EXPECT_EQ(address.OrteString(), u"1~10117|Berlin");
    EXPECT_EQ(address.AlteOrteString(), u"0");
    EXPECT_NE(Utf8(address.Resulttext()).find("Postleitzahlen für diesen Ortsnamen: 20095"), std::string::npos)
        << Utf8(address.Resulttext());

    // Windows-1252 both ways: the umlaut typed, the rewritten name and the district answered.
    address.SetRewrite(3);
    address.Check(u"demo", u"wexo", u"65929", u"Frankfurt-Höchst");
    EXPECT_EQ(address.Result(), 9) << Utf8(address.Resulttext());
    EXPECT_EQ(address.Rewritten(), u"Frankfurt am Main");
    EXPECT_EQ(address.Ortsteil(), u"Höchst");
    address.SetRewrite(0);
    address.Check(u"demo", u"wexo", u"80331", u"München");
    EXPECT_EQ(address.Result(), 0) << Utf8(address.Resulttext());
    EXPECT_EQ(address.Rewritten(), u"");

    address.CheckStrHnr(u"demo", u"wexo", u"10117", u"Berlin", u"Unter den Linden", u"1a");
    EXPECT_EQ(address.Result(), 12);
    EXPECT_EQ(address.Str46(), u"");
    address.CheckPof(u"demo", u"wexo", u"10117", u"Berlin", u"10 20");
    EXPECT_EQ(address.Result(), 12);
    EXPECT_NE(Utf8(address.Resulttext()).find("Postfach"), std::string::npos);

    // The window's first input.
    address.Check(u"demo", u"wexo", u"99999", u"Musterstadt");
    EXPECT_EQ(address.Result(), 0);
    EXPECT_EQ(Utf8(address.Resulttext()).rfind("Testdaten: ", 0), 0u);

    address.GetPlzType(u"demo", u"wexo", u"10117");
    EXPECT_EQ(address.Result(), 101);
    EXPECT_EQ(Utf8(address.Resulttext()).rfind("Postleitzahl mit Orten", 0), 0u);
    address.GetPlzType(u"demo", u"wexo", u"00000");
    EXPECT_EQ(address.Result(), 100);
    address.GetPlzType(u"demo", u"wexo", u"1011");
    EXPECT_EQ(address.Result(), 110);
    address.Check(u"demo", u"wexo", u"1011", u"Berlin");
    EXPECT_EQ(address.Result(), 6);
}

TEST_F(ServiceEndToEnd, AddressWebServicesClient)
{
    auto client = std::make_shared<SoapClient>();
    client->SetURL("http://127.0.0.1:" + std::to_string(Port()) + "/soap/IAddress3");
    const auto service = GetIAddress3(client);

    WideString text, rewritten, str46, str22, ortsteil, plzOut;
    TStringDynArray orte, alteOrte;
    EXPECT_EQ(service->CheckPlzOrt(u"demo", u"wexo", u"10117", u"Berlin", 0, text, rewritten, orte, alteOrte), 0);
    EXPECT_EQ(text, u"Postleitzahl und Ort passen zusammen.");
    EXPECT_TRUE(orte.empty());

    // Lists without a count element, in UTF-8 beyond Windows-1252.
    EXPECT_EQ(service->CheckPlzOrt(u"demo", u"wexo", u"03042", u"Hamburg", 0, text, rewritten, orte, alteOrte), 4);
    EXPECT_EQ(orte, TStringDynArray{u"03042|Cottbus - Chóśebuz"});
    EXPECT_TRUE(alteOrte.empty());

    EXPECT_EQ(service->CheckPlzOrtStr(u"demo", u"wexo", u"65929", u"frankfurt am main-höchst", u"Hauptstraße", u"", 2,
                                      text, rewritten, str46, str22, ortsteil, plzOut, orte, alteOrte),
              12);
    EXPECT_EQ(rewritten, u"Frankfurt");
    EXPECT_EQ(ortsteil, u"höchst");
    EXPECT_EQ(plzOut, u"65929");
    EXPECT_EQ(str46, u"");

    EXPECT_EQ(
        service->CheckPlzOrtPof(u"demo", u"wexo", u"10117", u"Hamburg", u"10 20", 0, text, rewritten, orte, alteOrte),
        4);
    EXPECT_EQ(orte, TStringDynArray{u"10117|Berlin"});

    EXPECT_EQ(service->GetPlzType(u"demo", u"wexo", u"99999", text), 109);
    EXPECT_EQ(Utf8(text).rfind("Testpostleitzahl", 0), 0u);
}

TEST_F(ServiceEndToEnd, VatObjectAnswersOfflineWithTheViesUrlPointedHere)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(Port()) + kViesPath;
    ASSERT_EQ(setenv("ORVELWDDX_VIES_URL", url.c_str(), 1), 0);
    TUStID vat;
    unsetenv("ORVELWDDX_VIES_URL");

    vat.Check(u"de 136 695 976");
    EXPECT_EQ(vat.Result(), 0) << Utf8(vat.Resulttext());
    EXPECT_TRUE(
        std::regex_match(Utf8(vat.Resulttext()),
                         std::regex(R"(DE~136695976~\d{4}-\d\d-\d\d[+-]\d\d:\d\d~True~---~)"
                                    R"(Offline-Prüfung: nur Aufbau und Prüfziffer, keine Bestätigung durch die EU)")))
        << Utf8(vat.Resulttext());

    const struct
    {
        const char16_t* Id;
        int32_t Result;
        const char* Text; // the start of Resulttext
    } cases[] = {
        {u"DE136695978", 1, "DE~136695978~"}, // one digit changed
        {u"ATU13585627", 0, "AT~U13585627~"},
        {u"DE12345", 1, "DE~12345~"},                 // not the German form: not valid, as VIES answers
        {u"DE-136.695.976", 0, "DE~136695976~"},      // separators dropped before sending
        {u"GB123456789", 1, "kein EU-Mitgliedstaat"}, // not asked at all
        {u"XI980780684", 0, "XI~980780684~"},
        {u"DE DE 246595415", 1, "DE~DE246595415~"}, // the country code twice: VIES says not valid
        {u"DE246595415", 0, "DE~246595415~"},
        {u"DE", 2, "INVALID_INPUT"},
        {u"", 2, "INVALID_INPUT"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(Utf8(entry.Id));
        vat.Check(entry.Id);
        EXPECT_EQ(vat.Result(), entry.Result);
        EXPECT_EQ(Utf8(vat.Resulttext()).rfind(entry.Text, 0), 0u) << Utf8(vat.Resulttext());
    }
}

TEST_F(ServiceEndToEnd, ConnectionsAreKeptAlive)
{
    const std::string request = "GET /tarvik?cc=4111111111111111 HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string answers =
        Exchange(Port(), request + request + "GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    size_t count = 0;
    for (size_t at = answers.find("HTTP/1.1 200"); at != std::string::npos; at = answers.find("HTTP/1.1 200", at + 1))
        ++count;
    EXPECT_EQ(count, 3u);
    EXPECT_NE(answers.find("<string>40</string>"), std::string::npos);
}

TEST_F(ServiceEndToEnd, StartPageNamesDataAndResultCodes)
{
    const std::string page = Exchange(Port(), "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_NE(page.find("text/html"), std::string::npos);
    EXPECT_NE(page.find("blz_20200420.txt"), std::string::npos);
    EXPECT_NE(page.find("20.04.2020"), std::string::npos);
    EXPECT_NE(page.find("<td>90</td>"), std::string::npos);
    EXPECT_NE(page.find("Deutsche Bundesbank"), std::string::npos);
    EXPECT_NE(page.find("© OpenStreetMap contributors"), std::string::npos);
    EXPECT_NE(page.find("postleitzahlen.tsv"), std::string::npos);
    EXPECT_NE(page.find("20.03.2021"), std::string::npos);
    EXPECT_NE(page.find("<td>109</td>"), std::string::npos);
    EXPECT_NE(page.find("keine Bestätigung durch die Steuerbehörden"), std::string::npos);
}

// Bad requests, each followed by a good one on the same service.
TEST_F(ServiceEndToEnd, BadRequestsGetAnAnswerAndTheServiceGoesOn)
{
    const std::string soapHead = "POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                                 "Content-Type: text/xml\r\n";
    const auto postTo = [](const std::string& path, const std::string& body) {
        return "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: text/xml\r\n" +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const auto post = [&](const std::string& body) { return postTo("/soap/ITarvik", body); };
    const std::string envelope = "<?xml version=\"1.0\"?><soap:Envelope "
                                 "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>";
    const struct
    {
        const char* Label;
        std::string Request;
        const char* StatusLine;
        const char* Contains;
    } cases[] = {
        {"no function", "GET /tarvik?un=demo&pw=wexo HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n", "HTTP/1.1 200",
         "<var name='result'><string>92</string>"},
        {"bank code without account",
         "GET /tarvik?un=a&pw=b&blz=37040044 HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n", "HTTP/1.1 200",
         "<var name='result'><string>91</string>"},
        {"query over 8 KiB",
         "GET /tarvik?search=" + std::string(9000, 'a') + " HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n",
         "HTTP/1.1 414", ""},
        {"request line beyond the connection's memory",
         "GET /tarvik?search=" + std::string(40000, 'a') + " HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n",
         "HTTP/1.1 4", ""},
        {"unknown path", "GET /admin HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n", "HTTP/1.1 404", ""},
        {"no Host header", "GET /tarvik?iban=DE HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 400", ""},
        {"no HTTP at all (closed without a word)", "HELLO\r\n\r\n", "", ""},
        {"broken SOAP", post("<soap:Envelope"), "HTTP/1.1 500", "SOAP-ENV:Client"},
        {"SOAP without envelope", post("<x/>"), "HTTP/1.1 500", "SOAP-ENV:Client"},
        {"unknown operation", post(envelope + "<Drop xmlns=\"urn:TarvikIntf-ITarvik\"/></soap:Body></soap:Envelope>"),
         "HTTP/1.1 500", "Unbekannte Operation"},
        {"missing input",
         post(envelope + "<TestCc xmlns=\"urn:TarvikIntf-ITarvik\"><UN>a</UN></TestCc></soap:Body>"
                         "</soap:Envelope>"),
         "HTTP/1.1 500", "Parameter Cc fehlt"},
        {"entity expansion",
         post("<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>" +
              envelope + "<TestCc xmlns=\"urn:TarvikIntf-ITarvik\"><UN>&b;</UN></TestCc></soap:Body></soap:Envelope>"),
         "HTTP/1.1 500", "SOAP-ENV:Client"},
        {"SOAP by GET", "GET /soap/ITarvik HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n", "HTTP/1.1 500",
         "Nur POST"},
        {"address without function",
         "GET /address?un=a&pw=b&plz=10117 HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n", "HTTP/1.1 200",
         "<var name='result'><string>92</string>"},
        {"address check without postal code",
         "GET /address?un=a&pw=b&func=check&ort=Berlin HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n",
         "HTTP/1.1 200", "<var name='result'><string>91</string>"},
        {"address check with control characters and a long place",
         "GET /address?func=check&plz=10117&ort=%01%02" + std::string(6000, 'x') +
             " HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n",
         "HTTP/1.1 200", "<var name='result'><string>4</string>"},
        {"address operation missing an input",
         postTo("/soap/IAddress3", envelope +
                                       "<CheckPlzOrt xmlns=\"urn:Address3Intf-IAddress3\"><UN>a</UN><PW>b</PW>"
                                       "<Plz>10117</Plz><Ort>Berlin</Ort></CheckPlzOrt></soap:Body></soap:Envelope>"),
         "HTTP/1.1 500", "Parameter Rewrite fehlt"},
        {"address operation of the account interface",
         postTo("/soap/IAddress3",
                envelope + "<TestCc xmlns=\"urn:Address3Intf-IAddress3\"/></soap:Body></soap:Envelope>"),
         "HTTP/1.1 500", "Unbekannte Operation"},
        {"VIES by GET", "GET " + std::string(kViesPath) + " HTTP/1.1\r\nConnection: close\r\nHost: x\r\n\r\n",
         "HTTP/1.1 500", "Nur POST"},
        {"VIES broken envelope", postTo(kViesPath, "<soap:Envelope"), "HTTP/1.1 500", "INVALID_INPUT"},
        {"VIES without vatNumber",
         postTo(kViesPath, envelope + "<checkVat xmlns=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\">"
                                      "<countryCode>DE</countryCode></checkVat></soap:Body></soap:Envelope>"),
         "HTTP/1.1 500", "<faultstring>INVALID_INPUT</faultstring>"},
        {"VIES with an unknown element",
         postTo(kViesPath, envelope + "<checkVatApprox xmlns=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\"/>"
                                      "</soap:Body></soap:Envelope>"),
         "HTTP/1.1 500", "INVALID_INPUT"},
        // A SOAP path refuses a body too large with a fault its clients read, a plain path with text.
        {"body announced over 1 MiB", soapHead + "Content-Length: 2000000\r\n\r\n", "HTTP/1.1 413",
         "<faultcode>SOAP-ENV:Client</faultcode><faultstring>Anfrage zu gro\xc3\x9f</faultstring>"},
        {"body announced just over 64 KiB", soapHead + "Content-Length: 65537\r\n\r\n", "HTTP/1.1 413",
         "<faultcode>SOAP-ENV:Client</faultcode>"},
        {"VIES body sent over 64 KiB", postTo(kViesPath, envelope + std::string(70000, ' ')), "HTTP/1.1 413",
         "<faultcode>SOAP-ENV:Client</faultcode><faultstring>INVALID_INPUT</faultstring>"},
        {"eVatR body announced over 64 KiB",
         "POST /app/v1/abfrage HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 65537\r\n\r\n",
         "HTTP/1.1 413", "{\"status\":413,\"title\":\"Anfrage zu gro\xc3\x9f\""},
        {"one element with many attributes",
         postTo("/soap/ITarvik",
                [] {
                    std::string attributes;
                    for (int i = 0; i < 40; ++i)
                        attributes += " a" + std::to_string(i) + "=\"x\"";
                    return "<SOAP-ENV:Envelope "
                           "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body><x" +
                           attributes + "/></SOAP-ENV:Body></SOAP-ENV:Envelope>";
                }()),
         "HTTP/1.1 500", "<faultcode>SOAP-ENV:Client</faultcode><faultstring>Zu viele Attribute"},
        {"VIES element with many namespace declarations",
         postTo(kViesPath,
                [&] {
                    std::string declarations;
                    for (int i = 0; i < 40; ++i)
                        declarations += " xmlns:n" + std::to_string(i) + "='urn:" + std::to_string(i) + "'";
                    return envelope + "<checkVat xmlns=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\"" +
                           declarations +
                           "><countryCode>DE</countryCode><vatNumber>136695976</vatNumber></checkVat>"
                           "</soap:Body></soap:Envelope>";
                }()),
         "HTTP/1.1 500", "INVALID_INPUT"},
        {"body sent over 1 MiB",
         soapHead + "Transfer-Encoding: chunked\r\n\r\n100000\r\n" + std::string(0x100000, 'x') + "\r\n10\r\n" +
             std::string(16, 'x') + "\r\n0\r\n\r\n",
         "HTTP/1.1 413", "<faultcode>SOAP-ENV:Client</faultcode>"},
        {"endless body (cut off, the answer may be lost in the reset)",
         soapHead + "Transfer-Encoding: chunked\r\n\r\n" +
             [] {
                 std::string chunks;
                 for (int i = 0; i < 10; ++i)
                     chunks += "100000\r\n" + std::string(0x100000, 'x') + "\r\n";
                 return chunks;
             }(),
         "", ""},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Label);
        const std::string answer = Exchange(Port(), entry.Request);
        EXPECT_EQ(answer.rfind(entry.StatusLine, 0), 0u) << answer.substr(0, 200);
        EXPECT_NE(answer.find(entry.Contains), std::string::npos) << answer.substr(0, 400);
        Tarvik.TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"");
        EXPECT_EQ(Tarvik.Result(), 0) << Utf8(Tarvik.Resulttext());
    }
}

TEST_F(ServiceEndToEnd, SlowClientsDoNotHoldTheService)
{
    // More silent connections than the service has threads, each stopping in the middle of its request.
    std::vector<int> silent;
    for (int i = 0; i < 8; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        send(fd, "GET /tarvik?iban=DE", 19, MSG_NOSIGNAL);
        silent.push_back(fd);
    }
    Tarvik.TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 0) << Utf8(Tarvik.Resulttext());

    // After the time-out (1 s here) the service has closed them.
    for (const int fd : silent) {
        timeval wait{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char byte;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_LE(recv(fd, &byte, 1, 0), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
        close(fd);
    }
}

// Sends the head, then pieces of the body with a pause before each; what comes back until the server closes, or
// 2 s after the last piece.
std::string Trickle(uint16_t port, const char* from, const std::string& head, const std::vector<std::string>& pieces,
                    std::chrono::milliseconds pause)
{
    const int fd = ConnectFrom(port, from);
    if (fd < 0)
        return "no connection";
    send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    for (const std::string& piece : pieces) {
        std::this_thread::sleep_for(pause);
        if (send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) <= 0)
            break;
    }
    timeval wait{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, size_t(n));
    close(fd);
    return answer;
}

std::string SoapHead(size_t length)
{
    return "POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
           std::to_string(length) + "\r\n\r\n";
}

TEST_F(ServiceEndToEnd, RequestsMustEndWithinTheTimeOutOrKeepABodyRate)
{
    // The time-out is 1 s here; the minimum rate 1 KiB/s.
    struct Case
    {
        const char* Label;
        std::string Head;
        std::vector<std::string> Pieces;
        const char* StatusLine;
    };
    const Case cases[] = {
        {"a body of 10 bytes every 0.2 s", SoapHead(400), std::vector<std::string>(40, std::string(10, ' ')),
         "HTTP/1.1 408"},
        {"a head of one line every 0.2 s", "GET /tarvik?iban=DE HTTP/1.1\r\n",
         std::vector<std::string>(20, "X-Slow: 1\r\n"), "HTTP/1.1 408"},
        // 3 KiB/s for 2.5 s: longer than the time-out, yet served.
        {"a body of 600 bytes every 0.2 s", SoapHead(7200), std::vector<std::string>(12, std::string(600, ' ')),
         "HTTP/1.1 500"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.Label);
        const auto start = std::chrono::steady_clock::now();
        const std::string answer =
            Trickle(Port(), "127.0.0.1", entry.Head, entry.Pieces, std::chrono::milliseconds(200));
        EXPECT_EQ(answer.rfind(entry.StatusLine, 0), 0u) << answer.substr(0, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    }
}

// Slow requests that stay open in the background, from one address each; they end with the object.
struct HeldRequests
{
    HeldRequests(uint16_t port, const std::vector<const char*>& from)
    {
        const std::string head = SoapHead(60000) + "<";
        for (const char* address : from) {
            Fds.push_back(ConnectFrom(port, address));
            send(Fds.back(), head.data(), head.size(), MSG_NOSIGNAL);
        }
    }
    ~HeldRequests()
    {
        for (const int fd : Fds)
            close(fd);
    }
    // How many were closed by the server, 408 first.
    size_t Closed() const
    {
        size_t closed = 0;
        for (const int fd : Fds) {
            char buffer[256];
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                EXPECT_EQ(std::string(buffer, size_t(n)).rfind("HTTP/1.1 408", 0), 0u);
            }
            closed += n >= 0 || errno == ECONNRESET;
        }
        return closed;
    }
    std::vector<int> Fds;
};

TEST(ConnectionLimits, TheSlowestRequestsMakeRoomForNewOnes)
{
    ServiceConfig config = TestConfig();
    config.Timeout = 30;
    config.ConnectionsPerClient = 3;
    config.Connections = 40; // the service makes room from 31 connections on
    const Service running(config);
    const uint16_t port = running.Ports().at(0);
    const std::string good = "GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

    // The client's own limit: its slowest request, incomplete for over a second, gives way.
    {
        const HeldRequests slow(port, {"127.0.0.1", "127.0.0.1", "127.0.0.1"});
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const std::string answer = ExchangeFrom(port, good, "127.0.0.1");
        EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 200);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(slow.Closed(), 1u);
    }
    // A flood of young requests from many addresses, more than the service takes: a client with none gets a slot.
    {
        std::vector<const char*> flood;
        static const std::vector<std::string> addresses = [] {
            std::vector<std::string> list;
            for (int i = 1; i <= 16; ++i)
                list.push_back("127.0.1." + std::to_string(i));
            return list;
        }();
        for (int i = 0; i < 48; ++i)
            flood.push_back(addresses[size_t(i) % addresses.size()].c_str());
        const HeldRequests slow(port, flood);
        const std::string answer = ExchangeFrom(port, good, "127.0.0.2");
        EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 200);
    }
}

TEST_F(ServiceEndToEnd, EveryXmlPathRefusesACrowdedElementBeforeParsing)
{
    const auto attributes = [](size_t count) {
        std::string list;
        for (size_t i = 0; i < count; ++i)
            list += " a" + std::to_string(i) + "=\"x\"";
        return list;
    };
    const auto call = [](const std::string& path, const std::string& operation) {
        const std::string body = "<?xml version=\"1.0\"?><soap:Envelope "
                                 "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>" +
                                 operation + "</soap:Body></soap:Envelope>";
        return "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: text/xml\r\n" +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const std::string vies = "urn:ec.europa.eu:taxud:vies:services:checkVat:types";
    const std::string viesFields = "><countryCode>DE</countryCode><vatNumber>136695976</vatNumber>";
    struct Case
    {
        const char* Label;
        std::string Path;
        std::string Element; // the operation's element up to its attributes, and what follows them
        std::string Rest;
        const char* Fault;
        const char* Served; // what the same call with few attributes answers
    };
    const Case cases[] = {
        {"account interface", "/soap/ITarvik", "<TestCc xmlns=\"urn:TarvikIntf-ITarvik\"",
         "><UN>demo</UN><PW>wexo</PW><Cc>4111111111111111</Cc></TestCc>", "Zu viele Attribute", "HTTP/1.1 200"},
        {"address interface", "/soap/IAddress3", "<GetPlzType xmlns=\"urn:Address3Intf-IAddress3\"",
         "><UN>demo</UN><PW>wexo</PW><Plz>10117</Plz></GetPlzType>", "Zu viele Attribute", "HTTP/1.1 200"},
        {"VIES checkVat", kViesPath, "<checkVat xmlns=\"" + vies + "\"", viesFields + "</checkVat>",
         "<faultstring>INVALID_INPUT</faultstring>", "HTTP/1.1 200"},
        {"VIES checkVatApprox", kViesPath, "<checkVatApprox xmlns=\"" + vies + "\"", viesFields + "</checkVatApprox>",
         "<faultstring>INVALID_INPUT</faultstring>", "HTTP/1.1 200"},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.Label);
        const std::string few =
            Exchange(Port(), call(entry.Path, entry.Element + attributes(kMaxAttributes - 1) + entry.Rest));
        EXPECT_EQ(few.rfind(entry.Served, 0), 0u) << few.substr(0, 400);
        const std::string crowded =
            Exchange(Port(), call(entry.Path, entry.Element + attributes(kMaxAttributes + 1) + entry.Rest));
        EXPECT_EQ(crowded.rfind("HTTP/1.1 500", 0), 0u) << crowded.substr(0, 200);
        EXPECT_NE(crowded.find(entry.Fault), std::string::npos) << crowded.substr(0, 400);
    }
}

TEST(CrowdedElements, OnlyAttributesOfOneElementCount)
{
    const auto element = [](int attributes, const char* value) {
        std::string xml = "<e";
        for (int i = 0; i < attributes; ++i)
            xml += " a" + std::to_string(i) + "=" + value;
        return xml + "/>";
    };
    struct Case
    {
        std::string Xml;
        bool Crowded;
    };
    const Case cases[] = {
        {element(int(kMaxAttributes), "\"x\""), false},
        {element(int(kMaxAttributes) + 1, "'x'"), true},
        // Signs inside values and text count for nothing, and each element starts again.
        {element(2, "\"a=b=c>d=e\"") + std::string(100, '=') + element(int(kMaxAttributes), "'='"), false},
        {element(int(kMaxAttributes), "''") + element(int(kMaxAttributes), "''"), false},
    };
    for (const Case& entry : cases)
        EXPECT_EQ(HasCrowdedElement(entry.Xml), entry.Crowded) << entry.Xml.substr(0, 80);
}

TEST(ConnectionLimits, OneClientAddressCannotTakeEveryConnection)
{
    ServiceConfig config = TestConfig();
    config.Timeout = 30;
    config.ConnectionsPerClient = 3;
    const Service running(config);
    const uint16_t port = running.Ports().at(0);

    // Each held connection has had an answer, so the service has surely taken it before the next one comes.
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(ConnectFrom(port, "127.0.0.1"));
        ASSERT_GE(held.back(), 0);
        const std::string request = "GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\n\r\n";
        send(held.back(), request.data(), request.size(), MSG_NOSIGNAL);
        std::string answer;
        char buffer[4096];
        for (ssize_t n; answer.find("</wddxPacket>") == std::string::npos &&
                        (n = recv(held.back(), buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, size_t(n));
        ASSERT_NE(answer.find("</wddxPacket>"), std::string::npos) << answer;
    }
    // One more from the same address is closed unanswered; another address is served as usual.
    const int extra = ConnectFrom(port, "127.0.0.1");
    ASSERT_GE(extra, 0);
    char byte;
    const ssize_t closed = recv(extra, &byte, 1, 0);
    EXPECT_TRUE(closed == 0 || (closed < 0 && errno == ECONNRESET)) << "still open";
    close(extra);

    const int other = ConnectFrom(port, "127.0.0.2");
    ASSERT_GE(other, 0);
    const std::string request = "GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    send(other, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(other, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, size_t(n));
    close(other);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
    for (const int fd : held)
        close(fd);
}

TEST_F(ServiceEndToEnd, HttpsRefusesOldProtocolsAndKeyExchangeWithoutForwardSecrecy)
{
    struct Case
    {
        const char* Options;
        bool Accepted;
    };
    // SECLEVEL=0 lets the client really offer what its defaults would hide.
    const Case cases[] = {
        {"-tls1 -cipher DEFAULT@SECLEVEL=0", false},
        {"-tls1_1 -cipher DEFAULT@SECLEVEL=0", false},
        {"-tls1_2 -cipher AES128-SHA:AES256-GCM-SHA384@SECLEVEL=0", false},                // RSA key exchange only
        {"-tls1_2 -cipher ECDHE-RSA-AES128-SHA:ECDHE-ECDSA-AES128-SHA@SECLEVEL=0", false}, // CBC with SHA-1
        {"-tls1_2", true},
        {"-tls1_3", true},
    };
    for (const Case& entry : cases) {
        const std::string command = "openssl s_client -connect 127.0.0.1:" + std::to_string(TlsPort()) + " " +
                                    entry.Options + " </dev/null >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_EQ(status == 0, entry.Accepted) << entry.Options;
    }
}

class ServiceWithUsers : public testing::Test
{
protected:
    ServiceWithUsers()
    {
        const auto folder = std::filesystem::temp_directory_path() / ("orvel-users-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        UsersFile = (folder / "users").string();
        std::ofstream(UsersFile) << "# test users\ndemo:" << Users::HashPassword("wexo") << "\n";
        ServiceConfig config = TestConfig();
        config.UsersFile = UsersFile;
        Running = std::make_unique<Service>(config);
        Tarvik.SetHost(FromUtf8("127.0.0.1:" + std::to_string(Running->Ports().at(0))));
    }
    ~ServiceWithUsers() override { std::filesystem::remove_all(std::filesystem::path(UsersFile).parent_path()); }

    std::string UsersFile;
    std::unique_ptr<Service> Running;
    TTarvik Tarvik;
};

TEST_F(ServiceWithUsers, WrongUserOrPasswordGetTheSameRefusal)
{
    Tarvik.TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 0);

    Tarvik.TestIban(u"demo", u"wrong", u"DE89370400440532013000", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 90);
    const WideString refusal = Tarvik.Resulttext();
    EXPECT_EQ(refusal, u"Zugang verweigert: Benutzername oder Passwort ungültig");
    EXPECT_EQ(Tarvik.BankName(), u"");

    Tarvik.TestIban(u"nobody", u"wexo", u"DE89370400440532013000", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 90);
    EXPECT_EQ(Tarvik.Resulttext(), refusal);
    Tarvik.TestIban(u"", u"", u"DE89370400440532013000", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 90);

    auto client = std::make_shared<SoapClient>();
    client->SetURL("http://127.0.0.1:" + std::to_string(Running->Ports().at(0)) + "/soap/ITarvik");
    WideString text;
    EXPECT_EQ(GetITarvik(client)->TestCc(u"demo", u"nope", u"4111111111111111", text), 90);
    EXPECT_EQ(text, refusal);

    TAddress address;
    address.SetHost(FromUtf8("127.0.0.1:" + std::to_string(Running->Ports().at(0))));
    // Before the fifth failure, after which the user is refused for a while.
    address.Check(u"demo", u"wexo", u"10117", u"Berlin");
    EXPECT_EQ(address.Result(), 0);
    address.Check(u"demo", u"nope", u"10117", u"Berlin");
    EXPECT_EQ(address.Result(), 90);
    EXPECT_EQ(address.Resulttext(), refusal);
    client->SetURL("http://127.0.0.1:" + std::to_string(Running->Ports().at(0)) + "/soap/IAddress3");
    EXPECT_EQ(GetIAddress3(client)->GetPlzType(u"", u"", u"10117", text), 90);
}

TEST_F(ServiceWithUsers, GuessingOnThisMachineLocksOutTheNameAndNoOtherProgram)
{
    const uint16_t port = Running->Ports().at(0);
    const auto check = [](const char* user, const char* password) {
        return std::string("GET /tarvik?un=") + user + "&pw=" + password +
               "&iban=DE89370400440532013000 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    };
    constexpr const char* kRefused = "<var name='result'><string>90</string>";
    constexpr const char* kAdmitted = "<var name='result'><string>0</string>";
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(ExchangeFrom(port, check("mallory", std::to_string(i).c_str()), "127.0.0.3").find(kRefused),
                  std::string::npos);
    // Every loopback address is this machine, one address for all its programs: the guessed name is locked out,
    // another program's user is not, whichever loopback address it uses.
    EXPECT_NE(ExchangeFrom(port, check("mallory", "x"), "127.0.0.4").find(kRefused), std::string::npos);
    EXPECT_NE(ExchangeFrom(port, check("demo", "wexo"), "127.0.0.3").find(kAdmitted), std::string::npos);
    EXPECT_NE(ExchangeFrom(port, check("demo", "wexo"), "127.0.0.4").find(kAdmitted), std::string::npos);
    // No login for the status.
    const std::string status =
        ExchangeFrom(port, "GET /status HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "127.0.0.2");
    EXPECT_EQ(status.rfind("HTTP/1.1 200", 0), 0u) << status;
}

// A route whose work is too slow for a network thread, held there until the test lets it go.
class HeldSlowWork
{
public:
    HeldSlowWork()
    {
        Routes.Add("/slow", [this](const HttpRequest& request) { return Slow(request); });
        Routes.Add("/fast", [](const HttpRequest&) { return HttpResponse{200, "text/plain", "fast"}; });
    }
    ~HeldSlowWork() { Release(); }

    void Release()
    {
        const std::lock_guard guard(Lock);
        Open = true;
        Changed.notify_all();
    }
    // Waits (5 s at most) until the slow work holds a request, or until this many were sent off a network thread.
    bool WaitRunning()
    {
        return Await([this] { return Running; });
    }
    bool WaitDeferred(int count)
    {
        return Await([this, count] { return Deferrals == count; });
    }

    Router Routes;
    int Policy = -1; // the scheduling policy of the thread that did the computation

private:
    HttpResponse Slow(const HttpRequest& request)
    {
        try {
            LeaveNetworkThread();
        } catch (const Deferred&) {
            const std::lock_guard guard(Lock);
            ++Deferrals;
            Changed.notify_all();
            throw;
        }
        int policy = -1;
        AtLowestPriority([&policy] { policy = sched_getscheduler(0); });
        std::unique_lock guard(Lock);
        Policy = policy;
        Running = true;
        Changed.notify_all();
        Changed.wait_for(guard, std::chrono::seconds(10), [this] { return Open; });
        return {200, "text/plain",
                std::string(request.Body) + " " + std::string(request.Query("x").value_or("-")) + " " +
                    std::string(request.Header("x-test").value_or("-"))};
    }
    template <class Condition> bool Await(Condition condition)
    {
        std::unique_lock guard(Lock);
        return Changed.wait_for(guard, std::chrono::seconds(5), condition);
    }

    std::mutex Lock;
    std::condition_variable Changed;
    bool Open = false, Running = false;
    int Deferrals = 0;
};

TEST(SlowWork, ALoginToVerifyRunsAtIdlePriorityWhileOtherClientsAreAnswered)
{
    HeldSlowWork work;
    ServerLimits limits;
    limits.Threads = 1; // the one network thread answers while the slow work holds a request
    HttpServer server(work.Routes, OpenListener("127.0.0.1:0"), limits, nullptr, false);
    // The slow request and, behind it on the same connection, a fast one.
    std::string held;
    std::thread client([&] {
        held = Exchange(server.Port(), "POST /slow?x=1 HTTP/1.1\r\nHost: x\r\nX-Test: t\r\nContent-Length: 3\r\n\r\n"
                                       "abcGET /fast HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    });
    ASSERT_TRUE(work.WaitRunning());
    const std::string other = Exchange(server.Port(), "GET /fast HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(other.rfind("HTTP/1.1 200", 0), 0u) << other;
    work.Release();
    client.join();
    EXPECT_EQ(work.Policy, SCHED_IDLE);
    EXPECT_EQ(held.rfind("HTTP/1.1 200", 0), 0u) << held;
    const size_t first = held.find("abc 1 t");
    EXPECT_NE(first, std::string::npos) << held;
    EXPECT_NE(held.find("\r\n\r\nfast", first), std::string::npos) << held;
}

TEST(SlowWork, PastItsQueueAndWhenTheServerStopsTheWaitingGet503)
{
    HeldSlowWork work;
    ServerLimits limits;
    limits.Threads = 1; // so that each request is queued before the next is read
    limits.MaxDeferred = 1;
    auto server = std::make_unique<HttpServer>(work.Routes, OpenListener("127.0.0.1:0"), limits, nullptr, false);
    const std::string slow = "GET /slow HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    const int running = ConnectFrom(server->Port(), "127.0.0.1");
    send(running, slow.data(), slow.size(), MSG_NOSIGNAL);
    ASSERT_TRUE(work.WaitRunning());
    const int waiting = ConnectFrom(server->Port(), "127.0.0.1");
    send(waiting, slow.data(), slow.size(), MSG_NOSIGNAL);
    ASSERT_TRUE(work.WaitDeferred(2));

    const std::string refused = Exchange(server->Port(), slow);
    EXPECT_EQ(refused.rfind("HTTP/1.1 503", 0), 0u) << refused;
    EXPECT_NE(refused.find("Retry-After: 1\r\n"), std::string::npos) << refused;
    // Stopping answers the waiting request at once and then lets the running one end.
    std::thread stopping([&server] { server.reset(); });
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(waiting, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, size_t(n));
    EXPECT_EQ(answer.rfind("HTTP/1.1 503", 0), 0u) << answer;
    work.Release();
    stopping.join();
    close(waiting);
    close(running);
}

TEST(PostalFile, AnotherFileIsServedAndAMissingOneNamed)
{
    const auto folder = std::filesystem::temp_directory_path() / ("orvel-postal-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    ServiceConfig config = TestConfig();
    config.PostalFile = (folder / "plz.tsv").string();
    std::ofstream(config.PostalFile) << "# Date: 2026-01-02\n01067\tDresden\n";
    {
        const Service running(config);
        TAddress address;
        address.SetHost(FromUtf8("127.0.0.1:" + std::to_string(running.Ports().at(0))));
        address.Check(u"", u"", u"01067", u"Dresden");
        EXPECT_EQ(address.Result(), 0);
        address.Check(u"", u"", u"10117", u"Berlin");
        EXPECT_EQ(address.Result(), 5);
        const std::string description = running.DataDescription();
        EXPECT_NE(description.find("postal codes " + config.PostalFile + " ("), std::string::npos) << description;
        EXPECT_NE(description.find("of 2026-01-02)"), std::string::npos) << description;
    }
    std::filesystem::remove_all(folder);
    try {
        const Service missing(config);
        ADD_FAILURE() << "a missing postal file was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(config.PostalFile), std::string::npos) << error.what();
    }
}

TEST(UsersFile, HashesAreSaltedAndVerified)
{
    const std::string first = Users::HashPassword("wexo"), second = Users::HashPassword("wexo");
    EXPECT_NE(first, second);
    EXPECT_TRUE(Users::VerifyPassword("wexo", first));
    EXPECT_TRUE(Users::VerifyPassword("wexo", second));
    EXPECT_FALSE(Users::VerifyPassword("Wexo", first));
    EXPECT_FALSE(Users::VerifyPassword("wexo", "plain"));
    EXPECT_FALSE(Users::VerifyPassword("wexo", "pbkdf2-sha256$x$00$00"));
}

TEST(UsersFile, ListeningForOtherMachinesNeedsOneOrAllowAnyone)
{
    ServiceConfig config = TestConfig();
    config.Listen = {"0.0.0.0:0"};
    EXPECT_THROW(Service{config}, std::runtime_error);
    config.AllowAnyone = true;
    EXPECT_NO_THROW(Service{config});
    config = TestConfig();
    config.Listen = {"127.0.0.1:0", "[::1]:0"};
    EXPECT_NO_THROW(Service{config});
}

TEST(UsersFile, WithoutOneOnlyThisMachineIsAnswered)
{
    const Users everyone;
    EXPECT_EQ(everyone.Admit("", "", true, "127.0.0.1"), Users::kAdmitted);
    EXPECT_EQ(everyone.Admit("demo", "wexo", false, "192.0.2.7"), Users::kLoopbackOnly);
}

} // namespace
} // namespace orvel::service
