#include "modulation/DataGfun.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

// ---- reference notation, written from the formulas ----
constexpr double kDbMin = -192.64;
constexpr double kPi = 3.141592653589793;

double refFlush(double x) {
    return std::fabs(x) < 2.2250738585072014e-308 ? 0.0 : x;
}
double refU(double x) {
    return refFlush((x + 1.0) / 2.0);
}
double refB(double u) {
    return refFlush(u) == 0.0 ? -1.0 : refFlush(2.0 * u - 1.0);
}
double refD(double u) {
    return u > 0.0 ? std::max(kDbMin, 20.0 * std::log10(u)) : kDbMin;
}
double refN(double d) {
    return (d - kDbMin) / 192.64;
}
double refT(double s) {
    return s > 0.5 ? 2.0 * (1.0 - s) : (s < -0.5 ? -2.0 * (s + 1.0) : 2.0 * s);
}
double refDbLevel(double x) {
    return refB(refN(refD(refU(x))));
}
double refClamp(double y) {
    if (std::isnan(y)) return 0.0;
    return refFlush(std::min(1.0, std::max(-1.0, y)));
}

using Reference = std::function<double(double a, double b)>;

double refStep(double a, int n, double c) {
    return std::floor(a * n * 0.5) * c;
}

const std::vector<std::pair<std::string, Reference>>& waveformReferences() {
    static const std::vector<std::pair<std::string, Reference>> rows = [] {
        std::vector<std::pair<std::string, Reference>> r = {
            {"Sine", [](double a, double) { return std::sin(kPi * a); }},
            {"+Sine", [](double a, double) { return (std::sin(kPi * a) + 1.0) / 2.0; }},
            {"Square", [](double a, double) { return a > 0 ? 1.0 : (a < 0 ? -1.0 : 0.0); }},
            {"+Squar", [](double a, double) { return a > 0 ? 1.0 : (a < 0 ? 0.0 : 0.5); }},
            {"Triang", [](double a, double) { return refT(a); }},
            {"+Trian", [](double a, double) { return (refT(a) + 1.0) / 2.0; }},
            {"Rise S", [](double a, double) { return a; }},
            {"+Rise", [](double a, double) { return (a + 1.0) / 2.0; }},
            {"Fall S", [](double a, double) { return -a; }},
            {"+Fall", [](double a, double) { return (1.0 - a) / 2.0; }},
        };
        const std::vector<std::tuple<int, double, const char*, const char*>> steps = {
            {3, 2.0 / 3.0, "3 Step", "+3 Ste"}, {4, 0.5, "4 Step", "+4 Ste"},
            {5, 0.4, "5 Step", "+5 Ste"},       {6, 1.0 / 3.0, "6 Step", "+6 Ste"},
            {7, 2.0 / 7.0, "7 Step", "+7 Ste"}, {8, 0.25, "8 Step", "+8 Ste"},
            {10, 0.2, "10 Ste", "+10 St"},      {12, 1.0 / 6.0, "12 Ste", "+12 St"},
        };
        for (const auto& [n, c, plain, positive] : steps) {
            const int steps = n;
            const double height = c;
            r.push_back({plain, [steps, height](double a, double) { return refStep(a, steps, height); }});
            r.push_back({positive, [steps, height](double a, double) {
                             return (refStep(a, steps, height) + 1.0) / 2.0;
                         }});
        }
        r.push_back({"Ramp", [](double a, double) { return a; }});
        return r;
    }();
    return rows;
}

