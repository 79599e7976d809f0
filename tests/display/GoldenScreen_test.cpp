#include "tests/display/GoldenScreen.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char* const roundTrip = "golden_screen_round_trip.txt";

// The grid that the hand-written golden shows.
void drawRoundTrip(CoreDsbf& grid) {
    grid.write("\x14\x15\x16\x17\x18\x19\x08\x07\x09\x06\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\xa7", 0, 0,
               0, false, false);
    grid.write("\x06"
               "A",
               30, 0, 1, false, false); // no extra codes in font 1
    grid.write("$=ok", 40, 0, 0, false, false);
    grid.write("Hello, world!", 0, 1, 0, true, false);
    grid.write("abcdefgh", 0, 2, 0, false, false);
    grid.write("XY", 2, 1, 2, false, false); // over font-0 cells
    grid.write("Z", 10, 1, 2, true, false);  // over font-3 cells
    grid.write("end", 55, 13, 1, false, false);
    grid.write("add", 0, 16, 0, false, false);
}

GoldenScreen roundTripScreen(const std::string& name = "GoldenScreen round trip") {
    GoldenScreen screen(name);
    screen.fact("every special code, font 2 over fonts 0 and 3, blinking cells");
    screen.section("calls", {"setbv 225", "setbs 223 \"NEXTSTEP\""});
    return screen;
}

} // namespace

TEST(GoldenScreen, WritesTheHandWrittenGolden) {
    CoreDsbf grid(nullptr, 58, 14, 49, 3);
    drawRoundTrip(grid);
    EXPECT_TRUE(roundTripScreen().matches(grid, roundTrip));
}

TEST(GoldenScreen, NamesTheFirstDifference) {
    struct Row {
        const char* name;
        std::function<void(CoreDsbf&)> change;
        const char* caseName;
        std::string where;
        std::string goldenLine, actualLine; // beginnings of the two lines shown
    };
    const Row table[] = {
        {"a symbol", [](CoreDsbf& g) { g.write("Q", 7, 2, 0, false, false); }, "GoldenScreen round trip",
         " at row 02, column 7 (symbol)\n", "02|abXdYfgh  Z", "02|abXdYfgQ  Z"},
        {"an attribute", [](CoreDsbf& g) { g.write(" ", 51, 13, 0, true, false); }, "GoldenScreen round trip",
         " at row 13, column 51 (attribute)\n", "13|", "13|"},
        {"a header", [](CoreDsbf&) {}, "another case", " at line 1\n", "golden: # GoldenScreen round trip",
         "actual: # another case"},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.name);
        CoreDsbf grid(nullptr, 58, 14, 49, 3);
        drawRoundTrip(grid);
        r.change(grid);
        const testing::AssertionResult result = roundTripScreen(r.caseName).matches(grid, roundTrip);
        ASSERT_FALSE(result);
        const std::string message = result.message();
        EXPECT_NE(message.find((GoldenScreen::folder() / roundTrip).string() + " differs" + r.where),
                  std::string::npos)
            << message;
        EXPECT_NE(message.find(r.goldenLine), std::string::npos) << message;
        EXPECT_NE(message.find(r.actualLine), std::string::npos) << message;
        if (r.where.find("row") != std::string::npos) {
            // Both rows follow the ruler, so their columns line up with it.
            const std::string ruler =
                std::string(GoldenScreen::rulerTens) + "\n" + GoldenScreen::rulerUnits + "\n";
            const size_t after = message.find(ruler);
            ASSERT_NE(after, std::string::npos) << message;
            EXPECT_EQ(message.find(r.goldenLine, after), after + ruler.size()) << message;
            EXPECT_NE(message.find("  actual"), std::string::npos);
        }
    }
}
