#include "display/CoreDsbf.h"
#include "display/CoreDsbr.h"

#include "base/CoreXutl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr short columns = 58, rows = 14, addWidth = 49, addRows = 3;
constexpr int allRows = rows + addRows;

struct Cell {
    char character;
    short font;
    bool blink;
    bool operator==(const Cell&) const = default;
};

std::vector<Cell> snapshot(const CoreDsbf& grid) {
    std::vector<Cell> cells;
    for (int row = 0; row < allRows; ++row)
        for (int column = 0; column < columns; ++column) {
            const CoreDsch* cell = grid.cell(column, row);
            cells.push_back({cell->getch(), cell->getfn(), cell->getbl()});
        }
    return cells;
}

// Where the next character goes: writes a probe and finds it; (-1, -1) when it lands outside.
std::pair<int, int> cursorOf(CoreDsbf& grid) {
    const std::vector<Cell> before = snapshot(grid);
    grid.writc('#', 0, false, false);
    const std::vector<Cell> after = snapshot(grid);
    for (size_t i = 0; i < after.size(); ++i)
        if (after[i] != before[i]) return {static_cast<int>(i % columns), static_cast<int>(i / columns)};
    return {-1, -1};
}

// Clock seam: the blink clock and the test share a settable time in days.
double testDays = 20000.0;
double testClock() {
    return testDays;
}

struct TestClock {
    TestClock() { CoreXutl::setDayClock(&testClock); }
    ~TestClock() { CoreXutl::setDayClock(nullptr); }
    void atSeconds(double seconds) { testDays = 20000.0 + seconds / 86400.0; }
};

} // namespace

TEST(CoreDsbf, MapsCodesToGlyphsPerFont) {
    struct Row {
        int code;
        int glyphs[4]; // fonts 0 .. 3
    };
    const Row table[] = {
        {' ', {0, 0, 0, 0}},    {'A', {1, 1, 1, 0}},     {'Z', {26, 26, 26, 0}}, {'a', {27, 27, 27, 0}},
        {'z', {52, 52, 52, 0}}, {'1', {53, 53, 53, 0}},  {'9', {61, 61, 61, 0}}, {'0', {62, 62, 62, 0}},
        {'*', {63, 63, 63, 0}}, {'+', {64, 64, 64, 0}},  {'-', {65, 65, 65, 0}}, {':', {66, 66, 66, 0}},
        {'|', {71, 71, 71, 0}}, {'/', {73, 73, 73, 0}},  {167, {74, 74, 74, 0}}, {'(', {75, 75, 75, 0}},
        {'"', {77, 77, 77, 0}}, {'\'', {79, 79, 79, 0}}, {'!', {80, 80, 80, 0}}, {'`', {83, 83, 83, 0}},
        {'@', {86, 86, 86, 0}}, {'%', {87, 87, 87, 0}},  {25, {88, 88, 88, 0}},  {24, {89, 89, 89, 0}},
        {20, {93, 93, 93, 0}},  {6, {94, 0, 94, 0}},     {7, {95, 0, 95, 0}},    {19, {107, 0, 107, 0}},
        {'$', {0, 0, 0, 0}},    {'=', {0, 0, 0, 0}},     {'[', {0, 0, 0, 0}},    {'~', {0, 0, 0, 0}},
        {'\\', {0, 0, 0, 0}},   {0, {0, 0, 0, 0}},       {5, {0, 0, 0, 0}},      {26, {0, 0, 0, 0}},
        {127, {0, 0, 0, 0}},    {128, {0, 0, 0, 0}},     {200, {0, 0, 0, 0}},    {255, {0, 0, 0, 0}},
    };
    CoreDsbf grid(nullptr, columns, rows, addWidth, addRows);
    for (const Row& r : table) {
        for (short font = 0; font < 4; ++font) {
            SCOPED_TRACE(testing::Message() << "code " << r.code << ", font " << font);
            const CoreDsfn* shape = grid.getfn(font);
            EXPECT_EQ(shape->getrs(static_cast<short>(r.code)), r.glyphs[font]);
            // A char holding a code above 127 reaches the same entry as its unsigned value.
            EXPECT_EQ(shape->getrs(static_cast<signed char>(r.code)), r.glyphs[font]);
            grid.write(CoreAnsx(std::string(1, static_cast<char>(r.code)).c_str()), 0, 0, font, false, false);
            if (r.code != 0) {
                EXPECT_DOUBLE_EQ(grid.readr(font, 0, 0), (r.glyphs[font] + 0.5) / shape->getre());
            }
        }
    }
    const short counts[] = {108, 94, 108, 1};
    for (short font = 0; font < 4; ++font) EXPECT_EQ(grid.getfn(font)->getre(), counts[font]);
    EXPECT_EQ(grid.getfn(4), nullptr);
    EXPECT_EQ(grid.getfn(-1), nullptr);
}

