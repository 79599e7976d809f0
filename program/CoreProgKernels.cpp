// Kernel preparation of CoreProg: impulse responses read into the vector trees, aligned on their sync
// points, cut, faded and registered, and the stage sizes the convolvers partition by (see CoreProg.h).
#include "program/CoreProg.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CorePmsg.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "convolution/CorePlel.h"
#include "convolution/CoreVctr.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWvfr.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const char poolTag[] = "PRG2";
const int16_t poolDoubles = 0;
// Sizes stay within this many samples: a larger kernel could not be allocated anyway, and every sum
// and power of two made from them then fits 32 bits.
constexpr int64_t largestSize = int64_t{1} << 29;
// Responses shorter than this many samples are read at their own rate in harmonic 0.
constexpr int32_t shortResponse = 16;

int32_t clampSize(int64_t samples) {
    return static_cast<int32_t>(std::clamp(samples, -largestSize, largestSize));
}

int32_t atLeastOne(int32_t samples) {
    return samples < 1 ? 1 : samples;
}

// Log texts are built only when the debug level writes them.
bool logs(int16_t level) {
    return CoreLog_::getdb() >= level;
}

void logValue(const char* label, int64_t value) {
    if (logs(3)) CoreLog_::debug(CoreAnsx(label) + CoreAnsx(static_cast<long>(value)), 3, 3);
}

CoreVctr* vectorAt(const CoreTlst* list, int i) {
    return static_cast<CoreVctr*>(list->Items[i]);
}

// Sync search over one element, on its signals or their negations (sign -1). Every search for a
// largest value starts at 0.0 and moves only on a strictly larger one, so ties keep the earliest index.
struct SyncSearch {
    const double* left;
    const double* right;
    int32_t n;
    double sign;
    double balance;

    double mix(int32_t k) const { return sign * (left[k] * (1.0 - balance) + right[k] * balance); }

    template <typename Value>
    int32_t largest(Value value, double& best) const {
        int32_t found = -1;
        for (int32_t k = 0; k < n; ++k)
            if (value(k) > best) {
                best = value(k);
                found = k;
            }
        return found;
    }
    template <typename Value>
    int32_t largest(Value value) const {
        double best = 0.0;
        return largest(value, best);
    }
    template <typename Value>
    int32_t firstAbove(Value value, double threshold) const {
        for (int32_t k = 0; k < n; ++k)
            if (value(k) > threshold) return k;
        return -1;
    }
    // Left, then right continuing with the same running maximum.
    template <typename Transform>
    int32_t acrossChannels(Transform transform) const {
        double best = 0.0;
        const int32_t inLeft = largest([&](int32_t k) { return transform(sign * left[k]); }, best);
        const int32_t inRight = largest([&](int32_t k) { return transform(sign * right[k]); }, best);
        return inRight >= 0 ? inRight : inLeft;
    }
};

