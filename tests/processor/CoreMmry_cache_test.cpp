// The program memory's metadata cache: the file it writes, the files it accepts, their validity by
// modification time, and names found whatever their case.
#include "processor/CoreMmry.h"

#include "CoreMmryTestAccess.h"
#include "base/CoreButl.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

using Access = CoreMmryTestAccess;
using Text = std::string;

void setModified(const std::filesystem::path& file, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// Name, the three categories and the flags of a slot, in the form of Access::state.
Text metadata(const CoreMmry& m, int32_t slot) {
    const Text state = Access::state(m, slot);
    size_t end = 0;
    for (int field = 0; field < 4; ++field) end = state.find('|', end) + 1;
    return state.substr(0, end) + state.substr(state.rfind('|') + 1);
}

class CoreMmryCache : public MemoryFolderTest {};

TEST_F(CoreMmryCache, WritesTheSlotsMetadataAndDeletesItWithTheProgramText) {
    auto m = make(true);
    const char* program = "<PROGRAM><NAME>x</NAME></PROGRAM>";
    m->setvl(7, true, "sub/My.Prog.q7p", program);
    m->setnm(7, " Foo ");
    m->setct(7, "Kit", 0);
    m->setct(7, "0", 1); // neither "0" nor empty subcategories are written
    m->setct(7, "Room", 2);
    Access::cachedFile(*m, 7) = "/data/progs/sub/My.Prog.q7p";
    m->setvl(7, program, true);
    const auto file = root / "cache" / "My.xml";
    EXPECT_EQ(readBytes(file),
              Text(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator +
                  "<CACHE><ORIGINALFILENAME> sub/My.Prog.q7p </ORIGINALFILENAME><NAME> Foo </NAME>"
                  "<CATEGORY> Kit </CATEGORY><SUBCATEGORY2> Room </SUBCATEGORY2><DESCRIPTION></DESCRIPTION>"
                  "<WASCRYPTED> 1 </WASCRYPTED><CACHEDFILE> /data/progs/sub/My.Prog.q7p </CACHEDFILE></CACHE>\n");
    m->setvl(7, program, false);
    EXPECT_FALSE(std::filesystem::exists(file));
    m->setvl(7, program, true);
    m->setvl(7, true, "sub/My.Prog.q7p", program);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(CoreMmryCache, AcceptsOnlyItsOwnProgramsFileAndTellsWhetherItIsNewer) {
    auto m = make(true);
    const Text program = (root / "x.xml").string(), cache = (root / "cache" / "x.xml").string();
    writeBytes(program, "<PROGRAM></PROGRAM>");
    m->setvl(9, true, "x.q7p", "<PROGRAM></PROGRAM>"); // a file the memory writes itself
    m->setnm(9, "Written");
    m->setct(9, "Kit", 0);
    m->setct(9, "Room", 2);
    Access::cachedFile(*m, 9) = program.c_str();
    m->setca(9);
    const Text written = readBytes(cache), missing = "(none)";
    const Text header = "<CACHE><ORIGINALFILENAME>x.xml</ORIGINALFILENAME><CACHEDFILE>" + program + "</CACHEDFILE>";
    struct Row { Text file, entry; long programAge; bool result; Text slot; };
    const Row rows[] = {
        {header + "<NAME>Kick</NAME><CATEGORY>kit</CATEGORY><SUBCATEGORY1>0</SUBCATEGORY1><SUBCATEGORY2>Room"
         "</SUBCATEGORY2><WASCRYPTED>0</WASCRYPTED></CACHE>", "x.xml", 1, true, "Kick|kit|||UL"},
        {header + "<SUBCATEGORY1> 0 </SUBCATEGORY1><SUBCATEGORY2> b </SUBCATEGORY2><WASCRYPTED> 1 </WASCRYPTED>"
         "</CACHE>", "X.XML", 1, true, "||0|b|PUL"},
        {header + "</CACHE>", "x.xml", 0, false, "||||UL"},  // as old as the program
        {header + "</CACHE>", "x.xml", -1, false, "||||UL"}, // older
        {"<CACHE><ORIGINALFILENAME>x.xml</ORIGINALFILENAME><CACHEDFILE>" + program + "x</CACHEDFILE></CACHE>",
         "x.xml", 1, false, "||||UL"},
        {"<CACHE><ORIGINALFILENAME>x.xml</ORIGINALFILENAME></CACHE>", "x.xml", 1, false, "||||UL"},
        {written, "x", 1, true, "Written|Kit|||PUL"}, // a second subcategory needs a first one
        // Another program's file (x.q7p, a/x.xml, nobody), none, nothing readable.
        {written, "x.xml", 1, false, "0|0|0|0|"},
        {"<CACHE><ORIGINALFILENAME>a/x.xml</ORIGINALFILENAME></CACHE>", "x.xml", 1, false, "0|0|0|0|"},
        {"<CACHE><NAME>x</NAME>", "x.xml", 1, false, "0|0|0|0|"},
        {missing, "x.xml", 1, false, "0|0|0|0|"},
        {"", "x.xml", 1, false, "0|0|0|0|"},
        {"</CACHE>", "x.xml", 1, false, "0|0|0|0|"},
        {"<OTHER>" + header.substr(7) + "</OTHER>", "x.xml", 1, false, "0|0|0|0|"},
    };
    for (const Row& r : rows) {
        m->clrpr(1);
        std::filesystem::remove(cache);
        if (r.file != missing) writeBytes(cache, r.file);
        setModified(cache, 1000000);
        setModified(program, 1000000 - r.programAge);
        EXPECT_EQ(m->getca(1, r.entry.c_str()), r.result) << r.file;
        EXPECT_EQ(metadata(*m, 1), r.slot) << r.file;
        EXPECT_EQ(Access::document(*m, 1), nullptr);
    }
    m->setvl(1, false, "x.xml", "<PROGRAM></PROGRAM>"); // a used slot is never refilled
    writeBytes(cache, header + "<NAME>Other</NAME></CACHE>");
    EXPECT_FALSE(m->getca(1, "x.xml"));
    EXPECT_EQ(metadata(*m, 1), "||||U");
}

TEST_F(CoreMmryCache, FindsItsFolderAndFilesWhateverTheirCaseAndNeverThrows) {
    std::filesystem::create_directory(root / "Cache");
    auto m = make(true); // asks for "cache/"
    Access::put(*m, 1, "My");
    writeBytes(root / "Cache" / "my.xml", "old");
    m->setvl(1, "<PROGRAM></PROGRAM>", true);
    EXPECT_NE(readBytes(root / "Cache" / "my.xml"), "old"); // replaced in place
    m->clrpr(1);
    EXPECT_FALSE(m->getca(1, "My.xml")); // read back, but its program file is no file
    EXPECT_EQ(Text(m->getpf(1).c_str()), "My.xml");
    m->invca(1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root), {}), 1);
    EXPECT_TRUE(std::filesystem::is_empty(root / "Cache"));
    // A cache folder replaced by a regular file: nothing written, nothing thrown.
    std::filesystem::remove(root / "Cache");
    writeBytes(root / "Cache", "a regular file");
    EXPECT_NO_THROW(m->setvl(1, "<PROGRAM></PROGRAM>", true));
    EXPECT_EQ(readBytes(root / "Cache"), "a regular file");
}

TEST_F(CoreMmryCache, NeverWritesOverOrDeletesAProgramAtItsCacheName) {
    // A cache folder that is also the program folder: "Kick.xml" names the program and its cache file.
    CoreMmry m(&pool, CoreAnsx((root.string() + "/").c_str()), 0, nullptr, "setups/", "progs/", "vectors/",
               "progs/", true, nullptr);
    std::filesystem::create_directories(root / "progs");
    const Text program = "<PROGRAM><NAME>Kick</NAME></PROGRAM>";
    writeBytes(root / "progs" / "Kick.xml", program);
    writeBytes(root / "progs" / "Snare.xml", "<SETUP><PROGRAM>x</PROGRAM></SETUP>");
    for (const char* file : {"Kick.xml", "Snare.xml"}) {
        SCOPED_TRACE(file);
        const Text before = readBytes(root / "progs" / file);
        m.setvl(3, true, file, program.c_str());
        Access::cachedFile(m, 3) = (root / "progs" / file).string().c_str();
        m.setvl(3, program.c_str(), true);  // would write the cache file
        EXPECT_EQ(readBytes(root / "progs" / file), before);
        m.setvl(3, program.c_str(), false); // would delete it
        EXPECT_EQ(readBytes(root / "progs" / file), before);
        m.clrpr(3);
    }
}

} // namespace
