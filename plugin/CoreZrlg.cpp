#include "plugin/CoreZrlg.h"

#include "base/CoreButl.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "base/CoreSgrd.h"
#include "display/CoreDsif.h"
#include "display/CoreDsmn.h"
#include "plugin/CoreCtrl.h"
#include "plugin/CoreMstr.h"
#include "plugin/CoreSkin.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cxxabi.h>
#include <limits>

namespace {

constexpr int32_t bankCount = 100;    // CoreMmry::iCbanks
constexpr int32_t programsInBank = 100; // CoreMmry::iCbankdim

CorePrcs::BEANSTRUCT at(int32_t index) {
    CorePrcs::BEANSTRUCT bean{};
    bean.index = index;
    return bean;
}

// The unique id: the four characters packed big-endian, missing ones as zero bytes.
int32_t packedId(const char* text) {
    uint32_t id = 0;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<uint8_t>(text[0] ? *text++ : 0);
        id = id << 8 | c;
    }
    return static_cast<int32_t>(id);
}

// Releases the control lock that setdu(true) took, also when the restore throws.
struct ControlHold {
    explicit ControlHold(CoreCtrl* control) : pControl(control) { pControl->setdu(true); }
    ~ControlHold() { pControl->setdu(false); }
    ControlHold(const ControlHold&) = delete;
    ControlHold& operator=(const ControlHold&) = delete;
    CoreCtrl* pControl;
};

} // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new CoreZrlg(audioMaster);
}

CoreZrlg::CoreZrlg(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, 1, iCparameters) {
    copen();
}

CoreZrlg::~CoreZrlg() {
    cOpenlock.locks();
    if (bOpen) {
        bOpen = false;
        cclse();
    }
    cOpenlock.relse();
}

// Without the sanitizer's null check: a thread exit's handler gets no object (see CoreTthr::ptsta).
[[gnu::no_sanitize("null")]] void CoreZrlg::copen() {
    CoreLog_::debug("CoreZrlg open starts", 0, 7);
    try {
        updateSampleRate();
        pMaster = new CoreMstr(CoreAnsx("0"), static_cast<int32_t>(getSampleRate()), CoreAnsx("0"), nullptr, this);
        sInstancename = pMaster->getcn();
        bError = pMaster->geter();
        if (!bError) {
            {
                CoreSgrd hold(cDisplaydatalock);
                pMaster->getds()->newdd(&oDisplaydata);
            }
            pMaster->getds()->setpd(&oMenucontents);
            pProcessor = pMaster->getpr();
            pQueue = pMaster->getdp();
            pControl = new CoreCtrl(this, pMaster);
            // The editor has taken its bitmaps by now; the skin's store is no longer needed.
            pMaster->getsk()->clsfs();
            CorePrcs::BEANSTRUCT none{};
            iInitialdelay = static_cast<int32_t>(
                std::clamp<int64_t>(static_cast<int64_t>(pProcessor->getbl(49, &none)), 0, INT32_MAX));
            setInitialDelay(iInitialdelay);
            const bool legacyStereo = pProcessor->getbb(256, &none);
            setNumInputs(legacyStereo ? 2 : 4);
            setNumOutputs(2);
            CoreAnsx magic = pProcessor->getbs(77, &none);
            if (magic == CoreAnsx("0") || magic == CoreAnsx("")) magic = CoreLog_::sCmagicnum;
            setUniqueID(packedId(magic.c_str()));
            canMono(true);
            canDoubleReplacing(true);
            noTail(false);
            canProcessReplacing(true);
            programsAreChunks(true);
            curProgram = 0;
            resume();
            updateSampleRate();
            pProcessor->setbi(78, static_cast<int32_t>(getSampleRate()), &none);
            zeroMirrors();
        }
    } catch (abi::__forced_unwind&) {
        // The host ended this thread in a callback. A half-built effect gets no destructor, so its
        // control thread and engine go now; the unwinding must go on.
        cclse();
        throw;
    } catch (const CoreAnsx& failure) {
        CoreLog_::loger(failure, 1);
        failedStart();
    } catch (...) {
        failedStart();
    }
    CoreLog_::debug("CoreZrlg open ends", 0, 7);
}

// An instance whose start failed holds no thread, engine or shared reference.
void CoreZrlg::failedStart() {
    bError = true;
    CoreLog_::loger("Fatal error", 1);
    cclse();
    iInitialdelay = 0;
    setInitialDelay(0);
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(packedId("XXXX"));
    canMono(true);
    canDoubleReplacing(true);
    noTail(false);
    canProcessReplacing(true);
    programsAreChunks(true);
}

void CoreZrlg::cclse() {
    CoreLog_::debug("CoreZrlg close starts", 0, 7);
    delete pControl; // the control thread stops before the engine goes
    pControl = nullptr;
    {
        CoreSgrd hold(cDisplaydatalock);
        if (oDisplaydata.total > 0) CoreDsif::deldd(&oDisplaydata);
    }
    CoreDsmn::delte(&oMenucontents); // frees the entries, if the menus made any
    delete pMaster;
    pMaster = nullptr;
    pProcessor = nullptr;
    pQueue = nullptr;
    CoreLog_::debug("CoreZrlg close ends", 0, 7);
}

