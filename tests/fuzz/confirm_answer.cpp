// An answer to a qualified confirmation, through the readers the clients use: the first byte picks VIES's
// checkVatApprox or the BZSt's eVatR (the next two bytes its HTTP status), the rest is the body.

#include "FuzzInput.h"
#include "confirm/Confirm.h"
#include "transport/HttpClient.h"
#include "transport/Soap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    fuzz::Input input(data, size);
    if (input.Byte() % 2 == 0) {
        try {
            confirm::ReadViesApprox(SoapResponse(input.Rest()), {});
        } catch (const Error&) { // SoapFault too
        }
        return 0;
    }
    HttpReply reply;
    reply.Status = 100 + (input.Byte() << 8 | input.Byte()) % 500;
    reply.StatusLine = "HTTP/1.1 " + std::to_string(reply.Status) + " Status";
    reply.Body = input.Rest();
    confirm::ReadEvatrAnswer(reply, {});
    return 0;
}
