#include "objects/Address.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/Tinyproxy.h"
#include "support/Wddx.h"

#include <gtest/gtest.h>

#include <functional>

namespace orvel {
namespace {

using test::FixtureServer;
using test::Reply;
using test::WddxArrayVar;
using test::WddxPacketOf;
using test::WddxStringVar;

// A reply to a check: result 4 asks the caller to choose among the listed places.
std::string CheckReply(const std::string& result, const std::string& lists = {})
{
    return WddxPacketOf(WddxStringVar("result", result) + WddxStringVar("resulttext", "Ort mehrdeutig") +
                        WddxStringVar("rewritten", "Gro&amp;szlig;stadt") + WddxStringVar("str46", "Hauptstr.") +
                        WddxStringVar("str22", "Hauptstra&amp;szlig;e") + WddxStringVar("ortsteil", "Mitte") +
                        WddxStringVar("plzout", "12345") + lists);
}

const std::string kLists =
    WddxArrayVar("orte", {"Gro&amp;szlig;stadt", "Kleinstadt"}) + WddxArrayVar("alteorte", {"Altstadt"});

class AddressTest : public testing::Test
{
protected:
    FixtureServer Server{[this](const test::Request&) { return Answer; }};
    Reply Answer = Reply::Ok(CheckReply("4", kLists));
    TAddress Address;

