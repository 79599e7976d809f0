// CoreFrlk: the link from the editor's keyboard hook to the open frame: linked at the editor's
// open, unlinked at its close. Used under the editor lock.
#pragma once

class CoreFrme;

class CoreFrlk {
public:
    void setlk(CoreFrme* frame);
    void dellk();
    CoreFrme* getfr() const { return bLinked ? pFrame : nullptr; }
    void* getsr() const; // the linked frame's host window, null when unlinked

private:
    bool bLinked = false;
    CoreFrme* pFrame = nullptr;
};
