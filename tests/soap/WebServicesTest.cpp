#include "platform/Text.h"
#include "soap/IAddress3Unit.h"
#include "soap/ITarvikUnit.h"
#include "support/Environment.h"
#include "support/FixtureServer.h"
#include "support/Tinyproxy.h"
#include "support/WebServiceServer.h"

#include <gtest/gtest.h>

#include <functional>

namespace orvel {
namespace {

using ITarvikUnit::GetITarvik;
using ITarvikUnit::ITarvik;

using test::WebValue;

const WideString kUser = u"anna";
const WideString kPass = u"p&ss<wört>";

WebValue Text(std::string name, const WideString& value)
{
    return test::WebText(std::move(name), ToUtf8(value));
}

WebValue List(std::string name, const TStringDynArray& items)
{
    std::vector<std::string> values;
    for (const auto& item : items)
        values.push_back(ToUtf8(item));
    return test::WebList(std::move(name), std::move(values));
}

test::WebInput S(std::string name, std::string value)
{
    return {std::move(name), "xsd:string", std::move(value)};
}

test::WebInput I(std::string name, std::string value)
{
    return {std::move(name), "xsd:int", std::move(value)};
}

// One operation: the inputs it must send, and a call with those inputs that packs its return value and outputs.
struct Operation
{
    std::string Name;
    std::string Interface;
    std::vector<test::WebInput> Inputs;
    std::function<std::vector<WebValue>(ITarvik&, IAddress3&)> Call;
};

const std::vector<Operation>& Operations()
{
    static const std::vector<Operation> operations = {
        {"TestBlzKto",
         "ITarvik",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("Blz", "70150000"), S("Kto", "594937"), S("C", "DE"),
          I("Id", "-42"), S("Name", "Müller & Söhne")},
         [](ITarvik& tarvik, IAddress3&) {
             WideString resultText, bankName, newBlz, iban, bic;
             const int32_t result = tarvik.TestBlzKto(kUser, kPass, u"70150000", u"594937", u"DE", -42,
                                                      u"Müller & Söhne", resultText, bankName, newBlz, iban, bic);
             return std::vector{test::WebInt("return", result),
                                Text("ResultText", resultText),
                                Text("BankName", bankName),
                                Text("NewBlz", newBlz),
                                Text("Iban", iban),
                                Text("Bic", bic)};
         }},
        {"TestIban",
         "ITarvik",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("IbanIn", "AT61 1904 3002 3457 3201"), I("Id", "7"), S("Name", "")},
         [](ITarvik& tarvik, IAddress3&) {
             WideString resultText, bankName, newBlz, ibanOut, bic;
             const int32_t result = tarvik.TestIban(kUser, kPass, u"AT61 1904 3002 3457 3201", 7, u"", resultText,
                                                    bankName, newBlz, ibanOut, bic);
             return std::vector{test::WebInt("return", result), Text("ResultText", resultText),
                                Text("BankName", bankName),     Text("NewBlz", newBlz),
                                Text("IbanOut", ibanOut),       Text("Bic", bic)};
         }},
        {"TestIbanBic",
         "ITarvik",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("IbanIn", "DE89370400440532013000"), S("BicIn", "DEUTDEFF"),
          I("Id", "2147483647"), S("Name", "Ελένη")},
         [](ITarvik& tarvik, IAddress3&) {
             WideString resultText, bankNameIban, bankNameBic, newBlz, ibanOut, bicOut;
             int32_t sct = 0, sdd = 0, b2b = 0;
             const int32_t result =
                 tarvik.TestIbanBic(kUser, kPass, u"DE89370400440532013000", u"DEUTDEFF", 2147483647, u"Ελένη",
                                    resultText, bankNameIban, bankNameBic, newBlz, ibanOut, bicOut, sct, sdd, b2b);
             return std::vector{
                 test::WebInt("return", result),   Text("ResultText", resultText),  Text("BankNameIban", bankNameIban),
                 Text("BankNameBic", bankNameBic), Text("NewBlz", newBlz),          Text("IbanOut", ibanOut),
                 Text("BicOut", bicOut),           test::WebInt("ServiceSCT", sct), test::WebInt("ServiceSDD", sdd),
                 test::WebInt("ServiceB2B", b2b)};
         }},
        {"TestBic",
         "ITarvik",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("Bic", "AGRIFRPP")},
         [](ITarvik& tarvik, IAddress3&) {
             WideString bankName;
             int32_t sct = 0, sdd = 0, b2b = 0;
             tarvik.TestBic(kUser, kPass, u"AGRIFRPP", bankName, sct, sdd, b2b);
             return std::vector{Text("BankName", bankName), test::WebInt("ServiceSCT", sct),
                                test::WebInt("ServiceSDD", sdd), test::WebInt("ServiceB2B", b2b)};
         }},
        {"TestCc",
         "ITarvik",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("Cc", "4111 1111 1111 1112")},
         [](ITarvik& tarvik, IAddress3&) {
             WideString resultText;
             const int32_t result = tarvik.TestCc(kUser, kPass, u"4111 1111 1111 1112", resultText);
             return std::vector{test::WebInt("return", result), Text("ResultText", resultText)};
         }},
        {"Search",
         "ITarvik",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("SearchString", "Bank Berlin"), S("C", "DE"), I("Fragments", "1")},
         [](ITarvik& tarvik, IAddress3&) {
             return std::vector{List("return", tarvik.Search(kUser, kPass, u"Bank Berlin", u"DE", 1))};
         }},
        {"CheckPlzOrt",
         "IAddress3",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("Plz", "65929"), S("Ort", "Frankfurt"), I("Rewrite", "3")},
         [](ITarvik&, IAddress3& address) {
             WideString resultText, rewritten;
             TStringDynArray orte, alteOrte;
             const int32_t result =
                 address.CheckPlzOrt(kUser, kPass, u"65929", u"Frankfurt", 3, resultText, rewritten, orte, alteOrte);
             return std::vector{test::WebInt("return", result), Text("ResultText", resultText),
                                Text("Rewritten", rewritten), List("Orte", orte), List("AlteOrte", alteOrte)};
         }},
        {"CheckPlzOrtStr",
         "IAddress3",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("Plz", "80802"), S("Ort", "München"), S("Str", "Leopoldstr."),
          S("Hnr", ""), I("Rewrite", "0")},
         [](ITarvik&, IAddress3& address) {
             WideString resultText, rewritten, str46, str22, ortsteil, plzOut;
             TStringDynArray orte, alteOrte;
             const int32_t result =
                 address.CheckPlzOrtStr(kUser, kPass, u"80802", u"München", u"Leopoldstr.", u"", 0, resultText,
                                        rewritten, str46, str22, ortsteil, plzOut, orte, alteOrte);
             return std::vector{test::WebInt("return", result), Text("ResultText", resultText),
                                Text("Rewritten", rewritten),   Text("Str46", str46),
                                Text("Str22", str22),           Text("Ortsteil", ortsteil),
                                Text("PlzOut", plzOut),         List("Orte", orte),
                                List("AlteOrte", alteOrte)};
         }},
        {"CheckPlzOrtPof",
         "IAddress3",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("Plz", "50679"), S("Ort", "Koeln"), S("Pof", "10 11 12"),
          I("Rewrite", "1")},
         [](ITarvik&, IAddress3& address) {
             WideString resultText, rewritten;
             TStringDynArray orte, alteOrte;
             const int32_t result = address.CheckPlzOrtPof(kUser, kPass, u"50679", u"Koeln", u"10 11 12", 1, resultText,
                                                           rewritten, orte, alteOrte);
             return std::vector{test::WebInt("return", result), Text("ResultText", resultText),
                                Text("Rewritten", rewritten), List("Orte", orte), List("AlteOrte", alteOrte)};
         }},
        {"GetPlzType",
         "IAddress3",
         {S("UN", "anna"), S("PW", "p&ss<wört>"), S("Plz", "53113")},
         [](ITarvik&, IAddress3& address) {
             WideString resultText;
             const int32_t result = address.GetPlzType(kUser, kPass, u"53113", resultText);
             return std::vector{test::WebInt("return", result), Text("ResultText", resultText)};
         }},
    };
    return operations;
}

