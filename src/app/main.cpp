// orvelwddx: the automation server and its window in one program.

#include "platform/Config.h"
#include "platform/Error.h"
#include "server/OrvelWddx_TLB.h"
#include "server/Startup.h"
#include "ui/OrvelWddxFormMain.h"
#include "ui/SingleWindow.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] = QT_TRANSLATE_NOOP(
    "orvelwddx",
    "Usage: orvelwddx [switch]\n"
    "\n"
    "Without a switch the program opens its window; while it is open, a further start brings it to the front.\n"
    "\n"
    "  -RegServer     register the program for automation clients on the D-Bus session bus and the local\n"
    "                 checking service's systemd user units, then end\n"
    "  -UnregServer   remove that registration, then end\n"
    "  -Embedding, -Automation\n"
    "                 serve automation clients without a window (so the bus starts the program) and end\n"
    "                 after their last object is released\n"
    "  --help         print this help and end\n"
    "\n"
    "Switches begin with \"-\" or \"/\", in any letter case. The checks go to the host saved in the settings;\n"
    "ORVELWDDX_HOST names it for a new settings file and for the objects of automation clients.\n"
    "\n"
    "Exit status: 0 done, 1 the program could not start.\n");

bool AsksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char* help : {"--help", "-h", "-?", "/?"})
            if (std::strcmp(argv[i], help) == 0)
                return true;
    return false;
}

// German under a German locale, English otherwise; no display needed.
int PrintHelp(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("orvelwddx"), QStringLiteral("_"), QStringLiteral(":/i18n")))
        QCoreApplication::installTranslator(&translator);
    std::fputs(QCoreApplication::translate("orvelwddx", kHelp).toUtf8().constData(), stdout);
    return 0;
}

std::unique_ptr<QWidget> CreateWindows()
{
    auto single = std::make_unique<orvel::TSingleWindow>(QDBusConnection::sessionBus());
    if (orvel::ComServer().StartMode() == orvel::TStartMode::Standalone) {
        switch (single->Claim()) {
        case orvel::TSingleWindow::TClaim::Own:
            break;
        case orvel::TSingleWindow::TClaim::HandedOn:
            return nullptr;
        case orvel::TSingleWindow::TClaim::NoAnswer:
            throw orvel::Error("Das Fenster von OrvelWddx ist schon offen, antwortet aber nicht.");
        }
    }
    auto window = std::make_unique<orvel::TFormMain>();
    single->SetWindow(window.get());
    single.release()->setParent(window.get());
    return window;
}

} // namespace

int main(int argc, char** argv)
{
    if (AsksForHelp(argc, argv))
        return PrintHelp(argc, argv);
    // A peer that hangs up while TLS writes its close notice must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    return orvel::RunComServer(
        argc, argv,
        {orvel::OrvelWddxTypeLibrary(), orvel::RegisterClassFactories,
         orvel::ApplicationTitle(QString::fromStdString(orvel::config::WddxHost())).toStdString(), CreateWindows});
}
