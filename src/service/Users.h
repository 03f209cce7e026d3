#pragma once
// Who may ask the service: without a users file everyone on this machine; with one, those whose password matches
// its salted hash ("user:pbkdf2-sha256$iterations$salt$hash" lines, made by --hash-password).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvel::service {

class Users
{
public:
    static constexpr int32_t kAdmitted = 0;
    static constexpr int32_t kDenied = 90;       // wrong user name or password, never saying which
    static constexpr int32_t kLoopbackOnly = 93; // no users file and a client from elsewhere

    // Everyone on the loopback.
    Users() = default;
    // Reads a users file; throws std::runtime_error naming the file and line when a line is not "user:hash".
    static Users Load(const std::string& path);

    // A new salted hash of the password.
    static std::string HashPassword(std::string_view password);
    static bool VerifyPassword(std::string_view password, std::string_view hash);

    int32_t Admit(std::string_view user, std::string_view password, bool loopback) const;
    bool Open() const { return !FromFile; }
    size_t size() const { return Entries.size(); }

private:
    bool FromFile = false;
    std::vector<std::pair<std::string, std::string>> Entries; // user, hash
};

} // namespace orvel::service
