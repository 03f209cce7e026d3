// Reading WDDX replies: the document reader on bank lists of 100 to 100,000 entries, the text search on a 64 KiB
// packet, each next to libxml2's bare parse of the same bytes, once converting the Windows-1252 bytes itself and
// once reading them already in UTF-8.
// Ratios in one run, alternating: wddx_document --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//   --benchmark_report_aggregates_only=true

#include "platform/Codepage.h"
#include "wddx/Common.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <map>
#include <string>

namespace {

using namespace orvel;

// A bank search reply with Count entries, Windows-1252 as the service sends it.
std::string BankList(int Count)
{
    std::string packet = "<wddxPacket version='1.0'><header/><data><struct><var name='result'><string>0</string>"
                         "</var><var name='banken'><array length='" +
                         std::to_string(Count) + "'>";
    for (int i = 0; i < Count; ++i)
        packet += "<string>" + std::to_string(10000000 + i) + "|Sparkasse K\xF6ln-Bonn Filiale " + std::to_string(i) +
                  "|K\xF6ln|COLSDE33XXX</string>";
    return packet + "</array></var></struct></data></wddxPacket>";
}

// An account check reply padded with other variables to Size bytes; the wanted variable comes last.
std::string PaddedPacket(size_t Size)
{
    std::string vars;
    for (int i = 0; vars.size() < Size - 200; ++i)
        vars += "<var name='field" + std::to_string(i) + "'><string>Wert Nummer " + std::to_string(i) +
                " mit Umlaut K\xF6ln</string></var>";
    vars += "<var name='bankname'><string>Sparkasse K\xF6lnBonn &amp; Co</string></var>";
    return "<wddxPacket version='1.0'><header/><data><struct>" + vars + "</struct></data></wddxPacket>";
}

void BareParse(benchmark::State& state, const std::string& packet)
{
    const std::string utf8 = ToUtf8(Widen(packet));
    for (auto _ : state) {
        xmlDocPtr document =
            xmlReadMemory(utf8.data(), int(utf8.size()), nullptr, "UTF-8", XML_PARSE_NONET | XML_PARSE_NOBLANKS);
        benchmark::DoNotOptimize(document);
        xmlFreeDoc(document);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packet.size()));
}

const std::string& Banks(int64_t count)
{
    static std::map<int64_t, std::string> packets;
    auto [it, added] = packets.try_emplace(count);
    if (added)
        it->second = BankList(int(count));
    return it->second;
}

const std::string& Padded()
{
    static const std::string packet = PaddedPacket(64 * 1024);
    return packet;
}

// The reader as the objects use it: the reply's bytes in, every entry's text out.
void BM_WddxDocumentBankList(benchmark::State& state)
{
    const std::string& packet = Banks(state.range(0));
    for (auto _ : state) {
        TWddxValue banken = TWddxDocument(std::string_view(packet)).GetVar("banken");
        benchmark::DoNotOptimize(banken);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packet.size()));
}
BENCHMARK(BM_WddxDocumentBankList)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);

// The reader fed with wide text, as it was called before it took the bytes.
void BM_WddxDocumentWideBankList(benchmark::State& state)
{
    const std::string& packet = Banks(state.range(0));
    for (auto _ : state) {
        TWddxValue banken = TWddxDocument(Widen(packet)).GetVar("banken");
        benchmark::DoNotOptimize(banken);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packet.size()));
}
BENCHMARK(BM_WddxDocumentWideBankList)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);

// libxml2 converting the same Windows-1252 bytes itself: the aim is a reader within 1.2 times this.
void BM_XmlReadMemory1252BankList(benchmark::State& state)
{
    const std::string& packet = Banks(state.range(0));
    for (auto _ : state) {
        xmlDocPtr document = xmlReadMemory(packet.data(), int(packet.size()), nullptr, "windows-1252",
                                           XML_PARSE_NONET | XML_PARSE_NOBLANKS);
        benchmark::DoNotOptimize(document);
        xmlFreeDoc(document);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packet.size()));
}
BENCHMARK(BM_XmlReadMemory1252BankList)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);

void BM_XmlReadMemoryBankList(benchmark::State& state)
{
    BareParse(state, Banks(state.range(0)));
}
BENCHMARK(BM_XmlReadMemoryBankList)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);

void BM_GetWddxVar64KiB(benchmark::State& state)
{
    for (auto _ : state) {
        std::string value = GetWddxVar(Padded(), "bankname");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Padded().size()));
}
BENCHMARK(BM_GetWddxVar64KiB)->Unit(benchmark::kMicrosecond);

void BM_WddxDocument64KiB(benchmark::State& state)
{
    for (auto _ : state) {
        TWddxValue value = TWddxDocument(std::string_view(Padded())).GetVar("bankname");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Padded().size()));
}
BENCHMARK(BM_WddxDocument64KiB)->Unit(benchmark::kMicrosecond);

void BM_XmlReadMemory64KiB(benchmark::State& state)
{
    BareParse(state, Padded());
}
BENCHMARK(BM_XmlReadMemory64KiB)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
