#include "server/DBusExport.h"

#include "server/DBusDispatch.h"
#include "server/DBusMarshal.h"
#include "server/Introspection.h"

#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>

#include <malloc.h>

#include <algorithm>

namespace orvel {
namespace {

using namespace Qt::StringLiterals;
using dbus::ToQString;

constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kAlreadyOwner = 4;

QDBusMessage BusCall(const QString& Method)
{
    return QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                          u"org.freedesktop.DBus"_s, Method);
}

} // namespace

TDBusExport::TDBusExport(TComServer& Server, const QDBusConnection& Connection)
    : FServer(Server), FConnection(Connection),
      FWatcher(QString(), Connection, QDBusServiceWatcher::WatchForUnregistration)
{
    QObject::connect(&FWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
                     [this](const QString& name) { DropHolder(name); });
    FTrim.setSingleShot(true);
    FTrim.setInterval(200);
    QObject::connect(&FTrim, &QTimer::timeout, this, [] { ::malloc_trim(0); });
}

TDBusExport::~TDBusExport()
{
    FConnection.unregisterObject(ToQString(dbus::RootPath(FServer.TypeLibrary())), QDBusConnection::UnregisterTree);
}

QStringList TDBusExport::Start()
{
    if (!FConnection.registerVirtualObject(ToQString(dbus::RootPath(FServer.TypeLibrary())), this,
                                           QDBusConnection::SubPath))
        throw Error("Die Objekte des Servers sind auf dem Bus bereits belegt");
    return RequestNames();
}

QStringList TDBusExport::RequestNames()
{
    FNames.clear();
    std::vector<std::pair<QString, QDBusPendingCall>> requests;
    for (const auto& factory : FServer.Factories()) {
        QDBusMessage request = BusCall(u"RequestName"_s);
        request << ToQString(factory->ProgID()) << kDoNotQueue;
        requests.emplace_back(ToQString(factory->ProgID()), FConnection.asyncCall(request));
    }
    for (auto& [name, call] : requests) {
        QDBusPendingReply<uint> reply = call;
        reply.waitForFinished();
        if (reply.isValid() && (reply.value() == kPrimaryOwner || reply.value() == kAlreadyOwner))
            FNames << name;
    }
    return FNames;
}

