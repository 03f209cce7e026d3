#include "confirm/ConfirmQueue.h"
#include "confirm/Pacer.h"
#include "support/CrowdedVies.h"
#include "support/Environment.h"
#include "support/FixtureServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace orvel::confirm {
namespace {

using namespace std::chrono_literals;
using test::CrowdedVies;

// Steps on one country: 'E' a request enters, 'A' the oldest in flight is answered, 'R' it is refused, 'F' it fails
// without an answer; after the steps, the country's limit.
struct PaceCase
{
    const char* Label;
    std::string Steps;
    int Limit;
};

std::string Times(int n, const std::string& steps)
{
    std::string all;
    for (int i = 0; i < n; ++i)
        all += steps;
    return all;
}

TEST(Pacer, StartsSmallGrowsWithAnswersAndFallsBackOnRefusal)
{
    // To a limit of three, then three in flight and one of them refused.
    const std::string refusedAtThree = "EA"
                                       "EEAEA"
                                       "EAEER";
    const PaceCase cases[] = {
        {"starts with one", "", 1},
        {"one more after a round of answers", "EA", 2},
        {"a round is as many answers as the limit, each having gone with all the country may", "EAEEAEAEA", 3},
        {"a country that does not use its limit stays", "EAEAEAEA", 2},
        {"a refusal falls below what was in flight", refusedAtThree, 2},
        {"refused alone: stays at one", "ER", 1},
        {"no answer, no change", "EAEEFF", 2},
        // After the refusal, eight rounds of two answers before it tries three again.
        {"probing waits after a refusal", refusedAtThree + Times(15, "AE"), 2},
        {"and then tries one more", refusedAtThree + Times(16, "AE"), 3},
    };
    for (const PaceCase& c : cases) {
        Pacer pacer;
        std::vector<int> inFlight; // what Enter returned, oldest first
        for (const char step : c.Steps) {
            if (step == 'E') {
                ASSERT_TRUE(pacer.MayEnter("AT")) << c.Label;
                inFlight.push_back(pacer.Enter("AT"));
                continue;
            }
            ASSERT_FALSE(inFlight.empty()) << c.Label;
            if (step == 'A')
                pacer.Answered("AT", inFlight.front());
            else if (step == 'R')
                EXPECT_EQ(pacer.Refused("AT"), inFlight.size() > 1) << c.Label;
            else
                pacer.Failed("AT");
            inFlight.erase(inFlight.begin());
        }
        EXPECT_EQ(pacer.StateOf("AT").Limit, c.Limit) << c.Label;
        EXPECT_EQ(pacer.StateOf("AT").InFlight, int(inFlight.size())) << c.Label;
    }
}

class ConfirmQueueTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Folder = std::filesystem::temp_directory_path() / ("orvel-queue-" + std::to_string(::getpid()));
        std::filesystem::remove_all(Folder);
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    Request Asking(const std::string& id) const
    {
        Request request;
        request.ForeignId = id;
        request.OwnId = "DE136695976";
        request.Name = "Muster";
        request.City = "Wien";
        return request;
    }

    test::ScopedEnvironment NoProxy{"http_proxy", nullptr};
    std::filesystem::path Folder;
};

TEST_F(ConfirmQueueTest, EveryIdIsAnsweredOnceAndJournaledOnceWithinTheMemberStatesLimit)
{
    // Answers slow enough that a third request of a country overlaps the two before it, however slow the client.
    CrowdedVies vies(2, 100ms);
    Settings settings;
    settings.ViesUrl = vies.Url();
    std::vector<std::string> ids;
    for (int n = 0; n < 30; ++n)
        ids.push_back(std::string(n % 3 == 0 ? "FR" : n % 3 == 1 ? "ATU" : "NL") + std::to_string(10000000 + n));
    std::vector<std::shared_future<Answer>> answers;
    {
        ConfirmQueue queue((Folder / "journal.sqlite").string(), 16);
        for (const std::string& id : ids)
            answers.push_back(queue.Submit(Asking(id), settings));
        for (size_t i = 0; i < ids.size(); ++i) {
            const Answer& answer = answers[i].get();
            EXPECT_EQ(answer.Verdict, Status::Valid) << ids[i] << ": " << answer.Message;
            // Refused as one too many is no try of the id's.
            EXPECT_EQ(answer.Tries, 1) << ids[i];
            EXPECT_EQ(answer.RequestId, "WAPI" + ids[i].substr(2));
        }
        EXPECT_EQ(queue.Snapshot().Done, ids.size());
        EXPECT_EQ(queue.Snapshot().Refused, size_t(vies.Refused()));
    }
    // It grew to the limit and found it, and stayed below it after: a probe now and then, no crowd.
    EXPECT_GE(vies.Refused(), 1);
    EXPECT_LE(vies.Refused(), 6);
    const Journal journal((Folder / "journal.sqlite").string());
    std::map<std::string, int> journaled;
    for (const Record& record : journal.Read({}))
        ++journaled[record.ForeignId];
    EXPECT_EQ(journaled.size(), ids.size());
    for (const std::string& id : ids) {
        EXPECT_EQ(journaled[id], 1) << id;
        EXPECT_EQ(vies.Answered(id.substr(2)), 1) << id;
    }
    EXPECT_TRUE(journal.VerifyChain().Ok);
}

