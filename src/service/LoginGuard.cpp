#include "service/LoginGuard.h"

#include "service/Http.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace orvel::service {
namespace {

using namespace std::chrono_literals;

// Names in a log line: printable, bounded, never closing the quotes they stand in.
std::string Shown(std::string_view text)
{
    constexpr size_t kLongest = 64;
    std::string shown;
    for (const char c : text.substr(0, kLongest)) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7f || c == '"' || c == '\\' ? '?' : c;
    }
    return text.size() > kLongest ? shown + "..." : shown;
}

} // namespace

Digest KeyedHash(std::string_view first, std::string_view second)
{
    static const std::array<unsigned char, 32> key = [] {
        std::array<unsigned char, 32> bytes{};
        if (RAND_bytes(bytes.data(), int(bytes.size())) != 1)
            throw std::runtime_error("no random bytes for the login cache's key");
        return bytes;
    }();
    // A context per thread, keyed once: setting up HMAC anew costs more than the hash itself.
    struct Context
    {
        EVP_MAC_CTX* Mac = nullptr;
        ~Context() { EVP_MAC_CTX_free(Mac); }
    };
    thread_local Context context;
    if (!context.Mac) {
        EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        EVP_MAC_CTX* mac = hmac ? EVP_MAC_CTX_new(hmac) : nullptr;
        EVP_MAC_free(hmac);
        char digestName[] = "SHA256";
        const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                                         OSSL_PARAM_construct_end()};
        if (!mac || EVP_MAC_init(mac, key.data(), key.size(), parameters) != 1) {
            EVP_MAC_CTX_free(mac);
            throw std::runtime_error("HMAC-SHA256 is not available");
        }
        context.Mac = mac;
    } else if (EVP_MAC_init(context.Mac, nullptr, 0, nullptr) != 1) {
        throw std::runtime_error("HMAC-SHA256 failed");
    }
    // The first part's length leads, so that ("ab", "c") and ("a", "bc") differ.
    const uint64_t length = first.size();
    Digest digest{};
    size_t size = 0;
    if (EVP_MAC_update(context.Mac, reinterpret_cast<const unsigned char*>(&length), sizeof length) != 1 ||
        EVP_MAC_update(context.Mac, reinterpret_cast<const unsigned char*>(first.data()), first.size()) != 1 ||
        EVP_MAC_update(context.Mac, reinterpret_cast<const unsigned char*>(second.data()), second.size()) != 1 ||
        EVP_MAC_final(context.Mac, digest.data(), &size, digest.size()) != 1)
        throw std::runtime_error("HMAC-SHA256 failed");
    return digest;
}