// Both interfaces over their proxy objects, pointed at the stand-in service.
class WebServicesTest : public testing::Test
{
protected:
    test::ScopedEnvironment HttpProxy{"http_proxy", nullptr};
    test::WebServiceServer Service;
    std::shared_ptr<SoapClient> TarvikService = std::make_shared<SoapClient>();
    std::shared_ptr<SoapClient> AddressService = std::make_shared<SoapClient>();
    std::shared_ptr<ITarvik> Tarvik = GetITarvik(TarvikService);
    std::shared_ptr<IAddress3> Address = GetIAddress3(AddressService);

    void SetUp() override { PointAt(Service.Host()); }

    void PointAt(const std::string& hostPort)
    {
        TarvikService->SetURL("http://" + hostPort + "/soap/ITarvik");
        AddressService->SetURL("http://" + hostPort + "/soap/IAddress3");
    }
};

TEST_F(WebServicesTest, EachOperationSendsItsInputsInOrderUnderItsNamespaceAndSoapAction)
{
    for (const auto& operation : Operations()) {
        operation.Call(*Tarvik, *Address);
        const auto calls = Service.Calls();
        ASSERT_FALSE(calls.empty());
        const test::WebCall& call = calls.back();
        const std::string ns =
            operation.Interface == "ITarvik" ? "urn:TarvikIntf-ITarvik" : "urn:Address3Intf-IAddress3";
        EXPECT_EQ(call.Path, "/soap/" + operation.Interface) << operation.Name;
        EXPECT_EQ(call.Operation, operation.Name);
        EXPECT_EQ(call.Namespace, ns) << operation.Name;
        EXPECT_EQ(call.SoapAction, ns + "#" + operation.Name);
        EXPECT_EQ(call.Inputs, operation.Inputs) << operation.Name;
    }
    EXPECT_EQ(Service.Calls().size(), Operations().size());
}

