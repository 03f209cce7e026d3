#include "platform/Error.h"
#include "platform/Text.h"
#include "support/FixtureServer.h"
#include "support/GermanLocale.h"
#include "wddx/Common.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

std::string Packet(const std::string& vars)
{
    return "<wddxPacket version='1.0'><header/><data><struct>" + vars + "</struct></data></wddxPacket>";
}

// The value as one line: its kind, then its content.
std::string Describe(const TWddxValue& value)
{
    switch (value.GetKind()) {
    case TWddxValue::Kind::Empty:
        return "empty";
    case TWddxValue::Kind::Text:
        return "text " + ToUtf8(value.AsText());
    case TWddxValue::Kind::Number:
        return "number " + ToUtf8(value.AsText());
    case TWddxValue::Kind::Array:
        break;
    }
    std::string out = "array";
    for (const WideString& element : value.Elements())
        out += " [" + ToUtf8(element) + "]";
    return out;
}

TWddxValue Read(const std::string& packet, std::string_view name)
{
    return TWddxDocument(Widen(packet)).GetVar(name);
}

struct ReadCase
{
    const char* Label;
    std::string Packet;
    std::string Name;
    std::string Expected;
};

const std::string kBanken =
    Packet("<var name='banken'><array length='2'><string>A|1</string><string>B|2</string></array></var>");

const ReadCase kReadCases[] = {
    {"array with the count first", kBanken, "banken", "array [2] [A|1] [B|2]"},
    {"names are case-sensitive", kBanken, "Banken", "empty"},
    {"element names are case-sensitive", Packet("<VAR name='x'><string>a</string></VAR>"), "x", "empty"},
    {"missing variable", kBanken, "result", "empty"},
    {"string", Packet("<var name='result'><string>4</string></var>"), "result", "text 4"},
    {"number", Packet("<var name='result'><number>4.5</number></var>"), "result", "number 4.5"},
    {"number with sign and exponent", Packet("<var name='n'><number>-1.5e2</number></var>"), "n", "number -150"},
    {"number with plus sign", Packet("<var name='n'><number>+3</number></var>"), "n", "number 3"},
    {"number between blanks", Packet("<var name='n'><number> 7 </number></var>"), "n", "number 7"},
    {"number that is no number", Packet("<var name='n'><number>abc</number></var>"), "n", "number 0"},
    {"number with a decimal comma", Packet("<var name='n'><number>4,5</number></var>"), "n", "number 0"},
    {"number spelled inf", Packet("<var name='n'><number>inf</number></var>"), "n", "number 0"},
    {"number out of range", Packet("<var name='n'><number>1e999</number></var>"), "n", "number 0"},
    {"other element with one text", Packet("<var name='d'><dateTime>2024-01-31</dateTime></var>"), "d",
     "text 2024-01-31"},
    {"empty string element", Packet("<var name='x'><string/></var>"), "x", "empty"},
    {"boolean", Packet("<var name='x'><boolean value='true'/></var>"), "x", "empty"},
    {"variable without content", Packet("<var name='x'></var>"), "x", "empty"},
    {"struct", Packet("<var name='x'><struct><var name='y'><string>a</string></var></struct></var>"), "x", "empty"},
    {"CDATA is no single value", Packet("<var name='x'><string><![CDATA[a]]></string></var>"), "x", "empty"},
    {"mixed content", Packet("<var name='x'><string>a<b/>c</string></var>"), "x", "empty"},
    {"later variable wins",
     Packet("<var name='x'><string>first</string></var><var name='x'><string>second</string></var>"), "x",
     "text second"},
    {"empty array", Packet("<var name='a'><array length='0'></array></var>"), "a", "array [0]"},
    {"array as an empty element", Packet("<var name='a'><array/></var>"), "a", "array [0]"},
    {"array entries in CDATA and as bare text",
     Packet("<var name='a'><array><string><![CDATA[a<b]]></string>plain<string>c</string></array></var>"), "a",
     "array [3] [a<b] [plain] [c]"},
    {"references decoded by the parser, service entities left alone",
     Packet("<var name='t'><string>M&#252;nchen &amp; Gro&amp;szlig;</string></var>"), "t",
     "text München & Gro&szlig;"},
    {"Windows-1252 bytes of the reply", Packet("<var name='t'><string>K\xF6ln \x80</string></var>"), "t",
     "text Köln €"},
    {"encoding declaration does not matter",
     "<?xml version='1.0' encoding='ISO-8859-1'?>" + Packet("<var name='t'><string>\xE4</string></var>"), "t",
     "text ä"},
    {"either quote style and blanks inside tags",
     "<wddxPacket  version=\"1.0\" ><data ><struct\n><var\tname = \"x\" ><string>a</string></var></struct></data>"
     "</wddxPacket>",
     "x", "text a"},
    {"indented packet",
     "<wddxPacket version='1.0'>\n  <header/>\n  <data>\n    <struct>\n      <var name='banken'>\n        <array "
     "length='2'>\n          <string>A|1</string>\n          <string>B|2</string>\n        </array>\n      </var>\n"
     "    </struct>\n  </data>\n</wddxPacket>\n",
     "banken", "array [2] [A|1] [B|2]"},
    {"blanks inside a string are kept", Packet("<var name='t'><string>  </string></var>"), "t", "text   "},
};

