// orvelwddx-check: checks from the shell and from scripts.

#include "cli/Batch.h"
#include "cli/Confirmations.h"
#include "cli/Messages.h"
#include "cli/Offline.h"
#include "cli/Output.h"
#include "cli/Runner.h"
#include "cli/Xlsx.h"
#include "platform/Config.h"
#include "platform/Registry.h"
#include "platform/StrToInt.h"
#include "rules/BankDirectory.h"
#include "rules/OfficialData.h"
#include "rules/PostalData.h"
#include "server/Confirmation.h"
#include "server/OrvelWddx_TLB.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <curl/curl.h>
#include <libxml/parser.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

using namespace orvel;
using namespace orvel::cli;

const char* const kHelp = R"(ORVELWDDX-CHECK(1)                  OrvelWddx                  ORVELWDDX-CHECK(1)

NAME
    orvelwddx-check - check bank accounts, IBANs, BICs, cards, addresses and VAT ids

SYNOPSIS
    orvelwddx-check [OPTIONS] iban IBAN
    orvelwddx-check [OPTIONS] blz BANKCODE ACCOUNT [--land DE|AT]
    orvelwddx-check [OPTIONS] iban-bic IBAN BIC
    orvelwddx-check [OPTIONS] bic BIC
    orvelwddx-check [OPTIONS] card NUMBER
    orvelwddx-check [OPTIONS] search WORDS... [--fragments] [--land DE|AT]
    orvelwddx-check [OPTIONS] address PLZ ORT [--street S [--hnr N] | --pof P] [--rewrite 0-3]
    orvelwddx-check [OPTIONS] plz-type PLZ
    orvelwddx-check [OPTIONS] vat VATID
    orvelwddx-check [OPTIONS] vat-confirm VATID --own OWNID [--name N] [--street S] [--zip Z]
                    [--city C] [--company-type T] [--reference R] [--bzst] [--tries N]
                    [--retry-within MS]
    orvelwddx-check journal [--from DATE] [--to DATE] [--vat VATID]
                    [--json | --csv [--excel] | --xlsx FILE]
    orvelwddx-check journal --proof ID --pdf FILE
    orvelwddx-check journal --verify
    orvelwddx-check [OPTIONS] journal --retry-pending [--all]
    orvelwddx-check [OPTIONS] batch FILE.csv|FILE.xlsx|- [--jobs N] [--xlsx OUT.xlsx]

