// Reference signal code for the convolution tests: seeded random signals, a naive convolution to
// check the fast routines against, and the magnitudes their tolerances are stated in.
// Plain functions without state.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

inline std::vector<double> randomSignal(std::mt19937& generator, size_t n, double amplitude = 1.0) {
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<double> v(n);
    for (double& x : v) x = uniform(generator);
    return v;
}

// One signal from a generator of its own, seeded with `seed`.
inline std::vector<double> randomSignal(size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    return randomSignal(generator, n);
}

// y[n] = sum k[j] x[n-j] for n in [from, to), with x taken as zero before its start.
inline std::vector<double> naiveConvolution(const std::vector<double>& x, const std::vector<double>& k,
                                            size_t from = 0, size_t to = SIZE_MAX) {
    to = std::min(to, x.size());
    std::vector<double> y(to - from, 0.0);
    for (size_t n = from; n < to; ++n) {
        double sum = 0.0;
        for (size_t j = 0; j < k.size() && j <= n; ++j) sum += k[j] * x[n - j];
        y[n - from] = sum;
    }
    return y;
}

inline double sumOfMagnitudes(const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) sum += std::fabs(x);
    return sum;
}

inline double largestMagnitude(const std::vector<double>& v) {
    double largest = 0.0;
    for (double x : v) largest = std::max(largest, std::fabs(x));
    return largest;
}
