// orvelwddx-service: the local checking service.

#include "service/Service.h"
#include "service/Users.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

using namespace orvel::service;

int main(int argc, char** argv)
{
    ServiceConfig config;
    try {
        config = ServiceConfig::FromArguments(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvelwddx-service: %s\n%s", error.what(), kServiceUsage);
        return 2;
    }
    if (config.Help) {
        std::fputs(kServiceUsage, stdout);
        return 0;
    }
    if (config.HashPassword) {
        // Typed at a terminal, the password is not echoed.
        termios terminal{};
        const bool typed = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &terminal) == 0;
        if (typed) {
            std::fputs("Passwort: ", stderr);
            termios silent = terminal;
            silent.c_lflag &= ~tcflag_t(ECHO);
            tcsetattr(STDIN_FILENO, TCSANOW, &silent);
        }
        std::string password;
        std::getline(std::cin, password);
        if (typed) {
            tcsetattr(STDIN_FILENO, TCSANOW, &terminal);
            std::fputs("\n", stderr);
        }
        std::puts(Users::HashPassword(password).c_str());
        return 0;
    }

    // The server's threads inherit the mask, so the signals reach only sigwait below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        std::fprintf(stderr, "orvelwddx-service: %s\n", config.Describe().c_str());
        const Service service(config);
        std::fprintf(stderr, "orvelwddx-service: %s\n", service.DataDescription().c_str());
        for (const std::string& endpoint : service.Endpoints())
            std::fprintf(stderr, "orvelwddx-service: serving %s\n", endpoint.c_str());
        int received = 0;
        sigwait(&stop, &received);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvelwddx-service: %s\n", error.what());
        return 1;
    }
    return 0;
}