size_t DigestHash::operator()(const Digest& digest) const
{
    // Already uniformly spread: its first bytes will do.
    size_t value = 0;
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

bool LoginCache::Contains(const Digest& login) const
{
    const Shard& shard = ShardOf(login);
    const std::shared_lock reading(shard.Lock);
    return shard.Logins.count(login) != 0;
}

void LoginCache::Remember(const Digest& login, uint64_t generation)
{
    Shard& shard = ShardOf(login);
    const std::unique_lock writing(shard.Lock);
    // Checked under the shard's lock, which Forget takes after counting up: no older login slips in after it.
    if (generation != CurrentGeneration.load())
        return;
    // Only right passwords get here, so the bound is reached by many users, not by guessing; any entry may go.
    if (shard.Logins.size() >= kMaxEntriesPerShard)
        shard.Logins.erase(shard.Logins.begin());
    shard.Logins.insert(login);
}

void LoginCache::Forget()
{
    ++CurrentGeneration;
    for (Shard& shard : Shards) {
        const std::unique_lock writing(shard.Lock);
        shard.Logins.clear();
    }
}

LoginThrottle::LoginThrottle(LoginClock clock, std::function<void(const std::string&)> log)
    : Clock(clock ? std::move(clock) : LoginClock(std::chrono::steady_clock::now)), Log(std::move(log))
{
    if (!Log)
        Log = [](const std::string& line) { std::fprintf(stderr, "orvelwddx-service: %s\n", line.c_str()); };
}

bool LoginThrottle::Forgotten(const Record& record, Time now)
{
    // A lock-out is remembered for a while, so that the next one lasts longer; a few typing errors are not.
    return now >= record.LockedUntil && now - record.LastFailure > (record.Lockouts ? kMemory : kWindow);
}

void LoginThrottle::Prune(Time now)
{
    if (now - LastPrune < kWindow)
        return;
    LastPrune = now;
    for (Table* table : {&Users, &Clients})
        std::erase_if(*table, [now](const auto& entry) { return Forgotten(entry.second, now); });
    Held.store(Users.size() + Clients.size(), std::memory_order_relaxed);
}

bool LoginThrottle::IsLocked(const Table& table, const Digest& key, Time now)
{
    const auto found = table.find(key);
    return found != table.end() && now < found->second.LockedUntil;
}

namespace {

// The record shared by the client's neighbours once the client table is full.
std::string ClientNeighbourhood(std::string_view client)
{
    return AddressBlock(client, 24, 48);
}

} // namespace

LoginThrottle::Lock LoginThrottle::Locked(std::string_view user, std::string_view client)
{
    if (Held.load(std::memory_order_relaxed) == 0)
        return Lock::None;
    const Digest userKey = KeyedHash("user", user);
    const Time now = Clock();
    if (!client.empty()) {
        const Digest own = KeyedHash("client", ClientBlock(client));
        const Digest shared = KeyedHash("client", ClientNeighbourhood(client));
        const std::lock_guard locked(Guard);
        Prune(now);
        if (IsLocked(Clients, own, now) || IsLocked(Clients, shared, now))
            return Lock::Client;
        return IsLocked(Users, userKey, now) ? Lock::User : Lock::None;
    }
    const std::lock_guard locked(Guard);
    Prune(now);
    return IsLocked(Users, userKey, now) ? Lock::User : Lock::None;
}

LoginThrottle::Time LoginThrottle::LockedUntil(const Table& table, const Digest& key)
{
    const auto found = table.find(key);
    return found == table.end() ? Time{} : found->second.LockedUntil;
}

std::chrono::seconds LoginThrottle::LockedFor(std::string_view user, std::string_view client)
{
    if (Held.load(std::memory_order_relaxed) == 0)
        return std::chrono::seconds(0);
    const Digest userKey = KeyedHash("user", user);
    const Time now = Clock();
    const std::lock_guard locked(Guard);
    Time until = LockedUntil(Users, userKey);
    if (!client.empty())
        until = std::max({until, LockedUntil(Clients, KeyedHash("client", ClientBlock(client))),
                          LockedUntil(Clients, KeyedHash("client", ClientNeighbourhood(client)))});
    if (until <= now)
        return std::chrono::seconds(0);
    return std::chrono::ceil<std::chrono::seconds>(until - now);
}

void LoginThrottle::Failed(std::string_view user, std::string_view client)
{
    const Digest userDigest = KeyedHash("user", user);
    std::string clientKey = client.empty() ? std::string() : ClientBlock(client);
    Digest clientDigest = KeyedHash("client", clientKey);
    const Time now = Clock();
    const std::lock_guard locked(Guard);
    Prune(now);
    Count(Users, userDigest, "for user \"" + Shown(user) + "\"", now);
    if (!client.empty()) {
        if (Clients.size() >= kMaxRecords && !Clients.count(clientDigest)) {
            clientKey = ClientNeighbourhood(client);
            clientDigest = KeyedHash("client", clientKey);
        }
        Count(Clients, clientDigest, "from " + Shown(clientKey), now);
    }
    Held.store(Users.size() + Clients.size(), std::memory_order_relaxed);
}

LoginThrottle::Record* LoginThrottle::Slot(Table& table, const Digest& key, Time now)
{
    if (const auto found = table.find(key); found != table.end())
        return &found->second;
    if (table.size() >= kMaxRecords) {
        std::erase_if(table, [now](const auto& entry) { return Forgotten(entry.second, now); });
        // Still full under a spray: the record longest quiet gives way, but never one whose lock-out holds or is
        // remembered, or the spray would lift it and reset its growth.
        if (table.size() >= kMaxRecords) {
            auto quietest = table.end();
            for (auto entry = table.begin(); entry != table.end(); ++entry)
                if (entry->second.Lockouts == 0 &&
                    (quietest == table.end() || entry->second.LastFailure < quietest->second.LastFailure))
                    quietest = entry;
            if (quietest == table.end())
                return nullptr;
            table.erase(quietest);
        }
    }
    return &table[key];
}

void LoginThrottle::Count(Table& table, const Digest& key, std::string_view shown, Time now)
{
    Record* slot = Slot(table, key, now);
    if (!slot)
        return;
    Record& record = *slot;
    if (Forgotten(record, now))
        record.Lockouts = 0;
    if (record.Failures == 0 || now - record.WindowStart > kWindow) {
        record.Failures = 0;
        record.WindowStart = now;
    }
    record.LastFailure = now;
    if (++record.Failures < kFailures)
        return;
    const auto lockout =
        std::min<std::chrono::seconds>(kFirstLockout * (1 << std::min(record.Lockouts, 10)), kLongestLockout);
    record.Failures = 0;
    ++record.Lockouts;
    record.LockedUntil = now + lockout;
    Log(std::to_string(kFailures) + " failed logins within " + std::to_string(kWindow.count()) + " s " +
        std::string(shown) + ": refused for " + std::to_string(lockout.count()) + " s");
}

} // namespace orvel::service
