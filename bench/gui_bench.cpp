// The editor's frame in the default layout redrawn in full, against copying its image's bytes.
#include "platform/gui/CBitmap.h"
#include "platform/gui/CFrame.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/CVerticalSlider.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Background 100, ten sliders, 66 LEDs, 959 display cells and 205 margin pieces of font 200.
struct DefaultLayout {
    CFrame frame{CRect(0, 0, 900, 290), nullptr, nullptr};
    std::vector<std::unique_ptr<CControl>> controls;
    CBitmap* background = new CBitmap(100);
    CBitmap* handle = new CBitmap(103);
    CBitmap* font = new CBitmap(200);
    CBitmap* led = new CBitmap(800);

    DefaultLayout() {
        frame.setBackground(background);
        for (int i = 0; i < 10; ++i) {
            const CRect r = i < 8 ? CRect(600 + 38 * i, 80, 617 + 38 * i, 276) : CRect(55 + 58 * (i - 8), 142, 109 + 58 * (i - 8), 276);
            CPoint offset(r.left, r.top);
            add(new CVerticalSlider(r, nullptr, i, r.top, r.top + 160 - (i < 8 ? 0 : 62), handle, background, offset));
        }
        CPoint origin;
        for (int i = 0; i < 66; ++i)
            add(new CMovieBitmap(CRect(20 + (i % 11) * 14, 10 + (i / 11) * 12, 30 + (i % 11) * 14, 18 + (i / 11) * 12), nullptr,
                                 100 + i, 3, 8, led, origin));
        for (int i = 0; i < 959; ++i) { // 58 × 14 cells and 147 readout cells
            const CRect r = i < 812 ? CRect(194 + 6 * (i % 58), 53 + 12 * (i / 58), 200 + 6 * (i % 58), 65 + 12 * (i / 58))
                                    : CRect(595 + 6 * ((i - 812) % 49), 41 + 12 * ((i - 812) / 49), 601 + 6 * ((i - 812) % 49),
                                            53 + 12 * ((i - 812) / 49));
            add(new CMovieBitmap(r, nullptr, 201 + i, 108, 12, font, origin));
        }
        for (int i = 0; i < 205; ++i) // thin pieces around the grid
            add(new CMovieBitmap(CRect(188 + (i % 60) * 6, 47 + (i / 60) * 60, 194 + (i % 60) * 6, 53 + (i / 60) * 60), nullptr,
                                 2000 + i, 1, 12, font, origin));
    }
    ~DefaultLayout() {
        controls.clear();
        for (CBitmap* b : {background, handle, font, led}) b->forget();
    }
    void add(CControl* control) {
        controls.emplace_back(control);
        frame.addView(control);
    }
    void change(int step) {
        for (size_t i = 0; i < controls.size(); ++i)
            controls[i]->setValue(float((i * 7 + size_t(step)) % 101) / 100.0f);
    }
};

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_EditorFrameRedraw(benchmark::State& state) {
    DefaultLayout layout;
    const CDrawContext& image = layout.frame.getImage();
    std::vector<uint8_t> copy(image.getBytes());
    double redraw = 0, baseline = 0;
    int step = 0;
    for (auto _ : state) {
        layout.change(++step);
        auto t0 = std::chrono::steady_clock::now();
        layout.frame.doIdleStuff();
        auto t1 = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), image.getData(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        auto t2 = std::chrono::steady_clock::now();
        redraw += seconds(t1 - t0);
        baseline += seconds(t2 - t1);
    }
    state.counters["redraw_us"] = redraw / double(state.iterations()) * 1e6;
    state.counters["copy_us"] = baseline / double(state.iterations()) * 1e6;
    state.counters["ratio"] = redraw / baseline;
}
BENCHMARK(BM_EditorFrameRedraw)->Unit(benchmark::kMicrosecond);

void BM_ImageCopy(benchmark::State& state) {
    CDrawContext image(900, 290);
    std::vector<uint8_t> copy(image.getBytes());
    for (auto _ : state) {
        std::memcpy(copy.data(), image.getData(), copy.size());
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_ImageCopy)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
