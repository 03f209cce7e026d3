#pragma once
// The German bank directory, loaded once and read by every request thread without locks: records sorted by bank
// code, a BIC index and folded search texts. Two layouts: the Bundesbank's file ("blz-aktuell", fixed width,
// ISO-8859-1) and the built-in data (bankleitzahlen.tsv: UTF-8, TAB-separated rows, each valid for a period, so
// that the file holds today's directory and the next one, and remembers the names of codes that are gone).

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::rules {

struct Bank
{
    std::string Blz;   // 8 digits
    bool Main = false; // the bank code's own record (flag 1), not a branch
    std::string Name;  // Windows-1252 (the file's Latin-1 is a subset)
    std::string Plz;
    std::string Place;
    std::string ShortName;
    std::string Bic;       // 8 or 11 characters, often empty on branches
    std::string Method;    // check-digit method, two characters
    char Change = 'U';     // A added, D deleted, U unchanged, M modified
    bool Deletion = false; // the bank code is about to be deleted
    std::string Successor; // 8 digits, "00000000" when none is named
};

// Where a directory came from, for the status page and the logs.
struct BankSource
{
    std::string Path;
    bool BuiltIn = false;  // the built-in data rather than a Bundesbank file
    std::string Sources;   // what the data was made from, as its header says
    std::time_t From = 0;  // the date the records in use are valid from (midnight UTC)
    std::time_t Until = 0; // the last day they are valid, 0 when open
};

class BankDirectory
{
public:
    // Reads the file with the records valid on now's day in Germany; throws std::runtime_error naming the file and
    // line when it is not a directory file.
    static BankDirectory Load(const std::string& path, std::time_t now = std::time(nullptr));
    // The directory as of a date (midnight UTC); a date in the file name "..._YYYYMMDD.txt" wins over the
    // file's modification time.
    static std::time_t DateOf(const std::string& path);

    // The bank code's own record (or its first record), nullptr when the code is not in the directory.
    const Bank* Find(std::string_view blz) const;
    // A code that the directory no longer lists but once did (built-in data only): its last record, else nullptr.
    const Bank* FindGone(std::string_view blz) const;
    // The head office of the BIC (an 8-character one in its "XXX" form): among the bank codes sharing it, the main
    // record with the name most of them carry.
    const Bank* FindBic(std::string_view bic) const;
    // Search words ANDed over name, short name and place, ignoring case and umlauts; whole words unless
    // fragments. At most limit hits, in directory order.
    std::vector<const Bank*> Search(std::string_view words, bool fragments, size_t limit) const;

    size_t size() const { return Banks.size(); }
    // Sorted by bank code, main record first.
    const std::vector<Bank>& Records() const { return Banks; }
    const std::string& Path() const { return Origin.Path; }
    std::time_t Date() const { return Origin.From; }
    const BankSource& Source() const { return Origin; }
    size_t Codes() const;   // distinct bank codes
    size_t Methods() const; // distinct check-digit methods
    size_t Bics() const;    // distinct BICs

private:
    static void LoadBuiltIn(BankDirectory& directory, std::istream& in, std::time_t now);
    static void LoadBundesbank(BankDirectory& directory, std::istream& in);
    void Index();

    BankSource Origin;
    std::vector<Bank> GoneBanks;                         // sorted by BLZ
    std::vector<Bank> Banks;                             // sorted by BLZ, main record first
    std::vector<std::pair<std::string, uint32_t>> ByBic; // BIC -> index into Banks, sorted
    std::vector<std::string> Folded;                     // " NAME SHORT PLACE ", folded, per bank
};

// The bank directory to load when none is named: the newest installed Bundesbank edition (see DataFolders.h) that is
// valid on now's day and newer than the built-in data, else the built-in data. OfficialData also passes over an
// edition that does not read.
std::string DefaultBankFile(std::time_t now = std::time(nullptr));
// The day the built-in data's set in force on now's day is valid from.
std::time_t BuiltInBankDate(std::time_t now);
// One line on a directory for logs and version texts: file, kind, sources, validity and counts.
std::string DescribeBanks(const BankDirectory& banks);
// The user's data folder for the official directories.
std::string UserBankFolder();
// now's day in Germany as midnight UTC of that date.
std::time_t GermanDay(std::time_t now);

// A date as "TT.MM.JJJJ" (UTC), as the texts name the directory's date.
std::string GermanDate(std::time_t date);
// The same as "YYYY-MM-DD", as files and JSON name dates.
std::string IsoDate(std::time_t date);

// Upper case without accents, umlauts written out ("ä" -> "AE", "ß" -> "SS"), anything but letters and digits a
// blank: the form search texts are compared in.
std::string FoldForSearch(std::string_view text);
// The folded search words, each between blanks unless fragments are asked for.
std::vector<std::string> SearchNeedles(std::string_view words, bool fragments);
// Whether a folded text (" WORD WORD ") holds every needle.
bool MatchesNeedles(const std::string& folded, const std::vector<std::string>& needles);

} // namespace orvel::rules
