#include "service/BatchFront.h"

#include "platform/Codepage.h"
#include "platform/Csv.h"
#include "rules/BatchColumns.h"
#include "rules/CheckTable.h"
#include "service/Api.h"

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

namespace orvel::service {
namespace {

using nlohmann::json;

constexpr std::string_view kBatchPath = "/api/v1/batch";
constexpr std::string_view kNothingToCheck = "nichts zu prüfen";

std::string ProblemType(std::string_view cause)
{
    return "/api/v1/problems/" + std::string(cause);
}

// What a batch answers, kept until its body has ended (libmicrohttpd answers no sooner): in memory up to kHeld, the
// rest in a file of its own that no other process can open and that is gone when the answer is.
class Spool
{
public:
    Spool() = default;
    ~Spool()
    {
        if (Fd >= 0)
            close(Fd);
    }
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    void Write(std::string_view bytes)
    {
        Held.append(bytes);
        if (Held.size() >= kHeld)
            Flush();
    }

    size_t Read(char* buffer, size_t size)
    {
        if (FileRead < Written) {
            const ssize_t n = pread(Fd, buffer, std::min<uint64_t>(size, Written - FileRead), off_t(FileRead));
            if (n <= 0)
                throw std::runtime_error(std::string("batch spool: ") + std::strerror(errno));
            FileRead += uint64_t(n);
            return size_t(n);
        }
        const size_t n = std::min(size, Held.size() - HeldRead);
        std::memcpy(buffer, Held.data() + HeldRead, n);
        HeldRead += n;
        return n;
    }

private:
    static constexpr size_t kHeld = 1u << 20;

    void Flush()
    {
        if (Fd < 0) {
            const std::string folder = std::filesystem::temp_directory_path().string();
            Fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
            if (Fd < 0) {
                std::string name = folder + "/orvelwddx-batch-XXXXXX";
                Fd = mkostemp(name.data(), O_CLOEXEC);
                if (Fd >= 0)
                    unlink(name.c_str());
            }
            if (Fd < 0)
                throw std::runtime_error("batch spool in " + folder + ": " + std::strerror(errno));
        }
        for (size_t at = 0; at < Held.size();) {
            const ssize_t n = pwrite(Fd, Held.data() + at, Held.size() - at, off_t(Written + at));
            if (n <= 0)
                throw std::runtime_error(std::string("batch spool: ") + std::strerror(errno));
            at += size_t(n);
        }
        Written += Held.size();
        Held.clear();
    }

