// orvelwddx-check as a user runs it: a child process against the fixture servers, with its own settings folder.

#include "cli/Confirmations.h"
#include "cli/Output.h"
#include "confirm/Journal.h"
#include "platform/Csv.h"
#include "server/Confirmation.h"
#include "support/CrowdedVies.h"
#include "support/FixtureServer.h"
#include "support/ViesServer.h"
#include "support/Wddx.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
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

// The cell of a batch's output in the column the header names; "?" (and a failure) when there is no such column.
std::string Cell(const std::vector<TCsvRecord>& Records, size_t Row, const std::string& Name)
{
    const std::vector<std::string>& header = Records.at(0).Fields;
    const auto at = std::find(header.begin(), header.end(), Name);
    EXPECT_NE(at, header.end()) << Name;
    return at == header.end() ? std::string("?") : Records.at(Row).Fields.at(size_t(at - header.begin()));
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
    if (key.find("EVIL") != std::string::npos) // a hostile service: a formula, terminal escapes, a NUL byte
        return Reply::Ok(WddxPacket({{"result", "0"},
                                     {"resulttext", "=HYPERLINK(\"http://x\")"},
                                     {"bankname", std::string("\x1b]0;pwn\x07\x1b[2JBank\0Zwei", 21)},
                                     {"iban", "-1+2"}}));
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
        {{"bic", "COBADEFFXXX"}, 0, "BicB2b: 0\nErgebnis: BIC gefunden\n", "bic=COBADEFFXXX"},
        {{"bic", "XXXXDEFFXXX"}, 1, "BicName: \n", "bic=XXXXDEFFXXX"},
        {{"bic", "XXXXDEFFXXX"}, 1, "Ergebnis: BIC nicht im Verzeichnis\n", "bic=XXXXDEFFXXX"},
        {{"bic", "ABC"}, 1, "BicName: *BIC ungültig\n", "bic=ABC"}, // a failed query, not a bank
        {{"bic", "ABC"}, 1, "Ergebnis: BIC ungültig\n", "bic=ABC"},
        {{"--json", "bic", "ABC"}, 1, "\"Verdict\": \"BIC ungültig\"}", "bic=ABC"},
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
        {{"vat", "ATU12345678"},
         0,
         "Result: 0\nResulttext: AT~U12345678~2024-11-11+01:00~True~Muster Handels GmbH~Hauptstraße 1 1010 Wien\n"
         "Land: AT\nNummer: U12345678\nDatum: 2024-11-11+01:00\nGültig: ja\nName: Muster Handels GmbH\n"
         "Anschrift: Hauptstraße 1 1010 Wien\n",
         ""},
        {{"--json", "vat", "ATU12345678"},
         0,
         R"("Land": "AT", "Nummer": "U12345678", "Datum": "2024-11-11+01:00", "Gültig": "ja")",
         ""},
        {{"vat", "DE999999999"}, 1, "Result: 1\n", ""},
        {{"vat", "DE999999999"}, 1, "Gültig: nein\nName: ---\nAnschrift: ---\n", ""},
        {{"vat", std::string("DE") + kHttp500}, 3, "Result: 2\n", ""},
        // VIES refusing the id is a failed check; VIES being unavailable is no answer.
        {{"vat", "DEINVALID_INPUT"}, 1, "Result: 2\nResulttext: INVALID_INPUT\n", ""},
        {{"vat", "DEMS_UNAVAILABLE"}, 3, "Result: 2\nResulttext: MS_UNAVAILABLE\n", ""},
        // Every refusal gets its verdict in words; a country outside VIES is not even asked.
        {{"vat", "DEINVALID_INPUT"},
         1,
         "Urteil: VIES weist die Anfrage ab: Länderkennzeichen, Nummer oder Angaben ungültig (INVALID_INPUT)\n",
         ""},
        {{"vat", "DEVAT_BLOCKED"}, 1, "Urteil: VIES weist die Anfrage ab: die USt-IdNr. ist für Abfragen gesperrt", ""},
        {{"vat", "DEMS_MAX_CONCURRENT_REQ_TIME"}, 3, "Urteil: der Dienst des Mitgliedstaats ist überlastet", ""},
        {{"vat", "gb 123 456 789"},
         1,
         "Result: 1\nResulttext: kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der EU-Mitgliedstaaten und "
         "Nordirlands (XI)\nUrteil: kein EU-Mitgliedstaat",
         ""},
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

// A plain HTTP port as a TLS client meets it: whatever comes is answered with one 400, then the connection ends.
class PlainHttpPort
{
public:
    PlainHttpPort()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(Listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(Listener, 8) != 0 ||
            getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("no loopback port");
        HostPort = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        Acceptor = std::thread([this] {
            for (int client; (client = accept(Listener, nullptr, nullptr)) >= 0; close(client)) {
                char request[1024];
                static constexpr char kAnswer[] = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
                if (recv(client, request, sizeof request, 0) > 0)
                    send(client, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
            }
        });
    }
    ~PlainHttpPort()
    {
        shutdown(Listener, SHUT_RDWR); // ends the accept
        Acceptor.join();
        close(Listener);
    }

    std::string HostPort;

private:
    int Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::thread Acceptor;
};

TEST_F(CheckCommandTest, NothingAnsweringSaysWhatToDo)
{
    const PlainHttpPort plain;
    const struct
    {
        std::vector<std::string> Args;
        std::string Locale;
        std::string Hint; // empty: no hint
    } cases[] = {
        {{"--host", "127.0.0.1:1", "iban", "DE89"},
         "C",
         "nothing answers on 127.0.0.1:1: the local checking service is not running there; start it with "
         "./scripts/run or systemctl --user start orvelwddx-service.socket"},
        {{"--host", "127.0.0.1:1", "iban", "DE89"},
         "de_DE.UTF-8",
         "unter 127.0.0.1:1 antwortet nichts: der lokale Prüfdienst läuft dort nicht; starten Sie ihn mit "
         "./scripts/run oder"},
        {{"--host", plain.HostPort, "--tls", "1", "iban", "DE89"},
         "en_GB.UTF-8",
         plain.HostPort + " speaks plain HTTP, not TLS: check without --tls (or with --tls 0)"},
        {{"--host", plain.HostPort, "--tls", "1", "iban", "DE89"},
         "de_AT.UTF-8",
         plain.HostPort + " spricht einfaches HTTP, kein TLS: prüfen Sie ohne --tls (oder mit --tls 0)"},
        {{"iban", "DE89"}, "de_DE.UTF-8", ""},
    };
    for (const auto& c : cases) {
        const Ran ran = Run(c.Args, {{"LC_ALL", c.Locale}});
        SCOPED_TRACE(c.Args.front() + " " + c.Args[1] + " " + c.Locale);
        if (c.Hint.empty()) {
            EXPECT_EQ(ran.Err, "");
            continue;
        }
        EXPECT_EQ(ran.Status, 3);
        EXPECT_NE(ran.Out.find("Result: -200\n"), std::string::npos) << ran.Out;
        EXPECT_NE(ran.Err.find(c.Hint), std::string::npos) << ran.Err;
        EXPECT_EQ(std::count(ran.Err.begin(), ran.Err.end(), '\n'), 1) << ran.Err;
    }
}

TEST_F(CheckCommandTest, HelpAndMessagesFollowTheLocaleAndTheResultsDoNot)
{
    const struct
    {
        std::string Locale;
        std::string Help, Usage, Summary;
    } cases[] = {
        {"C", "\nSYNOPSIS\n", "--tls expects a number from 0 to 2, not \"7\"\nTry 'orvelwddx-check --help'.\n",
         "1 of 1 rows: 1 passed, 0 not passed"},
        {"de_DE.UTF-8", "\nÜBERSICHT\n",
         "--tls erwartet eine Zahl von 0 bis 2, nicht „7“\nMehr mit „orvelwddx-check --help“.\n",
         "1 von 1 Zeilen: 1 bestanden, 0 nicht bestanden"},
        {"fr_FR.UTF-8", "\nSYNOPSIS\n", "--tls expects a number", "1 of 1 rows"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Locale);
        const Ran help = Run({"--help"}, {{"LC_ALL", c.Locale}});
        EXPECT_EQ(help.Status, 0);
        EXPECT_NE(help.Out.find(c.Help), std::string::npos) << help.Out;
        const Ran usage = Run({"--tls", "7", "iban", "DE1"}, {{"LC_ALL", c.Locale}});
        EXPECT_EQ(usage.Status, 2);
        EXPECT_NE(usage.Err.find(c.Usage), std::string::npos) << usage.Err;
        // The results, their names and the batch's columns stay as scripts read them.
        const Ran json = Run({"--json", "iban", "DE1"}, {{"LC_ALL", c.Locale}});
        EXPECT_NE(json.Out.find("{\"Result\": 0, \"Resulttext\": \"Geprüft\""), std::string::npos) << json.Out;
        const Ran batch = Run({"batch", "-"}, {{"LC_ALL", c.Locale}}, "iban\nDE1\n");
        EXPECT_TRUE(batch.Out.starts_with("iban,Result,Resulttext,")) << batch.Out;
        EXPECT_NE(batch.Err.find(c.Summary), std::string::npos) << batch.Err;
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

// Text with a number appended; "literal" + std::to_string(…) makes g++ 12 at -O3 warn of an overlapping memcpy.
std::string Numbered(std::string Text, size_t Number)
{
    Text += std::to_string(Number);
    return Text;
}

std::string BatchInput(size_t Rows)
{
    std::string input = "Kunde,IBAN\r\n";
    for (size_t i = 0; i < Rows; ++i) {
        input += Numbered("K", i);
        input += Numbered(",DE", 1000 + i);
        input += "\r\n";
    }
    return input;
}

TEST_F(CheckCommandTest, BatchKeepsTheInputOrderWithFourJobs)
{
    const Ran ran = Run({"--jobs", "4", "batch", "-"}, {}, BatchInput(1000));
    EXPECT_EQ(ran.Status, 0) << ran.Err;
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), 1001u);
    EXPECT_EQ(records[0].Fields, std::vector<std::string>({"Kunde", "IBAN", "Result", "Resulttext", "BankName",
                                                           "NewBlz", "Iban", "Bic", "Error"}));
    for (size_t i = 0; i < 1000; ++i) {
        const std::string iban = Numbered("DE", 1000 + i);
        ASSERT_EQ(records[i + 1].Fields,
                  std::vector<std::string>({Numbered("K", i), iban, "0", "Geprüft", "Bank " + iban, "", iban, "", ""}));
    }
    EXPECT_EQ(Server.RequestLines().size(), 1000u);
    EXPECT_NE(ran.Err.find("1000 of 1000 rows: 1000 passed"), std::string::npos) << ran.Err;
}

TEST_F(CheckCommandTest, BatchReadsRowsAsSpreadsheetsWriteThem)
{
    const struct
    {
        std::string Line;
        std::string Iban, Notiz, Result, Error;
    } rows[] = {
        {"DE89BAD,eins", "DE89BAD", "eins", "24", ""},
        {"\"DE1\"x,zwei", "\"DE1\"x,zwei", "", "", "Zeile 3: Text nach dem schließenden Anführungszeichen"},
        {",vier", "", "vier", "", "nichts zu prüfen"},
        {",,", "", "", "", "1 Feld mehr als die Kopfzeile; nichts zu prüfen"},
        {"DE2,sechs,zu viel,\"und, mehr\"", "DE2", "sechs", "0", "2 Felder mehr als die Kopfzeile: zu viel,und, mehr"},
        {"DE3,sieben,,", "DE3", "sieben", "0", "2 Felder mehr als die Kopfzeile"},
        {"DE4", "DE4", "", "0", ""},
    };
    std::string input = "iban,Notiz\n";
    for (const auto& row : rows)
        input += row.Line + "\n";
    const Ran ran = Run({"batch", "-"}, {}, input);
    EXPECT_EQ(ran.Status, 1);
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), std::size(rows) + 1) << ran.Out;
    const size_t columns = records[0].Fields.size();
    ASSERT_EQ(records[0].Fields.back(), "Error");
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto column = [&](const std::string& Name) { return Cell(records, i + 1, Name); };
        EXPECT_EQ(records[i + 1].Fields.size(), columns) << rows[i].Line;
        EXPECT_EQ(column("iban"), rows[i].Iban) << rows[i].Line;
        EXPECT_EQ(column("Notiz"), rows[i].Notiz) << rows[i].Line;
        EXPECT_EQ(column("Result"), rows[i].Result) << rows[i].Line;
        EXPECT_EQ(column("Error"), rows[i].Error) << rows[i].Line;
    }
    EXPECT_NE(ran.Err.find("orvelwddx-check: Zeile 3: Text nach"), std::string::npos) << ran.Err;
    // Extra text beside a passed check makes the row not passed; extra empty cells do not.
    EXPECT_NE(ran.Err.find("7 of 7 rows: 2 passed, 2 not passed, 1 unreadable, 0 unreachable, 2 with nothing"),
              std::string::npos)
        << ran.Err;
}

