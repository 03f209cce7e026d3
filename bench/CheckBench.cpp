// orvelwddx-check batches against the local checking service: IBAN checks per second with --jobs 1, 2, 4 and 8.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr int kRows = 2000;

std::string gHost;
std::filesystem::path gInput;

uint16_t FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Answers(uint16_t Port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

void BM_Batch(benchmark::State& state)
{
    const std::string command = "ORVELWDDX_HOST=" + gHost + " " + ORVELWDDX_CHECK + " --jobs " +
                                std::to_string(state.range(0)) + " batch " + gInput.string() +
                                " > /dev/null 2> /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("the batch failed");
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_Batch)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("orvel-check-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "config");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1); // no window settings of the user
    gInput = dir / "ibans.csv";
    {
        std::ofstream input(gInput);
        input << "id,iban\r\n";
        for (int i = 0; i < kRows; ++i)
            input << i << ",DE89370400440532013000\r\n";
    }

    const uint16_t port = FreePort();
    gHost = "127.0.0.1:" + std::to_string(port);
    const pid_t service = fork();
    if (service == 0) {
        execl(ORVELWDDX_SERVICE, ORVELWDDX_SERVICE, "--listen", gHost.c_str(), "--threads", "4",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 500 && !Answers(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);
    std::filesystem::remove_all(dir);
    return 0;
}
