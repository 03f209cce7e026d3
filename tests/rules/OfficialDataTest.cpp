#include "rules/DirectoryText.h"
#include "rules/OfficialData.h"
#include "rules/TarvikChecks.h"

#include "BankFile.h"
#include "platform/Text.h"
#include "support/Environment.h"
#include "support/OfficialFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace orvel::rules {
namespace {

using test::BankRecord;

// 2026-12-11, noon in Germany.
constexpr std::time_t kToday = 1796947200 + 11 * 3600;

class OfficialDataTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(Folder);
        std::filesystem::create_directories(Folder);
        SetDataDir(Folder.string());
    }
    void TearDown() override
    {
        SetDataDir("");
        std::filesystem::remove_all(Folder);
    }
    std::string In(const std::string& name) const { return (Folder / name).string(); }

    const std::filesystem::path Folder =
        std::filesystem::temp_directory_path() / ("orvel-official-" + std::to_string(getpid()));
};

// Bank codes sharing BICs the way the Bundesbank's file has them: the special-purpose code sorts first.
const std::vector<BankRecord> kShared = {
    {.Blz = "10040010", .Name = "Commerzbank, CC SP", .Place = "Berlin", .Method = "09", .Bic = "COBADEFFXXX"},
    {.Blz = "10040048", .Name = "Commerzbank GF-B48", .Place = "Berlin", .Method = "13", .Bic = "COBADEFFXXX"},
    {.Blz = "13040000", .Name = "Commerzbank", .Place = "Rostock", .Method = "13", .Bic = "COBADEFFXXX"},
    {.Blz = "50040000", .Name = "Commerzbank", .Place = "Frankfurt am Main", .Method = "13", .Bic = "COBADEFFXXX"},
    {.Blz = "50040033",
     .Name = "Commerzbank (IPC AMSTERDAM)",
     .Place = "Frankfurt",
     .Method = "13",
     .Bic = "COBADEFFAMS"},
    {.Blz = "37050198", .Name = "Sparkasse K\xF6lnBonn", .Place = "K\xF6ln", .Method = "00", .Bic = "COLSDE33XXX"},
    {.Blz = "38050000", .Name = "Sparkasse Bonn -alt-", .Place = "Bonn", .Method = "00", .Bic = "COLSDE33"},
    {.Blz = "38050001", .Name = "Sparkasse KoelnBonn Bonn", .Place = "Bonn", .Method = "00", .Bic = "COLSDE33BON"},
};

TEST_F(OfficialDataTest, BicAnswersComeFromTheSclDirectoryWithItsDateAndTheHeadOffice)
{
    test::WriteBankFile(In("blz_20261207.txt"), kShared);
    test::WriteSclFile(In("scl_20261204.csv"), "04.12.2026",
                       {{"BNPAFRPP", "BNP PARIBAS", "1;1;0;1;0"},
                        {"REVOLT21", "Revolut Bank UAB", "1;1;0;0;0"},
                        {"COBADEFFXXX", "Commerzbank AG", "1;1;0;0;1"}});
    const OfficialData data = OfficialData::Load(kToday);
    ASSERT_TRUE(data.Scl);
    const TarvikChecks checks(data, kToday);
    struct Case
    {
        const char* Bic;
        const char* Name;
        int32_t Sct, Sdd, B2b, Scc;
        const char* Text;
    };
    for (const Case& c : std::vector<Case>{
             {"BNPAFRPP", "BNP PARIBAS", 1, 1, 1, 0, "BIC gültig (SCL-Verzeichnis vom 04.12.2026)"},
             {"BNPAFRPPLYO", "BNP PARIBAS", 1, 1, 1, 0, "BIC gültig (SCL-Verzeichnis vom 04.12.2026)"},
             {"revolt21xxx", "Revolut Bank UAB", 1, 1, 0, 0, "BIC gültig (SCL-Verzeichnis vom 04.12.2026)"},
             {"COBADEFF", "Commerzbank AG", 1, 1, 0, 1, "BIC gültig (SCL-Verzeichnis vom 04.12.2026)"},
             // In the bank directory, not in the SCL directory: the name, but no reachability.
             {"COLSDE33", "Sparkasse KölnBonn", 0, 0, 0, 0,
              "BIC gültig; nicht im SCL-Verzeichnis (SCL-Verzeichnis vom 04.12.2026)"},
             {"COLSDE33BON", "Sparkasse KoelnBonn Bonn", 0, 0, 0, 0,
              "BIC gültig; nicht im SCL-Verzeichnis (SCL-Verzeichnis vom 04.12.2026)"},
             {"SOGEFRPP", "", 0, 0, 0, 0, "BIC gültig; nur das Format geprüft"},
         }) {
        const BicAnswer answer = checks.Bic(c.Bic);
        EXPECT_EQ(answer.Result, 0) << c.Bic;
        EXPECT_EQ(answer.BicName, Ansi(c.Name)) << c.Bic;
        EXPECT_EQ(std::vector<int32_t>({answer.Sct, answer.Sdd, answer.B2b, answer.Scc}),
                  std::vector<int32_t>({c.Sct, c.Sdd, c.B2b, c.Scc}))
            << c.Bic;
        EXPECT_EQ(answer.ResultText, Ansi(c.Text)) << c.Bic;
    }
    EXPECT_EQ(checks.IbanBic("FR7630006000011234567890189", "BNPAFRPP").Bic.Sct, 1);
}

