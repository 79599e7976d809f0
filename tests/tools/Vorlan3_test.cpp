// The built plug-in through the test host, as a Linux host drives it: its exports and dispatcher
// answers, its lifecycle, impulses at the reported latency, block and precision independence, chunks,
// two instances, MIDI, packed programs and bad folders. Every test plays in a plug-in folder of its own.
#include "tests/common/CountingAllocator.h"
#include "tests/common/XvfbHarness.h"
#include "tests/tools/PluginFolder.h"

#include "platform/DlLayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <xmmintrin.h>

namespace {

constexpr auto deadline = std::chrono::seconds(20);

// Polls until done() holds or the deadline passes, processing silence meanwhile when a host is given.
template <class Done>
bool eventually(Done done, CoreVhst* host = nullptr) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    StereoSignal<float> silence(256), out(256);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        if (host) host->processReplacing(silence.channels(), out.channels(), 256);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

StereoSignal<float> impulseAt(size_t frames, size_t at) {
    StereoSignal<float> signal(frames);
    signal.left[at] = signal.right[at] = 1.0f;
    return signal;
}

// After a program change the chunk names the new slot once the load has read it; the display's batch
// ends its muted pass-through a tick later. Waits until an impulse at 0 comes back as heard() expects
// of the output and the latency.
template <class Heard>
bool playsOnceLoaded(CoreVhst& host, Heard heard) {
    return eventually([&] {
        const size_t delay = size_t(host.effect()->initialDelay);
        return heard(renderBlocks(host, impulseAt(delay + 1024, 0), {512}), delay);
    });
}

TEST(Vorlan3, ExportsExactlyTheTwoEntries) {
    PluginFolder folder;
    FILE* pipe = popen((std::string(NM_PROGRAM) + " -D --defined-only " + folder.plugin()).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        fields >> address >> kind >> name;
        if (!name.empty()) names.insert(name);
    }
    pclose(pipe);
    EXPECT_EQ(names, (std::set<std::string>{"VSTPluginMain", "main"}));

    // Version 0 gets no effect.
    CoreVhst::Setup old;
    old.version = 0;
    EXPECT_THROW(CoreVhst(folder.plugin(), old), CoreAnsx);
}

TEST(Vorlan3, AnswersTheDispatcherTable) {
    PluginFolder folder;
    folder.settings(PluginFolder::demoSettings("<DSPBUFFER>512</DSPBUFFER>"));
    int32_t booted = 0;
    auto host = folder.start(44100.0, 512, true, &booted);
    EXPECT_EQ(booted, 1);
    const AEffect* effect = host->effect();
    EXPECT_EQ(effect->magic, kEffectMagic);
    EXPECT_EQ(effect->numPrograms, 1);
    EXPECT_EQ(effect->numParams, 10);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags & (effFlagsCanMono | effFlagsCanReplacing | effFlagsCanDoubleReplacing |
                               effFlagsProgramChunks | effFlagsHasEditor),
              effFlagsCanMono | effFlagsCanReplacing | effFlagsCanDoubleReplacing | effFlagsProgramChunks |
                  effFlagsHasEditor);
    EXPECT_EQ(effect->uniqueID, 0x6F303130);
    EXPECT_EQ(host->effectName(), "Vorlan3");
    EXPECT_EQ(host->productString(), "Vorlan3");
    EXPECT_EQ(host->vendorString(), "Lisko");
    EXPECT_EQ(host->vendorVersion(), 1200);
    EXPECT_EQ(host->vstVersion(), 2400);
    EXPECT_EQ(host->plugCategory(), 1);
    EXPECT_EQ(host->midiInputChannels(), 1);
    EXPECT_EQ(host->midiOutputChannels(), 0);
    EXPECT_EQ(host->programName(), "Vorlan3 lisko");
    for (const char* yes : {"receiveVstEvents", "receiveVstMidiEvent"}) EXPECT_EQ(host->canDo(yes), 1);
    for (const char* no : {"sendVstMidiEvent", "offline", ""}) EXPECT_EQ(host->canDo(no), -1);
    EXPECT_EQ(host->dispatch(effCanDo, 0, 0, nullptr), -1);