// A 64-bit fingerprint of kernel values and settings: four independent lanes, one multiply-rotate
// round per 64-bit word, merged and mixed at the end. It tells apart kernels that differ, which is all
// a registry key needs; it is no protection against crafted collisions.
class Fingerprint {
public:
    void add(const double* values, int64_t n) {
        int64_t i = 0;
        for (; i + 4 <= n; i += 4)
            for (int lane = 0; lane < 4; ++lane) lanes[lane] = round(lanes[lane], word(values + i + lane));
        for (int lane = 0; i < n; ++i, ++lane) lanes[lane] = round(lanes[lane], word(values + i));
        count += static_cast<uint64_t>(n);
    }
    void add(double value) { add(&value, 1); }
    uint64_t value() const {
        uint64_t h = rotate(lanes[0], 1) + rotate(lanes[1], 7) + rotate(lanes[2], 12) + rotate(lanes[3], 18);
        h ^= count * prime1;
        h ^= h >> 33;
        h *= prime2;
        h ^= h >> 29;
        h *= prime3;
        return h ^ (h >> 32);
    }

private:
    static constexpr uint64_t prime1 = 0x9E3779B185EBCA87ULL;
    static constexpr uint64_t prime2 = 0xC2B2AE3D27D4EB4FULL;
    static constexpr uint64_t prime3 = 0x165667B19E3779F9ULL;
    static uint64_t word(const double* value) {
        uint64_t bits;
        std::memcpy(&bits, value, sizeof bits);
        return bits;
    }
    static uint64_t rotate(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
    static uint64_t round(uint64_t lane, uint64_t bits) { return rotate(lane + bits * prime2, 31) * prime1; }
    uint64_t lanes[4] = {prime1 + prime2, prime2, 0, 0 - prime1};
    uint64_t count = 0;
};

// One element of the harmonic being prepared, in list order (leaf vectors in list order, each
// vector's elements in order).
struct Element {
    CoreVctr* vector = nullptr; // its leaf vector
    CoreAnsx name;
    int32_t frames = 0; // converted and rounded down, then as read
    int32_t framesUp = 0;
    int32_t rawFrames = 0;
    double* left = nullptr; // pool blocks; right is left for a one-channel file
    double* right = nullptr;
    int32_t sync = 0;
    double peak = 0.0;
    int32_t start = 0; // copy range of the response
    int32_t end = 0;
    void* kernelL = nullptr; // until the vector holds them
    void* kernelR = nullptr;
};

CoreAnsx hexDigits(uint64_t value) {
    char digits[17];
    for (int i = 15; i >= 0; --i, value >>= 4) digits[i] = "0123456789ABCDEF"[value & 0xF];
    digits[16] = '\0';
    return CoreAnsx(digits);
}

} // namespace

// The temporaries of one harmonic. What is still held when it goes (on a failure) is released: sample
// buffers to the pool, kernels not yet handed to their vector through that vector.
struct CoreProg::Preparation {
    Preparation(CorePool* pool, int16_t h) : pool(pool), h(h), number(static_cast<int>(h) + 1) {}
    ~Preparation() {
        for (Element& e : elements) {
            releaseSamples(e);
            if (e.kernelL != nullptr || e.kernelR != nullptr) e.vector->delip(e.kernelL, e.kernelR);
        }
    }
    Preparation(const Preparation&) = delete;
    Preparation& operator=(const Preparation&) = delete;

    double* samples(int32_t n) { return static_cast<double*>(pool->mallc(poolDoubles, n, poolTag)); }
    void releaseSamples(Element& e) {
        if (e.right != nullptr && e.right != e.left) pool->free_(e.right);
        if (e.left != nullptr) pool->free_(e.left);
        e.left = e.right = nullptr;
    }

    CorePool* pool;
    int16_t h;
    CoreAnsx number; // h + 1, as the log names the harmonic
    std::vector<Element> elements;
    int32_t longestUp = 0; // frames, converted and rounded up
    int32_t longest = 0;
};

// ---- start and streh --------------------------------------------------------------------------------

void CoreProg::start(bool keepRate) {
    bPrepared = true;
    iElementsread = 0;
    dBytesloaded = 0.0;
    CoreLog_::debug(CoreAnsx("starting wave reader"), 2, 5);
    bool failed = false;
    try {
        CoreWvfr reader(pPool, pFiles, true);
        iConvertedratehz = 0;
        iLargestoffset = -1;
        int32_t offset = -1; // harmonic 0 computes its offset, later harmonics reuse it
        for (int16_t h = 0; h < iHarmonicsloaded; ++h) {
            streh(h, &reader, offset, keepRate);
            offset = pHarmonics[0].iOffset;
            iLargestoffset = std::max(iLargestoffset, pHarmonics[h].iOffset);
        }
        HLOC& first = pHarmonics[0];
        if (bForcehybrid && hasTree(iCapacity)) {
            CoreLog_::debug(CoreAnsx("starting hybrid"), 2, 5);
            streh(iCapacity, &reader, offset, keepRate);
            trsir(iCapacity, first.iSecondsize);
        } else if (iSmooth >= 0 && hasTree(0)) {
            first.pRoot->setsc();
            first.pSecondaryleft = static_cast<double*>(first.pRoot->getls());
            first.pSecondaryright = static_cast<double*>(first.pRoot->getrs());
        }
    } catch (...) {
        failed = true;
    }
    if (failed) throw CoreAnsx("");
}

