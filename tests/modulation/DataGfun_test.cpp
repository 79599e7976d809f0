// DataGfun: every row's key, label and values at two points (hand-computed from the formulas), the
// lookup fallbacks, folding and non-finite inputs, finite bipolar results for any input, and random
// steps that agree per seed across threads and follow the uniform distribution.
#include "modulation/DataGfun.h"

#include "tests/modulation/ModulationFixture.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <thread>

using namespace modtest;

// Every row in table order with its value at a first and a second point: the waveforms (group 0) at
// phases 0.3 and -0.55, the operations (group 1) at (a, b) = (0.375, -0.625) and (0.01, 0.02).
// Random steps are `drawn`: only their range is known.
constexpr double drawn = 9.0;
struct Row { const char* key; double first, second; };
const Row rows[] = {
    {"Sine", 0.809016994375, -0.987688340595}, {"+Sine", 0.904508497187, 0.00615582970243}, {"Square", 1, -1},
    {"+Squar", 1, 0}, {"Triang", 0.6, -0.9}, {"+Trian", 0.8, 0.05}, {"Rise S", 0.3, -0.55},
    {"+Rise", 0.65, 0.225}, {"Fall S", -0.3, 0.55}, {"+Fall", 0.35, 0.775}, {"3 Step", 0, -0.666666666667},
    {"+3 Ste", 0.5, 0.166666666667}, {"4 Step", 0, -1}, {"+4 Ste", 0.5, 0}, {"5 Step", 0, -0.8},
    {"+5 Ste", 0.5, 0.1}, {"6 Step", 0, -0.666666666667}, {"+6 Ste", 0.5, 0.166666666667},
    {"7 Step", 0.285714285714, -0.571428571429}, {"+7 Ste", 0.642857142857, 0.214285714286},
    {"8 Step", 0.25, -0.75}, {"+8 Ste", 0.625, 0.125}, {"10 Ste", 0.2, -0.6}, {"+10 St", 0.6, 0.2},
    {"12 Ste", 0.166666666667, -0.666666666667}, {"+12 St", 0.583333333333, 0.166666666667},
    {"Ramp", 0.3, -0.55}, {"3 Rand", drawn, drawn}, {"4 Rand", drawn, drawn}, {"5 Rand", drawn, drawn},
    {"8 Rand", drawn, drawn}, {"10 Ran", drawn, drawn}, {"12 Ran", drawn, drawn}, {"a", 0.375, 0.01},
    {"Db(a)-Db(b)", 0.117165994692, -0.000888454729916}, {"ScaleDb a to b", -0.992831884481, -0.990778779743},
    {"a+b", -0.25, 0.03}, {"a-b", 1, -0.01}, {"(a+b)/2", -0.125, 0.015}, {"a/2+b", -0.4375, 0.025},
    {"a/4+b/2", -0.21875, 0.0125}, {"(a+2b)/3", -0.291666666667, 0.0166666666667}, {"a*b", -0.234375, 0.0002},
    {"-a*b", 0.234375, -0.0002}, {"a*10^b", 0.0889265139623, 0.0104712854805}, {"|a+b|", 0.25, 0.03},
    {"|a-b|", 1, 0.01}, {"min(a,b)", -0.625, 0.01}, {"max(a,b)", 0.375, 0.02},
    {"Quantize b to a", -0.666666666667, 0}, {"b/(1-a)", -1, 0.020202020202}, {"(a+b)^2", 0.0625, 0.0009},
    {"sin(a+b)", -0.707106781187, 0.0941083133185}, {"cos(a+b)", 0.707106781187, 0.995561964603},
    {"tri(a+b)", -0.5, 0.06}, {"warp(a,b)", -0.6, 0.989898989899}, {"a AND b", 0, 1}, {"a OR b", 1, 1},
    {"ramp(f=a+b)", -1, 0.75}, {"ramp(f=a-b)", 1, -0.25}, {"ramp(f=(a+b)/4)", -1, 0.1875},
    {"ramp(f=a*b)", -1, 0.005}, {"ramp(f=-a*b)", 1, -0.005}, {"ramp(f=a*10^b)", 1, 0.261782137013},
    {"Diode(a-b)", 1, 0}, {"Diode(a-b+.5)", 1, 0.49}, {"Diode(a-b-.5)", 0.5, 0}, {"Diode(a-b+.25)", 1, 0.24},
    {"a(*unipolar)b", -0.7421875, -0.4849}, {"a(/unipolar)b", 1, 0.980392156863},
    {"Db(a)", 0.966211109324, 0.938391066885}, {"gainpad+", -0.00265861938328, -0.156933813434},
    {"gainpad-", 0.682793946927, 0.17656096045}, {"ScaleDb(a,b)", -0.367270081878, 0.423485129379},
    {"exp(a,1/b)", -0.728886542438, -0.47610001727}, {"a*unipolar(b)", 0.0703125, 0.0051},
    {"ZelkII", 0.375, 0.01}, {"StoreBipolarDb", -0.999942765945, -0.999969242269}};
