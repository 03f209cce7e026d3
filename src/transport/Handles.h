#pragma once
// Owning handles for the C libraries underneath the transport.

#include <curl/curl.h>
#include <libxml/tree.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace orvel {

template <auto Free> struct Deleter
{
    template <typename T> void operator()(T* p) const
    {
        if (p)
            Free(p);
    }
};

using CurlHandle = std::unique_ptr<CURL, Deleter<curl_easy_cleanup>>;
using CurlMultiHandle = std::unique_ptr<CURLM, Deleter<curl_multi_cleanup>>;
using CurlList = std::unique_ptr<curl_slist, Deleter<curl_slist_free_all>>;
using X509Handle = std::unique_ptr<X509, Deleter<X509_free>>;
using X509StoreHandle = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using EvpKeyHandle = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using SslCtxHandle = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX_free>>;
using SslHandle = std::unique_ptr<SSL, Deleter<SSL_free>>;
using XmlDocHandle = std::unique_ptr<xmlDoc, Deleter<xmlFreeDoc>>;

// Text libxml2 allocates for us (content, attribute values, a dumped document). xmlFree is a variable that
// points at the allocator's free, so it cannot be a template argument of Deleter.
struct XmlStringFree
{
    void operator()(xmlChar* p) const { xmlFree(p); }
};
using XmlString = std::unique_ptr<xmlChar, XmlStringFree>;

} // namespace orvel