void TDBusExport::ReleaseNames()
{
    std::vector<QDBusPendingCall> calls;
    for (const QString& name : std::exchange(FNames, {})) {
        QDBusMessage request = BusCall(u"ReleaseName"_s);
        request << name;
        calls.push_back(FConnection.asyncCall(request));
    }
    for (QDBusPendingCall& call : calls)
        call.waitForFinished();
    // Calls the bus routed here before the names went may still wait in the connection; a call to ourselves comes
    // after them, so once it is answered they have all been served.
    QDBusPendingCallWatcher self(FConnection.asyncCall(
        QDBusMessage::createMethodCall(FConnection.baseService(), ToQString(dbus::RootPath(FServer.TypeLibrary())),
                                       u"org.freedesktop.DBus.Introspectable"_s, u"Introspect"_s)));
    QEventLoop loop;
    QObject::connect(&self, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

const TAutoObjectFactory* TDBusExport::FactoryAt(const QString& Path) const
{
    for (const auto& factory : FServer.Factories())
        if (ToQString(dbus::ClassPath(FServer.TypeLibrary(), factory->CoClass())) == Path)
            return factory.get();
    return nullptr;
}

QString TDBusExport::introspect(const QString& Path) const
{
    const TTypeLibrary& library = FServer.TypeLibrary();
    if (auto entry = FObjects.find(Path); entry != FObjects.end())
        return ToQString(dbus::InterfaceXml(library, entry->second.Object->Interface()) + dbus::ObjectInterfacesXml());
    if (const TAutoObjectFactory* factory = FactoryAt(Path)) {
        QString xml =
            ToQString(dbus::ClassFactoryXml(library, factory->CoClass()) + dbus::ChecksXml(factory->Interface()));
        const QString prefix = Path + u'/';
        for (const auto& [path, entry] : FObjects)
            if (path.startsWith(prefix))
                xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(path.mid(prefix.size()));
        return xml;
    }
    QString xml;
    if (Path == ToQString(dbus::RootPath(library)))
        for (const auto& factory : FServer.Factories())
            xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(ToQString(factory->CoClass().Name));
    return xml;
}

bool TDBusExport::handleMessage(const QDBusMessage& Message, const QDBusConnection&)
{
    if (Message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString path = Message.path();
    const QString interface = Message.interface();
    const QString member = Message.member();
    auto entry = FObjects.find(path);
    const bool object = entry != FObjects.end();
    const TAutoObjectFactory* factory = object ? nullptr : FactoryAt(path);
    if (!object && !factory && path != ToQString(dbus::RootPath(FServer.TypeLibrary()))) {
        FConnection.send(Message.createErrorReply(QDBusError::UnknownObject, u"Kein Objekt unter "_s + path));
        return true;
    }
    if (interface == QLatin1String("org.freedesktop.DBus.Introspectable") && member == QLatin1String("Introspect")) {
        FConnection.send(Message.createReply(
            ToQString(dbus::NodeXml(introspect(path).toStdString() + dbus::StandardInterfacesXml(object)))));
        return true;
    }
    // Objects hold their client's settings, credentials among them: only the connection that created one may use
    // it. Class objects stay open to everyone.
    if (object && entry->second.Holder != Message.service()) {
        FConnection.send(Message.createErrorReply(QDBusError::AccessDenied,
                                                  u"Das Objekt "_s + path + u" gehört einem anderen Client"_s));
        return true;
    }
    const auto is = [&](const char* Interface, const char* Member) {
        return (interface.isEmpty() || interface == QLatin1String(Interface)) && member == QLatin1String(Member);
    };
    if (object && is(dbus::kObjectInterface, "Release")) {
        if (Message.signature().isEmpty())
            Release(Message, path);
        else
            FConnection.send(dbus::WrongSignature(Message, QString()));
    } else if (object) {
        FConnection.send(dbus::DispatchObjectCall(Message, *entry->second.Object, FServer.TypeLibrary()));
    } else if (factory && is(dbus::kClassFactoryInterface, "CreateInstance")) {
        if (Message.signature().isEmpty())
            CreateInstance(Message, *factory);
        else
            FConnection.send(dbus::WrongSignature(Message, QString()));
    } else if (factory && interface == QLatin1String(dbus::kChecksInterface) && member == QLatin1String("Confirm") &&
               factory->Interface().Name == "IUStID") {
        FConnection.send(dbus::DispatchConfirm(Message));
    } else if (factory && interface == QLatin1String(dbus::kChecksInterface)) {
        FConnection.send(dbus::DispatchCheckCall(Message, *factory));
    } else {
        FConnection.send(dbus::UnknownMethod(Message));
    }
    return true;
}

void TDBusExport::CreateInstance(const QDBusMessage& Message, const TAutoObjectFactory& Factory)
{
    TAutoObjectPtr object;
    try {
        object = TAutoObjectPtr(Factory.CreateInstance());
    } catch (const std::exception& error) {
        FConnection.send(
            dbus::Answer(Message, E_UNEXPECTED,
                         {std::string(Factory.Interface().Guid), FromUtf8(Factory.ProgID()), Widen(error.what())}));
        return;
    }
    const QString path = ToQString(dbus::ClassPath(FServer.TypeLibrary(), Factory.CoClass())) + u'/' +
                         QString::number(++FLastNumber[&Factory]);
    FObjects[path] = {std::move(object), Message.service()};
    FConnection.send(Message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
    WatchHolder(Message.service());
}

void TDBusExport::Release(const QDBusMessage& Message, const QString& Path)
{
    FConnection.send(Message.createReply());
    DropObject(Path);
    GiveBackMemory(1);
}

void TDBusExport::WatchHolder(const QString& Name)
{
    if (FWatcher.watchedServices().contains(Name))
        return;
    FWatcher.addWatchedService(Name);
    // A client that left before the watch was in place never signals; the bus answers in order, so this tells.
    auto* pending = new QDBusPendingCallWatcher(FConnection.interface()->asyncCall(u"NameHasOwner"_s, Name), this);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, this, [this, Name](QDBusPendingCallWatcher* call) {
        QDBusPendingReply<bool> reply = *call;
        if (reply.isValid() && !reply.value())
            DropHolder(Name);
        call->deleteLater();
    });
}

void TDBusExport::DropHolder(const QString& Name)
{
    std::vector<QString> held;
    for (const auto& [path, entry] : FObjects)
        if (entry.Holder == Name)
            held.push_back(path);
    for (const QString& path : held)
        DropObject(path);
    GiveBackMemory(held.size());
}

void TDBusExport::GiveBackMemory(size_t Dropped)
{
    // glibc keeps freed memory for later; after many objects went, or the last one, an idle server shrinks again.
    // The trim waits until the bus traffic that came with the release has been served and freed too.
    constexpr size_t kMassRelease = 64;
    if (Dropped >= kMassRelease || (Dropped > 0 && FObjects.empty()))
        FTrim.start();
}

void TDBusExport::DropObject(const QString& Path)
{
    auto entry = FObjects.find(Path);
    // Released only once out of the table: the last release may end the process's run.
    const TAutoObjectPtr object = std::move(entry->second.Object);
    const QString holder = entry->second.Holder;
    FObjects.erase(entry);
    if (std::none_of(FObjects.begin(), FObjects.end(),
                     [&](const auto& other) { return other.second.Holder == holder; }))
        FWatcher.removeWatchedService(holder);
}

} // namespace orvel
