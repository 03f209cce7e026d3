#include "transport/Soap.h"
#include "platform/Text.h"
#include "support/Environment.h"
#include "support/FixtureServer.h"
#include "transport/Xml.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

using test::FixtureServer;
using test::Reply;

const std::string kEnvelopeStart = R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/">)";

std::string Envelope(const std::string& body)
{
    return kEnvelopeStart + "<SOAP-ENV:Header/><SOAP-ENV:Body>" + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Fault(const std::string& faultString)
{
    return Envelope("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>" + faultString +
                    "</faultstring></SOAP-ENV:Fault>");
}

const SoapOperation kTestBlzKto{"TestBlzKto", "urn:TarvikIntf-ITarvik", SoapStyle::RpcEncoded,
                                "urn:TarvikIntf-ITarvik#TestBlzKto"};

TEST(XmlEscapeUtf8, KeepsEveryCharacterAndReplacesWhatNoDocumentMayHold)
{
    const struct
    {
        std::string Text;
        std::string Escaped;
    } cases[] = {
        {"M\xc3\xbcller & <S\xc3\xb6hne> \"\xf0\x9f\x98\x80\"",
         "M\xc3\xbcller &amp; &lt;S\xc3\xb6hne&gt; &quot;\xf0\x9f\x98\x80&quot;"},
        {"a\tb\nc\rd\x7f", "a\tb\nc\rd\x7f"},
        {std::string("\x00\x01\x1b[2J", 6), "???[2J"},
        {"\xff\xfe x \xc3", "?? x ?"},                              // bytes that start nothing, a cut sequence
        {"\xc0\xaf \xe0\x80\xaf", "?? ???"},                        // overlong forms of "/"
        {"\xed\xa0\x80 \xf4\x90\x80\x80", "??? ????"},              // a surrogate, a value beyond U+10FFFF
        {"\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd", "??\xef\xbf\xbd"}, // U+FFFE and U+FFFF are no characters
    };
    for (const auto& entry : cases) {
        const std::string escaped = XmlEscapeUtf8(entry.Text);
        EXPECT_EQ(escaped, entry.Escaped);
        EXPECT_NO_THROW(ParseXml("<a>" + escaped + "</a>")) << escaped;
    }
}

TEST(WriteSoapRequest, WritesBothStylesWithEscapedUtf8Values)
{
    struct Row
    {
        SoapOperation Operation;
        std::vector<SoapParameter> Inputs;
        std::string Expected;
    };
    const Row rows[] = {
        {{"checkVat", "urn:example:types", SoapStyle::DocumentLiteral, ""},
         {{"countryCode", "DE"}, {"vatNumber", "<M\xC3\xBCller & Co>"}},
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + kEnvelopeStart +
             R"(<SOAP-ENV:Body><checkVat xmlns="urn:example:types"><countryCode>DE</countryCode>)"
             "<vatNumber>&lt;M\xC3\xBCller &amp; Co&gt;</vatNumber></checkVat></SOAP-ENV:Body></SOAP-ENV:Envelope>\n"},
        {kTestBlzKto,
         {{"UN", "anna"}, {"Id", "7", "xsd:int"}},
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" )"
         R"(xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" )"
         R"(xmlns:SOAP-ENC="http://schemas.xmlsoap.org/soap/encoding/">)"
         R"(<SOAP-ENV:Body SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/">)"
         R"(<NS1:TestBlzKto xmlns:NS1="urn:TarvikIntf-ITarvik"><UN xsi:type="xsd:string">anna</UN>)"
         R"(<Id xsi:type="xsd:int">7</Id></NS1:TestBlzKto></SOAP-ENV:Body></SOAP-ENV:Envelope>)"
         "\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(WriteSoapRequest(row.Operation, row.Inputs), row.Expected) << row.Operation.Name;
}

TEST(SoapResponse, GivesTheFirstBodyElementAfterAnyHeader)
{
    const SoapResponse response(
        Envelope("\n  <m:TestCcResponse xmlns:m=\"urn:x\"><return>0</return><ResultText>ok</ResultText>"
                 "</m:TestCcResponse>\n"));
    const xmlNode* element = response.Expect("urn:x", "TestCcResponse");
    EXPECT_EQ(XmlText(SoapChild(element, "ResultText")), "ok");
    EXPECT_EQ(SoapChild(element, "missing"), nullptr);
    EXPECT_EQ(SoapChildElements(element).size(), 2u);
    try {
        response.Expect("urn:other", "TestCcResponse");
        ADD_FAILURE() << "namespace not checked";
    } catch (const Error& error) {
        EXPECT_EQ(
            std::string(error.what()),
            Ansi("Unerwartetes Element {urn:x}TestCcResponse in der Antwort; erwartet: {urn:other}TestCcResponse."));
    }
}

TEST(SoapResponse, FaultThrowsSoapFaultKeepingTheWholeFaultString)
{
    try {
        SoapResponse{Fault("\xCE\xA3\xCF\x86\xCE\xAC\xCE\xBB\xCE\xBC\xCE\xB1 MS_UNAVAILABLE")}; // Greek "Σφάλμα"
        ADD_FAILURE() << "no fault";
    } catch (const SoapFault& fault) {
        EXPECT_EQ(fault.FaultCode(), "SOAP-ENV:Server");
        EXPECT_EQ(fault.FaultString(), u"Σφάλμα MS_UNAVAILABLE");
        EXPECT_EQ(std::string(fault.what()), "?????? MS_UNAVAILABLE");
    }
}

TEST(SoapResponse, RefusesWhatIsNoSoapAnswer)
{
    struct Row
    {
        std::string Answer;
        std::string Message; // UTF-8; a prefix of the message
    };
    const Row rows[] = {
        {"Service unavailable", "Die Antwort ist kein XML-Dokument: "},
        {"<Envelope><Body><x/></Body></Envelope>", "Die Antwort ist kein SOAP-Umschlag."},
        {kEnvelopeStart + "<SOAP-ENV:Header/></SOAP-ENV:Envelope>", "Die Antwort enthält keinen SOAP-Body."},
        {Envelope(" "), "Der SOAP-Body der Antwort ist leer."},
        {R"(<!DOCTYPE SOAP-ENV:Envelope [<!ENTITY x SYSTEM "file:///etc/passwd">]>)" + Envelope("<a>&x;</a>"),
         "Die Antwort ist kein XML-Dokument: Entitätsdeklaration nicht erlaubt: 'x'"},
        {R"(<!DOCTYPE SOAP-ENV:Envelope SYSTEM "http://127.0.0.1:1/soap.dtd">)" + Envelope("<a/>"),
         "Die Antwort enthält eine Dokumenttyp-Deklaration (DTD) und wird nicht gelesen."},
    };
    for (const auto& row : rows) {
        try {
            SoapResponse{row.Answer};
            ADD_FAILURE() << row.Answer;
        } catch (const SoapFault&) {
            ADD_FAILURE() << row.Answer;
        } catch (const Error& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(Ansi(row.Message))) << error.what();
        }
    }
}

