// orvelwddx-check as a user runs it: a child process against the fixture servers, with its own settings folder.

#include "cli/Csv.h"
#include "support/FixtureServer.h"
#include "support/ViesServer.h"
#include "support/Wddx.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

namespace orvel::test {
namespace {

using namespace std::chrono_literals;

std::map<std::string, std::string> QueryOf(const std::string& Target)
{
    std::map<std::string, std::string> query;
    const size_t mark = Target.find('?');
    std::string rest = mark == std::string::npos ? "" : Target.substr(mark + 1);
    while (!rest.empty()) {
        const std::string pair = rest.substr(0, rest.find('&'));
        rest = pair.size() < rest.size() ? rest.substr(pair.size() + 1) : "";
        const size_t equals = pair.find('=');
        query[pair.substr(0, equals)] = equals == std::string::npos ? "" : pair.substr(equals + 1);
    }
    return query;
}

// The checking service as the tests want it: every answer follows from the query.
Reply Service(const Request& Req, std::chrono::milliseconds Delay)
{
    std::this_thread::sleep_for(Delay);
    const std::string target = Req.RequestLine.substr(4, Req.RequestLine.rfind(' ') - 4);
    auto q = QueryOf(target);
    if (target.starts_with("/address")) {
        if (q["func"] == "type")
            return Reply::Ok(WddxPacket({{"result", "103"}, {"resulttext", "Zustellbezirk"}}));
        if (!q["pof"].empty())
            return Reply::Ok(WddxPacketOf(WddxStringVar("result", "4") + WddxStringVar("resulttext", "Mehrere Orte") +
                                          WddxArrayVar("orte", {"K&#246;ln", "Bonn"})));
        return Reply::Ok(WddxPacket({{"result", "9"}, {"resulttext", "Adresse korrigiert"}, {"str46", "Hauptstr. 1"}}));
    }
    if (q.count("search"))
        return Reply::Ok(
            WddxPacketOf(WddxArrayVar("banken", q["search"] == "Nichts" ? std::vector<std::string>{}
                                                                        : std::vector<std::string>{"A|B", "C|D"}) +
                         WddxStringVar("resulttext",
                                       q["search"] == "Nichts" ? "0 Banken gefunden (Bankdaten vom 01.12.2024)" : "")));
    if (q.count("cc"))
        return Reply::Ok(WddxPacket({{"result", q["cc"] == "4111111111111111" ? "0" : "41"}, {"resulttext", "Karte"}}));
    if (q.count("bic") && !q.count("iban"))
        return Reply::Ok(WddxPacket({{"bicname", q["bic"] == "COBADEFFXXX" ? "Commerzbank"
                                                 : q["bic"] == "ABC"       ? "*BIC ung&uuml;ltig"
                                                                           : ""},
                                     {"bicsct", "1"},
                                     {"bicsdd", "1"},
                                     {"bicb2b", "0"}}));
    const std::string key = q.count("iban") ? q["iban"] : q["blz"];
    return Reply::Ok(WddxPacket({{"result", key.find("BAD") != std::string::npos ? "24" : "0"},
                                 {"resulttext", "Gepr\xFC"
                                                "ft"}, // the service answers in Windows-1252
                                 {"bankname", "Bank " + key},
                                 {"iban", key},
                                 {"bicname", "Name"}}));
}

struct Ran
{
    int Status = -1;
    std::string Out;
    std::string Err;
};

// The command as a child process, its standard streams in pipes.
class Child
{
public:
    Child(const std::vector<std::string>& Args, const std::map<std::string, std::string>& Env, const std::string& Input)
    {
        int in[2], out[2], err[2];
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
            throw std::runtime_error("pipe");
        Pid = fork();
        if (Pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
                close(fd);
            for (const auto& [name, value] : Env)
                setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(ORVELWDDX_CHECK)};
            for (const std::string& arg : Args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(ORVELWDDX_CHECK, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        Out = out[0];
        Err = err[0];
        // The input is small enough for the pipe, or read while we wait.
        Writer = std::thread([fd = in[1], Input] {
            size_t done = 0;
            while (done < Input.size()) {
                const ssize_t n = write(fd, Input.data() + done, Input.size() - done);
                if (n <= 0)
                    break;
                done += size_t(n);
            }
            close(fd);
        });
    }

    ~Child()
    {
        if (Pid > 0 && !Finished) {
            kill(Pid, SIGKILL);
            Wait();
        }
        Writer.join();
        close(Out);
        close(Err);
    }

    // Reads what comes until Enough says so or the streams end.
    void ReadUntil(const std::function<bool(const Ran&)>& Enough, std::chrono::seconds Limit = 60s)
    {
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        bool outOpen = true, errOpen = true;
        while ((outOpen || errOpen) && !(Enough && Enough(Result)) && std::chrono::steady_clock::now() < deadline) {
            pollfd fds[2] = {{Out, POLLIN, 0}, {Err, POLLIN, 0}};
            if (poll(fds, 2, 100) <= 0)
                continue;
            char buffer[65536];
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0)
                    (i == 0 ? outOpen : errOpen) = false;
                else
                    (i == 0 ? Result.Out : Result.Err).append(buffer, size_t(n));
            }
        }
    }

