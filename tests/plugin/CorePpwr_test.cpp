// The effect's property interface, on an in-process effect booted on the demo folder and on one in its
// error state: the result and size rules of every id, the parameter records over the beans, the
// mirrors, refused calls, the mirrors under the three threads that use them, and the display's ids.
#include "plugin/CorePpwr.h"

#include "base/CoreSgrd.h"
#include "display/CoreDsif.h"
#include "display/CoreDsmn.h"
#include "display/CoreDspc.h"
#include "plugin/CoreCtrl.h"
#include "processor/CorePrcs.h"
#include "tests/display/CoreDsifTestAccess.h"
#include "tests/plugin/BootedEffect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace {

using Record = CorePpwr::PARAMETERRECORD;
using Status = CorePpwr::STATUSRECORD;
using Map = CorePpwr::CONTROLMAPRECORD;

constexpr int32_t kUnknown = -1;
constexpr int32_t kCells = -2; // the display's cells x 8; none in the error state, which has no display
constexpr int32_t kMenu = -3;  // the program page's popup records; none in the error state

CorePrcs* engine(BootedEffect& booted) {
    return booted.effect->getct()->getms()->getpr();
}

double beanDouble(BootedEffect& booted, int32_t id, int32_t index) {
    CorePrcs::BEANSTRUCT bean{index, 0};
    return engine(booted)->getbd(id, &bean);
}

// One property: its size, and what a get (without and with a capacity) and a set of a record of that
// size answer in the normal state.
struct IdRow {
    int32_t id;
    int32_t size; // kUnknown: not a property; kCells: the display's
    int32_t get, getWithCapacity, set;
};

std::vector<IdRow> idRows() {
    std::vector<IdRow> rows = {{99999, kUnknown, 11, 11, 11},   {100010, kUnknown, 11, 11, 11},
                               {100099, kUnknown, 11, 11, 11},  {100111, kUnknown, 11, 11, 11},
                               {INT32_MIN, kUnknown, 11, 11, 11}, {INT32_MAX, kUnknown, 11, 11, 11},
                               {100100, 20, 11, 11, 0},         {100101, 12, 0, 0, 0},
                               {100102, sizeof(Status), 0, 0, 0}, {100103, 1, 11, 11, 0},
                               {100104, kCells, 11, 0, 11},     {100105, 1, 0, 0, 0},
                               {100106, 20, 0, 0, 0},           {100107, kMenu, 11, 0, 11},
                               {100108, 52, 11, 11, 0},         {100109, 1, 11, 11, 0},
                               {100110, sizeof(Map), 11, 11, 0}};
    for (int32_t slot = 0; slot < 10; ++slot) rows.push_back({100000 + slot, sizeof(Record), 0, 0, 0});
    return rows;
}

// The bytes of the popup records the program page armed.
int32_t menuBytes(BootedEffect& booted) {
    CoreDsif& display = *booted.effect->getms()->getds();
    CoreSgrd hold(display.getlk());
    return CoreDsifTestAccess::popups(display).getrc().count * int32_t(sizeof(CoreCnst::POPMENUENTRY));
}

// The cells of the effect's display in all four fonts, main and add area.
int32_t cells(BootedEffect& booted) {
    const CoreDsif& display = *booted.effect->getms()->getds();
    int32_t total = 0;
    for (short font = 0; font < 4; ++font) total += display.getdx(font) * (display.getdy(font) + display.getay(font));
    return total;
}

