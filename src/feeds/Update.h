#pragma once
// Brings one official directory up to date in a data folder: find the current edition, fetch it unless it is the
// one installed, verify it as its reader will read it, install it beside the previous one and record what was
// done. Every function returns one German line on what it did, or throws std::runtime_error with one German line
// on what was wrong and where; then the folder is as it was.

#include "feeds/Download.h"
#include "feeds/Sources.h"

#include <ctime>
#include <string>

namespace orvel::feeds {

struct UpdateSettings
{
    std::string Folder;
    std::string Url;
    bool Force = false;    // installs an edition that looks implausible (too small, older, a tenth gone)
    unsigned Timeout = 30; // seconds; see Request
    std::time_t Now = std::time(nullptr);
};

std::string Update(const SourceInfo& source, const UpdateSettings& settings, const Fetch& fetch = Download);

// Takes the newest installed edition back (renamed to NAME.rolledback); the one before it, or the built-in data,
// is in use again, and an update does not bring the taken-back edition back unless forced.
std::string Rollback(const SourceInfo& source, const std::string& folder, std::time_t now = std::time(nullptr));

// A Bundesbank file from the disk: a regular file within the size cap, dated by validFrom ("YYYY-MM-DD") or its
// name blz_YYYYMMDD.txt; read once, and the copy in the folder is what gets checked and installed.
std::string InstallBankFile(const std::string& file, const std::string& validFrom, const std::string& folder,
                            bool force, std::time_t now = std::time(nullptr));

} // namespace orvel::feeds
