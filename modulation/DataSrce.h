// DataSrce: the fixed table of the 84 modulation slots. Programs name slots by key; code that owns
// a slot addresses it by the row numbers below, which stored programs and other subsystems rely on.
// Built once per program (and by the display, for its name lists); not thread-safe.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreSrce.h"

class DataSrce {
public:
    // Row numbers. Every range is numbered without gaps (FUN1..FUN8 are rows 5..12).
    static constexpr int iCrowoff = 0;       // "OFF", preset to -1.0 by the program
    static constexpr int iCrowlfo1 = 1;      // "LFO1".."LFO4"
    static constexpr int iCrowfun1 = 5;      // "FUN1".."FUN8"
    static constexpr int iCrowenv1 = 13;     // "ENV1".."ENV4"
    static constexpr int iCrowamc1 = 17;     // "AMC1", "AMC2"
    static constexpr int iCrowmix1 = 19;     // "MIX1".."MIX8": front-panel controls 0-7
    static constexpr int iCrowlsto = 27;     // "LSTO": written by the program once per block
    static constexpr int iCrowgainin = 28;   // "GAININ": front-panel control 8
    static constexpr int iCrowgainout = 29;  // "GAINOUT": front-panel control 9
    static constexpr int iCrowevf1 = 30;     // "EVF1".."EVF4"
    static constexpr int iCrowdnm1 = 34;     // "DNM1", "DNM2"
    static constexpr int iCrowprm1 = 36;     // "PRM1".."PRM12"
    static constexpr int iCrowinl = 48;      // "IN_L", preset to -1.0; the processor's followers
    static constexpr int iCrowinr = 49;      // "IN_R"
    static constexpr int iCrowoutl = 50;     // "OUTL"
    static constexpr int iCrowoutr = 51;     // "OUTR"
    static constexpr int iCrowbus1 = 52;     // "BUS1".."BUS8"
    static constexpr int iCrowratelfo1 = 60; // "RATELFO1".."RATELFO4", labelled "RTELFO1".."RTELFO4"
    static constexpr int iCrowinp = 64;      // "IN_P"
    static constexpr int iCrowoutp = 65;     // "OUTP"
    static constexpr int iCrowrawfun1 = 66;  // "RAWFUN1".."RAWFUN4"
    static constexpr int iCrowprm13 = 70;    // "PRM13".."PRM16"
    static constexpr int iCroweat1 = 74;     // "EAT1".."EAT4"
    static constexpr int iCrowert1 = 78;     // "ERT1".."ERT4"
    static constexpr int iCrowevf5 = 82;     // "EVF5"
    static constexpr int iCrowon = 83;       // "ON", preset to +1.0 by the program
    static constexpr int iCcount = 84;

    DataSrce();
    ~DataSrce();
    DataSrce(const DataSrce&) = delete;
    DataSrce& operator=(const DataSrce&) = delete;

    // Row i, or null when i lies outside 0..83.
    CoreSrce* getis(int i) const;
    int getgs() const { return iCount; }
    // Writes every row's label and key into (*labels)[i] and (*keys)[i]; the caller owns both
    // arrays of 84 texts.
    void getgs(CoreAnsx** labels, CoreAnsx** keys) const;
    // The last row whose key equals the text; row 0 ("OFF") when none does.
    CoreSrce* getsc(const CoreAnsx& key) const;
    // True when one of rows 1..83 has the key: "OFF" and the empty text are not active.
    bool isact(const CoreAnsx& key) const;
    // True when the text is empty or the key of any row ("OFF" included); any other text is a
    // numeric constant to a modulated parameter.
    bool isils(const CoreAnsx& key) const;

private:
    int iCount;
    CoreSrce** pRows;
};
