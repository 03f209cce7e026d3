#include "ui/BankDataInfo.h"

#include "transport/HttpClient.h"
#include "transport/Tls.h"
#include "wddx/Certs.h"
#include "wddx/Proxy.h"

#include <QDate>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPromise>
#include <QThreadPool>

#include <openssl/crypto.h>

#include <memory>

namespace orvel {

using namespace Qt::StringLiterals;

namespace {

constexpr int32_t kStatusTimeoutMs = 3000;
constexpr int kStaleDays = 365;

} // namespace

std::string FetchServiceStatus(const TStatusQuery& Query)
{
    try {
        HttpClient client;
        client.SetReadTimeout(kStatusTimeoutMs);
        SetHttpProxy(client, Query.ProxyHost, Query.ProxyPort, Query.ProxyUser, Query.ProxyPass);
        TCerts certificates;
        TlsHandler tls;
        if (Query.SSLMode != 0) {
            tls.SetRootStore(Query.SSLMode == 2 ? nullptr : &certificates.RootStore());
            tls.SetValidateEvent([&](X509* certificate) {
                return Query.SSLMode == 2 || certificates.ValidateCertificate(certificate, tls);
            });
            certificates.SetServerName(Query.Host);
            client.SetTlsHandler(&tls);
        }
        std::string body = client.Get((Query.SSLMode != 0 ? "https://" : "http://") + Query.Host + "/status");
        if (Query.SSLMode == 1) {
            int32_t result = 0;
            std::string refusal;
            certificates.CheckServerName(result, refusal);
            if (result != 0)
                return {};
        }
        return body;
    } catch (const std::exception&) {
        return {};
    }
}

QFuture<std::string> AskServiceStatus(const TStatusQuery& Query)
{
    auto promise = std::make_shared<QPromise<std::string>>();
    QThreadPool::globalInstance()->start([promise, Query] {
        promise->start();
        promise->addResult(FetchServiceStatus(Query));
        // The pool's threads may still be parked when the program ends, which never frees what OpenSSL keeps per
        // thread (error queue, random generators); it is given back after every question instead.
        OPENSSL_thread_stop();
        promise->finish();
    });
    return promise->future();
}

namespace {

QString GermanDate(const QJsonValue& Iso)
{
    const QDate date = QDate::fromString(Iso.toString(), Qt::ISODate);
    return date.isValid() ? date.toString(u"dd.MM.yyyy"_s) : QString();
}

// "gültig ab 07.12.2026 bis 07.03.2027, geladen am 11.12.2026 06:00" as far as the service knows it.
QString EditionText(const QJsonObject& Edition)
{
    QString text = u"gültig ab "_s + GermanDate(Edition.value(u"validFrom"_s));
    if (const QString until = GermanDate(Edition.value(u"validUntil"_s)); !until.isEmpty())
        text += u" bis "_s + until;
    const QDateTime fetched = QDateTime::fromString(Edition.value(u"fetchedAt"_s).toString(), Qt::ISODateWithMs);
    if (fetched.isValid())
        text += u", geladen am "_s + fetched.toString(u"dd.MM.yyyy HH:mm"_s);
    return text;
}

} // namespace

TBankDataInfo BankDataInfoOf(const std::string& StatusBody)
{
    const QJsonObject status = QJsonDocument::fromJson(QByteArray::fromStdString(StatusBody)).object();
    const QJsonObject directory = status.value(u"bankDirectory"_s).toObject();
    const QDate from = QDate::fromString(directory.value(u"validFrom"_s).toString(), Qt::ISODate);
    TBankDataInfo info;
    if (!from.isValid()) {
        info.Text = u"Bankdaten: Stand unbekannt"_s;
        info.ToolTip = u"Der Prüfdienst nennt den Stand seiner Bankdaten nicht (/status)."_s;
        return info;
    }
    info.Known = true;
    info.Stale = directory.value(u"ageDays"_s).toInt() > kStaleDays;
    info.Text = u"Bankdaten "_s + EditionText(directory);
    const QJsonObject scl = status.value(u"sclDirectory"_s).toObject();
    const QJsonObject oenb = status.value(u"oenbDirectory"_s).toObject();
    if (!scl.isEmpty()) {
        info.SclDate = GermanDate(scl.value(u"validFrom"_s));
        info.Text += u"\nSCL-Verzeichnis "_s + EditionText(scl);
    }
    if (!oenb.isEmpty())
        info.Text += u"\nOeNB-Verzeichnis "_s + EditionText(oenb);
    const bool newer = directory.value(u"superseded"_s).toBool() || scl.value(u"superseded"_s).toBool() ||
                       oenb.value(u"superseded"_s).toBool();
    info.Superseded = newer && !info.Stale;
    if (info.Stale)
        info.Text += u"\nälter als ein Jahr"_s;
    else if (info.Superseded)
        info.Text += u"\nneuere Ausgabe verfügbar – Bankdaten aktualisieren"_s;
    const bool builtIn = directory.value(u"kind"_s).toString() == u"built-in"_s;
    info.ToolTip = (builtIn ? u"Mitgelieferte Bankdaten: "_s + directory.value(u"sources"_s).toString()
                            : u"Bankleitzahlendatei der Deutschen Bundesbank"_s) +
                   u"\n"_s + QString::number(directory.value(u"bankCodes"_s).toInt()) + u" Bankleitzahlen, "_s +
                   QString::number(directory.value(u"bics"_s).toInt()) + u" BICs"_s;
    // Only a service that reports its directories says what it lacks.
    if (status.contains(u"sclDirectory"_s))
        info.ToolTip += scl.isEmpty()
                            ? u"\nSCL-Verzeichnis nicht installiert: SCT, SDD und B2B aus dem Bankverzeichnis"_s
                            : u"\nSCL-Verzeichnis der Bundesbank: "_s + QString::number(scl.value(u"bics"_s).toInt()) +
                                  u" BICs; Erreichbarkeit als Information, ohne Gewähr"_s;
    if (status.contains(u"oenbDirectory"_s))
        info.ToolTip += oenb.isEmpty() ? u"\nOeNB-Verzeichnis nicht installiert: österreichische BICs aus der "
                                         u"mitgelieferten Tabelle"_s
                                       : u"\nSEPA-Verzeichnis der OeNB: "_s +
                                             QString::number(oenb.value(u"bankCodes"_s).toInt()) + u" Bankleitzahlen"_s;
    return info;
}

} // namespace orvel