TEST_F(CheckCommandTest, ARecordLongerThanOneMebibyteIsOneBrokenRow)
{
    const std::string huge = "DE" + std::string(3u << 20, '7');
    const Ran ran = Run({"batch", "-"}, {}, "iban,Notiz\nDE1,eins\n" + huge + ",zwei\n\"DE2\"x,drei\nDE3,vier\n");
    EXPECT_EQ(ran.Status, 1) << ran.Err;
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), 5u) << ran.Err;
    EXPECT_EQ(Cell(records, 1, "Result"), "0");
    EXPECT_EQ(Cell(records, 2, "iban"), huge.substr(0, 200) + "…");
    EXPECT_EQ(Cell(records, 2, "Error"), "Zeile 3: Datensatz länger als 1 MiB");
    EXPECT_EQ(Cell(records, 3, "Error"), "Zeile 4: Text nach dem schließenden Anführungszeichen");
    EXPECT_EQ(Cell(records, 4, "iban"), "DE3");
    EXPECT_EQ(Cell(records, 4, "Result"), "0");
    EXPECT_EQ(Server.RequestLines().size(), 2u);
}

TEST_F(CheckCommandTest, BatchRunsEveryKindOfCheckARowAllows)
{
    const std::string input = "iban,plz,ort,vat,Notiz\n"
                              "DE89BAD,50667,Köln,,eins\n"
                              ",50667,Köln,ATU12345678,\"zwei, mit Komma\"\n"
                              "DE1,,,,drei\n";
    const Ran ran = Run({"batch", "-"}, {}, input);
    EXPECT_EQ(ran.Status, 1) << ran.Err;
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), 4u) << ran.Out;
    const std::vector<std::string>& header = records[0].Fields;
    const auto column = [&](size_t Row, const std::string& Name) { return Cell(records, Row, Name); };
    EXPECT_EQ(column(1, "iban_Result"), "24");
    EXPECT_EQ(column(1, "address_Result"), "9");
    EXPECT_EQ(column(1, "vat_Result"), "");
    EXPECT_EQ(column(2, "iban_Result"), "");
    EXPECT_EQ(column(2, "address_Str46"), "Hauptstr. 1");
    EXPECT_EQ(column(2, "vat_Result"), "0");
    EXPECT_EQ(column(2, "Notiz"), "zwei, mit Komma");
    EXPECT_EQ(column(3, "iban_BankName"), "Bank DE1");
    EXPECT_EQ(header.back(), "Error");
    EXPECT_NE(ran.Err.find("3 of 3 rows: 2 passed, 1 not passed"), std::string::npos) << ran.Err;
}

