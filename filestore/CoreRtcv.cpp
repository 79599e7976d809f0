#include "filestore/CoreRtcv.h"

#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/DataRtcv.h"
#include "platform/IppLayer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr double kPi = 3.14159265358979323846;

double* doubles(CorePool* pool, int64_t count) {
    return static_cast<double*>(pool->mallc(0, static_cast<int>(count), "RTCV"));
}

int32_t fftSizeAbove(int64_t n) {
    int32_t size = 1;
    while (size <= n) size *= 2;
    return size;
}

int orderOf(int32_t size) {
    int order = 0;
    while ((1 << order) < size) ++order;
    return order;
}

} // namespace

CoreRtcv::CoreRtcv(CorePool* pool, DataRtcv* table)
    : pPool(pool), pTable(table), pSlots(nullptr), iNext(0), iInput(-1) {
    const int words = static_cast<int>((sizeof(CONVERSIONLOC) * iCconversionlocations + 7) / 8);
    pSlots = static_cast<CONVERSIONLOC*>(pPool->mallc(0, words, "RTCV"));
    for (int i = 0; i < iCconversionlocations; ++i) {
        new (&pSlots[i]) CONVERSIONLOC{};
        pSlots[i].used = false;
    }
}

CoreRtcv::~CoreRtcv() {
    for (int16_t i = 0; i < iCconversionlocations; ++i) dlclc(i);
    pPool->free_(pSlots);
}

double* CoreRtcv::cnvrt(double* data, int32_t n, int32_t& outN, double rate, double& outRate, int16_t row) {
    if (row == -1 && pTable) row = static_cast<int16_t>(pTable->getpt(rate, outRate));
    if (row < 0 || !pTable || row >= pTable->getrc()) {
        outN = n;
        return data;
    }
    outRate = rate * pTable->getcf(row);
    outN = 0;
    if (data == nullptr || n <= 0) return data;

    const int16_t stages = pTable->getst(row);
    bool up = pTable->getfi(row);
    double* current = data;
    int32_t currentN = n;
    double currentRate = rate;
    iInput = -1;
    for (int16_t k = 0; k < stages;) {
        int16_t type;
        int32_t L = 1;
        int32_t M = 1;
        if (!up) {
            type = 1;
            M = pTable->getfc(row, k);
            k += 1;
            up = true;
        } else if (k + 1 < stages) {
            type = 2;
            L = pTable->getfc(row, k);
            M = pTable->getfc(row, static_cast<int16_t>(k + 1));
            k += 2;
        } else {
            type = 0;
            L = pTable->getfc(row, k);
            k += 1;
            up = false;
        }
        const int16_t slot = mkclc(type, currentRate, L, M, currentN);
        if (slot < 0) {
            iInput = -1;
            return data;
        }
        current = apply(slot, current);
        currentN = pSlots[slot].outN;
        currentRate = pSlots[slot].outRate;
        iInput = slot;
    }
    iInput = -1;
    outN = currentN;
    return current;
}

