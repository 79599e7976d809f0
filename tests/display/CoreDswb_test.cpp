// The write-back record over items on a booted engine's controls and over edit fields: only what the
// user changed counts, never what a load or the way back through a control made of a value.
#include "display/CoreDswb.h"

#include "RecordingHost.h"
#include "display/CoreDsgt.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

class CoreDswbTest : public BootedEngineTest {
protected:
    void SetUp() override {
        BootedEngineTest::SetUp();
        engine = booted();
    }

public:
    void turn(int32_t slot, double value) {
        CorePrcs::BEANSTRUCT b{slot, 0};
        engine->setbd(190, value, &b);
    }

    std::unique_ptr<CorePrcs> engine;
    CoreBlnk clock;
    CoreDsbf grid{&clock, 58, 14, 49, 3};
    RecordingHost host;
};

} // namespace

TEST_F(CoreDswbTest, CountsOnlyWhatTheUserChanged) {
    // Items: 0 ranged 0 .. 1 at 0.3 (a position that does not survive the way through a control),
    // 1 a list of 4 at element 1, 2 a list-first dual item; field 0 a text field. Each load is kept
    // as a page keeps it; the scene then acts and chngd of the slot is compared.
    struct Scene {
        CoreDsgt& group;
        CoreDsed& field;
        CoreDswb& record;
        CoreDswbTest& test;
        void pass() {
            group.unarm();
            group.draw_();
        }
    };
    struct Row {
        const char* name;
        int slot; // 0 .. 2 items, 10 the field
        std::function<void(Scene&)> act;
        bool changed;
    };
    const Row rows[] = {
        {"viewing", 0, [](Scene&) {}, false},
        {"control 0 leaves and comes back", 0,
         [](Scene& s) {
             s.test.turn(0, s.group.tx2ct(1));
             s.pass();
             s.test.turn(0, s.group.tx2ct(0));
             s.pass();
         },
         false},
        {"a list item moved within its element", 1,
         [](Scene& s) {
             s.test.turn(0, s.group.tx2ct(1));
             s.pass();
             s.test.turn(1, -0.2); // position 0.4: still element 1 of 4
             s.pass();
         },
         false},
        {"a move by control 1", 0, [](Scene& s) { s.test.turn(1, 0.5), s.pass(); }, true},
        {"moved back after keeping the written value", 0,
         [](Scene& s) {
             s.test.turn(1, 0.5);
             s.pass();
             s.record.keep(0, s.group.gettx(0)->getvl(), *s.group.gettx(0));
             s.test.turn(1, CoreDstx::toControl(0.3));
             s.pass();
         },
         true},
        {"a dual item switched to its number", 2,
         [](Scene& s) {
             s.test.turn(0, s.group.tx2ct(2));
             s.pass();
             s.test.turn(2, 0.5);
             s.pass();
         },
         true},
        {"a field confirmed with its own text", 10,
         [](Scene& s) {
             s.field.ishre(20, 8);
             s.field.setar(true);
             s.field.updte("name\r");
             s.field.ischg();
         },
         false},
        {"a field confirmed with another text", 10,
         [](Scene& s) {
             s.field.ishre(20, 8);
             s.field.setar(true);
             s.field.updte("other\r");
             s.field.ischg();
         },
         true},
        {"a slot never kept", 5, [](Scene&) {}, true},
        {"reset forgets", 0, [](Scene& s) { s.record.reset(); }, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CoreDsgt group(&grid, engine.get(), &host);
        group.reset(3, true, true, 1);
        for (short i = 0; i < 3; ++i) group.gettx(i)->defne(0, 0, static_cast<short>(2 + i), 8, "", false, -1);
        const CoreAnsx list[] = {"A", "B", "C", "D"};
        group.gettx(0)->setrg(0.0, 1.0, 0.3);
        group.gettx(1)->setel(4, list, 1);
        group.gettx(2)->setel(4, list, 0.0, 10.0, true, 2, 4.0);
        CoreDsed field(&grid);
        field.defne(0, 1, 20, 8, 10, true, CoreDsed::iCtext);
        field.setvs("name");
        CoreDswb record;
        for (short i = 0; i < 3; ++i) {
            group.gettx(i)->setun();
            record.keep(i, group.gettx(i)->getvl(), *group.gettx(i));
        }
        record.keep(10, CoreAnsx("name"), field);
        Scene scene{group, field, record, *this};
        scene.pass();
        r.act(scene);
        const bool changed = r.slot == 10 ? record.chngd(r.slot, field) : record.chngd(r.slot, *group.gettx(r.slot % 3));
        EXPECT_EQ(changed, r.changed);
    }
    CoreDswb record; // the raw values kept for a group's unchanged members
    CoreDsed field(&grid);
    record.keep(3, 0.75, field);
    record.keep(4, CoreAnsx("MIX1"), field);
    EXPECT_EQ(record.rawnm(3), 0.75);
    EXPECT_STREQ(record.rawtx(4).c_str(), "MIX1");
    EXPECT_EQ(record.rawnm(9), 0.0);
}
