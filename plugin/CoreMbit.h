// CoreMbit: an LED bank of the editor: one multi-frame LED whose value picks the image, or a set of
// alternative images of which exactly one is shown at a time (none before the first setvl). Owns
// its LED controls and adds them to, or removes them from, the editor's frame. Created and deleted
// by the editor's open and close; every call runs under the editor lock.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/gui/CRect.h"

class CBitmap;
class CControlListener;
class CFrame;
class CMovieBitmap;

class CoreMbit {
public:
    CoreMbit(int count, CFrame* frame);
    ~CoreMbit();
    CoreMbit(const CoreMbit&) = delete;
    CoreMbit& operator=(const CoreMbit&) = delete;

    // One-element bank (count 1): a frames-image LED at (x, y), shown at once.
    void addes(int frames, int32_t tag, int x, int y, CControlListener* listener, CBitmap* bitmap);
    // Element index of a bank of alternatives: a single image at (x, y), not shown yet.
    void addel(int index, int32_t tag, int x, int y, CControlListener* listener, CBitmap* bitmap);
    // A non-finite value is ignored.
    void setvl(double value);
    double getvl() const;
    int getsh() const { return iShown; } // the element shown, -1 for none
    int getcn() const { return iCount; }
    CMovieBitmap* getct(int index) const; // an element's control, null when none

private:
    struct ELEMENT {
        bool attached = false;
        CMovieBitmap* control = nullptr;
        CRect rect;
    };
    int iCount;
    int iShown = -1;
    double dValue = -1.0;
    std::vector<ELEMENT> oElements;
    CFrame* pFrame;
};
