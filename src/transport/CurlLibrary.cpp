// The part of libcurl's interface this program calls, with libcurl loaded at the first call. libcurl brings some
// thirty libraries (Kerberos, LDAP, GnuTLS, SSH, …) whose loading and relocation cost every start more than the
// rest of an automation start's work, and a server started by a client answers its first call before any check.

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

struct TCurl
{
    void* Library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);

    template <class F> F* Get(const char* Name) const
    {
        void* symbol = Library ? dlsym(Library, Name) : nullptr;
        if (!symbol) {
            // As a program linked against a missing libcurl would: it cannot run on without it.
            std::fprintf(stderr, "libcurl.so.4: %s: %s\n", Name, Library ? dlerror() : "nicht ladbar");
            std::abort();
        }
        return reinterpret_cast<F*>(symbol);
    }

#define ORVEL_CURL(name) decltype(::name)* name = Get<decltype(::name)>(#name)
    ORVEL_CURL(curl_global_init);
    ORVEL_CURL(curl_easy_init);
    ORVEL_CURL(curl_easy_setopt);
    ORVEL_CURL(curl_easy_getinfo);
    ORVEL_CURL(curl_easy_perform);
    ORVEL_CURL(curl_easy_reset);
    ORVEL_CURL(curl_easy_cleanup);
    ORVEL_CURL(curl_easy_strerror);
    ORVEL_CURL(curl_multi_init);
    ORVEL_CURL(curl_multi_add_handle);
    ORVEL_CURL(curl_multi_remove_handle);
    ORVEL_CURL(curl_multi_perform);
    ORVEL_CURL(curl_multi_poll);
    ORVEL_CURL(curl_multi_timeout);
    ORVEL_CURL(curl_multi_info_read);
    ORVEL_CURL(curl_multi_strerror);
    ORVEL_CURL(curl_multi_cleanup);
    ORVEL_CURL(curl_slist_append);
    ORVEL_CURL(curl_slist_free_all);
#undef ORVEL_CURL
};

const TCurl& Curl()
{
    static const TCurl curl;
    return curl;
}

} // namespace

extern "C" {

CURLcode curl_global_init(long flags)
{
    return Curl().curl_global_init(flags);
}

CURL* curl_easy_init()
{
    return Curl().curl_easy_init();
}

// libcurl declares these two with an enum before the "...", as its own definitions have them; the enum is int-sized,
// so va_start is sound, but clang warns of the promotion.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
static_assert(sizeof(CURLoption) == sizeof(int) && sizeof(CURLINFO) == sizeof(int));

// An option's number says the type of its one argument.
CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...)
{
    va_list arguments;
    va_start(arguments, option);
    CURLcode code;
    if (option < CURLOPTTYPE_OBJECTPOINT)
        code = Curl().curl_easy_setopt(curl, option, va_arg(arguments, long));
    else if (option < CURLOPTTYPE_OFF_T || option >= CURLOPTTYPE_BLOB)
        code = Curl().curl_easy_setopt(curl, option, va_arg(arguments, void*));
    else
        code = Curl().curl_easy_setopt(curl, option, va_arg(arguments, curl_off_t));
    va_end(arguments);
    return code;
}

// Every piece of information is written through one pointer.
CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...)
{
    va_list arguments;
    va_start(arguments, info);
    const CURLcode code = Curl().curl_easy_getinfo(curl, info, va_arg(arguments, void*));
    va_end(arguments);
    return code;
}

#ifdef __clang__
#pragma clang diagnostic pop
#endif

CURLcode curl_easy_perform(CURL* curl)
{
    return Curl().curl_easy_perform(curl);
}

void curl_easy_reset(CURL* curl)
{
    Curl().curl_easy_reset(curl);
}

void curl_easy_cleanup(CURL* curl)
{
    Curl().curl_easy_cleanup(curl);
}

const char* curl_easy_strerror(CURLcode code)
{
    return Curl().curl_easy_strerror(code);
}

CURLM* curl_multi_init()
{
    return Curl().curl_multi_init();
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* curl)
{
    return Curl().curl_multi_add_handle(multi, curl);
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* curl)
{
    return Curl().curl_multi_remove_handle(multi, curl);
}

CURLMcode curl_multi_perform(CURLM* multi, int* running)
{
    return Curl().curl_multi_perform(multi, running);
}

CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd* extra, unsigned int count, int timeoutMs, int* ready)
{
    return Curl().curl_multi_poll(multi, extra, count, timeoutMs, ready);
}

CURLMcode curl_multi_timeout(CURLM* multi, long* timeoutMs)
{
    return Curl().curl_multi_timeout(multi, timeoutMs);
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* queued)
{
    return Curl().curl_multi_info_read(multi, queued);
}

const char* curl_multi_strerror(CURLMcode code)
{
    return Curl().curl_multi_strerror(code);
}

CURLMcode curl_multi_cleanup(CURLM* multi)
{
    return Curl().curl_multi_cleanup(multi);
}

curl_slist* curl_slist_append(curl_slist* list, const char* text)
{
    return Curl().curl_slist_append(list, text);
}

void curl_slist_free_all(curl_slist* list)
{
    Curl().curl_slist_free_all(list);
}

} // extern "C"
