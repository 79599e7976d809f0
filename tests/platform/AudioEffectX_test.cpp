// Tests of the VST 2.4 effect bases as a host drives them: the record and opcode numbers the interface
// fixes, the neutral answers of an effect that overrides nothing, and hostile input (texts, numbers,
// buffers, events, chunks, host answers, exceptions) stopped at the entries.
#include "platform/AudioEffectX.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<std::pair<int32_t, VstIntPtr>> hostCalls; // opcode, value
std::vector<float> automated;
VstIntPtr hostAnswer = 0;

VstIntPtr recordingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr value, void*, float opt) {
    hostCalls.emplace_back(opcode, value);
    if (opcode == audioMasterAutomate) automated.push_back(opt);
    return hostAnswer;
}

// An effect that records what reaches its virtuals, answers with distinct values, and throws from
// them when asked to (1: a standard exception, 2: anything else).
class Probe : public AudioEffectX {
public:
    explicit Probe(audioMasterCallback host = &recordingHost) : AudioEffectX(host, 1, 3) {
        hostCalls.clear(), automated.clear(), hostAnswer = 0;
    }
    ~Probe() override { ++destroyed; }

    static inline int destroyed = 0;
    int throwing = 0, processCalls = 0, resumes = 0, suspends = 0;
    int32_t chunkAnswer = 1;
    bool answering = true;
    std::vector<std::pair<int32_t, float>> parameters;
    std::vector<VstMidiEvent> events;
    std::vector<int32_t> chunkSizes;
    void* chunkData = nullptr;
    std::vector<std::string> failures;

    void open() override { check(); }
    void close() override { check(); }
    void resume() override { check(), ++resumes; }
    void suspend() override { check(), ++suspends; }
    void process(float**, float**, int32_t) override { check(), ++processCalls; }
    void processReplacing(float** in, float** out, int32_t frames) override { mix(in, out, frames); }
    void processDoubleReplacing(double** in, double** out, int32_t frames) override { mix(in, out, frames); }
    void setParameter(int32_t index, float value) override { check(), parameters.emplace_back(index, value); }
    float getParameter(int32_t) override { return check(), 0.75f; }
    bool getProgramName(std::string& text) override { return give(text); }
    bool getParameterLabel(int32_t, std::string& text) override { return give(text); }
    bool getParameterDisplay(int32_t, std::string& text) override { return give(text); }
    bool getParameterName(int32_t, std::string& text) override { return give(text); }
    bool getProgramNameIndexed(int32_t, int32_t, std::string& text) override { return give(text); }
    bool getEffectName(std::string& text) override { return give(text); }
    bool getVendorString(std::string& text) override { return give(text); }
    bool getProductString(std::string& text) override { return give(text); }
    int32_t getChunk(void** data) override { return check(), *data = chunkData, chunkAnswer; }
    int32_t setChunk(void*, int32_t size) override {
        return check(), chunkSizes.push_back(size), chunkAnswer;
    }
    void processMidiEvent(const VstMidiEvent& event) override { check(), events.push_back(event); }
    bool setSpeakerArrangement(const VstSpeakerArrangement* input, const VstSpeakerArrangement*) override {
        return check(), input->type == kSpeakerArrStereo;
    }
    int32_t canDo(std::string_view text) override { return check(), text == "yes" ? 1 : -1; }
    int32_t getPlugCategory() override { return 7; }
    int32_t getVendorVersion() override { return 1200; }
    int32_t getGetTailSize() override { return 99; }
    int32_t getNumMidiInputChannels() override { return 3; }
    int32_t getNumMidiOutputChannels() override { return 5; }
    void entryFailed(const char* entry, const char* reason) override {
        failures.push_back(std::string(entry) + ": " + reason);
        throw std::runtime_error("a failing report must not matter either");
    }

private:
    void check() const {
        if (throwing == 1) throw std::runtime_error("probe failure");
        if (throwing == 2) throw 7;
    }
    bool give(std::string& text) { return check(), text = std::string(300, 'n'), answering; }
    // The replacing calls mix the inputs and add a constant: no output equals a silent input's.
    template <class Sample>
    void mix(Sample** in, Sample** out, int32_t frames) {
        check(), ++processCalls;
        for (int32_t i = 0; i < frames; ++i) {
            const Sample left = in[0][i], right = in[1][i];
            out[0][i] = left / 2 + right / 4 + Sample(0.125);
            out[1][i] = left / 4 - right / 2 - Sample(0.125);
        }
    }
};