void CoreProg::streh(int16_t h, CoreWvfr* reader, int32_t offset, bool keepRate) {
    const CoreAnsx number(static_cast<int>(h) + 1);
    CoreLog_::debug(CoreAnsx("starting H") + number, 2, 2);
    bool failed = false;
    try {
        prepareRecord(h, reader, offset, keepRate);
    } catch (const CoreAnsx& cause) {
        // Readers and the pool have logged their own causes; an empty text was logged where thrown.
        if (cause.Length() > 0) CoreLog_::loger(CoreAnsx("H") + number + CoreAnsx(": ") + cause, 1);
        failed = true;
    } catch (...) {
        CoreLog_::loger(CoreAnsx("H") + number + CoreAnsx(": out of memory"), 1);
        failed = true;
    }
    CoreLog_::debug(CoreAnsx("end H") + number, 2, 3);
    if (failed) throw CoreAnsx("");
}

void CoreProg::prepareRecord(int16_t h, CoreWvfr* reader, int32_t offset, bool keepRate) {
    if (!hasTree(h)) throw CoreAnsx("no vector tree");
    if (reader == nullptr || pFiles == nullptr) throw CoreAnsx("no file store");
    HLOC& record = pHarmonics[h];
    CoreVctr* root = record.pRoot;
    record.bFadesbuilt = false;
    logValue("iVleafvectors:", record.pLeafvectors->Count);
    logValue("iVcorevectors:", record.pCorevectors->Count);
    iAlignoffsetsamples = clampSize(CoreButl::tpfup(iProgramratehz, iAlignoffsetus));

    int maxOffset = 0;
    int maxFadeIn = 0;
    for (const CoreTlst* list : {record.pLeafvectors, record.pCorevectors})
        for (int i = 0; i < list->Count; ++i) {
            int vectorOffset = 0;
            int vectorFadeIn = 0;
            vectorAt(list, i)->getup(vectorOffset, vectorFadeIn);
            maxOffset = std::max(maxOffset, vectorOffset);
            maxFadeIn = std::max(maxFadeIn, vectorFadeIn);
        }
    // The times that size the kernels stay within the longest stage the engine plays: a few digits
    // in a file must not ask for gigabytes. The lengths need no bound, the stage bounds cap them.
    const int64_t longestStage = std::max(iSecondstageus, iThirdstageus);
    const struct {
        const char* key;
        int64_t us;
    } times[] = {{"OFFSET", offset >= 0 ? 0 : maxOffset}, // later harmonics take harmonic 0's
                 {"FADEIN", maxFadeIn},
                 {"FADEOUT", root->chnfo(0)},
                 {"OT2 FADEOUT", root->chnfo(1)}};
    for (const auto& time : times)
        if (time.us > longestStage)
            throw CoreAnsx(time.key) + CoreAnsx(" ") + CoreAnsx(static_cast<long>(time.us)) +
                CoreAnsx(" us of program \"") + sName + CoreAnsx("\" is beyond the longest stage, ") +
                CoreAnsx(static_cast<long>(longestStage)) + CoreAnsx(" us");
    auto samples = [this](int64_t us) { return clampSize(CoreButl::tpfup(iProgramratehz, us)); };
    // OFFSET has no lower bound, and tpfup passes values below 1 through: every length below 1 is 1.
    record.iOffset = atLeastOne(offset >= 0 ? offset : samples(maxOffset));
    record.iFadein = atLeastOne(samples(maxFadeIn));
    record.iFadeout = atLeastOne(samples(root->chnfo(0)));
    record.iSecondbound = samples(iSecondstageus);
    record.iThirdbound = samples(iThirdstageus);
    record.iSecondrequest = std::min(record.iSecondbound, samples(root->chnls(0)));
    record.iCut = atLeastOne(samples(root->chnfo(1)));
    const int thirdLength = root->chnls(1);
    record.iThirdrequest = thirdLength >= 1 ? std::min(samples(thirdLength), record.iThirdbound)
                                            : std::min(record.iSecondrequest, record.iThirdbound);
    logValue("iVtoffset:", record.iOffset);
    logValue("iVtfadein:", record.iFadein);
    logValue("iVtfadeout:", record.iFadeout);
    logValue("iVtlimitsize:", record.iSecondrequest);
    logValue("iVtfadeoutext:", record.iCut);
    logValue("iVtlimitsizeext:", record.iThirdrequest);

    Preparation work(pPool, h);
    for (int j = 0; j < record.pLeafvectors->Count; ++j) {
        CoreVctr* leaf = vectorAt(record.pLeafvectors, j);
        for (int k = 0; k < leaf->getne(); ++k) {
            Element element;
            element.vector = leaf;
            element.name = leaf->getfn(k);
            work.elements.push_back(element);
        }
    }
    readElements(work, reader, keepRate);
    alignElements(work);

    record.iCut = std::min(record.iCut, record.iThirdsize);
    record.bFadesbuilt = true;
    record.pFadeinenvelope = root->newfi(record.iFadein);
    record.pFadeoutenvelope = root->newfo(record.iFadeout);
    record.pEndfadeenvelope = root->newfe(record.iCut);
    if (logs(3)) CoreLog_::debug(CoreAnsx("fades completed"), 3, 3);
    root->chncp(record.iSecondsize, record.iThirdsize, record.iPaddedthirdsize);

    registerKernels(work);
    root->chnip();
    root->chnna(CoreAnsx("VECTOR") + CoreAnsx(static_cast<int>(h)));
    record.pCurrentleft = static_cast<double*>(root->getlc());
    record.pCurrentright = static_cast<double*>(root->getrc());
    iElementsread += static_cast<int32_t>(work.elements.size());
    if (logs(3)) CoreLog_::debug(CoreAnsx("vectors completed"), 3, 3);
}

