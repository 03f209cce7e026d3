// The first HTTPS check of a new object (SSLMode 2, the system's root store configured) next to a fresh libcurl
// connection without verification (curl -k) to the same local TLS server, in alternating rounds; wall time.
// Run by nginx_bench.sh.
//   first_tls HOST:PORT [ROUNDS]

#include "objects/Tarvik.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace orvel;
using Clock = std::chrono::steady_clock;

size_t Discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: first_tls HOST:PORT [ROUNDS]\n");
        return 2;
    }
    const std::string host = argv[1];
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 50;
    const std::string url = "https://" + host + "/tarvik?un=demo&pw=wexo&iban=DE89370400440532013000&id=0&name=";

    std::vector<double> object, fresh;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        {
            TTarvik tarvik;
            tarvik.SetHost(Widen(host));
            tarvik.SetSSLMode(2);
            tarvik.TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"");
            if (tarvik.Result() != 0) {
                std::fprintf(stderr, "TestIban: %d %s\n", tarvik.Result(), Narrow(tarvik.Resulttext()).c_str());
                return 1;
            }
        }
        object.push_back(MillisecondsSince(start));

        start = Clock::now();
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
        const CURLcode code = curl_easy_perform(easy);
        curl_easy_cleanup(easy);
        fresh.push_back(MillisecondsSince(start));
        if (code != CURLE_OK) {
            std::fprintf(stderr, "curl: %s\n", curl_easy_strerror(code));
            return 1;
        }
    }
    const double a = Median(object);
    const double b = Median(fresh);
    std::printf("first check of a new object (SSLMode 2) %.2f ms, fresh curl -k connection %.2f ms, ratio %.2f "
                "(medians of %d alternating rounds)\n",
                a, b, a / b, rounds);
    return 0;
}
