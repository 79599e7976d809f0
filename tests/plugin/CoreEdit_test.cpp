#include "plugin/CoreEdit.h"

#include "NoticeLog.h"

#include "base/CorePool.h"
#include "platform/gui/CAnimKnob.h"
#include "platform/gui/CBitmap.h"
#include "platform/gui/CKickButton.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/CVerticalSlider.h"
#include "plugin/CoreFrme.h"
#include "plugin/CoreLswr.h"
#include "plugin/CoreMbit.h"
#include "plugin/CoreSkin.h"
#include "tests/common/PngWriter.h"
#include "tests/common/TempFolder.h"
#include "tests/gui/GuiGolden.h"
#include "processor/CorePrcs.h"
#include "tests/plugin/BootedEffect.h"
#include "tests/plugin/RecordingProperties.h"
#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using skintest::png;
using skintest::tag;

AudioUnitEvent notice(RecordingProperties& props, int32_t id) { return {3, &props, uint32_t(id), 0, 0}; }

using Control = CorePpwr::CONTROLMAPRECORD;

// Polls until done() holds or 20 s have passed.
bool waitFor(const std::function<bool()>& done) { return eventually(done, std::chrono::seconds(20)); }

} // namespace

TEST(CoreEdit, TheBuiltInLayoutPlacesEveryElement) {
    RecordingProperties props;
    CoreEdit edit(nullptr, nullptr, nullptr, &props);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const CRect expected = i < 8 ? CRect(600 + 38 * i, 80, 617 + 38 * i, 276)
                                     : i == 8 ? CRect(55, 142, 109, 276) : CRect(113, 142, 167, 276);
        EXPECT_TRUE(edit.getsi(i).present);
        EXPECT_EQ(edit.getsi(i).rect, expected);
        EXPECT_EQ(edit.getsi(i).resolution, i < 8 ? 160 : 98);
        if (i < 8) {
            EXPECT_EQ(edit.getlp(i).toppos, CPoint(602 + 38 * i, 8));
            EXPECT_EQ(edit.getlp(i).bottompos, CPoint(602 + 38 * i, 18));
        }
    }
    const int offsets[] = {0, 23, 59, 82};
    for (int m = 0; m < 4; ++m) {
        ASSERT_EQ(edit.getme(m).count, 12);
        for (int n = 0; n < 12; ++n) EXPECT_EQ(edit.getme(m).positions[size_t(n)], CPoint(47 + offsets[m], 13 + 10 * n));
    }
    EXPECT_EQ(edit.getmi().overflowpos, CPoint(189, 254));
    EXPECT_EQ(edit.getmi().bypasspos, CPoint(230, 254));
    EXPECT_EQ(edit.getmi().overflowframes, 3);
    EXPECT_EQ(edit.getmi().bypassframes, 3);
    const CBitmap background(100), bypass(102);
    ERect* rect = nullptr;
    ASSERT_TRUE(edit.getRect(&rect));
    EXPECT_EQ(rect->right, background.getWidth());
    EXPECT_EQ(rect->bottom, background.getHeight());
    EXPECT_EQ(edit.getba(), CRect(230, 254, 230 + bypass.getWidth(), 254 + bypass.getHeight()));

    ASSERT_TRUE(edit.open(nullptr));
    for (int i = 0; i < 10; ++i) {
        const CControl* control = edit.getsi(i).control;
        ASSERT_NE(dynamic_cast<const CVerticalSlider*>(control), nullptr);
        EXPECT_EQ(control->getViewSize(), edit.getsi(i).rect);
        EXPECT_TRUE(edit.getfm()->isChild(control));
    }
    EXPECT_EQ(edit.getob()->getcn(), 1);
    EXPECT_EQ(edit.getbb()->getcn(), 1);
    edit.idle();
    guitest::expectGolden(edit.getfm()->getImage(), "editor_builtin_layout");
    edit.close();
}

