// CoreRvct: a vector of raw arrays of doubles (the program's raw functions read them as tables moved
// by the vector's position). No convolver: the CPU element operations; its arrays are never
// registered and are freed by this vector. Owned by the program's raw record; no lock (as CoreVctr).
#pragma once
#include "base/CoreTlst.h"
#include "convolution/CoreVctr.h"

class CoreRvct : public CoreVctr {
public:
    // Children, when given, are CoreRvct nodes; they are owned from here on.
    CoreRvct(CorePool* pool, CorePlel* registry, bool leaf, int n, CoreAnsx* names, CoreVctr** children,
             double* positions, double min, double max, double* secondary, double secondaryMin,
             double secondaryMax, DataSrce* table, double liquid, CoreAnsx liquidSource);
    ~CoreRvct() override;

    using CoreVctr::chnup;
    using CoreVctr::setvl;
    // setvl with pan 0 and pad 1 (both from the constant source "1"), gain and normalisation off.
    void setvl(bool vectorOn, double min, double max, CoreAnsx vectorSource, bool positionOut,
               CoreAnsx positionSource);
    // Gives each element an array of length values (at least one, 0.0 when nothing is copied): the
    // first min(length, lengths[i]) values of arrays[i], then its last copied value repeated.
    // The same array is both kernels of the element. Returns n.
    int setre(int length, double** arrays, int* lengths);
    void chnup() { CoreVctr::chnup(true); }

private:
    CoreTlst oArrays; // the raw arrays allocated by setre, freed by the destructor
};
