#include "platform/gui/CoreBimg.h"

#include "platform/CorePict.h"
#include "platform/gui/CBitmap.h"
#include "platform/gui/CFrame.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/CoreGlyf.h"
#include "tests/gui/GuiGolden.h"

#include <gtest/gtest.h>

TEST(CoreBimg, HasItsNumbersAtTheirSizes) {
    struct Row {
        int32_t number, width, height; // 0 × 0: none
    };
    const Row rows[] = {{0, 0, 0},       {99, 900, 290},  {100, 900, 290}, {101, 12, 36},  {102, 12, 36},
                        {103, 17, 36},   {104, 0, 0},     {200, 6, 1296},  {201, 6, 1128}, {202, 12, 2592},
                        {203, 0, 0},     {210, 15, 15},   {211, 15, 15},   {212, 0, 0},    {300, 30, 32},
                        {301, 10, 30},   {318, 30, 32},   {319, 10, 30},   {320, 0, 0},    {400, 12, 12},
                        {401, 12, 12},   {402, 0, 0},     {800, 10, 24},   {900, 20, 24},  {999, 20, 24},
                        {1000, 0, 0},    {-1, 0, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.number);
        const CorePict* picture = CoreBimg::picture(row.number);
        CBitmap bitmap(row.number);
        EXPECT_EQ(bitmap.getWidth(), row.width);
        EXPECT_EQ(bitmap.getHeight(), row.height);
        EXPECT_EQ(picture != nullptr, row.width > 0);
        EXPECT_EQ(bitmap.getPicture(), picture);
    }
}

TEST(CoreBimg, FontGlyphsShowTheirShapesInAMovieBitmap) {
    struct Row {
        int32_t number, scale, glyphs;
        bool extras, inverted;
    };
    for (const Row& row : {Row{200, 1, 108, true, false}, Row{201, 1, 94, false, true}, Row{202, 2, 108, true, false}}) {
        SCOPED_TRACE(row.number);
        const int32_t w = CoreGlyf::iCwidth * row.scale, h = CoreGlyf::iCheight * row.scale;
        CFrame frame(CRect(0, 0, w, h), nullptr, nullptr);
        CBitmap* strip = new CBitmap(row.number);
        ASSERT_EQ(strip->getHeight(), h * row.glyphs);
        CPoint origin;
        CMovieBitmap cell(CRect(0, 0, w, h), nullptr, 0, row.glyphs, h, strip, origin);
        frame.addView(&cell);
        for (int32_t g = 0; g < row.glyphs; ++g) {
            cell.setValue((float(g) + 0.5f) / float(row.glyphs));
            frame.doIdleStuff();
            const int32_t code = CoreGlyf::character(g, row.extras);
            ASSERT_GE(code, 0);
            const auto shape = CoreGlyf::cell(code);
            int wrong = 0;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const bool lit = shape[size_t(y / row.scale)] & (1u << (x / row.scale));
                    const CColor c = frame.getImage().getPixel(x, y);
                    const bool bright = c.green > 128;
                    wrong += (lit != row.inverted) != bright;
                }
            EXPECT_EQ(wrong, 0) << "glyph " << g << " code " << code;
        }
        strip->forget();
    }
}

TEST(CoreBimg, SheetsMatchGoldens) {
    struct Row {
        const char* name;
        std::vector<int32_t> numbers;
        int32_t width, height;
    };
    std::vector<int32_t> meters;
    for (int32_t n = 900; n < 1000; ++n) meters.push_back(n);
    std::vector<int32_t> buttons;
    for (int32_t n = 300; n < 320; ++n) buttons.push_back(n);
    const Row rows[] = {
        {"builtin_panel_99", {99}, 900, 290},
        {"builtin_panel_100", {100}, 900, 290},
        {"builtin_leds_handles", {101, 102, 103, 210, 211, 400, 401, 800}, 400, 40},
        {"builtin_buttons", buttons, 400, 40},
        {"builtin_meters", meters, 440, 260},
        {"builtin_fonts", {200, 201, 202}, 40, 2600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CDrawContext sheet(row.width, row.height);
        int32_t x = 0, y = 0, rowHeight = 0;
        for (int32_t number : row.numbers) {
            CBitmap bitmap(number);
            if (x + bitmap.getWidth() > row.width) x = 0, y += rowHeight + 2, rowHeight = 0;
            bitmap.draw(&sheet, CRect(x, y, x + bitmap.getWidth(), y + bitmap.getHeight()));
            x += bitmap.getWidth() + 2;
            rowHeight = std::max(rowHeight, bitmap.getHeight());
        }
        guitest::expectGolden(sheet, row.name);
    }
}
