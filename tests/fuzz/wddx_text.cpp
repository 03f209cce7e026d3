// The text search for single WDDX values and the entity decoding, on any reply: the first line names the variable.

#include "wddx/Common.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = text.find('\n');
    const std::string_view name = lineEnd == std::string_view::npos ? "result" : text.substr(0, lineEnd);
    const std::string_view packet = lineEnd == std::string_view::npos ? text : text.substr(lineEnd + 1);
    orvel::GetWddxVar(packet, name);
    orvel::DecodeEntities(std::string(packet));
    return 0;
}
