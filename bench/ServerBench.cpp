// Round trips to the automation server over a private session bus: reading Result (typed property and late-bound
// Invoke) next to Peer.Ping to the same process, and a client's first call answered through bus activation.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace {

struct PrivateBus
{
    QTemporaryDir Dir;
    QProcess Daemon;
    QString Address;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();

    PrivateBus()
    {
        Address = "unix:path=" + Dir.filePath("bus");
        Env.insert("XDG_DATA_HOME", Dir.filePath("data"));
        Env.insert("XDG_RUNTIME_DIR", Dir.path());
        Env.insert("QT_QPA_PLATFORM", "offscreen");
        Env.insert("DBUS_SESSION_BUS_ADDRESS", Address);
        Daemon.setProcessEnvironment(Env);
        Daemon.start("dbus-daemon", {"--session", "--nofork", "--address=" + Address, "--print-address=1"});
        Daemon.waitForReadyRead(10000);
        QProcess registration;
        registration.setProcessEnvironment(Env);
        registration.start(ORVELWDDX_PROGRAM, {"-RegServer"});
        registration.waitForFinished(30000);
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
    return qvariant_cast<QDBusObjectPath>(
               Call(Connection, "OrvelWddx.Tarvik", "/OrvelWddx/Tarvik", "OrvelWddx.ClassFactory", "CreateInstance")
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
        Owner = Connection.interface()->serviceOwner("OrvelWddx.Tarvik").value();
    }
    ~HeldObject()
    {
        Call(Connection, Owner, Path, "OrvelWddx.Object", "Release");
        QDBusConnection::disconnectFromBus(Connection.name());
    }
};

void BM_ResultProperty(benchmark::State& state)
{
    HeldObject held("property");
    for (auto _ : state)
        benchmark::DoNotOptimize(Call(held.Connection, held.Owner, held.Path, "org.freedesktop.DBus.Properties", "Get",
                                      {"OrvelWddx.ITarvik", "Result"}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResultProperty)->UseRealTime();

void BM_ResultInvoke(benchmark::State& state)
{
    HeldObject held("invoke");
    for (auto _ : state)
        benchmark::DoNotOptimize(Call(held.Connection, held.Owner, held.Path, "OrvelWddx.Dispatch", "Invoke",
                                      {203, "get", QVariant::fromValue(QVariantList())}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResultInvoke)->UseRealTime();

void BM_PeerPing(benchmark::State& state)
{
    HeldObject held("ping");
    for (auto _ : state)
        benchmark::DoNotOptimize(Call(held.Connection, held.Owner, held.Path, "org.freedesktop.DBus.Peer", "Ping"));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerPing)->UseRealTime();

// From the first call (CreateInstance to the well-known name, no server running) to its answer.
void BM_FirstCallWithActivation(benchmark::State& state)
{
    QDBusConnection connection = QDBusConnection::connectToBus(gBus->Address, "activation");
    QDBusConnectionInterface* bus = connection.interface();
    for (auto _ : state) {
        while (bus->isServiceRegistered("OrvelWddx.Tarvik").value())
            QThread::msleep(1);
        const auto started = std::chrono::steady_clock::now();
        const QString path = CreateTarvik(connection);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        Call(connection, "OrvelWddx.Tarvik", path, "OrvelWddx.Object", "Release");
    }
    QDBusConnection::disconnectFromBus(connection.name());
}
BENCHMARK(BM_FirstCallWithActivation)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PrivateBus bus;
    gBus = &bus;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gBus = nullptr;
    return 0;
}
