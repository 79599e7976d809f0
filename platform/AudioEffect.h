// AudioEffect: the base of a VST 2.4 effect. Holds the AEffect record the host sees and routes its
// entries (dispatcher, the three process calls, parameters) to virtuals, treating everything the
// host hands over as untrusted: no exception leaves an entry, texts are cut to the host's limits,
// and bad numbers, sizes and buffers never reach the virtuals. AudioEffectX adds the later opcodes.
// The host's threads call the entries; sample rate and block size may be read from any thread.
#pragma once
#include "platform/VstAbi.h"

class AEffEditor;

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class AudioEffect {
public:
    // Defaults until the effect sets its own: 2 inputs, 2 outputs, unique id 0, replacing
    // processing, latency 0.
    AudioEffect(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    AEffect* getAeffect() { return &cEffect; }

    // What the effect tells the host; called while the host does not process.
    void setNumInputs(int32_t inputs);
    void setNumOutputs(int32_t outputs);
    void setUniqueID(int32_t id);
    void setInitialDelay(int32_t frames);
    void canProcessReplacing(bool state = true);
    void canDoubleReplacing(bool state = true);
    void programsAreChunks(bool state = true);
    // The effect's editor, not owned (its creator deletes it); null clears it. Sets the host's
    // has-editor flag while one is set. Waits for an editor opcode running on another thread.
    void setEditor(AEffEditor* editor);
    AEffEditor* getEditor() const { return pEditor; }

    float getSampleRate() const { return sampleRate.load(std::memory_order_relaxed); }
    int32_t getBlockSize() const { return blockSize.load(std::memory_order_relaxed); }

    // An engine-side change of a parameter: applies it as the host's setParameter would (a
    // non-finite value is ignored, others clamped to 0..1), then tells the host.
    void setParameterAutomated(int32_t index, float value);

    // Host calls; an index given to the parameter calls is always within 0 .. parameters − 1.
    virtual void open() {}
    virtual void close() {} // the effect is deleted right after it returns
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setSampleRate(float rate);  // stores it; only finite rates above 0 arrive
    virtual void setBlockSize(int32_t size); // stores it, whatever its value
    // Audio: frames ≥ 1 and every declared input and output buffer present. process adds to the
    // outputs; the replacing calls overwrite them, and get silence for an input the host left out.
    virtual void process(float** inputs, float** outputs, int32_t frames);
    virtual void processReplacing(float** inputs, float** outputs, int32_t frames);
    virtual void processDoubleReplacing(double** inputs, double** outputs, int32_t frames);
    virtual void setParameter(int32_t index, float value); // value finite, within 0..1
    virtual float getParameter(int32_t index);
    virtual void setProgram(int32_t program); // stores a program within 0 .. programs − 1
    virtual int32_t getProgram() { return curProgram; }
    virtual void setProgramName(std::string_view name);
    // Text answers: true has the text copied into the host's buffer, cut to the buffer's limit;
    // false leaves the buffer as it was.
    virtual bool getProgramName(std::string& text);
    virtual bool getParameterLabel(int32_t index, std::string& text);
    virtual bool getParameterDisplay(int32_t index, std::string& text);
    virtual bool getParameterName(int32_t index, std::string& text);
    // Points data at the effect's own chunk bytes (kept until the next call) and returns their count.
    virtual int32_t getChunk(void** data);
    // data is never null and size at least 1; the result goes to the host as it is.
    virtual int32_t setChunk(void* data, int32_t size);

    // An exception stopped an entry, which then answered its neutral value: 0, a silenced output
    // for the replacing calls, untouched outputs for process. For the effect's log.
    virtual void entryFailed(const char* entry, const char* reason);

protected:
    // The dispatcher's opcodes this class knows; AudioEffectX handles the later ones first.
    // Answers 0 for any other.
    virtual VstIntPtr dispatcher(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt);

    // 0 when the host gave no callback.
    VstIntPtr callHost(int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    void setFlag(int32_t flag, bool state);
    void storeSampleRate(float rate) { sampleRate.store(rate, std::memory_order_relaxed); }
    bool isParameter(int32_t index) const { return index >= 0 && index < cEffect.numParams; }

    // Copies text into the host's buffer of limit bytes, cut to limit − 1 characters and a NUL,
    // when answered and the buffer is not null; returns whether it wrote.
    static bool putText(void* buffer, int32_t limit, bool answered, const std::string& text);
    // The host's text up to its NUL, read no further than limit − 1 bytes; empty for null.
    static std::string_view readText(const void* text, int32_t limit);
    static int32_t toInt32(VstIntPtr value); // saturating
    VstIntPtr editorOpcode(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt);

    int32_t curProgram = 0;

private:
    AEffect cEffect{};
    audioMasterCallback audioMaster;
    AEffEditor* pEditor = nullptr;
    // Held around setEditor and each editor opcode; idle only tries it, and skips when it is held
    // elsewhere or this thread is already inside an editor opcode (a host callback of that call).
    std::recursive_mutex mEditor;
    int32_t iEditorDepth = 0;
    std::atomic<float> sampleRate{44100.0f};
    std::atomic<int32_t> blockSize{1024};

    static AudioEffect* owner(AEffect* effect);
    static VstIntPtr dispatchEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                   void* ptr, float opt);
    static void processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames);
    static void processReplacingEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 frames);
    static void processDoubleReplacingEntry(AEffect* effect, double** inputs, double** outputs,
                                            VstInt32 frames);
    static void setParameterEntry(AEffect* effect, VstInt32 index, float value);
    static float getParameterEntry(AEffect* effect, VstInt32 index);

    // The channel lists a replacing call gets when the host left an input channel out, and the
    // silence read in its place: sized with the channel counts, never on the audio path. Blocks
    // longer than the silence go to the effect in pieces.
    static constexpr int32_t silentFrames = 4096;
    template <class Sample>
    struct StandIn {
        std::vector<Sample> silent = std::vector<Sample>(size_t(silentFrames));
        std::vector<Sample*> inputs, outputs;
    };
    StandIn<float> floatStandIn;
    StandIn<double> doubleStandIn;
    void sizeStandIns();

    template <class Sample>
    bool outputsUsable(Sample** outputs, int32_t frames) const; // frames ≥ 1, every output present
    template <class Sample>
    bool inputsComplete(Sample** inputs) const; // every input present
    template <class Sample>
    void silence(Sample** outputs, int32_t frames) const;
    // Usable outputs are always written: by call, with silence for a missing input, or silenced
    // when call throws.
    template <class Sample>
    void replacingEntry(const char* entry, void (AudioEffect::*call)(Sample**, Sample**, int32_t),
                        Sample** inputs, Sample** outputs, int32_t frames);
    // Runs call; on an exception reports it through entryFailed and returns false. Not noexcept: a
    // thread exit from inside a host callback passes through.
    template <class Call>
    bool guarded(const char* entry, Call&& call);
    void report(const char* entry, const char* reason) noexcept;
};

// Made by each plug-in library: its effect for the host whose callback is given. Called only by
// the library's entry function, after the host has answered its version.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
