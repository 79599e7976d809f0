#include "tools/CoreVhst.h"

#include "base/CoreAnsx.h"
#include "platform/DlLayer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

using EntryFunction = AEffect* (*)(audioMasterCallback);

// Which host answers a callback: the instance's, found by its effect record, or, while an entry
// runs (before the host knows the record), the host creating it. One creation at a time.
std::mutex registryLock;
std::vector<std::pair<const AEffect*, CoreVhst*>> registry;
CoreVhst* creating = nullptr;
std::mutex creationLock;

VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                       float opt) {
    std::lock_guard<std::mutex> lock(registryLock);
    CoreVhst* host = creating;
    for (const auto& [record, owner] : registry)
        if (effect && record == effect) host = owner;
    if (!host) return opcode == audioMasterVersion ? kVstVersion : 0;
    return host->answer(opcode, index, value, ptr, opt);
}

VstIntPtr copyText(void* buffer, int32_t limit, const char* text) {
    if (!buffer) return 0;
    const size_t length = std::min(std::strlen(text), static_cast<size_t>(limit - 1));
    std::memcpy(buffer, text, length);
    static_cast<char*>(buffer)[length] = '\0';
    return 1;
}

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw CoreAnsx((path + ": " + reason).c_str());
}

} // namespace

CoreVhst::CoreVhst(const std::string& path, const Setup& given) : setup(given) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    libraryPath = error ? path : absolute.lexically_normal().string();
    if (!std::filesystem::is_regular_file(libraryPath, error)) fail(libraryPath, "no such plug-in file");
    library = dlLayerOpenNow(libraryPath.c_str());
    if (!library) fail(libraryPath, "not a loadable library: " + dlLayerError());
    auto entry = reinterpret_cast<EntryFunction>(dlLayerSymbol(library, "VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<EntryFunction>(dlLayerSymbol(library, "main"));
    if (!entry) {
        unload();
        fail(libraryPath, "no VST entry (VSTPluginMain or main)");
    }
    {
        std::lock_guard<std::mutex> creation(creationLock);
        {
            std::lock_guard<std::mutex> lock(registryLock);
            creating = this;
        }
        AEffect* created = nullptr;
        try {
            created = entry(&hostCallback);
        } catch (...) {
            // a foreign plug-in's exception: the same as no effect
        }
        std::lock_guard<std::mutex> lock(registryLock);
        creating = nullptr;
        if (created && created->magic == kEffectMagic) {
            plugin = created;
            registry.emplace_back(created, this);
        }
    }
    if (!plugin) {
        unload();
        fail(libraryPath, "the VST entry gave no effect");
    }
}

CoreVhst::~CoreVhst() {
    close();
    unload();
}

void CoreVhst::unload() noexcept {
    if (library) dlLayerClose(library);
    library = nullptr;
}

VstIntPtr CoreVhst::dispatch(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
    return plugin ? plugin->dispatcher(plugin, opcode, index, value, ptr, opt) : 0;
}

void CoreVhst::open() {
    dispatch(effOpen);
}

void CoreVhst::close() {
    if (!plugin) return;
    dispatch(effClose);
    std::lock_guard<std::mutex> lock(registryLock);
    std::erase_if(registry, [this](const auto& entry) { return entry.second == this; });
    plugin = nullptr;
}

void CoreVhst::setSampleRate(double rate) {
    {
        std::lock_guard<std::mutex> lock(stateLock);
        setup.sampleRate = rate;
    }
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
}

void CoreVhst::setBlockSize(int32_t frames) {
    {
        std::lock_guard<std::mutex> lock(stateLock);
        setup.blockSize = frames;
    }
    dispatch(effSetBlockSize, 0, frames);
}

void CoreVhst::resume() {
    dispatch(effMainsChanged, 0, 1);
}

void CoreVhst::suspend() {
    dispatch(effMainsChanged, 0, 0);
}

void CoreVhst::setProgram(int32_t program) {
    dispatch(effSetProgram, 0, program);
}

int32_t CoreVhst::getProgram() {
    return static_cast<int32_t>(dispatch(effGetProgram));
}

std::string CoreVhst::text(int32_t opcode, int32_t index) {
    char buffer[256] = {};
    dispatch(opcode, index, 0, buffer);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::string CoreVhst::programName() {
    return text(effGetProgramName, 0);
}

std::string CoreVhst::parameterName(int32_t index) {
    return text(effGetParamName, index);
}

std::string CoreVhst::parameterLabel(int32_t index) {
    return text(effGetParamLabel, index);
}

std::string CoreVhst::parameterDisplay(int32_t index) {
    return text(effGetParamDisplay, index);
}

std::string CoreVhst::effectName() {
    return text(effGetEffectName, 0);
}

std::string CoreVhst::vendorString() {
    return text(effGetVendorString, 0);
}

std::string CoreVhst::productString() {
    return text(effGetProductString, 0);
}

int32_t CoreVhst::vendorVersion() {
    return static_cast<int32_t>(dispatch(effGetVendorVersion));
}

int32_t CoreVhst::vstVersion() {
    return static_cast<int32_t>(dispatch(effGetVstVersion));
}

int32_t CoreVhst::plugCategory() {
    return static_cast<int32_t>(dispatch(effGetPlugCategory));
}

int32_t CoreVhst::canDo(const char* capability) {
    return static_cast<int32_t>(dispatch(effCanDo, 0, 0, const_cast<char*>(capability)));
}

int32_t CoreVhst::tailSize() {
    return static_cast<int32_t>(dispatch(effGetTailSize));
}

int32_t CoreVhst::midiInputChannels() {
    return static_cast<int32_t>(dispatch(effGetNumMidiInputChannels));
}

int32_t CoreVhst::midiOutputChannels() {
    return static_cast<int32_t>(dispatch(effGetNumMidiOutputChannels));
}

bool CoreVhst::canBeAutomated(int32_t index) {
    return dispatch(effCanBeAutomated, index) != 0;
}

bool CoreVhst::setSpeakerArrangement(const VstSpeakerArrangement* input,
                                     const VstSpeakerArrangement* output) {
    return dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(input),
                    const_cast<VstSpeakerArrangement*>(output)) != 0;
}

std::vector<uint8_t> CoreVhst::getChunk() {
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, 0, 0, &data);
    if (size <= 0 || !data) return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

int32_t CoreVhst::setChunk(const void* data, VstIntPtr size) {
    return static_cast<int32_t>(dispatch(effSetChunk, 0, size, const_cast<void*>(data)));
}

int32_t CoreVhst::processEvents(const std::vector<VstMidiEvent>& events) {
    // The list record with as many entries as there are events, in pointer-sized words.
    const size_t bytes =
        std::max(sizeof(VstEvents), offsetof(VstEvents, events) + events.size() * sizeof(VstEvent*));
    std::vector<VstIntPtr> storage((bytes + sizeof(VstIntPtr) - 1) / sizeof(VstIntPtr), 0);
    auto* list = reinterpret_cast<VstEvents*>(storage.data());
    list->numEvents = static_cast<int32_t>(events.size());
    VstEvent** entries = list->events;
    for (size_t i = 0; i < events.size(); ++i)
        entries[i] = reinterpret_cast<VstEvent*>(const_cast<VstMidiEvent*>(&events[i]));
    return static_cast<int32_t>(dispatch(effProcessEvents, 0, 0, list));
}

void CoreVhst::setParameter(int32_t index, float value) {
    if (plugin) plugin->setParameter(plugin, index, value);
}

float CoreVhst::getParameter(int32_t index) {
    return plugin ? plugin->getParameter(plugin, index) : 0.0f;
}

void CoreVhst::process(float** inputs, float** outputs, int32_t frames) {
    if (!plugin) return;
    plugin->process(plugin, inputs, outputs, frames);
    advance(frames);
}

void CoreVhst::processReplacing(float** inputs, float** outputs, int32_t frames) {
    if (!plugin) return;
    plugin->processReplacing(plugin, inputs, outputs, frames);
    advance(frames);
}

void CoreVhst::processDoubleReplacing(double** inputs, double** outputs, int32_t frames) {
    if (!plugin) return;
    plugin->processDoubleReplacing(plugin, inputs, outputs, frames);
    advance(frames);
}

void CoreVhst::advance(int32_t frames) {
    if (frames < 1) return;
    std::lock_guard<std::mutex> lock(stateLock);
    samplePosition += frames;
}

std::vector<CoreVhst::Automation> CoreVhst::automations() const {
    std::lock_guard<std::mutex> lock(stateLock);
    return automated;
}

VstIntPtr CoreVhst::answer(int32_t opcode, int32_t index, VstIntPtr, void* ptr, float opt) {
    std::lock_guard<std::mutex> lock(stateLock);
    switch (opcode) {
    case audioMasterAutomate:
        automated.push_back({index, opt, std::this_thread::get_id()});
        return 0;
    case audioMasterVersion:
        return setup.version;
    case audioMasterWantMidi:
        return 1;
    case audioMasterGetTime: {
        // one record per calling thread, so that threads never see each other's writes
        thread_local VstTimeInfo info;
        info = VstTimeInfo{};
        info.samplePos = samplePosition;
        info.sampleRate = setup.sampleRate;
        info.tempo = 120.0;
        info.flags = kVstTransportPlaying | kVstTempoValid;
        return reinterpret_cast<VstIntPtr>(&info);
    }
    case audioMasterGetSampleRate:
        return setup.sampleRate >= 1.0 && setup.sampleRate < 1e9 ? static_cast<VstIntPtr>(setup.sampleRate)
                                                                 : 0;
    case audioMasterGetBlockSize:
        return setup.blockSize;
    case audioMasterGetCurrentProcessLevel:
        return kVstProcessLevelOffline;
    case audioMasterGetVendorString:
        return copyText(ptr, kVstMaxVendorStrLen, "Vorlan");
    case audioMasterGetProductString:
        return copyText(ptr, kVstMaxProductStrLen, "CoreVhst");
    case audioMasterGetVendorVersion:
        return 1;
    default:
        return 0;
    }
}
