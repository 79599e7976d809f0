// The test host through a real plug-in module: the module's two exported names, refusals that name the
// file and the reason, every typed call and callback answer, latency, precision and blocking, chunks,
// two instances on two threads.
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
    explicit Stereo(size_t frames = 0, unsigned seed = 0) : left(frames), right(frames) {
        std::mt19937 generator(seed);
        std::uniform_real_distribution<float> sample(-1.0f, 1.0f); // float values: exact in both precisions
        for (size_t i = 0; seed != 0 && i < frames; ++i)
            left[i] = sample(generator), right[i] = sample(generator);
    }
    Sample** channels(size_t offset = 0) {
        pointers[0] = left.data() + offset;
        pointers[1] = right.data() + offset;
        return pointers;
    }
    bool operator==(const Stereo& other) const { return left == other.left && right == other.right; }
    std::vector<Sample> left, right;
    Sample* pointers[2] = {};
};

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
        const auto frames = int32_t(std::min<size_t>(blocks[i % blocks.size()], input.left.size() - done));
        if constexpr (sizeof(Sample) == sizeof(double))
            host.processDoubleReplacing(input.channels(done), target.channels(done), frames);
        else
            host.processReplacing(input.channels(done), target.channels(done), frames);
        done += size_t(frames);
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
    EXPECT_TRUE(dlLayerSymbol(library, "main") &&
                dlLayerSymbol(library, "main") == dlLayerSymbol(library, "VSTPluginMain"));
    dlLayerClose(library);
}

TEST(CoreVhst, RefusesWhatGivesNoEffectNamingTheFileAndTheReason) {
    TempFolder folder("CoreVhst");
    writeBytes(folder / "text.so", "not a library\n");
    CoreVhst::Setup version0, tooFast;
    version0.version = 0;
    tooFast.sampleRate = 5e6; // the plug-in's constructor throws; the entry gives null
    const struct {
        std::string path;
        CoreVhst::Setup setup;
        const char* reason;
    } rows[] = {{folder / "missing.so", {}, "no such plug-in file"},
                {folder / "text.so", {}, "not a loadable library"},
                {NO_ENTRY_LIBRARY, {}, "no VST entry"},
                {testPlugin, version0, "the VST entry gave no effect"},
                {testPlugin, tooFast, "the VST entry gave no effect"}};
    for (const auto& row : rows) {
        try {
            CoreVhst host(row.path, row.setup);
            ADD_FAILURE() << row.path << " loaded";
        } catch (const CoreAnsx& error) {
            const std::string message = error.c_str();
            EXPECT_TRUE(message.rfind(row.path + ": ", 0) == 0 &&
                        message.find(row.reason) != std::string::npos)
                << message;
        }
    }
}

