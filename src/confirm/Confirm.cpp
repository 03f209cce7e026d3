#include "confirm/Confirm.h"

#include "confirm/EvatrStatus.h"
#include "confirm/Journal.h"
#include "platform/Codepage.h"
#include "platform/Config.h"
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

// The faults by which VIES says it is busy or a member state's system is down, not that an id is bad.
constexpr std::array<std::string_view, 7> kViesTransientFaults{"MS_UNAVAILABLE",
                                                               "MS_MAX_CONCURRENT_REQ",
                                                               "MS_MAX_CONCURRENT_REQ_TIME",
                                                               "GLOBAL_MAX_CONCURRENT_REQ",
                                                               "GLOBAL_MAX_CONCURRENT_REQ_TIME",
                                                               "SERVICE_UNAVAILABLE",
                                                               "TIMEOUT"};

// Statuses by which the BZSt judges the foreign id itself; every other status that is not transient concerns the
// request (the own id, missing fields) and leaves the id unchecked.
constexpr std::array<std::string_view, 3> kEvatrValid{"evatr-0000", "evatr-0003", "evatr-2008"};
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

std::string MatchesText(const std::vector<std::pair<std::string, std::string>>& matches)
{
    std::string text;
    for (const auto& [field, code] : matches)
        text += (text.empty() ? "" : ";") + field + "=" + code;
    return text;
}

std::chrono::milliseconds Pause(const RetryPolicy& policy, int pauseNumber, std::chrono::milliseconds left)
{
    static thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_real_distribution<double> jitter(0.5, 1.5);
    const double base = double(policy.FirstPause.count()) * double(1LL << std::min(pauseNumber - 1, 20));
    const auto pause = std::chrono::milliseconds(int64_t(base * jitter(random)));
    return std::min(pause, left / 2);
}

} // namespace

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
    for (char c : id)
        if (c != ' ' && c != '\t')
            normal += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    return normal;
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
    answer.RequestId = ChildText(element, "requestIdentifier");
    answer.RequestTime = ChildText(element, "requestDate");
    for (const auto& [field, name] : {std::pair{"Name", "traderNameMatch"},
                                      {"CompanyType", "traderCompanyTypeMatch"},
                                      {"Street", "traderStreetMatch"},
                                      {"Zip", "traderPostcodeMatch"},
                                      {"City", "traderCityMatch"}})
        if (const xmlNode* match = SoapChild(element, name))
            answer.Matches.emplace_back(field, XmlText(match));
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
    // Empty trader fields stay away: VIES checks the company type against its pattern.
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
        return ReadViesApprox(response, std::move(answer));
    } catch (const SoapFault& fault) {
        answer.Raw = client.LastAnswer();
        const std::string text = ToUtf8(fault.FaultString());
        if (Among(kViesTransientFaults, text))
            return Transient(std::move(answer), "VIES: " + text);
        answer.Message = "nicht geprüft – VIES weist die Anfrage ab: " + text;
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
        if (const std::string code = JsonText(parsed, key); !code.empty())
            answer.Matches.emplace_back(field, code);
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
    return {std::move(answer), false};
}

Attempt AskBzst(const Request& request, const Settings& settings)
{
    Answer answer;
    answer.Via = Service::Bzst;
    answer.Endpoint = settings.BzstUrl.empty() ? config::BzstUrl() : settings.BzstUrl;
    nlohmann::json body{{"anfragendeUstid", NormalizeId(request.OwnId)},
                        {"angefragteUstid", NormalizeId(request.ForeignId)}};
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
    return ReadEvatrAnswer(reply, std::move(answer));
}

Answer Confirm(const Request& request, const Settings& settings, Journal& journal)
{
    Answer answer;
    const std::string foreign = NormalizeId(request.ForeignId);
    if (request.Via == Service::Bzst && foreign.starts_with("DE")) {
        answer.Via = Service::Bzst;
        answer.Endpoint = settings.BzstUrl.empty() ? config::BzstUrl() : settings.BzstUrl;
        answer.Message = "nicht geprüft – das BZSt bestätigt keine deutschen USt-IdNrn.; bitte über VIES prüfen";
    } else {
        const auto start = std::chrono::steady_clock::now();
        const int tries = std::max(1, settings.Retry.Tries);
        for (int n = 1;; ++n) {
            // Without a time-out of the caller's, no single try waits longer than the time left for all of them.
            Settings once = settings;
            if (once.Timeout <= 0) {
                const auto spent =
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
                once.Timeout = int32_t(std::clamp<int64_t>((settings.Retry.Within - spent).count(), 1000,
                                                           SoapClient::kDefaultReceiveTimeout));
            }
            Attempt attempt = request.Via == Service::Bzst ? AskBzst(request, once) : AskVies(request, once);
            answer = std::move(attempt.Result);
            answer.Tries = n;
            if (!attempt.Transient)
                break;
            const auto left = settings.Retry.Within - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                          std::chrono::steady_clock::now() - start);
            if (n >= tries || left <= std::chrono::milliseconds(0)) {
                answer.Verdict = Status::NotChecked;
                answer.Fault = std::move(answer.Message);
                answer.Message = kNotCheckedMessage;
                break;
            }
            std::this_thread::sleep_for(Pause(settings.Retry, n, left));
        }
    }

    Record record;
    record.Kind = "confirm";
    record.Service = ServiceName(answer.Via);
    record.Endpoint = answer.Endpoint;
    record.OwnId = NormalizeId(request.OwnId);
    record.ForeignId = foreign;
    record.Name = request.Name;
    record.CompanyType = request.CompanyType;
    record.Street = request.Street;
    record.Zip = request.Zip;
    record.City = request.City;
    record.Status = StatusName(answer.Verdict);
    record.Message = answer.Message;
    record.Fault = answer.Fault;
    record.ValidFrom = answer.ValidFrom;
    record.ValidTo = answer.ValidTo;
    record.Matches = MatchesText(answer.Matches);
    record.RequestId = answer.RequestId;
    record.RequestTime = answer.RequestTime;
    record.Tries = answer.Tries;
    record.Raw = answer.Raw;
    answer.JournalId = journal.Append(std::move(record));
    return answer;
}

} // namespace orvel::confirm
