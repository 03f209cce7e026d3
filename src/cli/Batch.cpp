#include "cli/Batch.h"

#include "cli/Messages.h"
#include "cli/Output.h"
#include "cli/Xlsx.h"
#include "confirm/ConfirmQueue.h"
#include "platform/Codepage.h"
#include "platform/Csv.h"
#include "platform/StrToInt.h"
#include "rules/BatchColumns.h"
#include "rules/CheckTable.h"
#include "server/Confirmation.h"

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace orvel::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kNothingToCheck = "nichts zu prüfen";

// Confirmations: requests on their way at most, in all member states together (the pacing keeps each one's share
// lower), and rows read ahead of the output, in chunks of kConfirmChunk.
constexpr int kConfirmThreads = 64;
constexpr size_t kConfirmAhead = 2048;
constexpr size_t kConfirmChunk = 16;

// With an own_vat column a VAT id is confirmed (qualified) instead of checked; these columns then go along with it.
constexpr std::pair<std::string_view, std::string_view> kConfirmColumns[] = {
    {"own_vat", "OwnVatId"}, {"name", "Name"}, {"street", "Street"},
    {"zip", "Zip"},          {"city", "City"}, {"reference", "Reference"},
};

// What a confirmation writes into a batch row.
constexpr std::string_view kConfirmWrites[] = {"Status",    "Qualified",   "Message",   "Service",
                                               "RequestId", "RequestTime", "ValidFrom", "ValidTo",
                                               "Matches",   "Tries",       "JournalId", "Fault"};

std::string Lower(std::string Text)
{
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    return Text;
}

struct TDone
{
    TCheckOutcome Outcome;
    TExitStatus Status = kPassed;
    int64_t JournalId = 0; // a confirmation's record
};

// A piece of the input, checked by one worker: its records, and what is to be written for them.
struct TChunk
{
    std::vector<TCsvRecord> Records;
    bool Claimed = false;
    bool Done = false;
    size_t Checked = 0; // rows whose line is in Output (or Rows); fewer than Records when stopped
    std::string Output; // CSV
    std::vector<std::vector<TSheetCell>> Rows; // for a workbook, written in order by the one thread that may
    std::string Reports;                       // broken rows, for standard error
    size_t Passed = 0, NotPassed = 0, Broken = 0, Unreachable = 0, Empty = 0;
    std::vector<std::vector<std::string>> RetryLater; // rows whose confirmation could not be made: their input cells
    std::vector<std::shared_future<confirm::Answer>> Confirmations; // per record, asked when the chunk was read
    size_t Journaled = 0;                                           // rows whose confirmation was recorded
};

// Reads the input in blocks as UTF-8: a BOM dropped, Windows-1252 converted when told so, or when a file to be judged
// holds no UTF-8 sequence.
class TInput
{
public:
    TInput(std::FILE* File, TEncoding Encoding) : FFile(File), F1252(Encoding == TEncoding::Windows1252)
    {
        struct stat info
        {
        };
        if (fstat(fileno(File), &info) != 0 || !S_ISREG(info.st_mode))
            return;
        FSize = size_t(info.st_size);
        if (Encoding != TEncoding::Judge)
            return;
        // A file is judged whole before it is read; one stray byte does not make a UTF-8 file Windows-1252.
        bool nonAscii = false, utf8 = false;
        std::string block;
        while (!utf8 && Fill(block)) {
            nonAscii = nonAscii || !std::all_of(block.begin(), block.end(),
                                                [](char c) { return static_cast<unsigned char>(c) < 0x80; });
            utf8 = HasUtf8Sequence(block);
            // A sequence cut at the block's end is found with the next block.
            block.erase(0, block.size() > 3 ? block.size() - 3 : 0);
        }
        F1252 = nonAscii && !utf8;
        std::rewind(File);
    }

    // More text at the end of Text; false at the end of the input.
    bool Read(std::string& Text)
    {
        std::string bytes;
        if (!Fill(bytes))
            return false;
        FRead += bytes.size();
        if (std::exchange(FFirst, false) && bytes.starts_with("\xEF\xBB\xBF")) {
            bytes.erase(0, 3);
            F1252 = false;
        }
        Text += F1252 ? AnsiToUtf8(bytes) : bytes;
        return true;
    }

    bool Windows1252() const { return F1252; }
    size_t Size() const { return FSize; } // 0 when not known
    size_t BytesRead() const { return FRead; }

private:
    bool Fill(std::string& Block)
    {
        Block.resize(kBlock);
        const size_t n = std::fread(Block.data(), 1, kBlock, FFile);
        Block.resize(n);
        return n > 0;
    }

    static constexpr size_t kBlock = 1u << 18;
    std::FILE* FFile;
    bool FFirst = true, F1252 = false;
    size_t FSize = 0, FRead = 0;
};

