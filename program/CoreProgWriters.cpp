// The writers of CoreProg that commit the live program into its XML document (see CoreProg.h).
#include "program/CoreProg.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "modulation/DataGfun.h"
#include "program/DataXml_.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>

namespace {

using NodePtr = std::unique_ptr<CoreNode>;

CoreAnsx numbered(const CoreAnsx& tag, int n) {
    return tag + CoreAnsx(n);
}

// Levels are stored as max(-192.64, 20 log10 x); zero, negative, subnormal and NaN factors are silence.

// Documents keep times in microseconds, which the reader truncates and turns back into samples with
// tpfup (rate x us / 1e6, truncated). Rounding up here makes that give exactly the same count for every
// rate up to 1 MHz, so no save loses a sample. Counts of 0 or less, and every count at a rate below 1,
// are stored as they are, which the reader passes through as well.
int32_t toMicroseconds(int32_t rate, int32_t samples) {
    if (samples <= 0 || rate < 1) return samples;
    const int64_t us = (static_cast<int64_t>(samples) * 1000000 + rate - 1) / rate;
    return us > INT32_MAX ? INT32_MAX : static_cast<int32_t>(us);
}

CoreAnsx sourceText(const CoreParm* control) {
    return control != nullptr ? control->getsc() : CoreAnsx("");
}

// Inputs of functions and parameters: a constant as "%10.10f", else the source key.
CoreAnsx inputText(const CoreParm* control) {
    return control != nullptr ? control->getsa() : CoreAnsx("");
}

// Hands child to parent. Should that fail, child still owns the node, so nothing leaks and nothing
// half-built reaches the document.
void append(CoreNode* parent, NodePtr child) {
    parent->addcd(child.get());
    child.release();
}

NodePtr element(const CoreAnsx& tag, NodePtr value) {
    NodePtr node = std::make_unique<CoreNode>(tag);
    append(node.get(), std::move(value));
    return node;
}

NodePtr value(const CoreAnsx& text) {
    return std::make_unique<CoreNode>(text);
}
NodePtr value(double number) {
    return std::make_unique<CoreNode>(number);
}
NodePtr value(int32_t number) {
    return std::make_unique<CoreNode>(static_cast<int>(number));
}
NodePtr value(bool flag) {
    return std::make_unique<CoreNode>(flag);
}

// An element under construction, its leaves appended in the order of the calls.
class Section {
public:
    explicit Section(const CoreAnsx& tag) : node(std::make_unique<CoreNode>(tag)) {}
    template <typename T>
    Section& add(const CoreAnsx& tag, T content) {
        append(node.get(), element(tag, value(content)));
        return *this;
    }
    Section& add(Section& group) {
        append(node.get(), group.take());
        return *this;
    }
    NodePtr take() { return std::move(node); }

private:
    NodePtr node;
};

// The replace rule of every writer: the first element of that name in the container goes with its
// subtree and the new one is appended as the container's last child.
void replaceIn(CoreNode* container, NodePtr replacement) {
    const CoreAnsx tag = replacement->gettx();
    container->pdlte(&tag, 1);
    append(container, std::move(replacement));
}

template <typename T>
void replaceValue(CoreNode* container, const CoreAnsx& tag, T content) {
    replaceIn(container, element(tag, value(content)));
}

void deleteIn(CoreNode* container, const CoreAnsx& tag) {
    container->pdlte(&tag, 1);
}

// A container as the reader finds it: the last child of that name. A missing one is appended, as the
// path operations create missing levels.
CoreNode* containerIn(CoreNode* parent, const CoreAnsx& tag) {
    CoreNode* found = parent->getcd(tag);
    if (found != nullptr) return found;
    NodePtr created = std::make_unique<CoreNode>(tag);
    found = created.get();
    append(parent, std::move(created));
    return found;
}

// PROGRAM, after giving a document without a document node a new "ROOT".
CoreNode* programIn(CoreXml_* document) {
    if (document->getrt() == nullptr) document->setrt(new CoreNode(CoreAnsx(CoreXml_::sCroot)));
    return containerIn(document->getrt(), DataXml_::sCtagprogrm);
}

// A feedback or dry source. An empty text means one of two things, which the reader must be able to
// tell apart again: a program read without the source element keeps its control fixed at 1.0 (scale
// 1..1), which only a missing element gives back; every other empty text follows "OFF" on the scale
// 0..1, for which an empty element would read as present and bind nothing. "OFF" gives the same 0.0.
void writeBoundSource(CoreNode* program, const CoreAnsx& tag, const CoreAnsx& text, const CoreParm* control) {
    if (text.Length() > 0) {
        replaceValue(program, tag, text);
        return;
    }
    const bool fixedAtOne = control != nullptr && control->getsl() == 1.0 && control->getsu() == 1.0;
    if (fixedAtOne)
        deleteIn(program, tag);
    else
        replaceValue(program, tag, CoreAnsx("OFF"));
}

// A stage group under a vector's COMMON: its size and its fade-out in microseconds.
NodePtr stageGroup(const CoreAnsx& tag, int32_t rate, int32_t size, int32_t fadeout) {
    Section stage(tag);
    stage.add(DataXml_::sCtaglength, toMicroseconds(rate, size));
    stage.add(DataXml_::sCtagfadeou, toMicroseconds(rate, fadeout));
    return stage.take();
}

} // namespace

