// The display object's drawing helpers and parameter rows on a booted engine: buttons, toggles and
// captions with their hit spans, sizes per font, the time conversions at the engine's rate, rows of
// user parameters set through their beans, the parameter lookups, and the counted text lists.
#include "display/CoreDsif.h"

#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "display/CoreDspc.h"
#include "tests/common/DecimalCommaLocale.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

class CoreDsifDraw : public BootedEngineTest {
protected:
    using Access = CoreDsifTestAccess;

    std::string cells(CoreDsif& d, int y, int from, int count) {
        std::string text;
        for (int x = from; x < from + count; ++x) text += Access::grid(d).cell(x, y)->getch();
        return text;
    }
    std::string fonts(CoreDsif& d, int y, int from, int count) {
        std::string text;
        for (int x = from; x < from + count; ++x) {
            const CoreDsch* c = Access::grid(d).cell(x, y);
            text += static_cast<char>((c->getbl() ? 'a' : '0') + c->getfn());
        }
        return text;
    }
    // User parameter p shown with these texts.
    void parameter(CorePrcs& e, int32_t p, const char* pre, const char* label, const char* preUnit,
                   const char* postUnit, const char* unit) {
        CorePrcs::BEANSTRUCT b{p, 0};
        e.setbb(196, true, &b);
        e.setbs(197, pre, &b);
        e.setbs(198, label, &b);
        e.setbs(201, preUnit, &b);
        e.setbs(202, postUnit, &b);
        e.setbs(203, unit, &b);
    }
    std::unique_ptr<CorePrcs> parameterEngine() {
        auto e = booted();
        e->ldpdm(kParameters, false);
        for (int32_t p = 0; p < 16; ++p) {
            CorePrcs::BEANSTRUCT b{p, 0};
            e->setbb(196, false, &b);
        }
        parameter(*e, 0, "3", "gain", "", "dB", "");
        parameter(*e, 1, "", "Size", "~", "", "m");
        parameter(*e, 2, "8", "A label of twenty ch", "", "", "sec");
        parameter(*e, 3, "", "0", "", "Hertz", "Hz");
        parameter(*e, 5, "word", "Width", "", "", "%");
        CorePrcs::BEANSTRUCT first{0, 0};
        e->setbs(210, "0.0", &first); // input A the constant 0 (of -1 .. +1): value and bar fill 0.5
        for (int32_t p = 0; p < 16; ++p) {
            CorePrcs::BEANSTRUCT b{p, 0};
            e->setbv(195, &b);
        }
        return e;
    }

    CoreDspc queue;
    CoreBlnk clock;
};

} // namespace

