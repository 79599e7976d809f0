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

template <class Sample>
struct Stereo {
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

template <class Sample>
Stereo<Sample> noise(size_t frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f); // float values: exact in both precisions
    Stereo<Sample> signal(frames);
    for (size_t i = 0; i < frames; ++i)
        signal.left[i] = sample(generator), signal.right[i] = sample(generator);
    return signal;
}

std::unique_ptr<CoreVhst> readyHost(float gain = 0.5f) {
    auto host = std::make_unique<CoreVhst>(testPlugin);
    host->open();
    host->setSampleRate(44100.0);
    host->setBlockSize(512);
    host->resume();
    host->setParameter(0, gain);
    return host;
}

// The input through the host in blocks of the given sizes, repeated to the end.
template <class Sample>
Stereo<Sample> render(CoreVhst& host, Stereo<Sample> input, const std::vector<int32_t>& blocks,
                      bool inPlace = false) {
    Stereo<Sample> output(input.left.size());
    Stereo<Sample>& target = inPlace ? input : output;
    for (size_t i = 0, done = 0; done < input.left.size(); ++i) {
        const auto frames =
            static_cast<int32_t>(std::min<size_t>(blocks[i % blocks.size()], input.left.size() - done));
        if constexpr (sizeof(Sample) == sizeof(double))
            host.processDoubleReplacing(input.channels(done), target.channels(done), frames);
        else
            host.processReplacing(input.channels(done), target.channels(done), frames);
        done += static_cast<size_t>(frames);
    }
    return target;
}

TEST(CoreVhst, PlugInExportsExactlyTheTwoEntryNamesOfOneFunction) {
    FILE* listing = popen((std::string(NM_PROGRAM) + " -D --defined-only '" + testPlugin + "'").c_str(), "r");
    ASSERT_NE(listing, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, listing)) {
        std::string address, type, name;
        std::istringstream(line) >> address >> type >> name;
        names.insert(name);
    }
    EXPECT_EQ(pclose(listing), 0);
    EXPECT_EQ(names, (std::set<std::string>{"VSTPluginMain", "main"}));

    void* library = dlLayerOpenNow(testPlugin.c_str());
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
        try {
            CoreVhst host(row.path, row.setup);
            ADD_FAILURE() << row.path << " loaded";
        } catch (const CoreAnsx& error) {
            const std::string message = error.c_str();
            EXPECT_EQ(message.rfind(row.path + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(row.reason), std::string::npos) << message;
        }
    }
}

TEST(CoreVhst, DrivesThePlugInAndAnswersItsCallbacks) {
    auto host = readyHost();
    EXPECT_EQ(host->effect()->uniqueID, 0x5467476E);
    EXPECT_EQ(host->effectName(), "TestGain");
    EXPECT_EQ(host->vendorString(), ""); // not answered: the buffer stays empty

    // controller 7 becomes an automation of parameter 0, reported by the calling thread
    VstMidiEvent controller{
        kVstMidiType, sizeof(VstMidiEvent), 0, 0, 0, 0, {char(0xB0), 7, 127, 0}, 0, 0, 0, 0};
    EXPECT_EQ(host->processEvents({controller}), 1);
    EXPECT_EQ(host->getParameter(0), 1.0f);
    const std::vector<CoreVhst::Automation> automated = host->automations();
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_TRUE(automated[0].index == 0 && automated[0].value == 1.0f);
    EXPECT_EQ(automated[0].thread, std::this_thread::get_id());

    render(*host, Stereo<float>(1000), {250});
    const auto time =
        reinterpret_cast<const VstTimeInfo*>(host->answer(audioMasterGetTime, 0, 0, nullptr, 0.0f));
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
    const auto latency = static_cast<size_t>(host->effect()->initialDelay);
    const Stereo<float> delayed = render(*host, impulse, {512});
    for (size_t i = 0; i < delayed.left.size(); ++i)
        ASSERT_EQ(delayed.left[i], i == 300 + latency ? 1.0f : 0.0f) << i;

    const Stereo<double> input = noise<double>(6000, 7);
    const Stereo<float> inputFloat = noise<float>(6000, 7);
    const Stereo<double> reference = render(*readyHost(0.3f), input, {512});
    const Stereo<float> single = render(*readyHost(0.3f), inputFloat, {512});
    for (size_t i = 0; i < reference.left.size(); ++i)
        ASSERT_TRUE(single.left[i] == static_cast<float>(reference.left[i]) &&
                    single.right[i] == static_cast<float>(reference.right[i]))
            << i;
    for (const std::vector<int32_t>& blocks :
         {std::vector<int32_t>{1}, {37}, {4096}, {1, 700, 3, 512, 1024, 90}}) {
        EXPECT_TRUE(render(*readyHost(0.3f), input, blocks) == reference) << blocks[0];
        EXPECT_TRUE(render(*readyHost(0.3f), input, blocks, true) == reference) << blocks[0];
    }

    Stereo<float> sum(6000), source = inputFloat;
    std::fill(sum.left.begin(), sum.left.end(), 0.25f);
    readyHost(0.3f)->process(source.channels(), sum.channels(), 6000);
    for (size_t i = 0; i < sum.left.size(); ++i) ASSERT_EQ(sum.left[i], 0.25f + single.left[i]) << i;
}

TEST(CoreVhst, ChunkCarriesTheGainToAnotherInstance) {
    auto first = readyHost(0.3f), second = readyHost();
    const std::vector<uint8_t> chunk = first->getChunk();
    ASSERT_EQ(chunk.size(), 4u);
    EXPECT_EQ(second->setChunk(chunk.data(), 4), 1);
    EXPECT_EQ(second->getParameter(0), 0.3f);
    EXPECT_EQ(second->getChunk(), chunk);
    EXPECT_EQ(second->setChunk(nullptr, 4), 0);
}

TEST(CoreVhst, TwoInstancesOnTwoThreadsEachGiveWhatTheyGiveAlone) {
    const Stereo<float> inputA = noise<float>(20000, 1), inputB = noise<float>(20000, 2);
    auto soloA = readyHost(0.3f), soloB = readyHost(0.8f);
    const Stereo<float> aloneA = render(*soloA, inputA, {128}), aloneB = render(*soloB, inputB, {128});

    auto hostA = readyHost(0.3f), hostB = readyHost(0.8f);
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
    for (unsigned cycle = 0; cycle < 20; ++cycle) {
        auto host = readyHost();
        render(*host, noise<float>(1024, cycle), {256});
        host->suspend();
        host->close();
    }
    EXPECT_EQ(readyHost()->effect()->initialDelay, 44);
}

} // namespace