DESCRIPTION
    Runs one check against the checking service and prints every result property the check
    writes, one "Property: value" line each (lists joined by "~"). The checks run in this
    process through the program's own check objects; with --bus they go to a running
    OrvelWddx server on the session bus (interface OrvelWddx.Checks), which the bus starts
    when it is registered.

    vat asks the European Commission's VIES service over the internet by default
    (https://ec.europa.eu/taxation_customs/vies/services/checkVatService). The environment
    variable ORVELWDDX_VIES_URL points it elsewhere, e.g. at the local service's offline
    rules: http://127.0.0.1:8590/taxation_customs/vies/services/checkVatService; --offline
    asks no service at all.

    batch reads a CSV file, an Excel workbook (its first sheet) or standard input for "-",
    whose header line names the columns iban, blz, kto, bic, card, vat, plz, ort, str, hnr,
    pof in any order; other columns pass through. Each row runs the check its filled columns ask for (vat; card; iban with bic;
    iban; blz with kto; bic; plz, ort with pof; plz, ort, str, hnr; plz, ort, str; plz, ort;
    plz alone for the postal code type); a row whose columns allow checks of several kinds
    (an IBAN and an address, say) gets each, and then the result columns carry the kind in
    front: iban_Result, address_Result, vat_Result, card_Result. With an own_vat column a
    row's VAT id is confirmed as by vat-confirm (with the columns name, street, zip, city and
    --bzst), recorded in the journal; rows not checked are listed at the end (and written to
    --retry-later FILE) and make the status 3. Confirmations go out paced per member state,
    as VIES asks: fewer at once after MS_MAX_CONCURRENT_REQ, more while answers come; on a
    terminal one line shows the progress. The rows are written to
    standard output in input order as CSV (UTF-8, RFC 4180, the input's separator), followed
    by the result columns and "Error"; the file is read,
    checked and written piece by piece, so its size does not matter. A file without any UTF-8
    sequence is read as Windows-1252, standard input as UTF-8 (--encoding says otherwise); a
    row with bytes that are not UTF-8, with a NUL byte, or longer than 1 MiB cannot be read.
    Control characters a service sends are shown as U+FFFD. A row that cannot be read is
    reported on standard error with its line number and the run goes on. A row with fewer
    fields than the header is read with the rest empty; fields beyond the header are named in
    "Error"; a row with nothing to check passes through with "nichts zu prüfen" in "Error".
    Ctrl+C finishes the rows in flight and stops;
    what was written stays a valid CSV file. A progress bar is shown when standard error is a
    terminal, a summary at the end.

    vat-confirm asks for a qualified confirmation of a foreign VAT id: VIES checkVatApprox with
    your own id OWNID (for the consultation number), or with --bzst the eVatR service of the
    Bundeszentralamt für Steuern (OWNID a German id; it confirms no German ids). Name, street,
    postal code and place are compared by the service, each answered with its own code (VIES:
    1 matches, 2 does not, 3 not processed; BZSt: A matches, B does not, C not asked, D not given
    by the member state). A busy or unavailable service is asked again (3 tries within 30 s;
    --tries, --retry-within) and otherwise answered "nicht geprüft". Every confirmation is
    recorded in the journal $XDG_DATA_HOME/OrvelWddx/journal.sqlite, the proof of the check;
    ORVELWDDX_VIES_URL and ORVELWDDX_BZST_URL name other endpoints.

    A valid id is confirmed qualified only when name and place were asked about (--name,
    --city); without them the simple question is asked, and the line Qualified says false, as
    it does for the BZSt's evatr-0003 and evatr-2008. Ids may be typed with any separators; GR
    is sent as EL. Your own id is required and its check digits checked; an id of a country
    outside VIES is answered at once, exit 1.

    journal lists the recorded confirmations (DATE as 2026-12-31 or 31.12.2026, UTC); --csv
    as CSV (with --excel for a German Excel), --xlsx FILE as a workbook; --proof writes the
    one-page PDF proof of one record; --verify recomputes the journal's chain and names the
    first record that does not fit (exit 1). A record whose status or matches contradict its
    stored answer is named on standard error (exit 1). --retry-pending asks again for the
    confirmations left "nicht geprüft" whose next try has come (an hour after, doubling up
    to a day; --all: every one now), never for the BZSt between 23:00 and 05:00 German time;
    each answer is a new record linked to the pending one (exit 3 while one stays pending).

OPTIONS
    --user NAME, --pass PASSWORD
                   the service account sent with every check
    --host HOST[:PORT]
                   the checking service (default 127.0.0.1:8590, the local service)
    --tls 0|1|2    0 plain HTTP, 1 HTTPS with certificate check, 2 HTTPS accepting any
                   certificate (for a test server of your own)
    --timeout MS   how long to wait for an answer
    --proxy HOST:PORT, --proxy-user NAME, --proxy-pass PASSWORD
                   an HTTP proxy
    --json         one JSON object per check instead of the text lines
    --bus          run the checks in the OrvelWddx server on the session bus
    --offline      answer in this process from the checking rules and the data the local
                   service would load (bank directory, postal codes), without any service:
                   the same results, texts and exit statuses; the output adds a line (JSON:
                   a key) "Offline" naming the data. A VAT id gets the verdict of its form
                   and check digits only.
    --jobs N       batch: N checks at a time (default 1; with --offline the number of CPUs)
    --raw          batch: cells as they are; without it a cell a spreadsheet would run as a
                   formula (beginning with =, +, -, @, TAB or CR, numbers excepted) gets a "'"
                   in front
    --retry-later FILE
                   batch: rows whose qualified confirmation could not be made (the services
                   were not available) are written to FILE, with the header, for a later run
    --rewrite 0-3  address: how freely a place name is recognised (default 2, as the window
                   starts): 0 exact names only; 1 also rewritten short names and districts;
                   2 also rewritten long names; 3 as 2, answering the long name
    --encoding utf-8|cp1252
                   batch: how the input's bytes are read; without it a file holding no UTF-8
                   sequence is read as Windows-1252, standard input as UTF-8
    --xlsx FILE    batch and journal: write an Excel workbook to FILE instead of CSV: every
                   cell text (leading zeros and long numbers stay), a bold frozen header,
                   fitted columns, results green when passed and red when not, a VAT id's
                   answer in the columns Land, Nummer, Datum, Gültig, Name, Anschrift
    --excel        batch and journal --csv: write for a German Excel: semicolons, UTF-8 with a
                   byte order mark, CR LF (without it the output keeps the input's separator)
    -h, --help     this text
    --version      the version and the data --offline would use: bank directory (file,
                   sources, validity, counts), each official directory's edition (valid from,
                   until, fetched at, whether a newer one is available) and postal codes
    --data-dir DIR the one folder of the official directories for --offline and --version
                   (default $ORVELWDDX_DATA_DIR, else $XDG_DATA_HOME/OrvelWddx, then
                   /var/lib/orvelwddx)

    Every setting not given as an option is taken from the environment variables
    ORVELWDDX_USER, ORVELWDDX_PASS, ORVELWDDX_HOST, ORVELWDDX_TLS, ORVELWDDX_TIMEOUT,
    ORVELWDDX_PROXY, ORVELWDDX_PROXY_USER, ORVELWDDX_PROXY_PASS, and then from the settings
    the window saved ($XDG_CONFIG_HOME/OrvelWddx/user.reg), so that a user who set up the
    window needs no options.

EXIT STATUS
    0   the check passed: account, IBAN and card results 0 to 10; a BIC found with a bank name;
        a search that found banks; address results 0, 9 and 12; postal code types 101 to 109;
        VAT id result 0. For batch: every row passed.
    1   the check did not pass (batch: a row did not pass or could not be read)
    2   usage error; vat-confirm: refused without asking (own id missing or wrong)
    3   the service could not be reached (results -200 and -250, VAT id result 2), or the bus
        or the server could not; vat-confirm: not checked
    4   vat-confirm: the journal could not be written, so the confirmation is void
    5   a file named by --pdf, --xlsx or --retry-later could not be written
    130 batch stopped by Ctrl+C

EXAMPLES
    orvelwddx-check iban DE89370400440532013000
    orvelwddx-check --json blz 37040044 0532013000
    orvelwddx-check address 10115 Berlin --street "Invalidenstr." --hnr 117
    orvelwddx-check --jobs 4 batch customers.csv > checked.csv
    orvelwddx-check --offline batch ibans.csv > checked.csv
)";

