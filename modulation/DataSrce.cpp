#include "modulation/DataSrce.h"

namespace {

// Appends keys prefix1..prefixN (a numbered range) to the row list.
void addRange(CoreSrce** rows, int& next, const char* prefix, int count) {
    for (int i = 1; i <= count; i++)
        rows[next++] = new CoreSrce(CoreAnsx(prefix) + CoreAnsx(i), CoreAnsx(""));
}

void addRow(CoreSrce** rows, int& next, const char* key, const char* label = "") {
    rows[next++] = new CoreSrce(CoreAnsx(key), CoreAnsx(label));
}

} // namespace

DataSrce::DataSrce() : iCount(iCcount), pRows(new CoreSrce*[iCcount]) {
    int next = 0;
    addRow(pRows, next, "OFF");
    addRange(pRows, next, "LFO", 4);
    addRange(pRows, next, "FUN", 8);
    addRange(pRows, next, "ENV", 4);
    addRange(pRows, next, "AMC", 2);
    addRange(pRows, next, "MIX", 8);
    addRow(pRows, next, "LSTO");
    addRow(pRows, next, "GAININ");
    addRow(pRows, next, "GAINOUT");
    addRange(pRows, next, "EVF", 4);
    addRange(pRows, next, "DNM", 2);
    addRange(pRows, next, "PRM", 12);
    addRow(pRows, next, "IN_L");
    addRow(pRows, next, "IN_R");
    addRow(pRows, next, "OUTL");
    addRow(pRows, next, "OUTR");
    addRange(pRows, next, "BUS", 8);
    addRow(pRows, next, "RATELFO1", "RTELFO1");
    addRow(pRows, next, "RATELFO2", "RTELFO2");
    addRow(pRows, next, "RATELFO3", "RTELFO3");
    addRow(pRows, next, "RATELFO4", "RTELFO4");
    addRow(pRows, next, "IN_P");
    addRow(pRows, next, "OUTP");
    addRange(pRows, next, "RAWFUN", 4);
    addRow(pRows, next, "PRM13");
    addRow(pRows, next, "PRM14");
    addRow(pRows, next, "PRM15");
    addRow(pRows, next, "PRM16");
    addRange(pRows, next, "EAT", 4);
    addRange(pRows, next, "ERT", 4);
    addRow(pRows, next, "EVF5");
    addRow(pRows, next, "ON");
}

DataSrce::~DataSrce() {
    for (int i = 0; i < iCount; i++) delete pRows[i];
    delete[] pRows;
}

CoreSrce* DataSrce::getis(int i) const {
    if (i < 0 || i >= iCount) return nullptr;
    return pRows[i];
}

void DataSrce::getgs(CoreAnsx** labels, CoreAnsx** keys) const {
    for (int i = 0; i < iCount; i++) {
        if (labels != nullptr && *labels != nullptr) (*labels)[i] = pRows[i]->getlb();
        if (keys != nullptr && *keys != nullptr) (*keys)[i] = pRows[i]->getky();
    }
}

CoreSrce* DataSrce::getsc(const CoreAnsx& key) const {
    int found = 0;
    for (int i = 0; i < iCount; i++)
        if (pRows[i]->getky() == key) found = i;
    return pRows[found];
}

bool DataSrce::isact(const CoreAnsx& key) const {
    for (int i = 1; i < iCount; i++)
        if (pRows[i]->getky() == key) return true;
    return false;
}

bool DataSrce::isils(const CoreAnsx& key) const {
    if (key.Length() <= 0) return true;
    for (int i = 0; i < iCount; i++)
        if (pRows[i]->getky() == key) return true;
    return false;
}
