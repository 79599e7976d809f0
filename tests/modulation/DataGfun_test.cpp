// DataGfun: every row's key, label and formula against an independent reference, the lookup
// fallbacks, folding and non-finite inputs, finite bipolar results for any input, when random steps
// draw, and random draws that agree per seed across threads and follow the uniform distribution.
#include "modulation/DataGfun.h"

#include "base/CoreButl.h"
#include "tests/modulation/ModulationFixture.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace modtest;

// The notation the formulas are written in, independent of the code under test.
struct Ref {
    static constexpr double dbMin = -192.64;
    static constexpr double pi = 3.141592653589793;
    static double F(double x) { return std::fabs(x) < 2.2250738585072014e-308 ? 0.0 : x; } // flush
    static double U(double x) { return F((x + 1.0) / 2.0); }
    static double B(double u) { return F(u) == 0.0 ? -1.0 : F(2.0 * u - 1.0); }
    static double D(double u) { return u > 0.0 ? std::max(dbMin, 20.0 * std::log10(u)) : dbMin; }
    static double N(double d) { return (d - dbMin) / 192.64; }
    static double T(double s) { return s > 0.5 ? 2.0 * (1.0 - s) : (s < -0.5 ? -2.0 * (s + 1.0) : 2.0 * s); }
    static double dbLevel(double x) { return B(N(D(U(x)))); }
    static double clamp(double y) { return std::isnan(y) ? 0.0 : F(std::min(1.0, std::max(-1.0, y))); }
    static double warp(double a, double b) {
        const double m = std::fabs(a);
        return b > m ? (b - 1.0) / (m - 1.0) : (b < -m ? (b + 1.0) / (m - 1.0) : b / m);
    }
    static double gainpadPlus(double a, double b) {
        const double d = -D(U(b));
        const double p1 = std::pow(10.0, d / 20.0), p2 = std::pow(10.0, F(U(a) * d) / 20.0);
        return B((1.0 - p2) / (p1 == 1.0 ? 1.0 : 1.0 - p1));
    }
    static double gainpadMinus(double a, double b) {
        const double u = U(b), p = std::pow(10.0, F(D(u) * U(a)) / 20.0);
        return B((1.0 - p) / (u == 1.0 ? 1.0 : 1.0 - u));
    }
    template <int n>
    static double step(double a, double) {
        return std::floor(a * n * 0.5) * 2.0 / n;
    }
    template <int n>
    static double positiveStep(double a, double) {
        return (step<n>(a, 0.0) + 1.0) / 2.0;
    }
};

// One row of the table: its reference (null for a random step, which draws `draws` values per cycle)
// and its label when that differs from the key.
struct Function {
    const char* key;
    double (*reference)(double a, double b);
    const char* label = nullptr;
    int draws = 0;
};
#define REF(expression) [](double a, [[maybe_unused]] double b) { return double(expression); }

// clang-format off
const std::vector<Function> waveforms = {
    {"Sine", REF(std::sin(Ref::pi * a))},
    {"+Sine", REF((std::sin(Ref::pi * a) + 1.0) / 2.0), "Positive Sine"},
    {"Square", REF(a > 0 ? 1.0 : (a < 0 ? -1.0 : 0.0))},
    {"+Squar", REF(a > 0 ? 1.0 : (a < 0 ? 0.0 : 0.5)), "Positive Square"},
    {"Triang", REF(Ref::T(a)), "Triangle"}, {"+Trian", REF((Ref::T(a) + 1.0) / 2.0), "Positive Triangle"},
    {"Rise S", REF(a), "Rising Sawtooth"}, {"+Rise", REF((a + 1.0) / 2.0), "Positive Rising Sawtooth"},
    {"Fall S", REF(-a), "Falling Sawtooth"}, {"+Fall", REF((1.0 - a) / 2.0), "Positive Falling Sawtooth"},
    {"3 Step", Ref::step<3>}, {"+3 Ste", Ref::positiveStep<3>, "Positive 3 Step"},
    {"4 Step", Ref::step<4>}, {"+4 Ste", Ref::positiveStep<4>, "Positive 4 Step"},
    {"5 Step", Ref::step<5>}, {"+5 Ste", Ref::positiveStep<5>, "Positive 5 Step"},
    {"6 Step", Ref::step<6>}, {"+6 Ste", Ref::positiveStep<6>, "Positive 6 Step"},
    {"7 Step", Ref::step<7>}, {"+7 Ste", Ref::positiveStep<7>, "Positive 7 Step"},
    {"8 Step", Ref::step<8>}, {"+8 Ste", Ref::positiveStep<8>, "Positive 8 Step"},
    {"10 Ste", Ref::step<10>, "10 Step"}, {"+10 St", Ref::positiveStep<10>, "Positive 10 Step"},
    {"12 Ste", Ref::step<12>, "12 Step"}, {"+12 St", Ref::positiveStep<12>, "Positive 12 Step"},
    {"Ramp", REF(a)}, {"3 Rand", nullptr, nullptr, 12}, {"4 Rand", nullptr, nullptr, 16},
    {"5 Rand", nullptr, nullptr, 20}, {"8 Rand", nullptr, nullptr, 32}, {"10 Ran", nullptr, nullptr, 40},
    {"12 Ran", nullptr, nullptr, 48}};