class TUsage : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

std::atomic<bool> gStop{false};

extern "C" void OnInterrupt(int)
{
    gStop = true;
}

struct TCommandLine
{
    TRunSettings Settings;
    bool Json = false;
    bool Bus = false;
    bool Offline = false;
    bool Raw = false;
    bool Excel = false;
    std::optional<std::string> RetryLater;
    std::optional<TEncoding> Encoding;
    std::optional<std::string> Xlsx;
    bool Help = false;
    bool Version = false;
    std::optional<int> Jobs;
    bool Fragments = false;
    std::optional<std::string> Land, Street, Hnr, Pof;
    // vat-confirm and journal
    std::optional<std::string> Own, Name, Zip, City, CompanyType, Reference, From, To, Vat, Pdf;
    std::optional<int32_t> Tries, RetryWithin, Proof;
    bool Bzst = false;
    bool Csv = false;
    bool Verify = false;
    bool RetryPending = false;
    bool All = false;
    std::vector<std::string> Words; // the subcommand and its operands
};

int32_t NumberOption(const std::string& Name, const std::string& Value, int32_t Low, int32_t High)
{
    const std::optional<int32_t> number = orvel::TryStrToInt(Value);
    if (!number || *number < Low || *number > High || Value.find_first_not_of("0123456789") != std::string::npos)
        throw TUsage(Tr("%1 expects a number from %2 to %3, not \"%4\"",
                        {Name, std::to_string(Low), std::to_string(High), Value}));
    return *number;
}

