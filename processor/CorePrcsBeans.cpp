// CorePrcs: the numeric bean getters, the setters but the text one, and the actions. Every function
// runs its case through BeanCall (the rules of DataBean) before its switch.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "base/CorePmsg.h"
#include "base/CorePool.h"
#include "base/CoreVars.h"
#include "base/CoreXutl.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CorePlel.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "processor/CoreMmry.h"
#include "processor/DataBean.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>

namespace {

constexpr int32_t lastSlot = CoreMmry::iCmemorydim - 1;
constexpr int32_t highestRate = 1000000; // Hz

bool within(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

int32_t saturated(int64_t value) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

} // namespace

// The rules of one call, in order: engine failed, unserved case, booting, index domain; then the
// locks of its row, held until the call ends (also when an error leaves it).
class CorePrcs::BeanCall {
public:
    BeanCall(CorePrcs& engine, DataBean::KIND kind, DataBean::TYPE type, int32_t id, const BEANSTRUCT* b)
        : engine(engine) {
        if (engine.isfailed()) return;
        const DataBean::ROW* row = DataBean::find(kind, type, id);
        if (!row || (!row->always && !engine.booted()) || !inDomain(*row, b)) return;
        if (b) {
            index = b->index;
            subindex = b->subindex;
        }
        if (row->lock == DataBean::lTry) {
            if (!engine.beanlock.locka()) return;
            bean = true;
        } else if (row->lock != DataBean::lExempt) {
            engine.beanlock.locks();
            bean = true;
        }
        if (row->lock == DataBean::lEngine) locks.emplace(engine);
        served = true;
    }
    ~BeanCall() {
        locks.reset();
        if (bean) engine.beanlock.relse();
    }
    BeanCall(const BeanCall&) = delete;
    BeanCall& operator=(const BeanCall&) = delete;

    bool served = false;
    int32_t index = 0;
    int32_t subindex = 0;

private:
    bool inDomain(const DataBean::ROW& row, const BEANSTRUCT* b) const {
        if (row.domain == DataBean::dNone) return true;
        if (!b) return false;
        const int32_t i = b->index, s = b->subindex;
        switch (row.domain) {
        case DataBean::dAny: return true;
        case DataBean::dControl: return within(i, 0, CoreProg::iCcontrols - 1);
        case DataBean::dMix: return within(i, 0, 7);
        case DataBean::dLfo: return within(i, 0, CoreProg::iClfos - 1);
        case DataBean::dFun: return within(i, 0, CoreProg::iCfuns - 1);
        case DataBean::dEvf: return within(i, 0, CoreProg::iCfollowers - 1);
        case DataBean::dDyn: return within(i, 0, 1);
        case DataBean::dEnv: return within(i, 0, 1);
        case DataBean::dEnvStage: return within(i, 0, 1) && within(s, 0, 3);
        case DataBean::dPrm: return within(i, 0, CoreProg::iCparameters - 1);
        case DataBean::dPrmPair:
            return within(i, 0, CoreProg::iCparameters - 1) && within(s, 0, CoreProg::iCparameters - 1);
        case DataBean::dHarmonic: return within(i, 0, engine.hdimmax);
        case DataBean::dStage: return within(i, 0, engine.hdimmax) && within(s, 0, 1);
        case DataBean::dTiming: return within(i, 0, 1);
        case DataBean::dMeter: return within(i, 0, 3);
        case DataBean::dSelector: return within(i, 0, 1);
        case DataBean::dLevel: return within(i, 0, 2);
        case DataBean::dSlot: return within(i, 0, lastSlot);
        case DataBean::dSlotLevel: return within(i, 0, lastSlot) && within(s, 0, 2);
        default: return false;
        }
    }

