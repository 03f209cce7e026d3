#pragma once

#include <cstdint>
#include <string>

namespace orvel {

class HttpClient;

// Applies proxy settings to Client; returns whether Basic proxy authentication is on (user or password given).
bool SetHttpProxy(HttpClient& Client, const std::string& Server, int32_t Port, const std::string& User,
                  const std::string& Password);

} // namespace orvel
