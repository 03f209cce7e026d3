#include "service/ServiceConfig.h"

#include "confirm/Journal.h"
#include "feeds/Sources.h"
#include "rules/BankDirectory.h"
#include "rules/DataFolders.h"
#include "rules/PostalData.h"
#include "service/Messages.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace orvel::service {

namespace {

const char* const kUsageEnglish =
    "Usage: orvelwddx-service [options]\n"
    "  --listen ADDR:PORT     plain HTTP (repeatable; default 127.0.0.1:8590, IPv6 as [::1]:8590)\n"
    "  --tls-listen ADDR:PORT HTTPS (repeatable; default 127.0.0.1:8591 when a certificate is given)\n"
    "  --tls-cert FILE        PEM certificate chain for HTTPS\n"
    "  --tls-key FILE         PEM private key for HTTPS\n"
    "  --bank-file FILE       exactly this bank directory (Bundesbank fixed-width file); default: the built-in\n"
    "                         data, or a newer Bundesbank file installed with --install-bank-file\n"
    "  --install-bank-file FILE  check a Bundesbank file (blz_YYYYMMDD.txt) and install it for the user; a running\n"
    "                         service switches to it on its day\n"
    "  --valid-from YYYY-MM-DD   the installed file's first day when its name does not say it\n"
    "  --update-data [bundesbank|scl|oenb]...  fetch, verify and install the official bank directories (none\n"
    "                         named: all three), then exit; a running service takes them without a restart\n"
    "  --rollback-data SOURCE take the newest installed edition of bundesbank, scl or oenb back\n"
    "  --force                install an edition that looks implausible (too small, older, a tenth gone)\n"
    "  --data-dir DIR         the one folder of the official directories, read and installed into\n"
    "                         (default $ORVELWDDX_DATA_DIR, else $XDG_DATA_HOME/OrvelWddx, then\n"
    "                         /var/lib/orvelwddx)\n"
    "  --BundesbankUrl URL, --SclUrl URL, --OenbUrl URL  download addresses (default the official ones;\n"
    "                         ORVELWDDX_BUNDESBANK_URL, ORVELWDDX_SCL_URL, ORVELWDDX_OENB_URL override the file)\n"
    "  --fetch-timeout SECONDS   a download without data for this long is given up (default 30)\n"
    "  --users-file FILE      lines user:hash, read again on SIGHUP and once a minute; without it everyone on\n"
    "                         this machine is answered\n"
    "  --postal-file FILE     postal codes and places (default: postleitzahlen.tsv installed with the service)\n"
    "  --threads N            threads per listening address (default 2)\n"
    "  --timeout SECONDS      idle connections, and requests not complete in this time whose body does not keep\n"
    "                         coming at 1 KiB/s, are closed (default 10)\n"
    "  --max-body BYTES       larger request bodies are refused unread (default 65536)\n"
    "  --connections N        open connections per listening address (default 1000)\n"
    "  --connections-per-client N  of those, from one client address, IPv6 by its /64 (default 64)\n"
    "  --log                  one line per request on standard error\n"
    "  --allow-anyone         listen beyond this machine without a users file (other machines are still refused)\n"
    "  --require-tls-for-remote  refuse logins of other machines over plain HTTP, where passwords travel unencrypted\n"
    "  --allow-readable-key   use a TLS key that others than its owner may read\n"
    "  --busy-answers N       the next N confirmations (checkVatApprox, eVatR) answer that the service is busy\n"
    "  --OwnVatId ID          this business's VAT id, the requester of every qualified confirmation asked through\n"
    "                         /api/v1/vat/confirmations (none: they are refused)\n"
    "  --journal FILE         the journal of those confirmations (default\n"
    "                         $XDG_DATA_HOME/OrvelWddx/journal.sqlite, the one orvelwddx-check journal reads)\n"
    "  --config FILE          settings file (default $XDG_CONFIG_HOME/OrvelWddx/service.conf)\n"
    "  --hash-password        read a password from standard input, print its salted hash\n"
    "  --version              the version and the data in use: each source's edition (valid from, until,\n"
    "                         fetched at, whether a newer one is available)\n";

const char* const kUsageGerman =
    "Aufruf: orvelwddx-service [Optionen]\n"
    "  --listen ADR:PORT      einfaches HTTP (mehrfach; Standard 127.0.0.1:8590, IPv6 als [::1]:8590)\n"
    "  --tls-listen ADR:PORT  HTTPS (mehrfach; Standard 127.0.0.1:8591, wenn ein Zertifikat angegeben ist)\n"
    "  --tls-cert DATEI       PEM-Zertifikatskette für HTTPS\n"
    "  --tls-key DATEI        privater PEM-Schlüssel für HTTPS\n"
    "  --bank-file DATEI      genau dieses Bankverzeichnis (Bundesbank-Datei mit festen Spalten); Standard: die\n"
    "                         eingebauten Daten oder eine neuere, mit --install-bank-file installierte Datei\n"
    "  --install-bank-file DATEI  eine Bundesbank-Datei (blz_JJJJMMTT.txt) prüfen und für den Benutzer\n"
    "                         installieren; ein laufender Dienst wechselt an ihrem Tag zu ihr\n"
    "  --valid-from JJJJ-MM-TT   erster Gültigkeitstag der Datei, wenn ihr Name ihn nicht nennt\n"
    "  --update-data [bundesbank|scl|oenb]...  die amtlichen Bankverzeichnisse laden, prüfen und installieren\n"
    "                         (ohne Angabe: alle drei), dann enden; ein laufender Dienst übernimmt sie ohne Neustart\n"
    "  --rollback-data QUELLE die neueste installierte Ausgabe von bundesbank, scl oder oenb zurücknehmen\n"
    "  --force                eine unplausibel wirkende Ausgabe trotzdem installieren (zu klein, älter, ein Zehntel\n"
    "                         weniger)\n"
    "  --data-dir ORDNER      der eine Ordner der amtlichen Verzeichnisse, gelesen und installiert (Standard\n"
    "                         $ORVELWDDX_DATA_DIR, sonst $XDG_DATA_HOME/OrvelWddx, dann /var/lib/orvelwddx)\n"
    "  --BundesbankUrl URL, --SclUrl URL, --OenbUrl URL  Download-Adressen (Standard die amtlichen;\n"
    "                         ORVELWDDX_BUNDESBANK_URL, ORVELWDDX_SCL_URL, ORVELWDDX_OENB_URL gehen der Datei vor)\n"
    "  --fetch-timeout SEKUNDEN  ein Download, der so lange keine Daten liefert, wird aufgegeben (Standard 30)\n"
    "  --users-file DATEI     Zeilen benutzer:hash, neu gelesen bei SIGHUP und einmal je Minute; ohne sie\n"
    "                         bekommt jeder auf diesem Rechner Antwort\n"
    "  --postal-file DATEI    Postleitzahlen und Orte (Standard: die mit dem Dienst installierte\n"
    "                         postleitzahlen.tsv)\n"
    "  --threads N            Threads je Adresse (Standard 2)\n"
    "  --timeout SEKUNDEN     untätige Verbindungen und Anfragen, die in dieser Zeit nicht vollständig sind und\n"
    "                         deren Rumpf nicht mit 1 KiB/s weiterkommt, werden geschlossen (Standard 10)\n"
    "  --max-body BYTES       größere Anfrage-Rümpfe werden ungelesen abgewiesen (Standard 65536)\n"
    "  --connections N        offene Verbindungen je Adresse (Standard 1000)\n"
    "  --connections-per-client N  davon von einer Client-Adresse, IPv6 nach ihrem /64 (Standard 64)\n"
    "  --log                  eine Zeile je Anfrage auf der Standardfehlerausgabe\n"
    "  --allow-anyone         über diesen Rechner hinaus lauschen, ohne Benutzerdatei (andere Rechner werden\n"
    "                         dennoch abgewiesen)\n"
    "  --require-tls-for-remote  Anmeldungen anderer Rechner über einfaches HTTP abweisen, wo Passwörter\n"
    "                         unverschlüsselt reisen\n"
    "  --allow-readable-key   einen TLS-Schlüssel verwenden, den auch andere als sein Besitzer lesen dürfen\n"
    "  --busy-answers N       die nächsten N Bestätigungen (checkVatApprox, eVatR) melden einen ausgelasteten\n"
    "                         Dienst\n"
    "  --OwnVatId ID          die USt-IdNr. dieses Unternehmens, Anfragender jeder qualifizierten Bestätigung über\n"
    "                         /api/v1/vat/confirmations (ohne sie werden diese abgewiesen)\n"
    "  --journal DATEI        das Journal dieser Bestätigungen (Standard\n"
    "                         $XDG_DATA_HOME/OrvelWddx/journal.sqlite, das orvelwddx-check journal liest)\n"
    "  --config DATEI         Einstellungsdatei (Standard $XDG_CONFIG_HOME/OrvelWddx/service.conf)\n"
    "  --hash-password        ein Passwort von der Standardeingabe lesen, seinen gesalzenen Hash ausgeben\n"
    "  --version              die Version und die Daten in Gebrauch: die Ausgabe jeder Quelle (gültig ab, bis,\n"
    "                         geladen am, ob eine neuere verfügbar ist)\n";

std::string Home(const char* variable, const char* fallback)
{
    if (const char* value = std::getenv(variable); value && *value)
        return value;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/" + fallback;
}

std::string Trim(const std::string& text)
{
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

unsigned Number(const std::string& key, const std::string& value, unsigned min, unsigned max)
{
    char* end = nullptr;
    const unsigned long number = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || *end || number < min || number > max)
        throw std::runtime_error(Say("{}: {} to {} expected", {key, std::to_string(min), std::to_string(max)}));
    return unsigned(number);
}

bool Flag(const std::string& key, const std::string& value)
{
    if (value == "1" || value == "true" || value == "yes" || value == "on")
        return true;
    if (value == "0" || value == "false" || value == "no" || value == "off")
        return false;
    throw std::runtime_error(Say("{}: true or false expected", {key}));
}

std::string Source(const std::string& name)
{
    if (!feeds::SourceNamed(name))
        throw std::runtime_error(Say("unknown data source {} (bundesbank, scl or oenb)", {name}));
    return name;
}

// replace: the first value from a new source replaces the list instead of adding to it.
void Set(ServiceConfig& config, const std::string& key, const std::string& value, std::vector<std::string>& replaced)
{
    const auto list = [&](std::vector<std::string>& target) {
        if (std::find(replaced.begin(), replaced.end(), key) == replaced.end()) {
            target.clear();
            replaced.push_back(key);
        }
        target.push_back(value);
    };
    if (key == "listen")
        list(config.Listen);
    else if (key == "tls-listen")
        list(config.TlsListen);
    else if (key == "tls-cert")
        config.TlsCert = value;
    else if (key == "tls-key")
        config.TlsKey = value;
    else if (key == "bank-file")
        config.BankFile = value;
    else if (key == "install-bank-file")
        config.InstallBankFile = value;
    else if (key == "valid-from")
        config.ValidFrom = value;
    else if (key == "rollback-data")
        config.RollbackData = Source(value);
    else if (key == "force")
        config.Force = Flag(key, value);
    else if (key == "data-dir")
        config.DataDir = value;
    else if (key == "BundesbankUrl")
        config.BundesbankUrl = value;
    else if (key == "SclUrl")
        config.SclUrl = value;
    else if (key == "OenbUrl")
        config.OenbUrl = value;
    else if (key == "fetch-timeout")
        config.FetchTimeout = Number(key, value, 1, 600);
    else if (key == "users-file")
        config.UsersFile = value;
    else if (key == "postal-file")
        config.PostalFile = value;
    else if (key == "threads")
        config.Threads = Number(key, value, 1, 256);
    else if (key == "timeout")
        config.Timeout = Number(key, value, 1, 3600);
    else if (key == "max-body")
        config.MaxBody = Number(key, value, 1024, 1u << 30);
    else if (key == "connections")
        config.Connections = Number(key, value, 1, 100000);
    else if (key == "connections-per-client")
        config.ConnectionsPerClient = Number(key, value, 1, 100000);
    else if (key == "log")
        config.Log = Flag(key, value);
    else if (key == "allow-anyone")
        config.AllowAnyone = Flag(key, value);
    else if (key == "require-tls-for-remote")
        config.RequireTlsForRemote = Flag(key, value);
    else if (key == "allow-readable-key")
        config.AllowReadableKey = Flag(key, value);
    else if (key == "busy-answers")
        config.BusyAnswers = Number(key, value, 0, 1000000);
    else if (key == "OwnVatId")
        config.OwnVatId = value;
    else if (key == "journal")
        config.Journal = value;
    else
        throw std::runtime_error(Say("unknown setting {}", {key}));
}

void ReadFile(ServiceConfig& config, const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error(Say("cannot read the settings file {}", {path}));
    config.ConfigFile = path;
    std::vector<std::string> replaced;
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            throw std::runtime_error(Say("{}:{}: key = value expected", {path, std::to_string(number)}));
        Set(config, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), replaced);
    }
}

} // namespace

