#pragma once
// The whole service: data loaded once, the router with every answer family, and one HTTP server per listening
// socket (those systemd passed, else the configured addresses).

#include "rules/PostalData.h"
#include "service/BankData.h"
#include "service/BusySwitch.h"
#include "service/Http.h"
#include "service/ServiceConfig.h"
#include "service/Users.h"

#include <memory>
#include <string>
#include <vector>

namespace orvel::service {

class Service
{
public:
    // Loads the data and starts listening; throws std::runtime_error when a file cannot be read or an address
    // cannot be bound.
    explicit Service(const ServiceConfig& config);
    ~Service();

    // "http://127.0.0.1:8590"-like descriptions of what is served, for the start-up log.
    const std::vector<std::string>& Endpoints() const { return Served; }
    // The data in use, for the start-up log.
    std::string DataDescription() const;
    // The ports in the order of the configured addresses, plain ones first.
    std::vector<uint16_t> Ports() const;
    // Editions passed over as unreadable, then each source's edition in use, for the start-up log.
    std::vector<std::string> DataEditions() const;
    // Switches to the data due now (see BankData::Reload); lines for the log when it did.
    std::vector<std::string> ReloadBanks() { return Banks.Reload(); }
    // Reads the users file again (see Users::Reload); whether its users changed.
    bool ReloadUsers() { return Accounts.Reload(); }

private:
    void Serve(int socket, bool tls, const std::string& name);

    ServiceConfig Config;
    BankData Banks;
    std::string PostalFile;
    rules::PostalData Postal;
    Users Accounts;
    BusySwitch Busy;
    Router Routes;
    TlsFiles Tls;
    std::vector<std::unique_ptr<HttpServer>> Servers;
    std::vector<std::string> Served;
};

} // namespace orvel::service
