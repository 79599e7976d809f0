// CoreGlyf: the shapes of the built-in character glyphs: a 6 × 12 cell per character code (5 × 7
// dots for printable ASCII and the section sign, bar segments, a track, arrows, a hollow square for
// codes without a shape of their own), and which code each glyph of the font strips shows.
// Constant tables; thread-safe.
#pragma once
#include <array>
#include <cstdint>

class CoreGlyf {
public:
    static constexpr int32_t iCwidth = 6;
    static constexpr int32_t iCheight = 12;
    static constexpr int32_t iCglyphs = 108;       // strips with the extra codes (fonts 200, 202)
    static constexpr int32_t iCcommonglyphs = 94;  // the strip without them (font 201)

    // Row r (0 at the top) of the cell of a character code: bit c set where column c is lit.
    static std::array<uint8_t, iCheight> cell(int32_t code);
    // The character code glyph g of a strip shows, in the order of the display's glyph table;
    // -1 for a glyph beyond the strip.
    static int32_t character(int32_t glyph, bool extraCodes);
};
