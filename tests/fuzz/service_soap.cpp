// A POST to the SOAP and JSON endpoints: the first byte picks the interface (ITarvik, IAddress3, VIES's checkVat and
// checkVatApprox, or the eVatR confirmation), the rest is the request body.

#include "FuzzInput.h"
#include "ServiceRoutes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    static const char* const kPaths[] = {"/soap/ITarvik", "/soap/IAddress3", service::kViesPath,
                                         service::kEvatrRequestPath};
    fuzz::Input input(data, size);
    fuzz::Request request;
    request.Method = "POST";
    request.Path = kPaths[input.Byte() % 4];
    request.Loopback = true;
    request.Headers["Content-Type"] = "text/xml; charset=utf-8";
    request.Body = input.Rest();
    const service::Handler* handler = fuzz::ServiceRoutes::Get().Find(request.Path);
    if (handler)
        (*handler)(request);
    return 0;
}
