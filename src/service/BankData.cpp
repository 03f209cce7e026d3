#include "service/BankData.h"

namespace orvel::service {

BankSnapshot::BankSnapshot(const std::string& path, std::time_t now)
    : Banks(rules::BankDirectory::Load(path, now)), Checks(Banks, now)
{
}

BankData::BankData(const std::string& pinned, std::time_t now)
    : Pinned(pinned),
      Snapshot(std::make_shared<const BankSnapshot>(pinned.empty() ? rules::DefaultBankFile(now) : pinned, now))
{
}

std::string BankData::Reload(std::time_t now)
{
    const std::shared_ptr<const BankSnapshot> old = Current();
    const std::string path = Pinned.empty() ? rules::DefaultBankFile(now) : Pinned;
    if (path == old->Banks.Path() &&
        (!old->Banks.Source().BuiltIn || rules::BankDirectory::Load(path, now).Date() == old->Banks.Date()))
        return {};
    auto next = std::make_shared<const BankSnapshot>(path, now);
    std::string line = rules::DescribeBanks(next->Banks);
    Snapshot.store(std::move(next));
    return line;
}

} // namespace orvel::service
