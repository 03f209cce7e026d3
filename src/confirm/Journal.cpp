#include "confirm/Journal.h"

#include <openssl/evp.h>
#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvel::confirm {
namespace {

// Triggers keep the program from ever changing or removing a record, by mistake or by a later version. A person can
// drop them; the chain and the check for the triggers make that visible. Made only with a new table, so that a
// dropped trigger stays missing for the check to find.
constexpr const char* kTable = R"sql(
CREATE TABLE IF NOT EXISTS records (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time_utc TEXT NOT NULL, time_local TEXT NOT NULL, kind TEXT NOT NULL,
    service TEXT NOT NULL, endpoint TEXT NOT NULL, own_id TEXT NOT NULL, foreign_id TEXT NOT NULL,
    name TEXT NOT NULL, company_type TEXT NOT NULL, street TEXT NOT NULL, zip TEXT NOT NULL, city TEXT NOT NULL,
    status TEXT NOT NULL, message TEXT NOT NULL, fault TEXT NOT NULL, valid_from TEXT NOT NULL, valid_to TEXT NOT NULL,
    matches TEXT NOT NULL, request_id TEXT NOT NULL, request_time TEXT NOT NULL, tries INTEGER NOT NULL,
    raw BLOB NOT NULL, raw_sha256 TEXT NOT NULL,
    qualified INTEGER NOT NULL DEFAULT 0, reference TEXT NOT NULL DEFAULT '', retry_of INTEGER NOT NULL DEFAULT 0,
    chain TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS records_foreign ON records(foreign_id);
)sql";

constexpr const char* kTriggers = R"sql(
CREATE TRIGGER IF NOT EXISTS records_no_update BEFORE UPDATE ON records
    BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END;
CREATE TRIGGER IF NOT EXISTS records_no_delete BEFORE DELETE ON records
    BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END;
)sql";

constexpr const char* kTriggerNames[] = {"records_no_update", "records_no_delete"};

constexpr const char* kColumns =
    "id, time_utc, time_local, kind, service, endpoint, own_id, foreign_id, name, company_type, street, zip, city, "
    "status, message, fault, valid_from, valid_to, matches, request_id, request_time, tries, raw, raw_sha256, "
    "qualified, reference, retry_of, chain";