void CoreZrlg::open() {
    cOpenlock.locks();
    bOpen = true;
    cOpenlock.relse();
}

void CoreZrlg::close() {
    cOpenlock.locks();
    if (bOpen) {
        bOpen = false;
        try {
            cclse();
        } catch (...) {
            cOpenlock.relse();
            throw;
        }
    }
    cOpenlock.relse();
}

void CoreZrlg::entryFailed(const char* entry, const char* reason) {
    CoreLog_::loger(CoreAnsx("CoreZrlg ") + CoreAnsx(entry) + CoreAnsx(": ") + CoreAnsx(reason), 1);
}

void CoreZrlg::suspend() {
    if (bError || !pProcessor) return;
    CorePrcs::BEANSTRUCT none{};
    pProcessor->setbv(80, &none);
}

void CoreZrlg::resume() {
    wantEvents(1);
    setInitialDelay(iInitialdelay);
}

void CoreZrlg::setSampleRate(float rate) {
    AudioEffectX::setSampleRate(rate);
    if (bError || !pProcessor) return;
    // The engine takes the rate now, not at the control thread's next poll: a host that resumes at
    // once would otherwise play its first blocks at the old rate.
    CorePrcs::BEANSTRUCT none{};
    pProcessor->setbi(78, static_cast<int32_t>(rate), &none);
}

void CoreZrlg::setBlockSize(int32_t size) {
    AudioEffectX::setBlockSize(size);
    if (bError || !pProcessor || size < 1) return;
    CorePrcs::BEANSTRUCT none{};
    pProcessor->setbi(84, size, &none);
}

double CoreZrlg::gettm() {
    const VstTimeInfo* info = getTimeInfo(kVstTempoValid);
    if (!info) return 0.0;
    const double tempo = info->tempo;
    return std::isfinite(tempo) && tempo > 0.0 ? tempo : 0.0;
}

template <class Sample>
void CoreZrlg::road(Sample** inputs, Sample** outputs, int32_t frames, bool replacing) {
    const int16_t channels = pControl->isqrn() && getAeffect()->numInputs == 4 ? 4 : 2;
    const double tempo = gettm();
    const auto level = static_cast<int16_t>(getCurrentProcessLevel());
    pProcessor->prcss(reinterpret_cast<void**>(inputs), reinterpret_cast<void**>(outputs), frames, replacing,
                      level, tempo, sizeof(Sample) == sizeof(double), channels);
}

void CoreZrlg::process(float** inputs, float** outputs, int32_t frames) {
    if (bError || !pProcessor) return;
    road(inputs, outputs, frames, false);
}

void CoreZrlg::processReplacing(float** inputs, float** outputs, int32_t frames) {
    if (bError || !pProcessor) {
        for (int32_t channel = 0; channel < getAeffect()->numOutputs; ++channel)
            std::fill(outputs[channel], outputs[channel] + frames, 0.0f);
        return;
    }
    road(inputs, outputs, frames, true);
}

void CoreZrlg::processDoubleReplacing(double** inputs, double** outputs, int32_t frames) {
    if (bError || !pProcessor) {
        for (int32_t channel = 0; channel < getAeffect()->numOutputs; ++channel)
            std::fill(outputs[channel], outputs[channel] + frames, 0.0);
        return;
    }
    road(inputs, outputs, frames, true);
}

void CoreZrlg::setParameter(int32_t index, float value) {
    if (bError || !pProcessor) return;
    CorePrcs::BEANSTRUCT bean = at(index);
    pProcessor->setbd(156, value, &bean);
}

float CoreZrlg::getParameter(int32_t index) {
    if (bError || !pProcessor) return 0.0f;
    CorePrcs::BEANSTRUCT bean = at(index);
    return static_cast<float>(pProcessor->getbd(156, &bean));
}

bool CoreZrlg::textBean(int32_t id, int32_t index, std::string& text) {
    if (bError || !pProcessor) return false;
    CorePrcs::BEANSTRUCT bean = at(index);
    text = pProcessor->getbs(id, &bean).c_str();
    return true;
}

bool CoreZrlg::getParameterName(int32_t index, std::string& text) {
    return textBean(229, index, text);
}

bool CoreZrlg::getParameterDisplay(int32_t index, std::string& text) {
    return textBean(230, index, text);
}

bool CoreZrlg::getParameterLabel(int32_t index, std::string& text) {
    return textBean(231, index, text);
}

bool CoreZrlg::getProgramName(std::string& text) {
    text = CoreLog_::sCproductn;
    return true;
}

bool CoreZrlg::getProgramNameIndexed(int32_t, int32_t index, std::string& text) {
    if (index > 0) return false;
    text = CoreLog_::sCproductn;
    return true;
}

