// The program reader's entry of CoreProg: the keys of PROGRAM it reads itself, the reader steps in
// their order, kernel and raw preparation, and the three handlers that leave an empty program behind
// whatever failed (see CoreProg.h).
#include "program/CoreProg.h"

#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CorePmsg.h"
#include "convolution/CorePlel.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreParm.h"
#include "modulation/DataSrce.h"
#include "program/DataXml_.h"

#include <cstdint>

namespace {

// One line of the reader's table: the tag, ":" and the value, built only when the log takes it.
void trace(const CoreAnsx& tag, const CoreAnsx& value) {
    if (CoreLog_::getdb() >= 3) CoreLog_::debug(tag + CoreAnsx(":") + value, 2, 3);
}

// A flag's line: the tag alone.
void trace(const CoreAnsx& tag) {
    if (CoreLog_::getdb() >= 3) CoreLog_::debug(tag, 2, 3);
}

CoreAnsx text(double value) {
    return CoreAnsx(value);
}

CoreAnsx text(int32_t value) {
    return CoreAnsx(static_cast<long>(value));
}

} // namespace

bool CoreProg::load_(CoreNode* root, bool keepRate) {
    if (pProgress != nullptr) pProgress->addrw(CoreAnsx(CoreLog_::sCstatspar));
    init_();
    CoreLog_::debug(CoreAnsx("load_ starts"), 1, 2);
    bLoaded = true;
    dFeedback = 0.0;
    dDrygain = 0.0;
    dInputpad = 1.0;
    dOutputpad = 1.0;
    bool read = false;
    try {
        rdprg(root);
        read = true;
    } catch (...) {
        dlvct();
        CoreLog_::logtg(sCurrenttag, 1);
        abandon();
    }
    // Kernels before raw vectors; a failing step logs its cause itself.
    const char* step = "start ";
    try {
        if (read) {
            start(keepRate);
            step = "starr ";
            starr();
        }
    } catch (...) {
        CoreLog_::loger(CoreAnsx(step) + sName, 1);
        abandon();
    }
    CoreLog_::debug(CoreAnsx("load_ ends"), 1, 2);
    return bLoaded;
}

void CoreProg::abandon() {
    init_();
    // The unload leaves the count to the next read, but nothing it counted exists any more.
    iHarmonicsloaded = 0;
    pRegistry->garlk();
}