// The probe (headers only), the rate decision and the read pass.
void CoreProg::readElements(Preparation& work, CoreWvfr* reader, bool keepRate) {
    HLOC& record = pHarmonics[work.h];
    reader->setfr(keepRate ? -1 : iProgramratehz, true);
    for (Element& e : work.elements) {
        try {
            reader->open_(e.name);
        } catch (...) {
            CoreLog_::logfl(CoreAnsx("\"") + e.name + CoreAnsx("\""), 1);
            throw CoreAnsx("");
        }
        e.frames = reader->getdr(false);
        e.framesUp = reader->getdw();
        e.rawFrames = reader->getdr(true);
        iFileratehz = reader->getrr();
        dBytesloaded += static_cast<double>(reader->getca()) * e.frames * CoreButl::iCdoublmaxbytes;
        if (logs(3))
            CoreLog_::debug(CoreAnsx("opened \"") + e.name + CoreAnsx("\":") +
                                CoreAnsx(static_cast<int>(e.frames)),
                            3, 3);
        reader->close();
        work.longestUp = std::max(work.longestUp, e.framesUp);
        work.longest = std::max(work.longest, e.frames);
    }

    // A response too long to convert within the limit, or a short one of harmonic 0, keeps its rate.
    const int64_t limit = CoreButl::tpfup(iFileratehz, iRateconversionus);
    reader->set32(false);
    record.bShortimpulse = work.longestUp < shortResponse;
    if (work.longestUp > limit || (record.bShortimpulse && (work.h == 0 || work.h == iCapacity))) {
        reader->setfr(-1, true);
        work.longest = 0;
        for (Element& e : work.elements) {
            e.frames = e.framesUp = e.rawFrames;
            work.longest = std::max(work.longest, e.rawFrames);
        }
    }
    if (dAlignbalance < 0.0 || dAlignbalance > 1.0) dAlignbalance = 0.0;

    const size_t count = work.elements.size();
    for (size_t i = 0; i < count; ++i) {
        Element& e = work.elements[i];
        if (pProgress != nullptr)
            pProgress->addrw(CoreAnsx(CoreLog_::sCstatsexe) + CoreAnsx(" H") + work.number + CoreAnsx(": ") +
                             CoreAnsx(static_cast<int>(100 * i / count)) + CoreAnsx("%"));
        const int32_t size = std::max(e.framesUp, 1);
        e.left = work.samples(size);
        reader->open_(e.name);
        if (iConvertedratehz == 0 || iConvertedratehz == iFileratehz) iConvertedratehz = reader->getrt();
        e.right = reader->getca() >= 2 ? work.samples(size) : e.left;
        e.frames = reader->getdt(e.framesUp, e.left, e.right);
        reader->close();
        // Only what getdt left unwritten is zeroed.
        std::fill(e.left + e.frames, e.left + size, 0.0);
        if (e.right != e.left) std::fill(e.right + e.frames, e.right + size, 0.0);
    }
}

