#include "display/CoreDsbf.h"

#include <algorithm>
#include <cstring>

namespace {

// The common glyph table: glyph i shows the character code at position i. Fonts 0, 1 and 2 share
// it; 0xA7 is the section sign and the last six are the bar segments, thinnest (25) to full (20).
constexpr unsigned char commonGlyphCodes[] =
    " ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz1234567890*+-:.<>;|^/\xA7()\"_'!#,`&?@%"
    "\x19\x18\x17\x16\x15\x14";
constexpr int commonGlyphs = static_cast<int>(sizeof(commonGlyphCodes)) - 1;
static_assert(commonGlyphs == 94);

// Codes 6 .. 19 (scroll bar and marks) in fonts 0 and 2 only, after the common glyphs.
constexpr int firstExtraCode = 6;
constexpr int lastExtraCode = 19;

void setCommonTable(CoreDsfn& font, bool withExtraCodes) {
    for (int glyph = 0; glyph < commonGlyphs; ++glyph)
        font.setrs(static_cast<short>(commonGlyphCodes[glyph]), glyph);
    if (withExtraCodes)
        for (int code = firstExtraCode; code <= lastExtraCode; ++code)
            font.setrs(static_cast<short>(code), code - firstExtraCode + commonGlyphs);
}

int ceilDiv(int value, int divisor) {
    const int quotient = value / divisor;
    return (value % divisor != 0 && (value > 0) == (divisor > 0)) ? quotient + 1 : quotient;
}

} // namespace

CoreDsbf::CoreDsbf(const CoreBlnk* clock, short columns, short rows, short addWidth, short addRows)
    : iColumns(std::max<short>(columns, 1)), iRows(std::max<short>(rows, 1)),
      iAddWidth(std::clamp<short>(addWidth, 1, iColumns)), iAddRows(std::max<short>(addRows, 0)), iCursorX(0),
      iCursorY(0),
      vCells(static_cast<std::size_t>(iColumns) * static_cast<std::size_t>(iRows + iAddRows), CoreDsch(clock)),
      pClock(clock), aFonts{CoreDsfn(1, 1), CoreDsfn(1, 1), CoreDsfn(2, 2), CoreDsfn(1, 1)} {
    aFonts[3].setrs(CoreDsch::cCblank, 0);
    setCommonTable(aFonts[0], true);
    setCommonTable(aFonts[1], false);
    setCommonTable(aFonts[2], true);
}

const CoreDsfn* CoreDsbf::getfn(short f) const {
    return validFont(f) ? &font(f) : nullptr;
}

short CoreDsbf::getdx(short f) const {
    return validFont(f) ? static_cast<short>(iColumns / font(f).getdx()) : 0;
}

short CoreDsbf::getdy(short f) const {
    return validFont(f) ? static_cast<short>(iRows / font(f).getdy()) : 0;
}

short CoreDsbf::getax(short f) const {
    return validFont(f) ? static_cast<short>(iAddWidth / font(f).getdx()) : 0;
}

short CoreDsbf::getay(short f) const {
    return validFont(f) ? static_cast<short>(iAddRows / font(f).getdy()) : 0;
}

void CoreDsbf::setxy(short x, short y) {
    iCursorX = x;
    iCursorY = y;
}

void CoreDsbf::newLine(int height) {
    iCursorX = 0;
    iCursorY += height;
    if (iCursorY >= iRows) {
        // More scrolls than rows leave the same blank main area; only the cursor needs the full count.
        const int scrolls = std::min(height, static_cast<int>(iRows));
        for (int i = 0; i < scrolls; ++i) scrll();
        iCursorY -= height;
    }
}

void CoreDsbf::putAndAdvance(char c, short fontIndex, const CoreDsfn& f, bool blink, bool wrap) {
    if (inside(iCursorX, iCursorY)) at(iCursorX, iCursorY).setvl(c, fontIndex, blink);
    iCursorX += f.getdx();
    if (wrap && iCursorX >= iColumns) newLine(f.getdy());
}

void CoreDsbf::writc(char c, short f, bool blink, bool wrap) {
    if (!validFont(f)) return;
    putAndAdvance(c, f, font(f), blink, wrap);
}

void CoreDsbf::print(const CoreAnsx& text, short f, bool blink, bool wrap) {
    if (!validFont(f)) return;
    const CoreDsfn& shape = font(f);
    for (const char* p = text.c_str(); *p != '\0'; ++p) putAndAdvance(*p, f, shape, blink, wrap);
}

