#pragma once
// The local checking service's routes over a small bank directory and postal table, and a request made of fuzz
// bytes: what a client's GET or POST reaches once the HTTP layer has split it.

#include "../rules/BankFile.h"
#include "rules/BankDirectory.h"
#include "rules/PostalData.h"
#include "rules/TarvikChecks.h"
#include "service/AddressFront.h"
#include "service/EvatrFront.h"
#include "service/Http.h"
#include "service/TarvikFront.h"
#include "service/Users.h"
#include "service/ViesFront.h"

#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace orvel::fuzz {

class Request : public service::HttpRequest
{
public:
    std::map<std::string, std::string, std::less<>> Arguments;
    std::map<std::string, std::string, std::less<>> Headers;

    std::optional<std::string_view> Query(const char* key) const override { return Find(Arguments, key); }
    std::optional<std::string_view> Header(const char* name) const override { return Find(Headers, name); }

private:
    static std::optional<std::string_view> Find(const std::map<std::string, std::string, std::less<>>& map,
                                                const char* key)
    {
        const auto found = map.find(std::string_view(key));
        if (found == map.end())
            return std::nullopt;
        return std::string_view(found->second);
    }
};

class ServiceRoutes
{
public:
    static const service::Router& Get()
    {
        static const ServiceRoutes routes;
        return routes.Routes;
    }

private:
    ServiceRoutes()
        : Banks(WriteBanks()),
          Postal(rules::PostalData::Parse("01067\tDresden\tDresden\n10115\tBerlin\n80331\tM\xc3\xbcnchen\n"
                                          "99999\tMusterstadt\tTestdorf\n",
                                          "plz.tsv"))
    {
        std::filesystem::remove_all(std::filesystem::path(Banks.Current()->Banks.Path()).parent_path());
        service::AddTarvik(Routes, Banks, Accounts);
        service::AddAddress(Routes, Postal, Accounts);
        service::AddVies(Routes, Accounts, Busy);
        service::AddEvatr(Routes, Accounts, Busy);
    }

    static std::string WriteBanks()
    {
        const auto folder = std::filesystem::temp_directory_path() / ("orvel-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        const std::string path = test::WriteBankFile(
            (folder / "banks.txt").string(),
            {{.Blz = "10000000", .Name = "Bank Null", .Place = "Berlin", .Method = "00", .Bic = "BNULDEBBXXX"},
             {.Blz = "10000000", .Name = "Bank Null", .Place = "Potsdam", .Method = "00", .Flag = '2'},
             {.Blz = "20000000", .Name = "M\xfcllerbank", .Place = "K\xf6ln", .Method = "87", .Bic = "MUELDEKK"},
             {.Blz = "30000000",
              .Name = "Bank Sechs",
              .Place = "Bonn",
              .Method = "06",
              .Deletion = '1',
              .Successor = "10000000"}});
        return path;
    }

    service::BankData Banks;
    rules::PostalData Postal;
    service::Users Accounts;
    service::BusySwitch Busy;
    service::Router Routes;
};

} // namespace orvel::fuzz