// Section-5 encoded values as toolkits write them: references to independent elements, chains of them, nil.
const std::string kEncoded = Envelope(
    R"(<m:R xmlns:m="urn:x" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" )"
    R"(xmlns:old="http://www.w3.org/1999/XMLSchema-instance" xmlns:enc="http://schemas.xmlsoap.org/soap/encoding/">)"
    R"(<direct xsi:type="xsd:string"> zwei  Wörter </direct><chained href="#a"/><nil xsi:nil="true"/>)"
    R"(<oldNil old:null="1"/><notNil xsi:nil="false">da</notNil>)"
    R"(<list href="#array"/><plainList><i>eins</i></plainList><nilList xsi:nil="1"/>)"
    R"(<n> 42 </n><plus>+7</plus><min>-2147483648</min><max>2147483647</max><over>2147483648</over>)"
    R"(<plusMinus>+-1</plusMinus><empty/><decimal>1.0</decimal><hex>0x10</hex><nilInt xsi:nil="true"/>)"
    R"(</m:R>)"
    R"(<multiRef id="a" href="#b"/><multiRef id="b">Ziel</multiRef>)"
    R"(<enc:Array id="array" enc:arrayType="xsd:string[3]"><item>x</item><item href="#b"/><item xsi:nil="true"/>)"
    R"(</enc:Array>)");

TEST(SoapResponse, EncodedValuesFollowReferencesAndKnowNil)
{
    const SoapResponse response(kEncoded);
    const xmlNode* element = response.Expect("urn:x", "R");
    const std::pair<const char*, const char*> strings[] = {
        {"direct", " zwei  Wörter "}, {"chained", "Ziel"}, {"nil", ""}, {"oldNil", ""}, {"notNil", "da"},
    };
    for (const auto& [name, value] : strings)
        EXPECT_EQ(response.EncodedString(SoapChild(element, name)), value) << name;
    EXPECT_EQ(response.EncodedStringArray(SoapChild(element, "list")), (std::vector<std::string>{"x", "Ziel", ""}));
    EXPECT_EQ(response.EncodedStringArray(SoapChild(element, "plainList")), std::vector<std::string>{"eins"});
    EXPECT_TRUE(response.EncodedStringArray(SoapChild(element, "nilList")).empty());
}

