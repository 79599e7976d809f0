// AudioRoadScaffold: small programs with float64 kernel files in a folder of their own, and their
// installation into a constructed engine as the loader's engine stage leaves it (a load phase,
// pass-through entered through smpby, the scoped guard, the program read, one kernel mode for every
// record, periods, fades, program ready, pass-through left with clearing). No third stage, no common plans. Without GoogleTest,
// so that the benchmarks use it too. Tests and benchmarks only.
#pragma once
#include "CorePrcsTestAccess.h"
#include "base/CoreXml_.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreWavs.h"
#include "program/CoreProg.h"
#include "program/DataXml_.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

struct CorePrcsTestAccess::AudioRoad {
    using Signal = std::vector<double>;

    // A stereo float64 WAV of the two channels at rate.
    static void writeKernel(CorePool& pool, const std::filesystem::path& file, const Signal& left,
                            const Signal& right, int32_t rate) {
        CoreWavs image(&pool, 2, rate, static_cast<int32_t>(left.size()), true);
        image.setdt(static_cast<int32_t>(left.size()), left.data(), right.data());
        image.write(CoreAnsx(file.string().c_str()));
    }

    // Seeded noise decaying to about -60 dB over n taps.
    static Signal decayingNoise(size_t n, unsigned seed) {
        std::mt19937 generator(seed);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        Signal v(n);
        for (size_t k = 0; k < n; ++k) v[k] = uniform(generator) * std::exp(-6.9 * static_cast<double>(k) / n);
        return v;
    }

    static std::string tag(const std::string& name, const std::string& content) {
        return "<" + name + ">" + content + "</" + name + ">";
    }

    // The kernel files the shared programs name: U.WAV (unit impulse, 64 taps), G.WAV (the same impulse
    // at 0.25), S1..S3.WAV (decaying noise of 300, 200 and 120 taps) and M1, M2.WAV (two noise kernels).
    static void writeKernels(CorePool& pool, const std::filesystem::path& folder, int32_t rate) {
        Signal impulse(64, 0.0);
        impulse[0] = 1.0;
        writeKernel(pool, folder / "U.WAV", impulse, impulse, rate);
        impulse[0] = 0.25;
        writeKernel(pool, folder / "G.WAV", impulse, impulse, rate);
        const size_t lengths[3] = {300, 200, 120};
        for (unsigned h = 0; h < 3; ++h)
            writeKernel(pool, folder / ("S" + std::to_string(h + 1) + ".WAV"), decayingNoise(lengths[h], 10 + h),
                        decayingNoise(lengths[h], 20 + h), rate);
        writeKernel(pool, folder / "M1.WAV", decayingNoise(256, 31), decayingNoise(256, 32), rate);
        writeKernel(pool, folder / "M2.WAV", decayingNoise(256, 33), decayingNoise(256, 34), rate);
    }

    // Programs: U unit impulse; S power series of three kernels (HDIM 3); Y the hybrid S; M one
    // two-element vector moved by LFO1 with feedback, dry and look-ahead; G two unit impulses of gains
    // 0.25 and 1.0 positioned by MIX1; Q = U with EVF5 (side chain) active. sideChain adds that EVF5 to
    // any of them.
    static std::string program(char name, int smooth, bool sideChain = false) {
        const std::string smoothTag = tag("SMOOTH", smooth == 0 ? " 0 " : std::to_string(smooth));
        // Stage lengths (µs) that keep every kernel whole: 10 ms, 480 samples at 48 kHz.
        const std::string lengths = tag("OT1", tag("LENGTH", "10000")) + tag("OT2", tag("LENGTH", "10000"));
        const auto leaf = [&lengths](const std::string& file) {
            const std::string common = tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") + lengths;
            return tag("ELEMENT", tag("VECTOR", tag("COMMON", common) +
                                                    tag("ELEMENT", tag("FILENAME", file) + tag("WEIGHT", " 0 "))));
        };
        std::string body;
        switch (name) {
        case 'U':
        case 'Q':
            body = tag("H1", leaf("U.WAV"));
            sideChain = sideChain || name == 'Q';
            break;
        case 'S':
        case 'Y':
            body = tag("HDIM", "3") + tag("H1", leaf("S1.WAV")) + tag("H2", leaf("S2.WAV")) +
                   tag("H3", leaf("S3.WAV"));
            if (name == 'Y') body += tag("FORCEHYBRID", "1");
            break;
        case 'M': {
            const std::string common = tag("MINVALUE", "-1") + tag("MAXVALUE", "1") + lengths;
            const std::string elements = tag("ELEMENT", tag("FILENAME", "M1.WAV") + tag("WEIGHT", "-1")) +
                                         tag("ELEMENT", tag("FILENAME", "M2.WAV") + tag("WEIGHT", "1"));
            body = tag("H1", tag("ELEMENT", tag("VECTOR", tag("COMMON", common) + elements) +
                                                tag("CONTROL", tag("SOURCE", "LFO1")))) +
                   tag("LFO1", tag("MINRATE", "2") + tag("MAXRATE", "2") + tag("SHAPE", "Sine")) +
                   tag("FEEDBACKFACTOR", "30") + tag("FEEDBACKSOURCE", "ON") + tag("GAINDRYFACTOR", "-6") +
                   tag("GAINDRYSOURCE", "ON") + tag("LOOKAHEAD", "2000") + tag("LOOKAHEADSOURCE", "ON") +
                   tag("EVF1", tag("EXP", "2") + tag("OUTPUTBALANCE", "0.5") + tag("MINATTACK", "100") +
                                   tag("MAXATTACK", "100") + tag("MINRELEASE", "1000") +
                                   tag("MAXRELEASE", "1000"));
            break;
        }
        case 'G': {
            const std::string common = tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") + lengths;
            // A leaf takes no gain of its own (an element with a CONTROL names a vector file): the
            // 0.25 impulse is a kernel file of its own.
            const std::string elements = tag("ELEMENT", tag("FILENAME", "G.WAV") + tag("WEIGHT", " 0 ")) +
                                         tag("ELEMENT", tag("FILENAME", "U.WAV") + tag("WEIGHT", "1"));
            body = tag("H1", tag("ELEMENT", tag("VECTOR", tag("COMMON", common) + elements) +
                                                tag("CONTROL", tag("SOURCE", "MIX1")))) +
                   tag("MIX1", " 0 "); // a control the program leaves out ignores every setting
            break;
        }
        default:
            break;
        }
        if (sideChain)
            body += tag("EVF5", tag("EXP", "2") + tag("OUTPUTBALANCE", "0.5") + tag("MINATTACK", "100") +
                                    tag("MAXATTACK", "100") + tag("MINRELEASE", "1000") + tag("MAXRELEASE", "1000"));
        // Unity gains: an absent GAININ or GAINOUT would keep the previous program's.
        return tag("PROGRAM", tag("NAME", std::string(1, name)) + tag("GAININ", " 0 ") + tag("GAINOUT", " 0 ") +
                                  smoothTag + body);
    }

