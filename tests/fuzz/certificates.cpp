// Certificate verdicts on arbitrary DER and PEM: the bytes are both the root store (a PEM file) and the server's
// list (DER certificates one after another), judged and checked against a host name as in a handshake.

#include "platform/Error.h"
#include "transport/Tls.h"
#include "wddx/Certs.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

char gRootFile[] = "/tmp/orvel-fuzz-roots-XXXXXX";

void RemoveRootFile()
{
    ::unlink(gRootFile);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const int fd = ::mkstemp(gRootFile);
    if (fd < 0)
        std::abort();
    ::close(fd);
    std::atexit(RemoveRootFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace orvel;
    if (FILE* file = std::fopen(gRootFile, "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    TCerts checker;
    checker.RootStore().Open(gRootFile);
    checker.SetServerName("wddx.orvel.de:443");
    TlsHandler handler;
    handler.SetRootStore(&checker.RootStore());

    const unsigned char* next = data;
    const unsigned char* end = data + size;
    X509Handle previous;
    for (int i = 0; i < 8 && next < end; ++i) {
        X509Handle certificate(d2i_X509(nullptr, &next, long(end - next)));
        if (!certificate)
            break;
        handler.Judge(certificate.get());
        checker.ValidateCertificate(certificate.get(), handler);
        if (previous)
            SignatureVerifiedBy(certificate.get(), previous.get());
        previous = std::move(certificate);
    }
    int32_t result = 0;
    std::string text;
    checker.CheckServerName(result, text);
    checker.CertificateName();
    checker.ErrorSuffix();
    ERR_clear_error();
    return 0;
}