TCommandLine Parse(int argc, char** argv)
{
    TCommandLine line;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            line.Words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (const size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
            inlineValue = arg.substr(equals + 1);
            arg.resize(equals);
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *std::exchange(inlineValue, std::nullopt);
            if (i + 1 >= argc)
                throw TUsage(Tr("%1 needs a value", {arg}));
            return argv[++i];
        };
        TRunSettings& s = line.Settings;
        if (arg == "-h" || arg == "--help")
            line.Help = true;
        else if (arg == "--version")
            line.Version = true;
        else if (arg == "--json")
            line.Json = true;
        else if (arg == "--bus")
            line.Bus = true;
        else if (arg == "--offline")
            line.Offline = true;
        else if (arg == "--data-dir")
            rules::SetDataDir(value());
        else if (arg == "--raw")
            line.Raw = true;
        else if (arg == "--excel")
            line.Excel = true;
        else if (arg == "--fragments")
            line.Fragments = true;
        else if (arg == "--user")
            s.User = value();
        else if (arg == "--pass")
            s.Pass = value();
        else if (arg == "--host")
            s.Host = value();
        else if (arg == "--tls")
            s.SSLMode = NumberOption(arg, value(), 0, 2);
        else if (arg == "--timeout")
            s.Timeout = NumberOption(arg, value(), 1, 3600000);
        else if (arg == "--proxy")
            s.Proxy = value();
        else if (arg == "--proxy-user")
            s.ProxyUser = value();
        else if (arg == "--proxy-pass")
            s.ProxyPass = value();
        else if (arg == "--rewrite")
            s.Rewrite = NumberOption(arg, value(), 0, 3);
        else if (arg == "--jobs")
            line.Jobs = NumberOption(arg, value(), 1, 64);
        else if (arg == "--land")
            line.Land = value();
        else if (arg == "--street")
            line.Street = value();
        else if (arg == "--hnr")
            line.Hnr = value();
        else if (arg == "--pof")
            line.Pof = value();
        else if (arg == "--own")
            line.Own = value();
        else if (arg == "--name")
            line.Name = value();
        else if (arg == "--zip")
            line.Zip = value();
        else if (arg == "--city")
            line.City = value();
        else if (arg == "--company-type")
            line.CompanyType = value();
        else if (arg == "--reference")
            line.Reference = value();
        else if (arg == "--bzst")
            line.Bzst = true;
        else if (arg == "--tries")
            line.Tries = NumberOption(arg, value(), 1, 10);
        else if (arg == "--retry-within")
            line.RetryWithin = NumberOption(arg, value(), 0, 600000);
        else if (arg == "--from")
            line.From = value();
        else if (arg == "--to")
            line.To = value();
        else if (arg == "--vat")
            line.Vat = value();
        else if (arg == "--csv")
            line.Csv = true;
        else if (arg == "--verify")
            line.Verify = true;
        else if (arg == "--retry-pending")
            line.RetryPending = true;
        else if (arg == "--all")
            line.All = true;
        else if (arg == "--proof")
            line.Proof = NumberOption(arg, value(), 1, 2147483647);
        else if (arg == "--pdf")
            line.Pdf = value();
        else if (arg == "--retry-later")
            line.RetryLater = value();
        else if (arg == "--xlsx")
            line.Xlsx = value();
        else if (arg == "--encoding") {
            const std::string name = value();
            if (name == "utf-8" || name == "UTF-8")
                line.Encoding = TEncoding::Utf8;
            else if (name == "cp1252" || name == "windows-1252")
                line.Encoding = TEncoding::Windows1252;
            else
                throw TUsage(Tr("--encoding expects utf-8 or cp1252, not \"%1\"", {name}));
        } else
            throw TUsage(Tr("unknown option %1", {arg}));
        if (inlineValue)
            throw TUsage(Tr("%1 takes no value", {arg}));
    }
    return line;
}

struct TSingle
{
    std::string_view CoClass;
    std::string_view Method;
    TParams Params;
};

void Operands(const TCommandLine& Line, size_t Count, const char* Names)
{
    if (Line.Words.size() - 1 != Count)
        throw TUsage(Tr("%1 expects %2", {Line.Words[0], Tr(Names)}));
}

