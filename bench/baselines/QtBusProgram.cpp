// The smallest Qt Widgets + QtDBus program that serves a call: an application object, a hidden window, one object on
// the session bus and a well-known name; the yardstick of the automation server's idle memory and its activation.

#include <QApplication>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QWidget>

class TMinimal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "OrvelBench.Minimal")

public slots:
    QDBusObjectPath CreateInstance() { return QDBusObjectPath(QStringLiteral("/OrvelBench/Object/1")); }
    void Release() { QCoreApplication::quit(); }
};

// argv[1]: the well-known name to take.
int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QWidget window;
    TMinimal object;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/OrvelBench"), &object, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QString::fromLocal8Bit(argv[1])))
        return 1;
    const int code = QApplication::exec();
    bus.unregisterService(QString::fromLocal8Bit(argv[1]));
    return code;
}

#include "QtBusProgram.moc"
