// Logins with a users file: remembered until the file changes, throttled after bursts of failures, and asked for
// by other machines on the paths whose protocol carries no user.

#include "rules/PostalData.h"
#include "service/Access.h"
#include "service/EvatrFront.h"
#include "service/StartPage.h"
#include "service/Status.h"
#include "service/TarvikFront.h"
#include "service/Users.h"
#include "service/ViesFront.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

namespace orvel::service {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::steady_clock::time_point;

constexpr const char* kDebianDirectory = "/usr/share/ktoblzcheck/blz_20200420.txt";

class UsersFolder
{
public:
    UsersFolder()
        : Folder(std::filesystem::temp_directory_path() /
                 ("orvel-login-" + std::to_string(getpid()) + "-" + std::to_string(Made++)))
    {
        std::filesystem::create_directories(Folder);
    }
    ~UsersFolder() { std::filesystem::remove_all(Folder); }

    // Writes "user:hash" lines for the passwords; the path.
    std::string Write(const std::map<std::string, std::string>& passwords) const
    {
        std::ofstream out(Path());
        for (const auto& [user, password] : passwords)
            out << user << ":" << Users::HashPassword(password) << "\n";
        return Path();
    }
    std::string Path() const { return (Folder / "users").string(); }

private:
    static inline int Made = 0;
    std::filesystem::path Folder;
};

TEST(LoginCache, ARememberedLoginAnswersAsBeforeUntilTheFileChanges)
{
    const UsersFolder folder;
    Users users = Users::Load(folder.Write({{"demo", "wexo"}, {"anna", "birne"}}));
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(users.Admit("demo", "wexo", false, "192.0.2.1"), Users::kAdmitted) << round;
        EXPECT_EQ(users.Admit("anna", "wexo", false, "192.0.2.1"), Users::kDenied) << round;
    }
    // The same users and hashes written again: nothing to forget.
    const std::string unchanged = [&] {
        std::ifstream in(folder.Path());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    std::ofstream(folder.Path()) << unchanged;
    EXPECT_FALSE(users.Reload());

    folder.Write({{"demo", "neu"}, {"anna", "birne"}});
    EXPECT_TRUE(users.Reload());
    EXPECT_EQ(users.Admit("demo", "wexo", false, "192.0.2.2"), Users::kDenied);
    EXPECT_EQ(users.Admit("demo", "neu", false, "192.0.2.2"), Users::kAdmitted);
    EXPECT_EQ(users.Admit("anna", "birne", false, "192.0.2.2"), Users::kAdmitted);

    // A broken file keeps the users in force.
    std::ofstream(folder.Path()) << "demo plain\n";
    EXPECT_THROW(users.Reload(), std::runtime_error);
    EXPECT_EQ(users.Admit("demo", "neu", false, "192.0.2.2"), Users::kAdmitted);
}

TEST(LoginCache, AReloadWhileLoginsRunLeavesNoOldPasswordBehind)
{
    const UsersFolder folder;
    // The same password under two salts: each reload is a change that forgets, so the clients keep verifying.
    const std::string hashes[] = {"demo:" + Users::HashPassword("alt") + "\n",
                                  "demo:" + Users::HashPassword("alt") + "\n"};
    std::ofstream(folder.Path()) << hashes[0];
    Users users = Users::Load(folder.Path());
    std::atomic<bool> stop = false;
    std::vector<std::thread> clients;
    for (int i = 0; i < 2; ++i)
        clients.emplace_back([&users, &stop, i] {
            while (!stop)
                users.Admit("demo", "alt", true, "127.0.0." + std::to_string(i + 1));
        });
    for (int i = 1; i <= 20; ++i) {
        std::this_thread::sleep_for(3ms);
        std::ofstream(folder.Path()) << hashes[i % 2];
        ASSERT_TRUE(users.Reload());
    }
    folder.Write({{"demo", "neu"}});
    EXPECT_TRUE(users.Reload());
    stop = true;
    for (std::thread& client : clients)
        client.join();
    // Whatever the clients verified against the old file while it was swapped, none of it is remembered now.
    EXPECT_EQ(users.Admit("demo", "alt", true, "127.0.0.9"), Users::kDenied);
    EXPECT_EQ(users.Admit("demo", "neu", true, "127.0.0.9"), Users::kAdmitted);
}

class LoginThrottling : public testing::Test
{
protected:
    LoginThrottling()
        : Accounts(Users::Load(Folder.Write({{"demo", "wexo"}, {"anna", "birne"}}), [this] { return Now; }))
    {
    }

    // Fails kFailures times for the user from the client.
    void Burst(const char* user, const char* client)
    {
        for (int i = 0; i < LoginThrottle::kFailures; ++i)
            ASSERT_EQ(Accounts.Admit(user, "falsch", false, client), Users::kDenied);
    }