TEST(WddxDocument, ReadsValuesAsTheTableSays)
{
    for (const auto& c : kReadCases)
        EXPECT_EQ(Describe(Read(c.Packet, c.Name)), c.Expected) << c.Label;
}

TEST(WddxDocument, NumbersUseThePointUnderAGermanLocale)
{
    test::GermanNumeric german;
    if (!german.Active)
        GTEST_SKIP() << "no German locale available";
    const TWddxValue value = Read(Packet("<var name='n'><number>4.5</number></var>"), "n");
    ASSERT_EQ(value.GetKind(), TWddxValue::Kind::Number);
    EXPECT_EQ(value.AsText(), u"4.5");
    EXPECT_EQ(Describe(Read(Packet("<var name='n'><number>4,5</number></var>"), "n")), "number 0");
}

struct ErrorCase
{
    const char* Label;
    std::string Packet;
    std::string Message; // UTF-8
};

std::string Nested(int depth)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<string>";
    for (int i = 0; i < depth; ++i)
        text += "</string>";
    return text;
}

std::string QuadraticBlowup()
{
    std::string packet = "<!DOCTYPE wddxPacket [<!ENTITY x '" + std::string(50000, 'A') + "'>]>" +
                         "<wddxPacket version='1.0'><data><struct><var name='x'><string>";
    for (int i = 0; i < 20000; ++i)
        packet += "&x;";
    return packet + "</string></var></struct></data></wddxPacket>";
}

TEST(WddxDocument, UnreadableTextFailsAtConstruction)
{
    const ErrorCase cases[] = {
        {"not well-formed", "<wddxPacket version='1.0'><data>", "Premature end of data in tag data line 1"},
        {"undeclared entity", Packet("<var name='x'><string>&Auml;</string></var>"), "Entity 'Auml' not defined"},
        {"entity declaration", QuadraticBlowup(), "Entitätsdeklaration nicht erlaubt: 'x'"},
        {"parameter entity",
         "<!DOCTYPE a [<!ENTITY % p '<!ENTITY x \"y\">'> %p;]>" + Packet("<var name='x'><string>&x;</string></var>"),
         "Entitätsdeklaration nicht erlaubt: 'p'"},
        {"external entity", "<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><a>&e;</a>",
         "Entitätsdeklaration nicht erlaubt: 'e'"},
        {"nesting beyond the limit", Packet("<var name='x'>" + Nested(300) + "</var>"),
         "Excessive depth in document: 256 use XML_PARSE_HUGE option"},
    };
    for (const auto& c : cases) {
        try {
            TWddxDocument document(Widen(c.Packet));
            ADD_FAILURE() << c.Label << ": no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.what(), Ansi(c.Message)) << c.Label;
        }
    }
}

TEST(WddxDocument, MissingStructureFailsEveryGetVar)
{
    const ErrorCase cases[] = {
        {"no version", "<wddxPacket><data><struct/></data></wddxPacket>",
         "Kein WDDX-Paket mit Versionsangabe gefunden"},
        {"empty version", "<wddxPacket version=''><data><struct/></data></wddxPacket>",
         "Kein WDDX-Paket mit Versionsangabe gefunden"},
        {"other root", "<packet version='1.0'><data><struct/></data></packet>",
         "Kein WDDX-Paket mit Versionsangabe gefunden"},
        {"no data", "<wddxPacket version='1.0'><header/><struct/></wddxPacket>", "WDDX-Paket ohne data-Element"},
        {"no struct", "<wddxPacket version='1.0'><data><array/></data></wddxPacket>", "WDDX-Daten ohne struct-Element"},
        {"empty array entry", Packet("<var name='x'><array><string>a</string><string/></array></var>"),
         "WDDX-Liste mit einem Eintrag ohne einzelnen Text"},
        {"array entry with elements", Packet("<var name='x'><array><string><b>a</b></string></array></var>"),
         "WDDX-Liste mit einem Eintrag ohne einzelnen Text"},
    };
    for (const auto& c : cases) {
        const TWddxDocument document(Widen(c.Packet));
        try {
            document.GetVar("x");
            ADD_FAILURE() << c.Label << ": no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.what(), Ansi(c.Message)) << c.Label;
        }
    }
}

TEST(WddxDocument, ExternalDtdIsNotFetched)
{
    test::FixtureServer server([](const test::Request&) { return test::Reply::Ok("<!ENTITY x 'fetched'>"); });
    const std::string packet = "<!DOCTYPE wddxPacket SYSTEM 'http://" + server.HostPort() + "/wddx.dtd'>" +
                               Packet("<var name='x'><string>a</string></var>");
    EXPECT_EQ(Describe(Read(packet, "x")), "text a");
    EXPECT_TRUE(server.RequestLines().empty());
}

} // namespace
} // namespace orvel
