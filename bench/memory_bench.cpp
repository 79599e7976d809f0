// Speed of the program memory's category tree and browser over 10000 used slots with unique names, in
// three layouts: A (20 x 5 x 5 categories in mixed case, some with blanks, a 20-entry dictionary),
// B (no category), C (10000 distinct categories). Each benchmark times its candidate and its
// baseline alternately inside one loop and reports both and their ratio:
// - BM_TreeRebuild: updtt then ordrt(0), against formatting the 10000 leaf texts and appending them as
//   CoreNode leaves under one node;
// - BM_BrowseSearch: getbk at depth 2 walking every hit and one miss of 20000 probes, and
// - BM_BrowseList: getbs at each depth and getbc(), both per slot examined, against one
//   case-insensitive pass of pre-normalised filters over the three category texts held in a
//   std::vector<std::string>.
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "processor/CoreDcry.h"
#include "processor/CoreMmry.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr int kSlots = CoreMmry::iCmemorydim;

struct Layout {
    CorePool pool;
    std::unique_ptr<CoreMmry> memory;
    std::unique_ptr<CoreDcry> dictionary;
    std::vector<std::string> names;
    std::vector<std::string> categories[3];
    std::string filters[3]; // a path that exists, as a user would type it

    explicit Layout(char kind) {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / "memory_bench";
        std::filesystem::create_directories(folder);
        memory = std::make_unique<CoreMmry>(&pool, CoreAnsx((folder.string() + "/").c_str()), 0, nullptr, "", "",
                                            "", "", false, nullptr);
        if (kind == 'A') {
            std::ofstream file(folder / "dictionary.xml");
            file << "<DICTIONARY><CATEGORY>";
            for (int i = 0; i < 20; ++i) file << "<CAT" << i << ">Category " << (19 - i) << "</CAT" << i << ">";
            file << "</CATEGORY></DICTIONARY>";
            file.close();
            dictionary = std::make_unique<CoreDcry>(CoreAnsx((folder / "dictionary.xml").string().c_str()));
            memory->setdc(dictionary.get());
        }
        static const char* spellings[3][2] = {{"cat", "CAT"}, {"Sub", " sub"}, {"room ", "Room"}};
        for (int n = 0; n < kSlots; ++n) {
            names.push_back("Program " + std::to_string(n));
            const int index[3] = {n % 20, n / 20 % 5, n / 100 % 5};
            for (int level = 0; level < 3; ++level) {
                std::string text;
                if (kind == 'A') text = spellings[level][n % 2] + std::to_string(index[level]);
                if (kind == 'C' && level == 0) text = "Category " + std::to_string(n);
                categories[level].push_back(text);
            }
            const std::string program = "<PROGRAM><NAME>" + names.back() + "</NAME></PROGRAM>";
            memory->setvl(n, false, CoreAnsx((names.back() + ".xml").c_str()), CoreAnsx(program.c_str()));
            memory->setnm(n, CoreAnsx(names.back().c_str()));
            for (int level = 0; level < 3; ++level) memory->setct(n, CoreAnsx(categories[level][n].c_str()), level);
        }
        std::filesystem::remove_all(folder); // the dictionary is read once; the memory keeps no files
        const int sample = 123;
        for (int level = 0; level < 3; ++level) filters[level] = " " + categories[level][sample] + " ";
    }
};

Layout& layout(char kind) {
    static Layout a('A'), b('B'), c('C');
    return kind == 'A' ? a : kind == 'B' ? b : c;
}

void report(benchmark::State& state, double candidate, double baseline, double units, const char* per) {
    const double runs = static_cast<double>(state.iterations()) * units;
    state.counters[std::string("memory_ns_per_") + per] = candidate * 1e9 / runs;
    state.counters[std::string("baseline_ns_per_") + per] = baseline * 1e9 / runs;
    state.counters["ratio"] = candidate / baseline;
}

