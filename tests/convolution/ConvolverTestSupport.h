// Shared by the convolution tests: stereo test signals, the calls that push them through a
// convolver, the log captured in a folder of its own, and the stand-in bridge opened with its own
// controls. Plain helpers; each test owns what it makes.
#pragma once
#include "base/CoreLog_.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreCubr.h"
#include "platform/DlLayer.h"
#include "tests/common/SignalReference.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

using Signal = std::vector<double>;

struct Stereo {
    Signal left, right;
};

inline Stereo randomStereo(std::mt19937& generator, size_t n) {
    return {randomSignal(generator, n), randomSignal(generator, n)};
}

// Noise decaying from 1 to about 1e-3 over its length, like a room's response.
inline Signal decayingKernel(std::mt19937& generator, int n) {
    Signal k = randomSignal(generator, n);
    for (int j = 0; j < n; ++j) k[j] *= std::exp(-7.0 * j / n);
    return k;
}

inline double largestDifference(const Signal& a, const Signal& b, size_t from = 0) {
    double largest = 0.0;
    for (size_t i = from; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::fabs(a[i] - b[i]));
    return largest;
}

// cnvsy in replace mode with a fade of 1 over `count` samples of x from `at` on: the convolution
// of both channels (the mix and dry outputs are dropped).
inline Stereo convolveDirect(CoreCnvl& convolver, const Stereo& x, const Signal& kernelL,
                             const Signal& kernelR, size_t at = 0, int count = -1) {
    const size_t n = count < 0 ? x.left.size() - at : size_t(count);
    Stereo out{Signal(n), Signal(n)};
    Signal mixL(n), mixR(n), dryL(n), dryR(n), fade(n + 2, 1.0);
    long fadeIndex = 0;
    convolver.cnvsy(true, const_cast<double*>(&x.left[at]), const_cast<double*>(&x.right[at]), mixL.data(),
                    mixR.data(), const_cast<double*>(kernelL.data()), const_cast<double*>(kernelR.data()),
                    dryL.data(), dryR.data(), out.left.data(), out.right.data(), fade.data(), fadeIndex,
                    int(n), nullptr, nullptr);
    return out;
}

// `blocks` routine calls through cnvlc from block `from` of x on; the outputs of those blocks.
inline Stereo runBlocks(CoreCnvl& convolver, const Stereo& x, const Signal& kernelL, const Signal& kernelR,
                        int block, int from, int blocks) {
    Stereo out{Signal(size_t(blocks) * block), Signal(size_t(blocks) * block)};
    for (int b = 0; b < blocks; ++b) {
        const size_t at = size_t(from + b) * block;
        convolver.cnvlc(const_cast<double*>(&x.left[at]), const_cast<double*>(&x.right[at]),
                        &out.left[size_t(b) * block], &out.right[size_t(b) * block],
                        const_cast<double*>(kernelL.data()), const_cast<double*>(kernelR.data()), nullptr,
                        nullptr);
    }
    return out;
}

// A convolver selected for a block mode with partition = block, as the processor asks for it (first:
// mode 9's FFT size); the bridge decides whether the GPU rows count as usable.
inline std::unique_ptr<CoreCnvl> blockConvolver(CorePool& pool, short mode, int block, int kernelLength,
                                                bool* changed, CoreCubr* bridge = nullptr, int first = 0) {
    auto convolver = std::make_unique<CoreCnvl>(&pool, CoreAnsx("block"), 0, bridge,
                                                CoreCnvl::VALIDSTRUCT{true, false, bridge != nullptr});
    convolver->set__(mode, block, kernelLength, first, block, kernelLength);
    convolver->setup(changed);
    return convolver;
}

// The log of one test, written at the given level into a folder of its own; the previous folder and
// level come back at scope end.
class LogCapture {
public:
    explicit LogCapture(int16_t level)
        : folder("convolution-log"), oldFolder(CoreLog_::getpt()), oldLevel(CoreLog_::getdb()) {
        CoreLog_::setpt(CoreAnsx(folder.withSeparator().c_str()));
        CoreLog_::setdb(level, false);
    }
    ~LogCapture() {
        CoreLog_::setdb(oldLevel, false);
        CoreLog_::setpt(oldFolder);
    }
    std::string text() const { return readBytes(folder.path / CoreLog_::getfn().c_str()); }
    bool holds(const std::string& piece) const { return text().find(piece) != std::string::npos; }

private:
    TempFolder folder;
    CoreAnsx oldFolder;
    int16_t oldLevel;
};

// A loader opened on a stand-in library, and that library's own controls (standin_fail,
// standin_count), read through a reference of our own.
struct StandinBridge {
    CoreCubr bridge;
    void* library;
    explicit StandinBridge(const char* path) {
        CoreCubr::setfn(CoreAnsx(path), CoreAnsx(path));
        EXPECT_TRUE(bridge.start());
        library = dlLayerOpen(path);
    }
    ~StandinBridge() {
        bridge.stop_();
        if (library) dlLayerClose(library);
    }
    int32_t control(const char* name, int32_t value) const {
        auto function = reinterpret_cast<int32_t (*)(int32_t)>(dlLayerSymbol(library, name));
        return function ? function(value) : -1;
    }
};
