#include "rules/BankDirectory.h"

#include "platform/Text.h"
#include "rules/DataFolders.h"
#include "rules/PostalData.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <tuple>

namespace orvel::rules {
namespace {

// 1-based columns of the fixed-width record.
struct Field
{
    size_t From;
    size_t To;
};
constexpr Field kBlz{1, 8}, kFlag{9, 9}, kName{10, 67}, kPlz{68, 72}, kPlace{73, 107}, kShort{108, 134}, kBic{140, 150},
    kMethod{151, 152}, kChange{159, 159}, kDeletion{160, 160}, kSuccessor{161, 168};
constexpr size_t kRecordLength = 168;
// Current Bundesbank files add the IBAN rule after the successor.
constexpr size_t kRecordLengthWithIbanRule = 174;
constexpr size_t kBuiltInFields = 9;
constexpr long kDay = 24L * 3600;

std::string_view Column(std::string_view line, Field field)
{
    std::string_view value = line.substr(field.From - 1, field.To - field.From + 1);
    while (!value.empty() && value.back() == ' ')
        value.remove_suffix(1);
    return value;
}

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::time_t DaysFromCivil(int year, unsigned month, unsigned day)
{
    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = int(month) - 1;
    date.tm_mday = int(day);
    return timegm(&date);
}

// The Bundesbank's method codes: two digits, or A to E and a digit.
bool MethodCode(std::string_view method)
{
    return method.size() == 2 && ((method[0] >= '0' && method[0] <= '9') || (method[0] >= 'A' && method[0] <= 'E')) &&
           method[1] >= '0' && method[1] <= '9';
}

bool BicCode(std::string_view bic)
{
    return (bic.size() == 8 || bic.size() == 11) &&
           std::all_of(bic.begin(), bic.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// "YYYY-MM-DD" as midnight UTC; -1 when it is none.
std::time_t IsoDate(std::string_view text)
{
    static const std::regex iso(R"((\d{4})-(\d{2})-(\d{2}))");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_match(text.begin(), text.end(), match, iso))
        return -1;
    const int year = std::stoi(match[1]);
    const auto month = unsigned(std::stoi(match[2])), day = unsigned(std::stoi(match[3]));
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return -1;
    return DaysFromCivil(year, month, day);
}

std::vector<std::string_view> SplitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

[[noreturn]] void BadLine(const std::string& path, size_t number, const std::string& what)
{
    throw std::runtime_error(path + ":" + std::to_string(number) + ": " + what);
}

// The dates of the built-in data's sets, from its header line "# Sets: ".
std::vector<std::time_t> SetDates(std::istream& in)
{
    std::vector<std::time_t> dates;
    std::string line;
    while (std::getline(in, line) && line.starts_with("#"))
        if (line.starts_with("# Sets: "))
            for (size_t start = 8; start < line.size();) {
                const size_t end = std::min(line.find(' ', start), line.size());
                if (const std::time_t date = IsoDate(std::string_view(line).substr(start, end - start)); date >= 0)
                    dates.push_back(date);
                start = end + 1;
            }
    return dates;
}

} // namespace

std::time_t GermanDay(std::time_t now)
{
    // Central European Time, summer time from the last Sunday of March to the last Sunday of October, 01:00 UTC.
    std::tm parts{};
    gmtime_r(&now, &parts);
    const auto lastSunday = [](int year, unsigned month) {
        const std::time_t last = DaysFromCivil(year, month, 31);
        std::tm day{};
        gmtime_r(&last, &day);
        return last - day.tm_wday * kDay;
    };
    const int year = parts.tm_year + 1900;
    const bool summer = now >= lastSunday(year, 3) + 3600 && now < lastSunday(year, 10) + 3600;
    const std::time_t local = now + (summer ? 7200 : 3600);
    return local - local % kDay;
}

namespace {

std::string UtcDate(std::time_t date, const char* format)
{
    std::tm parts{};
    gmtime_r(&date, &parts);
    char text[16];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

} // namespace

std::string GermanDate(std::time_t date)
{
    return UtcDate(date, "%d.%m.%Y");
}

std::string IsoDate(std::time_t date)
{
    return UtcDate(date, "%Y-%m-%d");
}

std::string FoldForSearch(std::string_view text)
{
    // Latin-1 letters from 0xC0 on without their accents; a blank for what is no letter.
    static constexpr std::string_view unaccented = "AAAAAAACEEEEIIIIDNOOOOO OUUUUY  AAAAAAACEEEEIIIIDNOOOOO OUUUUY Y";
    std::string folded;
    folded.reserve(text.size() + 8);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            folded += char(c);
        else if (c >= 'a' && c <= 'z')
            folded += char(c - 0x20);
        else if (c == 0xC4 || c == 0xE4)
            folded += "AE";
        else if (c == 0xD6 || c == 0xF6)
            folded += "OE";
        else if (c == 0xDC || c == 0xFC)
            folded += "UE";
        else if (c == 0xDF)
            folded += "SS";
        else
            folded += c >= 0xC0 ? unaccented[c - 0xC0] : ' ';
    }
    return folded;
}

std::time_t BankDirectory::DateOf(const std::string& path)
{
    static const std::regex dated(R"((\d{4})(\d{2})(\d{2})\.txt$)");
    std::smatch match;
    if (std::regex_search(path, match, dated))
        return DaysFromCivil(std::stoi(match[1]), unsigned(std::stoi(match[2])), unsigned(std::stoi(match[3])));
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
}

BankDirectory BankDirectory::Load(const std::string& path, std::time_t now)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open the bank directory " + path);
    BankDirectory directory;
    directory.Origin.Path = path;
    // The built-in data begins with its header; a Bundesbank record with a bank code.
    if (in.peek() == '#')
        LoadBuiltIn(directory, in, now);
    else
        LoadBundesbank(directory, in);
    if (directory.Banks.empty())
        throw std::runtime_error("the bank directory " + path + " is empty");
    directory.Index();
    return directory;
}

void BankDirectory::LoadBundesbank(BankDirectory& directory, std::istream& in)
{
    const std::string& path = directory.Origin.Path;
    directory.Origin.From = DateOf(path);
    std::set<std::string> mains;
    std::map<std::string, size_t> codes; // bank code -> its first line
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if ((line.size() != kRecordLength && line.size() != kRecordLengthWithIbanRule) ||
            !AllDigits(Column(line, kBlz)) || !AllDigits(Column(line, kSuccessor)) ||
            (line[kFlag.From - 1] != '1' && line[kFlag.From - 1] != '2') ||
            std::string_view("AUDM").find(line[kChange.From - 1]) == std::string_view::npos ||
            (line[kDeletion.From - 1] != '0' && line[kDeletion.From - 1] != '1'))
            BadLine(path, number, "not a Bundesbank directory record");
        if (!MethodCode(Column(line, kMethod)))
            BadLine(path, number, "unknown check-digit method \"" + std::string(Column(line, kMethod)) + "\"");
        if (!Column(line, kBic).empty() && !BicCode(Column(line, kBic)))
            BadLine(path, number, "not a BIC \"" + std::string(Column(line, kBic)) + "\"");
        // One record of each bank code is its own (flag 1); the others are its branches.
        if (line[kFlag.From - 1] == '1' && !mains.emplace(Column(line, kBlz)).second)
            BadLine(path, number, "a second record with flag 1 for " + std::string(Column(line, kBlz)));
        codes.emplace(Column(line, kBlz), number);
        Bank bank;
        bank.Blz = Column(line, kBlz);
        bank.Main = Column(line, kFlag) == "1";
        bank.Name = Column(line, kName);
        bank.Plz = Column(line, kPlz);
        bank.Place = Column(line, kPlace);
        bank.ShortName = Column(line, kShort);
        bank.Bic = Column(line, kBic);
        bank.Method = Column(line, kMethod);
        bank.Change = line[kChange.From - 1];
        bank.Deletion = line[kDeletion.From - 1] == '1';
        bank.Successor = Column(line, kSuccessor);
        directory.Banks.push_back(std::move(bank));
    }
    for (const auto& [code, first] : codes)
        if (!mains.contains(code))
            BadLine(path, first, "no record with flag 1 for " + code);
}

