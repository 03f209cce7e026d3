#include "service/Messages.h"

#include <cstdlib>
#include <utility>

namespace orvel::service {
namespace {

constexpr std::pair<std::string_view, std::string_view> kGerman[] = {
    {"unexpected argument {}", "unerwartetes Argument {}"},
    {"--{} needs a value", "--{} braucht einen Wert"},
    {"{}: {} to {} expected", "{}: {} bis {} erwartet"},
    {"{}: true or false expected", "{}: true oder false erwartet"},
    {"unknown data source {} (bundesbank, scl or oenb)", "unbekannte Datenquelle {} (bundesbank, scl oder oenb)"},
    {"unknown setting {}", "unbekannte Einstellung {}"},
    {"cannot read the settings file {}", "Einstellungsdatei {} nicht lesbar"},
    {"{}:{}: key = value expected", "{}:{}: Schlüssel = Wert erwartet"},
    {"HTTPS needs both --tls-cert and --tls-key", "HTTPS braucht --tls-cert und --tls-key"},
    {"cannot read {}", "{} nicht lesbar"},
    {"the TLS key {} is readable by every user of this machine; chmod 600 it, or give --allow-readable-key",
     "der TLS-Schlüssel {} ist für jeden Benutzer dieses Rechners lesbar; mit chmod 600 schützen oder "
     "--allow-readable-key angeben"},
    {"{}: HTTPS needs --tls-cert and --tls-key", "{}: HTTPS braucht --tls-cert und --tls-key"},
    {"{}: other machines reach this address; give --users-file (or --allow-anyone)",
     "{}: andere Rechner erreichen diese Adresse; --users-file (oder --allow-anyone) angeben"},
    {"cannot open the users file {}", "Benutzerdatei {} nicht lesbar"},
    {"{}:{}: not \"user:{}$...\"", "{}:{}: nicht \"benutzer:{}$...\""},
    {"listen address without a port: {}", "Adresse ohne Port: {}"},
    {"listen address {}: {}", "Adresse {}: {}"},
    {"cannot listen on {}: {}", "auf {} kann nicht gelauscht werden: {}"},
    {"cannot start the HTTP server on port {}", "der HTTP-Server startet nicht auf Port {}"},
    {"bank directory not switched: {}", "Bankverzeichnis nicht gewechselt: {}"},
    {"users file not read again, the users before stay: {}",
     "Benutzerdatei nicht neu gelesen, die bisherigen Benutzer bleiben: {}"},
    {"Password: ", "Passwort: "},
};

} // namespace

bool GermanLocale()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value) {
            const std::string_view locale(value);
            return locale.starts_with("de") &&
                   (locale.size() == 2 || std::string_view("_.@").find(locale[2]) != std::string_view::npos);
        }
    return false;
}

std::string Say(std::string_view english, std::initializer_list<std::string_view> arguments)
{
    std::string_view text = english;
    if (GermanLocale())
        for (const auto& [key, german] : kGerman)
            if (key == english)
                text = german;
    std::string said;
    const std::string_view* next = arguments.begin();
    for (size_t at = 0; at < text.size(); ++at)
        if (text.compare(at, 2, "{}") == 0 && next != arguments.end()) {
            said.append(*next++);
            ++at;
        } else {
            said += text[at];
        }
    return said;
}

} // namespace orvel::service
