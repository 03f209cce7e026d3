#include "server/DBusExport.h"

#include "server/Introspection.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEventLoop>

#include <algorithm>
#include <optional>

namespace orvel {
namespace {

constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kAlreadyOwner = 4;

QString Q(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

QString Q(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

QVariant ToQVariant(const Variant& value)
{
    switch (value.Type()) {
    case VarType::Empty:
        return QString(""); // a member without a value
    case VarType::Bool:
        return std::get<bool>(value);
    case VarType::Int32:
        return int(std::get<int32_t>(value));
    case VarType::Double:
        return std::get<double>(value);
    case VarType::Text:
        return QString::fromStdU16String(std::get<WideString>(value));
    }
    return {};
}

std::optional<Variant> FromQVariant(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return Variant(value.toBool());
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
        return Variant(int32_t(value.toInt()));
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        // Beyond 32 bits the value is kept as a number, so that the conversion reports the overflow.
        const double number = value.toDouble();
        return number >= INT32_MIN && number <= INT32_MAX ? Variant(int32_t(number)) : Variant(number);
    }
    case QMetaType::Double:
        return Variant(value.toDouble());
    case QMetaType::QString:
        return Variant(value.toString().toStdU16String());
    default:
        return std::nullopt;
    }
}

// The elements of an "av" argument, whichever way QtDBus delivered it.
QVariantList VariantList(const QVariant& value)
{
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return value.toList();
    QVariantList list;
    const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant element;
        argument >> element;
        list << element.variant();
    }
    argument.endArray();
    return list;
}

std::optional<InvokeKind> KindFromText(const QString& kind)
{
    if (kind == QLatin1String("method"))
        return InvokeKind::Method;
    if (kind == QLatin1String("get"))
        return InvokeKind::Get;
    // A put by reference counts as a put.
    if (kind == QLatin1String("put") || kind == QLatin1String("putref"))
        return InvokeKind::Put;
    return std::nullopt;
}

const TMemberInfo* FindProperty(const TInterfaceInfo& Interface, const QString& Name, InvokeKind Kind)
{
    for (const TMemberInfo& member : Interface.Members)
        if (member.Kind == Kind && dbus::IsProperty(member) && Q(member.Name) == Name)
            return &member;
    return nullptr;
}

const TMemberInfo* FindMethod(const TInterfaceInfo& Interface, const QString& Name)
{
    for (const TMemberInfo& member : Interface.Members)
        if (!dbus::IsProperty(member) && Q(member.Name) == Name)
            return &member;
    return nullptr;
}

} // namespace

TDBusExport::TDBusExport(TComServer& Server, const QDBusConnection& Connection)
    : FServer(Server), FConnection(Connection),
      FWatcher(QString(), Connection, QDBusServiceWatcher::WatchForUnregistration)
{
    QObject::connect(&FWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
                     [this](const QString& name) { DropHolder(name); });
}

TDBusExport::~TDBusExport()
{
    FConnection.unregisterObject(Q(dbus::RootPath(FServer.TypeLibrary())), QDBusConnection::UnregisterTree);
    for (auto& [path, entry] : FObjects)
        entry.Object->Release();
}

QStringList TDBusExport::Start()
{
    if (!FConnection.registerVirtualObject(Q(dbus::RootPath(FServer.TypeLibrary())), this, QDBusConnection::SubPath))
        throw Error("Die Objekte des Servers sind auf dem Bus bereits belegt");
    return RequestNames();
}

