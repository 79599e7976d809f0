#include "filestore/CoreWvfr.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRtcv.h"
#include "filestore/DataRtcv.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr int kFormatBlock = 40; // the longest "fmt " we read: WAVE_FORMAT_EXTENSIBLE

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool sameId(const unsigned char* p, const char* wanted) {
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = p[i];
        const unsigned char upper = c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
        if (upper != static_cast<unsigned char>(wanted[i])) return false;
    }
    return true;
}

bool printableId(const unsigned char* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E) return false;
    return true;
}

// Bytes read from a disk item per store call; the frames of one piece are decoded while they are
// still in the cache.
constexpr int32_t kReadPiece = 64 * 1024;
static_assert(CoreWvfr::iCbuffersize <= kReadPiece, "a piece holds at least one frame");
// float64 samples copied and then cleaned per step, so that the cleaning pass finds them cached.
constexpr int32_t kCleanStep = 8 * 1024;

constexpr uint64_t kDoubleExponent = 0x7FF0000000000000u;
constexpr uint64_t kDoubleExponentStep = 0x0010000000000000u;
constexpr uint64_t kDoubleSign = 0x8000000000000000u;

// value / (2^Bits - 1), rounded exactly as that division rounds (CoreButl::dbfch divides), for any
// integer of at most Bits + 1 bits, without a division. estimate = value * (1 / d) lies within one
// unit in the last place of the quotient. Because d = 2^Bits - 1, the remainder value - estimate * d
// = (value - estimate * 2^Bits) + estimate comes out exact (the first difference is exact as the
// two terms lie within a factor of two, and the remainder itself is representable), and one
// correction step estimate + remainder / d then rounds to the exact quotient: for |value| < d^2 the
// quotient is never closer than ulp / (4d) to a rounding boundary, far more than the step's own
// error of about ulp * 2^-52. Checked against the division for every 8-, 16-, 24- and 32-bit value.
// Needs IEEE evaluation: no -ffast-math or reassociation for this file.
template <int Bits>
inline double exactQuotient(int32_t value) {
    constexpr double power = static_cast<double>(int64_t{1} << Bits);
    constexpr double reciprocal = 1.0 / (power - 1.0);
    const double x = value;
    const double estimate = x * reciprocal;
    const double remainder = (x - estimate * power) + estimate;
    return estimate + remainder * reciprocal;
}

// Integer PCM of 1 to 4 bytes, little-endian; 8-bit samples are unsigned around 128.
template <int Bytes>
struct IntegerSample {
    static constexpr int width = Bytes;
    double operator()(const unsigned char* s) const {
        if constexpr (Bytes == 1) {
            return exactQuotient<7>(static_cast<int32_t>(s[0]) - 128);
        } else if constexpr (Bytes == 2) {
            return exactQuotient<15>(static_cast<int16_t>(static_cast<uint16_t>(s[0] | (s[1] << 8))));
        } else if constexpr (Bytes == 3) {
            const uint32_t bits = static_cast<uint32_t>(s[0]) << 8 | static_cast<uint32_t>(s[1]) << 16 |
                                  static_cast<uint32_t>(s[2]) << 24;
            return exactQuotient<23>(static_cast<int32_t>(bits) >> 8); // sign-extended
        } else {
            return exactQuotient<31>(static_cast<int32_t>(le32(s)));
        }
    }
};

// float32: zero and denormals give 0.0, NaN and infinities give 0.0 and are counted.
struct Float32Sample {
    static constexpr int width = 4;
    int64_t bad = 0;
    double operator()(const unsigned char* s) {
        uint32_t bits;
        std::memcpy(&bits, s, 4);
        float value;
        std::memcpy(&value, s, 4);
        const uint32_t exponent = bits & 0x7F800000u;
        const bool nonFinite = exponent == 0x7F800000u;
        bad += nonFinite;
        return exponent == 0 || nonFinite ? 0.0 : static_cast<double>(value);
    }
};

// float64, rounded to single precision first when Single; NaN and infinities give 0.0, counted.
template <bool Single>
struct Float64Sample {
    static constexpr int width = 8;
    int64_t bad = 0;
    double operator()(const unsigned char* s) {
        double value;
        std::memcpy(&value, s, 8);
        if constexpr (Single) value = static_cast<double>(static_cast<float>(value));
        const bool nonFinite = !std::isfinite(value);
        bad += nonFinite;
        return nonFinite ? 0.0 : value;
    }
};