VstIntPtr dispatch(AudioEffect& effect, int32_t opcode, int32_t index = 0, VstIntPtr value = 0,
                   void* ptr = nullptr, float opt = 0.0f) {
    AEffect* record = effect.getAeffect();
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

VstMidiEvent noteOn(int32_t frame, int32_t type = kVstMidiType, int32_t byteSize = sizeof(VstMidiEvent)) {
    return VstMidiEvent{type, byteSize, frame, 0, 0, 0, {char(0x90), 60, 100, 0}, 0, 0, 0, 0};
}

// A host's event list of any length (its record declares two entries).
struct EventList {
    explicit EventList(const std::vector<VstMidiEvent*>& entries, std::optional<int32_t> declared = {})
        : words(2 + std::max<size_t>(entries.size(), 2)) {
        list()->numEvents = declared.value_or(static_cast<int32_t>(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) words[2 + i] = reinterpret_cast<VstIntPtr>(entries[i]);
    }
    VstEvents* list() { return reinterpret_cast<VstEvents*>(words.data()); }
    std::vector<VstIntPtr> words;
};

} // namespace

TEST(AudioEffectX, StartsWithTheBaseDefaultsAndRoutesOpcodes) {
    Probe probe;
    const AEffect& effect = *probe.getAeffect();
    EXPECT_TRUE(effect.magic == 0x56737450 && effect.object == &probe);
    EXPECT_TRUE(effect.numPrograms == 1 && effect.numParams == 3 && effect.numInputs == 2 &&
                effect.numOutputs == 2);
    EXPECT_TRUE(effect.uniqueID == 0 && effect.initialDelay == 0 && effect.flags == 1 << 4);
    // opcode numbers as the interface fixes them
    const std::tuple<int32_t, int32_t, const char*, VstIntPtr> rows[] = {
        {26, 2, nullptr, 1},  {26, 3, nullptr, 0},  {35, 0, nullptr, 7}, {49, 0, nullptr, 1200},
        {52, 0, nullptr, 99}, {78, 0, nullptr, 3},  {79, 0, nullptr, 5}, {58, 0, nullptr, 2400},
        {51, 0, "yes", 1},    {51, 0, nullptr, -1}, {3, 0, nullptr, 0},  {-1, 0, nullptr, 0}};
    for (const auto& [opcode, index, text, expected] : rows)
        EXPECT_EQ(dispatch(probe, opcode, index, 0, const_cast<char*>(text)), expected) << opcode;
}

TEST(AudioEffectX, AnEffectOverridingNothingAnswersNeutrallyAndWritesNoText) {
    AudioEffectX plain(nullptr, 1, 1);
    plain.setNumInputs(-3);
    plain.setNumOutputs(1);
    plain.canProcessReplacing(false);
    plain.canMono();
    plain.noTail();
    const AEffect& record = *plain.getAeffect();
    EXPECT_TRUE(record.numInputs == 0 && record.numOutputs == 1 && record.flags == (1 << 3 | 1 << 9));
    for (int32_t opcode = 0; opcode <= 80; ++opcode) {
        if (opcode == effClose) continue;
        char buffer[256] = {}; // an empty text, and an empty event list
        const VstIntPtr expected = opcode == 25 || opcode == 26 ? 1 : opcode == 58 ? 2400 : 0;
        EXPECT_EQ(dispatch(plain, opcode, 0, 0, buffer), expected) << opcode;
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0')) << opcode;
    }
    float samples[2] = {}, *channels[] = {samples, samples};
    double wide[2] = {}, *wideChannels[] = {wide, wide};
    AEffect* effect = plain.getAeffect();
    effect->process(effect, channels, channels, 2);
    effect->processReplacing(effect, channels, channels, 2);
    effect->processDoubleReplacing(effect, wideChannels, wideChannels, 2);
    effect->setParameter(effect, 0, 0.5f);
    EXPECT_EQ(effect->getParameter(effect, 0), 0.0f);
}

TEST(AudioEffectX, CutsHostTextsToTheirLimitsAndWritesNoBufferItMustNot) {
    struct Row {
        int32_t opcode, index, limit; // limit 0: the buffer must stay as it was
    };
    // program name 5, indexed 29; parameter label 6, display 7, name 8; effect 45, vendor 47, product 48
    const Row rows[] = {{5, 0, 24},  {29, 0, 24}, {6, 0, 8},  {7, 2, 8}, {8, 1, 8},        {45, 0, 32},
                        {47, 0, 64}, {48, 0, 64}, {8, -1, 0}, {7, 3, 0}, {6, INT32_MAX, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.opcode) + "/" + std::to_string(row.index));
        Probe probe;
        char buffer[400];
        std::memset(buffer, '#', sizeof buffer);
        dispatch(probe, row.opcode, row.index, 0, buffer);
        const std::string written = row.limit ? std::string(size_t(row.limit - 1), 'n') + '\0' : "";
        EXPECT_EQ(std::string(buffer, written.size() + 1), written + '#'); // nothing beyond the NUL
        dispatch(probe, row.opcode, row.index, 0, nullptr);                // a null buffer is never written
        probe.answering = false;
        const char before = buffer[1];
        EXPECT_EQ(dispatch(probe, row.opcode, row.index, 0, buffer + 1), 0);
        EXPECT_EQ(buffer[1], before);
    }
}

