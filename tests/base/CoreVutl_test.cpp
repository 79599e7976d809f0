#include "base/CoreVutl.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(CoreVutl, ReallAllocatesGrowsAndReleases) {
    char* block = static_cast<char*>(CoreVutl::reall(nullptr, 16));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "fifteen chars!!", 16);
    block = static_cast<char*>(CoreVutl::reall(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "fifteen chars!!");
    // A refused size leaves the block with its owner.
    EXPECT_EQ(CoreVutl::reall(block, -1), nullptr);
    EXPECT_STREQ(block, "fifteen chars!!");
    EXPECT_EQ(CoreVutl::reall(block, 0), nullptr); // ASan reports a leak if this did not free
    EXPECT_EQ(CoreVutl::reall(nullptr, 0), nullptr);
}

TEST(CoreVutl, AlignedBlocksAreSixteenByteAlignedAndWholeUsable) {
    std::vector<void*> blocks;
    for (int n : {0, 1, 3, 15, 16, 17, 100, 4099}) {
        void* block = CoreVutl::mllc8(n);
        ASSERT_NE(block, nullptr) << n;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << n;
        std::memset(block, 0xA5, static_cast<size_t>(n));
        blocks.push_back(block);
    }
    for (void* block : blocks) CoreVutl::free8(block);
    EXPECT_EQ(CoreVutl::mllc8(-1), nullptr);
    CoreVutl::free8(nullptr);
}

TEST(CoreVutl, GetmpGivesNextMultipleOfSixteen) {
    const uintptr_t cases[][2] = {
        {0x1000, 0x1010}, {0x1001, 0x1010}, {0x100F, 0x1010}, {0x1010, 0x1020}, {0, 16}};
    for (const auto& c : cases) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(CoreVutl::getmp(reinterpret_cast<void*>(c[0]))), c[1]);
    }
}

struct SplitCase {
    std::string path, drive, dir, name, ext;
};

// Each output is its own heap block of exactly iCpathsize bytes, so ASan sees any overrun.
struct SplitBuffers {
    std::vector<char> drive, dir, name, ext;
    SplitBuffers()
        : drive(CoreVutl::iCpathsize), dir(CoreVutl::iCpathsize), name(CoreVutl::iCpathsize),
          ext(CoreVutl::iCpathsize) {}
    void split(const char* path) { CoreVutl::fnspl(path, drive.data(), dir.data(), name.data(), ext.data()); }
};

TEST(CoreVutl, FnsplKeepsItsSplittingRules) {
    const SplitCase cases[] = {
        {"C:\\dir\\file.txt", "C:", "\\dir\\", "file", ".txt"},
        {"/Users/x/a.wav", "", "/Users/x/", "a", ".wav"},
        {"/Users/x/a.b/c", "", "/Users/x/", "a", ".b/c"}, // the extension search crosses separators
        {"readme", "", "", "readme", ""},
        {"/a", "", "", "/a", ""}, // position 0 is never a separator
        {"C:.profile", "C:", "", ".profile", ""},
        {"dir/.hidden", "", "dir/", "", ".hidden"}, // only a dot right after the drive starts a name
        {"a:b:c.d", "a:", "", "b:c", ".d"},
        {"", "", "", "", ""},
    };
    SplitBuffers out;
    for (const SplitCase& c : cases) {
        out.split(c.path.c_str());
        EXPECT_EQ(out.drive.data(), c.drive) << c.path;
        EXPECT_EQ(out.dir.data(), c.dir) << c.path;
        EXPECT_EQ(out.name.data(), c.name) << c.path;
        EXPECT_EQ(out.ext.data(), c.ext) << c.path;
    }
}

TEST(CoreVutl, FnsplCutsLongPiecesToTheBuffers) {
    const std::string longFolder = "/" + std::string(600, 'f') + "/";
    const std::string path =
        std::string(300, 'd') + ":" + longFolder + std::string(400, 'n') + "." + std::string(500, 'e');
    SplitBuffers out;
    out.split(path.c_str());
    const size_t cut = CoreVutl::iCpathsize - 1;
    EXPECT_EQ(std::string(out.drive.data()), std::string(cut, 'd'));
    EXPECT_EQ(std::string(out.dir.data()), longFolder.substr(0, cut));
    EXPECT_EQ(std::string(out.name.data()), std::string(cut, 'n'));
    EXPECT_EQ(std::string(out.ext.data()), "." + std::string(cut - 1, 'e'));

    char name[CoreVutl::iCpathsize];
    CoreVutl::fnspl("/x/song.wav", nullptr, nullptr, name, nullptr);
    EXPECT_STREQ(name, "song");
}

} // namespace
