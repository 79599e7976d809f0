#include "filestore/DataRtcv.h"

#include "base/CorePool.h"

#include <cmath>

namespace {

struct PathRow {
    double from;
    double to;
    int16_t stages;
    bool firstUp;
    int factors[6];
};

// The paths in table order: the index is the row number getpt returns. Rows
// naming 352800 realise the ratio of 352000 (their factors, not their rates,
// decide the output).
constexpr PathRow kPaths[DataRtcv::iCrows] = {
    {44100, 6000, 4, true, {4, 21, 5, 7, -1, -1}},       {44100, 8000, 4, true, {4, 21, 20, 21, -1, -1}},
    {44100, 11025, 1, false, {4, -1, -1, -1, -1, -1}},   {44100, 14000, 4, true, {4, 9, 5, 7, -1, -1}},
    {44100, 16000, 6, true, {4, 7, 5, 7, 8, 9}},         {44100, 18000, 4, true, {4, 7, 5, 7, -1, -1}},
    {44100, 22050, 1, false, {2, -1, -1, -1, -1, -1}},   {44100, 24000, 4, true, {4, 7, 20, 21, -1, -1}},
    {44100, 32000, 6, true, {4, 3, 8, 7, 10, 21}},       {44100, 48000, 4, true, {8, 7, 20, 21, -1, -1}},
    {44100, 60000, 4, true, {10, 7, 20, 21, -1, -1}},    {44100, 64000, 6, true, {4, 3, 8, 7, 20, 21}},
    {44100, 70000, 6, true, {4, 3, 5, 3, 5, 7}},         {44100, 77000, 4, true, {10, 9, 11, 7, -1, -1}},
    {44100, 88200, 1, true, {2, -1, -1, -1, -1, -1}},    {44100, 96000, 6, true, {4, 3, 8, 7, 10, 7}},
    {44100, 176400, 1, true, {4, -1, -1, -1, -1, -1}},   {44100, 192000, 6, true, {8, 7, 8, 7, 10, 3}},
    {44100, 352800, 1, true, {8, -1, -1, -1, -1, -1}},   {44100, 384000, 6, true, {8, 7, 10, 7, 16, 3}},
    {96000, 6000, 1, false, {16, -1, -1, -1, -1, -1}},   {96000, 8000, 1, false, {12, -1, -1, -1, -1, -1}},
    {96000, 11025, 4, true, {7, 32, 21, 40, -1, -1}},    {96000, 14000, 2, true, {7, 48, -1, -1, -1, -1}},
    {96000, 16000, 1, false, {6, -1, -1, -1, -1, -1}},   {96000, 18000, 2, true, {3, 16, -1, -1, -1, -1}},
    {96000, 22050, 4, true, {7, 20, 21, 32, -1, -1}},    {96000, 24000, 1, false, {4, -1, -1, -1, -1, -1}},
    {96000, 32000, 1, false, {3, -1, -1, -1, -1, -1}},   {96000, 44100, 6, true, {3, 5, 7, 8, 7, 8}},
    {96000, 48000, 4, true, {2, 3, 3, 4, -1, -1}},       {96000, 60000, 2, true, {5, 8, -1, -1, -1, -1}},
    {96000, 64000, 2, true, {2, 3, -1, -1, -1, -1}},     {96000, 70000, 4, true, {5, 6, 7, 8, -1, -1}},
    {96000, 77000, 4, true, {7, 8, 11, 12, -1, -1}},     {96000, 88200, 6, true, {3, 2, 7, 10, 7, 8}},
    {96000, 176400, 6, true, {3, 2, 7, 5, 7, 8}},        {96000, 192000, 1, true, {2, -1, -1, -1, -1, -1}},
    {96000, 352800, 6, true, {3, 2, 7, 5, 7, 4}},        {96000, 384000, 1, true, {4, -1, -1, -1, -1, -1}},
    {48000, 44100, 6, true, {3, 2, 7, 10, 7, 8}},        {176400, 44100, 1, false, {4, -1, -1, -1, -1, -1}},
    {176400, 48000, 6, true, {2, 7, 4, 3, 5, 7}},        {176400, 60000, 6, true, {2, 3, 5, 7, 5, 7}},
    {176400, 64000, 6, true, {4, 7, 5, 7, 8, 9}},        {176400, 70000, 4, true, {5, 9, 5, 7, -1, -1}},
    {176400, 77000, 4, true, {5, 9, 11, 14, -1, -1}},    {176400, 88200, 1, false, {2, -1, -1, -1, -1, -1}},
    {176400, 96000, 6, true, {4, 7, 4, 3, 5, 7}},        {176400, 192000, 4, true, {8, 7, 20, 21, -1, -1}},
    {176400, 352800, 1, true, {2, -1, -1, -1, -1, -1}},  {176400, 384000, 6, true, {4, 3, 8, 7, 10, 7}},
    {192000, 44100, 6, true, {3, 10, 7, 8, 7, 8}},       {192000, 88200, 6, true, {3, 5, 7, 8, 7, 8}},
    {192000, 48000, 1, false, {4, -1, -1, -1, -1, -1}},  {192000, 96000, 1, false, {2, -1, -1, -1, -1, -1}},
    {192000, 176400, 6, true, {3, 5, 7, 4, 7, 8}},       {192000, 352800, 2, true, {11, 6, -1, -1, -1, -1}},
    {192000, 384000, 1, true, {2, -1, -1, -1, -1, -1}},  {48000, 88200, 6, true, {3, 5, 7, 4, 7, 4}},
    {48000, 96000, 1, true, {2, -1, -1, -1, -1, -1}},    {48000, 176400, 6, true, {3, 5, 7, 4, 7, 2}},
    {48000, 192000, 1, true, {4, -1, -1, -1, -1, -1}},   {48000, 352800, 2, true, {22, 3, -1, -1, -1, -1}},
    {48000, 384000, 1, true, {8, -1, -1, -1, -1, -1}},   {88200, 44100, 1, false, {2, -1, -1, -1, -1, -1}},
    {88200, 48000, 6, true, {4, 3, 5, 7, 4, 7}},         {88200, 96000, 6, true, {4, 3, 5, 7, 8, 7}},
    {88200, 176400, 1, true, {2, -1, -1, -1, -1, -1}},   {88200, 192000, 6, true, {5, 3, 8, 7, 8, 7}},
    {88200, 352800, 6, true, {16, 9, 10, 7, 11, 7}},     {88200, 384000, 6, true, {10, 3, 8, 7, 8, 7}},
    {352800, 44100, 6, true, {9, 11, 7, 20, 7, 16}},     {352800, 48000, 2, true, {3, 22, -1, -1, -1, -1}},
    {352800, 88200, 6, true, {9, 11, 7, 10, 7, 16}},     {352800, 96000, 2, true, {3, 11, -1, -1, -1, -1}},
    {352800, 176400, 6, true, {9, 11, 7, 16, 7, 5}},     {352800, 192000, 2, true, {6, 11, -1, -1, -1, -1}},
    {352800, 384000, 2, true, {12, 11, -1, -1, -1, -1}}, {384000, 44100, 6, true, {3, 5, 7, 16, 7, 16}},
    {384000, 48000, 1, false, {8, -1, -1, -1, -1, -1}},  {384000, 88200, 6, true, {3, 10, 7, 8, 7, 8}},
    {384000, 96000, 1, false, {4, -1, -1, -1, -1, -1}},  {384000, 176400, 6, true, {3, 5, 7, 8, 7, 8}},
    {384000, 192000, 1, false, {2, -1, -1, -1, -1, -1}}, {384000, 352800, 2, true, {11, 12, -1, -1, -1, -1}},
};

} // namespace