const std::vector<Function> operations = {
    {"a", REF(a)}, {"Db(a)-Db(b)", REF(Ref::dbLevel(a) - Ref::dbLevel(b))},
    {"ScaleDb a to b",
     REF(Ref::B(std::pow(10.0, Ref::F(Ref::dbMin * (1.0 - Ref::U(b)) * (1.0 - Ref::U(a))) / 20.0)))},
    {"a+b", REF(a + b)}, {"a-b", REF(a - b)}, {"(a+b)/2", REF((a + b) / 2.0)}, {"a/2+b", REF(a / 2.0 + b)},
    {"a/4+b/2", REF(a / 4.0 + b / 2.0)}, {"(a+2b)/3", REF((a + 2.0 * b) / 3.0)}, {"a*b", REF(a * b)},
    {"-a*b", REF(-(a * b))}, {"a*10^b", REF(a * std::pow(10.0, b))}, {"|a+b|", REF(std::fabs(a + b))},
    {"|a-b|", REF(std::fabs(a - b))}, {"min(a,b)", REF(std::min(a, b))}, {"max(a,b)", REF(std::max(a, b))},
    {"Quantize b to a", REF(Ref::B(std::floor(Ref::U(b) * std::floor(16.0 * a)) / std::floor(16.0 * a)))},
    {"b/(1-a)", REF(b / (1.0 - a))}, {"(a+b)^2", REF(std::pow(a + b, 2.0))},
    {"sin(a+b)", REF(std::sin(Ref::pi * (a + b)))}, {"cos(a+b)", REF(std::cos(Ref::pi * (a + b)))},
    {"tri(a+b)", REF(Ref::T(a + b))}, {"warp(a,b)", Ref::warp}, {"a AND b", REF(a > 0 && b > 0)},
    {"a OR b", REF(a > 0 || b > 0)}, {"ramp(f=a+b)", REF(25.0 * (a + b))},
    {"ramp(f=a-b)", REF(25.0 * (a - b))},
    {"ramp(f=(a+b)/4)", REF(25.0 * (a + b) / 4.0)}, {"ramp(f=a*b)", REF(25.0 * a * b)},
    {"ramp(f=-a*b)", REF(-25.0 * a * b)}, {"ramp(f=a*10^b)", REF(25.0 * a * std::pow(10.0, b))},
    {"Diode(a-b)", REF(std::max(0.0, a - b))}, {"Diode(a-b+.5)", REF(std::max(0.0, a - b + 0.5))},
    {"Diode(a-b-.5)", REF(std::max(0.0, a - b - 0.5))}, {"Diode(a-b+.25)", REF(std::max(0.0, a - b + 0.25))},
    {"a(*unipolar)b", REF(Ref::B(Ref::U(a) * Ref::U(b)))},
    {"a(/unipolar)b", REF(Ref::B(Ref::U(a) / Ref::U(b)))},
    {"Db(a)", REF(Ref::dbLevel(a))}, {"gainpad+", Ref::gainpadPlus}, {"gainpad-", Ref::gainpadMinus},
    {"ScaleDb(a,b)", REF(Ref::B(std::pow(10.0, Ref::F(Ref::D(Ref::U(b)) * Ref::U(a)) / 20.0)))},
    {"exp(a,1/b)", REF(Ref::B(std::pow(Ref::U(a), 1.0 / Ref::U(b))))}, {"a*unipolar(b)", REF(a * Ref::U(b))},
    {"ZelkII", REF(a)},
    {"StoreBipolarDb",
     REF(Ref::B(std::pow(10.0, Ref::F(-Ref::D(Ref::U(b)) * a) / 20.0) * std::pow(10.0, -96.32 / 20.0)))}};
// clang-format on

