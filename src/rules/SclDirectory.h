#pragma once
// The Bundesbank's SCL directory: the payment service providers its SEPA clearer reaches, per BIC with the services
// SCT, SDD core, SDD B2B and SCC. ASCII, ';'-separated, CR LF: a line "Gueltig ab / valid from DD.MM.YYYY", a header,
// one row per BIC. Its flags are information as of the directory's date, not a promise that a payment goes through.

#include <ctime>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::rules {

struct SclEntry
{
    std::string Bic;  // 11 characters; a row of 8 is kept in its "XXX" form
    std::string Name; // as listed (ASCII)
    bool Sct = false; // SEPA credit transfer
    bool Sdd = false; // SEPA direct debit, core scheme
    bool B2b = false; // SEPA direct debit, business to business
    bool Scc = false; // SEPA card clearing
};

class SclDirectory
{
public:
    // Throws std::runtime_error naming the file and line: wrong encoding, a missing header column, a bad date, a BIC
    // of the wrong form, a flag other than 0 or 1, a BIC listed twice, no rows.
    static SclDirectory Load(const std::string& path);
    static SclDirectory Parse(std::istream& in, const std::string& name);

    // The day the directory is valid from, midnight UTC.
    std::time_t Date() const { return Valid; }
    size_t size() const { return Rows.size(); }
    const std::vector<SclEntry>& Entries() const { return Rows; }
    // An 8-character BIC is its "XXX" form; an 11-character branch that is not listed falls back to its institution's
    // entry. nullptr when neither is listed. Upper case is expected (NormalizeBic).
    const SclEntry* Find(std::string_view bic) const;

private:
    const SclEntry* Exact(std::string_view bic) const;

    std::time_t Valid = 0;
    std::vector<SclEntry> Rows; // sorted by BIC
};

} // namespace orvel::rules
