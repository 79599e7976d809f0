#include "display/CoreDsch.h"

CoreDsch::CoreDsch(const CoreBlnk* clock)
    : iFont(iCemptyfont), cCharacter(cCblank), bBlink(false), pClock(clock) {}

void CoreDsch::setvl(char character, short font, bool blink) {
    cCharacter = character;
    iFont = font;
    bBlink = blink;
}

char CoreDsch::getvl() const {
    if (bBlink && pClock != nullptr && !pClock->getvl()) return cCblank;
    return cCharacter;
}
