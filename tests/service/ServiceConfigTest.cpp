#include "service/ServiceConfig.h"
#include "confirm/Journal.h"
#include "rules/PostalData.h"
#include "service/Http.h"
#include "service/Service.h"
#include "service/Users.h"
#include "support/Environment.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

namespace orvel::service {
namespace {

ServiceConfig Parse(std::vector<std::string> arguments)
{
    std::vector<char*> argv{const_cast<char*>("orvelwddx-service")};
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    return ServiceConfig::FromArguments(int(argv.size()), argv.data());
}

class ServiceConfigTest : public testing::Test
{
protected:
    const std::filesystem::path Folder =
        std::filesystem::temp_directory_path() / ("orvel-config-" + std::to_string(getpid()));
    test::ScopedEnvironment ConfigHome{"XDG_CONFIG_HOME", Folder.c_str()};

    ServiceConfigTest() { std::filesystem::create_directories(Folder / "OrvelWddx"); }
    ~ServiceConfigTest() override { std::filesystem::remove_all(Folder); }

    void WriteStandardFile(const std::string& text) { std::ofstream(Folder / "OrvelWddx/service.conf") << text; }
};

TEST_F(ServiceConfigTest, DefaultsWithoutAFile)
{
    const ServiceConfig config = Parse({});
    EXPECT_EQ(config.Listen, std::vector<std::string>{"127.0.0.1:8590"});
    EXPECT_TRUE(config.TlsListen.empty());
    EXPECT_EQ(config.ConfigFile, "");
    EXPECT_FALSE(config.BankFile.empty());
    EXPECT_EQ(config.PostalFile, rules::DefaultPostalDataPath());
    EXPECT_FALSE(config.Log);
    EXPECT_EQ(config.OwnVatId, "");
    EXPECT_EQ(config.Journal, confirm::Journal::DefaultPath());
}

TEST_F(ServiceConfigTest, TheCommandLineWinsOverTheFile)
{
    WriteStandardFile(
        "# comment\nlisten = 127.0.0.1:9000\nlisten=[::1]:9000\nthreads = 4\nlog = true\n"
        "max-body = 4096\nconnections = 300\nconnections-per-client = 5\ntls-cert = /c.pem\ntls-key = /k.pem\n"
        "OwnVatId = DE136695976\njournal = /var/lib/office/journal.sqlite\n");
    const ServiceConfig fromFile = Parse({});
    EXPECT_EQ(fromFile.Listen, (std::vector<std::string>{"127.0.0.1:9000", "[::1]:9000"}));
    EXPECT_EQ(fromFile.Threads, 4u);
    EXPECT_EQ(fromFile.MaxBody, 4096u);
    EXPECT_EQ(fromFile.Connections, 300u);
    EXPECT_EQ(fromFile.ConnectionsPerClient, 5u);
    EXPECT_TRUE(fromFile.Log);
    EXPECT_EQ(fromFile.TlsListen, std::vector<std::string>{"127.0.0.1:8591"});
    EXPECT_EQ(fromFile.OwnVatId, "DE136695976");
    EXPECT_EQ(fromFile.Journal, "/var/lib/office/journal.sqlite");
    EXPECT_EQ(Parse({"--OwnVatId", "ATU13585627"}).OwnVatId, "ATU13585627");

    const ServiceConfig both = Parse({"--listen", "127.0.0.1:7000", "--threads=8", "--listen=127.0.0.2:7000"});
    EXPECT_EQ(both.Listen, (std::vector<std::string>{"127.0.0.1:7000", "127.0.0.2:7000"}));
    EXPECT_EQ(both.Threads, 8u);
    EXPECT_FALSE(both.AllowAnyone);
    EXPECT_TRUE(Parse({"--allow-anyone"}).AllowAnyone);
}

TEST_F(ServiceConfigTest, MistakesAreNamed)
{
    EXPECT_THROW(Parse({"--colour", "red"}), std::runtime_error);
    EXPECT_THROW(Parse({"--threads", "0"}), std::runtime_error);
    EXPECT_THROW(Parse({"--connections-per-client", "0"}), std::runtime_error);
    EXPECT_THROW(Parse({"--listen"}), std::runtime_error);
    EXPECT_THROW(Parse({"--tls-cert", "/c.pem"}), std::runtime_error);
    EXPECT_THROW(Parse({"--config", (Folder / "missing.conf").string()}), std::runtime_error);
    WriteStandardFile("listen 127.0.0.1:9000\n");
    EXPECT_THROW(Parse({}), std::runtime_error);
}

TEST_F(ServiceConfigTest, MistakesAreToldInTheLocalesLanguage)
{
    const std::string settings = (Folder / "bad.conf").string(), users = (Folder / "users").string();
    std::ofstream(settings) << "# settings\nlisten 127.0.0.1:9000\n";
    std::ofstream(users) << "# users\ndemo wexo\n";
    const std::string directory = "/usr/share/ktoblzcheck/blz_20200420.txt";
    const int listening = OpenListener("127.0.0.1:0");
    const std::string taken = "127.0.0.1:" + std::to_string(ListenerPort(listening));
    // Each mistake made when it is called.
    const auto parse = [](std::vector<std::string> arguments) { return [arguments] { Parse(arguments); }; };
    const auto load = [](std::string path) { return [path] { Users::Load(path); }; };
    const auto start = [&directory](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--bank-file", directory});
        return [arguments] { const Service running(Parse(arguments)); };
    };
    struct Mistake
    {
        std::function<void()> Make;
        std::string English, German;
    };
    const Mistake mistakes[] = {
        {parse({"--colour", "red"}), "unknown setting colour", "unbekannte Einstellung colour"},
        {parse({"--threads", "0"}), "threads: 1 to 256 expected", "threads: 1 bis 256 erwartet"},
        {parse({"--log=maybe"}), "log: true or false expected", "log: true oder false erwartet"},
        {parse({"--listen"}), "--listen needs a value", "--listen braucht einen Wert"},
        {parse({"listen"}), "unexpected argument listen", "unerwartetes Argument listen"},
        {parse({"--update-data", "bundesbahn"}), "unknown data source bundesbahn (bundesbank, scl or oenb)",
         "unbekannte Datenquelle bundesbahn (bundesbank, scl oder oenb)"},
        {parse({"--tls-key", "/k.pem"}), "HTTPS needs both --tls-cert and --tls-key",
         "HTTPS braucht --tls-cert und --tls-key"},
        {parse({"--config", settings}), settings + ":2: key = value expected",
         settings + ":2: Schlüssel = Wert erwartet"},
        {parse({"--config", settings + ".missing"}), "cannot read the settings file " + settings + ".missing",
         "Einstellungsdatei " + settings + ".missing nicht lesbar"},
        {load(users), users + ":2: not \"user:pbkdf2-sha256$...\"", users + ":2: nicht \"benutzer:pbkdf2-sha256$...\""},
        {load(users + ".missing"), "cannot open the users file " + users + ".missing",
         "Benutzerdatei " + users + ".missing nicht lesbar"},
        {start({"--listen", "127.0.0.1"}), "listen address without a port: 127.0.0.1", "Adresse ohne Port: 127.0.0.1"},
        {start({"--listen", taken}), "cannot listen on " + taken + ": Address already in use",
         "auf " + taken + " kann nicht gelauscht werden: Address already in use"},
        {start({"--listen", "0.0.0.0:0"}),
         "0.0.0.0:0: other machines reach this address; give --users-file (or --allow-anyone)",
         "0.0.0.0:0: andere Rechner erreichen diese Adresse; --users-file (oder --allow-anyone) angeben"},
    };
    // Which language each setting of the variables chooses: the first set of LC_ALL, LC_MESSAGES and LANG.
    const std::tuple<const char*, const char*, const char*, bool> locales[] = {
        {"de_DE.UTF-8", nullptr, nullptr, true},
        {nullptr, "de_AT.UTF-8", "en_GB.UTF-8", true},
        {nullptr, nullptr, "de", true},
        {"C", nullptr, "de_DE.UTF-8", false},
        {nullptr, nullptr, "den_XX.UTF-8", false},
        {nullptr, nullptr, nullptr, false},
    };
    for (const auto& [all, messages, lang, german] : locales) {
        const test::ScopedEnvironment a("LC_ALL", all), m("LC_MESSAGES", messages), l("LANG", lang);
        for (const Mistake& mistake : mistakes)
            try {
                mistake.Make();
                ADD_FAILURE() << mistake.English << ": no error";
            } catch (const std::runtime_error& error) {
                EXPECT_EQ(error.what(), german ? mistake.German : mistake.English)
                    << (all ? all : "") << " " << (lang ? lang : "");
            }
    }
    close(listening);
}

TEST(ShippedExamples, ConfigurationAndUsersFileWork)
{
    const std::string data = ORVEL_SERVICE_DATA;
    const ServiceConfig config = Parse({"--config", data + "/service.conf.example"});
    EXPECT_EQ(config.Listen, std::vector<std::string>{"127.0.0.1:8590"});
    EXPECT_EQ(config.Timeout, 10u);

    const Users users = Users::Load(data + "/users.example");
    EXPECT_EQ(users.Admit("demo", "wexo", false, "192.0.2.7"), Users::kAdmitted);
    EXPECT_EQ(users.Admit("demo", "wexo2", true, "127.0.0.1"), Users::kDenied);
}

} // namespace
} // namespace orvel::service
