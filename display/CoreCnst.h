// CoreCnst: records the display shares with the plug-in object and the editor. The popup content
// holder belongs to the plug-in object; the display fills it (CoreDsmn::pushd) on the renderer's
// thread while the editor's thread copies it out, both under the holder's own lock.
#pragma once
#include "base/CoreSmph.h"

#include <cstddef>
#include <cstdint>

class CoreCnst {
public:
    CoreCnst() = delete;

    static constexpr int iCpopuptext = 48; // bytes of an entry's text, NUL included

    // The cell export (property 100104 sends the value array alone). fontcount fonts; for font f,
    // rows[f] rows (main and add area) of columns[f] values starting at rowstarts[f][r] in values;
    // each value is (glyph index + 0.5) / glyph count of the font, or -1 where another font's cell is.
    // Built by CoreDsif::newdd, freed by CoreDsif::deldd.
    struct DISPLAYDATA {
        int32_t total = 0;
        int32_t fontcount = 0;
        int32_t* rows = nullptr;
        int32_t* columns = nullptr;
        int32_t** rowstarts = nullptr;
        double* values = nullptr;
    };

    // One popup menu entry (property 100107 per entry, 100108 for the choice).
    struct POPMENUENTRY {
        int32_t parent; // record index of the parent entry; -1 at the top level
        char text[iCpopuptext];
    };
    static_assert(sizeof(POPMENUENTRY) == 52 && offsetof(POPMENUENTRY, text) == 4);

    // The arm record (property 100106), little-endian, padding zero.
    struct POPMENUARM {
        uint8_t armed;
        uint8_t padding;
        int16_t menu;
        int32_t count;
        int16_t column;
        int16_t row;
        int16_t width;
        int16_t height;
        int16_t percolumn;
        int16_t padding2;
    };
    static_assert(sizeof(POPMENUARM) == 20 && offsetof(POPMENUARM, menu) == 2 &&
                  offsetof(POPMENUARM, count) == 4 && offsetof(POPMENUARM, column) == 8 &&
                  offsetof(POPMENUARM, row) == 10 && offsetof(POPMENUARM, width) == 12 &&
                  offsetof(POPMENUARM, height) == 14 && offsetof(POPMENUARM, percolumn) == 16);

    // The popup content holder: count records, record 0 the title. lock guards count and items: it
    // is taken by every writer and by the plug-in object's copies, and is taken last (a leaf lock).
    struct POPMENUCONTENTDATA {
        int32_t count = 0;
        POPMENUENTRY* items = nullptr;
        CoreSmph lock;
    };
};
