// Tests of the memory and path helpers: reallocation that keeps contents or leaves a refused block
// with its owner, 16-byte aligned blocks, and the path split that keeps its odd rules while cutting
// every piece to its buffer.
#include "base/CoreVutl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

TEST(CoreVutl, ReallocationKeepsContentsAndAlignedBlocksAreWholeUsable) {
    char* block = static_cast<char*>(CoreVutl::reall(nullptr, 16));
    std::memcpy(block, "fifteen chars!!", 16);
    block = static_cast<char*>(CoreVutl::reall(block, 4096));
    EXPECT_EQ(CoreVutl::reall(block, -1), nullptr); // refused: the block stays with its owner
    EXPECT_STREQ(block, "fifteen chars!!");
    EXPECT_EQ(CoreVutl::reall(block, 0), nullptr); // AddressSanitizer reports a leak if this did not free
    void* aligned = CoreVutl::mllc8(17);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 16, 0u);
    std::memset(aligned, 0xA5, 17);
    EXPECT_EQ(CoreVutl::getmp(static_cast<char*>(aligned) + 15), static_cast<char*>(aligned) + 16);
    CoreVutl::free8(aligned);
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
        {"/a", "", "", "/a", ""},                         // position 0 is never a separator
        {"dir/.hidden", "", "dir/", "", ".hidden"},       // only a dot right after the drive starts a name
        {longPath, cut, "/" + cut.substr(1), cut, "." + cut.substr(1)},
    };
    // Each output is its own heap block of exactly iCpathsize bytes, so ASan sees any overrun.
    std::vector<char> drive(CoreVutl::iCpathsize), dir(drive), name(drive), ext(drive);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path.substr(0, 40));
        CoreVutl::fnspl(r.path.c_str(), drive.data(), dir.data(), name.data(), ext.data());
        EXPECT_TRUE(drive.data() == r.drive && dir.data() == r.dir && name.data() == r.name &&
                    ext.data() == r.ext);
    }
    CoreVutl::fnspl("/x/song.wav", nullptr, nullptr, name.data(), nullptr);
    EXPECT_STREQ(name.data(), "song");
}
