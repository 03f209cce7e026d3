#include "objects/checkVatService.h"
#include "support/Environment.h"
#include "support/ViesServer.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

class THTTPRIO2Test : public testing::Test
{
protected:
    test::ViesServer Vies;
    test::ScopedEnvironment HttpProxy{"http_proxy", nullptr};
    THTTPRIO2* Client = nullptr;
    std::unique_ptr<checkVatPortType> Port;

    void SetUp() override
    {
        auto client = std::make_unique<THTTPRIO2>();
        client->SetURL(Vies.Url());
        Client = client.get();
        Port = GetcheckVatPortType(std::move(client));
    }

    std::string SentBody()
    {
        try {
            Port->checkVat({"DE", "123456789"});
        } catch (const Error&) {
            // a rewritten request may be no checkVat any more; only what was sent counts here
        }
        return Vies.Requests().back().Body;
    }
};

TEST_F(THTTPRIO2Test, WithoutAHandlerTheRequestGoesAsSerialised)
{
    const std::string body = SentBody();
    EXPECT_EQ(body.find('\r'), std::string::npos);
    EXPECT_TRUE(body.ends_with("</SOAP-ENV:Envelope>\n"));
}

TEST_F(THTTPRIO2Test, HandlerSeesCrLfLinesAndWhatItReturnsIsSentLineByLine)
{
    std::string seenName;
    WideString seen;
    Client->OnBeforeExecute = [&](const std::string& MethodName, WideString& Request) {
        seenName = MethodName;
        seen = Request;
        Request = u"a\rb\nc\r\n\r\nd";
    };
    EXPECT_EQ(SentBody(), "a\r\nb\r\nc\r\n\r\nd\r\n");
    EXPECT_EQ(seenName, "checkVat");
    EXPECT_TRUE(seen.starts_with(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SOAP-ENV:Envelope"));
    EXPECT_TRUE(seen.ends_with(u"</SOAP-ENV:Envelope>\r\n"));

    Client->OnBeforeExecute = [](const std::string&, WideString& Request) { Request = u"x\r\n"; };
    EXPECT_EQ(SentBody(), "x\r\n");
}

TEST_F(THTTPRIO2Test, ReadsTheAnswerIntoCheckVatResponse)
{
    const checkVatResponse response = Port->checkVat({"EL", "094014201"});
    EXPECT_EQ(response.countryCode, u"EL");
    EXPECT_EQ(response.vatNumber, u"094014201");
    EXPECT_EQ(response.requestDate, u"2024-11-11+01:00");
    EXPECT_TRUE(response.valid);
    EXPECT_EQ(response.name, u"ΕΜΠΟΡΙΚΗ ΑΘΗΝΩΝ Α.Ε.");
    EXPECT_EQ(response.address, u"ΛΕΩΦΟΡΟΣ ΚΗΦΙΣΙΑΣ 10\n11526 ΑΘΗΝΑ");
}

} // namespace
} // namespace orvel
