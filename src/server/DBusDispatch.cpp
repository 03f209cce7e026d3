#include "server/DBusDispatch.h"

#include "server/Confirmation.h"

#include "server/DBusMarshal.h"
#include "server/Introspection.h"

#include <QDBusMetaType>
#include <QDBusVariant>

#include <optional>

namespace orvel::dbus {
namespace {

using namespace Qt::StringLiterals;

constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";

std::optional<InvokeKind> KindFromText(const QString& Kind)
{
    if (Kind == QLatin1String("method"))
        return InvokeKind::Method;
    if (Kind == QLatin1String("get"))
        return InvokeKind::Get;
    // A put by reference counts as a put.
    if (Kind == QLatin1String("put") || Kind == QLatin1String("putref"))
        return InvokeKind::Put;
    return std::nullopt;
}

const TMemberInfo* FindProperty(const TInterfaceInfo& Interface, const QString& Name, InvokeKind Kind)
{
    for (const TMemberInfo& member : Interface.Members)
        if (member.Kind == Kind && IsProperty(member) && ToQString(member.Name) == Name)
            return &member;
    return nullptr;
}

const TMemberInfo* FindMethod(const TInterfaceInfo& Interface, const QString& Name)
{
    for (const TMemberInfo& member : Interface.Members)
        if (!IsProperty(member) && ToQString(member.Name) == Name)
            return &member;
    return nullptr;
}

QVariant Boxed(const QVariant& Value)
{
    return QVariant::fromValue(QDBusVariant(Value));
}

// One call to one object.
class TObjectCall
{
public:
    TObjectCall(const QDBusMessage& Message, TAutoObject& Object, const TTypeLibrary& Library)
        : FMessage(Message), FObject(Object), FArgs(Message.arguments()),
          FTypedInterface(ToQString(InterfaceName(Library, Object.Interface())))
    {
    }

    QDBusMessage Reply()
    {
        const QString interface = FMessage.interface();
        const QString member = FMessage.member();
        if (interface == QLatin1String(kPropertiesInterface))
            return Properties();
        if (IsOurs(interface))
            if (const TMemberInfo* method = FindMethod(FObject.Interface(), member))
                return Checked(ToQString(Signature(*method)), [&] {
                    std::vector<Variant> args;
                    for (size_t i = 0; i < method->Params.size(); ++i)
                        args.push_back(FromTyped(FArgs[qsizetype(i)], method->Params[i].Type));
                    return Call(*method, args, false);
                });
        const bool dispatch = interface.isEmpty() || interface == QLatin1String(kDispatchInterface);
        if (dispatch && member == QLatin1String("Invoke"))
            return Checked(QStringLiteral("isav"), [&] { return Invoke(); });
        if (dispatch && member == QLatin1String("GetIDsOfNames"))
            return Checked(QStringLiteral("as"), [&] { return GetIDsOfNames(); });
        return UnknownMethod(FMessage);
    }

private:
    bool IsOurs(const QString& Interface) const { return Interface.isEmpty() || Interface == FTypedInterface; }

    template <class F> QDBusMessage Checked(const QString& Expected, F&& Call) const
    {
        return FMessage.signature() == Expected ? Call() : WrongSignature(FMessage, Expected);
    }

    // The one call path of typed methods and properties; a getter's value comes plain or, for Properties.Get, as
    // a variant.
    QDBusMessage Call(const TMemberInfo& Member, std::span<const Variant> Args, bool AsVariant)
    {
        Variant result;
        ErrorInfo info;
        const HRESULT hr = FObject.Invoke(Member.Id, Member.Kind, Args, result, info);
        if (Member.Kind != InvokeKind::Get)
            return Answer(FMessage, hr, info);
        const QVariant value = ToDBus(result);
        return Answer(FMessage, hr, info, {AsVariant ? Boxed(value) : value});
    }

