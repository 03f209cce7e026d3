#include "server/Startup.h"

#include "server/DBusExport.h"
#include "server/Registration.h"

#include <QApplication>
#include <QDBusError>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <iostream>

namespace orvel {
namespace {

// Bus activation starts the server on any first call, not only on a creation; a start that never gets an object
// ends after this long instead of lingering.
constexpr int kUnusedAutomationStartMs = 10000;
// Clients reach the class objects through the unique name they looked up; one that creates its next object right
// after releasing the last one still finds the process.
constexpr int kLastReleaseGraceMs = 500;

const char kWarningCaption[] = "Warnung des COM-Servers";
const char kWarningText[] =
    "Diese Anwendung enthält noch aktive COM-Objekte.Mindestens ein Client verweist noch auf diese Objekte,so daß "
    "manuelles Schließen "
    "dieser Anwendung dazu führen könnte, daß die Client-Anwendungennicht korrekt funktionieren."
    "\r\n\r\n"
    "Sind Sie sicher, daß Sie diese Anwendung schließen möchten?";

int Fail(const std::string& Message, TStartMode Mode)
{
    std::cerr << Message << std::endl;
    if (Mode == TStartMode::Standalone && qApp)
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(Message));
    return 1;
}

int Fail(const std::exception& Error, TStartMode Mode)
{
    return Fail(ToUtf8(Widen(Error.what())), Mode);
}

bool HasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int RunComServer(int argc, char** argv, const TServerProgram& Program)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const TStartMode mode = StartModeFromCommandLine(args);
    // Only a standalone start shows anything. The others never connect to the desktop's display, whose platform
    // plugin, input method and accessibility bridge would cost a client's first answer more than the rest of the start.
    if (mode != TStartMode::Standalone)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (!HasDisplay())
        return Fail("Für das Fenster fehlt eine Anzeige (DISPLAY oder WAYLAND_DISPLAY)", mode);
    // Every call wakes the main thread from the bus's own thread; Qt's plain event loop does so in fewer steps than
    // GLib's, which only the dialogs of a shown window (the desktop's file dialog) need.
    if (mode == TStartMode::Automation && !qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");

    // 1. One class object per class.
    TComServer server(Program.Library);
    try {
        Program.RegisterFactories(server);
    } catch (const std::exception& error) {
        return Fail(error, mode);
    }

    // 2. The event loop of the main thread is the single-threaded apartment.
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    // 3. The start mode.
    server.SetStartMode(mode);

    // 4. and 5. Registration, at every start.
    try {
        if (mode == TStartMode::Unregister)
            UnregisterServer(server);
        else
            RegisterServer(server, QCoreApplication::applicationFilePath().toStdString());
    } catch (const RegistryEntryError& error) {
        if (mode == TStartMode::Register)
            return Fail(error, mode);
    } catch (const std::exception& error) {
        return Fail(error, mode);
    }
    if (mode == TStartMode::Register)
        ActivateServiceUnits();
    if (mode == TStartMode::Register || mode == TStartMode::Unregister)
        return 0;

    // 6. The class objects on the bus, all names at once.
    std::unique_ptr<TDBusExport> bus;
    QDBusConnection connection = QDBusConnection::sessionBus();
    if (connection.isConnected()) {
        try {
            bus = std::make_unique<TDBusExport>(server, connection);
            if (bus->Start().isEmpty() && mode == TStartMode::Automation)
                return Fail("Die Klassen werden bereits von einem anderen Prozess angeboten", mode);
        } catch (const std::exception& error) {
            return Fail(error, mode);
        }
        // Without the bus no client can reach or release anything again.
        if (mode == TStartMode::Automation)
            connection.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                               QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &app,
                               SLOT(quit()));
    } else if (mode == TStartMode::Automation) {
        return Fail("Keine Verbindung zum Sitzungsbus: " + connection.lastError().message().toStdString(), mode);
    }

    // An automation start ends with its last object. The names go back first; a creation the bus routed here before
    // that is still served, and then the process stays and takes its names again.
    auto endIfUnused = [&] {
        if (server.ObjectCount() != 0)
            return;
        if (bus) {
            bus->ReleaseNames();
            if (server.ObjectCount() != 0) {
                bus->RequestNames();
                return;
            }
        }
        QCoreApplication::quit();
    };
    QTimer endTimer;
    endTimer.setSingleShot(true);
    QObject::connect(&endTimer, &QTimer::timeout, &app, endIfUnused);
    server.SetOnLastRelease([&] { endTimer.start(kLastReleaseGraceMs); });
    if (mode == TStartMode::Automation)
        endTimer.start(kUnusedAutomationStartMs);

    // 7. to 9.
    QGuiApplication::setApplicationDisplayName(QString::fromStdString(Program.Title));
    std::unique_ptr<QWidget> mainWindow;
    try {
        mainWindow = Program.CreateWindows();
    } catch (const std::exception& error) {
        return Fail(error, mode);
    }
    // None: the program's window was open already and came to the front instead.
    if (!mainWindow)
        return 0;
    if (mode == TStartMode::Standalone)
        mainWindow->show();

    // 10.
    const int code = QApplication::exec();
    server.SetOnLastRelease(nullptr);
    mainWindow.reset();
    bus.reset();
    return code;
}

bool TerminateApplication()
{
    const TComServer& server = ComServer();
    if (server.StartMode() == TStartMode::Standalone && server.ObjectCount() > 0) {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kWarningCaption), QString::fromUtf8(kWarningText),
                        QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setWindowModality(Qt::ApplicationModal);
        if (box.exec() != QMessageBox::Yes)
            return false;
    }
    QCoreApplication::quit();
    return true;
}

} // namespace orvel
