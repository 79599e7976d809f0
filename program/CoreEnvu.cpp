#include "program/CoreEnvu.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreLutl.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "base/RandomGenerator.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreHdco.h"
#include "filestore/CoreRcsv.h"
#include "filestore/CoreWave.h"
#include "filestore/CoreWavs.h"
#include "filestore/CoreWvfr.h"
#include "filestore/CoreWvfw.h"
#include "program/DataXml_.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();

// Seconds as whole microseconds (truncated); -1 for a value that is not a finite number or does not fit.
int64_t microseconds(double seconds) {
    const double us = std::trunc(seconds * CoreButl::dCu);
    if (!std::isfinite(us) || us > 9.0e15 || us < -9.0e15) return -1;
    return static_cast<int64_t>(us);
}

// Samples in a duration, truncated; -1 when it does not fit 32 bits.
int64_t samples(int32_t rate, int64_t us) {
    const double n = std::trunc(CoreButl::tpfud(rate, us));
    return n >= 0.0 && n <= static_cast<double>(kMaxFrames) ? static_cast<int64_t>(n) : -1;
}

double levelOf(double magnitude) {
    return magnitude > 0.0 ? CoreButl::max__(CoreButl::dCdbmin, 20.0 * std::log10(magnitude))
                           : CoreButl::dCdbmin;
}

CoreAnsx label(double levelDb) {
    CoreAnsx text;
    text.sprintf(CoreEnvu::sCwriteformat, levelDb);
    return text;
}

CoreAnsx withExtension(const CoreAnsx& path, const char* extension) {
    return CoreButl::getpt(path) + CoreButl::getfn(path, true) + CoreAnsx(extension);
}

// Why a measurement cannot run, or empty when its arguments hold.
CoreAnsx invalidMeasurement(int32_t rate, int32_t windowUs, double toneSeconds, double secondSeconds,
                            double silenceSeconds, bool withSecond) {
    if (rate <= 0) return "rate is not positive";
    if (windowUs <= 0) return "window is not positive";
    const int64_t toneUs = microseconds(toneSeconds);
    if (toneUs <= 0) return "tone length is not positive";
    if (microseconds(silenceSeconds) < 0) return "silence is negative";
    if (withSecond && microseconds(secondSeconds) < 0) return "second tone is negative";
    if (CoreButl::tpfud(rate, windowUs) < 1.0) return "window is shorter than one sample";
    if (toneUs / windowUs < 10) return "tone is shorter than 10 windows";
    return "";
}

} // namespace

CoreEnvu::CoreEnvu(CorePool* pool, CoreFsys* files)
    : iLength(0), bLoaded(false), pPool(pool), pResponse(nullptr), pFiles(files) {}

CoreEnvu::~CoreEnvu() {
    close();
    delete pResponse;
    pResponse = nullptr;
    pPool = nullptr;
    pFiles = nullptr;
}

void CoreEnvu::close() {
    delete pResponse;
    pResponse = nullptr;
    iLength = 0;
    bLoaded = false;
}

int32_t CoreEnvu::open_(CoreAnsx path) {
    close();
    if (pPool == nullptr || pFiles == nullptr) return 0;
    int32_t n = 0;
    try {
        n = CoreButl::getfx(path) == CoreAnsx(CoreButl::sCextcsv) ? loadCsv(path) : loadWave(path);
    } catch (...) {
        // The readers report bad files by throwing; a raw vector without a response is the result.
        n = 0;
    }
    if (n <= 0) {
        close();
        CoreLog_::logfl(path + ": no response loaded", 1);
        return 0;
    }
    iLength = n;
    bLoaded = true;
    return n;
}

int32_t CoreEnvu::loadCsv(const CoreAnsx& path) {
    CoreRcsv csv(pPool, pFiles);
    if (!csv.open_(path)) return 0;
    const int32_t n = csv.getdr();
    if (n <= 0) return 0;
    pResponse = new CoreWave(pPool, n, 1);
    return csv.getdt(pResponse->getwv(0), false);
}

int32_t CoreEnvu::loadWave(const CoreAnsx& path) {
    CoreWvfr reader(pPool, pFiles, true);
    reader.open_(path);
    const int32_t n = reader.getdr(true);
    if (n <= 0) return 0;
    pResponse = new CoreWave(pPool, n, 1);
    // Responses have always been read with both file channels directed into the one array, so the
    // second channel of a stereo file is what stays; reading it into its own buffer and copying keeps
    // that result without two writers on one array.
    CoreWave right(pPool, reader.getca() >= 2 ? n : 0, 1);
    double* channel = pResponse->getwv(0);
    const int32_t got = reader.getdt(n, channel, reader.getca() >= 2 ? right.getwv(0) : nullptr);
    if (reader.getca() >= 2) std::memcpy(channel, right.getwv(0), sizeof(double) * static_cast<size_t>(got));
    reader.close();
    return got;
}

