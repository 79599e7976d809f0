// CoreWvfr: reads the sample frames of a WAV item of a file store as doubles
// (first two channels), optionally converting the rate along a DataRtcv path.
// Every impulse response the program loads passes through it, so it checks
// every field and size of the file before it trusts it. Owned by one caller and
// used by one thread at a time (it drives its store's stream calls).
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>

class CorePool;
class CoreFsys;
class DataRtcv;
class CoreRtcv;

class CoreWvfr {
public:
    // The largest frame accepted, in bytes: one piece of the reader (16,384 float32 channels).
    static constexpr int iCbuffersize = 64 * 1024;

    // loadWhole: items are read into memory (CoreFsys::loadc) before they are
    // opened.
    CoreWvfr(CorePool* pool, CoreFsys* store, bool loadWhole);
    ~CoreWvfr();
    CoreWvfr(const CoreWvfr&) = delete;
    CoreWvfr& operator=(const CoreWvfr&) = delete;

    void set32(bool on); // 8-byte samples are rounded to single precision from now on
    // rate < 1: no conversion (the converter is deleted). rate >= 1: converted
    // towards rate from the next open_; raw is taken when the converter is
    // created and kept while it exists.
    void setfr(int32_t rate, bool raw);
    // Opens an item. A bad or missing item throws a CoreAnsx naming the item and
    // the reason (also logged) and leaves the reader closed.
    void open_(CoreAnsx name);
    // Reads and decodes up to frames output frames into left (and right for files
    // of two or more channels; a one-channel file leaves right untouched).
    // Returns the frames delivered. With a conversion path each call converts
    // what it reads as a signal of its own, so a caller that converts reads the
    // whole item in one call (imprt). Throws like open_ when the item ends early.
    int32_t getdt(int32_t frames, double* left, double* right);
    int32_t getdt(int32_t frames); // skips up to frames input frames; returns how many
    // open_, getdt of getdr(false) frames, close; returns that count.
    int32_t imprt(CoreAnsx name, double* left, double* right);
    void close();
    void clefs(); // closes and deletes the item's record from the store

    // -1 while no item is open.
    int32_t getca() const;         // channels of the file
    int32_t getrr() const;         // rate of the file
    int32_t getrt() const;         // rate delivered: the path's target rate when
                                   // converting, else the file's
    int32_t getdr(bool raw) const; // frames remaining, times the frame ratio
                                   // (rounded down) unless raw
    int32_t getdw() const;         // frames a caller allocates for the rest:
                                   // ceil(remaining * ratio) when above 1
    bool getdb() const;            // the last file opened has 8-byte samples

private:
    CorePool* pPool;
    CoreFsys* pStore;
    int32_t iId;
    unsigned char* pBuffer; // kReadPiece bytes (see the source), "WVFR"
    bool bLoadWhole;
    bool b32;
    bool bOpen;
    bool bFound;
    CoreAnsx sName;
    int64_t iItemSize;
    int64_t iScan; // position of the next chunk header while scanning

    int32_t iChannels;
    int32_t iRawRate;
    int32_t iBits;
    int32_t iBytes;
    bool bFloat;
    int32_t iFrameSize;
    int32_t iDataSize;
    int32_t iRemaining;
    int32_t iBufferSize;
    int64_t iPosition;  // the item's byte position of the next frame
    int64_t iNonFinite; // samples of the open item read as 0.0 because they were
                        // NaN or infinite

    bool bConvert;
    bool bRaw;
    int32_t iRequested;
    int iRow;
    int32_t iRate;
    double dRatio;
    double dScale;
    DataRtcv* pTable;
    CoreRtcv* pRtcv;
    double* pInLeft; // decoded input awaiting conversion, "WVFR"
    double* pInRight;
    int32_t iInCapacity;

    [[noreturn]] void fail(const CoreAnsx& reason);
    bool fndch(const char* wanted, int64_t& start, uint32_t& size);
    int64_t after(int64_t header,
                  uint32_t size); // position of the chunk header that follows
    bool readAt(int64_t position, void* bytes, int32_t count);
    void format(const unsigned char* block, uint32_t size);
    void reserve(int32_t frames);
    void read(int32_t frames, double* left, double* right);
    void decode(const unsigned char* bytes, int32_t frames, double* left, double* right);
    bool direct() const;
    void copyDoubles(const unsigned char* bytes, int32_t count, double* left);
    void cleanDoubles(double* values, int32_t count);
};
