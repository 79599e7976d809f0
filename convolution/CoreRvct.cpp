#include "convolution/CoreRvct.h"

#include "base/CoreButl.h"
#include "base/CorePool.h"

CoreRvct::CoreRvct(CorePool* pool, CorePlel* registry, bool leaf, int n, CoreAnsx* names, CoreVctr** children,
                   double* positions, double min, double max, double* secondary, double secondaryMin,
                   double secondaryMax, DataSrce* table, double liquid, CoreAnsx liquidSource)
    : CoreVctr(pool, registry, 0, nullptr, leaf, n, names, positions, children, min, max, secondary,
               secondaryMin, secondaryMax, CoreAnsx("0"), table, liquid, liquidSource, 0, 0, nullptr, nullptr,
               false, 0, 0, false) {}

CoreRvct::~CoreRvct() {
    for (int i = 0; i < oArrays.Count; ++i) pool()->free_(oArrays[i]);
    oArrays.Clear();
}

void CoreRvct::setvl(bool vectorOn, double min, double max, CoreAnsx vectorSource, bool positionOut,
                     CoreAnsx positionSource) {
    CoreVctr::setvl(vectorOn, min, max, vectorSource, positionOut, positionSource, 0.0, CoreAnsx("1"), 1.0,
                    CoreAnsx("1"), false, CoreAnsx("1"), false, getmn(), 1.0);
}

int CoreRvct::setre(int length, double** arrays, int* lengths) {
    const int n = getne();
    for (int i = 0; i < n; ++i) {
        // An empty table still holds one value, so that readers of its first value stay inside it.
        const int size = length > 0 ? length : 1;
        double* values = static_cast<double*>(pool()->mallc(0, size, "RVCT"));
        if (!oArrays.Add(values)) {
            pool()->free_(values);
            throw CoreAnsx("Raw vector: no memory for its arrays");
        }
        int copied = 0;
        if (arrays != nullptr && lengths != nullptr && arrays[i] != nullptr) {
            copied = lengths[i] < length ? lengths[i] : length;
            if (copied < 0) copied = 0;
            for (int j = 0; j < copied; ++j) values[j] = arrays[i][j];
        }
        if (copied == 0) {
            values[0] = 0.0;
            copied = 1;
        }
        for (int j = copied; j < size; ++j) values[j] = values[copied - 1];
        setip(i, values, values, CoreAnsx(CoreButl::sCnull), length, 0, 0, 0, nullptr, 0);
    }
    return n;
}
