#include "base/CoreHutl.h"
#include "base/CoreXutl.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

Names listing(const fs::path& folder, const char* filePattern, const char* folderPattern) {
    CoreAnsx* names = nullptr;
    int count = -1;
    CoreHutl::readr(CoreAnsx(folder.c_str()), CoreAnsx(filePattern), &names, count, CoreAnsx(folderPattern));
    Names result;
    for (int i = 0; i < count; ++i) result.emplace_back(names[i].c_str());
    delete[] names;
    return result;
}

class CoreHutl_Folders : public TempFolderTest {};

} // namespace

TEST(CoreHutl, MatchFollowsWildcardRulesCaseInsensitively) {
    const struct {
        const char *name, *pattern;
        bool expected;
    } rows[] = {
        {"Kick.WAV", "*.wav", true},
        {"ABC", "a?c", true},
        {"", "*", true},
        {"ba", "a*", false},
        {"xaxxb", "*a*b", true},
        {"a", "a?", false},
        {"abc", "abc**", true},
        {"abcbcd", "a*bcd", true},
        {"abcbce", "a*bcd", false},
        {"", "", true},
        {"a", "", false},
        {"", "?", false},
        {"a.wav.bak", "*.wav", false},
        {"mississippi", "m*iss*pi", true},
        {"\xe9", "\xc9", false},
        {nullptr, "*", true},
        {"a", nullptr, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(CoreHutl::match(r.name, r.pattern), r.expected)
            << "'" << (r.name ? r.name : "null") << "' ~ '" << (r.pattern ? r.pattern : "null") << "'";
}

TEST_F(CoreHutl_Folders, ListsMatchingFilesThenFoldersEachSortedByUpperCasedName) {
    for (const char* name : {"b.WAV", "a.wav", "C.wav", "A.wav", "_x.wav", "a.WAV", "n.txt"})
        writeBytes(root / name, "x");
    for (const char* name : {"Zeta", "alpha", "Beta"}) fs::create_directory(root / name);
    writeBytes(root / "alpha/inner.wav", "x");
    fs::create_directory_symlink(root / "alpha", root / "linkdir"); // a file, never followed
    fs::create_symlink(root / "missing", root / "dangling");
    // '_' (0x5F) sorts after the upper-cased letters; equal upper-cased names by their raw bytes.
    EXPECT_EQ(listing(root, "*", "*"), (Names{"A.wav", "a.WAV", "a.wav", "b.WAV", "C.wav", "dangling",
                                              "linkdir", "n.txt", "_x.wav", "alpha", "Beta", "Zeta"}));
    EXPECT_EQ(listing(root.string() + "/", "*.wav", "0"),
              (Names{"A.wav", "a.WAV", "a.wav", "b.WAV", "C.wav", "_x.wav"}));
    EXPECT_EQ(listing(root, "*.xml", "?eta"), (Names{"Beta", "Zeta"}));
}

TEST(CoreHutl, ListingAMissingFolderGivesOneEmptyTextAndReleasesTheOldArray) {
    CoreAnsx* names = new CoreAnsx[3]{CoreAnsx("old1"), CoreAnsx("old2"), CoreAnsx("old3")};
    int count = 99;
    CoreHutl::readr(CoreAnsx("/nonexistent-folder-for-readr/"), CoreAnsx("*"), &names, count, CoreAnsx("*"));
    ASSERT_NE(names, nullptr); // AddressSanitizer reports a leak if the old array stayed
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(names[0].c_str(), "");
    delete[] names;
}

TEST(CoreHutl, BundleNameSplitsBundleAndFlatLayouts) {
    const struct {
        const char *modulePath, *name, *folder;
    } rows[] = {
        {"/opt/plugins/Vorlan.vst/Contents/x86_64-linux/Vorlan.so", "Vorlan.vst", "/opt/plugins/"},
        {"/usr/lib/vst/vorlan.so", "vorlan.so", "/usr/lib/vst/"},
        {"/a/Contents/lib.so", "lib.so", "/a/Contents/"},       // "Contents" one level up only
        {"/Contents/arch/lib.so", "lib.so", "/Contents/arch/"}, // no bundle folder in front of it
        {"Vorlan.vst/Contents/arch/lib.so", "Vorlan.vst", ""},  // relative bundle
        {"/x/Vorlan.vst/contents/arch/lib.so", "lib.so", "/x/Vorlan.vst/contents/arch/"},
        {"lib.so", "lib.so", ""},
        {"", "", ""},
    };
    for (const auto& r : rows) {
        CoreAnsx folder("stale");
        EXPECT_STREQ(CoreHutl::bndnm(CoreAnsx(r.modulePath), folder).c_str(), r.name) << r.modulePath;
        EXPECT_STREQ(folder.c_str(), r.folder) << r.modulePath;
    }
}

TEST(CoreHutl, ModuleNameIsTheRunningBinaryInItsFolder) {
    CoreAnsx folder;
    const CoreAnsx name = CoreHutl::appnm(nullptr, folder);
    const std::string folderText = folder.c_str();
    ASSERT_FALSE(folderText.empty());
    EXPECT_EQ(folderText.back(), '/');
    EXPECT_EQ(fs::canonical(folderText + name.c_str()), fs::canonical("/proc/self/exe"));
}

TEST_F(CoreHutl_Folders, ModificationTimeHasANanosecondFractionAndClockIsWallMilliseconds) {
    writeBytes(root / "stamp.xml", "x");
    const timespec times[2] = {{1000000000, 0}, {1234567890, 250000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root / "stamp.xml").c_str(), times, 0), 0);
    EXPECT_DOUBLE_EQ(CoreHutl::getst(at("stamp.xml")), 1234567890.25);
    EXPECT_EQ(CoreHutl::getst(at("missing.xml")), 0.0);
    const double before = CoreXutl::tgtme();
    const double clock = CoreHutl::cpucd();
    EXPECT_LE(before, clock);
    EXPECT_LE(clock, CoreXutl::tgtme());
    CoreHutl::fslpr(0, true);
}