// Polarity, peaks and sync points, the stage sizes, and each response copied into its new kernels
// so that its sync point lands at the record's offset.
void CoreProg::alignElements(Preparation& work) {
    HLOC& record = pHarmonics[work.h];
    bool positive = false;
    for (Element& e : work.elements) {
        double highest = 0.0;
        double lowest = 0.0;
        double peak = 0.0;
        for (int32_t k = 0; k < e.frames; ++k) {
            highest = std::max(highest, e.left[k]);
            lowest = std::min(lowest, e.left[k]);
            peak = std::max(peak, std::max(std::fabs(e.left[k]), std::fabs(e.right[k])));
        }
        positive = positive || highest > -lowest;
        e.peak = peak == 0.0 ? 1.0 : peak;
    }
    for (size_t i = 0; i < work.elements.size(); ++i) {
        Element& e = work.elements[i];
        e.sync = synch(pPool, e.left, e.right, e.frames, dAlignbalance, bPeakmode, bTrainmode,
                       record.dTrainthreshold, bJittermode, static_cast<int32_t>(i),
                       i == 0 ? 0 : work.elements[0].sync, positive);
    }
    // Sync version 2: every element that is long enough aligns on harmonic 0's first sync index.
    if (iSyncversion >= 2) {
        if (work.h == 0) iFirstsyncindex = work.elements.empty() ? 0 : work.elements[0].sync;
        if (!work.elements.empty() && work.longestUp >= shortResponse)
            for (Element& e : work.elements)
                if (iFirstsyncindex < e.frames) e.sync = iFirstsyncindex;
    }
    int32_t longestTail = 0;
    for (Element& e : work.elements) {
        const int64_t sync = std::max<int64_t>(0, int64_t{e.sync} - iAlignoffsetsamples);
        e.sync = static_cast<int32_t>(std::min<int64_t>(sync, INT32_MAX));
        longestTail = std::max(longestTail, e.frames - std::min(e.sync, e.frames));
    }
    if (logs(3)) CoreLog_::debug(CoreAnsx("peaks detected"), 3, 3);

    if (!record.bThirdon && record.iSecondrequest <= 0 && record.iThirdrequest > 0) record.bThirdon = true;
    record.iLongestimpulse = work.longest;
    record.iLongesttail = longestTail;
    setnp(work.h, record.iSecondrequest, record.iThirdrequest);

    const int32_t length = record.iKernellength;
    for (Element& e : work.elements) e.vector->newip(e.kernelL, e.kernelR, length);
    record.iLongestcontent = 0;
    CoreVctr* root = record.pRoot;
    for (Element& e : work.elements) {
        // A sync index beyond the response (a later element of a train, a negative ALIGNOFFSET)
        // copies nothing from outside it.
        if (e.sync > e.frames && logs(1))
            CoreLog_::debug(CoreAnsx("Warning: sync index beyond the response ") + e.name, 0, 1);
        const int64_t offset = record.iOffset;
        const int64_t start = std::min<int64_t>(std::max<int64_t>(0, e.sync - offset), e.frames);
        const int64_t pad = std::max<int64_t>(0, offset - e.sync);
        const int64_t count = std::max<int64_t>(0, std::min<int64_t>(length - pad - 1, e.frames - start));
        e.start = static_cast<int32_t>(start);
        e.end = static_cast<int32_t>(start + count);
        // The copy flushes zero and denormal values; FORCEMONO puts the left channel in both kernels.
        root->copyd(e.kernelL, e.kernelR, e.left + start, (bForcemono ? e.left : e.right) + start,
                    static_cast<int>(count), static_cast<int>(pad));
        record.iLongestcontent = std::max(record.iLongestcontent, static_cast<int32_t>(count + pad));
        work.releaseSamples(e);
    }
    if (logs(3)) CoreLog_::debug(CoreAnsx("irs synchronized and saved"), 3, 3);
}