    char untouched[32];
    std::memset(untouched, 'x', sizeof untouched);
    EXPECT_EQ(host->dispatch(effGetProgramNameIndexed, 1, 0, untouched), 0);
    EXPECT_EQ(untouched[0], 'x');
    for (int32_t index : {0, 9}) {
        for (int32_t opcode : {effGetParamName, effGetParamDisplay, effGetParamLabel}) {
            char text[16];
            std::memset(text, 'x', sizeof text);
            host->dispatch(opcode, index, 0, text);
            EXPECT_NE(std::memchr(text, 0, 8), nullptr) << opcode << " " << index;
            EXPECT_EQ(text[8], 'x');
        }
        EXPECT_TRUE(host->canBeAutomated(index));
    }
    for (int32_t index : {-1, 10}) {
        for (int32_t opcode : {effGetParamName, effGetParamDisplay, effGetParamLabel}) {
            char text[16];
            std::memset(text, 'x', sizeof text);
            host->dispatch(opcode, index, 0, text);
            EXPECT_EQ(text[0], 'x');
        }
        EXPECT_EQ(host->getParameter(index), 0.0f);
    }
    struct Arrangement {
        int32_t type;
        bool accepted;
    };
    for (const Arrangement row : {Arrangement{0, true}, {1, true}, {11, false}, {5, false}}) {
        VstSpeakerArrangement in{}, out{};
        in.type = row.type;
        out.type = 1;
        EXPECT_EQ(host->setSpeakerArrangement(&in, &out), row.accepted) << row.type;
    }
    VstSpeakerArrangement stereo{};
    stereo.type = 1;
    EXPECT_FALSE(host->setSpeakerArrangement(nullptr, &stereo));
}

TEST(Vorlan3, TakesItsFaceFromTheSettings) {
    struct Row {
        const char* more;
        int32_t id;
        int32_t inputs;
    };
    const Row rows[] = {
        {"<MAGIC>abcd</MAGIC>", 0x61626364, 2},
        {"<MAGIC>ab</MAGIC>", 0x61620000, 2},
        {"<LEGACYSTEREOCHANNEL>0.0</LEGACYSTEREOCHANNEL>", 0x6F303130, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.more);
        PluginFolder folder;
        folder.settings(PluginFolder::demoSettings(row.more));
        CoreVhst host(folder.plugin());
        EXPECT_EQ(host.effect()->uniqueID, row.id);
        EXPECT_EQ(host.effect()->numInputs, row.inputs);
        EXPECT_EQ(host.effect()->numOutputs, 2);
    }
}

TEST(Vorlan3, LivesThroughTheHostsLifecycle) {
    PluginFolder folder;
    char* locale = std::setlocale(LC_NUMERIC, nullptr);
    const std::string localeBefore = locale ? locale : "";
    for (int cycle = 0; cycle < 20; ++cycle) {
        CoreVhst host(folder.plugin());
        host.open();
        if (cycle % 2) host.resume();
        host.close(); // during the boot, for most
    }
    auto host = folder.start();
    host->resume(); // twice
    StereoSignal<float> in(512), out(512);
    std::thread audio([&] {
        host->suspend();
        host->resume();
        for (int i = 0; i < 4; ++i) host->processReplacing(in.channels(), out.channels(), 512);
    });
    audio.join();
    host->suspend();
    host->close();
    host.reset();
    auto again = folder.start(); // unloaded and loaded again
    again->processReplacing(in.channels(), out.channels(), 512);
    locale = std::setlocale(LC_NUMERIC, nullptr);
    EXPECT_EQ(locale ? std::string(locale) : "", localeBefore);
}