TEST_F(CoreDsifDraw, ButtonsTogglesAndCaptions) {
    auto engine = booted();
    CoreDsif d(engine.get(), &queue, &clock, nullptr);
    using Draw = std::function<bool(CoreDsif&)>;
    struct Row {
        const char* name;
        Draw draw;
        bool hit;
        int from; // cells from, on row 2
        const char* text;
        const char* fonts;
    };
    const Row rows[] = {
        {"button hit", [](CoreDsif& x) { return x.drbtn(50, 2, "V ", 51, 2); }, true, 50, "V ", "00"},
        {"button past its end", [](CoreDsif& x) { return x.drbtn(50, 2, "V ", 52, 2); }, false, 50, "V ", "11"},
        {"button first cell", [](CoreDsif& x) { return x.drbtn(50, 2, "V ", 50, 2); }, true, 50, "V ", "00"},
        {"button other row", [](CoreDsif& x) { return x.drbtn(50, 2, "V ", 50, 3); }, false, 50, "V ", "11"},
        {"no pointer", [](CoreDsif& x) { return x.drbtn(0, 2, "GO", 0, 0); }, false, 0, "GO", "11"},
        {"two-state on", [](CoreDsif& x) { return x.drtb2(30, 2, "OFF", "ON", true, 32, 2); }, false, 30, "ON", "11"},
        {"two-state off", [](CoreDsif& x) { return x.drtb2(30, 2, "OFF", "ON", false, 32, 2); }, true, 30, "OFF", "000"},
        {"toggle after its text", [](CoreDsif& x) { return x.drtbt(40, 2, "OFF", "ON ", true, 44, 2); }, true, 40,
         ".ON   ", "a00003"},
        {"toggle past its span", [](CoreDsif& x) { return x.drtbt(40, 2, "OFF", "ON ", true, 45, 2); }, false, 40,
         ".ON   ", "b11113"},
        {"toggle off on its mark", [](CoreDsif& x) { return x.drtbt(40, 2, "OFF", "ON ", false, 40, 2); }, true,
         40, " OFF ", "00000"},
        {"caption", [](CoreDsif& x) { return x.label("", "KERNELS:", 0, 2), false; }, false, 0, "KERNELS: ",
         "000000003"},
        {"caption with a key", [](CoreDsif& x) { return x.label("K", "ERN", 4, 2), false; }, false, 4, "K ERN",
         "10000"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Access::grid(d).clear(3, 0, 2, 58, 1);
        EXPECT_EQ(r.draw(d), r.hit);
        const int n = static_cast<int>(std::string(r.fonts).size());
        EXPECT_EQ(cells(d, 2, r.from, n), r.text);
        EXPECT_EQ(fonts(d, 2, r.from, n), r.fonts);
    }
}

TEST_F(CoreDsifDraw, SizesGlyphsAndTimes) {
    struct Size {
        int32_t addChars;
        short font, dx, dy, ax, ay;
    };
    const Size sizes[] = {
        {49, 0, 58, 14, 49, 3}, {49, 1, 58, 14, 49, 3}, {49, 2, 29, 7, 24, 1}, {49, 3, 58, 14, 49, 3},
        {30, 2, 29, 7, 15, 1},  {120, 0, 58, 14, 58, 3}, {120, 2, 29, 7, 29, 1},
    };
    auto engine = booted();
    for (const Size& s : sizes) {
        RecordingHost host;
        host.addWidth = s.addChars;
        CoreDsif d(engine.get(), &queue, &clock, &host);
        EXPECT_EQ((std::vector<short>{d.getdx(s.font), d.getdy(s.font), d.getax(s.font), d.getay(s.font)}),
                  (std::vector<short>{s.dx, s.dy, s.ax, s.ay}))
            << s.addChars << " font " << s.font;
    }
    CoreDsif d(engine.get(), &queue, &clock, nullptr);
    EXPECT_EQ((std::vector<short>{d.getre(0), d.getre(1), d.getre(2), d.getre(3), d.getre(4)}),
              (std::vector<short>{108, 94, 108, 1, 0}));

    struct Time {
        int32_t rate;
        double microseconds;
        int32_t samples;
        double back; // fnt2u(samples)
    };
    const Time times[] = {
        {44100, 0, 0, 0},   {44100, -5, -5, -5 * 1e6 / 44100}, {44100, 1000, 44, 44 * 1e6 / 44100},
        {48000, 1000, 48, 1000}, {48000, -5, -5, -5 * 1e6 / 48000}, {48000, 1e12, std::numeric_limits<int32_t>::max(),
                                                                       std::numeric_limits<int32_t>::max() * 1e6 / 48000},
    };
    for (const Time& t : times) {
        auto e = t.rate == 48000 ? nullptr : booted(t.rate);
        CoreDsif at(t.rate == 48000 ? engine.get() : e.get(), &queue, &clock, nullptr);
        EXPECT_EQ(at.fnu2t(t.microseconds), t.samples) << t.rate << " Hz, " << t.microseconds << " us";
        EXPECT_DOUBLE_EQ(at.fnt2u(t.samples), t.back);
    }
}

TEST_F(CoreDsifDraw, ParameterRowsGolden) {
    auto engine = parameterEngine();
    struct Screen {
        const char* file;
        std::function<void(CoreDsif&)> draw;
    };
    const Screen screens[] = {
        {"dsif_rows_program.txt",
         [](CoreDsif& d) {
             for (short n = 0; n < 4; ++n) d.drprm(0, 2 + n, n, 0, n == 1, false);
         }},
        {"dsif_rows_eight.txt",
         [](CoreDsif& d) {
             for (short n = 0; n < 8; ++n) d.drprm(n < 4 ? 0 : 29, 2 + n % 4, n, 1, n == 5, false);
         }},
        {"dsif_rows_plain.txt",
         [](CoreDsif& d) {
             for (short n = 0; n < 6; ++n) d.drprm(4, 2 + n, n, 1, n == 2, true);
         }},
    };
    DecimalCommaLocale comma;
    for (const Screen& s : screens) {
        SCOPED_TRACE(s.file);
        CoreDsif d(engine.get(), &queue, &clock, nullptr);
        s.draw(d);
        GoldenScreen screen(s.file);
        EXPECT_TRUE(screen.matches(Access::grid(d), s.file));
    }
}

TEST_F(CoreDsifDraw, FindsMovesMapsAndNamesParameters) {
    auto engine = parameterEngine();
    CoreDsif d(engine.get(), &queue, &clock, nullptr);
    const auto label = [&engine](int32_t p) {
        CorePrcs::BEANSTRUCT b{p, 0};
        return std::string(engine->getbs(198, &b).c_str());
    };
    struct Row {
        const char* name;
        std::function<std::string()> call;
        std::string result;
    };
    const Row rows[] = {
        {"getpp 0 shown", [&] { return std::to_string(d.getpp(0, true)); }, "0"},
        {"getpp 4 shown", [&] { return std::to_string(d.getpp(4, true)); }, "5"},
        {"getpp 5 shown", [&] { return std::to_string(d.getpp(5, true)); }, "-1"},
        {"getpp 0 hidden", [&] { return std::to_string(d.getpp(0, false)); }, "4"},
        {"getpp -1", [&] { return std::to_string(d.getpp(-1, true)); }, "-1"},
        {"prtmx of 3", [&] { return std::to_string(d.prtmx(0)); }, "2"},
        {"prtmx of nothing", [&] { return std::to_string(d.prtmx(1)); }, "-1"},
        {"prtmx of 8", [&] { return std::to_string(d.prtmx(2)); }, "7"},
        {"prtmx of a word", [&] { return std::to_string(d.prtmx(4)); }, "-1"},
        {"prtmx beyond", [&] { return std::to_string(d.prtmx(9)); }, "-1"},
        {"getpn of a long label", [&] { return std::string(d.getpn(2).c_str()); }, "A labe.."},
        {"getpn of 8 characters", [&] { return std::string(d.getpn(1).c_str()); }, "Size"},
        {"getpn of label 0", [&] { return std::string(d.getpn(3).c_str()); }, "<a>"},
        {"getpn -1", [&] { return std::string(d.getpn(-1).c_str()); }, "UNDEFINED"},
        {"getpn 16", [&] { return std::string(d.getpn(16).c_str()); }, "UNDEFINED"},
        {"prmsw forwards",
         [&] {
             const std::string moved = std::to_string(d.prmsw(0, false));
             return moved + " " + label(0) + "|" + label(1);
         },
         "1 Size|gain"},
        {"prmsw backwards wraps",
         [&] {
             const std::string moved = std::to_string(d.prmsw(0, true));
             return moved + " " + label(0) + "|" + label(5);
         },
         "5 Width|Size"},
        {"prmsw of hidden 15 looks at 4", [&] { return std::to_string(d.prmsw(15, false)); }, "4"},
        {"prmsw -1", [&] { return std::to_string(d.prmsw(-1, false)); }, "-1"},
        {"prmsw 16", [&] { return std::to_string(d.prmsw(16, true)); }, "16"},
    };
    for (const Row& r : rows) EXPECT_EQ(r.call(), r.result) << r.name;
}

TEST_F(CoreDsifDraw, ReadsCountedListsAndDrags) {
    auto engine = booted();
    RecordingHost host;
    CoreDsif d(engine.get(), &queue, &clock, &host);
    engine->setbv(244, nullptr);
    CoreAnsx* list = new CoreAnsx[2];
    int count = 2;
    d.rsvas(&list, count, 173, 170);
    std::string top;
    for (int i = 0; i < count; ++i) top += std::string(list[i].c_str()) + "|";
    EXPECT_EQ(top, "POP|JAZZ|"); // in the program memory's order
    d.rsvas(&list, count, 172, 170);
    EXPECT_EQ(count, 2);

    std::filesystem::create_directories(root / "three");
    for (const char* name : {"b.xml", "A.XML", "c.xml"}) writeText(root / "three" / name, "x");
    std::filesystem::create_directories(root / "none");
    struct Folder {
        const char* folder;
        std::string names;
    };
    const Folder folders[] = {{"three", "A.XML|b.xml|c.xml|"}, {"none", ""}, {"missing", ""}};
    for (const Folder& f : folders) {
        d.readr(at(f.folder), "*.xml", &list, count);
        std::string names;
        for (int i = 0; i < count; ++i) names += std::string(list[i].c_str()) + "|";
        EXPECT_EQ(names, f.names) << f.folder;
        ASSERT_NE(list, nullptr);
    }
    delete[] list; // every old array was freed by the reads (LeakSanitizer)

    int x = 100, y = 200;
    host.pointer = {110, 190, true};
    EXPECT_NEAR(d.getnh(0.5, x, y), 0.5 + 0.012 + 10 * 0.012, 1e-12);
    EXPECT_EQ(x, 110);
    EXPECT_EQ(y, 190);
    host.answers = false; // no answer: nothing moved
    EXPECT_NEAR(d.getnh(0.3, x, y), 0.3, 1e-12);
    CoreDsif hostless(engine.get(), &queue, &clock, nullptr);
    EXPECT_EQ(hostless.getnh(0.7, x, y), 0.7);
}
