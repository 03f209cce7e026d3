// The CSV reader of batch: the whole text at once, and piece by piece as a stream, where a record is never longer
// than the limit and every byte is consumed once.

#include "platform/Csv.h"
#include "FuzzInput.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    orvel::fuzz::Input input(data, size);
    const size_t piece = 1 + input.Byte() % 64;
    const std::string text(input.Rest());
    ParseCsv(text);
    std::string buffer;
    size_t offered = 0, line = 1;
    while (offered < text.size() || !buffer.empty()) {
        const size_t take = std::min(piece, text.size() - offered);
        buffer.append(text, offered, take);
        offered += take;
        size_t consumed = 0;
        const bool more = offered < text.size();
        for (const TCsvRecord& record : ParseCsv(buffer, ',', more, consumed, line))
            if (record.Line == 0 || (record.Fault.empty() && record.Fields.empty()))
                __builtin_trap();
        if (consumed > buffer.size())
            __builtin_trap();
        buffer.erase(0, consumed);
        if (!more && consumed == 0)
            break;
    }
    return 0;
}
