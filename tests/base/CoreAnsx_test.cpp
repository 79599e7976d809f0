#include "base/CoreAnsx.h"
#include "tests/common/DecimalCommaLocale.h"

#include <cfloat>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <locale>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

struct NumberCase {
    CoreAnsx value;
    const char* expected;
};

TEST(CoreAnsx, NumericConstructorsFormatLikeCPrintf) {
    const NumberCase cases[] = {
        {CoreAnsx(7), "7"},
        {CoreAnsx(-3), "-3"},
        {CoreAnsx(INT_MIN), "-2147483648"},
        {CoreAnsx(4000000000u), "4000000000"},
        {CoreAnsx(-9000000000L), "-9000000000"},
        {CoreAnsx(18446744073709551615UL), "18446744073709551615"},
        {CoreAnsx(0.1), "0.1"},
        {CoreAnsx(0.5), "0.5"},
        {CoreAnsx(0.00001), "1E-05"},
        {CoreAnsx(44100.0), "44100"},
        {CoreAnsx(1234567.0), "1.23457E+06"},
        {CoreAnsx(-2.5e-300), "-2.5E-300"},
        {CoreAnsx(std::numeric_limits<double>::infinity()), "INF"},
        {CoreAnsx('q'), "q"},
        {CoreAnsx('\0'), ""},
        {CoreAnsx(static_cast<const char*>(nullptr)), ""},
    };
    for (const NumberCase& c : cases) EXPECT_STREQ(c.value.c_str(), c.expected);
}

TEST(CoreAnsx, GrowsInEightByteStepsAndNeverShrinks) {
    EXPECT_EQ(CoreAnsx::alloc(7), 8);
    EXPECT_EQ(CoreAnsx::alloc(8), 16);
    EXPECT_EQ(CoreAnsx::alloc(15), 16);

    CoreAnsx s("abc");
    EXPECT_EQ(s.storedLength(), 4);
    EXPECT_EQ(s.capacity(), 8);
    s += CoreAnsx("defgh");
    EXPECT_STREQ(s.c_str(), "abcdefgh");
    EXPECT_EQ(s.storedLength(), 9);
    EXPECT_EQ(s.capacity(), 16);
    const CoreAnsx shorter("x");
    s = shorter;
    EXPECT_EQ(s.capacity(), 16);
    EXPECT_EQ(s.Length(), 1);
}

TEST(CoreAnsx, StringWithoutBufferReadsAsEmptyText) {
    CoreAnsx none;
    EXPECT_EQ(none.Length(), -1);
    EXPECT_STREQ(none.c_str(), "");
    EXPECT_EQ(CoreAnsx("").Length(), 0);
    EXPECT_TRUE(none == CoreAnsx(""));
    EXPECT_EQ(CoreAnsx(none).Length(), 0); // a copy holds the empty text
    none += CoreAnsx("tail");              // appending to nothing replaces
    EXPECT_STREQ(none.c_str(), "tail");
}

TEST(CoreAnsx, PosAndSubStringCountFromOne) {
    const CoreAnsx hello("Hello");
    EXPECT_EQ(hello.Pos("l"), 3);
    EXPECT_EQ(hello.Pos("z"), 0);
    EXPECT_EQ(hello.AnsiPos("lo"), 4);
    EXPECT_EQ(hello.Pos(""), 1);
    EXPECT_STREQ(hello.SubString(2, 3).c_str(), "ell");
    EXPECT_STREQ(hello.SubString(0, 2).c_str(), "He");
    EXPECT_STREQ(hello.SubString(4, 10).c_str(), "lo");
    EXPECT_EQ(hello.SubString(6, 1).Length(), -1);
    EXPECT_EQ(hello.SubString(2, 0).Length(), 0);
    EXPECT_EQ(hello.SubString(2, -5).Length(), 0);
    EXPECT_STREQ(hello.SubString(1, INT_MAX).c_str(), "Hello");
    EXPECT_EQ(CoreAnsx().SubString(1, 3).Length(), -1);
}

