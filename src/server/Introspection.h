#pragma once
// The D-Bus face of a type library: names, signatures and introspection data, all derived from the table.

#include "server/TypeInfo.h"

#include <string>

namespace orvel::dbus {

inline constexpr char kDispatchInterface[] = "OrvelWddx.Dispatch";
inline constexpr char kObjectInterface[] = "OrvelWddx.Object";
inline constexpr char kClassFactoryInterface[] = "OrvelWddx.ClassFactory";
inline constexpr char kChecksInterface[] = "OrvelWddx.Checks";
inline constexpr char kOptionsSignature[] = "a{sv}"; // the settings of a one-off check, and its results
inline constexpr char kErrorPrefix[] = "OrvelWddx.Error.";

// "OrvelWddx.ITarvik"
std::string InterfaceName(const TTypeLibrary& Library, const TInterfaceInfo& Interface);
// "/OrvelWddx" and "/OrvelWddx/Tarvik"
std::string RootPath(const TTypeLibrary& Library);
std::string ClassPath(const TTypeLibrary& Library, const TCoClassInfo& CoClass);

// A parameterless getter or a put is a property; methods and getters with parameters are methods.
bool IsProperty(const TMemberInfo& Member);
char Signature(VarType Type);
std::string Signature(const TMemberInfo& Member); // of the [in] parameters

// The interface element of one interface, members in slot order, each with its DISPID as an annotation.
std::string InterfaceXml(const TTypeLibrary& Library, const TInterfaceInfo& Interface);
// The interface elements every object and every class object carries besides its own interface.
std::string ObjectInterfacesXml();
std::string ClassFactoryXml(const TTypeLibrary& Library, const TCoClassInfo& CoClass);
// OrvelWddx.Checks of a class object: one method per check operation, its parameters and then the settings.
std::string ChecksXml(const TInterfaceInfo& Interface);
// org.freedesktop.DBus.Introspectable and .Peer, and .Properties when asked for.
std::string StandardInterfacesXml(bool WithProperties);
// A complete introspection document around Body.
std::string NodeXml(const std::string& Body);

} // namespace orvel::dbus
