#include "service/BankData.h"

#include "service/Api.h"

namespace orvel::service {
namespace {

std::string ApiDataOf(const rules::OfficialData& data, const rules::TarvikChecks& checks, std::time_t now)
{
    const rules::BankSource& origin = data.Banks.Source();
    std::string text = "{\"source\":";
    AppendJsonString(text, origin.BuiltIn ? origin.Sources : "Deutsche Bundesbank, Bankleitzahlendatei");
    text.append(",\"valid_from\":");
    AppendJsonString(text, rules::IsoDate(data.Banks.Date()));
    const bool superseded = rules::IsSuperseded(data.BanksEdition, now) || checks.Superseded();
    return text.append(",\"superseded\":").append(superseded ? "true}" : "false}");
}

} // namespace

BankSnapshot::BankSnapshot(const std::string& pinned, std::time_t now)
    : Data(rules::OfficialData::Load(now, pinned)), Banks(Data.Banks), Checks(Data, now),
      ApiData(ApiDataOf(Data, Checks, now))
{
}

BankData::BankData(const std::string& pinned, std::time_t now)
    : Pinned(pinned), Snapshot(std::make_shared<const BankSnapshot>(pinned, now))
{
}

std::vector<std::string> BankData::Reload(std::time_t now)
{
    if (rules::OfficialData::Fingerprint(now, Pinned) == Current()->Data.Loaded)
        return {};
    auto next = std::make_shared<const BankSnapshot>(Pinned, now);
    std::vector<std::string> lines = next->Data.PassedOver;
    lines.push_back("switched to " + rules::DescribeBanks(next->Banks));
    for (const std::string& edition : rules::DescribeEditions(next->Data, now))
        lines.push_back(edition);
    Snapshot.store(std::move(next));
    return lines;
}

} // namespace orvel::service