TEST(CoreEdit, ASkinPlacesEachFeature) {
    TempFolder folder("skin");
    const std::string mix1 = tag("MIX1", tag("SLIDER", "knob.png") + tag("KNOBMODE", "1") + tag("SLIDERMINX", "10") +
                                             tag("SLIDERMINY", "20") + tag("SLIDERMAXX", "30") +
                                             tag("SLIDERMAXY", "40") + tag("SLIDERHEIGHT", "20"));
    const std::string pad1 =
        tag("PADXY1", tag("SLIDER", "handle.png") + tag("SLIDERMINX", "100") + tag("SLIDERMINY", "100") +
                          tag("SLIDERMAXX", "200") + tag("SLIDERMAXY", "150") + tag("CONTROLX", "MIX3") +
                          tag("CONTROLY", "MIX4") +
                          tag("MAP", tag("CONTROLX", "MIX5") + tag("CONTROLY", "MIX6") +
                                         tag("MAP", tag("SLIDERMINX", "150") + tag("SLIDERMINY", "110") +
                                                        tag("CONTROLX", "0.25") + tag("CONTROLY", "0.75"))));
    const std::string pad2 = tag("PADXY2", tag("SLIDERMINX", "300") + tag("SLIDERMINY", "100") +
                                               tag("SLIDERMAXX", "300") + tag("SLIDERMAXY", "150") +
                                               tag("CONTROLX", "MIX7"));
    const std::string setup =
        tag("SETUP", tag("PROGRAM1", tag("SEQUENCE", "5") + tag("BUTTON", "button.png") + tag("BUTTONX", "400") +
                                         tag("BUTTONY", "10") + tag("LED", "led.png") + tag("LEDX", "420") +
                                         tag("LEDY", "10")) +
                         tag("PROGRAM2", tag("SEQUENCE", "0")) + tag("PROGRAM3", tag("BUTTON", "button.png")));
    const std::string meters =
        tag("METERS", tag("GROUPMODE", "1") +
                          tag("METER1", tag("LED1", tag("LED", "led.png") + tag("LEDX", "5") + tag("LEDY", "6") +
                                                        tag("LEDDB", "-6")) +
                                            tag("LED2", tag("LED", "NULL") + tag("LEDX", "5") + tag("LEDY", "16")) +
                                            tag("LED4", tag("LED", "led.png"))));
    const std::string global =
        tag("GLOBAL", tag("BACKGROUND", "back.png") +
                          tag("LEDOVERFLOW", tag("LED", "led.png") + tag("LEDX", "50") + tag("LEDY", "60") +
                                                 tag("LEDOFF", "NULL") + tag("FRAMES", "5")) +
                          tag("LEDBYPASS", tag("LED", "led.png") + tag("LEDX", "70") + tag("LEDY", "80") +
                                               tag("LEDOFF", "ledoff.png") + tag("LEDOFFX", "71") +
                                               tag("LEDOFFY", "81")));
    const std::string rom = tag("SKIN", global + tag("SLIDERS", mix1 + pad1 + pad2) + setup + meters);
    const std::string path = skintest::writeFolder(folder.path / "skin",
                                                   {{"ROM.XML", rom}, {"knob.png", png(20, 100)},
                                                    {"handle.png", png(10, 8)}, {"button.png", png(30, 20)},
                                                    {"led.png", png(6, 9)}, {"ledoff.png", png(6, 3)},
                                                    {"back.png", png(640, 300)}});
    CorePool pool;
    CoreSkin skin(&pool, CoreAnsx(path.c_str()), nullptr);
    RecordingProperties props;
    CoreEdit edit(&skin, nullptr, nullptr, &props);

    EXPECT_TRUE(edit.getsi(0).knob);
    EXPECT_EQ(edit.getsi(0).resolution, 100 - 20); // strip height − slot height
    EXPECT_FALSE(edit.getsi(1).present);
    EXPECT_TRUE(edit.getbi(0).present);
    EXPECT_EQ(edit.getbi(0).program, 5);
    EXPECT_FALSE(edit.getbi(1).present);
    EXPECT_FALSE(edit.getbi(2).present);
    const CoreEdit::PADINFO& mapped = edit.getpi(0);
    ASSERT_TRUE(mapped.present);
    ASSERT_EQ(mapped.map.size(), 5u);
    EXPECT_DOUBLE_EQ(mapped.map[1].y, 1.0);
    EXPECT_DOUBLE_EQ(mapped.map[2].u, 1.0);
    EXPECT_DOUBLE_EQ(mapped.map[4].x, 0.5);
    EXPECT_DOUBLE_EQ(mapped.map[4].y, 0.2);
    EXPECT_DOUBLE_EQ(mapped.map[4].v, 0.75);
    EXPECT_FALSE(edit.getpi(1).present); // no width
    EXPECT_EQ(edit.getme(0).count, 12);
    EXPECT_EQ(edit.getme(0).ledpresent, (std::vector<char>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_DOUBLE_EQ(edit.getme(0).decibels[0], -6.0);
    EXPECT_FALSE(edit.getme(1).present);
    EXPECT_EQ(edit.getmi().overflowframes, 5);
    EXPECT_EQ(edit.getmi().bypassframes, -1);
    EXPECT_EQ(edit.getba(), CRect(70, 80, 76, 89));
    ERect* rect = nullptr;
    ASSERT_TRUE(edit.getRect(&rect));
    EXPECT_EQ(rect->right, 640);
    EXPECT_EQ(rect->bottom, 300);

    ASSERT_TRUE(edit.open(nullptr));
    EXPECT_NE(dynamic_cast<CAnimKnob*>(edit.getsi(0).control), nullptr);
    EXPECT_EQ(edit.getsi(1).control, nullptr);
    for (int slot : {2, 3, 4, 5}) EXPECT_TRUE(edit.getsi(slot).paddriven) << slot;
    EXPECT_EQ(edit.getsi(2).pad, 0);
    EXPECT_EQ(edit.getsi(3).axis, 1);
    EXPECT_EQ(edit.getsi(4).pad, -1);
    EXPECT_FALSE(edit.getsi(6).paddriven); // the absent pad drives nothing
    EXPECT_EQ(edit.getbb()->getcn(), 2);
    EXPECT_EQ(edit.getob()->getcn(), 1);
    EXPECT_EQ(edit.getfb(), 11); // after the one program LED
    const CoreMbit* group = edit.getme(0).group;
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->getsh(), 0); // the top LED shows for 0
    std::vector<int16_t> slots;
    for (const Control& c : props.setsOf<Control>(CorePpwr::iCcontrolmap)) slots.push_back(c.slot);
    EXPECT_EQ(slots, (std::vector<int16_t>{0}));
    edit.close();
}

TEST(CoreEdit, OpensOnceClosesEverythingAndStaysClosedAfterAViewClose) {
    RecordingProperties props;
    const int32_t viewsBefore = CView::getLiveCount();
    {
        CoreEdit edit(nullptr, nullptr, nullptr, &props);
        for (int cycle = 0; cycle < 20; ++cycle) {
            props.clear();
            ASSERT_TRUE(edit.open(nullptr));
            ASSERT_TRUE(edit.open(nullptr));
            EXPECT_TRUE(edit.hasls());
            const auto clients = props.setsOf<uint8_t>(CorePpwr::iCclient);
            EXPECT_EQ(clients, std::vector<uint8_t>{1});
            EXPECT_EQ(props.setsOf<Control>(CorePpwr::iCcontrolmap).size(), 10u);
            edit.close();
            EXPECT_EQ(props.setsOf<uint8_t>(CorePpwr::iCclient), (std::vector<uint8_t>{1, 0}));
            EXPECT_FALSE(edit.hasls());
            EXPECT_EQ(CView::getLiveCount(), viewsBefore);
        }
        ASSERT_TRUE(edit.open(nullptr));
        props.prchg(CorePpwr::iCviewclose, 0, 0); // the listener closes the window
        EXPECT_TRUE(waitFor([&] { return !edit.isopn(); }));
        EXPECT_FALSE(edit.open(nullptr));
    }
    EXPECT_EQ(CView::getLiveCount(), viewsBefore);

    CoreEdit alone(nullptr, nullptr, nullptr, nullptr); // without an effect
    ASSERT_TRUE(alone.open(nullptr));
    EXPECT_FALSE(alone.hasls());
    alone.close();
}

TEST(CoreEdit, TurnsControlChangesIntoParameterRecords) {
    using Record = CorePpwr::PARAMETERRECORD;
    struct Row {
        const char* name;
        int slot; // 0 present, 2 a pad axis, 1 absent
        bool locked;
        double lastSent;
        float value;
        bool stpar, lastFlag, valueFlag, touched;
    };
    const Row rows[] = {
        {"new value", 0, false, 0.25, 0.5f, true, true, false, true},
        {"same value", 0, false, 0.5, 0.5f, false, false, false, true},
        {"locked", 0, true, 0.25, 0.5f, false, false, true, false},
        {"pad axis", 2, false, 0.0, 0.75f, true, true, false, true},
        {"absent", 1, false, 0.0, 0.75f, false, false, false, false},
    };
    TempFolder folder("skin");
    const std::string rom = tag(
        "SKIN", tag("SLIDERS", tag("MIX1", tag("SLIDERMINX", "10") + tag("SLIDERMINY", "10") + tag("SLIDERMAXX", "20") +
                                               tag("SLIDERMAXY", "110") + tag("SLIDERHEIGHT", "100")) +
                                   tag("PADXY1", tag("SLIDERMINX", "100") + tag("SLIDERMINY", "100") +
                                                     tag("SLIDERMAXX", "200") + tag("SLIDERMAXY", "200") +
                                                     tag("CONTROLX", "MIX3"))));
    const std::string path = skintest::writeFolder(folder.path / "skin", {{"ROM.XML", rom}});
    CorePool pool;
    CoreSkin skin(&pool, CoreAnsx(path.c_str()), nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RecordingProperties props;
        CoreEdit edit(&skin, nullptr, nullptr, &props);
        ASSERT_TRUE(edit.open(nullptr));
        Record stored{};
        stored.locked = r.locked;
        stored.lastvalue = r.lastSent;
        props.put(CorePpwr::iCparameterrecord + r.slot, stored);
        props.clear();
        CPoint origin;
        CVerticalSlider probe(CRect(), nullptr, r.slot, 0, 1, nullptr, nullptr, origin);
        probe.setValue(r.value);
        edit.getlk()->locks(); // as the frame's dispatch holds it
        edit.valueChanged(nullptr, &probe);
        edit.getlk()->relse();
        const auto stpars = props.stpars();
        EXPECT_EQ(stpars.size(), r.stpar ? 1u : 0u);
        if (r.stpar) {
            EXPECT_EQ(stpars[0].id, r.slot);
            EXPECT_FLOAT_EQ(stpars[0].value, r.value);
        }
        const auto written = props.setsOf<Record>(CorePpwr::iCparameterrecord + r.slot);
        if (r.slot == 1) {
            EXPECT_TRUE(written.empty());
        } else {
            ASSERT_EQ(written.size(), 1u);
            EXPECT_EQ(written[0].lastsent, r.lastFlag);
            if (r.lastFlag) {
                EXPECT_DOUBLE_EQ(written[0].lastvalue, r.value);
            }
            EXPECT_EQ(written[0].valueset, r.valueFlag);
            if (r.valueFlag) {
                EXPECT_DOUBLE_EQ(written[0].value, r.value);
            }
            EXPECT_EQ(written[0].touched, r.touched);
        }
        edit.close();
    }
}

TEST(CoreEdit, AProgramButtonClickSendsItsProgramEveryTime) {
    TempFolder folder("skin");
    std::string buttons;
    for (int i = 1; i <= 3; ++i)
        buttons += tag("PROGRAM" + std::to_string(i),
                       tag("SEQUENCE", std::to_string(10 * i)) + tag("BUTTONX", std::to_string(40 * i)) +
                           tag("BUTTONY", "300"));
    const std::string path = skintest::writeFolder(folder.path / "skin", {{"ROM.XML", tag("SKIN", tag("SETUP", buttons))}});
    CorePool pool;
    CoreSkin skin(&pool, CoreAnsx(path.c_str()), nullptr);
    RecordingProperties props;
    CoreEdit edit(&skin, nullptr, nullptr, &props);
    ASSERT_TRUE(edit.open(nullptr));
    for (int i : {1, 0, 1, 1}) {
        props.clear();
        const CRect where = edit.getbi(i).control->getViewSize();
        const CPoint inside(where.left + 1, where.top + 1);
        edit.getfm()->post(CoreGevt::down(inside, kLButton));
        edit.getfm()->post(CoreGevt::up(inside));
        edit.idle();
        const auto messages = props.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].type, 4);
        EXPECT_EQ(messages[0].a, 10 * (i + 1));
    }
    edit.close();
}