void CoreEnvu::tstrt(const double* samples, int32_t n, int32_t& start) {
    int32_t i = start < 0 ? 0 : start;
    if (samples == nullptr || i >= n) {
        start = n < 0 ? 0 : n;
        return;
    }
    double floor = CoreButl::dCnoisefloorsynchronization;
    for (; i < n; ++i) {
        const double level = levelOf(samples[i]); // a negative sample counts as silence
        const double clipped = CoreButl::max__(level, CoreButl::dCnoisefloorsynchronization);
        floor = CoreButl::min__(floor, clipped);
        if (clipped - floor > CoreButl::dCrangesynchronization &&
            level > CoreButl::dCnoisefloorsynchronization)
            break;
    }
    start = i;
}

void CoreEnvu::ctone(CorePool*, int type, int32_t periodMicroseconds, int32_t rate, double* buffer,
                     int32_t& position, int32_t end, double& amplitude) {
    if (type < 0 || type >= iCtonetypes) throw CoreAnsx("Test tone: unknown tone type ") + CoreAnsx(type);
    if (periodMicroseconds <= 0 || rate <= 0)
        throw CoreAnsx("Test tone: the period and the rate must be positive");
    if (position < 0 || end < position) throw CoreAnsx("Test tone: invalid segment");
    if (buffer == nullptr) throw CoreAnsx("Test tone: no buffer");
    const int32_t n = end - position;
    double* out = buffer + position;
    if (type == 1) {
        // Seeded by the segment's start: one recording's segments differ, and the same arguments
        // give the same recording.
        RandomGenerator noise(static_cast<uint64_t>(position));
        CoreButl::whtns(out, n, amplitude, noise);
    } else {
        const double half = CoreButl::tpfud(rate, periodMicroseconds) / 2.0;
        for (int32_t k = 0; k < n; ++k) {
            const double s = std::sin(k * CoreButl::dCpi / half);
            if (type == 2)
                out[k] = amplitude * s;
            else
                out[k] = s > 0.0 ? amplitude : (s < 0.0 ? -amplitude : 0.0);
        }
    }
    position = end;
}

void CoreEnvu::ctone(CoreAnsx name, int type, int32_t rate, bool withSecond, int32_t periodMicroseconds,
                     double toneSeconds, double secondSeconds, double silenceSeconds, int32_t count,
                     double stepDb, double startDb) {
    if (pPool == nullptr || pFiles == nullptr) throw CoreAnsx("Test tone: no pool or file store");
    if (type < 0 || type >= iCtonetypes) throw CoreAnsx("Test tone: unknown tone type ") + CoreAnsx(type);
    if (rate <= 0 || periodMicroseconds <= 0 || count <= 0)
        throw CoreAnsx("Test tone: the rate, the period and the count must be positive");
    if (!std::isfinite(stepDb) || !std::isfinite(startDb))
        throw CoreAnsx("Test tone: levels must be numbers");
    const int64_t lead = samples(rate, microseconds(silenceSeconds));
    const int64_t tone = samples(rate, microseconds(toneSeconds));
    const int64_t second = withSecond ? samples(rate, microseconds(secondSeconds)) : 0;
    if (microseconds(silenceSeconds) < 0 || lead < 0)
        throw CoreAnsx("Test tone: the silence must not be negative");
    if (microseconds(toneSeconds) <= 0 || tone < 1)
        throw CoreAnsx("Test tone: the tone must last one sample or more");
    if ((withSecond && microseconds(secondSeconds) < 0) || second < 0)
        throw CoreAnsx("Test tone: the second tone must not be negative");
    const int64_t block = 2 * lead + tone + second;
    if (block * count > kMaxFrames) throw CoreAnsx("Test tone: more than 2^31 - 1 frames");
    const int32_t total = static_cast<int32_t>(block * count);

    const CoreAnsx path = pFiles->getdt() + name;
    CoreWave wave(pPool, total, 2);
    double* left = wave.getwv(0);
    for (int32_t i = 0; i < count; ++i) {
        double amplitude = std::pow(10.0, (startDb - i * stepDb) / 20.0);
        int32_t position = static_cast<int32_t>(i * block + lead);
        ctone(pPool, type, periodMicroseconds, rate, left, position, static_cast<int32_t>(position + tone),
              amplitude);
        if (withSecond) {
            double quieter = amplitude * 0.1;
            ctone(pPool, type, periodMicroseconds, rate, left, position,
                  static_cast<int32_t>(position + second), quieter);
        }
    }
    if (!CoreWvfw::exprt(pPool, path, 2, rate, total, left, left, false)) {
        CoreLog_::logfl(path + ": test tone not written", 1);
        throw CoreAnsx("Test tone not written: ") + path;
    }
}

