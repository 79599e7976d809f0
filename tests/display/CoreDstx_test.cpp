// Text items and the selector group on a booted engine's front-panel controls: the position, element
// and item conversions, value formatting, change reports, drags, dual items, the calls a session
// makes, and degenerate or non-finite bounds and values.
#include "display/CoreDstx.h"

#include "BeanLog.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "display/CoreDsgt.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class CoreDstxTest : public BootedEngineTest {
protected:
    void SetUp() override {
        BootedEngineTest::SetUp();
        engine = booted();
    }
    double control(int32_t slot) {
        CorePrcs::BEANSTRUCT b{slot, 0};
        return engine->getbd(188, &b);
    }
    void turn(int32_t slot, double value) {
        CorePrcs::BEANSTRUCT b{slot, 0};
        engine->setbd(190, value, &b);
    }
    std::string cells(int y, int from, int count) const {
        std::string text;
        for (int x = from; x < from + count; ++x) text += grid.cell(x, y)->getch();
        return text;
    }
    std::vector<CoreAnsx> texts(int n) const {
        std::vector<CoreAnsx> list;
        for (int i = 0; i < n; ++i) list.push_back(CoreAnsx(("E" + std::to_string(i)).c_str()));
        return list;
    }

    std::unique_ptr<CorePrcs> engine;
    CoreBlnk clock;
    CoreDsbf grid{&clock, 58, 14, 49, 3};
    RecordingHost host;
};

} // namespace

TEST_F(CoreDstxTest, ConvertsPositionsElementsAndItems) {
    struct Conversion {
        double position, control;
    };
    const Conversion conversions[] = {
        {0.0, -1.0}, {1e-310, -1.0}, {0.5, 0.0}, {1.0, 1.0}, {0.25, -0.5}, {2.0, 1.0}, {-1.0, -1.0}, {kNan, -1.0},
    };
    for (const Conversion& c : conversions) EXPECT_EQ(CoreDstx::toControl(c.position), c.control) << c.position;
    const Conversion back[] = {{0.0, -1.0}, {0.5, 0.0}, {1.0, 1.0}, {1.0, 3.0}, {0.0, kNan}, {0.75, 0.5}};
    for (const Conversion& c : back) EXPECT_EQ(CoreDstx::toPosition(c.control), c.position) << c.control;

    // Element k of n: value (k + 0.5) / n, sent to the bound control; the control's ends pick the
    // first and the last element. 4 elements: element 2 is 0.625, sent as 0.25.
    struct ElementRow {
        int n, k;
        double value, sent;
        int atMinusOne, atPlusOne;
    };
    const ElementRow elements[] = {
        {1, 0, 0.5, 0.0, 0, 0},      {4, 2, 0.625, 0.25, 0, 3},     {4, 7, 0.875, 0.75, 0, 3},
        {4, -1, 0.125, -0.75, 0, 3}, {33, 32, 32.5 / 33, 2 * 32.5 / 33 - 1, 0, 32},
    };
    for (const ElementRow& r : elements) {
        SCOPED_TRACE(std::to_string(r.n) + " elements, k " + std::to_string(r.k));
        CoreDstx item(&grid, engine.get(), &host);
        item.defne(0, 0, 1, 8, "", false, -1);
        item.setmx(1, false);
        const std::vector<CoreAnsx> list = texts(r.n);
        item.setel(r.n, list.data(), r.k);
        EXPECT_DOUBLE_EQ(item.getvl(), r.value);
        EXPECT_DOUBLE_EQ(control(1), r.sent);
        for (const auto& [end, expected] : {std::pair{-1.0, r.atMinusOne}, std::pair{1.0, r.atPlusOne}}) {
            turn(1, end);
            item.updte();
            EXPECT_EQ(item.getel(), expected) << "control " << end;
        }
    }

    // Control 0 and the items: -1 the first, the top end the last, beyond limited to the group.
    struct ItemRow {
        short n;
        double control;
        short item;
    };
    const ItemRow items[] = {
        {1, -1, 0}, {1, 0, 0}, {1, 1, 0}, {3, -1, 0}, {3, 0, 1}, {3, 1, 2}, {3, 5, 2}, {3, -5, 0}, {3, kNan, 0},
        {27, -1, 0}, {27, 0, 13}, {27, 1, 26}, {27, 1.5, 26}, {0, 0, -1},
    };
    for (const ItemRow& r : items) {
        CoreDsgt group(&grid, engine.get(), &host);
        group.reset(r.n, true, true, 1);
        EXPECT_EQ(group.ct2tx(r.control), r.item) << r.n << " items at " << r.control;
        for (short i = 0; i < r.n; ++i) EXPECT_EQ(group.ct2tx(group.tx2ct(i)), i);
    }
}