    CorePrcs& engine;
    bool bean = false;
    std::optional<BeanEngineGuard> locks;
};

CorePrcs::BeanEngineGuard::BeanEngineGuard(CorePrcs& engine) : engine(engine) {
    for (;;) {
        engine.enginelock.locks();
        if (engine.blocklock.locka()) break;
        engine.enginelock.relse();
        // The worker holds blocklock for the rest of a block; wait for it without enginelock. A second
        // waiter may stand beside this one, so the done event's wake-up can go to either: the wait is
        // bounded and the loop tries again.
        engine.oWorkerdone.WaitFor(CoreButl::iCsmphprecision);
    }
    engine.stallPoint();
}

CorePrcs::BeanEngineGuard::~BeanEngineGuard() {
    engine.blocklock.relse();
    engine.enginelock.relse();
}

void CorePrcs::beanFailed(const char* function, int32_t id, const char* what) const {
    CoreLog_::loger(CoreAnsx(function) + " " + CoreAnsx(static_cast<int>(id)) + ": " + what, 1);
}

void CorePrcs::traceBean(const char* function, int32_t kind, int32_t type, int32_t id, const BEANSTRUCT* b,
                         double value, const CoreAnsx& text) const {
    if (!beantrace) return;
    BEANCALL call{function, id, 0, 0, 0, value, text};
    const DataBean::ROW* row =
        DataBean::find(static_cast<DataBean::KIND>(kind), static_cast<DataBean::TYPE>(type), id);
    if (row && b && row->domain != DataBean::dNone) {
        const bool pair = row->domain == DataBean::dAny || row->domain == DataBean::dEnvStage ||
                          row->domain == DataBean::dPrmPair || row->domain == DataBean::dStage ||
                          row->domain == DataBean::dSlotLevel;
        call.uses = pair ? 2 : 1;
        call.index = b->index;
        if (pair) call.subindex = b->subindex;
    }
    beantrace(call);
}

int32_t CorePrcs::lookaheadCount() const {
    return saturated(CoreButl::tpfup(samplerate, iLookaheadtime));
}

// Each public function: the rules, then its switch, with every error turned into the default.
#define VORLAN_BEAN_BODY(function, kind, type, fallback, call)                                              \
    BeanCall bean(*this, DataBean::kind, DataBean::type, id, b);                                             \
    if (!bean.served) return fallback;                                                                       \
    try {                                                                                                    \
        return call;                                                                                         \
    } catch (const CoreAnsx& message) {                                                                      \
        beanFailed(function, id, message.c_str());                                                           \
    } catch (const std::exception& error) {                                                                  \
        beanFailed(function, id, error.what());                                                              \
    }                                                                                                        \
    return fallback;

bool CorePrcs::getbb(int32_t id, BEANSTRUCT* b) {
    VORLAN_BEAN_BODY("getbb", kGet, tBool, false, getbbCase(id, bean.index, bean.subindex))
}
int16_t CorePrcs::getbh(int32_t id, BEANSTRUCT* b) {
    VORLAN_BEAN_BODY("getbh", kGet, tShort, int16_t{0}, getbhCase(id, bean.index, bean.subindex))
}
int32_t CorePrcs::getbi(int32_t id, BEANSTRUCT* b) {
    VORLAN_BEAN_BODY("getbi", kGet, tInt, 0, getbiCase(id, bean.index, bean.subindex))
}
int32_t CorePrcs::getbl(int32_t id, BEANSTRUCT* b) {
    VORLAN_BEAN_BODY("getbl", kGet, tLong, 0, getblCase(id, bean.index, bean.subindex))
}
double CorePrcs::getbd(int32_t id, BEANSTRUCT* b) {
    VORLAN_BEAN_BODY("getbd", kGet, tDouble, 0.0, getbdCase(id, bean.index, bean.subindex))
}
CoreAnsx CorePrcs::getbs(int32_t id, BEANSTRUCT* b) {
    const CoreAnsx fallback(isfailed() ? "0" : "");
    VORLAN_BEAN_BODY("getbs", kGet, tText, fallback, getbsCase(id, bean.index, bean.subindex))
}
void CorePrcs::setbb(int32_t id, bool value, BEANSTRUCT* b) {
    traceBean("setbb", DataBean::kSet, DataBean::tBool, id, b, value ? 1.0 : 0.0, CoreAnsx());
    VORLAN_BEAN_BODY("setbb", kSet, tBool, , setbbCase(id, value, bean.index, bean.subindex))
}
void CorePrcs::setbh(int32_t id, int16_t value, BEANSTRUCT* b) {
    traceBean("setbh", DataBean::kSet, DataBean::tShort, id, b, value, CoreAnsx());
    VORLAN_BEAN_BODY("setbh", kSet, tShort, , setbhCase(id, value, bean.index, bean.subindex))
}
void CorePrcs::setbi(int32_t id, int32_t value, BEANSTRUCT* b) {
    traceBean("setbi", DataBean::kSet, DataBean::tInt, id, b, value, CoreAnsx());
    VORLAN_BEAN_BODY("setbi", kSet, tInt, , setbiCase(id, value, bean.index, bean.subindex))
}
void CorePrcs::setbl(int32_t id, int32_t value, BEANSTRUCT* b) {
    traceBean("setbl", DataBean::kSet, DataBean::tLong, id, b, value, CoreAnsx());
    VORLAN_BEAN_BODY("setbl", kSet, tLong, , setblCase(id, value, bean.index, bean.subindex))
}
void CorePrcs::setbd(int32_t id, double value, BEANSTRUCT* b) {
    traceBean("setbd", DataBean::kSet, DataBean::tDouble, id, b, value, CoreAnsx());
    if (!std::isfinite(value)) return;
    VORLAN_BEAN_BODY("setbd", kSet, tDouble, , setbdCase(id, value, bean.index, bean.subindex))
}
void CorePrcs::setbs(int32_t id, CoreAnsx value, BEANSTRUCT* b) {
    traceBean("setbs", DataBean::kSet, DataBean::tText, id, b, 0.0, value);
    VORLAN_BEAN_BODY("setbs", kSet, tText, , setbsCase(id, value, bean.index, bean.subindex))
}
void CorePrcs::setbv(int32_t id, BEANSTRUCT* b) {
    traceBean("setbv", DataBean::kAction, DataBean::tVoid, id, b, 0.0, CoreAnsx());
    VORLAN_BEAN_BODY("setbv", kAction, tVoid, , setbvCase(id, bean.index, bean.subindex))
}
#undef VORLAN_BEAN_BODY

// ---- getters ------------------------------------------------------------------------------------------

bool CorePrcs::getbbCase(int32_t id, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    case 2: return memory->getwp(currentslot);
    case 11: return ownrate;
    case 14: return setst(i);
    case 20: return bScanboot;
    case 21: return bFastboot;
    case 22: return bFastboot && !bInstallermerged;
    case 23: return program->getf2();
    case 24: return program->getfi();
    case 25: return useworker;
    case 26: return hasworker;
    case 27: return program->getfh();
    case 31: return program->getfr() != program->getcr();
    case 33: return program->getfm();
    case 35: return bNodrop;
    case 37: return autothread;
    case 41: return bMode;
    case 42: return bAnyrefused;
    case 46: return busy.getvl();
    case 53: return passthru.getvl();
    case 58: return program->getnc();
    case 59: return midi->actvt();
    case 60: {
        // The display never waits on the audio path: while a block runs the flag stays for later.
        CoreSgrd block(blocklock, CoreSgrd::cConce);
        return block.taken() && paramsupdated.exchange(false);
    }
    case 63: return getpc();
    case 81: return updld();
    case 108: return program->getfn(i)->getfa()->iscst();
    case 109: return program->getfn(i)->getfb()->iscst();
    case 146: return getbt().first;
    case 147: return getbt().last;
    case 148: return getbt().result;
    case 154: return !booted() || program->getif(index)->isalt();
    case 157: {
        const CoreCnvl* first = convtab[0].convolver;
        return first->getbe(i) && first->ldble(i);
    }
    case 162: return subindex == 0 || subindex == 1 ? getoe(i, static_cast<int16_t>(subindex)) : false;
    case 181: return bMidilearn;
    case 192: return program->getif(index)->isval(true);
    case 196: return program->getpm(i)->isdis();
    case 206: return program->getpm(i)->getfa()->iscst();
    case 207: return program->getpm(i)->getfb()->iscst();
    case 218: return clipshown;
    case 226: {
        int ordinal = 0; // the display reads only the message
        CoreAnsx message;
        const bool finished = batch(pBatchvars, ordinal, message);
        sBatchmessage = message;
        return finished;
    }
    case 248: return memory->islte();
    case 255: return quadactive;
    case 256: return bLegacystereochannel;
    case 258: return bypassrequest.getvl();
    default: return false;
    }
}