    QDBusMessage Invoke()
    {
        const std::optional<InvokeKind> kind = KindFromText(FArgs[1].toString());
        if (!kind)
            return Answer(FMessage, E_INVALIDARG, {});
        std::vector<Variant> args;
        for (const QVariant& value : ArrayElements(FArgs[2])) {
            std::optional<Variant> arg = FromDBus(value);
            if (!arg)
                return Answer(FMessage, DISP_E_TYPEMISMATCH, {});
            args.push_back(std::move(*arg));
        }
        Variant result;
        ErrorInfo info;
        const HRESULT hr = FObject.Invoke(FArgs[0].toInt(), *kind, args, result, info);
        return Answer(FMessage, hr, info, {Boxed(ToDBus(result))});
    }

    QDBusMessage GetIDsOfNames()
    {
        std::vector<WideString> names;
        for (const QString& name : FArgs[0].toStringList())
            names.push_back(name.toStdU16String());
        std::vector<DispId> ids;
        const HRESULT hr = FObject.GetIDsOfNames(names, ids);
        return Answer(FMessage, hr, {}, {QVariant::fromValue(QList<int>(ids.begin(), ids.end()))});
    }

    QDBusMessage Properties()
    {
        const QString member = FMessage.member();
        const bool getAll = member == QLatin1String("GetAll");
        const bool get = member == QLatin1String("Get");
        if (!getAll && !get && member != QLatin1String("Set"))
            return UnknownMethod(FMessage);
        const QString expected = QLatin1String(getAll ? "s" : get ? "ss" : "ssv");
        if (FMessage.signature() != expected)
            return WrongSignature(FMessage, expected);

        // The object's other interfaces exist but have no properties.
        const QString interface = FArgs[0].toString();
        const bool ours = IsOurs(interface);
        if (!ours && interface != QLatin1String(kDispatchInterface) && interface != QLatin1String(kObjectInterface))
            return FMessage.createErrorReply(QDBusError::UnknownInterface, u"Unbekannte Schnittstelle "_s + interface);
        if (getAll)
            return GetAll(ours);

        const QString name = FArgs[1].toString();
        const TMemberInfo* getter = ours ? FindProperty(FObject.Interface(), name, InvokeKind::Get) : nullptr;
        const TMemberInfo* setter = ours ? FindProperty(FObject.Interface(), name, InvokeKind::Put) : nullptr;
        if (!getter && !setter)
            return FMessage.createErrorReply(QDBusError::UnknownProperty, u"Unbekannte Eigenschaft "_s + name);
        if (get)
            return Call(*getter, {}, true);
        if (!setter)
            return FMessage.createErrorReply(QDBusError::PropertyReadOnly,
                                             u"Die Eigenschaft "_s + name + u" ist schreibgeschützt"_s);
        const QVariant value = qvariant_cast<QDBusVariant>(FArgs[2]).variant();
        const bool integer = setter->ValueType == VarType::Int32;
        if (value.metaType() != (integer ? QMetaType::fromType<int>() : QMetaType::fromType<QString>()))
            return FMessage.createErrorReply(QDBusError::InvalidArgs,
                                             u"Die Eigenschaft "_s + name + u" erwartet den Typ \""_s +
                                                 QLatin1Char(Signature(setter->ValueType)) + u'"');
        const Variant arg = FromTyped(value, setter->ValueType);
        return Call(*setter, std::span(&arg, 1), false);
    }

    QDBusMessage GetAll(bool Ours)
    {
        QVariantMap values;
        for (const TMemberInfo& getter : FObject.Interface().Members) {
            if (!Ours || getter.Kind != InvokeKind::Get || !IsProperty(getter))
                continue;
            Variant result;
            ErrorInfo info;
            const HRESULT hr = FObject.Invoke(getter.Id, InvokeKind::Get, {}, result, info);
            if (Failed(hr))
                return Answer(FMessage, hr, info);
            values.insert(ToQString(getter.Name), ToDBus(result));
        }
        return FMessage.createReply(QVariant::fromValue(values));
    }