TEST(CoreAnsx, StartWritesAtPositionAndCutsToLimit) {
    CoreAnsx s("xy");
    s.start("abcdef", 3, 3);
    EXPECT_STREQ(s.c_str(), "xyab");
    EXPECT_EQ(s.storedLength(), 5);

    CoreAnsx replaced("keep");
    replaced.start("abc", 0, 0); // limit 0 never writes before the buffer
    EXPECT_EQ(replaced.Length(), 0);
    CoreAnsx cut("xyz");
    cut.start("abc", 3, 0);
    EXPECT_STREQ(cut.c_str(), "xy");

    CoreAnsx gap("ab");
    gap.start("c", 6, -1);
    EXPECT_STREQ(gap.c_str(), "ab   c");
    CoreAnsx fromNothing;
    fromNothing.start(CoreAnsx("z"), 3, -1);
    EXPECT_STREQ(fromNothing.c_str(), "  z");
}

TEST(CoreAnsx, TooLongTextFailsAndKeepsOldText) {
    CoreAnsx s("intact");
    EXPECT_THROW(s.start("abc", INT_MAX, -1), std::length_error);
    EXPECT_STREQ(s.c_str(), "intact");
    EXPECT_EQ(s.storedLength(), 7);
}

TEST(CoreAnsx, AssignmentFromSourceWithoutSignatureDoesNothing) {
    CoreAnsx target("target");
    CoreAnsx source("source");
    char* raw = reinterpret_cast<char*>(&source);
    raw[1] = 12;
    target = source;
    EXPECT_STREQ(target.c_str(), "target");
    raw[1] = 13;
    target = source;
    EXPECT_STREQ(target.c_str(), "source");
}

TEST(CoreAnsx, SelfAssignmentAndSelfAppendSurviveReallocation) {
    CoreAnsx s("0123456"); // full capacity, so every self append moves the buffer
    s = s;
    EXPECT_STREQ(s.c_str(), "0123456");
    s += s;
    EXPECT_STREQ(s.c_str(), "01234560123456");
    s = s + s;
    EXPECT_EQ(std::string(s.c_str()), std::string("01234560123456") + "01234560123456");
    CoreAnsx tail("abcdefg");
    tail.start(tail.c_str() + 2, 8, -1);
    EXPECT_STREQ(tail.c_str(), "abcdefgcdefg");
    CoreAnsx moved(std::move(tail));
    CoreAnsx& alias = moved;
    moved = std::move(alias);
    EXPECT_STREQ(moved.c_str(), "abcdefgcdefg");
}

TEST(CoreAnsx, TrimAndCaseTouchOnlyAscii) {
    EXPECT_STREQ(CoreAnsx("  a b \t").Trim().c_str(), "a b");
    EXPECT_EQ(CoreAnsx("   ").Trim().Length(), 0);
    EXPECT_STREQ(CoreAnsx("\xA0x\xA0").Trim().c_str(), "\xA0x\xA0");
    EXPECT_STREQ(CoreAnsx("a\xE9"
                          "1")
                     .UpperCase()
                     .c_str(),
                 "A\xE9"
                 "1");
    EXPECT_STREQ(CoreAnsx("Mix\xC9Z").LowerCase().c_str(), "mix\xC9z");
}

TEST(CoreAnsx, ComparesBytesUnsigned) {
    EXPECT_TRUE(CoreAnsx("B") < CoreAnsx("a"));
    EXPECT_TRUE(CoreAnsx("\xE9") > CoreAnsx("z"));
    EXPECT_TRUE(CoreAnsx() <= CoreAnsx(""));
    EXPECT_TRUE(CoreAnsx("ab") >= CoreAnsx("a"));
    EXPECT_TRUE(CoreAnsx("ab") != CoreAnsx("aB"));
}

TEST(CoreAnsx, ToIntReadsLeadingDigitsAndSaturates) {
    EXPECT_EQ(CoreAnsx(" \t42abc").ToInt(), 42);
    EXPECT_EQ(CoreAnsx("-17").ToInt(), -17);
    EXPECT_EQ(CoreAnsx("+8").ToInt(), 8);
    EXPECT_EQ(CoreAnsx("2147483647").ToInt(), INT_MAX);
    EXPECT_EQ(CoreAnsx("-2147483648").ToInt(), INT_MIN);
    EXPECT_EQ(CoreAnsx("99999999999999999999").ToInt(), INT_MAX);
    EXPECT_EQ(CoreAnsx("-2147483649").ToInt(), INT_MIN);
    EXPECT_EQ(CoreAnsx("0x1A").ToInt(), 0);
    EXPECT_EQ(CoreAnsx("x1").ToInt(), 0);
    EXPECT_EQ(CoreAnsx().ToInt(), 0);
}

