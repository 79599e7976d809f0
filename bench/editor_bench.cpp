// The editor's text display: a page update (CoreEdfo::updte) with the frame's redraw, and a font-set
// switch with its redraw, each timed alternately in one loop against compositing the same background,
// glyph images and margin pieces from the same strips by direct cairo calls, one per rectangle.
#include "BenchSupport.h"
#include "base/CoreBlnk.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "platform/CorePict.h"
#include "platform/gui/CControl.h"
#include "platform/gui/CMovieBitmap.h"
#include "plugin/CoreBitm.h"
#include "plugin/CoreEdfo.h"
#include "plugin/CoreFrme.h"
#include "plugin/CorePpwr.h"
#include "plugin/CoreSkin.h"
#include "tools/CoreDskn.h"

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

namespace {

// Answers property 100104 with the page the benchmark chose.
class PageProperties : public CorePpwr {
public:
    int32_t wgprp(int32_t id, int32_t, int32_t, void* data, uint32_t& size) override {
        if (id != iCdisplaydata || !page) return iCunknown;
        std::memcpy(data, page->data(), std::min<size_t>(size, page->size() * sizeof(double)));
        return iCdone;
    }
    const std::vector<double>* page = nullptr;
};

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The display, a three-set skin (the built-in fonts, the demo skin's amber strips, amber again) and
// the text display open over an editor-sized frame with the built-in panel.
struct Scene {
    bench::TempFolder folder{"editor_bench"};
    CorePool memory;
    std::unique_ptr<CoreSkin> skin;
    CoreDspc queue;
    CoreBlnk clock;
    CoreDsif display{nullptr, &queue, &clock, nullptr};
    PageProperties props;
    CoreFrme frame{CRect(0, 0, 900, 290), nullptr, nullptr, nullptr};
    CoreBitm pool;
    CoreTlst own;
    CoreBitm* background = nullptr;
    std::unique_ptr<CoreEdfo> text;
    std::vector<double> pages[2];

    Scene() {
        CoreDskn::write(folder.root.string());
        const auto skinFolder = folder.root / "skins" / "Demo";
        const auto set = [](const char* name, const char* normal, const char* inverted, const char* big) {
            return "<ELEMENT><FONTNAME>" + std::string(name) + "</FONTNAME><FONT1>" + normal +
                   "</FONT1><FONTNEG>" + inverted + "</FONTNEG><FONT2>" + big + "</FONT2></ELEMENT>";
        };
        std::ofstream(skinFolder / "ROM.XML")
            << "<SKIN><FONTS>" << set("Classic", "NULL", "NULL", "NULL")
            << set("Amber", "amber1.png", "amberneg.png", "amber2.png")
            << set("Mixed", "amber1.png", "NULL", "amber2.png") << "</FONTS></SKIN>";
        skin = std::make_unique<CoreSkin>(&memory, CoreAnsx((skinFolder.string() + "/").c_str()), nullptr);
        pool.begin();
        pool.stabm(&own, nullptr, CoreAnsx("0"), &background, 100, false);
        text = std::make_unique<CoreEdfo>(&display, &pool, &own, skin->getfs(), skin.get(), 10, &props);
        pool.end__();
        frame.setBackground(background);
        int32_t tag = 3000;
        text->open(nullptr, tag, &frame);
        makePages();
    }
    ~Scene() {
        text->close();
        text.reset();
        frame.setBackground(nullptr);
        pool.purgb(&own);
    }

    // Two full pages: every layer-0 cell a glyph differing between them, a font-2 title, a font-1
    // selection and the soft-key row's marked item.
    void makePages() {
        CoreCnst::DISPLAYDATA data;
        display.newdd(&data);
        for (int p = 0; p < 2; ++p) {
            std::fill(data.values, data.values + data.total, -1.0);
            const auto put = [&](int font, int column, int row, int glyph) {
                data.values[data.rowstarts[font][row] + column] =
                    (glyph + 0.5) / display.getre(int16_t(font));
            };
            for (int row = 0; row < 17; ++row)
                for (int column = 0; column < (row < 14 ? 58 : display.getax()); ++column)
                    put(0, column, row, (row * 58 + column + 53 * p) % 108);
            for (int c = 0; c < 8; ++c) { // the title, over grid rows 0 and 1
                put(2, 2 + c + 3 * p, 0, 1 + c);
                put(0, 2 * (2 + c + 3 * p), 0, 0);
                data.values[data.rowstarts[0][0] + 2 * (2 + c + 3 * p)] = -1.0;
            }
            for (int c = 0; c < 12; ++c) { // a selection and the marked soft key
                data.values[data.rowstarts[0][5 + p] + 10 + c] = -1.0;
                put(1, 10 + c, 5 + p, 27 + c);
                data.values[data.rowstarts[0][13] + 6 * p + c / 2] = -1.0;
                put(1, 6 * p + c / 2, 13, 40 + c);
            }
            pages[p].assign(data.values, data.values + data.total);
        }
        CoreDsif::deldd(&data);
    }
};

// The same picture drawn by hand: the panel, then one cairo paint per attached view of the set.
class DirectComposite {
public:
    DirectComposite()
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 900, 290)), cr(cairo_create(surface)) {}
    ~DirectComposite() {
        for (auto& [bitmap, strip] : strips) cairo_surface_destroy(strip);
        if (panel) cairo_surface_destroy(panel);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    DirectComposite(const DirectComposite&) = delete;
    DirectComposite& operator=(const DirectComposite&) = delete;

    // Records, under key, what the text display shows for set right now.
    void record(const Scene& scene, int set, int key) {
        if (!panel) panel = CDrawContext::surfaceFrom(*scene.background->getPicture(), true);
        Plan& plan = plans[key];
        plan.clear();
        const auto add = [&](const CMovieBitmap* view, const CoreEdfo::LAYERLOC& layer, int images) {
            if (!scene.frame.isChild(view)) return;
            CBitmap* bitmap = view->getBackground();
            cairo_surface_t*& strip = strips[bitmap];
            if (!strip) strip = CDrawContext::surfaceFrom(*bitmap->getPicture(), bitmap->getNoAlpha());
            const int index = CControl::imageIndex(view->getValue(), images);
            plan.push_back({view->getViewSize(), strip, index * layer.glyphheight});
        };
        for (const CMovieBitmap* piece : scene.text->getpv(set)) add(piece, scene.text->getly(set, 0), 1);
        for (int layer = 0; layer < 3; ++layer) {
            const CoreEdfo::LAYERLOC& l = scene.text->getly(set, layer);
            for (const CMovieBitmap* view : l.views) add(view, l, l.glyphs);
        }
    }
    void draw(int key) {
        cairo_set_source_surface(cr, panel, 0, 0);
        cairo_paint(cr);
        for (const Paint& p : plans[key]) {
            cairo_set_source_surface(cr, p.strip, p.rect.left, p.rect.top - p.row);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
            cairo_rectangle(cr, p.rect.left, p.rect.top, p.rect.width(), p.rect.height());
            cairo_fill(cr);
        }
        cairo_surface_flush(surface);
    }
    size_t views(int key) const { return plans.at(key).size(); }

private:
    struct Paint {
        CRect rect;
        cairo_surface_t* strip;
        int row; // the glyph's first row in the strip
    };
    using Plan = std::vector<Paint>;
    cairo_surface_t* surface;
    cairo_t* cr;
    cairo_surface_t* panel = nullptr;
    std::map<CBitmap*, cairo_surface_t*> strips;
    std::map<int, Plan> plans;
};

void report(benchmark::State& state, double candidate, double baseline, const char* name) {
    const double n = double(state.iterations());
    state.counters[std::string(name) + "_us"] = candidate / n * 1e6;
    state.counters["direct_us"] = baseline / n * 1e6;
    state.counters["ratio"] = candidate / baseline;
}

// Two full pages alternately: one update and the frame's redraw each, against the direct composite
// of the page shown.
void BM_TextDisplayRedraw(benchmark::State& state) {
    Scene scene;
    DirectComposite direct; // its plans keyed by page here
    for (int page = 0; page < 2; ++page) {
        scene.props.page = &scene.pages[page];
        scene.text->updte(0);
        direct.record(scene, 0, page);
    }
    double candidate = 0, baseline = 0;
    int page = 0;
    for (auto _ : state) {
        page ^= 1;
        scene.props.page = &scene.pages[page];
        const auto t0 = std::chrono::steady_clock::now();
        scene.text->updte(0);
        scene.frame.doIdleStuff();
        const auto t1 = std::chrono::steady_clock::now();
        direct.draw(page);
        const auto t2 = std::chrono::steady_clock::now();
        candidate += seconds(t1 - t0);
        baseline += seconds(t2 - t1);
    }
    benchmark::DoNotOptimize(scene.frame.getImage().getData());
    report(state, candidate, baseline, "update_redraw");
}
BENCHMARK(BM_TextDisplayRedraw)->Unit(benchmark::kMicrosecond);

// Sets 0 and 1 alternately on one page: detach, attach, redraw, against the direct composite.
void BM_FontSetSwitch(benchmark::State& state) {
    Scene scene;
    scene.props.page = &scene.pages[0];
    DirectComposite direct;
    for (int set = 0; set < 2; ++set) {
        scene.text->updte(int16_t(set));
        direct.record(scene, set, set);
    }
    double candidate = 0, baseline = 0;
    int set = 1;
    for (auto _ : state) {
        set ^= 1;
        const auto t0 = std::chrono::steady_clock::now();
        scene.text->updte(int16_t(set));
        scene.frame.doIdleStuff();
        const auto t1 = std::chrono::steady_clock::now();
        direct.draw(set);
        const auto t2 = std::chrono::steady_clock::now();
        candidate += seconds(t1 - t0);
        baseline += seconds(t2 - t1);
    }
    report(state, candidate, baseline, "switch_redraw");
    state.counters["ns_per_view"] = candidate / double(state.iterations()) * 1e9 / double(direct.views(0));
    state.counters["views"] = double(direct.views(0));
}
BENCHMARK(BM_FontSetSwitch)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return bench::runKeepingLargeBlocks(argc, argv);
}
