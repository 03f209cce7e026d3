#pragma once
// The installed editions in a data folder: the dated files themselves and the state file editions.json that
// records, per source, where the edition in use came from and what became of the last attempt.

#include "feeds/Sources.h"

#include <map>
#include <string>
#include <vector>

namespace orvel::feeds {

struct EditionState
{
    std::string File; // name in the folder
    std::string Url;
    std::string LinkHash;
    std::string Etag;
    std::string LastModified;
    std::string Sha256;
    std::string ValidFrom;  // YYYY-MM-DD
    std::string ValidUntil; // YYYY-MM-DD, empty when unknown (null in the file)
    std::string FetchedAt;  // ISO 8601 with offset
    std::string Result;
};

struct SourceState
{
    EditionState Current;
    EditionState Previous;  // what Current replaced, for a rollback
    std::string RolledBack; // SHA-256 of an edition taken back, not installed again unless forced
};

using State = std::map<std::string, SourceState>; // by source name

// An unreadable or damaged state file reads as empty: it only saves downloads and names dates.
State ReadState(const std::string& folder);
// Replaced atomically, as the editions are.
void WriteState(const std::string& folder, const State& state);

// The source's installed files, newest date first (a later day's file among them); files still being written
// (.part) or taken back (.rolledback) and names without a real date are not editions.
std::vector<std::string> InstalledFiles(const std::string& folder, const SourceInfo& source);

// Writes bytes to folder/name.part and flushes them to the disk; returns that path.
std::string WriteAside(const std::string& folder, const std::string& name, const std::string& bytes);
// Renames the written file to its name in the folder and flushes the folder.
void Publish(const std::string& part, const std::string& target);

// Held while a folder's editions and state change: two updates at once (the timer and the window's button) would
// otherwise write the same files. A second one is refused at once rather than queued.
class FolderLock
{
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int Fd = -1;
};

std::string Sha256(const std::string& bytes);
// now as ISO 8601 in local time with its offset: 2026-12-11T07:05:00+01:00.
std::string Timestamp(std::time_t now);

} // namespace orvel::feeds
