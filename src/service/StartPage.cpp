#include "service/StartPage.h"

#include "platform/Codepage.h"
#include "service/Iban.h"
#include "transport/Xml.h"

namespace orvel::service {
std::string StartPage(const TarvikChecks& checks, const Users& users)
{
    const BankDirectory& banks = checks.Directory();
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\"><title>OrvelWddx Prüfdienst</title>"
        "<style>body{font-family:sans-serif;max-width:50em;margin:2em auto;line-height:1.4}"
        "table{border-collapse:collapse}td,th{border:1px solid #aaa;padding:.2em .5em;text-align:left}"
        "code{background:#eee}</style></head><body>\n"
        "<h1>OrvelWddx Prüfdienst</h1>\n"
        "<p>Dieser Dienst läuft auf diesem Rechner und prüft Bankleitzahlen mit Kontonummern, IBAN, BIC, "
        "Kreditkartennummern und sucht Banken – ohne Internet, mit den unten genannten Daten. OrvelWddx fragt "
        "ihn über WDDX (<code>/tarvik</code>) und über die Web-Services (<code>/soap/ITarvik</code>).</p>\n";
    page += users.Open() ? "<p>Zugang: ohne Benutzerdatei, jeder Aufruf von diesem Rechner wird beantwortet.</p>\n"
                         : "<p>Zugang: mit Benutzername und Passwort aus der Benutzerdatei.</p>\n";

    page += "<h2>Daten</h2>\n<table><tr><th>Daten</th><th>Stand</th><th>Quelle</th></tr>\n";
    page += "<tr><td>Bankleitzahlendatei (" + std::to_string(banks.size()) + " Einträge)<br><code>" +
            XmlEscape(banks.Path()) + "</code></td><td>" + GermanDate(banks.Date()) +
            (checks.Stale() ? " <strong>(älter als ein Jahr)</strong>" : "") +
            "</td><td>Deutsche Bundesbank, Bankleitzahlendatei; Prüfziffernverfahren aus der Bibliothek "
            "ktoblzcheck (LGPL)</td></tr>\n";
    page += "<tr><td>IBAN-Aufbau (" + std::to_string(IbanRegistryCountries()) + " Länder)</td><td>" +
            XmlEscape(IbanRegistryRelease()) +
            "</td><td>SWIFT IBAN Registry, übernommen aus dem npm-Paket ibantools (MIT oder MPL-2.0)</td></tr>\n";
    page += "<tr><td>Kartennummern</td><td>–</td><td>Luhn-Prüfziffer und Nummernkreise der großen "
            "Kartensysteme</td></tr>\n</table>\n"
            "<p>Eine aktuelle Bankleitzahlendatei der Bundesbank (Format „ungepackt, TXT“) als "
            "<code>~/.local/share/OrvelWddx/blz_JJJJMMTT.txt</code> speichern und den Dienst neu starten.</p>\n";

    page += "<h2>Ergebniscodes</h2>\n<p>0 bis 10 bedeuten bestanden.</p>\n"
            "<table><tr><th>Code</th><th>Bedeutung</th></tr>\n";
    for (const ResultCode& code : kTarvikResultCodes)
        page += "<tr><td>" + std::to_string(code.Code) + "</td><td>" + XmlEscape(code.Text) + "</td></tr>\n";
    page += "</table>\n<p>Die Bankensuche antwortet mit der Zahl der Treffer.</p>\n</body></html>\n";
    return page;
}

} // namespace orvel::service
