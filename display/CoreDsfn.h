// CoreDsfn: one font of the display grid: the cell size of one character and the table from the
// unsigned character code (0 .. 255) to the glyph index of the font's strip. Built by CoreDsbf's
// constructor and read-only afterwards, so any thread may read it.
#pragma once

class CoreDsfn {
public:
    static constexpr int iCcodes = 256;

    CoreDsfn(short dx, short dy);

    // Codes are taken as unsigned bytes: a char holding 167 reaches the same entry on every
    // platform whether char is signed or not.
    void setrs(short code, int glyph);
    int getrs(short code) const { return iGlyphs[code & 0xFF]; }
    // Cell value exported to the editor: (glyph + 0.5) / glyph count names glyph i of the strip.
    double getrw(short code) const { return (getrs(code) + 0.5) * dScale; }
    short getdx() const { return iDx; }
    short getdy() const { return iDy; }
    short getre() const { return static_cast<short>(iLargest + 1); } // glyph count

private:
    short iDx;
    short iDy;
    int iGlyphs[iCcodes];
    int iLargest;
    double dScale; // 1 / glyph count
};
