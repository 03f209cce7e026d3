#include "rules/TarvikChecks.h"
#include "BankFile.h"
#include "platform/Codepage.h"
#include "platform/Text.h"
#include "rules/PostalData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <latch>
#include <map>
#include <thread>

namespace orvel::rules {
namespace {

using test::BankRecord;

// Bank codes of our own, each with a check method whose examples the Bundesbank publishes.
const std::vector<BankRecord> kBanks = {
    {.Blz = "10000000", .Name = "Bank Null", .Place = "Berlin", .Method = "00", .Bic = "BNULDEBBXXX"},
    {.Blz = "10000000", .Name = "Bank Null", .Place = "Potsdam", .Method = "00", .Flag = '2'},
    {.Blz = "20000000", .Name = "M\xfcllerbank", .Place = "K\xf6ln", .Method = "87", .Bic = "MUELDEKK"},
    {.Blz = "30000000",
     .Name = "Bank Sechs",
     .Place = "Bonn",
     .Method = "06",
     .Deletion = '1',
     .Successor = "10000000"},
    {.Blz = "40000000", .Name = "Bank Einundf\xfcnfzig", .Place = "Hamm", .Method = "51", .Change = 'D'},
    {.Blz = "50000000", .Name = "Bank Neun", .Place = "Trier", .Method = "09"},
    {.Blz = "60000000", .Name = "Bank A Eins", .Place = "Ulm", .Method = "A1", .Bic = "BAEIDEM1ULM"},
    {.Blz = "70000000", .Name = "Bank Zehn", .Place = "Hof", .Method = "10"},
    {.Blz = "80000000", .Name = "Bank Dreiundsechzig", .Place = "Jena", .Method = "63"},
    {.Blz = "81000000", .Name = "Bank E Vier", .Place = "Gera", .Method = "E4"},
    // A method of the Bundesbank's form that nobody computes yet.
    {.Blz = "82000000", .Name = "Bank E Neun", .Place = "Gera", .Method = "E9"},
};

class TarvikChecksTest : public testing::Test
{
protected:
    static std::string Folder()
    {
        const auto folder = std::filesystem::temp_directory_path() / ("orvel-checks-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        return folder.string();
    }

    static void TearDownTestSuite() { std::filesystem::remove_all(Folder()); }

    // A directory dated today, so that no answer carries the note on old data.
    const BankDirectory Banks = BankDirectory::Load(test::WriteBankFile(Folder() + "/banks.txt", kBanks));
    const TarvikChecks Checks{Banks, Banks.Date()};
};

std::string Utf8(const std::string& windows1252)
{
    return ToUtf8(Widen(windows1252));
}

TEST_F(TarvikChecksTest, BankCodeAndAccountWithPublishedExamples)
{
    const struct
    {
        const char* Blz;
        const char* Kto;
        const char* Country;
        int32_t Result;
        const char* NewBlz = "";
    } cases[] = {
        {"10000000", "9290701", "DE", 0},
        {"10000000", "539290858", "DE", 0},
        {"10000000", "1501824", "", 0},
        {"10000000", "1501825", "DE", 11},
        {"10000000", "1501842", "DE", 11},
        {"20000000", "406", "DE", 0},
        {"20000000", "51768", "DE", 0},
        {"20000000", "10701590", "DE", 0},
        {"20000000", "10701591", "DE", 11},
        {"60000000", "10030005", "DE", 0},
        {"60000000", "1010030054", "de", 0},
        {"60000000", "10030001", "DE", 11},
        {"70000000", "12345008", "DE", 0},
        {"70000000", "12345009", "DE", 11},
        {"80000000", "123456600", "DE", 0},
        {"80000000", "1234566", "DE", 0},
        {"80000000", "1234567", "DE", 11},
        // E4: variant 1 as method 02, else variant 2 as method 00.
        {"81000000", "1501836", "DE", 0},
        {"81000000", "9290702", "DE", 0},
        {"81000000", "539290858", "DE", 0},
        {"81000000", "1501824", "DE", 0},
        {"81000000", "1501832", "DE", 0},
        {"81000000", "9290701", "DE", 0},
        {"81000000", "12345007", "DE", 11},
        {"81000000", "87654005", "DE", 11},
        // A method that cannot be computed never confirms an account.
        {"82000000", "1501836", "DE", 16},
        // Zeros are no account, whatever the method (87 used to overflow the stack in the library).
        {"20000000", "0000", "DE", 11},
        {"10000000", "0", "DE", 11},
        // No check digit: passed with a note.
        {"50000000", "12345", "DE", 1},
        // About to be deleted: passed, with the successor; deleted: -1, no successor named.
        {"30000000", "94012341", "DE", 2, "10000000"},
        {"30000000", "94012342", "DE", 11, "10000000"},
        {"40000000", "1156071", "DE", -1, "00000000"},
        {"99999999", "1", "DE", 12},
        {"1000000", "1", "DE", 13},
        {"1000000a", "1", "DE", 13},
        {"10000000", "", "DE", 14},
        {"10000000", "12345678901", "DE", 14},
        {"10000000", "12a", "DE", 14},
        {"10000000", "9290701", "CH", 15},
        // The window's first test pair, with or without leading zeros.
        {"89999999", "1234", "DE", 3},
        {"89999999", "0000001234", "DE", 3},
        {"89999999", "1235", "DE", 12},
        {"89999999", "000", "DE", 12},
        {"89999999", "01234", "DE", 3},
        {"12345", "1234567", "AT", 4},
        {"1234", "1", "AT", 13},
        {"12345", "123456789012", "AT", 14},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.Blz) + " " + entry.Kto + " " + entry.Country);
        const AccountAnswer answer = Checks.BlzKto(entry.Blz, entry.Kto, entry.Country);
        EXPECT_EQ(answer.Result, entry.Result) << Utf8(answer.ResultText);
        EXPECT_EQ(answer.NewBlz, entry.NewBlz);
        EXPECT_FALSE(answer.ResultText.empty());
    }
}

// The service's request threads and the command's offline batch share one TarvikChecks from its first check on.
// Without the method table filled before, two first checks at once broke the library's table (a crash in about one
// run of three of this test).
TEST_F(TarvikChecksTest, FirstChecksFromSeveralThreadsAtOnce)
{
    for (int round = 0; round < 5000; ++round) {
        const TarvikChecks checks(Banks, Banks.Date());
        std::latch start(4);
        std::vector<std::jthread> threads;
        std::vector<int32_t> results(4, -1);
        for (size_t i = 0; i < results.size(); ++i)
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                results[i] = checks.BlzKto("10000000", "9290701", "DE").Result;
            });
        threads.clear();
        ASSERT_EQ(results, std::vector<int32_t>(4, 0)) << "round " << round;
    }
}