void BankDirectory::LoadBuiltIn(BankDirectory& directory, std::istream& in, std::time_t now)
{
    const std::string& path = directory.Origin.Path;
    const std::time_t today = GermanDay(now);
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.starts_with("#")) {
            if (line.starts_with("# Sources: "))
                directory.Origin.Sources = line.substr(11);
            continue;
        }
        const std::vector<std::string_view> fields = SplitTabs(line);
        if (fields.size() != kBuiltInFields)
            BadLine(path, number, "not a bank directory row (" + std::to_string(kBuiltInFields) + " fields expected)");
        const std::string_view blz = fields[0], name = fields[3], bic = fields[4], method = fields[5];
        const std::time_t from = IsoDate(fields[1]), until = fields[2].empty() ? 0 : IsoDate(fields[2]);
        if (blz.size() != 8 || !AllDigits(blz) || from < 0 || until < 0 || name.empty() ||
            !(bic.empty() || BicCode(bic)) ||
            std::any_of(line.begin(), line.end(), [](char c) { return c >= 0 && c < ' ' && c != '\t'; }))
            BadLine(path, number, "not a bank directory row");
        if (!method.empty() && !MethodCode(method))
            BadLine(path, number, "unknown check-digit method \"" + std::string(method) + "\"");
        if (until && until < today) {
            // The code is gone unless a later row lists it; its name is the one of its last period.
            if (directory.GoneBanks.empty() || directory.GoneBanks.back().Blz != blz) {
                directory.GoneBanks.emplace_back();
                directory.GoneBanks.back().Blz = blz;
                directory.GoneBanks.back().Main = true;
            }
            directory.GoneBanks.back().Name = Ansi(name);
            continue;
        }
        if (from > today)
            continue;
        if (from > directory.Origin.From)
            directory.Origin.From = from;
        if (until && (!directory.Origin.Until || until < directory.Origin.Until))
            directory.Origin.Until = until;
        Bank bank;
        bank.Blz = blz;
        bank.Main = true;
        bank.Name = Ansi(name);
        bank.Plz = fields[6];
        bank.Place = Ansi(fields[7]);
        bank.ShortName = Ansi(fields[8]);
        bank.Bic = bic;
        bank.Method = method;
        directory.Banks.push_back(std::move(bank));
    }
    directory.Origin.BuiltIn = true;
}

