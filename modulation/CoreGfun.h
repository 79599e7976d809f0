// CoreGfun: one row of the function table (a waveform of one phase input, or an
// operation of two inputs) with the guarded call that folds the inputs into
// -1..+1 and clamps the result. Rows are owned by a DataGfun and read-only
// after construction; the caller owns the FUNEXTENSION state.
#pragma once
#include "base/CoreAnsx.h"
#include "base/RandomGenerator.h"

#include <cmath>

class CoreGfun {
public:
    // State a caller keeps between calls of one function; only the random-step
    // waveforms read it.
    struct FUNEXTENSION {
        double dPrevphase;         // the folded phase of the previous call
        double dPrevoutput;        // the result of the previous call
        RandomGenerator oRandom{}; // the random steps' own; the caller seeds it
    };
    using FUNCTION = double (*)(double a, double b, FUNEXTENSION* state);

    CoreGfun(const CoreAnsx& key, const CoreAnsx& label, FUNCTION function);
    ~CoreGfun();
    CoreGfun(const CoreGfun&) = delete;
    CoreGfun& operator=(const CoreGfun&) = delete;

    CoreAnsx getky() const { return sKey; }
    CoreAnsx getlb() const { return sLabel; }
    // Inputs outside -1..+1 wrap around with period 2 (+-inf count as +-1, NaN as
    // 0); the result is clamped to -1..+1, a NaN result gives 0.0, and zero or
    // denormal gives +0.0.
    double xtfun(double a, double b, FUNEXTENSION* state) const;

    // The notation the functions are written in; shared by the modulators.
    // flush: +0.0 for zero or denormal (exponent field zero), else x.
    static double flush(double x) {
        const int kind = std::fpclassify(x);
        return (kind == FP_ZERO || kind == FP_SUBNORMAL) ? 0.0 : x;
    }
    // unipl: the unipolar form (x + 1) * 0.5 of a bipolar value.
    static double unipl(double x) { return flush((x + 1.0) * 0.5); }
    // bipol: the bipolar form 2u - 1 of a unipolar value; -1.0 for a zero or
    // denormal u.
    static double bipol(double u) {
        const int kind = std::fpclassify(u);
        if (kind == FP_ZERO || kind == FP_SUBNORMAL) return -1.0;
        return flush(2.0 * u - 1.0);
    }
    // wrapp: a value outside -1..+1 wrapped into it with period 2
    // (B(frac(U(x)))); values inside are returned unchanged. A non-finite x gives
    // NaN; xtfun replaces those before wrapping.
    static double wrapp(double x) {
        if (x >= -1.0 && x <= 1.0) return x;
        const double w = unipl(x);
        return bipol(w - std::floor(w));
    }

private:
    CoreAnsx sKey;
    CoreAnsx sLabel;
    FUNCTION pFunction;
};
