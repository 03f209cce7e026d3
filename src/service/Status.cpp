#include "service/Status.h"

#include "rules/Iban.h"
#include "service/Access.h"

#include <cstdio>

namespace orvel::service {
namespace {

std::string Quoted(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string IsoDate(std::time_t date)
{
    if (date == 0)
        return "null";
    std::tm parts{};
    gmtime_r(&date, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return Quoted(text);
}

} // namespace

std::string StatusJson(const rules::BankDirectory& banks, const rules::PostalData& postal,
                       const std::string& postalFile, std::time_t now)
{
    const rules::BankSource& source = banks.Source();
    const long age = (rules::GermanDay(now) - source.From) / (24L * 3600);
    return std::string("{\"version\": ") + Quoted(ORVEL_VERSION) +
           ",\n \"bankDirectory\": {\"path\": " + Quoted(source.Path) +
           ", \"kind\": " + (source.BuiltIn ? "\"built-in\"" : "\"Bundesbank file\"") +
           ", \"sources\": " + Quoted(source.BuiltIn ? source.Sources : "Deutsche Bundesbank, Bankleitzahlendatei") +
           ", \"validFrom\": " + IsoDate(source.From) + ", \"validUntil\": " + IsoDate(source.Until) +
           ", \"ageDays\": " + std::to_string(age) + ", \"bankCodes\": " + std::to_string(banks.Codes()) +
           ", \"records\": " + std::to_string(banks.size()) + ", \"bics\": " + std::to_string(banks.Bics()) +
           ", \"methods\": " + std::to_string(banks.Methods()) +
           "},\n \"ibanRegistry\": {\"release\": " + Quoted(rules::IbanRegistryRelease()) +
           ", \"countries\": " + std::to_string(rules::IbanRegistryCountries()) +
           "},\n \"postalCodes\": {\"path\": " + Quoted(postalFile) + ", \"date\": " + Quoted(postal.Date()) +
           ", \"postalCodes\": " + std::to_string(postal.PostalCodeCount()) +
           ", \"pairs\": " + std::to_string(postal.PairCount()) + "}}\n";
}

void AddStatus(Router& router, const BankData& banks, const rules::PostalData& postal, const std::string& postalFile,
               const Users& users)
{
    router.Add("/status", [&banks, &postal, &postalFile, &users](const HttpRequest& request) {
        switch (BasicAdmission(users, request)) {
        case Users::kAdmitted:
            return HttpResponse{200, "application/json",
                                StatusJson(banks.Current()->Banks, postal, postalFile, std::time(nullptr))};
        case Users::kLoopbackOnly:
            return HttpResponse{403, "text/plain; charset=utf-8", "Nur von diesem Rechner\n"};
        default:
            return LoginRequired("text/plain; charset=utf-8", "Anmeldung erforderlich\n");
        }
    });
}

} // namespace orvel::service
