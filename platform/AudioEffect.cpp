#include "platform/AudioEffect.h"

#include "platform/AEffEditor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <limits>
#include <type_traits>

AudioEffect::AudioEffect(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams)
    : audioMaster(audioMaster) {
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = &dispatchEntry;
    cEffect.process = &processEntry;
    cEffect.setParameter = &setParameterEntry;
    cEffect.getParameter = &getParameterEntry;
    cEffect.processReplacing = &processReplacingEntry;
    cEffect.processDoubleReplacing = &processDoubleReplacingEntry;
    cEffect.numPrograms = std::max(numPrograms, 0);
    cEffect.numParams = std::max(numParams, 0);
    cEffect.numInputs = 2;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.object = this;
    cEffect.version = 1;
    sizeStandIns();
}

AudioEffect::~AudioEffect() = default;

void AudioEffect::setNumInputs(int32_t inputs) {
    cEffect.numInputs = std::max(inputs, 0);
    sizeStandIns();
}

void AudioEffect::setNumOutputs(int32_t outputs) {
    cEffect.numOutputs = std::max(outputs, 0);
    sizeStandIns();
}

void AudioEffect::setUniqueID(int32_t id) {
    cEffect.uniqueID = id;
}

void AudioEffect::setInitialDelay(int32_t frames) {
    cEffect.initialDelay = std::max(frames, 0);
}

void AudioEffect::canProcessReplacing(bool state) {
    setFlag(effFlagsCanReplacing, state);
}

void AudioEffect::canDoubleReplacing(bool state) {
    setFlag(effFlagsCanDoubleReplacing, state);
}

void AudioEffect::programsAreChunks(bool state) {
    setFlag(effFlagsProgramChunks, state);
}

void AudioEffect::setEditor(AEffEditor* editor) {
    std::lock_guard<std::recursive_mutex> hold(mEditor);
    pEditor = editor;
    setFlag(effFlagsHasEditor, editor != nullptr);
}

void AudioEffect::setFlag(int32_t flag, bool state) {
    cEffect.flags = state ? (cEffect.flags | flag) : (cEffect.flags & ~flag);
}

