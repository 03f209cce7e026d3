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

} // namespace orvel::dbus
