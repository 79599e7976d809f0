#include "platform/AudioEffectX.h"

#include <algorithm>
#include <cstring>

namespace {
// capability texts are short names; anything longer is no capability of ours
constexpr int32_t canDoTextLimit = 256;
} // namespace

AudioEffectX::AudioEffectX(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams)
    : AudioEffect(audioMaster, numPrograms, numParams) {}

void AudioEffectX::canMono(bool state) {
    setFlag(effFlagsCanMono, state);
}

void AudioEffectX::noTail(bool state) {
    setFlag(effFlagsNoSoundInStop, state);
}

const VstTimeInfo* AudioEffectX::getTimeInfo(int32_t filter) {
    return reinterpret_cast<const VstTimeInfo*>(callHost(audioMasterGetTime, 0, filter));
}

int32_t AudioEffectX::getCurrentProcessLevel() {
    const VstIntPtr level = callHost(audioMasterGetCurrentProcessLevel);
    return level >= kVstProcessLevelUnknown && level <= kVstProcessLevelOffline ? static_cast<int32_t>(level)
                                                                                : kVstProcessLevelUnknown;
}

float AudioEffectX::updateSampleRate() {
    const VstIntPtr rate = callHost(audioMasterGetSampleRate);
    if (rate > 0) storeSampleRate(static_cast<float>(rate));
    return getSampleRate();
}

void AudioEffectX::wantEvents(int32_t filter) {
    callHost(audioMasterWantMidi, 0, filter);
}

void AudioEffectX::processMidiEvent(const VstMidiEvent&) {}

bool AudioEffectX::canParameterBeAutomated(int32_t) {
    return true;
}

bool AudioEffectX::getProgramNameIndexed(int32_t, int32_t, std::string&) {
    return false;
}

int32_t AudioEffectX::getPlugCategory() {
    return 0;
}

bool AudioEffectX::setSpeakerArrangement(const VstSpeakerArrangement*, const VstSpeakerArrangement*) {
    return false;
}

bool AudioEffectX::getEffectName(std::string&) {
    return false;
}

bool AudioEffectX::getVendorString(std::string&) {
    return false;
}

bool AudioEffectX::getProductString(std::string&) {
    return false;
}

int32_t AudioEffectX::getVendorVersion() {
    return 0;
}

int32_t AudioEffectX::canDo(std::string_view) {
    return 0;
}

int32_t AudioEffectX::getGetTailSize() {
    return 0;
}

int32_t AudioEffectX::getNumMidiInputChannels() {
    return 0;
}

int32_t AudioEffectX::getNumMidiOutputChannels() {
    return 0;
}

VstIntPtr AudioEffectX::dispatcher(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
    std::string text;
    switch (opcode) {
    case effProcessEvents:
        readEvents(static_cast<const VstEvents*>(ptr));
        return 1;
    case effCanBeAutomated:
        return isParameter(index) && canParameterBeAutomated(index) ? 1 : 0;
    case effGetProgramNameIndexed:
        return putText(ptr, kVstMaxProgNameLen, getProgramNameIndexed(toInt32(value), index, text), text) ? 1
                                                                                                          : 0;
    case effGetPlugCategory:
        return getPlugCategory();
    case effSetSpeakerArrangement: {
        const auto* input = reinterpret_cast<const VstSpeakerArrangement*>(value);
        const auto* output = static_cast<const VstSpeakerArrangement*>(ptr);
        return input && output && setSpeakerArrangement(input, output) ? 1 : 0;
    }
    case effGetEffectName:
        return putText(ptr, kVstMaxEffectNameLen, getEffectName(text), text) ? 1 : 0;
    case effGetVendorString:
        return putText(ptr, kVstMaxVendorStrLen, getVendorString(text), text) ? 1 : 0;
    case effGetProductString:
        return putText(ptr, kVstMaxProductStrLen, getProductString(text), text) ? 1 : 0;
    case effGetVendorVersion:
        return getVendorVersion();
    case effCanDo:
        return canDo(readText(ptr, canDoTextLimit));
    case effGetTailSize:
        return getGetTailSize();
    case effGetVstVersion:
        return kVstVersion;
    case effGetNumMidiInputChannels:
        return getNumMidiInputChannels();
    case effGetNumMidiOutputChannels:
        return getNumMidiOutputChannels();
    default:
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

void AudioEffectX::readEvents(const VstEvents* events) {
    if (!events || events->numEvents < 1) return;
    const int32_t count = std::min(events->numEvents, kMaxEventsPerCall);
    const int32_t lastFrame = std::max(getBlockSize(), 1) - 1;
    // the host's list is longer than the record declares: index through a pointer
    VstEvent* const* entries = events->events;
    for (int32_t i = 0; i < count; ++i) {
        const VstEvent* entry = entries[i];
        if (!entry || entry->type != kVstMidiType ||
            entry->byteSize < static_cast<int32_t>(sizeof(VstMidiEvent)))
            continue;
        VstMidiEvent event;
        std::memcpy(&event, entry, sizeof event);
        event.deltaFrames = std::clamp(event.deltaFrames, 0, lastFrame);
        processMidiEvent(event);
    }
}