TSingle SingleCheck(const TCommandLine& Line)
{
    const std::string& command = Line.Words[0];
    const std::vector<std::string>& w = Line.Words;
    const std::string land = Line.Land.value_or("DE");
    if (Line.Land && land != "DE" && land != "AT")
        throw TUsage(Tr("--land expects DE or AT"));
    if ((Line.Street || Line.Hnr || Line.Pof || Line.Settings.Rewrite) && command != "address")
        throw TUsage(Tr("--street, --hnr, --pof and --rewrite belong to address"));
    if ((Line.Land && command != "blz" && command != "search") || (Line.Fragments && command != "search"))
        throw TUsage(Tr("--land belongs to blz and search, --fragments to search"));
    if (command == "iban")
        return Operands(Line, 1, "IBAN"), TSingle{"Tarvik", "TestIban", {{"aIban", w[1]}}};
    if (command == "blz")
        return Operands(Line, 2, "BANKCODE ACCOUNT"),
               TSingle{"Tarvik", "TestBlzKto", {{"aBlz", w[1]}, {"aKto", w[2]}, {"aLand", land}}};
    if (command == "iban-bic")
        return Operands(Line, 2, "IBAN BIC"), TSingle{"Tarvik", "TestIbanBic", {{"aIban", w[1]}, {"aBic", w[2]}}};
    if (command == "bic")
        return Operands(Line, 1, "BIC"), TSingle{"Tarvik", "TestBic", {{"aBic", w[1]}}};
    if (command == "card")
        return Operands(Line, 1, "NUMBER"), TSingle{"Tarvik", "TestCc", {{"aCc", w[1]}}};
    if (command == "search") {
        if (w.size() < 2)
            throw TUsage(Tr("%1 expects %2", {"search", Tr("WORDS")}));
        std::string words;
        for (size_t i = 1; i < w.size(); ++i)
            words += (i > 1 ? " " : "") + w[i];
        return {"Tarvik",
                "Search",
                {{"aSearchString", words}, {"aLand", land}, {"aFragmentsFlag", Line.Fragments ? "1" : "0"}}};
    }
    if (command == "address") {
        Operands(Line, 2, "PLZ ORT");
        if (Line.Pof && (Line.Street || Line.Hnr))
            throw TUsage(Tr("--pof goes without --street and --hnr"));
        if (Line.Hnr && !Line.Street)
            throw TUsage(Tr("--hnr needs --street"));
        TParams params{{"aPlz", w[1]}, {"aOrt", w[2]}};
        if (Line.Pof) {
            params["aPof"] = *Line.Pof;
            return {"Address", "CheckPof", params};
        }
        if (!Line.Street)
            return {"Address", "Check", params};
        params["aStr"] = *Line.Street;
        if (!Line.Hnr)
            return {"Address", "CheckStr", params};
        params["aHnr"] = *Line.Hnr;
        return {"Address", "CheckStrHnr", params};
    }
    if (command == "plz-type")
        return Operands(Line, 1, "PLZ"), TSingle{"Address", "GetPlzType", {{"aPlz", w[1]}}};
    if (command == "vat")
        return Operands(Line, 1, "VATID"), TSingle{"UStID", "Check", {{"aUStID", w[1]}}};
    throw TUsage(Tr("unknown command %1", {command}));
}