TEST_F(TarvikChecksTest, PassedAccountCarriesBankIbanAndBic)
{
    const AccountAnswer answer = Checks.BlzKto("10000000", "9290701", "DE");
    EXPECT_EQ(answer.Result, 0);
    EXPECT_EQ(answer.ResultText, Ansi("Bankleitzahl und Kontonummer gültig"));
    EXPECT_EQ(answer.BankName, "Bank Null");
    EXPECT_EQ(answer.Iban, "DE37100000000009290701");
    EXPECT_EQ(answer.Bic, "BNULDEBBXXX");

    const AccountAnswer test = Checks.BlzKto("89999999", "1234", "DE");
    EXPECT_EQ(test.BankName, "Testbank");
    EXPECT_EQ(test.Iban, "DE32899999990000001234");
    EXPECT_NE(test.ResultText.find("Testdaten"), std::string::npos);

    EXPECT_EQ(Checks.BlzKto("12345", "1234567", "AT").Iban, "AT621234500001234567");
    EXPECT_EQ(Checks.BlzKto("10000000", "1501825", "DE").Iban, "");
}

TEST_F(TarvikChecksTest, OldDataIsSaidInEveryAnswerFromTheDirectory)
{
    // Older than a year says so; 13 weeks after its start an edition without a stated end is superseded.
    for (const auto& [days, said] :
         std::vector<std::pair<long, std::string>>{{400, "(Bankdaten vom "}, {91, "(Bankdaten gültig ab "}}) {
        const TarvikChecks later(Banks, Banks.Date() + days * 24 * 3600);
        EXPECT_EQ(later.Stale(), days > 365);
        EXPECT_TRUE(later.Superseded());
        const std::string note = Ansi(said + GermanDate(Banks.Date()) +
                                      (days > 365 ? ", älter als ein Jahr)" : ", neuere Ausgabe verfügbar)"));
        const struct
        {
            const char* Label;
            std::function<std::string(const TarvikChecks&)> Text;
            bool FromDirectory;
        } cases[] = {
            {"known", [](const TarvikChecks& c) { return c.BlzKto("10000000", "9290701", "DE").ResultText; }, true},
            {"wrong account", [](const TarvikChecks& c) { return c.BlzKto("10000000", "1501825", "DE").ResultText; },
             true},
            {"unknown bank code", [](const TarvikChecks& c) { return c.BlzKto("12345678", "1234", "DE").ResultText; },
             true},
            {"German IBAN", [](const TarvikChecks& c) { return c.Iban("DE37100000000009290701").ResultText; }, true},
            {"German IBAN, unknown bank code",
             [](const TarvikChecks& c) { return c.Iban("DE89370400440532013000").ResultText; }, true},
            {"known BIC", [](const TarvikChecks& c) { return c.Bic("MUELDEKK").ResultText; }, true},
            {"unknown BIC", [](const TarvikChecks& c) { return c.Bic("NONEDEFFXXX").BicName; }, true},
            {"IBAN of another bank than the BIC",
             [](const TarvikChecks& c) { return c.IbanBic("DE37100000000009290701", "MUELDEKK").Account.ResultText; },
             true},
            {"search", [](const TarvikChecks& c) { return c.Search("Bank", "DE", false).ResultText; }, true},
            {"search without hits", [](const TarvikChecks& c) { return c.Search("Nichts", "DE", false).ResultText; },
             true},
            {"foreign IBAN", [](const TarvikChecks& c) { return c.Iban("GB29NWBK60161331926819").ResultText; }, false},
            {"Austrian account", [](const TarvikChecks& c) { return c.BlzKto("12345", "1234567", "AT").ResultText; },
             false},
            {"malformed bank code", [](const TarvikChecks& c) { return c.BlzKto("1234", "1", "DE").ResultText; },
             false},
        };
        for (const auto& c : cases) {
            EXPECT_EQ(c.Text(later).find(note) != std::string::npos, c.FromDirectory)
                << c.Label << ": " << c.Text(later);
            EXPECT_EQ(c.Text(Checks).find(note), std::string::npos) << c.Label;
        }
    }
    EXPECT_FALSE(TarvikChecks(Banks, Banks.Date() + 90 * 24 * 3600).Superseded());
}

