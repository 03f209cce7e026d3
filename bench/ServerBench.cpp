// Round trips to the automation server over a private session bus: reading Result (typed property and late-bound
// Invoke) next to Peer.Ping to the same process, a client's first call answered through bus activation next to the
// smallest sd-bus service and the smallest Qt Widgets + QtDBus program started the same way, the idle memory of an
// automation start next to that Qt program's, and a whole IBAN check against a fixture service as one
// OrvelWddx.Checks call next to create + call + property reads + release. Ends with each ratio beside its aim.

#include "support/FixtureServer.h"
#include "support/Wddx.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Qt::StringLiterals;

const QString kSdBusName = u"OrvelBench.SdBus"_s;
const QString kQtBusName = u"OrvelBench.Qt"_s;

// Each measurement's typical figure (the median of its iterations where it times them one by one), for the aims.
std::map<std::string, double> gFigures;

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    const size_t middle = Values.size() / 2;
    return Values.size() % 2 ? Values[middle] : (Values[middle - 1] + Values[middle]) / 2;
}

struct PrivateBus
{
    QTemporaryDir Dir;
    QProcess Daemon;
    QString Address;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();

    PrivateBus()
    {
        Address = u"unix:path="_s + Dir.filePath(u"bus"_s);
        Env.insert(u"XDG_DATA_HOME"_s, Dir.filePath(u"data"_s));
        Env.insert(u"XDG_RUNTIME_DIR"_s, Dir.path());
        Env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        Env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, Address);
        Daemon.setProcessEnvironment(Env);
        Daemon.start(u"dbus-daemon"_s,
                     {u"--session"_s, u"--nofork"_s, u"--address="_s + Address, u"--print-address=1"_s});
        Daemon.waitForReadyRead(10000);
        QProcess registration;
        registration.setProcessEnvironment(Env);
        // ORVELWDDX_PROGRAM measures another build of the server, an earlier one for instance.
        registration.start(qEnvironmentVariable("ORVELWDDX_PROGRAM", QString::fromUtf8(ORVELWDDX_PROGRAM)),
                           {u"-RegServer"_s});
        registration.waitForFinished(30000);
        // The yardsticks, started by the bus as the server is.
        for (const auto& [name, program] :
             {std::pair{kSdBusName, ORVEL_SDBUS_SERVICE}, std::pair{kQtBusName, ORVEL_QT_BUS_PROGRAM}}) {
            QFile service(Dir.filePath(u"data/dbus-1/services/"_s + name + u".service"_s));
            service.open(QIODevice::WriteOnly);
            service.write((u"[D-BUS Service]\nName="_s + name + u"\nExec="_s + QString::fromUtf8(program) + u" "_s +
                           name + u"\n"_s)
                              .toUtf8());
        }
    }
    ~PrivateBus()
    {
        Daemon.terminate();
        Daemon.waitForFinished(10000);
    }
};

PrivateBus* gBus = nullptr;

QDBusMessage Call(const QDBusConnection& Connection, const QString& Service, const QString& Path,
                  const QString& Interface, const QString& Member, const QVariantList& Args = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, Member);
    call.setArguments(Args);
    QDBusMessage reply = Connection.call(call);
    if (reply.type() == QDBusMessage::ErrorMessage)
        throw std::runtime_error(reply.errorName().toStdString() + ": " + reply.errorMessage().toStdString());
    return reply;
}

QString CreateTarvik(const QDBusConnection& Connection)
{
    return qvariant_cast<QDBusObjectPath>(Call(Connection, u"OrvelWddx.Tarvik"_s, u"/OrvelWddx/Tarvik"_s,
                                               u"OrvelWddx.ClassFactory"_s, u"CreateInstance"_s)
                                              .arguments()
                                              .front())
        .path();
}

// One client holding one Tarvik object for the round-trip benchmarks.
struct HeldObject
{
    QDBusConnection Connection;
    QString Path;
    QString Owner;

    explicit HeldObject(const QString& Name) : Connection(QDBusConnection::connectToBus(gBus->Address, Name))
    {
        Path = CreateTarvik(Connection);
        Owner = Connection.interface()->serviceOwner(u"OrvelWddx.Tarvik"_s).value();
    }
    ~HeldObject()
    {
        Call(Connection, Owner, Path, u"OrvelWddx.Object"_s, u"Release"_s);
        QDBusConnection::disconnectFromBus(Connection.name());
    }
};

