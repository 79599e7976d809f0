#include "modulation/DataRgfn.h"

#include "base/CoreButl.h"

#include <cmath>

namespace {

using FUNEXTENSION = CoreRgfn::FUNEXTENSION;

// exp(-1 / (v k)) - 0.5 with v the first recorded value: -0.5 for a zero
// product, towards 0.5 for a large one. Without values the previous result is
// held.
double singleValueEnvelope(FUNEXTENSION* record) {
    if (record->pValues0 == nullptr || record->iCount0 < 1) return record->dY;
    return std::exp(-1.0 / (record->pValues0[0] * record->dK)) - 0.5;
}

// The recorded envelope read at position a * 100000000 with step 1 / b.
// Positions before the start or past the end read the first or the last value,
// as the table read does; they are answered here so that no out-of-range
// position reaches its integer index. Without values the previous result is
// held.
double multiValueEnvelope(FUNEXTENSION* record) {
    const int count = record->iCount0;
    double* values = record->pValues0;
    if (values == nullptr || count < 1) return record->dY;
    const double position = record->dA * 100000000.0;
    const double step = 1.0 / record->dB;
    const double index = position / step;
    if (!(index >= 0.0)) return values[0];
    if (index >= count - 1) return values[count - 1];
    double next = 0.0;
    return CoreButl::envsv(position, count, values, step, next, false);
}

} // namespace

DataRgfn::DataRgfn() : iCount(iCrows), pRows(new CoreRgfn*[iCrows]) {
    pRows[0] = new CoreRgfn(CoreAnsx("RSINGLE"), CoreAnsx("Raw 1 value envelope"), singleValueEnvelope);
    pRows[1] = new CoreRgfn(CoreAnsx("RMULTI"), CoreAnsx("Raw multi value envelope"), multiValueEnvelope);
}

DataRgfn::~DataRgfn() {
    for (int i = 0; i < iCount; i++) delete pRows[i];
    delete[] pRows;
}

void DataRgfn::getgs(CoreAnsx** labels, CoreAnsx** keys) const {
    for (int i = 0; i < iCount; i++) {
        if (labels != nullptr && *labels != nullptr) (*labels)[i] = pRows[i]->getlb();
        if (keys != nullptr && *keys != nullptr) (*keys)[i] = pRows[i]->getky();
    }
}

CoreRgfn* DataRgfn::getgf(const CoreAnsx& key) const {
    int found = 0;
    for (int i = 0; i < iCount; i++)
        if (pRows[i]->getky() == key) found = i;
    return pRows[found];
}