TEST_F(TarvikChecksTest, Iban)
{
    const struct
    {
        const char* Iban;
        int32_t Result;
        const char* BankName;
    } cases[] = {
        {"DE37100000000009290701", 0, "Bank Null"},
        {"de37 1000 0000 0009 2907 01", 0, "Bank Null"},
        {"DE32899999990000001234", 3, "Testbank"},
        {"DE03100000000001501825", 11, "Bank Null"}, // check digits fit, the account does not
        {"DE03100000000001501826", 24, ""},
        {"DE89370400440532013000", 12, ""}, // not in this directory
        {"GB29NWBK60161331926819", 0, ""},
        {"AT611904300234573201", 4, ""},
        {"XX29NWBK60161331926819", 21, ""},
        {"GB29NWBK6016133192681", 22, ""},
        {"GB29NWBK6016133192681X", 23, ""},
        {"NL99XAMF5326831071", 24, ""}, // mod 97 takes 99 for 02; no IBAN carries it
        {"", 20, ""},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Iban);
        const AccountAnswer answer = Checks.Iban(entry.Iban);
        EXPECT_EQ(answer.Result, entry.Result) << Utf8(answer.ResultText);
        EXPECT_EQ(answer.BankName, entry.BankName);
    }
    EXPECT_EQ(Checks.Iban("NL99XAMF5326831071").ResultText, Ansi("IBAN ungültig: Prüfziffern falsch"));
    EXPECT_EQ(Checks.Iban("de37 1000 0000 0009 2907 01").Iban, "DE37100000000009290701");
}

