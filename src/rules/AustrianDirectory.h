#pragma once
// The OeNB's SEPA directory of Austrian banks: ISO-8859-1, ';'-separated, CR LF. A few lines of notice, the line
// "SEPA-Verzeichnis-Abfrage vom DD.MM.YYYY", then a header whose columns are read by name (the OeNB has added
// columns before), one row per office. Austrian account numbers have no public check method: the directory tells
// whether a bank code exists, its name and its BIC, nothing about the account.

#include <ctime>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::rules {

struct AustrianBank
{
    std::string Blz;   // 5 digits; the file drops leading zeros ("100"), they are put back
    bool Main = false; // "Hauptanstalt", not a branch
    std::string Name;  // Windows-1252 (the file's Latin-1 is a subset)
    std::string Bic;   // 8 or 11 characters, may be empty
    std::string Plz;
    std::string Place;
};

class AustrianDirectory
{
public:
    // Throws std::runtime_error naming the file and line: wrong encoding, no date line, a missing header column, a
    // bank code that is no number of up to 5 digits, a BIC of the wrong form, a head office listed twice, no rows.
    static AustrianDirectory Load(const std::string& path);
    static AustrianDirectory Parse(std::istream& in, const std::string& name);

    // The day of the query the file was made from, midnight UTC.
    std::time_t Date() const { return Valid; }
    size_t size() const { return Banks.size(); }
    size_t Codes() const; // distinct bank codes
    size_t Bics() const;  // distinct BICs
    const std::vector<AustrianBank>& Entries() const { return Banks; }
    // The code's head office (or its first row); the code may lack its leading zeros. nullptr when not listed.
    const AustrianBank* Find(std::string_view blz) const;
    // Search words ANDed over name and place, as the German search: ignoring case and umlauts, whole words unless
    // fragments, at most limit hits in bank code order.
    std::vector<const AustrianBank*> Search(std::string_view words, bool fragments, size_t limit) const;

private:
    std::time_t Valid = 0;
    std::vector<AustrianBank> Banks; // sorted by bank code, head office first
    std::vector<std::string> Folded; // " NAME PLACE ", folded, per bank
};

// The BIC of an Austrian bank code (5 digits) from the built-in table, for when no OeNB directory is installed;
// empty when the table lacks the code.
std::string BuiltInAustrianBic(std::string_view blz);

// A bank code of up to 5 digits padded with leading zeros; empty when it is no such code.
std::string AustrianBlz(std::string_view digits);

} // namespace orvel::rules