void CoreEnvu::build(CoreAnsx recording, CoreAnsx output, bool withSecond, int32_t windowMicroseconds,
                     double toneSeconds, double secondSeconds, double silenceSeconds, double stepDb,
                     double startDb, bool flag, CoreAnsx templateText, CoreHdco* container, CoreAnsx& report,
                     bool sixtyFourBit, bool noOutput) {
    if (pPool == nullptr || pFiles == nullptr) return;
    CoreWvfr reader(pPool, pFiles, false);
    reader.open_(recording);
    const int32_t rate = reader.getrt();
    const int32_t frames = reader.getdr(true);
    const CoreAnsx invalid =
        invalidMeasurement(rate, windowMicroseconds, toneSeconds, secondSeconds, silenceSeconds, withSecond);
    const int64_t blockUs =
        microseconds(2.0 * silenceSeconds + toneSeconds + (withSecond ? secondSeconds : 0.0));
    const int64_t block = samples(rate, blockUs);
    if (invalid.Length() > 0 || block < 1 || !std::isfinite(stepDb) || !std::isfinite(startDb)) {
        CoreLog_::logfl(
            recording + ": no responses built, " + (invalid.Length() > 0 ? invalid : "invalid block"), 1);
        reader.close();
        return;
    }
    const double lead = CoreButl::tpfud(rate, microseconds(silenceSeconds));
    const int64_t levels = static_cast<int64_t>(std::floor((frames + lead) / static_cast<double>(block)));
    CoreWave work(pPool, static_cast<int32_t>(block), 2);
    const bool stereo = reader.getca() >= 2;

    const CoreAnsx folder = pFiles->getdt() + CoreButl::getfn(output, true) + "/";
    CoreLutl::crtpt(folder);
    CoreButl::pcdrp(folder);

    CoreXml_ document;
    document.setrt(new CoreNode(CoreAnsx(CoreXml_::sCroot)));
    CoreNode* vector = new CoreNode(DataXml_::sCtagvector);
    document.getrt()->addcd(vector);
    for (int64_t i = 0; i < levels; ++i) {
        work.reset();
        double* left = work.getwv(0);
        double* right = work.getwv(1);
        const int32_t got = reader.getdt(static_cast<int32_t>(block), left, stereo ? right : nullptr);
        if (got < 1) break;
        // A one-channel recording is measured at its own level.
        if (stereo)
            for (int32_t k = 0; k < block; ++k) left[k] = (left[k] + right[k]) * 0.5;
        const double levelDb = startDb - static_cast<double>(i) * stepDb;
        const CoreAnsx text = label(levelDb);
        const CoreAnsx fileName = CoreButl::rnfle(output, CoreAnsx(" ") + text, true);
        const double time = build(left, static_cast<int32_t>(block), rate, folder + fileName, withSecond,
                                  windowMicroseconds, toneSeconds, secondSeconds, silenceSeconds, flag,
                                  container, sixtyFourBit, noOutput, static_cast<int32_t>(i));
        if (!(time > 0.0)) continue;
        CoreAnsx seconds;
        seconds.sprintf("%.6f", time);
        report += CoreAnsx("Value ") + text + " = " + seconds + " s\n";
        const CoreAnsx weight(levelDb + CoreButl::dCsinermsadjustment);
        CoreNode* element = new CoreNode(DataXml_::sCtagelemnt);
        const CoreAnsx values[3] = {fileName, weight, weight};
        const CoreAnsx tags[3] = {DataXml_::sCtagfilenm, DataXml_::sCtagweight, DataXml_::sCtagbuswgt};
        for (int k = 0; k < 3; ++k) {
            CoreNode* entry = new CoreNode(tags[k]);
            entry->addcd(new CoreNode(values[k]));
            element->addcd(entry);
        }
        vector->addcd(element);
    }
    reader.close();
    if (levels >= 2) {
        CoreNode* common = new CoreNode(DataXml_::sCtagcommon);
        const CoreAnsx top(CoreButl::dCsinermsadjustment);
        const CoreAnsx bottom(CoreButl::dCdbmin);
        const CoreAnsx tags[4] = {DataXml_::sCtagmxvalu, DataXml_::sCtagmnvalu, DataXml_::sCtagmxbusv,
                                  DataXml_::sCtagmnbusv};
        const CoreAnsx values[4] = {top, bottom, top, bottom};
        for (int k = 0; k < 4; ++k) {
            CoreNode* entry = new CoreNode(tags[k]);
            entry->addcd(new CoreNode(values[k]));
            common->addcd(entry);
        }
        vector->addcd(common);
    }
    CoreXml_ templateDocument;
    CoreNode* templateRoot = nullptr;
    try {
        templateRoot = templateDocument.getfc(templateText);
    } catch (const CoreAnsx&) {
        CoreLog_::logfl(output + ": the vector template is not readable XML, not applied", 1);
        templateRoot = nullptr;
    }
    if (templateRoot != nullptr) CoreNode::templ(templateRoot, document.getrt());
    const CoreAnsx vectorFile =
        CoreButl::wcase(folder + CoreButl::getfn(output, true) + CoreAnsx(CoreButl::sCextxml));
    if (!document.settf(vectorFile, true, false, false)) CoreLog_::logfl(vectorFile + ": not written", 1);
}

