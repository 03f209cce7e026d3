// The workbook reader of batch: any archive, any sheet XML, read to CSV or refused with an exception.

#include "cli/Xlsx.h"
#include "platform/Csv.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        // What comes out is CSV the batch reads back record by record.
        orvel::ParseCsv(orvel::cli::XlsxToCsv(std::string_view(reinterpret_cast<const char*>(data), size)));
    } catch (const std::runtime_error&) {
    }
    return 0;
}
