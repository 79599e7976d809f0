// CoreDsbf: the display's character grid: a main area of columns x rows cells (the last row is the
// soft-key bar) and an add area of a few rows below it, four fonts, and a cursor that the writers
// advance. Positions outside the grid are dropped on write and read as no cell. Owned by the display
// object; no lock of its own: its writers hold the display lock.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreBlnk.h"
#include "display/CoreDsch.h"
#include "display/CoreDsfn.h"

#include <array>
#include <cstddef>
#include <vector>

class CoreDsbf {
public:
    static constexpr short iCfonts = 4;

    // The add width is clamped to 1 .. columns: every add row is a full grid row, and a wider add
    // area would report cells that no row holds.
    CoreDsbf(const CoreBlnk* clock, short columns, short rows, short addWidth, short addRows);
    CoreDsbf(const CoreDsbf&) = delete;
    CoreDsbf& operator=(const CoreDsbf&) = delete;

    const CoreDsfn* getfn(short font) const; // null outside 0 .. 3

    // Sizes in units of the font's cells (integer division).
    short getdx(short font) const;
    short getdy(short font) const;
    short getax(short font) const;
    short getay(short font) const;

    void setxy(short x, short y); // grid cells
    void writc(char c, short font, bool blink, bool wrap);
    void print(const CoreAnsx& text, short font, bool blink, bool wrap);
    // x in grid columns, raised to the next multiple of the font width; y in font rows.
    void write(const CoreAnsx& text, short x, short y, short font, bool blink, bool wrap);
    void prnln(const CoreAnsx& text, short font, bool blink);
    void clear(short font, short x, short y, short width, short height);
    void scrll();
    void carrt(short n);

    // x and y in font units; the cell there when it belongs to that font, else null.
    const CoreDsch* read_(short font, short x, short y) const;
    double readr(short font, short x, short y) const; // -1 when read_ gives null
    void selct(short font, short x, short y, short& first, short& last) const;

    // The cell at a grid position whatever its font, for the screen export; null outside.
    const CoreDsch* cell(int column, int row) const;

private:
    const CoreDsfn& font(short f) const { return aFonts[static_cast<std::size_t>(f)]; }
    static bool validFont(short f) { return f >= 0 && f < iCfonts; }
    bool inside(int column, int row) const {
        return column >= 0 && column < iColumns && row >= 0 && row < iRows + iAddRows;
    }
    CoreDsch& at(int column, int row) { return vCells[static_cast<std::size_t>(row * iColumns + column)]; }
    void placeCursor(short x, short y, const CoreDsfn& f);
    void newLine(int height);
    void putAndAdvance(char c, short fontIndex, const CoreDsfn& f, bool blink, bool wrap);

    short iColumns;
    short iRows;
    short iAddWidth;
    short iAddRows;
    // Wider than the Part's shorts so that a long unwrapped write can never wrap the cursor round.
    int iCursorX;
    int iCursorY;
    std::vector<CoreDsch> vCells; // row-major, (rows + add rows) x columns, sized once
    const CoreBlnk* pClock;
    std::array<CoreDsfn, iCfonts> aFonts;
};