TEST_F(WebServicesTest, RequestIsAnEncodedRpcEnvelopeInUtf8)
{
    WideString resultText;
    Tarvik->TestCc(kUser, kPass, u"4111", resultText);
    const test::Request request = Service.Requests().at(0);
    EXPECT_EQ(request.RequestLine, "POST /soap/ITarvik HTTP/1.1");
    EXPECT_EQ(request.Headers.at("content-type"), "text/xml");
    EXPECT_EQ(request.Headers.at("soapaction"), "\"urn:TarvikIntf-ITarvik#TestCc\"");
    EXPECT_EQ(request.Body,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" )"
              R"(xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" )"
              R"(xmlns:SOAP-ENC="http://schemas.xmlsoap.org/soap/encoding/">)"
              R"(<SOAP-ENV:Body SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/">)"
              R"(<NS1:TestCc xmlns:NS1="urn:TarvikIntf-ITarvik"><UN xsi:type="xsd:string">anna</UN>)"
              "<PW xsi:type=\"xsd:string\">p&amp;ss&lt;w\xC3\xB6rt&gt;</PW><Cc xsi:type=\"xsd:string\">4111</Cc>"
              "</NS1:TestCc></SOAP-ENV:Body></SOAP-ENV:Envelope>\n");
}

TEST_F(WebServicesTest, EveryOutputIsReadBackInEveryFormOfTheAnswer)
{
    struct Row
    {
        const char* Name;
        test::WebForm Form;
    };
    const Row rows[] = {
        {"typed", {}},
        {"without xsi:type", {.Typed = false}},
        {"in reverse order", {.Reversed = true}},
        {"multi-reference values", {.MultiRef = true}},
        {"all of it", {.Typed = false, .Reversed = true, .MultiRef = true}},
    };
    for (const auto& row : rows) {
        Service.SetForm(row.Form);
        for (const auto& operation : Operations())
            EXPECT_EQ(operation.Call(*Tarvik, *Address), test::kWebAnswers.at(operation.Name))
                << operation.Name << ", " << row.Name;
    }
}

