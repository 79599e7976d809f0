// CoreFltr: a cascade of identical first-order high-pass sections that an envelope follower runs
// over its input samples before detection. Owned by one follower and used on the audio path only;
// not thread-safe.
#pragma once

class CoreFltr {
public:
    // Filter kinds accepted by the constructor; every kind builds the same sections.
    enum iCfilter { iChighpass = 0 };

    // order / 2 sections (none for a negative order), all zero and inactive until setvl.
    CoreFltr(iCfilter kind, int order);
    ~CoreFltr();
    CoreFltr(const CoreFltr&) = delete;
    CoreFltr& operator=(const CoreFltr&) = delete;

    // Coefficients for a cut-off frequency in Hz at the given sample rate; uses min(order / 2,
    // sections) sections. Keeps each section's previous input and output. A setting that would make
    // the sections divide by zero or diverge leaves the cascade inactive (passing its input).
    void setvl(double frequency, double q, double rate, int order);
    // One sample through every active section. A finite input never gives a non-finite output: an
    // overflow returns 0.0 and clears every section's memory.
    double prcss(double x);

    int sections() const { return iSections; }
    int active() const { return iActive; }

private:
    struct Section {
        double a;
        double b;
        double previousInput;
        double output;
    };

    int iSections;
    int iActive;
    Section* pSections;
};
