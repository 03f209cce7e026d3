#include "support/Tinyproxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace orvel::test {
namespace {

bool Accepts(uint16_t port)
{
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return ok;
}

} // namespace

uint16_t FreePort()
{
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(socket);
    return ntohs(address.sin_port);
}

bool Tinyproxy::Launch(const std::string& user, const std::string& password)
{
    ListenPort = FreePort();
    const std::string config = Directory + "/tinyproxy.conf";
    {
        std::ofstream out(config);
        out << "Port " << ListenPort << "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 20\n"
            << "LogLevel Critical\nPidFile \"" << Directory << "/tinyproxy.pid\"\n";
        if (!user.empty())
            out << "BasicAuth " << user << " " << password << "\n";
    }
    Process = ::fork();
    if (Process == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM); // a test program that dies takes its proxy along
        ::execlp("tinyproxy", "tinyproxy", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    auto ended = [this] { return ::waitpid(Process, nullptr, WNOHANG) == Process; };
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        if (ended()) { // it could not bind: the port was not ours
            Process = -1;
            return false;
        }
        up = Accepts(ListenPort);
        std::this_thread::sleep_for(std::chrono::milliseconds(up ? 100 : 50));
    }
    if (up && !ended())
        return true;
    if (up) { // accepted, then ended: someone else answered on that port
        Process = -1;
        return false;
    }
    ::kill(Process, SIGTERM);
    ::waitpid(Process, nullptr, 0);
    Process = -1;
    return false;
}

Tinyproxy::Tinyproxy(const std::string& user, const std::string& password)
{
    char pattern[] = "/tmp/orvel-tinyproxy-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("tinyproxy: no temporary directory");
    Directory = pattern;
    // The free port may be taken by someone else before tinyproxy binds it; then tinyproxy exits at once and the
    // port answers for another server. Only a proxy still running after it accepts is ours; else try another port.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Launch(user, password))
            return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(Directory, ignored);
    throw std::runtime_error("tinyproxy did not start (is it installed?)");
}

Tinyproxy::~Tinyproxy()
{
    if (Process > 0) {
        ::kill(Process, SIGTERM);
        ::waitpid(Process, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(Directory, ignored);
}

} // namespace orvel::test
