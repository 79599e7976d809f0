// A small stereo effect on the VST bases, built as a plug-in module for the host's tests.
// Parameter 0 is the gain (0.5 is unity: output = 2 × value × input), delayed by one millisecond
// at the host's rate when created (the reported latency); controller 7 sets the gain and tells
// the host; the chunk is the gain as a float.
#include "platform/AudioEffectX.h"

#include <array>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

class TestGainPlugin : public AudioEffectX {
public:
    explicit TestGainPlugin(audioMasterCallback host) : AudioEffectX(host, 1, 1) {
        const float rate = updateSampleRate();
        if (rate > 1e6f) throw std::length_error("delay line too long for the host's rate");
        latency = static_cast<size_t>(rate / 1000.0f);
        for (std::vector<double>& line : delayLines) line.assign(latency, 0.0);
        setUniqueID(0x5467476E);
        setInitialDelay(static_cast<int32_t>(latency));
        canDoubleReplacing();
        programsAreChunks();
    }

    void process(float** inputs, float** outputs, int32_t frames) override {
        run(inputs, outputs, frames, true);
    }
    void processReplacing(float** inputs, float** outputs, int32_t frames) override {
        run(inputs, outputs, frames, false);
    }
    void processDoubleReplacing(double** inputs, double** outputs, int32_t frames) override {
        run(inputs, outputs, frames, false);
    }
    void setParameter(int32_t, float value) override { gain = value; }
    float getParameter(int32_t) override { return gain; }
    bool getEffectName(std::string& text) override { return text = "TestGain", true; }
    void processMidiEvent(const VstMidiEvent& event) override {
        if ((event.midiData[0] & 0xF0) == 0xB0 && event.midiData[1] == 7)
            setParameterAutomated(0, static_cast<float>(event.midiData[2]) / 127.0f);
    }
    int32_t getChunk(void** data) override {
        chunk = gain;
        *data = &chunk;
        return sizeof chunk;
    }
    int32_t setChunk(void* data, int32_t size) override {
        float value = -1.0f;
        if (size == sizeof value) std::memcpy(&value, data, sizeof value);
        if (!(value >= 0.0f && value <= 1.0f)) return 0;
        gain = value;
        return 1;
    }

private:
    std::atomic<float> gain{0.5f};
    float chunk = 0.0f;
    size_t latency = 0, position = 0;
    std::array<std::vector<double>, 2> delayLines;

    // Computes in double and rounds once, so that float output is double output rounded.
    template <class Sample>
    void run(Sample** inputs, Sample** outputs, int32_t frames, bool accumulate) {
        const double factor = 2.0 * gain;
        for (int32_t frame = 0; frame < frames; ++frame) {
            for (size_t channel = 0; channel < 2; ++channel) {
                double delayed = inputs[channel][frame];
                if (latency > 0) std::swap(delayed, delayLines[channel][position]);
                const auto result = static_cast<Sample>(factor * delayed);
                outputs[channel][frame] = accumulate ? outputs[channel][frame] + result : result;
            }
            if (latency > 0) position = (position + 1) % latency;
        }
    }
};

} // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new TestGainPlugin(audioMaster);
}
