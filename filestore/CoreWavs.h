// CoreWavs: a whole IEEE-float WAV file (44-byte header, then interleaved 32-
// or 64-bit samples) built in one pool block, to be put into a file-store item
// (wrtmm) or written at once (write). Owned by its creator; not thread-safe.
// Also holds the header layout shared with CoreWvfw.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>

class CorePool;

class CoreWavs {
public:
    static constexpr int iCheadersize = 44;   // "RIFF" ... "data" and its size
    static constexpr int iCframelimit = 1024; // bytes in one frame at most
    // The RIFF size field is a uint32 holding data size + 36.
    static constexpr int64_t iCdatalimit = 0xFFFFFFFFLL - 36;

    // Throws a CoreAnsx when channels is below 1 or its frame passes 1,024 bytes
    // (256 channels of float, 128 of double), or the file would pass the 4 GiB
    // limit. The data starts zero-filled; a negative frame count counts as 0.
    CoreWavs(CorePool* pool, int16_t channels, int32_t rate, int32_t frames, bool double64);
    ~CoreWavs();
    CoreWavs(const CoreWavs&) = delete;
    CoreWavs& operator=(const CoreWavs&) = delete;

    // Stores frames at the write offset (left: first channel, right: second
    // channel when there is one; further channels stay silent, a null array is
    // silence) until the data block is full. Returns the frames stored.
    int32_t setdt(int32_t frames, const double* left, const double* right);
    int64_t getmd() const { return iCheadersize + iData; } // size of the whole file image
    void wrtmm(char* out) const;                           // copies getmd() bytes
    // Replaces the file through the file store's whole-file writer; an existing
    // file stays whole unless true is returned.
    bool write(CoreAnsx name);

    // Fills the 44 header bytes for dataBytes of samples (dataBytes <=
    // iCdatalimit).
    static void sethd(char* header, int16_t channels, int32_t rate, bool double64, uint32_t dataBytes);

private:
    CorePool* pPool;
    char* pImage; // header, then the data block
    int64_t iData;
    int64_t iOffset; // write offset into the data, bytes
    int16_t iChannels;
    int16_t iBytes; // per sample: 4 or 8
    bool bDouble;
};
