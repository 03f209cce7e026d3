#include "cli/Confirmations.h"

#include "platform/Csv.h"
#include "cli/Output.h"
#include "cli/Xlsx.h"
#include "server/Confirmation.h"
#include "server/DBusMarshal.h"
#include "server/Introspection.h"

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <stdexcept>

namespace orvel::cli {
namespace {

using namespace Qt::StringLiterals;

QString Q(const std::string& Utf8)
{
    return QString::fromStdString(Utf8);
}

// The answer of OrvelWddx.Checks.Confirm of a running server.
confirm::Answer ConfirmOnBus(const std::string& VatId, const TCheckSettings& Options)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        throw std::runtime_error("no session bus: " + bus.lastError().message().toStdString());
    QDBusMessage message = QDBusMessage::createMethodCall(u"OrvelWddx.UStID"_s, u"/OrvelWddx/UStID"_s,
                                                          QLatin1String(dbus::kChecksInterface), u"Confirm"_s);
    message.setArguments({Q(VatId), dbus::SettingsToDBus(Options)});
    // Retries may take their full time on top of the answers.
    const QDBusMessage reply = bus.call(message, QDBus::Block, 600000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        if (reply.errorName() == QLatin1String(dbus::kErrorPrefix) + u"JournalFailed"_s)
            throw confirm::JournalError(reply.errorMessage().toStdString());
        if (reply.errorName() == u"org.freedesktop.DBus.Error.InvalidArgs"_s)
            throw confirm::RequestRefused(reply.errorMessage().toStdString());
        throw std::runtime_error(reply.errorMessage().toStdString());
    }
    const QVariantMap map = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    const auto text = [&map](const char* key) { return map.value(QLatin1String(key)).toString().toStdString(); };
    confirm::Answer answer;
    const std::string status = text("Status");
    answer.Verdict = status == "valid"     ? confirm::Status::Valid
                     : status == "invalid" ? confirm::Status::Invalid
                                           : confirm::Status::NotChecked;
    answer.Qualified = map.value(u"Qualified"_s).toBool();
    answer.Via = text("Service") == "bzst" ? confirm::Service::Bzst : confirm::Service::Vies;
    answer.Message = text("Message");
    answer.RequestId = text("RequestId");
    answer.RequestTime = text("RequestTime");
    answer.ValidFrom = text("ValidFrom");
    answer.ValidTo = text("ValidTo");
    answer.Fault = text("Fault");
    answer.JournalNotice = text("Notice");
    answer.Tries = map.value(u"Tries"_s).toInt();
    answer.JournalId = map.value(u"JournalId"_s).toLongLong();
    const QMap<QString, QString> matches =
        qdbus_cast<QMap<QString, QString>>(map.value(u"Matches"_s).value<QDBusArgument>());
    for (auto entry = matches.begin(); entry != matches.end(); ++entry)
        answer.Matches.emplace_back(entry.key().toStdString(), entry.value().toStdString());
    return answer;
}

QJsonObject RecordJson(const confirm::Record& R)
{
    return {{u"id"_s, qint64(R.Id)},
            {u"time_utc"_s, Q(R.TimeUtc)},
            {u"time_local"_s, Q(R.TimeLocal)},
            {u"kind"_s, Q(R.Kind)},
            {u"service"_s, Q(R.Service)},
            {u"endpoint"_s, Q(R.Endpoint)},
            {u"own_id"_s, Q(R.OwnId)},
            {u"foreign_id"_s, Q(R.ForeignId)},
            {u"name"_s, Q(R.Name)},
            {u"company_type"_s, Q(R.CompanyType)},
            {u"street"_s, Q(R.Street)},
            {u"zip"_s, Q(R.Zip)},
            {u"city"_s, Q(R.City)},
            {u"reference"_s, Q(R.Reference)},
            {u"status"_s, Q(R.Status)},
            {u"qualified"_s, R.Qualified},
            {u"message"_s, Q(R.Message)},
            {u"fault"_s, Q(R.Fault)},
            {u"valid_from"_s, Q(R.ValidFrom)},
            {u"valid_to"_s, Q(R.ValidTo)},
            {u"matches"_s, Q(R.Matches)},
            {u"request_id"_s, Q(R.RequestId)},
            {u"request_time"_s, Q(R.RequestTime)},
            {u"tries"_s, R.Tries},
            {u"retry_of"_s, qint64(R.RetryOf)},
            {u"raw_sha256"_s, Q(R.RawSha256)},
            {u"chain"_s, Q(R.Chain)},
            {u"raw_base64"_s, QString::fromLatin1(QByteArray::fromStdString(R.Raw).toBase64())}};
}

constexpr const char* kCsvColumns[] = {
    "id",         "time_utc",     "time_local",   "kind",     "service",    "endpoint", "own_id",
    "foreign_id", "name",         "company_type", "street",   "zip",        "city",     "reference",
    "status",     "qualified",    "message",      "fault",    "valid_from", "valid_to", "matches",
    "request_id", "request_time", "tries",        "retry_of", "raw_sha256", "chain",    "raw_base64"};

} // namespace