// An impulse comes out at the reported latency, exactly.
TEST(Vorlan3, PlaysAnImpulseAtTheReportedLatency) {
    struct Row {
        const char* more;
        double rate;
        const char* program;
        int32_t latency;
        size_t late; // frames the output comes after the reported latency
    };
    // Every kernel sits at least one sample into its buffer; the engine takes that sample back from the
    // room between its buffer and its convolution block. The 1-s program's block fills a 512-frame
    // buffer, so without a forced offset that sample has no room: the engine logs it and plays late.
    const Row rows[] = {
        {"<DSPBUFFER>512</DSPBUFFER>", 44100, "init.xml", 512, 0},
        {"<DSPBUFFER>512</DSPBUFFER>", 44100, "unit-long.xml", 512, 1},
        {"<DSPBUFFER>512</DSPBUFFER><FORCEOFFSET>1000</FORCEOFFSET>", 48000, "init.xml", 704, 0},
        {"<DSPBUFFER>512</DSPBUFFER><FORCEOFFSET>1000</FORCEOFFSET>", 48000, "unit-long.xml", 704, 0},
        // The worker thread adds one DSP buffer of latency, and blocks go to it; the 1-s program's block
        // again fills the DSP buffer.
        {"<DSPBUFFER>1024</DSPBUFFER><THREADS>1</THREADS>", 44100, "init.xml", 2048, 0},
        {"<DSPBUFFER>1024</DSPBUFFER><THREADS>1</THREADS>", 44100, "unit-long.xml", 2048, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.more) + " " + row.program);
        PluginFolder folder;
        folder.settings(PluginFolder::demoSettings(row.more));
        folder.setup({"init.xml", row.program}, 1);
        int32_t booted = 0;
        auto host = folder.start(row.rate, 512, true, &booted);
        ASSERT_EQ(booted, 1);
        const int32_t latency = host->effect()->initialDelay;
        EXPECT_EQ(latency, row.latency);
        const size_t at = 300;
        const auto out = renderBlocks(*host, impulseAt(at + size_t(latency) + 2048, at), {512});
        for (size_t i = 0; i < out.left.size(); ++i) {
            const double want = i == at + size_t(latency) + row.late ? 1.0 : 0.0;
            ASSERT_NEAR(out.left[i], want, want ? 1e-6 : 1e-9) << i;
            ASSERT_NEAR(out.right[i], want, want ? 1e-6 : 1e-9) << i;
        }
        if (row.late) {
            EXPECT_NE(folder.log().find("exceeds the room, output later by 1"), std::string::npos);
        }
    }
}

StereoSignal<float> demoInput(size_t frames) {
    StereoSignal<float> input(frames);
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    for (size_t i = 0; i < frames; ++i) input.left[i] = sample(generator), input.right[i] = sample(generator);
    return input;
}

TEST(Vorlan3, DemoOutputDoesNotDependOnBlocksOrPrecision) {
    PluginFolder folder;
    const size_t frames = 2 * 44100;
    const auto input = demoInput(frames);
    const auto render = [&](const std::vector<int32_t>& blocks, bool inPlace) {
        auto host = folder.start(44100.0, 512);
        return renderBlocks(*host, input, blocks, inPlace);
    };
    const auto reference = render({512}, false);
    float peak = 0.0f;
    for (float v : reference.left) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 1e-3f);

    std::mt19937 generator(11);
    std::uniform_int_distribution<int32_t> size(1, 1024);
    std::vector<int32_t> random(200);
    for (int32_t& n : random) n = size(generator);
    for (const auto& blocks : std::vector<std::vector<int32_t>>{{1}, {37}, {4096}, random}) {
        SCOPED_TRACE(blocks.size() == 1 ? std::to_string(blocks[0]) : "random");
        EXPECT_TRUE(render(blocks, false) == reference);
        EXPECT_TRUE(render(blocks, true) == reference);
    }

    // Double precision, rounded to float, is the float output bit for bit.
    StereoSignal<double> wide(frames);
    std::copy(input.left.begin(), input.left.end(), wide.left.begin());
    std::copy(input.right.begin(), input.right.end(), wide.right.begin());
    auto host = folder.start(44100.0, 512);
    const auto doubled = renderBlocks(*host, wide, {512});
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(static_cast<float>(doubled.left[i]), reference.left[i]) << i;
        ASSERT_EQ(static_cast<float>(doubled.right[i]), reference.right[i]) << i;
    }

    // The accumulating call adds exactly the replacing output.
    auto adding = folder.start(44100.0, 512);
    StereoSignal<float> in = input, out(frames);
    std::fill(out.left.begin(), out.left.end(), 0.25f);
    std::fill(out.right.begin(), out.right.end(), 0.25f);
    for (size_t done = 0; done < frames; done += 512)
        adding->process(in.channels(done), out.channels(done), int32_t(std::min<size_t>(512, frames - done)));
    for (size_t i = 0; i < frames; ++i) ASSERT_EQ(out.left[i], 0.25f + reference.left[i]) << i;
}