// The batch's input, closed when done; standard input for "-". A workbook's first sheet is read as CSV into
// Workbook, which must outlive the input.
std::unique_ptr<std::FILE, int (*)(std::FILE*)> OpenInput(const std::string& Name, std::string& Workbook)
{
    if (Name == "-")
        return {stdin, [](std::FILE*) { return 0; }};
    if (IsXlsx(Name)) {
        std::ifstream file(Name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        try {
            Workbook = XlsxToCsv(bytes);
        } catch (const std::runtime_error& error) {
            throw TUsage(Name + ": " + error.what());
        }
        // fmemopen refuses an empty buffer; a line end reads as no header all the same.
        if (Workbook.empty())
            Workbook = "\r\n";
        std::FILE* sheet = fmemopen(Workbook.data(), Workbook.size(), "rb");
        if (!sheet)
            throw std::runtime_error(Tr("cannot read %1", {Name}));
        return {sheet, std::fclose};
    }
    std::FILE* file = std::fopen(Name.c_str(), "rb");
    if (!file)
        throw TUsage(Tr("cannot read %1", {Name}));
    return {file, std::fclose};
}

// The connection settings a confirmation takes from the command's settings.
TCheckSettings ConnectionOptions(const TRunSettings& Settings)
{
    TCheckSettings options;
    for (const auto& [name, value] :
         {std::pair{"Proxy", &Settings.Proxy}, {"ProxyUser", &Settings.ProxyUser}, {"ProxyPass", &Settings.ProxyPass}})
        if (*value)
            options.emplace_back(name, FromUtf8(**value));
    if (Settings.Timeout)
        options.emplace_back("Timeout", *Settings.Timeout);
    return options;
}

int RunConfirmCommand(const TCommandLine& Line, const TRunSettings& Settings)
{
    if (Line.Words.size() != 2)
        throw TUsage(Tr("%1 expects %2", {"vat-confirm", Tr("VATID")}));
    if (Line.Hnr || Line.Pof || Line.Land || Line.Fragments || Line.Settings.Rewrite || Line.Jobs || Line.Raw ||
        Line.Excel || Line.Xlsx || Line.Encoding)
        throw TUsage(Tr("vat-confirm takes --own, --name, --street, --zip, --city, --company-type, --reference, "
                        "--bzst, --tries, --retry-within and the connection options"));
    // A missing own id is refused in German by the confirmation itself, as everywhere else.
    TCheckSettings options{{"OwnVatId", FromUtf8(Line.Own.value_or(""))},
                           {"Service", FromUtf8(Line.Bzst ? "bzst" : "vies")}};
    for (const auto& [name, value] : {std::pair{"Name", &Line.Name},
                                      {"Street", &Line.Street},
                                      {"Zip", &Line.Zip},
                                      {"City", &Line.City},
                                      {"CompanyType", &Line.CompanyType},
                                      {"Reference", &Line.Reference}})
        if (*value)
            options.emplace_back(name, FromUtf8(**value));
    for (auto& option : ConnectionOptions(Settings))
        options.push_back(std::move(option));
    if (Line.Tries)
        options.emplace_back("Tries", *Line.Tries);
    if (Line.RetryWithin)
        options.emplace_back("RetryWithin", *Line.RetryWithin);
    if (const std::string fault = ConfirmOptionsFault(options); !fault.empty())
        throw TUsage(fault);
    return RunVatConfirm(Line.Words[1], options, Line.Json, Line.Bus, stdout, stderr);
}

int RunJournal(const TCommandLine& Line, int argc, char** argv)
{
    if (Line.Words.size() != 1)
        throw TUsage(Tr("journal takes no operands"));
    if (Line.Proof || Line.Pdf) {
        if (!Line.Proof || !Line.Pdf)
            throw TUsage(Tr("--proof ID and --pdf FILE go together"));
        // The PDF writer lays out text with the fonts of a GUI application; it needs no screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Nor a runtime directory, which a GUI application asks for: outside a login session (ssh, cron, a
        // container) there is none, and Qt would say so on standard error. A private one (0700) while it runs.
        std::optional<QTemporaryDir> runtime;
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            runtime.emplace(QDir::tempPath() + QStringLiteral("/orvelwddx-runtime-XXXXXX"));
            if (runtime->isValid())
                qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
        }
        QGuiApplication application(argc, argv);
        return WriteProof(*Line.Proof, *Line.Pdf, stderr);
    }
    if (Line.Verify) {
        if (Line.Json || Line.Csv || Line.Excel || Line.Xlsx || Line.From || Line.To || Line.Vat)
            throw TUsage(Tr("--verify checks the whole journal and takes no other option"));
        return VerifyJournal(stdout);
    }
    if (int(Line.Json) + int(Line.Csv) + int(Line.Xlsx.has_value()) > 1)
        throw TUsage(Tr("--json, --csv or --xlsx, only one"));
    if (Line.Excel && !Line.Csv)
        throw TUsage(Tr("--excel goes with --csv"));
    // ISO dates, or as a German writes them.
    std::string dates[2];
    for (int i = 0; i < 2; ++i) {
        const std::optional<std::string>& date = i == 0 ? Line.From : Line.To;
        std::smatch german;
        if (!date || std::regex_match(*date, std::regex(R"(\d{4}-\d{2}-\d{2})")))
            dates[i] = date.value_or("");
        else if (std::regex_match(*date, german, std::regex(R"((\d{1,2})\.(\d{1,2})\.(\d{4}))")))
            dates[i] = german.str(3) + "-" + (german.length(2) == 1 ? "0" : "") + german.str(2) + "-" +
                       (german.length(1) == 1 ? "0" : "") + german.str(1);
        else
            throw TUsage(Tr("--from and --to expect a date as 2026-12-31 or 31.12.2026, not \"%1\"", {*date}));
    }
    const confirm::JournalFilter filter{dates[0], dates[1], Line.Vat ? confirm::NormalizeId(*Line.Vat) : ""};
    if (Line.Xlsx)
        return WriteJournalWorkbook(filter, *Line.Xlsx, stderr);
    return ExportJournal(filter,
                         Line.Json    ? TJournalFormat::Json
                         : Line.Excel ? TJournalFormat::ExcelCsv
                         : Line.Csv   ? TJournalFormat::Csv
                                      : TJournalFormat::Text,
                         stdout, stderr);
}

// Whether the server at HostPort answers a plain HTTP request: what a TLS client meets at the service's plain port.
bool SpeaksHttp(const std::string& HostPort)
{
    const size_t colon = HostPort.rfind(':');
    const std::string host = HostPort.substr(0, colon),
                      port = colon == std::string::npos ? "80" : HostPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return false;
    bool http = false;
    const int fd = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (fd >= 0) {
        timeval wait{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        static constexpr char kRequest[] = "HEAD / HTTP/1.0\r\n\r\n";
        char answer[5] = {};
        http = connect(fd, found->ai_addr, found->ai_addrlen) == 0 &&
               send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) > 0 && recv(fd, answer, 5, MSG_WAITALL) == 5 &&
               std::string_view(answer, 5) == "HTTP/";
        close(fd);
    }
    freeaddrinfo(found);
    return http;
}

