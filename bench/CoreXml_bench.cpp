// Speed of the XML reader, writer and child lookup. Each benchmark times its candidate and its
// baseline alternately inside one loop and reports both and their ratio as counters:
// - BM_XmlParse, BM_XmlWrite: seconds per byte on a 4 MB bank document against a 128 KB one (a
//   ratio near 1 means the cost grows linearly with the size);
// - BM_NodeGetcd: CoreNode::getcd scanning 10000 siblings against a strcmp loop over the same texts.
#include "base/CoreNode.h"
#include "base/CoreXml_.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A program-memory-like document: BANK holding programs of five values each, written pretty.
std::string bankDocument(int programs) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<BANK>\n";
    for (int i = 0; i < programs; ++i) {
        const std::string n = std::to_string(i);
        xml += "  <PROGRAM>\n";
        xml += "    <NAME> Program number " + n +
               " of the large concert hall collection, recorded at three positions </NAME>\n";
        xml += "    <CATEGORY> Halls, chambers and plates with long early reflections and a slow decay "
               "</CATEGORY>\n";
        xml += "    <FILE> Library/Banks/Bank" + std::to_string(i / 100) + "/Impulse responses/Slot" + n +
               "_stereo_48000.Q7P </FILE>\n";
        xml += "    <GAIN> -3.2500000000000000 </GAIN>\n";
        xml += "    <TIME> 125000.00000000000 </TIME>\n";
        xml += "  </PROGRAM>\n";
    }
    xml += "</BANK>\n";
    return xml;
}

struct Documents {
    CoreAnsx small = CoreAnsx(bankDocument(320).c_str());   // about 128 KB, the host chunk's size
    CoreAnsx large = CoreAnsx(bankDocument(10000).c_str()); // about 4 MB, a whole memory bank
};

const Documents& documents() {
    static const Documents docs;
    return docs;
}

void reportPerByte(benchmark::State& state, double smallSeconds, double largeSeconds, double smallBytes,
                   double largeBytes) {
    const double runs = static_cast<double>(state.iterations());
    const double smallPerByte = smallSeconds / (runs * smallBytes);
    const double largePerByte = largeSeconds / (runs * largeBytes);
    state.counters["small_bytes"] = smallBytes;
    state.counters["large_bytes"] = largeBytes;
    state.counters["small_ns_per_byte"] = smallPerByte * 1e9;
    state.counters["large_ns_per_byte"] = largePerByte * 1e9;
    state.counters["ratio"] = largePerByte / smallPerByte;
}

void BM_XmlParse(benchmark::State& state) {
    const Documents& docs = documents();
    double smallSeconds = 0.0, largeSeconds = 0.0;
    for (auto _ : state) {
        CoreXml_ doc;
        Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(doc.getfc(docs.small));
        smallSeconds += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(doc.getfc(docs.large));
        largeSeconds += secondsSince(start);
    }
    reportPerByte(state, smallSeconds, largeSeconds, docs.small.Length(), docs.large.Length());
}
BENCHMARK(BM_XmlParse)->Unit(benchmark::kMillisecond);

void BM_XmlWrite(benchmark::State& state) {
    const Documents& docs = documents();
    CoreXml_ small, large;
    small.getfc(docs.small);
    large.getfc(docs.large);
    double smallSeconds = 0.0, largeSeconds = 0.0;
    double smallBytes = 0.0, largeBytes = 0.0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        CoreAnsx smallText = small.settc(true, false);
        smallSeconds += secondsSince(start);
        start = Clock::now();
        CoreAnsx largeText = large.settc(true, false);
        largeSeconds += secondsSince(start);
        smallBytes = smallText.Length();
        largeBytes = largeText.Length();
    }
    reportPerByte(state, smallSeconds, largeSeconds, smallBytes, largeBytes);
}
BENCHMARK(BM_XmlWrite)->Unit(benchmark::kMillisecond);

const int kSiblings = 10000;

struct Siblings {
    CoreNode parent{"BANK"};
    std::vector<CoreAnsx> texts;
    CoreAnsx wanted;
    Siblings() {
        for (int i = 0; i < kSiblings; ++i) {
            CoreAnsx name = CoreAnsx("SLOT") + CoreAnsx(i);
            texts.push_back(name);
            parent.addcd(new CoreNode(name));
        }
        // getcd scans from the last sibling back, so the first one costs a full scan.
        wanted = texts.front();
    }
};

const Siblings& siblings() {
    static const Siblings s;
    return s;
}

int plainScan(const Siblings& s) {
    const char* key = s.wanted.c_str();
    for (int i = kSiblings - 1; i >= 0; --i)
        if (std::strcmp(s.texts[i].c_str(), key) == 0) return i;
    return -1;
}

void BM_NodeGetcd(benchmark::State& state) {
    const Siblings& s = siblings();
    double candidateSeconds = 0.0, baselineSeconds = 0.0;
    const int repeats = 20;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        for (int r = 0; r < repeats; ++r) benchmark::DoNotOptimize(s.parent.getcd(s.wanted));
        candidateSeconds += secondsSince(start);
        start = Clock::now();
        for (int r = 0; r < repeats; ++r) benchmark::DoNotOptimize(plainScan(s));
        baselineSeconds += secondsSince(start);
    }
    state.counters["getcd_us"] = candidateSeconds * 1e6 / (repeats * static_cast<double>(state.iterations()));
    state.counters["strcmp_us"] = baselineSeconds * 1e6 / (repeats * static_cast<double>(state.iterations()));
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
}
BENCHMARK(BM_NodeGetcd)->Unit(benchmark::kMicrosecond);

void BM_PlainScan(benchmark::State& state) {
    const Siblings& s = siblings();
    for (auto _ : state) benchmark::DoNotOptimize(plainScan(s));
}
BENCHMARK(BM_PlainScan)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
