// DataRtcv: the fixed table of the 86 sample-rate conversion paths (rate pairs
// and the chain of up/down factors that realises each) and the choice of a path
// for a pair of rates. Built once by its owner (the WAV reader or a tool);
// getpt keeps a one-entry cache, so one thread at a time.
#pragma once
#include <cstdint>

class CorePool;

class DataRtcv {
public:
    // One conversion path. Factors alternate up, down, up, ... from the first one
    // when firstUp, else down, up, ...; entries past stages hold -1.
    struct CONVERSIONSTEPSLOC {
        double from;
        double to;
        int16_t stages;
        bool firstUp;
        int32_t* factors; // 6 entries, a pool block "RTCV"
        double cf;        // output rate over input rate realised by the factors
    };

    static constexpr int iCrows = 86;
    static constexpr int iCfactors = 6;
    // A row is a candidate for a pair of rates only when its from and its to each
    // lie within this fraction of the rates asked for, so a file is never
    // converted from a rate it does not have.
    static constexpr double dCrateslack = 0.01;

    explicit DataRtcv(CorePool* pool);
    ~DataRtcv();
    DataRtcv(const DataRtcv&) = delete;
    DataRtcv& operator=(const DataRtcv&) = delete;

    void makec(CONVERSIONSTEPSLOC* row, double from, double to, int16_t stages, bool firstUp, int f1, int f2,
               int f3, int f4, int f5, int f6);
    // The row for (from, to), or -1: equal rates, no candidate row, or no
    // candidate nearer (summed distance of both rates) than |to - from|. Ties go
    // to the lower row.
    int getpt(double from, double to);
    // Row getters; a row outside 0 .. iCrows - 1 gives 0, false, -1, 0.0 and 1.0.
    int16_t getst(int row) const;
    bool getfi(int row) const;
    int32_t getfc(int row,
                  int16_t k) const; // factor k (0-based); -1 past the stage count
    double geter(int row) const;    // the row's target rate
    double getcf(int row) const;
    int getrc() const { return iCrows; }

private:
    CorePool* pPool;
    CONVERSIONSTEPSLOC* pRows; // iCrows rows, a pool block "RTCV"
    double dCachedFrom;
    double dCachedTo;
    int iCachedRow;

    const CONVERSIONSTEPSLOC* row(int index) const;
};
