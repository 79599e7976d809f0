// Tests of the case-insensitive name resolution of CoreButl (pcase for readers, wcase for writers)
// and of the folder listings it keeps between calls.
#include "base/CoreButl.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string str(const CoreAnsx& s) {
    return std::string(s.c_str());
}

void touch(const fs::path& path) {
    std::ofstream(path, std::ios::binary) << "x";
}

class CoreButlCase : public TempFolderTest {
protected:
    std::string path(const std::string& relative) const { return (root / relative).string(); }
};

} // namespace

TEST_F(CoreButlCase, WcaseKeepsExistingSpellingsAndGivesNewNamesAsAsked) {
    fs::create_directories(root / "Prog/Sub");
    touch(root / "Prog/My.q7p");
    touch(root / "Prog/b.XML");
    touch(root / "Prog/B.xml");
    EXPECT_EQ(str(CoreButl::wcase(at("PROG/MY.Q7P"))), path("Prog/My.q7p"));
    EXPECT_EQ(str(CoreButl::wcase(at("prog/b.xml"))), path("Prog/B.xml")); // first in byte order
    EXPECT_EQ(str(CoreButl::wcase(at("Prog/b.XML"))), path("Prog/b.XML")); // the exact spelling
    EXPECT_EQ(str(CoreButl::wcase(at("PROG/NEW.XML"))), path("Prog/NEW.XML"));
    EXPECT_EQ(str(CoreButl::wcase(at("PROG/SUB/NEW/DEEP.XML"))), path("Prog/Sub/NEW/DEEP.XML"));
    EXPECT_EQ(str(CoreButl::wcase(at("OTHER/X.XML"))), path("OTHER/X.XML"));
    EXPECT_EQ(str(CoreButl::wcase(at("prog/sub/"))), path("Prog/Sub/"));
    EXPECT_EQ(str(CoreButl::wcase("")), "");
    // pcase gives the path unchanged when no such path exists in any case.
    EXPECT_EQ(str(CoreButl::pcase(at("PROG/NEW.XML"))), path("PROG/NEW.XML"));
    EXPECT_EQ(str(CoreButl::pcase(at("PROG/SUB/../MY.Q7P"))), path("Prog/Sub/../My.q7p"));
}

TEST_F(CoreButlCase, ResolutionFollowsEveryChangeOfAFolder) {
    touch(root / "a.txt");
    EXPECT_EQ(str(CoreButl::pcase(at("A.TXT"))), path("a.txt"));
    // Changes by another program, right after the folder was listed.
    fs::remove(root / "a.txt");
    touch(root / "A.txt");
    EXPECT_EQ(str(CoreButl::pcase(at("a.TXT"))), path("A.txt"));
    EXPECT_EQ(str(CoreButl::pcase(at("NEW.TXT"))), path("NEW.TXT"));
    touch(root / "new.txt");
    EXPECT_EQ(str(CoreButl::pcase(at("NEW.TXT"))), path("new.txt"));
    fs::rename(root / "new.txt", root / "renamed.txt");
    EXPECT_EQ(str(CoreButl::pcase(at("NEW.TXT"))), path("NEW.TXT"));
    // The system's own write.
    EXPECT_TRUE(CoreButl::setfc(at("own.txt"), "own"));
    EXPECT_EQ(str(CoreButl::pcase(at("OWN.TXT"))), path("own.txt"));

    // More folders than the listings hold: every answer stays right.
    for (int i = 0; i < 300; ++i) {
        fs::create_directories(root / ("d" + std::to_string(i)));
        touch(root / ("d" + std::to_string(i)) / "Item.wav");
    }
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(str(CoreButl::pcase(at("D" + std::to_string(i) + "/ITEM.WAV"))),
                      path("d" + std::to_string(i) + "/Item.wav"));
}

TEST_F(CoreButlCase, AFileAnotherThreadCreatesIsFoundAtOnce) {
    constexpr int kFiles = 400;
    std::atomic<int> created{-1};
    std::atomic<int> wrong{0};
    std::thread creator([&] {
        for (int i = 0; i < kFiles; ++i) {
            touch(root / ("file_" + std::to_string(i) + ".txt"));
            created.store(i);
            std::this_thread::yield();
        }
    });
    int checked = 0;
    for (int last = -1; last < kFiles - 1;) {
        const int now = created.load();
        // Names asked for before they exist make the resolver list the folder again and again.
        CoreButl::pcase(at("FILE_" + std::to_string(now + 1) + ".TXT"));
        if (now == last) continue;
        for (int i = last + 1; i <= now; ++i, ++checked)
            if (str(CoreButl::pcase(at("FILE_" + std::to_string(i) + ".TXT"))) !=
                path("file_" + std::to_string(i) + ".txt"))
                ++wrong;
        last = now;
    }
    creator.join();
    EXPECT_EQ(checked, kFiles);
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(CoreButlCase, PcaseTellsWhetherItFoundARegularFile) {
    fs::create_directories(root / "Dir.wav");
    touch(root / "File.wav");
    fs::create_symlink(root / "File.wav", root / "Link.wav");
    fs::create_symlink(root / "Dir.wav", root / "DirLink.wav");
    const struct {
        const char* asked;
        const char* found;
        bool regular;
    } cases[] = {{"File.wav", "File.wav", true},        {"FILE.WAV", "File.wav", true},
                 {"Link.wav", "Link.wav", true},        {"LINK.WAV", "Link.wav", true},
                 {"Dir.wav", "Dir.wav", false},         {"DIR.WAV", "Dir.wav", false},
                 {"DIRLINK.WAV", "DirLink.wav", false}, {"NONE.WAV", "NONE.WAV", false}};
    for (const auto& c : cases) {
        bool regular = !c.regular;
        EXPECT_EQ(str(CoreButl::pcase(at(c.asked), regular)), path(c.found)) << c.asked;
        EXPECT_EQ(regular, c.regular) << c.asked;
    }
}
