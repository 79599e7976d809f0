// CoreWvfw: streams an IEEE-float WAV file to disk piece by piece; after every
// piece the file on disk is a complete WAV file describing the samples written
// so far (a render cut short by a crash stays readable). Owned by its creator;
// not thread-safe. Never throws: a failed create, seek or write sets the failed
// flag, after which nothing more is written.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>
#include <cstdio>

class CorePool;

class CoreWvfw {
public:
    // Creates name (resolved so that an existing file of any case is the one
    // replaced) and writes the header with data size 0. Channels from 1 to the
    // count whose frame fits 1,024 bytes; any other count creates nothing and
    // sets the failed flag.
    CoreWvfw(CorePool* pool, CoreAnsx name, int16_t channels, int32_t rate, bool double64);
    ~CoreWvfw();
    CoreWvfw(const CoreWvfw&) = delete;
    CoreWvfw& operator=(const CoreWvfw&) = delete;

    // Appends frames (first channel from left, second from right; further
    // channels silent, a null array silent), converted piece by piece into whole
    // frames of at most 1,024 bytes.
    void setdt(int32_t frames, const double* left, const double* right);
    void setdt(int32_t frames, const float* left, const float* right);
    // Appends the first bytes of the staging block, then rewrites the header to
    // include them.
    void write(int32_t bytes);
    void updhd();                          // rewrites the header with the current sizes
    bool getfl() const { return bFailed; } // true once any create, seek or write failed

    // Whole files in one call; false when any step failed.
    static bool wfile(CorePool* pool, CoreAnsx name, const double* samples, int32_t frames, bool double64);
    static bool exprt(CorePool* pool, CoreAnsx name, int16_t channels, int32_t rate, int32_t frames,
                      const double* left, const double* right, bool double64);

private:
    CoreAnsx sName;
    CorePool* pPool;
    char* pHeader; // 44 bytes, "WVFW"
    char* pStage;  // one piece, "WVFW"
    std::FILE* pFile;
    bool bCreated;
    bool bFailed;
    int16_t iChannels;
    int16_t iBytes;
    int64_t iData; // sample bytes written so far
    int32_t iRate;
    bool bDouble;

    template <typename Sample>
    void stage(int32_t frames, const Sample* left, const Sample* right);
    void finsh(); // closes the file; a failed close counts as a failed write
};
