// Round trips to the automation server over a private session bus: reading Result (typed property and late-bound
// Invoke) next to Peer.Ping to the same process, a client's first call answered through bus activation, and a whole
// IBAN check against a fixture service as one OrvelWddx.Checks call next to create + call + property reads + release.

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
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace {

using namespace Qt::StringLiterals;

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
        registration.start(QString::fromUtf8(ORVELWDDX_PROGRAM), {u"-RegServer"_s});
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

// From the first call (CreateInstance to the well-known name, no server running) to its answer.
void BM_FirstCallWithActivation(benchmark::State& state)
{
    QDBusConnection connection = QDBusConnection::connectToBus(gBus->Address, u"activation"_s);
    QDBusConnectionInterface* bus = connection.interface();
    for (auto _ : state) {
        while (bus->isServiceRegistered(u"OrvelWddx.Tarvik"_s).value())
            QThread::msleep(1);
        const auto started = std::chrono::steady_clock::now();
        const QString path = CreateTarvik(connection);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        Call(connection, u"OrvelWddx.Tarvik"_s, path, u"OrvelWddx.Object"_s, u"Release"_s);
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
    orvel::test::FixtureServer service([](const orvel::test::Request&) {
        return orvel::test::Reply::Ok(orvel::test::WddxPacket(
            {{"result", "0"}, {"resulttext", "IBAN gültig"}, {"bankname", "Commerzbank"}, {"iban", "DE89"}}));
    });
    gService = &service;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gService = nullptr;
    gBus = nullptr;
    return 0;
}
