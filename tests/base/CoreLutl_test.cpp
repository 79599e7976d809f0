// Tests of the folder helpers: a relative path is created under the working folder, never the root,
// and emptying a folder deletes files and links inside it only, never beside it or their targets.
#include "base/CoreLutl.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

class CoreLutl_Folders : public TempFolderTest {};

TEST_F(CoreLutl_Folders, ARelativePathIsCreatedUnderTheWorkingFolderNotTheRoot) {
    const fs::path previous = fs::current_path();
    const std::string unique = "vorlan-crtpt-" + root.filename().string();
    fs::current_path(root);
    CoreLutl::crtpt(CoreAnsx((unique + "/inner/file.xml").c_str()));
    CoreLutl::crtpt(CoreAnsx("back\\slash\\file.xml"));
    CoreLutl::crtpt(CoreAnsx("plain.xml"));
    fs::current_path(previous);
    EXPECT_TRUE(fs::is_directory(root / unique / "inner"));
    EXPECT_FALSE(fs::exists("/" + unique));
    EXPECT_TRUE(fs::is_directory(root / "back/slash"));
    EXPECT_FALSE(fs::exists(root / "plain.xml"));
}

TEST_F(CoreLutl_Folders, EmptyingDeletesFilesAndLinksInsideOnlyNeverTheirTargets) {
    fs::create_directories(root / "box/sub");
    fs::create_directory(root / "outside");
    for (const char* name : {"box/a.wav", "box/B.XML", "box/sub/kept.wav", "boxa.wav", "outside/target.wav"})
        writeBytes(root / name, "x");
    fs::create_symlink(root / "outside/target.wav", root / "box/link.wav");
    fs::create_directory_symlink(root / "outside", root / "box/linkdir");
    CoreLutl::clept(at("box")); // without the trailing separator: still inside, never "boxa.wav"
    for (const char* gone : {"box/a.wav", "box/B.XML", "box/link.wav", "box/linkdir"})
        EXPECT_FALSE(fs::is_symlink(root / gone) || fs::exists(root / gone)) << gone;
    for (const char* kept : {"box/sub/kept.wav", "boxa.wav", "outside/target.wav"})
        EXPECT_TRUE(fs::exists(root / kept)) << kept;
}
