#include "base/CoreVutl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

TEST(CoreVutl, ReallocationKeepsContentsAndARefusedSizeLeavesTheBlockWithItsOwner) {
    char* block = static_cast<char*>(CoreVutl::reall(nullptr, 16));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "fifteen chars!!", 16);
    block = static_cast<char*>(CoreVutl::reall(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(CoreVutl::reall(block, -1), nullptr);
    EXPECT_STREQ(block, "fifteen chars!!");
    EXPECT_EQ(CoreVutl::reall(block, 0), nullptr); // AddressSanitizer reports a leak if this did not free
}

TEST(CoreVutl, AlignedBlocksAreSixteenByteAlignedAndWholeUsable) {
    for (int n : {0, 1, 17, 4099}) {
        void* block = CoreVutl::mllc8(n);
        ASSERT_NE(block, nullptr) << n;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << n;
        std::memset(block, 0xA5, static_cast<size_t>(n));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(CoreVutl::getmp(block)),
                  reinterpret_cast<uintptr_t>(block) + 16);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(CoreVutl::getmp(static_cast<char*>(block) + 15)),
                  reinterpret_cast<uintptr_t>(block) + 16);
        CoreVutl::free8(block);
    }
    EXPECT_EQ(CoreVutl::mllc8(-1), nullptr);
}

TEST(CoreVutl, PathSplitKeepsItsRulesAndCutsEveryPieceToItsBuffer) {
    const std::string cut(CoreVutl::iCpathsize - 1, 'x');
    const std::string longPath = std::string(300, 'x') + ":/" + std::string(600, 'x') + "/" +
                                 std::string(400, 'x') + "." + std::string(500, 'x');
    const struct {
        std::string path, drive, dir, name, ext;
    } rows[] = {
        {"C:\\dir\\file.txt", "C:", "\\dir\\", "file", ".txt"},
        {"/Users/x/a.b/c", "", "/Users/x/", "a", ".b/c"}, // the extension search crosses separators
        {"readme", "", "", "readme", ""},
        {"/a", "", "", "/a", ""}, // position 0 is never a separator
        {"C:.profile", "C:", "", ".profile", ""},
        {"dir/.hidden", "", "dir/", "", ".hidden"}, // only a dot right after the drive starts a name
        {"a:b:c.d", "a:", "", "b:c", ".d"},
        {"", "", "", "", ""},
        {longPath, cut, "/" + cut.substr(1), cut, "." + cut.substr(1)},
    };
    // Each output is its own heap block of exactly iCpathsize bytes, so ASan sees any overrun.
    std::vector<char> drive(CoreVutl::iCpathsize), dir(drive), name(drive), ext(drive);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path.substr(0, 40));
        CoreVutl::fnspl(r.path.c_str(), drive.data(), dir.data(), name.data(), ext.data());
        EXPECT_EQ(drive.data(), r.drive);
        EXPECT_EQ(dir.data(), r.dir);
        EXPECT_EQ(name.data(), r.name);
        EXPECT_EQ(ext.data(), r.ext);
    }
    CoreVutl::fnspl("/x/song.wav", nullptr, nullptr, name.data(), nullptr);
    EXPECT_STREQ(name.data(), "song");
}