TEST_F(ConfirmQueueTest, ABusyBzstIsAskedWithFewerAtOnce)
{
    // One at a time; a second at once is told the service is busy (evatr-0011, HTTP 503).
    std::atomic<int> busy{0}, atOnce{0};
    test::FixtureServer bzst([&](const test::Request&) {
        test::Reply reply = test::Reply::Status("HTTP/1.1 503 Service Unavailable", R"({"status":"evatr-0011"})");
        if (++atOnce == 1) {
            std::this_thread::sleep_for(30ms);
            reply = test::Reply::Ok(R"({"id":"bz","status":"evatr-0000","ergFirmenname":"A","ergOrt":"A"})");
        } else {
            ++busy;
        }
        --atOnce;
        reply.Headers.push_back("Content-Type: application/json");
        return reply;
    });
    Settings settings;
    settings.BzstUrl = "http://" + bzst.HostPort() + "/bzst";
    settings.Retry = {3, 10s, 50ms};
    std::vector<std::shared_future<Answer>> answers;
    ConfirmQueue queue((Folder / "journal.sqlite").string(), 8);
    for (int n = 0; n < 12; ++n) {
        Request request = Asking("ATU" + std::to_string(10000000 + n));
        request.Via = Service::Bzst;
        answers.push_back(queue.Submit(request, settings));
    }
    for (const std::shared_future<Answer>& answer : answers)
        EXPECT_EQ(answer.get().Verdict, Status::Valid) << answer.get().Message;
    // Once to find the limit, once more when it tries one more after eight rounds.
    EXPECT_GE(busy.load(), 1);
    EXPECT_LE(busy.load(), 2);
}

TEST_F(ConfirmQueueTest, CancelDropsWhatWasNotSentAndKeepsWhatWas)
{
    CrowdedVies vies(1, 200ms);
    Settings settings;
    settings.ViesUrl = vies.Url();
    ConfirmQueue queue((Folder / "journal.sqlite").string(), 4);
    const std::shared_future<Answer> first = queue.Submit(Asking("ATU10000001"), settings);
    const std::shared_future<Answer> second = queue.Submit(Asking("ATU10000002"), settings);
    // Austria takes one at a time to begin with: the first is on its way, the second waits.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline &&
           (queue.Snapshot().Countries.empty() || queue.Snapshot().Countries[0].InFlight == 0))
        std::this_thread::sleep_for(5ms);
    queue.Cancel();
    EXPECT_EQ(first.get().Verdict, Status::Valid);
    EXPECT_GT(first.get().JournalId, 0);
    EXPECT_THROW(second.get(), Cancelled);
}

TEST_F(ConfirmQueueTest, WithoutAJournalNothingIsSent)
{
    CrowdedVies vies(1, 0ms);
    Settings settings;
    settings.ViesUrl = vies.Url();
    std::filesystem::create_directories(Folder);
    const std::string notAFolder = (Folder / "file").string();
    FILE* file = std::fopen(notAFolder.c_str(), "w");
    std::fclose(file);
    ConfirmQueue queue(notAFolder + "/journal.sqlite", 2);
    EXPECT_THROW(queue.Submit(Asking("ATU10000001"), settings).get(), JournalError);
    Request typed = Asking("ATU10000001");
    typed.CompanyType = "GmbH";
    EXPECT_THROW(queue.Submit(typed, settings), RequestRefused);
    EXPECT_EQ(vies.Answered("U10000001"), 0);
}

} // namespace
} // namespace orvel::confirm
