// CoreWvfw: a streamed file complete after every call, the one-call writers and wide frames (further
// channels silent), existing files of any case replaced, and failures that stop the writing without
// a header claiming bytes the file lacks.
#include "filestore/CoreWvfw.h"

#include "WavBytes.h"
#include "tests/common/FileSizeLimit.h"

#include <functional>

using namespace fsystest;
using wavtest::get32;

// The file a writer fills beside target until it is finished (named after it); empty when there is none.
fs::path sibling(const fs::path& folder, const std::string& target) {
    fs::path found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != target && name.find(target) != std::string::npos) found = entry.path();
    }
    return found;
}

TEST_F(FsysFiles, StreamedFileIsCompleteAfterEveryCall) {
    std::vector<double> samples(300);
    for (int i = 0; i < 300; ++i) samples[i] = i * 0.001 - 0.1;
    {
        CoreWvfw writer(&pool, at("stream.wav"), 1, 96000, true);
        int written = 0;
        // Until finished the samples go to a file beside the target, complete after every call.
        const fs::path temporary = sibling(root, "stream.wav");
        ASSERT_FALSE(temporary.empty());
        for (int frames : {0, 128, 44}) {
            writer.setdt(frames, samples.data() + written, nullptr);
            written += frames;
            EXPECT_FALSE(fs::exists(root / "stream.wav"));
            const std::string bytes = readBytes(temporary);
            EXPECT_EQ(bytes.size(), 44u + written * 8u);
            EXPECT_TRUE(get32(bytes, 40) == written * 8u && get32(bytes, 4) == written * 8u + 36) << written;
        }
        EXPECT_FALSE(writer.getfl());
        EXPECT_TRUE(writer.finsh());
        EXPECT_TRUE(sibling(root, "stream.wav").empty());
    }
    const std::string bytes = readBytes(root / "stream.wav");
    EXPECT_EQ(bytes.substr(20, 16), wavtest::fmtBody(3, 1, 96000, 64));
    EXPECT_EQ(bytes.substr(44), std::string(reinterpret_cast<const char*>(samples.data()), 172 * 8));
}

TEST_F(FsysFiles, OneCallWritersAndWideFramesGiveWholeFramesAndFiles) {
    const double samples[] = {0.25, -0.5, 0.125}, right[] = {1, 2, 3};
    ASSERT_TRUE(CoreWvfw::wfile(&pool, at("one.wav"), samples, 3, false));
    EXPECT_EQ(readBytes(root / "one.wav"),
              wavtest::simple(3, 1, 44100, 32, wavtest::bytesOf(std::vector<float>{0.25f, -0.5f, 0.125f})));
    ASSERT_TRUE(CoreWvfw::exprt(&pool, at("two.wav"), 2, 48000, 3, samples, right, true));
    EXPECT_EQ(readBytes(root / "two.wav").substr(44),
              wavtest::bytesOf(std::vector{0.25, 1.0, -0.5, 2.0, 0.125, 3.0}));

    std::vector<float> left(200), second(200), expected;
    for (int i = 0; i < 200; ++i)
        expected.insert(expected.end(), {left[i] = i * 0.5f, second[i] = -i * 2.0f, 0});
    {
        CoreWvfw writer(&pool, at("three.wav"), 3, 44100, false); // 12-byte frames: 85 per piece
        writer.setdt(200, left.data(), second.data());
        EXPECT_TRUE(writer.finsh());
    }
    EXPECT_EQ(readBytes(root / "three.wav").substr(44), wavtest::bytesOf(expected));
    writeBytes(root / "Take.WAV", std::string(500, 'x')); // an existing file of any case is replaced
    ASSERT_TRUE(CoreWvfw::wfile(&pool, at("TAKE.wav"), samples, 1, true));
    EXPECT_EQ(readBytes(root / "Take.WAV").size(), 52u);
    EXPECT_FALSE(fs::exists(root / "TAKE.wav"));
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(FsysFiles, FailuresAreRecordedAndStopTheWriting) {
    const double samples[] = {1, 2};
    CoreWvfw missing(&pool, at("no/such/folder.wav"), 1, 44100, true);
    EXPECT_TRUE(missing.getfl());
    missing.setdt(2, samples, nullptr);
    CoreWvfw none(&pool, at("none.wav"), 0, 44100, true);
    EXPECT_TRUE(none.getfl());
    EXPECT_FALSE(CoreWvfw::exprt(&pool, at("wide.wav"), 129, 44100, 2, samples, samples, true));
    EXPECT_FALSE(fs::exists(root / "none.wav") || fs::exists(root / "wide.wav"));
    // A disk that fills up mid-file: the cut file never takes the target's name.
    std::vector<double> many(4096, 0.5);
    const auto writeFull = [&] {
        return CoreWvfw::exprt(&pool, at("full.wav"), 2, 44100, 4096, many.data(), many.data(), true);
    };
    EXPECT_EQ(writeUnderFileSizeLimit(10000, writeFull), 0) << "the cut write reported success";
    EXPECT_FALSE(fs::exists(root / "full.wav"));
    EXPECT_TRUE(sibling(root, "full.wav").empty());
}

TEST_F(FsysFiles, AFailedOrAbandonedWriteLeavesTheOldFileWholeAndNoTemporary) {
    const std::string old =
        wavtest::simple(3, 1, 44100, 32, wavtest::bytesOf(std::vector<float>{0.5f, -0.25f}));
    std::vector<double> many(4096, 0.5);
    const double fresh[] = {0.125, -1.0, 0.75};
    const auto writeMany = [&] {
        return CoreWvfw::exprt(&pool, at("take.wav"), 2, 44100, 4096, many.data(), many.data(), true);
    };
    struct Row {
        const char* what;
        std::function<bool()> write; // true when the write reported success
        bool replaced;
    };
    const Row rows[] = {
        {"a disk that fills up mid-file", [&] { return writeUnderFileSizeLimit(10000, writeMany) != 0; },
         false},
        {"a writer abandoned part-way",
         [&] {
             CoreWvfw writer(&pool, at("take.wav"), 2, 44100, true);
             writer.setdt(1000, many.data(), many.data());
             return false;
         },
         false},
        {"a disk too full for the header", [&] { return writeUnderFileSizeLimit(20, writeMany) != 0; },
         false},
        {"a completed write",
         [&] { return CoreWvfw::exprt(&pool, at("take.wav"), 1, 48000, 3, fresh, nullptr, true); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        writeBytes(root / "take.wav", old);
        fs::permissions(root / "take.wav", fs::perms(0640));
        EXPECT_EQ(row.write(), row.replaced);
        const std::string expected =
            row.replaced
                ? wavtest::simple(3, 1, 48000, 64, wavtest::bytesOf(std::vector<double>(fresh, fresh + 3)))
                : old;
        const std::string bytes = readBytes(root / "take.wav");
        EXPECT_TRUE(bytes == expected)
            << bytes.size() << " bytes where " << expected.size() << " were expected";
        EXPECT_EQ(fs::status(root / "take.wav").permissions() & fs::perms::all, fs::perms(0640));
        for (const auto& entry : fs::directory_iterator(root))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(pool.getma(), 0);
}
