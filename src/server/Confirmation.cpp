#include "server/Confirmation.h"

#include "platform/Codepage.h"
#include "platform/Config.h"
#include "platform/StrToInt.h"

#include <QDateTime>
#include <QFile>
#include <QFont>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextOption>
#include <QTimeZone>

#include <array>
#include <cstdlib>
#include <map>
#include <stdexcept>

namespace orvel {

using namespace Qt::StringLiterals;

namespace {

constexpr std::array<TCheckOption, 14> kConfirmOptions{{
    {"OwnVatId", VarType::Text},
    {"Name", VarType::Text},
    {"CompanyType", VarType::Text},
    {"Street", VarType::Text},
    {"Zip", VarType::Text},
    {"City", VarType::Text},
    {"Service", VarType::Text},
    {"Timeout", VarType::Int32},
    {"Proxy", VarType::Text},
    {"ProxyUser", VarType::Text},
    {"ProxyPass", VarType::Text},
    {"Tries", VarType::Int32},
    {"RetryWithin", VarType::Int32},
    {"Reference", VarType::Text},
}};

std::string Text(const Variant& Value)
{
    return ToUtf8(std::get<WideString>(Value));
}

} // namespace

std::span<const TCheckOption> ConfirmOptions()
{
    return kConfirmOptions;
}

std::string ConfirmOptionsFault(const TCheckSettings& Options)
{
    for (const auto& [name, value] : Options) {
        const TCheckOption* option = nullptr;
        for (const TCheckOption& known : kConfirmOptions)
            if (known.Name == name)
                option = &known;
        if (!option)
            return "Unbekannte Option " + name + " für Confirm";
        if (value.Type() != option->Type)
            return "Die Option " + name + " erwartet den Typ \"" + (option->Type == VarType::Int32 ? "i" : "s") + "\"";
        if (name == "Service" && Text(value) != "vies" && Text(value) != "bzst")
            return "Die Option Service erwartet \"vies\" oder \"bzst\", nicht \"" + Text(value) + "\"";
        if (name == "Tries" && (std::get<int32_t>(value) < 1 || std::get<int32_t>(value) > 10))
            return "Die Option Tries erwartet 1 bis 10";
        if (name == "RetryWithin" && (std::get<int32_t>(value) < 0 || std::get<int32_t>(value) > 600000))
            return "Die Option RetryWithin erwartet 0 bis 600000 Millisekunden";
        if (name == "Proxy" && !Text(value).empty()) {
            const std::string proxy = Text(value);
            const size_t colon = proxy.rfind(':');
            const std::optional<int32_t> port =
                colon == std::string::npos ? std::nullopt : TryStrToInt(proxy.substr(colon + 1));
            if (colon == 0 || !port || *port < 1 || *port > 65535)
                return "Die Option Proxy erwartet \"Host:Port\", nicht \"" + proxy + "\"";
        }
    }
    return {};
}

TConfirmCall PrepareConfirm(const std::string& VatId, const TCheckSettings& Options, int64_t RetryOf)
{
    TConfirmCall call;
    confirm::Request& request = call.Request;
    request.ForeignId = VatId;
    request.RetryOf = RetryOf;
    confirm::Settings& settings = call.Settings;
    for (const auto& [name, value] : Options) {
        if (name == "Timeout")
            settings.Timeout = std::get<int32_t>(value);
        else if (name == "Tries")
            settings.Retry.Tries = std::get<int32_t>(value);
        else if (name == "RetryWithin")
            settings.Retry.Within = std::chrono::milliseconds(std::get<int32_t>(value));
        else if (name == "Service")
            request.Via = Text(value) == "bzst" ? confirm::Service::Bzst : confirm::Service::Vies;
        else
            *(name == "OwnVatId"      ? &request.OwnId
              : name == "Name"        ? &request.Name
              : name == "CompanyType" ? &request.CompanyType
              : name == "Street"      ? &request.Street
              : name == "Zip"         ? &request.Zip
              : name == "City"        ? &request.City
              : name == "Reference"   ? &request.Reference
              : name == "Proxy"       ? &settings.Proxy
              : name == "ProxyUser"   ? &settings.ProxyUser
                                      : &settings.ProxyPass) = Text(value);
    }
    call.Answered = confirm::OutsideVies(request);
    if (!call.Answered)
        confirm::CheckOwnId(request);
    return call;
}

confirm::Answer RunConfirm(const std::string& VatId, const TCheckSettings& Options, int64_t RetryOf)
{
    const TConfirmCall call = PrepareConfirm(VatId, Options, RetryOf);
    if (call.Answered)
        return *call.Answered;
    confirm::Journal journal(confirm::Journal::DefaultPath());
    return confirm::Confirm(call.Request, call.Settings, journal);
}

std::vector<std::pair<std::string, std::string>> AnswerFields(const confirm::Answer& Answer)
{
    std::vector<std::pair<std::string, std::string>> fields{
        {"Status", std::string(confirm::StatusName(Answer.Verdict))},
        {"Qualified", Answer.Qualified ? "true" : "false"},
        {"Message", Answer.Message},
        {"Service", std::string(confirm::ServiceName(Answer.Via))},
        {"RequestId", Answer.RequestId},
        {"RequestTime", Answer.RequestTime},
    };
    if (!Answer.ValidFrom.empty())
        fields.emplace_back("ValidFrom", Answer.ValidFrom);
    if (!Answer.ValidTo.empty())
        fields.emplace_back("ValidTo", Answer.ValidTo);
    std::string matches;
    for (const auto& [field, code] : Answer.Matches)
        matches += (matches.empty() ? "" : ";") + field + "=" + code;
    fields.emplace_back("Matches", matches);
    fields.emplace_back("Tries", std::to_string(Answer.Tries));
    fields.emplace_back("JournalId", std::to_string(Answer.JournalId));
    if (!Answer.Fault.empty())
        fields.emplace_back("Fault", Answer.Fault);
    if (!Answer.JournalNotice.empty())
        fields.emplace_back("Notice", Answer.JournalNotice);
    return fields;
}

QString MatchText(confirm::Service Via, const std::string& Code)
{
    if (Via == confirm::Service::Vies) {
        if (Code == "1")
            return u"stimmt überein"_s;
        if (Code == "2")
            return u"stimmt nicht überein"_s;
        if (Code == "3")
            return u"nicht geprüft"_s;
    } else {
        if (Code == "A")
            return u"stimmt überein"_s;
        if (Code == "B")
            return u"stimmt nicht überein"_s;
        if (Code == "C")
            return u"nicht angefragt"_s;
        if (Code == "D")
            return u"vom Mitgliedstaat nicht mitgeteilt"_s;
    }
    return Code.empty() ? QString() : u"Code "_s + QString::fromStdString(Code);
}

QString GermanTime(const std::string& Iso)
{
    const QString text = QString::fromStdString(Iso);
    const auto zone = [](int seconds) {
        const int minutes = std::abs(seconds) / 60;
        return u"UTC"_s + (seconds < 0 ? u'-' : u'+') +
               u"%1:%2"_s.arg(minutes / 60, 2, 10, QChar(u'0')).arg(minutes % 60, 2, 10, QChar(u'0'));
    };
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (moment.isValid())
        return moment.toString(u"dd.MM.yyyy, HH:mm:ss 'Uhr' ('"_s) + zone(moment.offsetFromUtc()) + u')';
    // VIES gives a date with its offset alone: "2026-12-10+01:00".
    const QDate day = QDate::fromString(text.left(10), Qt::ISODate);
    const QDateTime offset = QDateTime::fromString(u"2000-01-01T00:00:00"_s + text.mid(10), Qt::ISODate);
    if (day.isValid() && text.size() > 10 && offset.isValid())
        return day.toString(u"dd.MM.yyyy"_s) + u" ("_s + zone(offset.offsetFromUtc()) + u')';
    return text;
}

namespace {

// Text for the page: control and bidirectional characters neutralised, so that nothing reorders or hides what is
// shown; with OneLine, line breaks as blanks.
QString Shown(const std::string& Utf8, bool OneLine = true)
{
    QString out;
    for (const QChar c : QString::fromStdString(Utf8)) {
        if (c == u'\n' || c == u'\r' || c == u'\t')
            out += OneLine || c == u'\r' ? u' ' : c;
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            out += QChar(0xFFFD);
        else
            out += c;
    }
    return out.toHtmlEscaped();
}

// Fields beyond this length are shortened in the tables; the raw answer at the end keeps everything.
constexpr qsizetype kLongestField = 300;

QString Field(const std::string& Utf8)
{
    const QString text = QString::fromStdString(Utf8);
    if (text.size() <= kLongestField)
        return Shown(Utf8);
    return Shown(text.left(kLongestField).toStdString()) +
           u"… <i>(gekürzt, %1 Zeichen; vollständig im Journal)</i>"_s.arg(text.size());
}

QString Row(const QString& Label, const QString& Value)
{
    return u"<tr><td width=\"32%\"><b>"_s + Label + u"</b></td><td>"_s + Value + u"</td></tr>"_s;
}

QString Title(const confirm::Record& Record)
{
    const QString kind = Record.Kind == "check" ? u"Einfache Prüfung: "_s : u"Qualifizierte Bestätigung: "_s;
    if (Record.Status == "valid")
        return Record.Qualified ? kind + u"gültig"_s : u"Bestätigung: gültig, nicht qualifiziert"_s;
    if (Record.Status == "invalid")
        return kind + u"ungültig"_s;
    return u"Anfrage nicht beantwortet"_s;
}

} // namespace

void WriteProofPdf(const confirm::Record& Record, const QString& File, const std::string& JournalPath)
{
    const confirm::Service via = Record.Service == "bzst" ? confirm::Service::Bzst : confirm::Service::Vies;
    const bool official =
        Record.Endpoint == (via == confirm::Service::Bzst ? config::kOfficialBzstUrl : config::kOfficialViesUrl);
    const bool sent = Record.Tries > 0 || !Record.Raw.empty();
    std::map<std::string, std::string> matches;
    for (const QString& pair : QString::fromStdString(Record.Matches).split(u';', Qt::SkipEmptyParts))
        matches[pair.section(u'=', 0, 0).toStdString()] = pair.section(u'=', 1).toStdString();
    const auto asked = [&](const char* field, const std::string& value) {
        const auto match = matches.find(field);
        return Field(value) +
               (match == matches.end() ? QString() : u" — <i>"_s + MatchText(via, match->second) + u"</i>"_s);
    };

    QString html = u"<html><body>"_s;
    if (!official)
        html += u"<table width=\"100%\" cellpadding=\"6\" bgcolor=\"#b00000\"><tr><td><font color=\"white\"><b>"
                "TESTDIENST – keine amtliche Bestätigung</b> (Adresse des Dienstes: "_s +
                Field(Record.Endpoint) + u")</font></td></tr></table>"_s;
    html += u"<h2>"_s + Title(Record) + u"</h2>"_s;
    // The result first: whatever the length of what follows, it is on the first page.
    html += u"<table width=\"100%\" cellspacing=\"0\" cellpadding=\"2\">"_s;
    html += Row(u"Ergebnis"_s, Record.Status == "valid"     ? u"gültig"_s
                               : Record.Status == "invalid" ? u"ungültig"_s
                                                            : u"nicht geprüft"_s);
    html += Row(u"Qualifiziert"_s, Record.Qualified ? u"ja"_s : u"nein"_s);
    html += Row(u"Meldung"_s, Field(Record.Message));
    if (const std::string disagreement = confirm::RawDisagreement(Record); !disagreement.empty())
        html += Row(u"Warnung"_s, u"<font color=\"#b00000\">"_s + Field(disagreement) + u"</font>"_s);
    html += Row(u"Angefragte USt-IdNr."_s, Field(Record.ForeignId));
    html += Row(u"Zeitpunkt der Anfrage"_s, GermanTime(Record.TimeLocal));
    html += Row(u"Zeitpunkt laut Dienst"_s, Record.RequestTime.empty() ? u"–"_s : GermanTime(Record.RequestTime));
    html += Row(u"Dienst"_s, via == confirm::Service::Bzst ? u"BZSt eVatR"_s : u"VIES (EU-Kommission)"_s);
    html += Row(via == confirm::Service::Bzst ? u"Kennung des BZSt"_s : u"Konsultationsnummer"_s,
                Record.RequestId.empty() ? u"–"_s : Field(Record.RequestId));
    if (!Record.ValidFrom.empty() || !Record.ValidTo.empty())
        html += Row(u"Gültig ab / bis"_s, Field(Record.ValidFrom + " / " + Record.ValidTo));
    if (!Record.Fault.empty())
        html += Row(u"Letzte Störung"_s, Field(Record.Fault));
    html += u"</table>"_s;

    html += u"<h3>Anfrage</h3><table width=\"100%\" cellspacing=\"0\" cellpadding=\"2\">"_s;
    html += Row(u"Anfragende USt-IdNr."_s, Field(Record.OwnId));
    html += Row(u"Firmenname"_s, asked("Name", Record.Name));
    if (via == confirm::Service::Vies)
        html += Row(u"Rechtsform"_s, asked("CompanyType", Record.CompanyType));
    html += Row(u"Straße"_s, asked("Street", Record.Street));
    html += Row(u"Postleitzahl"_s, asked("Zip", Record.Zip));
    html += Row(u"Ort"_s, asked("City", Record.City));
    if (!Record.Reference.empty())
        html += Row(u"Referenz"_s, Field(Record.Reference));
    html += u"</table>"_s;

    html += u"<h3>Vom Dienst mitgeteilte Angaben</h3><table width=\"100%\" cellspacing=\"0\" cellpadding=\"2\">"_s;
    const confirm::Answer read = confirm::ReadStoredAnswer(Record);
    static const std::map<std::string, QString> kTraderLabels{
        {"Name", u"Name"_s},     {"CompanyType", u"Rechtsform"_s}, {"Address", u"Anschrift"_s},
        {"Street", u"Straße"_s}, {"Zip", u"Postleitzahl"_s},       {"City", u"Ort"_s}};
    for (const auto& [field, value] : read.Trader)
        html += Row(kTraderLabels.at(field), Field(value));
    if (read.Trader.empty())
        html += Row(u"–"_s, u"keine"_s);
    html += u"</table>"_s;

    html += u"<h3>Nachweis</h3><table width=\"100%\" cellspacing=\"0\" cellpadding=\"2\">"_s;
    html += Row(u"Journal"_s, Field(JournalPath));
    html += Row(u"Journal-Nr."_s, QString::number(Record.Id));
    html += Row(u"Eingetragen (UTC)"_s, GermanTime(Record.TimeUtc));
    html += Row(u"Versuche"_s, QString::number(Record.Tries));
    html += Row(u"SHA-256 der Antwort"_s,
                sent ? u"<tt>"_s + Field(Record.RawSha256) + u"</tt>"_s : u"keine Anfrage gesendet"_s);
    html += Row(u"Kettenwert"_s, u"<tt>"_s + Field(Record.Chain) + u"</tt>"_s);
    html += Row(u"PDF erstellt"_s, GermanTime(QDateTime::currentDateTime()
                                                  .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                                                  .toString(Qt::ISODate)
                                                  .toStdString()));
    html += u"</table>"_s;

    html += u"<h3>Antwort des Dienstes</h3>"_s;
    html += Record.Raw.empty() ? (sent ? u"<p>keine Antwort erhalten</p>"_s : u"<p>keine Anfrage gesendet</p>"_s)
                               : u"<pre style=\"white-space: pre-wrap\">"_s + Shown(Record.Raw, false) + u"</pre>"_s;
    html += u"</body></html>"_s;

    QFile file(File);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("Die Datei " + File.toStdString() + " lässt sich nicht schreiben");
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(Title(Record));
    writer.setCreator(u"OrvelWddx"_s);
    QTextDocument document;
    // Without ligatures, so that text copied from the page (a hash, an id) is the text.
    QFont font(u"DejaVu Sans"_s, 9);
    font.setStyleStrategy(QFont::PreferNoShaping);
    document.setDefaultFont(font);
    // Between words, and inside a word only where it is longer than the line (the raw XML or JSON).
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    document.setDefaultStyleSheet(u"pre { font-family: 'DejaVu Sans Mono'; font-size: 7pt; } "
                                  "tt { font-family: 'DejaVu Sans Mono'; }"_s);
    document.setHtml(html);
    document.print(&writer);
    file.close();
    if (file.error() != QFileDevice::NoError || file.size() == 0)
        throw std::runtime_error("Die Datei " + File.toStdString() + " lässt sich nicht schreiben");
}

QDateTime NextTry(const confirm::Record& Pending, int Generation)
{
    const QDateTime left = QDateTime::fromString(QString::fromStdString(Pending.TimeUtc), Qt::ISODate);
    return left.addSecs(std::min<qint64>(qint64(3600) << std::min(Generation, 5), 86400));
}

bool InBzstMaintenance(const QDateTime& At)
{
    const int hour = At.toTimeZone(QTimeZone(QByteArrayLiteral("Europe/Berlin"))).time().hour();
    return hour >= 23 || hour < 5;
}

confirm::ChainCheck CheckJournal(const confirm::Journal& Journal)
{
    confirm::ChainCheck check = Journal.VerifyChain();
    if (!check.Ok)
        return check;
    for (const confirm::Record& record : Journal.Read({}))
        if (std::string fault = confirm::RawDisagreement(record); !fault.empty())
            return {false, record.Id, "Eintrag " + std::to_string(record.Id) + ": " + fault};
    return check;
}

TCheckSettings RetryOptions(const confirm::Record& Pending, const TCheckSettings& Connection)
{
    TCheckSettings options = Connection;
    for (const auto& [name, value] : {std::pair{"OwnVatId", &Pending.OwnId},
                                      {"Service", &Pending.Service},
                                      {"Name", &Pending.Name},
                                      {"CompanyType", &Pending.CompanyType},
                                      {"Street", &Pending.Street},
                                      {"Zip", &Pending.Zip},
                                      {"City", &Pending.City},
                                      {"Reference", &Pending.Reference}})
        if (!value->empty())
            options.emplace_back(name, FromUtf8(*value));
    return options;
}

} // namespace orvel