void CoreProg::chgmx(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* program = programIn(document);
    for (int i = 0; i < iCmixes; ++i) {
        const CoreAnsx tag = numbered(DataXml_::sCtagrootmx, i + 1);
        CoreIfce* control = pControls[i];
        if (control->isval(true))
            replaceValue(program, tag, control->getiv(true));
        else
            deleteIn(program, tag);
    }
    // The controls run 0..1 with 0.5 at unity gain. The normal set is the one a program loads into.
    replaceValue(program, DataXml_::sCtaggainin, CoreButl::lvldb(2.0 * pControls[8]->getvl(true)));
    replaceValue(program, DataXml_::sCtaggainou, CoreButl::lvldb(2.0 * pControls[9]->getvl(true)));
}

void CoreProg::chggl(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* program = programIn(document);
    replaceValue(program, DataXml_::sCtagprognm, sName);
    replaceValue(program, DataXml_::sCtagcategr, sCategories[0]);
    replaceValue(program, DataXml_::sCtagsubca1, sCategories[1]);
    replaceValue(program, DataXml_::sCtagsubca2, sCategories[2]);
    replaceValue(program, DataXml_::sCtagdescrp, sDescription);
    if (sVectorfilename != CoreAnsx("0")) replaceValue(program, DataXml_::sCtagactvnm, sVectorfilename);
    replaceValue(program, DataXml_::sCtaggnpdin, CoreButl::lvldb(dInputpad));
    replaceValue(program, DataXml_::sCtaggnpdou, CoreButl::lvldb(dOutputpad));
    replaceValue(program, DataXml_::sCtaglookah, iLookaheadus);
    replaceValue(program, DataXml_::sCtagfeedbk, dFeedback * 100.0);
    writeBoundSource(program, DataXml_::sCtagfbsrce, sFeedbacksource, pFeedbackcontrol);
    replaceValue(program, DataXml_::sCtaglasrce, sLookaheadsource);
    replaceValue(program, DataXml_::sCtaggaindr, CoreButl::lvldb(dDrygain));
    writeBoundSource(program, DataXml_::sCtaggainds, sDrysource, pDrycontrol);
    replaceValue(program, DataXml_::sCtagsmooth, static_cast<int32_t>(iSmooth));
    replaceValue(program, DataXml_::sCtagfrcot2, bForceot2);
    replaceValue(program, DataXml_::sCtagfrcivt, bInvisiblethread);
    replaceValue(program, DataXml_::sCtagfrchyb, bForcehybrid);
    replaceValue(program, DataXml_::sCtagmono_m, bForcemono);
    replaceValue(program, DataXml_::sCtaghsdim_, static_cast<int32_t>(iHarmoniclimit));

    // The stage sizes of every harmonic edited since loading, in the OT1/OT2 form under the root
    // vector's COMMON. The changed flags stay set: the processor may commit again.
    const HLOC& hybrid = pHarmonics[iCapacity];
    for (int h = 0; h < iCapacity; ++h) {
        const HLOC& record = pHarmonics[h];
        if (!record.bValid || !record.bChanged) continue;
        const CoreAnsx sectionTag = numbered(DataXml_::sCtagrooth_, h + 1);
        CoreNode* section = containerIn(program, sectionTag);
        deleteIn(section, DataXml_::sCtagfrcot2);
        if (record.bThirdon) replaceValue(section, DataXml_::sCtagfrcot2, true);

        // The reader builds the harmonic from an inline VECTOR whenever one is present, so giving a
        // vector-file element one would replace the whole tree by an empty vector. Such an element is
        // left exactly as it is, and its stage sizes are not stored.
        CoreNode* root = section->getcd(DataXml_::sCtagelemnt);
        if (root == nullptr || !root->exslc(DataXml_::sCtagvector)) {
            CoreLog_::debug(sectionTag + CoreAnsx(": no inline vector, stage sizes not written"), 3, 3);
            continue;
        }
        CoreNode* common = containerIn(root->getcd(DataXml_::sCtagvector), DataXml_::sCtagcommon);
        deleteIn(common, DataXml_::sCtagfadeou);
        deleteIn(common, DataXml_::sCtaglength);
        const CoreAnsx second = numbered(DataXml_::sCtagopttyp, 1);
        const CoreAnsx third = numbered(DataXml_::sCtagopttyp, 2);
        deleteIn(common, second);
        append(common, stageGroup(second, iProgramratehz, record.iSecondsize, record.iFadeout));
        // Under FORCEHYBRID the first harmonic plays the hybrid record's third stage.
        const HLOC& thirdSource = (bForcehybrid && h == 0 && hybrid.bValid) ? hybrid : record;
        deleteIn(common, third);
        append(common, stageGroup(third, iProgramratehz, thirdSource.iThirdsize, thirdSource.iCut));
    }
}

