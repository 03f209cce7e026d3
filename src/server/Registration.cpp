#include "server/Registration.h"

#include "platform/Config.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "server/Introspection.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvel {

using namespace Qt::StringLiterals;
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

constexpr const char* kSocketUnit = "orvelwddx-service.socket";
constexpr const char* kServiceUnit = "orvelwddx-service.service";
constexpr const char* kUpdateTimer = "orvelwddx-update-data.timer";
constexpr const char* kUpdateUnit = "orvelwddx-update-data.service";
constexpr const char* kRetryService = "orvelwddx-retry.service";
constexpr const char* kRetryTimer = "orvelwddx-retry.timer";

// A program beside this one (installed) or in its folder of the build tree.
std::string SiblingProgram(const std::string& ProgramPath, const QString& Name, const QString& BuildFolder)
{
    const QDir folder = QFileInfo(QString::fromStdString(ProgramPath)).absoluteDir();
    for (const QString& candidate : {folder.filePath(Name), folder.filePath(u"../"_s + BuildFolder + u'/' + Name)})
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath().toStdString();
    return {};
}

std::string UnitFolder(const std::string& ConfigHome)
{
    return ConfigHome + "/systemd/user";
}

// The socket a desktop's own service listens on: the configured host when it is a loopback address.
std::string ServiceListenAddress()
{
    const std::string host = config::WddxHost();
    if (host.rfind("127.", 0) == 0 || host.rfind("[::1]:", 0) == 0)
        return host;
    return "127.0.0.1:8590";
}

// A path in a unit file's command line, quoted where systemd would split it.
std::string UnitCommand(const std::string& Path)
{
    if (!NeedsQuoting(Path))
        return Path;
    std::string quoted = "\"";
    for (char c : Path)
        quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
    return quoted + "\"";
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

std::string ConfigHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured.toStdString();
    return (QDir::homePath() + QStringLiteral("/.config")).toStdString();
}

std::string ServiceProgram(const std::string& ProgramPath)
{
    return SiblingProgram(ProgramPath, u"orvelwddx-service"_s, u"service"_s);
}

std::string CheckProgram(const std::string& ProgramPath)
{
    return SiblingProgram(ProgramPath, u"orvelwddx-check"_s, u"cli"_s);
}

std::vector<TRegistrationFile> RetryUnitFiles(const std::string& CheckPath, const std::string& ConfigHome)
{
    const std::string folder = UnitFolder(ConfigHome);
    // Persistent: an hour missed while the machine slept is made up at the next start; the delay spreads users.
    return {
        {folder + "/" + kRetryService, "[Unit]\nDescription=OrvelWddx: ask again for pending VAT confirmations\n\n"
                                       "[Service]\nType=oneshot\nExecStart=" +
                                           UnitCommand(CheckPath) + " journal --retry-pending\n"},
        {folder + "/" + kRetryTimer, "[Unit]\nDescription=OrvelWddx: pending VAT confirmations, hourly\n\n"
                                     "[Timer]\nOnCalendar=hourly\nPersistent=true\nRandomizedDelaySec=600\n\n"
                                     "[Install]\nWantedBy=timers.target\n"},
    };
}

std::vector<TRegistrationFile> ServiceUnitFiles(const std::string& ServicePath, const std::string& Listen,
                                                const std::string& ConfigHome)
{
    const std::string folder = UnitFolder(ConfigHome);
    return {
        {folder + "/" + kSocketUnit, "[Unit]\nDescription=OrvelWddx local checking service (socket)\n\n"
                                     "[Socket]\nListenStream=" +
                                         Listen + "\n\n[Install]\nWantedBy=sockets.target\n"},
        {folder + "/" + kServiceUnit,
         "[Unit]\nDescription=OrvelWddx local checking service\nRequires=" + std::string(kSocketUnit) +
             "\nAfter=" + kSocketUnit + "\n\n[Service]\nExecStart=" + UnitCommand(ServicePath) + "\n"},
        // The official bank directories, kept current in the user's own data folder as the package's system
        // timer keeps the system's.
        {folder + "/" + kUpdateUnit, "[Unit]\nDescription=OrvelWddx: fetch, verify and install the official bank "
                                     "directories\n\n[Service]\nType=oneshot\nNice=10\nExecStart=" +
                                         UnitCommand(ServicePath) + " --update-data\n"},
        {folder + "/" + kUpdateTimer, "[Unit]\nDescription=OrvelWddx: the official bank directories, weekly\n\n"
                                      "[Timer]\nOnCalendar=weekly\nRandomizedDelaySec=6h\nPersistent=true\n\n"
                                      "[Install]\nWantedBy=timers.target\n"},
    };
}