double CoreEnvu::build(const double* samplesIn, int32_t n, int32_t rate, CoreAnsx name, bool withSecond,
                       int32_t windowMicroseconds, double toneSeconds, double secondSeconds,
                       double silenceSeconds, bool, CoreHdco* container, bool sixtyFourBit, bool noOutput,
                       int32_t index) {
    const CoreAnsx invalid =
        invalidMeasurement(rate, windowMicroseconds, toneSeconds, secondSeconds, silenceSeconds, withSecond);
    if (invalid.Length() > 0 || samplesIn == nullptr || n < 1 || pPool == nullptr) {
        CoreLog_::logfl(name + ": level " + CoreAnsx(index) + " not measured, " +
                            (invalid.Length() > 0 ? invalid : CoreAnsx("no samples")),
                        1);
        return 0.0;
    }
    const int64_t skip = samples(rate, microseconds(silenceSeconds));
    if (skip < 0 || skip >= n) return 0.0;
    const int32_t length = static_cast<int32_t>(n - skip);
    const double w = CoreButl::tpfud(rate, windowMicroseconds);
    const int64_t windows = static_cast<int64_t>(std::ceil(length / w));
    if (windows < 1 || windows > kMaxFrames) return 0.0;

    // Window j holds the samples i with floor(i / w) == j; only windows that end 2w or more before the end
    // of the block are measured (the rest keep a peak of 0).
    CoreWave table(pPool, static_cast<int32_t>(windows), 2);
    double* peak = table.getwv(0);
    double* level = table.getwv(1);
    const double* copied = samplesIn + skip;
    for (int64_t j = 0; j < windows; ++j) {
        if ((j + 1) * w > length - 2.0 * w) break;
        const int64_t from = static_cast<int64_t>(std::ceil(j * w));
        const int64_t to = static_cast<int64_t>(std::ceil((j + 1) * w));
        double largest = 0.0;
        for (int64_t i = from; i < to && i < length; ++i)
            largest = CoreButl::max__(largest, std::fabs(copied[i]));
        peak[j] = largest;
    }
    for (int64_t j = 0; j < windows; ++j) level[j] = levelOf(peak[j]);

    int32_t start = 0;
    {
        double floor = CoreButl::dCnoisefloorsynchronization;
        for (; start < windows; ++start) {
            const double clipped = CoreButl::max__(level[start], CoreButl::dCnoisefloorsynchronization);
            floor = CoreButl::min__(floor, clipped);
            if (clipped - floor > CoreButl::dCrangesynchronization &&
                level[start] > CoreButl::dCnoisefloorsynchronization)
                break;
        }
    }

    const int64_t toneWindows = microseconds(toneSeconds) / windowMicroseconds;
    int64_t low = 0, reference = 0;
    if (!withSecond) {
        low = start + 1;
        reference = toneWindows - 10;
    } else {
        low = toneWindows + start + 1;
        reference = microseconds(toneSeconds + secondSeconds) / windowMicroseconds - 10;
    }
    // The reference window must lie in the block and behind the low bound.
    if (reference >= windows || low >= reference) {
        CoreLog_::logfl(
            name + ": level " + CoreAnsx(index) + " not measured, the tone does not fit the block", 1);
        return 0.0;
    }
    const double threshold = level[reference] + (withSecond ? -1.5 : 1.5);
    int64_t k = reference;
    for (; k > low; --k)
        if (withSecond ? level[k] < threshold : level[k] > threshold) break;
    double settled = 0.0;
    if (k < reference) {
        for (int64_t j = k; j < reference; ++j) settled += level[j];
        settled /= static_cast<double>(reference - k);
    }
    if (!withSecond) {
        double highest = settled;
        for (int64_t j = low; j < reference; ++j) highest = CoreButl::max__(highest, level[j]);
        settled += 0.01 * (highest - settled);
        while (k < reference && !(level[k] < settled)) ++k;
    } else {
        while (k < reference && !(level[k] > settled)) ++k;
    }

    double time = 0.001;
    if (k < reference) {
        const double a = level[low];
        const double b = level[k];
        int64_t j1 = low;
        if (b <= a) {
            while (j1 < k && !(level[j1] < b + 0.9 * (a - b))) ++j1;
            int64_t j2 = j1;
            while (j2 < k && !(level[j2] < b + 0.1 * (a - b))) ++j2;
            time = static_cast<double>(j2 - j1) * windowMicroseconds * 1e-6;
        } else {
            while (j1 < k && !(level[j1] > a + 0.1 * (b - a))) ++j1;
            int64_t j2 = j1;
            while (j2 < k && !(level[j2] > a + 0.9 * (b - a))) ++j2;
            time = static_cast<double>(j2 - j1) * windowMicroseconds * 1e-6;
        }
        if (time < 0.0) return 0.0;
        if (time == 0.0) time = 0.001;
    }

    // The settling curve: L window peaks from the low bound (as many as there are), mapped so that the
    // loudest is 0 and the quietest 1; all 0 when they are equal.
    int64_t curveLength = static_cast<int64_t>(std::floor(time * 1e6 / windowMicroseconds));
    if (curveLength > windows - low) curveLength = windows - low;
    if (curveLength < 0) curveLength = 0;
    CoreWave values(pPool, static_cast<int32_t>(curveLength + 1), 1);
    double* out = values.getwv(0);
    out[0] = time;
    double mx = 0.0, mn = 1.0;
    for (int64_t j = 0; j < curveLength; ++j) {
        mx = CoreButl::max__(mx, peak[low + j]);
        mn = CoreButl::min__(mn, peak[low + j]);
    }
    for (int64_t j = 0; j < curveLength; ++j)
        out[1 + j] = mx == mn ? 0.0 : 1.0 - (peak[low + j] - mn) / (mx - mn);

    if (!noOutput &&
        !writeOutputs(name, out, static_cast<int32_t>(curveLength + 1), rate, container, sixtyFourBit))
        return 0.0;
    return time;
}