int RunVatConfirm(const std::string& VatId, const TCheckSettings& Options, bool Json, bool Bus, FILE* Out, FILE* Err)
{
    confirm::Answer answer;
    try {
        answer = Bus ? ConfirmOnBus(VatId, Options) : RunConfirm(VatId, Options);
    } catch (const confirm::JournalError& error) {
        std::fprintf(Err, "orvelwddx-check: Bestätigung ohne Nachweis verworfen: %s\n", error.what());
        return kJournalFailed;
    } catch (const confirm::RequestRefused& error) {
        std::fprintf(Err, "orvelwddx-check: nicht gesendet: %s\n", PrintableLine(error.what()).c_str());
        return kRefused;
    }
    const auto fields = AnswerFields(answer);
    if (Json) {
        QJsonObject object;
        for (const auto& [key, value] : fields)
            object.insert(Q(key), Q(Printable(value)));
        QJsonObject matches;
        for (const auto& [field, code] : answer.Matches)
            matches.insert(Q(field), Q(Printable(code)));
        object.insert(u"Qualified"_s, answer.Qualified);
        object.insert(u"Matches"_s, matches);
        object.insert(u"Tries"_s, answer.Tries);
        object.insert(u"JournalId"_s, qint64(answer.JournalId));
        std::fprintf(Out, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    } else {
        for (const auto& [key, value] : fields)
            std::fprintf(Out, "%s: %s\n", key.c_str(), PrintableLine(value).c_str());
    }
    return answer.Verdict == confirm::Status::Valid ? 0 : answer.Verdict == confirm::Status::Invalid ? 1 : 3;
}

namespace {

QJsonObject GuardedRecordJson(const confirm::Record& R)
{
    QJsonObject object = RecordJson(R);
    for (auto field = object.begin(); field != object.end(); ++field)
        if (field.value().isString() && field.key() != u"raw_base64"_s)
            field.value() = Q(PrintableLine(field.value().toString().toStdString()));
    return object;
}

std::vector<std::string> RecordFields(const QJsonObject& Object)
{
    std::vector<std::string> fields;
    for (const char* column : kCsvColumns) {
        const QJsonValue value = Object.value(QLatin1String(column));
        fields.push_back(value.isDouble() ? std::to_string(value.toInteger())
                         : value.isBool() ? (value.toBool() ? "true" : "false")
                                          : value.toString().toStdString());
    }
    return fields;
}

} // namespace

std::vector<std::string> JournalCsvColumns()
{
    return {std::begin(kCsvColumns), std::end(kCsvColumns)};
}

std::vector<std::string> JournalCsvFields(const confirm::Record& Record)
{
    std::vector<std::string> fields = RecordFields(GuardedRecordJson(Record));
    for (std::string& field : fields)
        field = FormulaSafe(std::move(field));
    return fields;
}

int ExportJournal(const confirm::JournalFilter& Filter, TJournalFormat Format, FILE* Out, FILE* Err)
{
    const confirm::Journal journal(confirm::Journal::DefaultPath());
    if (!journal.Notice().empty())
        std::fprintf(Err, "orvelwddx-check: %s\n", journal.Notice().c_str());
    const std::vector<confirm::Record> records = journal.Read(Filter);
    // A record whose verdict its own raw answer contradicts was changed after it was written.
    bool disagreed = false;
    for (const confirm::Record& record : records)
        if (const std::string fault = confirm::RawDisagreement(record); !fault.empty()) {
            std::fprintf(Err, "orvelwddx-check: Eintrag %lld: %s\n", static_cast<long long>(record.Id),
                         PrintableLine(fault).c_str());
            disagreed = true;
        }
    if (Format == TJournalFormat::Json) {
        QJsonArray list;
        for (const confirm::Record& record : records)
            list.append(GuardedRecordJson(record));
        std::fprintf(Out, "%s\n", QJsonDocument(list).toJson(QJsonDocument::Compact).constData());
        return disagreed ? 1 : 0;
    }
    // For a German Excel: semicolons, a byte order mark.
    const bool excel = Format == TJournalFormat::ExcelCsv;
    if (excel)
        std::fputs("\xEF\xBB\xBF", Out);
    if (Format == TJournalFormat::Csv || excel)
        std::fputs(CsvLine(JournalCsvColumns(), excel ? ';' : ',').c_str(), Out);
    for (const confirm::Record& record : records) {
        if (Format == TJournalFormat::Csv || excel) {
            std::fputs(CsvLine(JournalCsvFields(record), excel ? ';' : ',').c_str(), Out);
            continue;
        }
        // Text: the fields a person reads, the raw answer left to the other formats.
        const std::vector<std::string> fields = RecordFields(GuardedRecordJson(record));
        for (size_t i = 0; i + 1 < fields.size(); ++i)
            std::fprintf(Out, "%s: %s\n", kCsvColumns[i], fields[i].c_str());
        if (const std::string fault = confirm::RawDisagreement(record); !fault.empty())
            std::fprintf(Out, "WARNUNG: %s\n", fault.c_str());
        std::fputs("\n", Out);
    }
    return disagreed ? 1 : 0;
}

int RetryPending(bool All, const TCheckSettings& Connection, const QDateTime& Now, FILE* Out)
{
    std::vector<confirm::Record> pending;
    std::vector<int> generations;
    {
        const confirm::Journal journal(confirm::Journal::DefaultPath());
        pending = journal.Pending();
        for (const confirm::Record& record : pending)
            generations.push_back(journal.Generation(record));
    }
    int status = 0;
    for (size_t i = 0; i < pending.size(); ++i) {
        const confirm::Record& record = pending[i];
        const std::string said = "Eintrag " + std::to_string(record.Id) + " (" + PrintableLine(record.ForeignId) + ")";
        const QDateTime next = NextTry(record, generations[i]);
        if (record.Service == "bzst" && InBzstMaintenance(Now)) {
            std::fprintf(Out, "%s: Wartungszeit des BZSt (23 bis 5 Uhr), später erneut\n", said.c_str());
            status = 3;
            continue;
        }
        if (!All && next > Now) {
            std::fprintf(Out, "%s: nächster Versuch %s\n", said.c_str(),
                         GermanTime(next.toLocalTime()
                                        .toOffsetFromUtc(next.toLocalTime().offsetFromUtc())
                                        .toString(Qt::ISODate)
                                        .toStdString())
                             .toStdString()
                             .c_str());
            status = 3;
            continue;
        }
        try {
            const confirm::Answer answer = RunConfirm(record.ForeignId, RetryOptions(record, Connection), record.Id);
            std::fprintf(Out, "%s: erneut angefragt, Eintrag %lld: %s\n", said.c_str(),
                         static_cast<long long>(answer.JournalId), std::string(StatusName(answer.Verdict)).c_str());
            if (answer.Verdict == confirm::Status::NotChecked)
                status = 3;
        } catch (const confirm::JournalError& error) {
            std::fprintf(Out, "%s: Bestätigung ohne Nachweis verworfen: %s\n", said.c_str(), error.what());
            return kJournalFailed;
        } catch (const confirm::RequestRefused& error) {
            // What was sent once and is refused now (an own id since found wrong) stays pending for a person.
            std::fprintf(Out, "%s: nicht gesendet: %s\n", said.c_str(), PrintableLine(error.what()).c_str());
            status = 3;
        }
    }
    if (pending.empty())
        std::fputs("Keine ausstehenden Bestätigungen.\n", Out);
    return status;
}

int VerifyJournal(FILE* Out)
{
    const confirm::Journal journal(confirm::Journal::DefaultPath());
    if (!journal.Notice().empty())
        std::fprintf(Out, "%s\n", journal.Notice().c_str());
    const confirm::ChainCheck check = CheckJournal(journal);
    if (!check.Ok) {
        std::fprintf(Out, "Journal %s verändert: %s\n", journal.Path().c_str(), PrintableLine(check.Reason).c_str());
        return 1;
    }
    std::fprintf(Out, "Journal unverändert: %zu Einträge, Kette vollständig.\n", journal.Read({}).size());
    return 0;
}

int WriteJournalWorkbook(const confirm::JournalFilter& Filter, const std::string& File, FILE* Err)
{
    const confirm::Journal journal(confirm::Journal::DefaultPath());
    const std::vector<confirm::Record> records = journal.Read(Filter);
    try {
        TXlsxWriter sheet(File);
        std::vector<TSheetCell> header;
        for (const char* column : kCsvColumns)
            header.push_back({column});
        sheet.Row(header);
        for (const confirm::Record& record : records) {
            std::vector<TSheetCell> cells;
            for (std::string& field : RecordFields(GuardedRecordJson(record)))
                cells.push_back({std::move(field)});
            const TMark mark = record.Status == "valid"     ? TMark::Passed
                               : record.Status == "invalid" ? TMark::Failed
                                                            : TMark::None;
            for (size_t i = 0; i < cells.size(); ++i)
                if (kCsvColumns[i] == std::string_view("status") || kCsvColumns[i] == std::string_view("message"))
                    cells[i].Mark = mark;
            sheet.Row(cells);
        }
        if (const std::string fault = sheet.Close(); !fault.empty())
            throw std::runtime_error(fault);
    } catch (const std::runtime_error& error) {
        std::fprintf(Err, "orvelwddx-check: %s\n", error.what());
        return kCannotWrite;
    }
    return 0;
}

int WriteProof(int64_t Id, const std::string& File, FILE* Err)
{
    const confirm::Journal journal(confirm::Journal::DefaultPath());
    const std::optional<confirm::Record> record = journal.Find(Id);
    if (!record) {
        std::fprintf(Err, "orvelwddx-check: Im Journal %s gibt es keinen Eintrag %lld\n", journal.Path().c_str(),
                     static_cast<long long>(Id));
        return 1;
    }
    if (const std::string fault = confirm::RawDisagreement(*record); !fault.empty())
        std::fprintf(Err, "orvelwddx-check: Eintrag %lld: %s\n", static_cast<long long>(Id),
                     PrintableLine(fault).c_str());
    try {
        WriteProofPdf(*record, Q(File), journal.Path());
    } catch (const std::runtime_error& error) {
        std::fprintf(Err, "orvelwddx-check: %s\n", error.what());
        return kCannotWrite;
    }
    return 0;
}

} // namespace orvel::cli
