#include "base/CoreHutl.h"
#include "base/CoreXutl.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

std::vector<std::string> listing(const std::string& folder, const char* filePattern,
                                 const char* folderPattern) {
    CoreAnsx* names = nullptr;
    int count = -1;
    CoreHutl::readr(CoreAnsx(folder.c_str()), CoreAnsx(filePattern), &names, count, CoreAnsx(folderPattern));
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i) result.emplace_back(names[i].c_str());
    delete[] names;
    return result;
}

using Names = std::vector<std::string>;

} // namespace

TEST(CoreHutl, MatchFollowsWildcardRulesCaseInsensitively) {
    struct Case {
        const char* name;
        const char* pattern;
        bool expected;
    };
    const Case cases[] = {
        {"kick.wav", "*.WAV", true},
        {"ABC", "a?c", true},
        {"", "*", true},
        {"ba", "a*", false},
        {"Kick.WAV", "*.wav", true},
        {"xaxxb", "*a*b", true},
        {"ab", "a*b", true},
        {"a", "a?", false},
        {"abc", "abc**", true},
        {"abcbcd", "a*bcd", true},
        {"abcbce", "a*bcd", false},
        {"", "", true},
        {"a", "", false},
        {"", "?", false},
        {"snare.wav.bak", "*.wav", false},
        {"mississippi", "m*iss*pi", true},
        {"x", "X", true},
        {"\xe9", "\xc9", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CoreHutl::match(c.name, c.pattern), c.expected)
            << "'" << c.name << "' ~ '" << c.pattern << "'";
    EXPECT_TRUE(CoreHutl::match(nullptr, "*"));
    EXPECT_FALSE(CoreHutl::match("a", nullptr));
}

TEST(CoreHutl, ReadrListsMatchingFilesThenFolders) {
    TempFolder temp("hutl");
    touch(temp / "a.wav");
    touch(temp / "b.txt");
    fs::create_directory(temp / "sub");
    touch(temp / "sub/inner.wav");

    EXPECT_EQ(listing(temp.path.string(), "*.wav", "0"), (Names{"a.wav"}));
    EXPECT_EQ(listing(temp.withSeparator(), "*", "*"), (Names{"a.wav", "b.txt", "sub"}));
    EXPECT_EQ(listing(temp.withSeparator(), "*.xml", "s*"), (Names{"sub"}));
    EXPECT_EQ(listing(temp.withSeparator(), "*", "x*"), (Names{"a.wav", "b.txt"}));
}

TEST(CoreHutl, ReadrSortsByUpperCasedNameThenRawBytes) {
    TempFolder temp("hutl");
    for (const char* name : {"b.WAV", "a.wav", "C.wav", "A.wav", "_x.wav", "a.WAV"}) touch(temp / name);
    for (const char* name : {"Zeta", "alpha", "Beta"}) fs::create_directory(temp / name);
    // '_' (0x5F) sorts after the upper-cased letters but before lower-case ones.
    EXPECT_EQ(listing(temp.path.string(), "*", "*"),
              (Names{"A.wav", "a.WAV", "a.wav", "b.WAV", "C.wav", "_x.wav", "alpha", "Beta", "Zeta"}));
}

TEST(CoreHutl, ReadrTreatsLinksAsFilesAndNeverFollowsThem) {
    TempFolder temp("hutl");
    fs::create_directory(temp / "real");
    touch(temp / "real/deep.wav");
    fs::create_directory_symlink(temp / "real", temp / "linkdir");
    fs::create_symlink(temp / "missing", temp / "dangling");

    EXPECT_EQ(listing(temp.path.string(), "*", "*"), (Names{"dangling", "linkdir", "real"}));
    EXPECT_EQ(listing(temp.path.string(), "*", "0"), (Names{"dangling", "linkdir"}));
}

TEST(CoreHutl, ReadrOfMissingFolderGivesOneEmptyTextAndReleasesOldArray) {
    CoreAnsx* names = new CoreAnsx[3]{CoreAnsx("old1"), CoreAnsx("old2"), CoreAnsx("old3")};
    int count = 99;
    CoreHutl::readr(CoreAnsx("/nonexistent-folder-for-readr/"), CoreAnsx("*"), &names, count, CoreAnsx("*"));
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(names[0].c_str(), "");
    // A second call replaces the array again; AddressSanitizer reports a leak if
    // the old one stays.
    TempFolder temp("hutl");
    touch(temp / "one.wav");
    CoreHutl::readr(CoreAnsx(temp.path.c_str()), CoreAnsx("*"), &names, count, CoreAnsx("0"));
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(names[0].c_str(), "one.wav");
    delete[] names;
}

TEST(CoreHutl, BundleNameSplitsBundleAndFlatLayouts) {
    struct Case {
        const char* modulePath;
        const char* name;
        const char* folder;
    };
    const Case cases[] = {
        {"/opt/plugins/Vorlan.vst/Contents/x86_64-linux/Vorlan.so", "Vorlan.vst", "/opt/plugins/"},
        {"/usr/lib/vst/vorlan.so", "vorlan.so", "/usr/lib/vst/"},
        {"/home/u/.vst/noext", "noext", "/home/u/.vst/"},
        {"/a/Contents/lib.so", "lib.so", "/a/Contents/"},       // "Contents" one level up only
        {"/Contents/arch/lib.so", "lib.so", "/Contents/arch/"}, // no bundle folder in front of it
        {"Vorlan.vst/Contents/arch/lib.so", "Vorlan.vst", ""},  // relative bundle
        {"/x/Vorlan.vst/contents/arch/lib.so", "lib.so", "/x/Vorlan.vst/contents/arch/"},
        {"lib.so", "lib.so", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        CoreAnsx folder("stale");
        const CoreAnsx name = CoreHutl::bndnm(CoreAnsx(c.modulePath), folder);
        EXPECT_STREQ(name.c_str(), c.name) << c.modulePath;
        EXPECT_STREQ(folder.c_str(), c.folder) << c.modulePath;
    }
}

TEST(CoreHutl, AppnmNamesTheRunningBinaryAndItsFolder) {
    const fs::path self = fs::canonical("/proc/self/exe");
    CoreAnsx folder;
    const CoreAnsx name = CoreHutl::appnm(nullptr, folder);
    EXPECT_EQ(std::string(name.c_str()), self.filename().string());
    const std::string folderText = folder.c_str();
    ASSERT_FALSE(folderText.empty());
    EXPECT_EQ(folderText.back(), '/');
    EXPECT_EQ(fs::canonical(folderText + name.c_str()), self);
}

TEST(CoreHutl, GetstGivesModificationTimeWithNanosecondFraction) {
    TempFolder temp("hutl");
    const std::string file = temp / "stamp.xml";
    touch(file);
    const timespec times[2] = {{1000000000, 0}, {1234567890, 250000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_DOUBLE_EQ(CoreHutl::getst(CoreAnsx(file.c_str())), 1234567890.25);
    EXPECT_EQ(CoreHutl::getst(CoreAnsx((temp / "missing.xml").c_str())), 0.0);
}

TEST(CoreHutl, CpucdIsTheWallClockInMilliseconds) {
    const double before = CoreXutl::tgtme();
    const double clock = CoreHutl::cpucd();
    const double after = CoreXutl::tgtme();
    EXPECT_LE(before, clock);
    EXPECT_LE(clock, after);
    CoreHutl::fslpr(0, true);
}
