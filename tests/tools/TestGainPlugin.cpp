// A small stereo effect on the VST bases, built as a plug-in module for the host's tests.
// Parameter 0 is the gain (0.5 is unity: output = 2 × value × input), delayed by one millisecond
// at the host's rate when created (the reported latency); controller 7 sets the gain and tells
// the host; the chunk is the gain as a float. Its editor is a 60 × 200 frame with one slider for
// the gain.
#include "platform/AudioEffectX.h"
#include "platform/gui/AEffGUIEditor.h"
#include "platform/gui/CBitmap.h"
#include "platform/gui/CControlListener.h"
#include "platform/gui/CVerticalSlider.h"

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

// The slider (style 64, the built-in handle) follows the gain: the user's drag automates it, and
// a change by the host moves the slider at the next idle. open, close and idle hold the editor
// lock, which also covers the listener's calls made inside idle.
class TestGainEditor : public AEffGUIEditor, public CControlListener {
public:
    static constexpr int32_t kWidth = 60, kHeight = 200;

    explicit TestGainEditor(AudioEffect* effect) : AEffGUIEditor(effect) {
        rect.right = kWidth;
        rect.bottom = kHeight;
    }
    ~TestGainEditor() override { close(); }

    bool open(void* window) override {
        std::lock_guard<std::mutex> hold(lock);
        AEffGUIEditor::open(window);
        if (frame) return true;
        frame = new CFrame(CRect(0, 0, kWidth, kHeight), window, this);
        handle = new CBitmap(103);
        CPoint offset;
        const int32_t top = 10, bottom = kHeight - 10;
        slider = new CVerticalSlider(CRect(22, top, 39, bottom), this, 0, top, bottom - handle->getHeight(), handle,
                                     nullptr, offset, CVerticalSlider::kBottom);
        shown = effect->getParameter(0);
        slider->setValue(shown);
        frame->addView(slider);
        return true;
    }
    void close() override {
        std::lock_guard<std::mutex> hold(lock);
        if (frame) {
            frame->removeView(slider);
            delete slider;
            delete frame;
            handle->forget();
            slider = nullptr, frame = nullptr, handle = nullptr;
        }
        AEffGUIEditor::close();
    }
    void idle() override {
        std::lock_guard<std::mutex> hold(lock);
        if (!frame) return;
        const float gain = effect->getParameter(0);
        if (gain != shown) slider->setValue(shown = gain);
        AEffGUIEditor::idle();
    }
    void valueChanged(CDrawContext*, CControl* control) override {
        shown = control->getValue();
        effect->setParameterAutomated(0, shown);
    }

private:
    std::mutex lock;
    CBitmap* handle = nullptr;
    CVerticalSlider* slider = nullptr;
    float shown = 0.0f;
};

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
        editor = new TestGainEditor(this);
    }
    ~TestGainPlugin() override {
        setEditor(nullptr); // waits for an editor call of another thread
        delete editor;
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
    TestGainEditor* editor = nullptr;
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
