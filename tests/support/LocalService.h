#pragma once
// The real orvelwddx-service for the window's tests: started on a free loopback port, stopped with this object.

#include <QProcess>
#include <QRegularExpression>
#include <QString>

namespace orvel::test {

class LocalService
{
public:
    LocalService()
    {
        Process.setReadChannel(QProcess::StandardError);
        Process.start(QStringLiteral(ORVEL_SERVICE_BINARY),
                      {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        static const QRegularExpression serving(QStringLiteral(R"(serving http 127\.0\.0\.1:0 \(port (\d+)\))"));
        QRegularExpressionMatch port;
        while (!port.hasMatch() && Process.waitForReadyRead(10000)) {
            StartLog += QString::fromUtf8(Process.readAllStandardError());
            port = serving.match(StartLog);
        }
        Port = port.captured(1);
    }
    ~LocalService()
    {
        Process.terminate();
        Process.waitForFinished();
    }
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    // "127.0.0.1:PORT"; empty when the service did not say within 10 s where it listens (StartLog says why).
    QString Host() const { return Port.isEmpty() ? QString() : QStringLiteral("127.0.0.1:") + Port; }
    QString StartLog;

private:
    QProcess Process;
    QString Port;
};

} // namespace orvel::test
