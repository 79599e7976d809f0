// CoreStte: the page state table. The display moves between its pages (states 0 .. 23) only by
// looking up (current state, action text); the first matching row, in the order rows were added,
// names the next state. Rows are added while the display object is built, before any lookup; each
// lookup runs under the table's lock, so the renderer and the display thread may both look up.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreSmph.h"

#include <cstdint>
#include <vector>

class CoreStte {
public:
    static constexpr int32_t iCanystate = -1; // a from-state below 0 matches every state

    CoreStte();
    CoreStte(const CoreStte&) = delete;
    CoreStte& operator=(const CoreStte&) = delete;

    void addmp(int from, const CoreAnsx& action, int to); // takes no lock: only while building
    // The state the action leads to from state; state itself when no row matches. The action is
    // compared byte for byte.
    int getst(int state, const CoreAnsx& action);
    bool chngd(); // whether the last lookup moved to another state
    int getnr() const { return static_cast<int>(vRows.size()); } // rows added

    // Appends the display's rows, specific rows before the rows for any state.
    static void addDisplayRows(CoreStte& table);

private:
    struct Row {
        int32_t from;
        CoreAnsx action;
        int32_t to;
    };

    bool bChanged;
    std::vector<Row> vRows;
    CoreSmph oLock;
};