TEST_F(WebServicesTest, OutputsTheAnswerLacksStayAsTheCallerClearedThem)
{
    // A street check answered like a place check: no Str46, Ortsteil or PlzOut.
    Service.SetAnswer("CheckPlzOrtStr", {test::WebInt("return", 4), test::WebText("ResultText", "Straße fehlt"),
                                         test::WebText("Rewritten", "München"), test::WebText("Str22", "x"),
                                         test::WebList("Orte", {"München"})});
    WideString resultText, rewritten, str46, str22, ortsteil, plzOut;
    TStringDynArray orte, alteOrte;
    EXPECT_EQ(Address->CheckPlzOrtStr(kUser, kPass, u"80802", u"München", u"Nirgendweg", u"1", 0, resultText, rewritten,
                                      str46, str22, ortsteil, plzOut, orte, alteOrte),
              4);
    EXPECT_EQ(resultText, u"Straße fehlt");
    EXPECT_EQ(rewritten, u"München");
    EXPECT_EQ(str22, u"x");
    EXPECT_EQ(orte, TStringDynArray{u"München"});
    EXPECT_EQ(str46, u"");
    EXPECT_EQ(ortsteil, u"");
    EXPECT_EQ(plzOut, u"");
    EXPECT_TRUE(alteOrte.empty());
}

TEST_F(WebServicesTest, TestBicReadsNoReturnValueWhateverTheServiceSends)
{
    Service.SetAnswer("TestBic", {test::WebText("return", "kein Ergebnis"), test::WebText("BankName", "Bank"),
                                  test::WebInt("ServiceSCT", 1)});
    WideString bankName;
    int32_t sct = 0, sdd = 0, b2b = 0;
    Tarvik->TestBic(kUser, kPass, u"AGRIFRPP", bankName, sct, sdd, b2b);
    EXPECT_EQ(bankName, u"Bank");
    EXPECT_EQ(sct, 1);
    EXPECT_EQ(sdd, 0);
    EXPECT_EQ(b2b, 0);
}

TEST_F(WebServicesTest, ResultCodesOfFailedChecksAreNoErrors)
{
    Service.SetAnswer("GetPlzType", {test::WebInt("return", -200), test::WebText("ResultText", "Zugang gesperrt")});
    WideString resultText;
    EXPECT_EQ(Address->GetPlzType(kUser, kPass, u"00000", resultText), -200);
    EXPECT_EQ(resultText, u"Zugang gesperrt");
}

