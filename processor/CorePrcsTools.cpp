// CorePrcs: the vector-file tools the program export renders with (an impulse of equal gain, a cut to
// length or to the element's copy range) and the measurements they rest on (the gain at one frequency
// through a windowed sine, the decay time from the peak). Items are read and written through the
// engine's own store `files`; called on the exporting thread, never on the audio path.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreSgrd.h"
#include "filestore/CoreEleq.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRtcv.h"
#include "filestore/CoreWavs.h"
#include "filestore/CoreWvfr.h"
#include "platform/IppLayer.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <numeric>
#include <vector>

namespace {

constexpr char kLabel[] = "PRCS";
constexpr int kLargestOrder = 27;
constexpr int64_t kLargestTransform = int64_t{1} << kLargestOrder; // 2n - 1 above this is refused

// Pool blocks of doubles, freed when the scope ends.
class PoolBlocks {
public:
    explicit PoolBlocks(CorePool* pool) : pool(pool) {}
    ~PoolBlocks() {
        for (void* block : blocks) pool->free_(block);
    }
    PoolBlocks(const PoolBlocks&) = delete;
    PoolBlocks& operator=(const PoolBlocks&) = delete;
    double* doubles(int32_t count) {
        auto* block = static_cast<double*>(pool->mallc(0, std::max(count, 1), kLabel));
        blocks.push_back(block);
        std::memset(block, 0, sizeof(double) * static_cast<size_t>(std::max(count, 1)));
        return block;
    }

private:
    CorePool* pool;
    std::vector<void*> blocks;
};

// One WAV item read whole: frames, rate, channels, sample width and the first two channels.
struct WavData {
    int32_t frames = 0;
    int32_t rate = 0;
    int32_t channels = 0;
    bool double64 = false;
    double* left = nullptr;
    double* right = nullptr;
};

WavData readWhole(CorePool* pool, CoreFsys* store, PoolBlocks& blocks, const CoreAnsx& name, int32_t rate,
                  bool& converted) {
    CoreWvfr reader(pool, store, true);
    if (rate > 0) reader.setfr(rate, true);
    reader.open_(name);
    WavData data;
    data.rate = reader.getrr();
    converted = rate >= 0 && reader.getrr() != rate;
    if (rate > 0 && converted) data.rate = reader.getrt();
    data.channels = reader.getca();
    data.double64 = reader.getdb();
    const int32_t frames = reader.getdr(false);
    const int32_t room = std::max(frames, reader.getdw());
    data.left = blocks.doubles(room);
    data.right = blocks.doubles(room);
    data.frames = frames > 0 ? reader.getdt(frames, data.left, data.right) : 0;
    reader.close();
    if (data.channels < 2) std::copy(data.left, data.left + data.frames, data.right);
    return data;
}

// Stores a float WAV image of frames samples from left and right as the item's data.
void storeImage(CorePool* pool, CoreFsys* store, const CoreAnsx& name, const WavData& shape, int32_t frames,
                const double* left, const double* right) {
    CoreWavs image(pool, static_cast<int16_t>(std::max(shape.channels, 1)), shape.rate, frames,
                   shape.double64);
    image.setdt(frames, left, right);
    std::vector<char> bytes(static_cast<size_t>(image.getmd()));
    image.wrtmm(bytes.data());
    store->setit(store->crtit(name, true, false), bytes.data(), static_cast<int32_t>(bytes.size()), true,
                 CoreAnsx("0"), true, false);
}

// One FFT set-up per order, made on first use and kept for the process: planning costs more than
// the transforms of a measurement. A set-up is only read while transforming, so threads share it.
const IppsFFTSpec_R_64f* sharedSpec(int order) {
    static std::mutex lock;
    static IppsFFTSpec_R_64f* specs[kLargestOrder + 1] = {};
    std::lock_guard<std::mutex> hold(lock);
    if (!specs[order]) {
        IppsFFTSpec_R_64f* made = nullptr;
        if (ippsFFTInitAlloc_R_64f(&made, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate) != ippStsNoErr ||
            !made)
            throw CoreAnsx("FFT set-up failed, order ") + CoreAnsx(order);
        specs[order] = made;
    }
    return specs[order];
}

// The sine of getsn under the Blackman window of CoreRtcv::flblk(n, w, 1.0, false), whose factor is
// the window squared; cos 4t taken as 2 cos^2 2t - 1 saves a cosine per sample (the window differs from
// flblk's by rounding only).
void windowedSine(int32_t n, double* out, int32_t f, int32_t rate) {
    CorePrcs::getsn(n, out, f, rate);
    if (n < 2) return;
    const double step = 2.0 * std::numbers::pi / (n - 1);
    for (int32_t i = 0; i < n; ++i) {
        const double c = std::cos(step * i);
        const double w = 0.42 - 0.5 * c + 0.08 * (2.0 * c * c - 1.0);
        out[i] *= w * w;
    }
}

// Keys of the store's items whose extension is ".WAV", as the store lists them.
std::vector<CoreAnsx> wavItems(const CoreFsys* store) {
    std::vector<CoreAnsx> keys(static_cast<size_t>(store->getkn()));
    if (!keys.empty()) store->getks(keys.data());
    std::vector<CoreAnsx> result;
    for (const CoreAnsx& key : keys)
        if (CoreButl::getfx(key) == CoreAnsx(CoreButl::sCextwav)) result.push_back(key);
    return result;
}

} // namespace