TEST(CoreDsbf, SizesEachFontAndClampsTheAddWidth) {
    struct Row {
        short addWidth;
        short clamped;
    };
    const Row table[] = {{1, 1}, {49, 49}, {58, 58}, {0, 1}, {200, 58}};
    for (const Row& r : table) {
        SCOPED_TRACE(r.addWidth);
        CoreDsbf grid(nullptr, columns, rows, r.addWidth, addRows);
        for (short font : {0, 1, 3}) {
            EXPECT_EQ(grid.getdx(font), 58);
            EXPECT_EQ(grid.getdy(font), 14);
            EXPECT_EQ(grid.getax(font), r.clamped);
            EXPECT_EQ(grid.getay(font), 3);
        }
        EXPECT_EQ(grid.getdx(2), 29);
        EXPECT_EQ(grid.getdy(2), 7);
        EXPECT_EQ(grid.getax(2), r.clamped / 2);
        EXPECT_EQ(grid.getay(2), 1);
    }
}

TEST(CoreDsbf, WritesCellsAndMovesTheCursor) {
    // A run of expected cells: text from (column, row), one character every `step` columns.
    struct Run {
        int column, row;
        const char* text;
        short font;
        bool blink = false;
        int step = 1;
    };
    struct Row {
        const char* name;
        std::function<void(CoreDsbf&)> draw;
        std::vector<Run> cells; // every other cell is a font-3 blank
        std::pair<int, int> cursor;
    };
    const Row table[] = {
        {"new grid", [](CoreDsbf&) {}, {}, {0, 0}},
        {"no wrap at the row end drops the third character",
         [](CoreDsbf& g) {
             g.write("ab", 56, 2, 0, false, false);
             g.writc('c', 0, false, false);
         },
         {{56, 2, "ab", 0}},
         {-1, -1}},
        {"prnln on the last main row scrolls and keeps the add rows",
         [](CoreDsbf& g) {
             g.write("top", 0, 0, 0, false, false);
             g.write("bar", 0, 13, 0, false, false);
             g.write("add", 0, 14, 1, false, false);
             g.write("end", 0, 16, 0, true, false);
             g.setxy(0, 13);
             g.prnln("hi", 0, false);
         },
         {{0, 12, "hir", 0}, {0, 14, "add", 1}, {0, 16, "end", 0, true}},
         {0, 13}},
        {"font 2 rounds the column up and counts rows in its units",
         [](CoreDsbf& g) { g.write("XYZ", 3, 1, 2, true, false); },
         {{4, 2, "XYZ", 2, true, 2}},
         {10, 2}},
        {"wrap at a row end",
         [](CoreDsbf& g) { g.write("abcd", 56, 3, 0, false, true); },
         {{56, 3, "ab", 0}, {0, 4, "cd", 0}},
         {2, 4}},
        {"wrap at the end of the last main row scrolls",
         [](CoreDsbf& g) {
             g.write("keep", 0, 1, 1, false, false);
             g.write("abc", 57, 13, 0, false, true);
         },
         {{0, 0, "keep", 1}, {57, 12, "a", 0}, {0, 13, "bc", 0}},
         {2, 13}},
        {"font 2 wraps two rows down",
         [](CoreDsbf& g) { g.write("abc", 54, 0, 2, false, true); },
         {{54, 0, "ab", 2, false, 2}, {0, 2, "c", 2}},
         {2, 2}},
        {"print continues at the cursor",
         [](CoreDsbf& g) {
             g.setxy(10, 5);
             g.print("ab", 1, false, false);
             g.print("c", 0, true, false);
         },
         {{10, 5, "ab", 1}, {12, 5, "c", 0, true}},
         {13, 5}},
        {"carrt inside the main area",
         [](CoreDsbf& g) {
             g.setxy(5, 3);
             g.carrt(2);
         },
         {},
         {0, 5}},
        {"carrt past the last main row scrolls n rows",
         [](CoreDsbf& g) {
             g.write("z", 0, 13, 0, false, false);
             g.setxy(4, 12);
             g.carrt(3);
         },
         {{0, 10, "z", 0}},
         {0, 12}},
        {"clear in font 0 leaves visible blanks",
         [](CoreDsbf& g) { g.clear(0, 2, 1, 3, 2); },
         {{2, 1, "   ", 0}, {2, 2, "   ", 0}},
         {5, 2}},
        {"clear in font 2 rounds each column up",
         [](CoreDsbf& g) { g.clear(2, 1, 1, 3, 1); },
         {{2, 2, "  ", 2, false, 2}},
         {6, 2}},
        {"clear in font 3 empties cells",
         [](CoreDsbf& g) {
             g.write("abc", 0, 5, 0, true, false);
             g.clear(3, 1, 5, 1, 1);
         },
         {{0, 5, "a", 0, true}, {2, 5, "c", 0, true}},
         {2, 5}},
        {"scrll moves the main area up and leaves the add area",
         [](CoreDsbf& g) {
             g.write("r0", 0, 0, 0, false, false);
             g.write("r1", 0, 1, 1, true, false);
             g.write("r13", 0, 13, 0, false, false);
             g.write("add", 0, 14, 0, false, false);
             g.scrll();
         },
         {{0, 0, "r1", 1, true}, {0, 12, "r13", 0}, {0, 14, "add", 0}},
         {3, 14}},
        {"writes outside the grid are dropped",
         [](CoreDsbf& g) {
             for (short x : {58, 59, 300, -1, -300}) g.write("x", x, 0, 0, false, false);
             for (short y : {17, 18, 300, -1, -300}) g.write("y", 0, y, 0, false, true);
             g.write("abc", -2, 4, 0, false, false);
             g.write("de", -2, 6, 2, false, false); // font 2: -2 is grid column -2
             g.write("p", 0, 8, 2, false, false);   // grid row 16, the last add row
             g.write("q", 0, 9, 2, false, false);   // grid row 18
             g.clear(0, 56, 15, 10, 5);
             g.clear(2, 56, 7, 4, 3);
             g.setxy(-3, -3);
             g.print("neg", 1, false, false);
             g.setxy(300, 300);
             g.print("far", 1, false, true);
             g.writc('w', 7, false, false);
             g.writc('w', -1, false, false);
         },
         // The wrapped print far outside scrolls the main area once.
         {{0, 3, "c", 0},
          {0, 11, "e", 2},
          {0, 16, "p", 2},
          {56, 14, " ", 2},
          {56, 15, "  ", 0},
          {56, 16, " ", 2},
          {57, 16, " ", 0}},
         {-1, -1}},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.name);
        CoreDsbf grid(nullptr, columns, rows, addWidth, addRows);
        testing::internal::CaptureStdout();
        r.draw(grid);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        std::vector<Cell> expected(static_cast<size_t>(columns * allRows), Cell{' ', 3, false});
        for (const Run& run : r.cells)
            for (int i = 0; run.text[i] != '\0'; ++i)
                expected[static_cast<size_t>(run.row * columns + run.column + i * run.step)] =
                    Cell{run.text[i], run.font, run.blink};
        const std::vector<Cell> actual = snapshot(grid);
        for (size_t i = 0; i < actual.size(); ++i) {
            if (actual[i] == expected[i]) continue;
            ADD_FAILURE() << "cell (" << i % columns << ", " << i / columns << ") holds '"
                          << actual[i].character << "' font " << actual[i].font << " blink "
                          << actual[i].blink << ", expected '" << expected[i].character << "' font "
                          << expected[i].font;
            break;
        }
        EXPECT_EQ(cursorOf(grid), r.cursor);
    }
}

