#include "feeds/Sources.h"

#include "rules/AustrianDirectory.h"
#include "rules/BankDirectory.h"
#include "rules/DirectoryText.h"
#include "rules/SclDirectory.h"
#include "rules/TarvikChecks.h"

#include <fstream>
#include <regex>
#include <stdexcept>

namespace orvel::feeds {

const std::array<SourceInfo, 3> kSources{{
    {"bundesbank", "Bankleitzahlendatei der Bundesbank", "blz_", ".txt", 16u << 20, 1000, "BundesbankUrl",
     "ORVELWDDX_BUNDESBANK_URL",
     "https://www.bundesbank.de/de/aufgaben/unbarer-zahlungsverkehr/serviceangebot/bankleitzahlen/"
     "download-bankleitzahlen-602592"},
    {"scl", "SCL-Directory der Bundesbank", "scl_", ".csv", 4u << 20, 500, "SclUrl", "ORVELWDDX_SCL_URL",
     "https://www.bundesbank.de/scl-directory"},
    {"oenb", "SEPA-Verzeichnis der OeNB", "oenb_", ".csv", 4u << 20, 100, "OenbUrl", "ORVELWDDX_OENB_URL",
     "https://www.oenb.at/docroot/downloads_observ/sepa-zv-vz_gesamt.csv"},
}};

const SourceInfo& Bundesbank()
{
    return kSources[0];
}

const SourceInfo* SourceNamed(std::string_view name)
{
    for (const SourceInfo& source : kSources)
        if (source.Name == name)
            return &source;
    return nullptr;
}

std::time_t ParseDay(std::string_view text)
{
    static const std::regex day(R"((\d{4})-?(\d{2})-?(\d{2}))");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_match(text.begin(), text.end(), match, day) || (text.size() == 10) != (text[4] == '-') ||
        (text.size() == 10 && text[7] != '-'))
        return -1;
    return rules::CivilDate(std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]));
}

std::string IsoDay(std::time_t date)
{
    return rules::IsoDate(date);
}

namespace {

std::string Bic11(const std::string& bic)
{
    return bic.size() == 8 ? bic + "XXX" : bic;
}

} // namespace

Contents Inspect(const SourceInfo& source, const std::string& path, std::time_t validFrom)
{
    Contents contents;
    if (&source == &Bundesbank()) {
        {
            // The fixed-width reader takes bytes as they come; the encoding is checked here.
            std::ifstream in(path, std::ios::binary);
            rules::DirectoryLines lines(in, path, false);
            for (std::string line; lines.Next(line);) {
            }
        }
        const rules::BankDirectory banks = rules::BankDirectory::Load(path);
        if (banks.Source().BuiltIn)
            throw std::runtime_error(path + ": keine Bankleitzahlendatei der Bundesbank");
        contents.ValidFrom = validFrom;
        for (const rules::Bank& bank : banks.Records()) {
            // Accounts of a method published after this program would pass unchecked.
            if (!rules::ComputableMethod(bank.Method))
                throw std::runtime_error(path + ": Bankleitzahl " + bank.Blz + ": Prüfziffernmethode \"" + bank.Method +
                                         "\" unbekannt");
            contents.Codes.insert(bank.Blz);
            if (!bank.Bic.empty())
                contents.Bics.insert(Bic11(bank.Bic));
        }
    } else if (source.Name == "scl") {
        const rules::SclDirectory scl = rules::SclDirectory::Load(path);
        contents.ValidFrom = scl.Date();
        for (const rules::SclEntry& entry : scl.Entries())
            contents.Bics.insert(entry.Bic);
    } else {
        const rules::AustrianDirectory austrian = rules::AustrianDirectory::Load(path);
        contents.ValidFrom = austrian.Date();
        for (const rules::AustrianBank& bank : austrian.Entries()) {
            contents.Codes.insert(bank.Blz);
            if (!bank.Bic.empty())
                contents.Bics.insert(Bic11(bank.Bic));
        }
    }
    return contents;
}