TEST_F(CheckCommandTest, BatchWritesTheInputsSeparatorOrForExcel)
{
    const std::string input = "iban;Name\r\nDE1;\"Müller; Söhne\"\r\n";
    const struct
    {
        std::vector<std::string> Args;
        std::string Start;
    } cases[] = {
        {{"batch", "-"}, "iban;Name;Result;"},
        {{"--excel", "batch", "-"}, "\xEF\xBB\xBFiban;Name;Result;"},
    };
    for (const auto& c : cases) {
        const Ran ran = Run(c.Args, {}, input);
        EXPECT_EQ(ran.Status, 0) << ran.Err;
        EXPECT_TRUE(ran.Out.starts_with(c.Start)) << ran.Out;
        EXPECT_NE(ran.Out.find("\r\nDE1;\"Müller; Söhne\";0;"), std::string::npos) << ran.Out;
    }
    const Ran commas = Run({"--excel", "batch", "-"}, {}, "iban,Name\nDE1,\"a;b\"\n");
    EXPECT_TRUE(commas.Out.starts_with("\xEF\xBB\xBFiban;Name;Result;")) << commas.Out;
    EXPECT_NE(commas.Out.find("\r\nDE1;\"a;b\";0;"), std::string::npos) << commas.Out;
}

TEST_F(CheckCommandTest, StandardInputIsUtf8UnlessToldAndAFileIsJudgedWhole)
{
    const std::string windows1252 = "plz;ort;Name\r\n50667;K\xF6ln;M\xFCller & S\xF6hne\r\n";
    const std::filesystem::path file = Home / "kunden.csv";
    std::ofstream(file, std::ios::binary) << windows1252;
    const struct
    {
        std::vector<std::string> Args;
        std::string Input;
        std::string Place, Error;
    } cases[] = {
        {{"batch", "-"}, windows1252, "", "Zeile 2: kein gültiges UTF-8"},
        {{"--encoding", "cp1252", "batch", "-"}, windows1252, "Köln", ""},
        {{"batch", file.string()}, "", "Köln", ""},
        {{"--encoding", "utf-8", "batch", file.string()}, "", "", "Zeile 2: kein gültiges UTF-8"},
        // A Windows-1252 byte early in the stream breaks its row only; later UTF-8 rows stay as they are.
        {{"batch", "-"}, "plz;ort\r\n50667;K\xF6ln\r\n50667;K\xC3\xB6ln\r\n", "", "Zeile 2: kein gültiges UTF-8"},
    };
    for (const auto& c : cases) {
        const Ran ran = Run(c.Args, {}, c.Input);
        EXPECT_EQ(ran.Status, c.Error.empty() ? 0 : 1) << ran.Err;
        const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
        ASSERT_GE(records.size(), 2u) << c.Args[0];
        EXPECT_EQ(Cell(records, 1, "Error"), c.Error) << c.Args[0];
        if (c.Error.empty()) {
            EXPECT_EQ(Cell(records, 1, "ort"), c.Place);
            EXPECT_EQ(Cell(records, 1, "Name"), "Müller & Söhne");
            EXPECT_NE(Server.LastTarget().find("ort=K%F6ln"), std::string::npos);
            EXPECT_NE(ran.Err.find("Windows-1252"), std::string::npos);
        }
        if (records.size() > 2) {
            EXPECT_EQ(Cell(records, 2, "ort"), "Köln");
            EXPECT_EQ(Cell(records, 2, "Result"), "9");
        }
    }
    EXPECT_EQ(Run({"--encoding", "latin9", "batch", "-"}, {}, windows1252).Status, 2);
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
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_GT(records.size(), 21u);
    ASSERT_LT(records.size(), 1001u);
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_TRUE(records[i].Fault.empty());
        ASSERT_EQ(records[i].Fields[1], "DE" + std::to_string(999 + i));
        ASSERT_EQ(records[i].Fields[2], "0");
    }
    EXPECT_NE(ran.Err.find("(interrupted)"), std::string::npos) << ran.Err;
}

