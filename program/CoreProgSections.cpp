// The reader steps of CoreProg for the modulator sections and the user parameters, their section
// readers and the reading rules the steps share (see CoreProg.h).
#include "program/CoreProg.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "program/DataXml_.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace {

CoreAnsx numbered(const CoreAnsx& tag, int n) {
    return tag + CoreAnsx(n);
}

// A text key: trimmed, empty (or `absent`) when missing or "0". The node may be missing too: an
// envelope section without one of its groups reads that group's defaults.
CoreAnsx textOf(const CoreNode* node, const CoreAnsx& tag, const char* absent = "") {
    return CoreNode::gtnls(node, tag, CoreAnsx(absent));
}

double numberOf(const CoreNode* node, const CoreAnsx& tag, double absent = 0.0) {
    return CoreNode::gtnld(node, tag, absent);
}

const CoreAnsx separator(":");
const CoreAnsx off("OFF");

// Runs a section reader's body; any failure is logged with the tag it was on (as far as it got) and
// thrown again as that tag, which the reader's handler then reports as the section's.
template <typename Body>
void tagged(const CoreAnsx& tag, Body&& body) {
    try {
        body();
    } catch (...) {
        CoreLog_::logtg(tag, 1);
        throw CoreAnsx(tag);
    }
}

} // namespace

// ---- shared reading rules ---------------------------------------------------------------------------

int16_t CoreProg::shortValue(const CoreNode* node, const CoreAnsx& tag, int16_t absent) {
    if (node == nullptr || !node->exslc(tag)) return absent;
    const int32_t whole = CoreNode::gtnli(node, tag, 0);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(whole) & 0xFFFFu));
}

double CoreProg::linearGain(const CoreNode* node, const CoreAnsx& tag) {
    const double decibels = CoreNode::gtnld(node, tag, 0.0);
    const int kind = std::fpclassify(decibels);
    if (kind == FP_ZERO || kind == FP_SUBNORMAL) return 1.0;
    return std::pow(10.0, decibels / 20.0);
}

