// Tests of the text class: printf-like number texts, growth that keeps the old text, positions counted
// from one, writing at a position within a limit, self-assignment and self-append across reallocation,
// byte-wise case and comparisons, saturating decimal parsing, one-conversion formats, and numbers
// written with a point under a decimal-comma locale.
#include "base/CoreAnsx.h"
#include "tests/common/DecimalCommaLocale.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <locale>
#include <stdexcept>

TEST(CoreAnsx, NumericConstructorsFormatLikeCPrintfAndGrowInEightByteSteps) {
    const std::pair<CoreAnsx, const char*> rows[] = {{CoreAnsx(-9000000000L), "-9000000000"},
                                                     {CoreAnsx(1234567.0), "1.23457E+06"},
                                                     {CoreAnsx(DBL_MAX * 2), "INF"},
                                                     {CoreAnsx('x'), "x"},
                                                     {CoreAnsx(static_cast<const char*>(nullptr)), ""}};
    for (const auto& [value, text] : rows) EXPECT_STREQ(value.c_str(), text);
    CoreAnsx s("abc");
    EXPECT_EQ(s.capacity(), 8);
    s += CoreAnsx("defgh");
    EXPECT_TRUE(s.storedLength() == 9 && s.capacity() == 16);
    const CoreAnsx shorter("x");
    s = shorter; // copied into the buffer, which never shrinks (a move would hand over the source's)
    EXPECT_EQ(s.capacity(), 16);
    CoreAnsx none;
    EXPECT_TRUE(none.Length() == -1 && CoreAnsx(none).Length() == 0 && none.SubString(1, 3).Length() == -1);
    none += CoreAnsx("tail"); // appending to nothing replaces
    EXPECT_STREQ(none.c_str(), "tail");
}

TEST(CoreAnsx, PositionsAndSubstringsCountFromOne) {
    const CoreAnsx hello("Hello");
    EXPECT_EQ(hello.Pos("l") + hello.Pos("z") + hello.Pos(""), 3 + 0 + 1);
    // pos, count, text (null: a string without buffer)
    const std::tuple<int, int, const char*> rows[] = {
        {0, 2, "He"}, {4, 10, "lo"}, {6, 1, nullptr}, {2, -5, ""}, {1, INT_MAX, "Hello"}};
    for (const auto& [pos, count, text] : rows) {
        const CoreAnsx sub = hello.SubString(pos, count);
        EXPECT_EQ(sub.Length(), text ? int(strlen(text)) : -1) << pos << " " << count;
        EXPECT_STREQ(sub.c_str(), text ? text : "");
    }
}

TEST(CoreAnsx, StartWritesAtAPositionWithinItsLimitAndATooLongTextKeepsTheOld) {
    // initial text, text written, position, limit, result
    const std::tuple<const char*, const char*, int, int, const char*> rows[] = {
        {"xy", "abcdef", 3, 3, "xyab"}, {"keep", "abc", 0, 0, ""}, {nullptr, "z", 3, -1, "  z"}};
    for (const auto& [initial, text, pos, limit, result] : rows) {
        CoreAnsx s = initial ? CoreAnsx(initial) : CoreAnsx();
        s.start(CoreAnsx(text), pos, limit);
        EXPECT_STREQ(s.c_str(), result) << text << " at " << pos;
        EXPECT_EQ(s.storedLength(), int(strlen(result)) + 1);
    }
    CoreAnsx s("intact");
    EXPECT_THROW(s.start("abc", INT_MAX, -1), std::length_error);
    EXPECT_TRUE(s == CoreAnsx("intact") && s.storedLength() == 7);
}

TEST(CoreAnsx, AssignmentFromASourceWithoutSignatureDoesNothing) {
    CoreAnsx target("target"), source("source");
    char* raw = reinterpret_cast<char*>(&source);
    raw[1] = 12;
    target = source;
    EXPECT_STREQ(target.c_str(), "target");
    raw[1] = 13; // the signature back, for the destructor
}

