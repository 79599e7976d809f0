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

// One loop per sample width; each decodes exactly as CoreButl::dbfch does
// (division, not a multiplied reciprocal, so the values agree to the last bit).
template <typename Decode>
void frames(const unsigned char* p, int32_t count, int32_t frameSize, int32_t bytes, double* left,
            double* right, Decode decode) {
    if (right) {
        for (int32_t i = 0; i < count; ++i, p += frameSize) {
            left[i] = decode(p);
            right[i] = decode(p + bytes);
        }
    } else {
        for (int32_t i = 0; i < count; ++i, p += frameSize) left[i] = decode(p);
    }
}

} // namespace

CoreWvfr::CoreWvfr(CorePool* pool, CoreFsys* store, bool loadWhole)
    : pPool(pool), pStore(store), iId(-1), pBuffer(nullptr), bLoadWhole(loadWhole), b32(false), bOpen(false),
      bFound(false), iItemSize(0), iScan(0), iChannels(0), iRawRate(0), iBits(0), iBytes(0), bFloat(false),
      iFrameSize(0), iDataSize(-1), iRemaining(0), iBufferSize(0), iNonFinite(0), bConvert(false),
      bRaw(false), iRequested(0), iRow(-1), iRate(0), dRatio(1.0), dScale(1.0), pTable(nullptr),
      pRtcv(nullptr), pInLeft(nullptr), pInRight(nullptr), iInCapacity(0) {
    pBuffer = static_cast<unsigned char*>(pPool->mallc(4, iCbuffersize, "WVFR"));
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
    iBufferSize = iCbuffersize - iCbuffersize % iFrameSize;
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

void CoreWvfr::decode(int32_t count, double* left, double* right) {
    const unsigned char* p = pBuffer;
    if (iChannels < 2) right = nullptr;
    const int32_t fs = iFrameSize;
    const int32_t b = iBytes;
    if (bFloat && b == 4) {
        int64_t& bad = iNonFinite;
        frames(p, count, fs, b, left, right, [&bad](const unsigned char* s) {
            uint32_t bits;
            std::memcpy(&bits, s, 4);
            const uint32_t exponent = (bits >> 23) & 0xFF;
            if (exponent == 0) return 0.0; // zero or denormal
            if (exponent == 0xFF) {
                ++bad;
                return 0.0;
            }
            float v;
            std::memcpy(&v, s, 4);
            return static_cast<double>(v);
        });
    } else if (bFloat) {
        int64_t& bad = iNonFinite;
        const bool round = b32;
        frames(p, count, fs, b, left, right, [&bad, round](const unsigned char* s) {
            double v;
            std::memcpy(&v, s, 8);
            if (round) v = static_cast<double>(static_cast<float>(v));
            if (!std::isfinite(v)) {
                ++bad;
                return 0.0;
            }
            return v;
        });
    } else if (b == 1) {
        frames(p, count, fs, b, left, right,
               [](const unsigned char* s) { return (static_cast<int>(s[0]) - 128) / 127.0; });
    } else if (b == 2 && iChannels <= 2) {
        // The common case as plain arrays, which the compiler turns into vector code.
        int16_t values[iCbuffersize / 2];
        std::memcpy(values, p, static_cast<size_t>(count) * fs);
        if (iChannels == 1) {
            for (int32_t i = 0; i < count; ++i) left[i] = values[i] / 32767.0;
        } else if (right) {
            int32_t i = 0;
            for (; i + 4 <= count; i += 4) {
                // Four frames per step as straight-line code, so that it becomes vector code.
                double l[4], r[4];
                for (int k = 0; k < 4; ++k) {
                    l[k] = values[2 * (i + k)];
                    r[k] = values[2 * (i + k) + 1];
                }
                for (int k = 0; k < 4; ++k) {
                    left[i + k] = l[k] / 32767.0;
                    right[i + k] = r[k] / 32767.0;
                }
            }
            for (; i < count; ++i) {
                left[i] = values[2 * i] / 32767.0;
                right[i] = values[2 * i + 1] / 32767.0;
            }
        } else {
            for (int32_t i = 0; i < count; ++i) left[i] = values[2 * i] / 32767.0;
        }
    } else if (b == 2) {
        frames(p, count, fs, b, left, right, [](const unsigned char* s) {
            return static_cast<int16_t>(static_cast<uint16_t>(s[0] | (s[1] << 8))) / 32767.0;
        });
    } else if (b == 3) {
        frames(p, count, fs, b, left, right, [](const unsigned char* s) {
            const uint32_t bits = static_cast<uint32_t>(s[0]) << 8 | static_cast<uint32_t>(s[1]) << 16 |
                                  static_cast<uint32_t>(s[2]) << 24;
            const int32_t v = static_cast<int32_t>(bits) >> 8; // sign-extended
            return v / 8388607.0;
        });
    } else {
        frames(p, count, fs, b, left, right,
               [](const unsigned char* s) { return static_cast<int32_t>(le32(s)) / 2147483647.0; });
    }
}

// Reads count input frames piece by piece; decodes into left and right unless
// left is null.
void CoreWvfr::read(int32_t count, double* left, double* right) {
    const int32_t perPiece = iBufferSize / iFrameSize;
    for (int32_t done = 0; done < count;) {
        const int32_t piece = std::min(perPiece, count - done);
        const int32_t bytes = piece * iFrameSize;
        if (pStore->wread(iId, pBuffer, 1, bytes) != bytes) fail("the item ends early");
        if (left) decode(piece, left + done, right ? right + done : nullptr);
        done += piece;
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