    int Fd = -1;
    std::string Held;
    uint64_t Written = 0, FileRead = 0;
    size_t HeldRead = 0;
};

// A group of checks (vat, card, iban, address) and the rows of the table that answer its choices, in their order.
struct Group
{
    std::string_view Name;
    std::vector<std::pair<const rules::BatchChoice*, const rules::CheckRow*>> Choices;
    std::vector<std::string> Columns; // the answer's fields as CSV columns, "bank.name" as "bank_name"
};

// The table's row for a batch's choice: the one answering its method, else the one whose parameters are its needs
// (the VAT id check, which no method of the table names). None for a qualified confirmation.
const rules::CheckRow* TableRow(const rules::BatchChoice& choice)
{
    if (const rules::CheckRow* row = rules::FindCheckByMethod(choice.CoClass, choice.Method))
        return row;
    for (const rules::CheckRow& row : rules::CheckTable())
        if (row.Family == choice.CoClass && row.Params.size() == choice.Needs.size() &&
            std::all_of(row.Params.begin(), row.Params.end(), [&](const rules::CheckParam& param) {
                return std::find(choice.Needs.begin(), choice.Needs.end(), param.Object) != choice.Needs.end();
            }))
            return &row;
    return nullptr;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    return lower;
}

// Every group, with the checks a batch of the service runs (a qualified confirmation is not one of them).
std::vector<Group> Groups()
{
    std::vector<Group> groups;
    for (const rules::BatchChoice& choice : rules::BatchChoices()) {
        const rules::CheckRow* row = TableRow(choice);
        if (!row)
            continue;
        if (groups.empty() || groups.back().Name != choice.Group)
            groups.push_back({choice.Group, {}, {"result", "result_text", "valid"}});
        Group& group = groups.back();
        group.Choices.emplace_back(&choice, row);
        for (const rules::CheckField& field : row->Fields) {
            std::string column(field.Json);
            std::replace(column.begin(), column.end(), '.', '_');
            if (!column.empty() && std::find(group.Columns.begin(), group.Columns.end(), column) == group.Columns.end())
                group.Columns.push_back(column);
        }
    }
    return groups;
}

const std::vector<Group>& AllGroups()
{
    static const std::vector<Group> groups = Groups();
    return groups;
}

// One row's check by the table, with the columns the choice needs: its fields by their JSON names, nested where the
// name has a dot.
json RunCheck(const rules::BatchChoice& choice, const rules::CheckRow& row, const rules::CheckData& data,
              const std::map<std::string_view, std::string>& values)
{
    std::vector<std::optional<std::string>> inputs;
    for (const rules::CheckParam& param : row.Params) {
        const auto value = values.find(param.Object);
        if (param.Name == "rewrite")
            inputs.emplace_back("2"); // the rewrite mode of the command's batch
        else if (value == values.end() || value->second.empty() ||
                 std::find(choice.Needs.begin(), choice.Needs.end(), param.Object) == choice.Needs.end())
            inputs.emplace_back(std::nullopt);
        else
            inputs.emplace_back(row.Windows1252 ? Narrow(FromUtf8(value->second)) : value->second);
    }
    const rules::CheckAnswer answer = row.Run(data, inputs);
    const auto text = [&row](const std::string& value) { return row.Windows1252 ? AnsiToUtf8(value) : value; };
    json out = {{"check", row.Name}};
    for (size_t i = 0; i < row.Fields.size() && i < answer.Values.size(); ++i) {
        const rules::CheckField& field = row.Fields[i];
        if (field.Json.empty())
            continue;
        const rules::CheckValue& value = answer.Values[i];
        json& slot = out[json::json_pointer("/" + [&] {
            std::string pointer(field.Json);
            std::replace(pointer.begin(), pointer.end(), '.', '/');
            return pointer;
        }())];
        if (field.Kind == rules::FieldKind::Number)
            slot = value.Number;
        else if (field.Kind == rules::FieldKind::Text)
            slot = text(value.Text);
        else {
            slot = json::array();
            for (const std::string& item : value.List)
                slot.push_back(text(item));
        }
        if (i == 1)
            out["valid"] = row.Passed(answer);
    }
    return out;
}

// A check's answer flattened to the group's columns.
void AppendColumns(std::string& line, const Group& group, const json* check, char separator)
{
    for (const std::string& column : group.Columns) {
        line += separator;
        if (!check)
            continue;
        const json* value = check;
        for (size_t from = 0; value && from <= column.size();) {
            // "bank_name" may be the field "bank_name" or "bank.name": the whole name first, then its parts.
            if (const auto whole = value->find(column.substr(from)); whole != value->end()) {
                value = &*whole;
                break;
            }
            const size_t cut = column.find('_', from);
            const auto part = cut == std::string::npos ? value->end() : value->find(column.substr(from, cut - from));
            value = part == value->end() ? nullptr : &*part;
            from = cut == std::string::npos ? column.size() + 1 : cut + 1;
        }
        if (!value || value->is_null())
            continue;
        std::string text;
        if (value->is_string())
            text = FormulaSafe(PrintableLine(value->get<std::string>()));
        else if (value->is_array()) {
            for (const json& item : *value)
                text +=
                    (text.empty() ? "" : "~") + PrintableLine(item.is_string() ? item.get<std::string>() : item.dump());
            text = FormulaSafe(std::move(text));
        } else
            text = value->dump();
        AppendCsvField(line, text, separator);
    }
}

class BatchStream final : public BodyStream
{
public:
    BatchStream(bool ndjsonIn, bool windows1252, bool csvOut, std::shared_ptr<const BankSnapshot> banks,
                const rules::PostalData& postal)
        : NdjsonIn(ndjsonIn), Windows1252(windows1252), CsvOut(csvOut), Banks(std::move(banks))
    {
        Data.Banks = &Banks->Checks;
        Data.Postal = &postal;
        Data.Details = true; // the bank's place and the SCL directory's date, which JSON carries
    }

