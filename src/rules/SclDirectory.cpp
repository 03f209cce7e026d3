#include "rules/SclDirectory.h"

#include "rules/Bic.h"
#include "rules/DirectoryText.h"

#include <algorithm>
#include <fstream>

namespace orvel::rules {
namespace {

constexpr std::string_view kDateLine = "Gueltig ab / valid from ";
constexpr std::string_view kBic = "BIC", kName = "Name", kSct = "SERVICE SCT", kSdd = "SERVICE COR",
                           kB2b = "SERVICE B2B", kScc = "SERVICE SCC";

} // namespace

SclDirectory SclDirectory::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open the SCL directory " + path);
    return Parse(in, path);
}

SclDirectory SclDirectory::Parse(std::istream& in, const std::string& name)
{
    SclDirectory directory;
    DirectoryLines lines(in, name, true);
    std::string line;
    if (!lines.Next(line) || !line.starts_with(kDateLine))
        BadDirectoryLine(name, 1, "not an SCL directory (\"" + std::string(kDateLine) + "DD.MM.YYYY\" expected)");
    const std::string date = SplitCsv(std::string_view(line).substr(kDateLine.size())).front();
    directory.Valid = ParseGermanDate(date);
    if (directory.Valid < 0)
        BadDirectoryLine(name, 1, "no valid date \"" + date + "\"");
    if (!lines.Next(line))
        BadDirectoryLine(name, 2, "no header");
    const CsvHeader header(SplitCsv(line), {kBic, kName, kSct, kSdd, kB2b, kScc}, name, lines.Number());
    std::vector<size_t> numbers; // the line of each row, to name a duplicate
    while (lines.Next(line)) {
        if (line.find_first_not_of(';') == std::string::npos)
            continue;
        const std::vector<std::string> row = SplitCsv(line);
        if (row.size() != header.Width())
            BadDirectoryLine(name, lines.Number(),
                             std::to_string(header.Width()) + " fields expected, " + std::to_string(row.size()) +
                                 " found");
        SclEntry entry;
        entry.Bic = header.Of(row, kBic);
        if (CheckBic(entry.Bic) != BicVerdict::Valid)
            BadDirectoryLine(name, lines.Number(), "not a BIC: \"" + entry.Bic + "\"");
        if (entry.Bic.size() == 8)
            entry.Bic += "XXX";
        entry.Name = header.Of(row, kName);
        if (entry.Name.empty())
            BadDirectoryLine(name, lines.Number(), "no name for " + entry.Bic);
        const auto flag = [&](std::string_view column) {
            const std::string& value = header.Of(row, column);
            if (value != "0" && value != "1")
                BadDirectoryLine(name, lines.Number(), std::string(column) + " is \"" + value + "\", not 0 or 1");
            return value == "1";
        };
        entry.Sct = flag(kSct);
        entry.Sdd = flag(kSdd);
        entry.B2b = flag(kB2b);
        entry.Scc = flag(kScc);
        directory.Rows.push_back(std::move(entry));
        numbers.push_back(lines.Number());
    }
    if (directory.Rows.empty())
        BadDirectoryLine(name, lines.Number(), "no BIC listed");
    std::vector<size_t> order(directory.Rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return directory.Rows[a].Bic < directory.Rows[b].Bic; });
    std::vector<SclEntry> sorted;
    sorted.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        if (!sorted.empty() && directory.Rows[order[i]].Bic == sorted.back().Bic)
            BadDirectoryLine(name, numbers[order[i]], directory.Rows[order[i]].Bic + " is listed twice");
        sorted.push_back(std::move(directory.Rows[order[i]]));
    }
    directory.Rows = std::move(sorted);
    return directory;
}

const SclEntry* SclDirectory::Exact(std::string_view bic) const
{
    const auto found = std::lower_bound(Rows.begin(), Rows.end(), bic,
                                        [](const SclEntry& entry, std::string_view key) { return entry.Bic < key; });
    return found != Rows.end() && found->Bic == bic ? &*found : nullptr;
}

const SclEntry* SclDirectory::Find(std::string_view bic) const
{
    if (bic.size() != 8 && bic.size() != 11)
        return nullptr;
    const std::string head = std::string(bic.substr(0, 8)) + "XXX";
    if (bic.size() == 11)
        if (const SclEntry* branch = Exact(bic))
            return branch;
    return Exact(head);
}

} // namespace orvel::rules