TEST(Vorlan3, ItsChunkRestoresAnotherInstance) {
    PluginFolder folder;
    auto first = folder.start();
    // 0.25: a position whose mix value (2 x 0.25 - 1) the program text's six digits hold exactly, so
    // the restored instance plays the very same kernels.
    first->setParameter(0, 0.25f);
    ASSERT_TRUE(eventually([&] { return PluginFolder::chunkText(*first) != PluginFolder::sNochunk; }));
    const std::vector<uint8_t> chunk = first->getChunk();
    ASSERT_FALSE(chunk.empty());
    auto second = folder.start(44100.0, 512, false);
    EXPECT_EQ(second->setChunk(chunk.data(), VstIntPtr(chunk.size())), 1);
    EXPECT_EQ(PluginFolder::chunkText(*second), PluginFolder::chunkText(*first));
    EXPECT_EQ(second->getParameter(0), 0.25f);
    const auto input = demoInput(44100);
    EXPECT_TRUE(renderBlocks(*first, input, {512}) == renderBlocks(*second, input, {512}));
}

// A host restoring a saved chunk again and again while the control thread renders every few
// milliseconds: each restore takes the control and display locks between passes and answers 1.
TEST(Vorlan3, RestoresChunksWhileTheControlThreadRenders) {
    PluginFolder folder;
    folder.settings(PluginFolder::demoSettings("<DSPBUFFER>512</DSPBUFFER><GUIRATE>5000</GUIRATE>"));
    auto host = folder.start();
    host->setParameter(0, 0.25f);
    ASSERT_TRUE(eventually([&] { return PluginFolder::chunkText(*host) != PluginFolder::sNochunk; }));
    const std::vector<uint8_t> chunk = host->getChunk();
    StereoSignal<float> silence(512), out(512);
    for (int restore = 0; restore < 50; ++restore) {
        SCOPED_TRACE(restore);
        ASSERT_EQ(host->setChunk(chunk.data(), VstIntPtr(chunk.size())), 1);
        host->processReplacing(silence.channels(), out.channels(), 512);
    }
    EXPECT_EQ(host->getParameter(0), 0.25f);
}

TEST(Vorlan3, RefusesBadChunksWithoutHarm) {
    PluginFolder folder;
    folder.setup({"unit-long.xml", "init.xml"}, 1);
    auto host = folder.start();
    const std::string garbage = "\x01\x02garbage<<<";
    const std::vector<uint8_t> dump = host->getChunk();
    EXPECT_EQ(host->setChunk(garbage.data(), VstIntPtr(garbage.size())), 0);
    // Cut inside its text (the dump is text padded with zero bytes).
    const size_t text = PluginFolder::chunkText(*host).size();
    ASSERT_GT(text, 8u);
    EXPECT_EQ(host->setChunk(dump.data(), VstIntPtr(text / 2)), 0);
    EXPECT_EQ(host->setChunk(nullptr, 10), 0);
    EXPECT_EQ(host->setChunk(garbage.data(), 0), 0);
    EXPECT_EQ(host->setChunk(garbage.data(), -4), 0);
    const auto out = renderBlocks(*host, impulseAt(4096, 10), {512});
    EXPECT_NEAR(out.left[10 + size_t(host->effect()->initialDelay)], 1.0f, 1e-6);
}

TEST(Vorlan3, KeepsTheHostsChunkInItsErrorState) {
    PluginFolder folder;
    folder.settings(PluginFolder::demoSettings("<WORKBUFFER>1000000000</WORKBUFFER>"));
    CoreVhst host(folder.plugin());
    EXPECT_EQ(host.effect()->uniqueID, 0x58585858);
    EXPECT_TRUE(host.getChunk().empty());
    const std::string saved = "<BANK>kept</BANK>";
    EXPECT_EQ(host.setChunk(saved.data(), VstIntPtr(saved.size())), 0);
    const std::vector<uint8_t> back = host.getChunk();
    EXPECT_EQ(std::string(back.begin(), back.end()), saved);
}