    void Signal(int Number) { kill(Pid, Number); }

    Ran Wait()
    {
        ReadUntil({});
        int status = 0;
        waitpid(Pid, &status, 0);
        Finished = true;
        Result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return Result;
    }

    const Ran& SoFar() const { return Result; }

private:
    pid_t Pid = -1;
    int Out = -1, Err = -1;
    std::thread Writer;
    Ran Result;
    bool Finished = false;
};

class CheckCommandTest : public ::testing::Test
{
protected:
    CheckCommandTest() : Server([this](const Request& r) { return Service(r, Delay.load()); })
    {
        Home = std::filesystem::temp_directory_path() / ("orvel-cli-" + std::to_string(getpid()));
        std::filesystem::create_directories(Home / "config");
    }
    ~CheckCommandTest() override { std::filesystem::remove_all(Home); }

    std::map<std::string, std::string> Env(std::map<std::string, std::string> Extra = {})
    {
        std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", (Home / "config").string()},
                                               {"ORVELWDDX_HOST", Server.HostPort()},
                                               {"ORVELWDDX_VIES_URL", Vies.Url()},
                                               {"ORVELWDDX_USER", ""},
                                               {"ORVELWDDX_PASS", ""}};
        for (auto& [name, value] : Extra)
            env[name] = value;
        return env;
    }

    Ran Run(const std::vector<std::string>& Args, std::map<std::string, std::string> Extra = {},
            const std::string& Input = {})
    {
        return Child(Args, Env(std::move(Extra)), Input).Wait();
    }

    void StoreWindowSettings(const std::string& Values)
    {
        std::filesystem::create_directories(Home / "config" / "OrvelWddx");
        std::ofstream(Home / "config" / "OrvelWddx" / "user.reg")
            << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Orvel\\OrvelWddx]\r\n"
            << Values;
    }

    std::atomic<std::chrono::milliseconds> Delay{0ms};
    std::filesystem::path Home;
    FixtureServer Server;
    ViesServer Vies;
};

