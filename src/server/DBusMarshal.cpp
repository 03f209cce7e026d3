#include "server/DBusMarshal.h"

#include <QDBusArgument>
#include <QDBusVariant>

#include <cstdint>
#include <limits>

namespace orvel::dbus {

QString ToQString(std::string_view Utf8)
{
    return QString::fromUtf8(Utf8.data(), qsizetype(Utf8.size()));
}

QVariant ToDBus(const Variant& Value)
{
    switch (Value.Type()) {
    case VarType::Empty:
        return QString();
    case VarType::Bool:
        return std::get<bool>(Value);
    case VarType::Int32:
        return int(std::get<int32_t>(Value));
    case VarType::Double:
        return std::get<double>(Value);
    case VarType::Text:
        return QString::fromStdU16String(std::get<WideString>(Value));
    }
    return {};
}

std::optional<Variant> FromDBus(const QVariant& Value)
{
    switch (Value.metaType().id()) {
    case QMetaType::Bool:
        return Variant(Value.toBool());
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
        return Variant(int32_t(Value.toInt()));
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const double number = Value.toDouble();
        const bool fits =
            number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max();
        return fits ? Variant(int32_t(number)) : Variant(number);
    }
    case QMetaType::Double:
        return Variant(Value.toDouble());
    case QMetaType::QString:
        return Variant(Value.toString().toStdU16String());
    default:
        if (Value.metaType() == QMetaType::fromType<QDBusVariant>())
            return FromDBus(qvariant_cast<QDBusVariant>(Value).variant());
        return std::nullopt;
    }
}

Variant FromTyped(const QVariant& Value, VarType Type)
{
    if (Type == VarType::Int32)
        return Variant(int32_t(Value.toInt()));
    return Variant(Value.toString().toStdU16String());
}

QVariantList ArrayElements(const QVariant& Value)
{
    if (Value.metaType() != QMetaType::fromType<QDBusArgument>())
        return Value.toList();
    QVariantList list;
    const QDBusArgument argument = qvariant_cast<QDBusArgument>(Value);
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant element;
        argument >> element;
        list << element.variant();
    }
    argument.endArray();
    return list;
}

namespace {

// An "a{sv}" from the wire or from this process.
QVariantMap MapOf(const QVariant& Value)
{
    return Value.metaType() == QMetaType::fromType<QDBusArgument>()
               ? qdbus_cast<QVariantMap>(qvariant_cast<QDBusArgument>(Value))
               : Value.toMap();
}

} // namespace

TCheckSettings SettingsFromDBus(const QVariant& Value)
{
    const QVariantMap map = MapOf(Value);
    TCheckSettings settings;
    for (auto entry = map.begin(); entry != map.end(); ++entry) {
        const QVariant& value = entry.value();
        Variant setting;
        if (value.metaType() == QMetaType::fromType<int>())
            setting = int32_t(value.toInt());
        else if (value.metaType() == QMetaType::fromType<QString>())
            setting = value.toString().toStdU16String();
        settings.emplace_back(entry.key().toStdString(), std::move(setting));
    }
    return settings;
}

QVariantMap ResultsToDBus(const std::vector<TCheckValue>& Values)
{
    QVariantMap map;
    for (const TCheckValue& value : Values) {
        QStringList list;
        for (const WideString& element : value.List)
            list << QString::fromStdU16String(element);
        map.insert(ToQString(value.Name), value.IsList ? QVariant(list) : ToDBus(value.Value));
    }
    return map;
}

QVariantMap SettingsToDBus(const TCheckSettings& Settings)
{
    QVariantMap map;
    for (const auto& [name, value] : Settings)
        map.insert(QString::fromStdString(name), ToDBus(value));
    return map;
}

std::vector<TCheckValue> ResultsFromDBus(const QVariant& Value, const TOperationInfo& Operation)
{
    const QVariantMap map = MapOf(Value);
    std::vector<TCheckValue> values;
    for (std::string_view name : Operation.Writes) {
        const QVariant value = map.value(ToQString(name));
        TCheckValue result{name};
        if (value.metaType() == QMetaType::fromType<QDBusArgument>() ||
            value.metaType() == QMetaType::fromType<QStringList>()) {
            result.IsList = true;
            const QStringList list = value.metaType() == QMetaType::fromType<QStringList>()
                                         ? value.toStringList()
                                         : qdbus_cast<QStringList>(qvariant_cast<QDBusArgument>(value));
            for (const QString& element : list)
                result.List.push_back(element.toStdU16String());
        } else if (value.metaType() == QMetaType::fromType<int>()) {
            result.Value = int32_t(value.toInt());
        } else {
            result.Value = value.toString().toStdU16String();
        }
        values.push_back(std::move(result));
    }
    return values;
}

} // namespace orvel::dbus