TEST_F(CheckCommandTest, BatchOutputIsSafeForSpreadsheetsAndTerminals)
{
    const std::string input = "iban,Notiz\n"
                              "DE1EVIL,=1+2\n"
                              "DE2,-5\n"
                              "DE3,@SUM(A1)\n"
                              "DE4,+49 30 1234\n"
                              "DE5,\"\tTab\"\n";
    for (const bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "--raw" : "guarded");
        const Ran ran = Run(
            raw ? std::vector<std::string>{"--raw", "batch", "-"} : std::vector<std::string>{"batch", "-"}, {}, input);
        EXPECT_EQ(ran.Status, 0) << ran.Err;
        EXPECT_EQ(ran.Out.find('\x1b'), std::string::npos);
        EXPECT_EQ(ran.Out.find('\0'), std::string::npos);
        const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
        ASSERT_EQ(records.size(), 6u) << ran.Out;
        const std::string q = raw ? "" : "'";
        const struct
        {
            size_t Row, Column;
            std::string Cell;
        } cases[] = {
            {1, 1, q + "=1+2"},
            {1, 3, q + "=HYPERLINK(\"http://x\")"},
            {1, 4, "\xEF\xBF\xBD]0;pwn\xEF\xBF\xBD\xEF\xBF\xBD[2JBank\xEF\xBF\xBDZwei"},
            {1, 6, q + "-1+2"},
            {2, 1, "-5"}, // a number stays a number
            {3, 1, q + "@SUM(A1)"},
            {4, 1, q + "+49 30 1234"},
            {5, 1, q + "\tTab"},
            {1, 2, "0"},
        };
        for (const auto& c : cases)
            EXPECT_EQ(records[c.Row].Fields.at(c.Column), c.Cell) << "row " << c.Row << " column " << c.Column;
    }
}

TEST_F(CheckCommandTest, TextOutputShowsNoEscapesFromTheService)
{
    const Ran ran = Run({"iban", "DE1EVIL"});
    EXPECT_EQ(ran.Out.find('\x1b'), std::string::npos) << ran.Out;
    EXPECT_EQ(ran.Out.find('\x07'), std::string::npos) << ran.Out;
    EXPECT_EQ(ran.Out.find('\0'), std::string::npos) << ran.Out;
    EXPECT_NE(ran.Out.find("BankName: \xEF\xBF\xBD]0;pwn"), std::string::npos) << ran.Out;
    const Ran json = Run({"--json", "iban", "DE1EVIL"});
    EXPECT_NE(json.Out.find("\\u001b]0;pwn\\u0007"), std::string::npos) << json.Out;
}