int32_t CoreZrlg::getChunk(void** data) {
    if (bError || !pProcessor) {
        if (oKeptchunk.empty()) return 0;
        *data = oKeptchunk.data();
        return static_cast<int32_t>(oKeptchunk.size());
    }
    try {
        return pProcessor->getck(data);
    } catch (const CoreAnsx& failure) {
        CoreLog_::loger(CoreAnsx("CoreZrlg getChunk: ") + failure, 1);
        return 0;
    }
}

int32_t CoreZrlg::setChunk(void* data, int32_t size) {
    if (bError || !pProcessor) {
        // kept, so that a project saved while the plug-in cannot start keeps its state
        const auto* bytes = static_cast<const uint8_t*>(data);
        oKeptchunk.assign(bytes, bytes + size);
        return 0;
    }
    try {
        updateSampleRate();
        bool restored = false;
        {
            ControlHold hold(pControl);
            CorePrcs::BEANSTRUCT none{};
            pProcessor->setbi(78, static_cast<int32_t>(getSampleRate()), &none);
            restored = pProcessor->setck(data, size);
        }
        pControl->setdp();
        CorePrcs::BEANSTRUCT none{};
        return restored && !pProcessor->getbb(46, &none) ? 1 : 0;
    } catch (const CoreAnsx& failure) {
        CoreLog_::loger(CoreAnsx("CoreZrlg setChunk: ") + failure, 1);
        return 0;
    }
}

CoreZrlg::MIDIROUTE CoreZrlg::route(uint8_t status, uint8_t data1, uint8_t data2, int32_t bank) {
    const int32_t s = status, d1 = data1 & 0x7F, d2 = data2 & 0x7F;
    const int32_t kind = s & 0xF0;
    MIDIROUTE result;
    const int32_t packed = (s & 0x0F) | ((s & 0xF0) << 8) | (d1 << 16) | (d2 << 24);
    if (kind == 0x90 || (kind == 0xB0 && d1 != 32)) {
        result.kind = MIDIROUTE::engine;
        result.value = packed;
    } else if (kind == 0xB0) {
        result.kind = MIDIROUTE::bank;
        result.value = d2 >= bankCount ? 0 : d2;
    } else if (kind == 0xC0) {
        result.kind = MIDIROUTE::program;
        result.value = std::clamp(bank, 0, bankCount - 1) * programsInBank + d1 % programsInBank;
    }
    return result;
}

void CoreZrlg::processMidiEvent(const VstMidiEvent& event) {
    if (bError || !pProcessor) return;
    const MIDIROUTE decided = route(static_cast<uint8_t>(event.midiData[0]), static_cast<uint8_t>(event.midiData[1]),
                                    static_cast<uint8_t>(event.midiData[2]), iMidibank);
    switch (decided.kind) {
    case MIDIROUTE::engine: {
        CorePrcs::BEANSTRUCT bean = at(event.deltaFrames);
        pProcessor->setbi(186, decided.value, &bean);
        break;
    }
    case MIDIROUTE::bank:
        iMidibank = decided.value;
        break;
    case MIDIROUTE::program:
        pControl->setdl(decided.value);
        break;
    case MIDIROUTE::ignored:
        break;
    }
}

bool CoreZrlg::setSpeakerArrangement(const VstSpeakerArrangement* input, const VstSpeakerArrangement*) {
    const int32_t type = input->type;
    const bool fourChannels = type == kSpeakerArr40Music;
    if (!bError && pProcessor) {
        CorePrcs::BEANSTRUCT none{};
        pProcessor->setbb(254, fourChannels, &none);
    }
    return type == kSpeakerArrMono || type == kSpeakerArrStereo;
}

bool CoreZrlg::getEffectName(std::string& text) {
    CoreAnsx name = sInstancename;
    if (name == CoreAnsx("")) {
        CoreAnsx folder;
        name = CoreHutl::appnm(nullptr, folder);
    }
    text = CoreButl::setfx(name, CoreAnsx("")).c_str();
    return true;
}

bool CoreZrlg::getProductString(std::string& text) {
    return getEffectName(text);
}

bool CoreZrlg::getVendorString(std::string& text) {
    text = CoreLog_::sCvendor_n;
    return true;
}

int32_t CoreZrlg::canDo(std::string_view text) {
    return text == "receiveVstEvents" || text == "receiveVstMidiEvent" ? 1 : -1;
}

int32_t CoreZrlg::getGetTailSize() {
    if (bError || !pProcessor) return 0;
    CorePrcs::BEANSTRUCT none{};
    return static_cast<int32_t>(
        std::clamp<int64_t>(static_cast<int64_t>(pProcessor->getbl(61, &none)), 0, INT32_MAX));
}

// Engine-side control changes reach the host once per tick with the latest value.
void CoreZrlg::fixpr() {
    if (bError || !pProcessor) return;
    for (int32_t i = 0; i < iCparameters; ++i) {
        CorePrcs::BEANSTRUCT bean = at(i);
        if (pProcessor->getbb(154, &bean)) continue;
        const double value = pProcessor->getbd(155, &bean);
        const double last = pProcessor->getbd(235, &bean);
        if (value == last) continue; // NaN on either side counts as a change
        setParameterAutomated(i, static_cast<float>(value));
        pProcessor->setbd(235, value, &bean);
    }
}