    void SetUp() override { Address.SetHost(FromUtf8(Server.HostPort())); }
    void Check() { Address.Check(u"u", u"p", u"12345", u"Gro\u00dfstadt"); }
    void ExpectListsReset(const char* label)
    {
        EXPECT_EQ(Address.Orte(0), u"0") << label;
        EXPECT_EQ(Address.Orte(1), u"") << label;
        EXPECT_EQ(Address.OrteString(), u"0") << label;
        EXPECT_EQ(Address.AlteOrte(0), u"0") << label;
        EXPECT_EQ(Address.AlteOrteString(), u"0") << label;
    }
    void ExpectFieldsOfCheckReply(const char* label)
    {
        EXPECT_EQ(ToUtf8(Address.Rewritten()), "Großstadt") << label;
        EXPECT_EQ(Address.Str46(), u"Hauptstr.") << label;
        EXPECT_EQ(ToUtf8(Address.Str22()), "Hauptstraße") << label;
        EXPECT_EQ(Address.Ortsteil(), u"Mitte") << label;
        EXPECT_EQ(Address.PlzOut(), u"12345") << label;
    }
};

TEST_F(AddressTest, FreshObject)
{
    TAddress fresh;
    EXPECT_EQ(fresh.Result(), 0);
    EXPECT_EQ(fresh.Rewrite(), 0);
    EXPECT_EQ(fresh.SSLMode(), 0);
    for (const WideString& text :
         {fresh.Resulttext(), fresh.Rewritten(), fresh.Str46(), fresh.Str22(), fresh.Ortsteil(), fresh.PlzOut()})
        EXPECT_EQ(text, u"");
    EXPECT_EQ(fresh.Orte(0), u"0");
    EXPECT_EQ(fresh.Orte(1), u"");
    EXPECT_EQ(fresh.OrteString(), u"0");
    EXPECT_EQ(fresh.AlteOrte(0), u"0");
    EXPECT_EQ(fresh.AlteOrteString(), u"0");
}

TEST_F(AddressTest, RequestTargets)
{
    struct Case
    {
        const char* Label;
        std::function<void(TAddress&)> Call;
        std::string Target;
    };
    const Case cases[] = {
        {"Check",
         [](TAddress& a) {
             a.SetRewrite(2);
             a.Check(u"user", u"pw", u"12345", u"Bad Ort");
         },
         "/address?un=user&pw=pw&func=check&plz=12345&ort=Bad+Ort&rewrite=2"},
        {"CheckStrHnr", [](TAddress& a) { a.CheckStrHnr(u"u", u"p", u"1", u"O", u"Hauptstraße", u"1a"); },
         "/address?un=u&pw=p&func=check&plz=1&ort=O&str=Hauptstra%DFe&hnr=1a&rewrite=2"},
        {"CheckStrHnr without house number", [](TAddress& a) { a.CheckStrHnr(u"u", u"p", u"1", u"O", u"Weg", u""); },
         "/address?un=u&pw=p&func=check&plz=1&ort=O&str=Weg&rewrite=2"},
        {"CheckStr", [](TAddress& a) { a.CheckStr(u"u", u"p", u"1", u"O", u"Am Markt 1/2"); },
         "/address?un=u&pw=p&func=check&plz=1&ort=O&str=Am+Markt+1%2F2&rewrite=2"},
        {"CheckPof with a blank", [](TAddress& a) { a.CheckPof(u"u", u"p", u"1", u"O", u"10 20"); },
         "/address?un=u&pw=p&func=check&plz=1&ort=O&pof=10%2020&rewrite=2"},
        {"empty place and negative mode",
         [](TAddress& a) {
             a.SetRewrite(-1);
             a.Check(u"u", u"p", u"", u"");
         },
         "/address?un=u&pw=p&func=check&plz=&ort=&rewrite=-1"},
        {"raw values", [](TAddress& a) { a.Check(u"a&b", u"p#w", u"12 345", u"O"); },
         "/address?un=a&b&pw=p%23w&func=check&plz=12%20345&ort=O&rewrite=-1"},
        {"GetPlzType", [](TAddress& a) { a.GetPlzType(u"user", u"pw", u"12345"); },
         "/address?un=user&func=type&pw=pw&plz=12345"},
    };
    for (const auto& c : cases) {
        c.Call(Address);
        EXPECT_EQ(Server.LastTarget(), c.Target) << c.Label;
    }
}

TEST_F(AddressTest, ResultFourBringsThePlaceLists)
{
    Check();
    EXPECT_EQ(Address.Result(), 4);
    EXPECT_EQ(Address.Resulttext(), u"Ort mehrdeutig");
    ExpectFieldsOfCheckReply("check");
    // Single values are decoded, list entries stay as the service wrote them.
    EXPECT_EQ(Address.Orte(0), u"2");
    EXPECT_EQ(Address.Orte(1), u"Gro&szlig;stadt");
    EXPECT_EQ(Address.Orte(2), u"Kleinstadt");
    EXPECT_EQ(Address.Orte(3), u"");
    EXPECT_EQ(Address.OrteString(), u"2~Gro&szlig;stadt~Kleinstadt");
    EXPECT_EQ(Address.AlteOrteString(), u"1~Altstadt");

    Answer = Reply::Ok(CheckReply("4", WddxArrayVar("orte", {"A"})));
    Check();
    EXPECT_EQ(Address.OrteString(), u"1~A");
    EXPECT_EQ(Address.AlteOrte(0), u"");
    EXPECT_EQ(Address.AlteOrteString(), u"0");

    Answer = Reply::Ok(CheckReply("4", WddxStringVar("orte", "A")));
    Check();
    EXPECT_EQ(Address.Orte(0), u"");
    EXPECT_EQ(Address.OrteString(), u"0");
}

TEST_F(AddressTest, ResultReadFromTheReply)
{
    const std::pair<std::string, int32_t> cases[] = {
        {CheckReply("0", kLists), 0},
        {CheckReply(" $1F"), 31},
        {CheckReply("abc"), -300},
        {WddxPacketOf("<var name='result'><number>4</number></var>" + kLists), 4},
        {WddxPacketOf("<var name='result'><number>4.5</number></var>" + kLists), -300},
        {WddxPacketOf(WddxArrayVar("result", {"4"}) + kLists), -300},
    };
    for (const auto& [body, result] : cases) {
        Check();
        Answer = Reply::Ok(body);
        Check();
        EXPECT_EQ(Address.Result(), result) << body;
        if (result != 4)
            ExpectListsReset(body.c_str());
        Answer = Reply::Ok(CheckReply("4", kLists));
    }
}

TEST_F(AddressTest, FailedRequestKeepsTheFieldsOfTheLastCheck)
{
    Check();
    Address.SetHost(u"127.0.0.1:" + FromUtf8(std::to_string(test::FreePort())));
    Check();
    EXPECT_EQ(Address.Result(), -200);
    EXPECT_EQ(Narrow(Address.Resulttext()), "Socket-Fehler # 10061\r\nVerbindung abgelehnt.");
    ExpectFieldsOfCheckReply("refused");
    ExpectListsReset("refused");

    Address.SetHost(FromUtf8(Server.HostPort()));
    Check();
    Answer = Reply::Status("HTTP/1.1 404 Not Found");
    Address.GetPlzType(u"u", u"p", u"12345");
    EXPECT_EQ(Address.Result(), -200);
    EXPECT_EQ(Address.Resulttext(), u"HTTP/1.1 404 Not Found");
    ExpectListsReset("status");
}

TEST_F(AddressTest, UnreadableCheckReplies)
{
    struct Row
    {
        const char* Label;
        std::string Body;
        std::string Resulttext; // UTF-8
    };
    const Row rows[] = {
        {"not well-formed", "<wddxPacket version='1.0'>", "Premature end of data in tag wddxPacket line 1"},
        {"entity declaration",
         "<!DOCTYPE wddxPacket [<!ENTITY x 'Stadt'>]>" + WddxPacketOf(WddxStringVar("rewritten", "&x;")),
         "Entitätsdeklaration nicht erlaubt: 'x'"},
    };
    for (const auto& row : rows) {
        Answer = Reply::Ok(CheckReply("4", kLists));
        Check();
        Answer = Reply::Ok(row.Body);
        Check();
        EXPECT_EQ(Address.Result(), -300) << row.Label;
        EXPECT_EQ(Address.Resulttext(), FromUtf8(row.Resulttext)) << row.Label;
        ExpectFieldsOfCheckReply(row.Label);
        ExpectListsReset(row.Label);
    }

    // The fields read before the lists failed stay; the service's own text wins over our message.
    for (const auto& [text, expected] :
         {std::pair<std::string, std::u16string>{"", u"WDDX-Liste mit einem Eintrag ohne "
                                                     u"einzelnen Text"},
          {"Mehrere Orte f&amp;uuml;r die PLZ", u"Mehrere Orte für die PLZ"}}) {
        Answer = Reply::Ok(WddxPacketOf(WddxStringVar("result", "4") + WddxStringVar("resulttext", text) +
                                        WddxStringVar("rewritten", "Neustadt") +
                                        "<var name='orte'><array><string/></array></var>"));
        Check();
        EXPECT_EQ(Address.Result(), -300);
        EXPECT_EQ(Address.Resulttext(), expected);
        EXPECT_EQ(Address.Rewritten(), u"Neustadt");
        EXPECT_EQ(Address.Ortsteil(), u"");
        ExpectListsReset("list entry without text");
    }

    // A packet without its structure is read field by field, and every field is empty.
    Answer = Reply::Ok("<wddxPacket version='1.0'/>");
    Check();
    EXPECT_EQ(Address.Result(), -300);
    EXPECT_EQ(Address.Resulttext(), u"");
    for (const WideString& text :
         {Address.Rewritten(), Address.Str46(), Address.Str22(), Address.Ortsteil(), Address.PlzOut()})
        EXPECT_EQ(text, u"");
    ExpectListsReset("no structure");
}

TEST_F(AddressTest, PlzTypeRows)
{
    struct Row
    {
        const char* Label;
        std::string Body;
        int32_t Result;
        std::string Resulttext; // UTF-8
    };
    const Row rows[] = {
        {"text", test::WddxPacket({{"result", "2"}, {"resulttext", "Postfach-PLZ &amp;szlig;"}}), 2,
         "Postfach-PLZ &szlig;"},
        {"number rounded half to even", WddxPacketOf("<var name='result'><number>2.5</number></var>"), 2, ""},
        {"number rounded", WddxPacketOf("<var name='result'><number>3.5</number></var>"), 4, ""},
        {"no result", test::WddxPacket({{"resulttext", "ohne"}}), 0, "ohne"},
        {"result no number", test::WddxPacket({{"result", "abc"}}), -300,
         "Der Wert 'abc' lässt sich nicht in eine Ganzzahl umwandeln"},
        // the service's own text wins over our message
        {"result no number, with text", test::WddxPacket({{"result", "abc"}, {"resulttext", "x &amp;szlig;"}}), -300,
         "x &szlig;"},
        {"no packet", "<wddx/>", -300, "Kein WDDX-Paket mit Versionsangabe gefunden"},
        {"not well-formed", "<wddxPacket", -300, "Couldn't find end of Start Tag wddxPacket line 1"},
    };
    for (const auto& row : rows) {
        Answer = Reply::Ok(CheckReply("4", kLists));
        Check();
        Answer = Reply::Ok(row.Body);
        Address.GetPlzType(u"u", u"p", u"12345");
        EXPECT_EQ(Address.Result(), row.Result) << row.Label;
        EXPECT_EQ(Address.Resulttext(), FromUtf8(row.Resulttext)) << row.Label;
        ExpectFieldsOfCheckReply(row.Label);
        ExpectListsReset(row.Label);
    }
}

} // namespace
} // namespace orvel
