#include "platform/AudioEffectX.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct HostCall {
    int32_t opcode;
    int32_t index;
    VstIntPtr value;
    float opt;
};
std::vector<HostCall> hostCalls;
VstIntPtr hostAnswer = 0;

VstIntPtr recordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void*, float opt) {
    hostCalls.push_back({opcode, index, value, opt});
    return hostAnswer;
}

// An effect that records what reaches its virtuals and answers with distinct values.
class Probe : public AudioEffectX {
public:
    explicit Probe(audioMasterCallback host = &recordingHost) : AudioEffectX(host, 1, 3) {
        hostCalls.clear();
        hostAnswer = 0;
    }
    ~Probe() override { ++destroyed; }

    static inline int destroyed = 0;
    bool throwing = false;
    bool answering = true;
    std::string answerText = std::string(300, 'n');
    std::vector<std::pair<int32_t, float>> parameters;
    int processCalls = 0, resumes = 0, suspends = 0;
    std::vector<VstMidiEvent> events;
    std::vector<int32_t> chunkSizes;
    int32_t chunkAnswer = 1;
    void* chunkData = nullptr;
    std::vector<std::string> failures;
    using AudioEffectX::curProgram;

    void open() override { check(); }
    void close() override { check(); }
    void resume() override { check(), ++resumes; }
    void suspend() override { check(), ++suspends; }
    void process(float**, float**, int32_t) override { check(), ++processCalls; }
    void processReplacing(float**, float**, int32_t) override { check(), ++processCalls; }
    void processDoubleReplacing(double**, double**, int32_t) override { check(), ++processCalls; }
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
    int32_t setChunk(void*, int32_t size) override { return check(), chunkSizes.push_back(size), chunkAnswer; }
    void processMidiEvent(const VstMidiEvent& event) override { check(), events.push_back(event); }
    bool setSpeakerArrangement(const VstSpeakerArrangement* input, const VstSpeakerArrangement*) override {
        return check(), input->type == kSpeakerArrStereo;
    }
    int32_t canDo(std::string_view text) override { return check(), text == "yes" ? 1 : -1; }
    int32_t getPlugCategory() override { return check(), 7; }
    int32_t getVendorVersion() override { return check(), 1200; }
    int32_t getGetTailSize() override { return check(), 99; }
    int32_t getNumMidiInputChannels() override { return check(), 3; }
    int32_t getNumMidiOutputChannels() override { return check(), 5; }
    void entryFailed(const char* entry, const char* reason) override {
        failures.push_back(std::string(entry) + ": " + reason);
        throw std::runtime_error("a failing log must not matter either");
    }

private:
    void check() const {
        if (throwing) throw std::runtime_error("probe failure");
    }
    bool give(std::string& text) {
        check();
        text = answerText;
        return answering;
    }
};

