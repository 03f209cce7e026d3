#include "cli/Batch.h"

#include "cli/Csv.h"
#include "cli/Output.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace orvel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The columns that name a check parameter; the others pass through.
constexpr std::pair<std::string_view, std::string_view> kColumns[] = {
    {"iban", "aIban"}, {"blz", "aBlz"}, {"kto", "aKto"}, {"bic", "aBic"}, {"card", "aCc"}, {"vat", "aUStID"},
    {"plz", "aPlz"},   {"ort", "aOrt"}, {"str", "aStr"}, {"hnr", "aHnr"}, {"pof", "aPof"},
};

struct TOperationChoice
{
    std::vector<std::string_view> Needs; // parameters that must not be empty
    std::string_view CoClass;
    std::string_view Method;
};

// The first whose parameters the row fills decides.
const TOperationChoice kChoices[] = {
    {{"aUStID"}, "UStID", "Check"},
    {{"aCc"}, "Tarvik", "TestCc"},
    {{"aIban", "aBic"}, "Tarvik", "TestIbanBic"},
    {{"aIban"}, "Tarvik", "TestIban"},
    {{"aBlz", "aKto"}, "Tarvik", "TestBlzKto"},
    {{"aBic"}, "Tarvik", "TestBic"},
    {{"aPlz", "aOrt", "aPof"}, "Address", "CheckPof"},
    {{"aPlz", "aOrt", "aStr", "aHnr"}, "Address", "CheckStrHnr"},
    {{"aPlz", "aOrt", "aStr"}, "Address", "CheckStr"},
    {{"aPlz", "aOrt"}, "Address", "Check"},
    {{"aPlz"}, "Address", "GetPlzType"},
};

std::string Lower(std::string Text)
{
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    return Text;
}

struct TRow
{
    const TCsvRecord* Record = nullptr;
    std::string Fault;
    const TOperationChoice* Choice = nullptr;
    TCheckCall Call;
};

struct TDone
{
    TCheckOutcome Outcome;
    TExitStatus Status = kPassed;
};

