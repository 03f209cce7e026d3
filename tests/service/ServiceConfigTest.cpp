#include "service/ServiceConfig.h"
#include "confirm/Journal.h"
#include "rules/PostalData.h"
#include "service/Users.h"
#include "support/Environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
