// Confirmations against the local service's offline answers, through the real clients and the journal.

#include "confirm/Confirm.h"
#include "confirm/Journal.h"
#include "service/EvatrFront.h"
#include "service/Service.h"
#include "service/ViesFront.h"
#include "transport/HttpClient.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace orvel::service