void CoreDsbf::placeCursor(short x, short y, const CoreDsfn& f) {
    iCursorX = f.getdx() * ceilDiv(x, f.getdx());
    iCursorY = f.getdy() * y;
}

void CoreDsbf::write(const CoreAnsx& text, short x, short y, short f, bool blink, bool wrap) {
    if (!validFont(f)) return;
    const CoreDsfn& shape = font(f);
    placeCursor(x, y, shape);
    const char* p = text.c_str();
    if (!wrap && shape.getdx() == 1) {
        // One row, one cell per character: store the part inside the grid in one pass.
        const int length = static_cast<int>(std::strlen(p));
        if (iCursorY >= 0 && iCursorY < iRows + iAddRows) {
            const int first = std::max(iCursorX, 0);
            const int end = std::min(iCursorX + length, static_cast<int>(iColumns));
            CoreDsch* row = &at(0, iCursorY);
            for (int column = first; column < end; ++column)
                row[column].setvl(p[column - iCursorX], f, blink);
        }
        iCursorX += length;
        return;
    }
    for (; *p != '\0'; ++p) putAndAdvance(*p, f, shape, blink, wrap);
}

void CoreDsbf::prnln(const CoreAnsx& text, short f, bool blink) {
    if (!validFont(f)) return;
    print(text, f, blink, true);
    newLine(font(f).getdy());
}

void CoreDsbf::clear(short f, short x, short y, short width, short height) {
    if (!validFont(f) || width < 1 || height < 1) return;
    const CoreDsfn& shape = font(f);
    if (shape.getdx() == 1 && shape.getdy() == 1) {
        // Same cells and cursor as one single-blank write per cell, without the per-cell setup.
        const int firstColumn = std::max<int>(x, 0);
        const int endColumn = std::min<int>(x + width, iColumns);
        const int firstRow = std::max<int>(y, 0);
        const int endRow = std::min<int>(y + height, iRows + iAddRows);
        for (int row = firstRow; row < endRow; ++row) {
            CoreDsch* cells = &at(0, row);
            for (int column = firstColumn; column < endColumn; ++column)
                cells[column].setvl(CoreDsch::cCblank, f, false);
        }
        iCursorX = x + width;
        iCursorY = y + height - 1;
        return;
    }
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            placeCursor(static_cast<short>(x + i), static_cast<short>(y + j), shape);
            putAndAdvance(CoreDsch::cCblank, f, shape, false, false);
        }
}

void CoreDsbf::scrll() {
    std::copy(vCells.begin() + iColumns, vCells.begin() + static_cast<std::ptrdiff_t>(iRows) * iColumns,
              vCells.begin());
    CoreDsch* last = &at(0, iRows - 1);
    for (int column = 0; column < iColumns; ++column)
        last[column].setvl(CoreDsch::cCblank, CoreDsch::iCemptyfont, false);
}

void CoreDsbf::carrt(short n) {
    newLine(n);
}

const CoreDsch* CoreDsbf::read_(short f, short x, short y) const {
    if (!validFont(f)) return nullptr;
    const int column = font(f).getdx() * x;
    const int row = font(f).getdy() * y;
    const CoreDsch* found = cell(column, row);
    return found != nullptr && found->getfn() == f ? found : nullptr;
}

double CoreDsbf::readr(short f, short x, short y) const {
    const CoreDsch* found = read_(f, x, y);
    if (found == nullptr) return -1.0;
    return font(f).getrw(static_cast<unsigned char>(found->getvl()));
}

void CoreDsbf::selct(short f, short x, short y, short& first, short& last) const {
    first = -1;
    last = -1;
    if (read_(f, x, y) == nullptr) return;
    int left = x;
    while (left > 0 && read_(f, static_cast<short>(left - 1), y) != nullptr) --left;
    int right = x;
    const int lastColumn = getdx(f) - 1;
    while (right < lastColumn && read_(f, static_cast<short>(right + 1), y) != nullptr) ++right;
    first = static_cast<short>(left);
    last = static_cast<short>(right);
}

const CoreDsch* CoreDsbf::cell(int column, int row) const {
    return inside(column, row) ? &vCells[static_cast<std::size_t>(row * iColumns + column)] : nullptr;
}