VstIntPtr dispatch(Probe& probe, int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
    AEffect* effect = probe.getAeffect();
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

VstMidiEvent noteOn(int32_t frame, int32_t type = kVstMidiType, int32_t byteSize = sizeof(VstMidiEvent)) {
    VstMidiEvent event{};
    event.type = type;
    event.byteSize = byteSize;
    event.deltaFrames = frame;
    event.midiData[0] = static_cast<char>(0x90);
    event.midiData[1] = 60;
    event.midiData[2] = 100;
    return event;
}

// A host's event list of any length, its entries pointing at the given events (null for null).
struct EventList {
    explicit EventList(const std::vector<VstMidiEvent*>& entries, std::optional<int32_t> declared = {})
        : words(2 + std::max<size_t>(entries.size(), 2)) {
        list()->numEvents = declared.value_or(static_cast<int32_t>(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) words[2 + i] = reinterpret_cast<VstIntPtr>(entries[i]);
    }
    VstEvents* list() { return reinterpret_cast<VstEvents*>(words.data()); }
    std::vector<VstIntPtr> words;
};

TEST(AudioEffectX, StartsWithTheBaseDefaultsAndSetsFlags) {
    Probe probe;
    const AEffect& effect = *probe.getAeffect();
    EXPECT_EQ(effect.magic, 0x56737450);
    EXPECT_EQ(effect.object, &probe);
    EXPECT_EQ(effect.numPrograms, 1);
    EXPECT_EQ(effect.numParams, 3);
    EXPECT_EQ(effect.numInputs, 2);
    EXPECT_EQ(effect.numOutputs, 2);
    EXPECT_EQ(effect.uniqueID, 0);
    EXPECT_EQ(effect.initialDelay, 0);
    EXPECT_EQ(effect.flags, 1 << 4);

    struct Row {
        std::function<void(Probe&, bool)> set;
        int32_t bit;
    };
    const Row rows[] = {
        {[](Probe& p, bool on) { p.canMono(on); }, 1 << 3},
        {[](Probe& p, bool on) { p.canProcessReplacing(on); }, 1 << 4},
        {[](Probe& p, bool on) { p.programsAreChunks(on); }, 1 << 5},
        {[](Probe& p, bool on) { p.noTail(on); }, 1 << 9},
        {[](Probe& p, bool on) { p.canDoubleReplacing(on); }, 1 << 12},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bit);
        const int32_t before = effect.flags;
        row.set(probe, true);
        EXPECT_EQ(effect.flags, before | row.bit);
        row.set(probe, false);
        EXPECT_EQ(effect.flags, before & ~row.bit);
    }
    probe.setInitialDelay(-4);
    EXPECT_EQ(effect.initialDelay, 0);
}

TEST(AudioEffectX, RoutesDispatcherOpcodesAndAnswersZeroForOthers) {
    struct Row {
        int32_t opcode;
        int32_t index;
        const char* text;
        VstIntPtr expected;
    };
    const Row rows[] = {
        {effCanBeAutomated, 0, nullptr, 1}, {effCanBeAutomated, 2, nullptr, 1},
        {effCanBeAutomated, 3, nullptr, 0}, {effCanBeAutomated, -1, nullptr, 0},
        {effGetPlugCategory, 0, nullptr, 7}, {effGetVendorVersion, 0, nullptr, 1200},
        {effGetTailSize, 0, nullptr, 99},    {effGetNumMidiInputChannels, 0, nullptr, 3},
        {effGetNumMidiOutputChannels, 0, nullptr, 5}, {effGetVstVersion, 0, nullptr, 2400},
        {effCanDo, 0, "yes", 1},             {effCanDo, 0, "sendVstMidiEvent", -1},
        {effCanDo, 0, nullptr, -1},          {effGetProgram, 0, nullptr, 0},
        {effEditGetRect, 0, nullptr, 0},     {effEditOpen, 0, nullptr, 0},
        {effEditClose, 0, nullptr, 0},       {effEditIdle, 0, nullptr, 0},
        {effEditKeyDown, 0, nullptr, 0},     {9, 0, nullptr, 0},
        {1000, 0, nullptr, 0},               {-1, 0, nullptr, 0},
    };
    Probe probe;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.opcode);
        EXPECT_EQ(dispatch(probe, row.opcode, row.index, 0, const_cast<char*>(row.text)), row.expected);
    }
}

TEST(AudioEffectX, CutsHostTextsToTheirLimitsAndWritesNoBufferItMustNot) {
    struct Row {
        int32_t opcode;
        int32_t index;
        int32_t limit; // 0: the buffer must stay as it was
    };
    const Row rows[] = {
        {effGetProgramName, 0, 24},      {effGetProgramNameIndexed, 0, 24}, {effGetParamLabel, 0, 8},
        {effGetParamDisplay, 2, 8},      {effGetParamName, 1, 8},           {effGetEffectName, 0, 32},
        {effGetVendorString, 0, 64},     {effGetProductString, 0, 64},      {effGetParamName, -1, 0},
        {effGetParamDisplay, 3, 0},      {effGetParamLabel, INT32_MAX, 0},
    };
    for (const char* answer : {"long", "ab"}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(answer) + " " + std::to_string(row.opcode) + "/" + std::to_string(row.index));
            Probe probe;
            if (std::string(answer) == "ab") probe.answerText = "ab";
            char buffer[400];
            std::memset(buffer, '#', sizeof buffer);
            dispatch(probe, row.opcode, row.index, 0, buffer);
            const std::string expected =
                row.limit == 0 ? std::string() : probe.answerText.substr(0, static_cast<size_t>(row.limit - 1));
            if (row.limit == 0) {
                EXPECT_EQ(buffer[0], '#');
            } else {
                EXPECT_EQ(std::string(buffer), expected);
                EXPECT_EQ(buffer[expected.size() + 1], '#');
            }
            dispatch(probe, row.opcode, row.index, 0, nullptr); // a null buffer is never written
            probe.answering = false;
            std::memset(buffer, '#', sizeof buffer);
            EXPECT_EQ(dispatch(probe, row.opcode, row.index, 0, buffer), 0);
            EXPECT_EQ(buffer[0], '#');
        }
    }
}

