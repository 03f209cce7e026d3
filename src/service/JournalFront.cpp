#include "service/JournalFront.h"

#include "confirm/Confirm.h"
#include "confirm/Journal.h"
#include "service/Api.h"

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

extern char** environ;

namespace orvel::service {
namespace {

using nlohmann::json;

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr std::string_view kConfirmationsPath = "/api/v1/vat/confirmations";
constexpr std::string_view kJournalPath = "/api/v1/journal";
// A client told to come back when VIES or the BZSt is busy: not at once, as the BZSt asks.
constexpr const char* kRetryAfterSeconds = "60";
// What writing one proof may take and give.
constexpr auto kProofTime = std::chrono::seconds(30);
constexpr uintmax_t kMaxProof = 16u << 20;

std::string ProblemType(std::string_view cause)
{
    return "/api/v1/problems/" + std::string(cause);
}

HttpResponse Answer(unsigned status, const json& body)
{
    return {status, kJson, body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

// "Name=1;Street=2" as {"name": "1", "street": "2"}.
json MatchesJson(const std::string& matches)
{
    json out = json::object();
    std::istringstream parts(matches);
    for (std::string part; std::getline(parts, part, ';');) {
        const size_t equals = part.find('=');
        if (equals == std::string::npos)
            continue;
        std::string name;
        for (const char c : part.substr(0, equals)) {
            if (c >= 'A' && c <= 'Z' && !name.empty())
                name += '_';
            name += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        out[name] = part.substr(equals + 1);
    }
    return out;
}

json RecordJson(const confirm::Record& record, bool whole)
{
    json out = {
        {"id", record.Id},
        {"time_utc", record.TimeUtc},
        {"time_local", record.TimeLocal},
        {"kind", record.Kind},
        {"service", record.Service},
        {"endpoint", record.Endpoint},
        {"own_vat_id", record.OwnId},
        {"vat_id", record.ForeignId},
        {"name", record.Name},
        {"company_type", record.CompanyType},
        {"street", record.Street},
        {"zip", record.Zip},
        {"city", record.City},
        {"reference", record.Reference},
        {"retry_of", record.RetryOf},
        {"status", record.Status},
        {"valid", record.Status == "valid"},
        {"qualified", record.Qualified},
        {"message", record.Message},
        {"fault", record.Fault},
        {"valid_from", record.ValidFrom},
        {"valid_to", record.ValidTo},
        {"matches", MatchesJson(record.Matches)},
        {"request_id", record.RequestId},
        {"request_time", record.RequestTime},
        {"tries", record.Tries},
        {"raw_sha256", record.RawSha256},
        {"chain", record.Chain},
    };
    // A record changed outside the program says so wherever it is shown.
    if (const std::string disagreement = confirm::RawDisagreement(record); !disagreement.empty())
        out["raw_disagrees"] = disagreement;
    if (whole)
        out["raw"] = record.Raw;
    return out;
}

std::string Text(const json& body, const char* key)
{
    const auto found = body.find(key);
    return found == body.end() ? std::string() : found->get<std::string>();
}

HttpResponse Confirm(const HttpRequest& request, const std::string& ownVatId, const std::string& journal)
{
    auto parsed = ApiBody(request);
    if (auto* refused = std::get_if<HttpResponse>(&parsed))
        return std::move(*refused);
    const json body = std::move(std::get<json>(parsed));
    static constexpr const char* kFields[] = {"vat_id", "name",         "street",    "zip",
                                              "city",   "company_type", "reference", "service"};
    if (!body.is_object())
        return Problem(400, "Erwartet wird ein JSON-Objekt", ProblemType("bad-input"));
    for (const auto& item : body.items()) {
        const std::string& key = item.key();
        const json& value = item.value();
        if (std::find_if(std::begin(kFields), std::end(kFields), [&](const char* f) { return key == f; }) ==
            std::end(kFields))
            return Problem(400, "Unbekanntes Feld \"" + key + "\"", ProblemType("bad-input"));
        if (!value.is_string())
            return Problem(400, "Das Feld \"" + key + "\" erwartet Text", ProblemType("bad-input"));
    }
    confirm::Request ask;
    ask.ForeignId = Text(body, "vat_id");
    ask.OwnId = ownVatId;
    ask.Name = Text(body, "name");
    ask.Street = Text(body, "street");
    ask.Zip = Text(body, "zip");
    ask.City = Text(body, "city");
    ask.CompanyType = Text(body, "company_type");
    ask.Reference = Text(body, "reference");
    const std::string service = body.contains("service") ? Text(body, "service") : "vies";
    if (confirm::NormalizeId(ask.ForeignId).empty())
        return Problem(400, "Die USt-IdNr. (vat_id) fehlt", ProblemType("bad-input"));
    if (service != "vies" && service != "bzst")
        return Problem(400, "Das Feld \"service\" erwartet \"vies\" oder \"bzst\"", ProblemType("bad-input"));
    ask.Via = service == "bzst" ? confirm::Service::Bzst : confirm::Service::Vies;
    if (ask.Via == confirm::Service::Vies && !ask.CompanyType.empty() && !confirm::IsCompanyType(ask.CompanyType))
        return Problem(400,
                       "Die Rechtsform \"" + ask.CompanyType +
                           "\" hat nicht die Form, die VIES annimmt: zwei Großbuchstaben, Bindestrich, 1 bis 99",
                       ProblemType("bad-input"));
    if (ownVatId.empty())
        return Problem(500,
                       "Die eigene USt-IdNr. fehlt: der Dienst fragt qualifiziert erst mit der Einstellung OwnVatId",
                       ProblemType("own-vat-id-missing"));
    confirm::Answer answer;
    try {
        // The caller waits on the line: fewer and shorter tries than a batch takes, and what stays unanswered is
        // kept as pending for the hourly retry.
        confirm::Settings settings;
        settings.Retry.Tries = 2;
        settings.Retry.Within = std::chrono::seconds(10);
        answer = confirm::ConfirmChecked(ask, settings, journal);
    } catch (const confirm::RequestRefused& refused) {
        // Only the own id is left to refuse: a fault of the service's settings, not of the request.
        return Problem(500, refused.what(), ProblemType("own-vat-id-refused"));
    } catch (const confirm::JournalError& error) {
        return Problem(500, std::string("Bestätigung ohne Nachweis verworfen: ") + error.what(),
                       ProblemType("journal"));
    }
    if (answer.JournalId == 0) // an id of a country outside VIES: answered at once, nothing to keep
        return Answer(200, {{"vat_id", confirm::NormalizeId(ask.ForeignId)},
                            {"status", confirm::StatusName(answer.Verdict)},
                            {"valid", false},
                            {"qualified", false},
                            {"message", answer.Message}});
    const std::string location = std::string(kJournalPath) + "/" + std::to_string(answer.JournalId);
    if (answer.Verdict == confirm::Status::NotChecked) {
        HttpResponse busy = Problem(503, answer.Message, ProblemType("busy"));
        json problem = json::parse(busy.Body);
        problem["journal_id"] = answer.JournalId;
        problem["fault"] = answer.Fault;
        busy.Body = problem.dump(-1, ' ', false, json::error_handler_t::replace);
        busy.Headers.emplace_back("Retry-After", kRetryAfterSeconds);
        busy.Headers.emplace_back("Location", location);
        return busy;
    }
    const std::optional<confirm::Record> record = confirm::Journal(journal).Find(answer.JournalId);
    HttpResponse created = Answer(201, record ? RecordJson(*record, true) : json::object());
    created.Headers.emplace_back("Location", location);
    return created;
}

bool IsDate(std::string_view date)
{
    if (date.size() != 10 || date[4] != '-' || date[7] != '-')
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (date[i] < '0' || date[i] > '9')
            return false;
    return true;
}

HttpResponse List(const HttpRequest& request, const std::string& journal)
{
    confirm::JournalFilter filter;
    for (const auto& [key, target] : {std::pair{"from", &filter.From}, {"to", &filter.To}}) {
        if (const auto value = request.Query(key); value && !value->empty()) {
            if (!IsDate(*value))
                return Problem(400, std::string("Das Datum \"") + key + "\" erwartet JJJJ-MM-TT",
                               ProblemType("bad-input"));
            *target = *value;
        }
    }
    if (const auto id = request.Query("id"))
        filter.ForeignId = confirm::NormalizeId(*id);
    json records = json::array();
    for (const confirm::Record& record : confirm::Journal(journal).Read(filter))
        records.push_back(RecordJson(record, false));
    return Answer(200, {{"records", std::move(records)}});
}

// The orvelwddx-check installed beside this program, or in a build tree the one built beside it.
std::string CheckCommand()
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    const std::filesystem::path installed = folder / "orvelwddx-check";
    const std::filesystem::path built = folder.parent_path() / "cli" / "orvelwddx-check";
    return (std::filesystem::exists(installed, error) || !std::filesystem::exists(built, error) ? installed : built)
        .string();
}

// The proof PDF as the command writes it, so that there is one layout; empty when it could not be written.
std::string Proof(int64_t id, const std::string& journal)
{
    std::error_code error;
    std::string dir = (std::filesystem::temp_directory_path(error) / "orvelwddx-proof-XXXXXX").string();
    if (error || !mkdtemp(dir.data()))
        return {};
    const std::string pdf = dir + "/proof.pdf";
    const std::string command = CheckCommand();
    const std::string idText = std::to_string(id);
    std::vector<std::string> arguments = {command, "journal", "--proof", idText, "--pdf", pdf};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = {"ORVELWDDX_JOURNAL=" + journal, "QT_QPA_PLATFORM=offscreen"};
    for (char** variable = environ; *variable; ++variable)
        if (!std::string_view(*variable).starts_with("ORVELWDDX_JOURNAL=") &&
            !std::string_view(*variable).starts_with("QT_QPA_PLATFORM="))
            variables.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, command.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    std::string bytes;
    if (spawned == 0) {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + kProofTime;
        pid_t ended = 0;
        while ((ended = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (ended == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        } else if (ended == child && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            const uintmax_t size = std::filesystem::file_size(pdf, error);
            if (!error && size <= kMaxProof) {
                std::ifstream in(pdf, std::ios::binary);
                bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return bytes;
}

// /api/v1/journal/{id} and /api/v1/journal/{id}/proof.pdf.
HttpResponse Record(const HttpRequest& request, const std::string& journal)
{
    std::string_view rest = request.Path.substr(kJournalPath.size() + 1);
    const bool proof = rest.ends_with("/proof.pdf");
    if (proof)
        rest.remove_suffix(std::string_view("/proof.pdf").size());
    int64_t id = 0;
    for (const char c : rest) {
        if (c < '0' || c > '9' || id > (INT64_MAX - 9) / 10)
            return Problem(404, "Nicht gefunden", ProblemType("not-found"));
        id = id * 10 + (c - '0');
    }
    const std::optional<confirm::Record> record = rest.empty() ? std::nullopt : confirm::Journal(journal).Find(id);
    if (!record)
        return Problem(404, "Im Journal gibt es keinen Eintrag " + std::string(rest), ProblemType("not-found"));
    if (!proof)
        return Answer(200, RecordJson(*record, true));
    std::string pdf = Proof(id, journal);
    if (pdf.empty())
        return Problem(500, "Der Nachweis ließ sich nicht erstellen", ProblemType("proof"));
    HttpResponse answer{200, "application/pdf", std::move(pdf)};
    answer.Headers.emplace_back("Content-Disposition",
                                "attachment; filename=\"nachweis-" + std::to_string(id) + ".pdf\"");
    return answer;
}

} // namespace

void AddJournal(Router& router, const Users& users, std::string ownVatId, std::string journal)
{
    const auto gated = [&users](const char* method, const HttpRequest& request, auto answer) {
        if (auto refusal = ApiLogin(users, request))
            return std::move(*refusal);
        if (request.Method != method && !(std::string_view(method) == "GET" && request.Method == "HEAD")) {
            HttpResponse wrong = Problem(405, "Methode nicht erlaubt", ProblemType("method-not-allowed"));
            wrong.Headers.emplace_back("Allow", method == std::string_view("GET") ? "GET, HEAD" : method);
            return wrong;
        }
        try {
            return answer();
        } catch (const confirm::JournalError& error) {
            return Problem(500, error.what(), ProblemType("journal"));
        }
    };
    router.Add(std::string(kConfirmationsPath), [gated, ownVatId, journal](const HttpRequest& request) {
        return gated("POST", request, [&] { return Confirm(request, ownVatId, journal); });
    });
    router.Add(std::string(kJournalPath), [gated, journal](const HttpRequest& request) {
        return gated("GET", request, [&] { return List(request, journal); });
    });
    for (const char* path : {"/api/v1/journal/{id}", "/api/v1/journal/{id}/proof.pdf"})
        router.Add(path, [gated, journal](const HttpRequest& request) {
            return gated("GET", request, [&] { return Record(request, journal); });
        });
    // Asking VIES or the BZSt, and writing a proof, take seconds: the service's threads serve others meanwhile.
    router.MarkSlow(std::string(kConfirmationsPath));
    router.MarkSlow(std::string(kJournalPath) + "/");
}

} // namespace orvel::service
