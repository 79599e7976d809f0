#include "display/CoreDsch.h"

CoreDsch::CoreDsch(const CoreBlnk* clock)
    : iFont(iCemptyfont), cCharacter(cCblank), bBlink(false), pClock(clock) {}

char CoreDsch::getvl() const {
    if (bBlink && pClock != nullptr && !pClock->getvl()) return cCblank;
    return cCharacter;
}