TEST_F(CheckCommandTest, EachCommandPrintsItsPropertiesAndTellsByItsStatus)
{
    struct Case
    {
        std::vector<std::string> Args;
        int Status;
        std::string Output;  // a part of standard output
        std::string Request; // a part of the request the service saw; empty: none
    };
    const std::vector<Case> cases = {
        {{"iban", "DE89370400440532013000"},
         0,
         "Result: 0\nResulttext: Geprüft\nBankName: Bank DE89370400440532013000\nNewBlz: \nIban: "
         "DE89370400440532013000\nBic: \n",
         "iban=DE89370400440532013000&id=0&name="},
        {{"iban", "DE00BAD"}, 1, "Result: 24\n", "iban=DE00BAD"},
        {{"blz", "37040044", "532013000", "--land", "AT"},
         0,
         "BankName: Bank 37040044\n",
         "blz=37040044&kto=532013000&c=AT"},
        {{"iban-bic", "DE89", "COBADEFFXXX"}, 0, "BicName: Name\nBicSct: -300\n", "iban=DE89&bic=COBADEFFXXX"},
        {{"bic", "COBADEFFXXX"}, 0, "Result: 0\nResulttext: \nBicName: Commerzbank\nBicSct: 1\n", "bic=COBADEFFXXX"},
        {{"bic", "XXXXDEFFXXX"}, 1, "BicName: \n", "bic=XXXXDEFFXXX"},
        {{"bic", "ABC"}, 1, "BicName: *BIC ungültig\n", "bic=ABC"}, // a failed query, not a bank
        {{"card", "4111111111111111"},
         0,
         "Result: 0\nResulttext: Karte\nBankName: \nNewBlz: \n",
         "cc=4111111111111111"},
        {{"card", "4111111111111112"}, 1, "Result: 41\n", "cc=4111111111111112"},
        {{"search", "Köln", "Bank", "--fragments"},
         0,
         "Result: 2\nResulttext: \nBanken: A|B~C|D\n",
         "search=K%F6ln+Bank&c=DE&fragments=1"},
        {{"search", "Nichts"},
         1,
         "Result: 0\nResulttext: 0 Banken gefunden (Bankdaten vom 01.12.2024)\n",
         "search=Nichts"},
        {{"address", "50667", "Köln", "--street", "Hauptstr.", "--hnr", "1", "--rewrite", "2"},
         0,
         "Result: 9\nResulttext: Adresse korrigiert\nRewritten: \nStr46: Hauptstr. 1\n",
         "plz=50667&ort=K%F6ln&str=Hauptstr%2E&hnr=1&rewrite=2"},
        {{"address", "50667", "Köln", "--pof", "1234"}, 1, "Orte: Köln~Bonn\nAlteOrte: \n", "pof=1234"},
        {{"plz-type", "50667"}, 0, "Result: 103\nResulttext: Zustellbezirk\n", "func=type"},
        {{"vat", "ATU12345678"}, 0, "Result: 0\n", ""},
        {{"vat", "DE999999999"}, 1, "Result: 1\n", ""},
        {{"vat", std::string("DE") + kHttp500}, 3, "Result: 2\n", ""},
        {{"--host", "127.0.0.1:1", "iban", "DE89"}, 3, "Result: -200\n", ""},
        {{}, 2, "", ""},
        {{"iban"}, 2, "", ""},
        {{"iban", "DE89", "--tls", "5"}, 2, "", ""},
        {{"iban", "DE89", "--proxy", "nowhere"}, 2, "", ""},
        {{"iban", "DE89", "--street", "x"}, 2, "", ""},
        {{"frobnicate"}, 2, "", ""},
    };
    for (const Case& c : cases) {
        Server.ClearRequests();
        const Ran ran = Run(c.Args);
        std::string line;
        for (const std::string& arg : c.Args)
            line += arg + " ";
        SCOPED_TRACE(line + "\n" + ran.Err);
        EXPECT_EQ(ran.Status, c.Status);
        EXPECT_NE(ran.Out.find(c.Output), std::string::npos) << ran.Out;
        if (!c.Request.empty()) {
            ASSERT_EQ(Server.RequestLines().size(), 1u);
            EXPECT_NE(Server.LastTarget().find(c.Request), std::string::npos) << Server.LastTarget();
        }
        if (c.Status == 2) {
            EXPECT_NE(ran.Err.find("orvelwddx-check --help"), std::string::npos);
        }
    }
}

