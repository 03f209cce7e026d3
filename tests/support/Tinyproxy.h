#pragma once
// A real HTTP proxy (tinyproxy) with Basic authentication on 127.0.0.1, for the length of a test.

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace orvel::test {

class Tinyproxy
{
public:
    Tinyproxy(const std::string& user, const std::string& password);
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    uint16_t Port() const { return ListenPort; }

private:
    // Starts tinyproxy on a free port; false when it did not come up there.
    bool Launch(const std::string& user, const std::string& password);

    std::string Directory;
    uint16_t ListenPort = 0;
    pid_t Process = -1;
};

// A port on 127.0.0.1 that nothing listens on at the moment.
uint16_t FreePort();

} // namespace orvel::test