    UsersFolder Folder;
    Time Now = Time() + 1000h;
    Users Accounts;
};

TEST_F(LoginThrottling, ABurstOfFailuresLocksOutUserAndAddressEvenWithTheRightPassword)
{
    ASSERT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.50"), Users::kAdmitted);
    testing::internal::CaptureStderr();
    Burst("demo", "192.0.2.1");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.1"), Users::kDenied);
    const std::string log = testing::internal::GetCapturedStderr();

    struct Case
    {
        const char* User;
        const char* Password;
        const char* Client;
        int32_t Expected;
    };
    const Case cases[] = {
        {"demo", "wexo", "192.0.2.99", Users::kDenied},    // the user name is locked from everywhere
        {"anna", "birne", "192.0.2.1", Users::kDenied},    // and so is the address for every user
        {"anna", "birne", "192.0.2.99", Users::kAdmitted}, // another user from another address is not
        {"demo", "wexo", "192.0.2.50", Users::kAdmitted},  // nor an address that proved the password before
        {"demo", "wexe", "192.0.2.50", Users::kDenied},    // but it cannot guess there either
    };
    for (const Case& entry : cases)
        EXPECT_EQ(Accounts.Admit(entry.User, entry.Password, false, entry.Client), entry.Expected)
            << entry.User << " from " << entry.Client;

    // One line for the user and one for the address, however many attempts the lock-out refused.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find("5 failed logins within 60 s for user \"demo\": refused for 30 s"), std::string::npos) << log;
    EXPECT_NE(log.find("5 failed logins within 60 s from 192.0.2.1: refused for 30 s"), std::string::npos) << log;
}

TEST_F(LoginThrottling, TheLockOutEndsAfterItsTimeAndGrowsWithTheNextBurst)
{
    Burst("demo", "192.0.2.1");
    Now += LoginThrottle::kFirstLockout - 1s;
    EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.1"), Users::kDenied);
    Now += 1s;
    EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.1"), Users::kAdmitted);

    Burst("demo", "192.0.2.1");
    Now += LoginThrottle::kFirstLockout;
    EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.1"), Users::kDenied);
    Now += LoginThrottle::kFirstLockout;
    EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.1"), Users::kAdmitted);

    // After a quiet hour a burst is a first one again.
    Now += LoginThrottle::kMemory + 1s;
    Burst("demo", "192.0.2.1");
    Now += LoginThrottle::kFirstLockout;
    EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.1"), Users::kAdmitted);
}

TEST_F(LoginThrottling, FailuresSpreadBeyondTheWindowLockNothing)
{
    for (int round = 0; round < 3; ++round) {
        for (int i = 1; i < LoginThrottle::kFailures; ++i)
            EXPECT_EQ(Accounts.Admit("demo", "falsch", false, "192.0.2.1"), Users::kDenied);
        Now += LoginThrottle::kWindow + 1s;
    }
    EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.1"), Users::kAdmitted);
}

TEST_F(LoginThrottling, AnIpv6ClientCountsByItsNetwork)
{
    for (int i = 1; i <= LoginThrottle::kFailures; ++i)
        EXPECT_EQ(Accounts.Admit("user" + std::to_string(i), "x", false, "2001:db8::" + std::to_string(i)),
                  Users::kDenied);
    EXPECT_EQ(Accounts.Admit("anna", "birne", false, "2001:db8::ffff"), Users::kDenied);
    EXPECT_EQ(Accounts.Admit("anna", "birne", false, "2001:db8:0:1::1"), Users::kAdmitted);
}

TEST(LoginThrottleTable, ASprayOfNamesAndAddressesCannotFlushALockOut)
{
    Time now = Time() + 1000h;
    std::vector<std::string> lines;
    LoginThrottle throttle([&now] { return now; }, [&lines](const std::string& line) { lines.push_back(line); });
    const auto burst = [&throttle](const std::string& user, const std::string& client) {
        for (int i = 0; i < LoginThrottle::kFailures; ++i)
            throttle.Failed(user, client);
    };
    burst("demo", "192.0.2.1");
    // More failed names than the table holds, from more addresses than it holds, each address a few times.
    const size_t sprayed = LoginThrottle::kMaxRecords + 500;
    for (size_t n = 0; n < sprayed; ++n)
        throttle.Failed("name" + std::to_string(n), "10." + std::to_string(n / 65536) + "." +
                                                        std::to_string(n / 256 % 256) + "." + std::to_string(n % 256));
    now += 10s;
    EXPECT_EQ(throttle.Locked("demo", "198.51.100.7"), LoginThrottle::Lock::User);
    EXPECT_EQ(throttle.Locked("anna", "192.0.2.1"), LoginThrottle::Lock::Client);

    // The table is full: new addresses count together by their /24, and the next burst for demo lasts longer.
    for (int i = 1; i <= LoginThrottle::kFailures; ++i)
        throttle.Failed("guess" + std::to_string(i), "203.0.113." + std::to_string(i));
    EXPECT_EQ(throttle.Locked("anna", "203.0.113.200"), LoginThrottle::Lock::Client);
    EXPECT_EQ(throttle.Locked("anna", "203.0.114.1"), LoginThrottle::Lock::None);
    now += LoginThrottle::kFirstLockout;
    burst("demo", "192.0.2.1");
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("refused for 60 s"), std::string::npos) << lines.back();
}

