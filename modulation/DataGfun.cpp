#include "modulation/DataGfun.h"

#include "base/CoreButl.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace {

using FUNEXTENSION = CoreGfun::FUNEXTENSION;

double flush(double x) {
    return CoreGfun::flush(x);
}
double unipolar(double x) {
    return CoreGfun::unipl(x);
}
double bipolar(double u) {
    return CoreGfun::bipol(u);
}

// Level in dB of a linear value, never below the dB floor.
double levelDb(double u) {
    if (u > 0.0) {
        const double db = 20.0 * std::log10(u);
        return db > CoreButl::dCdbmin ? db : CoreButl::dCdbmin;
    }
    return CoreButl::dCdbmin;
}

// A level in dB mapped from dbmin..0 onto 0..1.
double normalDb(double db) {
    return (db - CoreButl::dCdbmin) * CoreButl::dCdbfact;
}

double triangle(double s) {
    if (s > 0.5) return 2.0 * (1.0 - s);
    if (s < -0.5) return -2.0 * (s + 1.0);
    return 2.0 * s;
}

double positive(double y) {
    return 0.5 * y + 0.5;
}

// ---- group 0: waveforms of the phase a ----

double sine(double a, double, FUNEXTENSION*) {
    return std::sin(CoreButl::dCpi * a);
}
double positiveSine(double a, double, FUNEXTENSION*) {
    return 0.5 * std::sin(CoreButl::dCpi * a) + 0.5;
}
double square(double a, double, FUNEXTENSION*) {
    return a > 0.0 ? 1.0 : (a < 0.0 ? -1.0 : 0.0);
}
double positiveSquare(double a, double, FUNEXTENSION*) {
    return a > 0.0 ? 1.0 : (a < 0.0 ? 0.0 : 0.5);
}
double triangleWave(double a, double, FUNEXTENSION*) {
    return triangle(a);
}
double positiveTriangle(double a, double, FUNEXTENSION*) {
    return positive(triangle(a));
}
double risingSaw(double a, double, FUNEXTENSION*) {
    return a;
}
double positiveRisingSaw(double a, double, FUNEXTENSION*) {
    return 0.5 * a + 0.5;
}
double fallingSaw(double a, double, FUNEXTENSION*) {
    return -a;
}
double positiveFallingSaw(double a, double, FUNEXTENSION*) {
    return -0.5 * a + 0.5;
}
double ramp(double a, double, FUNEXTENSION*) {
    return flush(a);
}

// The height of one step of an n-step waveform.
constexpr double stepHeight(int n) {
    switch (n) {
    case 3:
        return 0.6666666666666666;
    case 4:
        return 0.5;
    case 5:
        return 0.4;
    case 6:
        return 0.3333333333333333;
    case 7:
        return 0.2857142857142857;
    case 8:
        return 0.25;
    case 10:
        return 0.2;
    default:
        return 0.16666666666666666; // 12
    }
}

// n steps over one cycle; the lowest step of the plain form lies below -1 and
// is clamped by xtfun.
template <int N>
double step(double a, double, FUNEXTENSION*) {
    return std::floor(a * N * 0.5) * stepHeight(N);
}
template <int N>
double positiveStep(double a, double b, FUNEXTENSION* state) {
    return positive(step<N>(a, b, state));
}

// k held values per unit of phase (2k per cycle): the previous output is held
// while floor(a k) is unchanged; otherwise a new value is drawn from the
// caller's generator in its state. Without state there is nothing to draw
// from: the value then follows from the phase alone.
template <int K>
double randomStep(double a, double, FUNEXTENSION* state) {
    if (state != nullptr && std::floor(a * K) == std::floor(state->dPrevphase * K)) return state->dPrevoutput;
    const double r =
        state != nullptr ? state->oRandom.uniform() : RandomGenerator(std::bit_cast<uint64_t>(a)).uniform();
    return 2.0 * r - 1.0;
}

// ---- group 1: operations of a and b ----