const std::vector<std::pair<std::string, Reference>>& operationReferences() {
    static const std::vector<std::pair<std::string, Reference>> rows = {
        {"a", [](double a, double) { return a; }},
        {"Db(a)-Db(b)", [](double a, double b) { return refDbLevel(a) - refDbLevel(b); }},
        {"ScaleDb a to b",
         [](double a, double b) {
             const double m = kDbMin * (1.0 - refU(b));
             return refB(std::pow(10.0, refFlush(m * (1.0 - refU(a))) / 20.0));
         }},
        {"a+b", [](double a, double b) { return a + b; }},
        {"a-b", [](double a, double b) { return a - b; }},
        {"(a+b)/2", [](double a, double b) { return (a + b) / 2.0; }},
        {"a/2+b", [](double a, double b) { return a / 2.0 + b; }},
        {"a/4+b/2", [](double a, double b) { return a / 4.0 + b / 2.0; }},
        {"(a+2b)/3", [](double a, double b) { return (a + 2.0 * b) / 3.0; }},
        {"a*b", [](double a, double b) { return a * b; }},
        {"-a*b", [](double a, double b) { return -(a * b); }},
        {"a*10^b", [](double a, double b) { return a * std::pow(10.0, b); }},
        {"|a+b|", [](double a, double b) { return std::fabs(a + b); }},
        {"|a-b|", [](double a, double b) { return std::fabs(a - b); }},
        {"min(a,b)", [](double a, double b) { return std::min(a, b); }},
        {"max(a,b)", [](double a, double b) { return std::max(a, b); }},
        {"Quantize b to a",
         [](double a, double b) {
             const double q = std::floor(16.0 * a);
             return refB(std::floor(refU(b) * q) / q);
         }},
        {"b/(1-a)", [](double a, double b) { return b / (1.0 - a); }},
        {"(a+b)^2", [](double a, double b) { return std::pow(a + b, 2.0); }},
        {"sin(a+b)", [](double a, double b) { return std::sin(kPi * (a + b)); }},
        {"cos(a+b)", [](double a, double b) { return std::cos(kPi * (a + b)); }},
        {"tri(a+b)", [](double a, double b) { return refT(a + b); }},
        {"warp(a,b)",
         [](double a, double b) {
             const double m = std::fabs(a);
             if (b > m) return (b - 1.0) / (m - 1.0);
             if (b < -m) return (b + 1.0) / (m - 1.0);
             return b / m;
         }},
        {"a AND b", [](double a, double b) { return (a > 0 && b > 0) ? 1.0 : 0.0; }},
        {"a OR b", [](double a, double b) { return (a > 0 || b > 0) ? 1.0 : 0.0; }},
        {"ramp(f=a+b)", [](double a, double b) { return 25.0 * (a + b); }},
        {"ramp(f=a-b)", [](double a, double b) { return 25.0 * (a - b); }},
        {"ramp(f=(a+b)/4)", [](double a, double b) { return 25.0 * (a + b) / 4.0; }},
        {"ramp(f=a*b)", [](double a, double b) { return 25.0 * a * b; }},
        {"ramp(f=-a*b)", [](double a, double b) { return -25.0 * a * b; }},
        {"ramp(f=a*10^b)", [](double a, double b) { return 25.0 * a * std::pow(10.0, b); }},
        {"Diode(a-b)", [](double a, double b) { return std::max(0.0, a - b); }},
        {"Diode(a-b+.5)", [](double a, double b) { return std::max(0.0, a - b + 0.5); }},
        {"Diode(a-b-.5)", [](double a, double b) { return std::max(0.0, a - b - 0.5); }},
        {"Diode(a-b+.25)", [](double a, double b) { return std::max(0.0, a - b + 0.25); }},
        {"a(*unipolar)b", [](double a, double b) { return refB(refU(a) * refU(b)); }},
        {"a(/unipolar)b", [](double a, double b) { return refB(refU(a) / refU(b)); }},
        {"Db(a)", [](double a, double) { return refDbLevel(a); }},
        {"gainpad+",
         [](double a, double b) {
             const double d = -refD(refU(b));
             const double p1 = std::pow(10.0, d / 20.0);
             const double p2 = std::pow(10.0, refFlush(refU(a) * d) / 20.0);
             return refB((1.0 - p2) / (p1 == 1.0 ? 1.0 : 1.0 - p1));
         }},
        {"gainpad-",
         [](double a, double b) {
             const double u = refU(b);
             const double p = std::pow(10.0, refFlush(refD(u) * refU(a)) / 20.0);
             return refB((1.0 - p) / (u == 1.0 ? 1.0 : 1.0 - u));
         }},
        {"ScaleDb(a,b)",
         [](double a, double b) { return refB(std::pow(10.0, refFlush(refD(refU(b)) * refU(a)) / 20.0)); }},
        {"exp(a,1/b)", [](double a, double b) { return refB(std::pow(refU(a), 1.0 / refU(b))); }},
        {"a*unipolar(b)", [](double a, double b) { return a * refU(b); }},
        {"ZelkII", [](double a, double) { return a; }},
        {"StoreBipolarDb",
         [](double a, double b) {
             return refB(std::pow(10.0, refFlush(-refD(refU(b)) * a) / 20.0) * std::pow(10.0, -96.32 / 20.0));
         }},
    };
    return rows;
}

const std::vector<std::string> kRandomKeys = {"3 Rand", "4 Rand", "5 Rand", "8 Rand", "10 Ran", "12 Ran"};
const std::vector<int> kRandomCounts = {6, 8, 10, 16, 20, 24};

std::vector<double> grid() {
    std::vector<double> values;
    for (int i = -8; i <= 8; i++) values.push_back(i / 8.0);
    return values;
}