TEST_F(OfficialDataTest, WithoutTheSclDirectoryASharedBicAnswersWithItsHeadOffice)
{
    test::WriteBankFile(In("blz_20261207.txt"), kShared);
    const OfficialData data = OfficialData::Load(kToday);
    EXPECT_FALSE(data.Scl);
    const TarvikChecks checks(data, kToday);
    for (const auto& [bic, name] : std::vector<std::pair<std::string, std::string>>{
             {"COBADEFF", "Commerzbank"},
             {"COBADEFFXXX", "Commerzbank"},
             {"COBADEFFAMS", "Commerzbank (IPC AMSTERDAM)"},
             {"COLSDE33", "Sparkasse K\xF6lnBonn"},
             {"COLSDE33XXX", "Sparkasse K\xF6lnBonn"},
             {"COLSDE33BON", "Sparkasse KoelnBonn Bonn"},
         }) {
        const BicAnswer answer = checks.Bic(bic);
        EXPECT_EQ(answer.BicName, name) << bic;
        EXPECT_EQ(answer.Sct + answer.Sdd + answer.B2b, 3) << bic;
    }
    EXPECT_EQ(checks.Bic("COBADEFFBER").Result, 33) << "a German branch the directory does not list";
}

TEST_F(OfficialDataTest, AustrianBanksComeFromTheOenbDirectoryAccountsStayUnchecked)
{
    test::WriteOenbFile(
        In("oenb_20261210.csv"), "10.12.2026",
        {{.Blz = "100", .Name = "Oesterreichische Nationalbank", .Bic = "NABAATWW"},
         {.Blz = "32000", .Name = "Raiffeisenlandesbank Nieder\xF6sterreich-Wien AG", .Bic = "RLNWATWWXXX"},
         {.Blz = "34000", .Name = "Raiffeisenlandesbank Ober\xF6sterreich AG", .Bic = "RZOOAT2L", .Place = "Linz"}});
    const OfficialData data = OfficialData::Load(kToday);
    ASSERT_TRUE(data.Austria);
    const TarvikChecks checks(data, kToday);

    const AccountAnswer known = checks.BlzKto("32000", "123456", "AT");
    EXPECT_EQ(known.Result, 5);
    EXPECT_EQ(
        known.ResultText,
        Ansi("Österreichische Bankleitzahl bekannt; Kontonummer nicht geprüft (kein öffentliches Prüfverfahren)"));
    EXPECT_EQ(known.BankName, "Raiffeisenlandesbank Nieder\xF6sterreich-Wien AG");
    EXPECT_EQ(known.Bic, "RLNWATWWXXX");
    EXPECT_EQ(known.Iban, "AT063200000000123456");
    const AccountAnswer unknown = checks.BlzKto("99999", "123456", "AT");
    EXPECT_EQ(unknown.Result, 12);
    EXPECT_EQ(unknown.ResultText, Ansi("Bankleitzahl unbekannt: nicht im OeNB-Verzeichnis vom 10.12.2026"));

    const AccountAnswer iban = checks.Iban("AT063200000000123456");
    EXPECT_EQ(iban.Result, 5);
    EXPECT_EQ(iban.BankName, "Raiffeisenlandesbank Nieder\xF6sterreich-Wien AG");
    EXPECT_EQ(iban.Bic, "RLNWATWWXXX");
    EXPECT_TRUE(iban.ResultText.starts_with(Ansi("IBAN gültig; Österreichische Bankleitzahl bekannt")));
    EXPECT_EQ(checks.Iban("AT279999900000123456").Result, 12);
    EXPECT_EQ(checks.IbanBic("AT063200000000123456", "RZOOAT2L").Account.Result, 32);

    const SearchAnswer search = checks.Search("raiffeisenlandesbank", "AT", false);
    EXPECT_EQ(search.Result, 2);
    EXPECT_EQ(search.ResultText, Ansi("2 Banken gefunden (OeNB-Verzeichnis vom 10.12.2026)"));
    ASSERT_EQ(search.Banken.size(), 2u);
    EXPECT_EQ(search.Banken[1], "34000|RZOOAT2L|Raiffeisenlandesbank Ober\xF6sterreich AG|1010|Linz");
    EXPECT_EQ(checks.Search("oesterreich linz", "AT", true).Result, 1);
}

