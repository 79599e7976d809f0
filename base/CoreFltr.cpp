#include "base/CoreFltr.h"

#include "base/CoreButl.h"

#include <cfloat>
#include <cmath>

namespace {

// Zero, negative zero and subnormals (exponent field zero, so magnitude below DBL_MIN) are stored
// as +0.0. Compared as a double, which stays in the vector unit on the audio path.
inline double flushed(double value) {
    return std::fabs(value) < DBL_MIN ? 0.0 : value;
}

} // namespace

CoreFltr::CoreFltr(iCfilter, int order)
    : iSections(order > 0 ? order / 2 : 0), iActive(0), pSections(nullptr) {
    if (iSections > 0) pSections = new Section[iSections]();
}

CoreFltr::~CoreFltr() {
    delete[] pSections;
}

void CoreFltr::setvl(double frequency, double q, double rate, int order) {
    const double t = std::tan(CoreButl::dCpi * frequency / rate);
    iActive = order / 2 < iSections ? order / 2 : iSections;
    if (iActive < 1) {
        iActive = 0;
        return;
    }
    const double d = (CoreButl::dCsqrt2 - q * CoreButl::dCsqrt2 + t) * t;
    // A negative d (negative frequency, a frequency between about 0.7 x rate and rate, a large q)
    // makes every section diverge and d = -1 divides by zero; a zero rate gives no number at all.
    // Followers pass program-controlled frequencies here, so such settings switch the cascade off.
    if (!(rate > 0.0) || !std::isfinite(t) || !std::isfinite(d) || d < 0.0) {
        iActive = 0;
        return;
    }
    const double a = flushed(1.0 / (d + 1.0));
    const double b = flushed(1.0 - d);
    for (int i = 0; i < iActive; ++i) {
        pSections[i].a = a;
        pSections[i].b = b;
    }
}

double CoreFltr::prcss(double x) {
    if (iActive < 1) return x;
    double y = x;
    for (int i = 0; i < iActive; ++i) {
        Section& section = pSections[i];
        // The input difference is taken first: for a constant input it is exactly 0, so the output
        // decays to +0.0 instead of being held at a rounding step of a * y + x.
        y = flushed((section.a * section.output + (x - section.previousInput)) * section.b);
        section.output = y;
        section.previousInput = x;
        x = y;
    }
    if (!std::isfinite(y)) {
        // Samples near the largest double overflowed a section, whose memory would then stay
        // infinite or NaN for good: the cascade starts again from rest.
        for (int i = 0; i < iSections; ++i) pSections[i].previousInput = pSections[i].output = 0.0;
        return 0.0;
    }
    return y;
}
