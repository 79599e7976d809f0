// CoreWvfw: streams an IEEE-float WAV file piece by piece into a temporary file beside the target,
// complete after every piece; finsh renames it over the target, so the target is the old file or the
// whole new one, never a part. Owned by its creator; not thread-safe. Never throws: a failed create,
// seek or write sets the failed flag, after which nothing more is written.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>
#include <cstdio>
#include <string>

class CorePool;

class CoreWvfw {
public:
    // Creates the temporary file for name (resolved so that an existing file of
    // any case is the one replaced; with exact, a path a user typed, taken as it
    // is) and writes the header with data size 0.
    // Channels from 1 to the count whose frame fits 1,024 bytes; any other count
    // creates nothing and sets the failed flag.
    CoreWvfw(CorePool* pool, CoreAnsx name, int16_t channels, int32_t rate, bool double64, bool exact = false);
    // A writer destroyed before finsh was abandoned: its temporary file is
    // removed and the target keeps what it held.
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
    const std::string& failure() const { return sFailure; } // why, once failed (may be empty)
    // Completes the file: rewrites the header, flushes the file to disk and
    // renames it over the target. False when this or an earlier step failed;
    // the temporary is then removed and the target left as it was. Later
    // calls, and writes after it, do nothing.
    bool finsh();

    // Whole files in one call; false when any step failed.
    static bool wfile(CorePool* pool, CoreAnsx name, const double* samples, int32_t frames, bool double64);
    static bool exprt(CorePool* pool, CoreAnsx name, int16_t channels, int32_t rate, int32_t frames,
                      const double* left, const double* right, bool double64);

private:
    CoreAnsx sName;
    std::string sTarget;    // name, resolved
    std::string sTemporary; // the file written until finsh
    CorePool* pPool;
    char* pHeader; // 44 bytes, "WVFW"
    char* pStage;  // one piece, "WVFW"
    std::FILE* pFile;
    bool bCreated;
    bool bFailed;
    bool bStream; // a pipe or socket written in place: the header is written once
    std::string sFailure;
    int16_t iChannels;
    int16_t iBytes;
    int64_t iData; // sample bytes written so far
    int32_t iRate;
    bool bDouble;

    void fail(const std::string& reason);
    void failWrite(const char* what); // a failed write or seek, errno saying why
    template <typename Sample>
    void stage(int32_t frames, const Sample* left, const Sample* right);
};
