// The program memory's metadata cache: the file it writes, the files it accepts, their validity by
// modification time, and names found whatever their case.
#include "processor/CoreMmry.h"

#include "../common/TempFolder.h"
#include "CoreMmryTestAccess.h"
#include "base/CoreButl.h"
#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

using Access = CoreMmryTestAccess;
using Text = std::string;

Text str(const CoreAnsx& text) {
    return text.c_str();
}

void setModified(const std::filesystem::path& file, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

class CoreMmryCache : public TempFolderTest {
protected:
    CorePool pool;
    std::unique_ptr<CoreMmry> make() { return Access::make(&pool, root.string() + "/", true); }
};

TEST_F(CoreMmryCache, WritesTheSlotsMetadataAndDeletesItWithTheProgramText) {
    auto m = make();
    const Text program = "<PROGRAM><NAME>x</NAME></PROGRAM>";
    m->setvl(7, true, "sub/My.Prog.q7p", program.c_str());
    m->setnm(7, " Foo ");
    m->setct(7, "Kit", 0);
    m->setct(7, "0", 1); // neither "0" nor empty subcategories are written
    m->setct(7, "Room", 2);
    Access::cachedFile(*m, 7) = "/data/progs/sub/My.Prog.q7p";
    m->setvl(7, program.c_str(), true);
    const auto file = root / "cache" / "My.xml";
    EXPECT_EQ(readBytes(file),
              Text(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator +
                  "<CACHE><ORIGINALFILENAME> sub/My.Prog.q7p </ORIGINALFILENAME><NAME> Foo </NAME>"
                  "<CATEGORY> Kit </CATEGORY><SUBCATEGORY2> Room </SUBCATEGORY2><DESCRIPTION></DESCRIPTION>"
                  "<WASCRYPTED> 1 </WASCRYPTED><CACHEDFILE> /data/progs/sub/My.Prog.q7p </CACHEDFILE></CACHE>\n");
    m->setvl(7, program.c_str(), false);
    EXPECT_FALSE(std::filesystem::exists(file));
    m->setvl(7, program.c_str(), true);
    m->setvl(7, true, "sub/My.Prog.q7p", program.c_str());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(CoreMmryCache, AcceptsOnlyItsOwnProgramsFileAndTellsWhetherItIsNewer) {
    auto m = make();
    const Text program = (root / "progs" / "x.xml").string();
    std::filesystem::create_directories(root / "progs");
    writeBytes(program, "<PROGRAM></PROGRAM>");
    // A file written by the memory itself, from slot 9.
    m->setvl(9, true, "x.q7p", "<PROGRAM></PROGRAM>");
    m->setnm(9, "Written");
    m->setct(9, "Kit", 0);
    m->setct(9, "Room", 2);
    Access::cachedFile(*m, 9) = program.c_str();
    m->setca(9);
    const Text written = readBytes(root / "cache" / "x.xml");
    const Text missing = "(none)";
    const Text original = "<ORIGINALFILENAME>x.xml</ORIGINALFILENAME><CACHEDFILE>" + program + "</CACHEDFILE>";
    struct Row { Text file, entry; long programAge; bool result, used; Text name, categories; bool packed; };
    const Row rows[] = {
        {"<CACHE>" + original + "<NAME>Kick</NAME><CATEGORY>kit</CATEGORY><SUBCATEGORY1>0</SUBCATEGORY1>"
         "<SUBCATEGORY2>Room</SUBCATEGORY2><WASCRYPTED>0</WASCRYPTED></CACHE>", "x.xml", 1, true, true, "Kick", "kit||", false},
        {"<CACHE>" + original + "<SUBCATEGORY1> 0 </SUBCATEGORY1><SUBCATEGORY2> b </SUBCATEGORY2>"
         "<WASCRYPTED> 1 </WASCRYPTED></CACHE>", "X.XML", 1, true, true, "", "|0|b", true},
        {"<CACHE>" + original + "</CACHE>", "x.xml", 0, false, true, "", "||", false},  // as old
        {"<CACHE>" + original + "</CACHE>", "x.xml", -1, false, true, "", "||", false}, // program newer
        {"<CACHE><ORIGINALFILENAME>x.xml</ORIGINALFILENAME><CACHEDFILE>" + program + ".gone</CACHEDFILE></CACHE>",
         "x.xml", 1, false, true, "", "||", false},
        {"<CACHE><ORIGINALFILENAME>x.xml</ORIGINALFILENAME></CACHE>", "x.xml", 1, false, true, "", "||", false},
        {written, "x", 1, true, true, "Written", "Kit||", true}, // Room needs a first subcategory
        // Another program's cache file: written for x.q7p or a/x.xml, or for nobody.
        {written, "x.xml", 1, false, false, "0", "000", false},
        {"<CACHE><ORIGINALFILENAME>a/x.xml</ORIGINALFILENAME></CACHE>", "x.xml", 1, false, false, "0", "000", false},
        {"<CACHE><NAME>x</NAME>", "x.xml", 1, false, false, "0", "000", false},
        {missing, "x.xml", 1, false, false, "0", "000", false},
        {"", "x.xml", 1, false, false, "0", "000", false},
        {"</CACHE>", "x.xml", 1, false, false, "0", "000", false},
        {"<OTHER>" + original + "</OTHER>", "x.xml", 1, false, false, "0", "000", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        m->clrpr(1);
        std::filesystem::remove(root / "cache" / "x.xml");
        if (r.file != missing) {
            writeBytes(root / "cache" / "x.xml", r.file);
            setModified(root / "cache" / "x.xml", 1000000);
        }
        setModified(program, 1000000 - r.programAge);
        EXPECT_EQ(m->getca(1, r.entry.c_str()), r.result);
        EXPECT_EQ(str(m->getnm(1)), r.name);
        const Text separator = r.used ? "|" : "";
        EXPECT_EQ(str(m->getct(1, 0)) + separator + str(m->getct(1, 1)) + separator + str(m->getct(1, 2)),
                  r.categories);
        EXPECT_EQ(m->getwp(1), r.packed);
        CoreMmry::MEMORYLOC loc;
        m->getel(1, &loc);
        EXPECT_EQ(loc.used && loc.lazy, r.used);
        EXPECT_EQ(Access::document(*m, 1), nullptr);
    }
    // A used slot is never refilled.
    m->setvl(1, false, "x.xml", "<PROGRAM></PROGRAM>");
    m->setnm(1, "Mine");
    writeBytes(root / "cache" / "x.xml", "<CACHE>" + original + "<NAME>Other</NAME></CACHE>");
    EXPECT_FALSE(m->getca(1, "x.xml"));
    EXPECT_EQ(str(m->getnm(1)), "Mine");
    EXPECT_NE(Access::document(*m, 1), nullptr);
}

TEST_F(CoreMmryCache, NeverThrowsWhenTheCacheFolderCannotHoldFiles) {
    auto m = make();
    std::filesystem::remove(root / "cache");
    writeBytes(root / "cache", "a regular file");
    Access::put(*m, 1, "Kick");
    EXPECT_NO_THROW(m->setvl(1, "<PROGRAM></PROGRAM>", true));
    EXPECT_EQ(readBytes(root / "cache"), "a regular file");
}

TEST_F(CoreMmryCache, FindsFolderAndFilesWhateverTheirCase) {
    std::filesystem::create_directory(root / "Cache");
    auto m = make(); // asks for "cache/"
    EXPECT_FALSE(std::filesystem::exists(root / "cache"));
    Access::put(*m, 1, "My");
    writeBytes(root / "Cache" / "my.xml", "old");
    m->setvl(1, "<PROGRAM></PROGRAM>", true);
    EXPECT_NE(readBytes(root / "Cache" / "my.xml"), "old"); // replaced in place
    EXPECT_FALSE(std::filesystem::exists(root / "Cache" / "My.xml"));
    m->clrpr(1);
    EXPECT_FALSE(m->getca(1, "My.xml")); // found, but its program file is no file
    EXPECT_EQ(str(m->getpf(1)), "My.xml");
    m->invca(1);
    EXPECT_TRUE(std::filesystem::is_empty(root / "Cache"));
}

} // namespace