// The fade-in, then each element registered under a key that names everything its kernel values and
// their later scaling depend on, inside one registry group.
void CoreProg::registerKernels(Preparation& work) {
    HLOC& record = pHarmonics[work.h];
    CoreVctr* root = record.pRoot;
    const int32_t length = record.iKernellength;
    // The hybrid record's kernels are rewritten in place (trsir, cpyir): they are never shared.
    const bool share = bSharedregistry && work.h != iCapacity;
    // Without a convolver the vectors register nothing (their kernels stay the program's), so no
    // group is opened either.
    CorePlel* registry = record.pConvolver != nullptr ? pRegistry : nullptr;
    CorePlel::GroupGuard group(registry, CoreButl::getfn(pFiles->getll(), false), share);
    size_t next = 0;
    for (int j = 0; j < record.pLeafvectors->Count; ++j) {
        CoreVctr* leaf = vectorAt(record.pLeafvectors, j);
        const CoreVctr::GainInputs gain = leaf->gainInputs();
        Fingerprint settings;
        for (double value :
             {double(length), double(record.iThirdsize), double(record.iPaddedthirdsize),
              double(gain.normalise), gain.reference, gain.blend, leaf->getmn(), leaf->getmx()})
            settings.add(value);
        for (int k = 0; k < leaf->getne(); ++k) {
            settings.add(gain.positions[k]);
            settings.add(work.elements[next + k].peak);
        }
        for (int k = 0; k < leaf->getne(); ++k) {
            Element& e = work.elements[next + k];
            root->setfd(e.kernelL, e.kernelR, record.iFadein, record.pFadeinenvelope);
            Fingerprint kernel = settings;
            kernel.add(static_cast<const double*>(e.kernelL), length);
            kernel.add(static_cast<const double*>(e.kernelR), length);
            double* left = static_cast<double*>(e.kernelL);
            double* right = static_cast<double*>(e.kernelR);
            // From here the vector (or the registry) owns them, even when setip fails part way.
            e.kernelL = e.kernelR = nullptr;
            leaf->setip(k, left, right, e.name + CoreAnsx("#") + hexDigits(kernel.value()),
                        record.iLongesttail, iConvertedratehz, e.start, e.end, this, work.h);
            leaf->setpk(k, e.peak);
            leaf->setrz(k, e.start, e.end);
        }
        next += static_cast<size_t>(leaf->getne());
        leaf->setgn(dIrgain);
        if (pRegistrationprobe != nullptr) pRegistrationprobe(work.h, j);
    }
}

// ---- sync search and stage sizes ------------------------------------------------------------------------

