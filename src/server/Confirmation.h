#pragma once
// The qualified confirmation of a VAT id as OrvelWddx.Checks.Confirm on /OrvelWddx/UStID and orvelwddx-check offer
// it: the options by name, the answer's values, and the one-page PDF proof of a journal record.

#include "confirm/Confirm.h"
#include "confirm/Journal.h"
#include "server/Checks.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvel {

// The options Confirm takes, with their types.
std::span<const TCheckOption> ConfirmOptions();

// Empty when every option is known, has its type and a sound value; otherwise the message naming the first that
// does not.
std::string ConfirmOptionsFault(const TCheckSettings& Options);

// What RunConfirm asks, read from Options (which must have passed ConfirmOptionsFault) and checked as RunConfirm checks
// it: the request and its settings, or the answer given without asking (an id of a country outside VIES). Throws
// confirm::RequestRefused as RunConfirm does.
struct TConfirmCall
{
    confirm::Request Request;
    confirm::Settings Settings;
    std::optional<confirm::Answer> Answered;
};
TConfirmCall PrepareConfirm(const std::string& VatId, const TCheckSettings& Options, int64_t RetryOf = 0);

// Options must have passed ConfirmOptionsFault. The journal is the user's ($XDG_DATA_HOME). An id of a country
// outside VIES is answered invalid at once, without a record. Throws confirm::RequestRefused for a missing or wrong
// own id (its check digits) or company type, nothing written; confirm::JournalError when the confirmation cannot be
// recorded.
confirm::Answer RunConfirm(const std::string& VatId, const TCheckSettings& Options, int64_t RetryOf = 0);

// The answer's values in the order they are shown: Status, Qualified ("true"/"false"), Message, Service, RequestId,
// RequestTime, ValidFrom and ValidTo (when given), Matches ("Name=A;City=D"), Tries, JournalId, Fault (when there is
// one), Notice (what opening the journal had to tell the user, when it had something).
std::vector<std::pair<std::string, std::string>> AnswerFields(const confirm::Answer& Answer);

// What a service's match code means, in words ("stimmt überein").
QString MatchText(confirm::Service Via, const std::string& Code);
// An ISO 8601 time as a German reader writes it, with its zone: "10.12.2026, 22:05:09 Uhr (UTC+01:00)"; a date with
// an offset alone (VIES) as "10.12.2026 (UTC+01:00)"; anything else as it is.
QString GermanTime(const std::string& Iso);

// The PDF proof of a journal record, as an auditor reads it: a title by the result, the result block first, what was
// asked with each field's match in words, the trader data the service returned, the hash of the raw answer ("keine
// Anfrage gesendet" when nothing was sent), the chain value, the journal's file, the PDF's time, and the raw answer in
// full; a banner when the endpoint is not the service's own. Pages follow as the raw answer needs them. Throws
// std::runtime_error when the file cannot be written.
void WriteProofPdf(const confirm::Record& Record, const QString& File, const std::string& JournalPath);
// When a confirmation left unchecked is asked again: an hour after the record, doubling with each record in a row
// that stayed unchecked (Generation), at most a day later.
QDateTime NextTry(const confirm::Record& Pending, int Generation);
// The BZSt's maintenance hours, 23:00 to 05:00 German time, when its answers may be delayed.
bool InBzstMaintenance(const QDateTime& At);
// The journal's chain, and each record against its raw answer: Ok, or the first record that does not fit and why.
confirm::ChainCheck CheckJournal(const confirm::Journal& Journal);
// The options that ask again for a pending confirmation: its own id, service, details and reference on top of
// Connection.
TCheckSettings RetryOptions(const confirm::Record& Pending, const TCheckSettings& Connection);

} // namespace orvel