std::vector<double> grid() {
    std::vector<double> values;
    for (int i = -8; i <= 8; i++) values.push_back(i / 8.0);
    return values;
}

// The keys of a group as getgs lists them.
std::vector<CoreAnsx> keysOf(const DataGfun& table, int group, std::vector<CoreAnsx>* labels = nullptr) {
    std::vector<CoreAnsx> keys(45), ownLabels(45);
    CoreAnsx* keyArray = keys.data();
    CoreAnsx* labelArray = (labels ? *labels : ownLabels).data();
    table.getgs(group, &labelArray, &keyArray);
    keys.resize(table.getnm(group));
    return keys;
}

TEST(DataGfun, EveryRowHasItsKeyLabelAndFormulaInTableOrder) {
    DataGfun table;
    for (int group = 0; group < 2; group++) {
        const std::vector<Function>& expected = group == 0 ? waveforms : operations;
        ASSERT_EQ(table.getnm(group), group == 0 ? 33 : 45);
        ASSERT_EQ(size_t(table.getnm(group)), expected.size());
        std::vector<CoreAnsx> labels(45);
        const std::vector<CoreAnsx> keys = keysOf(table, group, &labels);
        for (size_t i = 0; i < expected.size(); i++) {
            const Function& f = expected[i];
            SCOPED_TRACE(f.key);
            EXPECT_EQ(text(keys[i]), f.key);
            EXPECT_EQ(text(labels[i]), f.label ? f.label : f.key);
            CoreGfun* row = table.getgf(group, CoreAnsx(f.key));
            ASSERT_EQ(text(row->getky()), f.key);
            if (f.reference == nullptr) {
                EXPECT_LE(std::fabs(row->xtfun(0.3, 0.0, nullptr)), 1.0); // a draw without a state
                continue;
            }
            for (double a : grid())
                for (double b : grid())
                    EXPECT_NEAR(row->xtfun(a, b, nullptr), Ref::clamp(f.reference(a, b)), 1e-12)
                        << "a=" << a << " b=" << b;
        }
    }
}

TEST(DataGfun, LookupFallsBackToRowZeroAndABadGroupGivesNothing) {
    DataGfun table;
    EXPECT_EQ(text(table.getgf(0, CoreAnsx("triangle"))->getky()), "Sine"); // keys are case-sensitive
    for (int group : {-1, 2}) {
        EXPECT_EQ(table.getgf(group, CoreAnsx("a")), nullptr);
        EXPECT_EQ(table.getnm(group), 0);
        CoreAnsx kept[1] = {CoreAnsx("keep")};
        CoreAnsx* array = kept;
        table.getgs(group, &array, &array);
        EXPECT_EQ(text(kept[0]), "keep");
    }
}

TEST(DataGfun, FoldsInputsGuardsNonFiniteOnesAndMatchesHandComputedValues) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row { int group; const char* key; double a, b, expected, tolerance; };
    const Row rows[] = {
        {0, "Sine", 1.5, 0.0, -1.0, 1e-15}, // phases fold with period 2
        {0, "Rise S", -2.5, 0.0, -0.5, 1e-15},
        {1, "a", inf, 0.0, 1.0, 0.0}, // infinities count as +-1, NaN as 0
        {1, "a", std::nan(""), 0.0, 0.0, 0.0},
        {1, "a*unipolar(b)", 0.5, -inf, 0.0, 0.0},
        {1, "Quantize b to a", 0.0624, -0.7, 0.0, 0.0}, // a step below 1/16 is zero: 0, not NaN
        {1, "gainpad+", 0.5, 0.0, 0.363585661014858, 1e-12},
        {1, "StoreBipolarDb", 0.0, 0.0, 2 * 1.5275660582380732e-05 - 1.0, 1e-15}};
    DataGfun table;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.key) + " a=" + std::to_string(r.a) + " b=" + std::to_string(r.b));
        EXPECT_NEAR(table.getgf(r.group, CoreAnsx(r.key))->xtfun(r.a, r.b, nullptr), r.expected, r.tolerance);
    }
}