int16_t CoreRtcv::mkclc(int16_t type, double rate, int32_t L, int32_t M, int32_t n) {
    if (type == 0) M = 1;
    if (type == 1) L = 1;
    if (type < 0 || type > 2 || L < 1 || M < 1 || n <= 0) return -1;
    // Lengths in 64 bits: n * L passes 2^31 long before the buffers would.
    const int64_t outN = static_cast<int64_t>(n) * L / M;
    const int64_t N = type == 1 ? std::min<int64_t>(static_cast<int64_t>(iCmaxfilterdim) * M, n)
                                : std::min<int64_t>(iCmaxfilterdim, n) * L;
    const int32_t P = type == 1 ? M : L;
    const int64_t T = (N + P - 1) / P;
    if (T < 2 || outN < 1 || outN > INT_MAX / 2) return -1;

    for (int16_t i = 0; i < iCconversionlocations; ++i) {
        const CONVERSIONLOC& s = pSlots[i];
        if (s.used && s.type == type && s.rate == rate && s.L == L && s.M == M && s.n == n) {
            iNext = static_cast<int16_t>((i + 1) % iCconversionlocations);
            return i;
        }
    }
    if (iNext == iInput) iNext = static_cast<int16_t>((iNext + 1) % iCconversionlocations);
    const int16_t slot = iNext;
    dlclc(slot);
    CONVERSIONLOC& s = pSlots[slot];
    s.type = type;
    s.rate = rate;
    s.L = L;
    s.M = M;
    s.n = n;
    s.outRate = rate * L / M;
    s.outN = static_cast<int32_t>(outN);
    s.N = static_cast<int32_t>(N);
    s.P = P;
    s.T = static_cast<int32_t>(T);
    s.F = fftSizeAbove(2 * T - 1);
    const int32_t c = s.N / 2 - 1;
    s.q = c / P;
    s.r = c % P;
    try {
        build(s);
    } catch (...) {
        dlclc(slot);
        throw;
    }
    s.used = true;
    iNext = static_cast<int16_t>((slot + 1) % iCconversionlocations);
    return slot;
}

void CoreRtcv::build(CONVERSIONLOC& s) {
    if (!newpl(pPool, &s.plan, s.F)) throw CoreAnsx("Rate converter: no FFT of size ") + CoreAnsx(s.F);
    const int64_t F = s.F;
    s.spectra = doubles(pPool, s.P * F);
    s.segment = doubles(pPool, F);
    s.product = doubles(pPool, (s.type == 1 ? 1 : s.P) * F);
    s.pending = doubles(pPool, static_cast<int64_t>(s.type == 1 ? 1 : s.P) * s.T);
    s.output = doubles(pPool, s.outN);

    // The prototype filter: sinc coefficients on the left half, window, mirror,
    // zero tail.
    double* h = doubles(pPool, s.N);
    std::fill(h, h + s.N, 0.0);
    if (s.type == 1)
        fldec(s.N, h, s.M, true);
    else if (s.L > s.M)
        flint(s.N, h, s.L, true);
    else
        flfrc(s.N, h, s.L, s.M, true);
    flblk(s.N, h, iCblkpower, true);
    flhcp(s.N, h);

    // Branch b holds taps b, b + P, b + 2P, ...
    for (int32_t b = 0; b < s.P; ++b) {
        double* spectrum = s.spectra + b * F;
        std::fill(spectrum, spectrum + F, 0.0);
        for (int64_t j = 0; j < s.T; ++j) {
            const int64_t tap = b + j * s.P;
            if (tap < s.N) spectrum[j] = h[tap];
        }
        ippsFFTFwd_RToPack_64f_I(spectrum, s.plan.spec, s.plan.work);
    }
    pPool->free_(h);
}

double* CoreRtcv::apply(int16_t slot, const double* data) {
    if (slot < 0 || slot >= iCconversionlocations || !pSlots[slot].used) return nullptr;
    CONVERSIONLOC& s = pSlots[slot];
    if (s.type == 1)
        ovdec(s, data);
    else
        ovadd(s, data);
    return s.output;
}

int32_t CoreRtcv::getol(int16_t slot) const {
    if (slot < 0 || slot >= iCconversionlocations || !pSlots[slot].used) return 0;
    return pSlots[slot].outN;
}

