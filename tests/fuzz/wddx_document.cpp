// The WDDX document reader on any reply, and every way the callers read its values.

#include "platform/Error.h"
#include "wddx/Common.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    try {
        const TWddxDocument document(Widen(std::string_view(reinterpret_cast<const char*>(data), size)));
        for (const char* name : {"result", "resulttext", "banken", "orte", "plzout"}) {
            try {
                const TWddxValue value = document.GetVar(name);
                if (value.IsArray()) {
                    for (int32_t i = -1; i <= int32_t(value.Elements().size()); ++i)
                        value.Element(i);
                }
                value.AsText();
                value.AsInteger();
            } catch (const Error&) {
            }
        }
    } catch (const Error&) {
    }
    return 0;
}