// One loop per sample format and channel layout (Channels 0: any count, frames of frameSize bytes),
// so that nothing is chosen per sample and the common layouts become vector code.
template <int Channels, typename Sample>
void framesOf(const unsigned char* p, int32_t count, int32_t frameSize, double* left, double* right,
              Sample& sample) {
    constexpr int width = Sample::width;
    const size_t step = Channels > 0 ? static_cast<size_t>(Channels) * width : static_cast<size_t>(frameSize);
    if (right) {
        for (int32_t i = 0; i < count; ++i) {
            left[i] = sample(p + i * step);
            right[i] = sample(p + i * step + width);
        }
    } else {
        for (int32_t i = 0; i < count; ++i) left[i] = sample(p + i * step);
    }
}

template <typename Sample>
void framesOf(int32_t channels, const unsigned char* p, int32_t count, int32_t frameSize, double* left,
              double* right, Sample& sample) {
    if (channels == 1)
        framesOf<1>(p, count, frameSize, left, nullptr, sample);
    else if (channels == 2)
        framesOf<2>(p, count, frameSize, left, right, sample);
    else
        framesOf<0>(p, count, frameSize, left, right, sample);
}

} // namespace

CoreWvfr::CoreWvfr(CorePool* pool, CoreFsys* store, bool loadWhole)
    : pPool(pool), pStore(store), iId(-1), pBuffer(nullptr), bLoadWhole(loadWhole), b32(false), bOpen(false),
      bFound(false), iItemSize(0), iScan(0), iChannels(0), iRawRate(0), iBits(0), iBytes(0), bFloat(false),
      iFrameSize(0), iDataSize(-1), iRemaining(0), iBufferSize(0), iPosition(0), iNonFinite(0),
      bConvert(false), bRaw(false), iRequested(0), iRow(-1), iRate(0), dRatio(1.0), dScale(1.0),
      pTable(nullptr), pRtcv(nullptr), pInLeft(nullptr), pInRight(nullptr), iInCapacity(0) {
    pBuffer = static_cast<unsigned char*>(pPool->mallc(4, kReadPiece, "WVFR"));
}

CoreWvfr::~CoreWvfr() {
    close();
    setfr(0, false);
    pPool->free_(pInLeft);
    pPool->free_(pInRight);
    pPool->free_(pBuffer);
}

void CoreWvfr::set32(bool on) {
    b32 = on;
}

void CoreWvfr::setfr(int32_t rate, bool raw) {
    iRequested = rate;
    if (rate < 1) {
        delete pRtcv;
        delete pTable;
        pRtcv = nullptr;
        pTable = nullptr;
        bConvert = false;
        return;
    }
    if (!pRtcv) {
        pTable = new DataRtcv(pPool);
        pRtcv = new CoreRtcv(pPool, pTable);
        bRaw = raw;
    }
    bConvert = true;
}

void CoreWvfr::fail(const CoreAnsx& reason) {
    const CoreAnsx text = CoreAnsx("WAV ") + sName + ": " + reason;
    close();
    CoreLog_::logfl(text, 1);
    throw text;
}

bool CoreWvfr::readAt(int64_t position, void* bytes, int32_t count) {
    if (position < 0 || position + count > iItemSize) return false;
    if (pStore->wseek(iId, static_cast<int32_t>(position), 0) != 0) return false;
    return pStore->wread(iId, bytes, 1, count) == count;
}

// Chunks are padded to an even size. Some writers forget the pad: when the
// padded position holds no chunk id but the unpadded one does, the unpadded one
// is taken.
int64_t CoreWvfr::after(int64_t header, uint32_t size) {
    const int64_t next = header + 8 + size;
    if ((size & 1) == 0) return next;
    unsigned char id[4];
    const bool paddedId = readAt(next + 1, id, 4) && printableId(id);
    if (!paddedId && readAt(next, id, 4) && printableId(id)) return next;
    return next + 1;
}

