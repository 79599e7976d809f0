// CoreWave: a block of N channels x L double samples from the pool,
// zero-filled; the working buffer of the sampling toolkit and the render tools.
// Owned by its creator; not thread-safe.
#pragma once
#include <cstdint>

class CorePool;

class CoreWave {
public:
    // A negative length or channel count counts as 0.
    CoreWave(CorePool* pool, int32_t length, int16_t channels);
    ~CoreWave();
    CoreWave(const CoreWave&) = delete;
    CoreWave& operator=(const CoreWave&) = delete;

    double** getwv() { return pChannels; }
    double* getwv(int16_t c); // null unless 0 <= c < getch()
    int32_t getdm() const { return iLength; }
    int16_t getch() const { return iChannels; }
    void reset();
    // For every channel that both buffers have, copies (or adds) from's samples
    // fromAt ... into this one at at ...: as many as n allows and both lengths
    // hold. Negative positions or counts, and channels the source lacks, are left
    // alone.
    void copy_(int32_t at, int32_t n, CoreWave* from, int32_t fromAt);
    void merge(int32_t at, int32_t n, CoreWave* from, int32_t fromAt);

private:
    CorePool* pPool;
    int32_t iLength;
    int16_t iChannels;
    double** pChannels;

    int32_t span(int32_t at, int32_t n, const CoreWave* from, int32_t fromAt) const;
};
