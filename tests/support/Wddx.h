#pragma once
// WDDX reply bodies as the checking service writes them.

#include <string>
#include <utility>
#include <vector>

namespace orvel::test {

using WddxVars = std::vector<std::pair<std::string, std::string>>;

// A packet whose struct holds one string variable per entry, in order.
inline std::string WddxPacket(const WddxVars& vars)
{
    std::string packet = "<wddxPacket version='1.0'><header/><data><struct>";
    for (const auto& [name, value] : vars)
        packet += "<var name='" + name + "'><string>" + value + "</string></var>";
    return packet + "</struct></data></wddxPacket>";
}

} // namespace orvel::test
