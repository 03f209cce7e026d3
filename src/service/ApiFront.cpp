#include "service/ApiFront.h"

#include "confirm/Confirm.h"
#include "platform/Codepage.h"
#include "platform/Text.h"
#include "rules/CheckTable.h"
#include "rules/VatRules.h"
#include "service/Api.h"
#include "service/Status.h"

#include <algorithm>
#include <charconv>
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

// Where each member of a row's answer stands: the JSON of a field is known by the row, so the members' order and their
// nesting are laid out once and every answer is written straight into one string.
struct Member
{
    enum Kind { Check, Field, Group, Valid, Data } What = Field;
    std::string Key;          // ",\"name\":"
    int Index = -1;           // the field of a Field
    std::vector<Member> Nest; // the fields of a Group ("bank.code", "bank.name")
};

// Finds the member called name, or adds it at the end: a name given twice keeps its first place.
Member& Slot(std::vector<Member>& members, std::string_view name, Member::Kind kind)
{
    std::string key = "\"" + std::string(name) + "\":";
    for (Member& member : members)
        if (member.Key == key || member.Key == "," + key)
            return member;
    members.push_back({kind, (members.empty() ? "" : ",") + key, -1, {}});
    return members.back();
}

std::vector<Member> Layout(const rules::CheckRow& row)
{
    std::vector<Member> members;
    Slot(members, "check", Member::Check);
    for (size_t i = 0; i < row.Fields.size(); ++i) {
        const std::string_view json = row.Fields[i].Json;
        if (json.empty())
            continue;
        const size_t dot = json.find('.');
        Member& member = dot == std::string_view::npos ? Slot(members, json, Member::Field)
                                                       : Slot(Slot(members, json.substr(0, dot), Member::Group).Nest,
                                                              json.substr(dot + 1), Member::Field);
        member.What = Member::Field;
        member.Index = int(i);
        if (i == 1)
            Slot(members, "valid", Member::Valid).What = Member::Valid;
    }
    Slot(members, "data", Member::Data).What = Member::Data;
    return members;
}

// Texts left empty are null, as the rules give no value there.
bool IsNull(const rules::CheckField& field, const rules::CheckValue& value)
{
    return field.Kind == rules::FieldKind::Text && value.Text.empty() && field.Json != "result_text";
}

void AppendText(std::string& out, const rules::CheckRow& row, std::string_view text)
{
    if (!row.Windows1252)
        return AppendJsonString(out, text);
    thread_local std::string utf8;
    utf8.clear();
    AppendAnsiAsUtf8(utf8, text);
    AppendJsonString(out, utf8);
}

void AppendValue(std::string& out, const rules::CheckRow& row, const rules::CheckField& field,
                 const rules::CheckValue& value)
{
    switch (field.Kind) {
    case rules::FieldKind::Number: {
        char digits[16];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value.Number).ptr);
        return;
    }
    case rules::FieldKind::Flag:
        out.append(value.Number != 0 ? "true" : "false");
        return;
    case rules::FieldKind::Text:
        if (IsNull(field, value))
            out.append("null");
        else
            AppendText(out, row, value.Text);
        return;
    case rules::FieldKind::List:
        break;
    }
    out.push_back('[');
    for (const std::string& item : value.List) {
        if (&item != &value.List.front())
            out.push_back(',');
        if (field.JsonItems.empty()) {
            AppendText(out, row, item);
            continue;
        }
        // "37040044|COBADEFFXXX|Commerzbank|50447|Köln" with the keys "code|bic|name|zip|city".
        out.push_back('{');
        std::string_view keys = field.JsonItems, parts = item;
        while (!keys.empty()) {
            const size_t keyEnd = std::min(keys.find('|'), keys.size()),
                         partEnd = std::min(parts.find('|'), parts.size());
            if (keys.size() != field.JsonItems.size())
                out.push_back(',');
            AppendJsonString(out, keys.substr(0, keyEnd));
            out.push_back(':');
            AppendText(out, row, parts.substr(0, partEnd));
            keys.remove_prefix(std::min(keyEnd + 1, keys.size()));
            parts.remove_prefix(std::min(partEnd + 1, parts.size()));
        }
        out.push_back('}');
    }
    out.push_back(']');
}

// A row's answer as the API writes it; data: its "data" object.
std::string Answer(const rules::CheckRow& row, const std::vector<Member>& layout, const rules::CheckAnswer& answer,
                   std::string_view data)
{
    std::string out;
    out.reserve(512);
    out.push_back('{');
    for (const Member& member : layout) {
        out.append(member.Key);
        switch (member.What) {
        case Member::Check:
            AppendJsonString(out, row.Name);
            break;
        case Member::Field:
            AppendValue(out, row, row.Fields[size_t(member.Index)], answer.Values[size_t(member.Index)]);
            break;
        case Member::Valid:
            out.append(row.Passed(answer) ? "true" : "false");
            break;
        case Member::Data:
            out.append(data);
            break;
        case Member::Group:
            // An object all of whose members are null says nothing: it is null itself ("bank" when no bank was found).
            if (std::all_of(member.Nest.begin(), member.Nest.end(), [&](const Member& field) {
                    return IsNull(row.Fields[size_t(field.Index)], answer.Values[size_t(field.Index)]);
                })) {
                out.append("null");
                break;
            }
            out.push_back('{');
            for (const Member& field : member.Nest) {
                out.append(field.Key);
                AppendValue(out, row, row.Fields[size_t(field.Index)], answer.Values[size_t(field.Index)]);
            }
            out.push_back('}');
        }
    }
    out.push_back('}');
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

    // What the answers from the postal codes say of their data: those never change while the service runs.
    std::string postalData = "{\"source\":\"Postleitzahlen (OpenStreetMap)\",\"valid_from\":";
    if (postal.Date().empty())
        postalData.append("null");
    else
        AppendJsonString(postalData, postal.Date());
    postalData.append(",\"superseded\":false}");
    std::map<std::string_view, std::vector<const rules::CheckRow*>> paths;
    for (const rules::CheckRow& row : rules::CheckTable())
        if (!row.JsonPath.empty())
            paths[row.JsonPath].push_back(&row);
    for (const auto& entry : paths) {
        std::map<const rules::CheckRow*, std::vector<Member>> layouts;
        for (const rules::CheckRow* row : entry.second)
            layouts[row] = Layout(*row);
        router.Add(std::string(entry.first), [&banks, &postal, &users, postalData, layouts = std::move(layouts),
                                              rows = entry.second](const HttpRequest& request) {
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
            std::string_view data = "null";
            if (check.Row->Source == rules::CheckSource::Banks)
                data = snapshot->ApiData;
            else if (check.Row->Source == rules::CheckSource::Postal)
                data = postalData;
            return ApiJson(200, Answer(*check.Row, layouts.at(check.Row), answer, data));
        });
    }

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