double opA(double a, double, FUNEXTENSION*) {
    return a;
}
double opDbDifference(double a, double b, FUNEXTENSION*) {
    return bipolar(normalDb(levelDb(unipolar(a)))) - bipolar(normalDb(levelDb(unipolar(b))));
}
double opScaleDbAToB(double a, double b, FUNEXTENSION*) {
    const double m = CoreButl::dCdbmin - unipolar(b) * CoreButl::dCdbmin;
    const double x = flush(m - unipolar(a) * m);
    return bipolar(std::pow(10.0, x / 20.0));
}
double opSum(double a, double b, FUNEXTENSION*) {
    return a + b;
}
double opDifference(double a, double b, FUNEXTENSION*) {
    return a - b;
}
double opMean(double a, double b, FUNEXTENSION*) {
    return (a + b) * 0.5;
}
double opHalfAPlusB(double a, double b, FUNEXTENSION*) {
    return 0.5 * a + b;
}
double opQuarterAPlusHalfB(double a, double b, FUNEXTENSION*) {
    return 0.25 * a + 0.5 * b;
}
double opWeightedMean(double a, double b, FUNEXTENSION*) {
    return (a + 2.0 * b) * 0.33333333333333;
}
double opProduct(double a, double b, FUNEXTENSION*) {
    return a * b;
}
double opNegProduct(double a, double b, FUNEXTENSION*) {
    return -a * b;
}
double opATimesPow10B(double a, double b, FUNEXTENSION*) {
    return a * std::pow(10.0, b);
}
double opAbsSum(double a, double b, FUNEXTENSION*) {
    return std::fabs(a + b);
}
double opAbsDifference(double a, double b, FUNEXTENSION*) {
    return std::fabs(a - b);
}
double opMin(double a, double b, FUNEXTENSION*) {
    return a < b ? a : b;
}
double opMax(double a, double b, FUNEXTENSION*) {
    return a > b ? a : b;
}
// For 0 <= a < 1/16, q is 0 and this is 0/0; xtfun turns the NaN into 0.0.
double opQuantize(double a, double b, FUNEXTENSION*) {
    const double q = std::floor(16.0 * a);
    return bipolar(std::floor(unipolar(b) * q) / q);
}
double opBOverOneMinusA(double a, double b, FUNEXTENSION*) {
    return b / (1.0 - a);
}
double opSquaredSum(double a, double b, FUNEXTENSION*) {
    return (a + b) * (a + b);
}
double opSinSum(double a, double b, FUNEXTENSION*) {
    return std::sin(CoreButl::dCpi * (a + b));
}
double opCosSum(double a, double b, FUNEXTENSION*) {
    return std::cos(CoreButl::dCpi * (a + b));
}
double opTriSum(double a, double b, FUNEXTENSION*) {
    return triangle(a + b);
}
double opWarp(double a, double b, FUNEXTENSION*) {
    const double m = std::fabs(a);
    if (b > m) return (b - 1.0) / (m - 1.0);
    if (b < -m) return (b + 1.0) / (m - 1.0);
    return b / m;
}
double opAnd(double a, double b, FUNEXTENSION*) {
    return (a > 0.0 && b > 0.0) ? 1.0 : 0.0;
}
double opOr(double a, double b, FUNEXTENSION*) {
    return (a > 0.0 || b > 0.0) ? 1.0 : 0.0;
}
double opRampSum(double a, double b, FUNEXTENSION*) {
    return 25.0 * (a + b);
}
double opRampDifference(double a, double b, FUNEXTENSION*) {
    return 25.0 * (a - b);
}
double opRampQuarterSum(double a, double b, FUNEXTENSION*) {
    return 25.0 * (a + b) * 0.25;
}
double opRampProduct(double a, double b, FUNEXTENSION*) {
    return 25.0 * a * b;
}
double opRampNegProduct(double a, double b, FUNEXTENSION*) {
    return -25.0 * a * b;
}
double opRampATimesPow10B(double a, double b, FUNEXTENSION*) {
    return 25.0 * a * std::pow(10.0, b);
}
double diode(double x) {
    return x > 0.0 ? x : 0.0;
}
double opDiode(double a, double b, FUNEXTENSION*) {
    return diode(a - b);
}
double opDiodePlusHalf(double a, double b, FUNEXTENSION*) {
    return diode(a - b + 0.5);
}
double opDiodeMinusHalf(double a, double b, FUNEXTENSION*) {
    return diode(a - b - 0.5);
}
double opDiodePlusQuarter(double a, double b, FUNEXTENSION*) {
    return diode(a - b + 0.25);
}
double opUnipolarProduct(double a, double b, FUNEXTENSION*) {
    return bipolar(unipolar(a) * unipolar(b));
}
double opUnipolarQuotient(double a, double b, FUNEXTENSION*) {
    return bipolar(unipolar(a) / unipolar(b));
}
double opDbOfA(double a, double, FUNEXTENSION*) {
    return bipolar(normalDb(levelDb(unipolar(a))));
}
// Both gain pads run from 0 at U(a) = 0 to 1 at U(a) = 1 before the bipolar
// conversion.
double opGainpadPlus(double a, double b, FUNEXTENSION*) {
    const double d = -levelDb(unipolar(b));
    const double e = flush(unipolar(a) * d);
    const double p1 = std::pow(10.0, d / 20.0);
    const double p2 = std::pow(10.0, e / 20.0);
    return bipolar((1.0 - p2) / (1.0 - (p1 == 1.0 ? 0.0 : p1)));
}
double opGainpadMinus(double a, double b, FUNEXTENSION*) {
    const double u = unipolar(b);
    const double e = flush(levelDb(u) * unipolar(a));
    const double p = std::pow(10.0, e / 20.0);
    return bipolar((1.0 - p) / (1.0 - (u == 1.0 ? 0.0 : u)));
}
double opScaleDb(double a, double b, FUNEXTENSION*) {
    const double e = flush(levelDb(unipolar(b)) * unipolar(a));
    return bipolar(std::pow(10.0, e / 20.0));
}
double opExponent(double a, double b, FUNEXTENSION*) {
    return bipolar(std::pow(unipolar(a), 1.0 / unipolar(b)));
}
double opATimesUnipolarB(double a, double b, FUNEXTENSION*) {
    return unipolar(b) * a;
}
double opZelk(double a, double, FUNEXTENSION*) {
    return a;
}
// 1.5275660582380732e-05 is 10^(-96.32 / 20), the level of half the dB floor.
double opStoreBipolarDb(double a, double b, FUNEXTENSION*) {
    const double x = flush(-levelDb(unipolar(b)) * a);
    return bipolar(std::pow(10.0, x / 20.0) * 1.5275660582380732e-05);
}

