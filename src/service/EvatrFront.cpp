#include "service/EvatrFront.h"

#include "service/Api.h"

#include "confirm/EvatrStatus.h"
#include "rules/VatRules.h"
#include "service/Access.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <random>
#include <set>
#include <vector>

namespace orvel::service {
namespace {

using nlohmann::json;

constexpr const char* kJson = "application/json; charset=utf-8";

std::string Now()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", int(millis));
    return text;
}

HttpResponse Status(const std::string& code, json body = json::object())
{
    const confirm::EvatrStatus* status = confirm::FindEvatrStatus(code);
    body["id"] = FreshAnswerId("lokal-");
    body["anfrageZeitpunkt"] = Now();
    body["status"] = code;
    return {status && status->Http ? unsigned(status->Http) : 200u, kJson, body.dump()};
}

std::string Text(const json& request, const char* key)
{
    const auto found = request.find(key);
    return found != request.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The dates the statuses about validity periods carry.
constexpr const char* kTestValidFrom = "2020-01-01";
constexpr const char* kTestValidTo = "2024-12-31";

// A requested id of the form CC + "TEST" + four digits answers the status evatr-<digits>, whatever else was asked.
std::optional<std::string> TestStatus(const std::string& foreign)
{
    if (foreign.size() != 10 || foreign.compare(2, 4, "TEST") != 0)
        return std::nullopt;
    const std::string code = "evatr-" + foreign.substr(6);
    return confirm::FindEvatrStatus(code) ? std::optional(code) : std::nullopt;
}

// The answer of a status, with the fields that status comes with.
HttpResponse Answer(const std::string& code, const json& asked)
{
    json answer = json::object();
    if (code == "evatr-0000") {
        for (const auto& [field, result] : {std::pair{"firmenname", "ergFirmenname"},
                                            {"strasse", "ergStrasse"},
                                            {"plz", "ergPlz"},
                                            {"ort", "ergOrt"}})
            answer[result] = Text(asked, field).empty() ? "C" : "A";
    }
    if (code == "evatr-2002" || code == "evatr-2006")
        answer["gueltigAb"] = kTestValidFrom;
    if (code == "evatr-2006")
        answer["gueltigBis"] = kTestValidTo;
    return Status(code, std::move(answer));
}

HttpResponse Request(const HttpRequest& request, BusySwitch& busy)
{
    if (request.Method != "POST")
        return {405, kJson, R"({"status":"evatr-0007"})"};
    bool duplicateKeys = false;
    const json asked = ParseJson(request.Body, duplicateKeys);
    if (!asked.is_object())
        return Status("evatr-0007");
    if (duplicateKeys)
        return Problem(400, "Schl\xc3\xbcssel doppelt im JSON-K\xc3\xb6rper");
    const std::string own = Text(asked, "anfragendeUstid");
    const std::string foreign = Text(asked, "angefragteUstid");
    if (own.empty() || foreign.empty())
        return Status("evatr-0002");
    if (busy.Take())
        return Status("evatr-0011");
    if (const std::optional<std::string> test = TestStatus(foreign))
        return Answer(*test, asked);
    const rules::VatCheck ownCheck = rules::CheckVatId(own);
    if (ownCheck.CountryCode != "DE" || ownCheck.Verdict != rules::VatVerdict::Valid)
        return Status("evatr-0004");
    const rules::VatCheck check = rules::CheckVatId(foreign);
    if (check.CountryCode == "DE")
        return Status("evatr-0006");
    if (check.Verdict == rules::VatVerdict::NotMemberState)
        return Status("evatr-2003");
    if (check.Verdict != rules::VatVerdict::Valid)
        return Status("evatr-0012");
    // A qualified request names the trader and its place; asking about street or postal code without them is not one.
    const bool named = !Text(asked, "firmenname").empty() && !Text(asked, "ort").empty();
    if (!named && (!Text(asked, "firmenname").empty() || !Text(asked, "strasse").empty() ||
                   !Text(asked, "plz").empty() || !Text(asked, "ort").empty()))
        return Status("evatr-0003");
    // No register here: a field asked about is "not given by the member state" (D), one not asked "not asked" (C).
    json answer = json::object();
    for (const auto& [field, result] :
         {std::pair{"firmenname", "ergFirmenname"}, {"strasse", "ergStrasse"}, {"plz", "ergPlz"}, {"ort", "ergOrt"}})
        answer[result] = Text(asked, field).empty() ? "C" : "D";
    return Status("evatr-0000", std::move(answer));
}

// The member states the interface can ask, as its list names them.
constexpr std::pair<const char*, const char*> kMemberStates[] = {
    {"AT", "Österreich"},  {"BE", "Belgien"},    {"BG", "Bulgarien"},  {"CY", "Zypern"},       {"CZ", "Tschechien"},
    {"DE", "Deutschland"}, {"DK", "Dänemark"},   {"EE", "Estland"},    {"EL", "Griechenland"}, {"ES", "Spanien"},
    {"FI", "Finnland"},    {"FR", "Frankreich"}, {"HR", "Kroatien"},   {"HU", "Ungarn"},       {"IE", "Irland"},
    {"IT", "Italien"},     {"LT", "Litauen"},    {"LU", "Luxemburg"},  {"LV", "Lettland"},     {"MT", "Malta"},
    {"NL", "Niederlande"}, {"PL", "Polen"},      {"PT", "Portugal"},   {"RO", "Rumänien"},     {"SE", "Schweden"},
    {"SI", "Slowenien"},   {"SK", "Slowakei"},   {"XI", "Nordirland"},
};

HttpResponse MemberStates()
{
    json list = json::array();
    for (const auto& [alpha2, name] : kMemberStates)
        list.push_back({{"alpha2", alpha2}, {"name", name}, {"verfuegbar", true}});
    return {200, kJson, list.dump()};
}

HttpResponse Statuses()
{
    json list = json::array();
    for (const confirm::EvatrStatus& status : confirm::EvatrStatuses())
        list.push_back({{"status", status.Code},
                        {"kategorie", status.Category},
                        {"httpcode", status.Http ? json(status.Http) : json(nullptr)},
                        {"feld", status.Field.empty() ? json(nullptr) : json(status.Field)},
                        {"meldung", status.Message}});
    return {200, kJson, list.dump()};
}

} // namespace

std::string FreshAnswerId(const char* prefix)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random()));
    return prefix + std::string(digits);
}

void AddEvatr(Router& router, const Users& users, BusySwitch& busy)
{
    // Another machine without a users file cannot log in at all: refused, not asked for credentials.
    const auto gated = [&users](const HttpRequest& request, auto answer) {
        switch (BasicAdmission(users, request)) {
        case Users::kAdmitted:
            return answer();
        case Users::kLoopbackOnly:
            return HttpResponse{403, kJson, R"({"status":"evatr-0007"})"};
        default:
            return LoginRequired(kJson, R"({"status":"evatr-0007"})");
        }
    };
    router.Add(kEvatrRequestPath, [gated, &busy](const HttpRequest& request) {
        return gated(request, [&] { return Request(request, busy); });
    });
    router.Add(kEvatrStatusPath, [gated](const HttpRequest& request) { return gated(request, Statuses); });
    router.Add(kEvatrMemberStatesPath, [gated](const HttpRequest& request) { return gated(request, MemberStates); });
}

} // namespace orvel::service