// The caller's floating-point control word survives every entry, and the audio calls allocate
// nothing on the calling thread once the instance runs.
TEST(Vorlan3, LeavesTheCallersControlWordAndHeapAlone) {
    PluginFolder folder;
    auto host = folder.start();
    StereoSignal<float> in = demoInput(512), out(512);
    StereoSignal<double> wideIn(512), wideOut(512);
    for (int i = 0; i < 50; ++i) host->processReplacing(in.channels(), out.channels(), 512);
    const unsigned original = _mm_getcsr();
    constexpr unsigned flags = 0x3F; // the sticky exception flags may rise in any calculation
    for (unsigned word : {0x1F80u, 0x9FC0u, 0x7F80u}) {
        _mm_setcsr(word);
        host->processReplacing(in.channels(), out.channels(), 512);
        host->processDoubleReplacing(wideIn.channels(), wideOut.channels(), 512);
        host->process(in.channels(), out.channels(), 512);
        host->setParameter(1, 0.5f);
        host->getChunk();
        host->suspend();
        host->resume();
        EXPECT_EQ(_mm_getcsr() & ~flags, word & ~flags) << std::hex << word;
    }
    _mm_setcsr(original);
    for (int i = 0; i < 50; ++i) host->processReplacing(in.channels(), out.channels(), 512);
    const long before = threadAllocations;
    for (int i = 0; i < 1000; ++i) host->processReplacing(in.channels(), out.channels(), 512);
    EXPECT_EQ(threadAllocations - before, 0);
}

// Inputs 3 and 4 feed the side chain only where four inputs are declared; a host that declares two
// hands over two channel pointers, and none beyond is read (ASan sees the heap array's end).
TEST(Vorlan3, ReadsInputsThreeAndFourOnlyWhenDeclared) {
    const auto started = [](PluginFolder& folder, bool legacy) {
        folder.settings(PluginFolder::demoSettings(
            "<GUIRATE>5000</GUIRATE>" + std::string(legacy ? "" : "<LEGACYSTEREOCHANNEL>0.0</LEGACYSTEREOCHANNEL>")));
        folder.setup({"init.xml", "sidechain.xml"}, 1);
        auto host = folder.start(44100.0, 512, false);
        VstSpeakerArrangement four{}, stereo{};
        four.type = 11;
        stereo.type = 1;
        host->setSpeakerArrangement(&four, &stereo);
        EXPECT_EQ(host->setChunk(PluginFolder::sNochunk, sizeof PluginFolder::sNochunk), 1);
        return host;
    };
    std::vector<float> noise(512), silence(512), left(512), right(512);
    std::mt19937 generator(3);
    std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
    for (float& v : noise) v = sample(generator);

    {
        PluginFolder folder;
        auto host = started(folder, true);
        EXPECT_EQ(host->effect()->numInputs, 2);
        auto inputs = std::make_unique<float*[]>(2);
        inputs[0] = inputs[1] = noise.data();
        float* outputs[2] = {left.data(), right.data()};
        // Long enough for several of the control thread's channel polls (a lower bound, not a timing).
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        while (std::chrono::steady_clock::now() < until) host->processReplacing(inputs.get(), outputs, 512);
        EXPECT_NE(std::count(left.begin(), left.end(), 0.0f), 512);
    }

    // Two instances, one with a loud side chain: they part once the poll has switched four channels on.
    PluginFolder quiet("vorlan3-a"), loud("vorlan3-b");
    auto a = started(quiet, false), b = started(loud, false);
    EXPECT_EQ(a->effect()->numInputs, 4);
    std::vector<float> leftB(512), rightB(512);
    float* inA[4] = {noise.data(), noise.data(), silence.data(), silence.data()};
    float* inB[4] = {noise.data(), noise.data(), noise.data(), noise.data()};
    float* outA[2] = {left.data(), right.data()};
    float* outB[2] = {leftB.data(), rightB.data()};
    EXPECT_TRUE(eventually([&] {
        a->processReplacing(inA, outA, 512);
        b->processReplacing(inB, outB, 512);
        return left != leftB;
    }));
}