TEST_F(TarvikChecksTest, IbanWithBic)
{
    const struct
    {
        const char* Iban;
        const char* Bic;
        int32_t Result;
        int32_t Services;
    } cases[] = {
        {"DE37100000000009290701", "BNULDEBBXXX", 0, 1},
        {"DE37100000000009290701", "bnuldebb", 0, 1},     // the 8-character form of the same office
        {"DE37100000000009290701", "MUELDEKKXXX", 32, 1}, // another bank of the directory
        {"DE37100000000009290701", "NWBKGB2L", 32, 0},    // another country
        {"DE37100000000009290701", "BNULDEB", 30, 0},
        {"DE37100000000009290701", "BNULQQBB", 31, 0},
        {"GB29NWBK60161331926819", "NWBKGB2L", 0, 0},
        {"DE03100000000001501826", "BNULDEBBXXX", 24, 1}, // the IBAN's verdict comes first
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.Iban) + " " + entry.Bic);
        const IbanBicAnswer answer = Checks.IbanBic(entry.Iban, entry.Bic);
        EXPECT_EQ(answer.Account.Result, entry.Result) << Utf8(answer.Account.ResultText);
        EXPECT_EQ(answer.Bic.Sct, entry.Services);
        EXPECT_EQ(answer.Bic.Sdd, entry.Services);
        EXPECT_EQ(answer.Bic.B2b, entry.Services);
    }
    EXPECT_EQ(Checks.IbanBic("DE37100000000009290701", "MUELDEKKXXX").Bic.BicName, "M\xfcllerbank");
}

TEST_F(TarvikChecksTest, Bic)
{
    const BicAnswer known = Checks.Bic("MUELDEKK");
    EXPECT_EQ(known.Result, 0);
    EXPECT_EQ(known.BicName, "M\xfcllerbank");
    EXPECT_EQ(known.Sct + known.Sdd + known.B2b, 3);

    EXPECT_EQ(Checks.Bic("NWBKGB2L").Result, 0);
    EXPECT_EQ(Checks.Bic("NWBKGB2L").BicName, "");

    // A failed query names its reason behind "*", so that no caller takes it for a bank.
    const struct
    {
        const char* Bic;
        int32_t Result;
        std::string BicName;
    } failed[] = {
        {"ABC", 30, Ansi("*BIC ungültig: 8 oder 11 Buchstaben und Ziffern erwartet")},
        {"DEUTDEFF!!", 30, Ansi("*BIC ungültig: 8 oder 11 Buchstaben und Ziffern erwartet")},
        {"NWBKGB2", 30, Ansi("*BIC ungültig: 8 oder 11 Buchstaben und Ziffern erwartet")},
        {"NWBKXX2L", 31, Ansi("*BIC ungültig: unbekanntes Land: XX")},
        {"NONEDEFFXXX", 33, "*BIC nicht im Bankverzeichnis"},
    };
    for (const auto& entry : failed) {
        const BicAnswer answer = Checks.Bic(entry.Bic);
        EXPECT_EQ(answer.Result, entry.Result) << entry.Bic;
        EXPECT_EQ(answer.BicName, entry.BicName) << entry.Bic;
        EXPECT_EQ(answer.Sct + answer.Sdd + answer.B2b, 0) << entry.Bic;
    }
}