TEST(TextOutput, LineBreaksOfAMessageBecomeOneBlankEach)
{
    const struct
    {
        std::string Text;
        std::string Line;
    } cases[] = {
        {"Hauptstraße 1\r\n1010 Wien", "Anschrift: Hauptstraße 1 1010 Wien\n"},
        {"a\rb\nc\r\n\r\nd", "Anschrift: a b c  d\n"},
        {"\nEnde\r", "Anschrift:  Ende \n"},
        {"", "Anschrift: \n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cli::TextOutput({}, {{"Anschrift", c.Text}}), c.Line) << c.Text;
}

TEST_F(CheckCommandTest, BrokenBytesBreakTheirRowOnly)
{
    const struct
    {
        std::string Input;
        std::vector<std::string> Rows; // each row's first two columns, joined by "|"
        std::vector<std::string> Errors;
        bool Windows1252;
    } cases[] = {
        // One stray byte in a UTF-8 file: that row is broken (its text kept, the byte read as Windows-1252), the
        // others stay UTF-8.
        {"iban,Notiz\nDE1,M\xC3\xBCller\nDE2,M\xFCller\nDE3,Stra\xC3\x9F"
         "e\n",
         {"DE1|Müller", "DE2,Müller|", "DE3|Straße"},
         {"", "Zeile 3: kein gültiges UTF-8", ""},
         false},
        // Told it is Windows-1252.
        {"iban,Notiz\nDE1,M\xFCller\nDE2,Stra\xDF"
         "e\n",
         {"DE1|Müller", "DE2|Straße"},
         {"", ""},
         true},
        // A NUL byte breaks its row, and the row after it is read as its own.
        {std::string("iban,Notiz\nDE1,a\0b\nDE2,c\n", 25),
         {"DE1,a\xEF\xBF\xBD"
          "b|",
          "DE2|c"},
         {"Zeile 2: ein NUL-Byte", ""},
         false},
    };
    for (const auto& c : cases) {
        const Ran ran = Run(c.Windows1252 ? std::vector<std::string>{"--encoding", "cp1252", "batch", "-"}
                                          : std::vector<std::string>{"batch", "-"},
                            {}, c.Input);
        const bool broken = std::any_of(c.Errors.begin(), c.Errors.end(), [](const auto& e) { return !e.empty(); });
        EXPECT_EQ(ran.Status, broken ? 1 : 0) << ran.Err;
        const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
        ASSERT_EQ(records.size(), c.Rows.size() + 1) << ran.Out;
        for (size_t i = 0; i < c.Rows.size(); ++i) {
            EXPECT_EQ(records[i + 1].Fields.at(0) + "|" + records[i + 1].Fields.at(1), c.Rows[i]) << i;
            EXPECT_EQ(records[i + 1].Fields.back(), c.Errors[i]) << i;
            if (!c.Errors[i].empty()) {
                EXPECT_NE(ran.Err.find(c.Errors[i]), std::string::npos) << ran.Err;
            }
        }
        EXPECT_EQ(ran.Err.find("Windows-1252") != std::string::npos, c.Windows1252) << ran.Err;
    }
}

// VIES's checkVatApprox and the BZSt's eVatR as stand-ins: the answer follows from the foreign id asked for.
Reply ConfirmService(const Request& Req)
{
    const auto has = [&Req](const char* text) { return Req.Body.find(text) != std::string::npos; };
    if (Req.RequestLine.find("/bzst") != std::string::npos) {
        // A hostile service: terminal escapes, a line break and a right-to-left override in its id.
        Reply reply = Reply::Ok(has("ATU55555555") ? R"({"id":"\u001b]0;pwn\u0007x\nStatus: valid \u202e)dilav(",)"
                                                     R"("status":"evatr-2001"})"
                                : has("ATU11111111")
                                    ? R"({"id":"bz-1","anfrageZeitpunkt":"2026-12-10T21:00:00Z","status":"evatr-0000",)"
                                      R"("ergFirmenname":"A","ergOrt":"B"})"
                                    : R"({"id":"bz-2","status":"evatr-2001"})");
        reply.Headers.push_back("Content-Type: application/json");
        return reply;
    }
    const std::string start = "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Body>";
    if (has("U33333333"))
        return Reply::Status("HTTP/1.1 500 Internal Server Error",
                             start + "<env:Fault><faultcode>env:Server</faultcode><faultstring>MS_UNAVAILABLE"
                                     "</faultstring></env:Fault></env:Body></env:Envelope>");
    return Reply::Ok(start +
                     "<ns2:checkVatApproxResponse xmlns:ns2=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\">"
                     "<ns2:requestDate>2026-12-10+01:00</ns2:requestDate><ns2:valid>" +
                     (has("U11111111") ? "true" : "false") +
                     "</ns2:valid><ns2:traderName>Muster Handels GmbH</ns2:traderName>"
                     "<ns2:traderAddress>Hauptstraße 1, 1010 Wien</ns2:traderAddress>"
                     "<ns2:traderNameMatch>1</ns2:traderNameMatch>"
                     "<ns2:requestIdentifier>WAPI4711</ns2:requestIdentifier></ns2:checkVatApproxResponse>"
                     "</env:Body></env:Envelope>");
}

TEST_F(CheckCommandTest, VatConfirmTellsByItsStatusAndKeepsTheProof)
{
    const FixtureServer services(ConfirmService);
    const std::map<std::string, std::string> env{{"XDG_DATA_HOME", (Home / "data").string()},
                                                 {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"},
                                                 {"ORVELWDDX_BZST_URL", "http://" + services.HostPort() + "/bzst"}};
    struct Case
    {
        std::vector<std::string> Args;
        int Status;
        std::string Output;
    };
    const std::vector<Case> cases{
        {{"vat-confirm", "ATU11111111", "--own", "DE136695976", "--name", "Muster", "--city", "Wien"},
         0,
         "Status: valid\nQualified: true\nMessage: Die USt-IdNr. ist gültig.\nService: vies\nRequestId: WAPI4711\n"
         "RequestTime: 2026-12-10+01:00\nMatches: Name=1\nTries: 1\nJournalId: 1\n"},
        {{"vat-confirm", "ATU22222222", "--own", "DE136695976"}, 1, "Status: invalid\n"},
        {{"vat-confirm", "ATU33333333", "--own", "DE136695976", "--tries", "2", "--retry-within", "200"},
         3,
         "Status: not-checked\nQualified: false\nMessage: nicht geprüft – Dienst vorübergehend nicht verfügbar, bitte "
         "später erneut\n"},
        {{"vat-confirm", "ATU11111111", "--own", "DE136695976", "--bzst", "--city", "Wien", "--json"},
         0,
         R"("Matches":{"City":"B","Name":"A"})"},
        {{"vat-confirm", "ATU44444444", "--own", "DE136695976", "--bzst"},
         1,
         "Message: Die angefragte USt-IdNr. ist zum Anfragezeitpunkt nicht vergeben.\n"},
        {{"vat-confirm", "DE111111111", "--own", "DE136695976", "--bzst"}, 3, "bitte über VIES prüfen"},
        {{"vat-confirm", "ATU11111111"}, 2, ""},
        // Refused before anything is sent or journaled: the journal below holds none of these.
        {{"vat-confirm", "ATU11111111", "--own", ""}, 2, ""},
        {{"vat-confirm", "ATU11111111", "--own", "DE136695977"}, 2, ""},
        {{"vat-confirm", "ATU11111111", "--own", "ATU13585627", "--bzst"}, 2, ""},
        {{"vat-confirm", "ATU11111111", "--own", "DE136695976", "--name", "M", "--city", "W", "--company-type", "GmbH"},
         2,
         ""},
        {{"vat-confirm", "GB123456789", "--own", "DE136695976"},
         1,
         "Status: invalid\nQualified: false\nMessage: kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der "
         "EU-Mitgliedstaaten und Nordirlands (XI)\n"},
        {{"vat-confirm", "ATU55555555", "--own", "DE136695976", "--bzst"},
         1,
         "RequestId: \xEF\xBF\xBD]0;pwn\xEF\xBF\xBDx Status: valid \xEF\xBF\xBD)dilav(\n"},
        {{"vat-confirm", "ATU11111111", "--own", "DE1", "--tries", "0"}, 2, ""},
        {{"iban", "DE89", "--own", "DE1"}, 2, ""},
        {{"journal", "--from", "31.12.26"}, 2, ""},
        {{"journal", "--proof", "1"}, 2, ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.Args)
            line += arg + " ";
        const Ran ran = Run(c.Args, env);
        SCOPED_TRACE(line + "\n" + ran.Err);
        EXPECT_EQ(ran.Status, c.Status);
        EXPECT_NE(ran.Out.find(c.Output), std::string::npos) << ran.Out;
    }

    const Ran csv = Run({"journal", "--csv", "--vat", "atu 11111111"}, env);
    EXPECT_EQ(csv.Status, 0) << csv.Err;
    const std::vector<TCsvRecord> records = ParseCsv(csv.Out);
    ASSERT_EQ(records.size(), 3u) << csv.Out;
    const Ran refused = Run({"vat-confirm", "ATU11111111", "--own", "DE136695977"}, env);
    EXPECT_NE(refused.Err.find("Die eigene USt-IdNr. DE136695977 hat eine falsche Prüfziffer."), std::string::npos)
        << refused.Err;
    EXPECT_NE(Run({"vat-confirm", "ATU11111111", "--own", " "}, env).Err.find("Die eigene USt-IdNr. fehlt"),
              std::string::npos);
    EXPECT_EQ(records[1].Fields[4], "vies");
    EXPECT_EQ(records[2].Fields[4], "bzst");

    const std::string pdf = (Home / "proof.pdf").string();
    // Outside a login session, with no runtime directory, as from ssh or cron: the proof and not a word besides.
    std::map<std::string, std::string> sessionless = env;
    sessionless["XDG_RUNTIME_DIR"] = "";
    const Ran proof = Run({"journal", "--proof", "1", "--pdf", pdf}, sessionless);
    ASSERT_EQ(proof.Status, 0) << proof.Err;
    EXPECT_EQ(proof.Err, "");
    std::string text;
    FILE* reader = popen(("pdftotext '" + pdf + "' -").c_str(), "r");
    ASSERT_NE(reader, nullptr);
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, reader)) > 0;)
        text.append(buffer, n);
    EXPECT_EQ(pclose(reader), 0);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\f'), 1) << "one page";
    for (const char* shown : {"ATU11111111", "gültig", "Die USt-IdNr. ist gültig.", "WAPI4711", "Konsultationsnummer"})
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
    EXPECT_EQ(Run({"journal", "--proof", "99", "--pdf", pdf}, env).Status, 1);
    // A file that cannot be written has a status of its own, not that of an unreachable service.
    const Ran unwritable = Run({"journal", "--proof", "1", "--pdf", (Home / "nowhere" / "x.pdf").string()}, env);
    EXPECT_EQ(unwritable.Status, 5);
    EXPECT_NE(unwritable.Err.find("nowhere/x.pdf"), std::string::npos) << unwritable.Err;
}

