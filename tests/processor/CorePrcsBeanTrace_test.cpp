// The bean trace: every setter and the action call report once, before they act, with the fields of
// the index record their case reads; getters report nothing, and an unset trace is never called.
#include "processor/CorePrcs.h"

#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

class CorePrcsBeanTrace : public BootedEngineTest {};

std::string describe(const CorePrcs::BEANCALL& c) {
    return std::string(c.function) + " " + std::to_string(c.id) + " uses " + std::to_string(c.uses) + " [" +
           std::to_string(c.index) + "," + std::to_string(c.subindex) + "] " + CoreAnsx(c.value).c_str() + " \"" +
           c.text.c_str() + "\"";
}

} // namespace

TEST_F(CorePrcsBeanTrace, SettersAndActionsReportBeforeActing) {
    auto e = booted();
    using Call = std::function<void(CorePrcs&, CorePrcs::BEANSTRUCT*)>;
    struct Row {
        Call call;
        std::string report; // empty: nothing reported
    };
    std::vector<std::string> reports;
    double seenControl = 99;
    CorePrcs* engine = e.get();
    e->setBeanTrace([&](const CorePrcs::BEANCALL& c) {
        reports.push_back(describe(c));
        CorePrcs::BEANSTRUCT control{1, 0};
        seenControl = engine->getbd(188, &control); // what the engine held when the call reported
    });
    const Row rows[] = {
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT* b) { x.setbb(187, true, b); }, "setbb 187 uses 1 [1,0] 1 \"\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT*) { x.setbh(32, 2, nullptr); }, "setbh 32 uses 0 [0,0] 2 \"\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT* b) { x.setbi(245, -1, b); }, "setbi 245 uses 2 [1,7] -1 \"\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT*) { x.setbl(7, 500, nullptr); }, "setbl 7 uses 0 [0,0] 500 \"\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT* b) { x.setbd(190, 0.5, b); }, "setbd 190 uses 1 [1,0] 0.5 \"\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT* b) { x.setbs(198, "Name", b); }, "setbs 198 uses 1 [1,0] 0 \"Name\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT* b) { x.setbv(205, b); }, "setbv 205 uses 2 [1,7] 0 \"\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT*) { x.setbv(999, nullptr); }, "setbv 999 uses 0 [0,0] 0 \"\""},
        {[](CorePrcs& x, CorePrcs::BEANSTRUCT* b) { x.getbd(188, b), x.getbs(198, b), x.getbb(196, b); }, ""},
    };
    for (const Row& r : rows) {
        CorePrcs::BEANSTRUCT b{1, 7};
        reports.clear();
        CorePrcs::BEANSTRUCT control{1, 0};
        e->setbd(190, -0.25, &control);
        reports.clear();
        r.call(*e, &b);
        if (r.report.empty()) {
            EXPECT_TRUE(reports.empty());
        } else {
            EXPECT_EQ(reports, std::vector<std::string>{r.report});
        }
    }
    // The control setter reported while the control still held its old value.
    CorePrcs::BEANSTRUCT control{1, 0};
    e->setbd(190, -0.25, &control);
    e->setbd(190, 0.75, &control);
    EXPECT_DOUBLE_EQ(seenControl, -0.25);
    EXPECT_DOUBLE_EQ(e->getbd(188, &control), 0.75);

    e->setBeanTrace(nullptr);
    reports.clear();
    e->setbd(190, 0.1, &control);
    e->setbv(195, &control);
    EXPECT_TRUE(reports.empty());
}
