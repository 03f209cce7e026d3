#pragma once
// The three official directories: where they are, how large they may be, and what a file of each holds once it
// has been read the way the readers in src/rules read it.

#include <array>
#include <cstddef>
#include <ctime>
#include <set>
#include <string>
#include <string_view>

namespace orvel::feeds {

struct SourceInfo
{
    std::string_view Name;   // on the command line and in editions.json
    std::string_view Title;  // German, in every line the updater prints
    std::string_view Prefix; // installed as Prefix + YYYYMMDD + Extension
    std::string_view Extension;
    size_t MaxBytes;           // larger downloads and hand-installed files are refused
    size_t MinimumEntries;     // fewer bank codes (SCL: BICs) cannot be a whole edition
    std::string_view Setting;  // the address's key in the settings file
    std::string_view Variable; // the environment variable that overrides it
    std::string_view Address;  // the official address
};

extern const std::array<SourceInfo, 3> kSources;
const SourceInfo& Bundesbank();
// nullptr for an unknown name.
const SourceInfo* SourceNamed(std::string_view name);

// What an edition holds, as far as the checks before an install compare it with the installed one.
struct Contents
{
    std::time_t ValidFrom = 0;
    std::set<std::string> Codes; // bank codes (German or Austrian)
    std::set<std::string> Bics;  // 11 characters
};

// Reads the file at path as its reader will, encoding included (ISO-8859-1, the SCL directory ASCII; not UTF-8, no
// control characters). validFrom is the Bundesbank file's date, which the file itself does not carry. Throws
// std::runtime_error naming the file and line of the first fault.
Contents Inspect(const SourceInfo& source, const std::string& path, std::time_t validFrom);

// Why next cannot replace installed (nullptr when nothing is installed): too few entries, an older validity date,
// or more than a tenth of the installed bank codes or BICs gone. Empty when it can.
std::string Implausible(const SourceInfo& source, const Contents& next, const Contents* installed);

// The edition the Bundesbank's download page names.
struct PageEdition
{
    std::string Url;       // absolute
    std::string Hash;      // the 32 hex digits in the link, new with each edition
    std::time_t From = 0;  // "gültig vom …"
    std::time_t Until = 0; // "… bis …", 0 when the page names no end
};
// Throws std::runtime_error (German) when the page has no link to the text file or no validity.
PageEdition ReadBundesbankPage(std::string_view html, const std::string& pageUrl);

// "YYYY-MM-DD" and "YYYYMMDD" as midnight UTC of a day that exists; -1 for anything else (2026-02-31).
std::time_t ParseDay(std::string_view text);
std::string IsoDay(std::time_t date);

} // namespace orvel::feeds
