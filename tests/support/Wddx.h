#pragma once
// WDDX reply bodies as the checking service writes them.

#include <string>
#include <utility>
#include <vector>

namespace orvel::test {

using WddxVars = std::vector<std::pair<std::string, std::string>>;

inline std::string WddxStringVar(const std::string& name, const std::string& value)
{
    return "<var name='" + name + "'><string>" + value + "</string></var>";
}

inline std::string WddxArrayVar(const std::string& name, const std::vector<std::string>& entries)
{
    std::string var = "<var name='" + name + "'><array length='" + std::to_string(entries.size()) + "'>";
    for (const std::string& entry : entries)
        var += "<string>" + entry + "</string>";
    return var + "</array></var>";
}

// A packet whose struct holds the given variables, written out.
inline std::string WddxPacketOf(const std::string& vars)
{
    return "<wddxPacket version='1.0'><header/><data><struct>" + vars + "</struct></data></wddxPacket>";
}

// A packet whose struct holds one string variable per entry, in order.
inline std::string WddxPacket(const WddxVars& vars)
{
    std::string written;
    for (const auto& [name, value] : vars)
        written += WddxStringVar(name, value);
    return WddxPacketOf(written);
}

} // namespace orvel::test