// A check the header's columns allow, looked up once: what a row needs to run it, and where its parameters and its
// results go.
struct TPrepared
{
    const rules::BatchChoice* Choice = nullptr;
    std::vector<size_t> Needs; // columns that must not be empty
    const TAutoObjectFactory* Factory = nullptr;
    const TOperationInfo* Operation = nullptr;
    std::vector<Variant> Args;       // fixed parameters (user, password, country); the row fills the others
    std::vector<long> ColumnOfArg;   // per parameter: its column, or -1
    std::vector<long> WriteOfResult; // per result column: its place among the operation's writes, or -1
    TCheckSettings Settings;
    std::vector<std::pair<std::string, long>> ConfirmColumns; // a confirmation's options and their columns
};

// The checks of one group the header's columns allow, and their result columns.
struct TGroup
{
    std::string_view Name;
    std::vector<TPrepared> Checks; // in the order of preference
    std::vector<std::string_view> Results;
};

// The input's columns: which check parameter each names, the checks they allow and their result columns.
struct TColumns
{
    std::vector<std::string> Header;
    std::vector<std::string_view> ParamOf;
    std::vector<TGroup> Groups;

    long ColumnOf(std::string_view Param) const
    {
        const auto found = std::find(ParamOf.begin(), ParamOf.end(), Param);
        return found == ParamOf.end() ? -1 : long(found - ParamOf.begin());
    }

    // "Result", or "iban_Result" when the file asks for checks of several groups.
    std::vector<std::string> ResultNames() const
    {
        std::vector<std::string> names;
        for (const TGroup& group : Groups)
            for (std::string_view name : group.Results)
                names.push_back(Groups.size() > 1 ? std::string(group.Name) + "_" + std::string(name)
                                                  : std::string(name));
        return names;
    }

    // SplitVat: a VAT id check's Resulttext also in named columns (Land, Nummer, …), as a workbook shows it.
    void Prepare(const TComServer& Server, const TRunSettings& Run, bool Bzst, bool SplitVat)
    {
        for (const rules::BatchChoice& choice : rules::BatchChoices()) {
            TPrepared check;
            check.Choice = &choice;
            bool possible = true;
            for (std::string_view need : choice.Needs) {
                const long column = ColumnOf(need);
                possible = possible && column >= 0;
                check.Needs.push_back(size_t(column));
            }
            if (!possible)
                continue;
            for (const auto& factory : Server.Factories())
                if (factory->CoClass().Name == choice.CoClass)
                    check.Factory = factory.get();
            if (choice.Method == "Confirm") {
                PrepareConfirmation(check, Run, Bzst);
                continue;
            }
            check.Operation = check.Factory->Interface().FindOperation(choice.Method);
            // The same arguments as for a single check, with the row's cells in place of the operands.
            const TCheckCall fixed = MakeCall(Server, choice.CoClass, choice.Method, {{"aLand", "DE"}}, Run);
            check.Args = fixed.Args;
            for (const TParamInfo& param : check.Factory->Interface().FindMember(choice.Method)->Params)
                check.ColumnOfArg.push_back(param.Name == "aUser" || param.Name == "aPass" ? -1 : ColumnOf(param.Name));
            check.Settings = SettingsFor(check.Factory->Interface(), Run);
            if (Groups.empty() || Groups.back().Name != choice.Group)
                Groups.push_back({choice.Group, {}, {}});
            TGroup& group = Groups.back();
            std::vector<std::string_view> names = check.Operation->Writes;
            if (SplitVat && choice.Method == "Check" && choice.CoClass == "UStID")
                names.insert(names.end(), std::begin(kVatPieceNames), std::end(kVatPieceNames));
            for (std::string_view name : names)
                if (std::find(group.Results.begin(), group.Results.end(), name) == group.Results.end())
                    group.Results.push_back(name);
            group.Checks.push_back(std::move(check));
        }
        for (TGroup& group : Groups)
            for (TPrepared& check : group.Checks)
                for (std::string_view column : group.Results) {
                    const std::vector<std::string_view> writes =
                        check.Operation
                            ? check.Operation->Writes
                            : std::vector<std::string_view>(std::begin(kConfirmWrites), std::end(kConfirmWrites));
                    const auto at = std::find(writes.begin(), writes.end(), column);
                    check.WriteOfResult.push_back(at == writes.end() ? -1 : long(at - writes.begin()));
                }
    }

    // A qualified confirmation: no operation of the object; its options come from the run and the row.
    void PrepareConfirmation(TPrepared& Check, const TRunSettings& Run, bool Bzst)
    {
        Check.Settings = {{"Service", FromUtf8(Bzst ? "bzst" : "vies")}};
        if (Run.Timeout)
            Check.Settings.emplace_back("Timeout", *Run.Timeout);
        for (const auto& [name, value] :
             {std::pair{"Proxy", &Run.Proxy}, {"ProxyUser", &Run.ProxyUser}, {"ProxyPass", &Run.ProxyPass}})
            if (*value)
                Check.Settings.emplace_back(name, FromUtf8(**value));
        for (const auto& [column, option] : kConfirmColumns)
            if (const long at = ColumnOf(option); at >= 0)
                Check.ConfirmColumns.emplace_back(std::string(option), at);
        Check.ColumnOfArg = {ColumnOf("aUStID")};
        Groups.push_back({Check.Choice->Group, {}, {std::begin(kConfirmWrites), std::end(kConfirmWrites)}});
        Groups.back().Checks.push_back(std::move(Check));
    }
};

