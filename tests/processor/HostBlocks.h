// HostBlocks: drives an engine's host entry as a host would: two (or four) channels of doubles cut
// into host blocks, in one of the three output modes, collecting the output. Tests only.
#pragma once
#include "processor/CorePrcs.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace hostblocks {

using Signal = std::vector<double>;

enum class Output { floatReplace, doubleReplace, floatAccumulate };

struct Stereo {
    Signal left, right;
    explicit Stereo(size_t n = 0, double value = 0.0) : left(n, value), right(n, value) {}
    size_t size() const { return left.size(); }
};

// Runs input through prcss in blocks of the sizes nextBlock gives (0 is a 0-frame call, which consumes
// nothing). Accumulate mode starts from `base` in every output sample. inPlace passes the same buffers
// as input and output (replace modes). sideChain adds channels 3 and 4.
inline Stereo run(CorePrcs& engine, const Stereo& input, const std::function<int32_t()>& nextBlock,
                  Output mode = Output::doubleReplace, int16_t level = 0, double base = 0.0, bool inPlace = false,
                  const Stereo* sideChain = nullptr) {
    const size_t n = input.size();
    Stereo output(n, mode == Output::floatAccumulate ? base : 0.0);
    const bool doubles = mode == Output::doubleReplace;
    const bool replacing = mode != Output::floatAccumulate;
    std::vector<float> fin[4], fout[2];
    std::vector<double> din[4], dout[2];
    size_t at = 0;
    while (at < n) {
        const int32_t frames = std::min<int32_t>(nextBlock(), static_cast<int32_t>(n - at));
        const Signal* sources[4] = {&input.left, &input.right, sideChain ? &sideChain->left : nullptr,
                                    sideChain ? &sideChain->right : nullptr};
        void* in[4] = {};
        void* out[2] = {};
        for (int c = 0; c < 4; ++c) {
            if (!sources[c]) continue;
            fin[c].assign(sources[c]->begin() + at, sources[c]->begin() + at + frames);
            din[c].assign(sources[c]->begin() + at, sources[c]->begin() + at + frames);
            in[c] = doubles ? static_cast<void*>(din[c].data()) : static_cast<void*>(fin[c].data());
        }
        Signal* targets[2] = {&output.left, &output.right};
        for (int c = 0; c < 2; ++c) {
            fout[c].assign(targets[c]->begin() + at, targets[c]->begin() + at + frames);
            dout[c].assign(targets[c]->begin() + at, targets[c]->begin() + at + frames);
            out[c] = inPlace ? in[c] : (doubles ? static_cast<void*>(dout[c].data()) : static_cast<void*>(fout[c].data()));
        }
        // Empty vectors have no storage: the entry is still called with valid pointers.
        float floatDummy[4][1] = {};
        double doubleDummy[4][1] = {};
        for (int c = 0; c < 4; ++c)
            if (sources[c] && frames == 0) in[c] = doubles ? static_cast<void*>(doubleDummy[c]) : static_cast<void*>(floatDummy[c]);
        for (int c = 0; c < 2; ++c)
            if (frames == 0) out[c] = in[c];
        engine.prcss(in, out, frames, replacing, level, 0.0, doubles, sideChain ? 4 : 2);
        for (int c = 0; c < 2; ++c)
            for (int32_t i = 0; i < frames; ++i)
                (*targets[c])[at + i] = doubles ? static_cast<double*>(out[c])[i] : static_cast<float*>(out[c])[i];
        at += static_cast<size_t>(frames);
    }
    return output;
}

inline std::function<int32_t()> fixedBlocks(int32_t frames) {
    return [frames] { return frames; };
}

} // namespace hostblocks