int16_t CorePrcs::getbhCase(int32_t id, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    case 21: return bFastboot ? 1 : 0;
    case 32: return iFontcolour;
    case 38: return iLoaderpriority;
    case 43: return hdimmax;
    case 45: return static_cast<int16_t>(iExportaudioquality);
    case 48: return metertype;
    case 50: return iOtimed;
    case 51: return iOfreqd;
    case 54: return iHdim;
    case 55: return program->getsh();
    case 73: return iDl;
    case 74: return iHdim == 0 ? int16_t{-1} : iSmooth;
    case 75: return hdimused;
    case 112: return program->getef(i)->getex();
    case 129: return program->getdy(i)->getst();
    case 130: return program->getdy(i)->getrc();
    case 138: return program->geten(i)->getcv()[subindex];
    case 194: return program->getif(index)->getcp();
    case 220: return controlleds[index];
    case 221: return pStatusboard->getrw();
    case 251: return iForcolumn;
    default: return 0;
    }
}

int32_t CorePrcs::getbiCase(int32_t id, int32_t index, int32_t subindex) {
    switch (id) {
    case 44: return samplerate;
    case 67: return currentslot;
    case 69: return workdim;
    case 85: return saturated(pool->getma());
    case 86: return saturated(pool->getxa());
    case 145: return getbt().step;
    case 166: return getpf(index);
    case 168: return memory->getck(index, static_cast<int16_t>(subindex), nullptr, 1);
    case 169: return memory->getbk(index, static_cast<int16_t>(subindex));
    case 172: return memory->getbs();
    case 173: return memory->getbc();
    case 174: {
        memory->setbb(index);
        const int32_t count = memory->getbs();
        if (count != 0) return count;
        memory->setbb(-1);
        return 0;
    }
    case 182: return iMidistatus;
    case 183: return iMidicontroller;
    case 184: return iMidichannel;
    case 185: return iMidivalue;
    case 239: return static_cast<int32_t>(oQueryresult.size());
    case 246: return memory->gettn();
    case 257: return pRegistry && pRegistry->getpl() ? saturated(pRegistry->getpl()->getma()) : 0;
    case 260: return program->getef(static_cast<int16_t>(index))->getho();
    default: return 0;
    }
}

