// The effect in-process, for what a host cannot see: the MIDI routing decision, and starts that fail
// (a build step that throws, a failed memory test) leaving an inert instance with the right face.
#include "plugin/CoreZrlg.h"

#include "plugin/CoreMstr.h"
#include "plugin/CoreSkin.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Route = CoreZrlg::MIDIROUTE;

TEST(CoreZrlg, RoutesMidiMessages) {
    struct Row {
        uint8_t status, data1, data2;
        int32_t bank;
        Route::Kind kind;
        int32_t value;
    };
    const auto bytes = [](uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
        return int32_t(uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24);
    };
    const Row rows[] = {
        {0x91, 60, 100, 0, Route::engine, bytes(0x01, 0x90, 0x3C, 0x64)}, // note on, channel 2
        {0x90, 64, 0, 0, Route::engine, bytes(0x00, 0x90, 0x40, 0x00)},   // velocity 0 is still a note on
        {0x9F, 0xFF, 0xFF, 0, Route::engine, bytes(0x0F, 0x90, 0x7F, 0x7F)}, // top bits of the data cleared
        {0xB3, 7, 127, 0, Route::engine, bytes(0x03, 0xB0, 0x07, 0x7F)},  // controller
        {0xB0, 32, 3, 0, Route::bank, 3},                                 // bank select
        {0xB0, 32, 99, 0, Route::bank, 99},
        {0xB0, 32, 100, 5, Route::bank, 0}, // a bank of 100 or more is bank 0
        {0xB0, 32, 127, 5, Route::bank, 0},
        {0xC0, 7, 0, 3, Route::program, 307},
        {0xC5, 105, 0, 0, Route::program, 5}, // the program number counted modulo 100
        {0xC0, 0, 0, 0, Route::program, 0},
        {0x80, 60, 0, 0, Route::ignored, 0},  // note off
        {0xA0, 60, 10, 0, Route::ignored, 0}, // key pressure
        {0xD0, 10, 0, 0, Route::ignored, 0},  // channel pressure
        {0xE0, 0, 64, 0, Route::ignored, 0},  // pitch bend
        {0xF0, 1, 2, 0, Route::ignored, 0},   // system exclusive
        {0xF8, 0, 0, 0, Route::ignored, 0},   // clock
        {0xFF, 0, 0, 0, Route::ignored, 0},   // reset
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(row.status) << " " << std::dec << int(row.data1) << " "
                                        << int(row.data2) << " bank " << row.bank);
        const Route route = CoreZrlg::route(row.status, row.data1, row.data2, row.bank);
        EXPECT_EQ(route.kind, row.kind);
        if (row.kind != Route::ignored) {
            EXPECT_EQ(route.value, row.value);
        }
    }
}

VstIntPtr quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? 44100 : 0;
}

struct StartRow {
    const char* name;
    CoreMstr::TestSeams seams;
    bool fatal;       // "Fatal error" logged
    int32_t uniqueId; // 'XXXX' after a failed build, the base default after a failed memory test
};

TEST(CoreZrlg, AFailedStartLeavesAnInertInstance) {
    const StartRow rows[] = {
        {"a build step throws",
         {nullptr, [](int step) { if (step == 6) throw CoreAnsx("injected"); }, nullptr},
         true,
         0x58585858},
        {"the skin step throws",
         {nullptr, [](int step) { if (step == 8) throw CoreAnsx("injected"); }, nullptr},
         true,
         0x58585858},
        {"the font-set step throws",
         {nullptr, [](int step) { if (step == 9) throw CoreAnsx("injected"); }, nullptr},
         true,
         0x58585858},
        {"the memory test fails", {[] { return false; }, nullptr, nullptr}, false, 0},
    };
    for (const StartRow& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log(1);
        CoreMstr::TestSeams seams = row.seams;
        if (seams.beforeStep) {
            // The engine points the log at its data folder when it is built: back to the capture.
            seams.beforeStep = [&log, inner = row.seams.beforeStep](int step) {
                CoreLog_::setpt(CoreAnsx(log.folder.withSeparator().c_str()));
                CoreLog_::setdb(1, false);
                inner(step);
            };
        }
        CoreMstr::setSeamsForTest(seams);
        AudioEffect* effect = createEffectInstance(&quietHost);
        CoreMstr::setSeamsForTest({});
        auto* shell = static_cast<CoreZrlg*>(effect);
        AEffect* record = effect->getAeffect();
        EXPECT_TRUE(shell->geter());
        if (row.fatal) {
            EXPECT_EQ(shell->getms(), nullptr);
        }
        EXPECT_EQ(CoreMstr::sharedCount(), 0); // nothing shared is held
        EXPECT_EQ(record->numInputs, 2);
        EXPECT_EQ(record->numOutputs, 2);
        EXPECT_EQ(record->initialDelay, 0);
        EXPECT_EQ(record->uniqueID, row.uniqueId);
        EXPECT_EQ(log.text().find("Fatal error") != std::string::npos, row.fatal);

        // Inert: the replacing call writes silence, parameters read 0, chunks are kept.
        float left[4] = {1, 1, 1, 1}, right[4] = {1, 1, 1, 1};
        float* outputs[2] = {left, right};
        float* inputs[2] = {left, right};
        record->processReplacing(record, inputs, outputs, 4);
        EXPECT_EQ(left[3], 0.0f);
        EXPECT_EQ(record->getParameter(record, 0), 0.0f);
        char chunk[] = "<BANK/>";
        EXPECT_EQ(record->dispatcher(record, effSetChunk, 0, sizeof chunk, chunk, 0), 0);
        void* kept = nullptr;
        EXPECT_EQ(record->dispatcher(record, effGetChunk, 0, 0, &kept, 0), VstIntPtr(sizeof chunk));
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(std::memcmp(kept, chunk, sizeof chunk), 0);
        record->dispatcher(record, effClose, 0, 0, nullptr, 0);
    }
}

// The skin's own store is closed once the control thread exists: the editor has its bitmaps by then.
TEST(CoreZrlg, AStartedEffectHoldsItsSkinWithoutItsStore) {
    AudioEffect* effect = createEffectInstance(&quietHost);
    auto* shell = static_cast<CoreZrlg*>(effect);
    ASSERT_FALSE(shell->geter());
    ASSERT_NE(shell->getms(), nullptr);
    ASSERT_NE(shell->getms()->getsk(), nullptr);
    EXPECT_EQ(shell->getms()->getsk()->getfs(), nullptr);
    EXPECT_GE(shell->getms()->getsk()->getsk()->fontsets, 1);
    AEffect* record = effect->getAeffect();
    record->dispatcher(record, effClose, 0, 0, nullptr, 0);
}

} // namespace
