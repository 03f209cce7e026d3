#include "service/Service.h"

#include "rules/Iban.h"
#include "service/AddressFront.h"
#include "service/ApiFront.h"
#include "service/BatchFront.h"
#include "service/EvatrFront.h"
#include "service/JournalFront.h"
#include "service/Messages.h"
#include "service/SoapRpc.h"
#include "service/StartPage.h"
#include "service/Status.h"
#include "service/TarvikFront.h"
#include "service/ViesFront.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orvel::service {
namespace {

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(Say("cannot read {}", {path}));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

Service::Service(const ServiceConfig& config)
    : Config(config), Banks(config.BankFileIsDefault ? std::string() : config.BankFile),
      PostalFile(config.PostalFile.empty() ? rules::DefaultPostalDataPath() : config.PostalFile),
      Postal(rules::PostalData::Load(PostalFile)),
      Accounts(config.UsersFile.empty() ? Users() : Users::Load(config.UsersFile)), Busy(config.BusyAnswers)
{
    if (!config.TlsCert.empty()) {
        struct stat key
        {
        };
        if (stat(config.TlsKey.c_str(), &key) == 0 && (key.st_mode & S_IROTH) && !config.AllowReadableKey)
            throw std::runtime_error(Say("the TLS key {} is readable by every user of this machine; chmod 600 it, or "
                                         "give --allow-readable-key",
                                         {config.TlsKey}));
        Tls = {ReadWhole(config.TlsCert), ReadWhole(config.TlsKey)};
    }
    Accounts.RefusePlainRemote(config.RequireTlsForRemote);

    AddStartPage(Routes, Banks, Postal, PostalFile, Accounts);
    AddStatus(Routes, Banks, Postal, PostalFile, Accounts);
    AddTarvik(Routes, Banks, Accounts);
    AddAddress(Routes, Postal, Accounts);
    AddVies(Routes, Accounts, Busy);
    AddEvatr(Routes, Accounts, Busy);
    AddJournal(Routes, Accounts, config.OwnVatId, config.Journal);
    AddBatch(Routes, Banks, Postal, Accounts);
    AddApi(Routes, Banks, Postal, PostalFile, Accounts);
    Routes.ExpectXml("/soap/",
                     [] { return SoapEndpoint::Fault("SOAP-ENV:Client", "Zu viele Attribute in einem Element"); });
    Routes.ExpectXml(kViesPath, ViesInvalidInput);
    Routes.ExpectJson("/app/v1/");
    Routes.ExpectJson("/status");

    // Sockets handed over by systemd take the place of the configured addresses; one named "https" speaks TLS.
    struct Listener
    {
        int Socket;
        bool Tls;
        std::string Name;
    };
    std::vector<Listener> listeners;
    char** names = nullptr;
    const int passed = sd_listen_fds_with_names(1, &names);
    for (int i = 0; i < passed; ++i) {
        const std::string name = names && names[i] ? names[i] : "";
        listeners.push_back({SD_LISTEN_FDS_START + i, name == "https", "systemd socket " + name});
    }
    if (names)
        for (int i = 0; i < passed; ++i)
            free(names[i]);
    free(names);
    if (passed <= 0) {
        for (const std::string& address : config.Listen)
            listeners.push_back({OpenListener(address), false, address});
        for (const std::string& address : config.TlsListen)
            listeners.push_back({OpenListener(address), true, address});
    }
    // Known before the first request, so that the start page can say it.
    for (const Listener& listener : listeners)
        if (!listener.Tls && !config.UsersFile.empty() && ListensBeyondThisMachine(listener.Socket)) {
            Accounts.NotePlainRemoteListener();
            if (!config.RequireTlsForRemote)
                Warnings.push_back(listener.Name +
                                   ": other machines reach this plain HTTP address, and their passwords (HTTP Basic, "
                                   "WDDX and SOAP logins) cross the network unencrypted; serve them with --tls-listen "
                                   "and give --require-tls-for-remote");
        }
    for (size_t i = 0; i < listeners.size(); ++i)
        try {
            Serve(listeners[i].Socket, listeners[i].Tls, listeners[i].Name);
        } catch (...) {
            for (size_t rest = i + 1; rest < listeners.size(); ++rest)
                close(listeners[rest].Socket);
            throw;
        }
}

Service::~Service() = default;

void Service::Serve(int socket, bool tls, const std::string& name)
{
    if (tls && Tls.CertificatePem.empty()) {
        close(socket);
        throw std::runtime_error(Say("{}: HTTPS needs --tls-cert and --tls-key", {name}));
    }
    if (Config.UsersFile.empty() && !Config.AllowAnyone && ListensBeyondThisMachine(socket)) {
        close(socket);
        throw std::runtime_error(
            Say("{}: other machines reach this address; give --users-file (or --allow-anyone)", {name}));
    }
    ServerLimits limits;
    limits.Threads = Config.Threads;
    limits.TimeoutSeconds = Config.Timeout;
    limits.MaxBody = Config.MaxBody;
    limits.MaxConnections = Config.Connections;
    limits.MaxConnectionsPerAddress = Config.ConnectionsPerClient;
    Servers.push_back(std::make_unique<HttpServer>(Routes, socket, limits, tls ? &Tls : nullptr, Config.Log));
    Served.push_back(std::string(tls ? "https " : "http ") + name + " (port " + std::to_string(Servers.back()->Port()) +
                     ")");
}

std::string Service::DataDescription() const
{
    const auto banks = Banks.Current();
    return rules::DescribeBanks(banks->Banks) + (banks->Checks.Stale() ? " older than a year" : "") +
           "; IBAN registry " + rules::IbanRegistryRelease() + " (" + std::to_string(rules::IbanRegistryCountries()) +
           " countries); postal codes " + PostalFile + " (" + std::to_string(Postal.PostalCodeCount()) +
           " postal codes, " + std::to_string(Postal.PairCount()) + " postal code-place pairs of " +
           (Postal.Date().empty() ? std::string("unknown date") : Postal.Date()) + ")";
}

std::vector<std::string> Service::DataEditions() const
{
    const auto banks = Banks.Current();
    std::vector<std::string> lines = banks->Data.PassedOver;
    for (const std::string& edition : rules::DescribeEditions(banks->Data, std::time(nullptr)))
        lines.push_back(edition);
    return lines;
}

std::vector<uint16_t> Service::Ports() const
{
    std::vector<uint16_t> ports;
    for (const auto& server : Servers)
        ports.push_back(server->Port());
    return ports;
}

} // namespace orvel::service
