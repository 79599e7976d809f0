#include "plugin/CoreEdit.h"

#include "NoticeLog.h"

#include "base/CorePool.h"
#include "platform/gui/CBitmap.h"
#include "platform/gui/CMovieBitmap.h"
#include "plugin/CoreMbit.h"
#include "plugin/CorePdxy.h"
#include "plugin/CoreSkin.h"
#include "processor/CorePrcs.h"
#include "tests/common/TempFolder.h"
#include "tests/plugin/BootedEffect.h"
#include "tests/plugin/RecordingProperties.h"
#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {

using skintest::png;
using skintest::tag;
using Status = CorePpwr::STATUSRECORD;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Polls until done() holds or 20 s have passed.
bool waitFor(const std::function<bool()>& done) { return eventually(done, std::chrono::seconds(20)); }

// A status record that lights no control, bypass or program LED, with every meter level at 0 dB.
Status quiet() {
    Status status{};
    status.slot = -1;
    return status;
}

// An editor opened offscreen on a skin (ROM.XML text and LED images written to a folder), or on the
// built-in layout; update() delivers one status record as the listener thread does.
class StatusEditor {
public:
    explicit StatusEditor(const std::string& rom = "") : folder("skin") {
        if (!rom.empty()) {
            const std::string path = skintest::writeFolder(
                folder.path / "skin", {{"ROM.XML", rom}, {"led.png", png(6, 9)}, {"knob.png", png(20, 100)},
                                       {"button.png", png(30, 20)}, {"handle.png", png(10, 8)}});
            skin = std::make_unique<CoreSkin>(&pool, CoreAnsx(path.c_str()), nullptr);
        }
        edit = std::make_unique<CoreEdit>(skin.get(), nullptr, nullptr, &props);
        opened = edit->open(nullptr);
    }
    StatusEditor(const StatusEditor&) = delete;
    StatusEditor& operator=(const StatusEditor&) = delete;

    void update(const Status& status) {
        props.put(CorePpwr::iCstatus, status);
        const AudioUnitEvent event{3, &props, uint32_t(CorePpwr::iCstatus), 0, 0};
        edit->evlst(nullptr, &event, 0.0f);
    }
    // The values of a meter's LED controls, NaN for an LED without one.
    std::vector<float> meter(int m) const {
        std::vector<float> values;
        for (const CMovieBitmap* led : edit->getme(m).controls)
            values.push_back(led ? led->getValue() : std::numeric_limits<float>::quiet_NaN());
        return values;
    }

    TempFolder folder;
    CorePool pool;
    std::unique_ptr<CoreSkin> skin;
    RecordingProperties props;
    std::unique_ptr<CoreEdit> edit;
    bool opened = false;
};

// The values of a 12-LED meter: dark LEDs first (1), then the partly dark one, then lit ones (0).
std::vector<float> darkFromTop(int dark, float fraction = 0.0f) {
    std::vector<float> values(12, 0.0f);
    for (int n = 0; n < 12; ++n) values[size_t(n)] = n < dark ? 1.0f : n == dark ? fraction : 0.0f;
    return values;
}

void expectValues(const std::vector<float>& actual, const std::vector<float>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t n = 0; n < expected.size(); ++n) {
        if (std::isnan(expected[n]))
            EXPECT_TRUE(std::isnan(actual[n])) << "LED " << n;
        else
            EXPECT_NEAR(actual[n], expected[n], 1e-6) << "LED " << n;
    }
}

// METERn with LED1..LEDcount; each LED named "led.png" unless listed in nullLeds (1-based), with
// LEDDB from decibels when given.
std::string meterElement(int n, int count, const std::vector<double>& decibels = {},
                         const std::vector<int>& nullLeds = {}) {
    std::string leds;
    for (int k = 1; k <= count; ++k) {
        const bool none = std::find(nullLeds.begin(), nullLeds.end(), k) != nullLeds.end();
        std::string led = tag("LED", none ? "NULL" : "led.png") + tag("LEDX", std::to_string(300 + 10 * n)) +
                          tag("LEDY", std::to_string(10 * k));
        if (!decibels.empty()) led += tag("LEDDB", std::to_string(decibels[size_t(k - 1)]));
        leds += tag("LED" + std::to_string(k), led);
    }
    return tag("METER" + std::to_string(n), leds);
}

} // namespace