void CorePrcs::getsn(int32_t n, double* out, int32_t f, int32_t rate) {
    if (!out || rate < 1 || n < 1) return;
    // The phase reduced exactly in integers keeps the sine as accurate as an extended-precision one.
    // For f >= 0 the reduced phases repeat every rate / gcd(f, rate) samples: each distinct one is
    // computed once, from the same integer phase, so the values are the same bits.
    const int64_t period =
        f >= 0 ? rate / std::gcd(static_cast<int64_t>(f) % rate, static_cast<int64_t>(rate)) : 0;
    if (f < 0 || period >= n) {
        for (int32_t k = 0; k < n; ++k) {
            const int64_t m = (static_cast<int64_t>(f) * k) % rate;
            out[k] = std::sin(2.0 * std::numbers::pi * static_cast<double>(m) / rate);
        }
        return;
    }
    const int64_t step = static_cast<int64_t>(f) % rate;
    const int64_t spacing = rate / period; // every reduced phase is a multiple of it
    std::vector<double> table(static_cast<size_t>(period));
    for (int64_t j = 0; j < period; ++j)
        table[static_cast<size_t>(j)] =
            std::sin(2.0 * std::numbers::pi * static_cast<double>(j * spacing) / rate);
    int64_t m = 0;
    for (int32_t k = 0; k < n; ++k) {
        out[k] = table[static_cast<size_t>(m / spacing)];
        m += step;
        if (m >= rate) m -= rate;
    }
}

double CorePrcs::frqam(CorePool* pool, int32_t n, const double* x, int32_t f, int32_t rate) {
    if (n < 1 || rate < 1 || !x) return 0.0;
    if (2 * static_cast<int64_t>(n) - 1 > kLargestTransform)
        throw CoreAnsx("response too long to measure: ") + CoreAnsx(n);
    const int32_t size = CoreButl::getp2(2 * n - 1);
    const int order = CoreButl::geto2(size);
    const IppsFFTSpec_R_64f* spec = sharedSpec(order);
    int scratchBytes = 0;
    ippsFFTGetBufSize_R_64f(spec, &scratchBytes);
    PoolBlocks blocks(pool);
    double* work = blocks.doubles(size);
    double* spectrum = blocks.doubles(size);
    auto* scratch = reinterpret_cast<Ipp8u*>(blocks.doubles(scratchBytes / 8 + 1));

    windowedSine(n, work, f, rate);
    ippsFFTFwd_RToPack_64f_I(work, spec, scratch);
    std::copy(work, work + size, spectrum);
    std::fill(work, work + size, 0.0);
    std::copy(x, x + n, work);
    ippsFFTFwd_RToPack_64f_I(work, spec, scratch);
    ippsMulPack_64f_I(spectrum, work, size);
    ippsFFTInv_PackToR_64f_I(work, spec, scratch);
    return CoreButl::getgn(work, 0, size);
}

double CorePrcs::wavrt(CoreFsys* store, CoreAnsx name, double db) {
    (void)store; // read through the engine's own store, as every tool
    PoolBlocks blocks(pool);
    bool converted = false;
    const WavData data = readWhole(pool, files, blocks, name, -1, converted);
    double peak = 0.0;
    int32_t p = 0;
    for (int32_t i = 0; i < data.frames; ++i)
        if (data.left[i] > peak) {
            peak = data.left[i];
            p = i;
        }
    const double level =
        peak > 0.0 ? std::max(CoreButl::dCdbmin, 20.0 * std::log10(peak)) : CoreButl::dCdbmin;
    const double threshold = std::pow(10.0, (level - db) / 20.0);
    int32_t q = data.frames - 1;
    while (q >= 0 && !(data.left[q] > threshold)) --q;
    return CoreButl::upftp(data.rate, static_cast<int64_t>(q) - p);
}