void CoreProg::chgpr(CoreXml_* document, bool on, int32_t rate) {
    if (document == nullptr) return;
    if (on) {
        replaceValue(programIn(document), DataXml_::sCtagprrate, rate);
        return;
    }
    // Deleting changes nothing in a document without a document node.
    if (document->getrt() == nullptr) return;
    deleteIn(programIn(document), DataXml_::sCtagprrate);
}

void CoreProg::chglf(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* program = programIn(document);
    const CoreAnsx unset(CoreButl::sCnull);
    for (int i = 0; i < iClfos; ++i) {
        const CoreLfo_* lfo = pLfos[i];
        const CoreParm* rate = lfo->getrt();
        const CoreAnsx rateSource = CoreButl::getnv(lfo->getrc());
        const CoreAnsx phaseSource = CoreButl::getnv(lfo->getps());
        CoreAnsx shape = CoreButl::getnv(lfo->getsh());
        if (shape == unset) {
            // An LFO without a shape key runs the first waveform. One still as a missing section leaves
            // it keeps whatever its section holds; once edited it is written with the key of the
            // waveform it plays, so the edit survives the save.
            const bool asRead = rate->getsl() == 0.0 && rate->getsu() == 0.0 && lfo->getqt() == 0.0 &&
                                lfo->getph() == 0.0 && rateSource == unset && phaseSource == unset;
            const CoreGfun* row = pFunctions->getgf(0, lfo->getsh());
            if (asRead || row == nullptr) continue;
            shape = row->getky();
        }
        Section section(numbered(DataXml_::sCtagrootlf, i + 1));
        section.add(DataXml_::sCtagmnrate, rate->getsl());
        section.add(DataXml_::sCtagmxrate, rate->getsu());
        // "NULL" would read back as the constant 0.0 and move the rate to the middle of its range.
        if (rateSource != unset) section.add(DataXml_::sCtagsource, rateSource);
        section.add(DataXml_::sCtagshape_, shape);
        section.add(DataXml_::sCtagphasef, lfo->getph());
        if (phaseSource != unset) section.add(DataXml_::sCtagphases, phaseSource);
        section.add(DataXml_::sCtaglfortq, lfo->getqt());
        replaceIn(program, section.take());
    }
}

