#include "objects/Tarvik.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/Timing.h"
#include "support/Tinyproxy.h"
#include "support/Wddx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace orvel {
namespace {

using test::FixtureServer;
using test::Reply;
using test::WddxPacket;

const std::string kAccountReply = WddxPacket({{"result", "0"},
                                              {"resulttext", "Konto g&uuml;ltig"},
                                              {"bankname", "Sparkasse K&ouml;ln"},
                                              {"newblz", "00000000"},
                                              {"iban", "DE12370501980001234567"},
                                              {"bic", "COLSDE33"},
                                              {"bicname", "Sparkasse KoelnBonn"},
                                              {"bicsct", "1"},
                                              {"bicsdd", "0"},
                                              {"bicb2b", "$1F"}});

std::string Utf8(const WideString& text)
{
    return ToUtf8(text);
}

class TarvikTest : public testing::Test
{
protected:
    FixtureServer Server{[this](const test::Request&) { return Answer; }};
    Reply Answer = Reply::Ok(kAccountReply);
    TTarvik Tarvik;

    void SetUp() override { Tarvik.SetHost(FromUtf8(Server.HostPort())); }

    // Points the object at a port where nothing listens.
    void Unreachable() { Tarvik.SetHost(u"127.0.0.1:" + FromUtf8(std::to_string(test::FreePort()))); }
};

TEST_F(TarvikTest, FreshObjectDefaults)
{
    TTarvik fresh;
    EXPECT_EQ(fresh.SSLMode(), 0);
    EXPECT_EQ(fresh.Timeout(), 0);
    EXPECT_EQ(fresh.Result(), 0);
    EXPECT_EQ(fresh.Host(), u"127.0.0.1:8590"); // the local checking service
    for (const WideString& text :
         {fresh.Resulttext(), fresh.BankName(), fresh.NewBlz(), fresh.Iban(), fresh.Bic(), fresh.BicName()})
        EXPECT_EQ(text, u"");
    EXPECT_EQ(fresh.BicSct(), 0);
    EXPECT_EQ(fresh.BicSdd(), 0);
    EXPECT_EQ(fresh.BicB2b(), 0);
}

TEST_F(TarvikTest, SettingsIgnoreValuesOutOfRange)
{
    Tarvik.SetSSLMode(2);
    Tarvik.SetSSLMode(3);
    Tarvik.SetSSLMode(-1);
    EXPECT_EQ(Tarvik.SSLMode(), 2);
    const WideString host = Tarvik.Host();
    Tarvik.SetHost(u"");
    EXPECT_EQ(Tarvik.Host(), host);
    Tarvik.SetTimeout(-5);
    EXPECT_EQ(Tarvik.Timeout(), -5);
}

struct TargetCase
{
    const char* Label;
    std::function<void(TTarvik&)> Call;
    std::string Target;
};

TEST_F(TarvikTest, RequestTargetsCarryTheKeysInOrder)
{
    const TargetCase cases[] = {
        {"TestBlzKto",
         [](TTarvik& t) { t.TestBlzKto(u"user", u"pw", u"37050198", u"1234567", u"DE", 7, u"Bäckerei Nord"); },
         "/tarvik?un=user&pw=pw&blz=37050198&kto=1234567&c=DE&id=7&name=B%E4ckerei+Nord"},
        {"empty values keep their key", [](TTarvik& t) { t.TestBlzKto(u"", u"", u"", u"", u"", 0, u""); },
         "/tarvik?un=&pw=&blz=&kto=&c=&id=0&name="},
        {"TestIban", [](TTarvik& t) { t.TestIban(u"u", u"p", u"DE12370501980001234567", -1, u"A&B"); },
         "/tarvik?un=u&pw=p&iban=DE12370501980001234567&id=-1&name=A%26B"},
        {"TestIbanBic",
         [](TTarvik& t) { t.TestIbanBic(u"u", u"p", u"AT611904300234573201", u"BKAUATWW", 2147483647, u"x y"); },
         "/tarvik?un=u&pw=p&iban=AT611904300234573201&bic=BKAUATWW&id=2147483647&name=x+y"},
        {"TestBic", [](TTarvik& t) { t.TestBic(u"u", u"p", u"COLSDE33"); }, "/tarvik?un=u&pw=p&bic=COLSDE33"},
        {"TestCc", [](TTarvik& t) { t.TestCc(u"u", u"p", u"4111111111111111"); },
         "/tarvik?un=u&pw=p&cc=4111111111111111"},
        {"raw user with & splits the query", [](TTarvik& t) { t.TestBic(u"a&b=c", u"p-w.d_", u"x"); },
         "/tarvik?un=a&b=c&pw=p-w.d_&bic=x"},
        {"raw bytes that break a request line are encoded",
         [](TTarvik& t) { t.TestCc(u"M\u00fcller Hans", u"p\u20ac", u"4111 1111"); },
         "/tarvik?un=M%FCller%20Hans&pw=p%80&cc=4111%201111"},
        {"characters outside Windows-1252 narrow to ?", [](TTarvik& t) { t.TestBic(u"\u0394", u"p", u"b"); },
         "/tarvik?un=?&pw=p&bic=b"},
    };
    for (const auto& c : cases) {
        c.Call(Tarvik);
        EXPECT_EQ(Server.LastTarget(), c.Target) << c.Label;
    }
}

TEST_F(TarvikTest, AccountCheckReadsTheReply)
{
    Tarvik.TestIbanBic(u"u", u"p", u"DE12370501980001234567", u"COLSDE33", 1, u"n");
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(Utf8(Tarvik.Resulttext()), "Konto gültig");
    EXPECT_EQ(Utf8(Tarvik.BankName()), "Sparkasse Köln");
    EXPECT_EQ(Tarvik.NewBlz(), u"00000000");
    EXPECT_EQ(Tarvik.Iban(), u"DE12370501980001234567");
    EXPECT_EQ(Tarvik.Bic(), u"COLSDE33");
    EXPECT_EQ(Tarvik.BicName(), u"Sparkasse KoelnBonn");
    EXPECT_EQ(Tarvik.BicSct(), 1);
    EXPECT_EQ(Tarvik.BicSdd(), 0);
    EXPECT_EQ(Tarvik.BicB2b(), 31);
}

TEST_F(TarvikTest, ResultWithoutReadableIntegerIsMinus300AndKeepsTheServersText)
{
    struct Case
    {
        std::string Body;
        int32_t Result;
        std::u16string Resulttext;
    };
    const Case cases[] = {
        {WddxPacket({{"resulttext", "kein Ergebnis"}, {"bankname", "Bank"}}), -300, u"kein Ergebnis"},
        // an unterminated string runs to the end of the reply and is still the server's text
        {"<var name='resulttext'><string>ohne result", -300, u"ohne result"},
        {WddxPacket({{"result", ""}, {"resulttext", ""}}), -300, u"Die Antwort enthält kein Feld \"result\""},
        {WddxPacket({{"bankname", "Bank"}}), -300, u"Die Antwort enthält kein Feld \"result\""},
        {WddxPacket({{"result", "abc"}, {"resulttext", "kein Ergebnis"}, {"bankname", "Bank"}}), -300,
         u"kein Ergebnis"},
        {WddxPacket({{"result", "abc"}}), -300, u"Das Feld \"result\" der Antwort ist keine Zahl: \"abc\""},
        {WddxPacket({{"result", "-1"}, {"resulttext", "kein Ergebnis"}, {"bankname", "Bank"}}), -1, u"kein Ergebnis"},
        {"<html>Wartungsarbeiten</html>", -300, u"Die Antwort ist kein WDDX-Paket"},
        {"<var name='resulttext'><string>Wartung</string></var>", -300, u"Wartung"},
    };
    for (const Case& c : cases) {
        Answer = Reply::Ok(c.Body);
        for (const auto& check :
             {std::function<void()>([&] { Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u""); }),
              std::function<void()>([&] { Tarvik.TestIbanBic(u"u", u"p", u"i", u"b", 0, u""); }),
              std::function<void()>([&] { Tarvik.TestCc(u"u", u"p", u"4111"); })}) {
            check();
            EXPECT_EQ(Tarvik.Result(), c.Result) << c.Body;
            EXPECT_EQ(Utf8(Tarvik.Resulttext()), Utf8(c.Resulttext)) << c.Body;
        }
    }
    Answer = Reply::Ok(WddxPacket({{"resulttext", "kein Ergebnis"}, {"bankname", "Bank"}}));
    Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
    EXPECT_EQ(Tarvik.BankName(), u"Bank");
    Answer = Reply::Ok(WddxPacket({{"bicname", "B"}}));
    Tarvik.TestIbanBic(u"u", u"p", u"i", u"b", 0, u"");
    EXPECT_EQ(Tarvik.BicSct(), -300);
    EXPECT_EQ(Tarvik.BicSdd(), -300);
    EXPECT_EQ(Tarvik.BicB2b(), -300);
}