TEST(CorePpwr, EveryIdAnswersByScopeStateAndOperation) {
    BootedEffect normal;
    ASSERT_TRUE(normal.booted);
    BootedEffect failed("<WORKBUFFER>1000000000</WORKBUFFER>");
    ASSERT_TRUE(failed.effect->geter());
    for (BootedEffect* state : {&normal, &failed}) {
        const bool error = state == &failed;
        CorePpwr* properties = state->properties();
        for (const IdRow& row : idRows()) {
            for (int32_t scope : {0, 1}) {
                SCOPED_TRACE(testing::Message() << row.id << " scope " << scope << (error ? " error" : ""));
                const bool known = row.size != kUnknown && scope == 0;
                const int32_t rowSize = row.size == kCells ? (error ? 0 : cells(*state) * 8)
                                        : row.size == kMenu ? (error ? 0 : menuBytes(*state))
                                                            : row.size;
                const uint32_t size = known ? uint32_t(rowSize) : 0;
                const int32_t sizeResult = known ? 0 : 11;
                uint32_t reported = 99;
                bool writable = true;
                EXPECT_EQ(properties->gtpri(row.id, scope, 0, reported, writable), sizeResult); // error not checked
                EXPECT_EQ(reported, size);
                EXPECT_FALSE(writable);

                uint8_t buffer[256] = {};
                const int32_t get = scope != 0 ? 11 : error ? 12 : row.get;
                EXPECT_EQ(properties->gtprp(row.id, scope, 0, buffer), get);
                reported = 99;
                EXPECT_EQ(properties->wgprp(row.id, scope, 0, nullptr, reported), sizeResult);
                EXPECT_EQ(reported, size);
                reported = sizeof buffer;
                const int32_t getWithCapacity = !known ? 11 : error ? 12 : row.getWithCapacity;
                EXPECT_EQ(properties->wgprp(row.id, scope, 0, buffer, reported), getWithCapacity);
                EXPECT_EQ(reported, size);

                const uint8_t zeros[256] = {};
                const uint32_t setSize = row.size > 0 ? uint32_t(row.size) : 8;
                const int32_t set = error ? 12 : scope != 0 ? 11 : row.set;
                EXPECT_EQ(properties->stprp(row.id, scope, 0, zeros, setSize), set);
            }
        }
    }
}

TEST(CorePpwr, ParameterRecordsSetTheirFlaggedFieldsAndGetTheLockAndLastSentValue) {
    BootedEffect booted;
    ASSERT_TRUE(booted.booted);
    CorePrcs* prcs = engine(booted);
    CoreCtrl* control = booted.effect->getct();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* name;
        Record record;
        std::vector<int32_t> setters; // in call order (83 with the slot as its value)
        double lastSent, value;       // afterwards; NaN: unchanged
    };
    const Row rows[] = {
        {"no flag", {false, false, false, 0.6, false, 0.7}, {}, nan, nan},
        {"last sent", {false, false, true, 0.6, false, 0.7}, {235}, 0.6, nan},
        {"touched", {false, true, false, 0.6, false, 0.7}, {83}, nan, nan},
        {"value", {false, false, false, 0.6, true, 0.7}, {155}, nan, 0.7},
        {"all, locked ignored", {true, true, true, 0.25, true, 0.75}, {235, 83, 155}, 0.25, 0.75},
        {"NaN values", {false, true, true, nan, true, nan}, {83}, nan, nan},
    };
    for (int32_t slot : {0, 9}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << row.name << " slot " << slot);
            control->setdu(true); // no tick calls a setter while the trace is set
            const double lastBefore = beanDouble(booted, 235, slot), valueBefore = beanDouble(booted, 155, slot);
            std::vector<int32_t> setters;
            bool focusedSlot = true;
            prcs->setBeanTrace([&](const CorePrcs::BEANCALL& call) {
                setters.push_back(call.id);
                if (call.id == 83) focusedSlot = focusedSlot && call.value == slot;
            });
            EXPECT_EQ(booted.effect->wsprp(100000 + slot, 0, 0, &row.record, sizeof row.record), 0);
            prcs->setBeanTrace(nullptr);
            EXPECT_EQ(setters, row.setters);
            EXPECT_EQ(beanDouble(booted, 235, slot), std::isnan(row.lastSent) ? lastBefore : row.lastSent);
            EXPECT_EQ(beanDouble(booted, 155, slot), std::isnan(row.value) ? valueBefore : row.value);
            EXPECT_TRUE(focusedSlot);
            control->setdu(false);
        }
    }

    // A get fills the locked flag and the last-sent value; the caller's other bytes stay.
    control->setdu(true);
    for (int32_t slot = 0; slot < 10; ++slot) {
        SCOPED_TRACE(slot);
        CorePrcs::BEANSTRUCT bean{slot, 0};
        prcs->setbd(235, 0.125 * (slot % 4), &bean);
        Record got;
        std::memset(&got, 0x5A, sizeof got);
        Record expected = got;
        uint32_t size = sizeof got;
        ASSERT_EQ(booted.effect->wgprp(100000 + slot, 0, 0, &got, size), 0);
        expected.locked = prcs->getbb(154, &bean);
        expected.lastvalue = 0.125 * (slot % 4);
        EXPECT_EQ(size, sizeof got);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0);
    }
    control->setdu(false);
}

