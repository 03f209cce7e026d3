#include "rules/AustrianDirectory.h"
#include "rules/SclDirectory.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace orvel::rules {
namespace {

// Parsing text refuses it with an error that begins with error.
template <class Directory>
void ExpectRefused(const char* label, const std::string& text, const std::string& name, const std::string& error)
{
    std::istringstream in(text);
    try {
        Directory::Parse(in, name);
        ADD_FAILURE() << label << ": accepted";
    } catch (const std::runtime_error& refused) {
        EXPECT_TRUE(std::string(refused.what()).starts_with(error)) << label << ": " << refused.what();
    }
}

const std::string kSclHead = "Gueltig ab / valid from 04.12.2026;;;;;;\r\n"
                             "BIC;Name;SERVICE SCT;SERVICE COR;SERVICE COR1;SERVICE B2B;SERVICE SCC\r\n";

SclDirectory Scl(const std::string& rows)
{
    std::istringstream in(kSclHead + rows);
    return SclDirectory::Parse(in, "scl.csv");
}

TEST(SclDirectoryTest, ReadsFlagsAndFindsByTheXxxForm)
{
    const SclDirectory scl = Scl("BNPAFRPP;BNP PARIBAS;1;1;0;1;0\r\n"
                                 "COBADEFFXXX;Commerzbank;1;1;0;0;1\r\n"
                                 "COLSDE33BON;Sparkasse KoelnBonn Bonn;1;0;0;0;0\r\n"
                                 "REVOLT21;Revolut Bank UAB;1;0;0;0;0\r\n");
    EXPECT_EQ(scl.Date(), 1796342400); // 2026-12-04
    EXPECT_EQ(scl.size(), 4u);
    struct Case
    {
        const char* Asked;
        const char* Found; // nullptr: not listed
    };
    for (const Case& c : std::vector<Case>{
             {"BNPAFRPP", "BNPAFRPPXXX"},
             {"BNPAFRPPXXX", "BNPAFRPPXXX"},
             {"BNPAFRPPLYO", "BNPAFRPPXXX"}, // an unlisted branch: its institution
             {"COBADEFF", "COBADEFFXXX"},
             {"COLSDE33BON", "COLSDE33BON"},
             {"COLSDE33", nullptr}, // an 8-character BIC is the head office, never a listed branch
             {"COLSDE33XXX", nullptr},
             {"DEUTDEFF", nullptr},
             {"BNPAFR", nullptr},
         }) {
        const SclEntry* entry = scl.Find(c.Asked);
        if (!c.Found) {
            EXPECT_EQ(entry, nullptr) << c.Asked;
            continue;
        }
        ASSERT_NE(entry, nullptr) << c.Asked;
        EXPECT_EQ(entry->Bic, c.Found) << c.Asked;
    }
    const SclEntry* bnp = scl.Find("BNPAFRPP");
    EXPECT_EQ(bnp->Name, "BNP PARIBAS");
    EXPECT_TRUE(bnp->Sct);
    EXPECT_TRUE(bnp->Sdd);
    EXPECT_TRUE(bnp->B2b);
    EXPECT_FALSE(bnp->Scc);
    EXPECT_TRUE(scl.Find("COBADEFF")->Scc);
}

TEST(SclDirectoryTest, ReadsColumnsByHeaderName)
{
    std::istringstream in("Gueltig ab / valid from 04.12.2026\r\n"
                          "SERVICE SCC;SERVICE B2B;Name;BIC;SERVICE COR;SERVICE SCT;NEW\r\n"
                          "1;0;Some Bank;ABCDATWW;1;0;x\r\n");
    const SclDirectory scl = SclDirectory::Parse(in, "moved.csv");
    const SclEntry* entry = scl.Find("ABCDATWW");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Name, "Some Bank");
    EXPECT_FALSE(entry->Sct);
    EXPECT_TRUE(entry->Sdd);
    EXPECT_FALSE(entry->B2b);
    EXPECT_TRUE(entry->Scc);
}