TEST_F(WebServicesTest, FaultsAndTransportFailuresThrowWithTheirText)
{
    test::FixtureServer other;
    struct Row
    {
        std::function<void()> Arrange;
        std::string Message; // UTF-8
        bool Fault;
    };
    const Row rows[] = {
        {[&] { Service.SetFault("Benutzer oder Passwort ungültig – Zugang gesperrt"); },
         "Benutzer oder Passwort ungültig – Zugang gesperrt", true},
        {[&] { PointAt("127.0.0.1:" + std::to_string(test::FreePort())); },
         "Socket-Fehler # 10061\r\nVerbindung abgelehnt.", false},
        {[&] {
             other.AnswerAlways(test::Reply::Status("HTTP/1.1 503 Service Unavailable", "<html/>"));
             PointAt(other.HostPort());
         },
         "HTTP/1.1 503 Service Unavailable", false},
        {[&] {
             other.AnswerAlways(test::Reply::Ok("Wartungsarbeiten"));
             PointAt(other.HostPort());
         },
         "Die Antwort ist kein XML-Dokument: Start tag expected, '<' not found", false},
    };
    for (const auto& row : rows) {
        row.Arrange();
        WideString resultText = u"unverändert";
        try {
            Tarvik->TestCc(kUser, kPass, u"4111", resultText);
            ADD_FAILURE() << row.Message;
        } catch (const SoapFault& fault) {
            EXPECT_TRUE(row.Fault) << row.Message;
            EXPECT_EQ(ToUtf8(fault.FaultString()), row.Message);
            EXPECT_EQ(std::string(fault.what()), Ansi(row.Message));
        } catch (const Error& error) {
            EXPECT_FALSE(row.Fault) << row.Message;
            EXPECT_EQ(std::string(error.what()), Ansi(row.Message));
        }
        EXPECT_EQ(resultText, u"unverändert");
    }
}

const std::string kEnvelopeStart = R"(<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" )"
                                   R"(xmlns:SOAP-ENC="http://schemas.xmlsoap.org/soap/encoding/" )"
                                   R"(xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" )"
                                   R"(xmlns:xsd="http://www.w3.org/2001/XMLSchema"><SOAP-ENV:Body>)";