TEST(AudioEffectX, IgnoresNonFiniteParameterValuesAndClampsOthers) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> rows[] = {
        {0.25f, 0.25f}, {-0.5f, 0.0f}, {1.5f, 1.0f}, {nan, nan}, {inf, nan}};
    for (const auto& [value, expected] : rows) {
        SCOPED_TRACE(value);
        Probe probe;
        AEffect* effect = probe.getAeffect();
        effect->setParameter(effect, 1, value);
        probe.setParameterAutomated(2, value);
        using Calls = std::vector<std::pair<int32_t, float>>;
        const bool taken = !std::isnan(expected);
        EXPECT_EQ(probe.parameters, (taken ? Calls{{1, expected}, {2, expected}} : Calls{}));
        EXPECT_EQ(automated, taken ? std::vector<float>{expected} : std::vector<float>{});
    }
    Probe probe;
    AEffect* effect = probe.getAeffect();
    for (int32_t index : {-1, 3}) {
        effect->setParameter(effect, index, 0.5f);
        probe.setParameterAutomated(index, 0.5f);
        EXPECT_EQ(effect->getParameter(effect, index), 0.0f);
    }
    EXPECT_TRUE(probe.parameters.empty() && automated.empty());
    EXPECT_EQ(effect->getParameter(effect, 2), 0.75f);
}

TEST(AudioEffectX, ProcessesNothingWithoutUsableOutputsOrFrames) {
    // inputs, outputs, every channel, frames, calls: a replacing call without (every) input reads
    // silence, the accumulating one is left out
    const int rows[][5] = {
        {1, 1, 1, 4, 3}, {0, 1, 1, 4, 2}, {1, 0, 1, 4, 0}, {1, 1, 0, 4, 1}, {1, 1, 1, 0, 0}};
    for (const auto& [inputs, outputs, allChannels, frames, calls] : rows) {
        Probe probe;
        AEffect* effect = probe.getAeffect();
        float buffers[4][4] = {};
        double doubles[4][4] = {};
        float* in[] = {buffers[0], allChannels ? buffers[1] : nullptr};
        float* out[] = {buffers[2], buffers[3]};
        double* dIn[] = {doubles[0], doubles[1]};
        double* dOut[] = {doubles[2], allChannels ? doubles[3] : nullptr};
        effect->process(effect, inputs ? in : nullptr, outputs ? out : nullptr, frames);
        effect->processReplacing(effect, inputs ? in : nullptr, outputs ? out : nullptr, frames);
        effect->processDoubleReplacing(effect, inputs ? dIn : nullptr, outputs ? dOut : nullptr, frames);
        effect->processReplacing(nullptr, in, out, 4); // no effect record
        EXPECT_EQ(probe.processCalls, calls);
    }
}

template <class Sample>
void checkMissingInputReadsAsSilence(void (*entry)(AEffect*, Sample**, Sample**, VstInt32)) {
    // missing: 0 left, 1 right, 2 the whole list; frames beyond 4096 reach the effect in pieces
    const int rows[][2] = {{0, 3}, {1, 3}, {2, 3}, {0, 5000}, {1, 9000}};
    for (const auto& [missing, frames] : rows) {
        SCOPED_TRACE(std::to_string(missing) + " missing, " + std::to_string(frames) + " frames");
        Probe probe;
        const auto count = size_t(frames);
        std::vector<Sample> left(count), right(count), silent(count, Sample(0));
        for (size_t i = 0; i < count; ++i) left[i] = Sample(i % 97) / 97, right[i] = Sample(i % 89) / -89;
        Sample* given[] = {missing != 1 ? nullptr : left.data(), missing == 0 ? right.data() : nullptr};
        Sample* silenced[] = {given[0] ? given[0] : silent.data(), given[1] ? given[1] : silent.data()};
        std::vector<Sample> outLeft(count, Sample(0.7)), outRight(count, Sample(0.7)), wantLeft(count),
            wantRight(count);
        Sample *outputs[] = {outLeft.data(), outRight.data()},
               *wanted[] = {wantLeft.data(), wantRight.data()};
        entry(probe.getAeffect(), silenced, wanted, frames);
        entry(probe.getAeffect(), missing == 2 ? nullptr : given, outputs, frames);
        EXPECT_TRUE(outLeft == wantLeft && outRight == wantRight); // none left at 0.7
    }
}

