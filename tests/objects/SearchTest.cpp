#include "objects/Tarvik.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/Tinyproxy.h"
#include "support/Wddx.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

using test::FixtureServer;
using test::Reply;
using test::WddxArrayVar;
using test::WddxPacketOf;

const std::vector<std::string> kBanks = {"10010010|Postbank|Berlin", "20050550|Hamburger Sparkasse|Hamburg",
                                         "37050198|Sparkasse K&amp;ouml;lnBonn|K&#246;ln"};

class SearchTest : public testing::Test
{
protected:
    FixtureServer Server{[this](const test::Request&) { return Answer; }};
    Reply Answer = Reply::Ok(WddxPacketOf(WddxArrayVar("banken", kBanks)));
    TTarvik Tarvik;

    void SetUp() override { Tarvik.SetHost(FromUtf8(Server.HostPort())); }
    void Search() { Tarvik.Search(u"u", u"p", u"Bank", u"DE", 0); }
};

TEST_F(SearchTest, RequestTargets)
{
    Tarvik.Search(u"user", u"pw", u"Frankfurt/Main", u"DE", 1);
    EXPECT_EQ(Server.LastTarget(), "/tarvik?un=user&pw=pw&search=Frankfurt%2FMain&c=DE&fragments=1");
    Tarvik.Search(u"a&b", u"p w", u"Bäcker Bank", u"", -7);
    EXPECT_EQ(Server.LastTarget(), "/tarvik?un=a&b&pw=p%20w&search=B%E4cker+Bank&c=&fragments=-7");
}

TEST_F(SearchTest, ListOfBanks)
{
    Search();
    EXPECT_EQ(Tarvik.Result(), 3);
    EXPECT_EQ(Tarvik.Banken(0), u"3");
    EXPECT_EQ(Tarvik.Banken(1), u"10010010|Postbank|Berlin");
    // The parser resolves XML references; the service's own entities stay as they came.
    EXPECT_EQ(ToUtf8(Tarvik.Banken(3)), "37050198|Sparkasse K&ouml;lnBonn|Köln");
    EXPECT_EQ(Tarvik.Banken(4), u"");
    EXPECT_EQ(Tarvik.Banken(-1), u"");
    EXPECT_EQ(ToUtf8(Tarvik.BankenString()), "3~10010010|Postbank|Berlin~20050550|Hamburger Sparkasse|Hamburg~"
                                             "37050198|Sparkasse K&ouml;lnBonn|Köln");

    Answer = Reply::Ok(WddxPacketOf(WddxArrayVar("banken", {})));
    Search();
    EXPECT_EQ(Tarvik.Result(), 0);
    EXPECT_EQ(Tarvik.Banken(0), u"0");
    EXPECT_EQ(Tarvik.Banken(1), u"");
    EXPECT_EQ(Tarvik.BankenString(), u"0");
}

TEST_F(SearchTest, NoListBeforeTheFirstSearch)
{
    EXPECT_EQ(Tarvik.Banken(0), u"");
    EXPECT_EQ(Tarvik.BankenString(), u"0");
}

TEST_F(SearchTest, SuccessTakesTheServicesResulttextOrKeepsTheEarlierOneAndTheAccountFields)
{
    const struct
    {
        std::string Resulttext; // the reply's variable; empty: none
        std::u16string Expected;
    } cases[] = {
        {"", u"Konto falsch"},
        {test::WddxStringVar("resulttext", ""), u"Konto falsch"},
        {test::WddxStringVar("resulttext", "2 Banken gefunden (Bankdaten vom 01.12.2024, \xE4lter als ein Jahr)"),
         u"2 Banken gefunden (Bankdaten vom 01.12.2024, älter als ein Jahr)"},
    };
    for (const auto& c : cases) {
        Answer = Reply::Ok(test::WddxPacket({{"result", "5"}, {"resulttext", "Konto falsch"}, {"bankname", "Bank"}}));
        Tarvik.TestBlzKto(u"u", u"p", u"1", u"2", u"DE", 0, u"");
        Answer = Reply::Ok(WddxPacketOf(WddxArrayVar("banken", {"a", "b"}) + c.Resulttext));
        Search();
        EXPECT_EQ(Tarvik.Result(), 2);
        EXPECT_EQ(Tarvik.Resulttext(), c.Expected) << c.Resulttext;
        EXPECT_EQ(Tarvik.BankName(), u"Bank");
    }
}

TEST_F(SearchTest, FailureRows)
{
    struct Row
    {
        const char* Label;
        Reply Answer;
        int32_t Result;
        std::string Resulttext; // UTF-8
        std::string Banken0;
    };
    const Row rows[] = {
        {"HTTP status", Reply::Status("HTTP/1.1 503 Service Unavailable"), -200, "HTTP/1.1 503 Service Unavailable",
         "0"},
        {"not well-formed", Reply::Ok("<wddxPacket version='1.0'><data>"), -300,
         "Premature end of data in tag data line 1", "0"},
        {"no struct", Reply::Ok("<wddxPacket version='1.0'><data/></wddxPacket>"), -300,
         "WDDX-Daten ohne struct-Element", "0"},
        {"array entry without text", Reply::Ok(WddxPacketOf("<var name='banken'><array><string/></array></var>")), -300,
         "WDDX-Liste mit einem Eintrag ohne einzelnen Text", "0"},
        {"entity declaration",
         Reply::Ok("<!DOCTYPE wddxPacket [<!ENTITY a 'aaaaaaaa'>]>" + WddxPacketOf(WddxArrayVar("banken", {"&a;"}))),
         -300, "Entitätsdeklaration nicht erlaubt: 'a'", "0"},
        {"no banken variable", Reply::Ok(test::WddxPacket({{"result", "0"}})), -200, "Ungültiges Argument", ""},
        {"banken not an array", Reply::Ok(test::WddxPacket({{"banken", "2"}})), -200, "Ungültiges Argument", ""},
    };
    for (const auto& row : rows) {
        Search(); // a list from before must not survive
        Answer = row.Answer;
        Search();
        EXPECT_EQ(Tarvik.Result(), row.Result) << row.Label;
        EXPECT_EQ(Tarvik.Resulttext(), FromUtf8(row.Resulttext)) << row.Label;
        EXPECT_EQ(Tarvik.Banken(0), FromUtf8(row.Banken0)) << row.Label;
        EXPECT_EQ(Tarvik.Banken(1), u"") << row.Label;
        EXPECT_EQ(Tarvik.BankenString(), u"0") << row.Label;
        Answer = Reply::Ok(WddxPacketOf(WddxArrayVar("banken", kBanks)));
    }

    Tarvik.SetHost(u"127.0.0.1:" + FromUtf8(std::to_string(test::FreePort())));
    Search();
    EXPECT_EQ(Tarvik.Result(), -200);
    EXPECT_EQ(Narrow(Tarvik.Resulttext()), "Socket-Fehler # 10061\r\nVerbindung abgelehnt.");
    EXPECT_EQ(Tarvik.Banken(0), u"0");
}

} // namespace
} // namespace orvel