TEST_F(CheckCommandTest, BatchConfirmsWithAnOwnIdAndKeepsWhatWasNotCheckedForLater)
{
    const FixtureServer services(ConfirmService);
    const std::string later = (Home / "later.csv").string();
    const Ran ran = Run({"batch", "--retry-later", later, "-"},
                        {{"XDG_DATA_HOME", (Home / "data").string()},
                         {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"}},
                        "vat,own_vat,name,Notiz\n"
                        "ATU11111111,DE136695976,Muster,eins\n"
                        "ATU22222222,DE136695976,,zwei\n"
                        "ATU33333333,DE136695976,,drei\n"
                        "ATU11111111,DE136695977,Muster,vier\n"
                        "GB123456789,DE136695976,,fünf\n");
    EXPECT_EQ(ran.Status, 3) << ran.Err;
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), 6u) << ran.Out;
    const auto column = [&](size_t Row, const std::string& Name) { return Cell(records, Row, Name); };
    EXPECT_EQ(column(1, "Status"), "valid");
    EXPECT_EQ(column(1, "RequestId"), "WAPI4711");
    EXPECT_EQ(column(1, "Matches"), "Name=1");
    EXPECT_EQ(column(1, "JournalId"), "1");
    EXPECT_EQ(column(2, "Status"), "invalid");
    EXPECT_EQ(column(3, "Status"), "not-checked");
    EXPECT_EQ(column(3, "Notiz"), "drei");
    // Refused before sending and answered at once: neither is kept for later, neither journaled.
    EXPECT_EQ(column(4, "Error"), "nicht gesendet: Die eigene USt-IdNr. DE136695977 hat eine falsche Prüfziffer.");
    EXPECT_EQ(column(4, "JournalId"), "");
    EXPECT_EQ(column(5, "Status"), "invalid");
    EXPECT_EQ(column(5, "JournalId"), "0");
    EXPECT_NE(ran.Err.find("not checked, to be tried again later: ATU33333333"), std::string::npos) << ran.Err;
    std::ifstream file(later);
    const std::string kept((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "vat,own_vat,name,Notiz\r\nATU33333333,DE136695976,,drei\r\n");
    const Ran unwritable = Run({"batch", "--retry-later", (Home / "nowhere" / "later.csv").string(), "-"},
                               {{"XDG_DATA_HOME", (Home / "data").string()},
                                {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"}},
                               "vat,own_vat\nATU33333333,DE136695976\n");
    EXPECT_EQ(unwritable.Status, 5) << unwritable.Err;
}

TEST_F(CheckCommandTest, BatchConfirmationsArePacedPerMemberStateAndNothingIsLost)
{
    // Two at once per member state; the ids ending in 7 get a transient fault the first time they are asked for.
    const test::CrowdedVies vies(2, 20ms, "7");
    std::vector<std::string> ids;
    std::string input = "vat,own_vat,name,city\n";
    for (int n = 0; n < 45; ++n) {
        ids.push_back(std::string(n % 3 == 0 ? "FR" : n % 3 == 1 ? "ATU" : "NL") + std::to_string(10000000 + n));
        input += ids.back() + ",DE136695976,Kunde " + std::to_string(n) + ",Ort\n";
    }
    const Ran ran =
        Run({"batch", "-"}, {{"XDG_DATA_HOME", (Home / "data").string()}, {"ORVELWDDX_VIES_URL", vies.Url()}}, input);
    EXPECT_EQ(ran.Status, 0) << ran.Err;
    // Standard error is no terminal: the summary only, no progress line.
    EXPECT_EQ(ran.Err.find('\r'), std::string::npos) << ran.Err;
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_EQ(records.size(), ids.size() + 1) << ran.Out;
    std::set<std::string> journalIds;
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(Cell(records, i + 1, "vat"), ids[i]);
        EXPECT_EQ(Cell(records, i + 1, "Status"), "valid") << ids[i];
        EXPECT_EQ(Cell(records, i + 1, "RequestId"), "WAPI" + ids[i].substr(2));
        // Refused as one too many is no try of the id's; a transient fault is.
        EXPECT_EQ(Cell(records, i + 1, "Tries"), ids[i].back() == '7' ? "2" : "1") << ids[i];
        journalIds.insert(Cell(records, i + 1, "JournalId"));
    }
    EXPECT_EQ(journalIds.size(), ids.size());
    EXPECT_EQ(vies.Faulted(), 4);
    // Each member state was found at its limit and then left below it, but for a probe now and then.
    EXPECT_GE(vies.Refused(), 1);
    EXPECT_LE(vies.Refused(), 9);
    std::map<std::string, int> journaled;
    for (const confirm::Record& record :
         confirm::Journal((Home / "data" / "OrvelWddx" / "journal.sqlite").string()).Read({}))
        ++journaled[record.ForeignId];
    EXPECT_EQ(journaled.size(), ids.size());
    for (const std::string& id : ids)
        EXPECT_EQ(journaled[id], 1) << id;
}

TEST_F(CheckCommandTest, CtrlCDuringConfirmationsSendsNothingMoreAndLosesNoAnswer)
{
    const test::CrowdedVies vies(2, 50ms);
    std::string input = "vat,own_vat,name,city\n";
    for (int n = 0; n < 200; ++n)
        input += std::string(n % 2 ? "FR" : "NL") + std::to_string(10000000 + n) + ",DE136695976,Kunde,Ort\n";
    Child child({"batch", "-"}, Env({{"XDG_DATA_HOME", (Home / "data").string()}, {"ORVELWDDX_VIES_URL", vies.Url()}}),
                input);
    child.ReadUntil([](const Ran& r) { return std::count(r.Out.begin(), r.Out.end(), '\n') > 2; });
    child.Signal(SIGINT);
    const Ran ran = child.Wait();
    EXPECT_EQ(ran.Status, 130) << ran.Err;
    const std::vector<TCsvRecord> records = ParseCsv(ran.Out);
    ASSERT_GT(records.size(), 2u);
    ASSERT_LT(records.size(), 201u);
    std::set<std::string> written;
    for (size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(Cell(records, i, "Status"), "valid");
        written.insert(Cell(records, i, "vat"));
    }
    // Every row written is in the journal; the answers beyond them are counted on standard error.
    const std::vector<confirm::Record> journal =
        confirm::Journal((Home / "data" / "OrvelWddx" / "journal.sqlite").string()).Read({});
    size_t found = 0;
    for (const confirm::Record& record : journal)
        found += written.count(record.ForeignId);
    EXPECT_EQ(found, written.size());
    const std::smatch beyond = [&] {
        std::smatch match;
        std::regex_search(ran.Err, match, std::regex("(\\d+) confirmations answered for rows after the last one"));
        return match;
    }();
    EXPECT_EQ(journal.size(), written.size() + (beyond.empty() ? 0 : std::stoul(beyond[1].str()))) << ran.Err;
    EXPECT_LT(journal.size(), 200u);
}

TEST_F(CheckCommandTest, VatConfirmWithoutAWritableJournalFailsLoudly)
{
    const FixtureServer services(ConfirmService);
    std::ofstream(Home / "not-a-folder") << "x";
    const Ran ran = Run({"vat-confirm", "ATU11111111", "--own", "DE136695976"},
                        {{"XDG_DATA_HOME", (Home / "not-a-folder").string()},
                         {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"}});
    EXPECT_EQ(ran.Status, 4);
    EXPECT_EQ(ran.Out, "");
    EXPECT_NE(ran.Err.find("Bestätigung ohne Nachweis verworfen"), std::string::npos) << ran.Err;
}

TEST_F(CheckCommandTest, VatConfirmTellsASimpleQuestionAndGreekIdsGoAsEL)
{
    const FixtureServer services(ConfirmService);
    const std::map<std::string, std::string> env{{"XDG_DATA_HOME", (Home / "data").string()},
                                                 {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"}};
    const Ran simple = Run({"vat-confirm", "at u11.111-111", "--own", "de 136 695 976"}, env);
    EXPECT_EQ(simple.Status, 0) << simple.Err;
    EXPECT_NE(simple.Out.find("Qualified: false\nMessage: Die USt-IdNr. ist gültig. Einfache Bestätigungsanfrage: "
                              "ohne Firmenname und Ort keine qualifizierte Bestätigung.\n"),
              std::string::npos)
        << simple.Out;
    Run({"vat-confirm", "gr-094259216", "--own", "DE136695976"}, env);
    const std::vector<Request> sent = services.Requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_NE(sent[0].Body.find("<vatNumber>U11111111</vatNumber>"), std::string::npos) << sent[0].Body;
    EXPECT_NE(sent[1].Body.find("<countryCode>EL</countryCode>"), std::string::npos) << sent[1].Body;
    const Ran json = Run({"journal", "--json"}, env);
    EXPECT_NE(json.Out.find(R"("foreign_id":"EL094259216")"), std::string::npos) << json.Out;
    EXPECT_NE(json.Out.find(R"("qualified":false)"), std::string::npos) << json.Out;
}

// What a name or a service's answer carries reaches no output as a line, an escape, a reordering or a formula.
TEST_F(CheckCommandTest, JournalOutputsAreGuardedAndTamperingIsFound)
{
    const FixtureServer services(ConfirmService);
    const std::map<std::string, std::string> env{{"XDG_DATA_HOME", (Home / "data").string()},
                                                 {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"}};
    ASSERT_EQ(Run({"vat-confirm", "ATU22222222", "--own", "DE136695976", "--name",
                   "=HYPERLINK(\"http://x\")\nstatus: valid\xE2\x80\xAE", "--city", "Wien"},
                  env)
                  .Status,
              1);
    ASSERT_EQ(
        Run({"vat-confirm", "ATU11111111", "--own", "DE136695976", "--name", "Muster", "--city", "Wien"}, env).Status,
        0);

    // A journal others may read is closed to them, and the user told.
    const std::string journal = (Home / "data" / "OrvelWddx" / "journal.sqlite").string();
    ASSERT_EQ(::chmod(journal.c_str(), 0644), 0);
    const Ran opened = Run({"vat-confirm", "GB1", "--own", "DE136695976"}, env); // answered without the journal
    EXPECT_EQ(opened.Out.find("Notice:"), std::string::npos) << opened.Out;
    const Ran text = Run({"journal"}, env);
    EXPECT_EQ(text.Status, 0) << text.Err;
    EXPECT_NE(text.Err.find("war für andere zugänglich (Modus 0644); jetzt 0600."), std::string::npos) << text.Err;
    struct stat info
    {
    };
    ASSERT_EQ(::stat(journal.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(text.Out.find("\nstatus: valid"), text.Out.find("\nstatus: valid\nqualified: true")) << text.Out;
    EXPECT_NE(text.Out.find("name: =HYPERLINK(\"http://x\") status: valid\xEF\xBF\xBD\n"), std::string::npos)
        << text.Out;
    const Ran csv = Run({"journal", "--csv"}, env);
    const std::vector<TCsvRecord> rows = ParseCsv(csv.Out);
    ASSERT_EQ(rows.size(), 3u) << csv.Out;
    EXPECT_EQ(Cell(rows, 1, "name"), "'=HYPERLINK(\"http://x\") status: valid\xEF\xBF\xBD");
    EXPECT_EQ(std::count(csv.Out.begin(), csv.Out.end(), '\n'), 3) << "one line per record";
    const Ran json = Run({"journal", "--json"}, env);
    EXPECT_EQ(json.Out.find("\xE2\x80\xAE"), std::string::npos) << json.Out;

    const Ran clean = Run({"journal", "--verify"}, env);
    EXPECT_EQ(clean.Status, 0) << clean.Out;
    EXPECT_NE(clean.Out.find("unverändert: 2 Einträge"), std::string::npos) << clean.Out;

    // Invalid made valid by someone who knows to step round the trigger: the chain and the raw answer both object.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((Home / "data" / "OrvelWddx" / "journal.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP TRIGGER records_no_update; UPDATE records SET status = 'valid' WHERE id = 1;"
                           "CREATE TRIGGER records_no_update BEFORE UPDATE ON records BEGIN SELECT RAISE(ABORT, "
                           "'the journal is append-only'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const Ran verify = Run({"journal", "--verify"}, env);
    EXPECT_EQ(verify.Status, 1);
    EXPECT_NE(verify.Out.find("Eintrag 1 passt nicht in die Kette"), std::string::npos) << verify.Out;
    const Ran listed = Run({"journal"}, env);
    EXPECT_EQ(listed.Status, 1);
    EXPECT_NE(listed.Err.find("Eintrag 1: Der Status \"valid\" passt nicht zur gespeicherten Antwort (\"invalid\")"),
              std::string::npos)
        << listed.Err;
    EXPECT_NE(listed.Out.find("WARNUNG: Der Status"), std::string::npos) << listed.Out;
}

// The text of a PDF as pdftotext reads it, and its pages.
std::string PdfText(const std::string& Pdf)
{
    std::string text;
    FILE* reader = popen(("pdftotext '" + Pdf + "' -").c_str(), "r");
    if (!reader)
        return text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, reader)) > 0;)
        text.append(buffer, n);
    pclose(reader);
    return text;
}

std::string WithoutBlanks(std::string Text)
{
    std::erase_if(Text, [](char c) { return c == ' ' || c == '\n' || c == '\f'; });
    return Text;
}

TEST_F(CheckCommandTest, TheProofShowsWhatAnAuditorNeedsWhateverTheLengthOfTheFields)
{
    const FixtureServer services(ConfirmService);
    const std::map<std::string, std::string> env{{"XDG_DATA_HOME", (Home / "data").string()},
                                                 {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"},
                                                 {"ORVELWDDX_BZST_URL", "http://" + services.HostPort() + "/bzst"}};
    std::string street, name;
    while (street.size() < 6000)
        street += "Lange Straße ";
    for (int i = 0; i < 60; ++i)
        name += "Zeile\n";
    name += "Evil \xE2\x80\xAE(dilav)";
    ASSERT_EQ(Run({"vat-confirm", "ATU11111111", "--own", "DE136695976", "--name", name, "--city", "Wien", "--street",
                   street, "--reference", "RE-2026-0042"},
                  env)
                  .Status,
              0);
    ASSERT_EQ(Run({"vat-confirm", "DE111111111", "--own", "DE136695976", "--bzst"}, env).Status, 3);
    const std::string pdf = (Home / "proof.pdf").string();
    ASSERT_EQ(Run({"journal", "--proof", "1", "--pdf", pdf}, env).Status, 0);
    const std::string text = PdfText(pdf);
    const std::string squeezed = WithoutBlanks(text);
    const QJsonArray records =
        QJsonDocument::fromJson(QByteArray::fromStdString(Run({"journal", "--json"}, env).Out)).array();
    ASSERT_EQ(records.size(), 2);
    const std::string chain = records[0].toObject().value(QLatin1String("chain")).toString().toStdString();
    const std::string hash = records[0].toObject().value(QLatin1String("raw_sha256")).toString().toStdString();
    for (const std::string& shown :
         {std::string("TESTDIENST – keine amtliche Bestätigung"), std::string("Qualifizierte Bestätigung: gültig"),
          std::string("Ergebnis"), std::string("Die USt-IdNr. ist gültig."), std::string("Konsultationsnummer"),
          std::string("WAPI4711"), std::string("Anfragende USt-IdNr."), std::string("DE136695976"),
          std::string("RE-2026-0042"), std::string("stimmt überein"), std::string("Muster Handels GmbH"),
          std::string("Hauptstraße 1, 1010 Wien"), std::string("gekürzt"), std::string("PDF erstellt"),
          std::string("10.12.2026 (UTC+01:00)"), (Home / "data" / "OrvelWddx" / "journal.sqlite").string()})
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
    for (const std::string& value :
         {chain, hash, std::string("<ns2:requestIdentifier>WAPI4711</ns2:requestIdentifier>")})
        EXPECT_NE(squeezed.find(value), std::string::npos) << value << "\n" << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(\d\d\.\d\d\.\d{4}, \d\d:\d\d:\d\d Uhr \(UTC[+-]\d\d:\d\d\))")))
        << text;
    EXPECT_EQ(text.find("\xE2\x80\xAE"), std::string::npos) << "no right-to-left override reaches the page";
    EXPECT_EQ(text.find("2026-12-10"), std::string::npos) << "dates as a German reader writes them";

    ASSERT_EQ(Run({"journal", "--proof", "2", "--pdf", pdf}, env).Status, 0);
    const std::string unsent = PdfText(pdf);
    EXPECT_NE(unsent.find("Anfrage nicht beantwortet"), std::string::npos) << unsent;
    EXPECT_NE(WithoutBlanks(unsent).find("SHA-256derAntwortkeineAnfragegesendet"), std::string::npos) << unsent;
    EXPECT_EQ(unsent.find(WithoutBlanks(confirm::Sha256Hex(""))), std::string::npos);
}

TEST_F(CheckCommandTest, PendingConfirmationsAreAskedAgainInALaterRun)
{
    std::atomic<bool> busy{true};
    const FixtureServer services([&busy](const Request& Req) {
        if (busy && Req.Body.find("U11111111") != std::string::npos)
            return ConfirmService(Request{Req.RequestLine, Req.Headers, "U33333333", Req.Raw, Req.ConnectionId});
        return ConfirmService(Req);
    });
    const std::map<std::string, std::string> env{{"XDG_DATA_HOME", (Home / "data").string()},
                                                 {"ORVELWDDX_VIES_URL", "http://" + services.HostPort() + "/vies"}};
    ASSERT_EQ(Run({"vat-confirm", "ATU11111111", "--own", "DE136695976", "--tries", "2", "--retry-within", "300"}, env)
                  .Status,
              3);
    const size_t asked = services.Requests().size();

    // Not yet: the next try is an hour after the record.
    const Ran early = Run({"journal", "--retry-pending"}, env);
    EXPECT_EQ(early.Status, 3) << early.Err;
    EXPECT_NE(early.Out.find("Eintrag 1 (ATU11111111): nächster Versuch "), std::string::npos) << early.Out;
    EXPECT_EQ(services.Requests().size(), asked);

    busy = false;
    const Ran all = Run({"journal", "--retry-pending", "--all"}, env);
    EXPECT_EQ(all.Status, 0) << all.Out << all.Err;
    EXPECT_EQ(all.Out, "Eintrag 1 (ATU11111111): erneut angefragt, Eintrag 2: valid\n");
    const QJsonArray records =
        QJsonDocument::fromJson(QByteArray::fromStdString(Run({"journal", "--json"}, env).Out)).array();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1].toObject().value(QLatin1String("retry_of")).toInteger(), 1);
    EXPECT_EQ(records[1].toObject().value(QLatin1String("own_id")).toString(), QLatin1String("DE136695976"));
    const Ran done = Run({"journal", "--retry-pending"}, env);
    EXPECT_EQ(done.Status, 0);
    EXPECT_EQ(done.Out, "Keine ausstehenden Bestätigungen.\n");
}

TEST(RetryPending, BacksOffAcrossRunsAndSparesTheBzstsMaintenanceHours)
{
    confirm::Record pending;
    pending.TimeUtc = "2026-12-10T12:00:00Z";
    const std::pair<int, const char*> backOff[] = {{0, "2026-12-10T13:00:00Z"},
                                                   {1, "2026-12-10T14:00:00Z"},
                                                   {3, "2026-12-10T20:00:00Z"},
                                                   {9, "2026-12-11T12:00:00Z"}};
    for (const auto& [generation, next] : backOff)
        EXPECT_EQ(NextTry(pending, generation).toUTC().toString(Qt::ISODate).toStdString(), next) << generation;
    // German time: UTC+1 in December, UTC+2 in July.
    const std::pair<const char*, bool> hours[] = {{"2026-12-10T21:59:00Z", false}, {"2026-12-10T22:00:00Z", true},
                                                  {"2026-12-11T03:59:00Z", true},  {"2026-12-11T04:00:00Z", false},
                                                  {"2026-07-10T21:00:00Z", true},  {"2026-07-10T03:00:00Z", false}};
    for (const auto& [at, maintenance] : hours)
        EXPECT_EQ(InBzstMaintenance(QDateTime::fromString(QLatin1String(at), Qt::ISODate)), maintenance) << at;
}

} // namespace
} // namespace orvel::test
