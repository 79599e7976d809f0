// Tests of the host helpers: wildcard matching, folder listings (files then folders, sorted by
// upper-cased name, links never followed), the bundle and binary names, and modification times.
#include "base/CoreHutl.h"
#include "base/CoreXutl.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

// The names readr lists, in its order.
static std::vector<std::string> listing(const fs::path& folder, const char* filePattern,
                                        const char* folderPattern) {
    CoreAnsx* names = nullptr;
    int count = -1;
    CoreHutl::readr(CoreAnsx(folder.c_str()), CoreAnsx(filePattern), &names, count, CoreAnsx(folderPattern));
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i) result.emplace_back(names[i].c_str());
    delete[] names;
    return result;
}

class CoreHutl_Folders : public TempFolderTest {};

TEST(CoreHutl, MatchFollowsWildcardRulesCaseInsensitively) {
    const char* matching[][2] = {
        {"Kick.WAV", "*.wav"}, {"ABC", "a?c"}, {"abcbcd", "a*bcd"}, {"abc", "abc**"}};
    const char* different[][2] = {{"a", "a?"}, {"abcbce", "a*bcd"}, {"\xe9", "\xc9"}, {"a", nullptr}};
    for (const auto& m : matching) EXPECT_TRUE(CoreHutl::match(m[0], m[1])) << m[0] << " ~ " << m[1];
    for (const auto& d : different) EXPECT_FALSE(CoreHutl::match(d[0], d[1])) << d[0];
    EXPECT_TRUE(CoreHutl::match(nullptr, "*"));
}

TEST_F(CoreHutl_Folders, ListsMatchingFilesThenFoldersEachSortedByUpperCasedName) {
    for (const char* name : {"b.WAV", "a.wav", "C.wav", "A.wav", "_x.wav", "a.WAV", "n.txt"})
        writeBytes(root / name, "x");
    for (const char* name : {"Zeta", "alpha", "Beta"}) fs::create_directory(root / name);
    fs::create_directory_symlink(root / "alpha", root / "linkdir"); // a file, never followed
    fs::create_symlink(root / "missing", root / "dangling");
    // '_' (0x5F) sorts after the upper-cased letters; equal upper-cased names by their raw bytes.
    EXPECT_EQ(listing(root, "*", "*"),
              (std::vector<std::string>{"A.wav", "a.WAV", "a.wav", "b.WAV", "C.wav", "dangling", "linkdir",
                                        "n.txt", "_x.wav", "alpha", "Beta", "Zeta"}));
    EXPECT_EQ(listing(root.string() + "/", "*.xml", "?eta"), (std::vector<std::string>{"Beta", "Zeta"}));
    EXPECT_EQ(listing(root, "n*", "0"), std::vector<std::string>{"n.txt"});
    CoreAnsx* names = new CoreAnsx[3]{"old1", "old2", "old3"}; // AddressSanitizer reports it if kept
    int count = 99;
    CoreHutl::readr(at("missing"), "*", &names, count, "*");
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(names[0].c_str(), "");
    delete[] names;
}

TEST(CoreHutl, BundleNameSplitsBundleAndFlatLayoutsAndNamesTheRunningBinary) {
    const char* rows[][3] = {
        {"/opt/p/Vorlan.vst/Contents/x86_64-linux/Vorlan.so", "Vorlan.vst", "/opt/p/"},
        {"/usr/lib/vst/vorlan.so", "vorlan.so", "/usr/lib/vst/"},
        {"/a/Contents/lib.so", "lib.so", "/a/Contents/"},       // "Contents" one level up only
        {"/Contents/arch/lib.so", "lib.so", "/Contents/arch/"}, // no bundle folder in front
        {"Vorlan.vst/Contents/arch/lib.so", "Vorlan.vst", ""},
        {"", "", ""}};
    for (const auto& r : rows) {
        CoreAnsx folder("stale");
        EXPECT_STREQ(CoreHutl::bndnm(r[0], folder).c_str(), r[1]) << r[0];
        EXPECT_STREQ(folder.c_str(), r[2]) << r[0];
    }
    CoreAnsx folder;
    const CoreAnsx name = CoreHutl::appnm(nullptr, folder);
    ASSERT_TRUE(std::string(folder.c_str()).ends_with("/"));
    EXPECT_EQ(fs::canonical(std::string(folder.c_str()) + name.c_str()), fs::canonical("/proc/self/exe"));
}

TEST_F(CoreHutl_Folders, ModificationTimeHasANanosecondFractionAndTheClockIsWallMilliseconds) {
    writeBytes(root / "stamp.xml", "x");
    const timespec times[2] = {{1000000000, 0}, {1234567890, 250000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root / "stamp.xml").c_str(), times, 0), 0);
    EXPECT_DOUBLE_EQ(CoreHutl::getst(at("stamp.xml")), 1234567890.25);
    EXPECT_EQ(CoreHutl::getst(at("missing.xml")), 0.0);
    const double before = CoreXutl::tgtme(), clock = CoreHutl::cpucd();
    EXPECT_LE(before, clock);
    EXPECT_LE(clock, CoreXutl::tgtme());
    CoreHutl::fslpr(0, true);
}
