#include "server/Confirmation.h"

#include "platform/Codepage.h"
#include "platform/StrToInt.h"
#include "rules/VatRules.h"

#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <array>
#include <stdexcept>

namespace orvel {
namespace {

constexpr std::array<TCheckOption, 13> kConfirmOptions{{
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
}};

std::string Text(const Variant& Value)
{
    return ToUtf8(std::get<WideString>(Value));
}

// A confirmation names the one who asks: VIES gives its consultation number only then, the BZSt answers only a
// German requester. An id that cannot be right is refused here rather than journaled with the service's refusal.
void CheckOwnId(const confirm::Request& Request)
{
    const std::string own = confirm::NormalizeId(Request.OwnId);
    if (own.empty())
        throw confirm::RequestRefused("Die eigene USt-IdNr. fehlt: eine qualifizierte Bestätigung nennt immer die "
                                      "USt-IdNr. des Anfragenden.");
    const rules::VatCheck check = rules::CheckVatId(own);
    const char* fault = check.Verdict == rules::VatVerdict::NotMemberState ? "gehört zu keinem EU-Mitgliedstaat"
                        : check.Verdict == rules::VatVerdict::Malformed    ? "ist falsch aufgebaut"
                        : check.Verdict == rules::VatVerdict::Invalid      ? "hat eine falsche Prüfziffer"
                                                                           : nullptr;
    if (fault)
        throw confirm::RequestRefused("Die eigene USt-IdNr. " + own + " " + fault + ".");
    if (Request.Via == confirm::Service::Bzst && check.CountryCode != "DE")
        throw confirm::RequestRefused(
            "Das BZSt beantwortet nur Anfragen mit einer deutschen eigenen USt-IdNr., nicht " + own + ".");
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

confirm::Answer RunConfirm(const std::string& VatId, const TCheckSettings& Options)
{
    confirm::Request request;
    request.ForeignId = VatId;
    confirm::Settings settings;
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
              : name == "Proxy"       ? &settings.Proxy
              : name == "ProxyUser"   ? &settings.ProxyUser
                                      : &settings.ProxyPass) = Text(value);
    }
    const std::string foreign = confirm::NormalizeId(request.ForeignId);
    if (rules::IsOutsideVies(foreign)) {
        // No service can confirm it, now or later: answered at once, nothing sent, nothing to keep.
        confirm::Answer answer;
        answer.Via = request.Via;
        answer.Verdict = confirm::Status::Invalid;
        answer.Message = confirm::kNotMemberState;
        return answer;
    }
    CheckOwnId(request);
    confirm::Journal journal(confirm::Journal::DefaultPath());
    return confirm::Confirm(request, settings, journal);
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
    return fields;
}

void WriteProofPdf(const confirm::Record& Record, const QString& File)
{
    QPdfWriter writer(File);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Nachweis der USt-IdNr.-Bestätigung"));
    writer.setCreator(QStringLiteral("OrvelWddx"));
    QPainter painter;
    if (!painter.begin(&writer))
        throw std::runtime_error("Die Datei " + File.toStdString() + " lässt sich nicht schreiben");

    const auto q = [](const std::string& text) { return QString::fromStdString(text); };
    std::vector<std::pair<QString, QString>> rows{
        {QStringLiteral("Journal-Nr."), QString::number(Record.Id)},
        {QStringLiteral("Zeitpunkt (UTC)"), q(Record.TimeUtc)},
        {QStringLiteral("Zeitpunkt (Ortszeit)"), q(Record.TimeLocal)},
        {QStringLiteral("Dienst"), Record.Service == "bzst" ? QStringLiteral("BZSt eVatR") : QStringLiteral("VIES")},
        {QStringLiteral("Adresse des Dienstes"), q(Record.Endpoint)},
        {QStringLiteral("Eigene USt-IdNr."), q(Record.OwnId)},
        {QStringLiteral("Angefragte USt-IdNr."), q(Record.ForeignId)},
        {QStringLiteral("Firmenname"), q(Record.Name)},
        {QStringLiteral("Straße"), q(Record.Street)},
        {QStringLiteral("Postleitzahl"), q(Record.Zip)},
        {QStringLiteral("Ort"), q(Record.City)},
        {QStringLiteral("Ergebnis"), Record.Status == "valid"     ? QStringLiteral("gültig")
                                     : Record.Status == "invalid" ? QStringLiteral("ungültig")
                                                                  : QStringLiteral("nicht geprüft")},
        {QStringLiteral("Meldung"), q(Record.Message)},
        {QStringLiteral("Gültig ab / bis"), Record.ValidFrom.empty() && Record.ValidTo.empty()
                                                ? QStringLiteral("–")
                                                : q(Record.ValidFrom + " / " + Record.ValidTo)},
        {QStringLiteral("Abgleich"), q(Record.Matches)},
        {Record.Service == "bzst" ? QStringLiteral("Kennung des BZSt") : QStringLiteral("Konsultationsnummer"),
         q(Record.RequestId)},
        {QStringLiteral("Zeitpunkt laut Dienst"), q(Record.RequestTime)},
        {QStringLiteral("Versuche"), QString::number(Record.Tries)},
        {QStringLiteral("SHA-256 der Antwort"), q(Record.RawSha256)},
    };
    if (!Record.Fault.empty())
        rows.insert(rows.begin() + 13, {QStringLiteral("Letzte Störung"), q(Record.Fault)});
    const QRect page = painter.viewport();
    const int margin = 200; // 2/3 inch at 300 dpi
    QFont title(QStringLiteral("DejaVu Sans"), 16, QFont::Bold);
    QFont body(QStringLiteral("DejaVu Sans"), 10);
    painter.setFont(title);
    int y = margin;
    QRect used;
    painter.drawText(QRect(margin, y, page.width() - 2 * margin, 200), Qt::TextWordWrap,
                     QStringLiteral("Nachweis der Bestätigung einer USt-IdNr."), &used);
    y += used.height() + 80;
    painter.setFont(body);
    const int labelWidth = 750;
    for (const auto& [label, value] : rows) {
        QRect valueRect;
        painter.drawText(QRect(margin, y, labelWidth, 400), Qt::TextWordWrap, label + u':');
        painter.drawText(QRect(margin + labelWidth, y, page.width() - 2 * margin - labelWidth, 1000),
                         Qt::TextWrapAnywhere, value, &valueRect);
        y += std::max(valueRect.height(), 50) + 20;
    }
    y += 40;
    painter.drawText(QRect(margin, y, page.width() - 2 * margin, 600), Qt::TextWordWrap,
                     QStringLiteral("Die vollständige Antwort des Dienstes ist im Journal unter der Journal-Nr. "
                                    "gespeichert; ihr SHA-256-Wert steht oben."));
    if (!painter.end())
        throw std::runtime_error("Die Datei " + File.toStdString() + " lässt sich nicht schreiben");
}

} // namespace orvel