// ---- table layout ----

TEST(DataGfun, RowsCarryTheirKeysAndLabels) {
    DataGfun table;
    ASSERT_EQ(table.getnm(0), 33);
    ASSERT_EQ(table.getnm(1), 45);
    const std::map<std::string, std::string> waveformLabels = {
        {"+Sine", "Positive Sine"},     {"+Squar", "Positive Square"},
        {"Triang", "Triangle"},         {"+Trian", "Positive Triangle"},
        {"Rise S", "Rising Sawtooth"},  {"+Rise", "Positive Rising Sawtooth"},
        {"Fall S", "Falling Sawtooth"}, {"+Fall", "Positive Falling Sawtooth"},
        {"+3 Ste", "Positive 3 Step"},  {"+4 Ste", "Positive 4 Step"},
        {"+5 Ste", "Positive 5 Step"},  {"+6 Ste", "Positive 6 Step"},
        {"+7 Ste", "Positive 7 Step"},  {"+8 Ste", "Positive 8 Step"},
        {"10 Ste", "10 Step"},          {"+10 St", "Positive 10 Step"},
        {"12 Ste", "12 Step"},          {"+12 St", "Positive 12 Step"},
    };
    std::vector<std::string> waveformKeys;
    for (const auto& row : waveformReferences()) waveformKeys.push_back(row.first);
    for (const auto& key : kRandomKeys) waveformKeys.push_back(key);
    ASSERT_EQ(waveformKeys.size(), 33u);

    CoreAnsx* labels = new CoreAnsx[45];
    CoreAnsx* keys = new CoreAnsx[45];
    table.getgs(0, &labels, &keys);
    for (int i = 0; i < 33; i++) {
        const std::string& key = waveformKeys[i];
        auto label = waveformLabels.find(key);
        EXPECT_EQ(text(keys[i]), key) << i;
        EXPECT_EQ(text(labels[i]), label == waveformLabels.end() ? key : label->second) << i;
        EXPECT_EQ(table.getgf(0, CoreAnsx(key.c_str())), table.getgf(0, keys[i])) << i;
    }
    table.getgs(1, &labels, &keys);
    const auto& operations = operationReferences();
    ASSERT_EQ(operations.size(), 45u);
    for (int i = 0; i < 45; i++) {
        EXPECT_EQ(text(keys[i]), operations[i].first) << i;
        EXPECT_EQ(text(labels[i]), operations[i].first) << i;
    }
    EXPECT_EQ(text(keys[12]), "|a+b|");
    EXPECT_EQ(text(keys[13]), "|a-b|");
    delete[] labels;
    delete[] keys;
}

TEST(DataGfun, LookupByKeyFallsBackToRowZero) {
    DataGfun table;
    CoreGfun* triangle = table.getgf(0, CoreAnsx("Triang"));
    ASSERT_NE(triangle, nullptr);
    EXPECT_EQ(text(triangle->getky()), "Triang");
    EXPECT_EQ(text(table.getgf(0, CoreAnsx("triangle"))->getky()), "Sine");
    EXPECT_EQ(text(table.getgf(0, CoreAnsx("SINE"))->getky()), "Sine");
    EXPECT_EQ(text(table.getgf(1, CoreAnsx(""))->getky()), "a");
    EXPECT_EQ(text(table.getgf(1, CoreAnsx("A+B"))->getky()), "a");
    EXPECT_EQ(text(table.getgf(1, CoreAnsx("ZelkII"))->getky()), "ZelkII");
}

TEST(DataGfun, BadGroupGivesNoRows) {
    DataGfun table;
    for (int group : {-1, 2, 100}) {
        EXPECT_EQ(table.getnm(group), 0);
        EXPECT_EQ(table.getgf(group, CoreAnsx("Sine")), nullptr);
        CoreAnsx* labels = new CoreAnsx[1]{CoreAnsx("keep")};
        CoreAnsx* keys = new CoreAnsx[1]{CoreAnsx("keep")};
        table.getgs(group, &labels, &keys);
        EXPECT_EQ(text(labels[0]), "keep");
        EXPECT_EQ(text(keys[0]), "keep");
        delete[] labels;
        delete[] keys;
    }
}

// ---- values ----

TEST(DataGfun, EveryDeterministicRowMatchesItsFormulaOnTheGrid) {
    DataGfun table;
    const std::vector<double> values = grid();
    for (int group = 0; group < 2; group++) {
        const auto& references = group == 0 ? waveformReferences() : operationReferences();
        for (const auto& [key, reference] : references) {
            CoreGfun* row = table.getgf(group, CoreAnsx(key.c_str()));
            ASSERT_EQ(text(row->getky()), key);
            for (double a : values)
                for (double b : values) {
                    const double expected = refClamp(reference(a, b));
                    const double actual = row->xtfun(a, b, nullptr);
                    EXPECT_NEAR(actual, expected, 1e-12) << key << " a=" << a << " b=" << b;
                }
        }
    }
}

