#pragma once
// Checks answered in this process by the checking rules, with the data the local service would load: the same
// result properties that the check objects take from the service's answers, without a server or a network.

#include "cli/Runner.h"
#include "rules/OfficialData.h"
#include "rules/PostalData.h"
#include "rules/TarvikChecks.h"

#include <string>

namespace orvel::cli {

class TOfflineRunner final : public TRunner
{
public:
    // Loads the official directories and the postal data from where the service finds them (an installed edition
    // that cannot be read is passed over); throws std::runtime_error naming a file that cannot be read.
    TOfflineRunner();

    // Safe from several threads at once: the data is only read.
    TCheckOutcome Run(const TCheckCall& Call, const TCheckSettings& Settings) override;

    // One line for the output: that the answers are offline, and the data they come from with each edition.
    std::string Source() const;
    // Installed editions passed over as unreadable, for standard error.
    const std::vector<std::string>& PassedOver() const { return FData.PassedOver; }

private:
    rules::OfficialData FData;
    rules::TarvikChecks FChecks;
    rules::PostalData FPostal;
};

} // namespace orvel::cli
