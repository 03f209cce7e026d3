#pragma once
// A small certificate authority made at test time: a root, an intermediate below it, and server certificates
// for the cases the TLS tests need. Keys are P-256, so making it takes milliseconds.

#include "support/FixtureServer.h"
#include "transport/Handles.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace orvel::test {

struct Credential
{
    X509Handle Certificate;
    EvpKeyHandle Key;
};

struct CertificateOrder
{
    std::string CommonName;
    const Credential* Issuer = nullptr; // none: signed with its own key, issuer name = subject name
    bool Authority = false;             // may issue certificates
    long ValidFromDays = -1;            // relative to now
    long ValidToDays = 365;
    // The authority key identifier names this credential's key instead of the issuer's.
    const Credential* AuthorityKeyOf = nullptr;
};

Credential Issue(const CertificateOrder& order);

class TestPki
{
public:
    TestPki();
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    Credential Root;         // "Orvel Test Root", self-signed
    Credential Intermediate; // "Orvel Test Intermediate", issued by Root
    Credential Localhost;    // "localhost", issued by Intermediate
    Credential OtherName;    // "other.example", issued by Intermediate
    Credential Wildcard;     // "*.localhost", issued by Intermediate
    Credential Expired;      // "localhost", issued by Intermediate, expired yesterday
    Credential SelfSigned;   // "localhost", self-signed

    // Writes the certificates, in order, as one PEM file in the PKI's directory and returns its path.
    std::string PemFile(const std::string& name, std::initializer_list<const Credential*> certificates) const;
    // A PEM file holding only the test root.
    const std::string& RootStoreFile() const { return RootFile; }
    // What a server presents: its own certificate and key, followed by the certificates it sends along.
    TlsIdentity Identity(const Credential& server, const std::vector<const Credential*>& sentAlong) const;

private:
    std::string Directory;
    std::string RootFile;
};

// One PKI per test program, made on first use.
const TestPki& Pki();

} // namespace orvel::test
