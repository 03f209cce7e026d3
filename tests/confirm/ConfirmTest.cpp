#include "confirm/Confirm.h"
#include "confirm/EvatrStatus.h"
#include "confirm/Journal.h"
#include "support/Environment.h"
#include "support/FixtureServer.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <mutex>

namespace orvel::confirm {
namespace {

using test::FixtureServer;
using test::Reply;

constexpr char kEnvelopeStart[] = "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Body>";
constexpr char kEnvelopeEnd[] = "</env:Body></env:Envelope>";

Reply ViesFault(const std::string& text)
{
    return Reply::Status("HTTP/1.1 500 Internal Server Error", std::string(kEnvelopeStart) +
                                                                   "<env:Fault><faultcode>env:Server</faultcode>"
                                                                   "<faultstring>" +
                                                                   text + "</faultstring></env:Fault>" + kEnvelopeEnd);
}

Reply ViesAnswer(bool valid)
{
    return Reply::Ok(std::string(kEnvelopeStart) +
                     "<ns2:checkVatApproxResponse xmlns:ns2=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\">"
                     "<ns2:countryCode>AT</ns2:countryCode><ns2:vatNumber>U12345678</ns2:vatNumber>"
                     "<ns2:requestDate>2026-12-10+01:00</ns2:requestDate><ns2:valid>" +
                     (valid ? "true" : "false") +
                     "</ns2:valid><ns2:traderName>Muster Handels GmbH</ns2:traderName>"
                     "<ns2:traderNameMatch>1</ns2:traderNameMatch><ns2:traderStreetMatch>2</ns2:traderStreetMatch>"
                     "<ns2:traderCityMatch>3</ns2:traderCityMatch>"
                     "<ns2:requestIdentifier>WAPIAAAAZKv1AbCd</ns2:requestIdentifier>"
                     "</ns2:checkVatApproxResponse>" +
                     kEnvelopeEnd);
}

Reply Evatr(const std::string& status, int http = 200)
{
    const std::string body = "{\"id\":\"8c1ab1e0-5d\",\"anfrageZeitpunkt\":\"2026-12-10T21:05:09.120Z\",\"status\":\"" +
                             status +
                             "\",\"gueltigAb\":\"2020-01-01\",\"ergFirmenname\":\"A\",\"ergStrasse\":\"B\","
                             "\"ergPlz\":\"C\",\"ergOrt\":\"D\"}";
    Reply reply = Reply::Status("HTTP/1.1 " + std::to_string(http) + " Status", body);
    reply.Headers.push_back("Content-Type: application/json");
    return reply;
}

// Answers with the scripted replies in turn; the last one stays.
class ScriptedServer
{
public:
    explicit ScriptedServer(std::vector<Reply> replies)
        : Replies(replies.begin(), replies.end()), Server([this](const test::Request&) { return Next(); })
    {
    }
    std::string Url(const char* path) const { return "http://" + Server.HostPort() + path; }
    std::vector<test::Request> Requests() const { return Server.Requests(); }

private:
    Reply Next()
    {
        std::lock_guard guard(Lock);
        Reply reply = Replies.front();
        if (Replies.size() > 1)
            Replies.pop_front();
        return reply;
    }

