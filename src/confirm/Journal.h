#pragma once
// The journal of confirmations: an SQLite database that records are only ever appended to (WAL, synchronous=FULL,
// one transaction per record, file mode 0600). It is the business's proof that an id was checked, and when.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace orvel::confirm {

// The journal cannot be opened, written or read; what() is German, UTF-8, and names the file.
class JournalError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct Record
{
    int64_t Id = 0;        // given by Append
    std::string TimeUtc;   // "2026-12-10T21:05:09Z", given by Append
    std::string TimeLocal; // "2026-12-10T22:05:09+01:00", given by Append
    std::string Kind;      // "confirm" or "check"
    std::string Service;   // "vies", "bzst"
    std::string Endpoint;
    std::string OwnId;
    std::string ForeignId;
    std::string Name;
    std::string CompanyType;
    std::string Street;
    std::string Zip;
    std::string City;
    std::string Reference; // the caller's own (an invoice number, say)
    int64_t RetryOf = 0;   // the pending record this one asked again for
    std::string Status;    // "valid", "invalid", "not-checked"
    bool Qualified = false;
    std::string Message;
    std::string Fault; // the last transient fault of a confirmation left unchecked
    std::string ValidFrom;
    std::string ValidTo;
    std::string Matches; // "Name=A;Street=B"
    std::string RequestId;
    std::string RequestTime;
    int Tries = 0;
    std::string Raw;       // the answer's bytes
    std::string RawSha256; // lower-case hex, given by Append
    // SHA-256 (lower-case hex) over the previous record's Chain and this record's canonical content, given by
    // Append: changing, inserting or removing a record breaks the chain from there on.
    std::string Chain;
};

// What VerifyChain finds: Ok, or the first record that does not fit and why (German).
struct ChainCheck
{
    bool Ok = true;
    int64_t FirstBad = 0; // 0 when the fault concerns the journal as a whole
    std::string Reason;
};

struct JournalFilter
{
    std::string From;      // "2026-12-01": records from that day on (UTC); empty: no bound
    std::string To;        // "2026-12-31": records up to that day, inclusive
    std::string ForeignId; // exactly this id (normalised); empty: any
};

class Journal
{
public:
    // $ORVELWDDX_JOURNAL, else $XDG_DATA_HOME/OrvelWddx/journal.sqlite (default ~/.local/share/…).
    static std::string DefaultPath();

    // Opens or creates the journal (and its folder, mode 0700). A journal that others may read is set to 0600, and
    // Notice says so. A journal from before the chain is chained once, in the order of its records. Throws
    // JournalError.
    explicit Journal(std::string path);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    const std::string& Path() const { return FPath; }
    // German, for the user; empty when opening found nothing to tell.
    const std::string& Notice() const { return FNotice; }

    // Stamps the time and the hash, writes the record in a transaction of its own and returns its id. Throws
    // JournalError when it is not durably written; nothing written before is touched.
    int64_t Append(Record record);
    std::vector<Record> Read(const JournalFilter& filter) const;
    std::optional<Record> Find(int64_t id) const;
    // "ok", or what SQLite's integrity check finds.
    std::string IntegrityCheck() const;
    // Recomputes the chain over every record in order and looks for the guards that keep records unchanged.
    ChainCheck VerifyChain() const;
    // The confirmations left unchecked because their service stayed unavailable that no later record has asked
    // again for yet, oldest first.
    std::vector<Record> Pending() const;
    // How many records in a row asked for the same confirmation before this one (0 for the first request).
    int Generation(const Record& record) const;

private:
    std::string FPath;
    std::string FNotice;
    sqlite3* FDb = nullptr;
};

std::string Sha256Hex(std::string_view bytes);

// The chain value of a record after one whose chain value is Previous ("" for the first).
std::string ChainValue(const std::string& Previous, const Record& record);

} // namespace orvel::confirm
