#pragma once
// orvelwddx-check's qualified confirmation (vat-confirm) and its journal (journal): export and the PDF proof.

#include "confirm/Journal.h"
#include "server/Checks.h"

#include <QDateTime>

#include <cstdio>
#include <string>

namespace orvel::cli {

// The exit status of a confirmation whose journal could not be written.
inline constexpr int kJournalFailed = 4;
// The exit status of a request refused before it was sent (own id missing or wrong, company type out of form).
inline constexpr int kRefused = 2;

// Prints the answer as "Key: value" lines or one JSON object, every value on its line; returns 0 valid (qualified or
// not: the Qualified line says which), 1 invalid, 3 not checked, kRefused, kJournalFailed when the confirmation
// could not be recorded. Options must have passed ConfirmOptionsFault.
int RunVatConfirm(const std::string& VatId, const TCheckSettings& Options, bool Json, bool Bus, FILE* Out, FILE* Err);

enum class TJournalFormat { Text, Json, Csv, ExcelCsv };
// The journal's CSV header, and one record's fields under it: control and bidirectional characters neutralised, line
// breaks as blanks, formulas guarded; the raw answer base64-encoded.
std::vector<std::string> JournalCsvColumns();
std::vector<std::string> JournalCsvFields(const confirm::Record& Record);
// Every record the filter lets through, oldest first, with the same guards in every format. ExcelCsv is CSV for a
// German Excel: semicolons, a byte order mark, CR LF. A record whose status or matches its raw answer contradicts is
// named on Err (and in the text); then 1.
int ExportJournal(const confirm::JournalFilter& Filter, TJournalFormat Format, FILE* Out, FILE* Err);
// The same records as a workbook, the columns of the CSV; kCannotWrite when File cannot be written.
int WriteJournalWorkbook(const confirm::JournalFilter& Filter, const std::string& File, FILE* Err);
// Asks again for every pending confirmation whose next try has come by Now (every one with All), BZSt ones never in
// its maintenance hours; each answer is a new record linked to the pending one. One line per pending record. 0 when
// none stays pending, 3 otherwise, kJournalFailed when an answer could not be recorded.
int RetryPending(bool All, const TCheckSettings& Connection, const QDateTime& Now, FILE* Out);

// Recomputes the journal's chain and checks each record against its raw answer: 0 and a summary, or 1 naming the
// first record that does not fit.
int VerifyJournal(FILE* Out);
// The one-page PDF proof of record Id; 1 when there is no such record, kCannotWrite when File cannot be written.
int WriteProof(int64_t Id, const std::string& File, FILE* Err);

} // namespace orvel::cli
