// The Bundesbank's download page read leniently, dates that exist, and the plausibility of a new edition.

#include "feeds/Sources.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace orvel::feeds {
namespace {

const std::string kPage = "https://www.bundesbank.de/de/bankleitzahlen/download-bankleitzahlen-602592";
const std::string kHash = "5e3a1e7c0d1b4a2f9c8e7d6b5a4f3e2d";
const std::string kLink = "/resource/blob/602632/" + kHash + "/mL/blz-aktuell-txt-data.txt";

TEST(BundesbankPageTest, FindsTheLinkAndTheValidityHoweverTheyAreWritten)
{
    const struct
    {
        const char* Label;
        std::string Html;
        std::string Url;
        std::string From;
        std::string Until; // empty: the page names no end
    } cases[] = {
        {"site-relative link, entities and tags between the words",
         "<p>g&uuml;ltig&nbsp;vom <strong>07.12.2026</strong> bis 07.03.2027</p><a href=\"" + kLink + "\">TXT</a>",
         "https://www.bundesbank.de" + kLink, "2026-12-07", "2027-03-07"},
        {"absolute link, umlaut as UTF-8, one-digit day and month",
         "Gültig vom 8.3.2027 bis 6.6.2027 <a href='https://www.bundesbank.de" + kLink + "'>",
         "https://www.bundesbank.de" + kLink, "2027-03-08", "2027-06-06"},
        {"\"gueltig ab\" without an end", "<a href=\"" + kLink + "\">TXT</a> Die Datei ist gueltig ab 07.12.2026.",
         "https://www.bundesbank.de" + kLink, "2026-12-07", ""},
        {"the CSV link first does not count",
         "gültig vom 07.12.2026 bis 07.03.2027 <a href=\"/resource/blob/602632/" + std::string(32, 'a') +
             "/mL/blz-aktuell-csv-data.csv\">CSV</a><a href=\"" + kLink + "\">TXT</a>",
         "https://www.bundesbank.de" + kLink, "2026-12-07", "2027-03-07"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Label);
        const PageEdition edition = ReadBundesbankPage(entry.Html, kPage);
        EXPECT_EQ(edition.Url, entry.Url);
        EXPECT_EQ(edition.Hash, kHash);
        EXPECT_EQ(IsoDay(edition.From), entry.From);
        EXPECT_EQ(entry.Until.empty() ? std::string() : IsoDay(edition.Until), entry.Until);
    }
}

TEST(BundesbankPageTest, APageWithoutWhatIsNeededSaysWhatIsMissing)
{
    const struct
    {
        std::string Html;
        std::string Says;
    } cases[] = {
        {"<p>Wartungsarbeiten</p>", "kein Verweis auf blz-aktuell-txt-data.txt"},
        {"<a href=\"/resource/blob/602632/abc/mL/blz-aktuell-txt-data.txt\">", "kein Verweis"},
        {"<a href=\"" + kLink + "\">TXT</a>", "keine Gültigkeit"},
        {"gültig vom 31.02.2027 bis 06.06.2027 <a href=\"" + kLink + "\">",
         "Gültigkeit \"gültig vom 31.02.2027 bis 06.06.2027\" ist kein Datum"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Html);
        try {
            ReadBundesbankPage(entry.Html, kPage);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(kPage + ": " + entry.Says), std::string::npos) << error.what();
        }
    }
}

TEST(ParseDayTest, OnlyDaysThatExist)
{
    EXPECT_EQ(IsoDay(ParseDay("2026-12-07")), "2026-12-07");
    EXPECT_EQ(IsoDay(ParseDay("20280229")), "2028-02-29");
    for (const char* wrong : {"2026-02-31", "20261399", "2027-02-29", "2026-12-7", "2026-1207", "07.12.2026", ""})
        EXPECT_EQ(ParseDay(wrong), -1) << wrong;
}

TEST(ImplausibleTest, SizeAgeAndWhatIsGone)
{
    const SourceInfo& source = Bundesbank();
    Contents installed;
    installed.ValidFrom = ParseDay("2026-09-07");
    for (int i = 0; i < 2000; ++i) {
        installed.Codes.insert(std::to_string(10000000 + i));
        installed.Bics.insert("BANK" + std::to_string(1000 + i) + "XXX");
    }
    const auto edition = [&](int codes, int bics, const char* from) {
        Contents next = installed;
        next.ValidFrom = ParseDay(from);
        while (int(next.Codes.size()) > codes)
            next.Codes.erase(next.Codes.begin());
        while (int(next.Bics.size()) > bics)
            next.Bics.erase(next.Bics.begin());
        return next;
    };
    const struct
    {
        const char* Label;
        Contents Next;
        const Contents* Installed;
        std::string Says; // empty: plausible
    } cases[] = {
        {"the same codes, a later day", edition(2000, 2000, "2026-12-07"), &installed, ""},
        {"a tenth gone is still an edition", edition(1800, 1800, "2026-12-07"), &installed, ""},
        {"nothing installed to compare with", edition(1500, 10, "2026-12-07"), nullptr, ""},
        {"more than a tenth of the codes gone", edition(1799, 2000, "2026-12-07"), &installed,
         "10 % der installierten Bankleitzahlen fehlen (201 von 2000)"},
        {"more than a tenth of the BICs gone", edition(2000, 1400, "2026-12-07"), &installed,
         "30 % der installierten BICs fehlen (600 von 2000)"},
        {"older than the edition in use", edition(2000, 2000, "2026-06-08"), &installed,
         "gültig ab 08.06.2026, älter als die installierte Ausgabe (gültig ab 07.09.2026)"},
        {"too few for a whole file", edition(999, 999, "2026-12-07"), nullptr,
         "nur 999 Bankleitzahlen, eine vollständige Ausgabe hat mindestens 1000"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.Label);
        EXPECT_EQ(Implausible(source, entry.Next, entry.Installed), entry.Says);
    }
}

} // namespace
} // namespace orvel::feeds
