// The FFT and GPU rows 9-17 of the kernel-mode table: their step routines, plan callbacks and the
// GPU-side element operations. Until these modes are built, loads fail (so the convolver stays
// unplanned and plays silence), step routines write a block of silence, and the other callbacks do
// nothing.
#include "convolution/CoreOpti.h"

namespace {

int silentBlock(double* outL, double* outR, const FFTEXTENSION* extension) {
    const int block = extension ? extension->block : 0;
    for (int j = 0; j < block; ++j) {
        outL[j] = 0.0;
        outR[j] = 0.0;
    }
    return 0;
}

} // namespace

int CoreOpti::cns10(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

int CoreOpti::cns11(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

int CoreOpti::cns12(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

int CoreOpti::cns14(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

int CoreOpti::cns15(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

int CoreOpti::cns16(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

int CoreOpti::cns17(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

int CoreOpti::cns18(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long, FFTEXTENSION* extension) {
    return silentBlock(outL, outR, extension);
}

bool load3(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return false;
}

bool load4(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return false;
}

bool load5(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return false;
}

bool load7(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return false;
}

bool load8(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return false;
}

bool load9(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return false;
}

bool lod10(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return false;
}

void uloa3(FFTSTRUCT*, FFTEXTENSION*) {}
void uloa4(FFTSTRUCT*, FFTEXTENSION*) {}
void uloa5(FFTSTRUCT*, FFTEXTENSION*) {}
void uloa7(FFTSTRUCT*, FFTEXTENSION*) {}
void uloa8(FFTSTRUCT*, FFTEXTENSION*) {}
void uloa9(FFTSTRUCT*, FFTEXTENSION*) {}
void ulo10(FFTSTRUCT*, FFTEXTENSION*) {}
void clea3(FFTSTRUCT*, FFTEXTENSION*) {}
void clea4(FFTSTRUCT*, FFTEXTENSION*) {}
void clea5(FFTSTRUCT*, FFTEXTENSION*) {}
void clea7(FFTSTRUCT*, FFTEXTENSION*) {}
void clea8(FFTSTRUCT*, FFTEXTENSION*) {}
void clea9(FFTSTRUCT*, FFTEXTENSION*) {}
void cle10(FFTSTRUCT*, FFTEXTENSION*) {}

bool lcom1(FFTSTRUCT*, FFTEXTENSION*, void*, short, long) {
    return false;
}

bool lcom2(FFTSTRUCT*, FFTEXTENSION*, void*, short, long) {
    return false;
}

bool lcom3(FFTSTRUCT*, FFTEXTENSION*, void*, short, long) {
    return false;
}

void ucom1(FFTSTRUCT*, FFTEXTENSION*) {}
void ucom2(FFTSTRUCT*, FFTEXTENSION*) {}
void ucom3(FFTSTRUCT*, FFTEXTENSION*) {}

int szel2() {
    return 4;
}

void* nwel2(VECEXTENSION*, CorePool*, int) {
    return nullptr;
}

void dlel2(VECEXTENSION*, CorePool*, void*) {}
void copy2(VECEXTENSION*, void*, const void*, int, bool, int, bool) {}
void adj_2(VECEXTENSION*, void*, void*, int, double) {}
void fade2(VECEXTENSION*, int, void*, void*, int, const void*, int, const void*) {}
void vmix2(VECEXTENSION*, bool, bool, bool, const VECTORMIXSTRUCT*, int, int, void*, void*, void* const*,
           void* const*) {}
