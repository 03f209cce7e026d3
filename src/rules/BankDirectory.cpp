#include "rules/BankDirectory.h"

#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <stdexcept>

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

// The last match in glob's sorted order: dated names sort by date.
std::string Newest(const std::string& pattern)
{
    glob_t found{};
    std::string newest;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0)
        newest = found.gl_pathv[found.gl_pathc - 1];
    globfree(&found);
    return newest;
}

} // namespace

std::string GermanDate(std::time_t date)
{
    std::tm parts{};
    gmtime_r(&date, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%d.%m.%Y", &parts);
    return text;
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

BankDirectory BankDirectory::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open the bank directory " + path);
    BankDirectory directory;
    directory.File = path;
    directory.Issued = DateOf(path);
    std::string line;
    size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.size() < kRecordLength || !AllDigits(Column(line, kBlz)) || !AllDigits(Column(line, kSuccessor)))
            throw std::runtime_error(path + ":" + std::to_string(number) + ": not a Bundesbank directory record");
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
    if (directory.Banks.empty())
        throw std::runtime_error("the bank directory " + path + " is empty");

    std::stable_sort(directory.Banks.begin(), directory.Banks.end(),
                     [](const Bank& a, const Bank& b) { return a.Blz != b.Blz ? a.Blz < b.Blz : a.Main > b.Main; });
    // A main record without a BIC takes the one its branches name, so that a bank code has one answer.
    for (size_t i = 0; i < directory.Banks.size(); ++i) {
        Bank& main = directory.Banks[i];
        for (size_t j = i + 1;
             main.Main && main.Bic.empty() && j < directory.Banks.size() && directory.Banks[j].Blz == main.Blz; ++j)
            main.Bic = directory.Banks[j].Bic;
    }
    for (uint32_t i = 0; i < directory.Banks.size(); ++i) {
        const Bank& bank = directory.Banks[i];
        if (!bank.Bic.empty())
            directory.ByBic.emplace_back(bank.Bic.size() == 8 ? bank.Bic + "XXX" : bank.Bic, i);
        directory.Folded.push_back(" " + FoldForSearch(bank.Name) + " " + FoldForSearch(bank.ShortName) + " " +
                                   FoldForSearch(bank.Place) + " ");
    }
    std::stable_sort(directory.ByBic.begin(), directory.ByBic.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return directory;
}

const Bank* BankDirectory::Find(std::string_view blz) const
{
    const auto found = std::lower_bound(Banks.begin(), Banks.end(), blz,
                                        [](const Bank& bank, std::string_view key) { return bank.Blz < key; });
    return found != Banks.end() && found->Blz == blz ? &*found : nullptr;
}

const Bank* BankDirectory::FindBic(std::string_view bic) const
{
    const auto found = std::lower_bound(ByBic.begin(), ByBic.end(), bic,
                                        [](const auto& entry, std::string_view key) { return entry.first < key; });
    if (found == ByBic.end())
        return nullptr;
    const bool match = bic.size() == 8 ? std::string_view(found->first).substr(0, 8) == bic : found->first == bic;
    return match ? &Banks[found->second] : nullptr;
}

std::vector<const Bank*> BankDirectory::Search(std::string_view words, bool fragments, size_t limit) const
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
    std::vector<const Bank*> hits;
    if (needles.empty())
        return hits;
    for (size_t i = 0; i < Banks.size() && hits.size() < limit; ++i) {
        if (Banks[i].Change == 'D')
            continue;
        const std::string& text = Folded[i];
        if (std::all_of(needles.begin(), needles.end(),
                        [&text](const std::string& needle) { return text.find(needle) != std::string::npos; }))
            hits.push_back(&Banks[i]);
    }
    return hits;
}

std::string DefaultBankFile()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string folder = data && *data ? std::string(data) : std::string(home ? home : "") + "/.local/share";
    const std::string own = Newest(folder + "/OrvelWddx/blz*.txt");
    return own.empty() ? Newest("/usr/share/ktoblzcheck/blz_*.txt") : own;
}

} // namespace orvel::rules