// Scans forward from iScan for the chunk wanted (ids compared upper-cased).
// Sizes are unsigned and every step moves forward, so any bytes end the scan; a
// chunk header past the item ends it too.
bool CoreWvfr::fndch(const char* wanted, int64_t& start, uint32_t& size) {
    unsigned char header[8];
    while (iScan + 8 <= iItemSize) {
        if (!readAt(iScan, header, 8)) return false;
        size = le32(header + 4);
        const int64_t here = iScan;
        iScan = after(here, size);
        if (sameId(header, wanted)) {
            start = here + 8;
            return true;
        }
    }
    return false;
}

void CoreWvfr::format(const unsigned char* block, uint32_t size) {
    uint16_t tag = le16(block);
    iChannels = le16(block + 2);
    const uint32_t rate = le32(block + 4);
    iBits = le16(block + 14);
    if (tag == kTagExtensible && size >= static_cast<uint32_t>(kFormatBlock)) tag = le16(block + 24);
    if (tag != kTagPcm && tag != kTagFloat) fail(CoreAnsx("unsupported format tag ") + CoreAnsx(int(tag)));
    if (iChannels < 1) fail("no channels");
    if (iBits < 8) fail(CoreAnsx("unsupported sample width of ") + CoreAnsx(iBits) + " bits");
    iBytes = (iBits + 7) / 8;
    bFloat = tag == kTagFloat;
    const bool widthOk = bFloat ? (iBits == 32 || iBits == 64) : iBytes <= 4;
    if (!widthOk)
        fail(CoreAnsx("unsupported ") + (bFloat ? "float" : "integer") + " sample width of " +
             CoreAnsx(iBits) + " bits");
    iFrameSize = iBytes * iChannels;
    if (iFrameSize > iCbuffersize) fail(CoreAnsx("frame of ") + CoreAnsx(iFrameSize) + " bytes is too wide");
    if (rate < 1 || rate > 0x7FFFFFFFu)
        fail(CoreAnsx("sample rate ") + CoreAnsx(static_cast<unsigned>(rate)));
    iRawRate = static_cast<int32_t>(rate);
}

void CoreWvfr::open_(CoreAnsx name) {
    close();
    sName = name;
    iDataSize = -1;
    iId = pStore->crtit(name);
    if (iId < 0) fail("no item name");
    if (bLoadWhole) pStore->loadc(iId, true);
    if (!pStore->wopen(iId, "rb")) fail("cannot be opened");
    bOpen = true;
    iItemSize = -1;
    if (pStore->wseek(iId, 0, 2) == 0) iItemSize = pStore->wtell(iId);
    if (iItemSize < 12) fail("too short for a RIFF header");

    unsigned char riff[12];
    if (!readAt(0, riff, 12)) fail("RIFF header cannot be read");
    if (!sameId(riff, "RIFF") || !sameId(riff + 8, "WAVE")) fail("not a RIFF WAVE file");
    iScan = 12;

    int64_t start = 0;
    uint32_t size = 0;
    if (!fndch("FMT ", start, size)) fail("no fmt chunk");
    if (size < 16) fail(CoreAnsx("fmt chunk of ") + CoreAnsx(static_cast<unsigned>(size)) + " bytes");
    unsigned char block[kFormatBlock] = {};
    const int32_t formatBytes = static_cast<int32_t>(std::min<uint32_t>(size, kFormatBlock));
    if (!readAt(start, block, formatBytes)) fail("fmt chunk runs past the end");
    format(block, size);

    if (!fndch("DATA", start, size)) fail("no data chunk");
    if (size == 0) fail("empty data chunk");
    const int64_t claimed = size / static_cast<uint32_t>(iFrameSize);
    const int64_t held = (iItemSize - start) / iFrameSize;
    if (claimed > held)
        fail(CoreAnsx("data chunk claims ") + CoreAnsx(static_cast<long>(claimed)) +
             " frames, the item holds " + CoreAnsx(static_cast<long>(held)));
    if (pStore->wseek(iId, static_cast<int32_t>(start), 0) != 0) fail("data chunk cannot be reached");
    // The size may carry a partial frame past the end of the item; only whole
    // frames are read.
    iDataSize = static_cast<int32_t>(std::min<int64_t>(size, iItemSize - start));
    iRemaining = static_cast<int32_t>(claimed);
    iBufferSize = kReadPiece - kReadPiece % iFrameSize;
    iPosition = start;
    iNonFinite = 0;

    iRow = -1;
    dRatio = 1.0;
    dScale = 1.0;
    iRate = iRawRate;
    if (bConvert && pTable) {
        iRow = pTable->getpt(iRawRate, iRequested);
        if (iRow >= 0) {
            dRatio = pTable->getcf(iRow);
            dScale = 1.0 / dRatio;
            iRate = static_cast<int32_t>(pTable->geter(iRow));
        }
    }
    bFound = true;
}

