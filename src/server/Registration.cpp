#include "server/Registration.h"

#include "platform/Registry.h"
#include "platform/Text.h"
#include "server/Introspection.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvel {
namespace {

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return in ? content.str() : std::string();
}

// Writes through a temporary file renamed into place, so the bus never reads half a file. Returns the system's
// message on failure, empty text on success.
QString WriteAtomically(const TRegistrationFile& File)
{
    const QString path = QString::fromStdString(File.Path);
    if (QFileInfo::exists(path) && ReadFile(File.Path) == File.Content)
        return {};
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("Verzeichnis kann nicht angelegt werden: ") + QFileInfo(path).absolutePath();
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(File.Content.data(), qint64(File.Content.size())) != qint64(File.Content.size()) || !file.commit())
        return file.errorString();
    return {};
}

bool NeedsQuoting(const std::string& path)
{
    return path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._+-") !=
           std::string::npos;
}

// The server's command in an activation file, which the bus splits as a shell would.
std::string ExecCommand(const std::string& ProgramPath)
{
    if (!NeedsQuoting(ProgramPath))
        return ProgramPath + " -Embedding";
    std::string quoted = "'";
    for (char c : ProgramPath)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "' -Embedding";
}

// Paths with blanks are quoted, as the platform expects where it has no short form.
std::string LocalServerPath(const std::string& ProgramPath)
{
    return ProgramPath.find(' ') == std::string::npos ? ProgramPath : "\"" + ProgramPath + "\"";
}

} // namespace

RegistryEntryError::RegistryEntryError()
    : Error(Ansi("Fehler beim Erstellen eines Eintrages in der Systemregistrierung"))
{
}

std::string DataHome()
{
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured.toStdString();
    return (QDir::homePath() + QStringLiteral("/.local/share")).toStdString();
}

std::vector<TRegistrationFile> TypeLibraryFiles(const TTypeLibrary& Library, const std::string& DataHome)
{
    std::vector<TRegistrationFile> files;
    for (const TInterfaceInfo& info : Library.Interfaces)
        files.push_back({DataHome + "/dbus-1/interfaces/" + dbus::InterfaceName(Library, info) + ".xml",
                         dbus::NodeXml(dbus::InterfaceXml(Library, info))});
    return files;
}

std::vector<TRegistrationFile> ClassFiles(const TComServer& Server, const std::string& ProgramPath,
                                          const std::string& DataHome)
{
    const TTypeLibrary& library = Server.TypeLibrary();
    TRegFile entries;
    auto add = [&entries](const std::string& key, std::string_view value) {
        entries.FindOrAdd("HKEY_CLASSES_ROOT\\" + key).Set("", TRegValue::String(std::string(value)));
    };
    std::vector<TRegistrationFile> services;
    for (const auto& factory : Server.Factories()) {
        const std::string clsid(factory->CoClass().Guid);
        const std::string& progId = factory->ProgID();
        const std::string_view description = factory->CoClass().HelpString;
        add("CLSID\\" + clsid, description);
        add("CLSID\\" + clsid + "\\LocalServer32", LocalServerPath(ProgramPath));
        add(progId, description);
        add(progId + "\\Clsid", clsid);
        add("CLSID\\" + clsid + "\\ProgID", progId);
        services.push_back({DataHome + "/dbus-1/services/" + progId + ".service",
                            "[D-BUS Service]\nName=" + progId + "\nExec=" + ExecCommand(ProgramPath) + "\n"});
    }
    std::vector<TRegistrationFile> files{
        {DataHome + "/" + std::string(library.Name) + "/classes.reg", FormatRegFile(entries)}};
    files.insert(files.end(), services.begin(), services.end());
    return files;
}

void RegisterServer(const TComServer& Server, const std::string& ProgramPath)
{
    const std::string home = DataHome();
    for (const TRegistrationFile& file : TypeLibraryFiles(Server.TypeLibrary(), home)) {
        const QString error = WriteAtomically(file);
        if (!error.isEmpty())
            throw Error(Ansi("Die Typbibliothek kann nicht registriert werden: " + file.Path + ": ") +
                        Narrow(error.toStdU16String()));
    }
    for (const TRegistrationFile& file : ClassFiles(Server, ProgramPath, home))
        if (!WriteAtomically(file).isEmpty())
            throw RegistryEntryError();
}

void UnregisterServer(const TComServer& Server)
{
    // The classes first, then the type library, as registering wrote them.
    const std::string home = DataHome();
    std::vector<TRegistrationFile> files = ClassFiles(Server, {}, home);
    for (TRegistrationFile& file : TypeLibraryFiles(Server.TypeLibrary(), home))
        files.push_back(std::move(file));
    for (const TRegistrationFile& file : files) {
        std::error_code error;
        std::filesystem::remove(file.Path, error);
        if (error)
            throw Error(Ansi("Der Eintrag kann nicht entfernt werden: " + file.Path + ": " + error.message()));
    }
}

} // namespace orvel