TEST(CoreAnsx, ToDoubleReadsDecimalTextOnly) {
    EXPECT_EQ(CoreAnsx("3.5").ToDouble(), 3.5);
    EXPECT_EQ(CoreAnsx(" -2.5e3xyz").ToDouble(), -2500.0);
    EXPECT_EQ(CoreAnsx(".25").ToDouble(), 0.25);
    EXPECT_EQ(CoreAnsx("5.").ToDouble(), 5.0);
    EXPECT_EQ(CoreAnsx("1e").ToDouble(), 1.0);
    EXPECT_EQ(CoreAnsx("0.1").ToDouble(), 0.1);
    EXPECT_EQ(CoreAnsx("1e999").ToDouble(), DBL_MAX);
    EXPECT_EQ(CoreAnsx("-0.0001e999").ToDouble(), -DBL_MAX);
    EXPECT_EQ(CoreAnsx("1e-999").ToDouble(), 0.0);
    EXPECT_EQ(CoreAnsx("0.0000e999999").ToDouble(), 0.0);
    for (const char* notANumber : {"nan", "-inf", "INFINITY", "0x1p3", ".", "-", "e5", ""}) {
        EXPECT_EQ(CoreAnsx(notANumber).ToDouble(), 0.0) << notANumber;
    }
}

TEST(CoreAnsx, FormatsWithGivenPatterns) {
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(3.14159, 0, 0, 2).c_str(), "3.14");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(2.7, 7, 15, 0).c_str(), "3");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(2.7, 0, 0, -4).c_str(), "3");
    CoreAnsx s("old");
    EXPECT_STREQ(s.sprintf("%.1f >", 1.26).c_str(), "1.3 >");
    EXPECT_STREQ(s.sprintf("%%%8.3e", 1500.0).c_str(), "%1.500e+03");
    EXPECT_EQ(s.sprintf("%.0f", 1e300).Length(),
              301); // beyond any small fixed buffer
    EXPECT_THROW(s.sprintf("%s", 1.0), CoreAnsx);
    EXPECT_THROW(s.sprintf("%f %f", 1.0), CoreAnsx);
    EXPECT_THROW(s.sprintf("%*f", 1.0), CoreAnsx);
    EXPECT_THROW(s.sprintf("%Lf", 1.0), CoreAnsx);
    EXPECT_STREQ(s.sprintf("%lf", 0.25).c_str(), "0.250000");
}

struct CommaNumbers : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

TEST(CoreAnsx, NumbersUseDecimalPointUnderDecimalCommaLocale) {
    // Hosts may run with a decimal-comma locale, in C and in the C++ global locale.
    DecimalCommaLocale comma(LC_ALL);
    const bool cLocaleSwitched = comma.active();
    const std::locale previousGlobal =
        std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
    if (cLocaleSwitched) {
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        EXPECT_STREQ(probe, "0,5"); // the locale really is in force
    }
    EXPECT_STREQ(CoreAnsx(0.5).c_str(), "0.5");
    EXPECT_STREQ(CoreAnsx(1234567.0).c_str(), "1.23457E+06");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(3.14159, 0, 0, 2).c_str(), "3.14");
    CoreAnsx s;
    EXPECT_STREQ(s.sprintf("%.1f >", 1.26).c_str(), "1.3 >");
    EXPECT_EQ(CoreAnsx("1.5").ToDouble(), 1.5);
    EXPECT_EQ(CoreAnsx("1,5").ToDouble(), 1.0);
    EXPECT_EQ(CoreAnsx("\xA0"
                       "7")
                  .ToInt(),
              0); // no locale-dependent blanks
    std::locale::global(previousGlobal);
}

} // namespace