const TCheckValue* FindValue(const TCheckOutcome& Outcome, const TPrepared& Check, size_t Result, std::string_view Name)
{
    const long at = Check.WriteOfResult[Result];
    if (at < 0)
        return nullptr;
    // Every runner gives the values in the order of the writes; a failed call gives none.
    if (size_t(at) < Outcome.Values.size() && Outcome.Values[size_t(at)].Name == Name)
        return &Outcome.Values[size_t(at)];
    for (const TCheckValue& value : Outcome.Values)
        if (value.Name == Name)
            return &value;
    return nullptr;
}

// Why a row cannot be checked at all; empty when it can.
std::string RowFault(const TCsvRecord& Record)
{
    std::string fault = Record.Fault;
    for (const std::string& field : Record.Fields)
        if (fault.empty() && !ValidUtf8(field))
            fault = "kein gültiges UTF-8";
    for (const std::string& field : Record.Fields)
        if (fault.empty() && field.find('\0') != std::string::npos)
            fault = "ein NUL-Byte";
    return fault;
}

// Asks for the qualified confirmation of every record of the chunk that gets one, before a worker comes to the
// chunk: the queue paces them per member state, and the worker waits for the answers in the rows' order.
void SubmitConfirmations(TChunk& Chunk, const TColumns& Columns, confirm::ConfirmQueue& Queue)
{
    const TPrepared* check = nullptr;
    for (const TGroup& group : Columns.Groups)
        for (const TPrepared& prepared : group.Checks)
            if (!prepared.Operation)
                check = &prepared;
    Chunk.Confirmations.resize(Chunk.Records.size());
    if (!check)
        return;
    for (size_t r = 0; r < Chunk.Records.size(); ++r) {
        const TCsvRecord& record = Chunk.Records[r];
        const auto cell = [&record](size_t column) {
            return column < record.Fields.size() ? record.Fields[column] : std::string();
        };
        if (!RowFault(record).empty() ||
            !std::all_of(check->Needs.begin(), check->Needs.end(), [&](size_t c) { return !cell(c).empty(); }))
            continue;
        TCheckSettings options = check->Settings;
        for (const auto& [option, column] : check->ConfirmColumns)
            if (!cell(size_t(column)).empty())
                options.emplace_back(option, FromUtf8(cell(size_t(column))));
        try {
            const TConfirmCall call = PrepareConfirm(cell(size_t(check->ColumnOfArg[0])), options);
            if (call.Answered) {
                std::promise<confirm::Answer> given;
                given.set_value(*call.Answered);
                Chunk.Confirmations[r] = given.get_future().share();
            } else {
                Chunk.Confirmations[r] = Queue.Submit(call.Request, call.Settings);
            }
        } catch (const confirm::RequestRefused&) {
            std::promise<confirm::Answer> refused;
            refused.set_exception(std::current_exception());
            Chunk.Confirmations[r] = refused.get_future().share();
        }
    }
}

// One row's qualified confirmation, recorded in the journal: its answer as the values of kConfirmWrites; not
// checked is status 3, like a service that cannot be reached. Throws confirm::Cancelled when it was dropped unsent.
TDone Confirmed(const std::shared_future<confirm::Answer>& Confirmation)
{
    TDone done;
    try {
        const confirm::Answer& answer = Confirmation.get();
        done.JournalId = answer.JournalId;
        const auto fields = AnswerFields(answer);
        for (std::string_view name : kConfirmWrites) {
            TCheckValue value{name};
            if (name == "Tries")
                value.Value = int32_t(answer.Tries);
            else if (name == "JournalId")
                value.Value = FromUtf8(std::to_string(answer.JournalId));
            else {
                const auto field =
                    std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
                value.Value = FromUtf8(field == fields.end() ? std::string() : field->second);
            }
            done.Outcome.Values.push_back(std::move(value));
        }
        done.Status = answer.Verdict == confirm::Status::Valid     ? kPassed
                      : answer.Verdict == confirm::Status::Invalid ? kNotPassed
                                                                   : kUnreachable;
    } catch (const confirm::JournalError& error) {
        done.Outcome = {E_FAIL,
                        {{}, {}, FromUtf8(std::string("Bestätigung ohne Nachweis verworfen: ") + error.what())}};
        done.Status = kUnreachable;
    } catch (const confirm::RequestRefused& error) {
        // Asking again later cannot mend the row: not passed, never queued.
        done.Outcome = {E_FAIL, {{}, {}, FromUtf8(std::string("nicht gesendet: ") + error.what())}};
        done.Status = kNotPassed;
    }
    return done;
}