TEST_F(CoreDstxTest, FormatsValuesAndTexts) {
    struct Row {
        const char* name;
        short decimals;
        bool whole;
        double value; // NaN: a list item showing element 1 of "ab", "long text"
        const char* unit;
        short width;
        const char* cells; // columns 3 .. 18: width + unit written, the rest untouched
    };
    const Row rows[] = {
        {"automatic", -1, false, 2.5, " ms", 8, "2.50000 ms ~~~~~"},
        {"whole-number display", -1, true, 2.5, " ms", 8, "3 ms       ~~~~~"},
        {"zero", -1, false, 0.0, "", 6, "0     ~~~~~~~~~~"},
        {"0.3 with 0 decimals", 0, false, 0.3, " dB", 4, "0 dB   ~~~~~~~~~"},
        {"cut to the width", 2, false, 12345.678, " Hz", 5, "12345 Hz~~~~~~~~"},
        {"list text cut and padded", -1, false, kNan, " x", 4, "long x~~~~~~~~~~"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        grid.write(CoreAnsx("~~~~~~~~~~~~~~~~~~~~"), 0, 4, 0, false, false);
        CoreDstx item(&grid, engine.get(), &host);
        item.defne(0, 3, 4, r.width, r.unit, r.whole, r.decimals);
        if (std::isnan(r.value)) {
            const CoreAnsx list[] = {"ab", "long text"};
            item.setel(2, list, 1);
        } else {
            item.setrg(-10000.0, 100000.0, r.value);
        }
        item.draw_(-1);
        EXPECT_EQ(cells(4, 3, 16), r.cells);
    }
}

TEST_F(CoreDstxTest, ReportsControlMovesDragsAndDualParts) {
    CoreDsgt group(&grid, engine.get(), &host);
    group.reset(3, true, true, 1);
    group.gettx(0)->defne(0, 0, 2, 8, "", false, -1);
    group.gettx(0)->setrg(0.0, 10.0, 5.0);
    group.gettx(0)->setun();
    group.gettx(1)->defne(0, 0, 3, 8, "", false, -1);
    group.gettx(1)->setrg(0.0, 1.0, 0.25);
    group.gettx(1)->setun();
    const std::vector<CoreAnsx> list = texts(3);
    group.gettx(2)->defne(0, 0, 4, 8, "", false, -1);
    group.gettx(2)->setel(3, list.data(), 0.0, 100.0, true, 1, 40.0);
    group.gettx(2)->setun();
    group.unarm();
    group.draw_();
    EXPECT_EQ(group.getcr(), 0);
    EXPECT_DOUBLE_EQ(control(1), 0.0); // item 0's position, 5 of 0 .. 10
    EXPECT_FALSE(group.gettx(0)->ischg()) << "setrg with setun is no change";

    turn(1, 0.5); // one move: one report
    group.draw_();
    EXPECT_TRUE(group.gettx(0)->ischg());
    EXPECT_DOUBLE_EQ(group.gettx(0)->getvl(), 7.5);
    group.draw_();
    EXPECT_FALSE(group.gettx(0)->ischg());

    // A held click 10 px higher adds 0.12, sent to control 1 on every pass until unarm.
    host.pointer = {100, 200, true};
    group.focus(2, 2, true);
    host.pointer = {100, 190, true};
    group.draw_();
    EXPECT_NEAR(group.gettx(0)->getps(), 0.87, 1e-12);
    EXPECT_NEAR(control(1), 2 * 0.87 - 1, 1e-12);
    turn(1, -1.0); // while dragging the drag is sent again, whatever the control holds
    group.draw_();
    EXPECT_NEAR(control(1), 2 * 0.87 - 1, 1e-12);
    group.unarm();
    turn(1, -1.0);
    group.draw_();
    EXPECT_DOUBLE_EQ(group.gettx(0)->getps(), 0.0);

    // The list-first dual item: the choice until control 2 moves it to its number.
    turn(0, group.tx2ct(2));
    group.draw_();
    EXPECT_EQ(group.getcr(), 2);
    EXPECT_FALSE(group.gettx(2)->isrng());
    EXPECT_FALSE(group.gettx(2)->ischg());
    turn(2, 0.0);
    group.draw_();
    EXPECT_TRUE(group.gettx(2)->isrng());
    EXPECT_TRUE(group.gettx(2)->ischg());
    EXPECT_DOUBLE_EQ(group.gettx(2)->getvl(), 50.0);
}

TEST_F(CoreDstxTest, SessionCallsGolden) {
    BeanLog log(*engine);
    const auto mark = [&log](const std::string& what) { log.lines.push_back("-- " + what); };
    CoreDsgt group(&grid, engine.get(), &host);
    mark("reset(3, true, true, 1)");
    group.reset(3, true, true, 1);
    const char* units[] = {" ms", "", " dB"};
    for (short i = 0; i < 3; ++i) group.gettx(i)->defne(0, 2, static_cast<short>(2 + i), 8, units[i], false, 2);
    group.gettx(0)->setrg(0.0, 10.0, 5.0);
    const std::vector<CoreAnsx> list = texts(4);
    group.gettx(1)->setel(4, list.data(), 2);
    group.gettx(2)->setrg(-12.0, 12.0, 3.0);
    for (short i = 0; i < 3; ++i) group.gettx(i)->setun();
    std::vector<std::string> readBack;
    for (double walk : {-1.0, 0.0, 1.0, -1.0}) {
        mark("control 0 at " + std::string(CoreAnsx(walk).c_str()));
        turn(0, walk);
        group.unarm();
        group.draw_();
        readBack.push_back("control 0 " + std::string(CoreAnsx(walk).c_str()) + ": item " +
                           std::to_string(group.getcr()) + ", bean 188 of control 1 " + CoreAnsx(control(1)).c_str());
    }
    EXPECT_DOUBLE_EQ(control(1), 0.0); // item 0 again: what it sent
    mark("reset(0, false, false, -1)");
    group.reset(0, false, false, -1);
    group.draw_();
    GoldenScreen screen("CoreDsgt session: reset(3, true, true, 1), control 0 walks, reset(0, false, false, -1)");
    screen.section("read back", readBack).section("calls", log.lines);
    EXPECT_TRUE(screen.matches(grid, "dsgt_session.txt"));
    EXPECT_TRUE(log.sane);
}

TEST_F(CoreDstxTest, DegenerateAndNonFiniteInputsStayFinite) {
    BeanLog log(*engine);
    struct Row {
        const char* name;
        double lower, upper, value;
        double expected;
    };
    const Row rows[] = {
        {"bounds 0 .. 0", 0, 0, 0, 0},        {"NaN lower", kNan, 1, 0.5, 0},   {"infinite upper", 0, kInf, 3, 0},
        {"NaN value", 2, 4, kNan, 2},         {"infinite value", 2, 4, -kInf, 2}, {"value outside widens", 0, 1, 5, 5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CoreDsgt group(&grid, engine.get(), &host);
        group.reset(1, true, true, 1);
        CoreDstx& item = *group.gettx(0);
        item.defne(0, 0, 6, 8, "", false, -1);
        item.setrg(r.lower, r.upper, r.value);
        item.setun();
        group.unarm();
        group.draw_();
        EXPECT_DOUBLE_EQ(item.getvl(), r.expected);
        turn(1, 0.3);
        group.draw_();
        const bool degenerate = !(std::isfinite(r.lower) && std::isfinite(r.upper) && r.lower != r.upper);
        EXPECT_EQ(item.ischg(), !degenerate) << "a degenerate item reports no change";
        item.setvl(kNan);
        EXPECT_TRUE(std::isfinite(item.getvl()));
    }
    // setel outside the list, on a plain and a dual item.
    for (int k : {-1, 3}) {
        CoreDsgt group(&grid, engine.get(), &host);
        group.reset(2, true, true, 1);
        const std::vector<CoreAnsx> list = texts(3);
        group.gettx(0)->defne(0, 0, 7, 8, "", false, -1);
        group.gettx(0)->setmx(1, false);
        group.gettx(0)->setel(3, list.data(), k);
        group.gettx(1)->defne(0, 0, 8, 8, "", false, -1);
        group.gettx(1)->setel(3, list.data(), kNan, kInf, false, k, kNan);
        turn(0, group.tx2ct(1));
        group.draw_();
        EXPECT_EQ(group.gettx(0)->getel(), k < 0 ? 0 : 2);
    }
    EXPECT_TRUE(log.sane) << "a non-finite value or a control value outside -1 .. +1 reached the engine";

    CoreDsgt group(&grid, engine.get(), &host);
    group.reset(2, false, false, -1);
    EXPECT_EQ(group.gettx(2), nullptr);
    group.clear();
    EXPECT_EQ(group.gettx(0), nullptr);
    EXPECT_EQ(group.getcn(), 2);
    group.draw_(); // no items: nothing selected, nothing drawn
}