TEST(Vorlan3, TwoInstancesPlayApart) {
    PluginFolder folder;
    const auto alone = [&](unsigned seed) {
        auto host = folder.start();
        auto input = demoInput(44100);
        std::shuffle(input.left.begin(), input.left.end(), std::mt19937(seed));
        return std::make_pair(input, renderBlocks(*host, input, {512}));
    };
    const auto [inputA, outputA] = alone(1);
    const auto [inputB, outputB] = alone(2);
    auto a = folder.start(), b = folder.start();
    StereoSignal<float> inA = inputA, inB = inputB, outA(44100), outB(44100);
    for (size_t done = 0; done < 44100; done += 512) {
        const auto frames = int32_t(std::min<size_t>(512, 44100 - done));
        a->processReplacing(inA.channels(done), outA.channels(done), frames);
        b->processReplacing(inB.channels(done), outB.channels(done), frames);
    }
    EXPECT_TRUE(outA == outputA);
    EXPECT_TRUE(outB == outputB);
    a->close();
    const auto out = renderBlocks(*b, impulseAt(2048, 0), {512});
    (void)out;
}

TEST(Vorlan3, BootsWithoutAChunk) {
    for (bool fast : {true, false}) {
        SCOPED_TRACE(fast ? "FASTBOOT" : "no FASTBOOT");
        PluginFolder folder;
        folder.settings("<DATAPATH>demo/</DATAPATH><SETUPROMNAME>setup.xml</SETUPROMNAME><SCANBOOT>0.0</SCANBOOT>"
                        "<OTIMED>3</OTIMED><DSPBUFFER>512</DSPBUFFER><GUIRATE>5000</GUIRATE><DL>1</DL>" +
                        std::string(fast ? "<FASTBOOT>1</FASTBOOT>" : ""));
        folder.setup({"unit-long.xml", "init.xml"}, 1);
        auto host = folder.start(44100.0, 512, false);
        EXPECT_TRUE(eventually([&] { return PluginFolder::chunkText(*host) != PluginFolder::sNochunk; }, host.get()));
        const auto out = renderBlocks(*host, impulseAt(4096, 300), {512});
        EXPECT_NEAR(out.left[300 + size_t(host->effect()->initialDelay)], 1.0f, 1e-6);
    }
}

TEST(Vorlan3, FollowsMidiControllersAndProgramChanges) {
    PluginFolder folder;
    folder.settings(PluginFolder::demoSettings("<DSPBUFFER>512</DSPBUFFER><MIDICTRMIX1>7</MIDICTRMIX1>"));
    auto host = folder.start();
    VstMidiEvent controller{};
    controller.type = kVstMidiType;
    controller.byteSize = sizeof controller;
    controller.midiData[0] = char(0xB0);
    controller.midiData[1] = 7;
    controller.midiData[2] = 127;
    host->processEvents({controller});
    renderBlocks(*host, StereoSignal<float>(44100), {512});
    EXPECT_TRUE(eventually([&] { return host->getParameter(0) == 1.0f; }, host.get()));
    EXPECT_TRUE(eventually([&] {
        for (const auto& automation : host->automations())
            if (automation.index == 0 && automation.value == 1.0f && automation.thread != std::this_thread::get_id())
                return true;
        return false;
    }));

    // Malformed lists do no harm.
    std::vector<VstIntPtr> storage(offsetof(VstEvents, events) / sizeof(VstIntPtr) + 3, 0);
    auto* nulls = reinterpret_cast<VstEvents*>(storage.data()); // three null entries
    nulls->numEvents = 3;
    host->dispatch(effProcessEvents, 0, 0, nulls);
    host->dispatch(effProcessEvents, 0, 0, nullptr);
    VstMidiEvent shortEvent = controller;
    shortEvent.byteSize = 8;
    host->processEvents({shortEvent});

    VstMidiEvent change{};
    change.type = kVstMidiType;
    change.byteSize = sizeof change;
    change.midiData[0] = char(0xC0);
    change.midiData[1] = 0;
    host->processEvents({change});
    EXPECT_TRUE(eventually(
        [&] { return PluginFolder::chunkText(*host).find("<SEQUENCE> 0 </SEQUENCE>") != std::string::npos; },
        host.get()));
    EXPECT_TRUE(playsOnceLoaded(*host, [](const StereoSignal<float>& out, size_t delay) {
        return std::fabs(out.left[delay] - 1.0f) <= 1e-6f;
    }));
}

