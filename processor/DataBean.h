// DataBean: the rules of every bean case, one row per (id, kind, type): whether it is served while the
// engine boots, the range its index record must lie in, and the locks the call takes. Built once;
// the processor's bean functions look their case up before their switch. Read-only: any thread.
#pragma once
#include <cstdint>

class DataBean {
public:
    enum KIND : uint8_t { kGet, kSet, kAction };
    enum TYPE : uint8_t { tBool, tShort, tInt, tLong, tDouble, tText, tVoid };
    // Where the index record must point. A case with a domain other than dNone needs a record; the
    // fields are checked on all 32 bits.
    enum DOMAIN : uint8_t {
        dNone,      // the record is not read
        dAny,       // any index (and subindex); the accessor folds or rejects it
        dControl,   // front-panel control 0..9
        dMix,       // mix control 0..7
        dLfo,       // 0..3
        dFun,       // 0..7
        dEvf,       // 0..4
        dDyn,       // 0..1
        dEnv,       // 0..1
        dEnvStage,  // envelope 0..1, stage 0..3 in the subindex
        dPrm,       // user parameter 0..15
        dPrmPair,   // both fields 0..15
        dHarmonic,  // harmonic or convolver slot 0..HDIMMAX
        dStage,     // harmonic 0..HDIMMAX, stage 0..1 in the subindex
        dTiming,    // 0..1
        dMeter,     // 0..3
        dSelector,  // 0..1
        dLevel,     // category level 0..2
        dSlot,      // program-memory slot 0..9999
        dSlotLevel, // slot 0..9999, level 0..2 in the subindex
    };
    enum LOCK : uint8_t {
        lBean,   // beanlock for the call; the function locks the engine itself where it needs to
        lEngine, // beanlock, then enginelock and blocklock around the case
        lExempt, // no processor lock: called where nothing may wait (audio thread, automation, tick,
                 // the batch page while a step runs)
        lTry,    // beanlock when it is free at once, else no effect
    };
    struct ROW {
        int16_t id;
        KIND kind;
        TYPE type;
        bool always; // also served while booting
        DOMAIN domain;
        LOCK lock;
    };
    static constexpr int32_t iCids = 262; // ids 0..261

    // The row of a case; null for a case no function serves.
    static const ROW* find(KIND kind, TYPE type, int32_t id);
    // Every row, in no particular order.
    static const ROW* rows(int32_t& count);
};
