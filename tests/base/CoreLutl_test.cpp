#include "base/CoreLutl.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

class WorkingFolder {
public:
    explicit WorkingFolder(const fs::path& folder) : previous(fs::current_path()) {
        fs::current_path(folder);
    }
    ~WorkingFolder() { fs::current_path(previous); }

private:
    fs::path previous;
};

} // namespace

TEST(CoreLutl, CrtptCreatesEveryFolderOfAnAbsolutePathButNotTheFile) {
    TempFolder temp("lutl");
    CoreLutl::crtpt(CoreAnsx((temp / "x/y/z.wav").c_str()));
    EXPECT_TRUE(fs::is_directory(temp / "x"));
    EXPECT_TRUE(fs::is_directory(temp / "x/y"));
    EXPECT_FALSE(fs::exists(temp / "x/y/z.wav"));

    // Existing folders are kept with their contents.
    touch(temp / "x/keep.txt");
    CoreLutl::crtpt(CoreAnsx((temp / "x/y/w/v.wav").c_str()));
    EXPECT_TRUE(fs::is_directory(temp / "x/y/w"));
    EXPECT_TRUE(fs::exists(temp / "x/keep.txt"));
}

TEST(CoreLutl, CrtptOfRelativePathWorksUnderTheWorkingFolderNotTheRoot) {
    TempFolder temp("lutl");
    const std::string unique = "vorlan-crtpt-" + std::to_string(getpid());
    {
        WorkingFolder inside(temp.path);
        CoreLutl::crtpt(CoreAnsx((unique + "/inner/file.xml").c_str()));
        CoreLutl::crtpt(CoreAnsx("back\\slash\\file.xml"));
        CoreLutl::crtpt(CoreAnsx("plain.xml"));
    }
    EXPECT_TRUE(fs::is_directory(temp / (unique + "/inner")));
    EXPECT_FALSE(fs::exists("/" + unique));
    EXPECT_TRUE(fs::is_directory(temp / "back/slash"));
    EXPECT_FALSE(fs::exists(temp / "plain.xml"));
}

TEST(CoreLutl, CrtptTakesPathsOfManyComponents) {
    TempFolder temp("lutl");
    std::string deep = temp.path.string();
    while (deep.size() < 3900) deep += "/abcdefghijklmnopqrstuvwxyz";
    CoreLutl::crtpt(CoreAnsx((deep + "/f.wav").c_str()));
    EXPECT_TRUE(fs::is_directory(deep));
}

TEST(CoreLutl, CleptDeletesFilesAndLeavesSubFolders) {
    TempFolder temp("lutl");
    TempFolder outside("lutl");
    touch(temp / "a.wav");
    touch(temp / "B.XML");
    fs::create_directory(temp / "sub");
    touch(temp / "sub/kept.wav");
    touch(outside / "target.wav");
    fs::create_symlink(outside / "target.wav", temp / "link.wav");
    fs::create_directory_symlink(outside.path, temp / "linkdir");

    CoreLutl::clept(CoreAnsx((temp.path.string() + "/").c_str()));

    EXPECT_FALSE(fs::exists(temp / "a.wav"));
    EXPECT_FALSE(fs::exists(temp / "B.XML"));
    EXPECT_FALSE(fs::is_symlink(temp / "link.wav"));
    EXPECT_FALSE(fs::is_symlink(temp / "linkdir"));
    EXPECT_TRUE(fs::exists(temp / "sub/kept.wav"));
    EXPECT_TRUE(fs::exists(outside / "target.wav"));
}

TEST(CoreLutl, CleptWithoutTrailingSeparatorStaysInsideTheFolder) {
    TempFolder temp("lutl");
    fs::create_directory(temp / "box");
    touch(temp / "box/a.wav");
    touch(temp / "boxa.wav"); // what folder + name would name without the separator
    CoreLutl::clept(CoreAnsx((temp / "box").c_str()));
    EXPECT_FALSE(fs::exists(temp / "box/a.wav"));
    EXPECT_TRUE(fs::exists(temp / "boxa.wav"));
}
