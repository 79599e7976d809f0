// MxcsrLayer: reads the calling thread's SSE denormal modes, so that a guard can put back what it
// found (the layer's ippSetFlushToZero and ippSetDenormAreZeros change them). Per thread; no state.
#pragma once

bool mxcsrFlushToZero();      // MXCSR bit 0x8000
bool mxcsrDenormalsAreZero(); // MXCSR bit 0x0040
