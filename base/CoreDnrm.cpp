#include "base/CoreDnrm.h"

#include "platform/IppLayer.h"
#include "platform/MxcsrLayer.h"

CoreDnrm::CoreDnrm(iCrounding)
    : bFlushToZero(mxcsrFlushToZero()), bDenormalsAreZero(mxcsrDenormalsAreZero()) {
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
}

// The host's audio thread runs other code after our call returns: leave it the modes it had.
CoreDnrm::~CoreDnrm() {
    ippSetFlushToZero(bFlushToZero ? 1 : 0, nullptr);
    ippSetDenormAreZeros(bDenormalsAreZero ? 1 : 0);
}