double CorePrcs::wavrt(double db) {
    if (isfailed()) return 0.0;
    readKernels(files);
    double longest = 0.0;
    for (const CoreAnsx& name : wavItems(files)) longest = std::max(longest, wavrt(files, name, db) / 1000.0);
    return longest;
}

void CorePrcs::mkedr(CoreFsys* store, CoreAnsx name, int32_t length, int32_t f) {
    (void)store;
    if (length < 1) return;
    PoolBlocks blocks(pool);
    bool converted = false;
    const WavData data = readWhole(pool, files, blocks, name, -1, converted);
    if (data.frames < 1) return; // no gain to measure: the item stays as it is
    const double gainLeft = frqam(pool, data.frames, data.left, f, data.rate);
    const double gainRight = frqam(pool, data.frames, data.right, f, data.rate);
    double* left = blocks.doubles(length);
    double* right = blocks.doubles(length);
    left[length / 2] = gainLeft;
    right[length / 2] = gainRight;
    storeImage(pool, files, name, data, length, left, right);
}

void CorePrcs::svfdr(CoreFsys* store, int32_t length, int32_t f) {
    if (!store) return;
    for (const CoreAnsx& name : wavItems(store)) mkedr(store, name, length, f);
}

void CorePrcs::cutwl(CoreFsys* store, CoreAnsx name, int64_t us, int32_t rate) {
    (void)store;
    PoolBlocks blocks(pool);
    bool converted = false;
    const WavData data = readWhole(pool, files, blocks, name, rate, converted);
    const int32_t n = data.frames;
    const int64_t m = CoreButl::tpfup(data.rate, us);
    if (!(n > m || converted)) return;
    int32_t rangeStart = 0, rangeEnd = 0;
    const bool ranged = program && program->getrz(name, rangeStart, rangeEnd);
    int64_t start = 0;
    int64_t count = 0;
    if (ranged && us == 0) {
        start = rangeStart;
        count = static_cast<int64_t>(rangeEnd) - rangeStart;
    } else if (ranged) {
        start = rangeStart;
        count = std::min<int64_t>(n - std::clamp<int64_t>(start, 0, n), m);
    } else if (converted && m >= n) {
        count = n; // converted data no longer than wanted: rewritten whole
    } else {
        int32_t p = 0;
        double largest = -1.0;
        for (int32_t i = 0; i < n; ++i)
            if (std::fabs(data.left[i]) > largest) {
                largest = std::fabs(data.left[i]);
                p = i;
            }
        start = p + m / 2 > n ? n - m : p - m / 2;
        count = m;
    }
    // The range a program stores or a length past the data never reads beyond the buffers.
    start = std::clamp<int64_t>(start, 0, n);
    count = std::min<int64_t>(count, n - start);
    if (count < 1) {
        CoreLog_::loger(CoreAnsx("vector file left as it is, nothing to cut: ") + name, 1);
        return;
    }
    storeImage(pool, files, name, data, static_cast<int32_t>(count), data.left + start, data.right + start);
}

void CorePrcs::svfwl(CoreFsys* store, int64_t us, int32_t rate) {
    if (!store) return;
    for (const CoreAnsx& name : wavItems(store)) cutwl(store, name, us, rate);
}