TEST_F(TarvikChecksTest, Card)
{
    const Verdict visa = Checks.Card("4111 1111 1111 1111");
    EXPECT_EQ(visa.Result, 0);
    EXPECT_EQ(visa.ResultText, Ansi("Kartennummer gültig (Visa)"));
    EXPECT_EQ(Checks.Card("4111111111111112").Result, 41);
    EXPECT_EQ(Checks.Card("12").Result, 40);
    // The text names the scheme, also where its length is wrong.
    const struct
    {
        const char* Number;
        int32_t Result;
        const char* Text;
    } cases[] = {
        {"2200 0000 0000 0004", 0, "Kartennummer gültig (Mir)"},
        {"3095 0000 0000 00", 0, "Kartennummer gültig (Diners Club)"},
        {"220000000000004", 43, "Kartennummer ungültig: falsche Länge: Mir"},
        {"3096000000000009", 42, "Kartennummer ungültig: unbekannter Herausgeber"},
    };
    for (const auto& entry : cases) {
        const Verdict answer = Checks.Card(entry.Number);
        EXPECT_EQ(answer.Result, entry.Result) << entry.Number;
        EXPECT_EQ(answer.ResultText, Ansi(entry.Text)) << entry.Number;
    }
}

TEST_F(TarvikChecksTest, Search)
{
    const struct
    {
        const char* Words;
        bool Fragments;
        std::vector<std::string> Banken;
    } cases[] = {
        {"bank null", false, {"10000000|BNULDEBBXXX|Bank Null|10100|Berlin", "10000000||Bank Null|10100|Potsdam"}},
        {"NULL potsdam", false, {"10000000||Bank Null|10100|Potsdam"}},
        {"nul", false, {}},
        {"nul potsd", true, {"10000000||Bank Null|10100|Potsdam"}},
        {"muellerbank", false, {"20000000|MUELDEKK|M\xfcllerbank|10100|K\xf6ln"}},
        {"M\xdcLLERBANK koeln", false, {"20000000|MUELDEKK|M\xfcllerbank|10100|K\xf6ln"}},
        {"hamm", false, {}}, // deleted bank codes are not offered
        {"", false, {}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Words);
        const SearchAnswer answer = Checks.Search(entry.Words, "DE", entry.Fragments);
        EXPECT_EQ(answer.Banken, entry.Banken);
        EXPECT_EQ(answer.Result, int32_t(entry.Banken.size()));
    }
    const SearchAnswer austria = Checks.Search("bank", "AT", false);
    EXPECT_TRUE(austria.Banken.empty());
    EXPECT_EQ(austria.ResultText, Ansi("Kein österreichisches Bankverzeichnis (OeNB) installiert"));
}

TEST(BankDirectory, RefusesWhatIsNoDirectory)
{
    const auto path = std::filesystem::temp_directory_path() / ("orvel-not-banks-" + std::to_string(getpid()));
    {
        std::ofstream out(path);
        out << "BLZ;Name\n10000000;Bank\n";
    }
    EXPECT_THROW(BankDirectory::Load(path.string()), std::runtime_error);
    std::filesystem::remove(path);
    EXPECT_THROW(BankDirectory::Load(path.string()), std::runtime_error);
}