std::string Duration(double Seconds)
{
    const long total = long(Seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

void ShowProgress(std::FILE* Err, size_t Done, size_t Total, double Seconds)
{
    constexpr int kWidth = 30;
    const double share = Total ? double(Done) / double(Total) : 1.0;
    const double rate = Seconds > 0 ? double(Done) / Seconds : 0.0;
    const int filled = int(share * kWidth);
    const std::string bar = std::string(size_t(filled), '#') + std::string(size_t(kWidth - filled), '.');
    const std::string left = rate > 0 ? Duration(double(Total - Done) / rate) : std::string("?");
    std::fprintf(Err, "\r[%s] %zu/%zu  %.1f/s  %s left ", bar.c_str(), Done, Total, rate, left.c_str());
    std::fflush(Err);
}

} // namespace

int RunBatch(const TBatch& Batch, TRunner& Runner, const TComServer& Server, const TRunSettings& Settings,
             std::FILE* Out, std::FILE* Err)
{
    bool windows1252 = false;
    const std::string text = DecodeInput(Batch.Input, windows1252);
    const std::vector<TCsvRecord> records = ParseCsv(text);
    if (records.empty() || !records[0].Fault.empty()) {
        std::fprintf(Err, "orvelwddx-check: the input has no header line\n");
        return kUsage;
    }
    const std::vector<std::string>& header = records[0].Fields;
    std::vector<std::string_view> paramOf(header.size());
    bool known = false;
    for (size_t i = 0; i < header.size(); ++i)
        for (const auto& [column, param] : kColumns)
            if (Lower(header[i]) == column) {
                paramOf[i] = param;
                known = true;
            }
    if (!known) {
        std::fprintf(Err, "orvelwddx-check: the header line names none of the columns iban, blz, kto, bic, card, "
                          "vat, plz, ort, str, hnr, pof\n");
        return kUsage;
    }

    // Every row's check first: the result columns are those of the checks the file holds.
    std::vector<TRow> rows(records.size() - 1);
    std::vector<std::string_view> resultColumns;
    for (size_t r = 0; r < rows.size(); ++r) {
        TRow& row = rows[r];
        row.Record = &records[r + 1];
        if (!row.Record->Fault.empty()) {
            row.Fault = row.Record->Fault;
            continue;
        }
        if (row.Record->Fields.size() != header.size()) {
            row.Fault = std::to_string(row.Record->Fields.size()) + " fields where the header has " +
                        std::to_string(header.size());
            continue;
        }
        TParams params{{"aLand", "DE"}};
        for (size_t i = 0; i < header.size(); ++i)
            if (!paramOf[i].empty())
                params[std::string(paramOf[i])] = row.Record->Fields[i];
        for (const TOperationChoice& choice : kChoices)
            if (std::all_of(choice.Needs.begin(), choice.Needs.end(),
                            [&](std::string_view need) { return !params[std::string(need)].empty(); })) {
                row.Choice = &choice;
                break;
            }
        if (!row.Choice) {
            row.Fault = "nothing to check in this row";
            continue;
        }
        row.Call = MakeCall(Server, row.Choice->CoClass, row.Choice->Method, params, Settings);
        for (std::string_view name : row.Call.Operation->Writes)
            if (std::find(resultColumns.begin(), resultColumns.end(), name) == resultColumns.end())
                resultColumns.push_back(name);
    }

    std::vector<std::string> headerOut = header;
    headerOut.insert(headerOut.end(), resultColumns.begin(), resultColumns.end());
    headerOut.emplace_back("Error");
    std::fputs(CsvLine(headerOut).c_str(), Out);
    std::fflush(Out);

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<TDone>> done(rows.size());
    std::atomic<size_t> next{0};
    auto stopped = [&] { return Batch.Stop && Batch.Stop->load(); };
    auto work = [&] {
        for (size_t r; !stopped() && (r = next++) < rows.size();) {
            TDone result;
            if (rows[r].Fault.empty()) {
                const TRow& row = rows[r];
                result.Outcome = Runner.Run(row.Call, SettingsFor(row.Call.Factory->Interface(), Settings));
                result.Status = Verdict(*row.Call.Operation, row.Choice->CoClass, result.Outcome);
            }
            std::lock_guard lock(mutex);
            done[r] = std::move(result);
            changed.notify_all();
        }
    };
    const size_t jobs = std::clamp<size_t>(size_t(std::max(Batch.Jobs, 1)), 1, std::max<size_t>(rows.size(), 1));
    std::vector<std::thread> workers;
    for (size_t j = 0; j < jobs; ++j)
        workers.emplace_back(work);

    const Clock::time_point start = Clock::now();
    size_t written = 0, passed = 0, notPassed = 0, broken = 0, unreachable = 0;
    auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    auto writeReady = [&](std::unique_lock<std::mutex>& lock) {
        while (written < rows.size() && done[written]) {
            const TRow& row = rows[written];
            const TDone result = std::move(*done[written]);
            lock.unlock();
            // Input columns as they came; surplus fields of a broken row go into its last column, so that nothing
            // is lost and the result columns stay in place.
            std::vector<std::string> fields = row.Record->Fields;
            while (fields.size() > header.size()) {
                fields[fields.size() - 2] += "," + fields.back();
                fields.pop_back();
            }
            fields.resize(header.size());
            for (std::string_view column : resultColumns) {
                std::string value;
                for (const TCheckValue& v : result.Outcome.Values)
                    if (v.Name == column)
                        value = ValueText(v);
                fields.push_back(value);
            }
            std::string error;
            if (!row.Fault.empty()) {
                error = "line " + std::to_string(row.Record->Line) + ": " + row.Fault;
                ++broken;
                if (Batch.Progress)
                    std::fputs("\r\033[K", Err);
                std::fprintf(Err, "orvelwddx-check: line %zu: %s\n", row.Record->Line, row.Fault.c_str());
            } else if (Failed(result.Outcome.Hr)) {
                error = FailureText(result.Outcome);
                ++unreachable;
            } else {
                ++(result.Status == kPassed ? passed : result.Status == kUnreachable ? unreachable : notPassed);
            }
            fields.push_back(error);
            std::fputs(CsvLine(fields).c_str(), Out);
            lock.lock();
            ++written;
        }
        std::fflush(Out);
    };
    {
        std::unique_lock lock(mutex);
        while (written < rows.size() && !stopped()) {
            changed.wait_for(lock, std::chrono::milliseconds(100));
            writeReady(lock);
            if (Batch.Progress)
                ShowProgress(Err, written, rows.size(), seconds());
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    {
        std::unique_lock lock(mutex);
        writeReady(lock);
    }
    if (Batch.Progress)
        std::fputs("\r\033[K", Err);

    const double elapsed = seconds();
    const bool interrupted = written < rows.size();
    std::fprintf(Err,
                 "orvelwddx-check: %zu of %zu rows%s: %zu passed, %zu not passed, %zu unreadable, %zu unreachable; "
                 "%.1f s, %.1f checks/s%s\n",
                 written, rows.size(), interrupted ? " (interrupted)" : "", passed, notPassed, broken, unreachable,
                 elapsed, elapsed > 0 ? double(written) / elapsed : 0.0,
                 windows1252 ? "; input read as Windows-1252" : "");
    if (interrupted)
        return kInterrupted;
    if (unreachable)
        return kUnreachable;
    return notPassed || broken ? kNotPassed : kPassed;
}

} // namespace orvel::cli
