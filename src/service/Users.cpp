#include "service/Users.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fstream>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <vector>

namespace orvel::service {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
// Enough to make guessing from a stolen file slow, little enough for a check per request (a few milliseconds).
constexpr int kIterations = 10000;
constexpr size_t kSaltSize = 16;
constexpr size_t kHashSize = 32;

std::string Hex(const unsigned char* bytes, size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return text;
}

bool FromHex(std::string_view text, std::string& bytes)
{
    if (text.size() % 2)
        return false;
    const auto nibble = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]), low = nibble(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes += char(high * 16 + low);
    }
    return true;
}

std::string Derive(std::string_view password, const std::string& salt, int iterations)
{
    unsigned char hash[kHashSize];
    PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), reinterpret_cast<const unsigned char*>(salt.data()),
                      int(salt.size()), iterations, EVP_sha256(), sizeof hash, hash);
    return std::string(reinterpret_cast<const char*>(hash), sizeof hash);
}

// A hash no password matches, so that an unknown user costs as much time as a known one.
const std::string& DummyHash()
{
    static const std::string hash = Users::HashPassword("");
    return hash;
}

using Entries = std::vector<std::pair<std::string, std::string>>; // user, hash

Entries ReadEntries(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open the users file " + path);
    Entries entries;
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos || line.compare(colon + 1, kScheme.size(), kScheme) != 0)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": not \"user:" + std::string(kScheme) +
                                     "$...\"");
        entries.emplace_back(line.substr(0, colon), line.substr(colon + 1));
    }
    return entries;
}

} // namespace

struct Users::Guard
{
    explicit Guard(LoginClock clock) : Throttle(std::move(clock)) {}

    mutable std::shared_mutex Lock; // over Known, which a reload swaps
    Entries Known;
    LoginCache Cache;
    LoginThrottle Throttle;
};

Users::Users() = default;
Users::Users(Users&&) noexcept = default;
Users& Users::operator=(Users&&) noexcept = default;
Users::~Users() = default;

std::string Users::HashPassword(std::string_view password)
{
    unsigned char salt[kSaltSize];
    if (RAND_bytes(salt, sizeof salt) != 1)
        throw std::runtime_error("no random bytes for a salt");
    const std::string saltBytes(reinterpret_cast<const char*>(salt), sizeof salt);
    const std::string hash = Derive(password, saltBytes, kIterations);
    return std::string(kScheme) + "$" + std::to_string(kIterations) + "$" + Hex(salt, sizeof salt) + "$" +
           Hex(reinterpret_cast<const unsigned char*>(hash.data()), hash.size());
}

bool Users::VerifyPassword(std::string_view password, std::string_view hash)
{
    // scheme$iterations$salt$hash
    const size_t a = hash.find('$'), b = hash.find('$', a + 1), c = hash.find('$', b + 1);
    if (c == std::string_view::npos || hash.substr(0, a) != kScheme)
        return false;
    int iterations = 0;
    for (const char digit : hash.substr(a + 1, b - a - 1)) {
        if (digit < '0' || digit > '9' || iterations > 10'000'000)
            return false;
        iterations = iterations * 10 + (digit - '0');
    }
    std::string salt, expected;
    if (iterations < 1 || !FromHex(hash.substr(b + 1, c - b - 1), salt) || !FromHex(hash.substr(c + 1), expected) ||
        expected.size() != kHashSize)
        return false;
    const std::string derived = Derive(password, salt, iterations);
    return CRYPTO_memcmp(derived.data(), expected.data(), kHashSize) == 0;
}

Users Users::Load(const std::string& path, LoginClock clock)
{
    Users users;
    users.FromFile = true;
    users.Path = path;
    users.State = std::make_unique<Guard>(std::move(clock));
    users.State->Known = ReadEntries(path);
    return users;
}

bool Users::Reload()
{
    if (!FromFile)
        return false;
    Entries fresh = ReadEntries(Path);
    {
        const std::unique_lock writing(State->Lock);
        if (fresh == State->Known)
            return false;
        State->Known.swap(fresh);
    }
    // After the swap: a check that read the old hash took its generation before this, and is not remembered.
    State->Cache.Forget();
    return true;
}

size_t Users::size() const
{
    if (!State)
        return 0;
    const std::shared_lock reading(State->Lock);
    return State->Known.size();
}

std::chrono::seconds Users::LockedFor(std::string_view user, bool loopback, std::string_view client) const
{
    return FromFile ? State->Throttle.LockedFor(user, loopback ? std::string_view() : client) : std::chrono::seconds(0);
}

int32_t Users::Admit(std::string_view user, std::string_view password, bool loopback, std::string_view client) const
{
    if (!FromFile)
        return loopback ? kAdmitted : kLoopbackOnly;
    Guard& guard = *State;
    // Every program on this machine shares the loopback address: there the user name alone is throttled, and a
    // login proved before from any of them goes on.
    if (loopback)
        client = {};
    const LoginThrottle::Lock lock = guard.Throttle.Locked(user, client);
    if (lock == LoginThrottle::Lock::Client)
        return kDenied;
    // Remembered per client address: one that proved the password before may go on while others guess at the user
    // name, and a guess tells nothing, as a remembered login is never one the guesser made.
    std::string addressed(client);
    addressed.append("\n").append(password);
    const Digest login = KeyedHash(user, addressed);
    OPENSSL_cleanse(addressed.data(), addressed.size());
    if (guard.Cache.Contains(login))
        return kAdmitted;
    if (lock == LoginThrottle::Lock::User)
        return kDenied;

    const uint64_t generation = guard.Cache.Generation();
    std::optional<std::string> hash;
    {
        const std::shared_lock reading(guard.Lock);
        for (const auto& [name, stored] : guard.Known)
            if (name == user)
                hash = stored;
    }
    // An unknown user costs as much time as a known one.
    const bool matches = VerifyPassword(password, hash ? *hash : DummyHash()) && hash;
    if (!matches) {
        guard.Throttle.Failed(user, client);
        return kDenied;
    }
    guard.Cache.Remember(login, generation);
    return kAdmitted;
}

} // namespace orvel::service