TEST_F(OfficialDataTest, WithoutTheOenbDirectoryTheBuiltInTableGivesTheBic)
{
    const TarvikChecks checks(OfficialData::Load(kToday), kToday);
    const AccountAnswer iban = checks.Iban("AT111200000000123456");
    EXPECT_EQ(iban.Result, 4);
    EXPECT_EQ(iban.Bic, "BKAUATWWXXX");
    EXPECT_EQ(iban.BankName, "");
    EXPECT_EQ(
        iban.ResultText,
        Ansi("IBAN gültig; Österreichische Bankleitzahl: nur das Format geprüft (kein OeNB-Verzeichnis installiert)"));
    EXPECT_EQ(checks.BlzKto("12000", "123456", "AT").Bic, "BKAUATWWXXX");
    EXPECT_EQ(checks.BlzKto("99999", "123456", "AT").Result, 4);
    EXPECT_EQ(checks.Search("Bank", "AT", false).ResultText, Ansi("Kein österreichisches Bankverzeichnis (OeNB) installiert"));
}

TEST_F(OfficialDataTest, TheNewestWholeEditionWhoseDayHasComeIsRead)
{
    const auto bank = [](const std::string& name) {
        return std::vector<BankRecord>{{.Blz = "10000000", .Name = name, .Place = "Berlin", .Method = "00"}};
    };
    test::WriteBankFile(In("blz_20261207.txt"), bank("Bank Dezember"));
    test::WriteBankFile(In("blz_20270308.txt"), bank("Bank März"));              // its day has not come
    test::WriteBankFile(In("blz_20261208.txt.part"), bank("Bank halb"));         // being installed
    test::WriteBankFile(In("blz_20261209.txt.rolledback"), bank("Bank zurück")); // rolled back
    test::WriteBankFile(In("blz_20261199.txt"), bank("Bank Unmöglich"));         // no real day
    // A copy in progress: half a record at its end.
    test::WriteBankFile(In("blz_20261210.txt"), bank("Bank kopiert"));
    std::filesystem::resize_file(In("blz_20261210.txt"), 100);
    OfficialData data = OfficialData::Load(kToday);
    EXPECT_EQ(data.Banks.Find("10000000")->Name, "Bank Dezember");
    EXPECT_EQ(data.BanksEdition.Path, In("blz_20261207.txt"));

    // The copy finishes under the same name: a new fingerprint, and the whole file is read.
    const std::string before = OfficialData::Fingerprint(kToday);
    test::WriteBankFile(In("blz_20261210.txt"), bank("Bank kopiert"));
    EXPECT_NE(OfficialData::Fingerprint(kToday), before);
    data = OfficialData::Load(kToday);
    EXPECT_EQ(data.Banks.Find("10000000")->Name, "Bank kopiert");

    // A broken newest edition is passed over with a line saying why.
    std::ofstream(In("blz_20261211.txt"), std::ios::binary) << std::string(168, 'x') << "\r\n";
    data = OfficialData::Load(kToday);
    EXPECT_EQ(data.Banks.Find("10000000")->Name, "Bank kopiert");
    ASSERT_EQ(data.PassedOver.size(), 1u);
    EXPECT_NE(data.PassedOver[0].find("blz_20261211.txt:1: not a Bundesbank directory record"), std::string::npos);
}