TEST_F(CheckCommandTest, JsonReadsBackWithTheSameNames)
{
    const Ran ran = Run({"--json", "address", "50667", "Köln", "--pof", "1234"});
    EXPECT_EQ(ran.Status, 1);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(ran.Out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << ran.Out;
    const QJsonObject object = document.object();
    EXPECT_EQ(object.keys(), QStringList({u"AlteOrte"_qs, u"Orte"_qs, u"Ortsteil"_qs, u"PlzOut"_qs, u"Result"_qs,
                                          u"Resulttext"_qs, u"Rewritten"_qs, u"Str22"_qs, u"Str46"_qs}));
    EXPECT_EQ(object[u"Result"_qs].toInt(), 4);
    EXPECT_EQ(object[u"Orte"_qs].toArray(), QJsonArray({u"Köln"_qs, u"Bonn"_qs}));
    EXPECT_EQ(object[u"AlteOrte"_qs].toArray(), QJsonArray());
}

TEST_F(CheckCommandTest, SettingsComeFromOptionsThenEnvironmentThenTheWindow)
{
    StoreWindowSettings("\"User\"=\"fenster\"\r\n\"Pass\"=\"fpw\"\r\n\"HostWddx\"=\"" + Server.HostPort() + "\"\r\n");
    struct Case
    {
        std::vector<std::string> Args;
        std::map<std::string, std::string> Env;
        std::string Expected;
    };
    const std::vector<Case> cases = {
        {{"bic", "X"}, {{"ORVELWDDX_HOST", ""}}, "un=fenster&pw=fpw"},
        {{"bic", "X"}, {{"ORVELWDDX_HOST", ""}, {"ORVELWDDX_USER", "umwelt"}}, "un=umwelt&pw=fpw"},
        {{"--user", "option", "bic", "X"}, {{"ORVELWDDX_HOST", ""}, {"ORVELWDDX_USER", "umwelt"}}, "un=option&pw=fpw"},
    };
    for (const Case& c : cases) {
        Server.ClearRequests();
        const Ran ran = Run(c.Args, c.Env);
        EXPECT_EQ(ran.Status, 1) << ran.Err;
        EXPECT_NE(Server.LastTarget().find(c.Expected), std::string::npos) << Server.LastTarget();
    }
    // The environment's host wins over the window's, an option's over both.
    const FixtureServer other([](const Request& r) { return Service(r, 0ms); });
    Server.ClearRequests();
    EXPECT_EQ(Run({"--host", Server.HostPort(), "bic", "X"}, {{"ORVELWDDX_HOST", other.HostPort()}}).Status, 1);
    EXPECT_EQ(Server.RequestLines().size(), 1u);
}

std::string BatchInput(size_t Rows)
{
    std::string input = "Kunde,IBAN\r\n";
    for (size_t i = 0; i < Rows; ++i)
        input += "K" + std::to_string(i) + ",DE" + std::to_string(1000 + i) + "\r\n";
    return input;
}

TEST_F(CheckCommandTest, BatchKeepsTheInputOrderWithFourJobs)
{
    const Ran ran = Run({"--jobs", "4", "batch", "-"}, {}, BatchInput(1000));
    EXPECT_EQ(ran.Status, 0) << ran.Err;
    const std::vector<cli::TCsvRecord> records = cli::ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), 1001u);
    EXPECT_EQ(records[0].Fields, std::vector<std::string>({"Kunde", "IBAN", "Result", "Resulttext", "BankName",
                                                           "NewBlz", "Iban", "Bic", "Error"}));
    for (size_t i = 0; i < 1000; ++i) {
        const std::string iban = "DE" + std::to_string(1000 + i);
        ASSERT_EQ(records[i + 1].Fields, std::vector<std::string>({"K" + std::to_string(i), iban, "0", "Geprüft",
                                                                   "Bank " + iban, "", iban, "", ""}));
    }
    EXPECT_EQ(Server.RequestLines().size(), 1000u);
    EXPECT_NE(ran.Err.find("1000 of 1000 rows: 1000 passed"), std::string::npos) << ran.Err;
}

