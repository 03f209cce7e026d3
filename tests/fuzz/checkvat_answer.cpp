// A VIES checkVat answer, through the reader the port uses.

#include "objects/checkVatService.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    try {
        ReadcheckVatResponse(SoapResponse(std::string_view(reinterpret_cast<const char*>(data), size)));
    } catch (const Error&) { // SoapFault too
    }
    return 0;
}
