// A GET of the WDDX answers as the HTTP layer hands it on: the first byte picks "/tarvik" or "/address" and whether
// the client is on this machine, then NUL-separated key and value pairs. The answers come from loaded data.

#include "FuzzInput.h"
#include "ServiceRoutes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    fuzz::Input input(data, size);
    const uint8_t shape = input.Byte();
    fuzz::Request request;
    request.Method = "GET";
    request.Path = shape & 1 ? "/address" : "/tarvik";
    request.Loopback = !(shape & 2);
    while (!input.Empty()) {
        std::string key = input.Text();
        request.Arguments[std::move(key)] = input.Text();
    }
    const service::Handler* handler = fuzz::ServiceRoutes::Get().Find(request.Path);
    if (handler)
        (*handler)(request);
    return 0;
}
