#include "feeds/Editions.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace orvel::feeds {
namespace {

constexpr const char* kStateFile = "editions.json";

nlohmann::json ToJson(const EditionState& edition)
{
    return {{"file", edition.File},
            {"url", edition.Url},
            {"link_hash", edition.LinkHash},
            {"etag", edition.Etag},
            {"last_modified", edition.LastModified},
            {"sha256", edition.Sha256},
            {"valid_from", edition.ValidFrom},
            {"valid_until", edition.ValidUntil.empty() ? nlohmann::json() : nlohmann::json(edition.ValidUntil)},
            {"fetched_at", edition.FetchedAt},
            {"result", edition.Result}};
}

EditionState FromJson(const nlohmann::json& object)
{
    const auto text = [&object](const char* key) {
        const auto found = object.find(key);
        return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    return {text("file"),   text("url"),        text("link_hash"),   text("etag"),       text("last_modified"),
            text("sha256"), text("valid_from"), text("valid_until"), text("fetched_at"), text("result")};
}

void Flush(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(path + ": nicht auf die Platte geschrieben");
    }
    ::close(fd);
}

} // namespace

State ReadState(const std::string& folder)
{
    State state;
    std::ifstream in(folder + "/" + kStateFile);
    if (!in)
        return state;
    const nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
    if (!document.is_object())
        return state;
    for (const auto& [name, entry] : document.items()) {
        if (!entry.is_object())
            continue;
        SourceState& source = state[name];
        source.Current = FromJson(entry);
        if (const auto previous = entry.find("previous"); previous != entry.end() && previous->is_object())
            source.Previous = FromJson(*previous);
        if (const auto taken = entry.find("rolled_back"); taken != entry.end() && taken->is_string())
            source.RolledBack = taken->get<std::string>();
    }
    return state;
}

void WriteState(const std::string& folder, const State& state)
{
    nlohmann::json document = nlohmann::json::object();
    for (const auto& [name, source] : state) {
        nlohmann::json entry = ToJson(source.Current);
        if (!source.Previous.File.empty())
            entry["previous"] = ToJson(source.Previous);
        if (!source.RolledBack.empty())
            entry["rolled_back"] = source.RolledBack;
        document[name] = std::move(entry);
    }
    Publish(WriteAside(folder, kStateFile, document.dump(2) + "\n"), folder + "/" + kStateFile);
}

std::vector<std::string> InstalledFiles(const std::string& folder, const SourceInfo& source)
{
    std::vector<std::pair<std::time_t, std::string>> dated;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const size_t fixed = source.Prefix.size() + source.Extension.size();
        if (name.size() != fixed + 8 || !name.starts_with(source.Prefix) || !name.ends_with(source.Extension) ||
            !entry.is_regular_file(error))
            continue;
        if (const std::time_t date = ParseDay(std::string_view(name).substr(source.Prefix.size(), 8)); date >= 0)
            dated.emplace_back(date, entry.path().string());
    }
    std::sort(dated.begin(), dated.end(), std::greater<>());
    std::vector<std::string> files;
    for (auto& [date, path] : dated)
        files.push_back(std::move(path));
    return files;
}

std::string WriteAside(const std::string& folder, const std::string& name, const std::string& bytes)
{
    std::filesystem::create_directories(folder);
    const std::string part = folder + "/" + name + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out.flush())
            throw std::runtime_error(part + ": nicht geschrieben");
    }
    Flush(part, O_RDONLY);
    return part;
}

void Publish(const std::string& part, const std::string& target)
{
    std::filesystem::rename(part, target);
    Flush(std::filesystem::path(target).parent_path().string(), O_RDONLY | O_DIRECTORY);
}

FolderLock::FolderLock(const std::string& folder)
{
    std::filesystem::create_directories(folder);
    Fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0)
        throw std::runtime_error(folder + ": nicht lesbar");
    if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(Fd);
        throw std::runtime_error(folder + ": eine andere Aktualisierung läuft gerade");
    }
}

FolderLock::~FolderLock()
{
    ::close(Fd); // gives the lock back
}

std::string Sha256(const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

std::string Timestamp(std::time_t now)
{
    std::tm parts{};
    localtime_r(&now, &parts);
    const int offset = int(parts.tm_gmtoff / 60) % (24 * 60);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, offset < 0 ? '-' : '+',
                  std::abs(offset) / 60, std::abs(offset) % 60);
    return text;
}

} // namespace orvel::feeds
