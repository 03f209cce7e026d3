#pragma once
// The statuses of the BZSt's eVatR interface with their category, HTTP status and official German message.

#include <span>
#include <string>
#include <string_view>

namespace orvel::confirm {

struct EvatrStatus
{
    std::string Code;     // "evatr-0000"
    std::string Category; // "Ergebnis", "Hinweis" or "Fehler", as the live list names them
    int Http = 0;         // 0 where the interface names none
    std::string Field;    // the request field it concerns, or empty
    std::string Message;  // UTF-8, as the BZSt words it
};

// Every status, in the table's order.
std::span<const EvatrStatus> EvatrStatuses();
// The status of that code, or nullptr.
const EvatrStatus* FindEvatrStatus(std::string_view code);
// An error on the service's side that goes away by itself: worth another try.
bool IsTransient(const EvatrStatus& status);

} // namespace orvel::confirm
