// The service as the program meets it: the objects and the web-services client over loopback, no fixture server.

#include "objects/Tarvik.h"
#include "platform/Text.h"
#include "service/Service.h"
#include "soap/ITarvikUnit.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

// Sends raw bytes and reads what comes back until the server closes or 5 s pass.
std::string Exchange(uint16_t port, const std::string& request)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        for (size_t sent = 0; sent < request.size();) {
            const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += size_t(n);
        }
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, size_t(n));
    }
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

    Tarvik.TestBic(u"demo", u"wexo", u"DEUTDEF");
    EXPECT_EQ(Tarvik.BicName(), u"BIC ungültig: 8 oder 11 Buchstaben und Ziffern erwartet");
    EXPECT_EQ(Tarvik.BicSct(), 0);

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

    EXPECT_EQ(service->TestCc(u"demo", u"wexo", u"378282246310005", text), 0);
    EXPECT_EQ(text, u"Kartennummer gültig (American Express)");

    const TStringDynArray found = service->Search(u"demo", u"wexo", u"Commerzbank Köln", u"DE", 0);
    ASSERT_FALSE(found.empty());
    EXPECT_NE(Utf8(found[0]).find("|Köln"), std::string::npos);
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
}

// Bad requests, each followed by a good one on the same service.
TEST_F(ServiceEndToEnd, BadRequestsGetAnAnswerAndTheServiceGoesOn)
{
    const std::string soapHead = "POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                                 "Content-Type: text/xml\r\n";
    const auto post = [&](const std::string& body) {
        return soapHead + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
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
        {"body announced over 1 MiB", soapHead + "Content-Length: 2000000\r\n\r\n", "HTTP/1.1 413", ""},
        {"body sent over 1 MiB",
         soapHead + "Transfer-Encoding: chunked\r\n\r\n100000\r\n" + std::string(0x100000, 'x') + "\r\n10\r\n" +
             std::string(16, 'x') + "\r\n0\r\n\r\n",
         "HTTP/1.1 413", ""},
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

TEST(UsersFile, WithoutOneOnlyThisMachineIsAnswered)
{
    const Users everyone;
    EXPECT_EQ(everyone.Admit("", "", true), Users::kAdmitted);
    EXPECT_EQ(everyone.Admit("demo", "wexo", false), Users::kLoopbackOnly);
}

} // namespace
} // namespace orvel::service
