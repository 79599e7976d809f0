#include "convolution/CoreCnvl.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "tests/common/CountingAllocator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

const CoreCnvl::VALIDSTRUCT noBridge{true, false, false};

struct LogFolder {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("cnvl-hardening-" + std::to_string(getpid()));
    LogFolder() {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
        CoreLog_::setdb(2, false);
    }
    ~LogFolder() {
        CoreLog_::setdb(0, false);
        CoreLog_::setpt(CoreAnsx(""));
        std::filesystem::remove_all(folder);
    }
    std::string text() const {
        std::ifstream file(folder / CoreLog_::getfn().c_str());
        std::stringstream all;
        all << file.rdbuf();
        return all.str();
    }
};

} // namespace

TEST(CoreCnvlHardening, LeftoverSamplesAreCountedOnTheBlockPathAndLoggedAtTheNextPlan) {
    struct Row {
        short mode;
        int first; // the FFT size of mode 9
        int count; // samples per call: odd for two-sample steps, below the block of 64 otherwise
    };
    const Row rows[] = {{2, 0, 63}, {5, 0, 127}, {9, 128, 40}, {10, 0, 63}, {11, 0, 1}};
    const int block = 64, kernelLength = 256, calls = 1000;
    std::vector<double> kernel(1024, 0.0), in(128, 0.25), fade(128, 1.0);
    std::vector<double> mixL(128), mixR(128), dryL(128), dryR(128), convL(128), convR(128), work(256);
    kernel[0] = 1.0;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode);
        LogFolder log;
        CorePool pool;
        CoreCnvl convolver(&pool, "partial", 0, nullptr, noBridge);
        convolver.set__(r.mode, block, kernelLength, r.first, block, kernelLength);
        ASSERT_EQ(convolver.selectedMode(), r.mode);
        ASSERT_TRUE(convolver.plan_());
        const std::string logBefore = log.text();
        const long heapBefore = heapAllocations.load();
        for (int i = 0; i < calls; ++i) {
            long fadeIndex = 0;
            if (i % 2 == 0)
                convolver.cnvsy(true, in.data(), in.data(), mixL.data(), mixR.data(), kernel.data(),
                                kernel.data(), dryL.data(), dryR.data(), convL.data(), convR.data(),
                                fade.data(), fadeIndex, r.count, nullptr, nullptr);
            else
                convolver.vltry(true, true, in.data(), in.data(), mixL.data(), mixR.data(), kernel.data(),
                                kernel.data(), work.data(), work.data() + 128, convL.data(), convR.data(),
                                r.count, nullptr, nullptr);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(convolver.partialSteps(), calls);
        EXPECT_EQ(log.text(), logBefore);
        EXPECT_EQ(convL[r.count - 1], 0.0);

        convolver.delpl();
        EXPECT_NE(log.text().find("player partial: 1000 blocks"), std::string::npos) << log.text();
        EXPECT_EQ(convolver.partialSteps(), 0);
    }
}

TEST(CoreCnvlHardening, PlanningAGroupConvolverAgainLeavesThePoolAsItWas) {
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
