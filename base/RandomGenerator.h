// RandomGenerator: a small pseudo-random generator (SplitMix64) that each user owns, so that a draw
// takes no lock and no two users, nor the host, share one sequence. Any seed, 0 included, starts a
// full-period sequence. Not thread-safe: one owner at a time.
#pragma once
#include <cstdint>

class RandomGenerator {
public:
    RandomGenerator() = default;
    explicit RandomGenerator(uint64_t seed) : iState(seed) {}

    uint64_t next() {
        iState += 0x9E3779B97F4A7C15u;
        uint64_t z = iState;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    // Uniform over [0, 1) in steps of 2^-53.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    uint64_t iState = 0;
};