TEST(DataGfun, EveryRowGivesAFiniteBipolarValueForAnyInput) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> inputs = {inf,    -inf,    std::nan(""), -0.0,   1.0 / 32, -1.0 / 32,
                                  1e-320, -1e-320, 1e300,        -1e300, 2.0,      -3.0};
    for (double g : grid()) inputs.push_back(g);
    DataGfun table;
    CoreGfun::FUNEXTENSION state{0.0, 0.0};
    for (int group = 0; group < 2; group++)
        for (const CoreAnsx& key : keysOf(table, group)) {
            CoreGfun* function = table.getgf(group, key);
            for (double a : inputs)
                for (double b : inputs) {
                    const double y = function->xtfun(a, b, &state);
                    ASSERT_TRUE(std::isfinite(y) && y >= -1.0 && y <= 1.0)
                        << text(key) << " a=" << a << " b=" << b << " gives " << y;
                    ASSERT_TRUE(y == 0.0 ? !std::signbit(y) : std::fabs(y) >= 2.2250738585072014e-308);
                    state = {a, y};
                }
        }
}

// Random steps: the tests check when values are drawn and their range, never a sequence. The value
// after `draws` draws of the seeded sequence tells how many one cycle of the phase made; a phase
// within the step of the previous one gives the previous output and draws nothing.
TEST(DataGfun, OneCycleOfThePhaseDrawsTwoKValuesAndAStepHoldsItsValue) {
    DataGfun table;
    for (const Function& f : waveforms) {
        if (f.draws == 0) continue;
        RandomGenerator counted(1234);
        for (int i = 0; i < f.draws; i++) counted.next();
        const uint64_t expectedNext = counted.next();
        CoreGfun* row = table.getgf(0, CoreAnsx(f.key));
        CoreGfun::FUNEXTENSION state{0.0, 0.0, RandomGenerator(1234)};
        for (int i = 0; i < 2000; i++) {
            const double phase = -1.0 + i / 1000.0;
            state.dPrevoutput = row->xtfun(phase, 0.0, &state);
            state.dPrevphase = phase;
        }
        EXPECT_EQ(state.oRandom.next(), expectedNext) << f.key;
    }
    CoreGfun::FUNEXTENSION held{-0.95, 0.123, RandomGenerator(7)};
    RandomGenerator untouched(7);
    EXPECT_EQ(table.getgf(0, CoreAnsx("3 Rand"))->xtfun(-0.9, 0.0, &held), 0.123); // floor(-0.9 * 6) = floor(-0.95 * 6)
    EXPECT_EQ(held.oRandom.next(), untouched.next());
}

// The two users of random numbers, each drawing one value from the generator of its object.
struct Drawer {
    const char* name;
    double mean, variance; // of the uniform distribution each should draw from
    std::function<double(RandomGenerator&)> draw;
};

std::vector<Drawer> drawers(const DataGfun& table) {
    const CoreGfun* steps = table.getgf(0, CoreAnsx("3 Rand"));
    const double noiseSpan = 6.0 * 10923.0 / 32767.0; // whtns scales [0, 1) onto about -1 .. +1
    return {{"random step", 0.0, 1.0 / 3.0,
             [steps](RandomGenerator& generator) { // a new step on every call
                 CoreGfun::FUNEXTENSION state{0.5, 0.0, generator};
                 const double value = steps->xtfun(-0.5, 0.0, &state);
                 generator = state.oRandom;
                 return value;
             }},
            {"white noise", 3.0 / 32767.0, noiseSpan * noiseSpan / 12.0, [](RandomGenerator& generator) {
                 double value = 0.0;
                 CoreButl::whtns(&value, 1, 1.0, generator);
                 return value;
             }}};
}

// Objects seeded alike draw alike whatever another thread draws meanwhile, and their draws have the
// mean and variance of the uniform distribution (to about 7 standard errors).
TEST(RandomDraws, ObjectsWithOneSeedAgreeWhateverAnotherThreadDrawsAndFollowTheUniformDistribution) {
    DataGfun table;
    for (const Drawer& d : drawers(table)) {
        SCOPED_TRACE(d.name);
        std::atomic<bool> stop(false);
        std::thread other([&] {
            RandomGenerator own(99);
            while (!stop.load()) {
                d.draw(own);
                (void)std::rand();
            }
        });
        const int n = 200000;
        RandomGenerator first(42), second(42), third(43);
        bool alike = true;
        double sum = 0.0, squares = 0.0;
        for (int i = 0; i < n; ++i) {
            const double x = d.draw(first);
            alike = alike && x == d.draw(second);
            sum += x;
            squares += x * x;
        }
        stop.store(true);
        other.join();
        EXPECT_TRUE(alike);
        EXPECT_NE(d.draw(third), d.draw(first));
        const double mean = sum / n, variance = squares / n - mean * mean;
        EXPECT_NEAR(mean, d.mean, 0.01);
        EXPECT_NEAR(variance, d.variance, 0.01 * d.variance);
    }
}

} // namespace