TEST(CoreDsbf, ReadsCellValuesPerFont) {
    CoreDsbf grid(nullptr, columns, rows, addWidth, addRows);
    for (short font = 0; font < 4; ++font)
        for (short y = 0; y < allRows / grid.getfn(font)->getdy(); ++y)
            for (short x = 0; x < grid.getdx(font); ++x)
                ASSERT_EQ(grid.readr(font, x, y), font == 3 ? 0.5 : -1.0) << font << " " << x << " " << y;

    grid.write("XYZ", 3, 1, 2, false, false); // grid cells (4, 2), (6, 2), (8, 2)
    grid.write("A", 0, 0, 0, false, false);
    grid.write("\xA7", 1, 0, 1, false, false);
    struct Row {
        short font, x, y;
        double value;
    };
    const Row table[] = {
        {2, 2, 1, 24.5 / 108}, // X, the first font-2 character
        {2, 4, 1, 26.5 / 108}, // Z
        {0, 4, 2, -1.0},       // the top-left cell belongs to font 2
        {2, 0, 0, -1.0},       // grid cell (0, 0) is in font 0
        {0, 0, 0, 1.5 / 108},  //
        {1, 1, 0, 74.5 / 94},  // the section sign read unsigned
        {3, 2, 0, 0.5},        //
        {0, 58, 0, -1.0},      // outside: no cell
        {0, -1, 0, -1.0},      //
        {0, 0, 17, -1.0},      //
        {0, 0, -1, -1.0},      //
        {2, 29, 0, -1.0},      //
        {3, 0, 17, -1.0},      //
        {4, 0, 0, -1.0},       // no such font
        {-1, 0, 0, -1.0},      //
    };
    for (const Row& r : table) {
        SCOPED_TRACE(testing::Message() << "font " << r.font << " at " << r.x << ", " << r.y);
        testing::internal::CaptureStdout();
        const double value = grid.readr(r.font, r.x, r.y);
        const bool none = grid.read_(r.font, r.x, r.y) == nullptr;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_DOUBLE_EQ(value, r.value);
        EXPECT_EQ(none, r.value < 0);
    }
    EXPECT_EQ(grid.cell(58, 0), nullptr);
    EXPECT_EQ(grid.cell(0, 17), nullptr);
    EXPECT_EQ(grid.cell(-1, 0), nullptr);
}

