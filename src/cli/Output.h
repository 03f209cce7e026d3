#pragma once
// What orvelwddx-check tells about a check: the exit status and the result properties as text, JSON or CSV fields.

#include "server/Checks.h"

#include <string>

namespace orvel::cli {

enum TExitStatus : int {
    kPassed = 0,
    kNotPassed = 1,
    kUsage = 2,
    kUnreachable = 3, // the service, the bus or the server could not be reached
    kInterrupted = 130,
};

TExitStatus Verdict(const TOperationInfo& Operation, std::string_view CoClass, const TCheckOutcome& Outcome);

// A value as one line of text; list elements joined by "~".
std::string ValueText(const TCheckValue& Value);
// "Property: value" lines; Offline, when given, names the data of an answer given in this process.
std::string TextOutput(const TCheckOutcome& Outcome, std::string_view Offline = {});
// One JSON object on one line, lists as arrays; Offline as in TextOutput.
std::string JsonOutput(const TCheckOutcome& Outcome, std::string_view Offline = {});
// The message of a failed call.
std::string FailureText(const TCheckOutcome& Outcome);

} // namespace orvel::cli