void CoreWvfr::close() {
    if (bOpen && iNonFinite > 0)
        CoreLog_::loger(CoreAnsx("WAV ") + sName + ": " + CoreAnsx(static_cast<long>(iNonFinite)) +
                            " NaN or infinite samples read as 0",
                        1);
    iNonFinite = 0;
    if (bOpen) pStore->wclse(iId);
    bOpen = false;
    bFound = false;
}

void CoreWvfr::clefs() {
    close();
    if (iId >= 0) pStore->delct(iId);
    iId = -1;
}

void CoreWvfr::reserve(int32_t count) {
    if (count <= iInCapacity) return;
    pPool->free_(pInLeft);
    pPool->free_(pInRight);
    pInLeft = pInRight = nullptr;
    iInCapacity = 0;
    pInLeft = static_cast<double*>(pPool->mallc(0, count, "WVFR"));
    pInRight = static_cast<double*>(pPool->mallc(0, count, "WVFR"));
    iInCapacity = count;
}

// A mono float64 file's samples are the output's bytes: a copy, then the cleaning pass.
bool CoreWvfr::direct() const {
    return bFloat && iBytes == 8 && iChannels == 1;
}

void CoreWvfr::cleanDoubles(double* values, int32_t count) {
    if (b32)
        for (int32_t i = 0; i < count; ++i) values[i] = static_cast<double>(static_cast<float>(values[i]));
    // An exponent of all ones (NaN, infinity) carries into the sign bit when one more exponent step
    // is added; no other exponent does. Most pieces have none, and the check is cheap vector code.
    uint64_t carries = 0;
    for (int32_t i = 0; i < count; ++i) {
        uint64_t bits;
        std::memcpy(&bits, values + i, 8);
        carries |= (bits & kDoubleExponent) + kDoubleExponentStep;
    }
    if ((carries & kDoubleSign) == 0) return;
    for (int32_t i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) {
            values[i] = 0.0;
            ++iNonFinite;
        }
    }
}

void CoreWvfr::copyDoubles(const unsigned char* bytes, int32_t count, double* left) {
    for (int32_t done = 0; done < count; done += kCleanStep) {
        const int32_t step = std::min(kCleanStep, count - done);
        std::memcpy(left + done, bytes + static_cast<size_t>(done) * 8, static_cast<size_t>(step) * 8);
        cleanDoubles(left + done, step);
    }
}

void CoreWvfr::decode(const unsigned char* p, int32_t count, double* left, double* right) {
    if (iChannels < 2) right = nullptr;
    const int32_t channels = iChannels;
    const int32_t fs = iFrameSize;
    if (direct()) {
        copyDoubles(p, count, left);
    } else if (bFloat && iBytes == 4) {
        Float32Sample sample;
        framesOf(channels, p, count, fs, left, right, sample);
        iNonFinite += sample.bad;
    } else if (bFloat && b32) {
        Float64Sample<true> sample;
        framesOf(channels, p, count, fs, left, right, sample);
        iNonFinite += sample.bad;
    } else if (bFloat) {
        Float64Sample<false> sample;
        framesOf(channels, p, count, fs, left, right, sample);
        iNonFinite += sample.bad;
    } else if (iBytes == 1) {
        IntegerSample<1> sample;
        framesOf(channels, p, count, fs, left, right, sample);
    } else if (iBytes == 2) {
        IntegerSample<2> sample;
        framesOf(channels, p, count, fs, left, right, sample);
    } else if (iBytes == 3) {
        IntegerSample<3> sample;
        framesOf(channels, p, count, fs, left, right, sample);
    } else {
        IntegerSample<4> sample;
        framesOf(channels, p, count, fs, left, right, sample);
    }
}

