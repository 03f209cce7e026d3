#pragma once
// Delivers D-Bus calls to automation objects. Typed methods and the Properties interface take one path: each call
// becomes (member, kind, arguments) of the object's interface table and goes through TAutoObject::Invoke.

#include "server/ComServer.h"

#include <QDBusMessage>

namespace orvel::dbus {

// The reply to a call on Object through its typed interface, org.freedesktop.DBus.Properties or
// OrvelWddx.Dispatch; any other member gets UnknownMethod. References (OrvelWddx.Object) are the caller's.
QDBusMessage DispatchObjectCall(const QDBusMessage& Message, TAutoObject& Object, const TTypeLibrary& Library);

// A call of OrvelWddx.Checks on the class object of Factory: one check operation on an object of its own, which is
// gone when the reply is.
QDBusMessage DispatchCheckCall(const QDBusMessage& Message, const TAutoObjectFactory& Factory);
// Confirm(s VatId, a{sv} Options) -> a{sv}, the qualified confirmation on the VAT id class; a journal that cannot
// be written is the error OrvelWddx.Error.JournalFailed.
QDBusMessage DispatchConfirm(const QDBusMessage& Message);

// A finished call: its reply arguments, or the failure as an OrvelWddx.Error.<HRESULT name> whose message is the
// error information's description.
QDBusMessage Answer(const QDBusMessage& Message, HRESULT Hr, const ErrorInfo& Info, const QVariantList& Reply = {});

// The standard errors for calls that do not fit, worded here only.
QDBusMessage UnknownMethod(const QDBusMessage& Message);
QDBusMessage WrongSignature(const QDBusMessage& Message, const QString& Expected);

} // namespace orvel::dbus
