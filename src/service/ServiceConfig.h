#pragma once
// The service's settings: compiled-in defaults, then the configuration file (key = value, one setting a line),
// then the command line (--key value or --key=value, every key of the file is an option).

#include <string>
#include <vector>

namespace orvel::service {

struct ServiceConfig
{
    std::vector<std::string> Listen{"127.0.0.1:8590"};
    std::vector<std::string> TlsListen; // default 127.0.0.1:8591 once a certificate is given
    std::string TlsCert;                // PEM: certificate, then what it sends along
    std::string TlsKey;
    std::string BankFile;           // used whatever its date unless BankFileIsDefault
    bool BankFileIsDefault = false; // none was given: rules::DefaultBankFile(), switched as newer data comes
    std::string InstallBankFile;    // a Bundesbank file to check and install, then exit
    std::string ValidFrom;          // its first day, "YYYY-MM-DD", when its name does not say it
    bool UpdateData = false;        // fetch, verify and install the official directories, then exit
    // of those, these (bundesbank, scl, oenb); empty: all three
    std::vector<std::string> UpdateSources;
    std::string RollbackData;  // take this source's newest edition back, then exit
    bool Force = false;        // install an edition that looks implausible
    std::string DataDir;       // installs go here: --data-dir, else the first of rules::DataFolders()
    std::string BundesbankUrl; // download addresses: settings file, ORVELWDDX_…_URL, options
    std::string SclUrl;
    std::string OenbUrl;
    unsigned FetchTimeout = 30; // seconds without data before a download is given up
    std::string UsersFile;      // empty: everyone on this machine
    std::string PostalFile;     // postal codes and places; empty: the file installed with the service
    unsigned Threads = 2;
    unsigned Timeout = 10;        // seconds
    unsigned MaxBody = 64u << 10; // bytes
    unsigned Connections = 1000;
    unsigned ConnectionsPerClient = 64;
    bool Log = false;
    bool AllowAnyone = false;         // a listener reachable from other machines without a users file
    bool RequireTlsForRemote = false; // other machines' logins over plain HTTP are refused
    bool AllowReadableKey = false;    // a TLS key that others than its owner may read is used all the same
    unsigned BusyAnswers = 0;         // the next confirmation answers that say the service is busy
    std::string OwnVatId;             // the requester of the JSON API's qualified confirmations; empty: none asked
    std::string Journal;              // where they are journaled; default confirm::Journal::DefaultPath()
    std::string ConfigFile;           // the file read, empty when there was none
    bool HashPassword = false;
    bool Help = false;
    bool Version = false;

    // The file "$XDG_CONFIG_HOME/OrvelWddx/service.conf" (or --config FILE), then the arguments. Throws
    // std::runtime_error for an unknown key, a missing value or a file given but not readable.
    static ServiceConfig FromArguments(int argc, char** argv);
    // The download address of a data source by its name (bundesbank, scl, oenb).
    const std::string& Address(const std::string& source) const;
    // One line for the start-up log.
    std::string Describe() const;
    // Who is answered, as the start-up line says it.
    std::string Access() const;
};

// The options, in German under a German locale (LC_ALL, LC_MESSAGES or LANG de_*), in English otherwise, as the
// service's other messages for a person (Messages); its log lines stay English, as scripts read them.
const char* ServiceUsage();

} // namespace orvel::service