DataRtcv::DataRtcv(CorePool* pool)
    : pPool(pool), pRows(nullptr), dCachedFrom(-1.0), dCachedTo(-1.0), iCachedRow(-1) {
    // The rows are plain data (a double, a pointer, ...): one 8-byte element per
    // 8 bytes of row.
    const int rowWords = static_cast<int>((sizeof(CONVERSIONSTEPSLOC) + 7) / 8);
    pRows = static_cast<CONVERSIONSTEPSLOC*>(pPool->mallc(0, iCrows * rowWords, "RTCV"));
    for (int i = 0; i < iCrows; ++i) pRows[i] = CONVERSIONSTEPSLOC{0.0, 0.0, 0, false, nullptr, 1.0};
    try {
        for (int i = 0; i < iCrows; ++i) {
            const PathRow& p = kPaths[i];
            makec(&pRows[i], p.from, p.to, p.stages, p.firstUp, p.factors[0], p.factors[1], p.factors[2],
                  p.factors[3], p.factors[4], p.factors[5]);
        }
    } catch (...) {
        for (int i = 0; i < iCrows; ++i) pPool->free_(pRows[i].factors);
        pPool->free_(pRows);
        throw;
    }
}

DataRtcv::~DataRtcv() {
    for (int i = 0; i < iCrows; ++i) pPool->free_(pRows[i].factors);
    pPool->free_(pRows);
}