// Reads count input frames and decodes them into left and right unless left is null (a skip).
// An item held in memory is decoded straight from its block; a disk item is read in pieces of
// kReadPiece bytes, a mono float64 one straight into left. The store's position follows.
void CoreWvfr::read(int32_t count, double* left, double* right) {
    if (count <= 0) return;
    const int64_t total = static_cast<int64_t>(count) * iFrameSize;
    void* block = nullptr;
    const int32_t held = pStore->getco(iId, &block);
    if (held > 0 && block) {
        if (iPosition + total > held) fail("the item ends early");
        if (left) decode(static_cast<const unsigned char*>(block) + iPosition, count, left, right);
        iPosition += total;
        if (pStore->wseek(iId, static_cast<int32_t>(iPosition), 0) != 0) fail("the item ends early");
    } else if (!left) {
        if (iPosition + total > iItemSize ||
            pStore->wseek(iId, static_cast<int32_t>(iPosition + total), 0) != 0)
            fail("the item ends early");
        iPosition += total;
    } else {
        const int32_t perPiece = (direct() ? kReadPiece : iBufferSize) / iFrameSize;
        for (int32_t done = 0; done < count;) {
            const int32_t piece = std::min(perPiece, count - done);
            const int32_t bytes = piece * iFrameSize;
            if (direct()) {
                auto* target = reinterpret_cast<unsigned char*>(left + done);
                if (pStore->wread(iId, target, 1, bytes) != bytes) {
                    std::fill(left + done, left + done + piece, 0.0); // no raw bytes left behind
                    fail("the item ends early");
                }
                cleanDoubles(left + done, piece);
            } else {
                if (pStore->wread(iId, pBuffer, 1, bytes) != bytes) fail("the item ends early");
                decode(pBuffer, piece, left + done, right ? right + done : nullptr);
            }
            iPosition += bytes;
            done += piece;
        }
    }
    iRemaining -= count;
}

int32_t CoreWvfr::getdt(int32_t count, double* left, double* right) {
    if (!bOpen || !bFound || count <= 0 || !left) return 0;
    const bool converting = bConvert && pRtcv && iRow >= 0;
    int64_t wanted = count;
    if (converting) wanted = static_cast<int64_t>(std::ceil(count / dRatio));
    const int32_t input = static_cast<int32_t>(std::min<int64_t>(wanted, iRemaining));
    if (!converting) {
        read(input, left, right);
        return input;
    }
    reserve(input);
    read(input, pInLeft, pInRight);
    int32_t delivered = 0;
    for (int channel = 0; channel < (iChannels >= 2 && right ? 2 : 1); ++channel) {
        double* target = channel == 0 ? left : right;
        double* source = channel == 0 ? pInLeft : pInRight;
        int32_t outN = 0;
        double outRate = iRequested;
        const double* converted =
            pRtcv->cnvrt(source, input, outN, iRawRate, outRate, static_cast<int16_t>(iRow));
        delivered = std::min(outN, count);
        const double scale = bRaw ? 1.0 : dScale;
        for (int32_t i = 0; i < delivered; ++i) target[i] = converted[i] * scale;
    }
    return delivered;
}

int32_t CoreWvfr::getdt(int32_t count) {
    if (!bOpen || !bFound || count <= 0) return 0;
    const int32_t skipped = std::min(count, iRemaining);
    read(skipped, nullptr, nullptr);
    return skipped;
}

int32_t CoreWvfr::imprt(CoreAnsx name, double* left, double* right) {
    open_(name);
    int32_t count = 0;
    try {
        count = getdt(getdr(false), left, right);
    } catch (...) {
        close();
        throw;
    }
    close();
    return count;
}

int32_t CoreWvfr::getca() const {
    return bOpen && bFound ? iChannels : -1;
}

int32_t CoreWvfr::getrr() const {
    return bOpen && bFound ? iRawRate : -1;
}

int32_t CoreWvfr::getrt() const {
    return bOpen && bFound ? iRate : -1;
}

int32_t CoreWvfr::getdr(bool raw) const {
    if (!bOpen || !bFound) return -1;
    if (raw) return iRemaining;
    return static_cast<int32_t>(std::min<double>(std::floor(iRemaining * dRatio), 0x7FFFFFFF));
}

int32_t CoreWvfr::getdw() const {
    if (!bOpen || !bFound) return -1;
    if (dRatio <= 1.0) return iRemaining;
    return static_cast<int32_t>(std::min<double>(std::ceil(iRemaining * dRatio), 0x7FFFFFFF));
}

bool CoreWvfr::getdb() const {
    return iBytes == 8;
}