TEST(AudioEffectX, ReplacingCallsReadAMissingInputChannelAsSilence) {
    checkMissingInputReadsAsSilence<float>(Probe().getAeffect()->processReplacing);
    checkMissingInputReadsAsSilence<double>(Probe().getAeffect()->processDoubleReplacing);
}

TEST(AudioEffectX, ReadsOnlyWellFormedMidiEntriesWithFramesInsideTheBlock) {
    Probe probe;
    dispatch(probe, effSetBlockSize, 0, 64);
    VstMidiEvent early = noteOn(-3), late = noteOn(1000), inside = noteOn(5);
    VstMidiEvent sysex = noteOn(7, kVstSysExType), cut = noteOn(8, kVstMidiType, 16);
    EventList list({&early, nullptr, &sysex, &late, &cut, &inside});
    EXPECT_EQ(dispatch(probe, effProcessEvents, 0, 0, list.list()), 1);
    ASSERT_EQ(probe.events.size(), 3u);
    EXPECT_TRUE(probe.events[0].deltaFrames == 0 && probe.events[1].deltaFrames == 63 &&
                probe.events[2].deltaFrames == 5);
    EXPECT_EQ(std::memcmp(&probe.events[2], &inside, sizeof inside), 0);
    EXPECT_EQ(late.deltaFrames, 1000); // the host's record is left as it was

    probe.events.clear();
    EventList negative({&inside}, -1);
    dispatch(probe, effProcessEvents, 0, 0, negative.list());
    dispatch(probe, effSetBlockSize, 0, 0);
    EventList single({&late});
    dispatch(probe, effProcessEvents, 0, 0, single.list());
    ASSERT_EQ(probe.events.size(), 1u);
    EXPECT_EQ(probe.events[0].deltaFrames, 0);

    probe.events.clear();
    EventList longList(std::vector<VstMidiEvent*>(65536 + 100, &inside));
    dispatch(probe, effProcessEvents, 0, 0, longList.list());
    EXPECT_EQ(probe.events.size(), 65536u);
}

TEST(AudioEffectX, ChecksChunkPointersAndSizes) {
    char bytes[8] = {};
    // data, size, answer, the size the effect sees (0: not asked)
    const std::tuple<void*, VstIntPtr, VstIntPtr, int32_t> rows[] = {
        {bytes, 8, 1, 8}, {nullptr, 8, 0, 0}, {bytes, 0, 0, 0}, {bytes, VstIntPtr(1) << 40, 1, INT32_MAX}};
    for (const auto& [data, size, expected, seen] : rows) {
        Probe probe;
        EXPECT_EQ(dispatch(probe, effSetChunk, 0, size, data), expected) << size;
        EXPECT_EQ(probe.chunkSizes, seen ? std::vector<int32_t>{seen} : std::vector<int32_t>{});
    }
    const std::tuple<void*, int32_t, VstIntPtr> getRows[] = {{bytes, 8, 8}, {bytes, 0, 0}, {nullptr, 8, 0}};
    for (const auto& [data, size, expected] : getRows) {
        Probe probe;
        probe.chunkData = data;
        probe.chunkAnswer = size;
        void* given = &probe;
        EXPECT_EQ(dispatch(probe, effGetChunk, 0, 0, &given), expected) << size;
        EXPECT_EQ(given, expected ? data : nullptr);
        EXPECT_EQ(dispatch(probe, effGetChunk, 0, 0, nullptr), 0);
    }
}

TEST(AudioEffectX, TakesOnlyUsableRatesSizesProgramsAndArrangements) {
    Probe probe;
    for (float rate : {48000.0f, std::nanf(""), INFINITY, 0.0f})
        dispatch(probe, effSetSampleRate, 0, 0, nullptr, rate);
    EXPECT_EQ(probe.getSampleRate(), 48000.0f);
    dispatch(probe, effSetBlockSize, 0, VstIntPtr(1) << 40);
    EXPECT_EQ(probe.getBlockSize(), INT32_MAX);
    for (VstIntPtr program : {VstIntPtr(1), VstIntPtr(-1), VstIntPtr(1) << 32})
        dispatch(probe, effSetProgram, 0, program);
    EXPECT_EQ(dispatch(probe, effGetProgram), 0);
    for (VstIntPtr mains : {1, 0, 7}) dispatch(probe, effMainsChanged, 0, mains);
    EXPECT_TRUE(probe.resumes == 2 && probe.suspends == 1);

    VstSpeakerArrangement stereo{kSpeakerArrStereo, 2}, mono{kSpeakerArrMono, 1};
    const auto arrange = [&](VstSpeakerArrangement* input, VstSpeakerArrangement* output) {
        return dispatch(probe, effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(input), output);
    };
    EXPECT_EQ(arrange(&stereo, &stereo), 1);
    EXPECT_EQ(arrange(&mono, &stereo) + arrange(nullptr, &stereo) + arrange(&stereo, nullptr), 0);
}