int32_t CorePrcs::getblCase(int32_t id, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    case 6: return program->getsm();
    case 7: return program->getua();
    case 10: return activerate;
    case 28: return program->getfr();
    case 29: return program->getcr();
    case 30: return rateconv;
    case 49: return iReportedlatency;
    case 52: return iProgramrate;
    case 61: return getts();
    case 65: return iGuirate;
    case 70: return iForceoffset;
    case 71: return blockdim;
    case 114: return program->getef(i)->getma();
    case 115: return program->getef(i)->getxa();
    case 117: return program->getef(i)->getmr();
    case 118: return program->getef(i)->getxr();
    case 137: return program->geten(i)->gettm()[subindex];
    case 149: {
        BeanEngineGuard hold(*this);
        return program->getid(i);
    }
    case 158: return index == 0 ? ltimed : lfreqd;
    case 236: return iSaveddspbuffer;
    default: return 0;
    }
}

double CorePrcs::getbdCase(int32_t id, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    const int16_t s = static_cast<int16_t>(subindex);
    switch (id) {
    case 0: return program->getpi();
    case 1: return program->getpo();
    case 3: return 2.0 * program->getif(8)->getvl(false);
    case 4: return 2.0 * program->getif(9)->getvl(false);
    case 5: return program->getsz();
    case 8: return program->getff();
    case 12: return program->getdr();
    case 14: return iSmooth + 1.0;
    case 19: return CoreButl::upftp(samplerate, lookaheadCount());
    case 34: return tempo;
    case 36: return CoreButl::upftp(samplerate, int64_t{64} * dspdim);
    case 92: return program->getlf(i)->getqt();
    case 93: return program->getlf(i)->getph();
    case 94: return program->getlf(i)->getrt()->getbl();
    case 95: return program->getlf(i)->getrt()->getbu();
    case 96: return program->getlf(i)->getrt()->getsl();
    case 97: return program->getlf(i)->getrt()->getsu();
    case 106: return program->getfn(i)->getfa()->getcv();
    case 107: return program->getfn(i)->getfb()->getcv();
    case 113: return program->getef(i)->getba();
    case 122: return program->getef(i)->getat()->getsl();
    case 123: return program->getef(i)->getat()->getsu();
    case 124: return program->getef(i)->getrl()->getsl();
    case 125: return program->getef(i)->getrl()->getsu();
    case 259: return program->getef(i)->gethf();
    case 131: return program->getdy(i)->getbd(3);
    case 132: return program->getdy(i)->getbd(4);
    case 134: return program->geten(i)->getlv()[subindex];
    case 135: return program->geten(i)->getlf();
    case 136: return program->geten(i)->gettf();
    case 150: return getco(i);
    case 151: return getmo(i);
    case 159: return getib(i, s, false);
    case 160: return getib(i, s, true);
    case 161: return getod(i, s);
    case 155: return program->getif(index)->getvl(false);
    case 156: return program->getif(index)->getvl(true);
    case 188: return program->getif(index)->getiv(false);
    case 189: return program->getif(index)->getiv(true);
    case 193: return program->getif(index)->getvl(true);
    case 219: return meterdbshown[index];
    case 235: return program->getif(index)->getpa();
    case 199: return program->getpm(i)->getbf();
    case 200: return program->getpm(i)->getvl();
    case 208: return program->getpm(i)->getfa()->getcv();
    case 209: return program->getpm(i)->getfb()->getcv();
    case 214: return program->getpm(i)->getmn();
    case 215: return program->getpm(i)->getmx();
    case 216: return program->getpm(i)->getbn();
    case 217: return program->getpm(i)->getbx();
    default: return 0.0;
    }
}

