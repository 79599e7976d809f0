// CorePrcs: the text getter and the text setter of the bean family.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CorePmsg.h"
#include "base/CoreVars.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "processor/CoreDcry.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <cmath>

CoreAnsx CorePrcs::controlText(int32_t id, int16_t control) {
    CoreIfce* panel = program->getif(control);
    const int16_t mapped = panel->getcp();
    CorePrm_* parameter = mapped >= 0 ? program->getpm(mapped) : nullptr;
    if (id == 229) return parameter ? parameter->getlb() : panel->getlb();
    if (id == 231) return parameter ? parameter->getun() : panel->getun();
    if (parameter) {
        parameter->updte();
        return parameter->getpu() + CoreAnsx::_FloatToStrF(parameter->getvl(), 0, 15, 3) + parameter->getou();
    }
    double value = panel->getvl(false);
    if (panel->getun() == CoreAnsx("dB"))
        value = value > 0.0 ? std::max(CoreButl::dCdbmin, 20.0 * std::log10(value)) : CoreButl::dCdbmin;
    return CoreAnsx::_FloatToStrF(value, 0, 15, 3);
}

CoreAnsx CorePrcs::getbsCase(int32_t id, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    // Served once the boot has finished (the rules refuse them before).
    case 9: return program->getfs();
    case 13: return program->getys();
    case 15: return sDatapath + sSetupsubpath;
    case 16: return sDatapath + sProgramsubpath;
    case 17: return sDatapath + sVectorsubpath;
    case 18: return sSetupromname;
    case 39: return program->getar();
    case 40: return sGpustatus;
    case 76: return getnp();
    case 87: return memory->getpf(index);
    case 152: return program->getif(index)->getlb();
    case 153: return program->getif(index)->getun();
    // Served at all times.
    case 47: return CoreLog_::sCversion_;
    case 56: return program->getnm();
    case 62: return sDatapath + sSkinsubpath + sSkininuse;
    case 64: return program->getds();
    case 68: return getdt();
    case 72: return sDatapath;
    case 77: return sMagic;
    case 89: return program->getlf(i)->getrc();
    case 90: return program->getlf(i)->getsh();
    case 91: return program->getlf(i)->getps();
    case 101: return sDatapath + sProgramsubpath;
    case 102: return sDatapath + sVectorsubpath;
    case 103: return program->getfn(i)->getfn();
    case 110: return program->getfn(i)->getfa()->getsc();
    case 111: return program->getfn(i)->getfb()->getsc();
    case 116: return program->getef(i)->getat()->getsa();
    case 119: return program->getef(i)->getrl()->getsa();
    case 126: return program->getdy(i)->getbs(1);
    case 127: return program->getdy(i)->getbs(0);
    case 128: return program->getdy(i)->getbs(2);
    case 139:
    case 140:
    case 141:
    case 142: return program->geten(i)->getpr(static_cast<int16_t>(id - 139))->getsc();
    case 145: return getbt().text;
    case 167: return memory->getnm(index);
    case 170: return memory->getbc(index);
    case 175: return memory->getct(index, subindex);
    case 176: return program->getct(index);
    case 177: return memory->getds(index);
    case 197: return program->getpm(i)->getpl();
    case 198: return program->getpm(i)->getlb();
    case 201: return program->getpm(i)->getpu();
    case 202: return program->getpm(i)->getou();
    case 203: return program->getpm(i)->getun();
    case 204: return program->getpm(i)->getfn();
    case 210: return program->getpm(i)->getfa()->getsc();
    case 211: return program->getpm(i)->getfb()->getsc();
    case 221: return pStatusboard->getrw(static_cast<int>(index));
    case 224: return pBatchvars->getit(sBatchkey);
    case 226: return sBatchmessage;
    case 227: return sServeraddress;
    case 228: return sServerport;
    case 229:
    case 230:
    case 231: return controlText(id, i);
    case 232: return memory->getcc(index);
    case 239:
        return index >= 0 && index < static_cast<int32_t>(oQueryresult.size()) ? oQueryresult[index] : CoreAnsx("");
    case 247: return memory->gette();
    case 249: return memory->gettt();
    case 250: return pDictionary->getvl(CoreAnsx("CATEGORY"), CoreAnsx("LST"));
    case 252: return program->getef(i)->getda();
    case 253: return program->getef(i)->getdr();
    case 261: return program->getef(i)->gethp();
    default: return "";
    }
}

void CorePrcs::setbsCase(int32_t id, const CoreAnsx& value, int32_t index, int32_t subindex) {
    const int16_t i = static_cast<int16_t>(index);
    switch (id) {
    case 62: sSkinname = CoreButl::getfn(value, false); break;
    case 9: program->setfs(value); break;
    case 13: program->setys(value); break;
    case 39: program->setar(value); break;
    case 56: program->setnm(value); break;
    case 64: program->setds(value); break;
    case 176: program->setct(value, index); break;
    case 90: program->getlf(i)->setsh(value); break;
    case 91: program->getlf(i)->setps(value); break;
    case 100: program->getlf(i)->setrt(value); break;
    case 103: program->getfn(i)->setfn(value); break;
    case 104: program->getfn(i)->setia(value); break;
    case 105: program->getfn(i)->setib(value); break;
    case 116: program->getef(i)->setas(value); break;
    case 119: program->getef(i)->setrs(value); break;
    case 252: program->getef(i)->setda(value); break;
    case 253: program->getef(i)->setdr(value); break;
    case 261: program->getef(i)->sethp(value); break;
    case 126: program->getdy(i)->setbs(1, value); break;
    case 127: program->getdy(i)->setbs(0, value); break;
    case 128: program->getdy(i)->setbs(2, value); break;
    case 139: program->geten(i)->setas(value); break;
    case 140: program->geten(i)->setds(value); break;
    case 141: program->geten(i)->setls(value); break;
    case 142: program->geten(i)->setts(value); break;
    case 197:
        program->getpm(i)->setpl(value);
        adjif();
        break;
    case 198: program->getpm(i)->setlb(value); break;
    case 201: program->getpm(i)->setpu(value); break;
    case 202: program->getpm(i)->setou(value); break;
    case 203: program->getpm(i)->setun(value); break;
    case 204: program->getpm(i)->setfn(value); break;
    case 210: program->getpm(i)->setsa(value); break;
    case 211: program->getpm(i)->setsb(value); break;
    case 87: setpf(value); break;
    case 167: memory->setnm(index, value); break;
    case 170: memory->setct(index, value, subindex); break;
    case 177: memory->setds(index, value); break;
    case 171: memory->setbs(index, value); break;
    case 223: sBatchkey = value; break;
    case 224: pBatchvars->addit(sBatchkey, value); break;
    case 233: sDescriptionpath = value; break;
    case 234: setds(pool, sDescriptionpath, value); break;
    case 237: sQueryfolder = value; break;
    case 238: sQuerypattern = value; break;
    default: break;
    }
}
