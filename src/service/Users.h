#pragma once
// Who may ask the service: without a users file everyone on this machine; with one, those whose password matches
// its salted hash ("user:pbkdf2-sha256$iterations$salt$hash" lines, made by --hash-password). A login once verified
// is remembered until the file changes; failures are throttled per user name and client address (LoginGuard).

#include "service/LoginGuard.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orvel::service {

class Users
{
public:
    static constexpr int32_t kAdmitted = 0;
    static constexpr int32_t kDenied = 90;       // wrong user name or password, never saying which
    static constexpr int32_t kLoopbackOnly = 93; // no users file and a client from elsewhere

    // Everyone on the loopback.
    Users();
    // Reads a users file; throws std::runtime_error naming the file and line when a line is not "user:hash".
    // clock: the throttle's time (steady_clock::now without one).
    static Users Load(const std::string& path, LoginClock clock = {});
    Users(Users&&) noexcept;
    Users& operator=(Users&&) noexcept;
    ~Users();

    // A new salted hash of the password.
    static std::string HashPassword(std::string_view password);
    static bool VerifyPassword(std::string_view password, std::string_view hash);

    // client: the client's address, for the throttle. Safe to call from any number of threads, also during Reload.
    int32_t Admit(std::string_view user, std::string_view password, bool loopback, std::string_view client) const;
    // For a login Admit denied: how long a lock-out of the user name or client keeps refusing it (0: none does).
    std::chrono::seconds LockedFor(std::string_view user, bool loopback, std::string_view client) const;
    // Reads the users file again; when its users or hashes changed, they take over and no login verified before
    // counts any more. Throws like Load, keeping the users in force. Whether anything changed.
    bool Reload();
    bool Open() const { return !FromFile; }

    // Logins of other machines over plain HTTP, where their passwords travel unencrypted: refused, or accepted
    // (and then, while a plain listener reaches other machines, the start page warns of it). Set before serving.
    void RefusePlainRemote(bool refuse) { PlainRemoteRefused = refuse; }
    bool RefusesPlainRemote() const { return PlainRemoteRefused; }
    void NotePlainRemoteListener() { PlainRemoteListener = true; }
    bool AcceptsPlainRemote() const { return FromFile && PlainRemoteListener && !PlainRemoteRefused; }
    size_t size() const;

private:
    struct Guard;
    bool FromFile = false;
    bool PlainRemoteRefused = false;
    bool PlainRemoteListener = false;
    std::string Path;
    std::unique_ptr<Guard> State;
};

} // namespace orvel::service
