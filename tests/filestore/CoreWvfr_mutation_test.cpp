// Seeded mutants of six valid WAV files, read from in-memory items with the converter off and on.
#include "filestore/CoreWvfr.h"

#include "tests/common/ByteMutator.h"
#include "WavBytes.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using wavtest::Chunk;
using wavtest::fmtBody;
using wavtest::riff;

constexpr double kCanary = 7.25e77;
constexpr int kMutants = 2000;

std::string samples(size_t bytes, unsigned seed) {
    std::mt19937 generator(seed);
    std::string s(bytes, '\0');
    for (char& c : s) c = static_cast<char>(generator() & 0xFF);
    return s;
}

struct Valid {
    const char* name;
    std::string bytes;
};

std::vector<Valid> validFiles() {
    std::vector<float> floats(150);
    std::vector<double> doubles(120);
    for (size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(i) / 150.0f - 0.5f;
    for (size_t i = 0; i < doubles.size(); ++i) doubles[i] = 0.25 - static_cast<double>(i) / 480.0;
    return {
        {"16-bit stereo", riff({{"fmt ", fmtBody(1, 2, 44100, 16)}, {"data", samples(4 * 150, 1)}})},
        {"24-bit extensible",
         riff({{"fmt ", fmtBody(1, 2, 44100, 24, 40, 1)}, {"data", samples(6 * 130, 2)}})},
        {"32-bit integer extensible", riff({{"fmt ", fmtBody(1, 1, 44100, 32, 40, 1)},
                                            {"fact", wavtest::le32(140)},
                                            {"data", samples(4 * 140, 3)}})},
        {"float32 with fact", riff({{"fmt ", fmtBody(3, 1, 44100, 32, 18)},
                                    {"fact", wavtest::le32(150)},
                                    {"data", wavtest::bytesOf(floats)}})},
        {"float64 mono", riff({{"fmt ", fmtBody(3, 1, 44100, 64)}, {"data", wavtest::bytesOf(doubles)}})},
        {"16-bit with odd LIST", riff({{"fmt ", fmtBody(1, 2, 44100, 16)},
                                       {"LIST", "INFOISFT\x05\0\0\0abcde"},
                                       {"data", samples(4 * 100, 4)}})},
    };
}

// The offsets of every chunk's size field and of the format fields.
ByteMutator::Hints hintsFor(const std::string& bytes) {
    ByteMutator::Hints hints;
    hints.offsets = {4, 20 + 2, 20 + 4, 20 + 14};
    for (size_t at = 12; at + 8 <= bytes.size();) {
        hints.offsets.push_back(at + 4);
        const uint32_t size = wavtest::get32(bytes, at + 4);
        at += 8 + size + (size & 1);
    }
    hints.textStart = 12;
    hints.tokens = {"fmt ", "data", "DATA", "LIST", "fact", "RIFF", "WAVE"};
    return hints;
}

TEST(CoreWvfrMutation, MutantsThrowOrDeliverWithinTheirBounds) {
    CorePool pool;
    unsigned seed = 20240601;
    for (const Valid& valid : validFiles()) {
        SCOPED_TRACE(valid.name);
        ByteMutator mutator(seed++);
        const ByteMutator::Hints hints = hintsFor(valid.bytes);
        for (int converting = 0; converting < 2; ++converting) {
            CoreFsys store(&pool);
            CoreWvfr reader(&pool, &store, false);
            if (converting) reader.setfr(48000, false);
            const int32_t id = store.crtit("M.WAV");
            // The valid file itself reads.
            store.setit(id, valid.bytes.data(), static_cast<int32_t>(valid.bytes.size()), CoreAnsx(""), true,
                        false);
            reader.open_("M.WAV");
            EXPECT_GT(reader.getdw(), 0);
            reader.close();
            int opened = 0;
            for (int i = 0; i < kMutants; ++i) {
                const std::string mutant = mutator.mutate(valid.bytes, hints);
                store.setit(id, mutant.data(), static_cast<int32_t>(mutant.size()), CoreAnsx(""), true,
                            false);
                try {
                    reader.open_("M.WAV");
                } catch (const CoreAnsx&) {
                    EXPECT_EQ(reader.getca(), -1);
                    continue;
                }
                ++opened;
                const int32_t room = reader.getdw();
                ASSERT_GE(room, 0);
                ASSERT_LE(room,
                          2 * static_cast<int32_t>(mutant.size()) + 1); // a byte per frame, ratio below 2
                std::vector<double> left(room + 8, kCanary), right(room + 8, kCanary);
                try {
                    const int32_t got = reader.getdt(room, left.data(), right.data());
                    EXPECT_GE(got, 0);
                    EXPECT_LE(got, room);
                } catch (const CoreAnsx&) {
                }
                for (int k = room; k < room + 8; ++k) {
                    ASSERT_EQ(left[k], kCanary) << "mutant " << i;
                    ASSERT_EQ(right[k], kCanary) << "mutant " << i;
                }
                reader.close();
            }
            EXPECT_GT(opened, kMutants / 10); // the mutants are not all rejected at the door
        }
    }
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