void BankDirectory::Index()
{
    std::stable_sort(Banks.begin(), Banks.end(),
                     [](const Bank& a, const Bank& b) { return a.Blz != b.Blz ? a.Blz < b.Blz : a.Main > b.Main; });
    // A main record without a BIC takes the one its branches name, so that a bank code has one answer.
    for (size_t i = 0; i < Banks.size(); ++i) {
        Bank& main = Banks[i];
        for (size_t j = i + 1; main.Main && main.Bic.empty() && j < Banks.size() && Banks[j].Blz == main.Blz; ++j)
            main.Bic = Banks[j].Bic;
    }
    for (uint32_t i = 0; i < Banks.size(); ++i) {
        const Bank& bank = Banks[i];
        if (!bank.Bic.empty())
            ByBic.emplace_back(bank.Bic.size() == 8 ? bank.Bic + "XXX" : bank.Bic, i);
        Folded.push_back(" " + FoldForSearch(bank.Name) + " " + FoldForSearch(bank.ShortName) + " " +
                         FoldForSearch(bank.Place) + " ");
    }
    std::stable_sort(ByBic.begin(), ByBic.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // A BIC that several bank codes share answers with its head office, not with a branch or a special-purpose code
    // that happens to come first: the name most of its records carry ("Commerzbank" over "Commerzbank, CC SP"),
    // never an "-alt-" one, the shorter on a tie.
    for (auto group = ByBic.begin(); group != ByBic.end();) {
        const auto end =
            std::find_if(group, ByBic.end(), [&](const auto& entry) { return entry.first != group->first; });
        std::map<std::string_view, size_t> names;
        for (auto entry = group; entry != end; ++entry)
            ++names[Banks[entry->second].Name];
        const auto rank = [&](const std::pair<std::string, uint32_t>& entry) {
            const Bank& bank = Banks[entry.second];
            return std::make_tuple(!bank.Main, bank.Name.find("-alt-") != std::string::npos, -long(names[bank.Name]),
                                   bank.Name.size(), entry.second);
        };
        std::sort(group, end, [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
        group = end;
    }
    // A code listed today is not gone, whatever it was called before.
    std::stable_sort(GoneBanks.begin(), GoneBanks.end(), [](const Bank& a, const Bank& b) { return a.Blz < b.Blz; });
    std::erase_if(GoneBanks, [this](const Bank& gone) { return Find(gone.Blz) != nullptr; });
}

size_t BankDirectory::Codes() const
{
    size_t codes = 0;
    for (size_t i = 0; i < Banks.size(); ++i)
        codes += i == 0 || Banks[i].Blz != Banks[i - 1].Blz;
    return codes;
}

size_t BankDirectory::Methods() const
{
    std::set<std::string_view> methods;
    for (const Bank& bank : Banks)
        if (!bank.Method.empty())
            methods.insert(bank.Method);
    return methods.size();
}

size_t BankDirectory::Bics() const
{
    size_t bics = 0;
    for (size_t i = 0; i < ByBic.size(); ++i)
        bics += i == 0 || ByBic[i].first != ByBic[i - 1].first;
    return bics;
}

const Bank* BankDirectory::Find(std::string_view blz) const
{
    const auto found = std::lower_bound(Banks.begin(), Banks.end(), blz,
                                        [](const Bank& bank, std::string_view key) { return bank.Blz < key; });
    return found != Banks.end() && found->Blz == blz ? &*found : nullptr;
}

const Bank* BankDirectory::FindGone(std::string_view blz) const
{
    const auto found = std::lower_bound(GoneBanks.begin(), GoneBanks.end(), blz,
                                        [](const Bank& bank, std::string_view key) { return bank.Blz < key; });
    return found != GoneBanks.end() && found->Blz == blz ? &*found : nullptr;
}

const Bank* BankDirectory::FindBic(std::string_view bic) const
{
    // An 8-character BIC is the institution's own "XXX" office, never whichever branch sorts first.
    const std::string key = bic.size() == 8 ? std::string(bic) + "XXX" : std::string(bic);
    const auto found = std::lower_bound(ByBic.begin(), ByBic.end(), key,
                                        [](const auto& entry, std::string_view k) { return entry.first < k; });
    return found != ByBic.end() && found->first == key ? &Banks[found->second] : nullptr;
}

std::vector<std::string> SearchNeedles(std::string_view words, bool fragments)
{
    std::vector<std::string> needles;
    const std::string folded = FoldForSearch(words);
    for (size_t start = 0; start < folded.size();) {
        const size_t end = std::min(folded.find(' ', start), folded.size());
        if (end > start)
            needles.push_back(fragments ? folded.substr(start, end - start)
                                        : " " + folded.substr(start, end - start) + " ");
        start = end + 1;
    }
    return needles;
}

bool MatchesNeedles(const std::string& folded, const std::vector<std::string>& needles)
{
    return std::all_of(needles.begin(), needles.end(),
                       [&folded](const std::string& needle) { return folded.find(needle) != std::string::npos; });
}

std::vector<const Bank*> BankDirectory::Search(std::string_view words, bool fragments, size_t limit) const
{
    const std::vector<std::string> needles = SearchNeedles(words, fragments);
    std::vector<const Bank*> hits;
    for (size_t i = 0; !needles.empty() && i < Banks.size() && hits.size() < limit; ++i)
        if (Banks[i].Change != 'D' && MatchesNeedles(Folded[i], needles))
            hits.push_back(&Banks[i]);
    return hits;
}

std::string DescribeBanks(const BankDirectory& banks)
{
    const BankSource& source = banks.Source();
    std::string line = "bank directory " + source.Path + " (" +
                       (source.BuiltIn ? "built-in data: " + source.Sources : std::string("Bundesbank file")) +
                       "; valid from " + GermanDate(source.From);
    if (source.Until)
        line += " to " + GermanDate(source.Until);
    return line + "; " + std::to_string(banks.Codes()) + " bank codes, " + std::to_string(banks.size()) + " records, " +
           std::to_string(banks.Bics()) + " BICs, " + std::to_string(banks.Methods()) + " check-digit methods)";
}

std::string UserBankFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    return (data && *data ? std::string(data) : std::string(home ? home : "") + "/.local/share") + "/OrvelWddx";
}

std::time_t BuiltInBankDate(std::time_t now)
{
    std::ifstream header(BuiltInDataPath("bankleitzahlen.tsv"));
    std::time_t builtInDate = 0;
    for (const std::time_t date : SetDates(header))
        if (date <= GermanDay(now))
            builtInDate = std::max(builtInDate, date);
    return builtInDate;
}

std::string DefaultBankFile(std::time_t now)
{
    // The newest official file whose day has come; one for a later day waits for it.
    for (const Edition& edition : InstalledEditions(DataSource::Bundesbank, now))
        if (edition.From > BuiltInBankDate(now))
            return edition.Path;
    return BuiltInDataPath("bankleitzahlen.tsv");
}

} // namespace orvel::rules
