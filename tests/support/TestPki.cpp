#include "support/TestPki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace orvel::test {
namespace {

void Check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("test PKI: ") + what);
}

void AddExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value)
{
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, context, nid, value);
    Check(extension && X509_add_ext(certificate, extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
}

using BioHandle = std::unique_ptr<BIO, Deleter<BIO_free_all>>;

BioHandle CreateFile(const std::string& path)
{
    BioHandle out(BIO_new_file(path.c_str(), "w"));
    Check(out != nullptr, "cannot write a file");
    return out;
}

void WriteCertificate(BIO* out, const Credential& credential)
{
    Check(PEM_write_bio_X509(out, credential.Certificate.get()) == 1, "PEM certificate");
}

} // namespace

Credential Issue(const CertificateOrder& order)
{
    static std::atomic<long> serial{1};
    Credential made;
    made.Key.reset(EVP_EC_gen("P-256"));
    made.Certificate.reset(X509_new());
    Check(made.Key && made.Certificate, "key");
    X509* certificate = made.Certificate.get();
    X509_set_version(certificate, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), order.ValidFromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(certificate), order.ValidToDays * 86400);
    X509_NAME* subject = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(order.CommonName.c_str()), -1, -1, 0);
    X509* issuer = order.Issuer ? order.Issuer->Certificate.get() : certificate;
    EVP_PKEY* signingKey = order.Issuer ? order.Issuer->Key.get() : made.Key.get();
    X509_set_issuer_name(certificate, X509_get_subject_name(issuer));
    X509_set_pubkey(certificate, made.Key.get());

    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    AddExtension(certificate, &context, NID_basic_constraints, order.Authority ? "critical,CA:TRUE" : "CA:FALSE");
    AddExtension(certificate, &context, NID_subject_key_identifier, "hash");
    if (order.AuthorityKeyOf)
        X509V3_set_ctx(&context, order.AuthorityKeyOf->Certificate.get(), certificate, nullptr, nullptr, 0);
    AddExtension(certificate, &context, NID_authority_key_identifier, "keyid:always");
    Check(X509_sign(certificate, signingKey, EVP_sha256()) > 0, "signature");
    return made;
}

TestPki::TestPki()
{
    char pattern[] = "/tmp/orvel-pki-XXXXXX";
    Check(::mkdtemp(pattern) != nullptr, "no temporary directory");
    Directory = pattern;
    Root = Issue({.CommonName = "Orvel Test Root", .Authority = true, .ValidToDays = 3650});
    Intermediate = Issue({.CommonName = "Orvel Test Intermediate", .Issuer = &Root, .Authority = true});
    Localhost = Issue({.CommonName = "localhost", .Issuer = &Intermediate});
    OtherName = Issue({.CommonName = "other.example", .Issuer = &Intermediate});
    Wildcard = Issue({.CommonName = "*.localhost", .Issuer = &Intermediate});
    Expired = Issue({.CommonName = "localhost", .Issuer = &Intermediate, .ValidFromDays = -30, .ValidToDays = -1});
    SelfSigned = Issue({.CommonName = "localhost"});
    RootFile = PemFile("root.pem", {&Root});
}

TestPki::~TestPki()
{
    std::error_code ignored;
    std::filesystem::remove_all(Directory, ignored);
}

std::string TestPki::PemFile(const std::string& name, std::initializer_list<const Credential*> certificates) const
{
    const std::string path = Directory + "/" + name;
    BioHandle out = CreateFile(path);
    for (const Credential* credential : certificates)
        WriteCertificate(out.get(), *credential);
    return path;
}

TlsIdentity TestPki::Identity(const Credential& server, const std::vector<const Credential*>& sentAlong) const
{
    static std::atomic<int> count{0};
    const std::string name = "identity" + std::to_string(++count);
    TlsIdentity identity;
    identity.CertificateChainFile = Directory + "/" + name + ".pem";
    BioHandle chain = CreateFile(identity.CertificateChainFile);
    WriteCertificate(chain.get(), server);
    for (const Credential* credential : sentAlong)
        WriteCertificate(chain.get(), *credential);
    identity.KeyFile = Directory + "/" + name + ".key";
    Check(PEM_write_bio_PrivateKey(CreateFile(identity.KeyFile).get(), server.Key.get(), nullptr, nullptr, 0, nullptr,
                                   nullptr) == 1,
          "PEM key");
    // Private to its owner, as the service wants a key.
    std::filesystem::permissions(identity.KeyFile,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return identity;
}

const TestPki& Pki()
{
    static const TestPki pki;
    return pki;
}

} // namespace orvel::test