    const QDBusMessage& FMessage;
    TAutoObject& FObject;
    const QVariantList FArgs;
    const QString FTypedInterface;
};

} // namespace

QDBusMessage DispatchObjectCall(const QDBusMessage& Message, TAutoObject& Object, const TTypeLibrary& Library)
{
    return TObjectCall(Message, Object, Library).Reply();
}

QDBusMessage DispatchCheckCall(const QDBusMessage& Message, const TAutoObjectFactory& Factory)
{
    const TInterfaceInfo& interface = Factory.Interface();
    const TOperationInfo* operation = interface.FindOperation(Message.member().toStdString());
    if (!operation)
        return UnknownMethod(Message);
    const TMemberInfo& method = *interface.FindMember(operation->Method);
    const QString expected = ToQString(Signature(method)) + QLatin1String(kOptionsSignature);
    if (Message.signature() != expected)
        return WrongSignature(Message, expected);

    const QVariantList arguments = Message.arguments();
    std::vector<Variant> args;
    for (size_t i = 0; i < method.Params.size(); ++i)
        args.push_back(FromTyped(arguments[qsizetype(i)], method.Params[i].Type));
    const TCheckSettings settings = SettingsFromDBus(arguments.last());
    if (const std::string fault = SettingsFault(interface, settings); !fault.empty())
        return Message.createErrorReply(QDBusError::InvalidArgs, ToQString(fault));
    const TCheckOutcome outcome = RunCheck(Factory, *operation, args, settings);
    return Answer(Message, outcome.Hr, outcome.Info, {ResultsToDBus(outcome.Values)});
}

QDBusMessage DispatchConfirm(const QDBusMessage& Message)
{
    if (Message.signature() != u"s"_s + QLatin1String(kOptionsSignature))
        return WrongSignature(Message, u"s"_s + QLatin1String(kOptionsSignature));
    const QVariantList arguments = Message.arguments();
    const TCheckSettings options = SettingsFromDBus(arguments.last());
    if (const std::string fault = ConfirmOptionsFault(options); !fault.empty())
        return Message.createErrorReply(QDBusError::InvalidArgs, ToQString(fault));
    confirm::Answer answer;
    try {
        answer = RunConfirm(arguments.first().toString().toStdString(), options);
    } catch (const confirm::JournalError& error) {
        return Message.createErrorReply(ToQString(kErrorPrefix + std::string("JournalFailed")),
                                        ToQString(error.what()));
    } catch (const confirm::RequestRefused& error) {
        return Message.createErrorReply(QDBusError::InvalidArgs, ToQString(error.what()));
    }
    QVariantMap reply;
    for (const auto& [key, value] : AnswerFields(answer))
        if (key != "Matches" && key != "Tries" && key != "JournalId" && key != "Qualified")
            reply.insert(ToQString(key), ToQString(value));
    reply.insert(u"Qualified"_s, answer.Qualified);
    static const QMetaType registered = qDBusRegisterMetaType<QMap<QString, QString>>(); // a{ss}
    (void)registered;
    QMap<QString, QString> matches;
    for (const auto& [field, code] : answer.Matches)
        matches.insert(ToQString(field), ToQString(code));
    reply.insert(u"Matches"_s, QVariant::fromValue(matches));
    reply.insert(u"Tries"_s, answer.Tries);
    reply.insert(u"JournalId"_s, qlonglong(answer.JournalId));
    QDBusMessage message = Message.createReply();
    message.setArguments({reply});
    return message;
}

QDBusMessage Answer(const QDBusMessage& Message, HRESULT Hr, const ErrorInfo& Info, const QVariantList& Reply)
{
    if (!Failed(Hr)) {
        QDBusMessage reply = Message.createReply();
        reply.setArguments(Reply);
        return reply;
    }
    const std::string text = Info.Description.empty() ? HResultText(Hr) : ToUtf8(Info.Description);
    return Message.createErrorReply(ToQString(kErrorPrefix + HResultName(Hr)), ToQString(text));
}

QDBusMessage UnknownMethod(const QDBusMessage& Message)
{
    return Message.createErrorReply(QDBusError::UnknownMethod, u"Unbekannte Methode "_s + Message.interface() + u'.' +
                                                                   Message.member() + u" unter "_s + Message.path());
}

QDBusMessage WrongSignature(const QDBusMessage& Message, const QString& Expected)
{
    const QString expected =
        Expected.isEmpty() ? u"keine Argumente"_s : u"Argumente der Signatur \""_s + Expected + u'"';
    return Message.createErrorReply(QDBusError::InvalidArgs, Message.member() + u" erwartet "_s + expected +
                                                                 u", nicht \""_s + Message.signature() + u'"');
}

} // namespace orvel::dbus