TEST(BankDirectory, RefusesDamagedFilesNamingTheLine)
{
    const std::string good = test::Record({.Blz = "10000000", .Name = "Bank", .Method = "00"});
    const std::string row = "10000000\t2026-06-08\t\tBank\tBNULDEBBXXX\t00\t10100\tBerlin\tBank\n";
    const struct
    {
        const char* Label;
        std::string Text;
        const char* Error; // after the path; empty when the file loads
    } cases[] = {
        {"Bundesbank", good + "\r\n", ""},
        {"BuiltIn", "# head\n" + row, ""},
        {"DigitsOnly", std::string(5 << 20, '1') + "\n", ":1: not a Bundesbank directory record"},
        {"UnknownMethod", good + "\r\n" + good.substr(0, 150) + "ZZ" + good.substr(152) + "\r\n",
         ":2: unknown check-digit method \"ZZ\""},
        {"CutRecord", good + "\r\n" + good.substr(0, 100) + "\r\n", ":2: not a Bundesbank directory record"},
        {"BuiltInUnknownMethod", "# head\n" + row + "20000000\t2026-06-08\t\tBank\t\tZZ\t\t\t\n",
         ":3: unknown check-digit method \"ZZ\""},
        {"BuiltInFields", "# head\n10000000\t2026-06-08\tBank\n", ":2: not a bank directory row (9 fields expected)"},
        {"BuiltInDate", "# head\n" + std::string(row).replace(9, 10, "2026-6-8xx"), ":2: not a bank directory row"},
        {"Empty", "", " is empty"},
    };
    const auto path = std::filesystem::temp_directory_path() / ("orvel-bad-banks-" + std::to_string(getpid()));
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Label);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << entry.Text;
        try {
            const BankDirectory banks = BankDirectory::Load(path.string(), 1796860800);
            EXPECT_STREQ(entry.Error, "");
            EXPECT_EQ(banks.size(), 1u);
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(path.string() + entry.Error), std::string::npos) << error.what();
        }
    }
    std::filesystem::remove(path);
}

TEST(BankDirectory, DateFromTheFileName)
{
    EXPECT_EQ(BankDirectory::DateOf("/usr/share/ktoblzcheck/blz_20200420.txt"), 1587340800); // 2020-04-20 UTC
}

TEST(BankDirectory, SearchTextsFoldCaseUmlautsAndAccents)
{
    EXPECT_EQ(FoldForSearch("M\xfcnchen-S\xfc\x64"), "MUENCHEN SUED");
    EXPECT_EQ(FoldForSearch("Stra\xdf\x65 \xc4RZTE"), "STRASSE AERZTE");
    EXPECT_EQ(FoldForSearch("Cr\xe9\x64it Agricole, \xc7\x61ixa"), "CREDIT AGRICOLE  CAIXA");
}

// The built-in directory as a user in December 2026 meets it.
class BuiltInDirectoryTest : public testing::Test
{
protected:
    static constexpr std::time_t kDecember2026 = 1796860800; // 2026-12-10 UTC
    const BankDirectory Banks = BankDirectory::Load(BuiltInDataPath("bankleitzahlen.tsv"), kDecember2026);
    const TarvikChecks Checks{Banks, kDecember2026};
};

TEST_F(BuiltInDirectoryTest, BanksOfTodayAreKnownAndGoneOnesAreNot)
{
    const struct
    {
        const char* Blz;
        int32_t Result;
        const char* Name; // UTF-8; of a gone code: within the text
        const char* Bic = "";
    } cases[] = {
        {"10012345", 1, "Trade Republic Bank", "TRBKDEBBXXX"},
        {"10010178", 1, "Revolut Bank, Zweigniederlassung Deutschland", "REVODEB2XXX"},
        {"10010300", 1, "Klarna Bank German Branch", "KLRNDEBEXXX"},
        {"37019000", 1, "bunq Niederlassung Deutschland", "BUNQDE82XXX"},
        {"37027000", 1, "Openbank Deutschland", "SCFBDE33XXX"},
        {"10010123", 1, "Qonto Zweigniederlassung Deutschland", "QNTODEB2XXX"},
        {"10030200", 12, "Bankleitzahl unbekannt: nicht mehr im Bankverzeichnis (früher: Berlin Hyp)"},
        {"50030100", 12, "(früher: HKB Bank Frankfurt)"},
        {"10090603", 12, "(früher: apoBank)"},
        // New in 2026 and no method known for it: never confirmed.
        {"70013300", 16, "Raiffeisen-Landesbank Steiermark, Niederlassung München"},
        // Gone with the change of 2026-09-07.
        {"65461878", 12, "(früher: Raiffeisenbank Biberach -alt-)"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Blz);
        const AccountAnswer answer = Checks.BlzKto(entry.Blz, "0123456789", "DE");
        EXPECT_EQ(answer.Result, entry.Result) << Utf8(answer.ResultText);
        if (entry.Result == 12) {
            EXPECT_NE(Utf8(answer.ResultText).find(entry.Name), std::string::npos) << Utf8(answer.ResultText);
            EXPECT_TRUE(answer.BankName.empty());
        } else {
            EXPECT_EQ(Utf8(answer.BankName), entry.Name);
            EXPECT_EQ(answer.Bic, entry.Bic);
        }
    }
    const AccountAnswer iban = Checks.Iban("DE31100123450123456789");
    EXPECT_EQ(iban.Result, 1) << Utf8(iban.ResultText);
    EXPECT_EQ(iban.BankName, "Trade Republic Bank");
}