// A packed program, its vector container in the vector folder or beside it, plays what the same
// program loose plays, whichever way it is chosen: marked in the setup, by a program change, or as
// the slot 0 the boot needs.
TEST(Vorlan3, PlaysAPackedProgramAsTheSameProgramLoose) {
    struct Row {
        const char* packed;
        int32_t slot;  // 1, after the unit program, or 0
        bool byChange; // a program change chooses it after the boot, rather than the setup
    };
    const Row rows[] = {
        {"ROOM.Q7P", 1, false}, {"BESIDE.Q7P", 1, false}, {"ROOM.Q7P", 1, true},
        {"BESIDE.Q7P", 1, true}, {"ROOM.Q7P", 0, false},  {"BESIDE.Q7P", 0, false},
    };
    const size_t at = 300;
    const auto play = [&](const std::string& program, const Row& row) {
        PluginFolder folder;
        folder.writePacked();
        std::vector<std::string> setup{program};
        if (row.slot == 1) setup.insert(setup.begin(), "init.xml");
        folder.setup(setup, row.byChange ? -1 : row.slot);
        int32_t booted = 0;
        auto host = folder.start(44100.0, 512, true, &booted);
        EXPECT_EQ(booted, 1) << program;
        if (row.byChange) {
            VstMidiEvent change{};
            change.type = kVstMidiType;
            change.byteSize = sizeof change;
            change.midiData[0] = char(0xC0);
            change.midiData[1] = char(row.slot);
            host->processEvents({change});
            const std::string sequence = "<SEQUENCE> " + std::to_string(row.slot) + " </SEQUENCE>";
            const auto changed = [&] { return PluginFolder::chunkText(*host).find(sequence) != std::string::npos; };
            EXPECT_TRUE(eventually(changed, host.get()));
            // the room, heard as more than the impulse itself
            EXPECT_TRUE(playsOnceLoaded(*host, [](const StereoSignal<float>& out, size_t) {
                return std::count_if(out.left.begin(), out.left.end(), [](float v) { return v != 0.0f; }) > 1;
            }));
        }
        // silence, past any fade between programs and the tail of a probe
        renderBlocks(*host, StereoSignal<float>(2 * 44100), {512});
        return renderBlocks(*host, impulseAt(at + size_t(host->effect()->initialDelay) + 44100, at), {512});
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.packed) + " in slot " + std::to_string(row.slot) +
                     (row.byChange ? ", by a program change" : ", by the setup"));
        const auto loose = play("room.xml", row), packed = play(row.packed, row);
        // The loose program plays its room, not the unit program of a fall-back; the output of a unit
        // impulse is the kernel, so sum holds sum|k| for the tolerance.
        double sum = 0.0;
        for (float v : loose.left) sum += std::fabs(v);
        ASSERT_GT(sum, 10.0);
        float worst = 0.0f;
        for (size_t i = 0; i < loose.left.size(); ++i)
            worst = std::max({worst, std::fabs(packed.left[i] - loose.left[i]),
                              std::fabs(packed.right[i] - loose.right[i])});
        EXPECT_LE(worst, 1e-6 * sum);
    }
}

