#pragma once
// The bank directory the service answers from, replaceable while requests run: each request takes the snapshot of
// the moment and keeps it to its end; a reload builds the next one aside and swaps it in at once.

#include "rules/BankDirectory.h"
#include "rules/TarvikChecks.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace orvel::service {

struct BankSnapshot
{
    // pinned: exactly this Bundesbank file; empty: the data folders' newest editions (rules::OfficialData).
    BankSnapshot(const std::string& pinned, std::time_t now);

    const rules::OfficialData Data;
    const rules::BankDirectory& Banks;
    const rules::TarvikChecks Checks;
    // The JSON API's "data" object of the answers from this directory: it changes only with the snapshot, and a new
    // day brings a new snapshot.
    const std::string ApiData;
};

class BankData
{
public:
    // pinned: exactly this Bundesbank file, never switched (the SCL and OeNB directories still are); empty: the
    // data folders' newest editions of the moment.
    explicit BankData(const std::string& pinned, std::time_t now = std::time(nullptr));

    std::shared_ptr<const BankSnapshot> Current() const { return Snapshot.load(); }
    // Loads the data due now when what it would read differs from what is in use: another file, a file of the same
    // name grown or rewritten (a copy that has finished), another day. Returns lines for the log when it switched
    // (the editions, and any passed over as unreadable); throws when a pinned file cannot be loaded, and the old
    // snapshot stays.
    std::vector<std::string> Reload(std::time_t now = std::time(nullptr));

private:
    std::string Pinned;
    std::atomic<std::shared_ptr<const BankSnapshot>> Snapshot;
};

} // namespace orvel::service