TEST(SoapResponse, EncodedIntTakesXmlSchemaIntsOnly)
{
    const SoapResponse response(kEncoded);
    const xmlNode* element = response.Expect("urn:x", "R");
    const std::pair<const char*, int32_t> numbers[] = {{"n", 42}, {"plus", 7}, {"min", INT32_MIN}, {"max", INT32_MAX}};
    for (const auto& [name, value] : numbers)
        EXPECT_EQ(response.EncodedInt(SoapChild(element, name)), value) << name;
    const std::pair<const char*, const char*> refused[] = {
        {"over", "2147483648"}, {"plusMinus", "+-1"}, {"empty", ""},
        {"decimal", "1.0"},     {"hex", "0x10"},      {"nilInt", ""},
    };
    for (const auto& [name, text] : refused) {
        try {
            response.EncodedInt(SoapChild(element, name));
            ADD_FAILURE() << name;
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Ung\xFCltige Ganzzahl im Element " + std::string(name) + " der Antwort: \"" + text + "\"");
        }
    }
}

TEST(SoapResponse, ReferenceThatLeadsNowhereInACircleOrTooFarThrows)
{
    std::string chain; // h1 -> h2 -> ... -> h10 "Ende"
    for (int i = 1; i <= 9; ++i)
        chain += "<multiRef id=\"h" + std::to_string(i) + "\" href=\"#h" + std::to_string(i + 1) + "\"/>";
    chain += "<multiRef id=\"h10\">Ende</multiRef><multiRef id=\"c1\" href=\"#c2\"/><multiRef id=\"c2\" "
             "href=\"#c1\"/><multiRef id=\"s\" href=\"#s\"/>";
    const SoapResponse response(Envelope(R"(<r><dangling href="#nowhere"/><external href="http://example.org/a#a"/>)"
                                         R"(<broken href="#h9x"/><circle href="#c1"/><self href="#s"/>)"
                                         R"(<eight href="#h3"/><nine href="#h2"/></r>)" +
                                         chain + R"(<multiRef id="h9x" href="#h11"/>)"));
    const xmlNode* element = response.BodyElement();
    EXPECT_EQ(response.EncodedString(SoapChild(element, "eight")), "Ende");
    const std::pair<const char*, const char*> rows[] = {
        {"dangling", "Der Verweis href=\"#nowhere\" im Element dangling der Antwort zeigt auf kein Element."},
        {"external", "Der Verweis href=\"http://example.org/a#a\" im Element external der Antwort zeigt auf kein "
                     "Element."},
        {"broken", "Der Verweis href=\"#h11\" im Element broken der Antwort zeigt auf kein Element."},
        {"circle", "Der Verweis href=\"#c1\" im Element circle der Antwort führt im Kreis oder über mehr als 8 "
                   "Verweise."},
        {"self", "Der Verweis href=\"#s\" im Element self der Antwort führt im Kreis oder über mehr als 8 Verweise."},
        {"nine", "Der Verweis href=\"#h2\" im Element nine der Antwort führt im Kreis oder über mehr als 8 Verweise."},
    };
    for (const auto& [name, message] : rows) {
        try {
            response.EncodedString(SoapChild(element, name));
            ADD_FAILURE() << name;
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()), Ansi(message));
        }
    }
}

TEST(SoapResponse, SharedValuesCannotBlowAListUp)
{
    // A thousand items referring to one value of 17 KiB: 17 MiB of text from an answer of 40 KiB.
    std::string items;
    for (int i = 0; i < 1000; ++i)
        items += "<i href=\"#v\"/>";
    const SoapResponse response(
        Envelope("<r><list>" + items + "</list></r><multiRef id=\"v\">" + std::string(17 << 10, 'x') + "</multiRef>"));
    try {
        response.EncodedStringArray(SoapChild(response.BodyElement(), "list"));
        ADD_FAILURE() << "list read";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  Ansi("Die Liste im Element list der Antwort ist größer als 16 MiB und wird nicht gelesen."));
    }
}

TEST(SoapReturnAccessor, ReturnByNameOrTheFirstAccessorThatIsNoOutput)
{
    struct Row
    {
        std::string Children;
        const char* Expected; // nullptr: none
    };
    const Row rows[] = {
        {"<Text>a</Text><return>1</return>", "return"},
        {"<opReturn>1</opReturn><Text>a</Text>", "opReturn"},
        {"<Text>a</Text><opReturn>1</opReturn>", nullptr},
        {"", nullptr},
    };
    for (const auto& row : rows) {
        const SoapResponse response(Envelope("<r>" + row.Children + "</r>"));
        const xmlNode* accessor = SoapReturnAccessor(response.BodyElement(), {"Text"});
        if (row.Expected)
            EXPECT_EQ(accessor ? std::string(reinterpret_cast<const char*>(accessor->name)) : "", row.Expected);
        else
            EXPECT_EQ(accessor, nullptr) << row.Children;
    }
}

