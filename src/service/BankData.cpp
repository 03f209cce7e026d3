#include "service/BankData.h"

#include "rules/DataFolders.h"

#include <filesystem>
#include <regex>
#include <stdexcept>

namespace orvel::service {

BankSnapshot::BankSnapshot(const std::string& pinned, std::time_t now)
    : Data(rules::OfficialData::Load(now, pinned)), Banks(Data.Banks), Checks(Data, now)
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

std::string InstallBankFile(const std::string& file, const std::string& validFrom)
{
    static const std::regex iso(R"((\d{4})-(\d{2})-(\d{2}))");
    static const std::regex named(R"(blz_(\d{8})\.txt$)");
    std::smatch match;
    std::string day;
    if (!validFrom.empty()) {
        if (!std::regex_match(validFrom, match, iso) || std::stoi(match[2]) < 1 || std::stoi(match[2]) > 12 ||
            std::stoi(match[3]) < 1 || std::stoi(match[3]) > 31)
            throw std::runtime_error("--valid-from " + validFrom + ": YYYY-MM-DD expected");
        day = match[1].str() + match[2].str() + match[3].str();
    } else if (std::regex_search(file, match, named)) {
        day = match[1];
    } else {
        throw std::runtime_error(file + ": no validity date; name the file blz_YYYYMMDD.txt or give --valid-from");
    }
    // Every record is read as the service would; a refusal names the line.
    const rules::BankDirectory banks = rules::BankDirectory::Load(file);
    if (banks.Source().BuiltIn)
        throw std::runtime_error(file + ": not a Bundesbank file");
    const std::filesystem::path folder = rules::DataFolders().front();
    std::filesystem::create_directories(folder);
    const std::filesystem::path target = folder / ("blz_" + day + ".txt");
    // Copied under a name the service ignores, then renamed: it never reads half a file.
    // The name is appended piecewise: g++ 12 at -O3 misreads "literal" + std::string as an overlapping memcpy.
    std::string partName(1, '.');
    partName += target.filename().string();
    partName += ".part";
    const std::filesystem::path part = folder / partName;
    std::filesystem::copy_file(file, part, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(part, target);
    return target.string();
}

} // namespace orvel::service
