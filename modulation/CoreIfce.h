// CoreIfce: the value of one front-panel control (a mix control or a gain, also a host parameter): a
// normal and an alternate value set in the control's own units, a change LED, wheel and drag steps,
// and a pending value handed over between threads. Owned by the program; host, control and display
// threads call it: the value lock guards the sets and the LED, the pending lock the pending value.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreBlnk.h"
#include "base/CoreSmph.h"
#include "modulation/CoreSrce.h"

#include <cstdint>

class CoreIfce {
public:
    // The normal set starts valid with value and reference = initial; with led the LED starts in its
    // blinking phase (code 3) on the blink clock.
    CoreIfce(const CoreAnsx& key, double min, double max, const CoreAnsx& label, const CoreAnsx& unit,
             CoreSrce* slot, double initial, bool led, CoreBlnk* blink);
    ~CoreIfce();
    CoreIfce(const CoreIfce&) = delete;
    CoreIfce& operator=(const CoreIfce&) = delete;

    // Sets value and reference of the normal set (normal true) or of the active set; the linked slot
    // follows the normal set.
    void setiv(double value, bool valid, bool normal);
    // Moves the normal or the active set to a position 0..1 (clamped; NaN ignored). Changes nothing
    // while the set is not valid.
    void setvl(double position, bool normal);
    double getvl(bool normal);
    double getiv(bool normal);
    bool isval(bool normal);
    // Wheel step on the active set: delta^2 wheel steps, down for delta < 1.
    void mswhl(int delta);
    // Drag step: one pixel up adds 0.012, one pixel right 0.0012; clamped to 0..1. Updates lastX/lastY.
    static double getnh(double position, int& lastX, int& lastY, int x, int y);
    // LED code to show now: 1 above the reference, 2 below, 3 equal, 0 dark.
    int16_t getml();
    int16_t getll(); // the code last shown for the active set
    void mode_(bool alternate);
    bool isalt();
    void settf(int n); // wheel step 1/n; n < 1 ignored
    int16_t getcp();
    void setcp(int16_t coarse);
    double getpa();
    void setpa(double value);
    CoreAnsx getlb() const { return sLabel; }
    CoreAnsx getun() const { return sUnit; }

private:
    double positionOf(int set) const;

    CoreAnsx sKey;
    CoreAnsx sLabel;
    CoreAnsx sUnit;
    double dMin;
    double dMax;
    double dWheelstep;  // fraction of the range per wheel unit
    double dPending;    // -2.0: none
    int16_t iActiveset; // 0 normal, 1 alternate
    int16_t iCoarse;    // -1: none
    bool bLedexpired;   // the steady period after the last change is over
    bool bLedenabled;
    double dRaw[2];
    double dReference[2];
    int16_t iLedshown[2];
    int16_t iLedstate[2];
    bool bValid[2];
    CoreSrce* pSlot;
    CoreBlnk* pBlink;
    CoreSmph* pValuelock;
    CoreSmph* pPendinglock;
    double dSteadyuntil; // days since the epoch (CoreXutl::ttime)
};