void CoreProg::rdprg(CoreNode* root) {
    sCurrenttag = DataXml_::sCtagprogrm;
    // A free slot's text "0" parses to no document at all.
    if (root == nullptr || !root->exslc(DataXml_::sCtagprogrm)) throw CoreAnsx("");
    CoreNode* p = root->getcd(DataXml_::sCtagprogrm);
    auto present = [p](const CoreAnsx& tag) { return p->exslc(tag); };

    sName = p->getls(DataXml_::sCtagprognm);
    const CoreAnsx* categories[iCcategories] = {&DataXml_::sCtagcategr, &DataXml_::sCtagsubca1,
                                                &DataXml_::sCtagsubca2};
    for (int i = 0; i < iCcategories; ++i) sCategories[i] = p->getls(*categories[i]);
    sDescription = p->getls(DataXml_::sCtagdescrp);
    sVectorfilename = CoreNode::gtnls(p, DataXml_::sCtagactvnm, CoreAnsx("0"));
    for (int n = 1; n <= iCmixes; ++n) {
        const CoreAnsx tag = DataXml_::sCtagrootmx + CoreAnsx(n);
        if (present(tag))
            pControls[n - 1]->setiv(p->getld(tag), true, true);
        else
            pControls[n - 1]->setiv(-1.0, false, true);
    }
    // The gain controls keep the previous program's values when their keys are absent.
    const CoreAnsx* gainTags[2] = {&DataXml_::sCtaggainou, &DataXml_::sCtaggainin};
    for (int k = 0; k < 2; ++k) {
        if (!present(*gainTags[k])) continue;
        const double gain = linearGain(p, *gainTags[k]);
        pControls[9 - k]->setiv(0.5 * gain, true, false);
        trace(*gainTags[k], text(gain));
    }
    double* pads[2] = {&dOutputpad, &dInputpad};
    const CoreAnsx* padTags[2] = {&DataXml_::sCtaggnpdou, &DataXml_::sCtaggnpdin};
    for (int k = 0; k < 2; ++k) {
        if (!present(*padTags[k])) continue;
        *pads[k] = linearGain(p, *padTags[k]);
        trace(*padTags[k], text(*pads[k]));
    }
    // A source key binds its control over 0..1; without one the control is fixed at the constant 1.0.
    auto bind = [&](const CoreAnsx& tag, CoreParm* control) {
        const CoreAnsx source = present(tag) ? p->getls(tag) : CoreAnsx("");
        control->setsr(source, present(tag) ? 0.0 : 1.0, 1.0);
        if (present(tag)) trace(tag, source);
        return source;
    };
    bind(DataXml_::sCtaggpitrm, pInputtrim);
    bind(DataXml_::sCtaggpotrm, pOutputtrim);
    dIrgain = linearGain(p, DataXml_::sCtaggainir);
    trace(DataXml_::sCtaggainir, text(dIrgain));
    iLookaheadus = CoreNode::gtnli(p, DataXml_::sCtaglookah, 0);
    if (present(DataXml_::sCtaglookah)) trace(DataXml_::sCtaglookah, text(iLookaheadus));
    setar(CoreNode::gtnls(p, DataXml_::sCtaglasrce, pSources->getis(DataSrce::iCrowon)->getky()));
    trace(DataXml_::sCtaglasrce, sLookaheadsource);
    iUpdateperiodus = CoreNode::gtnli(p, DataXml_::sCtagprrate, -1);
    if (present(DataXml_::sCtagprrate)) trace(DataXml_::sCtagprrate, text(iUpdateperiodus));
    dAlignbalance = p->getld(DataXml_::sCtagaligbl);
    trace(DataXml_::sCtagaligbl, text(dAlignbalance));
    // Flags are on for a value above 0; each present one is logged by its tag alone.
    auto flag = [&](const CoreAnsx& tag, bool& field) {
        field = p->getld(tag) > 0.0;
        if (present(tag)) trace(tag);
    };
    flag(DataXml_::sCtagtrainm, bTrainmode);
    flag(DataXml_::sCtagjittrm, bJittermode);
    flag(DataXml_::sCtaghrtf_m, bPeakmode);
    iSyncversion = p->getli(DataXml_::sCtagsyncvr);
    if (present(DataXml_::sCtagsyncvr)) trace(DataXml_::sCtagsyncvr, text(iSyncversion));
    iAlignoffsetus = CoreNode::gtnli(p, DataXml_::sCtagaligof, 0);
    trace(DataXml_::sCtagaligof, text(iAlignoffsetus));
    flag(DataXml_::sCtagfrcot2, bForceot2);
    flag(DataXml_::sCtagfrcivt, bInvisiblethread);
    flag(DataXml_::sCtagfrchyb, bForcehybrid);
    flag(DataXml_::sCtagmono_m, bForcemono);
    iHarmoniclimit = shortValue(p, DataXml_::sCtaghsdim_, 0);
    if (present(DataXml_::sCtaghsdim_)) trace(DataXml_::sCtaghsdim_, text(int32_t{iHarmoniclimit}));

    rdmod(p);

    // Without its factor a control keeps the binding it had; both texts are emptied in every case.
    sFeedbacksource = CoreAnsx("");
    sDrysource = CoreAnsx("");
    if (present(DataXml_::sCtagfeedbk)) {
        dFeedback = p->getld(DataXml_::sCtagfeedbk) / 100.0; // percent
        trace(DataXml_::sCtagfeedbk, text(dFeedback));
        sFeedbacksource = bind(DataXml_::sCtagfbsrce, pFeedbackcontrol);
    }
    if (present(DataXml_::sCtaggaindr)) {
        dDrygain = linearGain(p, DataXml_::sCtaggaindr);
        trace(DataXml_::sCtaggaindr, text(dDrygain));
        sDrysource = bind(DataXml_::sCtaggainds, pDrycontrol);
    }
    iSmooth = shortValue(p, DataXml_::sCtagsmooth, -1);
    if (present(DataXml_::sCtagsmooth)) trace(DataXml_::sCtagsmooth, text(int32_t{iSmooth}));

    rddsp(p);
    rdhrm(p);
    rdraw(p);
}