void CorePrcs::svfs2(CoreFsys* store, int32_t maxLength, int32_t freq, double target) {
    if (isfailed() || !booted() || !store || store->getkn() < 1) return;
    // 1. Render length: twice the largest second- or third-stage size in use, at least one second.
    int64_t longest = 0;
    for (int16_t h = 0; h < hdimused; ++h) {
        const int16_t record = bHybrid && h == 0 ? hdimmax : h;
        for (int16_t which = 0; which < 2; ++which) {
            const int32_t size = program->getod(record, which);
            if (size > 0)
                longest = std::max<int64_t>(longest, static_cast<int64_t>(CoreButl::upftp(samplerate, size)));
        }
    }
    const int64_t renderUs = std::max<int64_t>(2 * longest, 1000000);
    const int32_t n =
        static_cast<int32_t>(std::min<int64_t>(CoreButl::tpfup(samplerate, renderUs), int64_t{1} << 23));
    const int32_t m = 8 * CoreEleq::eqgts(n, n);
    constexpr int32_t chunk = 1024;

    PoolBlocks blocks(pool);
    double* excitation[2] = {blocks.doubles(n), blocks.doubles(n)};
    double* response[2] = {blocks.doubles(n), blocks.doubles(n)};
    double* silence = blocks.doubles(chunk); // the side-chain inputs
    excitation[0][0] = excitation[1][0] = 1.0;

    // 2. The render: the host entry stays on its pass-through path meanwhile and never waits for it.
    const bool wasPassing = passthru.getvl();
    if (!wasPassing) smpby(true, 0, false, true);
    {
        CoreSgrd engine(enginelock);
        takeBlockLock(iWatchdogms, "render");
        clepr(true); // no tail of earlier audio in the response
        blocklock.relse();
        for (int32_t at = 0; at < n - chunk; at += chunk) {
            const int32_t count = std::min(chunk, n - chunk - at);
            void* in[4] = {excitation[0] + at, excitation[1] + at, silence, silence};
            void* out[2] = {response[0] + at, response[1] + at};
            prcsn(in, out, count, true, 0, true, 4);
        }
        takeBlockLock(iWatchdogms, "render"); // the worker's last block
        clepr(true);                          // nothing of the render reaches the host
        blocklock.relse();
    }
    if (!wasPassing) smpby(false, 0, false, false);
    std::fill(excitation[0], excitation[0] + n, 0.0);
    std::fill(excitation[1], excitation[1] + n, 0.0);

    // 3. The correction spectrum B.
    auto* spectrumA = reinterpret_cast<Ipp64fc*>(blocks.doubles(2 * m));
    auto* spectrumB = reinterpret_cast<Ipp64fc*>(blocks.doubles(2 * m));
    double* work = blocks.doubles(2 * m);
    bool ok = false;
    if (target != 1.0) {
        ok = CoreEleq::eqcal(pool, spectrumA, spectrumB, m, n, response[0], n, response[0], samplerate, 0.005,
                             false, 3, 1.0, target, 2, freq);
    } else {
        excitation[0][n / 2] = frqam(pool, n, response[0], freq, samplerate);
        ok = CoreEleq::eqcal(pool, spectrumA, spectrumB, m, n, response[0], n, excitation[0], samplerate,
                             0.005, false, 3, 1.0, 0.0, 2, freq);
    }
    if (!ok) return;

    // 4. Every WAV item convolved with the correction.
    IppsFFTSpec_R_64f* spec = nullptr;
    if (ippsFFTInitAlloc_R_64f(&spec, CoreButl::geto2(m), IPP_FFT_DIV_BY_SQRTN, ippAlgHintAccurate) !=
            ippStsNoErr ||
        !spec)
        throw CoreAnsx("FFT set-up failed, size ") + CoreAnsx(m);
    struct SpecFree {
        IppsFFTSpec_R_64f* spec;
        ~SpecFree() { ippsFFTFree_R_64f(spec); }
    } specFree{spec};
    int scratchBytes = 0;
    ippsFFTGetBufSize_R_64f(spec, &scratchBytes);
    auto* scratch = reinterpret_cast<Ipp8u*>(blocks.doubles(scratchBytes / 8 + 1));
    for (const CoreAnsx& name : wavItems(store)) {
        CoreWvfr reader(pool, files, true);
        reader.open_(name);
        WavData shape;
        shape.rate = samplerate;
        shape.channels = reader.getca();
        shape.double64 = reader.getdb();
        std::fill(response[0], response[0] + n, 0.0);
        std::fill(response[1], response[1] + n, 0.0);
        const int32_t read = reader.getdt(std::min(n, reader.getdr(false)), response[0], response[1]);
        reader.close();
        if (shape.channels < 2) std::copy(response[0], response[0] + read, response[1]);
        for (double* channel : response) {
            std::fill(work, work + 2 * m, 0.0);
            std::copy(channel, channel + n, work);
            ippsFFTFwd_RToPack_64f_I(work, spec, scratch);
            ippsConjPack_64fc(work, spectrumA, m);
            ippsMul_64fc_I(spectrumB, spectrumA, m);
            auto* product = reinterpret_cast<double*>(spectrumA);
            ippsFFTInv_CCSToR_64f_I(product, spec, scratch);
            std::copy(product, product + n, channel);
        }
        const int32_t frames = maxLength > 0 ? std::min(n, maxLength) : read;
        storeImage(pool, files, name, shape, frames, response[0], response[1]);
    }
}