    // The engine stage of a load, in one kernel mode (3 direct, 11 partitioned FFT) for every record.
    // laterMode, when not 0, is the kernel mode of every record after the first.
    static bool install(CorePrcs& e, const std::string& text, int16_t mode, int16_t laterMode = 0) {
        CorePrcs::LoadPhase phase(e);
        e.smpby(true, 0, false, false);
        bool ok = false;
        {
            CorePrcs::EngineGuard hold(e);
            ok = installLocked(e, text, mode, laterMode);
        }
        e.smpby(false, 0, true, false);
        return ok;
    }

    static bool installLocked(CorePrcs& e, const std::string& text, int16_t firstMode, int16_t laterMode = 0) {
        e.bProgramready = false;
        CoreProg& p = *e.program;
        if (!p.load_(e.programdoc->getfc(CoreAnsx(text.c_str())), true)) return false;
        e.allcq();
        e.bHybrid = p.getfh();
        const bool mono = p.getfm();
        e.iProgramharmonics = p.gethc(false);
        e.iHarmonicsloaded = p.gethc(true);
        e.iSmooth = p.getst();
        e.bSecondkernels = false;
        e.dRateratio = p.getcr() > 0 ? static_cast<double>(p.getfr()) / p.getcr() : 1.0;
        const int32_t offset = std::max(p.getof(), 0);
        int32_t largestStep = 0;
        const auto configure = [&](int16_t record, int32_t length, double* left, double* right, bool* changed) {
            CorePrcs::CONVOLVERLOC& r = e.convtab[record];
            CoreCnvl& c = *r.convolver;
            const int16_t mode = record > 0 && record < e.hdimmax && laterMode != 0 ? laterMode : firstMode;
            c.delpc();
            c.delpl();
            const int32_t taps = std::max(length, 1);
            const int32_t block = e.dspdim;
            int32_t first = 2;
            while (first < taps + block - 1) first *= 2;
            const int step = mode == 11 ? c.set__(11, block, taps, first, block, taps) : c.set__(3, block, taps, 0, 0, taps);
            c.setup(changed);
            c.setms(mono);
            c.setff(offset);
            if (!c.plan_()) return false;
            r.kernel[0] = left;
            r.kernel[1] = right;
            r.mode = c.selectedMode();
            return step > 0 ? (largestStep = std::max(largestStep, step), true) : false;
        };
        for (int16_t h = 0; h < e.iHarmonicsloaded; ++h)
            if (!configure(h, p.getep(h), p.getli(h), p.getri(h), p.getui(h))) return false;
        if (e.bHybrid) {
            if (!configure(e.hdimmax, p.getep(e.hdimmax), p.getli(e.hdimmax),
                           p.getri(e.hdimmax), p.getui(e.hdimmax)))
                return false;
        } else if (e.iSmooth >= 0) {
            if (!configure(e.hdimmax, p.getep(0), p.getls(), p.getrs(), p.getus())) return false;
        }
        e.blockdim = largestStep;
        e.adjml();
        e.hdimused = std::min(e.iProgramharmonics, e.iHdim);
        e.adjot();
        e.setpo(offset);
        e.iDrydelay = offset;
        e.bFeedbackon = p.hasfb();
        e.bDryon = p.hasdr();
        e.dLookaheadbase = std::min(p.getab(), static_cast<double>(e.iLookaheadroom));
        e.dLookaheadvalue = p.getaf();
        e.iLookaheadoffset = static_cast<int32_t>(std::clamp(e.dLookaheadvalue * e.dLookaheadbase, 0.0,
                                                             static_cast<double>(e.iLookaheadroom)));
        e.adjrt(p.getpr() > 0 ? p.getpr() : e.iProgramrate);
        if (!e.bHybrid && e.iSmooth >= 0) {
            e.mkesf(e.iNormalperiod);
            e.bSecondkernels = true;
        }
        e.adjhc();
        e.bProgramready = true;
        return true;
    }
};