    std::mutex Lock;
    std::deque<Reply> Replies;
    FixtureServer Server; // last: its threads use the members above
};

class ConfirmTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Folder =
            std::filesystem::temp_directory_path() / ("orvel-confirm-" + std::to_string(::getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(Folder);
        Log = std::make_unique<Journal>((Folder / "journal.sqlite").string());
        Fast.Retry = {3, std::chrono::milliseconds(2000), std::chrono::milliseconds(20)};
    }
    void TearDown() override
    {
        Log.reset();
        std::filesystem::remove_all(Folder);
    }

    test::ScopedEnvironment NoProxy{"http_proxy", nullptr};
    std::filesystem::path Folder;
    std::unique_ptr<Journal> Log;
    Settings Fast;
};

TEST_F(ConfirmTest, ViesSendsTheRequesterAndReadsMatchesAndConsultationNumber)
{
    ScriptedServer vies({ViesAnswer(true)});
    Fast.ViesUrl = vies.Url("/vies");
    const Answer answer = Confirm(
        {"at u12345678", "DE 123456789", "Muster Handels GmbH", "", "Hauptstraße 1", "1010", "Wien"}, Fast, *Log);

    EXPECT_EQ(answer.Verdict, Status::Valid);
    EXPECT_EQ(answer.Message, "Die USt-IdNr. ist gültig.");
    EXPECT_EQ(answer.RequestId, "WAPIAAAAZKv1AbCd");
    EXPECT_EQ(answer.RequestTime, "2026-12-10+01:00");
    EXPECT_EQ(answer.Tries, 1);
    const std::vector<std::pair<std::string, std::string>> matches{{"Name", "1"}, {"Street", "2"}, {"City", "3"}};
    EXPECT_EQ(answer.Matches, matches);

    const std::string body = vies.Requests().at(0).Body;
    for (const char* element :
         {"<countryCode>AT</countryCode>", "<vatNumber>U12345678</vatNumber>", "<traderName>Muster Handels GmbH",
          "<traderStreet>Hauptstraße 1</traderStreet>", "<traderPostcode>1010</traderPostcode>",
          "<requesterCountryCode>DE</requesterCountryCode>", "<requesterVatNumber>123456789</requesterVatNumber>"})
        EXPECT_NE(body.find(element), std::string::npos) << element << "\n" << body;
    EXPECT_EQ(body.find("traderCompanyType"), std::string::npos) << "an empty company type is left out";

    const std::optional<Record> record = Log->Find(answer.JournalId);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->ForeignId, "ATU12345678");
    EXPECT_EQ(record->OwnId, "DE123456789");
    EXPECT_EQ(record->Status, "valid");
    EXPECT_EQ(record->Matches, "Name=1;Street=2;City=3");
    EXPECT_EQ(record->RequestId, "WAPIAAAAZKv1AbCd");
    EXPECT_EQ(record->Endpoint, Fast.ViesUrl);
    EXPECT_EQ(record->Raw, ViesAnswer(true).Body);
    EXPECT_EQ(record->RawSha256, Sha256Hex(record->Raw));
}

struct Case
{
    const char* Label;
    std::vector<Reply> Replies;
    Status Verdict;
    int Tries;
    const char* Message;
};

void RunCases(const std::vector<Case>& cases, Service via, Settings settings, Journal& journal)
{
    for (const Case& row : cases) {
        SCOPED_TRACE(row.Label);
        ScriptedServer server(row.Replies);
        (via == Service::Bzst ? settings.BzstUrl : settings.ViesUrl) = server.Url("/endpoint");
        const Answer answer =
            Confirm({"ATU12345678", "DE123456789", "Muster", "", "", "", "Wien", via}, settings, journal);
        EXPECT_EQ(StatusName(answer.Verdict), StatusName(row.Verdict));
        EXPECT_EQ(answer.Tries, row.Tries);
        EXPECT_EQ(int(server.Requests().size()), row.Tries);
        EXPECT_EQ(answer.Message, row.Message);
        EXPECT_EQ(journal.Find(answer.JournalId)->Status, StatusName(row.Verdict));
    }
}

TEST_F(ConfirmTest, ViesVerdictsTransientFaultsAndPersistentFaults)
{
    Reply closed;
    closed.Act = Reply::Action::Close;
    Reply stall;
    stall.Act = Reply::Action::Stall;
    const char* valid = "Die USt-IdNr. ist gültig.";
    std::vector<Case> cases{
        {"invalid", {ViesAnswer(false)}, Status::Invalid, 1, "Die USt-IdNr. ist nicht gültig."},
        {"persistent busy state",
         {ViesFault("MS_MAX_CONCURRENT_REQ")},
         Status::NotChecked,
         3,
         kNotCheckedMessage.data()},
        {"persistent transport failure", {closed}, Status::NotChecked, 3, kNotCheckedMessage.data()},
        {"refused input is no verdict",
         {ViesFault("INVALID_INPUT")},
         Status::NotChecked,
         1,
         "nicht geprüft – VIES weist die Anfrage ab: Länderkennzeichen, Nummer oder Angaben ungültig (INVALID_INPUT)"},
        {"a bad requester",
         {ViesFault("INVALID_REQUESTER_INFO")},
         Status::NotChecked,
         1,
         "nicht geprüft – VIES weist die Anfrage ab: die eigene USt-IdNr. ist ungültig (INVALID_REQUESTER_INFO)"},
        {"a blocked id",
         {ViesFault("VAT_BLOCKED")},
         Status::NotChecked,
         1,
         "nicht geprüft – VIES weist die Anfrage ab: die USt-IdNr. ist für Abfragen gesperrt (VAT_BLOCKED)"},
        {"an unknown fault is final and keeps its text",
         {ViesFault("Something else")},
         Status::NotChecked,
         1,
         "nicht geprüft – VIES weist die Anfrage ab: Something else"},
        {"HTTP 503",
         {Reply::Status("HTTP/1.1 503 Service Unavailable", "busy"), ViesAnswer(true)},
         Status::Valid,
         2,
         valid},
        {"connection closed", {closed, ViesAnswer(true)}, Status::Valid, 2, valid},
        {"a silent service holds no try beyond the time for all",
         {stall},
         Status::NotChecked,
         1,
         kNotCheckedMessage.data()},
    };
    // Matched by the code they carry, "_TIME" forms and the older WSDL's SERVER_BUSY among them.
    for (const char* fault :
         {"MS_UNAVAILABLE", "MS_MAX_CONCURRENT_REQ", "GLOBAL_MAX_CONCURRENT_REQ", "SERVICE_UNAVAILABLE", "TIMEOUT",
          "MS_MAX_CONCURRENT_REQ_TIME", "GLOBAL_MAX_CONCURRENT_REQ_TIME", "SERVER_BUSY", " soap:Server: TIMEOUT\n"})
        cases.push_back({fault, {ViesFault(fault), ViesAnswer(true)}, Status::Valid, 2, valid});
    RunCases(cases, Service::Vies, Fast, *Log);
}

TEST_F(ConfirmTest, BzstVerdictsTransientStatusesAndPersistentStatuses)
{
    const char* valid = "Die angefragte USt-IdNr. ist zum Anfragezeitpunkt gültig.";
    std::vector<Case> cases{
        {"not given",
         {Evatr("evatr-2001", 404)},
         Status::Invalid,
         1,
         "Die angefragte USt-IdNr. ist zum Anfragezeitpunkt nicht vergeben."},
        {"own id wrong: the foreign id stays unchecked",
         {Evatr("evatr-0004", 400)},
         Status::NotChecked,
         1,
         "Die anfragende DE USt-IdNr. ist syntaktisch falsch. Sie passt nicht in das deutsche Erzeugungsschema."},
        {"persistent 0011", {Evatr("evatr-0011", 503)}, Status::NotChecked, 3, kNotCheckedMessage.data()},
        {"gateway page without JSON",
         {Reply::Status("HTTP/1.1 502 Bad Gateway", "<html/>"), Evatr("evatr-0000")},
         Status::Valid,
         2,
         valid},
    };
    std::vector<std::string> transient;
    for (const EvatrStatus& status : EvatrStatuses())
        if (IsTransient(status)) {
            transient.push_back(status.Code);
            cases.push_back(
                {status.Code.c_str(), {Evatr(status.Code, status.Http), Evatr("evatr-0000")}, Status::Valid, 2, valid});
        }
    const std::vector<std::string> expected{"evatr-0011", "evatr-0013", "evatr-1001", "evatr-1002", "evatr-1003",
                                            "evatr-1004", "evatr-2004", "evatr-2011", "evatr-3011"};
    EXPECT_EQ(transient, expected);
    RunCases(cases, Service::Bzst, Fast, *Log);
}

TEST_F(ConfirmTest, BzstSendsJsonAndReadsIdValidityAndMatches)
{
    ScriptedServer bzst({Evatr("evatr-0000")});
    Fast.BzstUrl = bzst.Url("/app/v1/abfrage");
    const Answer answer = Confirm(
        {"ATU12345678", "DE123456789", "Muster \"Handels\" GmbH", "", "Hauptstraße 1", "1010", "Wien", Service::Bzst},
        Fast, *Log);
    EXPECT_EQ(answer.Verdict, Status::Valid);
    EXPECT_EQ(answer.RequestId, "8c1ab1e0-5d");
    EXPECT_EQ(answer.RequestTime, "2026-12-10T21:05:09.120Z");
    EXPECT_EQ(answer.ValidFrom, "2020-01-01");
    const std::vector<std::pair<std::string, std::string>> matches{
        {"Name", "A"}, {"Street", "B"}, {"Zip", "C"}, {"City", "D"}};
    EXPECT_EQ(answer.Matches, matches);
    const test::Request sent = bzst.Requests().at(0);
    EXPECT_EQ(sent.RequestLine, "POST /app/v1/abfrage HTTP/1.1");
    EXPECT_EQ(sent.Headers.at("content-type"), "application/json");
    EXPECT_EQ(sent.Body, "{\"anfragendeUstid\":\"DE123456789\",\"angefragteUstid\":\"ATU12345678\","
                         "\"firmenname\":\"Muster \\\"Handels\\\" GmbH\",\"ort\":\"Wien\",\"plz\":\"1010\","
                         "\"strasse\":\"Hauptstraße 1\"}");
}

TEST_F(ConfirmTest, BzstIsNotAskedForAGermanId)
{
    ScriptedServer bzst({Evatr("evatr-0000")});
    Fast.BzstUrl = bzst.Url("/app/v1/abfrage");
    const Answer answer = Confirm({"de 987654321", "DE123456789", "", "", "", "", "", Service::Bzst}, Fast, *Log);
    EXPECT_EQ(answer.Verdict, Status::NotChecked);
    EXPECT_EQ(answer.Tries, 0);
    EXPECT_NE(answer.Message.find("bitte über VIES prüfen"), std::string::npos) << answer.Message;
    EXPECT_TRUE(bzst.Requests().empty());
    EXPECT_EQ(Log->Find(answer.JournalId)->ForeignId, "DE987654321");
}

TEST_F(ConfirmTest, RetriesStopWhenTheTimeIsUp)
{
    ScriptedServer vies({ViesFault("MS_UNAVAILABLE")});
    Fast.ViesUrl = vies.Url("/vies");
    Fast.Retry = {50, std::chrono::milliseconds(300), std::chrono::milliseconds(100)};
    const Answer answer = Confirm({"ATU12345678", "DE123456789", "", "", "", "", ""}, Fast, *Log);
    EXPECT_EQ(answer.Verdict, Status::NotChecked);
    EXPECT_EQ(answer.Fault, "VIES: der Dienst des Mitgliedstaats ist zurzeit nicht verfügbar (MS_UNAVAILABLE)");
    EXPECT_GT(answer.Tries, 1);
    EXPECT_LT(answer.Tries, 50);
}

TEST_F(ConfirmTest, IdsAreNormalisedAsTheServicesTakeThem)
{
    const std::pair<const char*, const char*> cases[] = {
        {"at u 123.456-78", "ATU12345678"}, {"DE/136_695,976", "DE136695976"},
        {"gr 123456789", "EL123456789"},    {"EL123456789", "EL123456789"},
        {"xi 123 4567 89", "XI123456789"},  {"DE\u00a0136\u202f695976", "DE136695976"},
        {"ATU12345678ä", "ATU12345678ä"},
    };
    for (const auto& [typed, sent] : cases)
        EXPECT_EQ(NormalizeId(typed), sent) << typed;
}

TEST_F(ConfirmTest, CompanyTypeHasVatsForm)
{
    for (const char* good : {"DE-1", "AT-12", "EL-99"})
        EXPECT_TRUE(IsCompanyType(good)) << good;
    for (const char* bad : {"", "de-1", "DE-0", "DE-100", "DE1", "D-1", "DE-1 ", "DE-01"})
        EXPECT_FALSE(IsCompanyType(bad)) << bad;

    // Refused before anything is sent or written.
    ScriptedServer vies({ViesAnswer(true)});
    Fast.ViesUrl = vies.Url("/vies");
    EXPECT_THROW(Confirm({"ATU12345678", "DE123456789", "Muster", "GmbH", "", "", "Wien"}, Fast, *Log), RequestRefused);
    EXPECT_TRUE(vies.Requests().empty());
    EXPECT_TRUE(Log->Read({}).empty());
}

Reply EvatrPlain(const std::string& status, int http)
{
    Reply reply =
        Reply::Status("HTTP/1.1 " + std::to_string(http) + " Status",
                      "{\"id\":\"x\",\"anfrageZeitpunkt\":\"2026-12-10T21:05:09.120Z\",\"status\":\"" + status + "\"}");
    reply.Headers.push_back("Content-Type: application/json");
    return reply;
}

TEST_F(ConfirmTest, OnlyANamedAndPlacedValidAnswerIsQualified)
{
    const std::string simple = "Einfache Bestätigungsanfrage: ohne Firmenname und Ort keine qualifizierte Bestätigung.";
    struct Row
    {
        const char* Label;
        Service Via;
        Reply Answer;
        const char* City;
        bool Qualified;
        bool SaysSimple;
    };
    const Row rows[] = {
        {"VIES, name and place", Service::Vies, ViesAnswer(true), "Wien", true, false},
        {"VIES, no place: the simple question", Service::Vies, ViesAnswer(true), "", false, true},
        {"BZSt 0000, name and place", Service::Bzst, EvatrPlain("evatr-0000", 200), "Wien", true, false},
        {"BZSt 0000, no place: the simple question", Service::Bzst, EvatrPlain("evatr-0000", 200), "", false, true},
        {"BZSt 0003", Service::Bzst, EvatrPlain("evatr-0003", 400), "Wien", false, false},
        {"BZSt 2008", Service::Bzst, EvatrPlain("evatr-2008", 200), "Wien", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Label);
        ScriptedServer server({row.Answer});
        Settings settings = Fast;
        (row.Via == Service::Bzst ? settings.BzstUrl : settings.ViesUrl) = server.Url("/endpoint");
        const Answer answer = Confirm(
            {"ATU12345678", "DE123456789", "Muster", "", "Hauptstraße 1", "", row.City, row.Via}, settings, *Log);
        EXPECT_EQ(answer.Verdict, Status::Valid);
        EXPECT_EQ(answer.Qualified, row.Qualified);
        EXPECT_EQ(answer.Message.ends_with(simple), row.SaysSimple) << answer.Message;
        EXPECT_EQ(Log->Find(answer.JournalId)->Qualified, row.Qualified);
        // The simple question names no trader fields at all.
        const std::string body = server.Requests().at(0).Body;
        const auto fields = row.Via == Service::Vies ? std::vector<const char*>{"traderName", "traderStreet"}
                                                     : std::vector<const char*>{"firmenname", "strasse"};
        for (const char* field : fields)
            EXPECT_EQ(body.find(field) == std::string::npos, row.SaysSimple) << field << "\n" << body;
    }
}

TEST_F(ConfirmTest, MatchCodesTheServiceDoesNotHaveMakeABrokenAnswer)
{
    const auto vies = [](const std::string& code) {
        return Reply::Ok(
            std::string(kEnvelopeStart) +
            "<ns2:checkVatApproxResponse xmlns:ns2=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\">"
            "<ns2:valid>true</ns2:valid><ns2:traderNameMatch>" +
            code +
            "</ns2:traderNameMatch><ns2:requestIdentifier>W1</ns2:requestIdentifier>"
            "</ns2:checkVatApproxResponse>" +
            kEnvelopeEnd);
    };
    Reply bzst =
        Reply::Status("HTTP/1.1 200 OK", R"({"id":"x","status":"evatr-0000","ergFirmenname":"B;Street=A;City=A"})");
    const std::tuple<const char*, Service, Reply> rows[] = {
        {"VIES code 4", Service::Vies, vies("4")},
        {"VIES codes smuggled in", Service::Vies, vies("2;Street=1")},
        {"BZSt codes smuggled in", Service::Bzst, bzst},
    };
    for (const auto& [label, via, reply] : rows) {
        SCOPED_TRACE(label);
        ScriptedServer server({reply});
        Settings settings = Fast;
        (via == Service::Bzst ? settings.BzstUrl : settings.ViesUrl) = server.Url("/endpoint");
        const Answer answer =
            Confirm({"ATU12345678", "DE123456789", "Muster", "", "", "", "Wien", via}, settings, *Log);
        EXPECT_EQ(answer.Verdict, Status::NotChecked);
        EXPECT_TRUE(answer.Matches.empty());
        EXPECT_NE(answer.Message.find("fehlerhaft"), std::string::npos) << answer.Message;
        EXPECT_EQ(Log->Find(answer.JournalId)->Matches, "");
    }
}

} // namespace
} // namespace orvel::confirm