// ---- setters ------------------------------------------------------------------------------------------

void CorePrcs::harmonicLimits(bool fromProgram, int16_t value) {
    if (fromProgram) {
        program->setsh(value);
        iProgramharmonics = program->gethc(false);
    } else {
        iHdim = std::max<int16_t>(value, 0);
    }
    adjhc();
    if (iHdim == 0) program->setsp(0);
    setck();
}

void CorePrcs::setbbCase(int32_t id, bool value, int32_t index, int32_t) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    case 11: ownrate = value; break;
    case 20: bScanboot = value; break;
    case 21: bFastboot = value; break;
    case 23: program->setf2(value); break;
    case 24:
    case 35:
        if (id == 35) bNodrop = value;
        program->setfi(value);
        bNosleep = value;
        break;
    case 33: program->setfm(value); break;
    case 37: autothread = value; break;
    case 41: bMode = value; break;
    case 53:
        if (booted()) setby(value);
        break;
    case 144: bootb(value); break;
    case 165: program->setn3(i, value); break;
    case 187: program->getif(index)->mode_(value); break;
    case 196:
        program->getpm(i)->setds(value);
        adjif();
        break;
    case 254: quadwanted = value; break;
    case 258:
        bypassrequest.setvl(value);
        // While booting only the request is kept; the boot's last step applies it.
        if (booted()) smpby(value, 0, true, false);
        break;
    default: break;
    }
}

