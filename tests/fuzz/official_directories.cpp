// The SCL and OeNB directory parsers, the readers of files fetched from outside: either the bytes are refused with
// an exception, or every row they accepted is found again under its own key.

#include "rules/AustrianDirectory.h"
#include "rules/SclDirectory.h"

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel::rules;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        std::istringstream in(bytes);
        const SclDirectory scl = SclDirectory::Parse(in, "fuzz.csv");
        for (const SclEntry& entry : scl.Entries())
            if (scl.Find(entry.Bic) != &entry)
                __builtin_trap();
    } catch (const std::runtime_error&) {
    }
    try {
        std::istringstream in(bytes);
        const AustrianDirectory oenb = AustrianDirectory::Parse(in, "fuzz.csv");
        for (const AustrianBank& bank : oenb.Entries())
            if (!oenb.Find(bank.Blz) || oenb.Find(bank.Blz)->Blz != bank.Blz)
                __builtin_trap();
        oenb.Search(bytes.substr(0, 40), true, 10);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