TEST_F(LoginThrottling, OnThisMachineOnlyTheUserNameIsLockedOut)
{
    ASSERT_EQ(Accounts.Admit("demo", "wexo", true, "127.0.0.1"), Users::kAdmitted);
    for (int i = 0; i < LoginThrottle::kFailures; ++i)
        ASSERT_EQ(Accounts.Admit("demo", "falsch", true, "127.0.0.1"), Users::kDenied);
    struct Case
    {
        const char* User;
        const char* Password;
        int32_t Expected;
    };
    const Case cases[] = {
        {"demo", "wexo", Users::kAdmitted},  // a login proved on this machine before goes on
        {"anna", "birne", Users::kAdmitted}, // another user of another local program is not locked out
        {"demo", "wexe", Users::kDenied},    // guessing at the locked name stays refused
    };
    for (const Case& entry : cases)
        EXPECT_EQ(Accounts.Admit(entry.User, entry.Password, true, "127.0.0.1"), entry.Expected) << entry.User;
    // The user name is locked for other machines too; and another machine is still locked by its address.
    EXPECT_EQ(Accounts.Admit("demo", "wexo", false, "192.0.2.50"), Users::kDenied);
    Burst("mallory", "192.0.2.1");
    EXPECT_EQ(Accounts.Admit("anna", "birne", false, "192.0.2.1"), Users::kDenied);
}

// A request as the HTTP layer hands it on.
class FakeRequest : public HttpRequest
{
public:
    std::map<std::string, std::string, std::less<>> Headers;

    std::optional<std::string_view> Query(const char*) const override { return std::nullopt; }
    std::optional<std::string_view> Header(const char* name) const override
    {
        const auto found = Headers.find(std::string_view(name));
        return found == Headers.end() ? std::nullopt : std::optional<std::string_view>(found->second);
    }
};

TEST(BasicLogin, OnlyAWellFormedBasicHeaderWithTheRightPasswordAdmits)
{
    const UsersFolder folder;
    const Users users = Users::Load(folder.Write({{"demo", "wexo"}, {"anna", "pass:wort"}}));
    const std::pair<const char*, int32_t> cases[] = {
        {"Basic ZGVtbzp3ZXhv", Users::kAdmitted},         // demo:wexo
        {"basic   ZGVtbzp3ZXhv", Users::kAdmitted},       // the scheme in any case, blanks before the token
        {"Basic YW5uYTpwYXNzOndvcnQ=", Users::kAdmitted}, // anna:pass:wort, the password may hold a colon
        {"Basic ZGVtbzp3ZXhw", Users::kDenied},           // demo:wexp
        {"Basic ZGVtbw==", Users::kDenied},               // demo, no colon
        {"Basic ZGVtbzp3ZXhv=", Users::kDenied},          // not base64
        {"Basic ZGVt!zp3ZXhv", Users::kDenied},           // not base64
        {"Bearer ZGVtbzp3ZXhv", Users::kDenied},          // another scheme
        {"", Users::kDenied},
    };
    for (const auto& [header, expected] : cases) {
        FakeRequest request;
        request.Client = "192.0.2.7";
        request.Headers["Authorization"] = header;
        EXPECT_EQ(BasicAdmission(users, request), expected) << header;
    }
}

// The routes of a service with and without a users file, over the Debian bank directory and a small postal table.
class Reachability : public testing::Test
{
protected:
    Reachability()
        : Banks(kDebianDirectory), Postal(rules::PostalData::Parse("10115\tBerlin\n", "plz.tsv")),
          Accounts(Users::Load(Folder.Write({{"demo", "wexo"}})))
    {
        for (auto& [router, users] : {std::pair{&WithUsers, &Accounts}, std::pair{&WithoutUsers, &Everyone}}) {
            AddStartPage(*router, Banks, Postal, PostalFile, *users);
            AddStatus(*router, Banks, Postal, PostalFile, *users);
            AddVies(*router, *users, Busy);
            AddEvatr(*router, *users, Busy);
        }
    }