struct RowSpec {
    const char* key;
    const char* label;
    CoreGfun::FUNCTION function;
};

// Keys are what programs store, so the truncated waveform keys (at most six
// characters) stay.
const RowSpec kWaveforms[DataGfun::iCwaveforms] = {
    {"Sine", "Sine", sine},
    {"+Sine", "Positive Sine", positiveSine},
    {"Square", "Square", square},
    {"+Squar", "Positive Square", positiveSquare},
    {"Triang", "Triangle", triangleWave},
    {"+Trian", "Positive Triangle", positiveTriangle},
    {"Rise S", "Rising Sawtooth", risingSaw},
    {"+Rise", "Positive Rising Sawtooth", positiveRisingSaw},
    {"Fall S", "Falling Sawtooth", fallingSaw},
    {"+Fall", "Positive Falling Sawtooth", positiveFallingSaw},
    {"3 Step", "3 Step", step<3>},
    {"+3 Ste", "Positive 3 Step", positiveStep<3>},
    {"4 Step", "4 Step", step<4>},
    {"+4 Ste", "Positive 4 Step", positiveStep<4>},
    {"5 Step", "5 Step", step<5>},
    {"+5 Ste", "Positive 5 Step", positiveStep<5>},
    {"6 Step", "6 Step", step<6>},
    {"+6 Ste", "Positive 6 Step", positiveStep<6>},
    {"7 Step", "7 Step", step<7>},
    {"+7 Ste", "Positive 7 Step", positiveStep<7>},
    {"8 Step", "8 Step", step<8>},
    {"+8 Ste", "Positive 8 Step", positiveStep<8>},
    {"10 Ste", "10 Step", step<10>},
    {"+10 St", "Positive 10 Step", positiveStep<10>},
    {"12 Ste", "12 Step", step<12>},
    {"+12 St", "Positive 12 Step", positiveStep<12>},
    {"Ramp", "Ramp", ramp},
    {"3 Rand", "3 Rand", randomStep<6>},
    {"4 Rand", "4 Rand", randomStep<8>},
    {"5 Rand", "5 Rand", randomStep<10>},
    {"8 Rand", "8 Rand", randomStep<16>},
    {"10 Ran", "10 Ran", randomStep<20>},
    {"12 Ran", "12 Ran", randomStep<24>},
};