const char* ServiceUsage()
{
    return GermanLocale() ? kUsageGerman : kUsageEnglish;
}

ServiceConfig ServiceConfig::FromArguments(int argc, char** argv)
{
    std::vector<std::pair<std::string, std::string>> options;
    std::string configFile;
    bool configGiven = false;
    std::vector<std::string> updates;
    bool update = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--", 0) != 0)
            throw std::runtime_error(Say("unexpected argument {}", {argument}));
        argument = argument.substr(2);
        std::string value;
        if (const size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        } else if (argument == "log" || argument == "allow-anyone" || argument == "require-tls-for-remote" ||
                   argument == "allow-readable-key" || argument == "force") {
            value = "true";
        } else if (argument == "update-data") {
            for (; i + 1 < argc && std::string_view(argv[i + 1]).rfind("--", 0) != 0; ++i)
                updates.push_back(Source(argv[i + 1]));
            update = true;
            continue;
        } else if (argument != "hash-password" && argument != "help" && argument != "version") {
            if (i + 1 >= argc)
                throw std::runtime_error(Say("--{} needs a value", {argument}));
            value = argv[++i];
        }
        if (argument == "config") {
            configFile = value;
            configGiven = true;
        } else {
            options.emplace_back(argument, value);
        }
    }

    ServiceConfig config;
    if (!configGiven) {
        const std::string standard = Home("XDG_CONFIG_HOME", ".config") + "/OrvelWddx/service.conf";
        if (std::ifstream(standard))
            configFile = standard;
    }
    if (!configFile.empty())
        ReadFile(config, configFile);
    std::string* addresses[] = {&config.BundesbankUrl, &config.SclUrl, &config.OenbUrl};
    for (size_t i = 0; i < feeds::kSources.size(); ++i) {
        if (const char* value = std::getenv(std::string(feeds::kSources[i].Variable).c_str()); value && *value)
            *addresses[i] = value;
        else if (addresses[i]->empty())
            *addresses[i] = feeds::kSources[i].Address;
    }
    config.UpdateData = update;
    config.UpdateSources = updates;
    std::vector<std::string> replaced;
    for (const auto& [key, value] : options) {
        if (key == "hash-password")
            config.HashPassword = true;
        else if (key == "help")
            config.Help = true;
        else if (key == "version")
            config.Version = true;
        else
            Set(config, key, value, replaced);
    }
    if (config.TlsCert.empty() != config.TlsKey.empty())
        throw std::runtime_error(Say("HTTPS needs both --tls-cert and --tls-key"));
    if (!config.TlsCert.empty() && config.TlsListen.empty())
        config.TlsListen = {"127.0.0.1:8591"};
    // Every reader and the installer look where --data-dir says, so it is set before anything is found.
    if (!config.DataDir.empty())
        rules::SetDataDir(config.DataDir);
    config.DataDir = rules::DataFolders().front();
    if (config.BankFile.empty()) {
        config.BankFile = rules::DefaultBankFile();
        config.BankFileIsDefault = true;
    }
    if (config.PostalFile.empty())
        config.PostalFile = rules::DefaultPostalDataPath();
    if (config.Journal.empty())
        config.Journal = confirm::Journal::DefaultPath();

    return config;
}

