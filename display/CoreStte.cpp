#include "display/CoreStte.h"

namespace {

struct DisplayRow {
    int32_t from;
    const char* action;
    int32_t to;
};

// Rows from one state first, so that they win over the rows for any state: the boot page's moves
// and the compact set (17 list, 18 program, 19 master, 23 batch) leading to compact pages again.
constexpr DisplayRow displayRows[] = {
    {20, "ERRR", 21},
    {20, "BOOT", 0},
    {20, "BOO2", 18},
    {17, "MAST", 19},
    {18, "MAST", 19},
    {2, "MAS2", 19},
    {23, "MAST", 19},
    {18, "LIST", 17},
    {19, "LIST", 17},
    {23, "LIST", 17},
    {17, "PROG", 18},
    {19, "PROG", 18},
    {23, "PROG", 18},
    {17, "BTCH", 23},
    {18, "BTCH", 23},
    {19, "BTCH", 23},
    {CoreStte::iCanystate, "MIDI", 3},
    {CoreStte::iCanystate, "LIST", 1},
    {CoreStte::iCanystate, "KERN", 5},
    {CoreStte::iCanystate, "PROG", 0},
    {CoreStte::iCanystate, "EDIT", 6},
    {CoreStte::iCanystate, "MAST", 2},
    {CoreStte::iCanystate, "DISK", 4},
    {CoreStte::iCanystate, "LFOS", 7},
    {CoreStte::iCanystate, "GLOB", 8},
    {CoreStte::iCanystate, "FUNS", 9},
    {CoreStte::iCanystate, "EVFS", 10},
    {CoreStte::iCanystate, "ENVS", 11},
    {CoreStte::iCanystate, "DYNS", 12},
    {CoreStte::iCanystate, "PRMS", 13},
    {CoreStte::iCanystate, "MEMO", 6},
    {CoreStte::iCanystate, "BTCH", 22},
    {CoreStte::iCanystate, "ABOUT", 15},
    {CoreStte::iCanystate, "TEST", 16},
    {CoreStte::iCanystate, "PARM", 14},
};

} // namespace

CoreStte::CoreStte() : bChanged(false) {}

void CoreStte::addmp(int from, const CoreAnsx& action, int to) {
    vRows.push_back(Row{from, action, to});
}

int CoreStte::getst(int state, const CoreAnsx& action) {
    oLock.locks();
    bChanged = false;
    int next = state;
    for (const Row& row : vRows) {
        if ((row.from == state || row.from < 0) && row.action == action) {
            next = row.to;
            bChanged = next != state;
            break;
        }
    }
    oLock.relse();
    return next;
}

bool CoreStte::chngd() {
    oLock.locks();
    const bool changed = bChanged;
    oLock.relse();
    return changed;
}

void CoreStte::addDisplayRows(CoreStte& table) {
    for (const DisplayRow& row : displayRows) table.addmp(row.from, CoreAnsx(row.action), row.to);
}