    UsersFolder Folder;
    BankData Banks;
    rules::PostalData Postal;
    std::string PostalFile = "/some/where/plz.tsv";
    Users Accounts, Everyone;
    BusySwitch Busy{0};
    Router WithUsers, WithoutUsers;
};

TEST_F(Reachability, OtherMachinesLogInForEveryPathButAMinimalStartPage)
{
    constexpr const char* kVies = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
                                  "<checkVat xmlns=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\">"
                                  "<countryCode>DE</countryCode><vatNumber>136695976</vatNumber></checkVat>"
                                  "</s:Body></s:Envelope>";
    constexpr const char* kEvatr = R"({"anfragendeUstid":"DE136695976","angefragteUstid":"ATU13585627"})";
    struct Path
    {
        const char* Path;
        const char* Method;
        const char* Body;
        const char* Answered; // in the whole answer
    };
    const Path paths[] = {
        {"/", "GET", "", "/some/where/plz.tsv"},
        {"/status", "GET", "", "\"bankCodes\""},
        {kViesPath, "POST", kVies, "<ns2:valid>true</ns2:valid>"},
        {kEvatrRequestPath, "POST", kEvatr, "evatr-0000"},
        {kEvatrStatusPath, "GET", "", "evatr-0000"},
    };
    // How a client is refused on each path, in the order above: the minimal start page, 401 asking for a login,
    // VIES's fault for a client it does not serve.
    const std::vector<std::pair<unsigned, const char*>> refusedWithUsers = {{200, "nur mit Benutzername und Passwort"},
                                                                            {401, "Anmeldung erforderlich"},
                                                                            {500, "IP_BLOCKED"},
                                                                            {401, "evatr-0007"},
                                                                            {401, "evatr-0007"}};
    const std::vector<std::pair<unsigned, const char*>> refusedWithoutUsers = {
        {200, "nur mit Benutzername und Passwort"},
        {403, "Nur von diesem Rechner"},
        {500, "IP_BLOCKED"},
        {403, "evatr-0007"},
        {403, "evatr-0007"}};
    struct Client
    {
        const char* Name;
        bool Loopback;
        const char* Address;
        const char* Authorization; // nullptr: none sent
        bool WithUsersFile;
        bool Answered;
    };
    const Client clients[] = {
        {"this machine", true, "127.0.0.1", nullptr, true, true},
        {"a second loopback address", true, "127.0.0.2", nullptr, true, true},
        {"this machine without a users file", true, "::1", nullptr, false, true},
        {"another machine with the right login", false, "192.0.2.7", "Basic ZGVtbzp3ZXhv", true, true},
        {"another machine without a login", false, "192.0.2.7", nullptr, true, false},
        {"another machine with a wrong login", false, "192.0.2.8", "Basic bWFsbG9yeTp3ZXhv", true, false},
        {"another machine without a users file", false, "192.0.2.7", "Basic ZGVtbzp3ZXhv", false, false},
    };
    for (const Client& client : clients)
        for (size_t i = 0; i < std::size(paths); ++i) {
            const Path& path = paths[i];
            FakeRequest request;
            request.Method = path.Method;
            request.Path = path.Path;
            request.Body = path.Body;
            request.Loopback = client.Loopback;
            request.Client = client.Address;
            if (client.Authorization)
                request.Headers["Authorization"] = client.Authorization;
            const Router& router = client.WithUsersFile ? WithUsers : WithoutUsers;
            const HttpResponse answer = (*router.Find(path.Path))(request);
            const auto& refused = client.WithUsersFile ? refusedWithUsers : refusedWithoutUsers;
            const unsigned status = client.Answered ? 200 : refused[i].first;
            const char* expected = client.Answered ? path.Answered : refused[i].second;
            EXPECT_EQ(answer.Status, status) << client.Name << " " << path.Path;
            EXPECT_NE(answer.Body.find(expected), std::string::npos) << client.Name << " " << path.Path << answer.Body;
            const auto challenge = std::find_if(answer.Headers.begin(), answer.Headers.end(),
                                                [](const auto& header) { return header.first == "WWW-Authenticate"; });
            const bool challenged = challenge != answer.Headers.end();
            EXPECT_EQ(challenged, answer.Status == 401) << client.Name << " " << path.Path;
            if (challenged) {
                EXPECT_EQ(challenge->second, "Basic realm=\"OrvelWddx\"");
            }
            if (!client.Answered) {
                EXPECT_EQ(answer.Body.find("plz.tsv"), std::string::npos) << client.Name << " " << path.Path;
            }
        }
}

} // namespace
} // namespace orvel::service
