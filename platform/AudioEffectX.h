// AudioEffectX: the VST 2.4 effect base with the later opcodes (events, names and vendor data,
// capabilities, speaker arrangements, MIDI channels) and the host calls that go with them (time
// info, process level, sample rate, MIDI wish). Reads the host's event lists defensively and hands
// the effect one checked MIDI event at a time. Threads as AudioEffect.
#pragma once
#include "platform/AudioEffect.h"

class AudioEffectX : public AudioEffect {
public:
    // At most this many entries of one event list are read.
    static constexpr int32_t kMaxEventsPerCall = 65536;

    AudioEffectX(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams);

    void canMono(bool state = true);
    void noTail(bool state = true); // no sound while the input is silent

    // Host calls. The time record belongs to the host and stays valid until the next call; null
    // when the host has none. filter names the kVst... fields wanted.
    const VstTimeInfo* getTimeInfo(int32_t filter);
    int32_t getCurrentProcessLevel(); // kVstProcessLevel...; unknown for an answer outside them
    float updateSampleRate();         // takes the host's rate when it answers one above 0
    void wantEvents(int32_t filter = 1);

    // One MIDI event of the host's list, in list order: a copy of an entry of type kVstMidiType
    // whose byteSize covers the record, deltaFrames clamped to 0 .. block size − 1. Entries of
    // other types, short or null entries are skipped.
    virtual void processMidiEvent(const VstMidiEvent& event);
    virtual bool canParameterBeAutomated(int32_t index); // index within 0 .. parameters − 1; true
    virtual bool getProgramNameIndexed(int32_t category, int32_t index, std::string& text);
    virtual int32_t getPlugCategory();
    // Both arrangements present; only their type and channel count may be read.
    virtual bool setSpeakerArrangement(const VstSpeakerArrangement* input,
                                       const VstSpeakerArrangement* output);
    virtual bool getEffectName(std::string& text);
    virtual bool getVendorString(std::string& text);
    virtual bool getProductString(std::string& text);
    virtual int32_t getVendorVersion();
    virtual int32_t canDo(std::string_view text); // 1 yes, -1 no, 0 don't know; empty for a null text
    virtual int32_t getGetTailSize();
    virtual int32_t getNumMidiInputChannels();
    virtual int32_t getNumMidiOutputChannels();

protected:
    VstIntPtr dispatcher(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) override;

private:
    void readEvents(const VstEvents* events);
};