void ActivateServiceUnits()
{
    // Without a user manager (no systemd, CI) systemctl fails at once; that is fine: the socket is enabled and
    // starts with the next log-in. Its own messages ("Failed to connect to bus") would only alarm.
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("--user"), QStringLiteral("daemon-reload")},
          QStringList{QStringLiteral("--user"), QStringLiteral("start"), QString::fromLatin1(kSocketUnit),
                      QString::fromLatin1(kUpdateTimer), QString::fromLatin1(kRetryTimer)}}) {
        QProcess systemctl;
        systemctl.setStandardOutputFile(QProcess::nullDevice());
        systemctl.setStandardErrorFile(QProcess::nullDevice());
        systemctl.start(QStringLiteral("systemctl"), arguments);
        if (!systemctl.waitForFinished(5000))
            systemctl.kill();
        systemctl.waitForFinished(1000);
    }
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

    const std::string service = ServiceProgram(ProgramPath);
    if (service.empty())
        return;
    const std::string config = ConfigHome();
    for (const TRegistrationFile& file : ServiceUnitFiles(service, ServiceListenAddress(), config))
        if (!WriteAtomically(file).isEmpty())
            throw RegistryEntryError();
    // What "systemctl --user enable" does: the socket and the timers are wanted at every log-in.
    const auto want = [&config](const char* target, const char* unit) {
        const std::filesystem::path wants = UnitFolder(config) + "/" + target + ".target.wants/" + unit;
        std::error_code error;
        std::filesystem::create_directories(wants.parent_path(), error);
        if (!std::filesystem::is_symlink(wants))
            std::filesystem::create_symlink(std::string("../") + unit, wants, error);
        if (error)
            throw RegistryEntryError();
    };
    want("sockets", kSocketUnit);
    want("timers", kUpdateTimer);

    const std::string check = CheckProgram(ProgramPath);
    if (check.empty())
        return;
    for (const TRegistrationFile& file : RetryUnitFiles(check, config))
        if (!WriteAtomically(file).isEmpty())
            throw RegistryEntryError();
    want("timers", kRetryTimer);
}

void UnregisterServer(const TComServer& Server)
{
    // The classes first, then the type library, as registering wrote them.
    const std::string home = DataHome();
    std::vector<TRegistrationFile> files = ClassFiles(Server, {}, home);
    for (TRegistrationFile& file : TypeLibraryFiles(Server.TypeLibrary(), home))
        files.push_back(std::move(file));
    const std::string config = ConfigHome();
    files.push_back({UnitFolder(config) + "/sockets.target.wants/" + kSocketUnit, {}});
    files.push_back({UnitFolder(config) + "/timers.target.wants/" + kUpdateTimer, {}});
    for (TRegistrationFile& file : ServiceUnitFiles({}, {}, config))
        files.push_back(std::move(file));
    files.push_back({UnitFolder(config) + "/timers.target.wants/" + kRetryTimer, {}});
    for (TRegistrationFile& file : RetryUnitFiles({}, config))
        files.push_back(std::move(file));
    for (const TRegistrationFile& file : files) {
        std::error_code error;
        std::filesystem::remove(file.Path, error);
        if (error)
            throw Error(Ansi("Der Eintrag kann nicht entfernt werden: " + file.Path + ": " + error.message()));
    }
}

} // namespace orvel