void CoreProg::chgfn(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* program = programIn(document);
    for (int i = 0; i < iCfuns; ++i) {
        const CoreFun_* function = pFuns[i];
        Section section(numbered(DataXml_::sCtagrootfn, i + 1));
        section.add(DataXml_::sCtagfuncta, inputText(function->getfa()));
        section.add(DataXml_::sCtagfunctb, inputText(function->getfb()));
        section.add(DataXml_::sCtagrootfn, function->getfn());
        replaceIn(program, section.take());
    }
}

void CoreProg::chgef(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* program = programIn(document);
    for (int i = 0; i < iCfollowers; ++i) {
        const CoreEnvf* follower = pFollowers[i];
        Section section(numbered(DataXml_::sCtagrootef, i + 1));
        section.add(DataXml_::sCtagefexpn, static_cast<int32_t>(follower->getex()));
        section.add(DataXml_::sCtagefoutp, follower->getba());
        // Each optional group is written whole and only while it is linked: the reader derives the
        // links from these texts.
        if (follower->bbsrc()) section.add(DataXml_::sCtagefbbsr, follower->getbb());
        if (follower->hpsrc()) {
            section.add(DataXml_::sCtagfilter, follower->gethp());
            section.add(DataXml_::sCtagfltfre, follower->gethf());
            section.add(DataXml_::sCtagfltord, static_cast<int32_t>(follower->getho()));
        }
        if (follower->dsrc_()) {
            section.add(DataXml_::sCtagefdatt, follower->getda());
            section.add(DataXml_::sCtagefdrel, follower->getdr());
        }
        section.add(DataXml_::sCtagefenet, follower->enabt());
        if (follower->osrc_()) {
            section.add(DataXml_::sCtagefoatt, follower->getoa());
            section.add(DataXml_::sCtageforel, follower->getor());
        }
        section.add(DataXml_::sCtagattkmn, toMicroseconds(iProgramratehz, follower->getma()));
        section.add(DataXml_::sCtagattkmx, toMicroseconds(iProgramratehz, follower->getxa()));
        section.add(DataXml_::sCtagatsrce, sourceText(follower->getat()));
        section.add(DataXml_::sCtagrlsemn, toMicroseconds(iProgramratehz, follower->getmr()));
        section.add(DataXml_::sCtagrlsemx, toMicroseconds(iProgramratehz, follower->getxr()));
        section.add(DataXml_::sCtagrlsrce, sourceText(follower->getrl()));
        replaceIn(program, section.take());
    }
}

void CoreProg::chgen(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* program = programIn(document);
    // Stage order of the time and curve tables: attack, decay, slope, release.
    const CoreAnsx* stageTags[4] = {&DataXml_::sCtagevattc, &DataXml_::sCtagevdecy, &DataXml_::sCtagevslpe,
                                    &DataXml_::sCtagevrlse};
    for (int i = 0; i < iCenvelopes; ++i) {
        const CoreEnv_* envelope = pEnvelopes[i];
        const double* levels = envelope->getlv();
        const int32_t* times = envelope->gettm();
        const int16_t* curves = envelope->getcv();

        Section control(DataXml_::sCtagcontrl);
        control.add(DataXml_::sCtagacsrce, sourceText(envelope->getpr(0)));
        control.add(DataXml_::sCtagdasrce, sourceText(envelope->getpr(1)));

        Section levelCommon(DataXml_::sCtagcommon);
        levelCommon.add(DataXml_::sCtagmodfct, envelope->getlf());
        levelCommon.add(DataXml_::sCtagmdsrce, sourceText(envelope->getpr(2)));
        Section level(DataXml_::sCtagevlevl);
        level.add(DataXml_::sCtagevstrt, levels[0]);
        level.add(DataXml_::sCtagevattc, levels[1]);
        level.add(DataXml_::sCtagevbrea, levels[2]);
        level.add(DataXml_::sCtagevsust, levels[3]);
        level.add(levelCommon);

        Section timeCommon(DataXml_::sCtagcommon);
        timeCommon.add(DataXml_::sCtagmodfct, envelope->gettf());
        timeCommon.add(DataXml_::sCtagmdsrce, sourceText(envelope->getpr(3)));
        Section time(DataXml_::sCtagevtime);
        for (int stage = 0; stage < 4; ++stage)
            time.add(*stageTags[stage], toMicroseconds(iProgramratehz, times[stage]));
        time.add(timeCommon);

        Section curve(DataXml_::sCtagevcrve);
        for (int stage = 0; stage < 4; ++stage)
            curve.add(*stageTags[stage], static_cast<int32_t>(curves[stage]));

        Section section(numbered(DataXml_::sCtagrootev, i + 1));
        section.add(control).add(level).add(time).add(curve);
        replaceIn(program, section.take());
    }
}