void CorePrcs::setbhCase(int32_t id, int16_t value, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    const int16_t s = static_cast<int16_t>(subindex);
    switch (id) {
    case 21: bFastboot = value != 0; break;
    case 32: iFontcolour = value; break;
    case 38: iLoaderpriority = value; break;
    case 45: {
        // The offline period divides by it, as the settings reader's value does.
        const int32_t quality = std::max<int32_t>(value, 1);
        if (quality == iExportaudioquality) break;
        iExportaudioquality = quality;
        if (booted()) adjrt(activerate);
        iLastlevel = -1;
        break;
    }
    case 50: setop(value); break;
    case 51: setof(value); break;
    case 54: harmonicLimits(false, value); break;
    case 55: harmonicLimits(true, value); break;
    case 112: program->getef(i)->setex(value); break;
    case 129: program->getdy(i)->setst(value); break;
    case 130: program->getdy(i)->setrc(value); break;
    case 138: program->geten(i)->setcv(s, value); break;
    case 179: setms(value, index, subindex); break;
    case 180: {
        bool learn = false;
        int status = 0, controller = 0, channel = 0, last = 0;
        midi->getms(value, learn, status, controller, channel, last);
        bMidilearn = learn;
        iMidistatus = status;
        iMidicontroller = controller;
        iMidichannel = channel;
        iMidivalue = last;
        break;
    }
    default: break;
    }
}

void CorePrcs::setbiCase(int32_t id, int32_t value, int32_t index, int32_t) {
    switch (id) {
    case 44:
        if (!within(value, 1, highestRate) || value == samplerate) break;
        CoreLog_::debug(CoreAnsx("beanrate *rate: ") + CoreAnsx(samplerate), 0, 3);
        samplerate = value;
        program->setrt(value); // program times convert at the new rate
        if (booted()) adjrt(activerate);
        break;
    case 66:
        if (within(value, 1, highestRate)) updgu(value);
        break;
    case 78:
        if (within(value, 1, highestRate)) irate(value);
        break;
    case 82: program->getif(iFocus)->mswhl(value); break;
    case 84:
        if (value >= 1) blksz(value);
        break;
    case 178: program->getif(index)->settf(value); break;
    case 186: mdctr(std::max(index, 0), value); break;
    case 260: program->getef(static_cast<int16_t>(index))->setho(value); break;
    case 67:
        if (within(value, 0, lastSlot)) currentslot = value;
        break;
    case 88:
        if (within(value, 0, lastSlot)) setpg(bBootfailed ? 0 : value, false);
        break;
    case 245: memory->settr(index, value); break;
    default: break;
    }
}

void CorePrcs::setblCase(int32_t id, int32_t value, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    case 7:
        program->setua(value);
        dLookaheadbase = program->getab();
        dLookaheadvalue = program->getaf();
        iLookaheadoffset = static_cast<int32_t>(std::trunc(dLookaheadbase * dLookaheadvalue));
        break;
    case 10: adjrt(value); break;
    case 30:
        if (value >= 0) rateconv = value;
        program->setrc(rateconv);
        break;
    case 52: {
        if (value == iProgramrate) break;
        // A rate the engine could not apply is not kept: the bean reads what plays, and the same value
        // can be tried again.
        const int32_t previousRate = iProgramrate;
        const bool previousOwn = ownrate;
        ownrate = true;
        iProgramrate = value;
        try {
            adjrt(value);
        } catch (...) {
            iProgramrate = previousRate;
            ownrate = previousOwn;
            throw;
        }
        break;
    }
    case 65: iGuirate = value; break;
    case 70: iForceoffset = value; break;
    case 83:
        if (within(value, 0, CoreProg::iCcontrols - 1)) iFocus = value;
        break;
    case 114: program->getef(i)->setma(value); break;
    case 115: program->getef(i)->setxa(value); break;
    case 117: program->getef(i)->setmr(value); break;
    case 118: program->getef(i)->setxr(value); break;
    case 137: program->geten(i)->settm(static_cast<int16_t>(subindex), value); break;
    case 158: {
        int32_t& field = index == 0 ? ltimed : lfreqd;
        if (field != value) field = value;
        break;
    }
    case 236: iSaveddspbuffer = value; break;
    default: break;
    }
}

