// Confirmations against the local service's offline answers, through the real clients and the journal.

#include "confirm/Confirm.h"
#include "confirm/EvatrStatus.h"
#include "confirm/Journal.h"
#include "service/EvatrFront.h"
#include "service/Service.h"
#include "service/ViesFront.h"
#include "transport/HttpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include <unistd.h>

namespace orvel::service {
namespace {

using confirm::Service;
using confirm::Status;

std::unique_ptr<service::Service> Start(unsigned busyAnswers)
{
    ServiceConfig config;
    config.Listen = {"127.0.0.1:0"};
    config.BankFile = "/usr/share/ktoblzcheck/blz_20200420.txt";
    config.BusyAnswers = busyAnswers;
    return std::make_unique<service::Service>(config);
}

class ConfirmService : public testing::Test
{
protected:
    void SetUp() override
    {
        Folder = std::filesystem::temp_directory_path() / ("orvel-confirm-service-" + std::to_string(::getpid()));
        std::filesystem::remove_all(Folder);
        Log = std::make_unique<confirm::Journal>((Folder / "journal.sqlite").string());
    }
    void TearDown() override
    {
        Log.reset();
        std::filesystem::remove_all(Folder);
    }

    confirm::Settings For(const service::Service& running) const
    {
        const std::string base = "http://127.0.0.1:" + std::to_string(running.Ports().at(0));
        confirm::Settings settings;
        settings.ViesUrl = base + kViesPath;
        settings.BzstUrl = base + kEvatrRequestPath;
        settings.Retry = {3, std::chrono::milliseconds(2000), std::chrono::milliseconds(20)};
        return settings;
    }

    std::filesystem::path Folder;
    std::unique_ptr<confirm::Journal> Log;
};

TEST_F(ConfirmService, AnswersBothServicesWithoutClaimingAMatch)
{
    const auto running = Start(0);
    struct Row
    {
        const char* Label;
        confirm::Request Asked;
        Status Verdict;
        std::vector<std::pair<std::string, std::string>> Matches;
    };
    const std::vector<std::pair<std::string, std::string>> viesMatches{{"Name", "3"}, {"City", "3"}};
    const std::vector<std::pair<std::string, std::string>> bzstMatches{
        {"Name", "D"}, {"Street", "C"}, {"Zip", "C"}, {"City", "D"}};
    const std::vector<Row> rows{
        {"VIES valid",
         {"ATU13585627", "DE136695976", "Muster", "", "", "", "Wien", Service::Vies},
         Status::Valid,
         viesMatches},
        {"VIES invalid check digit",
         {"ATU13585628", "DE136695976", "Muster", "", "", "", "Wien", Service::Vies},
         Status::Invalid,
         viesMatches},
        {"BZSt valid",
         {"ATU13585627", "DE136695976", "Muster", "", "", "", "Wien", Service::Bzst},
         Status::Valid,
         bzstMatches},
        {"BZSt invalid check digit",
         {"ATU13585628", "DE136695976", "Muster", "", "", "", "Wien", Service::Bzst},
         Status::Invalid,
         {}},
        {"BZSt German id", {"DE136695976", "DE136695976", "", "", "", "", "", Service::Bzst}, Status::NotChecked, {}},
    };
    std::vector<std::string> ids;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Label);
        const confirm::Answer answer = confirm::Confirm(row.Asked, For(*running), *Log);
        EXPECT_EQ(confirm::StatusName(answer.Verdict), confirm::StatusName(row.Verdict)) << answer.Message;
        EXPECT_EQ(answer.Matches, row.Matches);
        if (answer.Tries > 0) {
            EXPECT_EQ(answer.Tries, 1);
            EXPECT_FALSE(answer.RequestId.empty());
            ids.push_back(answer.RequestId);
        }
    }
    EXPECT_EQ(ids.size(), 4u);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end()) << "every answer has an id of its own";
}

TEST_F(ConfirmService, BusyAnswersAreRetriedAndPersistentOnesLeaveTheIdUnchecked)
{
    for (const Service via : {Service::Vies, Service::Bzst}) {
        SCOPED_TRACE(std::string(confirm::ServiceName(via)));
        const confirm::Request asked{"ATU13585627", "DE136695976", "", "", "", "", "", via};
        {
            const auto once = Start(1);
            const confirm::Answer answer = confirm::Confirm(asked, For(*once), *Log);
            EXPECT_EQ(answer.Verdict, Status::Valid) << answer.Message;
            EXPECT_EQ(answer.Tries, 2);
        }
        const auto always = Start(1000);
        const confirm::Answer answer = confirm::Confirm(asked, For(*always), *Log);
        EXPECT_EQ(answer.Verdict, Status::NotChecked);
        EXPECT_EQ(answer.Message, confirm::kNotCheckedMessage);
        EXPECT_EQ(answer.Tries, 3);
        EXPECT_EQ(Log->Find(answer.JournalId)->Status, "not-checked");
    }
}

TEST_F(ConfirmService, ListsTheEvatrStatusesAndSaysItConfirmsNothing)
{
    const auto running = Start(0);
    HttpClient http;
    const std::string base = "http://127.0.0.1:" + std::to_string(running->Ports().at(0));
    const std::string statuses = http.Get(base + kEvatrStatusPath);
    EXPECT_NE(statuses.find(R"("status":"evatr-0011")"), std::string::npos) << statuses.substr(0, 300);
    EXPECT_NE(statuses.find("Bitte versuchen Sie es später noch einmal."), std::string::npos);
    const std::string page = http.Get(base + "/");
    EXPECT_NE(page.find("keine Bestätigung durch eine Behörde"), std::string::npos);
}

