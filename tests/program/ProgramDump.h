// ProgramDump: every value a program holds, one entry per section under the document's own tag (NAME,
// MIX3, LFO2, H1, H1.tree.0.1 ...), read through the getters and CoreProgTestAccess. Numbers print as
// "%G" (six significant digits, the precision of the writers' numbers); kernels as a fingerprint of
// all their values. differences() names the entries where two dumps part.
#pragma once
#include "CoreProgTestAccess.h"
#include "base/CoreButl.h"
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
#include <type_traits>

namespace progtest {

using Dump = std::map<std::string, std::string>;

// Values joined by blanks: texts in quotes (an empty one stays visible), whole numbers and flags as
// they are, others "%G"; a bound control as its source and scale range.
struct Line {
    std::string text;
    Line& operator<<(double v) { return add(CoreAnsx(v).c_str()); }
    template <typename T>
    requires std::is_integral_v<T> Line& operator<<(T v) { return add(std::to_string(v)); }
    Line& operator<<(const CoreAnsx& v) { return add("'" + std::string(v.c_str()) + "'"); }
    Line& operator<<(const std::string& v) { return add(v); } // as it is
    Line& operator<<(const CoreParm* c) { return *this << c->getsc() << c->getsl() << c->getsu(); }
    Line& add(const std::string& v) { return text += (text.empty() ? "" : " ") + v, *this; }
};

template <typename... Values>
std::string line(const Values&... values) {
    Line l;
    (l << ... << values);
    return l.text;
}

// FNV-1a over the bytes of n doubles.
inline std::string fingerprint(const void* values, int n) {
    uint64_t h = 14695981039346656037ULL;
    const auto* bytes = static_cast<const unsigned char*>(values);
    for (size_t i = 0; values != nullptr && i < sizeof(double) * size_t(n > 0 ? n : 0); ++i)
        h = (h ^ bytes[i]) * 1099511628211ULL;
    return std::to_string(h);
}

// A node's values, then each element: its name, position and copy range, its kernels (a leaf) or its
// subtree.
inline void dumpTree(Dump& d, const std::string& key, CoreVctr* v, int kernelLength) {
    int offset = 0, fadeIn = 0;
    v->getup(offset, fadeIn);
    d[key] = line(v->getmn(), v->getmx(), v->getlq(), offset, fadeIn, v->chnfo(0), v->chnfo(1), v->chnls(0),
                  v->chnls(1), v->chnci(), v->chnco(), v->controlAt(0), v->controlAt(1), v->controlAt(2),
                  v->controlAt(3), v->controlAt(4));
    for (int i = 0; i < v->getne(); ++i) {
        const std::string at = key + "." + std::to_string(i);
        long start = 0, end = 0;
        const bool ranged = v->getrz(i, start, end);
        d[at] = line(v->getfn(i), v->gainInputs().positions[i], ranged, start, end);
        if (v->child(i) != nullptr) dumpTree(d, at, v->child(i), kernelLength);
        void *left = nullptr, *right = nullptr;
        if (v->isLeaf()) v->getip(i, left, right);
        if (left != nullptr)
            d[at + ".kernel"] = fingerprint(left, kernelLength) + " " + fingerprint(right, kernelLength);
    }
}

inline Dump dump(CoreProg& p) {
    using A = CoreProgTestAccess;
    Dump d;
    d["NAME"] = line(p.getnm());
    d["CATEGORY"] = line(p.getct(0), p.getct(1), p.getct(2));
    d["DESCRIPTION"] = line(p.getds());
    d["VECTORFILENAME"] = line(A::vectorFileName(p));
    for (int i = 0; i < CoreProg::iCcontrols; ++i)
        d[i < 8    ? "MIX" + std::to_string(i + 1)
          : i == 8 ? "GAININ"
                   : "GAINOUT"] = line(p.getif(i)->isval(true), p.getif(i)->getiv(true));
    d["GAINPADIN"] = line(p.getpi());
    d["GAINPADOUT"] = line(p.getpo());
    d["GAINPADINTRIMSOURCE"] = line(A::inputTrim(p));
    d["GAINPADOUTTRIMSOURCE"] = line(A::outputTrim(p));
    d["GAINIR"] = line(A::irGain(p));
    d["FEEDBACKFACTOR"] = line(p.getff());
    d["FEEDBACKSOURCE"] = line(p.getfs(), A::feedbackControl(p));
    d["GAINDRYFACTOR"] = line(p.getdr());
    d["GAINDRYSOURCE"] = line(p.getys(), A::dryControl(p));
    d["LOOKAHEAD"] = line(p.getua(), p.getar(), A::lookaheadControl(p));
    d["PROGRAMRATE"] = line(p.getpr());
    d["ALIGN"] = line(A::alignBalance(p), A::alignOffset(p), A::syncVersion(p), A::trainMode(p),
                      A::jitterMode(p), A::peakMode(p));
    d["FLAGS"] = line(p.getf2(), p.getfi(), p.getfh(), p.getfm(), p.getsh(), p.getst());
    d["state"] = line(A::loaded(p), A::prepared(p), p.gethc(true), p.getfr(), p.getcr(), p.getof(), p.getsz(),
                      p.getsm());
    for (int16_t i = 0; i < CoreProg::iClfos; ++i) {
        CoreLfo_* l = p.getlf(i);
        // "NULL", "0" and the empty text all name no source.
        d["LFO" + std::to_string(i + 1)] =
            line(CoreButl::getnv(l->getrc()), CoreButl::getnv(l->getps()), l->getrt()->getsl(),
                 l->getrt()->getsu(), l->getqt(), l->getph());
        d["LFO" + std::to_string(i + 1) + ".SHAPE"] = line(l->getsh());
    }
    for (int16_t i = 0; i < CoreProg::iCfuns; ++i)
        d["FUN" + std::to_string(i + 1)] =
            line(p.getfn(i)->getfa()->getsa(), p.getfn(i)->getfb()->getsa(), p.getfn(i)->getfn());
    for (int i = 0; i < CoreProg::iCrawfuns; ++i) {
        CoreRfun* r = A::rawFunction(p, i);
        d["RAWFUN" + std::to_string(i + 1)] = line(r->getfr(0), r->getfr(1), r->isact());
    }
    for (int16_t i = 0; i < CoreProg::iCfollowers; ++i) {
        CoreEnvf* f = p.getef(i);
        Line l;
        l << f->getma() << f->getxa() << f->getat() << f->getmr() << f->getxr() << f->getrl() << f->getba()
          << f->getex() << f->isact() << f->enabt();
        // A group's texts count only while it is linked.
        if (f->bbsrc()) l << f->getbb();
        if (f->dsrc_()) l.add("dynamic") << f->getda() << f->getdr();
        if (f->osrc_()) l.add("output") << f->getoa() << f->getor();
        if (f->hpsrc()) l.add("filter") << f->gethp() << f->gethf() << f->getho();
        d["EVF" + std::to_string(i + 1)] = l.text;
    }
    for (int16_t i = 0; i < CoreProg::iCdynamics; ++i) {
        CoreDynm* u = p.getdy(i);
        d["DNM" + std::to_string(i + 1)] =
            line(u->getbs(0), u->getbs(1), u->getbs(2), u->getst(), u->getbd(3), u->getbd(4));
        d["DNM" + std::to_string(i + 1) + ".RATIOCURVE"] = line(u->iscrv(), u->getrc());
    }
    for (int16_t i = 0; i < CoreProg::iCenvelopes; ++i) {
        CoreEnv_* e = p.geten(i);
        Line l;
        for (int16_t n = 0; n < 4; ++n) l << e->getpr(n) << e->getlv()[n] << e->gettm()[n] << e->getcv()[n];
        d["ENV" + std::to_string(i + 1)] = (l << e->getlf() << e->gettf()).text;
    }
    for (int16_t i = 0; i < CoreProg::iCparameters; ++i) {
        CorePrm_* m = p.getpm(i);
        d["PRM" + std::to_string(i + 1)] =
            line(m->isdis(), m->getpl(), m->getlb(), m->getpu(), m->getou(), m->getun(), m->getbd(0),
                 m->getbd(1), m->getbd(2), m->getbd(3), m->getfa()->getsa(), m->getfb()->getsa(), m->getfn());
    }
    for (int h = 0; h <= A::capacity(p); ++h) {
        const CoreProg::HLOC& r = A::record(p, h);
        if (!r.bValid && r.pRoot == nullptr) continue;
        const std::string key = "H" + std::to_string(h + 1);
        d[key] = line(r.bValid, r.bThirdon, r.bShortimpulse, r.dTrainthreshold, r.iOffset, r.iFadein,
                      r.iFadeout, r.iCut);
        d[key + ".changed"] = line(r.bChanged);
        d[key + ".use"] = line(r.iFadelengthinuse, r.iSizeinuse);
        d[key + ".sizes"] = line(r.iSecondsize, r.iThirdsize);
        d[key + ".requests"] = line(r.iSecondrequest, r.iThirdrequest);
        const int32_t* b = r.iBoundedsizes;
        d[key + ".bounds"] =
            line(r.iSecondbound, r.iThirdbound, r.iThirdblock, r.iPaddedthirdsize, b[0], b[1], b[2], b[3]);
        d[key + ".kernels"] = line(r.iKernellength, r.iLongestimpulse, r.iLongesttail, r.iLongestcontent);
        if (r.pRoot != nullptr) dumpTree(d, key + ".tree", r.pRoot, r.iKernellength);
    }
    for (int i = 0; i < CoreProg::iCraws; ++i) {
        CoreProg::RAWLOC& r = A::raw(p, i);
        if (r.pRoot == nullptr) continue;
        d[r.sName.c_str()] = line(r.bActive, r.pRoot->getcd());
        dumpTree(d, std::string(r.sName.c_str()) + ".tree", r.pRoot, r.pRoot->getcd());
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
