// Checks per second of TUStID.Check against the local VIES stand-in, next to the Python SOAP client zeep making
// the same check against the same server.

#include "objects/UStID.h"
#include "support/ViesServer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

orvel::test::ViesServer& Vies()
{
    static orvel::test::ViesServer server;
    return server;
}

void UStIDCheck(benchmark::State& state)
{
    ::setenv("ORVELWDDX_VIES_URL", Vies().Url().c_str(), 1);
    ::unsetenv("http_proxy");
    orvel::TUStID ustid;
    for (auto _ : state) {
        ustid.Check(u"DE 123 456 789");
        if (ustid.Result() != 0) {
            state.SkipWithError("the check did not answer valid");
            break;
        }
    }
    state.counters["checks/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(UStIDCheck)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One iteration is one run of the script; only its check loop is timed.
void ZeepCheck(benchmark::State& state)
{
    constexpr int kChecks = 1000;
    const std::string command = "env -u http_proxy /usr/bin/python3 " ORVEL_BENCH_DIR "/ustid_zeep.py " + Vies().Url() +
                                " " + std::to_string(kChecks);
    for (auto _ : state) {
        FILE* script = ::popen(command.c_str(), "r");
        double seconds = 0;
        const bool read = script && std::fscanf(script, "%lf", &seconds) == 1;
        if (script)
            ::pclose(script);
        if (!read || seconds <= 0) {
            state.SkipWithError("ustid_zeep.py failed (is python3-zeep installed?)");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["checks/s"] = benchmark::Counter(double(state.iterations()) * kChecks, benchmark::Counter::kIsRate);
}
BENCHMARK(ZeepCheck)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
