#include "server/Introspection.h"
#include "transport/Xml.h"

namespace orvel::dbus {
namespace {

std::string Annotation(std::string_view indent, std::string_view name, std::string_view value)
{
    return std::string(indent) + "<annotation name=\"" + std::string(name) + "\" value=\"" + XmlEscape(value) +
           "\"/>\n";
}

std::string Arg(std::string_view name, std::string_view type, std::string_view direction,
                const std::string& annotations = {})
{
    const std::string element = "      <arg name=\"" + std::string(name) + "\" type=\"" + std::string(type) +
                                "\" direction=\"" + std::string(direction) + "\"";
    return annotations.empty() ? element + "/>\n" : element + ">\n" + annotations + "      </arg>\n";
}

std::string DispIdAnnotation(DispId Id)
{
    return Annotation("      ", "OrvelWddx.DispId", std::to_string(Id));
}

bool HasPut(const TInterfaceInfo& Interface, const TMemberInfo& Getter)
{
    return Interface.FindMember(Getter.Id, InvokeKind::Put) != nullptr;
}

} // namespace

std::string InterfaceName(const TTypeLibrary& Library, const TInterfaceInfo& Interface)
{
    return std::string(Library.Name) + "." + std::string(Interface.Name);
}

std::string RootPath(const TTypeLibrary& Library)
{
    // Built by appending: g++ 12 at -O2 misreads "literal" + std::string as an overlapping memcpy (-Wrestrict).
    std::string path(1, '/');
    path += Library.Name;
    return path;
}

std::string ClassPath(const TTypeLibrary& Library, const TCoClassInfo& CoClass)
{
    return RootPath(Library) + "/" + std::string(CoClass.Name);
}

bool IsProperty(const TMemberInfo& Member)
{
    return Member.Kind == InvokeKind::Put || (Member.Kind == InvokeKind::Get && Member.Params.empty());
}

char Signature(VarType Type)
{
    return Type == VarType::Int32 ? 'i' : 's';
}

std::string Signature(const TMemberInfo& Member)
{
    std::string signature;
    for (const TParamInfo& param : Member.Params)
        signature.push_back(Signature(param.Type));
    return signature;
}

std::string InterfaceXml(const TTypeLibrary& Library, const TInterfaceInfo& Interface)
{
    std::string xml = "  <interface name=\"" + InterfaceName(Library, Interface) + "\">\n";
    xml += Annotation("    ", "OrvelWddx.Guid", Interface.Guid);
    xml += Annotation("    ", "OrvelWddx.Version",
                      std::to_string(Interface.Version.Major) + "." + std::to_string(Interface.Version.Minor));
    xml += Annotation("    ", "OrvelWddx.HelpString", Interface.HelpString);
    for (const TMemberInfo& member : Interface.Members) {
        if (member.Kind == InvokeKind::Put)
            continue; // part of the property its getter introduced
        if (IsProperty(member)) {
            xml += "    <property name=\"" + std::string(member.Name) + "\" type=\"" +
                   std::string(1, Signature(member.ValueType)) + "\" access=\"" +
                   (HasPut(Interface, member) ? "readwrite" : "read") + "\">\n";
            xml += DispIdAnnotation(member.Id);
            // Properties change only through the object's own calls; no signal tells about it.
            xml += Annotation("      ", "org.freedesktop.DBus.Property.EmitsChangedSignal", "false");
            xml += "    </property>\n";
            continue;
        }
        xml += "    <method name=\"" + std::string(member.Name) + "\">\n";
        for (const TParamInfo& param : member.Params) {
            // Late-bound callers may leave an optional parameter out; it then holds empty text.
            xml += Arg(param.Name, std::string(1, Signature(param.Type)), "in",
                       param.Optional ? Annotation("        ", "OrvelWddx.DefaultValue", "") : std::string());
        }
        if (member.Kind == InvokeKind::Get)
            xml += Arg("Value", std::string(1, Signature(member.ValueType)), "out");
        xml += DispIdAnnotation(member.Id);
        xml += "    </method>\n";
    }
    xml += "  </interface>\n";
    return xml;
}

std::string ObjectInterfacesXml()
{
    return std::string("  <interface name=\"") + kDispatchInterface +
           "\">\n"
           "    <method name=\"GetIDsOfNames\">\n"
           "      <arg name=\"names\" type=\"as\" direction=\"in\"/>\n"
           "      <arg name=\"dispids\" type=\"ai\" direction=\"out\"/>\n"
           "    </method>\n"
           "    <method name=\"Invoke\">\n"
           "      <arg name=\"dispid\" type=\"i\" direction=\"in\"/>\n"
           "      <arg name=\"kind\" type=\"s\" direction=\"in\"/>\n"
           "      <arg name=\"args\" type=\"av\" direction=\"in\"/>\n"
           "      <arg name=\"result\" type=\"v\" direction=\"out\"/>\n"
           "    </method>\n"
           "  </interface>\n"
           "  <interface name=\"" +
           kObjectInterface +
           "\">\n"
           "    <method name=\"Release\"/>\n"
           "  </interface>\n";
}

std::string ClassFactoryXml(const TTypeLibrary& Library, const TCoClassInfo& CoClass)
{
    return std::string("  <interface name=\"") + kClassFactoryInterface + "\">\n" +
           Annotation("    ", "OrvelWddx.ClassId", CoClass.Guid) +
           Annotation("    ", "OrvelWddx.ProgID", Library.ProgID(CoClass)) +
           Annotation("    ", "OrvelWddx.HelpString", CoClass.HelpString) +
           "    <method name=\"CreateInstance\">\n"
           "      <arg name=\"object\" type=\"o\" direction=\"out\"/>\n"
           "    </method>\n"
           "  </interface>\n";
}

std::string ChecksXml(const TInterfaceInfo& Interface)
{
    std::string xml = std::string("  <interface name=\"") + kChecksInterface + "\">\n";
    for (const TOperationInfo& operation : Interface.Operations) {
        xml += "    <method name=\"" + std::string(operation.Method) + "\">\n";
        for (const TParamInfo& param : Interface.FindMember(operation.Method)->Params)
            xml += Arg(param.Name, std::string(1, Signature(param.Type)), "in");
        xml += Arg("aOptions", kOptionsSignature, "in");
        xml += Arg("Results", kOptionsSignature, "out");
        std::string writes;
        for (std::string_view name : operation.Writes) {
            if (!writes.empty())
                writes += ' ';
            writes += name;
        }
        xml += Annotation("      ", "OrvelWddx.Results", writes);
        xml += "    </method>\n";
    }
    // The qualified confirmation stands beside the simple check, outside the type library.
    if (Interface.Name == "IUStID")
        xml += "    <method name=\"Confirm\">\n" + Arg("VatId", "s", "in") + Arg("Options", kOptionsSignature, "in") +
               Arg("Results", kOptionsSignature, "out") + "    </method>\n";
    xml += "  </interface>\n";
    return xml;
}

std::string StandardInterfacesXml(bool WithProperties)
{
    std::string xml;
    if (WithProperties)
        xml += "  <interface name=\"org.freedesktop.DBus.Properties\">\n"
               "    <method name=\"Get\">\n"
               "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
               "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
               "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"
               "    </method>\n"
               "    <method name=\"Set\">\n"
               "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
               "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
               "      <arg name=\"value\" type=\"v\" direction=\"in\"/>\n"
               "    </method>\n"
               "    <method name=\"GetAll\">\n"
               "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
               "      <arg name=\"values\" type=\"a{sv}\" direction=\"out\"/>\n"
               "    </method>\n"
               "  </interface>\n";
    xml += "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
           "    <method name=\"Introspect\">\n"
           "      <arg name=\"xml_data\" type=\"s\" direction=\"out\"/>\n"
           "    </method>\n"
           "  </interface>\n"
           "  <interface name=\"org.freedesktop.DBus.Peer\">\n"
           "    <method name=\"Ping\"/>\n"
           "    <method name=\"GetMachineId\">\n"
           "      <arg name=\"machine_uuid\" type=\"s\" direction=\"out\"/>\n"
           "    </method>\n"
           "  </interface>\n";
    return xml;
}

std::string NodeXml(const std::string& Body)
{
    return "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
           "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
           "<node>\n" +
           Body + "</node>\n";
}

} // namespace orvel::dbus
