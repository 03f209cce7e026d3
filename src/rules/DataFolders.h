#pragma once
// Where the official directories are installed, and which edition of each a reader takes. One set of folders for the
// service, orvelwddx-check --offline and (through the service) the window: a folder named by --data-dir or
// ORVELWDDX_DATA_DIR alone; otherwise the user's ($XDG_DATA_HOME/OrvelWddx), then the system's (/var/lib/orvelwddx);
// then the built-in data. Per source the newest edition valid today wins. Files are named by the day they are valid
// from: blz_YYYYMMDD.txt (Bundesbank), scl_YYYYMMDD.csv (SCL directory), oenb_YYYYMMDD.csv (OeNB).

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace orvel::rules {

enum class DataSource { Bundesbank, Scl, Oenb };

struct Edition
{
    std::string Path;      // empty: no installed file (the built-in data, or none)
    std::time_t From = 0;  // valid from, midnight UTC
    std::time_t Until = 0; // the last day it is valid as the state file says, 0 when not known
    std::string FetchedAt; // ISO 8601 with offset as the state file says, empty when not known
    uintmax_t Size = 0;    // with Modified: a file rewritten under its name is read again
    std::time_t Modified = 0;
};

// The folder of --data-dir; it wins over ORVELWDDX_DATA_DIR. Set once at start, before any reader looks.
void SetDataDir(const std::string& folder);
// The folders searched, first to last; the first is the one installs write to.
std::vector<std::string> DataFolders();

// The source's installed editions whose day has come, newest first (on a tie, the earlier folder's), with what the
// state file editions.json of their folder says about them. Left out: ".part" and ".rolledback" files, names with
// no real date, and a Bundesbank file that is not whole records (still being copied).
std::vector<Edition> InstalledEditions(DataSource source, std::time_t now);

// Past its valid-until, or, without a stated end, 13 weeks after its valid-from: editions follow each other about
// every 13 weeks.
bool Superseded(std::time_t from, std::time_t until, std::time_t now);

// "valid from" (and "until") and "fetched at" of an edition, German: "gültig ab 07.12.2026 bis 07.03.2027, geladen
// am 11.12.2026 06:00"; UTF-8.
std::string DescribeEdition(const Edition& edition);

} // namespace orvel::rules
