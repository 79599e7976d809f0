// CoreDsch: one cell of the display grid: an 8-bit character, the font it is drawn in and a blink
// flag, plus the grid's shared blink clock (not owned). Owned by CoreDsbf; no lock of its own (the
// grid's writers hold the display lock).
#pragma once
#include "base/CoreBlnk.h"

class CoreDsch {
public:
    static constexpr char cCblank = ' ';
    static constexpr short iCemptyfont = 3; // the layer that shows nothing

    explicit CoreDsch(const CoreBlnk* clock);

    // Inline: the grid sets whole rows of cells on every renderer pass.
    void setvl(char character, short font, bool blink) {
        iFont = font;
        cCharacter = character;
        bBlink = blink;
    }
    char getch() const { return cCharacter; }
    short getfn() const { return iFont; }
    bool getbl() const { return bBlink; }
    // The character to show now: the blank while a blinking cell is in the clock's off phase.
    char getvl() const;

private:
    short iFont;
    char cCharacter;
    bool bBlink;
    const CoreBlnk* pClock;
};
