#include "rules/AustrianDirectory.h"

#include "rules/BankDirectory.h"
#include "rules/Bic.h"
#include "rules/DirectoryText.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace orvel::rules {
namespace {

constexpr std::string_view kDateLine = "SEPA-Verzeichnis-Abfrage vom ";
constexpr std::string_view kKind = "Kennzeichen", kBlz = "Bankleitzahl", kName = "Bankenname", kPlz = "PLZ",
                           kPlace = "Ort", kBic = "SWIFT-Code";
constexpr std::string_view kMain = "Hauptanstalt";

} // namespace

extern const char kAustrianBics[];

std::string BuiltInAustrianBic(std::string_view blz)
{
    static const std::map<std::string, std::string, std::less<>> table = [] {
        std::map<std::string, std::string, std::less<>> made;
        std::istringstream in(kAustrianBics);
        std::string line;
        while (std::getline(in, line))
            if (const size_t tab = line.find('\t'); !line.starts_with("#") && tab != std::string::npos)
                made.emplace(line.substr(0, tab), line.substr(tab + 1));
        return made;
    }();
    const auto found = table.find(blz);
    return found == table.end() ? std::string() : found->second;
}

std::string AustrianBlz(std::string_view digits)
{
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    return std::string(5 - digits.size(), '0') + std::string(digits);
}

AustrianDirectory AustrianDirectory::Load(const std::string& path)
{
    std::ifstream in = OpenDirectoryFile(path, "the OeNB directory");
    return Parse(in, path);
}

AustrianDirectory AustrianDirectory::Parse(std::istream& in, const std::string& name)
{
    AustrianDirectory directory;
    DirectoryLines lines(in, name, false);
    std::string line;
    // The notice above the date line changes with the OeNB's wording; only the date line is fixed.
    while (directory.Valid == 0 && lines.Next(line))
        if (line.starts_with(kDateLine))
            directory.Valid = DateLine(line, kDateLine, lines);
    if (directory.Valid == 0)
        BadDirectoryLine(name, lines.Number(),
                         "not an OeNB SEPA directory (no line \"" + std::string(kDateLine) + "DD.MM.YYYY\")");
    while (lines.Next(line) && line.find_first_not_of(';') == std::string::npos) {
    }
    const CsvHeader header(SplitCsv(line), {kKind, kBlz, kName, kPlz, kPlace, kBic}, name, lines.Number());
    const auto read = [&](const std::vector<std::string>& row, size_t number) {
        AustrianBank bank;
        bank.Blz = AustrianBlz(header.Of(row, kBlz));
        if (bank.Blz.empty())
            BadDirectoryLine(name, number, "not a bank code: \"" + header.Of(row, kBlz) + "\"");
        bank.Main = header.Of(row, kKind) == kMain;
        bank.Name = header.Of(row, kName);
        if (bank.Name.empty())
            BadDirectoryLine(name, number, "no name for bank code " + bank.Blz);
        bank.Bic = header.Of(row, kBic);
        if (!bank.Bic.empty() && CheckBic(bank.Bic) != BicVerdict::Valid)
            BadDirectoryLine(name, number, "not a BIC: \"" + bank.Bic + "\"");
        bank.Plz = header.Of(row, kPlz);
        bank.Place = header.Of(row, kPlace);
        return bank;
    };
    // Head office first, so that a code answers with it whatever order the file has.
    directory.Banks = ReadRows<AustrianBank>(
        lines, header, read,
        [](const AustrianBank& a, const AustrianBank& b) { return a.Blz != b.Blz ? a.Blz < b.Blz : a.Main > b.Main; },
        [](const AustrianBank& before, const AustrianBank& bank) {
            return bank.Main && before.Blz == bank.Blz ? "bank code " + bank.Blz + " has two head offices"
                                                       : std::string();
        },
        "no bank listed");
    for (const AustrianBank& bank : directory.Banks)
        directory.Folded.push_back(" " + FoldForSearch(bank.Name) + " " + FoldForSearch(bank.Place) + " ");
    return directory;
}

size_t AustrianDirectory::Codes() const
{
    size_t codes = 0;
    for (size_t i = 0; i < Banks.size(); ++i)
        codes += i == 0 || Banks[i].Blz != Banks[i - 1].Blz;
    return codes;
}

size_t AustrianDirectory::Bics() const
{
    std::set<std::string> bics;
    for (const AustrianBank& bank : Banks)
        if (!bank.Bic.empty())
            bics.insert(bank.Bic.size() == 8 ? bank.Bic + "XXX" : bank.Bic);
    return bics.size();
}

const AustrianBank* AustrianDirectory::Find(std::string_view blz) const
{
    const std::string key = AustrianBlz(blz);
    const auto found = std::lower_bound(Banks.begin(), Banks.end(), key,
                                        [](const AustrianBank& bank, std::string_view k) { return bank.Blz < k; });
    return !key.empty() && found != Banks.end() && found->Blz == key ? &*found : nullptr;
}

std::vector<const AustrianBank*> AustrianDirectory::Search(std::string_view words, bool fragments, size_t limit) const
{
    const std::vector<std::string> needles = SearchNeedles(words, fragments);
    std::vector<const AustrianBank*> hits;
    for (size_t i = 0; !needles.empty() && i < Banks.size() && hits.size() < limit; ++i)
        if (MatchesNeedles(Folded[i], needles))
            hits.push_back(&Banks[i]);
    return hits;
}

} // namespace orvel::rules
