#pragma once
// What keeps the users file's PBKDF2 off the hot path and password guessing slow: a cache of logins already
// verified, and a throttle that refuses a user name or a client address for a while after a burst of failures.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace orvel::service {

using LoginClock = std::function<std::chrono::steady_clock::time_point()>;

using Digest = std::array<unsigned char, 32>;

// HMAC-SHA256 of the two parts under a key drawn once per process, so that neither the cache nor the throttle's
// tables hold a password or a name that can be looked up, and no client can choose two inputs that meet in one
// entry. Throws std::runtime_error when no key can be drawn.
Digest KeyedHash(std::string_view first, std::string_view second);

struct DigestHash
{
    size_t operator()(const Digest& digest) const;
};

// Logins that matched the users file in force, each as the keyed hash of user, client address and password. In
// shards, so that the server's threads seldom meet on one lock.
class LoginCache
{
public:
    static constexpr size_t kShards = 16;
    static constexpr size_t kMaxEntriesPerShard = 256;

    bool Contains(const Digest& login) const;
    // The generation to hand to Remember: a login verified against an older file is not remembered.
    uint64_t Generation() const { return CurrentGeneration.load(); }
    void Remember(const Digest& login, uint64_t generation);
    // The users file changed: nothing verified before counts any more.
    void Forget();

private:
    struct Shard
    {
        mutable std::shared_mutex Lock;
        std::unordered_set<Digest, DigestHash> Logins;
    };
    const Shard& ShardOf(const Digest& login) const { return Shards[login[31] % kShards]; }
    Shard& ShardOf(const Digest& login) { return Shards[login[31] % kShards]; }

    std::array<Shard, kShards> Shards;
    std::atomic<uint64_t> CurrentGeneration{0};
};

// Failed logins per user name and per client address. After kFailures failures within kWindow the name or address
// is refused for kFirstLockout, twice as long for each lock-out that follows within kMemory, at most kLongestLockout.
// While it lasts even the right password is refused: otherwise the refusal would tell a guess that hit. The one
// exception is the caller's: a user name locked out still admits a login its client address proved before.
// A client on this machine (an empty client) is counted by the user name only: every local program shares the
// loopback address, so one program's failures must not lock out the others.
// A spray of names or addresses cannot flush the tables: a record that holds or remembers a lock-out is never
// evicted for a new one. When the client table is full, new addresses count together in one record for their /24
// (IPv4) or /48 (IPv6), which also locks them together.
class LoginThrottle
{
public:
    static constexpr int kFailures = 5;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kFirstLockout{30};
    static constexpr std::chrono::seconds kLongestLockout{15 * 60};
    static constexpr std::chrono::seconds kMemory{60 * 60};
    // Per table; past it the records longest without a failure give way, unless they hold or remember a lock-out.
    static constexpr size_t kMaxRecords = 10000;

    // clock: the time now (steady_clock::now without one); log: one line per lock-out (standard error without one).
    explicit LoginThrottle(LoginClock clock = {}, std::function<void(const std::string&)> log = {});

    enum class Lock {
        None,
        User,   // the user name, from every address
        Client, // the client address, for every user name
    };
    Lock Locked(std::string_view user, std::string_view client);
    void Failed(std::string_view user, std::string_view client);
    // How long the lock-out that holds the user name or the client address lasts yet, in whole seconds rounded up;
    // 0 when none holds.
    std::chrono::seconds LockedFor(std::string_view user, std::string_view client);

private:
    using Time = std::chrono::steady_clock::time_point;
    struct Record
    {
        int Failures = 0;
        int Lockouts = 0; // in a row, for the growing lock-out
        Time WindowStart{};
        Time LastFailure{};
        Time LockedUntil{};
    };
    using Table = std::unordered_map<Digest, Record, DigestHash>;

    static bool Forgotten(const Record& record, Time now);
    static bool IsLocked(const Table& table, const Digest& key, Time now);
    static Time LockedUntil(const Table& table, const Digest& key);
    // The record of the key, making room for a new one when the table is full; nullptr when it has no room.
    static Record* Slot(Table& table, const Digest& key, Time now);
    void Count(Table& table, const Digest& key, std::string_view shown, Time now);
    // Drops what no longer counts, once a window; the lock is held.
    void Prune(Time now);

    LoginClock Clock;
    std::function<void(const std::string&)> Log;
    mutable std::mutex Guard;
    Table Users, Clients;
    Time LastPrune{};
    // Records held; while it is 0, a login takes no lock here.
    std::atomic<size_t> Held{0};
};

} // namespace orvel::service
