// The registry-export reader on any file: what it reads, written and read again, gives the same file.

#include "platform/Registry.h"

#include <cstdint>
#include <optional>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    std::optional<TRegFile> parsed;
    try {
        parsed = ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const RegistryError&) {
        return 0;
    }
    // Our own output must read back: a throw here is a finding.
    const std::string written = FormatRegFile(*parsed);
    if (FormatRegFile(ParseRegFile(written)) != written)
        __builtin_trap();
    return 0;
}