void BM_ResultProperty(benchmark::State& state)
{
    HeldObject held(u"property"_s);
    for (auto _ : state)
        benchmark::DoNotOptimize(Call(held.Connection, held.Owner, held.Path, u"org.freedesktop.DBus.Properties"_s,
                                      u"Get"_s, {u"OrvelWddx.ITarvik"_s, u"Result"_s}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResultProperty)->UseRealTime();

void BM_ResultInvoke(benchmark::State& state)
{
    HeldObject held(u"invoke"_s);
    for (auto _ : state)
        benchmark::DoNotOptimize(Call(held.Connection, held.Owner, held.Path, u"OrvelWddx.Dispatch"_s, u"Invoke"_s,
                                      {203, u"get"_s, QVariant::fromValue(QVariantList())}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResultInvoke)->UseRealTime();

void BM_PeerPing(benchmark::State& state)
{
    HeldObject held(u"ping"_s);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Call(held.Connection, held.Owner, held.Path, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerPing)->UseRealTime();

// The service answers at once, so that the figures are the bus's and the server's share of a check.
orvel::test::FixtureServer* gService = nullptr;

const QVariantList kIbanArgs{u""_s, u""_s, u"DE89370400440532013000"_s, 0, u""_s};

void BM_CheckOneCall(benchmark::State& state)
{
    QDBusConnection connection = QDBusConnection::connectToBus(gBus->Address, u"onecall"_s);
    QVariantList args = kIbanArgs;
    args << QVariantMap{{u"Host"_s, QString::fromStdString(gService->HostPort())}};
    for (auto _ : state)
        benchmark::DoNotOptimize(Call(connection, u"OrvelWddx.Tarvik"_s, u"/OrvelWddx/Tarvik"_s, u"OrvelWddx.Checks"_s,
                                      u"TestIban"_s, args));
    state.SetItemsProcessed(state.iterations());
    QDBusConnection::disconnectFromBus(connection.name());
}
BENCHMARK(BM_CheckOneCall)->UseRealTime();

void BM_CheckCreateCallReadRelease(benchmark::State& state)
{
    QDBusConnection connection = QDBusConnection::connectToBus(gBus->Address, u"objects"_s);
    const QString properties = u"org.freedesktop.DBus.Properties"_s;
    const QString interface = u"OrvelWddx.ITarvik"_s;
    for (auto _ : state) {
        const QString path = CreateTarvik(connection);
        Call(connection, u"OrvelWddx.Tarvik"_s, path, properties, u"Set"_s,
             {interface, u"Host"_s, QVariant::fromValue(QDBusVariant(QString::fromStdString(gService->HostPort())))});
        Call(connection, u"OrvelWddx.Tarvik"_s, path, interface, u"TestIban"_s, kIbanArgs);
        for (const QString& name : {u"Result"_s, u"Resulttext"_s, u"BankName"_s, u"NewBlz"_s, u"Iban"_s, u"Bic"_s})
            benchmark::DoNotOptimize(
                Call(connection, u"OrvelWddx.Tarvik"_s, path, properties, u"Get"_s, {interface, name}));
        Call(connection, u"OrvelWddx.Tarvik"_s, path, u"OrvelWddx.Object"_s, u"Release"_s);
    }
    state.SetItemsProcessed(state.iterations());
    QDBusConnection::disconnectFromBus(connection.name());
}
BENCHMARK(BM_CheckCreateCallReadRelease)->UseRealTime();

// Result read as a property next to Peer.Ping, call by call in turn, so that both see the same load; Ping is answered
// by the bus library without reaching the server's code.
void BM_PropertyReadNextToPing(benchmark::State& state)
{
    HeldObject held(u"alternate"_s);
    std::vector<double> property, ping;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(Call(held.Connection, held.Owner, held.Path, u"org.freedesktop.DBus.Properties"_s,
                                      u"Get"_s, {u"OrvelWddx.ITarvik"_s, u"Result"_s}));
        const auto read = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(
            Call(held.Connection, held.Owner, held.Path, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s));
        property.push_back(std::chrono::duration<double, std::micro>(read - started).count());
        ping.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - read).count());
    }
    gFigures["property us"] = state.counters["property_us"] = Median(property);
    gFigures["ping us"] = state.counters["ping_us"] = Median(ping);
}
BENCHMARK(BM_PropertyReadNextToPing)->UseRealTime()->Iterations(5000);

// A program the bus starts on a first call: its well-known name, the class object's path and interface.
struct Activated
{
    QString Name;
    QString Path;
    QString Interface;
};

const Activated kServer{u"OrvelWddx.Tarvik"_s, u"/OrvelWddx/Tarvik"_s, u"OrvelWddx.ClassFactory"_s};
const Activated kSdBus{kSdBusName, u"/OrvelBench"_s, u"OrvelBench.Minimal"_s};
const Activated kQtBus{kQtBusName, u"/OrvelBench"_s, u"OrvelBench.Minimal"_s};

// CreateInstance to a name nobody owns (a program ending gives its name back first): the bus starts the program,
// which answers once it serves.
void WaitUnowned(const QDBusConnection& Connection, const Activated& Program)
{
    while (Connection.interface()->isServiceRegistered(Program.Name).value())
        QThread::msleep(1);
}

QString CreateActivating(const QDBusConnection& Connection, const Activated& Program)
{
    WaitUnowned(Connection, Program);
    return qvariant_cast<QDBusObjectPath>(
               Call(Connection, Program.Name, Program.Path, Program.Interface, u"CreateInstance"_s).arguments().front())
        .path();
}

// Releasing the only object ends each of the programs.
void ReleaseActivated(const QDBusConnection& Connection, const Activated& Program, const QString& Path)
{
    if (&Program == &kServer)
        Call(Connection, Program.Name, Path, u"OrvelWddx.Object"_s, u"Release"_s);
    else
        Call(Connection, Program.Name, Program.Path, Program.Interface, u"Release"_s);
}

// The CPU time all threads of the program that owns Name have used so far, in ms: on a busy machine a fairer
// figure of a start than its wall time.
double CpuMs(const QDBusConnection& Connection, const QString& Name)
{
    const uint pid = Connection.interface()->servicePid(Name).value();
    double ns = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream schedstat(task.path() / "schedstat");
        double onCpu = 0;
        schedstat >> onCpu;
        ns += onCpu;
    }
    return ns / 1e6;
}

struct FirstCall
{
    double Ms;
    double CpuMs;
};

FirstCall FirstCallOf(const QDBusConnection& Connection, const Activated& Program)
{
    WaitUnowned(Connection, Program);
    const auto started = std::chrono::steady_clock::now();
    const QString path = CreateActivating(Connection, Program);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    const double cpu = CpuMs(Connection, Program.Name);
    ReleaseActivated(Connection, Program, path);
    return {ms, cpu};
}

// From the first call (CreateInstance to the well-known name, no server running) to its answer; the two yardsticks
// are started the same way in each iteration.
void BM_FirstCallWithActivation(benchmark::State& state)
{
    QDBusConnection connection = QDBusConnection::connectToBus(gBus->Address, u"activation"_s);
    std::map<const Activated*, std::vector<double>> ms, cpu;
    for (auto _ : state)
        for (const Activated* program : {&kServer, &kSdBus, &kQtBus}) {
            const FirstCall call = FirstCallOf(connection, *program);
            if (program == &kServer)
                state.SetIterationTime(call.Ms / 1000);
            ms[program].push_back(call.Ms);
            cpu[program].push_back(call.CpuMs);
        }
    gFigures["activation ms"] = state.counters["median_ms"] = Median(ms[&kServer]);
    gFigures["sd-bus activation ms"] = state.counters["sdbus_ms"] = Median(ms[&kSdBus]);
    gFigures["qt activation ms"] = state.counters["qt_ms"] = Median(ms[&kQtBus]);
    gFigures["activation cpu ms"] = state.counters["cpu_ms"] = Median(cpu[&kServer]);
    gFigures["sd-bus activation cpu ms"] = state.counters["sdbus_cpu_ms"] = Median(cpu[&kSdBus]);
    gFigures["qt activation cpu ms"] = state.counters["qt_cpu_ms"] = Median(cpu[&kQtBus]);
    QDBusConnection::disconnectFromBus(connection.name());
}
BENCHMARK(BM_FirstCallWithActivation)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

double ResidentMb(const QDBusConnection& Connection, const QString& Name)
{
    const uint pid = Connection.interface()->servicePid(Name).value();
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    throw std::runtime_error("no VmRSS for " + Name.toStdString());
}

// Started by a client's first call, holding that client's object, and then left alone: the server next to the Qt
// program.
void BM_IdleMemory(benchmark::State& state)
{
    QDBusConnection connection = QDBusConnection::connectToBus(gBus->Address, u"memory"_s);
    std::vector<double> server, qtBus;
    for (auto _ : state) {
        const QString serverPath = CreateActivating(connection, kServer);
        const QString qtPath = CreateActivating(connection, kQtBus);
        QThread::msleep(1500);
        server.push_back(ResidentMb(connection, kServer.Name));
        qtBus.push_back(ResidentMb(connection, kQtBus.Name));
        ReleaseActivated(connection, kServer, serverPath);
        ReleaseActivated(connection, kQtBus, qtPath);
    }
    gFigures["idle MB"] = state.counters["server_MB"] = Median(server);
    gFigures["qt idle MB"] = state.counters["qt_MB"] = Median(qtBus);
    QDBusConnection::disconnectFromBus(connection.name());
}
BENCHMARK(BM_IdleMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void PrintAims()
{
    auto figure = [](const char* Name) {
        const auto found = gFigures.find(Name);
        return found == gFigures.end() ? 0.0 : found->second;
    };
    auto line = [](const char* What, double Ours, double Base, const char* BaseName, double Ratio, const char* Aim,
                   bool Met) {
        std::printf("%-36s %9.2f  %-26s %9.2f  ratio %5.2f  aim %-10s %s\n", What, Ours, BaseName, Base, Ratio, Aim,
                    Met ? "met" : "missed");
    };
    std::printf("\nAims (medians of this run)\n");
    if (const double ms = figure("activation ms"), sdBus = figure("sd-bus activation ms"); ms > 0)
        line("first call through activation (ms)", ms, sdBus, "minimal sd-bus service", ms / sdBus, "<= 50 ms",
             ms <= 50);
    if (const double cpu = figure("activation cpu ms"); cpu > 0)
        std::printf("%-36s %9.2f  %-26s %9.2f  minimal Qt program %.2f\n", "  its CPU time to the answer (ms)", cpu,
                    "minimal sd-bus service", figure("sd-bus activation cpu ms"), figure("qt activation cpu ms"));
    if (const double mb = figure("idle MB"), qt = figure("qt idle MB"); mb > 0)
        line("idle RSS of an automation start (MB)", mb, qt, "minimal Qt Widgets+DBus", mb / qt, "<= 1.5x",
             mb <= 1.5 * qt);
    if (const double us = figure("property us"), ping = figure("ping us"); us > 0)
        line("property read (us)", us, ping, "Peer.Ping", us / ping, "<= 1.25x", us <= 1.25 * ping);
}

} // namespace

// --with-batch: afterwards the offline IBAN batch's aims too (bench/offline_iban.py at 300,000 and 1,000,000 rows,
// some minutes).
int main(int argc, char** argv)
{
    const bool batch =
        std::any_of(argv + 1, argv + argc, [](const char* arg) { return std::strcmp(arg, "--with-batch") == 0; });
    QCoreApplication app(argc, argv);
    PrivateBus bus;
    gBus = &bus;
    orvel::test::FixtureServer service([](const orvel::test::Request&) {
        return orvel::test::Reply::Ok(orvel::test::WddxPacket(
            {{"result", "0"}, {"resulttext", "IBAN gültig"}, {"bankname", "Commerzbank"}, {"iban", "DE89"}}));
    });
    gService = &service;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintAims();
    gService = nullptr;
    gBus = nullptr;
    if (batch)
        return std::system("/usr/bin/python3 " ORVEL_BENCH_DIR "/offline_iban.py 300000 1000000 --no-service") == 0 ? 0
                                                                                                                    : 1;
    return 0;
}