TEST_F(TarvikTest, TestCcEmptiesBankFieldsAndKeepsIbanAndBic)
{
    Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
    Answer = Reply::Ok(WddxPacket({{"result", "3"}, {"resulttext", "Karte"}, {"bankname", "X"}, {"iban", "Y"}}));
    Tarvik.TestCc(u"u", u"p", u"4111");
    EXPECT_EQ(Tarvik.Result(), 3);
    EXPECT_EQ(Tarvik.Resulttext(), u"Karte");
    EXPECT_EQ(Tarvik.BankName(), u"");
    EXPECT_EQ(Tarvik.NewBlz(), u"");
    EXPECT_EQ(Tarvik.Iban(), u"DE12370501980001234567");
    EXPECT_EQ(Tarvik.Bic(), u"COLSDE33");
    EXPECT_EQ(Tarvik.BicName(), u"");
}

TEST_F(TarvikTest, TestBicSetsResultZeroAndNeverWritesResulttext)
{
    Answer = Reply::Status("HTTP/1.1 500 Internal Server Error");
    Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
    EXPECT_EQ(Tarvik.Result(), -200);
    EXPECT_EQ(Tarvik.Resulttext(), u"HTTP/1.1 500 Internal Server Error");

    Answer = Reply::Ok(WddxPacket({{"result", "9"}, {"resulttext", "nein"}, {"bicname", "Bank"}, {"bicsct", "1"}}));
    Tarvik.TestBic(u"u", u"p", u"COLSDE33");
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(Tarvik.Resulttext(), u"HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(Tarvik.BicName(), u"Bank");
    EXPECT_EQ(Tarvik.BicSct(), 1);
    EXPECT_EQ(Tarvik.BicSdd(), -300);
}

TEST_F(TarvikTest, FailureWritesWhatEachOperationClears)
{
    Tarvik.TestIbanBic(u"u", u"p", u"i", u"b", 0, u""); // fills every field
    Unreachable();
    const std::string M = "Socket-Fehler # 10061\r\nVerbindung abgelehnt.";

    Tarvik.TestBic(u"u", u"p", u"b");
    EXPECT_EQ(Tarvik.Result(), -200);
    EXPECT_EQ(Utf8(Tarvik.Resulttext()), "Konto gültig"); // kept
    EXPECT_EQ(Utf8(Tarvik.BicName()), "*" + M);
    EXPECT_EQ(Tarvik.BicSct(), 0);
    EXPECT_EQ(Tarvik.BicB2b(), 0);
    EXPECT_EQ(Tarvik.Iban(), u"DE12370501980001234567"); // kept

    Tarvik.TestCc(u"u", u"p", u"c");
    EXPECT_EQ(Utf8(Tarvik.Resulttext()), M);
    EXPECT_EQ(Tarvik.BankName(), u"");
    EXPECT_EQ(Tarvik.Iban(), u"DE12370501980001234567"); // kept

    Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
    EXPECT_EQ(Utf8(Tarvik.Resulttext()), M);
    EXPECT_EQ(Tarvik.Iban(), u"");
    EXPECT_EQ(Tarvik.Bic(), u"");
    EXPECT_EQ(Utf8(Tarvik.BicName()), "*" + M); // kept from TestBic

    Tarvik.TestIbanBic(u"u", u"p", u"i", u"b", 0, u"");
    EXPECT_EQ(Tarvik.BicName(), u"*" + Tarvik.Resulttext());
}

TEST_F(TarvikTest, FailureRowsGiveMinus200AndTheMessage)
{
    struct Row
    {
        const char* Label;
        Reply Answer;
        std::string Text;
    };
    Reply redirect = Reply::Status("HTTP/1.1 301 Moved Permanently");
    redirect.Headers.push_back("Location: https://elsewhere/");
    Reply stall = Reply::Ok("x");
    stall.Act = Reply::Action::StallAfterHeaders;
    const Row rows[] = {
        {"HTTP 500", Reply::Status("HTTP/1.1 500 Internal Server Error"), "HTTP/1.1 500 Internal Server Error"},
        {"redirect", redirect, "HTTP/1.1 301 Moved Permanently"},
        {"read time-out", stall, Ansi("Zeitüberschreitung beim Lesen")},
    };
    Tarvik.SetTimeout(300);
    for (const auto& row : rows) {
        Answer = row.Answer;
        const auto start = std::chrono::steady_clock::now();
        Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
        EXPECT_LT(std::chrono::steady_clock::now() - start, test::kShortTimeoutBound) << row.Label;
        EXPECT_EQ(Tarvik.Result(), -200) << row.Label;
        EXPECT_EQ(Narrow(Tarvik.Resulttext()), row.Text) << row.Label;
        EXPECT_EQ(Tarvik.BankName(), u"") << row.Label;
    }
    Unreachable();
    Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
    EXPECT_EQ(Narrow(Tarvik.Resulttext()), "Socket-Fehler # 10061\r\nVerbindung abgelehnt.");
}

TEST_F(TarvikTest, ProxyWithBasicAuthenticationCarriesTheCheck)
{
    test::Tinyproxy proxy("proxyuser", "secret");
    Tarvik.SetProxy(u"127.0.0.1", proxy.Port(), u"proxyuser", u"secret");
    Tarvik.TestBic(u"u", u"p", u"COLSDE33");
    EXPECT_EQ(Tarvik.BicName(), u"Sparkasse KoelnBonn");

    Tarvik.SetProxy(u"127.0.0.1", proxy.Port());
    Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
    EXPECT_EQ(Tarvik.Result(), -200);
    EXPECT_EQ(Tarvik.Resulttext(), u"HTTP/1.0 407 Proxy Authentication Required");

    Tarvik.SetProxy(u"", 0);
    Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
    EXPECT_EQ(Tarvik.Result(), 0);
}

} // namespace
} // namespace orvel