TEST(AudioEffectX, AsksTheHostAndChecksItsAnswers) {
    VstTimeInfo info{};
    const auto timeInfo = reinterpret_cast<VstIntPtr>(&info);
    const auto time = [](Probe& p) { return reinterpret_cast<VstIntPtr>(p.getTimeInfo(1024)); };
    const auto rate = [](Probe& p) { return static_cast<VstIntPtr>(p.updateSampleRate()); };
    const auto level = [](Probe& p) { return VstIntPtr(p.getCurrentProcessLevel()); };
    const auto want = [](Probe& p) { return p.wantEvents(), VstIntPtr(0); };
    struct Row {
        std::function<VstIntPtr(Probe&)> call;
        VstIntPtr hostSays;
        int32_t opcode;
        VstIntPtr value, expected, withoutHost;
    };
    const Row rows[] = {{time, timeInfo, 7, 1024, timeInfo, 0},
                        {level, 4, 23, 0, 4, 0},
                        {level, 5, 23, 0, 0, 0},
                        {level, -1, 23, 0, 0, 0},
                        {rate, 96000, 16, 0, 96000, 44100},
                        {rate, 0, 16, 0, 44100, 44100},
                        {want, 0, 6, 1, 0, 0}};
    for (const Row& row : rows) {
        Probe probe;
        hostAnswer = row.hostSays;
        EXPECT_EQ(row.call(probe), row.expected) << &row - rows;
        using Calls = std::vector<std::pair<int32_t, VstIntPtr>>;
        EXPECT_EQ(hostCalls, (Calls{{row.opcode, row.value}})) << &row - rows;
        Probe withoutHost(nullptr);
        EXPECT_EQ(row.call(withoutHost), row.withoutHost) << &row - rows;
    }
}

TEST(AudioEffectX, NoExceptionLeavesAnEntry) {
    Probe probe;
    probe.throwing = 1;
    AEffect* effect = probe.getAeffect();
    char text[64] = {};
    void* chunk = nullptr;
    for (const auto& [opcode, ptr] :
         {std::pair<int32_t, void*>{effGetParamDisplay, text}, {effGetChunk, &chunk}}) {
        EXPECT_EQ(effect->dispatcher(effect, opcode, 0, 0, ptr, 0.0f), 0) << opcode;
        EXPECT_EQ(probe.failures.back(), "dispatcher opcode " + std::to_string(opcode) + ": probe failure");
    }
    EXPECT_TRUE(text[0] == '\0' && chunk == nullptr);

    float in[2] = {1, 1}, left[2] = {9, 9}, right[2] = {9, 9};
    double dIn[2] = {1, 1}, dLeft[2] = {9, 9}, dRight[2] = {9, 9};
    float *inputs[] = {in, in}, *outputs[] = {left, right};
    double *dInputs[] = {dIn, dIn}, *dOutputs[] = {dLeft, dRight};
    effect->process(effect, inputs, outputs, 2);
    EXPECT_EQ(left[1], 9.0f); // accumulating: left as it was
    effect->processReplacing(effect, inputs, outputs, 2);
    effect->processDoubleReplacing(effect, dInputs, dOutputs, 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(left[i] == 0 && right[i] == 0 && dLeft[i] == 0 && dRight[i] == 0) << i;
    probe.throwing = 2;
    effect->setParameter(effect, 0, 0.5f);
    EXPECT_EQ(effect->getParameter(effect, 0), 0.0f);
    EXPECT_EQ(probe.failures.back(), "getParameter: unknown exception");

    const int destroyedBefore = Probe::destroyed;
    Probe* closing = new Probe();
    closing->throwing = 1;
    AEffect* closingEffect = closing->getAeffect();
    EXPECT_EQ(closingEffect->dispatcher(closingEffect, effClose, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(Probe::destroyed, destroyedBefore + 1); // deleted although close threw
}
