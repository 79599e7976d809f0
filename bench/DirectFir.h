// DirectFir: the baseline of the block benchmarks, the smallest direct convolution the engine runs per
// block: a plain 512-tap FIR per channel over one 64-frame stereo block, y[n] = sum over k of h[k]
// x[n - k], with the previous 511 inputs kept in front of the block. Benchmarks only.
#pragma once
#include <cmath>
#include <vector>

struct DirectFir {
    static constexpr int frames = 64;
    static constexpr int taps = 512;
    std::vector<double> kernel = std::vector<double>(taps);
    std::vector<double> history[2];
    double output[2][frames] = {};

    DirectFir() {
        for (int k = 0; k < taps; ++k) kernel[k] = std::exp(-k / 100.0) * std::cos(0.05 * k);
        for (auto& h : history) h.assign(taps - 1 + frames, 0.0);
    }
    void block(const double* left, const double* right) {
        const double* inputs[2] = {left, right};
        for (int c = 0; c < 2; ++c) {
            double* h = history[c].data();
            for (int i = 0; i < taps - 1; ++i) h[i] = h[i + frames];
            for (int n = 0; n < frames; ++n) h[taps - 1 + n] = inputs[c][n];
            for (int n = 0; n < frames; ++n) {
                double sum = 0.0;
                const double* x = h + taps - 1 + n;
                for (int k = 0; k < taps; ++k) sum += kernel[k] * x[-k];
                output[c][n] = sum;
            }
        }
    }
};
