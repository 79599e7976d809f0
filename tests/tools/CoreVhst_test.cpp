#include "tools/CoreVhst.h"

#include "base/CoreAnsx.h"
#include "platform/DlLayer.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace {

const std::string testPlugin = TEST_GAIN_PLUGIN;
constexpr int eventsReadPerList = 65536;

template <class Sample> struct Stereo {
    explicit Stereo(size_t frames = 0) : left(frames), right(frames) {}
    Sample** channels(size_t offset = 0) {
        pointers[0] = left.data() + offset;
        pointers[1] = right.data() + offset;
        return pointers;
    }
    bool operator==(const Stereo& other) const { return left == other.left && right == other.right; }
    std::vector<Sample> left, right;
    Sample* pointers[2] = {};
};

template <class Sample> Stereo<Sample> noise(size_t frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    Stereo<Sample> signal(frames);
    for (size_t i = 0; i < frames; ++i) signal.left[i] = sample(generator), signal.right[i] = sample(generator);
    return signal;
}

std::unique_ptr<CoreVhst> readyHost(int32_t block = 512, const std::string& path = testPlugin) {
    auto host = std::make_unique<CoreVhst>(path);
    host->open();
    host->setSampleRate(44100.0);
    host->setBlockSize(block);
    host->resume();
    return host;
}

// The input through the host in blocks of the given sizes, repeated to the end.
template <class Sample>
Stereo<Sample> render(CoreVhst& host, Stereo<Sample> input, const std::vector<int32_t>& blocks, bool inPlace = false) {
    Stereo<Sample> output(input.left.size());
    Stereo<Sample>& target = inPlace ? input : output;
    size_t done = 0;
    for (size_t i = 0; done < input.left.size(); ++i) {
        const auto frames = std::min<size_t>(static_cast<size_t>(blocks[i % blocks.size()]), input.left.size() - done);
        if constexpr (sizeof(Sample) == sizeof(double))
            host.processDoubleReplacing(input.channels(done), target.channels(done), static_cast<int32_t>(frames));
        else
            host.processReplacing(input.channels(done), target.channels(done), static_cast<int32_t>(frames));
        done += frames;
    }
    return target;
}

TEST(CoreVhst, PlugInExportsExactlyTheTwoEntryNamesOfOneFunction) {
    FILE* listing = popen((std::string(NM_PROGRAM) + " -D --defined-only '" + testPlugin + "'").c_str(), "r");
    ASSERT_NE(listing, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, listing)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        names.insert(name);
    }
    EXPECT_EQ(pclose(listing), 0);
    EXPECT_EQ(names, (std::set<std::string>{"VSTPluginMain", "main"}));

    void* library = dlLayerOpenNow(testPlugin.c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_NE(dlLayerSymbol(library, "main"), nullptr);
    EXPECT_EQ(dlLayerSymbol(library, "main"), dlLayerSymbol(library, "VSTPluginMain"));
    dlLayerClose(library);
}