TEST(CoreEdit, TheGuiThreadWorksWhileNoticesArrive) {
    RecordingProperties props;
    CoreEdit edit(nullptr, nullptr, nullptr, &props);
    std::atomic<bool> stop{false};
    std::thread focus([&] {
        for (uint8_t on = 0; !stop.load(); on ^= 1) {
            props.put(CorePpwr::iCtextfocus, on);
            props.prchg(CorePpwr::iCtextfocus, 0, 0);
            props.prchg(CorePpwr::iCstatus, 0, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread direct([&] {
        for (uint8_t on = 0; !stop.load(); on ^= 1) {
            const AudioUnitEvent event = notice(props, CorePpwr::iCtextfocus);
            edit.evlst(nullptr, &event, 0.0f);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int cycle = 0; cycle < 100; ++cycle) {
        if (!edit.open(nullptr)) break; // the view close came
        CoreFrme* frame = edit.getfm();
        frame->post(CoreGevt::down(CPoint(605, 200), kLButton));
        frame->post(CoreGevt::move(CPoint(605, 150), kLButton));
        edit.idle();
        frame->post(CoreGevt::up(CPoint(605, 150)));
        edit.idle();
        if (cycle == 50) {
            const AudioUnitEvent close = notice(props, CorePpwr::iCviewclose);
            std::thread([&] { edit.evlst(nullptr, &close, 0.0f); }).join();
        }
        edit.close();
        EXPECT_EQ(edit.getkh(), nullptr); // the hook goes with the window
    }
    stop = true;
    focus.join();
    direct.join();
    EXPECT_FALSE(edit.open(nullptr));
}

namespace {

std::mutex automatedLock;
std::vector<std::pair<int32_t, float>> automated;

VstIntPtr recordingHost(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    if (opcode == audioMasterAutomate) {
        std::lock_guard<std::mutex> hold(automatedLock);
        automated.emplace_back(index, opt);
        return 0;
    }
    return BootedEffect::host(effect, opcode, index, value, ptr, opt);
}

} // namespace

TEST(CoreEdit, ASliderDragReachesTheHostAsAutomation) {
    BootedEffect booted("", true, &recordingHost);
    ASSERT_TRUE(booted.booted);
    AEffect* record = booted.effect->getAeffect();
    EXPECT_TRUE(record->flags & effFlagsHasEditor);
    auto* edit = dynamic_cast<CoreEdit*>(booted.effect->getEditor());
    ASSERT_NE(edit, nullptr);
    ERect* rect = nullptr;
    ASSERT_EQ(record->dispatcher(record, effEditGetRect, 0, 0, &rect, 0), 1);
    EXPECT_GT(rect->right, 0);
    EXPECT_GT(rect->bottom, 0);
    ASSERT_EQ(record->dispatcher(record, effEditOpen, 0, 0, nullptr, 0), 1);
    {
        std::lock_guard<std::mutex> hold(automatedLock);
        automated.clear();
    }
    auto* slider = dynamic_cast<CVerticalSlider*>(edit->getsi(0).control);
    ASSERT_NE(slider, nullptr);
    const int32_t height = edit->getsi(0).height;
    const CRect handle = slider->getHandleRect();
    const int32_t bottom = handle.top; // the value is 0 until a status update moves it
    CPoint at(handle.left + 1, handle.top + 1);
    edit->getfm()->post(CoreGevt::down(at, kLButton));
    record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0);
    for (int32_t step = 8; step <= 48; step += 8) {
        at.y = bottom + 1 - step;
        edit->getfm()->post(CoreGevt::move(at, kLButton));
        record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0);
    }
    edit->getfm()->post(CoreGevt::up(at));
    record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0);
    const float expected = 48.0f / float(height);
    {
        std::lock_guard<std::mutex> hold(automatedLock);
        ASSERT_EQ(automated.size(), 6u); // one per distinct value
        EXPECT_EQ(automated.back().first, 0);
        EXPECT_FLOAT_EQ(automated.back().second, expected);
    }
    EXPECT_FLOAT_EQ(record->getParameter(record, 0), expected);
    CorePrcs::BEANSTRUCT slot0{0, 0}, none{};
    EXPECT_FLOAT_EQ(float(booted.effect->getms()->getpr()->getbd(235, &slot0)), expected);
    EXPECT_EQ(booted.effect->getms()->getpr()->getbl(83, &none), 0);
    EXPECT_EQ(slider->getHandleRect().top, bottom - 48);
    guitest::expectGolden(edit->getfm()->getImage(), "editor_slider_dragged");
    record->dispatcher(record, effEditClose, 0, 0, nullptr, 0);
    ASSERT_EQ(record->dispatcher(record, effEditOpen, 0, 0, nullptr, 0), 1); // left open: the effect closes it
}

TEST(CoreEdit, AnEffectInItsErrorStateHasNoEditor) {
    CoreMstr::setSeamsForTest({[] { return false; }, nullptr, nullptr});
    AudioEffect* effect = createEffectInstance(&BootedEffect::host);
    CoreMstr::setSeamsForTest({});
    AEffect* record = effect->getAeffect();
    EXPECT_EQ(effect->getEditor(), nullptr);
    EXPECT_FALSE(record->flags & effFlagsHasEditor);
    ERect* rect = nullptr;
    for (VstInt32 opcode : {effEditGetRect, effEditOpen, effEditIdle, effEditKeyDown})
        EXPECT_EQ(record->dispatcher(record, opcode, 0, 0, opcode == effEditGetRect ? &rect : nullptr, 0), 0) << opcode;
    record->dispatcher(record, effClose, 0, 0, nullptr, 0);
}