class SoapClientTest : public testing::Test
{
protected:
    FixtureServer Server{[this](const test::Request&) { return Answer; }};
    Reply Answer = Reply::Ok(Envelope("<m:TestBlzKtoResponse xmlns:m=\"urn:TarvikIntf-ITarvik\"/>"));
    SoapClient Client;

    void SetUp() override { Client.SetURL("http://" + Server.HostPort() + "/soap/ITarvik"); }

    std::string FailureOf()
    {
        try {
            Client.Invoke(kTestBlzKto, {});
        } catch (const SoapFault& fault) {
            return "fault " + std::string(fault.what());
        } catch (const Error& error) {
            return error.what();
        }
        return "(no failure)";
    }
};

TEST_F(SoapClientTest, PostsTheEnvelopeWithContentTypeAndQuotedSoapAction)
{
    const SoapResponse response = Client.Invoke(kTestBlzKto, {{"UN", "anna"}});
    EXPECT_NE(response.Expect("urn:TarvikIntf-ITarvik", "TestBlzKtoResponse"), nullptr);
    const auto request = Server.Requests().at(0);
    EXPECT_EQ(request.RequestLine, "POST /soap/ITarvik HTTP/1.1");
    EXPECT_EQ(request.Headers.at("content-type"), "text/xml");
    EXPECT_EQ(request.Headers.at("soapaction"), "\"urn:TarvikIntf-ITarvik#TestBlzKto\"");
    EXPECT_EQ(request.Body, WriteSoapRequest(kTestBlzKto, {{"UN", "anna"}}));
}

TEST_F(SoapClientTest, FaultsComeAsSoapFaultOtherStatusesAsTheStatusLine)
{
    struct Row
    {
        Reply Answer;
        std::string Failure;
    };
    const Row rows[] = {
        {Reply::Status("HTTP/1.1 500 Internal Server Error", Fault("INVALID_INPUT")), "fault INVALID_INPUT"},
        {Reply::Ok(Fault("SERVICE_UNAVAILABLE")), "fault SERVICE_UNAVAILABLE"},
        {Reply::Status("HTTP/1.1 500 Internal Server Error", "<html>oops</html>"),
         "HTTP/1.1 500 Internal Server Error"},
        {Reply::Status("HTTP/1.1 404 Not Found", Fault("INVALID_INPUT")), "HTTP/1.1 404 Not Found"},
        {Reply::Ok(std::string(SoapClient::kMaxResponseSize + 1, ' ')),
         Ansi("Die Antwort ist größer als 4 MiB und wird nicht gelesen.")},
    };
    for (const auto& row : rows) {
        Answer = row.Answer;
        EXPECT_EQ(FailureOf(), row.Failure);
    }
}

TEST_F(SoapClientTest, ReceiveTimeoutBoundsAStalledAnswer)
{
    Answer.Act = Reply::Action::Stall;
    Client.SetReceiveTimeout(300);
    EXPECT_EQ(FailureOf(), Ansi("Zeitüberschreitung beim Lesen"));
}

TEST_F(SoapClientTest, BeforeExecuteDecidesWhatIsSent)
{
    struct Rewriting : SoapClient
    {
        std::string SeenName;
        void BeforeExecute(const std::string& operationName, std::string& request) override
        {
            SeenName = operationName;
            request = "<rewritten/>";
        }
    } client;
    client.SetURL(Client.URL());
    client.Invoke(kTestBlzKto, {});
    EXPECT_EQ(client.SeenName, "TestBlzKto");
    EXPECT_EQ(Server.Requests().at(0).Body, "<rewritten/>");
}

// The fixture server stands in as the proxy and sees the absolute target and the proxy credentials.
TEST_F(SoapClientTest, ProxyGivenOrFromTheEnvironmentGetsTheCredentials)
{
    FixtureServer proxy([this](const test::Request&) { return Answer; });
    const std::string url = "http://service.invalid/soap/ITarvik";
    Client.SetURL(url);
    Client.SetUserName("bob");
    Client.SetPassword("secret");

    Client.SetProxy(proxy.HostPort());
    Client.Invoke(kTestBlzKto, {});
    {
        test::ScopedEnvironment noProxy("no_proxy", nullptr);
        test::ScopedEnvironment httpProxy("http_proxy", ("http://" + proxy.HostPort()).c_str());
        Client.SetProxy("");
        Client.Invoke(kTestBlzKto, {});
    }
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.RequestLine, "POST " + url + " HTTP/1.1");
        EXPECT_EQ(request.Headers.at("proxy-authorization"), "Basic Ym9iOnNlY3JldA=="); // bob:secret
    }
    EXPECT_EQ(Client.Proxy(), "");
    EXPECT_EQ(Client.UserName(), "bob");
}

} // namespace
} // namespace orvel