void AudioEffect::setParameterAutomated(int32_t index, float value) {
    if (!isParameter(index) || !std::isfinite(value)) return;
    value = std::clamp(value, 0.0f, 1.0f);
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

VstIntPtr AudioEffect::callHost(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

void AudioEffect::setSampleRate(float rate) {
    storeSampleRate(rate);
}

void AudioEffect::setBlockSize(int32_t size) {
    blockSize.store(size, std::memory_order_relaxed);
}

void AudioEffect::process(float**, float**, int32_t) {}
void AudioEffect::processReplacing(float**, float**, int32_t) {}
void AudioEffect::processDoubleReplacing(double**, double**, int32_t) {}
void AudioEffect::setParameter(int32_t, float) {}

float AudioEffect::getParameter(int32_t) {
    return 0.0f;
}

void AudioEffect::setProgram(int32_t program) {
    if (program >= 0 && program < cEffect.numPrograms) curProgram = program;
}

void AudioEffect::setProgramName(std::string_view) {}

bool AudioEffect::getProgramName(std::string&) {
    return false;
}

bool AudioEffect::getParameterLabel(int32_t, std::string&) {
    return false;
}

bool AudioEffect::getParameterDisplay(int32_t, std::string&) {
    return false;
}

bool AudioEffect::getParameterName(int32_t, std::string&) {
    return false;
}

int32_t AudioEffect::getChunk(void**) {
    return 0;
}

int32_t AudioEffect::setChunk(void*, int32_t) {
    return 0;
}

void AudioEffect::entryFailed(const char*, const char*) {}

VstIntPtr AudioEffect::dispatcher(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
    std::string text;
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effSetProgram:
        setProgram(toInt32(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(readText(ptr, kVstMaxProgNameLen));
        return 0;
    case effGetProgramName:
        putText(ptr, kVstMaxProgNameLen, getProgramName(text), text);
        return 0;
    case effGetParamLabel:
        putText(ptr, kVstMaxParamStrLen, isParameter(index) && getParameterLabel(index, text), text);
        return 0;
    case effGetParamDisplay:
        putText(ptr, kVstMaxParamStrLen, isParameter(index) && getParameterDisplay(index, text), text);
        return 0;
    case effGetParamName:
        putText(ptr, kVstMaxParamStrLen, isParameter(index) && getParameterName(index, text), text);
        return 0;
    case effSetSampleRate:
        if (std::isfinite(opt) && opt > 0.0f) setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(toInt32(value));
        return 0;
    case effMainsChanged:
        if (value)
            resume();
        else
            suspend();
        return 0;
    case effGetChunk: {
        if (!ptr) return 0;
        void* data = nullptr;
        const int32_t size = getChunk(&data);
        const bool given = size > 0 && data;
        *static_cast<void**>(ptr) = given ? data : nullptr;
        return given ? size : 0;
    }
    case effSetChunk:
        if (!ptr || value <= 0) return 0;
        return setChunk(ptr, toInt32(value));
    case effEditGetRect:
    case effEditOpen:
    case effEditClose:
    case effEditIdle:
    case effEditKeyDown:
    case effEditKeyUp:
        return editorOpcode(opcode, index, value, ptr, opt);
    default:
        return 0;
    }
}

VstIntPtr AudioEffect::editorOpcode(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
    std::unique_lock<std::recursive_mutex> hold(mEditor, std::defer_lock);
    if (opcode != effEditIdle) {
        hold.lock();
    } else if (!hold.try_lock()) {
        return 0;
    } else if (iEditorDepth > 0) {
        return 0; // sent from inside an editor call of this thread
    }
    if (!pEditor) return 0;
    struct Depth {
        int32_t& depth;
        explicit Depth(int32_t& depth) : depth(++depth) {}
        ~Depth() { --depth; }
    } inside(iEditorDepth);
    switch (opcode) {
    case effEditGetRect:
        return ptr && pEditor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen: {
        if (!pEditor->open(ptr)) return 0;
        if (!ptr || pEditor->isEmbedded()) return 1;
        // Never tell the host an editor is shown that is not: nothing keeps running for it.
        const std::string reason = pEditor->getEmbedError();
        pEditor->close();
        report("effEditOpen", reason.c_str());
        return 0;
    }
    case effEditClose:
        pEditor->close();
        return 1;
    case effEditIdle:
        pEditor->idle();
        return 1;
    default: {
        VstKeyCode key{};
        key.character = index;
        key.virt = value >= 0 && value <= 255 ? static_cast<unsigned char>(value) : 0;
        key.modifier = std::isfinite(opt) && opt >= 0.0f && opt <= 255.0f ? static_cast<unsigned char>(opt) : 0;
        return (opcode == effEditKeyDown ? pEditor->onKeyDown(key) : pEditor->onKeyUp(key)) ? 1 : 0;
    }
    }
}

bool AudioEffect::putText(void* buffer, int32_t limit, bool answered, const std::string& text) {
    if (!answered || !buffer || limit < 1) return false;
    const size_t length = std::min(text.size(), static_cast<size_t>(limit - 1));
    char* out = static_cast<char*>(buffer);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
    return true;
}

std::string_view AudioEffect::readText(const void* text, int32_t limit) {
    if (!text || limit < 1) return {};
    const char* chars = static_cast<const char*>(text);
    return std::string_view(chars, strnlen(chars, static_cast<size_t>(limit - 1)));
}

int32_t AudioEffect::toInt32(VstIntPtr value) {
    return static_cast<int32_t>(std::clamp<VstIntPtr>(value, std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()));
}

// --- Entries: everything below is called by the host with its own, unchecked arguments. ---

AudioEffect* AudioEffect::owner(AEffect* effect) {
    return effect ? static_cast<AudioEffect*>(effect->object) : nullptr;
}

// Without the sanitizer's null check: a thread exit's handler gets no object.
template <class Call>
[[gnu::no_sanitize("null")]] bool AudioEffect::guarded(const char* entry, Call&& call) {
    try {
        call();
        return true;
    } catch (abi::__forced_unwind&) {
        throw; // the host ended its thread in a callback: the unwinding must go on
    } catch (const std::exception& failure) {
        report(entry, failure.what());
    } catch (...) {
        report(entry, "unknown exception");
    }
    return false;
}

void AudioEffect::report(const char* entry, const char* reason) noexcept {
    try {
        entryFailed(entry, reason);
    } catch (...) {
    }
}

VstIntPtr AudioEffect::dispatchEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                     void* ptr, float opt) {
    AudioEffect* self = owner(effect);
    if (!self) return 0;
    if (opcode == effClose) {
        self->guarded("close", [self] { self->close(); });
        delete self;
        return 0;
    }
    char entry[32] = "dispatcher opcode ";
    const size_t prefix = std::strlen(entry);
    std::to_chars(entry + prefix, entry + sizeof entry - 1, opcode);
    VstIntPtr result = 0;
    self->guarded(entry, [&] { result = self->dispatcher(opcode, index, value, ptr, opt); });
    return result;
}

template <class Sample>
bool AudioEffect::outputsUsable(Sample** outputs, int32_t frames) const {
    if (frames < 1 || !outputs) return false;
    for (int32_t channel = 0; channel < cEffect.numOutputs; ++channel)
        if (!outputs[channel]) return false;
    return true;
}

template <class Sample>
bool AudioEffect::inputsComplete(Sample** inputs) const {
    if (!inputs) return false;
    for (int32_t channel = 0; channel < cEffect.numInputs; ++channel)
        if (!inputs[channel]) return false;
    return true;
}

template <class Sample>
void AudioEffect::silence(Sample** outputs, int32_t frames) const {
    for (int32_t channel = 0; channel < cEffect.numOutputs; ++channel)
        std::fill(outputs[channel], outputs[channel] + frames, Sample(0));
}

void AudioEffect::sizeStandIns() {
    const auto inputs = size_t(std::max(cEffect.numInputs, 1)),
               outputs = size_t(std::max(cEffect.numOutputs, 1));
    floatStandIn.inputs.resize(inputs);
    floatStandIn.outputs.resize(outputs);
    doubleStandIn.inputs.resize(inputs);
    doubleStandIn.outputs.resize(outputs);
}

template <class Sample>
void AudioEffect::replacingEntry(const char* entry, void (AudioEffect::*call)(Sample**, Sample**, int32_t),
                                 Sample** inputs, Sample** outputs, int32_t frames) {
    if (!outputsUsable(outputs, frames)) return;
    if (inputsComplete(inputs)) {
        if (!guarded(entry, [&] { (this->*call)(inputs, outputs, frames); })) silence(outputs, frames);
        return;
    }
    // A missing input channel (an unconnected input, for some hosts) reads as silence: the virtual
    // gets stand-in channel lists, in pieces no longer than the silent buffer. The buffer is cleared
    // before every piece in case the effect wrote to its inputs.
    StandIn<Sample>& lists = [this]() -> StandIn<Sample>& {
        if constexpr (std::is_same_v<Sample, float>)
            return floatStandIn;
        else
            return doubleStandIn;
    }();
    for (int32_t done = 0; done < frames;) {
        const int32_t piece = std::min(frames - done, silentFrames);
        std::fill_n(lists.silent.begin(), piece, Sample(0));
        for (int32_t channel = 0; channel < cEffect.numInputs; ++channel)
            lists.inputs[size_t(channel)] =
                inputs && inputs[channel] ? inputs[channel] + done : lists.silent.data();
        for (int32_t channel = 0; channel < cEffect.numOutputs; ++channel)
            lists.outputs[size_t(channel)] = outputs[channel] + done;
        if (!guarded(entry, [&] { (this->*call)(lists.inputs.data(), lists.outputs.data(), piece); })) {
            silence(outputs, frames);
            return;
        }
        done += piece;
    }
}

void AudioEffect::processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    AudioEffect* self = owner(effect);
    if (!self || !self->outputsUsable(outputs, frames) || !self->inputsComplete(inputs)) return;
    self->guarded("process", [&] { self->process(inputs, outputs, frames); });
}

void AudioEffect::processReplacingEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames) {
    if (AudioEffect* self = owner(effect))
        self->replacingEntry("processReplacing", &AudioEffect::processReplacing, inputs, outputs, frames);
}

void AudioEffect::processDoubleReplacingEntry(AEffect* effect, double** inputs, double** outputs,
                                              VstInt32 frames) {
    if (AudioEffect* self = owner(effect))
        self->replacingEntry("processDoubleReplacing", &AudioEffect::processDoubleReplacing, inputs, outputs,
                             frames);
}

void AudioEffect::setParameterEntry(AEffect* effect, VstInt32 index, float value) {
    AudioEffect* self = owner(effect);
    if (!self || !self->isParameter(index) || !std::isfinite(value)) return;
    value = std::clamp(value, 0.0f, 1.0f);
    self->guarded("setParameter", [&] { self->setParameter(index, value); });
}

float AudioEffect::getParameterEntry(AEffect* effect, VstInt32 index) {
    AudioEffect* self = owner(effect);
    if (!self || !self->isParameter(index)) return 0.0f;
    float value = 0.0f;
    self->guarded("getParameter", [&] { value = self->getParameter(index); });
    return value;
}
