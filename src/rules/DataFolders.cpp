#include "rules/DataFolders.h"

#include "rules/BankDirectory.h"
#include "rules/DirectoryText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

namespace orvel::rules {
namespace {

constexpr long kDay = 24L * 3600;
constexpr long kEditionDays = 13 * 7;

std::string& DataDirOverride()
{
    static std::string folder;
    return folder;
}

const char* Prefix(DataSource source)
{
    switch (source) {
    case DataSource::Bundesbank:
        return "blz";
    case DataSource::Scl:
        return "scl";
    case DataSource::Oenb:
        return "oenb";
    }
    return "";
}

// A Bundesbank file is whole when its size is a whole number of its first line's records: a copy in progress
// stops anywhere, and a reader must not take its first 5,000 records for the directory.
bool WholeRecords(const std::filesystem::path& path, uintmax_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::string first;
    if (size == 0 || !std::getline(in, first) || in.eof())
        return false;
    const uintmax_t record = first.size() + 1;
    const uintmax_t ending = first.ends_with('\r') ? 2 : 1;
    // The last record may lack its line end.
    return size % record == 0 || (size + ending) % record == 0;
}

// What the folder's state file says about each file; anything missing or broken there is simply not known.
void ReadState(const std::filesystem::path& folder, const char* key, std::vector<Edition>& editions)
{
    try {
        std::ifstream in(folder / "editions.json");
        if (!in)
            return;
        const nlohmann::json state = nlohmann::json::parse(in);
        const nlohmann::json& entry = state.at(key == std::string("blz") ? "bundesbank" : key);
        const std::string file = entry.at("file").get<std::string>();
        for (Edition& edition : editions) {
            if (std::filesystem::path(edition.Path).filename() != file ||
                std::filesystem::path(edition.Path).parent_path() != folder)
                continue;
            if (entry.contains("valid_until") && entry["valid_until"].is_string()) {
                const std::string until = entry["valid_until"];
                if (until.size() == 10)
                    edition.Until = std::max<std::time_t>(0, CivilDate(std::atoi(until.substr(0, 4).c_str()),
                                                                       std::atoi(until.substr(5, 2).c_str()),
                                                                       std::atoi(until.substr(8, 2).c_str())));
            }
            if (entry.contains("fetched_at") && entry["fetched_at"].is_string())
                edition.FetchedAt = entry["fetched_at"];
        }
    } catch (const std::exception&) {
    }
}

} // namespace

void SetDataDir(const std::string& folder)
{
    DataDirOverride() = folder;
}

std::vector<std::string> DataFolders()
{
    if (!DataDirOverride().empty())
        return {DataDirOverride()};
    if (const char* folder = std::getenv("ORVELWDDX_DATA_DIR"); folder && *folder)
        return {folder};
    return {UserBankFolder(), "/var/lib/orvelwddx"};
}

std::vector<Edition> InstalledEditions(DataSource source, std::time_t now)
{
    const std::regex named(std::string(Prefix(source)) + R"(_(\d{4})(\d{2})(\d{2})\.)" +
                           (source == DataSource::Bundesbank ? "txt" : "csv"));
    const std::time_t today = GermanDay(now);
    std::vector<Edition> editions;
    for (const std::string& folder : DataFolders()) {
        std::vector<Edition> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            const std::string name = entry.path().filename().string();
            std::smatch match;
            if (!std::regex_match(name, match, named) || !entry.is_regular_file(error))
                continue;
            Edition edition;
            edition.Path = entry.path().string();
            edition.From = CivilDate(std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]));
            edition.Size = entry.file_size(error);
            if (error || edition.From < 0 || edition.From > today)
                continue;
            if (source == DataSource::Bundesbank && !WholeRecords(entry.path(), edition.Size))
                continue;
            const auto written = entry.last_write_time(error);
            edition.Modified = std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::file_clock::to_sys(written).time_since_epoch())
                                   .count();
            found.push_back(std::move(edition));
        }
        ReadState(folder, Prefix(source), found);
        editions.insert(editions.end(), found.begin(), found.end());
    }
    std::stable_sort(editions.begin(), editions.end(),
                     [](const Edition& a, const Edition& b) { return a.From > b.From; });
    return editions;
}

bool Superseded(std::time_t from, std::time_t until, std::time_t now)
{
    const std::time_t today = GermanDay(now);
    return until ? today > until : today >= GermanDay(from) + kEditionDays * kDay;
}

std::string DescribeEdition(const Edition& edition)
{
    std::string text = "gültig ab " + GermanDate(edition.From);
    if (edition.Until)
        text += " bis " + GermanDate(edition.Until);
    static const std::regex iso(R"((\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}).*)");
    std::smatch match;
    if (std::regex_match(edition.FetchedAt, match, iso))
        text += ", geladen am " + match[3].str() + "." + match[2].str() + "." + match[1].str() + " " + match[4].str() +
                ":" + match[5].str();
    else if (!edition.FetchedAt.empty())
        text += ", geladen am " + edition.FetchedAt;
    return text;
}

} // namespace orvel::rules