TEST(DataGfun, SpotValues) {
    DataGfun table;
    auto value = [&](int group, const char* key, double a, double b) {
        return table.getgf(group, CoreAnsx(key))->xtfun(a, b, nullptr);
    };
    // Phase folding with period 2.
    EXPECT_NEAR(value(0, "Sine", 1.5, 0.0), value(0, "Sine", -0.5, 0.0), 1e-15);
    EXPECT_NEAR(value(0, "Sine", 1.5, 0.0), -1.0, 1e-15);
    EXPECT_NEAR(value(0, "Rise S", 3.0, 0.0), -1.0, 0.0); // 3.0 folds to -1.0
    EXPECT_NEAR(value(0, "Rise S", -2.5, 0.0), -0.5, 1e-15);
    EXPECT_EQ(value(0, "Square", 0.0, 0.0), 0.0);
    EXPECT_EQ(value(0, "+Squar", 0.0, 0.0), 0.5);
    EXPECT_EQ(value(0, "3 Step", -1.0, 0.0), -1.0);
    EXPECT_EQ(value(0, "3 Step", 0.9, 0.0), 0.6666666666666666);
    EXPECT_EQ(value(0, "+3 Ste", 0.9, 0.0), 0.5 * 0.6666666666666666 + 0.5);
    EXPECT_EQ(value(0, "8 Step", 1.0, 0.0), 1.0);
    // b/(1-a) at a = 1: +-infinity clamps; 0/0 gives 0.
    EXPECT_EQ(value(1, "b/(1-a)", 1.0, 0.5), 1.0);
    EXPECT_EQ(value(1, "b/(1-a)", 1.0, -0.5), -1.0);
    EXPECT_EQ(value(1, "b/(1-a)", 1.0, 0.0), 0.0);
    EXPECT_EQ(value(1, "a AND b", 1.0, -1.0), 0.0);
    EXPECT_EQ(value(1, "a AND b", 0.5, 0.25), 1.0);
    EXPECT_EQ(value(1, "a OR b", -0.5, 0.25), 1.0);
    EXPECT_EQ(value(1, "ZelkII", 0.3, 0.0), 0.3);
    // Hand-computed values.
    EXPECT_NEAR(value(1, "Db(a)", 0.0, 0.0), 0.9374937716644558, 1e-12); // U = 0.5 is -6.02 dB
    EXPECT_NEAR(value(1, "ScaleDb(a,b)", 0.0, 0.0), std::sqrt(2.0) - 1.0, 1e-12);
    EXPECT_NEAR(value(1, "exp(a,1/b)", 0.0, 0.0), -0.5, 1e-12);      // 0.5^2 = 0.25
    EXPECT_NEAR(value(1, "Quantize b to a", 0.5, 0.3), 0.25, 1e-12); // q = 8, floor(5.2) / 8
    EXPECT_NEAR(value(1, "warp(a,b)", 0.5, 0.75), 0.5, 1e-12);
    EXPECT_NEAR(value(1, "gainpad+", 0.5, 0.0), 0.363585661014858, 1e-12);
    EXPECT_NEAR(value(1, "gainpad-", 0.5, 0.0), 0.621585769994558, 1e-12);
    EXPECT_NEAR(value(1, "StoreBipolarDb", 0.5, 0.0), -0.9999567939072603, 1e-12);
    EXPECT_NEAR(value(1, "StoreBipolarDb", 0.0, 0.0), 2 * 1.5275660582380732e-05 - 1.0, 1e-15);
    EXPECT_EQ(value(1, "a+b", 0.3, 0.9), 1.0);
    EXPECT_EQ(value(1, "ramp(f=a-b)", -0.5, 0.5), -1.0);
}

TEST(DataGfun, QuantizeWithAZeroStepGivesZero) {
    DataGfun table;
    CoreGfun* quantize = table.getgf(1, CoreAnsx("Quantize b to a"));
    for (double a : {0.0, 0.01, 0.0624})
        for (double b : grid()) EXPECT_EQ(quantize->xtfun(a, b, nullptr), 0.0) << a << " " << b;
}

