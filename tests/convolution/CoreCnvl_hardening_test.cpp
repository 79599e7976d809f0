#include "convolution/CoreCnvl.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "tests/common/CountingAllocator.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const CoreCnvl::VALIDSTRUCT noBridge{true, false, false};

// A log of its own in the test's folder, at a level that records the convolver's lines.
class CoreCnvlHardening : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        CoreLog_::setpt(CoreAnsx((root.string() + "/").c_str()));
        CoreLog_::setdb(2, false);
    }
    void TearDown() override {
        CoreLog_::setdb(0, false);
        CoreLog_::setpt(CoreAnsx(""));
        TempFolderTest::TearDown();
    }
    std::string log() const { return readBytes(root / CoreLog_::getfn().c_str()); }
};

} // namespace

TEST_F(CoreCnvlHardening, LeftoverSamplesAreCountedOnTheBlockPathAndLoggedAtTheNextPlan) {
    struct Row {
        short mode;
        int first; // the FFT size of mode 9
        int count; // samples per call: odd for two-sample steps, below the block of 64 otherwise
    };
    const Row rows[] = {{2, 0, 63}, {5, 0, 127}, {9, 128, 40}, {10, 0, 63}, {11, 0, 1}};
    const int block = 64, kernelLength = 256, calls = 1000;
    std::vector<double> kernel(1024, 0.0), in(128, 0.25), fade(128, 1.0);
    std::vector<double> mixL(128), mixR(128), dryL(128), dryR(128), convL(128), convR(128);
    kernel[0] = 1.0;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode);
        CorePool pool;
        CoreCnvl convolver(&pool, "partial", 0, nullptr, noBridge);
        convolver.set__(r.mode, block, kernelLength, r.first, block, kernelLength);
        ASSERT_EQ(convolver.selectedMode(), r.mode);
        ASSERT_TRUE(convolver.plan_());
        const std::string logBefore = log();
        const long heapBefore = heapAllocations.load();
        for (int i = 0; i < calls; ++i) {
            long fadeIndex = 0;
            convolver.cnvsy(true, in.data(), in.data(), mixL.data(), mixR.data(), kernel.data(),
                            kernel.data(), dryL.data(), dryR.data(), convL.data(), convR.data(), fade.data(),
                            fadeIndex, r.count, nullptr, nullptr);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(convolver.partialSteps(), calls);
        EXPECT_EQ(log(), logBefore);
        EXPECT_EQ(convL[r.count - 1], 0.0);

        convolver.delpl();
        EXPECT_NE(log().find("player partial: 1000 blocks"), std::string::npos) << log();
        EXPECT_EQ(convolver.partialSteps(), 0);
    }
}

TEST_F(CoreCnvlHardening, PlanningAGroupConvolverAgainLeavesThePoolAsItWas) {
    struct Row {
        const char* role;
        short commonMode; // 0: the leader, which owns the group's buffer; 1: a member
    };
    const Row rows[] = {{"leader", 0}, {"member", 1}};
    const int block = 128, kernelLength = 256;
    std::vector<double> groupBuffer(2 * 256, 0.0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.role);
        CorePool pool;
        const int64_t baseline = pool.getma();
        {
            CoreCnvl convolver(&pool, "group", 0, nullptr, noBridge);
            convolver.set__(11, block, kernelLength, 0, block, kernelLength);
            ASSERT_TRUE(convolver.plan_());
            convolver.set_c(r.commonMode == 0 ? nullptr : groupBuffer.data(), r.commonMode, 256);
            ASSERT_TRUE(convolver.planc());
            ASSERT_TRUE(convolver.plan_());
            convolver.delpc();
            convolver.delpl();
        }
        EXPECT_EQ(pool.getma(), baseline);
    }
}
