#include "ui/SingleWindow.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace orvel {

namespace {

// A window that does not answer within this time is busy with a check or hangs.
constexpr int kActivateTimeoutMs = 5000;

} // namespace

TSingleWindow::TSingleWindow(const QDBusConnection& Bus, QObject* Parent) : QObject(Parent), FBus(Bus) {}

TSingleWindow::TClaim TSingleWindow::Claim()
{
    if (!FBus.isConnected() || !FBus.interface())
        return TClaim::Own;
    // The object is there before the name, so a start racing this one finds it when it finds the name.
    FBus.registerObject(QString::fromLatin1(kPath), this, QDBusConnection::ExportScriptableSlots);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        FBus.interface()->registerService(QString::fromLatin1(kService), QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return TClaim::Own;
    FBus.unregisterObject(QString::fromLatin1(kPath));
    const QDBusMessage answer =
        FBus.call(QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                 QStringLiteral("OrvelWddx.Window"), QStringLiteral("Activate")),
                  QDBus::Block, kActivateTimeoutMs);
    return answer.type() == QDBusMessage::ReplyMessage ? TClaim::HandedOn : TClaim::NoAnswer;
}

void TSingleWindow::Activate()
{
    if (!FWindow)
        return;
    FWindow->show();
    FWindow->setWindowState(FWindow->windowState() & ~Qt::WindowMinimized);
    FWindow->raise();
    FWindow->activateWindow();
}

} // namespace orvel