TEST(CorePpwr, MirrorsKeepWhatWasSetAndTheControlMapReachesTheWheelStep) {
    BootedEffect booted;
    ASSERT_TRUE(booted.booted);
    CoreZrlg& effect = *booted.effect;
    struct Row {
        int32_t id;
        uint32_t size;
    };
    const Row mirrors[] = {{100101, 12}, {100102, sizeof(Status)}, {100105, 1}, {100106, 20}};
    CoreCnst::POPMENUARM armed{};
    {
        CoreDsif& display = *effect.getms()->getds();
        CoreSgrd hold(display.getlk());
        armed = CoreDsifTestAccess::popups(display).getrc();
    }
    for (const Row& row : mirrors) { // zero after copen, but for the arm record the program page sent
        uint8_t got[sizeof(Status)], expected[sizeof(Status)] = {};
        std::memset(got, 0xEE, sizeof got);
        if (row.id == 100106) std::memcpy(expected, &armed, sizeof armed);
        ASSERT_EQ(effect.gtprp(row.id, 0, 0, got), 0);
        for (uint32_t i = 0; i < row.size; ++i) EXPECT_EQ(got[i], expected[i]) << row.id << " byte " << i;
    }
    for (const Row& row : mirrors) {
        SCOPED_TRACE(row.id);
        uint8_t set[sizeof(Status)], got[sizeof(Status)] = {};
        for (uint32_t i = 0; i < row.size; ++i) set[i] = uint8_t(row.id + 7 * i);
        ASSERT_EQ(effect.stprp(row.id, 0, 0, set, row.size), 0);
        uint32_t size = row.size;
        ASSERT_EQ(effect.wgprp(row.id, 0, 0, got, size), 0);
        EXPECT_EQ(std::memcmp(got, set, row.size), 0);
    }

    // The control map: kept, and one wheel notch of the control in focus (MIX1 of the boot program,
    // range 0 to 1) moves it by 1/value.
    const Record focus{false, true, false, 0.0, true, 0.5};
    ASSERT_EQ(effect.wsprp(100000, 0, 0, &focus, sizeof focus), 0);
    const Map map{0, 20};
    ASSERT_EQ(effect.wsprp(100110, 0, 0, &map, sizeof map), 0);
    EXPECT_EQ(effect.getcm().slot, 0);
    EXPECT_EQ(effect.getcm().value, 20);
    CorePrcs::BEANSTRUCT none{};
    engine(booted)->setbi(82, 1, &none);
    EXPECT_NEAR(beanDouble(booted, 155, 0), 0.5 + 1.0 / 20, 1e-12);

    // The client count rises and falls, never below 0; view close stores nothing.
    CoreCtrl* control = effect.getct();
    const struct {
        uint8_t byte;
        bool connected;
    } clients[] = {{1, true}, {2, true}, {0, true}, {0, false}, {0, false}, {1, true}, {0, false}};
    for (const auto& step : clients) {
        ASSERT_EQ(effect.wsprp(100103, 0, 0, &step.byte, 1), 0);
        EXPECT_EQ(control->cnncl(), step.connected) << int(step.byte);
    }
    const uint8_t close = 1;
    EXPECT_EQ(effect.stprp(100109, 0, 0, &close, 1), 0);
    uint8_t nothing = 0;
    EXPECT_EQ(effect.gtprp(100109, 0, 0, &nothing), 11);
}

