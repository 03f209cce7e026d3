#include "ui/BankDataInfo.h"

#include "transport/HttpClient.h"
#include "transport/Tls.h"
#include "wddx/Certs.h"
#include "wddx/Proxy.h"

#include <QDate>
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

TBankDataInfo BankDataInfoOf(const std::string& StatusBody)
{
    const QJsonObject directory =
        QJsonDocument::fromJson(QByteArray::fromStdString(StatusBody)).object().value(u"bankDirectory"_s).toObject();
    const QDate from = QDate::fromString(directory.value(u"validFrom"_s).toString(), Qt::ISODate);
    TBankDataInfo info;
    if (!from.isValid()) {
        info.Text = u"Bankdaten: Stand unbekannt"_s;
        info.ToolTip = u"Der Prüfdienst nennt den Stand seiner Bankdaten nicht (/status)."_s;
        return info;
    }
    info.Known = true;
    info.Stale = directory.value(u"ageDays"_s).toInt() > kStaleDays;
    info.Text = u"Bankdaten gültig ab "_s + from.toString(u"dd.MM.yyyy"_s);
    if (info.Stale)
        info.Text += u"\nälter als ein Jahr"_s;
    const bool builtIn = directory.value(u"kind"_s).toString() == u"built-in"_s;
    info.ToolTip = (builtIn ? u"Mitgelieferte Bankdaten: "_s + directory.value(u"sources"_s).toString()
                            : u"Bankleitzahlendatei der Deutschen Bundesbank"_s) +
                   u"\n"_s + QString::number(directory.value(u"bankCodes"_s).toInt()) + u" Bankleitzahlen, "_s +
                   QString::number(directory.value(u"bics"_s).toInt()) + u" BICs"_s;
    return info;
}

} // namespace orvel