TEST(CoreVhst, RefusesWhatGivesNoEffectNamingTheFileAndTheReason) {
    TempFolder folder("CoreVhst");
    writeBytes(folder / "text.so", "not a library\n");
    CoreVhst::Setup version0, tooFast;
    version0.version = 0;
    tooFast.sampleRate = 5e6; // the plug-in's constructor throws; the entry gives null
    struct Row {
        std::string path;
        CoreVhst::Setup setup;
        const char* reason;
    };
    const Row rows[] = {{folder / "missing.so", {}, "no such plug-in file"},
                        {folder / "text.so", {}, "not a loadable library"},
                        {NO_ENTRY_LIBRARY, {}, "no VST entry"},
                        {testPlugin, version0, "the VST entry gave no effect"},
                        {testPlugin, tooFast, "the VST entry gave no effect"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        try {
            CoreVhst host(row.path, row.setup);
            ADD_FAILURE() << "loaded";
        } catch (const CoreAnsx& error) {
            const std::string message = error.c_str();
            EXPECT_EQ(message.rfind(row.path + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(row.reason), std::string::npos) << message;
        }
    }
}

TEST(CoreVhst, DrivesThePlugInThroughTheInterface) {
    auto host = readyHost();
    const AEffect& effect = *host->effect();
    EXPECT_EQ(effect.numPrograms, 1);
    EXPECT_EQ(effect.numParams, 1);
    EXPECT_EQ(effect.numInputs, 2);
    EXPECT_EQ(effect.numOutputs, 2);
    EXPECT_EQ(effect.flags, (1 << 4) | (1 << 5) | (1 << 12));
    EXPECT_EQ(effect.uniqueID, 0x5467476E);
    EXPECT_EQ(effect.initialDelay, 44); // one millisecond at the host's 44.1 kHz
    EXPECT_EQ(host->effectName(), "TestGain");
    EXPECT_EQ(host->vendorString(), "Vorlan");
    EXPECT_EQ(host->productString(), "TestGain");
    EXPECT_EQ(host->programName(), "Default");
    EXPECT_EQ(host->parameterName(0), "Gain");
    EXPECT_EQ(host->parameterDisplay(0), "1.00000"); // "1.000000" cut to 8 bytes with the NUL
    EXPECT_EQ(host->parameterDisplay(1), "");
    EXPECT_EQ(host->parameterLabel(0), "");
    EXPECT_EQ(host->vendorVersion(), 100);
    EXPECT_EQ(host->vstVersion(), 2400);
    EXPECT_EQ(host->plugCategory(), 1);
    EXPECT_EQ(host->midiInputChannels(), 1);
    EXPECT_EQ(host->midiOutputChannels(), 0);
    EXPECT_EQ(host->tailSize(), 0);
    EXPECT_TRUE(host->canBeAutomated(0));
    EXPECT_FALSE(host->canBeAutomated(1));
    EXPECT_EQ(host->canDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(host->canDo("sendVstMidiEvent"), -1);
    EXPECT_EQ(host->canDo(nullptr), -1);
    VstSpeakerArrangement stereo{kSpeakerArrStereo, 2}, mono{kSpeakerArrMono, 1};
    EXPECT_TRUE(host->setSpeakerArrangement(&stereo, &stereo));
    EXPECT_FALSE(host->setSpeakerArrangement(&mono, &stereo));
    EXPECT_FALSE(host->setSpeakerArrangement(nullptr, &stereo));

    render(*host, Stereo<float>(1000), {250});
    const auto time = reinterpret_cast<const VstTimeInfo*>(host->answer(audioMasterGetTime, 0, 0, nullptr, 0.0f));
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->samplePos, 1000.0);
    EXPECT_EQ(time->sampleRate, 44100.0);
    EXPECT_EQ(time->tempo, 120.0);
    EXPECT_EQ(time->flags, kVstTransportPlaying | kVstTempoValid);
    EXPECT_EQ(host->answer(audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f), 4);
    EXPECT_EQ(host->answer(audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 512);

    host->close();
    EXPECT_EQ(host->effect(), nullptr);
    EXPECT_EQ(host->effectName(), "");
    host->processReplacing(nullptr, nullptr, 16); // nothing left to call
}

TEST(CoreVhst, AnswersCallbacksMadeWhileTheEntryRuns) {
    for (double rate : {44100.0, 96000.0}) {
        CoreVhst::Setup setup;
        setup.sampleRate = rate;
        CoreVhst host(testPlugin, setup);
        EXPECT_EQ(host.effect()->initialDelay, static_cast<int32_t>(rate / 1000)) << rate;
    }
}

TEST(CoreVhst, DelaysByTheReportedLatencyInEitherPrecisionAndAnyBlocking) {
    Stereo<float> impulse(2048);
    impulse.left[300] = 1.0f;
    auto host = readyHost();
    const int32_t latency = host->effect()->initialDelay;
    const Stereo<float> delayed = render(*host, impulse, {512});
    for (size_t i = 0; i < delayed.left.size(); ++i)
        ASSERT_EQ(delayed.left[i], i == 300u + static_cast<size_t>(latency) ? 1.0f : 0.0f) << i;

    const Stereo<double> input = noise<double>(6000, 7);
    Stereo<float> inputFloat(input.left.size());
    for (size_t i = 0; i < input.left.size(); ++i)
        inputFloat.left[i] = static_cast<float>(input.left[i]), inputFloat.right[i] = static_cast<float>(input.right[i]);
    const auto renderAt = [](float gain, auto signal, const std::vector<int32_t>& blocks, bool inPlace) {
        auto host = readyHost();
        host->setParameter(0, gain);
        return render(*host, signal, blocks, inPlace);
    };
    const Stereo<double> reference = renderAt(0.3f, input, {512}, false);
    const Stereo<float> single = renderAt(0.3f, inputFloat, {512}, false);
    for (size_t i = 0; i < reference.left.size(); ++i)
        ASSERT_TRUE(single.left[i] == static_cast<float>(reference.left[i]) &&
                    single.right[i] == static_cast<float>(reference.right[i]))
            << i;
    const std::vector<std::vector<int32_t>> blockings = {{1}, {37}, {4096}, {1, 700, 3, 512, 1024, 90}};
    for (const auto& blocks : blockings) {
        EXPECT_TRUE(renderAt(0.3f, input, blocks, false) == reference) << blocks[0];
        EXPECT_TRUE(renderAt(0.3f, input, blocks, true) == reference) << blocks[0];
    }

    auto accumulating = readyHost();
    accumulating->setParameter(0, 0.3f);
    Stereo<float> sum(inputFloat.left.size());
    std::fill(sum.left.begin(), sum.left.end(), 0.25f);
    accumulating->process(inputFloat.channels(), sum.channels(), static_cast<int32_t>(sum.left.size()));
    for (size_t i = 0; i < sum.left.size(); ++i) ASSERT_EQ(sum.left[i], 0.25f + single.left[i]) << i;
}

VstMidiEvent midi(int32_t frame, int status, int data1, int data2, int32_t type = kVstMidiType) {
    VstMidiEvent event{};
    event.type = type;
    event.byteSize = sizeof(VstMidiEvent);
    event.deltaFrames = frame;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(data1);
    event.midiData[2] = static_cast<char>(data2);
    return event;
}

TEST(CoreVhst, HandsThePlugInOnlyCheckedMidiEvents) {
    auto host = readyHost(64);
    const std::vector<VstMidiEvent> events = {midi(-3, 0x90, 60, 127), midi(1000, 0x91, 61, 127),
                                              midi(5, 0x90, 62, 127), midi(9, 0x90, 62, 127, kVstSysExType),
                                              midi(0, 0xB0, 7, 127)};
    EXPECT_EQ(host->processEvents(events), 1);
    Stereo<float> clicks = render(*host, Stereo<float>(64), {64});
    for (size_t i = 0; i < 64; ++i) EXPECT_EQ(clicks.left[i], i == 0 || i == 5 || i == 63 ? 1.0f : 0.0f) << i;
    EXPECT_EQ(host->getParameter(0), 1.0f);
    const std::vector<CoreVhst::Automation> automated = host->automations();
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].index, 0);
    EXPECT_EQ(automated[0].value, 1.0f);
    EXPECT_EQ(automated[0].thread, std::this_thread::get_id());

    host->processEvents(std::vector<VstMidiEvent>(eventsReadPerList + 100, midi(10, 0x90, 60, 127)));
    clicks = render(*host, Stereo<float>(64), {64});
    EXPECT_EQ(clicks.left[10], static_cast<float>(eventsReadPerList));
    EXPECT_EQ(host->dispatch(effProcessEvents), 1); // a null list
}

TEST(CoreVhst, ChunkCarriesTheGainToAnotherInstanceAndBadChunksChangeNothing) {
    auto first = readyHost(), second = readyHost();
    first->setParameter(0, 0.3f);
    const std::vector<uint8_t> chunk = first->getChunk();
    ASSERT_EQ(chunk.size(), 8u);
    EXPECT_EQ(second->setChunk(chunk.data(), static_cast<VstIntPtr>(chunk.size())), 1);
    EXPECT_EQ(second->getParameter(0), 0.3f);
    EXPECT_EQ(second->getChunk(), chunk);

    const std::string garbage = "XXXXXXXX";
    struct Row {
        const void* data;
        VstIntPtr size;
    };
    const Row rows[] = {{nullptr, 8}, {chunk.data(), 0}, {chunk.data(), -1}, {chunk.data(), VstIntPtr(1) << 40},
                        {chunk.data(), 4}, {garbage.data(), 8}};
    for (const Row& row : rows) EXPECT_EQ(second->setChunk(row.data, row.size), 0) << row.size;
    second->setParameter(0, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(second->getParameter(0), 0.3f);
}

TEST(CoreVhst, TwoInstancesOnTwoThreadsEachGiveWhatTheyGiveAlone) {
    const Stereo<float> inputA = noise<float>(20000, 1), inputB = noise<float>(20000, 2);
    auto soloA = readyHost(), soloB = readyHost();
    soloA->setParameter(0, 0.3f);
    soloB->setParameter(0, 0.8f);
    const Stereo<float> aloneA = render(*soloA, inputA, {128}), aloneB = render(*soloB, inputB, {128});

    auto hostA = readyHost(), hostB = readyHost();
    hostA->setParameter(0, 0.3f);
    hostB->setParameter(0, 0.8f);
    Stereo<float> togetherA, togetherB;
    std::thread threadA([&] { togetherA = render(*hostA, inputA, {128}); });
    std::thread threadB([&] { togetherB = render(*hostB, inputB, {128}); });
    threadA.join();
    threadB.join();
    EXPECT_TRUE(togetherA == aloneA);
    EXPECT_TRUE(togetherB == aloneB);

    hostA.reset(); // closing one leaves the other running
    EXPECT_TRUE(render(*hostB, inputA, {128}) == render(*soloB, inputA, {128}));
}

TEST(CoreVhst, CreatesAndClosesTwentyTimesThenLoadsAgain) {
    for (int cycle = 0; cycle < 20; ++cycle) {
        auto host = readyHost(256);
        render(*host, noise<float>(1024, static_cast<unsigned>(cycle)), {256});
        host->suspend();
        host->close();
    }
    auto host = readyHost();
    EXPECT_EQ(host->effect()->initialDelay, 44);
}

} // namespace
