// An rpc/encoded answer of the web services (multi-references, arrays), read as the interfaces read theirs. The first
// byte picks what the return value is read as.

#include "FuzzInput.h"
#include "soap/RpcCall.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    fuzz::Input input(data, size);
    const uint8_t shape = input.Byte();
    WideString text;
    int32_t number = 0;
    TStringDynArray list;
    const RpcVariable result = shape % 3 == 0 ? RpcVariable(&text) : shape % 3 == 1 ? RpcVariable(&number)
                                                                                       : RpcVariable(&list);
    WideString outText;
    int32_t outNumber = 0;
    TStringDynArray outList;
    try {
        ReadRpcAnswer(SoapResponse(input.Rest()), "urn:TarvikIntf-ITarvik", "TestBlzKto", result,
                      {{"BankName", &outText}, {"Result", &outNumber}, {"Orte", &outList}});
    } catch (const Error&) {
    }
    return 0;
}