std::string Envelope(const std::string& body)
{
    return kEnvelopeStart + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

// Answers written by hand as other SOAP toolkits write them.
class HandWrittenAnswerTest : public WebServicesTest
{
protected:
    test::FixtureServer Other;

    void SetUp() override { PointAt(Other.HostPort()); }

    void Answer(const std::string& body) { Other.AnswerAlways(test::Reply::Ok(Envelope(body))); }
};

TEST_F(HandWrittenAnswerTest, ReturnValueUnderAnotherNameAndValuesBeforeTheAnswer)
{
    struct Row
    {
        std::string Body;
        int32_t Result;
        WideString ResultText;
    };
    const Row rows[] = {
        // independent values first, the answer after them, the return value named by the operation
        {R"(<multiRef id="id0" SOAP-ENC:root="0" xsi:type="xsd:int">5</multiRef>)"
         R"(<ns1:TestCcResponse xmlns:ns1="urn:TarvikIntf-ITarvik"><TestCcReturn href="#id0"/>)"
         R"(<ResultText href="#id1"/></ns1:TestCcResponse>)"
         R"(<multiRef id="id1" SOAP-ENC:root="0" xsi:type="xsd:string">gültig</multiRef>)",
         5, u"gültig"},
        // outputs first, "return" last and qualified, the number with blanks and a sign
        {R"(<m:TestCcResponse xmlns:m="urn:TarvikIntf-ITarvik"><ResultText xsi:nil="true"/>)"
         R"(<m:return>  +12 </m:return></m:TestCcResponse>)",
         12, u""},
    };
    for (const auto& row : rows) {
        Answer(row.Body);
        WideString resultText = u"alt";
        EXPECT_EQ(Tarvik->TestCc(kUser, kPass, u"4111", resultText), row.Result);
        EXPECT_EQ(resultText, row.ResultText);
    }
}

TEST_F(HandWrittenAnswerTest, ArraysAsDotNetAndAxisWriteThem)
{
    struct Row
    {
        std::string Body;
        TStringDynArray Items;
    };
    const Row rows[] = {
        {R"(<q1:SearchResponse xmlns:q1="urn:TarvikIntf-ITarvik"><return href="#id1"/></q1:SearchResponse>)"
         R"(<SOAP-ENC:Array id="id1" SOAP-ENC:arrayType="xsd:string[3]"><Item>Bank A</Item><Item xsi:nil="true"/>)"
         R"(<Item>Bank &amp; C</Item></SOAP-ENC:Array>)",
         {u"Bank A", u"", u"Bank & C"}},
        {R"(<ns1:SearchResponse xmlns:ns1="urn:TarvikIntf-ITarvik"><SearchReturn href="#id0"/></ns1:SearchResponse>)"
         R"(<multiRef id="id0" SOAP-ENC:root="0" xsi:type="SOAP-ENC:Array" SOAP-ENC:arrayType="xsd:string[2]">)"
         R"(<item href="#id1"/><item href="#id1"/></multiRef>)"
         R"(<multiRef id="id1" SOAP-ENC:root="0" xsi:type="xsd:string">Sparkasse</multiRef>)",
         {u"Sparkasse", u"Sparkasse"}},
        {R"(<NS1:SearchResponse xmlns:NS1="urn:TarvikIntf-ITarvik">)"
         R"(<return xsi:type="SOAP-ENC:Array" SOAP-ENC:arrayType="xsd:string[0]"/></NS1:SearchResponse>)",
         {}},
    };
    for (const auto& row : rows) {
        Answer(row.Body);
        EXPECT_EQ(Tarvik->Search(kUser, kPass, u"Bank", u"DE", 0), row.Items) << row.Body;
    }
}

TEST_F(HandWrittenAnswerTest, UnreadableAnswerThrowsAndWritesNoOutput)
{
    struct Row
    {
        std::string Body;
        std::string Message; // UTF-8
    };
    const Row rows[] = {
        {R"(<m:TestIbanResponse xmlns:m="urn:TarvikIntf-ITarvik"><return>0</return></m:TestIbanResponse>)",
         "Unerwartetes Element {urn:TarvikIntf-ITarvik}TestIbanResponse in der Antwort; erwartet: "
         "{urn:TarvikIntf-ITarvik}TestCcResponse."},
        {R"(<m:TestCcResponse xmlns:m="urn:Address3Intf-IAddress3"><return>0</return></m:TestCcResponse>)",
         "Unerwartetes Element {urn:Address3Intf-IAddress3}TestCcResponse in der Antwort; erwartet: "
         "{urn:TarvikIntf-ITarvik}TestCcResponse."},
        {R"(<m:TestCcResponse xmlns:m="urn:TarvikIntf-ITarvik"><ResultText>neu</ResultText></m:TestCcResponse>)",
         "Die Antwort enthält kein Element return."},
        {R"(<m:TestCcResponse xmlns:m="urn:TarvikIntf-ITarvik"><ResultText>neu</ResultText>)"
         R"(<return>OK</return></m:TestCcResponse>)",
         "Ungültige Ganzzahl im Element return der Antwort: \"OK\""},
        {R"(<m:TestCcResponse xmlns:m="urn:TarvikIntf-ITarvik"><return>0</return>)"
         R"(<ResultText href="#gone"/></m:TestCcResponse>)",
         "Der Verweis href=\"#gone\" im Element ResultText der Antwort zeigt auf kein Element."},
    };
    for (const auto& row : rows) {
        Answer(row.Body);
        WideString resultText = u"alt";
        try {
            Tarvik->TestCc(kUser, kPass, u"4111", resultText);
            ADD_FAILURE() << row.Body;
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()), Ansi(row.Message));
        }
        EXPECT_EQ(resultText, u"alt");
    }
}

TEST(GetITarvik, TheInterfaceKeepsItsProxyObjectAlive)
{
    auto object = std::make_shared<SoapClient>();
    std::weak_ptr<SoapClient> watch = object;
    auto tarvik = GetITarvik(std::move(object));
    auto address = GetIAddress3(nullptr);
    EXPECT_FALSE(watch.expired());
    tarvik.reset();
    EXPECT_TRUE(watch.expired());
    WideString resultText;
    EXPECT_THROW(address->GetPlzType(kUser, kPass, u"53113", resultText), Error); // a new object has no endpoint
}

} // namespace
} // namespace orvel