TEST_F(ConfirmService, EveryEvatrStatusIsReachableByItsTestIdWithItsHttpStatus)
{
    const auto running = Start(0);
    const std::string url = For(*running).BzstUrl;
    for (const confirm::EvatrStatus& status : confirm::EvatrStatuses()) {
        SCOPED_TRACE(status.Code);
        HttpClient http;
        const HttpReply reply = http.Post(
            url, R"({"anfragendeUstid":"DE136695976","angefragteUstid":"ATTEST)" + status.Code.substr(6) + R"("})",
            {"Content-Type: application/json"});
        EXPECT_NE(reply.Body.find(R"("status":")" + status.Code + "\""), std::string::npos) << reply.Body;
        EXPECT_EQ(reply.Status, status.Http ? status.Http : 200);
    }
    HttpClient http;
    const std::string base = url.substr(0, url.find(kEvatrRequestPath));
    const std::string statuses = http.Get(base + kEvatrStatusPath);
    for (const char* category : {R"("kategorie":"Ergebnis")", R"("kategorie":"Hinweis")", R"("kategorie":"Fehler")"})
        EXPECT_NE(statuses.find(category), std::string::npos) << category;
    EXPECT_EQ(statuses.find(R"("kategorie":"Error")"), std::string::npos);
    const std::string states = http.Get(base + kEvatrMemberStatesPath);
    EXPECT_NE(states.find(R"({"alpha2":"EL","name":"Griechenland","verfuegbar":true})"), std::string::npos) << states;
    EXPECT_EQ(std::count(states.begin(), states.end(), '{'), 28);
}

// The stand-ins answer as the services do, so that the clients' reading of each answer can be tried against them.
TEST_F(ConfirmService, TestIdsReachEveryKindOfAnswer)
{
    const auto running = Start(0);
    struct Row
    {
        const char* Label;
        confirm::Request Asked;
        Status Verdict;
        bool Qualified;
        int Tries;
        const char* Says; // in the message or the last fault
    };
    const Row rows[] = {
        {"VIES 100", {"AT100", "DE136695976", "Muster", "", "", "", "Wien"}, Status::Valid, true, 1, "gültig"},
        {"VIES 200", {"AT200", "DE136695976", "Muster", "", "", "", "Wien"}, Status::Invalid, false, 1, "nicht gültig"},
        {"VIES 202",
         {"AT202", "DE136695976", "", "", "", "", ""},
         Status::NotChecked,
         false,
         1,
         "(INVALID_REQUESTER_INFO)"},
        {"VIES 400", {"AT400", "DE136695976", "", "", "", "", ""}, Status::NotChecked, false, 1, "(VAT_BLOCKED)"},
        {"VIES 501",
         {"AT501", "DE136695976", "", "", "", "", ""},
         Status::NotChecked,
         false,
         3,
         "(GLOBAL_MAX_CONCURRENT_REQ_TIME)"},
        {"VIES 603", {"AT603", "DE136695976", "", "", "", "", ""}, Status::NotChecked, false, 3, "(SERVER_BUSY)"},
        {"VIES bad requester",
         {"ATU13585627", "DE136695977", "", "", "", "", ""},
         Status::NotChecked,
         false,
         1,
         "INVALID_REQUESTER_INFO"},
        {"BZSt 0000",
         {"ATTEST0000", "DE136695976", "Muster", "", "", "", "Wien", Service::Bzst},
         Status::Valid,
         true,
         1,
         "gültig"},
        {"BZSt 0003",
         {"ATTEST0003", "DE136695976", "Muster", "", "", "", "Wien", Service::Bzst},
         Status::Valid,
         false,
         1,
         "Pflichtfelder für eine qualifizierte"},
        {"BZSt 2008",
         {"ATTEST2008", "DE136695976", "Muster", "", "", "", "Wien", Service::Bzst},
         Status::Valid,
         false,
         1,
         "Besonderheit"},
        {"BZSt 2006",
         {"ATTEST2006", "DE136695976", "", "", "", "", "", Service::Bzst},
         Status::Invalid,
         false,
         1,
         "gueltigBis"},
        {"BZSt 0008",
         {"ATTEST0008", "DE136695976", "", "", "", "", "", Service::Bzst},
         Status::NotChecked,
         false,
         1,
         "maximale Anzahl"},
        {"BZSt 1001",
         {"ATTEST1001", "DE136695976", "", "", "", "", "", Service::Bzst},
         Status::NotChecked,
         false,
         3,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Label);
        const confirm::Answer answer = confirm::Confirm(row.Asked, For(*running), *Log);
        EXPECT_EQ(confirm::StatusName(answer.Verdict), confirm::StatusName(row.Verdict)) << answer.Message;
        EXPECT_EQ(answer.Qualified, row.Qualified);
        EXPECT_EQ(answer.Tries, row.Tries);
        EXPECT_NE((answer.Message + answer.Fault).find(row.Says), std::string::npos)
            << answer.Message << " / " << answer.Fault;
    }

    // A company type out of form, as another client might send it.
    HttpClient http;
    const HttpReply reply = http.Post(
        For(*running).ViesUrl,
        R"(<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>)"
        R"(<checkVatApprox xmlns="urn:ec.europa.eu:taxud:vies:services:checkVat:types"><countryCode>AT</countryCode>)"
        R"(<vatNumber>U13585627</vatNumber><traderCompanyType>GmbH</traderCompanyType></checkVatApprox>)"
        R"(</soap:Body></soap:Envelope>)",
        {"Content-Type: text/xml"});
    EXPECT_NE(reply.Body.find("<faultstring>INVALID_INPUT</faultstring>"), std::string::npos) << reply.Body;
}

} // namespace
} // namespace orvel::service
