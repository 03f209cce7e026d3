// orvelwddx: the automation server and its window in one program.

#include "platform/Config.h"
#include "server/OrvelWddx_TLB.h"
#include "server/Startup.h"
#include "ui/OrvelWddxFormMain.h"

#include <csignal>

int main(int argc, char** argv)
{
    // A peer that hangs up while TLS writes its close notice must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    return orvel::RunComServer(argc, argv,
                               {orvel::OrvelWddxTypeLibrary(), orvel::RegisterClassFactories,
                                orvel::ApplicationTitle(QString::fromStdString(orvel::config::WddxHost())).toStdString(),
                                [] { return std::unique_ptr<QWidget>(std::make_unique<orvel::TFormMain>()); }});
}