std::string Implausible(const SourceInfo& source, const Contents& next, const Contents* installed)
{
    const bool byBic = next.Codes.empty();
    const std::set<std::string>& entries = byBic ? next.Bics : next.Codes;
    const std::string kind = byBic ? "BICs" : "Bankleitzahlen";
    if (entries.size() < source.MinimumEntries)
        return "nur " + std::to_string(entries.size()) + " " + kind + ", eine vollständige Ausgabe hat mindestens " +
               std::to_string(source.MinimumEntries);
    if (!installed)
        return {};
    if (next.ValidFrom < installed->ValidFrom)
        return "gültig ab " + rules::GermanDate(next.ValidFrom) + ", älter als die installierte Ausgabe (gültig ab " +
               rules::GermanDate(installed->ValidFrom) + ")";
    const auto dropped = [](const std::set<std::string>& before, const std::set<std::string>& after,
                            const std::string& what) -> std::string {
        size_t gone = 0;
        for (const std::string& entry : before)
            gone += !after.contains(entry);
        if (gone * 10 <= before.size())
            return {};
        return std::to_string(gone * 100 / before.size()) + " % der installierten " + what + " fehlen (" +
               std::to_string(gone) + " von " + std::to_string(before.size()) + ")";
    };
    if (std::string codes = dropped(installed->Codes, next.Codes, "Bankleitzahlen"); !codes.empty())
        return codes;
    return dropped(installed->Bics, next.Bics, "BICs");
}

PageEdition ReadBundesbankPage(std::string_view html, const std::string& pageUrl)
{
    // Tags and entities between the words must not matter: the page is read as plain text.
    std::string text;
    text.reserve(html.size());
    for (size_t i = 0; i < html.size(); ++i) {
        if (html.substr(i, 6) == "&nbsp;") {
            text += ' ';
            i += 5;
        } else if (html.substr(i, 6) == "&uuml;" || html.substr(i, 6) == "&#252;") {
            text += "ü";
            i += 5;
        } else {
            text += html[i];
        }
    }
    PageEdition edition;
    static const std::regex link(
        R"re(((?:https?://[^/"'\s<>]+)?)/resource/blob/602632/([0-9A-Fa-f]{32})/mL/blz-aktuell-txt-data\.txt)re");
    std::smatch found;
    if (!std::regex_search(text, found, link))
        throw std::runtime_error(pageUrl + ": kein Verweis auf blz-aktuell-txt-data.txt auf der Seite");
    edition.Hash = found[2];
    if (found[1].length() > 0) {
        edition.Url = found[0];
    } else {
        static const std::regex origin(R"(^(https?://[^/]+))");
        std::smatch site;
        if (!std::regex_search(pageUrl, site, origin))
            throw std::runtime_error(pageUrl + ": keine Adresse, gegen die der Verweis gilt");
        edition.Url = site[1].str() + found[0].str();
    }
    static const std::regex validity(
        R"((?:gültig|gueltig)(?:\s|<[^>]*>)+(?:vom|ab)(?:\s|<[^>]*>)+(\d{1,2})\.\s*(\d{1,2})\.\s*(\d{4})(?:(?:\s|<[^>]*>)+bis(?:\s|<[^>]*>)+(?:zum(?:\s|<[^>]*>)+)?(\d{1,2})\.\s*(\d{1,2})\.\s*(\d{4}))?)",
        std::regex::icase);
    std::smatch valid;
    if (!std::regex_search(text, valid, validity))
        throw std::runtime_error(pageUrl + ": keine Gültigkeit (\"gültig vom TT.MM.JJJJ\") auf der Seite");
    edition.From = rules::CivilDate(std::stoi(valid[3]), std::stoi(valid[2]), std::stoi(valid[1]));
    if (valid[4].matched)
        edition.Until = rules::CivilDate(std::stoi(valid[6]), std::stoi(valid[5]), std::stoi(valid[4]));
    if (edition.From < 0 || edition.Until < 0)
        throw std::runtime_error(pageUrl + ": Gültigkeit \"" + valid[0].str() + "\" ist kein Datum");
    return edition;
}

} // namespace orvel::feeds