// Checks one chunk's rows and writes their lines; stops between rows when asked to.
void CheckChunk(TChunk& Chunk, const TColumns& Columns, TRunner& Runner, bool Raw, char Separator, bool Sheet,
                const std::function<bool()>& Stopped)
{
    for (size_t row = 0; row < Chunk.Records.size(); ++row) {
        if (Stopped())
            break;
        TCsvRecord& record = Chunk.Records[row];
        const std::string fault = RowFault(record);
        // As a spreadsheet writes rows: missing cells at the end are empty; cells beyond the header stay out of the
        // columns and are named in Error, and one holding text means the row is not as the header says.
        std::string note;
        bool extraText = false;
        if (fault.empty() && record.Fields.size() > Columns.Header.size()) {
            const size_t extra = record.Fields.size() - Columns.Header.size();
            note = std::to_string(extra) + (extra == 1 ? " Feld" : " Felder") + " mehr als die Kopfzeile";
            std::string cells;
            for (size_t i = Columns.Header.size(); i < record.Fields.size(); ++i) {
                extraText = extraText || !record.Fields[i].empty();
                cells += (i > Columns.Header.size() ? std::string(1, Separator) : std::string()) + record.Fields[i];
            }
            if (extraText)
                note += ": " + cells;
        }
        if (fault.empty())
            record.Fields.resize(Columns.Header.size());

        // The check of every group the row fills.
        std::vector<std::pair<const TPrepared*, TDone>> checks;
        if (fault.empty()) {
            for (const TGroup& group : Columns.Groups) {
                const auto check = std::find_if(group.Checks.begin(), group.Checks.end(), [&](const TPrepared& c) {
                    return std::all_of(c.Needs.begin(), c.Needs.end(),
                                       [&](size_t column) { return !record.Fields[column].empty(); });
                });
                checks.emplace_back(check == group.Checks.end() ? nullptr : &*check, TDone{});
            }
        }
        if (!fault.empty())
            checks.assign(Columns.Groups.size(), {nullptr, TDone{}});
        for (auto& [check, result] : checks) {
            if (!check)
                continue;
            if (!check->Operation) {
                try {
                    result = Confirmed(Chunk.Confirmations[row]);
                } catch (const confirm::Cancelled&) {
                    return; // stopped: the row stays unwritten
                }
                Chunk.Journaled += result.JournalId > 0 ? 1 : 0;
                if (result.Status == kUnreachable)
                    Chunk.RetryLater.push_back(record.Fields);
                continue;
            }
            TCheckCall call{check->Factory, check->Operation, check->Args};
            for (size_t i = 0; i < call.Args.size(); ++i)
                if (const long column = check->ColumnOfArg[i]; column >= 0) {
                    const std::string& value = record.Fields[size_t(column)];
                    if (call.Args[i].Type() == VarType::Int32)
                        call.Args[i] = StrToIntDef(value, 0);
                    else
                        call.Args[i] = FromUtf8(value);
                }
            result.Outcome = Runner.Run(call, check->Settings);
            result.Status = Verdict(*call.Operation, check->Choice->CoClass, result.Outcome);
        }

        // Input columns as they came (a broken row's text is kept whole, bytes that are not UTF-8 as Windows-1252
        // and NUL bytes replaced, so that the output stays readable); then the results and the error.
        std::vector<TSheetCell> cells;
        const auto put = [&](std::string_view text, bool guarded, TMark mark = TMark::None) {
            cells.push_back({std::string(text), mark, guarded});
        };
        if (fault.empty()) {
            for (const std::string& field : record.Fields)
                put(field, true);
        } else {
            // A broken row's text stays whole in its first column, as it came, so that nothing is lost or shifted.
            std::string text;
            for (size_t i = 0; i < record.Fields.size(); ++i) {
                const std::string& field = record.Fields[i];
                text += (i ? std::string(1, Separator) : std::string()) +
                        Printable(ValidUtf8(field) ? field : AnsiToUtf8(field));
            }
            put(text, true);
            for (size_t i = 1; i < Columns.Header.size(); ++i)
                put({}, false);
        }
        std::string errors;
        TExitStatus status = extraText ? kNotPassed : kPassed;
        const bool nothing = std::all_of(checks.begin(), checks.end(), [](const auto& c) { return !c.first; });
        for (size_t g = 0; g < checks.size(); ++g) {
            const auto& [check, result] = checks[g];
            const std::vector<std::string_view>& results = Columns.Groups[g].Results;
            const TMark mark = !check ? TMark::None : result.Status == kPassed ? TMark::Passed : TMark::Failed;
            // A VAT id answer in pieces, where the output has their columns; its Resulttext then only for a fault.
            const TExtraLines pieces =
                check && check->Operation && check->Choice->CoClass == "UStID" &&
                        std::find(results.begin(), results.end(), kVatPieceNames[0]) != results.end()
                    ? VatPieces(result.Outcome)
                    : TExtraLines{};
            for (size_t r = 0; r < results.size(); ++r) {
                const auto piece =
                    std::find_if(pieces.begin(), pieces.end(), [&](const auto& p) { return p.first == results[r]; });
                const TCheckValue* value = check ? FindValue(result.Outcome, *check, r, results[r]) : nullptr;
                if (piece != pieces.end())
                    put(Printable(piece->second), true, mark);
                else if (!value || (!pieces.empty() && results[r] == "Resulttext"))
                    put({}, false, value ? mark : TMark::None);
                else if (!value->IsList && value->Value.Type() == VarType::Int32)
                    put(std::to_string(std::get<int32_t>(value->Value)), false, mark);
                else
                    put(Printable(ValueText(*value)), true, mark);
            }
            if (!check)
                continue;
            if (Failed(result.Outcome.Hr))
                errors += (errors.empty() ? "" : "; ") + Printable(FailureText(result.Outcome));
            if (result.Status == kUnreachable || (result.Status == kNotPassed && status == kPassed))
                status = result.Status;
        }
        if (!note.empty())
            errors = note + (errors.empty() ? "" : "; ") + errors;
        if (!fault.empty()) {
            const std::string error = "Zeile " + std::to_string(record.Line) + ": " + fault;
            Chunk.Reports += "orvelwddx-check: " + error + "\n";
            ++Chunk.Broken;
            put(error, false);
        } else if (nothing && !extraText) {
            // A row without anything to check passes through, for the rows around it to stay where they were.
            ++Chunk.Empty;
            put(errors.empty() ? std::string(kNothingToCheck) : errors + "; " + std::string(kNothingToCheck), true);
        } else {
            ++(status == kPassed ? Chunk.Passed : status == kUnreachable ? Chunk.Unreachable : Chunk.NotPassed);
            put(errors, true);
        }
        if (Sheet) {
            Chunk.Rows.push_back(std::move(cells));
        } else {
            for (size_t i = 0; i < cells.size(); ++i) {
                if (i > 0)
                    Chunk.Output += Separator;
                if (cells[i].Guarded && !Raw)
                    cells[i].Text = FormulaSafe(std::move(cells[i].Text));
                AppendCsvField(Chunk.Output, cells[i].Text, Separator);
            }
            Chunk.Output += "\r\n";
        }
        ++Chunk.Checked;
    }
}

