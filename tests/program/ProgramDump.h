// ProgramDump: every value a program holds, one entry per section under the document's own tag (NAME,
// MIX3, LFO2, H1, H1.tree.0.1 ...), read through the getters and CoreProgTestAccess. Numbers print as
// "%G" (six significant digits, the precision of the writers' numbers); kernels as a fingerprint of
// all their values. differences() names the entries where two dumps part.
#pragma once
#include "CoreProgTestAccess.h"
#include "base/CoreTlst.h"
#include "convolution/CoreRvct.h"
#include "convolution/CoreVctr.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

namespace progtest {

using Dump = std::map<std::string, std::string>;

// Values joined by blanks: texts in quotes (an empty one stays visible), numbers "%G", flags 0/1.
struct Line {
    std::string text;
    Line& operator<<(double v) { return add(CoreAnsx(v).c_str()); }
    Line& operator<<(const CoreAnsx& v) { return add("'" + std::string(v.c_str()) + "'"); }
    Line& operator<<(const CoreParm* c) { return *this << c->getsc() << c->getsl() << c->getsu(); }
    Line& add(const std::string& v) { return text += (text.empty() ? "" : " ") + v, *this; }
};

// FNV-1a over the bytes of n doubles.
inline std::string fingerprint(const void* values, int n) {
    uint64_t h = 14695981039346656037ULL;
    const auto* bytes = static_cast<const unsigned char*>(values);
    for (size_t i = 0; values != nullptr && i < sizeof(double) * size_t(n > 0 ? n : 0); ++i)
        h = (h ^ bytes[i]) * 1099511628211ULL;
    return std::to_string(h);
}

// A node's values, then each element: its name and position, its kernels (a leaf) or its subtree.
inline void dumpTree(Dump& d, const std::string& key, CoreVctr* v, int kernelLength) {
    int offset = 0, fadeIn = 0;
    v->getup(offset, fadeIn);
    Line node;
    node << v->getmn() << v->getmx() << v->getlq() << offset << fadeIn << v->chnfo(0) << v->chnfo(1)
         << v->chnls(0) << v->chnls(1) << v->chnci() << v->chnco();
    for (int k = 0; k < 5; ++k) node << v->controlAt(k);
    d[key] = node.text;
    for (int i = 0; i < v->getne(); ++i) {
        const std::string at = key + "." + std::to_string(i);
        long start = 0, end = 0;
        const bool ranged = v->getrz(i, start, end);
        d[at] = (Line{} << v->getfn(i) << v->gainInputs().positions[i] << ranged << start << end).text;
        if (v->child(i) != nullptr) dumpTree(d, at, v->child(i), kernelLength);
        void *left = nullptr, *right = nullptr;
        if (v->isLeaf()) v->getip(i, left, right);
        if (left != nullptr) d[at + ".kernel"] = fingerprint(left, kernelLength) + " " + fingerprint(right, kernelLength);
    }
}

inline Dump dump(CoreProg& p) {
    using A = CoreProgTestAccess;
    Dump d;
    d["NAME"] = (Line{} << p.getnm()).text;
    d["CATEGORY"] = (Line{} << p.getct(0) << p.getct(1) << p.getct(2)).text;
    d["DESCRIPTION"] = (Line{} << p.getds()).text;
    d["VECTORFILENAME"] = (Line{} << A::vectorFileName(p)).text;
    for (int i = 0; i < CoreProg::iCcontrols; ++i)
        d[i < 8 ? "MIX" + std::to_string(i + 1) : i == 8 ? "GAININ" : "GAINOUT"] =
            (Line{} << p.getif(i)->isval(true) << p.getif(i)->getiv(true)).text;
    d["GAINPADIN"] = (Line{} << p.getpi()).text;
    d["GAINPADOUT"] = (Line{} << p.getpo()).text;
    d["GAINPADINTRIMSOURCE"] = (Line{} << A::inputTrim(p)).text;
    d["GAINPADOUTTRIMSOURCE"] = (Line{} << A::outputTrim(p)).text;
    d["GAINIR"] = (Line{} << A::irGain(p)).text;
    d["FEEDBACKFACTOR"] = (Line{} << p.getff()).text;
    d["FEEDBACKSOURCE"] = (Line{} << p.getfs() << A::feedbackControl(p)).text;
    d["GAINDRYFACTOR"] = (Line{} << p.getdr()).text;
    d["GAINDRYSOURCE"] = (Line{} << p.getys() << A::dryControl(p)).text;
    d["LOOKAHEAD"] = (Line{} << p.getua() << p.getar() << A::lookaheadControl(p)).text;
    d["PROGRAMRATE"] = (Line{} << p.getpr()).text;
    d["ALIGN"] = (Line{} << A::alignBalance(p) << A::alignOffset(p) << A::syncVersion(p) << A::trainMode(p)
                         << A::jitterMode(p) << A::peakMode(p))
                     .text;
    d["FLAGS"] = (Line{} << p.getf2() << p.getfi() << p.getfh() << p.getfm() << p.getsh() << p.getst()).text;
    d["state"] = (Line{} << A::loaded(p) << A::prepared(p) << p.gethc(true) << p.getfr() << p.getcr()
                         << p.getof() << p.getsz() << p.getsm())
                     .text;
    for (int16_t i = 0; i < CoreProg::iClfos; ++i) {
        CoreLfo_* l = p.getlf(i);
        const std::string key = "LFO" + std::to_string(i + 1);
        d[key] = (Line{} << l->getrc() << l->getps() << l->getrt() << l->getqt() << l->getph()).text;
        d[key + ".SHAPE"] = (Line{} << l->getsh()).text;
    }
    for (int16_t i = 0; i < CoreProg::iCfuns; ++i)
        d["FUN" + std::to_string(i + 1)] = (Line{} << p.getfn(i)->getfa()->getsa() << p.getfn(i)->getfb()->getsa()
                                                   << p.getfn(i)->getfn())
                                               .text;
    for (int i = 0; i < CoreProg::iCrawfuns; ++i) {
        CoreRfun* r = A::rawFunction(p, i);
        d["RAWFUN" + std::to_string(i + 1)] = (Line{} << r->getfr(0) << r->getfr(1) << r->isact()).text;
    }
    for (int16_t i = 0; i < CoreProg::iCfollowers; ++i) {
        CoreEnvf* f = p.getef(i);
        Line line;
        line << f->getma() << f->getxa() << f->getat() << f->getmr() << f->getxr() << f->getrl() << f->getba()
             << f->getex() << f->isact() << f->enabt();
        // A group's texts count only while it is linked.
        if (f->bbsrc()) line << f->getbb();
        if (f->dsrc_()) line.add("dynamic") << f->getda() << f->getdr();
        if (f->osrc_()) line.add("output") << f->getoa() << f->getor();
        if (f->hpsrc()) line.add("filter") << f->gethp() << f->gethf() << f->getho();
        d["EVF" + std::to_string(i + 1)] = line.text;
    }
    for (int16_t i = 0; i < CoreProg::iCdynamics; ++i) {
        CoreDynm* u = p.getdy(i);
        const std::string key = "DNM" + std::to_string(i + 1);
        d[key] = (Line{} << u->getbs(0) << u->getbs(1) << u->getbs(2) << u->getst() << u->getbd(3) << u->getbd(4))
                     .text;
        d[key + ".RATIOCURVE"] = (Line{} << u->iscrv() << u->getrc()).text;
    }
    for (int16_t i = 0; i < CoreProg::iCenvelopes; ++i) {
        CoreEnv_* e = p.geten(i);
        Line line;
        for (int16_t n = 0; n < 4; ++n) line << e->getpr(n) << e->getlv()[n] << e->gettm()[n] << e->getcv()[n];
        d["ENV" + std::to_string(i + 1)] = (line << e->getlf() << e->gettf()).text;
    }
    for (int16_t i = 0; i < CoreProg::iCparameters; ++i) {
        CorePrm_* m = p.getpm(i);
        Line line;
        line << m->isdis() << m->getpl() << m->getlb() << m->getpu() << m->getou() << m->getun();
        for (short n = 0; n < 4; ++n) line << m->getbd(n);
        d["PRM" + std::to_string(i + 1)] = (line << m->getfa()->getsa() << m->getfb()->getsa() << m->getfn()).text;
    }
    for (int h = 0; h <= A::capacity(p); ++h) {
        const CoreProg::HLOC& r = A::record(p, h);
        if (!r.bValid && r.pRoot == nullptr) continue;
        const std::string key = "H" + std::to_string(h + 1);
        d[key] = (Line{} << r.bValid << r.bThirdon << r.bChanged << r.bShortimpulse << r.dTrainthreshold
                         << r.iOffset << r.iFadein << r.iFadelengthinuse << r.iSizeinuse)
                     .text;
        d[key + ".fadeout"] = (Line{} << r.iFadeout).text;
        d[key + ".cut"] = (Line{} << r.iCut).text;
        d[key + ".sizes"] = (Line{} << r.iSecondsize << r.iThirdsize).text;
        d[key + ".requests"] = (Line{} << r.iSecondrequest << r.iThirdrequest).text;
        Line bounds;
        bounds << r.iSecondbound << r.iThirdbound << r.iThirdblock << r.iPaddedthirdsize;
        for (int32_t size : r.iBoundedsizes) bounds << size;
        d[key + ".bounds"] = bounds.text;
        d[key + ".kernels"] = (Line{} << r.iKernellength << r.iLongestimpulse << r.iLongesttail
                                      << r.iLongestcontent)
                                  .text;
        if (r.pRoot != nullptr) dumpTree(d, key + ".tree", r.pRoot, r.iKernellength);
    }
    for (int i = 0; i < CoreProg::iCraws; ++i) {
        CoreProg::RAWLOC& r = A::raw(p, i);
        if (r.pRoot == nullptr) continue;
        const std::string key = r.sName.c_str();
        d[key] = (Line{} << r.bActive << r.pRoot->getcd()).text;
        dumpTree(d, key + ".tree", r.pRoot, r.pRoot->getcd());
    }
    return d;
}

// "key: first | second" for every entry the two dumps do not share, one a line.
inline std::string differences(const Dump& first, const Dump& second) {
    std::string out;
    auto at = [](const Dump& d, const std::string& key) {
        const auto found = d.find(key);
        return found == d.end() ? std::string("(none)") : found->second;
    };
    Dump keys = first;
    keys.insert(second.begin(), second.end());
    for (const auto& entry : keys)
        if (at(first, entry.first) != at(second, entry.first))
            out += entry.first + ": " + at(first, entry.first) + " | " + at(second, entry.first) + "\n";
    return out;
}

} // namespace progtest
