#include "filestore/CoreWvfw.h"

#include "base/CoreButl.h"
#include "base/CorePool.h"
#include "base/CoreXutl.h"
#include "filestore/CoreWavs.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

CoreWvfw::CoreWvfw(CorePool* pool, CoreAnsx name, int16_t channels, int32_t rate, bool double64, bool exact)
    : sName(name), pPool(pool), pHeader(nullptr), pStage(nullptr), pFile(nullptr), bCreated(false),
      bFailed(false), bStream(false), iChannels(channels), iBytes(double64 ? 8 : 4), iData(0), iRate(rate),
      bDouble(double64) {
    if (channels < 1 || channels * iBytes > CoreWavs::iCframelimit) {
        fail(std::to_string(channels) + " channels cannot be written");
        return;
    }
    try {
        pHeader = static_cast<char*>(pPool->mallc(4, CoreWavs::iCheadersize, "WVFW"));
        pStage = static_cast<char*>(pPool->mallc(4, CoreWavs::iCframelimit, "WVFW"));
    } catch (...) {
        fail("no memory for the write buffers");
        return;
    }
    const CoreAnsx path = exact ? name : CoreButl::wcase(CoreButl::ffpen(name));
    sTarget = path.c_str() ? path.c_str() : "";
    pFile = CoreXutl::tmpop(sTarget.c_str(), sTemporary);
    CoreButl::pcdrp(path);
    if (!pFile) {
        fail(CoreXutl::lastWriteFailure());
        return;
    }
    // A pipe or a socket written in place cannot seek back: its reader gets one header whose sizes
    // run to the largest whole frame count a WAV file can state, and the samples as they come.
    bStream = sTemporary.empty() && std::fseek(pFile, 0, SEEK_CUR) != 0;
    const uint32_t frameBytes = static_cast<uint32_t>(iChannels * iBytes);
    CoreWavs::sethd(pHeader, iChannels, iRate, bDouble, bStream ? (UINT32_MAX - 36) / frameBytes * frameBytes : 0);
    bCreated = std::fwrite(pHeader, 1, CoreWavs::iCheadersize, pFile) ==
                   static_cast<size_t>(CoreWavs::iCheadersize) &&
               std::fflush(pFile) == 0;
    if (!bCreated) failWrite("the header cannot be written");
}

void CoreWvfw::fail(const std::string& reason) {
    if (!bFailed) sFailure = reason;
    bFailed = true;
}

void CoreWvfw::failWrite(const char* what) {
    const int error = errno;
    const std::string staging = CoreXutl::stagingFailure(pFile, error);
    fail(staging.empty() ? std::string(what) + " (" + std::strerror(error) + ")" : staging);
}

CoreWvfw::~CoreWvfw() {
    if (pFile) {
        CoreXutl::tmpab(pFile, sTemporary);
        CoreButl::pcdrp(CoreAnsx(sTarget.c_str()));
    }
    pPool->free_(pHeader);
    pPool->free_(pStage);
}

bool CoreWvfw::finsh() {
    if (!pFile) return !bFailed;
    updhd();
    if (bFailed)
        CoreXutl::tmpab(pFile, sTemporary);
    else if (!CoreXutl::tmpcm(pFile, sTemporary, sTarget.c_str()))
        fail(CoreXutl::lastWriteFailure());
    pFile = nullptr;
    CoreButl::pcdrp(CoreAnsx(sTarget.c_str()));
    return !bFailed;
}

template <typename Sample>
void CoreWvfw::stage(int32_t frames, const Sample* left, const Sample* right) {
    if (bFailed || !pFile || frames <= 0) return;
    const int frameBytes = iChannels * iBytes;
    const int32_t framesPerPiece = CoreWavs::iCframelimit / frameBytes;
    for (int32_t done = 0; done < frames && !bFailed;) {
        const int32_t count = std::min(framesPerPiece, frames - done);
        std::fill(pStage, pStage + count * frameBytes, 0);
        for (int32_t i = 0; i < count; ++i) {
            char* frame = pStage + i * frameBytes;
            const double l = left ? static_cast<double>(left[done + i]) : 0.0;
            CoreButl::chfdb(l, frame, 0, bDouble);
            if (iChannels >= 2) {
                const double r = right ? static_cast<double>(right[done + i]) : 0.0;
                CoreButl::chfdb(r, frame, iBytes, bDouble);
            }
        }
        write(count * frameBytes);
        done += count;
    }
}

void CoreWvfw::setdt(int32_t frames, const double* left, const double* right) {
    stage(frames, left, right);
}

void CoreWvfw::setdt(int32_t frames, const float* left, const float* right) {
    stage(frames, left, right);
}

void CoreWvfw::write(int32_t bytes) {
    if (bFailed || !pFile || bytes <= 0) return;
    bytes = std::min(bytes, static_cast<int32_t>(CoreWavs::iCframelimit));
    if (iData + bytes > CoreWavs::iCdatalimit) {
        fail("the samples pass the largest size a WAV file can state");
        return;
    }
    // The samples go first: a header never claims bytes the file does not hold.
    if ((!bStream && std::fseek(pFile, 0, SEEK_END) != 0) ||
        std::fwrite(pStage, 1, static_cast<size_t>(bytes), pFile) != static_cast<size_t>(bytes)) {
        failWrite("a write failed");
        return;
    }
    iData += bytes;
    updhd();
}

void CoreWvfw::updhd() {
    if (bFailed || !pFile || bStream) return;
    CoreWavs::sethd(pHeader, iChannels, iRate, bDouble, static_cast<uint32_t>(iData));
    if (std::fseek(pFile, 0, SEEK_SET) != 0 ||
        std::fwrite(pHeader, 1, CoreWavs::iCheadersize, pFile) !=
            static_cast<size_t>(CoreWavs::iCheadersize) ||
        std::fflush(pFile) != 0)
        failWrite("the header cannot be rewritten");
}

bool CoreWvfw::wfile(CorePool* pool, CoreAnsx name, const double* samples, int32_t frames, bool double64) {
    return exprt(pool, name, 1, CoreButl::iCdefaultrate, frames, samples, nullptr, double64);
}

bool CoreWvfw::exprt(CorePool* pool, CoreAnsx name, int16_t channels, int32_t rate, int32_t frames,
                     const double* left, const double* right, bool double64) {
    CoreWvfw writer(pool, name, channels, rate, double64);
    writer.setdt(frames, left, right);
    return writer.finsh();
}
