#include "filestore/CoreWavs.h"

#include "base/CoreButl.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"

#include <algorithm>
#include <cstring>

namespace {

void putLe16(char* at, uint16_t v) {
    at[0] = static_cast<char>(v & 0xFF);
    at[1] = static_cast<char>(v >> 8);
}

void putLe32(char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

} // namespace

void CoreWavs::sethd(char* header, int16_t channels, int32_t rate, bool double64, uint32_t dataBytes) {
    const uint16_t bytes = double64 ? 8 : 4;
    const uint16_t count = static_cast<uint16_t>(channels);
    CoreButl::wrfwv("RIFF", header);
    putLe32(header + 4, dataBytes + 36);
    CoreButl::wrfwv("WAVE", header + 8);
    CoreButl::wrfwv("fmt ", header + 12);
    putLe32(header + 16, 16);
    putLe16(header + 20, 3); // IEEE float
    putLe16(header + 22, count);
    putLe32(header + 24, static_cast<uint32_t>(rate));
    putLe32(header + 28, static_cast<uint32_t>(count) * static_cast<uint32_t>(rate) * bytes);
    putLe16(header + 32, static_cast<uint16_t>(bytes * count));
    putLe16(header + 34, static_cast<uint16_t>(8 * bytes));
    CoreButl::wrfwv("data", header + 36);
    putLe32(header + 40, dataBytes);
}

CoreWavs::CoreWavs(CorePool* pool, int16_t channels, int32_t rate, int32_t frames, bool double64)
    : pPool(pool), pImage(nullptr), iData(0), iOffset(0), iChannels(channels), iBytes(double64 ? 8 : 4),
      bDouble(double64) {
    if (channels < 1 || channels * iBytes > iCframelimit)
        throw CoreAnsx("WAV image: unsupported channel count ") + CoreAnsx(static_cast<int>(channels));
    iData = static_cast<int64_t>(std::max<int32_t>(frames, 0)) * channels * iBytes;
    if (iData > iCdatalimit)
        throw CoreAnsx("WAV image: ") + CoreAnsx(static_cast<int>(frames)) + " frames pass the 4 GiB limit";
    // Taken in 8-byte elements so that images beyond 2 GiB can still be counted
    // by the pool.
    const int64_t words = (iCheadersize + iData + 7) / 8;
    pImage = static_cast<char*>(pPool->mallc(0, static_cast<int>(words), "WAVS"));
    std::memset(pImage, 0, static_cast<size_t>(words) * 8);
    sethd(pImage, channels, rate, double64, static_cast<uint32_t>(iData));
}

CoreWavs::~CoreWavs() {
    pPool->free_(pImage);
}

int32_t CoreWavs::setdt(int32_t frames, const double* left, const double* right) {
    const int64_t frameBytes = static_cast<int64_t>(iChannels) * iBytes;
    const int64_t room = (iData - iOffset) / frameBytes;
    const int32_t count = static_cast<int32_t>(std::clamp<int64_t>(frames, 0, room));
    char* data = pImage + iCheadersize;
    for (int32_t i = 0; i < count; ++i) {
        char* frame = data + iOffset + i * frameBytes;
        CoreButl::chfdb(left ? left[i] : 0.0, frame, 0, bDouble);
        if (iChannels >= 2) CoreButl::chfdb(right ? right[i] : 0.0, frame, iBytes, bDouble);
    }
    iOffset += count * frameBytes;
    return count;
}

void CoreWavs::wrtmm(char* out) const {
    std::memcpy(out, pImage, static_cast<size_t>(getmd()));
}

bool CoreWavs::write(CoreAnsx name) {
    return CoreFsys::wrfle(name, pImage, getmd());
}
