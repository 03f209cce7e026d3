#pragma once
// The qualified confirmation of a foreign VAT id: VIES checkVatApprox (with the requester's own id, for the
// consultation number) or the BZSt's eVatR REST interface; transient faults retried, every outcome journaled.

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvel {
class SoapResponse;
struct HttpReply;
} // namespace orvel

namespace orvel::confirm {

class Journal;

enum class Service { Vies, Bzst };
enum class Status { Valid, Invalid, NotChecked };

std::string_view ServiceName(Service service); // "vies", "bzst"
std::string_view StatusName(Status status);    // "valid", "invalid", "not-checked"

// The answer to an id of a country VIES does not serve; nothing is asked.
inline constexpr std::string_view kNotMemberState =
    "kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der EU-Mitgliedstaaten und Nordirlands (XI)";

// The message of a confirmation whose service stayed unavailable through every try.
inline constexpr std::string_view kNotCheckedMessage =
    "nicht geprüft – Dienst vorübergehend nicht verfügbar, bitte später erneut";

// A request that is not sent because it cannot be right (own id missing or wrong, company type out of form);
// what() is German, UTF-8. Nothing is journaled.
class RequestRefused : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// All text UTF-8. Ids carry their country prefix, in any form NormalizeId takes. A qualified request needs Name and
// City; without either the simple question is asked.
struct Request
{
    std::string ForeignId;
    std::string OwnId;
    std::string Name;
    std::string CompanyType; // VIES only
    std::string Street;
    std::string Zip;
    std::string City;
    Service Via = Service::Vies;
    std::string Reference{}; // the caller's own, kept with the record (an invoice number, say)
    int64_t RetryOf = 0;     // the pending record this request asks again for
};

// Tries with exponential back-off and jitter: the n-th pause is FirstPause·2^(n−1) times a random factor of 0.5
// to 1.5, never more than half the time left; no try starts once Within has passed since the first, and without a
// Timeout of the caller's no try waits longer for data than the time left (at least 1 s).
struct RetryPolicy
{
    int Tries = 3;
    std::chrono::milliseconds Within{30000};
    std::chrono::milliseconds FirstPause{1000};
};

struct Settings
{
    std::string ViesUrl; // empty: the configured VIES endpoint
    std::string BzstUrl; // empty: the configured eVatR endpoint
    int32_t Timeout = 0; // milliseconds for each wait for data; 0 or less: the client's default
    std::string Proxy;   // "host:port"; empty: the system's proxy configuration
    std::string ProxyUser;
    std::string ProxyPass;
    RetryPolicy Retry;
};

struct Answer
{
    Status Verdict = Status::NotChecked;
    // A valid id whose name and place the service confirmed along with it: VIES with a consultation number, the BZSt
    // with evatr-0000. A simple question, evatr-0003 and evatr-2008 are valid but not qualified.
    bool Qualified = false;
    std::string Message; // German
    std::string Fault;   // why the service stayed unavailable, when it did
    Service Via = Service::Vies;
    std::string Endpoint;
    std::string RequestId;   // VIES's consultation number or the BZSt's id
    std::string RequestTime; // as the service gives it
    std::string ValidFrom;
    std::string ValidTo;
    std::vector<std::pair<std::string, std::string>> Matches; // Name, CompanyType, Street, Zip, City → code
    std::vector<std::pair<std::string, std::string>> Trader;  // what VIES returned: Name, CompanyType, Address, …
    std::string Raw;                                          // the last answer's bytes; empty when nothing came back
    int Tries = 0;
    int64_t JournalId = 0;
    std::string JournalNotice; // what opening the journal had to tell the user (Journal::Notice)
};

// The id as the services take it: without separators of any kind, in capitals, Greece's GR as EL (Northern
// Ireland's XI stays).
std::string NormalizeId(std::string_view id);

// The company type's form as VIES accepts it: two capitals, a hyphen, 1 to 99 ("DE-1", "AT-12").
bool IsCompanyType(std::string_view type);

// What VIES means by a fault string: the code it carries (a "…_TIME" form read as its code), whether asking again
// later may help, and a German verdict. Unknown faults are final, their text kept.
struct ViesFault
{
    std::string Code;
    bool Known = false; // one of VIES's documented codes
    bool Transient = false;
    std::string Verdict;
};
ViesFault ReadViesFault(std::string_view faultString);

// One exchange with the service. Transient is true for a fault that may go by itself (busy or unavailable
// service, time-out, transport failure); the answer then says what happened in Message.
struct Attempt
{
    Answer Result;
    bool Transient = false;
    bool Crowded = false; // VIES refused it as one request too many for the member state (MS_MAX_CONCURRENT_REQ)
};
Attempt AskVies(const Request& request, const Settings& settings);
Attempt AskBzst(const Request& request, const Settings& settings);

// The readers of the answers the two ask with, Base holding what the asking already knows. A checkVatApprox answer
// that is no checkVatApproxResponse throws Error.
Attempt ReadViesApprox(const SoapResponse& Response, Answer Base);
Attempt ReadEvatrAnswer(const HttpReply& Reply, Answer Base);

// The whole confirmation, appended to the journal. A German foreign id is not sent to the BZSt, which confirms
// none. Throws RequestRefused for a company type out of form, before anything is sent or written; JournalError when
// the record cannot be written: a confirmation without its proof is worthless.
Answer Confirm(const Request& request, const Settings& settings, Journal& journal);
// The confirmation as every front asks for it: an id of a country outside VIES answered at once as invalid (nothing
// sent, nothing journaled); a missing or wrong own id refused (RequestRefused, nothing sent or written); else
// Confirm into the journal at journalPath (JournalError when it cannot be opened).
Answer ConfirmChecked(const Request& request, const Settings& settings, const std::string& journalPath);
// The checks ConfirmChecked makes before anything is sent, for callers that journal themselves: the answer for an id
// outside VIES, if it is one; CheckOwnId throws RequestRefused for a missing or wrong own id.
std::optional<Answer> OutsideVies(const Request& request);
void CheckOwnId(const Request& request);

struct Record;

// The pieces of Confirm, for callers that pace the tries themselves (ConfirmQueue).
// Throws RequestRefused for a company type out of form.
void CheckCompanyType(const Request& request);
// The answer given without asking (a German id to the BZSt), if there is one.
std::optional<Answer> AnsweredWithoutAsking(const Request& request, const Settings& settings);
// One try, Start being when the first try began: without a Timeout of the caller's it waits no longer than the time
// left of RetryPolicy::Within.
Attempt AskOnce(const Request& request, const Settings& settings, std::chrono::steady_clock::time_point start);
// The pause before try PauseNumber + 1, Left being the time left of RetryPolicy::Within.
std::chrono::milliseconds RetryPause(const RetryPolicy& policy, int pauseNumber, std::chrono::milliseconds left);
// The answer of the last transient fault made the answer of a confirmation that stayed unchecked.
void GiveUp(Answer& answer);
// The journal record of the request and its answer.
Record RecordOf(const Request& request, const Answer& answer);

// A confirmation record's stored raw answer read again, as the service's answer was read when it came.
Answer ReadStoredAnswer(const Record& record);
// Empty when a confirmation record's status and matches are what its stored raw answer says; otherwise, in German,
// what differs. Records of simple checks are not judged.
std::string RawDisagreement(const Record& record);

} // namespace orvel::confirm