bool CoreEnvu::writeOutputs(const CoreAnsx& name, const double* values, int32_t count, int32_t rate,
                            CoreHdco* container, bool sixtyFourBit) {
    const CoreAnsx csv = CoreRcsv::crtcn(values, 1);
    CoreWavs wave(pPool, 1, rate, count, sixtyFourBit);
    wave.setdt(count, values, nullptr);
    const int64_t bytes = wave.getmd();
    if (bytes > std::numeric_limits<int32_t>::max()) return false;
    const CoreAnsx waveName = withExtension(name, CoreButl::sCextq7k);
    bool written = false;
    if (container != nullptr) {
        // The container takes bytes, and the wave keeps its image to itself: copy it out.
        char* image = static_cast<char*>(pPool->mallc(4, static_cast<int>(bytes), "ENVU"));
        try {
            wave.wrtmm(image);
            written = container->addit(name, csv.Length(), csv.c_str()) &&
                      container->addit(waveName, static_cast<int32_t>(bytes), image);
        } catch (...) {
            pPool->free_(image); // a container that fails part way must not keep the copy
            throw;
        }
        pPool->free_(image);
    } else {
        written = CoreFsys::wrfle(name, csv.c_str(), csv.Length()) && wave.write(waveName);
    }
    if (!written) CoreLog_::logfl(name + ": measurement not written", 1);
    return written;
}