void BM_TreeRebuild(benchmark::State& state, char kind) {
    Layout& l = layout(kind);
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        l.memory->updtt();
        l.memory->ordrt(0);
        candidate += secondsSince(start);
        start = Clock::now();
        {
            CoreNode node("ROOT");
            for (int n = 0; n < kSlots; ++n)
                node.addcd(new CoreNode(CoreAnsx(n) + CoreAnsx(" - ") + CoreAnsx(l.names[n].c_str())));
            benchmark::DoNotOptimize(node.getcn());
        }
        baseline += secondsSince(start);
    }
    report(state, candidate, baseline, kSlots, "slot");
}
BENCHMARK_CAPTURE(BM_TreeRebuild, A, 'A')->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TreeRebuild, B, 'B')->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TreeRebuild, C, 'C')->Unit(benchmark::kMillisecond);

// The baseline: the slots whose three texts, trimmed, equal upper-cased filters ignoring case.
bool sameIgnoringCase(const std::string& text, const std::string& key) {
    size_t begin = text.find_first_not_of(" \t\r\n"), end = text.find_last_not_of(" \t\r\n");
    if (begin == std::string::npos) return key.empty();
    if (end - begin + 1 != key.size()) return false;
    for (size_t i = 0; i < key.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[begin + i])) != key[i]) return false;
    return true;
}

int plainPass(const Layout& l, const std::string* keys) {
    int hits = 0;
    for (int n = 0; n < kSlots; ++n) {
        bool match = true;
        for (int level = 0; level < 3 && match; ++level) match = sameIgnoringCase(l.categories[level][n], keys[level]);
        hits += match;
    }
    return hits;
}

std::vector<std::string> normalisedFilters(const Layout& l) {
    std::vector<std::string> keys;
    for (const std::string& filter : l.filters) {
        std::string key = filter;
        key.erase(0, key.find_first_not_of(' ') == std::string::npos ? key.size() : key.find_first_not_of(' '));
        key.erase(key.find_last_not_of(' ') + 1);
        for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        keys.push_back(key);
    }
    return keys;
}

void setFilters(Layout& l, const std::string* filters) {
    for (int level = 0; level < 3; ++level) l.memory->setbs(level, CoreAnsx(filters[level].c_str()));
}

void BM_BrowseSearch(benchmark::State& state, char kind) {
    Layout& l = layout(kind);
    const std::vector<std::string> keys = normalisedFilters(l);
    const std::string missing[3] = {"nothing", "", ""};
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        setFilters(l, l.filters);
        // Every hit in turn: the walk examines each slot once.
        for (int32_t slot = l.memory->getbk(0, 1); slot > 0 && slot < kSlots - 1;) slot = l.memory->getbk(slot + 1, 1);
        setFilters(l, missing);
        benchmark::DoNotOptimize(l.memory->getbk(kSlots - 1, -1)); // down, then up again: 20000 probes
        candidate += secondsSince(start);
        start = Clock::now();
        for (int pass = 0; pass < 3; ++pass) benchmark::DoNotOptimize(plainPass(l, keys.data()));
        baseline += secondsSince(start);
    }
    report(state, candidate, baseline, 3.0 * kSlots, "slot");
}
BENCHMARK_CAPTURE(BM_BrowseSearch, A, 'A')->Unit(benchmark::kMillisecond);

void BM_BrowseList(benchmark::State& state, char kind) {
    Layout& l = layout(kind);
    const std::vector<std::string> keys = normalisedFilters(l);
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        for (int level = 0; level < 3; ++level) {
            l.memory->setbs(level, CoreAnsx(l.filters[level].c_str()));
            benchmark::DoNotOptimize(l.memory->getbs());
        }
        benchmark::DoNotOptimize(l.memory->getbc());
        candidate += secondsSince(start);
        start = Clock::now();
        for (int pass = 0; pass < 4; ++pass) benchmark::DoNotOptimize(plainPass(l, keys.data()));
        baseline += secondsSince(start);
    }
    report(state, candidate, baseline, 4.0 * kSlots, "slot");
}
BENCHMARK_CAPTURE(BM_BrowseList, A, 'A')->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BrowseList, C, 'C')->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