TEST(CorePpwr, RefusesBadSizesAndKeepsTheMirror) {
    BootedEffect booted;
    ASSERT_TRUE(booted.booted);
    CoreZrlg& effect = *booted.effect;
    const struct {
        int32_t id;
        uint32_t size;
    } mirrors[] = {{100101, 12}, {100102, sizeof(Status)}, {100105, 1}, {100106, 20}, {100110, sizeof(Map)}};
    for (const auto& mirror : mirrors) {
        SCOPED_TRACE(mirror.id);
        uint8_t kept[sizeof(Status)], bad[sizeof(Status) + 1];
        std::memset(kept, 0x11, sizeof kept);
        std::memset(bad, 0x77, sizeof bad);
        ASSERT_EQ(effect.stprp(mirror.id, 0, 0, kept, mirror.size), 0);
        const struct {
            const void* data;
            uint32_t size;
        } calls[] = {{bad, mirror.size - 1}, {bad, mirror.size + 1}, {bad, 0}, {bad, UINT32_MAX}, {nullptr, mirror.size}};
        for (const auto& call : calls) {
            SCOPED_TRACE(call.size);
            EXPECT_EQ(effect.wsprp(mirror.id, 0, 0, call.data, call.size), 11);
        }
        if (mirror.id == 100110) { // not readable as a property
            const Map map = effect.getcm();
            EXPECT_EQ(map.slot, 0x1111);
            EXPECT_EQ(map.value, 0x11111111);
            continue;
        }
        uint8_t got[sizeof(Status)] = {};
        uint32_t size = sizeof got;
        ASSERT_EQ(effect.wgprp(mirror.id, 0, 0, got, size), 0);
        EXPECT_EQ(std::memcmp(got, kept, mirror.size), 0);

        // A capacity below the size: that many bytes copied, the full size reported.
        std::memset(got, 0xCC, sizeof got);
        size = mirror.size - 1;
        ASSERT_EQ(effect.wgprp(mirror.id, 0, 0, got, size), 0);
        EXPECT_EQ(size, mirror.size);
        for (uint32_t i = 0; i < mirror.size; ++i) EXPECT_EQ(got[i], i + 1 < mirror.size ? 0x11 : 0xCC) << i;
    }
    uint8_t buffer[64] = {};
    EXPECT_EQ(effect.gtprp(100104, 0, 0, buffer), 11);
    EXPECT_EQ(effect.gtprp(100107, 0, 0, buffer), 11);
}

// The status record's fields all carry one number n: the bools its lowest bit.
Status numbered(int32_t n) {
    Status status{};
    status.fontset = int16_t(n);
    status.indicator = status.bypass = status.meterrefresh = (n & 1) != 0;
    for (double& meter : status.meters) meter = n;
    for (float& control : status.controls) control = float(n);
    for (int16_t& led : status.leds) led = int16_t(n);
    status.slot = n;
    return status;
}

bool whole(const Status& status) {
    const int32_t n = status.slot;
    const Status expected = numbered(n);
    bool same = status.fontset == expected.fontset && status.indicator == expected.indicator &&
                status.bypass == expected.bypass && status.meterrefresh == expected.meterrefresh;
    for (int i = 0; i < 4; ++i) same = same && status.meters[i] == expected.meters[i];
    for (int i = 0; i < 10; ++i) same = same && status.controls[i] == expected.controls[i];
    for (int i = 0; i < 8; ++i) same = same && status.leds[i] == expected.leds[i];
    return same;
}