void CorePrcs::setbdCase(int32_t id, double value, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    const int16_t s = static_cast<int16_t>(subindex);
    switch (id) {
    case 0: program->setpi(value); break;
    case 1: program->setpo(value); break;
    case 8:
        program->setff(value);
        bFeedbackon = program->hasfb();
        break;
    case 12:
        program->setdr(value);
        bDryon = program->hasdr();
        break;
    case 19: {
        if (value < 0.0) break;
        // Kept in microseconds rounded up, so that the file read back gives the same sample count.
        const int64_t count = CoreButl::tpfup(samplerate, static_cast<int64_t>(std::min(value, 2147483647.0)));
        const double us = samplerate < 1 ? static_cast<double>(count) : std::ceil(count * 1e6 / samplerate);
        iLookaheadtime = saturated(static_cast<int64_t>(std::min(us, 2147483647.0)));
        break;
    }
    case 155: setiv(static_cast<int16_t>(index), value, false); break;
    case 156: setiv(static_cast<int16_t>(index), value, true); break;
    case 188: program->getif(index)->setiv(value, false, false); break;
    case 189: program->getif(index)->setiv(value, false, true); break;
    case 190: program->getif(index)->setiv(value, true, false); break;
    case 191: program->getif(index)->setiv(value, true, true); break;
    case 193: program->getif(index)->setvl(value, true); break;
    case 235: program->getif(index)->setpa(value); break;
    case 150: setco(i, value); break;
    case 161: setod(i, s, value); break;
    case 92: program->getlf(i)->setqt(value); break;
    case 93: program->getlf(i)->setph(value); break;
    case 98: program->getlf(i)->setmn(value); break;
    case 99: program->getlf(i)->setmx(value); break;
    case 120: program->getef(i)->setob(value); break;
    case 259: program->getef(i)->sethf(value); break;
    case 131: program->getdy(i)->setbd(3, value); break;
    case 132: program->getdy(i)->setbd(4, value); break;
    case 134: program->geten(i)->setlv(s, value); break;
    case 135: program->geten(i)->setlf(value); break;
    case 136: program->geten(i)->settf(value); break;
    case 214: program->getpm(i)->setmn(value); break;
    case 215: program->getpm(i)->setmx(value); break;
    // The bar fill reads the window setba derives from both bounds.
    case 216:
        program->getpm(i)->setbn(value);
        program->getpm(i)->setba();
        break;
    case 217:
        program->getpm(i)->setbx(value);
        program->getpm(i)->setba();
        break;
    default: break;
    }
}

// ---- actions ------------------------------------------------------------------------------------------

void CorePrcs::setbvCase(int32_t id, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    case 79: savem(); break;
    case 80: clean(); break;
    case 121: program->getef(i)->rfrvl(); break;
    case 133: program->getdy(i)->rfrvl(); break;
    case 143: program->geten(i)->rfrvl(); break;
    case 195: program->getpm(i)->updte(); break;
    case 205: {
        const int16_t other = static_cast<int16_t>(subindex);
        CorePrm_* first = program->getpm(i);
        CorePrm_* second = program->getpm(other);
        program->setpm(i, second);
        program->setpm(other, first);
        adjif();
        break;
    }
    case 241: updpm(); break;
    case 222: pStatusboard->clear(); break;
    case 225: pBatchvars->free_(); break;
    case 239: {
        CoreAnsx* names = nullptr;
        int count = 0;
        try {
            CoreHutl::readr(sQueryfolder, sQuerypattern, &names, count, CoreAnsx("0"));
        } catch (...) {
            delete[] names;
            oQueryresult.clear();
            throw;
        }
        oQueryresult.assign(names, names + (names ? std::max(count, 0) : 0));
        delete[] names;
        break;
    }
    case 242: memory->pushb(); break;
    case 243: memory->popb_(); break;
    case 244:
        memory->updtt();
        memory->ordrt(0);
        break;
    default: break;
    }
}
