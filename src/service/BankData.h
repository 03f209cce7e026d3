#pragma once
// The bank directory the service answers from, replaceable while requests run: each request takes the snapshot of
// the moment and keeps it to its end; a reload builds the next one aside and swaps it in at once.

#include "rules/BankDirectory.h"
#include "rules/TarvikChecks.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <string>

namespace orvel::service {

struct BankSnapshot
{
    BankSnapshot(const std::string& path, std::time_t now);

    const rules::BankDirectory Banks;
    const rules::TarvikChecks Checks;
};

class BankData
{
public:
    // pinned: exactly this file, never switched; empty: rules::DefaultBankFile() of the moment.
    explicit BankData(const std::string& pinned, std::time_t now = std::time(nullptr));

    std::shared_ptr<const BankSnapshot> Current() const { return Snapshot.load(); }
    // Loads the directory due now when it differs from the one in use (another file, or another day's set of the
    // built-in data). Returns a line for the log when it switched; throws when the new file cannot be loaded, and
    // the old snapshot stays.
    std::string Reload(std::time_t now = std::time(nullptr));

private:
    std::string Pinned;
    std::atomic<std::shared_ptr<const BankSnapshot>> Snapshot;
};

} // namespace orvel::service
