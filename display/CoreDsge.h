// CoreDsge: the edit group: the edit fields of the current page, the pointer clicks that arm them, the
// key messages fed to the armed field, and the keyboard flag sent to the plug-in object (property
// 100105). Owned by the display object and used under the display lock on the renderer's thread.
#pragma once
#include "display/CoreDsbf.h"
#include "display/CoreDsed.h"
#include "display/CoreDspc.h"
#include "display/DisplayHost.h"

#include <vector>

class CoreDsge {
public:
    CoreDsge(CoreDsbf* grid, CoreDspc* queue, DisplayHost* host);
    ~CoreDsge();
    CoreDsge(const CoreDsge&) = delete;
    CoreDsge& operator=(const CoreDsge&) = delete;

    void reset(short n);
    CoreDsed* gettx(short i) const; // null beyond the fields that exist
    void clear();                   // the count keeps its old value
    void focus(short column, short row, bool down);
    void draw_();

    short getcn() const { return iCount; }
    bool getar() const { return bArmed; }

private:
    void sendKeyboard(bool on);
    void deleteFields();

    short iCount = 0;
    bool bArmed = false;
    CoreDsbf* pGrid;
    std::vector<CoreDsed*> vFields; // owned
    CoreDspc* pQueue;
    bool bKeyboard = false;
    DisplayHost* pHost;
};
