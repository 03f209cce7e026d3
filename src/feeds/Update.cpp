#include "feeds/Update.h"

#include "feeds/Editions.h"

#include "rules/BankDirectory.h"
#include "rules/PostalData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <stdexcept>

namespace orvel::feeds {
namespace {

// The download page is small; anything larger is not that page.
constexpr size_t kMaxPageBytes = 2u << 20;
// Installed editions kept per source: the one in use, the one before it, and one for a later day.
constexpr size_t kKeptEditions = 3;

struct Arrival
{
    std::string Bytes;
    std::time_t ValidFrom = 0; // the Bundesbank's, from the page or the hand install; the others carry theirs
    EditionState Meta;         // address, link hash, ETag, Last-Modified, valid until
    std::string Origin;        // where the bytes came from, for the messages
    std::string How;           // the result recorded
};

std::string Name(const SourceInfo& source, std::time_t date)
{
    std::string day = IsoDay(date);
    std::erase(day, '-');
    return std::string(source.Prefix) + day + std::string(source.Extension);
}

std::string FileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

std::string Describe(const Contents& contents, std::time_t until)
{
    std::string line = "gültig ab " + rules::GermanDate(contents.ValidFrom);
    if (until > 0)
        line += " bis " + rules::GermanDate(until);
    line += ", ";
    line += contents.Codes.empty() ? std::to_string(contents.Bics.size()) + " BICs"
                                   : std::to_string(contents.Codes.size()) + " Bankleitzahlen";
    return line;
}

// The edition an arrival is compared with: the one in use, that is the newest installed file whose day has come
// and that its reader takes (a broken one is passed over, as the readers pass it over), else the Bundesbank's
// built-in data.
std::optional<Contents> Installed(const SourceInfo& source, const std::string& folder, std::time_t now)
{
    for (const std::string& file : InstalledFiles(folder, source)) {
        const std::time_t date = ParseDay(FileName(file).substr(source.Prefix.size(), 8));
        if (date > rules::GermanDay(now))
            continue;
        try {
            return Inspect(source, file, date);
        } catch (const std::exception&) {
        }
    }
    if (&source != &Bundesbank())
        return std::nullopt;
    const rules::BankDirectory builtIn = rules::BankDirectory::Load(rules::BuiltInDataPath("bankleitzahlen.tsv"), now);
    Contents contents;
    contents.ValidFrom = builtIn.Date();
    for (const rules::Bank& bank : builtIn.Records()) {
        contents.Codes.insert(bank.Blz);
        if (!bank.Bic.empty())
            contents.Bics.insert(bank.Bic.size() == 8 ? bank.Bic + "XXX" : bank.Bic);
    }
    return contents;
}

// Removes the file written aside unless it was published.
struct PartGuard
{
    std::string Path;
    ~PartGuard()
    {
        if (!Path.empty())
            std::filesystem::remove(Path, Ignored);
    }
    std::error_code Ignored;
};

std::string Adopt(const SourceInfo& source, const std::string& folder, Arrival arrival, bool force, std::time_t now)
{
    const FolderLock lock(folder);
    State state = ReadState(folder);
    SourceState& entry = state[std::string(source.Name)];
    const std::string sha = Sha256(arrival.Bytes);
    const std::string title(source.Title);
    if (sha == entry.Current.Sha256 && std::filesystem::exists(folder + "/" + entry.Current.File))
        return title + ": unverändert (" + entry.Current.File + "), nichts installiert";
    if (sha == entry.RolledBack && !force)
        return title + ": die zurückgenommene Ausgabe bleibt draußen (--force installiert sie wieder)";

    PartGuard part{
        WriteAside(folder, std::string(source.Prefix) + "neu" + std::string(source.Extension), arrival.Bytes), {}};
    Contents contents;
    try {
        contents = Inspect(source, part.Path, arrival.ValidFrom);
    } catch (const std::exception& error) {
        // The fault is the arrival's: name where it came from, not the copy.
        std::string what = error.what();
        if (what.starts_with(part.Path))
            what.replace(0, part.Path.size(), arrival.Origin);
        throw std::runtime_error(what);
    }
    const std::optional<Contents> installed = Installed(source, folder, now);
    if (const std::string reason = Implausible(source, contents, installed ? &*installed : nullptr);
        !reason.empty() && !force)
        throw std::runtime_error(arrival.Origin + ": " + reason + "; --force installiert sie trotzdem");

    const std::string name = Name(source, contents.ValidFrom);
    const State before = state;
    if (entry.Current.File != name)
        entry.Previous = entry.Current;
    if (sha == entry.RolledBack)
        entry.RolledBack.clear();
    entry.Current = arrival.Meta;
    entry.Current.File = name;
    entry.Current.Sha256 = sha;
    entry.Current.ValidFrom = IsoDay(contents.ValidFrom);
    entry.Current.FetchedAt = Timestamp(now);
    entry.Current.Result = arrival.How;
    // The state first: a reader that sees the new file also sees its end date and time of fetch.
    WriteState(folder, state);
    try {
        Publish(part.Path, folder + "/" + name);
    } catch (...) {
        WriteState(folder, before);
        throw;
    }
    part.Path.clear();
    std::error_code ignored;
    const std::vector<std::string> files = InstalledFiles(folder, source);
    for (size_t i = kKeptEditions; i < files.size(); ++i)
        std::filesystem::remove(files[i], ignored);
    std::string line =
        title + ": " + name + " installiert (" + Describe(contents, ParseDay(arrival.Meta.ValidUntil)) + ")";
    if (contents.ValidFrom > rules::GermanDay(now))
        line += "; in Gebrauch ab " + rules::GermanDate(contents.ValidFrom);
    return line;
}

// Rollback without its message frame.
std::string TakeBack(const SourceInfo& source, const std::string& folder, std::time_t now)
{
    const std::string title(source.Title);
    const FolderLock lock(folder);
    const std::vector<std::string> files = InstalledFiles(folder, source);
    if (files.empty())
        throw std::runtime_error("keine installierte Ausgabe in " + folder);
    std::string bytes;
    {
        std::ifstream in(files[0], std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::rename(files[0], files[0] + ".rolledback");
    State state = ReadState(folder);
    SourceState& entry = state[std::string(source.Name)];
    EditionState taken = entry.Current;
    entry.RolledBack = Sha256(bytes);
    const std::string back = files.size() > 1 ? FileName(files[1]) : std::string();
    if (!back.empty() && entry.Previous.File == back) {
        entry.Current = entry.Previous;
    } else {
        entry.Current = {};
        entry.Current.File = back;
        if (!back.empty())
            entry.Current.ValidFrom = IsoDay(ParseDay(back.substr(source.Prefix.size(), 8)));
    }
    entry.Previous = {};
    // The taken-back edition's marks stay, so that asking again finds nothing new.
    entry.Current.LinkHash = taken.LinkHash;
    entry.Current.Etag = taken.Etag;
    entry.Current.LastModified = taken.LastModified;
    entry.Current.FetchedAt = Timestamp(now);
    entry.Current.Result = "zurückgenommen: " + FileName(files[0]);
    WriteState(folder, state);
    return title + ": " + FileName(files[0]) + " zurückgenommen, in Gebrauch " +
           (back.empty() ? std::string(&source == &Bundesbank() ? "die eingebauten Daten" : "keine Ausgabe") : back);
}

} // namespace

std::string Update(const SourceInfo& source, const UpdateSettings& settings, const Fetch& fetch)
{
    const std::string title(source.Title);
    try {
        const SourceState entry = ReadState(settings.Folder)[std::string(source.Name)];
        const bool haveCurrent =
            !entry.Current.File.empty() && std::filesystem::exists(settings.Folder + "/" + entry.Current.File);
        Arrival arrival;
        arrival.Meta.Url = settings.Url;
        arrival.How = "aktualisiert";
        Request request{settings.Url, {}, {}, source.MaxBytes, settings.Timeout};
        if (&source == &Bundesbank()) {
            // The page says which file is current; its link changes with each edition.
            const Reply page = fetch({settings.Url, {}, {}, kMaxPageBytes, settings.Timeout});
            const PageEdition edition = ReadBundesbankPage(page.Body, page.Url.empty() ? settings.Url : page.Url);
            if (haveCurrent && edition.Hash == entry.Current.LinkHash)
                return title + ": unverändert (" + entry.Current.File + "), nichts geladen";
            request.Url = edition.Url;
            arrival.ValidFrom = edition.From;
            arrival.Meta.LinkHash = edition.Hash;
            if (edition.Until > 0)
                arrival.Meta.ValidUntil = IsoDay(edition.Until);
        } else if (haveCurrent) {
            request.Etag = entry.Current.Etag;
            request.LastModified = entry.Current.LastModified;
        }
        Reply file = fetch(request);
        if (file.Status == 304)
            return title + ": unverändert (" + entry.Current.File + "), nichts geladen";
        arrival.Origin = file.Url.empty() ? request.Url : file.Url;
        arrival.Meta.Etag = file.Etag;
        arrival.Meta.LastModified = file.LastModified;
        arrival.Bytes = std::move(file.Body);
        return Adopt(source, settings.Folder, std::move(arrival), settings.Force, settings.Now);
    } catch (const std::exception& error) {
        throw std::runtime_error(title + " nicht aktualisiert: " + error.what());
    }
}

std::string Rollback(const SourceInfo& source, const std::string& folder, std::time_t now)
{
    try {
        return TakeBack(source, folder, now);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string(source.Title) + " nicht zurückgenommen: " + error.what());
    }
}

std::string InstallBankFile(const std::string& file, const std::string& validFrom, const std::string& folder,
                            bool force, std::time_t now)
{
    const SourceInfo& source = Bundesbank();
    const std::string title(source.Title);
    try {
        Arrival arrival;
        arrival.Origin = file;
        arrival.How = "von Hand installiert";
        if (!validFrom.empty()) {
            arrival.ValidFrom = validFrom.size() == 10 ? ParseDay(validFrom) : -1;
            if (arrival.ValidFrom < 0)
                throw std::runtime_error("--valid-from " + validFrom + ": kein Datum JJJJ-MM-TT");
        } else {
            static const std::regex named(R"(blz_(\d{8})\.txt$)");
            std::smatch match;
            if (!std::regex_search(file, match, named))
                throw std::runtime_error(file + ": kein Gültigkeitsdatum; Datei blz_JJJJMMTT.txt nennen oder "
                                                "--valid-from angeben");
            arrival.ValidFrom = ParseDay(match[1].str());
            if (arrival.ValidFrom < 0)
                throw std::runtime_error(file + ": " + match[1].str() + " im Namen ist kein Datum");
        }
        // Opened once and read from that descriptor: what is checked is what was read, whatever happens to the
        // file meanwhile. A device or a pipe is refused before a byte is read.
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            throw std::runtime_error(file + ": nicht lesbar");
        struct stat info
        {
        };
        std::string bytes;
        const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        if (regular && size_t(info.st_size) <= source.MaxBytes) {
            bytes.resize(source.MaxBytes + 1);
            size_t got = 0;
            for (ssize_t n; got < bytes.size() && (n = ::read(fd, bytes.data() + got, bytes.size() - got)) > 0;)
                got += size_t(n);
            bytes.resize(got);
        }
        ::close(fd);
        if (!regular)
            throw std::runtime_error(file + ": keine gewöhnliche Datei");
        if (size_t(info.st_size) > source.MaxBytes || bytes.size() > source.MaxBytes)
            throw std::runtime_error(file + ": größer als " + std::to_string(source.MaxBytes >> 20) + " MiB");
        arrival.Meta.Url = std::filesystem::absolute(file).string();
        arrival.Bytes = std::move(bytes);
        return Adopt(source, folder, std::move(arrival), force, now);
    } catch (const std::exception& error) {
        throw std::runtime_error(title + " nicht installiert: " + error.what());
    }
}

} // namespace orvel::feeds
