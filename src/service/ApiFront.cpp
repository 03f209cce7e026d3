#include "service/ApiFront.h"

#include "confirm/Confirm.h"
#include "platform/Codepage.h"
#include "platform/Text.h"
#include "rules/CheckTable.h"
#include "rules/VatRules.h"
#include "service/Api.h"
#include "service/Status.h"

#include <ctime>
#include <map>
#include <vector>

namespace orvel::service {
namespace {

using Json = nlohmann::ordered_json;

// Asking VIES holds one of the service's threads: never longer than this for an answer.
constexpr int32_t kViesTimeoutMs = 10000;
// What a client waits before asking again while VIES (or a member state's service) is busy.
constexpr std::chrono::seconds kViesRetryAfter{30};

std::string Utf8(const rules::CheckRow& row, const std::string& text)
{
    return row.Windows1252 ? ToUtf8(Widen(text)) : text;
}

// A field's value as JSON; texts left empty are null, as the rules give no value there.
Json Value(const rules::CheckRow& row, const rules::CheckField& field, const rules::CheckValue& value)
{
    switch (field.Kind) {
    case rules::FieldKind::Number:
        return value.Number;
    case rules::FieldKind::Flag:
        return value.Number != 0;
    case rules::FieldKind::Text:
        return value.Text.empty() && field.Json != "result_text" ? Json() : Json(Utf8(row, value.Text));
    case rules::FieldKind::List:
        break;
    }
    Json list = Json::array();
    for (const std::string& item : value.List) {
        if (field.JsonItems.empty()) {
            list.push_back(Utf8(row, item));
            continue;
        }
        // "37040044|COBADEFFXXX|Commerzbank|50447|Köln" with the keys "code|bic|name|zip|city".
        Json object = Json::object();
        std::string_view keys = field.JsonItems, parts = item;
        while (!keys.empty()) {
            const size_t keyEnd = std::min(keys.find('|'), keys.size()),
                         partEnd = std::min(parts.find('|'), parts.size());
            object[std::string(keys.substr(0, keyEnd))] = Utf8(row, std::string(parts.substr(0, partEnd)));
            keys.remove_prefix(std::min(keyEnd + 1, keys.size()));
            parts.remove_prefix(std::min(partEnd + 1, parts.size()));
        }
        list.push_back(std::move(object));
    }
    return list;
}

// An object all of whose members are null says nothing: it is null itself ("bank" when no bank was found).
void NullEmptyObjects(Json& answer)
{
    for (auto& [name, member] : answer.items())
        if (member.is_object() && std::all_of(member.begin(), member.end(), [](const Json& v) { return v.is_null(); }))
            member = nullptr;
}

Json DataOf(rules::CheckSource source, const BankSnapshot& banks, const rules::PostalData& postal)
{
    const std::time_t now = std::time(nullptr);
    if (source == rules::CheckSource::Banks) {
        const rules::BankSource& origin = banks.Banks.Source();
        return {{"source", origin.BuiltIn ? origin.Sources : "Deutsche Bundesbank, Bankleitzahlendatei"},
                {"valid_from", rules::IsoDate(banks.Banks.Date())},
                {"superseded", rules::IsSuperseded(banks.Data.BanksEdition, now) || banks.Checks.Superseded()}};
    }
    if (source == rules::CheckSource::Postal)
        return {{"source", "Postleitzahlen (OpenStreetMap)"},
                {"valid_from", postal.Date().empty() ? Json() : Json(postal.Date())},
                {"superseded", false}};
    return nullptr;
}

Json Answer(const rules::CheckRow& row, const rules::CheckAnswer& answer, const BankSnapshot& banks,
            const rules::PostalData& postal)
{
    Json out = {{"check", row.Name}};
    for (size_t i = 0; i < row.Fields.size(); ++i) {
        const rules::CheckField& field = row.Fields[i];
        if (field.Json.empty())
            continue;
        Json value = Value(row, field, answer.Values[i]);
        const size_t dot = field.Json.find('.');
        if (dot == std::string_view::npos)
            out[std::string(field.Json)] = std::move(value);
        else
            out[std::string(field.Json.substr(0, dot))][std::string(field.Json.substr(dot + 1))] = std::move(value);
        if (i == 1)
            out["valid"] = row.Passed(answer);
    }
    NullEmptyObjects(out);
    out["data"] = DataOf(row.Source, banks, postal);
    return out;
}

// A whole number as the rules read it: "true"/"false" count as 1/0; nullopt for anything else.
std::optional<std::string> WholeNumber(const Json& value)
{
    if (value.is_boolean())
        return value.get<bool>() ? "1" : "0";
    if (value.is_number_integer())
        return std::to_string(value.get<long long>());
    if (!value.is_string())
        return std::nullopt;
    const std::string text = value.get<std::string>();
    if (text == "true" || text == "false")
        return text == "true" ? "1" : "0";
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return text;
}

// The rows of one path, the request's inputs and the chosen row, or the problem that refuses them.
struct Chosen
{
    const rules::CheckRow* Row = nullptr;
    std::vector<std::optional<std::string>> Inputs;
};

std::variant<Chosen, HttpResponse> Choose(const std::vector<const rules::CheckRow*>& rows, const HttpRequest& request)
{
    Json body;
    if (rows.front()->JsonPost) {
        auto parsed = ApiBody(request);
        if (auto* refusal = std::get_if<HttpResponse>(&parsed))
            return std::move(*refusal);
        body = Json(std::get<nlohmann::json>(parsed));
        if (!body.is_object())
            return ApiProblem(400, "Der Körper muss ein JSON-Objekt sein");
    }
    const auto given = [&](const rules::CheckParam& param) -> std::optional<Json> {
        if (const auto segment = request.Segment(param.Name))
            return Json(std::string(*segment));
        if (rows.front()->JsonPost) {
            const auto found = body.find(param.Name);
            return found == body.end() || found->is_null() ? std::nullopt : std::optional<Json>(*found);
        }
        const auto query = request.Query(std::string(param.Name).c_str());
        return query ? std::optional<Json>(std::string(*query)) : std::nullopt;
    };
    for (const rules::CheckRow* row : rows) {
        const bool complete = std::all_of(row->Params.begin(), row->Params.end(), [&](const rules::CheckParam& param) {
            return !param.Required || given(param);
        });
        if (!complete && row != rows.back())
            continue;
        Chosen chosen{row, {}};
        for (const rules::CheckParam& param : row->Params) {
            const std::optional<Json> value = given(param);
            if (!value) {
                if (param.Required)
                    return ApiProblem(400, "Parameter " + std::string(param.Name) + " fehlt");
                chosen.Inputs.emplace_back();
            } else if (param.Number) {
                const auto number = WholeNumber(*value);
                if (!number)
                    return ApiProblem(400, "Parameter " + std::string(param.Name) + " ist keine Zahl");
                chosen.Inputs.emplace_back(number);
            } else if (!value->is_string()) {
                return ApiProblem(400, "Parameter " + std::string(param.Name) + " muss ein Text sein");
            } else {
                const std::string text = value->get<std::string>();
                chosen.Inputs.emplace_back(row->Windows1252 ? Ansi(text) : text);
            }
        }
        return chosen;
    }
    return ApiProblem(400, "Unvollständige Anfrage");
}

// The VAT id as VIES answers it: valid, invalid, or a problem when VIES could not say.
HttpResponse AskVies(std::string_view id)
{
    confirm::Request request;
    request.ForeignId = std::string(id);
    const std::string normal = confirm::NormalizeId(id);
    if (rules::IsOutsideVies(normal))
        return ApiProblem(400, confirm::kNotMemberState);
    confirm::Settings settings;
    settings.Timeout = kViesTimeoutMs;
    const confirm::Attempt attempt = confirm::AskVies(request, settings);
    const confirm::Answer& answer = attempt.Result;
    if (attempt.Transient)
        return ApiProblem(503, answer.Message, kViesRetryAfter);
    if (answer.Verdict == confirm::Status::NotChecked)
        return ApiProblem(answer.Message.find("INVALID_INPUT") != std::string::npos ? 400 : 502, answer.Message);
    const bool valid = answer.Verdict == confirm::Status::Valid;
    Json trader = Json::object();
    for (const auto& [name, value] : answer.Trader)
        if (!value.empty() && value != "---")
            trader[name == "Name" ? "name" : name == "Address" ? "address" : name] = value;
    return ApiJson(200, Json{{"check", "vat"},
                             {"result", valid ? 0 : 1},
                             {"result_text", answer.Message},
                             {"valid", valid},
                             {"country_code", normal.substr(0, 2)},
                             {"number", normal.size() > 2 ? normal.substr(2) : std::string()},
                             {"verdict", valid ? "valid" : "invalid"},
                             {"vies", {{"request_time", answer.RequestTime}, {"trader", trader}}},
                             {"data", {{"source", "VIES"}, {"valid_from", nullptr}, {"superseded", false}}}});
}

// "bankDirectory" as "bank_directory".
std::string SnakeCase(std::string_view name)
{
    std::string snake;
    for (const char c : name) {
        if (c >= 'A' && c <= 'Z')
            snake.append("_").push_back(char(c + 32));
        else
            snake.push_back(c);
    }
    return snake;
}

// The status's names in snake_case, without the paths of the files: this answer needs no login.
Json SnakeStatus(const Json& status)
{
    if (!status.is_object())
        return status;
    Json out = Json::object();
    for (const auto& [name, value] : status.items())
        if (name != "path")
            out[SnakeCase(name)] = SnakeStatus(value);
    return out;
}

} // namespace

void AddApi(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
            const Users& users)
{
    router.ExpectJson(std::string(kApiRoot),
                      [](unsigned status, std::string_view text) { return ApiProblem(status, text); });

    std::map<std::string_view, std::vector<const rules::CheckRow*>> paths;
    for (const rules::CheckRow& row : rules::CheckTable())
        if (!row.JsonPath.empty())
            paths[row.JsonPath].push_back(&row);
    for (const auto& [path, rows] : paths)
        router.Add(std::string(path), [&banks, &postal, &users, rows](const HttpRequest& request) {
            if (auto refusal = ApiLogin(users, request))
                return std::move(*refusal);
            if (auto wrong = ApiMethod(request, {rows.front()->JsonPost ? "POST" : "GET"}))
                return std::move(*wrong);
            if (rows.front()->Name == "vat")
                if (const auto vies = request.Query("vies"); vies && *vies != "false") {
                    if (*vies != "true")
                        return ApiProblem(400, "Parameter vies: true oder false");
                    return AskVies(request.Segment("id").value_or(""));
                }
            auto chosen = Choose(rows, request);
            if (auto* refusal = std::get_if<HttpResponse>(&chosen))
                return std::move(*refusal);
            const Chosen& check = std::get<Chosen>(chosen);
            // Each answer holds the snapshot of its moment to its end, whatever a reload swaps in meanwhile.
            const auto snapshot = banks.Current();
            const rules::CheckAnswer answer = check.Row->Run({&snapshot->Checks, &postal, true}, check.Inputs);
            return ApiJson(200, Answer(*check.Row, answer, *snapshot, postal));
        });

    router.Add(std::string(kApiRoot) + "status", [&banks, &postal, &postalFile, &users](const HttpRequest& request) {
        if (users.Open() && !request.Loopback)
            return ApiProblem(403, "Ohne Benutzerdatei nur von diesem Rechner");
        if (auto wrong = ApiMethod(request, {"GET"}))
            return std::move(*wrong);
        return ApiJson(200,
                       SnakeStatus(Json::parse(StatusJson(*banks.Current(), postal, postalFile, std::time(nullptr)))));
    });
    router.Add(std::string(kApiRoot) + "openapi.json", [&users](const HttpRequest& request) {
        if (users.Open() && !request.Loopback)
            return ApiProblem(403, "Ohne Benutzerdatei nur von diesem Rechner");
        if (auto wrong = ApiMethod(request, {"GET"}))
            return std::move(*wrong);
        HttpResponse document{200, "application/json", std::string(OpenApiDocument())};
        document.Headers.emplace_back("Cache-Control", "no-cache");
        return document;
    });
}

} // namespace orvel::service