std::string Duration(double Seconds)
{
    const long total = long(Seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

void ShowStreamProgress(std::FILE* Err, size_t Done, const TInput& Input, double Seconds)
{
    const double rate = Seconds > 0 ? double(Done) / Seconds : 0.0;
    if (Input.Size() == 0) {
        std::fprintf(Err, "\r%zu rows  %.1f/s ", Done, rate);
    } else {
        // The share of the file read stands for the share of the rows done.
        const double share = std::min(1.0, double(Input.BytesRead()) / double(Input.Size()));
        const double left = share > 0 ? Seconds / share - Seconds : 0.0;
        constexpr int kWidth = 30;
        const int filled = int(share * kWidth);
        const std::string bar = std::string(size_t(filled), '#') + std::string(size_t(kWidth - filled), '.');
        std::fprintf(Err, "\r[%s] %zu rows  %.1f/s  %s left ", bar.c_str(), Done, rate,
                     share > 0 ? Duration(left).c_str() : "?");
    }
    std::fflush(Err);
}

// The rows after the header of a file, for the progress line; 0 when the input is no file. The file is read again
// from its start and left where it was.
size_t CountRows(std::FILE* File, TEncoding Encoding, char Separator)
{
    const long at = std::ftell(File);
    if (at < 0)
        return 0;
    std::rewind(File);
    TInput input(File, Encoding);
    size_t rows = 0, consumed = 0, line = 1;
    std::string text;
    bool more = input.Size() > 0;
    while (more || !text.empty()) {
        if (more && text.size() <= kMaxRecord)
            more = input.Read(text);
        const std::vector<TCsvRecord> records = ParseCsv(text, Separator, more, consumed, line);
        text.erase(0, consumed);
        rows += records.size();
        if (records.empty() && (!more || consumed == 0))
            text.clear();
    }
    std::fseek(File, at, SEEK_SET);
    return rows > 0 ? rows - 1 : 0;
}

// One line, as wide as the terminal: rows done of all, each member state's requests on their way, its limit and
// the ones waiting (the busiest first), and how many requests were refused as one too many.
void ShowConfirmProgress(std::FILE* Err, size_t Done, size_t Total, confirm::ConfirmQueue::Progress Progress)
{
    winsize size{};
    const size_t width = ioctl(fileno(Err), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
    std::string line = std::to_string(Done) + "/" + std::to_string(Total);
    const std::string refused = "  " + Tr("refused: %1", {std::to_string(Progress.Refused)});
    std::sort(Progress.Countries.begin(), Progress.Countries.end(), [](const auto& a, const auto& b) {
        return a.InFlight + a.Waiting != b.InFlight + b.Waiting ? a.InFlight + a.Waiting > b.InFlight + b.Waiting
                                                                : a.Code < b.Code;
    });
    std::string countries;
    for (const auto& country : Progress.Countries) {
        if (country.InFlight == 0 && country.Waiting == 0)
            continue;
        const std::string part = "  " + country.Code + " " + std::to_string(country.InFlight) + "/" +
                                 std::to_string(country.Limit) + "+" + std::to_string(country.Waiting);
        if (line.size() + countries.size() + part.size() + refused.size() + 3 > width) {
            countries += "  …";
            break;
        }
        countries += part;
    }
    line += countries + refused;
    std::fprintf(Err, "\r%s\033[K", line.c_str());
    std::fflush(Err);
}

} // namespace

int RunBatch(const TBatch& Batch, TRunner& Runner, const TComServer& Server, const TRunSettings& Settings,
             std::FILE* Out, std::FILE* Err)
{
    TInput input(Batch.Input, Batch.Encoding);
    std::string text;
    bool more = true;
    // The header line first: it decides the separator and the result columns.
    while (more && text.find('\n') == std::string::npos && text.size() < kMaxRecord)
        more = input.Read(text);
    // The output keeps the input's separator, so that it opens as the input did.
    const char inputSeparator = CsvSeparator(text);
    const char separator = Batch.Excel ? ';' : inputSeparator;
    size_t consumed = 0, line = 1;
    std::vector<TCsvRecord> first =
        ParseCsv(text.substr(0, text.find('\n') == std::string::npos ? text.size() : text.find('\n') + 1),
                 inputSeparator, false, consumed, line);
    if (first.empty() || !first[0].Fault.empty()) {
        std::fprintf(Err, "orvelwddx-check: %s\n", Tr("the input has no header line").c_str());
        return kUsage;
    }
    text.erase(0, consumed);

    TColumns columns;
    columns.Header = first[0].Fields;
    columns.ParamOf.resize(columns.Header.size());
    // The columns that name a check parameter; the others pass through.
    for (size_t i = 0; i < columns.Header.size(); ++i)
        columns.ParamOf[i] = rules::ObjectParamOfColumn(Lower(columns.Header[i]));
    const auto confirms = [&] {
        return std::any_of(columns.Header.begin(), columns.Header.end(),
                           [](const std::string& h) { return Lower(h) == "own_vat"; });
    };
    if (confirms())
        for (size_t i = 0; i < columns.Header.size(); ++i)
            for (const auto& [column, option] : kConfirmColumns)
                if (Lower(columns.Header[i]) == column)
                    columns.ParamOf[i] = option;
    if (std::all_of(columns.ParamOf.begin(), columns.ParamOf.end(), [](std::string_view p) { return p.empty(); })) {
        std::fprintf(Err, "orvelwddx-check: %s\n",
                     Tr("the header line names none of the columns iban, blz, kto, bic, card, vat, plz, ort, str, "
                        "hnr, pof")
                         .c_str());
        return kUsage;
    }
    // The result columns of every check the header's columns allow, in the order of preference.
    std::optional<TXlsxWriter> sheet;
    if (!Batch.Xlsx.empty()) {
        try {
            sheet.emplace(Batch.Xlsx);
        } catch (const std::runtime_error& error) {
            std::fprintf(Err, "orvelwddx-check: %s\n", error.what());
            return kCannotWrite;
        }
    }
    columns.Prepare(Server, Settings, Batch.Bzst, sheet.has_value());
    std::vector<std::string> headerOut = columns.Header;
    for (std::string& name : columns.ResultNames())
        headerOut.push_back(std::move(name));
    headerOut.emplace_back("Error");
    if (sheet) {
        std::vector<TSheetCell> cells;
        for (std::string& name : headerOut)
            cells.push_back({std::move(name)});
        sheet->Row(cells);
    } else {
        for (size_t i = 0; i < columns.Header.size() && !Batch.Raw; ++i)
            headerOut[i] = FormulaSafe(std::move(headerOut[i]));
        if (Batch.Excel)
            std::fputs("\xEF\xBB\xBF", Out);
        std::fputs(CsvLine(headerOut, separator).c_str(), Out);
        std::fflush(Out);
    }

    const size_t jobs = size_t(std::max(Batch.Jobs, 1));
    // Confirmations go out paced per member state, many at once, as soon as their rows are read: the rows read ahead
    // keep every country's queue filled while the output waits for its oldest row.
    std::optional<confirm::ConfirmQueue> confirmations;
    if (std::any_of(columns.Groups.begin(), columns.Groups.end(), [](const TGroup& group) {
            return std::any_of(group.Checks.begin(), group.Checks.end(),
                               [](const TPrepared& c) { return !c.Operation; });
        }))
        confirmations.emplace(confirm::Journal::DefaultPath(), kConfirmThreads);
    const size_t window = confirmations ? std::max(4 * jobs, kConfirmAhead / kConfirmChunk) : 4 * jobs; // chunks
    const size_t rowsToCount =
        confirmations && Batch.Progress ? CountRows(Batch.Input, Batch.Encoding, inputSeparator) : 0;
    std::mutex mutex;
    std::condition_variable work, done;
    std::deque<std::shared_ptr<TChunk>> chunks; // in input order, written from the front
    bool finished = false;                      // no more chunks will come
    auto stopped = [&] { return Batch.Stop && Batch.Stop->load(); };
    // Rows a chunk holds: about 50 ms of work per chunk, from how fast rows were checked so far, so that slow checks
    // show progress and fast ones are not held up by hand-overs.
    std::atomic<double> rowSeconds{0.01};

    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            const auto next = std::find_if(chunks.begin(), chunks.end(), [](const auto& c) { return !c->Claimed; });
            if (next == chunks.end()) {
                if (finished || stopped())
                    return;
                work.wait_for(lock, std::chrono::milliseconds(100));
                continue;
            }
            const std::shared_ptr<TChunk> chunk = *next;
            chunk->Claimed = true;
            lock.unlock();
            const Clock::time_point began = Clock::now();
            CheckChunk(*chunk, columns, Runner, Batch.Raw, separator, sheet.has_value(), stopped);
            if (chunk->Checked > 0)
                rowSeconds = std::chrono::duration<double>(Clock::now() - began).count() / double(chunk->Checked);
            lock.lock();
            chunk->Done = true;
            done.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (size_t j = 0; j < jobs; ++j)
        workers.emplace_back(worker);

    const Clock::time_point start = Clock::now();
    size_t total = 0, written = 0, journaledRows = 0, passed = 0, notPassed = 0, broken = 0, unreachable = 0, empty = 0;
    bool interrupted = false;
    auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    std::vector<TCsvRecord> pending; // read, not yet in a chunk
    bool skipping = false;           // within a record too long, up to its line end
    std::vector<std::vector<std::string>> retryLater;
    auto writeDone = [&](std::unique_lock<std::mutex>& lock) {
        // After a chunk cut short by Ctrl+C nothing more is written: the output ends with the rows before the stop.
        while (!interrupted && !chunks.empty() && chunks.front()->Done) {
            const std::shared_ptr<TChunk> chunk = chunks.front();
            chunks.pop_front();
            lock.unlock();
            if (!chunk->Reports.empty()) {
                if (Batch.Progress)
                    std::fputs("\r\033[K", Err);
                std::fputs(chunk->Reports.c_str(), Err);
            }
            std::fwrite(chunk->Output.data(), 1, chunk->Output.size(), Out);
            for (const std::vector<TSheetCell>& row : chunk->Rows)
                sheet->Row(row);
            written += chunk->Checked;
            journaledRows += chunk->Journaled;
            passed += chunk->Passed;
            notPassed += chunk->NotPassed;
            broken += chunk->Broken;
            unreachable += chunk->Unreachable;
            empty += chunk->Empty;
            interrupted = interrupted || chunk->Checked < chunk->Records.size();
            std::move(chunk->RetryLater.begin(), chunk->RetryLater.end(), std::back_inserter(retryLater));
            lock.lock();
        }
    };
    {
        std::unique_lock lock(mutex);
        Clock::time_point shown{};
        while (!stopped() && !interrupted) {
            // Fill the window with chunks.
            while (chunks.size() < window && (more || !text.empty() || !pending.empty()) && !stopped()) {
                const size_t rows = confirmations
                                        ? kConfirmChunk
                                        : std::clamp<size_t>(size_t(0.05 / std::max(rowSeconds.load(), 1e-7)), 1, 2048);
                lock.unlock();
                while (pending.size() < rows && (more || !text.empty())) {
                    if (more && text.size() <= kMaxRecord)
                        more = input.Read(text);
                    if (skipping) {
                        // The rest of a record too long, already reported.
                        const size_t end = text.find('\n');
                        skipping = end == std::string::npos;
                        text.erase(0, skipping ? text.size() : end + 1);
                        continue;
                    }
                    std::vector<TCsvRecord> records = ParseCsv(text, inputSeparator, more, consumed, line);
                    text.erase(0, consumed);
                    skipping = !records.empty() && records.back().Unfinished;
                    std::move(records.begin(), records.end(), std::back_inserter(pending));
                    if (!more && !text.empty() && records.empty())
                        text.clear(); // only a blank line was left
                }
                auto chunk = std::make_shared<TChunk>();
                const size_t take = std::min(rows, pending.size());
                chunk->Records.assign(std::make_move_iterator(pending.begin()),
                                      std::make_move_iterator(pending.begin() + std::ptrdiff_t(take)));
                pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(take));
                total += take;
                if (confirmations)
                    SubmitConfirmations(*chunk, columns, *confirmations);
                lock.lock();
                if (take > 0) {
                    chunks.push_back(std::move(chunk));
                    work.notify_one();
                }
            }
            if (chunks.empty() && !more && text.empty() && pending.empty())
                break;
            done.wait_for(lock, std::chrono::milliseconds(100));
            writeDone(lock);
            std::fflush(Out);
            if (Batch.Progress && Clock::now() - shown > std::chrono::milliseconds(100)) {
                shown = Clock::now();
                if (confirmations) {
                    // Answers come before their rows can be written in order: the count follows the answers.
                    const confirm::ConfirmQueue::Progress progress = confirmations->Snapshot();
                    ShowConfirmProgress(Err, std::max(written, progress.Done), std::max(rowsToCount, total), progress);
                } else {
                    ShowStreamProgress(Err, written, input, seconds());
                }
            }
        }
        finished = true;
        work.notify_all();
    }
    // Stopped: what was not sent stays unsent; the workers waiting for it end their chunks there.
    if (confirmations && stopped())
        confirmations->Cancel();
    for (std::thread& thread : workers)
        thread.join();
    {
        std::unique_lock lock(mutex);
        writeDone(lock);
    }
    std::fflush(Out);
    if (Batch.Progress)
        std::fputs("\r\033[K", Err);

    // Rows read but not checked when stopped count as not written.
    for (const auto& chunk : chunks)
        interrupted = interrupted || !chunk->Done || chunk->Checked < chunk->Records.size();
    interrupted = interrupted || stopped();
    bool unwritten = false;
    if (sheet) {
        if (const std::string fault = sheet->Close(); !fault.empty()) {
            std::fprintf(Err, "orvelwddx-check: %s\n", fault.c_str());
            unwritten = true;
        }
    }
    // Stopped, the answers to rows after the last one written are kept in the journal alone.
    if (const size_t journaled = confirmations ? confirmations->Close() : 0; journaled > journaledRows)
        std::fprintf(Err, "orvelwddx-check: %s\n",
                     Tr("%1 confirmations answered for rows after the last one written are in the journal only",
                        {std::to_string(journaled - journaledRows)})
                         .c_str());
    if (!retryLater.empty()) {
        const long vat = columns.ColumnOf("aUStID");
        std::fprintf(Err, "orvelwddx-check: %s", Tr("not checked, to be tried again later:").c_str());
        for (const auto& row : retryLater)
            std::fprintf(Err, " %s", vat >= 0 && size_t(vat) < row.size() ? row[size_t(vat)].c_str() : "?");
        std::fprintf(Err, "\n");
        if (!Batch.RetryLater.empty()) {
            std::string later = CsvLine(columns.Header, inputSeparator);
            for (const auto& row : retryLater)
                later += CsvLine(row, inputSeparator);
            std::FILE* file = std::fopen(Batch.RetryLater.c_str(), "wb");
            const bool wrote = file && std::fwrite(later.data(), 1, later.size(), file) == later.size();
            const bool closed = file && std::fclose(file) == 0;
            if (!wrote || !closed) {
                std::fprintf(Err, "orvelwddx-check: %s\n", Tr("cannot write %1", {Batch.RetryLater}).c_str());
                unwritten = true;
            } else
                std::fprintf(
                    Err, "orvelwddx-check: %s\n",
                    Tr("%1 rows for a later run in %2", {std::to_string(retryLater.size()), Batch.RetryLater}).c_str());
        }
    }
    const double elapsed = seconds();
    char speed[64];
    std::snprintf(speed, sizeof speed, "%.1f s, %.1f", elapsed, elapsed > 0 ? double(written) / elapsed : 0.0);
    const auto count = [](size_t n) { return std::to_string(n); };
    std::fprintf(Err, "orvelwddx-check: %s%s\n",
                 Tr(interrupted ? "%1 of %2 rows (interrupted): %3 passed, %4 not passed, %5 unreadable, %6 "
                                  "unreachable, %7 with nothing to check; %8 checks/s"
                                : "%1 of %2 rows: %3 passed, %4 not passed, %5 unreadable, %6 unreachable, %7 with "
                                  "nothing to check; %8 checks/s",
                    {count(written), count(total), count(passed), count(notPassed), count(broken), count(unreachable),
                     count(empty), speed})
                     .c_str(),
                 input.Windows1252() ? Tr("; input read as Windows-1252").c_str() : "");
    if (interrupted)
        return kInterrupted;
    if (unwritten)
        return kCannotWrite;
    if (unreachable)
        return kUnreachable;
    return notPassed || broken ? kNotPassed : kPassed;
}

} // namespace orvel::cli
