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
    std::ifstream in = OpenDirectoryFile(path, "the SCL directory");
    return Parse(in, path);
}

SclDirectory SclDirectory::Parse(std::istream& in, const std::string& name)
{
    SclDirectory directory;
    DirectoryLines lines(in, name, true);
    std::string line;
    if (!lines.Next(line) || !line.starts_with(kDateLine))
        BadDirectoryLine(name, 1, "not an SCL directory (\"" + std::string(kDateLine) + "DD.MM.YYYY\" expected)");
    directory.Valid = DateLine(line, kDateLine, lines);
    if (!lines.Next(line))
        BadDirectoryLine(name, 2, "no header");
    const CsvHeader header(SplitCsv(line), {kBic, kName, kSct, kSdd, kB2b, kScc}, name, lines.Number());
    const auto read = [&](const std::vector<std::string>& row, size_t number) {
        SclEntry entry;
        entry.Bic = header.Of(row, kBic);
        if (CheckBic(entry.Bic) != BicVerdict::Valid)
            BadDirectoryLine(name, number, "not a BIC: \"" + entry.Bic + "\"");
        if (entry.Bic.size() == 8)
            entry.Bic += "XXX";
        entry.Name = header.Of(row, kName);
        if (entry.Name.empty())
            BadDirectoryLine(name, number, "no name for " + entry.Bic);
        const auto flag = [&](std::string_view column) {
            const std::string& value = header.Of(row, column);
            if (value != "0" && value != "1")
                BadDirectoryLine(name, number, std::string(column) + " is \"" + value + "\", not 0 or 1");
            return value == "1";
        };
        entry.Sct = flag(kSct);
        entry.Sdd = flag(kSdd);
        entry.B2b = flag(kB2b);
        entry.Scc = flag(kScc);
        return entry;
    };
    directory.Rows = ReadRows<SclEntry>(
        lines, header, read, [](const SclEntry& a, const SclEntry& b) { return a.Bic < b.Bic; },
        [](const SclEntry& before, const SclEntry& entry) {
            return before.Bic == entry.Bic ? entry.Bic + " is listed twice" : std::string();
        },
        "no BIC listed");
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