// One line more on standard error when the service could not be reached, saying what to do; the transport
// message stays as it is.
void HintWhenNothingAnswers(const TCheckOutcome& Outcome, const TRunSettings& Settings)
{
    const auto value = std::find_if(Outcome.Values.begin(), Outcome.Values.end(),
                                    [](const TCheckValue& v) { return v.Name == "Result"; });
    if (value == Outcome.Values.end() || value->Value != Variant(int32_t(-200)))
        return;
    const std::string text = ValueText(*std::find_if(Outcome.Values.begin(), Outcome.Values.end(),
                                                     [](const TCheckValue& v) { return v.Name == "Resulttext"; }));
    const std::string host = Settings.Host.value_or(config::WddxHost());
    if (text.find("10061") != std::string::npos)
        std::fprintf(stderr, "orvelwddx-check: %s\n",
                     Tr("nothing answers on %1: the local checking service is not running there; start it with "
                        "./scripts/run or systemctl --user start orvelwddx-service.socket where it is installed",
                        {host})
                         .c_str());
    else if (text.find("TLS") != std::string::npos && SpeaksHttp(host))
        std::fprintf(stderr, "orvelwddx-check: %s\n",
                     Tr("%1 speaks plain HTTP, not TLS: check without --tls (or with --tls 0)", {host}).c_str());
}

