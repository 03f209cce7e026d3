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
    // What Load would read now, as paths, sizes, times and what the state files say of them: when it changes, the
    // data is worth loading again.
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

// Whether the edition in use is past its end (see Superseded).
bool IsSuperseded(const Edition& edition, std::time_t now);
// One German line (UTF-8) per source naming the edition in use: "Bankleitzahlen (Deutsche Bundesbank): gültig ab
// 07.12.2026 bis 07.03.2027, geladen am 11.12.2026 06:00", then the SCL and OeNB directories, "nicht installiert"
// with what answers instead; " – neuere Ausgabe verfügbar" when superseded.
std::vector<std::string> DescribeEditions(const OfficialData& data, std::time_t now);

} // namespace orvel::rules