QStringList TDBusExport::RequestNames()
{
    FNames.clear();
    std::vector<std::pair<QString, QDBusPendingCall>> requests;
    for (const auto& factory : FServer.Factories()) {
        QDBusMessage request = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                              "org.freedesktop.DBus", "RequestName");
        request << Q(factory->ProgID()) << kDoNotQueue;
        requests.emplace_back(Q(factory->ProgID()), FConnection.asyncCall(request));
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
        QDBusMessage request = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                              "org.freedesktop.DBus", "ReleaseName");
        request << name;
        calls.push_back(FConnection.asyncCall(request));
    }
    for (QDBusPendingCall& call : calls)
        call.waitForFinished();
    // Calls the bus routed here before the names went may still wait in the connection; a call to ourselves comes
    // after them, so once it is answered they have all been served.
    QDBusPendingCallWatcher self(FConnection.asyncCall(
        QDBusMessage::createMethodCall(FConnection.baseService(), Q(dbus::RootPath(FServer.TypeLibrary())),
                                       "org.freedesktop.DBus.Introspectable", "Introspect")));
    QEventLoop loop;
    QObject::connect(&self, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

const TAutoObjectFactory* TDBusExport::FactoryAt(const QString& Path) const
{
    for (const auto& factory : FServer.Factories())
        if (Q(dbus::ClassPath(FServer.TypeLibrary(), factory->CoClass())) == Path)
            return factory.get();
    return nullptr;
}

QString TDBusExport::introspect(const QString& Path) const
{
    const TTypeLibrary& library = FServer.TypeLibrary();
    if (auto entry = FObjects.find(Path); entry != FObjects.end())
        return Q(dbus::InterfaceXml(library, entry->second.Object->Interface()) + dbus::ObjectInterfacesXml());
    if (const TAutoObjectFactory* factory = FactoryAt(Path)) {
        QString xml = Q(dbus::ClassFactoryXml(library, factory->CoClass()));
        const QString prefix = Path + "/";
        for (const auto& [path, entry] : FObjects)
            if (path.startsWith(prefix))
                xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(path.mid(prefix.size()));
        return xml;
    }
    QString xml;
    if (Path == Q(dbus::RootPath(library)))
        for (const auto& factory : FServer.Factories())
            xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(Q(factory->CoClass().Name));
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
    const TAutoObjectFactory* factory = entry == FObjects.end() ? FactoryAt(path) : nullptr;
    const bool known = entry != FObjects.end() || factory || path == Q(dbus::RootPath(FServer.TypeLibrary()));
    if (!known) {
        FConnection.send(Message.createErrorReply(QDBusError::UnknownObject, "Kein Objekt unter " + path));
        return true;
    }
    if (interface == QLatin1String("org.freedesktop.DBus.Introspectable") && member == QLatin1String("Introspect")) {
        const bool properties = entry != FObjects.end();
        FConnection.send(Message.createReply(
            Q(dbus::NodeXml(introspect(path).toStdString() + dbus::StandardInterfacesXml(properties)))));
        return true;
    }
    if (entry != FObjects.end()) {
        HandleObjectCall(Message, path, entry->second);
        return true;
    }
    if (factory && (interface.isEmpty() || interface == QLatin1String(dbus::kClassFactoryInterface)) &&
        member == QLatin1String("CreateInstance")) {
        if (Message.signature().isEmpty())
            CreateInstance(Message, *factory);
        else
            FConnection.send(
                Message.createErrorReply(QDBusError::InvalidArgs, "CreateInstance erwartet keine Argumente"));
        return true;
    }
    FConnection.send(Message.createErrorReply(QDBusError::UnknownMethod,
                                              "Unbekannte Methode " + interface + "." + member + " unter " + path));
    return true;
}

void TDBusExport::CreateInstance(const QDBusMessage& Message, const TAutoObjectFactory& Factory)
{
    TAutoObject* object = nullptr;
    try {
        object = Factory.CreateInstance();
    } catch (const std::exception& error) {
        Answer(Message, E_UNEXPECTED,
               {std::string(Factory.Interface().Guid), FromUtf8(Factory.ProgID()), Widen(error.what())}, {});
        return;
    }
    const QString path =
        Q(dbus::ClassPath(FServer.TypeLibrary(), Factory.CoClass())) + "/" + QString::number(++FLastNumber[&Factory]);
    FObjects[path] = {object, Message.service()};
    FConnection.send(Message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
    WatchHolder(Message.service());
}

void TDBusExport::HandleObjectCall(const QDBusMessage& Message, const QString& Path, TExported& Entry)
{
    TAutoObject& object = *Entry.Object;
    const QString interface = Message.interface();
    const QString member = Message.member();
    const QString signature = Message.signature();
    const QString typed = Q(dbus::InterfaceName(FServer.TypeLibrary(), object.Interface()));
    auto invalidArgs = [&](const QString& expected) {
        FConnection.send(
            Message.createErrorReply(QDBusError::InvalidArgs, member + " erwartet Argumente der Signatur \"" +
                                                                  expected + "\", nicht \"" + signature + "\""));
    };

    if (interface == QLatin1String(kPropertiesInterface)) {
        PropertyCall(Message, object);
        return;
    }
    if (interface.isEmpty() || interface == typed) {
        if (const TMemberInfo* method = FindMethod(object.Interface(), member)) {
            const QString expected = Q(dbus::Signature(*method));
            if (signature != expected)
                invalidArgs(expected);
            else
                CallTyped(Message, object, *method);
            return;
        }
    }
    const bool dispatch = interface.isEmpty() || interface == QLatin1String(dbus::kDispatchInterface);
    if (dispatch && member == QLatin1String("Invoke")) {
        signature == QLatin1String("isav") ? Invoke(Message, object) : invalidArgs("isav");
        return;
    }
    if (dispatch && member == QLatin1String("GetIDsOfNames")) {
        signature == QLatin1String("as") ? GetIDsOfNames(Message, object) : invalidArgs("as");
        return;
    }
    if ((interface.isEmpty() || interface == QLatin1String(dbus::kObjectInterface)) &&
        member == QLatin1String("Release")) {
        signature.isEmpty() ? Release(Message, Path, Entry) : invalidArgs("");
        return;
    }
    FConnection.send(Message.createErrorReply(QDBusError::UnknownMethod,
                                              "Unbekannte Methode " + interface + "." + member + " unter " + Path));
}

void TDBusExport::Release(const QDBusMessage& Message, const QString& Path, TExported& Entry)
{
    if (Entry.Holder != Message.service()) {
        Answer(Message, E_UNEXPECTED,
               {std::string(Entry.Object->Interface().Guid), FromUtf8(Entry.Object->Factory().ProgID()),
                FromUtf8("Der Client hält keine Referenz auf " + Path.toStdString())},
               {});
        return;
    }
    FConnection.send(Message.createReply());
    DropObject(Path);
}

void TDBusExport::Invoke(const QDBusMessage& Message, TAutoObject& Object)
{
    const QVariantList in = Message.arguments();
    const std::optional<InvokeKind> kind = KindFromText(in[1].toString());
    if (!kind) {
        Answer(Message, E_INVALIDARG, {}, {});
        return;
    }
    std::vector<Variant> args;
    for (const QVariant& value : VariantList(in[2])) {
        std::optional<Variant> arg = FromQVariant(value);
        if (!arg) {
            Answer(Message, DISP_E_TYPEMISMATCH, {}, {});
            return;
        }
        args.push_back(std::move(*arg));
    }
    Variant result;
    ErrorInfo info;
    const HRESULT hr = Object.Invoke(in[0].toInt(), *kind, args, result, info);
    Answer(Message, hr, info, {QVariant::fromValue(QDBusVariant(ToQVariant(result)))});
}

void TDBusExport::GetIDsOfNames(const QDBusMessage& Message, TAutoObject& Object)
{
    std::vector<WideString> names;
    for (const QString& name : Message.arguments()[0].toStringList())
        names.push_back(name.toStdU16String());
    std::vector<DispId> ids;
    const HRESULT hr = Object.GetIDsOfNames(names, ids);
    Answer(Message, hr, {}, {QVariant::fromValue(QList<int>(ids.begin(), ids.end()))});
}

void TDBusExport::CallTyped(const QDBusMessage& Message, TAutoObject& Object, const TMemberInfo& Member)
{
    std::vector<Variant> args;
    const QVariantList in = Message.arguments();
    for (size_t i = 0; i < Member.Params.size(); ++i)
        args.push_back(Member.Params[i].Type == VarType::Int32 ? Variant(int32_t(in[qsizetype(i)].toInt()))
                                                               : Variant(in[qsizetype(i)].toString().toStdU16String()));
    Variant result;
    ErrorInfo info;
    const HRESULT hr = Object.Invoke(Member.Id, Member.Kind, args, result, info);
    Answer(Message, hr, info, Member.Kind == InvokeKind::Get ? QVariantList{ToQVariant(result)} : QVariantList{});
}

void TDBusExport::PropertyCall(const QDBusMessage& Message, TAutoObject& Object)
{
    const TInterfaceInfo& info = Object.Interface();
    const QString member = Message.member();
    const QString signature = Message.signature();
    const QVariantList in = Message.arguments();
    const QString interface = in.isEmpty() ? QString() : in[0].toString();
    const QString typed = Q(dbus::InterfaceName(FServer.TypeLibrary(), info));
    const bool ours = interface.isEmpty() || interface == typed;
    const bool other =
        interface == QLatin1String(dbus::kDispatchInterface) || interface == QLatin1String(dbus::kObjectInterface);
    auto fail = [&](QDBusError::ErrorType type, const QString& text) {
        FConnection.send(Message.createErrorReply(type, text));
    };

    if (member == QLatin1String("GetAll")) {
        if (signature != QLatin1String("s")) {
            fail(QDBusError::InvalidArgs, "GetAll erwartet Argumente der Signatur \"s\"");
            return;
        }
        if (!ours && !other) {
            fail(QDBusError::UnknownInterface, "Unbekannte Schnittstelle " + interface);
            return;
        }
        QVariantMap values;
        for (const TMemberInfo& getter : info.Members) {
            if (!ours || getter.Kind != InvokeKind::Get || !dbus::IsProperty(getter))
                continue;
            Variant result;
            ErrorInfo error;
            const HRESULT hr = Object.Invoke(getter.Id, InvokeKind::Get, {}, result, error);
            if (Failed(hr)) {
                Answer(Message, hr, error, {});
                return;
            }
            values.insert(Q(getter.Name), ToQVariant(result));
        }
        FConnection.send(Message.createReply(QVariant::fromValue(values)));
        return;
    }
    const bool get = member == QLatin1String("Get");
    if (!get && member != QLatin1String("Set")) {
        fail(QDBusError::UnknownMethod, "Unbekannte Methode " + member);
        return;
    }
    if (signature != QLatin1String(get ? "ss" : "ssv")) {
        fail(QDBusError::InvalidArgs, member + " erwartet Argumente der Signatur \"" + (get ? "ss" : "ssv") + "\"");
        return;
    }
    if (!ours && !other) {
        fail(QDBusError::UnknownInterface, "Unbekannte Schnittstelle " + interface);
        return;
    }
    const QString name = in[1].toString();
    const TMemberInfo* getter = ours ? FindProperty(info, name, InvokeKind::Get) : nullptr;
    const TMemberInfo* setter = ours ? FindProperty(info, name, InvokeKind::Put) : nullptr;
    if (!getter && !setter) {
        fail(QDBusError::UnknownProperty, "Unbekannte Eigenschaft " + name);
        return;
    }
    Variant result;
    ErrorInfo error;
    if (get) {
        const HRESULT hr = Object.Invoke(getter->Id, InvokeKind::Get, {}, result, error);
        Answer(Message, hr, error, {QVariant::fromValue(QDBusVariant(ToQVariant(result)))});
        return;
    }
    if (!setter) {
        fail(QDBusError::PropertyReadOnly, "Die Eigenschaft " + name + " ist schreibgeschützt");
        return;
    }
    const QVariant value = qvariant_cast<QDBusVariant>(in[2]).variant();
    const bool integer = setter->ValueType == VarType::Int32;
    if (value.metaType() != (integer ? QMetaType::fromType<int>() : QMetaType::fromType<QString>())) {
        fail(QDBusError::InvalidArgs,
             "Die Eigenschaft " + name + " erwartet den Typ \"" + QChar(dbus::Signature(setter->ValueType)) + "\"");
        return;
    }
    const Variant arg = integer ? Variant(int32_t(value.toInt())) : Variant(value.toString().toStdU16String());
    const HRESULT hr = Object.Invoke(setter->Id, InvokeKind::Put, std::span(&arg, 1), result, error);
    Answer(Message, hr, error, {});
}

void TDBusExport::Answer(const QDBusMessage& Message, HRESULT Hr, const ErrorInfo& Info, const QVariantList& Reply)
{
    if (!Failed(Hr)) {
        QDBusMessage reply = Message.createReply();
        reply.setArguments(Reply);
        FConnection.send(reply);
        return;
    }
    const std::string text = Info.Description.empty() ? HResultText(Hr) : ToUtf8(Info.Description);
    FConnection.send(Message.createErrorReply(Q(dbus::kErrorPrefix + HResultName(Hr)), Q(text)));
}

void TDBusExport::WatchHolder(const QString& Name)
{
    if (FWatcher.watchedServices().contains(Name))
        return;
    FWatcher.addWatchedService(Name);
    // A client that left before the watch was in place never signals; the bus answers in order, so this tells.
    auto* pending = new QDBusPendingCallWatcher(FConnection.interface()->asyncCall("NameHasOwner", Name), this);
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
}

void TDBusExport::DropObject(const QString& Path)
{
    auto entry = FObjects.find(Path);
    TAutoObject* object = entry->second.Object;
    const QString holder = entry->second.Holder;
    FObjects.erase(entry);
    if (std::none_of(FObjects.begin(), FObjects.end(),
                     [&](const auto& other) { return other.second.Holder == holder; }))
        FWatcher.removeWatchedService(holder);
    object->Release();
}

} // namespace orvel
