// CoreVhst: a VST 2.4 host for one plug-in instance. Loads the plug-in file as Linux hosts do (by
// absolute path, binding every symbol at once with local symbols, VSTPluginMain else main),
// creates the effect and drives it through typed calls for the dispatcher, the process calls,
// chunks and events; unloads in its destructor. One thread drives an instance at a time, as hosts
// do; the host callback answers the plug-in's threads too, including calls made before the entry
// returns, which are answered for the instance being created.
#pragma once
#include "platform/VstAbi.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CoreVhst {
public:
    struct Setup {
        double sampleRate = 44100.0;   // answered to the plug-in until setSampleRate
        int32_t blockSize = 512;       // answered to the plug-in until setBlockSize
        int32_t version = kVstVersion; // the host version the entry is told
    };
    // An automate call of the plug-in: the parameter, its value and the thread that called.
    struct Automation {
        int32_t index;
        float value;
        std::thread::id thread;
    };

    // Loads path and creates the effect; throws CoreAnsx naming the file and the reason when the
    // file is missing or not a loadable library, has no VST entry, or the entry gives no effect.
    CoreVhst(const std::string& path, const Setup& setup);
    explicit CoreVhst(const std::string& path) : CoreVhst(path, Setup{}) {}
    ~CoreVhst(); // closes the effect unless closed, then unloads the library
    CoreVhst(const CoreVhst&) = delete;
    CoreVhst& operator=(const CoreVhst&) = delete;

    // The plug-in's record (fields such as initialDelay or numInputs); null once closed.
    const AEffect* effect() const { return plugin; }
    const std::string& path() const { return libraryPath; }

    // Any dispatcher call as it stands; 0 once closed.
    VstIntPtr dispatch(int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);

    void open();
    void close();                    // the effect deletes itself; later calls do nothing
    void setSampleRate(double rate); // tells the plug-in and answers it from now on
    void setBlockSize(int32_t frames);
    void resume();
    void suspend();
    void setProgram(int32_t program);
    int32_t getProgram();
    // Texts the plug-in writes into a buffer of 256 NULs, read up to its first NUL.
    std::string programName();
    std::string parameterName(int32_t index);
    std::string parameterLabel(int32_t index);
    std::string parameterDisplay(int32_t index);
    std::string effectName();
    std::string vendorString();
    std::string productString();
    int32_t vendorVersion();
    int32_t vstVersion();
    int32_t plugCategory();
    int32_t canDo(const char* capability);
    int32_t tailSize();
    int32_t midiInputChannels();
    int32_t midiOutputChannels();
    bool canBeAutomated(int32_t index);
    bool setSpeakerArrangement(const VstSpeakerArrangement* input, const VstSpeakerArrangement* output);

    // A copy of the plug-in's chunk; empty when it gives none.
    std::vector<uint8_t> getChunk();
    int32_t setChunk(const void* data, VstIntPtr size);
    // The events as one list, in order.
    int32_t processEvents(const std::vector<VstMidiEvent>& events);

    void setParameter(int32_t index, float value);
    float getParameter(int32_t index);
    // The host's position advances by frames after each call that was given frames above 0.
    void process(float** inputs, float** outputs, int32_t frames);
    void processReplacing(float** inputs, float** outputs, int32_t frames);
    void processDoubleReplacing(double** inputs, double** outputs, int32_t frames);

    std::vector<Automation> automations() const;

    // The host's answer to one plug-in callback, as the callback gives it (reads the host's state).
    VstIntPtr answer(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt);

private:
    std::string libraryPath;
    void* library = nullptr;
    AEffect* plugin = nullptr;

    mutable std::mutex stateLock; // guards the fields below, which the plug-in's threads read
    Setup setup;
    double samplePosition = 0.0;
    std::vector<Automation> automated;

    std::string text(int32_t opcode, int32_t index);
    void advance(int32_t frames);
    void unload() noexcept;
};
