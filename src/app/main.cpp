// orvelwddx: the automation server and its window in one program.

#include "platform/Config.h"
#include "server/OrvelWddx_TLB.h"
#include "server/Startup.h"

#include <QCloseEvent>
#include <QWidget>

#include <csignal>

namespace {

// Stands in for the main window until the real one exists: hidden in an automation start, and its close ends a
// standalone start.
class TPlaceholderMainWindow : public QWidget
{
protected:
    void closeEvent(QCloseEvent* Event) override
    {
        if (orvel::TerminateApplication())
            Event->accept();
        else
            Event->ignore();
    }
};

} // namespace

int main(int argc, char** argv)
{
    // A peer that hangs up while TLS writes its close notice must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    return orvel::RunComServer(argc, argv,
                               {orvel::OrvelWddxTypeLibrary(), orvel::RegisterClassFactories,
                                "COM-Interfaces für " + orvel::config::WddxHost(), [] {
                                    auto window = std::make_unique<TPlaceholderMainWindow>();
                                    window->setObjectName("FormMain");
                                    return std::unique_ptr<QWidget>(std::move(window));
                                }});
}
