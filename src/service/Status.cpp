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
    return date == 0 ? "null" : Quoted(rules::IsoDate(date));
}

} // namespace

std::string StatusJson(const BankSnapshot& snapshot, const rules::PostalData& postal, const std::string& postalFile,
                       std::time_t now)
{
    const rules::OfficialData& data = snapshot.Data;
    const rules::BankDirectory& banks = snapshot.Banks;
    const rules::BankSource& source = banks.Source();
    const long age = (rules::GermanDay(now) - source.From) / (24L * 3600);
    // until: as the edition states it; the built-in data names the last day of its rows instead.
    const auto edition = [now](const rules::Edition& used, std::time_t until) {
        return std::string("\"validFrom\": ") + IsoDate(used.From) + ", \"validUntil\": " + IsoDate(until) +
               ", \"fetchedAt\": " + (used.FetchedAt.empty() ? "null" : Quoted(used.FetchedAt)) +
               ", \"superseded\": " + (rules::IsSuperseded(used, now) ? "true" : "false");
    };
    std::string scl = "null", oenb = "null";
    if (data.Scl)
        scl = "{\"path\": " + Quoted(data.SclEdition.Path) + ", " + edition(data.SclEdition, data.SclEdition.Until) +
              ", \"bics\": " + std::to_string(data.Scl->size()) + "}";
    if (data.Austria)
        oenb = "{\"path\": " + Quoted(data.OenbEdition.Path) + ", " +
               edition(data.OenbEdition, data.OenbEdition.Until) +
               ", \"bankCodes\": " + std::to_string(data.Austria->Codes()) +
               ", \"bics\": " + std::to_string(data.Austria->Bics()) + "}";
    return std::string("{\"version\": ") + Quoted(ORVEL_VERSION) +
           ",\n \"bankDirectory\": {\"path\": " + Quoted(source.Path) +
           ", \"kind\": " + (source.BuiltIn ? "\"built-in\"" : "\"Bundesbank file\"") +
           ", \"sources\": " + Quoted(source.BuiltIn ? source.Sources : "Deutsche Bundesbank, Bankleitzahlendatei") +
           ", " + edition(data.BanksEdition, data.BanksEdition.Until ? data.BanksEdition.Until : source.Until) +
           ", \"ageDays\": " + std::to_string(age) + ", \"bankCodes\": " + std::to_string(banks.Codes()) +
           ", \"records\": " + std::to_string(banks.size()) + ", \"bics\": " + std::to_string(banks.Bics()) +
           ", \"methods\": " + std::to_string(banks.Methods()) +
           // The BIC answers' SCT, SDD and B2B: from the SCL directory, or without one from the bank directory.
           ", \"bicFlagsFrom\": " + (data.Scl ? "\"SCL directory\"" : "\"bank directory\"") +
           "},\n \"sclDirectory\": " + scl + ",\n \"oenbDirectory\": " + oenb +
           ",\n \"ibanRegistry\": {\"release\": " + Quoted(rules::IbanRegistryRelease()) +
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
                                StatusJson(*banks.Current(), postal, postalFile, std::time(nullptr))};
        case Users::kLoopbackOnly:
            return HttpResponse{403, "text/plain; charset=utf-8", "Nur von diesem Rechner\n"};
        default:
            return LoginRequired("text/plain; charset=utf-8", "Anmeldung erforderlich\n");
        }
    });
}

} // namespace orvel::service
