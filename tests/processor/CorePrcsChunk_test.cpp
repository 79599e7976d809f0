// Host chunk on a booted engine: what the save answers in every engine state, the restore of chunk
// texts (refusals included), the slot-text load, a save on one engine restored on another, mutated
// chunks, and the audio thread while saves and restores hold the engine.
#include "processor/CorePrcs.h"

#include "ChunkFolder.h"
#include "base/CoreSmph.h"
#include "base/CoreVars.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/common/ByteMutator.h"
#include "tests/common/SignalReference.h"
#include "tests/program/ProgramDump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

using namespace hostblocks;

constexpr int32_t kBuffer = CoreMmry::iCchunkbufferdim;

struct Saved {
    int32_t size = -1;
    std::string text;   // up to the NUL
    bool zeroed = true; // every byte after the NUL up to size is zero
};

Saved save(CorePrcs& e) {
    void* data = nullptr;
    Saved s;
    s.size = e.getck(&data);
    if (s.size <= 0 || !data) return s;
    const char* bytes = static_cast<const char*>(data);
    s.text = bytes;
    for (int32_t i = static_cast<int32_t>(s.text.size()); i < s.size; ++i) s.zeroed = s.zeroed && bytes[i] == 0;
    return s;
}

bool restore(CorePrcs& e, const std::string& bytes) {
    return e.setck(const_cast<char*>(bytes.data()), static_cast<int32_t>(bytes.size()));
}

Stereo noise(size_t n, unsigned seed) {
    Stereo s;
    s.left = randomSignal(n, seed);
    s.right = randomSignal(n, seed + 1);
    return s;
}

// Every table runs twice: on an engine without a master store, and as the plug-in builds it.
class CorePrcsChunk : public ChunkFolderTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ChunkFolderTest::SetUp();
        asPlugin = GetParam();
    }
    static std::string chunk(const std::string& programs) { return "<SETUP>" + programs + "</SETUP>"; }
};

TEST_P(CorePrcsChunk, TheSaveAnswersForEveryEngineState) {
    writeBootFolder();
    writeText(data() / "setups/missing.xml", "");
    std::string big = "<PROGRAM><NAME>Big</NAME><PAD>";
    big += std::string(140000, 'x') + "</PAD></PROGRAM>";
    struct Row {
        const char* name;
        std::string setup;                     // the setup the engine boots from
        bool boot;                             // fboot before the save
        std::function<void(CorePrcs&)> before; // what happens before the save
        int32_t size;                          // -1: the text's length + 1
        std::string contains;                  // "" : the text is exactly "NOCHUNK"
    };
    const Row rows[] = {
        {"booting", "boot.xml", false, [](CorePrcs&) {}, kBuffer, ""},
        {"state never changed", "plain.xml", true, [](CorePrcs&) {}, kBuffer, ""},
        {"booted", "boot.xml", true, [](CorePrcs&) {}, kBuffer, "<NAME> Room </NAME>"},
        {"a dump that throws", "boot.xml", true, [](CorePrcs& e) { Access::currentSlot(e) = kEmpty; }, kBuffer, ""},
        {"engine failed", "boot.xml", true, [](CorePrcs& e) { Access::engineFailed(e) = true; }, 0, ""},
        {"refused commit: another slot current", "boot.xml", true,
         [](CorePrcs& e) { Access::currentSlot(e) = kLong; }, kBuffer, "<NAME> Long </NAME>"},
        {"fall-back after a restore", "boot.xml", true,
         [](CorePrcs& e) {
             ASSERT_TRUE(restore(e, "<SETUP><PROGRAM><NAME>Lost</NAME><SEQUENCE>8</SEQUENCE>"
                                    "<H1><ELEMENT><FILENAME>NOPE.WAV</FILENAME></ELEMENT></H1></PROGRAM></SETUP>"));
             ASSERT_EQ(e.getls(), 0); // slot 0 plays
         },
         kBuffer, "<NAME> Lost </NAME>"},
        {"held while the boot failed", "missing.xml", true,
         [](CorePrcs& e) { EXPECT_FALSE(restore(e, "<SETUP>held</SETUP>")); }, kBuffer,
         "<SETUP>held</SETUP>"},
        {"a dump over 131071 bytes", "boot.xml", true,
         [&big](CorePrcs& e) {
             e.getmm()->setvl(kLong, false, "big.xml", big.c_str());
             Access::currentSlot(e) = kLong;
         },
         -1, std::string(140000, 'x')},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = make(bootSettings("", r.setup), kRate);
        if (r.boot) e->fboot();
        r.before(*e);
        const std::string slotOne = e->getmm()->getvl(kRoom, false).c_str();
        const Saved s = save(*e);
        if (r.size == 0) {
            EXPECT_EQ(s.size, 0);
            Access::engineFailed(*e) = false;
            continue;
        }
        EXPECT_EQ(s.size, r.size < 0 ? static_cast<int32_t>(s.text.size()) + 1 : r.size);
        EXPECT_TRUE(s.zeroed);
        if (r.contains.empty()) {
            EXPECT_EQ(s.text, "NOCHUNK");
        } else {
            EXPECT_NE(s.text.find(r.contains), std::string::npos) << s.text.substr(0, 300);
        }
        if (Access::currentSlot(*e) != kRoom) { // the slot the program came from kept its document
            EXPECT_EQ(e->getmm()->getvl(kRoom, false).c_str(), slotOne);
        }
    }
}

