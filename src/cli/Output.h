#pragma once
// What orvelwddx-check tells about a check: the exit status and the result properties as text, JSON or CSV fields.

#include "server/Checks.h"

#include <string>
#include <utility>
#include <vector>

namespace orvel::cli {

enum TExitStatus : int {
    kPassed = 0,
    kNotPassed = 1,
    kUsage = 2,
    kUnreachable = 3, // the service, the bus or the server could not be reached
    kCannotWrite = 5, // an output file named on the command line could not be written (4 is the journal's)
    kInterrupted = 130,
};

TExitStatus Verdict(const TOperationInfo& Operation, std::string_view CoClass, const TCheckOutcome& Outcome);

// A value as one line of text; list elements joined by "~".
std::string ValueText(const TCheckValue& Value);
// Lines (JSON keys) after the result properties: the pieces of a VAT id answer, or that an answer is offline.
using TExtraLines = std::vector<std::pair<std::string, std::string>>;
// "Property: value" lines.
std::string TextOutput(const TCheckOutcome& Outcome, const TExtraLines& Extra = {});
// One JSON object on one line, lists as arrays.
std::string JsonOutput(const TCheckOutcome& Outcome, const TExtraLines& Extra = {});
// The names of a VAT id answer's pieces, in the order of its Resulttext.
inline constexpr std::string_view kVatPieceNames[] = {"Land", "Nummer", "Datum", "Gültig", "Name", "Anschrift"};
// A VAT id answer's Resulttext as named pieces: Land, Nummer, Datum, Gültig (ja/nein), Name, Anschrift; for a
// refusal by VIES or a country it does not serve, the verdict in words as Urteil.
TExtraLines VatPieces(const TCheckOutcome& Outcome);
// What a BIC query found, in words: "BIC gefunden", "BIC nicht im Verzeichnis", "BIC ungültig: …" or the fault that
// kept it from an answer. The query itself answers Result 0 and marks a failure only by a "*" in front of BicName.
std::string BicVerdict(const TCheckOutcome& Outcome);
// The message of a failed call.
std::string FailureText(const TCheckOutcome& Outcome);

} // namespace orvel::cli