constexpr int waveformCount = 33;
const std::map<std::string, std::string> waveformLabels = {
    {"+Sine", "Positive Sine"}, {"+Squar", "Positive Square"}, {"Triang", "Triangle"},
    {"+Trian", "Positive Triangle"}, {"Rise S", "Rising Sawtooth"}, {"+Rise", "Positive Rising Sawtooth"},
    {"Fall S", "Falling Sawtooth"}, {"+Fall", "Positive Falling Sawtooth"}, {"+3 Ste", "Positive 3 Step"},
    {"+4 Ste", "Positive 4 Step"}, {"+5 Ste", "Positive 5 Step"}, {"+6 Ste", "Positive 6 Step"},
    {"+7 Ste", "Positive 7 Step"}, {"+8 Ste", "Positive 8 Step"}, {"10 Ste", "10 Step"},
    {"+10 St", "Positive 10 Step"}, {"12 Ste", "12 Step"}, {"+12 St", "Positive 12 Step"}};

TEST(DataGfun, EveryRowHasItsKeyLabelAndValuesInTableOrder) {
    DataGfun table;
    ASSERT_EQ(table.getnm(0), waveformCount);
    ASSERT_EQ(table.getnm(0) + table.getnm(1), int(std::size(rows)));
    std::vector<CoreAnsx> keys(std::size(rows)), labels(std::size(rows));
    for (int group = 0; group < 2; group++) {
        CoreAnsx* keyArray = keys.data() + group * waveformCount;
        CoreAnsx* labelArray = labels.data() + group * waveformCount;
        table.getgs(group, &labelArray, &keyArray);
    }
    for (size_t i = 0; i < std::size(rows); i++) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.key);
        const int group = i < waveformCount ? 0 : 1;
        const auto label = waveformLabels.find(r.key);
        EXPECT_EQ(text(keys[i]), r.key);
        EXPECT_EQ(text(labels[i]), label == waveformLabels.end() ? r.key : label->second);
        CoreGfun* row = table.getgf(group, r.key);
        ASSERT_EQ(text(row->getky()), r.key);
        const double first = group == 0 ? row->xtfun(0.3, 0.0, nullptr) : row->xtfun(0.375, -0.625, nullptr);
        const double second = group == 0 ? row->xtfun(-0.55, 0.0, nullptr) : row->xtfun(0.01, 0.02, nullptr);
        if (r.first == drawn) { // a draw without a state
            EXPECT_TRUE(std::fabs(first) <= 1.0 && std::fabs(second) <= 1.0);
            continue;
        }
        EXPECT_NEAR(first, r.first, 1e-11);
        EXPECT_NEAR(second, r.second, 1e-11);
    }
}