TEST(CoreDsbf, SelectsTheRunOfAFontAroundAPosition) {
    CoreDsbf grid(nullptr, columns, rows, addWidth, addRows);
    grid.write("abc", 5, 2, 0, false, false);
    grid.write("de", 8, 2, 1, false, false);
    grid.write("gh", 0, 3, 0, false, false);
    grid.write("ij", 56, 3, 0, false, false);
    grid.write("kl", 2, 4, 2, false, false); // font units 1 and 2 of font-2 row 4
    struct Row {
        short font, x, y, first, last;
    };
    const Row table[] = {
        {0, 6, 2, 5, 7},    // inside
        {0, 5, 2, 5, 7},    // at the run's left end
        {0, 7, 2, 5, 7},    // at its right end
        {1, 9, 2, 8, 9},    // the neighbouring run in another font
        {0, 8, 2, -1, -1},  // a cell of another font
        {0, 1, 3, 0, 1},    // reaches the left edge
        {0, 57, 3, 56, 57}, // reaches the right edge
        {2, 1, 4, 1, 2},    // font units
        {3, 20, 2, 10, 57}, // the empty layer after the runs
        {0, -1, 2, -1, -1}, // outside the grid
        {0, 58, 2, -1, -1}, //
        {0, 0, 17, -1, -1}, //
    };
    for (const Row& r : table) {
        SCOPED_TRACE(testing::Message() << "font " << r.font << " at " << r.x << ", " << r.y);
        short first = 99, last = 99;
        grid.selct(r.font, r.x, r.y, first, last);
        EXPECT_EQ(first, r.first);
        EXPECT_EQ(last, r.last);
    }
}

TEST(CoreDsbf, BlinkingCellsShowTheBlankInTheOffPhase) {
    TestClock clock;
    clock.atSeconds(0.0);
    const CoreBlnk blink;
    CoreDsbf grid(&blink, columns, rows, addWidth, addRows);
    grid.write("A", 0, 0, 0, true, false);
    grid.write("B", 1, 0, 0, false, false);
    grid.write("C", 2, 1, 1, true, false);
    grid.write("D", 2, 1, 2, true, false);
    struct Row {
        double seconds;
        bool on;
    };
    for (const Row& phase : {Row{0.5, true}, Row{1.5, false}, Row{2.25, true}, Row{3.75, false}}) {
        SCOPED_TRACE(phase.seconds);
        clock.atSeconds(phase.seconds);
        EXPECT_DOUBLE_EQ(grid.readr(0, 0, 0), (phase.on ? 1.5 : 0.5) / 108);
        EXPECT_DOUBLE_EQ(grid.readr(0, 1, 0), 2.5 / 108);
        EXPECT_DOUBLE_EQ(grid.readr(1, 2, 1), (phase.on ? 3.5 : 0.5) / 94);
        EXPECT_DOUBLE_EQ(grid.readr(2, 1, 1), (phase.on ? 4.5 : 0.5) / 108);
        EXPECT_EQ(grid.cell(0, 0)->getch(), 'A');
    }
}

TEST(CoreDsbr, BuildsBarStringsFromAValue) {
    struct Row {
        short cells;
        double value;
        std::string bar;
    };
    const double nan = std::nan("");
    const Row table[] = {
        {4, 1.0, "\x14\x14\x14\x14"},
        {4, 0.1, "\x18"},
        {4, 0.0, ""},
        {4, -3.0, ""},
        {4, 7.0, "\x14\x14\x14\x14"},
        {4, nan, ""},
        {4, INFINITY, ""},
        {4, 0.99, "\x14\x14\x14\x15"},
        {6, 0.5, "\x14\x14\x14"},
        {6, 0.51, "\x14\x14\x14"},
        {6, 1.0 / 36, "\x19"},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(testing::Message() << r.cells << " cells at " << r.value);
        const CoreDsbr bar(r.cells, 6, 20);
        EXPECT_EQ(bar.getch(), r.cells);
        EXPECT_EQ(std::string(bar.getvl(r.value).c_str()), r.bar);
    }
}