void DataRtcv::makec(CONVERSIONSTEPSLOC* row, double from, double to, int16_t stages, bool firstUp, int f1,
                     int f2, int f3, int f4, int f5, int f6) {
    if (row->factors == nullptr) row->factors = static_cast<int32_t*>(pPool->mallc(1, iCfactors, "RTCV"));
    if (stages < 0) stages = 0;
    if (stages > iCfactors) stages = iCfactors;
    const int given[iCfactors] = {f1, f2, f3, f4, f5, f6};
    row->from = from;
    row->to = to;
    row->stages = stages;
    row->firstUp = firstUp;
    // cf = output rate / input rate: up factors multiply, down factors divide.
    double up = 1.0;
    double down = 1.0;
    for (int k = 0; k < iCfactors; ++k) {
        row->factors[k] = k < stages ? given[k] : -1;
        if (k >= stages) continue;
        const bool isUp = (k % 2 == 0) == firstUp;
        (isUp ? up : down) *= given[k];
    }
    row->cf = stages == 0 ? 1.0 : up / down;
}

int DataRtcv::getpt(double from, double to) {
    if (from == dCachedFrom && to == dCachedTo) return iCachedRow;
    dCachedFrom = from;
    dCachedTo = to;
    double best = std::fabs(to - from);
    int found = -1;
    for (int i = 0; i < iCrows; ++i) {
        const CONVERSIONSTEPSLOC& r = pRows[i];
        const bool fits = std::fabs(r.from - from) <= dCrateslack * std::fabs(from) &&
                          std::fabs(r.to - to) <= dCrateslack * std::fabs(to);
        if (!fits) continue;
        const double distance = std::fabs(from - r.from) + std::fabs(to - r.to);
        if (best > distance) {
            found = i;
            best = distance;
        }
    }
    iCachedRow = found;
    return found;
}

const DataRtcv::CONVERSIONSTEPSLOC* DataRtcv::row(int index) const {
    return index >= 0 && index < iCrows ? &pRows[index] : nullptr;
}

int16_t DataRtcv::getst(int index) const {
    const CONVERSIONSTEPSLOC* r = row(index);
    return r ? r->stages : 0;
}

bool DataRtcv::getfi(int index) const {
    const CONVERSIONSTEPSLOC* r = row(index);
    return r ? r->firstUp : false;
}

int32_t DataRtcv::getfc(int index, int16_t k) const {
    const CONVERSIONSTEPSLOC* r = row(index);
    return r && k >= 0 && k < iCfactors ? r->factors[k] : -1;
}

double DataRtcv::geter(int index) const {
    const CONVERSIONSTEPSLOC* r = row(index);
    return r ? r->to : 0.0;
}

double DataRtcv::getcf(int index) const {
    const CONVERSIONSTEPSLOC* r = row(index);
    return r ? r->cf : 1.0;
}