TEST_F(CheckCommandTest, BatchReportsBrokenRowsAndGoesOn)
{
    const std::string input = "iban,plz,ort,vat,Notiz\n"
                              "DE89BAD,,,,eins\n"
                              "\"DE1\"x,,,,zwei\n"
                              ",50667,Köln,,\"drei, mit Komma\"\n"
                              ",,,,vier\n"
                              ",,,ATU12345678,fünf\n"
                              "DE2,,,,sechs,zu viel\n";
    const Ran ran = Run({"batch", "-"}, {}, input);
    EXPECT_EQ(ran.Status, 1);
    const std::vector<cli::TCsvRecord> records = cli::ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), 7u) << ran.Out;
    const std::vector<std::string>& header = records[0].Fields;
    ASSERT_EQ(header.back(), "Error");
    auto column = [&](size_t Row, const std::string& Name) {
        return records[Row].Fields.at(size_t(std::find(header.begin(), header.end(), Name) - header.begin()));
    };
    EXPECT_EQ(column(1, "Result"), "24");
    EXPECT_EQ(column(2, "iban"), "\"DE1\"x,,,,zwei");
    EXPECT_EQ(column(2, "Error"), "line 3: text after a closing quote");
    EXPECT_EQ(column(3, "Result"), "9");
    EXPECT_EQ(column(3, "Notiz"), "drei, mit Komma");
    EXPECT_EQ(column(4, "Error"), "line 5: nothing to check in this row");
    EXPECT_EQ(column(5, "Result"), "0");
    EXPECT_EQ(column(6, "Notiz"), "sechs,zu viel");
    EXPECT_EQ(column(6, "Error"), "line 7: 6 fields where the header has 5");
    for (const char* line : {"line 3: text after a closing quote", "line 5: nothing", "line 7: 6 fields"})
        EXPECT_NE(ran.Err.find(line), std::string::npos) << ran.Err;
}

TEST_F(CheckCommandTest, BatchReadsWindows1252)
{
    const Ran ran = Run({"batch", "-"}, {}, "plz;ort;Name\r\n50667;K\xF6ln;M\xFCller & S\xF6hne\r\n");
    EXPECT_EQ(ran.Status, 0) << ran.Err;
    const std::vector<cli::TCsvRecord> records = cli::ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].Fields[1], "Köln");
    EXPECT_EQ(records[1].Fields[2], "Müller & Söhne");
    EXPECT_NE(Server.LastTarget().find("ort=K%F6ln"), std::string::npos);
    EXPECT_NE(ran.Err.find("Windows-1252"), std::string::npos);
}

TEST_F(CheckCommandTest, CtrlCStopsAfterTheRowsInFlightAndLeavesValidCsv)
{
    Delay = 20ms;
    Child child({"--jobs", "2", "batch", "-"}, Env(), BatchInput(1000));
    child.ReadUntil([](const Ran& r) { return std::count(r.Out.begin(), r.Out.end(), '\n') > 20; });
    child.Signal(SIGINT);
    const Ran ran = child.Wait();
    EXPECT_EQ(ran.Status, 130) << ran.Err;
    EXPECT_TRUE(ran.Out.ends_with("\r\n"));
    const std::vector<cli::TCsvRecord> records = cli::ParseCsv(ran.Out);
    ASSERT_GT(records.size(), 21u);
    ASSERT_LT(records.size(), 1001u);
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_TRUE(records[i].Fault.empty());
        ASSERT_EQ(records[i].Fields[1], "DE" + std::to_string(999 + i));
        ASSERT_EQ(records[i].Fields[2], "0");
    }
    EXPECT_NE(ran.Err.find("(interrupted)"), std::string::npos) << ran.Err;
}

} // namespace
} // namespace orvel::test
