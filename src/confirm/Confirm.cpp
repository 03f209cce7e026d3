#include "confirm/Confirm.h"

#include "confirm/EvatrStatus.h"
#include "confirm/Journal.h"
#include "platform/Codepage.h"
#include "platform/Config.h"
#include "rules/VatRules.h"
#include "transport/HttpClient.h"
#include "transport/Soap.h"
#include "transport/Xml.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <random>
#include <thread>

namespace orvel::confirm {
namespace {

const std::string kViesTypes = "urn:ec.europa.eu:taxud:vies:services:checkVat:types";
const SoapOperation kCheckVatApprox{"checkVatApprox", kViesTypes, SoapStyle::DocumentLiteral, ""};

// VIES's fault codes: those worth asking again later (a busy or unavailable service) first, then the final ones.
struct KnownFault
{
    std::string_view Code;
    bool Transient;
    std::string_view Verdict;
};
constexpr std::array<KnownFault, 10> kViesFaults{{
    {"SERVICE_UNAVAILABLE", true, "VIES ist zurzeit nicht verfügbar"},
    {"MS_UNAVAILABLE", true, "der Dienst des Mitgliedstaats ist zurzeit nicht verfügbar"},
    {"TIMEOUT", true, "der Dienst des Mitgliedstaats hat nicht rechtzeitig geantwortet"},
    {"GLOBAL_MAX_CONCURRENT_REQ", true, "VIES ist überlastet"},
    {"MS_MAX_CONCURRENT_REQ", true, "der Dienst des Mitgliedstaats ist überlastet"},
    {"SERVER_BUSY", true, "VIES ist überlastet"},
    {"INVALID_INPUT", false, "VIES weist die Anfrage ab: Länderkennzeichen, Nummer oder Angaben ungültig"},
    {"INVALID_REQUESTER_INFO", false, "VIES weist die Anfrage ab: die eigene USt-IdNr. ist ungültig"},
    {"VAT_BLOCKED", false, "VIES weist die Anfrage ab: die USt-IdNr. ist für Abfragen gesperrt"},
    {"IP_BLOCKED", false, "VIES weist die Anfrage ab: Anfragen von dieser Adresse sind gesperrt"},
}};

// Said with a valid id that is not confirmed qualified because only the simple question was asked.
constexpr std::string_view kSimpleQuestion =
    " Einfache Bestätigungsanfrage: ohne Firmenname und Ort keine qualifizierte Bestätigung.";

// Statuses by which the BZSt judges the foreign id itself; every other status that is not transient concerns the
// request (the own id, missing fields) and leaves the id unchecked.
constexpr std::array<std::string_view, 3> kEvatrValid{"evatr-0000", "evatr-0003", "evatr-2008"};
constexpr std::string_view kEvatrQualified = "evatr-0000";
constexpr std::array<std::string_view, 6> kEvatrInvalid{"evatr-0005", "evatr-0012", "evatr-2001",
                                                        "evatr-2002", "evatr-2003", "evatr-2006"};

template <size_t N> bool Among(const std::array<std::string_view, N>& list, std::string_view value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string Country(const std::string& id)
{
    return id.substr(0, std::min<size_t>(2, id.size()));
}

std::string Number(const std::string& id)
{
    return id.size() > 2 ? id.substr(2) : std::string();
}

Attempt Transient(Answer answer, std::string message)
{
    answer.Message = std::move(message);
    return {std::move(answer), true};
}

std::string ChildText(const xmlNode* parent, std::string_view name)
{
    const xmlNode* node = SoapChild(parent, name);
    return node ? XmlText(node) : std::string();
}

std::string JsonText(const nlohmann::json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

// A qualified question names the trader and its place; anything less is the simple one.
bool AsksQualified(const Request& request)
{
    return !Trimmed(request.Name).empty() && !Trimmed(request.City).empty();
}

// A match code the service does not have means the answer is broken, not that a field matched.
Attempt BrokenMatch(Answer answer, std::string_view service, const std::string& field, const std::string& code)
{
    answer.Verdict = Status::NotChecked;
    answer.Qualified = false;
    answer.Matches.clear();
    answer.Message = "nicht geprüft – die Antwort " + std::string(service) + " ist fehlerhaft: unbekannter Code \"" +
                     code + "\" für " + field;
    return {std::move(answer), false};
}

std::string MatchesText(const std::vector<std::pair<std::string, std::string>>& matches)
{
    std::string text;
    for (const auto& [field, code] : matches)
        text += (text.empty() ? "" : ";") + field + "=" + code;
    return text;
}

} // namespace

std::chrono::milliseconds RetryPause(const RetryPolicy& policy, int pauseNumber, std::chrono::milliseconds left)
{
    static thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_real_distribution<double> jitter(0.5, 1.5);
    const double base = double(policy.FirstPause.count()) * double(1LL << std::min(pauseNumber - 1, 20));
    const auto pause = std::chrono::milliseconds(int64_t(base * jitter(random)));
    return std::min(pause, left / 2);
}

std::string_view ServiceName(Service service)
{
    return service == Service::Bzst ? "bzst" : "vies";
}

std::string_view StatusName(Status status)
{
    switch (status) {
    case Status::Valid:
        return "valid";
    case Status::Invalid:
        return "invalid";
    case Status::NotChecked:
        break;
    }
    return "not-checked";
}

std::string NormalizeId(std::string_view id)
{
    std::string normal;
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            normal += c;
        else if (c >= 'a' && c <= 'z')
            normal += char(c - 'a' + 'A');
        else if (id.substr(i).starts_with("\u00a0") || id.substr(i).starts_with("\u202f"))
            i += id.substr(i).starts_with("\u00a0") ? 1 : 2; // pasted no-break spaces
        else if (static_cast<unsigned char>(c) >= 0x80)
            normal += c; // left for the service to refuse
    }
    if (normal.starts_with("GR"))
        normal.replace(0, 2, "EL");
    return normal;
}

bool IsCompanyType(std::string_view type)
{
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    return (type.size() == 4 || type.size() == 5) && upper(type[0]) && upper(type[1]) && type[2] == '-' &&
           type[3] >= '1' && type[3] <= '9' && (type.size() == 4 || (type[4] >= '0' && type[4] <= '9'));
}

ViesFault ReadViesFault(std::string_view faultString)
{
    const auto isCode = [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; };
    for (size_t i = 0; i < faultString.size();) {
        if (!isCode(faultString[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < faultString.size() && isCode(faultString[end]))
            ++end;
        std::string_view token = faultString.substr(i, end - i);
        if (token.ends_with("_TIME"))
            token.remove_suffix(5);
        for (const KnownFault& known : kViesFaults)
            if (known.Code == token)
                return {std::string(known.Code), true, known.Transient,
                        std::string(known.Verdict) + " (" + std::string(faultString.substr(i, end - i)) + ")"};
        i = end;
    }
    const std::string text = Trimmed(faultString);
    return {text, false, false, "VIES weist die Anfrage ab: " + text};
}

Attempt ReadViesApprox(const SoapResponse& Response, Answer Base)
{
    Answer answer = std::move(Base);
    const xmlNode* element = Response.Expect(kViesTypes, "checkVatApproxResponse");
    // XML Schema's boolean, white space around it allowed.
    std::string valid = ChildText(element, "valid");
    std::erase_if(valid, [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    const bool isValid = valid == "true" || valid == "1";
    if (!isValid && valid != "false" && valid != "0")
        return Transient(std::move(answer), "Die Antwort von VIES ist unvollständig.");
    answer.Verdict = isValid ? Status::Valid : Status::Invalid;
    answer.Message = isValid ? "Die USt-IdNr. ist gültig." : "Die USt-IdNr. ist nicht gültig.";
    answer.RequestId = Trimmed(ChildText(element, "requestIdentifier"));
    answer.RequestTime = ChildText(element, "requestDate");
    for (const auto& [field, name] : {std::pair{"Name", "traderNameMatch"},
                                      {"CompanyType", "traderCompanyTypeMatch"},
                                      {"Street", "traderStreetMatch"},
                                      {"Zip", "traderPostcodeMatch"},
                                      {"City", "traderCityMatch"}})
        if (const xmlNode* match = SoapChild(element, name)) {
            const std::string code = Trimmed(XmlText(match));
            if (code != "1" && code != "2" && code != "3")
                return BrokenMatch(std::move(answer), "von VIES", field, code);
            answer.Matches.emplace_back(field, code);
        }
    for (const auto& [field, name] : {std::pair{"Name", "traderName"},
                                      {"CompanyType", "traderCompanyType"},
                                      {"Address", "traderAddress"},
                                      {"Street", "traderStreet"},
                                      {"Zip", "traderPostcode"},
                                      {"City", "traderCity"}})
        if (const std::string value = Trimmed(ChildText(element, name)); !value.empty())
            answer.Trader.emplace_back(field, value);
    // Qualified only when the trader's name and place were asked about; the caller knows that, VIES's answer not.
    answer.Qualified = isValid && !answer.RequestId.empty();
    if (isValid && answer.RequestId.empty())
        answer.Message += " Ohne Konsultationsnummer keine qualifizierte Bestätigung.";
    return {std::move(answer), false};
}

Attempt AskVies(const Request& request, const Settings& settings)
{
    Answer answer;
    answer.Via = Service::Vies;
    answer.Endpoint = settings.ViesUrl.empty() ? config::ViesUrl() : settings.ViesUrl;
    const std::string foreign = NormalizeId(request.ForeignId);
    const std::string own = NormalizeId(request.OwnId);
    std::vector<SoapParameter> inputs{{"countryCode", Country(foreign)}, {"vatNumber", Number(foreign)}};
    // Empty trader fields stay away: VIES checks the company type against its pattern. The simple question sends
    // none of them.
    const bool qualified = AsksQualified(request);
    if (qualified)
        for (const auto& [name, value] : {std::pair{"traderName", &request.Name},
                                          {"traderCompanyType", &request.CompanyType},
                                          {"traderStreet", &request.Street},
                                          {"traderPostcode", &request.Zip},
                                          {"traderCity", &request.City}})
            if (!value->empty())
                inputs.push_back({name, *value});
    if (!own.empty()) {
        inputs.push_back({"requesterCountryCode", Country(own)});
        inputs.push_back({"requesterVatNumber", Number(own)});
    }

    SoapClient client;
    client.SetURL(answer.Endpoint);
    client.SetProxy(settings.Proxy);
    client.SetUserName(settings.ProxyUser);
    client.SetPassword(settings.ProxyPass);
    client.SetReceiveTimeout(settings.Timeout);
    try {
        const SoapResponse response = client.Invoke(kCheckVatApprox, inputs);
        answer.Raw = client.LastAnswer();
        Attempt attempt = ReadViesApprox(response, std::move(answer));
        if (attempt.Result.Verdict == Status::Valid && !qualified) {
            attempt.Result.Qualified = false;
            attempt.Result.Message += kSimpleQuestion;
        }
        return attempt;
    } catch (const SoapFault& fault) {
        answer.Raw = client.LastAnswer();
        const ViesFault read = ReadViesFault(ToUtf8(fault.FaultString()));
        if (read.Transient) {
            Attempt attempt = Transient(std::move(answer), "VIES: " + read.Verdict);
            attempt.Crowded = read.Code == "MS_MAX_CONCURRENT_REQ";
            return attempt;
        }
        answer.Message = "nicht geprüft – " + read.Verdict;
        return {std::move(answer), false};
    } catch (const Error& error) {
        answer.Raw = client.LastAnswer();
        return Transient(std::move(answer), AnsiToUtf8(error.what()));
    }
}

Attempt ReadEvatrAnswer(const HttpReply& reply, Answer Base)
{
    Answer answer = std::move(Base);
    answer.Raw = reply.Body;
    const nlohmann::json parsed = nlohmann::json::parse(reply.Body, nullptr, false);
    const std::string status = parsed.is_object() ? JsonText(parsed, "status") : std::string();
    if (status.empty()) {
        if (reply.Status >= 500 || (reply.Status >= 200 && reply.Status <= 299))
            return Transient(std::move(answer), "BZSt: " + reply.StatusLine);
        answer.Message = "nicht geprüft – BZSt: " + reply.StatusLine;
        return {std::move(answer), false};
    }
    answer.RequestId = JsonText(parsed, "id");
    answer.RequestTime = JsonText(parsed, "anfrageZeitpunkt");
    answer.ValidFrom = JsonText(parsed, "gueltigAb");
    answer.ValidTo = JsonText(parsed, "gueltigBis");
    for (const auto& [field, key] :
         {std::pair{"Name", "ergFirmenname"}, {"Street", "ergStrasse"}, {"Zip", "ergPlz"}, {"City", "ergOrt"}})
        if (const std::string code = JsonText(parsed, key); !code.empty()) {
            if (code != "A" && code != "B" && code != "C" && code != "D")
                return BrokenMatch(std::move(answer), "des BZSt", field, code);
            answer.Matches.emplace_back(field, code);
        }
    const EvatrStatus* known = FindEvatrStatus(status);
    if (!known) {
        answer.Message = "nicht geprüft – unbekannter Status des BZSt: " + status;
        return {std::move(answer), false};
    }
    answer.Message = known->Message;
    if (IsTransient(*known))
        return {std::move(answer), true};
    answer.Verdict = Among(kEvatrValid, status)     ? Status::Valid
                     : Among(kEvatrInvalid, status) ? Status::Invalid
                                                    : Status::NotChecked;
    // evatr-0003 and evatr-2008 confirm the id, but not name and place; their official text says so.
    answer.Qualified = status == kEvatrQualified;
    return {std::move(answer), false};
}

Attempt AskBzst(const Request& request, const Settings& settings)
{
    Answer answer;
    answer.Via = Service::Bzst;
    answer.Endpoint = settings.BzstUrl.empty() ? config::BzstUrl() : settings.BzstUrl;
    nlohmann::json body{{"anfragendeUstid", NormalizeId(request.OwnId)},
                        {"angefragteUstid", NormalizeId(request.ForeignId)}};
    const bool qualified = AsksQualified(request);
    if (qualified)
        for (const auto& [key, value] : {std::pair{"firmenname", &request.Name},
                                         {"strasse", &request.Street},
                                         {"plz", &request.Zip},
                                         {"ort", &request.City}})
            if (!value->empty())
                body[key] = *value;

    HttpClient http;
    http.SetMaxBodySize(SoapClient::kMaxResponseSize);
    http.SetUseSystemProxy(true);
    http.SetProxyServer(settings.Proxy);
    http.SetProxyUsername(settings.ProxyUser);
    http.SetProxyPassword(settings.ProxyPass);
    http.SetProxyBasicAuthentication(!settings.ProxyUser.empty() || !settings.ProxyPass.empty());
    http.SetReadTimeout(settings.Timeout > 0 ? settings.Timeout : SoapClient::kDefaultReceiveTimeout);
    HttpReply reply;
    try {
        // Invalid UTF-8 in a field is replaced rather than refused: the service judges what it gets.
        reply = http.Post(answer.Endpoint, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                          {"Content-Type: application/json", "Accept: application/json"});
    } catch (const Error& error) {
        return Transient(std::move(answer), AnsiToUtf8(error.what()));
    }
    Attempt attempt = ReadEvatrAnswer(reply, std::move(answer));
    if (attempt.Result.Verdict == Status::Valid && !qualified && attempt.Result.Qualified) {
        attempt.Result.Qualified = false;
        attempt.Result.Message += kSimpleQuestion;
    }
    return attempt;
}

// A confirmation names the one who asks: VIES gives its consultation number only then, the BZSt answers only a
// German requester. An id that cannot be right is refused here rather than journaled with the service's refusal.
void CheckOwnId(const Request& request)
{
    const std::string own = NormalizeId(request.OwnId);
    if (own.empty())
        throw RequestRefused("Die eigene USt-IdNr. fehlt: eine qualifizierte Bestätigung nennt immer die "
                             "USt-IdNr. des Anfragenden.");
    const rules::VatCheck check = rules::CheckVatId(own);
    const char* fault = check.Verdict == rules::VatVerdict::NotMemberState ? "gehört zu keinem EU-Mitgliedstaat"
                        : check.Verdict == rules::VatVerdict::Malformed    ? "ist falsch aufgebaut"
                        : check.Verdict == rules::VatVerdict::Invalid      ? "hat eine falsche Prüfziffer"
                                                                           : nullptr;
    if (fault)
        throw RequestRefused("Die eigene USt-IdNr. " + own + " " + fault + ".");
    if (request.Via == Service::Bzst && check.CountryCode != "DE")
        throw RequestRefused("Das BZSt beantwortet nur Anfragen mit einer deutschen eigenen USt-IdNr., nicht " + own +
                             ".");
}

std::optional<Answer> OutsideVies(const Request& request)
{
    if (!rules::IsOutsideVies(NormalizeId(request.ForeignId)))
        return std::nullopt;
    // No service can confirm it, now or later: answered at once, nothing sent, nothing to keep.
    Answer answer;
    answer.Via = request.Via;
    answer.Verdict = Status::Invalid;
    answer.Message = kNotMemberState;
    return answer;
}

Answer ConfirmChecked(const Request& request, const Settings& settings, const std::string& journalPath)
{
    if (std::optional<Answer> outside = OutsideVies(request))
        return *outside;
    CheckOwnId(request);
    Journal journal(journalPath);
    return Confirm(request, settings, journal);
}

std::optional<Answer> AnsweredWithoutAsking(const Request& request, const Settings& settings)
{
    if (request.Via != Service::Bzst || !NormalizeId(request.ForeignId).starts_with("DE"))
        return std::nullopt;
    Answer answer;
    answer.Via = Service::Bzst;
    answer.Endpoint = settings.BzstUrl.empty() ? config::BzstUrl() : settings.BzstUrl;
    answer.Message = "nicht geprüft – das BZSt bestätigt keine deutschen USt-IdNrn.; bitte über VIES prüfen";
    return answer;
}

Attempt AskOnce(const Request& request, const Settings& settings, std::chrono::steady_clock::time_point start)
{
    // Without a time-out of the caller's, no single try waits longer than the time left for all of them.
    Settings once = settings;
    if (once.Timeout <= 0) {
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        once.Timeout = int32_t(
            std::clamp<int64_t>((settings.Retry.Within - spent).count(), 1000, SoapClient::kDefaultReceiveTimeout));
    }
    return request.Via == Service::Bzst ? AskBzst(request, once) : AskVies(request, once);
}

void GiveUp(Answer& answer)
{
    answer.Verdict = Status::NotChecked;
    answer.Fault = std::move(answer.Message);
    answer.Message = kNotCheckedMessage;
}

void CheckCompanyType(const Request& request)
{
    if (request.Via == Service::Vies && !request.CompanyType.empty() && !IsCompanyType(request.CompanyType))
        throw RequestRefused("Die Rechtsform \"" + request.CompanyType +
                             "\" hat nicht die Form, die VIES annimmt: zwei Großbuchstaben, Bindestrich, 1 bis 99 "
                             "(etwa \"DE-1\")");
}

Answer Confirm(const Request& request, const Settings& settings, Journal& journal)
{
    CheckCompanyType(request);
    Answer answer;
    if (std::optional<Answer> given = AnsweredWithoutAsking(request, settings)) {
        answer = std::move(*given);
    } else {
        const auto start = std::chrono::steady_clock::now();
        const int tries = std::max(1, settings.Retry.Tries);
        for (int n = 1;; ++n) {
            Attempt attempt = AskOnce(request, settings, start);
            answer = std::move(attempt.Result);
            answer.Tries = n;
            if (!attempt.Transient)
                break;
            const auto left = settings.Retry.Within - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                          std::chrono::steady_clock::now() - start);
            if (n >= tries || left <= std::chrono::milliseconds(0)) {
                GiveUp(answer);
                break;
            }
            std::this_thread::sleep_for(RetryPause(settings.Retry, n, left));
        }
    }
    answer.JournalId = journal.Append(RecordOf(request, answer));
    answer.JournalNotice = journal.Notice();
    return answer;
}

Record RecordOf(const Request& request, const Answer& answer)
{
    Record record;
    record.Kind = "confirm";
    record.Service = ServiceName(answer.Via);
    record.Endpoint = answer.Endpoint;
    record.OwnId = NormalizeId(request.OwnId);
    record.ForeignId = NormalizeId(request.ForeignId);
    record.Name = request.Name;
    record.CompanyType = request.CompanyType;
    record.Street = request.Street;
    record.Zip = request.Zip;
    record.City = request.City;
    record.Reference = request.Reference;
    record.RetryOf = request.RetryOf;
    record.Status = StatusName(answer.Verdict);
    record.Qualified = answer.Qualified;
    record.Message = answer.Message;
    record.Fault = answer.Fault;
    record.ValidFrom = answer.ValidFrom;
    record.ValidTo = answer.ValidTo;
    record.Matches = MatchesText(answer.Matches);
    record.RequestId = answer.RequestId;
    record.RequestTime = answer.RequestTime;
    record.Tries = answer.Tries;
    record.Raw = answer.Raw;
    return record;
}

Answer ReadStoredAnswer(const Record& record)
{
    Answer read;
    if (!record.Raw.empty()) {
        if (record.Service == "bzst") {
            HttpReply reply;
            reply.Body = record.Raw;
            read = ReadEvatrAnswer(reply, {}).Result;
        } else {
            try {
                read = ReadViesApprox(SoapResponse(record.Raw), {}).Result;
            } catch (const Error&) {
                read.Verdict = Status::NotChecked; // a fault or no answer at all: nothing confirmed
            }
        }
    }
    return read;
}

std::string RawDisagreement(const Record& record)
{
    if (record.Kind != "confirm")
        return {};
    const Answer read = ReadStoredAnswer(record);
    const std::string status(StatusName(read.Verdict));
    if (status != record.Status)
        return "Der Status \"" + record.Status + "\" passt nicht zur gespeicherten Antwort (\"" + status + "\").";
    if (MatchesText(read.Matches) != record.Matches)
        return "Die Abgleichsergebnisse \"" + record.Matches + "\" passen nicht zur gespeicherten Antwort (\"" +
               MatchesText(read.Matches) + "\").";
    if (record.Qualified && !read.Qualified)
        return "Der Eintrag heißt qualifiziert, die gespeicherte Antwort bestätigt das nicht.";
    return {};
}

} // namespace orvel::confirm