TEST(Vorlan3, BadFoldersNeverCrash) {
    struct Row {
        const char* name;
        std::function<void(PluginFolder&)> spoil;
        int32_t booted;
        bool fallback; // the chunk reads "NOCHUNK" after the boot
    };
    const Row rows[] = {
        {"no settings", [](PluginFolder& f) { std::filesystem::remove(f.folder / "Vorlan3.xml"); }, 0, false},
        {"malformed settings", [](PluginFolder& f) { std::ofstream(f.folder / "Vorlan3.xml") << "<MASTER><DL>"; }, 0,
         false},
        {"no MASTER", [](PluginFolder& f) { std::ofstream(f.folder / "Vorlan3.xml") << "<OTHER/>"; }, 0, false},
        {"setup missing", [](PluginFolder& f) { std::filesystem::remove(f.data("setup.xml")); }, 0, false},
        {"slot 0 malformed", [](PluginFolder& f) { std::ofstream(f.data("init.xml")) << "<PROGRAM><H1>"; }, 0, false},
        {"slot 0 kernel missing", [](PluginFolder& f) { std::filesystem::remove(f.data("ir/unit.wav")); }, 0, false},
        {"loaded program malformed", [](PluginFolder& f) { std::ofstream(f.data("demo.xml")) << "<PROGRAM><H1>"; }, 1,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PluginFolder folder;
        row.spoil(folder);
        int32_t booted = -1;
        auto host = folder.start(44100.0, 512, true, &booted);
        EXPECT_EQ(booted, row.booted);
        if (row.fallback) {
            EXPECT_EQ(PluginFolder::chunkText(*host), PluginFolder::sNochunk);
        }
        renderBlocks(*host, StereoSignal<float>(2048), {512});
    }

    // Block sizes and frame counts a host should never send.
    PluginFolder folder;
    auto host = folder.start();
    for (int32_t block : {0, -5, 1 << 30}) host->setBlockSize(block);
    host->setBlockSize(512);
    StereoSignal<float> in(3 * 512), out(3 * 512);
    for (int32_t frames : {0, 1, 3 * 512, -7}) host->processReplacing(in.channels(), out.channels(), frames);
    host->processReplacing(nullptr, out.channels(), 64);
    host->processReplacing(in.channels(), nullptr, 64);
    host->process(nullptr, nullptr, 64);
}

} // namespace

// The editor in the harness's window: a parent that does not exist fails with the layer's reason
// logged, a later open on the real parent shows the window, and a click on slider 0 (the built-in
// layout's, over x 600..617, y 80..276: these settings name no skin) reaches the host as automation.
TEST(Vorlan3, ShowsItsEditorInTheHostWindowAndAutomatesASlider) {
    XvfbHarness x;
    if (!x.ready()) GTEST_SKIP() << x.reason();
    PluginFolder folder;
    folder.settings(PluginFolder::demoSettings("<DSPBUFFER>512</DSPBUFFER>"));
    int32_t booted = 0;
    auto host = folder.start(44100.0, 512, true, &booted);
    ASSERT_EQ(booted, 1);
    ASSERT_NE(host->effect()->flags & effFlagsHasEditor, 0);
    EXPECT_EQ(host->dispatch(effEditOpen, 0, 0, XvfbHarness::handle(0x7FFFFFFF)), 0);
    EXPECT_NE(folder.log().find("CoreEdit open: "), std::string::npos);
    EXPECT_TRUE(x.children(x.parent()).empty());

    ASSERT_EQ(host->dispatch(effEditOpen, 0, 0, XvfbHarness::handle(x.parent())), 1);
    ASSERT_TRUE(XvfbHarness::waitFor([&] { return x.children(x.parent()).size() == 1; }));
    const uint32_t child = x.children(x.parent()).front();
    const auto idle = [&] { host->dispatch(effEditIdle); };
    ASSERT_TRUE(XvfbHarness::waitFor([&] {
        idle();
        const auto capture = x.capture(child);
        return std::any_of(capture.pixels.begin(), capture.pixels.end(), [](auto p) { return p != 0; });
    }, std::chrono::milliseconds(20000)));

    const size_t earlier = host->automations().size();
    x.click(608, 200); // below the middle
    ASSERT_TRUE(XvfbHarness::waitFor([&] {
        idle();
        const std::vector<CoreVhst::Automation> calls = host->automations();
        return std::any_of(calls.begin() + std::ptrdiff_t(earlier), calls.end(),
                           [](const CoreVhst::Automation& call) { return call.index == 0; });
    }, std::chrono::milliseconds(20000)));
    float sent = -1.0f;
    std::string all;
    for (const CoreVhst::Automation& call : host->automations()) {
        all += std::to_string(call.index) + ":" + std::to_string(call.value) + " ";
        if (call.index == 0) sent = call.value;
    }
    EXPECT_TRUE(sent > 0.2f && sent < 0.6f) << all << " " << host->getParameter(0);
    host->dispatch(effEditClose);
    EXPECT_TRUE(XvfbHarness::waitFor([&] { return x.children(x.parent()).empty(); }));
}