TEST_F(OfficialDataTest, FoldersComeInOrderAndTheOwnOneWins)
{
    const auto other = std::filesystem::temp_directory_path() / ("orvel-official-env-" + std::to_string(getpid()));
    std::filesystem::create_directories(other);
    test::WriteSclFile((other / "scl_20261204.csv").string(), "04.12.2026", {{"BNPAFRPP", "Aus der Umgebung"}});
    test::WriteSclFile(In("scl_20261204.csv"), "04.12.2026", {{"BNPAFRPP", "Aus --data-dir"}});
    const test::ScopedEnvironment env("ORVELWDDX_DATA_DIR", other.c_str());
    EXPECT_EQ(OfficialData::Load(kToday).Scl->Find("BNPAFRPP")->Name, "Aus --data-dir");
    SetDataDir("");
    EXPECT_EQ(DataFolders(), std::vector<std::string>{other.string()});
    EXPECT_EQ(OfficialData::Load(kToday).Scl->Find("BNPAFRPP")->Name, "Aus der Umgebung");
    {
        const test::ScopedEnvironment none("ORVELWDDX_DATA_DIR", nullptr);
        const test::ScopedEnvironment home("XDG_DATA_HOME", "/nonexistent-home");
        EXPECT_EQ(DataFolders(), (std::vector<std::string>{"/nonexistent-home/OrvelWddx", "/var/lib/orvelwddx"}));
    }
    std::filesystem::remove_all(other);
}

TEST_F(OfficialDataTest, SupersededAfterTheStatedEndOrThirteenWeeks)
{
    const auto date = [](int y, int m, int d) { return CivilDate(y, m, d); };
    struct Case
    {
        std::time_t From, Until;
        bool Superseded;
    };
    for (const Case& c : std::vector<Case>{
             {date(2026, 9, 7), 0, true}, // 13 weeks: superseded from 2026-12-07
             {date(2026, 9, 12), 0, false},
             {date(2026, 12, 7), date(2027, 3, 7), false},
             {date(2026, 9, 7), date(2026, 12, 10), true},
             {date(2026, 9, 7), date(2026, 12, 11), false},
         })
        EXPECT_EQ(Superseded(c.From, c.Until, kToday), c.Superseded) << c.From << " " << c.Until;

    // The state file names the edition's end and when it was fetched; a broken one means "not known".
    test::WriteBankFile(In("blz_20260907.txt"), {{.Blz = "10000000", .Name = "Bank", .Method = "00"}});
    std::ofstream(In("editions.json"))
        << R"({"bundesbank": {"file": "blz_20260907.txt", "valid_from": "2026-09-07", "valid_until": "2027-03-07",)"
        << R"( "fetched_at": "2026-12-11T06:00:00+01:00", "result": "installed"}})";
    const std::vector<Edition> editions = InstalledEditions(DataSource::Bundesbank, kToday);
    ASSERT_EQ(editions.size(), 1u);
    EXPECT_EQ(editions[0].Until, date(2027, 3, 7));
    EXPECT_EQ(DescribeEdition(editions[0]), "gültig ab 07.09.2026 bis 07.03.2027, geladen am 11.12.2026 06:00");
    std::ofstream(In("editions.json")) << "{\"bundesbank\": ";
    EXPECT_EQ(InstalledEditions(DataSource::Bundesbank, kToday)[0].Until, 0);
}

} // namespace
} // namespace orvel::rules