// Interpolation and rational stages. Output m reads tap t = c + m M of the
// upsampled filter, that is sample t / L of the full convolution of the input
// with branch t mod L. Every branch convolves the whole input; one forward
// transform per input segment serves all branches. After segment s the branch
// convolutions are final at indices [sT, sT + T), and every output whose index
// falls there is taken.
void CoreRtcv::ovadd(CONVERSIONLOC& s, const double* data) {
    const int64_t T = s.T;
    const int64_t F = s.F;
    const int32_t P = s.P;
    std::fill(s.pending, s.pending + P * T, 0.0);
    int64_t branchIndex = s.q; // t / P for the next output
    int32_t phase = s.r;       // t mod P for the next output
    int64_t m = 0;
    const int64_t segments = (static_cast<int64_t>(s.n) + T - 1) / T;
    for (int64_t seg = 0; seg <= segments && m < s.outN; ++seg) {
        const int64_t base = seg * T;
        if (seg < segments) {
            const int64_t count = std::min<int64_t>(T, s.n - base);
            std::memcpy(s.segment, data + base, count * sizeof(double));
            std::fill(s.segment + count, s.segment + F, 0.0);
            ippsFFTFwd_RToPack_64f_I(s.segment, s.plan.spec, s.plan.work);
            for (int32_t b = 0; b < P; ++b) {
                double* z = s.product + b * F;
                double* tail = s.pending + b * T;
                ippsMulPack_64f(s.spectra + b * F, s.segment, z, static_cast<int>(F));
                ippsFFTInv_PackToR_64f_I(z, s.plan.spec, s.plan.work);
                for (int64_t j = 0; j < T; ++j) {
                    z[j] += tail[j];
                    tail[j] = z[T + j];
                }
            }
        } else {
            // No input left: the tails are the last values of the convolutions.
            for (int32_t b = 0; b < P; ++b)
                std::memcpy(s.product + b * F, s.pending + b * T, T * sizeof(double));
        }
        const int64_t end = base + T;
        while (m < s.outN && branchIndex < end) {
            s.output[m] = s.product[phase * F + (branchIndex - base)];
            ++m;
            frcps(branchIndex, phase, s.M, P);
        }
    }
    for (; m < s.outN; ++m) s.output[m] = 0.0; // unreachable for consistent plans; keeps the buffer defined
}

// Decimation stages. With d = c, y[m] = sum over r of (w_r * e_b)[m + q], where
// w_r[j] = x[(j - delay_r) M + r] is the r-th input phase delayed by delay_r =
// q - floor((c - r) / M) (0 or 1) and b = (c - r) mod M picks the branch.
// Branch spectra are summed before one inverse transform per segment.
void CoreRtcv::ovdec(CONVERSIONLOC& s, const double* data) {
    const int64_t T = s.T;
    const int64_t F = s.F;
    const int32_t M = s.M;
    const int64_t n = s.n;
    const int32_t c = s.N / 2 - 1;
    const int64_t q = s.q;
    std::fill(s.pending, s.pending + T, 0.0);
    int64_t longest = 0;
    for (int32_t r = 0; r < M && r < n; ++r) {
        const int64_t a = (c - r) >= 0 ? (c - r) / M : -((r - c + M - 1) / M);
        const int64_t length = q - a + (n - r + M - 1) / M;
        longest = std::max(longest, length);
    }
    const int64_t segments = (longest + T - 1) / T;
    double* sum = s.product;
    int64_t m = 0;
    for (int64_t seg = 0; seg <= segments && m < s.outN; ++seg) {
        const int64_t base = seg * T;
        if (seg < segments) {
            std::fill(sum, sum + F, 0.0);
            for (int32_t r = 0; r < M && r < n; ++r) {
                const int64_t a = (c - r) >= 0 ? (c - r) / M : -((r - c + M - 1) / M);
                const int64_t delay = q - a;
                const int32_t b = static_cast<int32_t>((c - r) - a * M);
                bool any = false;
                for (int64_t j = 0; j < T; ++j) {
                    const int64_t k = (base + j - delay) * M + r;
                    const bool inside = base + j >= delay && k < n;
                    s.segment[j] = inside ? data[k] : 0.0;
                    any = any || inside;
                }
                if (!any) continue;
                std::fill(s.segment + T, s.segment + F, 0.0);
                ippsFFTFwd_RToPack_64f_I(s.segment, s.plan.spec, s.plan.work);
                ippsMulPack_64f_I(s.spectra + b * F, s.segment, static_cast<int>(F));
                ippsAdd_64f_I(s.segment, sum, static_cast<int>(F));
            }
            ippsFFTInv_PackToR_64f_I(sum, s.plan.spec, s.plan.work);
            for (int64_t j = 0; j < T; ++j) {
                sum[j] += s.pending[j];
                s.pending[j] = sum[T + j];
            }
        } else {
            std::memcpy(sum, s.pending, T * sizeof(double));
        }
        const int64_t end = base + T;
        for (; m < s.outN && m + q < end; ++m) s.output[m] = sum[m + q - base];
    }
    for (; m < s.outN; ++m) s.output[m] = 0.0;
}

