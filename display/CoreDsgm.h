// CoreDsgm: the popup group: the display's popup menus and the arm record that opens and closes one
// in the editor (property 100106). Owned by the display object and used under the display lock on
// the renderer's thread.
#pragma once
#include "display/CoreCnst.h"
#include "display/CoreDsmn.h"
#include "display/DisplayHost.h"

#include <vector>

class CorePrcs;

class CoreDsgm {
public:
    CoreDsgm(CorePrcs* processor, DisplayHost* host);
    ~CoreDsgm();
    CoreDsgm(const CoreDsgm&) = delete;
    CoreDsgm& operator=(const CoreDsgm&) = delete;

    void reset(short n);
    CoreDsmn* getmn(short i) const; // null outside the menus
    void arm__(bool on, short menu, int count, short current);
    short focus(short column, short row, bool down) const;
    void clear();

    bool getar() const { return bArmed; }
    short getcn() const { return static_cast<short>(vMenus.size()); }
    const CoreCnst::POPMENUARM& getrc() const { return oRecord; }

private:
    void deleteMenus();

    bool bArmed = false;
    std::vector<CoreDsmn*> vMenus; // owned
    CorePrcs* pProcessor;
    CoreCnst::POPMENUARM oRecord{};
    DisplayHost* pHost;
};