int Run(int argc, char** argv)
{
    LoadTranslation();
    const TCommandLine line = Parse(argc, argv);
    if (line.Help) {
        std::fputs(Tr(kHelp).c_str(), stdout);
        return kPassed;
    }
    if (line.Version) {
        const rules::OfficialData data = rules::OfficialData::Load(std::time(nullptr));
        const std::string postal = rules::DefaultPostalDataPath();
        std::printf("orvelwddx-check %s\n%s\n", ORVEL_VERSION, rules::DescribeBanks(data.Banks).c_str());
        for (const std::string& edition : rules::DescribeEditions(data, std::time(nullptr)))
            std::printf("%s\n", edition.c_str());
        std::printf("postal codes %s (%s)\n", postal.c_str(), rules::PostalData::Load(postal).Date().c_str());
        for (const std::string& passed : data.PassedOver)
            std::fprintf(stderr, "orvelwddx-check: %s\n", passed.c_str());
        return kPassed;
    }
    if (line.Words.empty())
        throw TUsage(Tr("no command given"));

    const bool confirmation = line.Words[0] == "vat-confirm" || line.Words[0] == "journal";
    const bool batch = line.Words[0] == "batch";
    if (!confirmation &&
        ((!batch && line.Bzst) || (!batch && line.RetryLater) || line.Own || line.Name || line.Zip || line.City ||
         line.CompanyType || line.Reference || line.Tries || line.RetryWithin || line.From || line.To || line.Vat ||
         line.Csv || line.Proof || line.Pdf || line.Verify || line.RetryPending || line.All))
        throw TUsage(Tr("--own, --name, --zip, --city, --company-type, --reference, --bzst, --tries and --retry-within "
                        "belong to vat-confirm (--bzst and --retry-later also to batch), --from, --to, --vat, --csv, "
                        "--proof, --pdf, --verify and --retry-pending to journal"));
    if (confirmation && line.RetryLater)
        throw TUsage(Tr("--retry-later belongs to batch"));
    if (line.Words[0] == "journal" && !line.RetryPending) {
        if (line.All)
            throw TUsage(Tr("--all belongs to journal --retry-pending"));
        return RunJournal(line, argc, argv);
    }

    TComServer server(OrvelWddxTypeLibrary());
    RegisterClassFactories(server);
    TRunSettings settings;
    try {
        settings = ResolveSettings(line.Settings, UserRegistryFile());
    } catch (const std::invalid_argument& error) {
        throw TUsage(error.what());
    }
    // Settings that no class takes in this form are a usage error before anything runs.
    const std::string fault = SettingsFault(server.Factories().front()->Interface(),
                                            SettingsFor(server.Factories().front()->Interface(), settings));
    if (!fault.empty())
        throw TUsage(fault);

    if (line.Offline && line.Bus)
        throw TUsage(Tr("--offline and --bus exclude each other"));
    if (line.Offline && confirmation)
        throw TUsage(Tr("a qualified confirmation needs its service; --offline does not go with vat-confirm"));
    std::optional<QCoreApplication> application;
    std::unique_ptr<TRunner> runner;
    std::string offline;
    if (line.Bus) {
        application.emplace(argc, argv);
        runner = BusRunner();
    } else if (line.Offline) {
        auto rules = std::make_unique<TOfflineRunner>();
        offline = rules->Source();
        for (const std::string& passed : rules->PassedOver())
            std::fprintf(stderr, "orvelwddx-check: %s\n", passed.c_str());
        runner = std::move(rules);
    } else {
        runner = InProcessRunner();
    }

    if (line.Words[0] == "vat-confirm")
        return RunConfirmCommand(line, settings);
    if (line.Words[0] == "journal") {
        if (line.Words.size() != 1 || line.Json || line.Csv || line.From || line.To || line.Vat || line.Proof ||
            line.Pdf || line.Verify || line.Bus)
            throw TUsage(Tr("journal --retry-pending takes only --all and the connection options"));
        return RetryPending(line.All, ConnectionOptions(settings), QDateTime::currentDateTimeUtc(), stdout);
    }
    if (line.Words[0] == "batch") {
        if (line.Words.size() != 2)
            throw TUsage(Tr("%1 expects %2", {"batch", Tr("FILE.csv, FILE.xlsx or -")}));
        if (line.Xlsx && line.Excel)
            throw TUsage(Tr("--xlsx writes a workbook, --excel CSV: one of them"));
        std::string workbook;
        const auto input = OpenInput(line.Words[1], workbook);
        struct sigaction action
        {
        };
        action.sa_handler = OnInterrupt;
        action.sa_flags = SA_RESTART | SA_RESETHAND; // a second Ctrl+C ends at once
        sigaction(SIGINT, &action, nullptr);
        if (!offline.empty())
            std::fprintf(stderr, "orvelwddx-check: %s\n", Tr("offline, %1", {offline}).c_str());
        // Offline checks use every core unless told otherwise; the service's checks one at a time.
        const int jobs = line.Jobs.value_or(line.Offline ? int(std::max(1u, std::thread::hardware_concurrency())) : 1);
        // A file is judged whole; standard input cannot be read twice and is UTF-8 unless told otherwise.
        const TEncoding encoding =
            line.Encoding.value_or(line.Words[1] == "-" || !workbook.empty() ? TEncoding::Utf8 : TEncoding::Judge);
        return RunBatch({.Input = input.get(),
                         .Encoding = encoding,
                         .Jobs = jobs,
                         .Progress = isatty(STDERR_FILENO) == 1,
                         .Raw = line.Raw,
                         .Excel = line.Excel,
                         .Xlsx = line.Xlsx.value_or(""),
                         .Bzst = line.Bzst,
                         .RetryLater = line.RetryLater.value_or(""),
                         .Stop = &gStop},
                        *runner, server, settings, stdout, stderr);
    }
    if (line.Jobs || line.Raw || line.Excel || line.Encoding || line.Xlsx)
        throw TUsage(Tr("--jobs, --raw, --excel, --encoding and --xlsx belong to batch (--excel and --xlsx also to "
                        "journal)"));

    const TSingle single = SingleCheck(line);
    const TCheckCall call = MakeCall(server, single.CoClass, single.Method, single.Params, settings);
    const TCheckOutcome outcome = runner->Run(call, SettingsFor(call.Factory->Interface(), settings));
    if (Failed(outcome.Hr)) {
        std::fprintf(stderr, "orvelwddx-check: %s\n", FailureText(outcome).c_str());
        return kUnreachable;
    }
    if (single.CoClass != "UStID")
        HintWhenNothingAnswers(outcome, settings);
    TExtraLines extra = single.CoClass == "UStID" ? VatPieces(outcome) : TExtraLines{};
    if (single.Method == "TestBic")
        extra.emplace_back(line.Json ? "Verdict" : "Ergebnis", BicVerdict(outcome));
    if (!offline.empty())
        extra.emplace_back("Offline", offline);
    std::fputs((line.Json ? JsonOutput(outcome, extra) : TextOutput(outcome, extra)).c_str(), stdout);
    return Verdict(*call.Operation, single.CoClass, outcome);
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread: the libraries' one-time set-up is not safe to race. An offline run sends nothing and spares
    // itself loading libcurl.
    if (std::none_of(argv + 1, argv + argc, [](const char* arg) { return std::string_view(arg) == "--offline"; }))
        curl_global_init(CURL_GLOBAL_DEFAULT);
    xmlInitParser();
    try {
        return Run(argc, argv);
    } catch (const TUsage& error) {
        std::fprintf(stderr, "orvelwddx-check: %s\n%s\n", error.what(), Tr("Try 'orvelwddx-check --help'.").c_str());
        return kUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvelwddx-check: %s\n", error.what());
        return kUnreachable;
    }
}
