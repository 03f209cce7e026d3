#pragma once
// Splits a fuzzer's bytes into the pieces a target needs; past the end every piece is empty or zero.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvel::fuzz {

class Input
{
public:
    Input(const uint8_t* data, size_t size) : FRest(reinterpret_cast<const char*>(data), size) {}

    uint8_t Byte()
    {
        if (FRest.empty())
            return 0;
        const auto byte = static_cast<uint8_t>(FRest.front());
        FRest.remove_prefix(1);
        return byte;
    }
    int32_t Int32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | Byte();
        return static_cast<int32_t>(value);
    }
    // Text up to the next NUL byte (or the end).
    std::string Text()
    {
        const size_t end = FRest.find('\0');
        std::string text(FRest.substr(0, end));
        FRest.remove_prefix(end == std::string_view::npos ? FRest.size() : end + 1);
        return text;
    }
    std::string_view Rest() const { return FRest; }
    bool Empty() const { return FRest.empty(); }

private:
    std::string_view FRest;
};

} // namespace orvel::fuzz