TEST(CoreEditStatus, LedStepsMoveTowardTheLitOrTheDarkEnd) {
    struct Row {
        double start;
        bool lit;
        double step;
        double expected;
    };
    const Row rows[] = {
        {0.0, true, 0.4, 0.0}, {0.0, false, 0.4, 0.4}, {0.6, true, 0.4, 0.2}, {0.6, false, 0.4, 1.0},
        {1.0, true, 0.4, 0.6}, {1.0, false, 0.4, 1.0}, {0.0, true, 1.0, 0.0}, {0.0, false, 1.0, 1.0},
        {0.6, true, 1.0, 0.0}, {0.6, false, 1.0, 1.0}, {1.0, true, 1.0, 0.0}, {1.0, false, 1.0, 1.0},
    };
    CBitmap strip(101);
    CPoint origin;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.start << (r.lit ? " lit " : " dark ") << r.step);
        CMovieBitmap led(CRect(0, 0, 6, 3), nullptr, 0, 3, 3, &strip, origin);
        led.setValue(float(r.start));
        CoreEdit::setld(&led, r.lit, r.step);
        EXPECT_NEAR(led.getValue(), r.expected, 1e-6);

        CoreMbit pair(2, nullptr); // the LED-on image, then the LED-off image
        pair.addel(0, 0, 0, 0, nullptr, &strip);
        pair.addel(1, 1, 0, 0, nullptr, &strip);
        pair.setvl(r.start);
        CoreEdit::setld(&pair, r.lit, r.step);
        EXPECT_NEAR(pair.getvl(), r.expected, 1e-6);
        EXPECT_EQ(pair.getsh(), r.expected < 0.5 ? 0 : 1);
    }
}

