// Client CPU per check over a kept-alive HTTP connection: TTarvik::TestIban next to a bare libcurl GET of the same
// URL with one reused easy handle, against the same local server, in alternating blocks. Run by check_cpu.sh, which
// serves the reply with nginx so that the server is not what is measured.
//   check_cpu --reply               the reply to serve
//   check_cpu HOST:PORT [BLOCKS] [CHECKS]

#include "objects/Tarvik.h"
#include "support/Wddx.h"

#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace orvel;

const std::string kPath = "/tarvik?un=demo&pw=wexo&iban=DE89370400440532013000&id=0&name=";

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

size_t Collect(char* data, size_t size, size_t count, void* body)
{
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--reply") {
        std::fputs(test::WddxPacket({{"result", "0"},
                                     {"resulttext", "Konto g&uuml;ltig"},
                                     {"bankname", "Commerzbank K&ouml;ln"},
                                     {"newblz", "00000000"},
                                     {"iban", "DE89370400440532013000"},
                                     {"bic", "COBADEFFXXX"}})
                       .c_str(),
                   stdout);
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: check_cpu --reply | check_cpu HOST:PORT [BLOCKS] [CHECKS]\n");
        return 2;
    }
    const std::string host = argv[1];
    const int blocks = argc > 2 ? std::atoi(argv[2]) : 10;
    const int checks = argc > 3 ? std::atoi(argv[3]) : 2000;
    const std::string url = "http://" + host + kPath;

    TTarvik tarvik;
    tarvik.SetHost(Widen(host));
    CURL* easy = curl_easy_init();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");

    const auto object = [&] {
        tarvik.TestIban(u"demo", u"wexo", u"DE89370400440532013000", 0, u"");
        if (tarvik.Result() != 0) {
            std::fprintf(stderr, "TestIban: %d %s\n", tarvik.Result(), Narrow(tarvik.Resulttext()).c_str());
            std::exit(1);
        }
    };
    const auto bare = [&] {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK || body.empty()) {
            std::fprintf(stderr, "bare GET failed\n");
            std::exit(1);
        }
    };
    object(); // both connections stand before anything is measured
    bare();

    std::vector<double> objectCpu, bareCpu, ratios;
    for (int block = 0; block < blocks; ++block) {
        double start = CpuSeconds();
        for (int i = 0; i < checks; ++i)
            object();
        const double a = (CpuSeconds() - start) / checks * 1e6;
        start = CpuSeconds();
        for (int i = 0; i < checks; ++i)
            bare();
        const double b = (CpuSeconds() - start) / checks * 1e6;
        objectCpu.push_back(a);
        bareCpu.push_back(b);
        ratios.push_back(a / b);
        std::printf("block %2d  TestIban %6.1f us  bare GET %6.1f us  ratio %.3f\n", block + 1, a, b, a / b);
    }
    std::printf("median    TestIban %6.1f us  bare GET %6.1f us  ratio %.3f (median of block ratios; %d x %d checks)\n",
                Median(objectCpu), Median(bareCpu), Median(ratios), blocks, checks);
    curl_easy_cleanup(easy);
    return 0;
}
