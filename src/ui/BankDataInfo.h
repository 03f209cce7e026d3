#pragma once
// The bank directory's date in the window's information area, as the checking service reports it at /status.
// The window asks in the background: a service that is slow or away must not hold up the start.

#include <QColor>
#include <QFuture>
#include <QString>

#include <cstdint>
#include <string>

namespace orvel {

struct TStatusQuery
{
    std::string Host; // the objects' WDDX host, "host:port"
    int32_t SSLMode = 0;
    std::string ProxyHost; // empty: no proxy
    int32_t ProxyPort = 0;
    std::string ProxyUser;
    std::string ProxyPass;
};

// The body of GET /status on the service, reached as the check objects reach it (proxy, TLS with the same judgement
// of certificates); empty when it does not answer with 200 within a few seconds.
std::string FetchServiceStatus(const TStatusQuery& Query);
// FetchServiceStatus on a thread of Qt's pool; the application waits for it at its end.
QFuture<std::string> AskServiceStatus(const TStatusQuery& Query);

struct TBankDataInfo
{
    QString Text;
    QString ToolTip;
    bool Known = false;      // the service named the directory's date
    bool Stale = false;      // older than a year
    bool Superseded = false; // past its end: a newer edition is out (shown in orange)
    QString SclDate;         // "04.12.2026" when the service takes the BIC flags from the SCL directory
};

// Orange that stays readable on the window's light background.
inline const QColor kSupersededColour{0xB3, 0x50, 0x00};

// What the label shows for a /status body (empty: the service did not answer).
TBankDataInfo BankDataInfoOf(const std::string& StatusBody);

} // namespace orvel