TEST(CoreEditStatus, LedsFadeOrSwitchWithTheRecord) {
    std::string buttons;
    for (int i = 1; i <= 3; ++i)
        buttons += tag("PROGRAM" + std::to_string(i),
                       tag("SEQUENCE", std::to_string(10 * i)) + tag("BUTTON", "button.png") +
                           tag("BUTTONX", std::to_string(40 * i)) + tag("BUTTONY", "300") + tag("LED", "led.png") +
                           tag("LEDX", std::to_string(40 * i)) + tag("LEDY", "290"));
    StatusEditor editor(tag("SKIN", tag("SETUP", buttons)));
    ASSERT_TRUE(editor.opened);
    CoreEdit& edit = *editor.edit;

    struct Row {
        const char* name;
        bool refresh, indicator, bypass;
        int32_t slot;
        int16_t states[4]; // pairs 0..3; pairs 4..7 stay 0
        double overflow, bypassLed;
        double buttons[3]; // the LEDs of programs 10, 20, 30
        double top[4], bottom[4];
    };
    const Row rows[] = {
        {"first", true, true, true, 20, {0, 1, 2, 3}, 0.6, 0.0, {1, 0, 1}, {1, 0.6, 1, 0.6}, {1, 1, 0.6, 0.6}},
        {"second", true, true, true, 20, {0, 1, 2, 3}, 0.2, 0.0, {1, 0, 1}, {1, 0.2, 1, 0.2}, {1, 1, 0.2, 0.2}},
        {"no refresh keeps the overflow LED", false, false, false, 30, {3, 0, 0, 3}, 0.2, 1.0, {1, 1, 0},
         {0.6, 0.6, 1, 0.0}, {0.6, 1, 0.6, 0.0}},
        {"lit end", true, true, false, 10, {3, 0, 0, 3}, 0.0, 1.0, {0, 1, 1}, {0.2, 1, 1, 0.0}, {0.2, 1, 1, 0.0}},
        {"indicator gone", true, false, true, 99, {3, 0, 0, 3}, 0.4, 0.0, {1, 1, 1}, {0.0, 1, 1, 0.0}, {0.0, 1, 1, 0.0}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Status status = quiet();
        status.meterrefresh = r.refresh;
        status.indicator = r.indicator;
        status.bypass = r.bypass;
        status.slot = r.slot;
        for (int i = 0; i < 4; ++i) status.leds[i] = r.states[i];
        editor.update(status);
        EXPECT_NEAR(edit.getob()->getvl(), r.overflow, 1e-6);
        EXPECT_NEAR(edit.getbb()->getvl(), r.bypassLed, 1e-6);
        for (int b = 0; b < 3; ++b) EXPECT_NEAR(edit.getbi(b).bank->getvl(), r.buttons[b], 1e-6) << "button " << b;
        for (int i = 0; i < 8; ++i) {
            EXPECT_NEAR(edit.getlp(i).top->getValue(), i < 4 ? r.top[i] : 1.0, 1e-6) << "pair " << i;
            EXPECT_NEAR(edit.getlp(i).bottom->getValue(), i < 4 ? r.bottom[i] : 1.0, 1e-6) << "pair " << i;
        }
    }
}

TEST(CoreEditStatus, MetersShowTheirLevelsAndFallWithoutRefresh) {
    struct Update {
        bool refresh;
        double level;
    };
    struct Row {
        const char* name;
        std::vector<Update> updates; // to meter 0 of the built-in layout: 12 LEDs, 0.5 LED per dB
        std::vector<float> leds;
        double last;
    };
    const Row rows[] = {
        {"0 dB", {{true, 0.0}}, darkFromTop(0), 0.0},
        {"above 0 dB", {{true, 6.0}}, darkFromTop(0), 0.0},
        {"-3 dB", {{true, -3.0}}, darkFromTop(1, 0.5f), -3.0},
        {"-22 dB: eleven dark, the last lit", {{true, -22.0}}, darkFromTop(11, 0.0f), -22.0},
        {"-24 dB: all dark", {{true, -24.0}}, darkFromTop(12), -24.0},
        {"far below", {{true, -1000.0}}, darkFromTop(12), -1000.0},
        {"-10 dB, then three updates without refresh",
         {{true, -10.0}, {false, 0.0}, {false, 0.0}, {false, 0.0}},
         darkFromTop(6, 0.5f),
         -13.0},
        {"NaN", {{true, -3.0}, {true, kNan}}, darkFromTop(12), -kInf},
        {"+inf", {{true, kInf}}, darkFromTop(12), -kInf},
        {"-inf, then a level again", {{true, -kInf}, {false, 0.0}, {true, -3.0}}, darkFromTop(1, 0.5f), -3.0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        StatusEditor editor;
        ASSERT_TRUE(editor.opened);
        for (const Update& u : r.updates) {
            Status status = quiet();
            status.meterrefresh = u.refresh;
            status.meters[0] = u.level;
            editor.update(status);
        }
        expectValues(editor.meter(0), r.leds);
        EXPECT_EQ(editor.edit->getme(0).last, r.last);
        if (r.updates.back().refresh) expectValues(editor.meter(1), darkFromTop(0)); // its own 0 dB
    }
}

TEST(CoreEditStatus, AMeterWithoutItsPartnerFollowsTheLouderLevelAndSkipsAbsentLeds) {
    // Meters 0 and 2 only; LED 2 of meter 0 has no image, so no control.
    const std::string meters =
        tag("METERS", meterElement(1, 12, {}, {2}) + meterElement(3, 12));
    StatusEditor editor(tag("SKIN", meters));
    ASSERT_TRUE(editor.opened);
    ASSERT_EQ(editor.edit->getme(0).controls[1], nullptr);
    const float none = std::numeric_limits<float>::quiet_NaN();
    struct Row {
        double levels[4];
        int dark0, dark2; // -2 dB per dark LED
    };
    const Row rows[] = {
        {{-10.0, -2.0, -4.0, -20.0}, 1, 2},
        {{-2.0, -10.0, -20.0, -4.0}, 1, 2},
        {{kNan, -6.0, -8.0, kNan}, 3, 4},
        {{-100.0, -100.0, 0.0, -100.0}, 12, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.levels[0] << " " << r.levels[1] << " " << r.levels[2] << " "
                                        << r.levels[3]);
        Status status = quiet();
        status.meterrefresh = true;
        for (int m = 0; m < 4; ++m) status.meters[m] = r.levels[m];
        editor.update(status);
        std::vector<float> expected0 = darkFromTop(r.dark0);
        expected0[1] = none;
        expectValues(editor.meter(0), expected0);
        expectValues(editor.meter(2), darkFromTop(r.dark2));
        EXPECT_TRUE(editor.meter(1).empty());
        EXPECT_TRUE(editor.meter(3).empty());
    }
}

TEST(CoreEditStatus, DecibelTablesCountTheValuesTheLevelHasNotReached) {
    // Ascending from the top LED: meter 0 from -44 dB in steps of 4; meter 1 lists six LEDs of its
    // twelve, from -30 dB in steps of 6.
    std::vector<double> twelve, six;
    for (int k = 0; k < 12; ++k) twelve.push_back(-44.0 + 4.0 * k);
    for (int k = 0; k < 6; ++k) six.push_back(-30.0 + 6.0 * k);
    StatusEditor editor(tag("SKIN", tag("METERS", meterElement(1, 12, twelve) + meterElement(2, 6, six))));
    ASSERT_TRUE(editor.opened);
    ASSERT_TRUE(editor.edit->getme(0).dbmode);
    ASSERT_TRUE(editor.edit->getme(1).dbmode);
    struct Row {
        double level;
        int dark12, dark6;
    };
    const Row rows[] = {
        {1.0, 0, 0},   {0.0, 1, 1},   {-2.0, 1, 1},   {-4.0, 2, 1},    {-6.0, 2, 2},   {-8.0, 3, 2},
        {-20.0, 6, 4}, {-29.0, 8, 5}, {-30.0, 8, 6},  {-44.0, 12, 6},  {-100.0, 12, 6}, {kNan, 12, 6},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.level);
        Status status = quiet();
        status.meterrefresh = true;
        status.meters[0] = status.meters[1] = r.level;
        editor.update(status);
        expectValues(editor.meter(0), darkFromTop(r.dark12));
        std::vector<float> expected6 = darkFromTop(r.dark6);
        std::fill(expected6.begin() + 6, expected6.end(), std::numeric_limits<float>::quiet_NaN()); // unlisted
        expectValues(editor.meter(1), expected6);
    }
}

TEST(CoreEditStatus, AGroupMeterShowsOneElementPerWholeLevel) {
    StatusEditor editor(tag("SKIN", tag("METERS", tag("GROUPMODE", "1") + meterElement(1, 12))));
    ASSERT_TRUE(editor.opened);
    const CoreMbit* group = editor.edit->getme(0).group;
    ASSERT_NE(group, nullptr);
    struct Row {
        double level; // L = -level / 2
        int shown;
    };
    std::vector<Row> rows;
    for (int whole = 0; whole <= 12; ++whole) rows.push_back({-2.0 * whole, std::min(whole, 11)});
    rows.insert(rows.end(), {{-3.0, 1}, {-22.5, 11}, {-100.0, 11}, {kNan, 11}, {5.0, 0}});
    for (const Row& r : rows) {
        SCOPED_TRACE(r.level);
        Status status = quiet();
        status.meterrefresh = true;
        status.meters[0] = status.meters[1] = r.level; // meter 1 is absent: meter 0 shows the louder
        editor.update(status);
        EXPECT_EQ(group->getsh(), r.shown);
    }
}

TEST(CoreEditStatus, TheRecordsValuesReachControlsAndPadsWithoutSendingParameters) {
    const std::string sliders = tag(
        "SLIDERS",
        tag("MIX1", tag("SLIDERMINX", "10") + tag("SLIDERMINY", "10") + tag("SLIDERMAXX", "20") +
                        tag("SLIDERMAXY", "110") + tag("SLIDERHEIGHT", "100")) +
            tag("MIX2", tag("SLIDER", "knob.png") + tag("KNOBMODE", "1") + tag("SLIDERMINX", "30") +
                            tag("SLIDERMINY", "10") + tag("SLIDERMAXX", "50") + tag("SLIDERMAXY", "30") +
                            tag("SLIDERHEIGHT", "20")) +
            tag("PADXY1", tag("SLIDER", "handle.png") + tag("SLIDERMINX", "100") + tag("SLIDERMINY", "100") +
                              tag("SLIDERMAXX", "200") + tag("SLIDERMAXY", "200") + tag("CONTROLX", "MIX3") +
                              tag("CONTROLY", "MIX4") +
                              tag("MAP", tag("CONTROLX", "MIX5") + tag("CONTROLY", "MIX6"))));
    StatusEditor editor(tag("SKIN", sliders));
    ASSERT_TRUE(editor.opened);
    CoreEdit& edit = *editor.edit;
    const CorePdxy* pad = edit.getpi(0).pad;
    ASSERT_NE(pad, nullptr);
    editor.props.clear();

    Status status = quiet();
    const float values[10] = {0.1f, 0.2f, 0.25f, 0.75f, 0.9f, 0.9f, 0.3f, 0.3f, 0.4f, 0.5f};
    std::copy(std::begin(values), std::end(values), status.controls);
    editor.update(status);
    EXPECT_FLOAT_EQ(edit.getsi(0).control->getValue(), 0.1f); // slider
    EXPECT_FLOAT_EQ(edit.getsi(1).control->getValue(), 0.2f); // knob
    EXPECT_FLOAT_EQ(pad->getho(0)->getValue(), 0.25f);
    EXPECT_FLOAT_EQ(pad->getho(1)->getValue(), 0.75f);
    // The outputs of the corner map at (0.25, 0.75): nearest (0, 1), then (0, 0) before (1, 1).
    const double t = std::sqrt(0.125) / (std::sqrt(0.125) + std::sqrt(0.625));
    EXPECT_NEAR(pad->getho(2)->getValue(), 0.0, 1e-6);
    EXPECT_NEAR(pad->getho(3)->getValue(), 1.0 - t, 1e-6);
    EXPECT_TRUE(editor.props.stpars().empty());
    for (int slot = 0; slot < 10; ++slot)
        EXPECT_TRUE(editor.props.setsOf<CorePpwr::PARAMETERRECORD>(CorePpwr::iCparameterrecord + slot).empty());

    // A value that is not a number keeps what the control shows.
    status.controls[0] = std::numeric_limits<float>::quiet_NaN();
    status.controls[2] = std::numeric_limits<float>::infinity();
    status.controls[1] = 0.6f;
    editor.update(status);
    EXPECT_FLOAT_EQ(edit.getsi(0).control->getValue(), 0.1f);
    EXPECT_FLOAT_EQ(pad->getho(0)->getValue(), 0.25f);
    EXPECT_FLOAT_EQ(edit.getsi(1).control->getValue(), 0.6f);
}

TEST(CoreEditStatus, TheFontSetReachesTheTextDisplayOnlyWhenTheSkinShowsIt) {
    struct Row {
        const char* name;
        std::string rom; // empty: the built-in layout
        int16_t handed;
    };
    const std::string at = tag("DISPLAYX", "190") + tag("DISPLAYY", "50");
    const Row rows[] = {
        {"built-in layout", "", 2},
        {"skin without GLOBAL", tag("SKIN", tag("SETUP", "")), 2},
        {"GLOBAL places the display", tag("SKIN", tag("GLOBAL", at)), 2},
        {"GLOBAL without the display", tag("SKIN", tag("GLOBAL", tag("BACKGROUND", "NULL"))), -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        StatusEditor editor(r.rom);
        ASSERT_TRUE(editor.opened);
        Status status = quiet();
        status.fontset = 2;
        editor.update(status);
        EXPECT_EQ(editor.edit->getfc(), r.handed);
    }
}

TEST(CoreEditStatus, UpdatesSkipABusyEditorAndCloseWaitsForARunningOne) {
    const int32_t viewsBefore = CView::getLiveCount();
    StatusEditor editor;
    ASSERT_TRUE(editor.opened);
    CoreEdit& edit = *editor.edit;
    Status status = quiet();
    status.controls[0] = 0.5f;
    status.bypass = true;

    // A test thread holds the editor lock: the update does not even read the record.
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        edit.getlk()->locks();
        held = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        edit.getlk()->relse();
    });
    ASSERT_TRUE(waitFor([&] { return held.load(); }));
    int32_t gets = editor.props.getCount();
    editor.update(status);
    EXPECT_EQ(editor.props.getCount(), gets);
    EXPECT_FLOAT_EQ(edit.getsi(0).control->getValue(), 0.0f);
    EXPECT_DOUBLE_EQ(edit.getbb()->getvl(), 1.0);
    release = true;
    holder.join();

    // An update (on a thread of its own, as the listener's) pauses inside updte; close waits for it.
    std::atomic<bool> inside{false}, resume{false}, closing{false}, closed{false};
    edit.setUpdateHookForTest([&] {
        inside = true;
        while (!resume) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::thread updater([&] { editor.update(status); });
    ASSERT_TRUE(waitFor([&] { return inside.load(); }));
    std::thread closer([&] {
        closing = true;
        edit.close();
        closed = true;
    });
    ASSERT_TRUE(waitFor([&] { return closing.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // time for a close that does not wait
    EXPECT_FALSE(closed.load());
    resume = true; // the update now moves the controls close has not deleted yet
    updater.join();
    closer.join();

    // A closed editor ignores updates, from its former listener or called directly.
    gets = editor.props.getCount();
    for (int i = 0; i < 3; ++i) {
        editor.props.sendStatus(status);
        editor.update(status);
        edit.updte();
    }
    EXPECT_EQ(editor.props.getCount(), gets);
    editor.edit.reset();
    EXPECT_EQ(CView::getLiveCount(), viewsBefore);
}

TEST(CoreEditStatus, AParameterAndTheBypassReachTheOpenEditorThroughTheControlThread) {
    BootedEffect booted;
    ASSERT_TRUE(booted.booted);
    AEffect* record = booted.effect->getAeffect();
    auto* edit = dynamic_cast<CoreEdit*>(booted.effect->getEditor());
    ASSERT_NE(edit, nullptr);
    ASSERT_EQ(record->dispatcher(record, effEditOpen, 0, 0, nullptr, 0), 1);
    record->setParameter(record, 0, 0.7f);
    CorePrcs::BEANSTRUCT none{};
    booted.effect->getms()->getpr()->setbb(258, true, &none);
    // Read under the editor lock: the listener thread moves the controls.
    const auto shown = [edit] {
        edit->getlk()->locks();
        const bool done = edit->getsi(0).control && edit->getsi(0).control->getValue() == 0.7f &&
                          edit->getbb() && edit->getbb()->getvl() == 0.0;
        edit->getlk()->relse();
        return done;
    };
    EXPECT_TRUE(waitFor(shown));
    record->dispatcher(record, effEditClose, 0, 0, nullptr, 0);
}