void CoreProg::chgdy(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* program = programIn(document);
    for (int i = 0; i < iCdynamics; ++i) {
        const CoreDynm* unit = pDynamics[i];
        Section section(numbered(DataXml_::sCtagrootdn, i + 1));
        const bool expands = unit->getst() == 1;
        section.add(expands ? DataXml_::sCtagresrce : DataXml_::sCtagrcsrce, unit->getbs(2));
        section.add(DataXml_::sCtagtrsrce, unit->getbs(0));
        section.add(DataXml_::sCtaginsrce, unit->getbs(1));
        // The reader takes RATIOCURVE as the curve index itself and turns the curve on whenever the
        // element is present; getrc counts from 1. The display's "LINEAR" (index -1) is stored as 0,
        // which fades the same way: indices up to 1 are linear.
        if (unit->iscrv()) {
            const int32_t index = unit->getrc() - 1;
            section.add(DataXml_::sCtagdnrtcv, index > 0 ? index : 0);
        }
        section.add(DataXml_::sCtagdnrnge, unit->getbd(3));
        section.add(DataXml_::sCtaggainpd, unit->getbd(4));
        replaceIn(program, section.take());
    }
}

void CoreProg::chgpt(CoreXml_* document) {
    if (document == nullptr) return;
    CoreNode* display = containerIn(programIn(document), DataXml_::sCtagrootds);
    for (int i = 0; i < iCparameters; ++i) {
        const CorePrm_* parameter = pParameters[i];
        // The reader takes a ZELKIIPRM section before the PRM one, so that is where edits must go.
        const CoreAnsx preferred = numbered(DataXml_::sCtagroot2p, i + 1);
        const bool usePreferred = display->exslc(preferred);
        Section section(usePreferred ? preferred : numbered(DataXml_::sCtagrootpm, i + 1));
        if (!parameter->isdis()) section.add(DataXml_::sCtadsvisbl, false);
        section.add(DataXml_::sCtagdsprlb, parameter->getpl());
        section.add(DataXml_::sCtagdslabl, parameter->getlb());
        section.add(DataXml_::sCtagdsprun, parameter->getpu());
        section.add(DataXml_::sCtagdspoun, parameter->getou());
        section.add(DataXml_::sCtagdsunit, parameter->getun());
        section.add(DataXml_::sCtagmnvalu, parameter->getbd(0));
        section.add(DataXml_::sCtagmxvalu, parameter->getbd(1));
        section.add(DataXml_::sCtagmnbrvl, parameter->getbd(2));
        section.add(DataXml_::sCtagmxbrvl, parameter->getbd(3));
        section.add(DataXml_::sCtagfuncta, inputText(parameter->getfa()));
        section.add(DataXml_::sCtagfunctb, inputText(parameter->getfb()));
        section.add(DataXml_::sCtagrootfn, parameter->getfn());
        replaceIn(display, section.take());
    }
}