int32_t CoreProg::synch(CorePool*, const double* left, const double* right, int32_t n, double balance,
                        bool peakMode, bool trainMode, double threshold, bool jitterMode, int32_t index,
                        int32_t fallback, bool positive) {
    // The negations are taken on the fly, so no negated copies are made.
    const SyncSearch s{left, right, std::max(n, 0), positive ? 1.0 : -1.0, balance};
    auto mix = [&](int32_t k) { return s.mix(k); };
    auto magnitude = [&](int32_t k) { return std::fabs(s.mix(k)); };
    if (peakMode) {
        const int32_t found = s.acrossChannels([](double x) { return x; });
        return found >= 0 ? found : s.acrossChannels([](double x) { return std::fabs(x); });
    }
    if (trainMode && index != 0) return fallback;
    if (trainMode && threshold > 0.0) {
        double largest = 0.0;
        s.largest(mix, largest);
        int32_t found = s.firstAbove(mix, threshold * largest);
        if (found >= 0) return found;
        largest = 0.0;
        s.largest(magnitude, largest);
        found = s.firstAbove(magnitude, threshold * largest);
        return found >= 0 ? found : 0;
    }
    if (jitterMode) {
        const int32_t inLeft = std::max(0, s.largest([&](int32_t k) { return s.sign * left[k]; }));
        const int32_t inRight = std::max(0, s.largest([&](int32_t k) { return s.sign * right[k]; }));
        return static_cast<int32_t>(std::trunc((1.0 - balance) * inLeft + balance * inRight));
    }
    const int32_t found = s.largest(mix);
    if (found >= 0) return found;
    return index == 0 ? s.largest(magnitude) : fallback;
}

bool CoreProg::setnp(int16_t h, int32_t secondRequest, int32_t thirdRequest) {
    if (!isRecord(h)) return false;
    HLOC& record = pHarmonics[h];
    const bool changed = secondRequest != record.iSecondrequest || thirdRequest != record.iThirdrequest;
    record.iSecondrequest = secondRequest;
    record.iThirdrequest = thirdRequest;
    const int64_t base = int64_t{std::max(record.iFadein, record.iOffset)} + 1;
    const int64_t headOut = std::min(base + record.iFadeout, largestSize);
    const int64_t headCut = std::min(base + record.iCut, largestSize);
    const int64_t tail = record.iLongesttail;
    int64_t second =
        CoreButl::setmn(static_cast<int>(std::max(std::min<int64_t>(secondRequest, tail), headOut)), 4);
    int64_t third = std::max({std::min<int64_t>(thirdRequest, tail), headCut, second});
    // Fades are built right after the element kernels: once they exist their length stays, and no
    // stage may read past it.
    const bool kernelsExist = record.bFadesbuilt && record.pRoot != nullptr;
    if (kernelsExist) {
        const int64_t length = record.iKernellength;
        second = std::min(second, length - length % 4);
        third = std::min(third, length);
    }
    record.iSecondsize = clampSize(second);
    record.iThirdsize = clampSize(third);
    record.iThirdblock =
        std::min(std::max(CoreButl::getp2(record.iThirdsize / iCn3blockdivisor), iMinimumblock), iBlockcap);
    record.iPaddedthirdsize = CoreButl::getp2(clampSize(int64_t{record.iThirdsize} + record.iThirdblock - 1));
    if (!kernelsExist) record.iKernellength = std::max(record.iLongesttail, record.iPaddedthirdsize);
    record.iBoundedsizes[0] = static_cast<int32_t>(headOut);
    record.iBoundedsizes[1] = static_cast<int32_t>(headCut);
    record.iBoundedsizes[2] =
        std::max(std::min(record.iSecondbound, record.iLongesttail), record.iSecondsize);
    record.iBoundedsizes[3] = std::max(std::min(record.iThirdbound, record.iLongesttail), record.iThirdsize);
    logValue("iVirn2dim:", record.iSecondsize);
    logValue("iVirn3dim:", record.iThirdsize);
    logValue("iVirn3paddim:", record.iPaddedthirdsize);
    logValue("iVirn3blockdim:", record.iThirdblock);
    logValue("iVirmaxdim:", record.iKernellength);
    return changed;
}