TEST(DataGfun, LookupFallsBackToRowZeroAndABadGroupGivesNothing) {
    DataGfun table;
    EXPECT_EQ(text(table.getgf(0, "triangle")->getky()), "Sine"); // keys are case-sensitive
    for (int group : {-1, 2}) {
        EXPECT_EQ(table.getgf(group, "a"), nullptr);
        EXPECT_EQ(table.getnm(group), 0);
        CoreAnsx kept[1] = {CoreAnsx("keep")};
        CoreAnsx* array = kept;
        table.getgs(group, &array, &array);
        EXPECT_EQ(text(kept[0]), "keep");
    }
}

TEST(DataGfun, FoldsInputsAndGuardsNonFiniteOnes) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { int group; const char* key; double a, b, expected; };
    const Case cases[] = {
        {0, "Sine", 1.5, 0.0, -1.0}, // phases fold with period 2
        {0, "Rise S", -2.5, 0.0, -0.5},
        {1, "a", inf, 0.0, 1.0}, // infinities count as +-1, NaN as 0
        {1, "a", std::nan(""), 0.0, 0.0},
        {1, "a*unipolar(b)", 0.5, -inf, 0.0},
        {1, "Quantize b to a", 0.0624, -0.7, 0.0}}; // a step below 1/16 is zero: 0, not NaN
    DataGfun table;
    for (const Case& c : cases)
        EXPECT_NEAR(table.getgf(c.group, c.key)->xtfun(c.a, c.b, nullptr), c.expected, 1e-15) << c.key << c.a;
}

TEST(DataGfun, EveryRowGivesAFiniteBipolarValueForAnyInput) {
    const double inf = std::numeric_limits<double>::infinity();
    const double inputs[] = {inf,  -inf, NAN,  -0.0, 1.0 / 32, -1e-320, 1e300,
                             -3.0, -1.0, -0.5, 0.25, 0.75,     1.0};
    DataGfun table;
    CoreGfun::FUNEXTENSION state{0.0, 0.0};
    for (const Row& r : rows) {
        CoreGfun* function = table.getgf(&r - rows < waveformCount ? 0 : 1, r.key);
        for (double a : inputs)
            for (double b : inputs) {
                const double y = function->xtfun(a, b, &state);
                ASSERT_TRUE(std::isfinite(y) && y >= -1.0 && y <= 1.0)
                    << r.key << " " << a << " " << b << ": " << y;
                ASSERT_TRUE(y == 0.0 ? !std::signbit(y) : std::fabs(y) >= 2.2250738585072014e-308) << r.key;
                state = {a, y};
            }
    }
}

// Random steps drawn from objects seeded alike agree whatever another thread draws meanwhile (each
// object owns its generator), and 10^6 of them have the mean and variance of the uniform distribution
// within 1 % (about 17 and 11 standard errors).
TEST(DataGfun, RandomStepsAgreePerSeedWhateverAnotherThreadDrawsAndFollowTheUniformDistribution) {
    DataGfun table;
    const CoreGfun* steps = table.getgf(0, "3 Rand");
    const auto draw = [steps](RandomGenerator& generator) { // a new step on every call
        CoreGfun::FUNEXTENSION state{0.5, 0.0, generator};
        const double value = steps->xtfun(-0.5, 0.0, &state);
        generator = state.oRandom;
        return value;
    };
    std::atomic<bool> stop(false);
    std::thread other([&] {
        RandomGenerator own(99);
        while (!stop.load()) draw(own), (void)std::rand();
    });
    const int n = 1000000;
    RandomGenerator first(42), second(42), third(43);
    bool alike = true;
    double sum = 0.0, squares = 0.0;
    for (int i = 0; i < n; ++i) {
        const double x = draw(first);
        alike = alike && x == draw(second);
        sum += x;
        squares += x * x;
    }
    stop.store(true);
    other.join();
    EXPECT_TRUE(alike);
    EXPECT_NE(draw(third), draw(first));
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(squares / n - (sum / n) * (sum / n), 1.0 / 3.0, 0.01 / 3.0);
}