TEST(DataGfun, EveryRowGivesAFiniteBipolarValueForAnyInput) {
    DataGfun table;
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> inputs = {inf,    -inf,     std::numeric_limits<double>::quiet_NaN(),
                                  1.0,    -1.0,     0.0,
                                  -0.0,   1.0 / 32, -1.0 / 32,
                                  1e-320, -1e-320,  1e300,
                                  -1e300, 2.0,      -3.0};
    for (double g : grid()) inputs.push_back(g);
    CoreGfun::FUNEXTENSION state{0.0, 0.0};
    for (int group = 0; group < 2; group++)
        for (int row = 0; row < table.getnm(group); row++) {
            CoreAnsx* keys = new CoreAnsx[table.getnm(group)];
            CoreAnsx* labels = new CoreAnsx[table.getnm(group)];
            table.getgs(group, &labels, &keys);
            CoreGfun* function = table.getgf(group, keys[row]);
            for (double a : inputs)
                for (double b : inputs) {
                    const double y = function->xtfun(a, b, &state);
                    ASSERT_TRUE(std::isfinite(y)) << text(keys[row]) << " a=" << a << " b=" << b;
                    ASSERT_GE(y, -1.0);
                    ASSERT_LE(y, 1.0);
                    ASSERT_TRUE(y == 0.0 ? !std::signbit(y) : std::fabs(y) >= 2.2250738585072014e-308);
                    state = {a, y};
                }
            delete[] keys;
            delete[] labels;
        }
}

TEST(DataGfun, NonFiniteInputsCountAsTheirLimits) {
    DataGfun table;
    CoreGfun* identity = table.getgf(1, CoreAnsx("a"));
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(identity->xtfun(inf, 0.0, nullptr), 1.0);
    EXPECT_EQ(identity->xtfun(-inf, 0.0, nullptr), -1.0);
    EXPECT_EQ(identity->xtfun(std::numeric_limits<double>::quiet_NaN(), 0.0, nullptr), 0.0);
    CoreGfun* second = table.getgf(1, CoreAnsx("a*unipolar(b)"));
    EXPECT_EQ(second->xtfun(0.5, inf, nullptr), 0.5);
    EXPECT_EQ(second->xtfun(0.5, -inf, nullptr), 0.0);
}

// ---- random steps ----

TEST(DataGfun, RandomStepHoldsItsValueWithinAStep) {
    DataGfun table;
    CoreGfun* row = table.getgf(0, CoreAnsx("3 Rand"));
    CoreGfun::FUNEXTENSION state{-0.95, 0.123, RandomGenerator(7)};
    RandomGenerator untouched(7);
    // floor(-0.9 * 6) = floor(-0.95 * 6) = -6: the previous output, and no draw.
    EXPECT_EQ(row->xtfun(-0.9, 0.0, &state), 0.123);
    EXPECT_EQ(state.oRandom.next(), untouched.next());
}

TEST(DataGfun, RandomStepDrawsInRangeOnANewStepAndWithoutState) {
    DataGfun table;
    CoreGfun* row = table.getgf(0, CoreAnsx("3 Rand"));
    for (int i = 0; i < 200; i++) {
        CoreGfun::FUNEXTENSION state{-0.95, 5.0}; // a held value that no draw gives
        const double y = row->xtfun(-0.5, 0.0, &state);
        EXPECT_NE(y, 5.0);
        EXPECT_GE(y, -1.0);
        EXPECT_LE(y, 1.0);
        const double unheld = row->xtfun(-0.9, 0.0, nullptr);
        EXPECT_GE(unheld, -1.0);
        EXPECT_LE(unheld, 1.0);
    }
}

TEST(DataGfun, OneCycleOfThePhaseDrawsTwoKValues) {
    DataGfun table;
    for (size_t r = 0; r < kRandomKeys.size(); r++) {
        CoreGfun* row = table.getgf(0, CoreAnsx(kRandomKeys[r].c_str()));
        const int draws = 2 * kRandomCounts[r];
        // The (draws + 1)-th value of the seeded sequence, to count the draws made by one cycle.
        RandomGenerator counted(1234);
        for (int i = 0; i < draws; i++) counted.next();
        const uint64_t expectedNext = counted.next();

        CoreGfun::FUNEXTENSION state{0.0, 0.0, RandomGenerator(1234)};
        const int stepsPerCycle = 2000;
        for (int i = 0; i < stepsPerCycle; i++) {
            const double phase = -1.0 + 2.0 * i / stepsPerCycle;
            state.dPrevoutput = row->xtfun(phase, 0.0, &state);
            state.dPrevphase = phase;
        }
        EXPECT_EQ(state.oRandom.next(), expectedNext) << kRandomKeys[r];
    }
}

} // namespace
