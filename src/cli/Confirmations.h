#pragma once
// orvelwddx-check's qualified confirmation (vat-confirm) and its journal (journal): export and the PDF proof.

#include "confirm/Journal.h"
#include "server/Checks.h"

#include <cstdio>
#include <string>

namespace orvel::cli {

// The exit status of a confirmation whose journal could not be written.
inline constexpr int kJournalFailed = 4;

// Prints the answer as "Key: value" lines or one JSON object; returns 0 valid, 1 invalid, 3 not checked,
// kJournalFailed when the confirmation could not be recorded. Options must have passed ConfirmOptionsFault.
int RunVatConfirm(const std::string& VatId, const TCheckSettings& Options, bool Json, bool Bus, FILE* Out, FILE* Err);

enum class TJournalFormat { Text, Json, Csv, ExcelCsv };
// Every record the filter lets through, oldest first; the raw answer base64-encoded. ExcelCsv is CSV for a German
// Excel: semicolons, a byte order mark, a "'" before a cell it would run as a formula.
int ExportJournal(const confirm::JournalFilter& Filter, TJournalFormat Format, FILE* Out);
// The same records as a workbook, the columns of the CSV; kCannotWrite when File cannot be written.
int WriteJournalWorkbook(const confirm::JournalFilter& Filter, const std::string& File, FILE* Err);
// The one-page PDF proof of record Id; 1 when there is no such record, kCannotWrite when File cannot be written.
int WriteProof(int64_t Id, const std::string& File, FILE* Err);

} // namespace orvel::cli