TEST(CoreAnsx, SelfAssignmentAndSelfAppendSurviveReallocation) {
    CoreAnsx s("0123456"); // full capacity, so every self append moves the buffer
    s = s;
    s += s;
    s = s + s;
    EXPECT_STREQ(s.c_str(), "0123456012345601234560123456");
    CoreAnsx tail("abcdefg");
    tail.start(tail.c_str() + 2, 8, -1);
    CoreAnsx moved(std::move(tail));
    CoreAnsx& alias = moved;
    moved = std::move(alias);
    EXPECT_STREQ(moved.c_str(), "abcdefgcdefg");
}

TEST(CoreAnsx, TrimCaseAndComparisonsTreatBytesAsUnsignedAscii) {
    const char* rows[][4] = {
        {"  a b \t", "a b", "  A B \t", "  a b \t"},
        {"\xA0Mix\xC9z\xE9", "\xA0Mix\xC9z\xE9", "\xA0MIX\xC9Z\xE9", "\xA0mix\xC9z\xE9"}};
    for (const auto& r : rows) {
        EXPECT_STREQ(CoreAnsx(r[0]).Trim().c_str(), r[1]);
        EXPECT_STREQ(CoreAnsx(r[0]).UpperCase().c_str(), r[2]);
        EXPECT_STREQ(CoreAnsx(r[0]).LowerCase().c_str(), r[3]);
    }
    EXPECT_TRUE(CoreAnsx("B") < CoreAnsx("a") && CoreAnsx("\xE9") > CoreAnsx("z") &&
                CoreAnsx() <= CoreAnsx(""));
    EXPECT_TRUE(CoreAnsx("ab") >= CoreAnsx("a") && CoreAnsx("ab") != CoreAnsx("aB"));
}

TEST(CoreAnsx, NumbersParseFromDecimalTextOnlyAndSaturate) {
    // Only decimal text; a non-breaking space (\240) is not a blank in any locale here.
    const std::pair<const char*, int> integers[] = {
        {" \t42abc", 42}, {"9999999999", INT_MAX}, {"-2147483649", INT_MIN}, {"0x1A", 0}, {"\2407", 0}};
    for (const auto& [text, value] : integers) EXPECT_EQ(CoreAnsx(text).ToInt(), value) << text;
    const std::pair<const char*, double> doubles[] = {
        {" -2.5e3x", -2500}, {"1e999", DBL_MAX}, {"-0.01e999", -DBL_MAX},
        {"1e-999", 0},       {"nan", 0},         {"0x1p3", 0}};
    for (const auto& [text, value] : doubles) EXPECT_EQ(CoreAnsx(text).ToDouble(), value) << text;
    EXPECT_EQ(CoreAnsx().ToInt(), 0);
}

TEST(CoreAnsx, FormatsWithOneDoubleConversionOfAnyLength) {
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(2.7, 0, 0, -4).c_str(), "3");
    CoreAnsx s("old");
    EXPECT_STREQ(s.sprintf("%%%8.3e", 1500.0).c_str(), "%1.500e+03");
    EXPECT_EQ(s.sprintf("%.0f", 1e300).Length(), 301); // beyond any small fixed buffer
    for (const char* bad : {"%s", "%f %f", "%*f", "%Lf", "none"})
        EXPECT_THROW(s.sprintf(bad, 1.0), CoreAnsx) << bad;
}

namespace {
struct CommaNumbers : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};
} // namespace

TEST(CoreAnsx, NumbersUseADecimalPointUnderADecimalCommaLocale) {
    // Hosts may run with a decimal-comma locale, in C and in the C++ global locale.
    DecimalCommaLocale comma(LC_ALL);
    const std::locale previousGlobal =
        std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
    if (comma.active()) {
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        EXPECT_STREQ(probe, "0,5"); // the locale really is in force
    }
    EXPECT_STREQ(CoreAnsx(0.5).c_str(), "0.5");
    EXPECT_STREQ(CoreAnsx::_FloatToStrF(3.14159, 0, 0, 2).c_str(), "3.14");
    EXPECT_STREQ(CoreAnsx().sprintf("%.1f >", 1.26).c_str(), "1.3 >");
    EXPECT_EQ(CoreAnsx("1.5").ToDouble(), 1.5);
    EXPECT_EQ(CoreAnsx("1,5").ToDouble(), 1.0);
    std::locale::global(previousGlobal);
}
