#pragma once
// The directories one reader answers from, loaded together: the German bank directory (a Bundesbank edition or the
// built-in data), and the SCL and OeNB directories when installed. Loaded once and then only read.

#include "rules/AustrianDirectory.h"
#include "rules/BankDirectory.h"
#include "rules/DataFolders.h"
#include "rules/SclDirectory.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace orvel::rules {

struct OfficialData
{
    // pinnedBankFile: exactly that Bundesbank file, whatever its date (a broken one throws). Otherwise the newest
    // installed edition of each source whose day has come; an edition that cannot be read is passed over for the
    // next one, with a line in PassedOver, and the built-in data is the last resort of the bank directory.
    static OfficialData Load(std::time_t now, const std::string& pinnedBankFile = {});
    // What Load would read now, as paths, sizes and times: when it changes, the data is worth loading again.
    static std::string Fingerprint(std::time_t now, const std::string& pinnedBankFile = {});

    BankDirectory Banks;
    Edition BanksEdition; // Path empty for the built-in data
    std::optional<SclDirectory> Scl;
    Edition SclEdition;
    std::optional<AustrianDirectory> Austria;
    Edition OenbEdition;
    std::vector<std::string> PassedOver;
    std::string Loaded; // Fingerprint() of the moment it was loaded
};

} // namespace orvel::rules