TEST(SclDirectoryTest, RefusesWhatIsNoDirectoryNamingTheLine)
{
    const std::string row = "BNPAFRPP;BNP PARIBAS;1;1;0;1;0\r\n";
    struct Case
    {
        const char* Label;
        std::string Text;
        const char* Error;
    };
    for (const Case& c : std::vector<Case>{
             {"no date line", "BIC;Name\r\n" + row, "scl.csv:1: not an SCL directory"},
             {"impossible date",
              "Gueltig ab / valid from 31.02.2026;;\r\n" + kSclHead.substr(kSclHead.find('\n') + 1) + row,
              "scl.csv:1: no valid date \"31.02.2026\""},
             {"column missing",
              "Gueltig ab / valid from 04.12.2026\r\nBIC;Name;SERVICE SCT;SERVICE COR;SERVICE SCC\r\n",
              "scl.csv:2: no column \"SERVICE B2B\""},
             {"bad BIC", kSclHead + row + "BNP-FRPP;X;1;1;0;1;0\r\n", "scl.csv:4: not a BIC: \"BNP-FRPP\""},
             {"lower-case BIC", kSclHead + "bnpafrpp;X;1;1;0;1;0\r\n", "scl.csv:3: not a BIC"},
             {"flag", kSclHead + "BNPAFRPP;X;1;2;0;1;0\r\n", "scl.csv:3: SERVICE COR is \"2\""},
             {"short row", kSclHead + "BNPAFRPP;X;1;1\r\n", "scl.csv:3: 7 fields expected, 4 found"},
             {"twice, 8 and 11 characters", kSclHead + row + "DEUTDEFF;D;1;1;0;1;0\r\nBNPAFRPPXXX;B;1;1;0;1;0\r\n",
              "scl.csv:5: BNPAFRPPXXX is listed twice"},
             {"not ASCII", kSclHead + "BNPAFRPP;Soci\xE9t\xE9;1;1;0;1;0\r\n", "scl.csv:3: not ASCII"},
             {"no rows", kSclHead, "scl.csv:2: no BIC listed"},
         })
        ExpectRefused<SclDirectory>(c.Label, c.Text, "scl.csv", c.Error);
}

const std::string kOenbHead =
    "Dieses Verzeichnis wird von der OeNB ver\xF6"
    "ffentlicht;;;\r\n"
    "Alle Angaben ohne Gew\xE4hr;;;\r\n"
    "Stand siehe unten;;;\r\n"
    "\r\n"
    "SEPA-Verzeichnis-Abfrage vom 10.12.2026;;;\r\n"
    "Kennzeichen;Identnummer;Bankleitzahl;Institutsart;Sektor;Firmenbuchnummer;Bankenname;Stra\xDF"
    "e;PLZ;Ort;"
    "Postadresse / Stra\xDF"
    "e;Postadresse / PLZ;Postadresse / Ort;Postfach;Bundesland;Telefon;Fax;E-Mail;SWIFT-Code;"
    "Homepage;Gr\xFC"
    "ndungsdatum;LEI\r\n";

std::string OenbRow(const std::string& kind, const std::string& blz, const std::string& name, const std::string& place,
                    const std::string& bic)
{
    return kind + ";1;" + blz + ";Aktienbank;S;FN 1;" + name + ";Gasse 1;1010;" + place + ";;;;;Wien;;;;" + bic +
           ";;01.01.1900;\r\n";
}

AustrianDirectory Oenb(const std::string& rows)
{
    std::istringstream in(kOenbHead + rows);
    return AustrianDirectory::Parse(in, "oenb.csv");
}