TEST(AudioEffectX, IgnoresNonFiniteParameterValuesAndClampsOthers) {
    struct Row {
        float value;
        float expected; // NaN: nothing reaches the effect or the host
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Row rows[] = {{0.25f, 0.25f}, {-0.5f, 0.0f}, {1.5f, 1.0f}, {nan, nan}, {inf, nan}, {-inf, nan}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        Probe probe;
        AEffect* effect = probe.getAeffect();
        effect->setParameter(effect, 1, row.value);
        probe.setParameterAutomated(2, row.value);
        if (std::isnan(row.expected)) {
            EXPECT_TRUE(probe.parameters.empty());
            EXPECT_TRUE(hostCalls.empty());
            continue;
        }
        ASSERT_EQ(probe.parameters.size(), 2u);
        EXPECT_EQ(probe.parameters[0], std::make_pair(1, row.expected));
        EXPECT_EQ(probe.parameters[1], std::make_pair(2, row.expected));
        ASSERT_EQ(hostCalls.size(), 1u);
        EXPECT_EQ(hostCalls[0].opcode, audioMasterAutomate);
        EXPECT_EQ(hostCalls[0].index, 2);
        EXPECT_EQ(hostCalls[0].opt, row.expected);
    }
    Probe probe;
    AEffect* effect = probe.getAeffect();
    for (int32_t index : {-1, 3}) {
        effect->setParameter(effect, index, 0.5f);
        probe.setParameterAutomated(index, 0.5f);
        EXPECT_EQ(effect->getParameter(effect, index), 0.0f);
    }
    EXPECT_TRUE(probe.parameters.empty());
    EXPECT_EQ(effect->getParameter(effect, 2), 0.75f);
}

TEST(AudioEffectX, ProcessesNothingWithoutUsableBuffersOrFrames) {
    struct Row {
        bool inputs, outputs, allChannels;
        int32_t frames;
        bool processed;
    };
    const Row rows[] = {{true, true, true, 4, true},    {false, true, true, 4, false}, {true, false, true, 4, false},
                        {true, true, false, 4, false},  {true, true, true, 0, false},  {true, true, true, -5, false},
                        {true, true, true, INT32_MIN, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        Probe probe;
        AEffect* effect = probe.getAeffect();
        float left[4] = {1, 1, 1, 1}, right[4] = {}, outLeft[4] = {}, outRight[4] = {};
        double dLeft[4] = {1, 1, 1, 1}, dRight[4] = {}, dOutLeft[4] = {}, dOutRight[4] = {};
        float* in[] = {left, row.allChannels ? right : nullptr};
        float* out[] = {outLeft, outRight};
        double* dIn[] = {dLeft, dRight};
        double* dOut[] = {dOutLeft, row.allChannels ? dOutRight : nullptr};
        effect->process(effect, row.inputs ? in : nullptr, row.outputs ? out : nullptr, row.frames);
        effect->processReplacing(effect, row.inputs ? in : nullptr, row.outputs ? out : nullptr, row.frames);
        effect->processDoubleReplacing(effect, row.inputs ? dIn : nullptr, row.outputs ? dOut : nullptr, row.frames);
        EXPECT_EQ(probe.processCalls, row.processed ? 3 : 0);
        effect->processReplacing(nullptr, in, out, 4); // no effect record: nothing
    }
}

TEST(AudioEffectX, ReadsOnlyWellFormedMidiEntriesWithFramesInsideTheBlock) {
    Probe probe;
    dispatch(probe, effSetBlockSize, 0, 64);
    VstMidiEvent early = noteOn(-3), late = noteOn(1000), inside = noteOn(5);
    VstMidiEvent sysex = noteOn(7, kVstSysExType), cut = noteOn(8, kVstMidiType, 16);
    EventList list({&early, nullptr, &sysex, &late, &cut, &inside});
    EXPECT_EQ(dispatch(probe, effProcessEvents, 0, 0, list.list()), 1);
    ASSERT_EQ(probe.events.size(), 3u);
    EXPECT_EQ(probe.events[0].deltaFrames, 0);
    EXPECT_EQ(probe.events[1].deltaFrames, 63);
    EXPECT_EQ(probe.events[2].deltaFrames, 5);
    EXPECT_EQ(std::memcmp(probe.events[2].midiData, inside.midiData, 4), 0);
    EXPECT_EQ(late.deltaFrames, 1000); // the host's record is left as it was

    probe.events.clear();
    EventList negative({&inside}, -1), none({&inside}, 0);
    for (VstEvents* hostile : {static_cast<VstEvents*>(nullptr), negative.list(), none.list()})
        dispatch(probe, effProcessEvents, 0, 0, hostile);
    dispatch(probe, effSetBlockSize, 0, 0);
    EventList single({&late});
    dispatch(probe, effProcessEvents, 0, 0, single.list());
    ASSERT_EQ(probe.events.size(), 1u);
    EXPECT_EQ(probe.events[0].deltaFrames, 0);

    probe.events.clear();
    std::vector<VstMidiEvent*> many(AudioEffectX::kMaxEventsPerCall + 100, &inside);
    EventList longList(many);
    dispatch(probe, effProcessEvents, 0, 0, longList.list());
    EXPECT_EQ(probe.events.size(), static_cast<size_t>(AudioEffectX::kMaxEventsPerCall));
}

TEST(AudioEffectX, ChecksChunkPointersAndSizes) {
    char bytes[8] = {};
    struct Row {
        void* data;
        VstIntPtr size;
        VstIntPtr expected;
        int32_t sizeSeen; // 0: the effect is not asked
    };
    const Row rows[] = {{bytes, 8, 1, 8},     {nullptr, 8, 0, 0},     {bytes, 0, 0, 0},
                        {bytes, -4, 0, 0},    {bytes, INT64_MIN, 0, 0}, {bytes, VstIntPtr(1) << 40, 1, INT32_MAX}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        Probe probe;
        EXPECT_EQ(dispatch(probe, effSetChunk, 0, row.size, row.data), row.expected);
        EXPECT_EQ(probe.chunkSizes, row.sizeSeen ? std::vector<int32_t>{row.sizeSeen} : std::vector<int32_t>{});
    }

    struct GetRow {
        void* data;
        int32_t size;
        VstIntPtr expected;
    };
    const GetRow getRows[] = {{bytes, 8, 8}, {bytes, 0, 0}, {bytes, -1, 0}, {nullptr, 8, 0}};
    for (const GetRow& row : getRows) {
        SCOPED_TRACE(row.size);
        Probe probe;
        probe.chunkData = row.data;
        probe.chunkAnswer = row.size;
        void* given = &probe;
        EXPECT_EQ(dispatch(probe, effGetChunk, 0, 0, &given), row.expected);
        EXPECT_EQ(given, row.expected ? row.data : nullptr);
        EXPECT_EQ(dispatch(probe, effGetChunk, 0, 0, nullptr), 0);
    }
}

TEST(AudioEffectX, TakesOnlyUsableRatesSizesProgramsAndArrangements) {
    Probe probe;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float rate : {nan, std::numeric_limits<float>::infinity(), 0.0f, -48000.0f, 48000.0f})
        dispatch(probe, effSetSampleRate, 0, 0, nullptr, rate);
    EXPECT_EQ(probe.getSampleRate(), 48000.0f);
    dispatch(probe, effSetBlockSize, 0, VstIntPtr(1) << 40);
    EXPECT_EQ(probe.getBlockSize(), INT32_MAX);
    dispatch(probe, effSetBlockSize, 0, -5);
    EXPECT_EQ(probe.getBlockSize(), -5);
    for (VstIntPtr program : {VstIntPtr(1), VstIntPtr(-1), VstIntPtr(1) << 32}) dispatch(probe, effSetProgram, 0, program);
    EXPECT_EQ(dispatch(probe, effGetProgram), 0);
    for (VstIntPtr mains : {1, 0, 7}) dispatch(probe, effMainsChanged, 0, mains);
    EXPECT_EQ(probe.resumes, 2);
    EXPECT_EQ(probe.suspends, 1);

    VstSpeakerArrangement stereo{kSpeakerArrStereo, 2}, mono{kSpeakerArrMono, 1};
    const auto arrangement = [&](VstSpeakerArrangement* input, VstSpeakerArrangement* output) {
        return dispatch(probe, effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(input), output);
    };
    EXPECT_EQ(arrangement(&stereo, &stereo), 1);
    EXPECT_EQ(arrangement(&mono, &stereo), 0);
    EXPECT_EQ(arrangement(nullptr, &stereo), 0);
    EXPECT_EQ(arrangement(&stereo, nullptr), 0);
}

TEST(AudioEffectX, AsksTheHostAndChecksItsAnswers) {
    struct Row {
        std::function<VstIntPtr(Probe&)> call;
        VstIntPtr hostSays;
        int32_t opcode;
        VstIntPtr value;
        VstIntPtr expected;
    };
    VstTimeInfo info{};
    const auto timeInfo = reinterpret_cast<VstIntPtr>(&info);
    const auto rate = [](Probe& p) { return static_cast<VstIntPtr>(p.updateSampleRate()); };
    const auto level = [](Probe& p) { return VstIntPtr(p.getCurrentProcessLevel()); };
    const Row rows[] = {
        {[](Probe& p) { return reinterpret_cast<VstIntPtr>(p.getTimeInfo(1024)); }, timeInfo, 7, 1024, timeInfo},
        {[](Probe& p) { return reinterpret_cast<VstIntPtr>(p.getTimeInfo(0)); }, 0, 7, 0, 0},
        {level, 4, 23, 0, 4},
        {level, 5, 23, 0, 0},
        {level, -1, 23, 0, 0},
        {rate, 96000, 16, 0, 96000},
        {rate, 0, 16, 0, 44100},
        {rate, -1, 16, 0, 44100},
        {[](Probe& p) { return p.wantEvents(), VstIntPtr(0); }, 0, 6, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        Probe probe;
        hostAnswer = row.hostSays;
        EXPECT_EQ(row.call(probe), row.expected);
        ASSERT_EQ(hostCalls.size(), 1u);
        EXPECT_EQ(hostCalls[0].opcode, row.opcode);
        EXPECT_EQ(hostCalls[0].value, row.value);
        Probe withoutHost(nullptr); // no callback: neutral answers, nothing called
        EXPECT_EQ(row.call(withoutHost), row.opcode == 16 ? 44100 : 0);
    }
}

TEST(AudioEffectX, NoExceptionLeavesAnEntry) {
    Probe probe;
    probe.throwing = true;
    AEffect* effect = probe.getAeffect();
    VstMidiEvent event = noteOn(0);
    EventList list({&event});
    char text[64] = {};
    void* chunk = nullptr;
    VstSpeakerArrangement stereo{kSpeakerArrStereo, 2};
    struct Row {
        int32_t opcode;
        VstIntPtr value;
        void* ptr;
    };
    const Row rows[] = {{effOpen, 0, nullptr},           {effMainsChanged, 1, nullptr},
                        {effGetProgramName, 0, text},    {effGetParamDisplay, 0, text},
                        {effGetEffectName, 0, text},     {effGetChunk, 0, &chunk},
                        {effSetChunk, 8, text},          {effProcessEvents, 0, list.list()},
                        {effCanDo, 0, text},             {effGetPlugCategory, 0, nullptr},
                        {effSetSpeakerArrangement, reinterpret_cast<VstIntPtr>(&stereo), &stereo}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.opcode);
        EXPECT_EQ(effect->dispatcher(effect, row.opcode, 0, row.value, row.ptr, 0.0f), 0);
        ASSERT_FALSE(probe.failures.empty());
        EXPECT_EQ(probe.failures.back(), "dispatcher opcode " + std::to_string(row.opcode) + ": probe failure");
    }
    EXPECT_EQ(text[0], '\0');

    float in[2] = {1, 1}, outLeft[2] = {9, 9}, outRight[2] = {9, 9};
    double dIn[2] = {1, 1}, dOutLeft[2] = {9, 9}, dOutRight[2] = {9, 9};
    float* inputs[] = {in, in};
    float* outputs[] = {outLeft, outRight};
    double* dInputs[] = {dIn, dIn};
    double* dOutputs[] = {dOutLeft, dOutRight};
    effect->process(effect, inputs, outputs, 2);
    EXPECT_EQ(outLeft[1], 9.0f); // accumulating: left as it was
    effect->processReplacing(effect, inputs, outputs, 2);
    effect->processDoubleReplacing(effect, dInputs, dOutputs, 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(outLeft[i] == 0 && outRight[i] == 0 && dOutLeft[i] == 0 && dOutRight[i] == 0) << i;
    effect->setParameter(effect, 0, 0.5f);
    EXPECT_EQ(effect->getParameter(effect, 0), 0.0f);
    EXPECT_EQ(probe.failures.back(), "getParameter: probe failure");

    const int destroyedBefore = Probe::destroyed;
    Probe* closing = new Probe();
    closing->throwing = true;
    AEffect* closingEffect = closing->getAeffect();
    EXPECT_EQ(closingEffect->dispatcher(closingEffect, effClose, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(Probe::destroyed, destroyedBefore + 1); // deleted although close threw
}

} // namespace