const RowSpec kOperations[DataGfun::iCoperations] = {
    {"a", "a", opA},
    {"Db(a)-Db(b)", "Db(a)-Db(b)", opDbDifference},
    {"ScaleDb a to b", "ScaleDb a to b", opScaleDbAToB},
    {"a+b", "a+b", opSum},
    {"a-b", "a-b", opDifference},
    {"(a+b)/2", "(a+b)/2", opMean},
    {"a/2+b", "a/2+b", opHalfAPlusB},
    {"a/4+b/2", "a/4+b/2", opQuarterAPlusHalfB},
    {"(a+2b)/3", "(a+2b)/3", opWeightedMean},
    {"a*b", "a*b", opProduct},
    {"-a*b", "-a*b", opNegProduct},
    {"a*10^b", "a*10^b", opATimesPow10B},
    {"|a+b|", "|a+b|", opAbsSum},
    {"|a-b|", "|a-b|", opAbsDifference},
    {"min(a,b)", "min(a,b)", opMin},
    {"max(a,b)", "max(a,b)", opMax},
    {"Quantize b to a", "Quantize b to a", opQuantize},
    {"b/(1-a)", "b/(1-a)", opBOverOneMinusA},
    {"(a+b)^2", "(a+b)^2", opSquaredSum},
    {"sin(a+b)", "sin(a+b)", opSinSum},
    {"cos(a+b)", "cos(a+b)", opCosSum},
    {"tri(a+b)", "tri(a+b)", opTriSum},
    {"warp(a,b)", "warp(a,b)", opWarp},
    {"a AND b", "a AND b", opAnd},
    {"a OR b", "a OR b", opOr},
    {"ramp(f=a+b)", "ramp(f=a+b)", opRampSum},
    {"ramp(f=a-b)", "ramp(f=a-b)", opRampDifference},
    {"ramp(f=(a+b)/4)", "ramp(f=(a+b)/4)", opRampQuarterSum},
    {"ramp(f=a*b)", "ramp(f=a*b)", opRampProduct},
    {"ramp(f=-a*b)", "ramp(f=-a*b)", opRampNegProduct},
    {"ramp(f=a*10^b)", "ramp(f=a*10^b)", opRampATimesPow10B},
    {"Diode(a-b)", "Diode(a-b)", opDiode},
    {"Diode(a-b+.5)", "Diode(a-b+.5)", opDiodePlusHalf},
    {"Diode(a-b-.5)", "Diode(a-b-.5)", opDiodeMinusHalf},
    {"Diode(a-b+.25)", "Diode(a-b+.25)", opDiodePlusQuarter},
    {"a(*unipolar)b", "a(*unipolar)b", opUnipolarProduct},
    {"a(/unipolar)b", "a(/unipolar)b", opUnipolarQuotient},
    {"Db(a)", "Db(a)", opDbOfA},
    {"gainpad+", "gainpad+", opGainpadPlus},
    {"gainpad-", "gainpad-", opGainpadMinus},
    {"ScaleDb(a,b)", "ScaleDb(a,b)", opScaleDb},
    {"exp(a,1/b)", "exp(a,1/b)", opExponent},
    {"a*unipolar(b)", "a*unipolar(b)", opATimesUnipolarB},
    {"ZelkII", "ZelkII", opZelk},
    {"StoreBipolarDb", "StoreBipolarDb", opStoreBipolarDb},
};

bool validGroup(int group) {
    return group >= 0 && group < DataGfun::iCgroups;
}

} // namespace

DataGfun::DataGfun()
    : pCounts(new int[iCgroups]{iCwaveforms, iCoperations}), pGroups(new CoreGfun**[iCgroups]) {
    const RowSpec* specs[iCgroups] = {kWaveforms, kOperations};
    for (int group = 0; group < iCgroups; group++) {
        pGroups[group] = new CoreGfun*[pCounts[group]];
        for (int i = 0; i < pCounts[group]; i++) {
            const RowSpec& spec = specs[group][i];
            pGroups[group][i] = new CoreGfun(CoreAnsx(spec.key), CoreAnsx(spec.label), spec.function);
        }
    }
}

DataGfun::~DataGfun() {
    for (int group = 0; group < iCgroups; group++) {
        for (int i = 0; i < pCounts[group]; i++) delete pGroups[group][i];
        delete[] pGroups[group];
    }
    delete[] pGroups;
    delete[] pCounts;
}

int DataGfun::getnm(int group) const {
    return validGroup(group) ? pCounts[group] : 0;
}

void DataGfun::getgs(int group, CoreAnsx** labels, CoreAnsx** keys) const {
    if (!validGroup(group)) return;
    for (int i = 0; i < pCounts[group]; i++) {
        if (labels != nullptr && *labels != nullptr) (*labels)[i] = pGroups[group][i]->getlb();
        if (keys != nullptr && *keys != nullptr) (*keys)[i] = pGroups[group][i]->getky();
    }
}

CoreGfun* DataGfun::getgf(int group, const CoreAnsx& key) const {
    if (!validGroup(group)) return nullptr;
    int found = 0;
    for (int i = 0; i < pCounts[group]; i++)
        if (pGroups[group][i]->getky() == key) found = i;
    return pGroups[group][found];
}
