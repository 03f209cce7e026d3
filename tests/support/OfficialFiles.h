#pragma once
// SCL and OeNB directory files written by tests in the published formats: ';'-separated, CR LF; the SCL file ASCII,
// the OeNB file ISO-8859-1 with its notice lines and a header of 22 columns.

#include <fstream>
#include <string>
#include <vector>

namespace orvel::test {

struct SclRow
{
    std::string Bic;
    std::string Name;
    std::string Flags = "1;1;0;1;0"; // SCT;COR;COR1;B2B;SCC
};

// date "DD.MM.YYYY"
inline std::string WriteSclFile(const std::string& path, const std::string& date, const std::vector<SclRow>& rows)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "Gueltig ab / valid from " << date << ";;;;;;\r\n"
        << "BIC;Name;SERVICE SCT;SERVICE COR;SERVICE COR1;SERVICE B2B;SERVICE SCC\r\n";
    for (const SclRow& row : rows)
        out << row.Bic << ';' << row.Name << ';' << row.Flags << "\r\n";
    return path;
}

struct OenbRow
{
    std::string Blz;  // as the file writes it, leading zeros may be missing
    std::string Name; // Latin-1
    std::string Bic;
    std::string Place = "Wien";
    std::string Kind = "Hauptanstalt";
};

// date "DD.MM.YYYY"
inline std::string WriteOenbFile(const std::string& path, const std::string& date, const std::vector<OenbRow>& rows)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "Oesterreichische Nationalbank;;;\r\nSEPA-Zahlungsverkehrs-Verzeichnis;;;\r\nAlle Angaben ohne "
           "Gew\xE4hr;;;\r\n"
           "\r\nSEPA-Verzeichnis-Abfrage vom "
        << date
        << ";;;\r\nKennzeichen;Identnummer;Bankleitzahl;Institutsart;Sektor;Firmenbuchnummer;Bankenname;Stra\xDF"
           "e;PLZ;Ort;Postadresse / Stra\xDF"
           "e;Postadresse / PLZ;Postadresse / Ort;Postfach;Bundesland;Telefon;Fax;E-Mail;SWIFT-Code;Homepage;"
           "Gr\xFCndungsdatum;LEI\r\n";
    int ident = 1;
    for (const OenbRow& row : rows)
        out << row.Kind << ';' << ident++ << ';' << row.Blz << ";Aktienbank;Sektor;FN 1;" << row.Name
            << ";Gasse 1;1010;" << row.Place << ";;;;;Wien;;;;" << row.Bic << ";;01.01.1900;\r\n";
    return path;
}

} // namespace orvel::test