TEST_F(BuiltInDirectoryTest, IbanWithTheBanksCurrentBic)
{
    for (const auto& [blz, bic] : std::vector<std::pair<std::string, std::string>>{{"50330201", "RAISDEFFXXX"},
                                                                                   {"37027000", "SCFBDE33XXX"},
                                                                                   {"51210801", "SGSSDEFFXXX"},
                                                                                   {"12016836", "KFWIDEF2XXX"}}) {
        SCOPED_TRACE(blz);
        const std::string iban = Checks.BlzKto(blz, "123456", "DE").Iban;
        const IbanBicAnswer answer = Checks.IbanBic(iban, bic);
        EXPECT_EQ(answer.Account.Result, 1) << Utf8(answer.Account.ResultText);
        EXPECT_EQ(answer.Bic.Result, 0) << Utf8(answer.Bic.ResultText);
    }
}

TEST(BuiltInDirectory, SwitchesToTheNextSetAtMidnightInGermany)
{
    const std::string path = BuiltInDataPath("bankleitzahlen.tsv");
    constexpr std::time_t kNextSet = 1788732000; // 2026-09-07 00:00 CEST
    const struct
    {
        std::time_t Now;
        const char* Date;
        const char* Qonto;
        bool Biberach;
    } cases[] = {
        {kNextSet - 1, "08.06.2026", "OLINDA Zweigniederlassung Deutschland", true},
        {kNextSet, "07.09.2026", "Qonto Zweigniederlassung Deutschland", false},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Date);
        const BankDirectory banks = BankDirectory::Load(path, entry.Now);
        EXPECT_EQ(GermanDate(banks.Date()), entry.Date);
        ASSERT_NE(banks.Find("10010123"), nullptr);
        EXPECT_EQ(banks.Find("10010123")->Name, entry.Qonto);
        EXPECT_EQ(banks.Find("65461878") != nullptr, entry.Biberach);
        EXPECT_EQ(banks.FindGone("65461878") == nullptr, entry.Biberach);
        EXPECT_TRUE(banks.Source().BuiltIn);
    }
}

// The library writes to stderr for a method it lacks; the service's log is no place for that.
TEST_F(BuiltInDirectoryTest, EveryMethodOfTheDataIsComputedSilently)
{
    std::map<std::string, std::string> codeOfMethod;
    std::ifstream in(Banks.Path());
    for (std::string line; std::getline(in, line);)
        if (!line.starts_with("#")) {
            const std::string blz = line.substr(0, 8);
            if (const Bank* bank = Banks.Find(blz); bank && !bank->Method.empty())
                codeOfMethod.emplace(bank->Method, blz);
        }
    EXPECT_GE(codeOfMethod.size(), 90u);
    EXPECT_EQ(codeOfMethod.count("E4"), 1u);
    testing::internal::CaptureStderr();
    for (const auto& [method, blz] : codeOfMethod)
        for (const char* kto : {"1", "1501836", "539290858", "9999999999"}) {
            const AccountAnswer answer = Checks.BlzKto(blz, kto, "DE");
            EXPECT_NE(answer.Result, 16) << method;
        }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

} // namespace
} // namespace orvel::rules
