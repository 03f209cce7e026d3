#include "service/LoginGuard.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
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

KeyedHash::KeyedHash()
{
    if (RAND_bytes(Key.data(), int(Key.size())) != 1)
        throw std::runtime_error("no random bytes for the login cache's key");
}

KeyedHash::Digest KeyedHash::operator()(std::string_view first, std::string_view second) const
{
    // The first part's length leads, so that ("ab", "c") and ("a", "bc") differ.
    const uint64_t length = first.size();
    std::string message(reinterpret_cast<const char*>(&length), sizeof length);
    message.append(first).append(second);
    Digest digest{};
    unsigned size = 0;
    HMAC(EVP_sha256(), Key.data(), int(Key.size()), reinterpret_cast<const unsigned char*>(message.data()),
         message.size(), digest.data(), &size);
    OPENSSL_cleanse(message.data(), message.size());
    return digest;
}

size_t DigestHash::operator()(const KeyedHash::Digest& digest) const
{
    // Already uniformly spread: its first bytes will do.
    size_t value = 0;
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

bool LoginCache::Contains(const KeyedHash::Digest& login) const
{
    const std::shared_lock reading(Lock);
    return Logins.count(login) != 0;
}

uint64_t LoginCache::Generation() const
{
    const std::shared_lock reading(Lock);
    return CurrentGeneration;
}

void LoginCache::Remember(const KeyedHash::Digest& login, uint64_t generation)
{
    const std::unique_lock writing(Lock);
    if (generation != CurrentGeneration)
        return;
    // Only right passwords get here, so the bound is reached by many users, not by guessing; any entry may go.
    if (Logins.size() >= kMaxEntries)
        Logins.erase(Logins.begin());
    Logins.insert(login);
}

void LoginCache::Forget()
{
    const std::unique_lock writing(Lock);
    Logins.clear();
    ++CurrentGeneration;
}

size_t LoginCache::size() const
{
    const std::shared_lock reading(Lock);
    return Logins.size();
}

LoginThrottle::LoginThrottle(LoginClock clock, std::function<void(const std::string&)> log)
    : Clock(clock ? std::move(clock) : LoginClock(std::chrono::steady_clock::now)), Log(std::move(log))
{
    if (!Log)
        Log = [](const std::string& line) { std::fprintf(stderr, "orvelwddx-service: %s\n", line.c_str()); };
}

std::string LoginThrottle::ClientKey(std::string_view client)
{
    const std::string text(client);
    in6_addr address{};
    if (inet_pton(AF_INET6, text.c_str(), &address) != 1 || IN6_IS_ADDR_V4MAPPED(&address))
        return text;
    std::fill(address.s6_addr + 8, address.s6_addr + 16, 0);
    char prefix[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, &address, prefix, sizeof prefix);
    return std::string(prefix) + "/64";
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

bool LoginThrottle::IsLocked(const Table& table, const KeyedHash::Digest& key, Time now)
{
    const auto found = table.find(key);
    return found != table.end() && now < found->second.LockedUntil;
}

bool LoginThrottle::Refused(std::string_view user, std::string_view client)
{
    if (Held.load(std::memory_order_relaxed) == 0)
        return false;
    const auto userKey = Hash("user", user), clientKey = Hash("client", ClientKey(client));
    const Time now = Clock();
    const std::lock_guard locked(Lock);
    Prune(now);
    return IsLocked(Users, userKey, now) || IsLocked(Clients, clientKey, now);
}

void LoginThrottle::Failed(std::string_view user, std::string_view client)
{
    const std::string clientKey = ClientKey(client);
    const auto userDigest = Hash("user", user), clientDigest = Hash("client", clientKey);
    const Time now = Clock();
    const std::lock_guard locked(Lock);
    Prune(now);
    Count(Users, userDigest, "for user \"" + Shown(user) + "\"", now);
    Count(Clients, clientDigest, "from " + Shown(clientKey), now);
    Held.store(Users.size() + Clients.size(), std::memory_order_relaxed);
}

void LoginThrottle::Count(Table& table, const KeyedHash::Digest& key, std::string_view shown, Time now)
{
    if (table.size() >= kMaxRecords && !table.count(key)) {
        std::erase_if(table, [now](const auto& entry) { return Forgotten(entry.second, now); });
        // Still full under a spray of names or addresses: the one longest quiet gives way.
        if (table.size() >= kMaxRecords)
            table.erase(std::min_element(table.begin(), table.end(), [](const auto& a, const auto& b) {
                return a.second.LastFailure < b.second.LastFailure;
            }));
    }
    Record& record = table[key];
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