TEST_P(CorePrcsChunk, RestoresChunkTextsAndRefusesWhatNamesNoSlot) {
    writeBootFolder();
    const std::string kept = "<H1><ELEMENT><FILENAME>IMP.WAV</FILENAME></ELEMENT></H1>";
    const std::string named = chunk("<PROGRAM><NAME>Long</NAME><SEQUENCE>9</SEQUENCE>" + kept + "</PROGRAM>");
    struct Row {
        const char* name;
        std::string bytes;
        int32_t length; // -1: all bytes
        bool result;
        int32_t current;
        bool slotTwoChanged;
    };
    const Row rows[] = {
        {"NOCHUNK with blanks and a line end", "NOCHUNK  \r\n", -1, true, kRoom, false},
        {"cut by the length", "NOCHUNK<SETUP>", 7, true, kRoom, false},
        {"a name borne by slot 2", named, -1, true, kLong, true},
        {"a zero byte cuts the text", named + std::string(1, '\0') + "</garbage>", -1, true, kLong, true},
        {"the last of two SETUPs counts", named + "<SETUP><SELECTEDPROGRAM>3</SELECTEDPROGRAM></SETUP>", -1, true, 3,
         false},
        {"malformed", "<SETUP></SETUP></PROGRAM>", -1, false, kRoom, false},
        {"no SETUP", "<PROGRAM><NAME>Long</NAME></PROGRAM>", -1, false, kRoom, false},
        {"SEQUENCE -1", chunk("<SELECTEDPROGRAM>-1</SELECTEDPROGRAM><PROGRAM><SEQUENCE>-1</SEQUENCE></PROGRAM>"), -1,
         false, kRoom, false},
        {"SEQUENCE 10000",
         chunk("<SELECTEDPROGRAM>10000</SELECTEDPROGRAM><PROGRAM><SEQUENCE>10000</SEQUENCE></PROGRAM>"), -1, false,
         kRoom, false},
        {"no bytes", "", 0, false, kRoom, false},
        {"a negative length", named, -5, false, kRoom, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = booted();
        ASSERT_FALSE(Access::busy(*e).getvl());
        const std::string slotTwo = e->getmm()->getvl(kLong, false).c_str();
        const int32_t length = r.length == -1 ? static_cast<int32_t>(r.bytes.size()) : r.length;
        EXPECT_EQ(e->setck(const_cast<char*>(r.bytes.data()), length), r.result);
        EXPECT_EQ(Access::currentSlot(*e), r.current);
        EXPECT_EQ(std::string(e->getmm()->getvl(kLong, false).c_str()) != slotTwo, r.slotTwoChanged);
        EXPECT_FALSE(e->getby()); // the audio path plays again
    }
    auto e = booted();
    EXPECT_FALSE(e->setck(nullptr, 100));
}

// Text beside child elements, at every level of a chunk: the first save after the restore is already
// the stable form (save, restore, save gives the same bytes). A PROGRAM of text alone, or empty, is no
// program: the restore is refused and the memory, the playing program and the next save stay as they were.
// When the playing program's slot moves (a new version saved from it, or the memory page moving it),
// or another slot is moved over it, the chunk goes on holding what plays: the edits made before the
// move and those made after it.
TEST_P(CorePrcsChunk, TheChunkHoldsThePlayingProgramAfterItsSlotMoves) {
    static constexpr int32_t kFree = 3; // the first free slot after the playing one
    const auto overwrite = [](CorePrcs& e, int32_t from, int32_t to) {
        CoreVars vars;
        vars.open_();
        vars.addit("NEXTSTEP", "OVERWRITEMEMORYLOC");
        vars.addit("OLDPROGRAM", std::to_string(from).c_str());
        vars.addit("NEWPROGRAM", std::to_string(to).c_str());
        int ordinal = 0;
        CoreAnsx message;
        for (int call = 0; call < 3 && !e.batch(&vars, ordinal, message); ++call) {}
    };
    struct Row {
        const char* name;
        int32_t current; // after the move
        std::function<void(CorePrcs&)> move;
    };
    const Row rows[] = {
        {"a new version", kFree, [](CorePrcs& e) { EXPECT_EQ(e.versg("ROOM2.XML"), kFree); }},
        {"moved over a free slot", kFree,
         [&](CorePrcs& e) {
             // As the memory page does it: the picked slot is selected, then the move runs.
             CorePrcs::BEANSTRUCT none{};
             e.setbi(67, kFree, &none);
             overwrite(e, kRoom, kFree);
         }},
        {"moved over a free slot not selected first", kFree, [&](CorePrcs& e) { overwrite(e, kRoom, kFree); }},
        {"another slot moved over it", kRoom, [&](CorePrcs& e) { overwrite(e, kLong, kRoom); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove_all(root / "data");
        auto e = booted();
        ASSERT_EQ(e->getls(), kRoom);
        Access::program(*e).setnm("Before");
        r.move(*e);
        ASSERT_EQ(Access::currentSlot(*e).load(), r.current);
        EXPECT_NE(save(*e).text.find("<NAME> Before </NAME>"), std::string::npos);
        Access::program(*e).setnm("After");
        const std::string text = save(*e).text;
        EXPECT_NE(text.find("<NAME> After </NAME>"), std::string::npos) << text.substr(0, 300);
        // Restored into a fresh engine, it plays the edited program.
        auto other = booted();
        ASSERT_TRUE(restore(*other, text));
        EXPECT_STREQ(Access::program(*other).getnm().c_str(), "After");
    }
}

TEST_P(CorePrcsChunk, TextBesideElementsSavesStablyFromTheFirstSave) {
    const std::string golden = save(*booted()).text;
    // The golden with the text from its first "from" up to the next "to" (inclusive) replaced.
    const auto edited = [&](const std::string& from, const std::string& to, const std::string& with) {
        const size_t begin = golden.find(from), end = golden.find(to, begin);
        return golden.substr(0, begin) + with + golden.substr(end + to.size());
    };
    const struct {
        const char* name;
        std::string bytes;
        bool restored;
    } rows[] = {
        {"beside SETUP's elements", edited("<SETUP>", "<SETUP>", "<SETUP>x"), true},
        {"beside PROGRAM's elements", edited("<PROGRAM>", "<PROGRAM>", "<PROGRAM>A"), true},
        {"beside H1's elements", edited("<H1>", "<H1>", "<H1>t"), true},
        {"beside VECTOR's elements", edited("<VECTOR>", "<VECTOR>", "<VECTOR>v"), true},
        {"an LFO of text alone", edited("<LFO1>", "</LFO1>", "<LFO1>t</LFO1>"), true},
        {"a PROGRAM of text and a SEQUENCE", chunk("<PROGRAM>A<SEQUENCE>7</SEQUENCE></PROGRAM>"), true},
        {"a PROGRAM of text alone", chunk("<PROGRAM>A</PROGRAM>"), false},
        {"an empty PROGRAM", chunk("<SELECTEDPROGRAM>2</SELECTEDPROGRAM><PROGRAM></PROGRAM>"), false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = booted();
        const std::string slotZero = e->getmm()->getvl(0, false).c_str();
        EXPECT_EQ(restore(*e, r.bytes), r.restored);
        const std::string first = save(*e).text;
        EXPECT_EQ(std::string(e->getmm()->getvl(0, false).c_str()), slotZero);
        if (!r.restored) {
            EXPECT_EQ(Access::currentSlot(*e), kRoom);
            EXPECT_EQ(first, golden);
            continue;
        }
        ASSERT_TRUE(restore(*e, first));
        EXPECT_EQ(save(*e).text, first);
    }
}

TEST_P(CorePrcsChunk, ASlotTextLoadPlaysItsLongerKernelAsTheLoaderDoes) {
    auto e = booted();
    ASSERT_FALSE(Access::busy(*e).getvl());
    ASSERT_TRUE(e->ldpfs(kLong));
    EXPECT_EQ(Access::currentSlot(*e), kLong);
    EXPECT_EQ(e->getls(), kLong);
    EXPECT_STREQ(Access::program(*e).getnm().c_str(), "Long");
    // The reference: the program loader's own load of the same slot on a second engine.
    auto reference = booted();
    ASSERT_TRUE(reference->ldpdm(kLong, false));
    const Stereo input = noise(200 * 64, 5);
    const Stereo out = run(*e, input, fixedBlocks(64)), expected = run(*reference, input, fixedBlocks(64));
    EXPECT_EQ(out.left, expected.left);
    EXPECT_EQ(out.right, expected.right);
    EXPECT_GT(largestMagnitude(out.left), 0.0);
}

TEST_P(CorePrcsChunk, AnotherEngineRestoresTheSameProgramAndPlaysItAlike) {
    auto a = booted();
    CoreProg& p = Access::program(*a);
    p.getif(0)->setiv(0.3, true, true);  // MIX1
    p.getif(9)->setiv(0.25, true, true); // GAINOUT
    p.getlf(0)->setvl(0.5, 3.5, 0.0, "", "Sine", 0.0, "");
    const Saved first = save(*a);
    ASSERT_NE(first.text.find("<NAME> Room </NAME>"), std::string::npos);

    auto b = booted();
    ASSERT_TRUE(restore(*b, first.text));
    EXPECT_EQ(save(*b).text, first.text);

    ASSERT_TRUE(a->ldpdm(kRoom, false)); // A plays its slot as the save committed it
    progtest::Dump fromA = progtest::dump(Access::program(*a)), fromB = progtest::dump(Access::program(*b));
    fromA.erase("VECTORFILENAME"); // the chunk takes it from the slot
    fromB.erase("VECTORFILENAME");
    EXPECT_EQ(progtest::differences(fromA, fromB), "");

    auto plain = booted();
    const Stereo input = noise(4096, 9);
    const Stereo outA = run(*a, input, fixedBlocks(256)), outB = run(*b, input, fixedBlocks(256));
    const Stereo outPlain = run(*plain, input, fixedBlocks(256));
    EXPECT_EQ(outA.left, outB.left);
    EXPECT_EQ(outA.right, outB.right);
    EXPECT_NE(outA.left, outPlain.left);
}

TEST_P(CorePrcsChunk, MutatedChunksNeverStopASave) {
    auto e = booted();
    const std::string golden = save(*e).text;
    ASSERT_NE(golden, "NOCHUNK");
    ByteMutator::Hints hints;
    hints.textStart = 0;
    hints.tokens = {"<SETUP>", "</SETUP>", "<PROGRAM>", "</PROGRAM>", "<SEQUENCE>", "NOCHUNK", "<NAME>", "-1", "<"};
    ByteMutator mutator(44);
    for (int i = 0; i < 200; ++i) {
        const std::string mutant = mutator.mutate(golden, hints);
        restore(*e, mutant);
        const Saved s = save(*e);
        ASSERT_GE(s.size, kBuffer) << mutant;
        ASSERT_FALSE(e->getby()) << mutant;
    }
}

TEST_P(CorePrcsChunk, TheAudioThreadNeverWaitsForASaveOrARestore) {
    auto e = booted();
    const std::string golden = save(*e).text;
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<double> inL(64, 0.1), inR(64, 0.1), outL(64), outR(64);
        void* in[2] = {inL.data(), inR.data()};
        void* out[2] = {outL.data(), outR.data()};
        while (!stop) {
            e->prcss(in, out, 64, true, 1, 120.0, true, 2);
            ++calls;
        }
    });
    std::atomic<int> stalls{0};
    // Whoever holds the engine locks waits here until the audio thread made 50 more calls.
    e->setStallHookForTest([&] {
        if (std::this_thread::get_id() == audio.get_id()) return;
        ++stalls;
        const int target = calls + 50;
        while (calls < target) std::this_thread::yield();
    });
    EXPECT_TRUE(restore(*e, golden));
    EXPECT_GE(save(*e).size, kBuffer);
    e->setStallHookForTest(nullptr);
    stop = true;
    audio.join();
    EXPECT_GE(stalls.load(), 2); // the restore's load and the save's commit
}

TEST_P(CorePrcsChunk, SavesRestoresAndAStepwiseBootRunTogether) {
    writeBootFolder();
    auto e = make(bootSettings(), kRate);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<double> inL(64, 0.1), inR(64, 0.1), outL(64), outR(64);
        void* in[2] = {inL.data(), inR.data()};
        void* out[2] = {outL.data(), outR.data()};
        while (!stop) {
            e->prcss(in, out, 64, true, 1, 120.0, true, 2);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread boot([&] {
        int32_t step = 0;
        CoreAnsx text;
        bool first = false, last = false;
        while (Access::busy(*e).getvl()) e->boots(false, step, text, first, last);
    });
    // Both savers only take the size: the buffer is the host's to read until the next save, and two
    // threads saving at once would read each other's bytes.
    const std::string golden = "<SETUP>" + program("Room", tag("SEQUENCE", "1") + tag("H1", leaf("ROOM.WAV")));
    std::atomic<int> saves{0};
    const auto sizeOnly = [&] {
        void* data = nullptr;
        if (e->getck(&data) >= kBuffer) ++saves;
    };
    std::thread alternate([&] {
        for (int i = 0; i < 6; ++i) {
            sizeOnly();
            restore(*e, golden + "</SETUP>");
        }
    });
    std::thread saver([&] {
        for (int i = 0; i < 6; ++i) sizeOnly();
    });
    boot.join();
    alternate.join();
    saver.join();
    stop = true;
    audio.join();
    EXPECT_EQ(saves.load(), 12);
    EXPECT_FALSE(Access::busy(*e).getvl());
    EXPECT_NE(save(*e).text.find("<NAME> Room </NAME>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(StoreForms, CorePrcsChunk, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "AsPlugin" : "StoreLess"; });

} // namespace