void CoreRtcv::dlclc(int16_t slot) {
    if (slot < 0 || slot >= iCconversionlocations) return;
    CONVERSIONLOC& s = pSlots[slot];
    delpl(pPool, &s.plan);
    pPool->free_(s.spectra);
    pPool->free_(s.segment);
    pPool->free_(s.product);
    pPool->free_(s.pending);
    pPool->free_(s.output);
    s = CONVERSIONLOC{};
    s.used = false;
}

bool CoreRtcv::newpl(CorePool* pool, IPPPLAN* plan, int32_t size) {
    plan->spec = nullptr;
    plan->work = nullptr;
    plan->size = 0;
    if (size < 1 || (size & (size - 1)) != 0) return false;
    if (ippsFFTInitAlloc_R_64f(&plan->spec, orderOf(size), IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate) !=
        ippStsNoErr)
        return false;
    int bytes = 0;
    if (ippsFFTGetBufSize_R_64f(plan->spec, &bytes) != ippStsNoErr) {
        delpl(pool, plan);
        return false;
    }
    try {
        plan->work = static_cast<Ipp8u*>(pool->mallc(4, bytes, "RTCV"));
    } catch (...) {
        delpl(pool, plan);
        throw;
    }
    plan->size = size;
    return true;
}

void CoreRtcv::delpl(CorePool* pool, IPPPLAN* plan) {
    if (plan->spec) ippsFFTFree_R_64f(plan->spec);
    pool->free_(plan->work);
    plan->spec = nullptr;
    plan->work = nullptr;
    plan->size = 0;
}

void CoreRtcv::flint(int32_t n, double* h, double L, bool half) {
    flfrc(n, h, L, L, half);
}

void CoreRtcv::fldec(int32_t n, double* h, double M, bool half) {
    flfrc(n, h, 1.0, M, half);
}

void CoreRtcv::flfrc(int32_t n, double* h, double gain, double M, bool half) {
    const int32_t c = n / 2 - 1;
    if (c < 0) return;
    h[c] = gain / M;
    for (int32_t k = 1; k <= c; ++k) {
        const double value = std::sin(k * kPi / M) * gain / (k * kPi);
        h[c - k] = value;
        if (!half || c + k <= n / 2) h[c + k] = value;
    }
}

void CoreRtcv::flblk(int32_t n, double* h, double power, bool half) {
    if (n < 2) return;
    const int32_t last = half ? n / 2 : n - 1;
    const int exponent = power > 0.0 ? 1 + std::max(1, static_cast<int>(std::ceil(power))) : 1;
    for (int32_t i = 0; i <= last; ++i) {
        const double t = kPi * i / (n - 1);
        const double w = 0.42 - 0.5 * std::cos(2.0 * t) + 0.08 * std::cos(4.0 * t);
        double factor = w;
        for (int e = 1; e < exponent; ++e) factor *= w;
        h[i] *= factor;
    }
}

void CoreRtcv::flhcp(int32_t n, double* h) {
    const int32_t c = n / 2 - 1;
    if (c < 0) return;
    for (int32_t j = 1; j <= c; ++j) h[c + j] = h[c - j];
    for (int32_t i = 2 * c + 1; i < n; ++i) h[i] = 0.0;
}

void CoreRtcv::frcps(int64_t& q, int32_t& p, int32_t step, int32_t P) {
    p += step;
    if (p >= P) {
        q += p / P;
        p %= P;
    }
}
