#include "plugin/CoreFrlk.h"

#include "plugin/CoreFrme.h"

void CoreFrlk::setlk(CoreFrme* frame) {
    pFrame = frame;
    bLinked = frame != nullptr;
}

void CoreFrlk::dellk() {
    pFrame = nullptr;
    bLinked = false;
}

void* CoreFrlk::getsr() const { return bLinked && pFrame ? pFrame->getsr() : nullptr; }
