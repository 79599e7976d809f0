#include "plugin/CoreMbit.h"

#include "platform/gui/CBitmap.h"
#include "platform/gui/CFrame.h"
#include "platform/gui/CMovieBitmap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Bank {
    explicit Bank(int count) : frame(CRect(0, 0, 200, 200), nullptr, nullptr), bank(count, &frame) {
        for (int i = 0; i < count; ++i) bank.addel(i, 10 + i, 10 * i, 0, nullptr, &led);
    }
    int shown() {
        for (int i = 0; i < bank.getcn(); ++i)
            if (frame.isChild(bank.getct(i))) return i;
        return -1;
    }
    CFrame frame;
    CBitmap led{101};
    CoreMbit bank;
};

} // namespace

TEST(CoreMbit, ShowsTheElementTheValuePicks) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        int count;
        double value;
        int shown;
    };
    std::vector<Row> rows = {{2, 0.0, 0}, {2, 0.49, 0}, {2, 0.5, 1}, {2, 0.99, 1}, {2, 1.0, 1}, {2, 7.0, 1}};
    for (int k = 0; k < 5; ++k) {
        rows.push_back({5, k / 5.0, k});
        if (k > 0) rows.push_back({5, k / 5.0 - 1e-6, k - 1});
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.count << " elements, value " << r.value);
        Bank b(r.count);
        EXPECT_EQ(b.shown(), -1); // nothing before the first value
        EXPECT_EQ(b.frame.getNbViews(), 0);
        b.bank.setvl(r.value);
        EXPECT_EQ(b.shown(), r.shown);
        EXPECT_EQ(b.bank.getsh(), r.shown);
        EXPECT_EQ(b.frame.getNbViews(), 1);
        b.bank.setvl(nan); // ignored
        EXPECT_EQ(b.shown(), r.shown);
        EXPECT_EQ(b.bank.getvl(), r.value);
    }
}

TEST(CoreMbit, TheSameValueTwiceLeavesTheFrameUntouched) {
    Bank b(2);
    b.bank.setvl(0.7);
    b.frame.removeView(b.bank.getct(1));
    b.bank.setvl(0.7);
    EXPECT_FALSE(b.frame.isChild(b.bank.getct(1)));
    b.bank.setvl(0.2);
    EXPECT_TRUE(b.frame.isChild(b.bank.getct(0)));
    EXPECT_EQ(b.frame.getNbViews(), 1);
}

TEST(CoreMbit, OneElementCarriesTheValueAndNoneStoresIt) {
    CFrame frame(CRect(0, 0, 200, 200), nullptr, nullptr);
    CBitmap led(101);
    {
        CoreMbit one(1, &frame);
        one.addes(3, 5, 4, 6, nullptr, &led);
        ASSERT_TRUE(frame.isChild(one.getct(0)));
        EXPECT_EQ(one.getct(0)->getViewSize(), CRect(4, 6, 4 + led.getWidth(), 6 + led.getHeight() / 3));
        one.setvl(0.5);
        EXPECT_FLOAT_EQ(one.getct(0)->getValue(), 0.5f);
        EXPECT_DOUBLE_EQ(one.getvl(), 0.5);
    }
    EXPECT_EQ(frame.getNbViews(), 0); // the destructor takes its controls out of the frame
    CoreMbit none(0, &frame);
    EXPECT_DOUBLE_EQ(none.getvl(), -1.0);
    none.setvl(0.25);
    EXPECT_DOUBLE_EQ(none.getvl(), 0.25);
    EXPECT_EQ(frame.getNbViews(), 0);
}