// The control thread's, the display's and the editor's paths at once, with a listener reading the
// status record on every notice: no torn record, and no report under ThreadSanitizer.
TEST(CorePpwr, ThreeThreadsAndTheListenerNeverSeeATornRecord) {
    BootedEffect booted;
    ASSERT_TRUE(booted.booted);
    CoreZrlg& effect = *booted.effect;
    CorePpwr* properties = booted.properties();
    std::atomic<int> torn{0}, read{0};
    NoticeLog log;
    log.onNotice = [&](const AudioUnitEvent& event) {
        if (event.id != 100102) return;
        Status status;
        uint32_t size = sizeof status;
        if (event.target->wgprp(100102, 0, 0, &status, size) != 0 || !whole(status)) ++torn;
        ++read;
    };
    CoreLswr* listener = nullptr;
    ASSERT_EQ(CoreLswr::lscrt(&NoticeLog::callback, nullptr, nullptr, nullptr, 0.001, 0.0, &listener), 0);
    for (uint32_t id : {100102u, 100105u, 100106u}) {
        const AudioUnitEvent event{3, properties, id, 0, 0};
        ASSERT_EQ(CoreLswr::auaet(listener, &log, &event), 0);
    }
    constexpr int rounds = 3000;
    std::thread control([&] {
        for (int n = 1; n <= rounds; ++n) {
            const Status status = numbered(n);
            effect.stprp(100102, 0, 0, &status, sizeof status);
            effect.prchg(100102, 0, 0);
        }
    });
    std::thread display([&] {
        for (int n = 0; n < rounds; ++n) {
            const uint8_t focus = n & 1;
            uint8_t arm[20];
            std::memset(arm, n, sizeof arm);
            effect.stprp(100105, 0, 0, &focus, 1);
            effect.prchg(100105, 0, 0);
            effect.stprp(100106, 0, 0, arm, sizeof arm);
            effect.prchg(100106, 0, 0);
        }
    });
    std::thread editor([&] {
        for (int n = 0; n < rounds; ++n) {
            const Record record{false, true, true, 0.001 * (n % 1000), true, 0.001 * (n % 1000)};
            effect.wsprp(100000 + n % 10, 0, 0, &record, sizeof record);
            Status status;
            uint32_t size = sizeof status;
            if (effect.wgprp(100102, 0, 0, &status, size) != 0 || (status.slot != 0 && !whole(status))) ++torn;
        }
    });
    control.join();
    display.join();
    editor.join();
    ASSERT_TRUE(eventually([&] { return log.count(100102) == size_t(rounds); }));
    CoreLswr::lsdsp(listener);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(read.load(), rounds);
}