std::string ServiceConfig::Access() const
{
    if (UsersFile.empty())
        return AllowAnyone ? "everyone on this machine without a password; other machines reach the listeners but "
                             "are refused, as there is no users file"
                           : "everyone on this machine without a password";
    return std::string("a password of the users file for everyone; other machines over plain HTTP ") +
           (RequireTlsForRemote ? "refused (require-tls-for-remote)" : "accepted, their passwords unencrypted");
}

const std::string& ServiceConfig::Address(const std::string& source) const
{
    return source == "scl" ? SclUrl : source == "oenb" ? OenbUrl : BundesbankUrl;
}

std::string ServiceConfig::Describe() const
{
    const auto join = [](const std::vector<std::string>& list) {
        std::string text;
        for (const std::string& item : list)
            text += (text.empty() ? "" : " ") + item;
        return text.empty() ? std::string("none") : text;
    };
    return "settings " + (ConfigFile.empty() ? std::string("(no file)") : ConfigFile) + "; listen " + join(Listen) +
           "; tls-listen " + join(TlsListen) + "; tls-cert " + (TlsCert.empty() ? "none" : TlsCert) + "; tls-key " +
           (TlsKey.empty() ? "none" : TlsKey) + "; bank-file " + BankFile + "; users-file " +
           (UsersFile.empty() ? std::string("none") : UsersFile) + "; access " + Access() + "; postal-file " +
           PostalFile + "; threads " + std::to_string(Threads) + "; timeout " + std::to_string(Timeout) +
           "s; max-body " + std::to_string(MaxBody) + "; connections " + std::to_string(Connections) + " (" +
           std::to_string(ConnectionsPerClient) + " per client); log " + (Log ? "on" : "off") +
           (BusyAnswers ? "; busy-answers " + std::to_string(BusyAnswers) : "") + "; OwnVatId " +
           (OwnVatId.empty() ? std::string("none") : OwnVatId) + "; journal " + Journal;
}

} // namespace orvel::service