    void Take(std::string_view piece) override
    {
        Text += Windows1252 ? AnsiToUtf8(piece) : std::string(piece);
        Consume(true);
    }

    HttpResponse Finish() override
    {
        Consume(false);
        if (!NdjsonIn && !HeaderRead)
            return Problem(400,
                           HeaderBroken ? "Die Kopfzeile der CSV-Datei lässt sich nicht lesen"
                                        : "Die CSV-Datei hat keine Kopfzeile",
                           ProblemType("bad-input"));
        HttpResponse head{200, CsvOut ? "text/csv; charset=utf-8" : "application/x-ndjson; charset=utf-8"};
        head.Headers.emplace_back("Cache-Control", "no-store");
        return head;
    }

    size_t Read(char* buffer, size_t size) override { return Out.Read(buffer, size); }

private:
    void Consume(bool more)
    {
        if (First && Text.size() >= 3) {
            if (Text.starts_with("\xEF\xBB\xBF"))
                Text.erase(0, 3);
            First = false;
        }
        if (NdjsonIn)
            ConsumeLines(more);
        else
            ConsumeCsv(more);
    }

    void ConsumeCsv(bool more)
    {
        if (HeaderBroken) {
            Text.clear();
            return;
        }
        while (!HeaderRead) {
            const size_t end = Text.find('\n');
            if (end == std::string::npos && more && Text.size() < kMaxRecord)
                return;
            const std::string line = Text.substr(0, end == std::string::npos ? Text.size() : end + 1);
            Text.erase(0, line.size());
            size_t consumed = 0;
            std::vector<TCsvRecord> header = ParseCsv(line, CsvSeparator(line), false, consumed, Line);
            if (header.empty()) { // a blank line
                if (Text.empty())
                    return;
                continue;
            }
            if (!header[0].Fault.empty()) {
                // Nothing can be read without it: the rest is dropped as it comes.
                HeaderBroken = true;
                Text.clear();
                return;
            }
            Separator = CsvSeparator(line);
            Header = header[0].Fields;
            for (const std::string& name : Header)
                ParamOf.push_back(rules::ObjectParamOfColumn(Lower(name)));
            HeaderRead = true;
            WriteHead();
        }
        for (;;) {
            if (Skipping) {
                // The rest of a record too long, already answered.
                const size_t end = Text.find('\n');
                Skipping = end == std::string::npos;
                Text.erase(0, Skipping ? Text.size() : end + 1);
                if (Skipping)
                    return;
            }
            size_t consumed = 0;
            std::vector<TCsvRecord> records = ParseCsv(Text, Separator, more, consumed, Line);
            Text.erase(0, consumed);
            Skipping = !records.empty() && records.back().Unfinished;
            for (TCsvRecord& record : records) {
                std::map<std::string_view, std::string> values;
                std::string fault = record.Fault;
                if (fault.empty()) {
                    for (size_t i = 0; i < record.Fields.size() && i < ParamOf.size(); ++i)
                        if (!ParamOf[i].empty())
                            values[ParamOf[i]] = record.Fields[i];
                    if (std::any_of(record.Fields.begin(), record.Fields.end(),
                                    [](const std::string& field) { return !ValidUtf8(field); }))
                        fault = "kein gültiges UTF-8";
                }
                Row(record.Line, values, fault, &record.Fields);
            }
            if (!Skipping || !more)
                break;
        }
        if (!more)
            Text.clear();
    }