// The display's ids on a running effect: a click (100100) reaches the renderer; 100104 copies the
// exported cells, at most the caller's capacity; 100107 the popup holder's records; 100108 replaces
// record 0, and loads the slot its text names only while the popup is armed.
TEST(CorePpwr, TheDisplaysIdsReachTheDisplay) {
    BootedEffect booted("<GUIRATE>5000</GUIRATE>");
    ASSERT_TRUE(booted.booted);
    CoreZrlg& effect = *booted.effect;
    CoreCtrl& control = *effect.getct();
    CoreDsif& display = *effect.getms()->getds();
    const auto within = std::chrono::seconds(20);
    // Read with the control thread held, as the chunk restore holds it.
    const auto displayState = [&](bool next) {
        control.setdu(true);
        const short state = next ? display.getns() : display.getcs();
        control.setdu(false);
        return state;
    };
    ASSERT_TRUE(eventually([&] { return displayState(false) == 0; }, within));

    // The soft key under column 12 of the menu row: KERN.
    const int32_t released[3] = {0, 0, 0};
    ASSERT_EQ(effect.wsprp(100101, 0, 0, released, sizeof released), 0);
    const CoreDspc::MESSAGELOC click{0, 0, 12, 13, 0, 0};
    ASSERT_EQ(effect.wsprp(100100, 0, 0, &click, sizeof click), 0);
    EXPECT_TRUE(eventually([&] { return displayState(false) == 5; }, within));

    control.setdu(true); // no pass changes the cells from here on
    CoreCnst::DISPLAYDATA own;
    display.newdd(&own);
    uint32_t size = 0;
    ASSERT_EQ(effect.wgprp(100104, 0, 0, nullptr, size), 0);
    EXPECT_EQ(size, uint32_t(own.total) * sizeof(double));
    // Two reads through the property and one of the display's between them: when the two agree, the
    // blink phase did not turn meanwhile.
    std::vector<double> first(size_t(own.total)), second(first.size());
    for (int attempt = 0; attempt < 3 && (attempt == 0 || first != second); ++attempt) {
        size = uint32_t(first.size() * sizeof(double));
        ASSERT_EQ(effect.wgprp(100104, 0, 0, first.data(), size), 0);
        display.flldd(&own);
        ASSERT_EQ(effect.wgprp(100104, 0, 0, second.data(), size), 0);
    }
    ASSERT_EQ(first, second);
    EXPECT_EQ(std::vector<double>(own.values, own.values + own.total), first);
    std::vector<double> part(12, -7.0);
    size = 10 * sizeof(double);
    ASSERT_EQ(effect.wgprp(100104, 0, 0, part.data(), size), 0);
    EXPECT_EQ(size, uint32_t(own.total) * sizeof(double));
    EXPECT_EQ(std::vector<double>(part.begin(), part.begin() + 10), std::vector<double>(first.begin(), first.begin() + 10));
    EXPECT_EQ(part[10], -7.0);
    CoreDsif::deldd(&own);

    // Popup records as the display's menus leave them in the effect's holder.
    CoreCnst::POPMENUCONTENTDATA& holder = *CoreDsifTestAccess::popupData(display);
    CoreDsmn::new__(3, &holder);
    const char* texts[] = {"Programs", "0 - Init", "1 - Demo"};
    {
        CoreSgrd hold(holder.lock);
        for (int i = 0; i < 3; ++i) {
            holder.items[i].parent = i == 0 ? -1 : 0;
            std::memcpy(holder.items[i].text, texts[i], std::strlen(texts[i]) + 1);
        }
    }
    std::vector<CoreCnst::POPMENUENTRY> records(4);
    size = 0;
    ASSERT_EQ(effect.wgprp(100107, 0, 0, nullptr, size), 0);
    EXPECT_EQ(size, 3 * sizeof(CoreCnst::POPMENUENTRY));
    std::memset(records.data(), 0xCC, records.size() * sizeof records[0]);
    size = 60; // the first record and a part of the second
    ASSERT_EQ(effect.wgprp(100107, 0, 0, records.data(), size), 0);
    EXPECT_EQ(std::memcmp(records.data(), holder.items, 60), 0);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(records.data())[60], 0xCC);
    size = uint32_t(records.size() * sizeof records[0]);
    ASSERT_EQ(effect.wgprp(100107, 0, 0, records.data(), size), 0);
    EXPECT_EQ(std::memcmp(records.data(), holder.items, 3 * sizeof records[0]), 0);

    control.setdu(false);

    // A choice while the popup is not armed replaces record 0 and loads nothing.
    const CoreCnst::POPMENUENTRY choice{0, "0 - Init"};
    ASSERT_EQ(effect.wsprp(100108, 0, 0, &choice, sizeof choice), 0);
    EXPECT_EQ(displayState(true), 5);
    {
        CoreSgrd hold(holder.lock);
        EXPECT_EQ(holder.items[0].parent, 0);
        EXPECT_STREQ(holder.items[0].text, "0 - Init");
    }
    CorePrcs::BEANSTRUCT none{};
    EXPECT_EQ(engine(booted)->getbi(67, &none), 1);

    // Armed: the choice loads its slot through the batch page, which leads home.
    CoreDsifTestAccess::setPages(display, 5, 5, -1, true); // under the display lock
    ASSERT_EQ(effect.wsprp(100108, 0, 0, &choice, sizeof choice), 0);
    EXPECT_TRUE(eventually([&] { return engine(booted)->getbi(67, &none) == 0; }, within));
    EXPECT_TRUE(eventually([&] { return displayState(false) == 0; }, within));
}

} // namespace
