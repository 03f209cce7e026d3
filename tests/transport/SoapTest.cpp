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