int32_t CoreProg::samplesAtRate(double microseconds) const {
    double whole = std::trunc(microseconds);
    if (!(whole < 2147483647.0)) whole = 2147483647.0;
    if (!(whole > -2147483648.0)) whole = -2147483648.0;
    const int64_t samples = CoreButl::tpfup(iProgramratehz, static_cast<int64_t>(whole));
    if (samples > INT32_MAX) return INT32_MAX;
    if (samples < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(samples);
}

// ---- modulator sections ---------------------------------------------------------------------------------

void CoreProg::rdmod(CoreNode* program) {
    // Inside LFO, RAWFUN and FUN sections the current tag follows the key being read.
    auto key = [this](const CoreAnsx& tag) -> const CoreAnsx& {
        sCurrenttag = tag;
        return tag;
    };
    auto section = [this, program](const CoreAnsx& tag) -> CoreNode* {
        sCurrenttag = tag;
        return program->exslc(tag) ? program->getcd(tag) : nullptr;
    };
    const CoreAnsx empty("");

    for (int n = 1; n <= iClfos; ++n) {
        const CoreNode* s = section(numbered(DataXml_::sCtagrootlf, n));
        if (s == nullptr) {
            pLfos[n - 1]->setvl(0.0, 0.0, 0.0, empty, empty, 0.0, empty);
            continue;
        }
        const double minimum = s->getld(key(DataXml_::sCtagmnrate));
        const double maximum = s->getld(key(DataXml_::sCtagmxrate));
        const CoreAnsx rateSource = s->getls(key(DataXml_::sCtagsource));
        const CoreAnsx shape = s->getls(key(DataXml_::sCtagshape_));
        const double phase = numberOf(s, key(DataXml_::sCtagphasef));
        const CoreAnsx phaseSource = textOf(s, key(DataXml_::sCtagphases));
        const double quantise = numberOf(s, key(DataXml_::sCtaglfortq));
        pLfos[n - 1]->setvl(minimum, maximum, quantise, rateSource, shape, phase, phaseSource);
    }

    for (int n = 1; n <= iCrawfuns; ++n) {
        const CoreNode* s = section(numbered(DataXml_::sCtagrootrf, n));
        const CoreAnsx a = textOf(s, key(DataXml_::sCtagfuncta));
        const CoreAnsx b = textOf(s, key(DataXml_::sCtagfunctb));
        const CoreAnsx row = textOf(s, key(DataXml_::sCtagrootfn));
        const CoreAnsx first = textOf(s, key(DataXml_::sCtagfunctc));
        const CoreAnsx second = textOf(s, key(DataXml_::sCtagfunctd));
        // The raw names come before the row key; the start value -1.0 is every program's.
        pRawfuns[n - 1]->setvl(a, b, first, second, row, iProgramratehz, -1.0);
    }

    for (int n = 1; n <= iCfuns; ++n) {
        const CoreNode* s = section(numbered(DataXml_::sCtagrootfn, n));
        const CoreAnsx a = textOf(s, key(DataXml_::sCtagfuncta));
        const CoreAnsx b = textOf(s, key(DataXml_::sCtagfunctb));
        const CoreAnsx operation = textOf(s, key(DataXml_::sCtagrootfn));
        pFuns[n - 1]->setvl(a, b, operation);
    }

    // Followers, dynamics and envelopes: a present section is logged by its tag and read, an absent
    // one resets its modulator.
    auto logged = [&section](const CoreAnsx& root, int n) {
        const CoreAnsx tag = numbered(root, n);
        CoreNode* s = section(tag);
        if (s != nullptr) CoreLog_::debug(tag, 2, 3);
        return s;
    };
    for (int n = 1; n <= iCfollowers; ++n) {
        CoreNode* s = logged(DataXml_::sCtagrootef, n);
        if (s != nullptr)
            envfl(s, pFollowers[n - 1], false);
        else if (n == iCfollowers && (s = section(numbered(DataXml_::sCtagrootef, 1))) != nullptr)
            envfl(s, pFollowers[n - 1], true); // the side chain borrows EVF1's section and stays off
        else
            pFollowers[n - 1]->setvl();
    }
    for (int n = 1; n <= iCdynamics; ++n) {
        CoreNode* s = logged(DataXml_::sCtagrootdn, n);
        if (s != nullptr)
            dynam(s, pDynamics[n - 1]);
        else
            pDynamics[n - 1]->setvl();
    }
    for (int n = 1; n <= iCenvelopes; ++n) {
        CoreNode* s = logged(DataXml_::sCtagrootev, n);
        if (s != nullptr)
            envlp(s, pEnvelopes[n - 1]);
        else
            pEnvelopes[n - 1]->setvl();
    }
}

void CoreProg::rddsp(CoreNode* program) {
    sCurrenttag = DataXml_::sCtagrootds;
    if (!program->exslc(DataXml_::sCtagrootds)) return;
    const CoreNode* display = program->getcd(DataXml_::sCtagrootds);
    for (int n = 1; n <= iCparameters; ++n) {
        // A ZELKIIPRM section wins over the PRM section of the same number.
        const CoreAnsx tags[2] = {numbered(DataXml_::sCtagroot2p, n), numbered(DataXml_::sCtagrootpm, n)};
        CoreNode* s = nullptr;
        for (const CoreAnsx& tag : tags) {
            sCurrenttag = tag;
            if (display->exslc(tag)) {
                s = display->getcd(tag);
                break;
            }
        }
        if (s == nullptr) {
            pParameters[n - 1]->setvl(false);
            continue;
        }
        CoreLog_::debug(sCurrenttag, 2, 3);
        dsprm(s, pParameters[n - 1]);
    }
}

// ---- section readers ----------------------------------------------------------------------------------

void CoreProg::dsprm(CoreNode* section, CorePrm_* parameter) {
    CoreAnsx tag;
    tagged(tag, [&] {
        auto text = [&](const CoreAnsx& key) {
            tag = key;
            return textOf(section, key);
        };
        auto number = [&](const CoreAnsx& key, double absent) {
            tag = key;
            return numberOf(section, key, absent);
        };
        const CoreAnsx a = text(DataXml_::sCtagfuncta);
        const CoreAnsx b = text(DataXml_::sCtagfunctb);
        const CoreAnsx operation = text(DataXml_::sCtagrootfn);
        const CoreAnsx label = text(DataXml_::sCtagdslabl);
        const CoreAnsx prelabel = text(DataXml_::sCtagdsprlb);
        const CoreAnsx unit = text(DataXml_::sCtagdsunit);
        const CoreAnsx preunit = text(DataXml_::sCtagdsprun);
        const CoreAnsx postunit = text(DataXml_::sCtagdspoun);
        const double minimum = number(DataXml_::sCtagmnvalu, 0.0);
        const double maximum = number(DataXml_::sCtagmxvalu, 0.0);
        const double barMinimum = number(DataXml_::sCtagmnbrvl, minimum);
        const double barMaximum = number(DataXml_::sCtagmxbrvl, maximum);
        // Written files frame the value (" 0 "), which is present and hides; a bare "0" is absent.
        tag = DataXml_::sCtadsvisbl;
        const bool displayed =
            !section->exslc(DataXml_::sCtadsvisbl) || section->getld(DataXml_::sCtadsvisbl) != 0.0;
        parameter->setvl(displayed, a, b, operation, label, prelabel, unit, preunit, postunit, minimum,
                         maximum, barMinimum, barMaximum);
    });
}

void CoreProg::envlp(CoreNode* section, CoreEnv_* envelope) {
    CoreAnsx tag;
    tagged(tag, [&] {
        // Stage order of the time and curve tables: attack, decay, slope, release.
        const CoreAnsx* stages[4] = {&DataXml_::sCtagevattc, &DataXml_::sCtagevdecy, &DataXml_::sCtagevslpe,
                                     &DataXml_::sCtagevrlse};
        const CoreAnsx* levelTags[4] = {&DataXml_::sCtagevstrt, &DataXml_::sCtagevattc,
                                        &DataXml_::sCtagevbrea, &DataXml_::sCtagevsust};
        const bool tracing = CoreLog_::getdb() >= 3;

        tag = DataXml_::sCtagcontrl;
        const CoreNode* control = section->getcd(tag);
        const CoreAnsx activation = textOf(control, DataXml_::sCtagacsrce);
        const CoreAnsx deactivation = textOf(control, DataXml_::sCtagdasrce);
        if (tracing) CoreLog_::debug(tag + separator + activation + separator + deactivation, 3, 3);

        // A group is read as numbers plus its COMMON amount; a missing group or COMMON gives defaults.
        struct Group {
            double values[4];
            double factor;
            CoreAnsx source;
        };
        auto readGroup = [&](const CoreAnsx& groupTag, const CoreAnsx* const* keys) {
            tag = groupTag;
            const CoreNode* group = section->getcd(groupTag);
            const CoreNode* common = group != nullptr ? group->getcd(DataXml_::sCtagcommon) : nullptr;
            Group read;
            CoreAnsx line = groupTag + separator;
            for (int k = 0; k < 4; ++k) {
                read.values[k] = numberOf(group, *keys[k]);
                if (tracing) line += CoreAnsx(read.values[k]) + separator;
            }
            read.factor = numberOf(common, DataXml_::sCtagmodfct);
            read.source = textOf(common, DataXml_::sCtagmdsrce);
            if (tracing) CoreLog_::debug(line + CoreAnsx(read.factor) + separator + read.source, 3, 3);
            return read;
        };
        const Group level = readGroup(DataXml_::sCtagevlevl, levelTags);
        const Group time = readGroup(DataXml_::sCtagevtime, stages);

        tag = DataXml_::sCtagevcrve;
        const CoreNode* curveGroup = section->getcd(tag);
        int16_t curves[4];
        CoreAnsx line = tag;
        for (int k = 0; k < 4; ++k) {
            curves[k] = shortValue(curveGroup, *stages[k], 0);
            if (tracing) line += separator + CoreAnsx(static_cast<int>(curves[k]));
        }
        if (tracing) CoreLog_::debug(line, 3, 3);

        int32_t times[4];
        for (int k = 0; k < 4; ++k) times[k] = samplesAtRate(time.values[k]);
        envelope->setvl(activation, deactivation, level.values, times, curves, level.factor, level.source,
                        time.factor, time.source);
    });
}

void CoreProg::dynam(CoreNode* section, CoreDynm* dynamics) {
    CoreAnsx tag;
    tagged(tag, [&] {
        tag = DataXml_::sCtagtrsrce;
        const CoreAnsx threshold = textOf(section, tag);
        tag = DataXml_::sCtaginsrce;
        const CoreAnsx input = textOf(section, tag);
        bool compressing = true;
        CoreAnsx ratio("");
        CoreAnsx mode("");
        // The compressing ratio wins; the expanding one is read only without it.
        tag = DataXml_::sCtagrcsrce;
        if (section->exslc(tag)) {
            ratio = section->getls(tag);
            mode = CoreAnsx("C:");
        } else {
            tag = DataXml_::sCtagresrce;
            if (section->exslc(tag)) {
                ratio = section->getls(tag);
                compressing = false;
                mode = CoreAnsx("E:");
            }
        }
        tag = DataXml_::sCtagdnrnge;
        const double range = numberOf(section, tag);
        // The curve index itself; any present value turns the curve on (the unit caps it at 8).
        tag = DataXml_::sCtagdnrtcv;
        const int16_t curve = shortValue(section, tag, -1);
        tag = DataXml_::sCtaggainpd;
        const double makeUp = numberOf(section, tag);
        if (CoreLog_::getdb() >= 3)
            CoreLog_::debug(threshold + separator + input + separator + mode + ratio + separator +
                                CoreAnsx(range) + separator + CoreAnsx(static_cast<int>(curve)) + separator +
                                CoreAnsx(makeUp),
                            3, 3);
        dynamics->setvl(threshold, input, compressing, ratio, curve >= 0, curve, range, makeUp);
    });
}

void CoreProg::envfl(CoreNode* section, CoreEnvf* follower, bool borrowed) {
    // The log text grows key by key; a failure reports as much of it as was read.
    CoreAnsx line("");
    tagged(line, [&] {
        auto item = [&line](const CoreAnsx& text) { line += text + separator; };
        auto source = [&](const CoreAnsx& tag, const char* absent) {
            const CoreAnsx text = textOf(section, tag, absent);
            item(text);
            return text;
        };
        const double minAttack = numberOf(section, DataXml_::sCtagattkmn);
        item(CoreAnsx(minAttack));
        const double maxAttack = numberOf(section, DataXml_::sCtagattkmx);
        item(CoreAnsx(maxAttack));
        const CoreAnsx attackSource = source(DataXml_::sCtagatsrce, "");
        const double minRelease = numberOf(section, DataXml_::sCtagrlsemn);
        item(CoreAnsx(minRelease));
        const double maxRelease = numberOf(section, DataXml_::sCtagrlsemx);
        item(CoreAnsx(maxRelease));
        const CoreAnsx releaseSource = source(DataXml_::sCtagrlsrce, "");
        const double balance = numberOf(section, DataXml_::sCtagefoutp);
        item(CoreAnsx(balance));
        // A borrowed section never takes EXP: the fifth follower stays off.
        const int16_t mode = borrowed ? CoreEnvf::iCmodeoff : shortValue(section, DataXml_::sCtagefexpn, 0);
        item(CoreAnsx(static_cast<int>(mode)));
        const CoreAnsx busBalance = source(DataXml_::sCtagefbbsr, "OFF");
        const CoreAnsx dynamicAttack = source(DataXml_::sCtagefdatt, "OFF");
        const CoreAnsx dynamicRelease = source(DataXml_::sCtagefdrel, "OFF");
        const bool timingPresent = section->exslc(DataXml_::sCtagefenet);
        if (timingPresent) item(DataXml_::sCtagefenet);
        const bool timingOutputs = timingPresent && section->getld(DataXml_::sCtagefenet) != 0.0;
        const CoreAnsx outputAttack = source(DataXml_::sCtagefoatt, "OFF");
        const CoreAnsx outputRelease = source(DataXml_::sCtageforel, "OFF");
        const CoreAnsx highPass = source(DataXml_::sCtagfilter, "OFF");
        const bool filterPresent = section->exslc(DataXml_::sCtagfilter);
        const double frequency = filterPresent ? numberOf(section, DataXml_::sCtagfltfre) : 0.0;
        item(CoreAnsx(frequency));
        const int order = filterPresent ? CoreNode::gtnli(section, DataXml_::sCtagfltord, 1) : 1;
        CoreLog_::debug(line, 3, 3);

        // "off" or an empty text switch a group on, though as sources they resolve to OFF or 0.0.
        follower->setvl(samplesAtRate(minAttack), samplesAtRate(maxAttack), attackSource,
                        samplesAtRate(minRelease), samplesAtRate(maxRelease), releaseSource, balance, mode,
                        busBalance != off, busBalance, dynamicAttack != off && dynamicRelease != off,
                        dynamicAttack, dynamicRelease, timingOutputs, static_cast<double>(iProgramratehz),
                        outputAttack != off && outputRelease != off, outputAttack, outputRelease,
                        highPass != off, frequency, order, highPass);
    });
}