    void ConsumeLines(bool more)
    {
        size_t start = 0;
        for (;;) {
            const size_t end = Text.find('\n', start);
            if (end == std::string::npos && start == Text.size())
                break;
            if (end == std::string::npos && more) {
                if (Text.size() - start > kMaxRecord && !Skipping) {
                    Row(Line, {}, std::string(kTooLong), nullptr);
                    Skipping = true;
                }
                if (Skipping)
                    start = Text.size();
                break;
            }
            std::string_view line(Text.data() + start, (end == std::string::npos ? Text.size() : end) - start);
            start = end == std::string::npos ? Text.size() : end + 1;
            const size_t number = Line++;
            if (std::exchange(Skipping, false))
                continue;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.find_first_not_of(" \t") == std::string_view::npos)
                continue;
            if (line.size() > kMaxRecord) {
                Row(number, {}, std::string(kTooLong), nullptr);
                continue;
            }
            std::map<std::string_view, std::string> values;
            std::string fault;
            if (!ValidUtf8(line)) {
                fault = "kein gültiges UTF-8";
            } else {
                const json object = json::parse(line, nullptr, false);
                if (!object.is_object())
                    fault = "kein JSON-Objekt";
                else
                    for (const auto& [key, value] : object.items()) {
                        const std::string_view param = rules::ObjectParamOfColumn(Lower(key));
                        if (param.empty())
                            continue;
                        if (value.is_string())
                            values[param] = value.get<std::string>();
                        else if (value.is_number())
                            values[param] = value.dump();
                        else if (!value.is_null())
                            fault = "das Feld \"" + key + "\" erwartet Text";
                    }
            }
            Row(number, values, fault, nullptr);
            if (end == std::string::npos)
                break;
        }
        Text.erase(0, start);
    }

    // The CSV answer's header: the line, the input's columns, then each group's.
    void WriteHead()
    {
        if (!CsvOut || HeadWritten)
            return;
        HeadWritten = true;
        std::string line = "line";
        for (const std::string& name : Header) {
            line += Separator;
            AppendCsvField(line, FormulaSafe(PrintableLine(name)), Separator);
        }
        const std::vector<Group>& groups = AllGroups();
        for (const Group& group : groups)
            if (Asked(group))
                for (const std::string& column : group.Columns) {
                    line += Separator;
                    line += Prefixed(group, column);
                }
        line += Separator;
        line += "error\r\n";
        Out.Write(line);
    }

    // Whether the answer has the group's columns: a CSV file names one of its parameters; NDJSON may ask anything.
    bool Asked(const Group& group) const
    {
        if (NdjsonIn)
            return true;
        return std::any_of(group.Choices.begin(), group.Choices.end(), [&](const auto& choice) {
            return std::all_of(choice.first->Needs.begin(), choice.first->Needs.end(), [&](std::string_view need) {
                return std::find(ParamOf.begin(), ParamOf.end(), need) != ParamOf.end();
            });
        });
    }

    std::string Prefixed(const Group& group, const std::string& column) const
    {
        size_t asked = 0;
        for (const Group& other : AllGroups())
            asked += Asked(other) ? 1 : 0;
        return asked > 1 ? std::string(group.Name) + "_" + column : column;
    }

