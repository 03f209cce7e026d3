#include "rules/OfficialData.h"

#include "rules/PostalData.h"

#include <sys/stat.h>

#include <stdexcept>

namespace orvel::rules {
namespace {

// The first edition that reads; the ones before it go to passed.
template <typename Directory, typename Reader>
std::optional<Directory> FirstReadable(const std::vector<Edition>& editions, Reader read, Edition& used,
                                       std::vector<std::string>& passed)
{
    for (const Edition& edition : editions) {
        try {
            std::optional<Directory> directory(read(edition.Path));
            used = edition;
            return directory;
        } catch (const std::exception& error) {
            passed.push_back("passed over " + edition.Path + ": " + error.what());
        }
    }
    return std::nullopt;
}

std::string Listed(const std::vector<Edition>& editions)
{
    std::string text;
    for (const Edition& edition : editions)
        text += edition.Path + " " + std::to_string(edition.Size) + " " + std::to_string(edition.Modified) + " " +
                std::to_string(edition.Until) + " " + edition.FetchedAt + "\n";
    return text;
}

} // namespace

std::string OfficialData::Fingerprint(std::time_t now, const std::string& pinnedBankFile)
{
    // A new day may bring an edition's day or its end.
    std::string text = "day " + std::to_string(GermanDay(now)) + "\n";
    if (pinnedBankFile.empty()) {
        text += "built-in " + std::to_string(BuiltInBankDate(now)) + "\n" +
                Listed(InstalledEditions(DataSource::Bundesbank, now));
    } else {
        struct stat info
        {
        };
        if (::stat(pinnedBankFile.c_str(), &info) == 0)
            text += pinnedBankFile + " " + std::to_string(info.st_size) + " " + std::to_string(info.st_mtime) + "\n";
    }
    return text + Listed(InstalledEditions(DataSource::Scl, now)) + Listed(InstalledEditions(DataSource::Oenb, now));
}

OfficialData OfficialData::Load(std::time_t now, const std::string& pinnedBankFile)
{
    OfficialData data;
    data.Loaded = Fingerprint(now, pinnedBankFile);
    if (!pinnedBankFile.empty()) {
        data.Banks = BankDirectory::Load(pinnedBankFile, now);
        data.BanksEdition.Path = pinnedBankFile;
        data.BanksEdition.From = data.Banks.Date();
    } else {
        // An installed edition counts when it is newer than the built-in data of the day.
        std::vector<Edition> newer;
        for (const Edition& edition : InstalledEditions(DataSource::Bundesbank, now))
            if (edition.From > BuiltInBankDate(now))
                newer.push_back(edition);
        const auto read = [now](const std::string& path) {
            BankDirectory banks = BankDirectory::Load(path, now);
            if (banks.Source().BuiltIn)
                throw std::runtime_error("not a Bundesbank file");
            return banks;
        };
        if (auto banks = FirstReadable<BankDirectory>(newer, read, data.BanksEdition, data.PassedOver)) {
            data.Banks = std::move(*banks);
        } else {
            data.Banks = BankDirectory::Load(BuiltInDataPath("bankleitzahlen.tsv"), now);
            data.BanksEdition.From = data.Banks.Date();
        }
    }
    data.Scl = FirstReadable<SclDirectory>(InstalledEditions(DataSource::Scl, now), &SclDirectory::Load,
                                           data.SclEdition, data.PassedOver);
    data.Austria = FirstReadable<AustrianDirectory>(InstalledEditions(DataSource::Oenb, now), &AustrianDirectory::Load,
                                                    data.OenbEdition, data.PassedOver);
    return data;
}

bool IsSuperseded(const Edition& edition, std::time_t now)
{
    return Superseded(edition.From, edition.Until, now);
}

std::vector<std::string> DescribeEditions(const OfficialData& data, std::time_t now)
{
    const auto text = [now](const Edition& edition) {
        return DescribeEdition(edition) + (IsSuperseded(edition, now) ? " – neuere Ausgabe verfügbar" : "");
    };
    return {std::string("Bankleitzahlen (") + (data.Banks.Source().BuiltIn ? "mitgeliefert" : "Deutsche Bundesbank") +
                "): " + text(data.BanksEdition),
            "SCL-Verzeichnis: " + (data.Scl
                                       ? text(data.SclEdition)
                                       : std::string("nicht installiert, SCT, SDD und B2B aus dem Bankverzeichnis")),
            "OeNB-Verzeichnis: " +
                (data.Austria ? text(data.OenbEdition)
                              : std::string("nicht installiert, österreichische BICs aus der mitgelieferten Tabelle"))};
}

} // namespace orvel::rules