class Statement
{
public:
    Statement(sqlite3* db, const std::string& sql, const std::string& path) : Db(db), Path(path)
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &Stmt, nullptr) != SQLITE_OK)
            Fail("lesen");
    }
    ~Statement() { sqlite3_finalize(Stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Bind(int index, const std::string& text)
    {
        sqlite3_bind_text(Stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
    void BindBlob(int index, const std::string& bytes)
    {
        sqlite3_bind_blob(Stmt, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    void Bind(int index, int64_t value) { sqlite3_bind_int64(Stmt, index, value); }
    // True while there is a row.
    bool Step(const char* doing)
    {
        const int rc = sqlite3_step(Stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            Fail(doing);
        return false;
    }
    std::string Text(int column) const
    {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(Stmt, column));
        return data ? std::string(data, size_t(sqlite3_column_bytes(Stmt, column))) : std::string();
    }
    int64_t Int(int column) const { return sqlite3_column_int64(Stmt, column); }

    [[noreturn]] void Fail(const char* doing) const
    {
        throw JournalError("Das Journal " + Path + " lässt sich nicht " + doing + ": " + sqlite3_errmsg(Db));
    }

private:
    sqlite3* Db;
    const std::string& Path;
    sqlite3_stmt* Stmt = nullptr;
};

void Execute(sqlite3* db, const char* sql, const std::string& path, const char* doing)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw JournalError("Das Journal " + path + " lässt sich nicht " + doing + ": " + text);
    }
}

std::string Stamp(std::time_t now, bool utc)
{
    std::tm parts{};
    if (utc)
        gmtime_r(&now, &parts);
    else
        localtime_r(&now, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::string stamp = text;
    if (utc)
        return stamp + "Z";
    const long offset = parts.tm_gmtoff / 60;
    const long minutes = offset < 0 ? -offset : offset;
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return stamp + text;
}

Record ReadRow(const Statement& row)
{
    Record record;
    int c = 0;
    record.Id = row.Int(c++);
    for (std::string* field :
         {&record.TimeUtc,   &record.TimeLocal, &record.Kind,    &record.Service,     &record.Endpoint,
          &record.OwnId,     &record.ForeignId, &record.Name,    &record.CompanyType, &record.Street,
          &record.Zip,       &record.City,      &record.Status,  &record.Message,     &record.Fault,
          &record.ValidFrom, &record.ValidTo,   &record.Matches, &record.RequestId,   &record.RequestTime})
        *field = row.Text(c++);
    record.Tries = int(row.Int(c++));
    record.Raw = row.Text(c++);
    record.RawSha256 = row.Text(c++);
    record.Qualified = row.Int(c++) != 0;
    record.Reference = row.Text(c++);
    record.RetryOf = row.Int(c++);
    record.Chain = row.Text(c++);
    return record;
}

bool HasColumn(sqlite3* db, const char* column, const std::string& path)
{
    Statement info(db, "PRAGMA table_info(records)", path);
    while (info.Step("lesen"))
        if (info.Text(1) == column)
            return true;
    return false;
}

bool HasTable(sqlite3* db, const std::string& path)
{
    Statement query(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'records'", path);
    return query.Step("lesen");
}

// Journals from before the chain: the new columns, and every record chained in its order. The update guard steps
// aside for that one transaction only.
void AddChain(sqlite3* db, const std::string& path)
{
    Execute(db, "BEGIN IMMEDIATE", path, "umstellen");
    try {
        Execute(db,
                "ALTER TABLE records ADD COLUMN qualified INTEGER NOT NULL DEFAULT 0;"
                "ALTER TABLE records ADD COLUMN reference TEXT NOT NULL DEFAULT '';"
                "ALTER TABLE records ADD COLUMN retry_of INTEGER NOT NULL DEFAULT 0;"
                "ALTER TABLE records ADD COLUMN chain TEXT NOT NULL DEFAULT '';"
                "DROP TRIGGER IF EXISTS records_no_update;",
                path, "umstellen");
        std::vector<Record> records;
        {
            Statement query(db, std::string("SELECT ") + kColumns + " FROM records ORDER BY id", path);
            while (query.Step("lesen"))
                records.push_back(ReadRow(query));
        }
        std::string previous;
        for (Record& record : records) {
            record.Chain = ChainValue(previous, record);
            Statement update(db, "UPDATE records SET chain = ?1 WHERE id = ?2", path);
            update.Bind(1, record.Chain);
            update.Bind(2, record.Id);
            update.Step("umstellen");
            previous = record.Chain;
        }
        Execute(db, kTriggers, path, "umstellen");
        Execute(db, "COMMIT", path, "umstellen");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace

std::string Sha256Hex(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i)
        hex.append({kHex[digest[i] >> 4], kHex[digest[i] & 15]});
    return hex;
}

std::string ChainValue(const std::string& Previous, const Record& record)
{
    // Each field as its name, its length and its bytes: no two different records read alike.
    std::string content = Previous + "\n";
    const auto add = [&content](const char* name, const std::string& value) {
        content.append(name).append("=").append(std::to_string(value.size())).append(":").append(value).append("\n");
    };
    add("id", std::to_string(record.Id));
    add("time_utc", record.TimeUtc);
    add("time_local", record.TimeLocal);
    add("kind", record.Kind);
    add("service", record.Service);
    add("endpoint", record.Endpoint);
    add("own_id", record.OwnId);
    add("foreign_id", record.ForeignId);
    add("name", record.Name);
    add("company_type", record.CompanyType);
    add("street", record.Street);
    add("zip", record.Zip);
    add("city", record.City);
    add("reference", record.Reference);
    add("retry_of", std::to_string(record.RetryOf));
    add("status", record.Status);
    add("qualified", record.Qualified ? "1" : "0");
    add("message", record.Message);
    add("fault", record.Fault);
    add("valid_from", record.ValidFrom);
    add("valid_to", record.ValidTo);
    add("matches", record.Matches);
    add("request_id", record.RequestId);
    add("request_time", record.RequestTime);
    add("tries", std::to_string(record.Tries));
    add("raw", record.Raw);
    add("raw_sha256", record.RawSha256);
    return Sha256Hex(content);
}

std::string Journal::DefaultPath()
{
    if (const char* file = std::getenv("ORVELWDDX_JOURNAL"); file && *file)
        return file;
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = data && *data ? data : std::string(home ? home : "") + "/.local/share";
    return base + "/OrvelWddx/journal.sqlite";
}

Journal::Journal(std::string path) : FPath(std::move(path))
{
    const std::filesystem::path folder = std::filesystem::path(FPath).parent_path();
    std::error_code ignored;
    if (!folder.empty() && !std::filesystem::exists(folder, ignored)) {
        std::filesystem::create_directories(folder, ignored);
        ::chmod(folder.c_str(), 0700);
    }
    // Made here with mode 0600, so that SQLite, which gives its WAL files the database's mode, never makes a
    // readable one.
    const int fd = ::open(FPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw JournalError("Das Journal " + FPath + " lässt sich nicht öffnen: " + std::strerror(errno));
    struct stat info
    {
    };
    if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(info.st_mode & 07777));
        if (::fchmod(fd, 0600) == 0)
            FNotice = "Das Journal " + FPath + " war für andere zugänglich (Modus " + mode + "); jetzt 0600.";
        else
            FNotice = "Das Journal " + FPath + " ist für andere zugänglich (Modus " + mode +
                      ") und lässt sich nicht auf 0600 setzen: " + std::strerror(errno);
        for (const char* suffix : {"-wal", "-shm"})
            ::chmod((FPath + suffix).c_str(), 0600);
    }
    ::close(fd);
    if (sqlite3_open_v2(FPath.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        const std::string message = FDb ? sqlite3_errmsg(FDb) : "kein Speicher";
        sqlite3_close(FDb);
        throw JournalError("Das Journal " + FPath + " lässt sich nicht öffnen: " + message);
    }
    sqlite3_busy_timeout(FDb, 10000);
    try {
        Execute(FDb, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", FPath, "öffnen");
        if (!HasTable(FDb, FPath)) {
            Execute(FDb, "BEGIN IMMEDIATE", FPath, "anlegen");
            Execute(FDb, kTable, FPath, "anlegen");
            Execute(FDb, kTriggers, FPath, "anlegen");
            Execute(FDb, "COMMIT", FPath, "anlegen");
        } else if (!HasColumn(FDb, "chain", FPath)) {
            AddChain(FDb, FPath);
        }
    } catch (...) {
        sqlite3_close(FDb);
        throw;
    }
}

Journal::~Journal()
{
    sqlite3_close(FDb);
}

int64_t Journal::Append(Record record)
{
    const std::time_t now = std::time(nullptr);
    record.TimeUtc = Stamp(now, true);
    record.TimeLocal = Stamp(now, false);
    record.RawSha256 = Sha256Hex(record.Raw);
    Execute(FDb, "BEGIN IMMEDIATE", FPath, "schreiben");
    try {
        {
            // The id AUTOINCREMENT gives next, which the chain value covers, and the value it follows.
            Statement last(FDb,
                           "SELECT (SELECT seq FROM sqlite_sequence WHERE name = 'records'), "
                           "(SELECT chain FROM records ORDER BY id DESC LIMIT 1)",
                           FPath);
            last.Step("schreiben");
            record.Id = last.Int(0) + 1;
            record.Chain = ChainValue(last.Text(1), record);
        }
        Statement insert(FDb,
                         std::string("INSERT INTO records (") + kColumns +
                             ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                         FPath);
        int i = 1;
        insert.Bind(i++, record.Id);
        for (const std::string* field :
             {&record.TimeUtc,   &record.TimeLocal, &record.Kind,    &record.Service,     &record.Endpoint,
              &record.OwnId,     &record.ForeignId, &record.Name,    &record.CompanyType, &record.Street,
              &record.Zip,       &record.City,      &record.Status,  &record.Message,     &record.Fault,
              &record.ValidFrom, &record.ValidTo,   &record.Matches, &record.RequestId,   &record.RequestTime})
            insert.Bind(i++, *field);
        insert.Bind(i++, int64_t(record.Tries));
        insert.BindBlob(i++, record.Raw);
        insert.Bind(i++, record.RawSha256);
        insert.Bind(i++, int64_t(record.Qualified));
        insert.Bind(i++, record.Reference);
        insert.Bind(i++, record.RetryOf);
        insert.Bind(i++, record.Chain);
        insert.Step("schreiben");
        const int64_t id = sqlite3_last_insert_rowid(FDb);
        Execute(FDb, "COMMIT", FPath, "schreiben");
        return id;
    } catch (...) {
        sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<Record> Journal::Read(const JournalFilter& filter) const
{
    // Days compare as the start of the UTC stamp; "To" takes its whole day.
    Statement query(FDb,
                    std::string("SELECT ") + kColumns +
                        " FROM records WHERE (?1 = '' OR time_utc >= ?1) AND (?2 = '' OR substr(time_utc, 1, "
                        "length(?2)) <= ?2) AND (?3 = '' OR foreign_id = ?3) ORDER BY id",
                    FPath);
    query.Bind(1, filter.From);
    query.Bind(2, filter.To);
    query.Bind(3, filter.ForeignId);
    std::vector<Record> records;
    while (query.Step("lesen"))
        records.push_back(ReadRow(query));
    return records;
}

std::optional<Record> Journal::Find(int64_t id) const
{
    Statement query(FDb, std::string("SELECT ") + kColumns + " FROM records WHERE id = ?1", FPath);
    query.Bind(1, id);
    if (!query.Step("lesen"))
        return std::nullopt;
    return ReadRow(query);
}

ChainCheck Journal::VerifyChain() const
{
    for (const char* trigger : kTriggerNames) {
        Statement query(FDb, "SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND name = ?1", FPath);
        query.Bind(1, std::string(trigger));
        if (!query.Step("prüfen"))
            return {false, 0,
                    std::string("Der Schutz ") + trigger + " des Journals fehlt: es wurde von außen verändert."};
    }
    Statement query(FDb, std::string("SELECT ") + kColumns + " FROM records ORDER BY id", FPath);
    std::string previous;
    int64_t lastId = 0;
    while (query.Step("prüfen")) {
        const Record record = ReadRow(query);
        if (record.Id != lastId + 1)
            return {false, record.Id,
                    "Vor Eintrag " + std::to_string(record.Id) + " fehlt Eintrag " + std::to_string(lastId + 1) + "."};
        if (record.RawSha256 != Sha256Hex(record.Raw))
            return {false, record.Id,
                    "Eintrag " + std::to_string(record.Id) +
                        ": die gespeicherte Antwort passt nicht zu ihrem SHA-256."};
        if (record.Chain != ChainValue(previous, record))
            return {false, record.Id,
                    "Eintrag " + std::to_string(record.Id) +
                        " passt nicht in die Kette: er oder ein Eintrag davor wurde verändert."};
        previous = record.Chain;
        lastId = record.Id;
    }
    Statement sequence(FDb, "SELECT seq FROM sqlite_sequence WHERE name = 'records'", FPath);
    if (sequence.Step("prüfen") && sequence.Int(0) > lastId)
        return {false, lastId + 1,
                "Eintrag " + std::to_string(lastId + 1) + " und folgende fehlen am Ende des Journals."};
    return {};
}

std::vector<Record> Journal::Pending() const
{
    Statement query(FDb,
                    std::string("SELECT ") + kColumns +
                        " FROM records AS r WHERE kind = 'confirm' AND status = 'not-checked' AND fault != '' AND NOT "
                        "EXISTS (SELECT 1 FROM records AS later WHERE later.retry_of = r.id) ORDER BY id",
                    FPath);
    std::vector<Record> records;
    while (query.Step("lesen"))
        records.push_back(ReadRow(query));
    return records;
}

int Journal::Generation(const Record& record) const
{
    int generation = 0;
    for (int64_t before = record.RetryOf; before != 0 && generation < 1000; ++generation) {
        Statement query(FDb, "SELECT retry_of FROM records WHERE id = ?1", FPath);
        query.Bind(1, before);
        before = query.Step("lesen") ? query.Int(0) : 0;
    }
    return generation;
}

std::string Journal::IntegrityCheck() const
{
    Statement query(FDb, "PRAGMA integrity_check", FPath);
    std::string result;
    // Appended piecewise: g++ 12 at -O3 misreads "literal" + std::string as an overlapping memcpy (-Wrestrict).
    while (query.Step("prüfen")) {
        if (!result.empty())
            result += '\n';
        result += query.Text(0);
    }
    return result;
}

} // namespace orvel::confirm