    void Row(size_t line, const std::map<std::string_view, std::string>& values, std::string fault,
             const std::vector<std::string>* fields)
    {
        if (CsvOut && !HeadWritten)
            WriteHead();
        std::vector<std::pair<const Group*, json>> checks;
        if (fault.empty())
            for (const Group& group : AllGroups()) {
                for (const auto& [choice, row] : group.Choices) {
                    const bool filled =
                        std::all_of(choice->Needs.begin(), choice->Needs.end(), [&](std::string_view need) {
                            const auto value = values.find(need);
                            return value != values.end() && !value->second.empty();
                        });
                    if (filled) {
                        checks.emplace_back(&group, RunCheck(*choice, *row, Data, values));
                        break;
                    }
                }
            }
        if (fault.empty() && checks.empty())
            fault = kNothingToCheck;
        if (!CsvOut) {
            json answer = {{"line", line}};
            json list = json::array();
            for (auto& [group, check] : checks)
                list.push_back(std::move(check));
            answer["checks"] = std::move(list);
            if (!fault.empty())
                answer["error"] = fault;
            Out.Write(answer.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
            return;
        }
        std::string text = std::to_string(line);
        for (size_t i = 0; i < Header.size(); ++i) {
            text += Separator;
            if (fields && i < fields->size())
                AppendCsvField(
                    text, FormulaSafe(Printable(ValidUtf8((*fields)[i]) ? (*fields)[i] : AnsiToUtf8((*fields)[i]))),
                    Separator);
        }
        for (const Group& group : AllGroups()) {
            if (!Asked(group))
                continue;
            const auto check =
                std::find_if(checks.begin(), checks.end(), [&](const auto& c) { return c.first == &group; });
            AppendColumns(text, group, check == checks.end() ? nullptr : &check->second, Separator);
        }
        text += Separator;
        AppendCsvField(text, fault, Separator);
        Out.Write(text + "\r\n");
    }

    const bool NdjsonIn, Windows1252, CsvOut;
    std::shared_ptr<const BankSnapshot> Banks; // one edition for the whole batch
    rules::CheckData Data;
    std::string Text; // read, not yet taken apart: at most one record and one piece
    size_t Line = 1;
    bool First = true, HeaderRead = false, HeaderBroken = false, HeadWritten = false, Skipping = false;
    char Separator = ',';
    std::vector<std::string> Header;
    std::vector<std::string_view> ParamOf;
    Spool Out;
};

bool Names(std::string_view header, std::string_view type)
{
    return Lower(header).find(type) != std::string::npos;
}

} // namespace

void AddBatch(Router& router, const BankData& banks, const rules::PostalData& postal, const Users& users)
{
    router.AddStream(
        std::string(kBatchPath),
        [&banks, &postal,
         &users](const HttpRequest& request) -> std::variant<HttpResponse, std::unique_ptr<BodyStream>> {
            if (auto refusal = ApiLogin(users, request))
                return std::move(*refusal);
            const std::string_view type = request.Header("Content-Type").value_or("");
            const bool csv = Names(type, "text/csv");
            const bool ndjson = Names(type, "ndjson") || Names(type, "jsonl");
            if (!csv && !ndjson)
                return Problem(415, "Erwartet wird text/csv oder application/x-ndjson",
                               ProblemType("unsupported-media-type"));
            const std::string_view accept = request.Header("Accept").value_or("*/*");
            const bool csvOut = Names(accept, "text/csv");
            if (!csvOut && !Names(accept, "ndjson") && !Names(accept, "*/*") && !Names(accept, "application/*"))
                return Problem(406, "Geliefert wird application/x-ndjson oder text/csv", ProblemType("not-acceptable"));
            const bool windows1252 = Names(type, "charset=windows-1252") || Names(type, "charset=iso-8859-1") ||
                                     Names(type, "charset=latin1");
            return std::make_unique<BatchStream>(ndjson, windows1252, csvOut, banks.Current(), postal);
        });
    // Another method than POST gets the JSON API's 405.
    router.Add(std::string(kBatchPath), [](const HttpRequest&) {
        HttpResponse wrong = Problem(405, "Methode nicht erlaubt", ProblemType("method-not-allowed"));
        wrong.Headers.emplace_back("Allow", "POST");
        return wrong;
    });
}

} // namespace orvel::service