TEST(AustrianDirectoryTest, ReadsBanksPadsCodesAndSearches)
{
    const AustrianDirectory oenb = Oenb(
        OenbRow("Hauptanstalt", "100", "Oesterreichische Nationalbank", "Wien", "NABAATWW") +
        OenbRow("Zweigstelle", "32000", "Raiffeisenbank Filiale", "Linz", "") +
        OenbRow("Hauptanstalt", "32000", "Raiffeisenlandesbank Nieder\xF6sterreich-Wien AG", "Wien", "RLNWATWWXXX") +
        OenbRow("Hauptanstalt", "12000", "UniCredit Bank Austria AG", "Wien", "BKAUATWW"));
    EXPECT_EQ(oenb.Date(), 1796860800); // 2026-12-10
    EXPECT_EQ(oenb.Codes(), 3u);
    EXPECT_EQ(oenb.Bics(), 3u);
    const AustrianBank* national = oenb.Find("00100");
    ASSERT_NE(national, nullptr);
    EXPECT_EQ(national, oenb.Find("100"));
    EXPECT_EQ(national->Bic, "NABAATWW");
    EXPECT_TRUE(national->Main);
    const AustrianBank* raiffeisen = oenb.Find("32000");
    ASSERT_NE(raiffeisen, nullptr);
    EXPECT_TRUE(raiffeisen->Main) << "the head office answers for its code, not the branch listed first";
    EXPECT_EQ(raiffeisen->Name, "Raiffeisenlandesbank Nieder\xF6sterreich-Wien AG");
    EXPECT_EQ(oenb.Find("99999"), nullptr);
    EXPECT_EQ(oenb.Find("123456"), nullptr);

    struct Case
    {
        const char* Words;
        bool Fragments;
        size_t Hits;
    };
    for (const Case& c : std::vector<Case>{{"raiffeisenlandesbank niederoesterreich", false, 1},
                                           {"Raiffeisen", false, 0},
                                           {"Raiffeisen", true, 2},
                                           {"wien bank", false, 1},
                                           {"Linz", false, 1}})
        EXPECT_EQ(oenb.Search(c.Words, c.Fragments, 10).size(), c.Hits) << c.Words;
}

TEST(AustrianDirectoryTest, RefusesWhatIsNoDirectoryNamingTheLine)
{
    const std::string row = OenbRow("Hauptanstalt", "12000", "UniCredit Bank Austria AG", "Wien", "BKAUATWW");
    std::string noBic = kOenbHead;
    noBic.replace(noBic.find("SWIFT-Code"), 10, "BIC");
    struct Case
    {
        const char* Label;
        std::string Text;
        const char* Error;
    };
    for (const Case& c : std::vector<Case>{
             {"no date line", "Kennzeichen;Bankleitzahl\r\n" + row, "oenb.csv:2: not an OeNB SEPA directory"},
             {"impossible date", "SEPA-Verzeichnis-Abfrage vom 32.12.2026\r\n", "oenb.csv:1: no valid date"},
             {"column missing", noBic + row, "oenb.csv:6: no column \"SWIFT-Code\""},
             {"UTF-8", kOenbHead + OenbRow("Hauptanstalt", "12000", "Bank \xC3\xB6sterreich", "Wien", "BKAUATWW"),
              "oenb.csv:7: UTF-8 text"},
             {"bank code", kOenbHead + OenbRow("Hauptanstalt", "1200A", "Bank", "Wien", ""),
              "oenb.csv:7: not a bank code"},
             {"BIC", kOenbHead + OenbRow("Hauptanstalt", "12000", "Bank", "Wien", "BKAUAT"), "oenb.csv:7: not a BIC"},
             {"two head offices", kOenbHead + row + row, "oenb.csv:8: bank code 12000 has two head offices"},
             {"short row", kOenbHead + "Hauptanstalt;1;12000\r\n", "oenb.csv:7: 22 fields expected, 3 found"},
             {"no rows", kOenbHead, "oenb.csv:6: no bank listed"},
         })
        ExpectRefused<AustrianDirectory>(c.Label, c.Text, "oenb.csv", c.Error);
}

} // namespace
} // namespace orvel::rules
