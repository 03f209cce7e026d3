#pragma once
// Values between D-Bus and the automation layer. Numbers and text cross unchanged; converting one into the other
// is the automation runtime's business (VariantChangeType), so clients see the same rules late and early bound.

#include "server/Checks.h"

#include <QString>
#include <QVariant>

#include <optional>
#include <string_view>

namespace orvel::dbus {

QString ToQString(std::string_view Utf8);

// A result as D-Bus carries it; a member without a value answers empty text.
QVariant ToDBus(const Variant& Value);

// An argument of Invoke: booleans, integers, doubles and strings, a variant holding a variant as what it holds.
// Integers beyond 32 bits come as doubles, so that the conversion to a long reports the overflow. Anything else
// (arrays, structures, object paths) is no automation value: nullopt.
std::optional<Variant> FromDBus(const QVariant& Value);

// An argument of a typed method or a property put, whose D-Bus type ('i' or 's') was checked against the table.
Variant FromTyped(const QVariant& Value, VarType Type);

// The elements of an "av" argument, whether it came from the wire (QDBusArgument) or from this process.
QVariantList ArrayElements(const QVariant& Value);

// The settings of a one-off check ("a{sv}"): integers and text as they are; a value of any other type stays empty,
// which no setting takes.
TCheckSettings SettingsFromDBus(const QVariant& Value);
// Its results ("a{sv}"): integers, text, and lists as "as".
QVariantMap ResultsToDBus(const std::vector<TCheckValue>& Values);

// The same both ways round, for a client: the settings as "a{sv}", and the reply's results in the order Operation
// writes them (a missing one reads as empty text).
QVariantMap SettingsToDBus(const TCheckSettings& Settings);
std::vector<TCheckValue> ResultsFromDBus(const QVariant& Value, const TOperationInfo& Operation);

} // namespace orvel::dbus
