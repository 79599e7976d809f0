// CoreDsbr: a bar graph drawn with characters: a value 0 .. 1 becomes a run of full cells and at
// most one partial cell of the grid's bar codes. Immutable after construction.
#pragma once
#include "base/CoreAnsx.h"

class CoreDsbr {
public:
    // Cells of the bar, steps per cell and the code of a full cell; a partial cell of k steps is
    // the code base + steps - k, so the glyph grows with the fill.
    CoreDsbr(short cells, short steps, int baseCode);

    short getch() const { return iCells; }
    // The bar for v, clamped to 0 .. 1; not padded. A non-finite v gives the empty text.
    CoreAnsx getvl(double v) const;

private:
    short iCells;
    short iSteps;
    int iBase;
    int iTotal; // cells * steps
};
