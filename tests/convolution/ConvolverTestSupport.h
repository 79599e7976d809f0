// Shared by the convolution tests: stereo test signals, the values of an element, the calls that push
// signals through a convolver, and the stand-in bridge opened with its own controls. Plain helpers;
// each test owns what it makes.
#pragma once
#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreCubr.h"
#include "platform/DlLayer.h"
#include "tests/common/LogCapture.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <memory>

using Signal = std::vector<double>;

struct Stereo {
    Signal left, right;
};

// The first n values of an element of doubles.
inline Signal valuesOf(const void* element, int n) {
    return Signal(static_cast<const double*>(element), static_cast<const double*>(element) + n);
}

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

inline bool logHolds(const LogCapture& log, const std::string& piece) {
    return log.text().find(piece) != std::string::npos;
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

// A convolver selected for a mode with partition = block, as the processor asks for it (first: mode
// 9's FFT size), planned; the bridge decides whether the GPU rows count as usable.
inline std::unique_ptr<CoreCnvl> blockConvolver(CorePool& pool, short mode, int block, int kernelLength,
                                                bool* changed, CoreCubr* bridge = nullptr, int first = 0) {
    auto convolver = std::make_unique<CoreCnvl>(&pool, CoreAnsx("block"), 0, bridge,
                                                CoreCnvl::VALIDSTRUCT{true, false, bridge != nullptr});
    convolver->set__(mode, block, kernelLength, first, block, kernelLength);
    convolver->setup(changed);
    EXPECT_TRUE(convolver->plan_()) << "mode " << mode;
    return convolver;
}

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
