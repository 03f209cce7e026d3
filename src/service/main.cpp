// orvelwddx-service: the local checking service.

#include "service/Messages.h"
#include "service/Service.h"
#include "service/Users.h"

#include "feeds/Update.h"
#include "rules/BankDirectory.h"
#include "rules/DataFolders.h"
#include "rules/OfficialData.h"

#include <malloc.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

using namespace orvel::service;

namespace {

// Waits for SIGINT or SIGTERM. Meanwhile switches the data on SIGHUP, when a file lands in or changes in a data
// folder, and once a minute for a set or file whose day has come; reads the users file again as often.
void ServeUntilStopped(Service& service, const sigset_t& signals, bool pinned)
{
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    const int watchFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    // Every data folder is watched, the SCL and OeNB directories are read from them even with a pinned bank file.
    // A copy in progress ends with the close of its writer: that event reads the finished file.
    for (const std::string& folder : orvel::rules::DataFolders())
        if (watchFd >= 0) {
            std::error_code ignored; // a folder that cannot be made (the system's, for a user) is not watched
            if (folder == orvel::rules::DataFolders().front())
                std::filesystem::create_directories(folder, ignored);
            inotify_add_watch(watchFd, folder.c_str(), IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE | IN_DELETE);
        }
    const auto reload = [&service] {
        try {
            for (const std::string& line : service.ReloadBanks())
                std::fprintf(stderr, "orvelwddx-service: %s\n", line.c_str());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "orvelwddx-service: %s\n",
                         Say("bank directory not switched: {}", {error.what()}).c_str());
        }
    };
    const auto reloadUsers = [&service] {
        try {
            if (service.ReloadUsers())
                std::fputs("orvelwddx-service: users file read again\n", stderr);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "orvelwddx-service: %s\n",
                         Say("users file not read again, the users before stay: {}", {error.what()}).c_str());
        }
    };
    // What changed between loading and watching has no event of its own.
    reload();
    for (;;) {
        pollfd watched[2] = {{signalFd, POLLIN, 0}, {watchFd, POLLIN, 0}};
        const int ready = poll(watched, watchFd >= 0 ? 2 : 1, 60 * 1000);
        if (ready > 0 && (watched[0].revents & POLLIN)) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) == sizeof info && info.ssi_signo != SIGHUP)
                break;
        }
        if (ready > 0 && watchFd >= 0 && (watched[1].revents & POLLIN)) {
            char events[4096];
            while (read(watchFd, events, sizeof events) > 0) {
            }
        }
        if (!pinned || ready > 0)
            reload();
        reloadUsers();
    }
    close(signalFd);
    if (watchFd >= 0)
        close(watchFd);
}

// --install-bank-file, --update-data and --rollback-data: one line per source, on standard error when it failed.
int ManageData(const ServiceConfig& config)
{
    using namespace orvel::feeds;
    bool failed = false;
    const auto run = [&failed](const auto& step) {
        try {
            std::puts(step().c_str());
            std::fflush(stdout); // the lines in order, also where standard output and error share a pipe
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            failed = true;
        }
    };
    if (!config.InstallBankFile.empty())
        run([&] { return InstallBankFile(config.InstallBankFile, config.ValidFrom, config.DataDir, config.Force); });
    if (!config.RollbackData.empty())
        run([&] { return Rollback(*SourceNamed(config.RollbackData), config.DataDir); });
    if (config.UpdateData)
        for (const SourceInfo& source : kSources)
            if (config.UpdateSources.empty() || std::find(config.UpdateSources.begin(), config.UpdateSources.end(),
                                                          source.Name) != config.UpdateSources.end())
                run([&] {
                    return Update(source, {config.DataDir, config.Address(std::string(source.Name)), config.Force,
                                           config.FetchTimeout});
                });
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // One malloc arena for all threads: they allocate little per request, and only this arena gives its free top
    // back to the system when the server trims memory after a burst of connections has closed.
    mallopt(M_ARENA_MAX, 1);
    ServiceConfig config;
    try {
        config = ServiceConfig::FromArguments(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvelwddx-service: %s\n%s", error.what(), ServiceUsage());
        return 2;
    }
    if (config.Help) {
        std::fputs(ServiceUsage(), stdout);
        return 0;
    }
    if (config.Version) {
        try {
            const orvel::rules::OfficialData data =
                orvel::rules::OfficialData::Load(std::time(nullptr), config.BankFileIsDefault ? "" : config.BankFile);
            std::printf("orvelwddx-service %s\n%s\n", ORVEL_VERSION, orvel::rules::DescribeBanks(data.Banks).c_str());
            for (const std::string& line : orvel::rules::DescribeEditions(data, std::time(nullptr)))
                std::printf("%s\n", line.c_str());
            for (const std::string& line : data.PassedOver)
                std::fprintf(stderr, "orvelwddx-service: %s\n", line.c_str());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "orvelwddx-service: %s\n", error.what());
            return 1;
        }
        return 0;
    }
    if (config.HashPassword) {
        // Typed at a terminal, the password is not echoed.
        termios terminal{};
        const bool typed = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &terminal) == 0;
        if (typed) {
            std::fputs(Say("Password: ").c_str(), stderr);
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

    if (!config.InstallBankFile.empty() || config.UpdateData || !config.RollbackData.empty())
        return ManageData(config);

    // The server's threads inherit the mask, so the signals reach only the loop below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        std::fprintf(stderr, "orvelwddx-service: %s\n", config.Describe().c_str());
        Service service(config);
        std::fprintf(stderr, "orvelwddx-service: %s\n", service.DataDescription().c_str());
        for (const std::string& line : service.DataEditions())
            std::fprintf(stderr, "orvelwddx-service: %s\n", line.c_str());
        for (const std::string& endpoint : service.Endpoints())
            std::fprintf(stderr, "orvelwddx-service: serving %s\n", endpoint.c_str());
        for (const std::string& warning : service.Insecure())
            std::fprintf(stderr, "orvelwddx-service: warning: %s\n", warning.c_str());
        ServeUntilStopped(service, stop, !config.BankFileIsDefault);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvelwddx-service: %s\n", error.what());
        return 1;
    }
    return 0;
}
