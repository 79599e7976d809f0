// A small stereo effect on the VST bases, built as a plug-in module for the host's tests.
// Parameter 0 is the gain (0.5 is unity: output = 2 × value × input), delayed by one millisecond
// at the host's rate when created (the reported latency); a note-on adds a click of velocity / 127
// at its frame, controller 7 sets the gain and tells the host, and the chunk holds the gain.
#include "platform/AudioEffectX.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

constexpr char chunkTag[4] = {'T', 'G', 'C', 'H'};

class TestGainPlugin : public AudioEffectX {
public:
    explicit TestGainPlugin(audioMasterCallback host) : AudioEffectX(host, 1, 1) {
        const float rate = updateSampleRate();
        if (rate > 1e6f) throw std::length_error("delay line too long for the host's rate");
        latency = static_cast<int32_t>(rate / 1000.0f);
        for (std::vector<double>& line : delayLines) line.assign(static_cast<size_t>(latency), 0.0);
        setUniqueID(0x5467476E);
        setInitialDelay(latency);
        canDoubleReplacing();
        programsAreChunks();
    }

    void resume() override {
        wantEvents();
        for (std::vector<double>& line : delayLines) std::fill(line.begin(), line.end(), 0.0);
    }
    void process(float** inputs, float** outputs, int32_t frames) override { run(inputs, outputs, frames, true); }
    void processReplacing(float** inputs, float** outputs, int32_t frames) override {
        run(inputs, outputs, frames, false);
    }
    void processDoubleReplacing(double** inputs, double** outputs, int32_t frames) override {
        run(inputs, outputs, frames, false);
    }
    void setParameter(int32_t, float value) override { gain = value; }
    float getParameter(int32_t) override { return gain; }
    bool getParameterName(int32_t, std::string& text) override { return answer(text, "Gain"); }
    bool getParameterDisplay(int32_t, std::string& text) override {
        char digits[32];
        const auto written = std::to_chars(digits, digits + sizeof digits, 2.0 * gain, std::chars_format::fixed, 6);
        text.assign(digits, written.ptr);
        return true;
    }
    bool getProgramName(std::string& text) override { return answer(text, "Default"); }
    bool getProgramNameIndexed(int32_t, int32_t index, std::string& text) override {
        return index == 0 && answer(text, "Default");
    }
    int32_t getChunk(void** data) override {
        const float value = gain;
        std::memcpy(chunk, chunkTag, 4);
        std::memcpy(chunk + 4, &value, 4);
        *data = chunk;
        return sizeof chunk;
    }
    int32_t setChunk(void* data, int32_t size) override {
        float value = 0.0f;
        if (size != sizeof chunk || std::memcmp(data, chunkTag, 4) != 0) return 0;
        std::memcpy(&value, static_cast<char*>(data) + 4, 4);
        if (!(value >= 0.0f && value <= 1.0f)) return 0;
        gain = value;
        return 1;
    }
    void processMidiEvent(const VstMidiEvent& event) override {
        const int kind = static_cast<uint8_t>(event.midiData[0]) & 0xF0;
        const int data1 = event.midiData[1] & 0x7F;
        const int data2 = event.midiData[2] & 0x7F;
        if (kind == 0x90) addClick(event.deltaFrames, data2 / 127.0);
        if (kind == 0xB0 && data1 == 7) setParameterAutomated(0, static_cast<float>(data2) / 127.0f);
    }
    bool setSpeakerArrangement(const VstSpeakerArrangement* input, const VstSpeakerArrangement* output) override {
        return input->type == kSpeakerArrStereo && output->type == kSpeakerArrStereo;
    }
    bool getEffectName(std::string& text) override { return answer(text, "TestGain"); }
    bool getVendorString(std::string& text) override { return answer(text, "Vorlan"); }
    bool getProductString(std::string& text) override { return answer(text, "TestGain"); }
    int32_t getVendorVersion() override { return 100; }
    int32_t canDo(std::string_view text) override { return text == "receiveVstMidiEvent" ? 1 : -1; }
    int32_t getPlugCategory() override { return 1; }
    int32_t getNumMidiInputChannels() override { return 1; }

private:
    struct Click {
        int32_t frame;
        double amplitude;
    };
    std::atomic<float> gain{0.5f};
    int32_t latency = 0;
    size_t position = 0;
    std::array<std::vector<double>, 2> delayLines;
    std::array<Click, 64> clicks{}; // distinct frames of one block, sorted; more are dropped
    size_t clickCount = 0;
    char chunk[8] = {};

    static bool answer(std::string& text, const char* value) {
        text = value;
        return true;
    }

    void addClick(int32_t frame, double amplitude) {
        Click* end = clicks.data() + clickCount;
        Click* at = std::lower_bound(clicks.data(), end, frame, [](const Click& c, int32_t f) { return c.frame < f; });
        if (at != end && at->frame == frame) {
            at->amplitude += amplitude;
        } else if (clickCount < clicks.size()) {
            std::copy_backward(at, end, end + 1);
            *at = {frame, amplitude};
            ++clickCount;
        }
    }

    // Computes in double and rounds once, so that float output is double output rounded.
    template <class Sample> void run(Sample** inputs, Sample** outputs, int32_t frames, bool accumulate) {
        const double factor = 2.0 * gain;
        size_t nextClick = 0;
        for (int32_t frame = 0; frame < frames; ++frame) {
            double click = 0.0;
            if (nextClick < clickCount && clicks[nextClick].frame == frame) click = clicks[nextClick++].amplitude;
            for (size_t channel = 0; channel < 2; ++channel) {
                double delayed = inputs[channel][frame];
                if (latency > 0) std::swap(delayed, delayLines[channel][position]);
                const auto result = static_cast<Sample>(factor * delayed + click);
                outputs[channel][frame] = accumulate ? outputs[channel][frame] + result : result;
            }
            if (latency > 0) position = (position + 1) % static_cast<size_t>(latency);
        }
        clickCount = 0;
    }
};

} // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new TestGainPlugin(audioMaster);
}
