#include "filestore/CoreWave.h"

#include "base/CorePool.h"

#include <algorithm>
#include <cstring>

CoreWave::CoreWave(CorePool* pool, int32_t length, int16_t channels)
    : pPool(pool), iLength(std::max<int32_t>(0, length)), iChannels(std::max<int16_t>(0, channels)),
      pChannels(nullptr) {
    pChannels = new double*[iChannels > 0 ? iChannels : 1]();
    try {
        for (int16_t c = 0; c < iChannels; ++c)
            pChannels[c] = static_cast<double*>(pPool->mallc(0, iLength, "WAVE"));
    } catch (...) {
        for (int16_t c = 0; c < iChannels; ++c) pPool->free_(pChannels[c]);
        delete[] pChannels;
        throw;
    }
    reset();
}

CoreWave::~CoreWave() {
    for (int16_t c = 0; c < iChannels; ++c) pPool->free_(pChannels[c]);
    delete[] pChannels;
}

double* CoreWave::getwv(int16_t c) {
    return c >= 0 && c < iChannels ? pChannels[c] : nullptr;
}

void CoreWave::reset() {
    for (int16_t c = 0; c < iChannels; ++c) std::fill(pChannels[c], pChannels[c] + iLength, 0.0);
}

int32_t CoreWave::span(int32_t at, int32_t n, const CoreWave* from, int32_t fromAt) const {
    if (!from || at < 0 || n <= 0 || fromAt < 0 || at >= iLength || fromAt >= from->iLength) return 0;
    return std::min({n, iLength - at, from->iLength - fromAt});
}

void CoreWave::copy_(int32_t at, int32_t n, CoreWave* from, int32_t fromAt) {
    const int32_t count = span(at, n, from, fromAt);
    if (count <= 0) return;
    const int16_t shared = std::min(iChannels, from->iChannels);
    for (int16_t c = 0; c < shared; ++c)
        std::memmove(pChannels[c] + at, from->pChannels[c] + fromAt, sizeof(double) * count);
}

void CoreWave::merge(int32_t at, int32_t n, CoreWave* from, int32_t fromAt) {
    const int32_t count = span(at, n, from, fromAt);
    if (count <= 0) return;
    const int16_t shared = std::min(iChannels, from->iChannels);
    for (int16_t c = 0; c < shared; ++c) {
        double* target = pChannels[c] + at;
        const double* source = from->pChannels[c] + fromAt;
        if (from == this && at > fromAt) {
            for (int32_t i = count - 1; i >= 0; --i) target[i] += source[i]; // overlapping: back to front
        } else {
            for (int32_t i = 0; i < count; ++i) target[i] += source[i];
        }
    }
}
