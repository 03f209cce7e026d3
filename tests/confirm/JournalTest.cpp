#include "confirm/Journal.h"
#include "confirm/Confirm.h"
#include "support/FileSizeLimit.h"
#include "support/FixtureServer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvel::confirm {
namespace {

class JournalTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Folder =
            std::filesystem::temp_directory_path() / ("orvel-journal-" + std::to_string(::getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(Folder);
        Path = (Folder / "OrvelWddx" / "journal.sqlite").string();
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    static Record Sample(const std::string& foreign, std::string raw = "<answer/>")
    {
        Record record;
        record.Kind = "confirm";
        record.Service = "vies";
        record.Endpoint = "http://127.0.0.1/vies";
        record.OwnId = "DE123456789";
        record.ForeignId = foreign;
        record.Name = "Müller & Söhne";
        record.Status = "valid";
        record.Message = "Die USt-IdNr. ist gültig.";
        record.Matches = "Name=1";
        record.RequestId = "WAPI1";
        record.Tries = 1;
        record.Raw = std::move(raw);
        return record;
    }

    std::filesystem::path Folder;
    std::string Path;
};

TEST_F(JournalTest, KeepsEveryFieldWithTimeAndHashInAPrivateFile)
{
    {
        Journal journal(Path);
        const std::string raw("bytes\0with nul", 14);
        const int64_t id = journal.Append(Sample("ATU12345678", raw));
        const Record record = *journal.Find(id);
        EXPECT_EQ(record.Name, "Müller & Söhne");
        EXPECT_EQ(record.Raw, raw);
        EXPECT_EQ(record.RawSha256, Sha256Hex(raw));
        EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(record.TimeUtc.size(), std::string("2026-12-10T21:05:09Z").size());
        EXPECT_EQ(record.TimeUtc.back(), 'Z');
        EXPECT_EQ(record.TimeLocal.size(), std::string("2026-12-10T22:05:09+01:00").size());
        EXPECT_EQ(journal.IntegrityCheck(), "ok");
    }
    for (const std::string& file : {Path, Path + "-wal"})
        if (std::filesystem::exists(file)) {
            struct stat info
            {
            };
            ASSERT_EQ(::stat(file.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
        }
}

TEST_F(JournalTest, RecordsCannotBeChangedOrRemoved)
{
    Journal journal(Path);
    journal.Append(Sample("ATU12345678"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path.c_str(), &db), SQLITE_OK);
    for (const char* sql : {"UPDATE records SET status = 'invalid'", "DELETE FROM records"}) {
        char* message = nullptr;
        EXPECT_NE(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << sql;
        EXPECT_STREQ(message, "the journal is append-only");
        sqlite3_free(message);
    }
    sqlite3_close(db);
    EXPECT_EQ(journal.Find(1)->Status, "valid");
}

TEST_F(JournalTest, FiltersByDayAndId)
{
    Journal journal(Path);
    journal.Append(Sample("ATU12345678"));
    journal.Append(Sample("FR40303265045"));
    const std::string today = journal.Find(1)->TimeUtc.substr(0, 10);
    struct Row
    {
        JournalFilter Filter;
        size_t Count;
    };
    for (const Row& row : std::vector<Row>{{{}, 2},
                                           {{today, today, ""}, 2},
                                           {{"", "2000-01-01", ""}, 0},
                                           {{"2999-01-01", "", ""}, 0},
                                           {{"", "", "FR40303265045"}, 1}}) {
        SCOPED_TRACE(row.Filter.From + "|" + row.Filter.To + "|" + row.Filter.ForeignId);
        EXPECT_EQ(journal.Read(row.Filter).size(), row.Count);
    }
}

TEST_F(JournalTest, AFullDiskFailsTheRecordAndKeepsEarlierOnes)
{
    {
        Journal journal(Path);
        for (int i = 0; i < 3; ++i)
            journal.Append(Sample("ATU1234567" + std::to_string(i)));
        const auto used = std::filesystem::file_size(Path) + std::filesystem::file_size(Path + "-wal");
        test::ScopedFileSizeLimit full(used + 4096);
        EXPECT_THROW(journal.Append(Sample("ATU99999999", std::string(1 << 20, 'x'))), JournalError);
    }
    Journal reopened(Path);
    EXPECT_EQ(reopened.IntegrityCheck(), "ok");
    const std::vector<Record> records = reopened.Read({});
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.back().ForeignId, "ATU12345672");
}

TEST_F(JournalTest, AConfirmationWithoutItsRecordFailsLoudly)
{
    test::FixtureServer vies([](const test::Request&) {
        return test::Reply::Status("HTTP/1.1 503 Service Unavailable", std::string(1 << 20, 'x'));
    });
    Journal journal(Path);
    journal.Append(Sample("ATU12345678"));
    Settings settings;
    settings.ViesUrl = "http://" + vies.HostPort() + "/vies";
    settings.Retry.Tries = 1;
    const auto used = std::filesystem::file_size(Path) + std::filesystem::file_size(Path + "-wal");
    test::ScopedFileSizeLimit full(used + 4096);
    try {
        Confirm({"ATU12345678", "DE123456789", "", "", "", "", ""}, settings, journal);
        ADD_FAILURE() << "the confirmation reported success without its record";
    } catch (const JournalError& error) {
        EXPECT_NE(std::string(error.what()).find(Path), std::string::npos) << error.what();
    }
}

// A child appends confirmations and names each one it has committed; it dies by SIGKILL in the middle of the batch.
TEST_F(JournalTest, SurvivesAKillDuringABatch)
{
    std::filesystem::create_directories(Folder);
    int ids[2];
    ASSERT_EQ(::pipe(ids), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ids[0]);
        test::FixtureServer vies([](const test::Request&) {
            return test::Reply::Ok(
                "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Body>"
                "<ns2:checkVatApproxResponse xmlns:ns2=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\">"
                "<ns2:requestDate>2026-12-10+01:00</ns2:requestDate><ns2:valid>true</ns2:valid>"
                "<ns2:requestIdentifier>WAPI</ns2:requestIdentifier></ns2:checkVatApproxResponse>"
                "</env:Body></env:Envelope>" +
                std::string(20000, ' '));
        });
        Settings settings;
        settings.ViesUrl = "http://" + vies.HostPort() + "/vies";
        Journal journal(Path);
        for (;;) {
            const int64_t id = journal.Append(Sample("ATU12345678", std::string(30000, 'r')));
            (void)Confirm({"ATU12345678", "DE123456789", "Muster", "", "", "", ""}, settings, journal);
            if (::write(ids[1], &id, sizeof id) != sizeof id)
                ::_exit(1);
        }
    }
    ::close(ids[1]);
    std::vector<int64_t> committed;
    int64_t id = 0;
    while (committed.size() < 40 && ::read(ids[0], &id, sizeof id) == sizeof id)
        committed.push_back(id);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ids[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(committed.size(), 40u);

    Journal journal(Path);
    EXPECT_EQ(journal.IntegrityCheck(), "ok");
    for (int64_t written : committed) {
        const std::optional<Record> record = journal.Find(written);
        ASSERT_TRUE(record) << written;
        EXPECT_EQ(record->Raw, std::string(30000, 'r'));
        EXPECT_EQ(record->RawSha256, Sha256Hex(record->Raw));
        const std::optional<Record> confirmation = journal.Find(written + 1);
        ASSERT_TRUE(confirmation) << written + 1;
        EXPECT_EQ(confirmation->Status, "valid");
        EXPECT_EQ(confirmation->RawSha256, Sha256Hex(confirmation->Raw));
    }
}

// What a person with the sqlite3 tool can do to the file, each found by the chain check at the record it hits.
TEST_F(JournalTest, TamperingIsFoundAtTheFirstRecordThatNoLongerFits)
{
    const std::string invalidToValid =
        "DROP TRIGGER records_no_update; UPDATE records SET status = 'valid', raw = '<valid>true</valid>', "
        "raw_sha256 = '" +
        Sha256Hex("<valid>true</valid>") +
        "' WHERE id = 2;"
        "CREATE TRIGGER records_no_update BEFORE UPDATE ON records "
        "BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END;";
    const std::string restoreDelete = "CREATE TRIGGER records_no_delete BEFORE DELETE ON records "
                                      "BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END;";
    struct Row
    {
        const char* Label;
        std::string Sql;
        int64_t FirstBad;
        const char* Says;
    };
    const Row rows[] = {
        {"a changed field, trigger put back",
         "DROP TRIGGER records_no_update; UPDATE records SET name = 'Evil' WHERE id = 2;"
         "CREATE TRIGGER records_no_update BEFORE UPDATE ON records "
         "BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END;",
         2, "passt nicht in die Kette"},
        {"a verdict rewritten with its raw answer and hash", invalidToValid, 2, "passt nicht in die Kette"},
        {"a deleted record", "DROP TRIGGER records_no_delete; DELETE FROM records WHERE id = 2;" + restoreDelete, 3,
         "fehlt Eintrag 2"},
        {"the last record deleted", "DROP TRIGGER records_no_delete; DELETE FROM records WHERE id = 3;" + restoreDelete,
         3, "fehlen am Ende"},
        {"a dropped trigger", "DROP TRIGGER records_no_update;", 0, "records_no_update"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Label);
        std::filesystem::remove_all(Folder);
        {
            Journal journal(Path);
            for (const char* id : {"ATU12345678", "FR40303265045", "NL004495445B01"})
                journal.Append(Sample(id));
            EXPECT_TRUE(journal.VerifyChain().Ok) << journal.VerifyChain().Reason;
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Path.c_str(), &db), SQLITE_OK);
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db, row.Sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << message;
        sqlite3_free(message);
        sqlite3_close(db);

        const Journal reopened(Path); // opening again puts nothing right
        const ChainCheck check = reopened.VerifyChain();
        EXPECT_FALSE(check.Ok);
        EXPECT_EQ(check.FirstBad, row.FirstBad);
        EXPECT_NE(check.Reason.find(row.Says), std::string::npos) << check.Reason;
    }
}

TEST_F(JournalTest, AJournalFromBeforeTheChainIsChainedOnceInOrder)
{
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path.c_str(), &db), SQLITE_OK);
    const char* old = R"sql(
CREATE TABLE records (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time_utc TEXT NOT NULL, time_local TEXT NOT NULL, kind TEXT NOT NULL,
    service TEXT NOT NULL, endpoint TEXT NOT NULL, own_id TEXT NOT NULL, foreign_id TEXT NOT NULL,
    name TEXT NOT NULL, company_type TEXT NOT NULL, street TEXT NOT NULL, zip TEXT NOT NULL, city TEXT NOT NULL,
    status TEXT NOT NULL, message TEXT NOT NULL, fault TEXT NOT NULL, valid_from TEXT NOT NULL, valid_to TEXT NOT NULL,
    matches TEXT NOT NULL, request_id TEXT NOT NULL, request_time TEXT NOT NULL, tries INTEGER NOT NULL,
    raw BLOB NOT NULL, raw_sha256 TEXT NOT NULL);
CREATE TRIGGER records_no_update BEFORE UPDATE ON records BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END;
CREATE TRIGGER records_no_delete BEFORE DELETE ON records BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END;
INSERT INTO records VALUES (NULL,'2026-12-01T10:00:00Z','2026-12-01T11:00:00+01:00','confirm','vies','e','DE1','ATU1',
    'n','','','','','valid','m','','','','','','',1,'<a/>','29114363f749a0226b6988dda3ca2492a954117ab6b5f382706c20300dabc079');
INSERT INTO records VALUES (NULL,'2026-12-02T10:00:00Z','2026-12-02T11:00:00+01:00','confirm','vies','e','DE1','ATU2',
    'n','','','','','invalid','m','','','','','','',1,'<b/>','c5a1c182c87ac852d7d4621a27899d9d002b02dd501be9355d1fc4f58e9ccc7f');
)sql";
    ASSERT_EQ(sqlite3_exec(db, old, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ::chmod(Path.c_str(), 0644);

    Journal journal(Path);
    EXPECT_NE(journal.Notice().find("Modus 0644"), std::string::npos) << journal.Notice();
    struct stat info
    {
    };
    ASSERT_EQ(::stat(Path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::vector<Record> records = journal.Read({});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Chain, ChainValue("", records[0]));
    EXPECT_EQ(records[1].Chain, ChainValue(records[0].Chain, records[1]));
    const int64_t next = journal.Append(Sample("NL004495445B01"));
    EXPECT_EQ(next, 3);
    EXPECT_EQ(journal.Find(next)->Chain, ChainValue(records[1].Chain, *journal.Find(next)));
    EXPECT_TRUE(journal.VerifyChain().Ok) << journal.VerifyChain().Reason;
    EXPECT_TRUE(Journal(Path).Notice().empty());
    EXPECT_EQ(Journal(Path).Find(1)->Chain, records[0].Chain) << "chained once, not again";
}

} // namespace
} // namespace orvel::confirm