TEST(CoreVhst, DrivesThePlugInAndAnswersItsCallbacks) {
    CoreVhst::Setup fast;
    fast.sampleRate = 96000.0; // answered while the entry runs: the latency is a millisecond at that rate
    EXPECT_EQ(CoreVhst(testPlugin, fast).effect()->initialDelay, 96);
    auto host = readyHost();
    EXPECT_EQ(host->effectName(), "TestGain");
    EXPECT_EQ(host->vendorString(), ""); // not answered: the buffer stays empty
    // Controller 7 becomes an automation of parameter 0, reported by the calling thread.
    VstMidiEvent controller{
        kVstMidiType, sizeof(VstMidiEvent), 0, 0, 0, 0, {char(0xB0), 7, 127, 0}, 0, 0, 0, 0};
    EXPECT_EQ(host->processEvents({controller}), 1);
    EXPECT_EQ(host->getParameter(0), 1.0f);
    const std::vector<CoreVhst::Automation> automated = host->automations();
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_TRUE(automated[0].index == 0 && automated[0].value == 1.0f &&
                automated[0].thread == std::this_thread::get_id());

    render(*host, Stereo<float>(1000), {250});
    const auto time =
        reinterpret_cast<const VstTimeInfo*>(host->answer(audioMasterGetTime, 0, 0, nullptr, 0.0f));
    EXPECT_TRUE(time->samplePos == 1000.0 && time->sampleRate == 44100.0 && time->tempo == 120.0 &&
                time->flags == (kVstTransportPlaying | kVstTempoValid));
    char vendor[64] = {}, product[64] = {};
    auto answer = [&](int32_t opcode, char* buffer = nullptr) {
        return host->answer(opcode, 0, 0, buffer, 0.0f);
    };
    EXPECT_EQ(std::vector<VstIntPtr>(
                  {answer(audioMasterGetCurrentProcessLevel), answer(audioMasterGetBlockSize),
                   answer(audioMasterGetVendorString, vendor), answer(audioMasterGetVendorString),
                   answer(audioMasterGetProductString, product)}),
              std::vector<VstIntPtr>({4, 512, 1, 0, 1}));
    EXPECT_EQ(std::string(vendor) + "|" + product, "Vorlan|CoreVhst");

    // Once closed, every call is left undone and gives its neutral answer.
    host->close();
    EXPECT_EQ(host->programName() + host->parameterName(0) + host->parameterLabel(0) +
                  host->parameterDisplay(0) + host->effectName() + host->productString(),
              "");
    EXPECT_EQ(host->getProgram() + host->vendorVersion() + host->vstVersion() + host->plugCategory() +
                  host->canDo("x") + host->tailSize() + host->midiInputChannels() +
                  host->midiOutputChannels() + host->canBeAutomated(0) +
                  host->setSpeakerArrangement(nullptr, nullptr),
              0);
    host->setProgram(1);
    host->processReplacing(nullptr, nullptr, 16);
    EXPECT_EQ(host->effect(), nullptr);
}

TEST(CoreVhst, ProcessCallsReachTheirEntriesAndTheChunkCarriesTheGain) {
    Stereo<float> impulse(2048);
    impulse.left[300] = 1.0f;
    const Stereo<float> delayed = render(*readyHost(), impulse, {512, 37});
    for (size_t i = 0; i < delayed.left.size(); ++i)
        ASSERT_EQ(delayed.left[i], i == 300 + 44 ? 1.0f : 0.0f) << i;
    // The double call gives the float call's result unrounded; process adds to what the outputs hold.
    const Stereo<double> reference = render(*readyHost(0.3f), Stereo<double>(6000, 7), {512});
    const Stereo<float> input(6000, 7), single = render(*readyHost(0.3f), input, {1, 700}, true);
    Stereo<float> sum(6000), source = input;
    std::fill(sum.left.begin(), sum.left.end(), 0.25f);
    readyHost(0.3f)->process(source.channels(), sum.channels(), 6000);
    for (size_t i = 0; i < sum.left.size(); ++i)
        ASSERT_TRUE(single.left[i] == float(reference.left[i]) && sum.left[i] == 0.25f + single.left[i]) << i;

    auto first = readyHost(0.3f), second = readyHost();
    const std::vector<uint8_t> chunk = first->getChunk();
    EXPECT_EQ(second->setChunk(chunk.data(), VstIntPtr(chunk.size())), 1);
    EXPECT_TRUE(second->getParameter(0) == 0.3f && second->getChunk() == chunk && chunk.size() == 4);
    EXPECT_EQ(second->setChunk(nullptr, 4), 0);
}

TEST(CoreVhst, TwoInstancesOnTwoThreadsEachGiveWhatTheyGiveAlone) {
    const Stereo<float> inputA(20000, 1), inputB(20000, 2);
    auto soloA = readyHost(0.3f), soloB = readyHost(0.8f);
    const Stereo<float> aloneA = render(*soloA, inputA, {128}), aloneB = render(*soloB, inputB, {128});
    auto hostA = readyHost(0.3f), hostB = readyHost(0.8f);
    Stereo<float> togetherA, togetherB;
    std::thread threadA([&] { togetherA = render(*hostA, inputA, {128}); });
    std::thread threadB([&] { togetherB = render(*hostB, inputB, {128}); });
    threadA.join();
    threadB.join();
    EXPECT_TRUE(togetherA == aloneA && togetherB == aloneB);
    hostA.reset(); // closing one leaves the other running
    EXPECT_TRUE(render(*hostB, inputA, {128}) == render(*soloB, inputA, {128}));
}

} // namespace
