// The program memory's files: program files read into slots, setup files read and written, the folder
// scan, and moving, copying, re-reading and handing out slots. Programs are hand-written, written by the
// program writers or packed into containers; no vector or WAV file is opened.
#include "processor/CoreMmry.h"

#include "CoreMmryTestAccess.h"
#include "base/CoreBlnk.h"
#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "filestore/CoreFsys.h"
#include "program/CoreProg.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Access = CoreMmryTestAccess;
using Text = std::string;

Text program(const Text& name, const Text& more = "") {
    return "<PROGRAM><NAME>" + name + "</NAME>" + more + "</PROGRAM>";
}

CoreAnsx text(const Text& bytes) {
    return CoreAnsx(bytes.c_str());
}

Text entry(int sequence, const Text& file, const Text& more = "") {
    return "<PROGRAM><SEQUENCE>" + std::to_string(sequence) + "</SEQUENCE><FILENAME>" + file + "</FILENAME>" +
           more + "</PROGRAM>";
}

size_t occurrences(const Text& whole, const Text& part) {
    size_t count = 0;
    for (size_t at = whole.find(part); at != Text::npos; at = whole.find(part, at + 1)) ++count;
    return count;
}

void setModified(const fs::path& file, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// A data folder with "progs/", "setups/" and "cache/", two alternative folders, and a log at level 3.
class CoreMmryFiles : public MemoryFolderTest {
protected:
    void SetUp() override {
        MemoryFolderTest::SetUp();
        for (const char* folder : {"progs", "setups", "cache", "alt1/progs", "alt2/progs"})
            fs::create_directories(root / folder);
        alternatives[0] = at("alt1/");
        alternatives[1] = at("alt2/");
        CoreLog_::setpt(at(""));
        CoreLog_::setfn("test.log");
        CoreLog_::setdb(3, false);
    }
    void TearDown() override {
        CoreLog_::setdb(0, false);
        CoreLog_::setpt("");
        MemoryFolderTest::TearDown();
    }
    std::unique_ptr<CoreMmry> memory(bool cache = false, CoreFsys* store = nullptr,
                                     const char* programs = "progs/") {
        return std::make_unique<CoreMmry>(&pool, at(""), 2, alternatives, "setups/", programs, "vectors/",
                                          "cache/", cache, store);
    }
    void write(const Text& file, const Text& bytes) { writeBytes(root / file, bytes); }
    // A container holding the text as item; the store writes the file name upper-cased.
    void pack(const Text& file, const Text& item, const Text& bytes) {
        CoreFsys store(&pool);
        store.setit(store.crtit(item.c_str()), bytes.data(), static_cast<int32_t>(bytes.size()), "0", true,
                    false);
        store.savea(at(file));
    }
    void writeProgram(const Text& file, const char* name, const char* category, const char* description) {
        CoreBlnk blink;
        CoreProg p(&pool, nullptr, 3, "VECTORS/", 500000, 2000000, 1000, 4800, 256, 8192, 4096, &blink,
                   nullptr);
        p.setnm(name);
        p.setct(category, 0);
        p.setds(description);
        CoreXml_ document;
        p.chggl(&document);
        document.settf(at(file), false, false, false);
    }
    Text log() const { return readBytes(root / "test.log"); }
    // Every field of a slot, free ones too: name, categories, description, file path, vector file name,
    // cached file ("~/" for the data folder), then U, L, P for the flags and D for a document.
    Text fields(CoreMmry& m, int32_t slot) const {
        CoreMmry::MEMORYLOC loc;
        m.getel(slot, &loc);
        Text joined;
        for (const CoreAnsx* part : {&loc.name, &loc.category[0], &loc.category[1], &loc.category[2],
                                     &loc.description, &loc.filepath, &loc.vectorname, &loc.cachedfile})
            joined += Text(part->c_str()) + "|";
        const Text folder = root.string() + "/";
        for (size_t at = joined.find(folder); at != Text::npos; at = joined.find(folder))
            joined.replace(at, folder.size(), "~/");
        return joined + (loc.used ? "U" : "") + (loc.lazy ? "L" : "") + (loc.packed ? "P" : "") +
               (slot >= 0 && slot < CoreMmry::iCmemorydim && Access::document(m, slot) ? "D" : "");
    }
    // "slot:name" of the used slots in from .. from + 5.
    static Text placed(const CoreMmry& m, int32_t from) {
        Text joined;
        for (int32_t n = from; n < from + 6; ++n)
            if (m.getnm(n) != CoreAnsx("0"))
                joined += (joined.empty() ? "" : " ") + std::to_string(n) + ":" + m.getnm(n).c_str();
        return joined;
    }

    CoreAnsx alternatives[2];
};

TEST_F(CoreMmryFiles, LoadsProgramFilesWithTheirHeader) {
    write("progs/kick.xml",
          "<PROGRAM><NAME>Kick</NAME><SUBCATEGORY1>0</SUBCATEGORY1><VECTORFILENAME>kick.q7v"
          "</VECTORFILENAME><H1><ELEMENT><FILENAME>k.wav</FILENAME></ELEMENT></H1></PROGRAM>");
    write("progs/both.xml", program("Loose"));
    pack("progs/both.q7p", "both.XML",
         program("Packed", "<CATEGORY>Pad</CATEGORY><VECTORFILENAME> v.q7v </VECTORFILENAME>"));
    pack("progs/nov.q7p", "progs/nov.XML", program("Nov", "<VECTORFILENAME>0</VECTORFILENAME>"));
    pack("progs/a.q7p", "a.XML", program("A"));
    fs::rename(root / "progs/A.Q7P", root / "progs/a.q7p");
    write("progs/loose.xml", program("Loose"));
    write("alt2/progs/far.xml", program("Far"));
    writeProgram("progs/writer.xml", "Writer", "Keys", "");
    write("progs/My.Prog.xml", program("Dotted"));
    write("progs/x.prg", program("Prg"));
    write("progs/noprog.xml", "<OTHER></OTHER>");
    write("progs/bad.xml", "</X>" + program("Bad"));
    const Text whole = readBytes(root / "progs/BOTH.Q7P");
    write("progs/short.q7p", whole.substr(0, whole.size() - 10));
    pack("given.q7p", "given.XML", program("Given"));
    const Text given = readBytes(root / "GIVEN.Q7P");
    fs::remove(root / "GIVEN.Q7P");
    CoreFsys store(&pool, at(""), false, false); // holds the packed program only in memory
    store.setit(store.crtit("progs/given.q7p"), given.data(), static_cast<int32_t>(given.size()), "0", true,
                false);
    auto own = memory(), withStore = memory(false, &store), capitals = memory(false, nullptr, "Progs/");

    // memory: o own store, s given store, c the program folder set as "Progs/"; before: F free,
    // U used (Old, c0, c1, c2, d), L lazy.
    struct Row {
        char memory, before;
        const char* file;
        bool result;
        Text fields;
    };
    const Row rows[] = {
        {'o', 'U', "kick.xml", true, "Kick|c0|c1|c2|d|kick.xml|kick.xml|~/progs/kick.xml|UD"},
        {'o', 'U', "both", true, "Packed|Pad|c1|c2|d|both.q7p|v.q7v|~/progs/both.q7p|UPD"},
        {'o', 'F', "both.xml", true, "Loose|||||both.xml|both.xml|~/progs/both.xml|UD"},
        {'o', 'F', "nov.q7p", true, "Nov|||||nov.q7p|nov.q7p|~/progs/nov.q7p|UPD"},
        {'o', 'F', "far", true, "Far|||||far.xml|far.xml|~/alt2/progs/far.xml|UD"},
        {'o', 'U', "writer.xml", true, "Writer|Keys||||writer.xml|writer.xml|~/progs/writer.xml|UD"},
        {'o', 'F', "A", true, "A|||||A.q7p|A.q7p|~/progs/A.q7p|UPD"},
        {'o', 'F', "MY.PROG", true, "Dotted|||||MY.PROG.xml|MY.PROG.xml|~/progs/MY.PROG.xml|UD"},
        {'o', 'F', "x.prg", true, "Prg|||||x.prg|x.prg|~/progs/x.prg|UD"},
        {'o', 'F', "none", false, "|||||none.xml|none.xml||"},
        {'o', 'F', "loose.q7p", false, "|||||loose.q7p|loose.q7p||"},
        {'o', 'L', "short.q7p", false, "Old|c0|c1|c2|d|short.q7p|short.q7p||UL"},
        {'o', 'F', "noprog.xml", false, "|||||noprog.xml|noprog.xml||"},
        {'o', 'U', "bad.xml", false, "Old|c0|c1|c2|d|bad.xml|bad.xml||U"},
        {'s', 'F', "given", true, "Given|||||given.q7p|given.q7p|progs/given.q7p|UPD"},
        {'s', 'F', "kick.xml", true, "Kick|||||kick.xml|kick.xml|~/progs/kick.xml|UD"},
        {'s', 'F', "none", false, "|||||none.q7p|none.q7p||"},
        {'c', 'F', "kick.xml", true, "Kick|||||kick.xml|kick.xml|~/Progs/kick.xml|UD"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CoreMmry& m = r.memory == 's' ? *withStore : r.memory == 'c' ? *capitals : *own;
        m.clrpr(1);
        if (r.before != 'F') {
            Access::put(m, 1, "Old", "c0", "c1", "c2");
            m.setds(1, "d");
        }
        if (r.before == 'L') Access::makeLazy(m, 1);
        const int64_t held = pool.getma();
        EXPECT_EQ(m.loadl(1, r.file), r.result);
        EXPECT_EQ(pool.getma(), held); // the container's store is gone
        EXPECT_EQ(fields(m, 1), r.fields);
    }
    EXPECT_EQ(occurrences(log(), "Error in file " + (root / "progs/noprog.xml").string() + "\n"), 1u);
    EXPECT_FALSE(own->loadl(-1, "kick.xml") || own->loadl(10000, "kick.xml"));
}

TEST_F(CoreMmryFiles, PlacesSetupEntriesFromTheBanksFirstFreeSlot) {
    for (const char* name : {"p1", "p2", "p3", "p4", "p5"})
        write(Text("progs/") + name + ".xml", program(name));
    const Text three = "<SETUP>" + entry(5, "p5") + entry(1, "p1") + entry(3, "p3") + "</SETUP>";
    const Text five = "<SETUP>" + entry(1, "p1") + entry(2, "p2") + entry(3, "p3") + entry(4, "p4") +
                      entry(5, "p5") + "</SETUP>";
    const Text marked = "<SETUP>" + entry(2, "p2", "<LOAD>1</LOAD>") + entry(1, "p1", "<LOAD>1</LOAD>") +
                        entry(3, "gone", "<LOAD>1</LOAD>") + entry(4, "p4") + "</SETUP>";
    const Text byHand =
        "<SETUP><NOTE>p3</NOTE>< program ><FILENAME> p2 </FILENAME><SEQUENCE>0</SEQUENCE><LOAD>0"
        "</LOAD></ program ><PROGRAM><SEQUENCE>-1</SEQUENCE><FILENAME>p1.xml</FILENAME></PROGRAM></SETUP>";
    // Setup text ("" for none), name, bank, clear, slots used before from 0 (named "x"), result, first
    // slot shown, placement, load slot.
    struct Row {
        Text setup;
        const char* name;
        int32_t bank;
        bool clear;
        int32_t used;
        bool result;
        int32_t from;
        Text placed;
        int32_t load;
    };
    const Row rows[] = {
        {three, "s.xml", 3, true, 0, true, 300, "300:p1 301:p3 302:p5", -1},
        {five, "s.xml", 0, false, 98, true, 97, "97:x 98:p1 99:p2 100:p3 101:p4 102:p5", -1},
        {marked, "s.xml", 1, true, 0, true, 100, "100:p1 101:p2 102:p4", 101}, // the failed mark is none
        {byHand, "s.xml", 4, true, 0, true, 400, "400:p1 401:p2", -1},
        {"<SETUP><NOTE>1</NOTE></SETUP>", "s.xml", 0, true, 2, true, 0, "", -1},
        {three, "s.xml", 0, false, 10000, true, 0, "0:x 1:x 2:x 3:x 4:x 5:x", -1}, // full: dropped
        {three, "s.xml", 100, true, 2, false, 0, "0:x 1:x", -1},
        {three, "s.xml", -1, true, 2, false, 0, "0:x 1:x", -1},
        {"", "0", 0, false, 2, false, 0, "0:x 1:x", -1}, // no scan yet
        {"", "missing.xml", 0, false, 2, false, 0, "0:x 1:x", -1},
        {"<OTHER>" + entry(1, "p1") + "</OTHER>", "s.xml", 0, false, 2, false, 0, "0:x 1:x", -1},
        {"</X><SETUP>" + entry(1, "p1") + "</SETUP>", "s.xml", 0, false, 2, false, 0, "0:x 1:x", -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.setup);
        fs::remove(root / "setups/s.xml");
        if (!r.setup.empty()) write("setups/s.xml", r.setup);
        auto m = memory();
        for (int32_t n = 0; n < r.used; ++n) Access::put(*m, n, "x");
        EXPECT_EQ(m->loads(r.name, r.bank, r.clear), r.result);
        EXPECT_EQ(placed(*m, r.from), r.placed); // locks again: a failed read has released the lock
        EXPECT_EQ(m->getpr(), r.load);
    }
    EXPECT_EQ(occurrences(log(), "Error in tag SETUP\n"), 4u);
}

TEST_F(CoreMmryFiles, PlacesEqualSequencesInTheExchangeOrder) {
    for (int k = 0; k < 40; ++k)
        write("progs/p" + std::to_string(k) + ".xml", program("p" + std::to_string(k)));
    auto m = memory();
    std::mt19937 random(22);
    for (int round = 0; round < 30; ++round) {
        std::vector<std::pair<int, Text>> entries(1 + random() % 40);
        Text setup = "<SETUP>";
        for (size_t k = 0; k < entries.size(); ++k) {
            entries[k] = {static_cast<int>(random() % 10) - 2, "p" + std::to_string(k)};
            setup += entry(entries[k].first, entries[k].second);
        }
        write("setups/r.xml", setup + "</SETUP>"); // the same name each round: read afresh
        ASSERT_TRUE(m->loads("r.xml", 1, true));
        for (size_t i = 0; i < entries.size(); ++i)
            for (size_t j = i; j < entries.size(); ++j)
                if (entries[j].first < entries[i].first) std::swap(entries[i], entries[j]);
        for (size_t k = 0; k < entries.size(); ++k)
            EXPECT_EQ(Text(m->getnm(100 + static_cast<int32_t>(k)).c_str()), entries[k].second);
    }
}

TEST_F(CoreMmryFiles, FillsFromTheCacheWhileItIsValid) {
    write("progs/c1.xml", program("c1", "<CATEGORY>Kit</CATEGORY>"));
    write("progs/c2.xml", program("c2"));
    write("progs/c3.xml", program("c3"));
    for (const char* file : {"progs/c1.xml", "progs/c2.xml", "progs/c3.xml"}) setModified(root / file, 1000);
    write("setups/c.xml", "<SETUP>" + entry(1, "c1") + entry(2, "c2.xml") + entry(3, "c3") + "</SETUP>");
    auto m = memory(true);
    ASSERT_TRUE(m->loads("c.xml", 0, true));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "cache"), {}), 3);
    ASSERT_TRUE(m->loads("c.xml", 0, true));
    EXPECT_EQ(fields(*m, 0), "c1|Kit||||c1.xml|0|~/progs/c1.xml|UL");
    // c1 changed after its cache was written, without its category; c2 gone.
    write("progs/c1.xml", program("c1"));
    fs::remove(root / "progs/c2.xml");
    ASSERT_TRUE(m->loads("c.xml", 0, true));
    EXPECT_EQ(fields(*m, 0), "c1|||||c1.xml|c1.xml|~/progs/c1.xml|UD");
    EXPECT_EQ(placed(*m, 0), "0:c1 1:c3");
    const Text lines = log();
    EXPECT_EQ(occurrences(lines, "caching file 1/3: c1<\n"), 2u);
    EXPECT_EQ(occurrences(lines, "caching file 2/3: c2.xml<\n"), 2u);
    EXPECT_EQ(occurrences(lines, "caching file 3/3: c3<\n"), 1u);
    EXPECT_EQ(occurrences(lines, "***ERROR***> c2.xml\n"), 1u);
}

TEST_F(CoreMmryFiles, SavesABankThatReadsBackInItsOrder) {
    write("progs/a.xml", program("a"));
    pack("progs/b.q7p", "b.XML", program("b"));
    auto m = memory();
    m->setvl(300, false, "a.xml", text(program("a")));
    m->setvl(305, true, "b.q7p", text(program("b")));
    EXPECT_TRUE(m->saves("bank.xml", 3) && m->saves("empty.xml", 4));
    const Text head = Text(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator;
    EXPECT_EQ(
        readBytes(root / "setups/bank.xml"),
        head + "\n<SETUP>  <PROGRAM>\n    <SEQUENCE> 300 </SEQUENCE>\n    <FILENAME> a.xml </FILENAME>\n"
               "  </PROGRAM>\n  <PROGRAM>\n    <SEQUENCE> 305 </SEQUENCE>\n    <FILENAME> b.q7p </FILENAME>\n"
               "  </PROGRAM>\n</SETUP>\n\n");
    EXPECT_EQ(readBytes(root / "setups/empty.xml"), head + "\n<SETUP></SETUP>\n\n");
    ASSERT_TRUE(m->loads("bank.xml", 7, true));
    EXPECT_EQ(placed(*m, 700), "700:a 701:b");
    m->clrpr(300); // a bank saved over the setup just read reads back as saved
    EXPECT_TRUE(m->saves("bank.xml", 3));
    ASSERT_TRUE(m->loads("bank.xml", 7, true));
    EXPECT_EQ(placed(*m, 700), "700:b");
    fs::remove_all(root / "setups");
    write("setups", "a regular file");
    EXPECT_FALSE(m->saves("bank.xml", 3));
    EXPECT_EQ(readBytes(root / "setups"), "a regular file");
    EXPECT_NE(log().find("Could not write file"), Text::npos);
}

TEST_F(CoreMmryFiles, ScansTheProgramFoldersForFilesNoSlotHolds) {
    write("progs/b.xml", program("b"));
    pack("progs/b.q7p", "b.XML", program("bp"));
    pack("progs/a.q7p", "a.XML", program("a"));
    write("alt1/progs/a.xml", program("a loose"));
    write("alt1/progs/c.XML", program("c"));
    fs::remove(root / "alt2/progs");
    fs::create_directories(root / "alt2/PROGS");
    write("alt2/PROGS/e.xml", program("e"));
    for (const char* stem : {"held", "null", "My.Prog", "_z"})
        write(Text("progs/") + stem + ".xml", program(stem));
    write("progs/notes.txt", "");
    fs::create_directories(root / "progs/sub.xml");
    write("progs/sub.xml/d.xml", program("d"));
    auto m = memory();
    m->setvl(5, false, "sub/Held.xml", text(program("held")));
    m->scanp(true);
    const Text names[] = {"A", "B", "C", "E", "MY.PROG", "_Z"};
    Text compact = "<SETUP>", pretty = "\n<SETUP>\n  ";
    for (int k = 0; k < 6; ++k) {
        const Text sequence = "<SEQUENCE> " + std::to_string(k) + " </SEQUENCE>",
                   file = "<FILENAME> " + names[k] + " </FILENAME>";
        compact += "<PROGRAM>" + sequence + file + "</PROGRAM>";
        pretty += Text(k ? "\n  " : "") + "<PROGRAM>\n    " + sequence + "\n    " + file + "\n  </PROGRAM>";
    }
    EXPECT_EQ(Text(Access::scanText(*m).c_str()), compact + "</SETUP>");
    EXPECT_EQ(readBytes(root / "setups/~scanboot.xml"),
              Text(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator + pretty + "\n</SETUP>\n\n");
    ASSERT_TRUE(m->loads("0", 2, false));
    EXPECT_EQ(placed(*m, 200), "200:a 201:bp 202:c 203:e 204:My.Prog 205:_z");
    m->clear();
    m->scanp(true); // no slot used: "NULL" is a name like any other
    EXPECT_NE(Access::scanText(*m).Pos("> NULL <") * Access::scanText(*m).Pos("> HELD <"), 0);

    fs::remove(root / "setups/~scanboot.xml");
    CoreFsys store(&pool, at(""), false, false);
    memory(false, &store)->scanp(true);
    m->scanp(false);
    EXPECT_FALSE(fs::exists(root / "setups/~scanboot.xml"));
    for (int k = 0; k < 10000; ++k) // links: quicker to make than files
        fs::create_hard_link(root / "progs/b.xml", root / ("progs/n" + std::to_string(10000 + k) + ".xml"));
    m->setvl(5, false, "held.xml", text(program("held")));
    m->scanp(true); // the first 10000 names: B, HELD, MY.PROG and N10000 .. N19996
    const Text scan = readBytes(root / "setups/~scanboot.xml");
    EXPECT_EQ(occurrences(scan, "<PROGRAM>"), 9999u);
    EXPECT_EQ(occurrences(scan, "N19996") + occurrences(scan, "N19997") + occurrences(scan, " A "), 1u);
}

TEST_F(CoreMmryFiles, MovesCopiesRereadsAndHandsOutSlots) {
    write("progs/kick.xml", program("Kick", "<CATEGORY>Kit</CATEGORY>"));
    pack("progs/pad.q7p", "pad.XML", program("Pad"));
    const Text loaded = "Kick|Kit||||kick.xml|kick.xml|~/progs/kick.xml|U",
               lazy = "Pad|||||pad.q7p|pad.q7p|~/progs/pad.q7p|ULP", dest = "Dest|||||Dest.xml|0||UD",
               none = "||||||0||";
    const CoreAnsx kick("<PROGRAM><NAME> Kick </NAME><CATEGORY> Kit </CATEGORY></PROGRAM>");
    const Text lost = "Lost|||||gone.xml|gone.xml||U";
    // Slot 1 loaded, 2 lazy and packed, 3 used without document (its file gone), 4 free, 10 used.
    struct Row {
        int32_t from, to;
        bool move;
        Text source, target;
    };
    const Row rows[] = {
        {1, 10, true, "||||||||", loaded + "D"},
        {2, 10, true, "||||||||P", lazy},
        {1, 10, false, loaded + "D", loaded + "D"},
        {2, 10, false, lazy, lazy},
        {3, 10, false, lost, lost + "L"},
        {4, 10, false, none, none},
        {10, 10, true, dest, dest},
        {-1, 10, true, none, dest},
        {1, 10000, true, loaded + "D", none},
    };
    for (const Row& r : rows) {
        auto m = memory();
        m->loadl(1, "kick.xml");
        m->loadl(2, "pad");
        Access::makeLazy(*m, 2);
        Access::put(*m, 3, "Lost");
        m->loadl(3, "gone.xml");
        Access::put(*m, 10, "Dest");
        m->mvepr(r.from, r.to, r.move);
        EXPECT_EQ(fields(*m, r.from) + " " + fields(*m, r.to), r.source + " " + r.target);
        if (!r.move && r.from == 1) { // the copy is a document of its own
            m->setvl(10, "<PROGRAM><NAME>Edited</NAME></PROGRAM>", false);
            EXPECT_EQ(m->getvl(1, false), kick);
        }
        if (!r.move && r.from == 2) { // read from its file
            EXPECT_EQ(m->getvl(10, false), CoreAnsx("<PROGRAM><NAME> Pad </NAME></PROGRAM>"));
        }
    }

    auto m = memory(true);
    m->loadl(1, "kick.xml");
    m->setvl(1, "<PROGRAM><NAME>Edited</NAME></PROGRAM>", false);
    m->fix_l(1);
    m->fix_l(3);
    EXPECT_EQ(m->getvl(1, false), kick);
    EXPECT_EQ(fields(*m, 3), none);
    Access::makeLazy(*m, 1);
    EXPECT_EQ(m->getvl(1, false), kick); // read, and its cache file written
    EXPECT_TRUE(fs::exists(root / "cache/kick.xml"));
    Access::makeLazy(*m, 1);
    fs::rename(root / "progs/kick.xml", root / "kick.xml");
    EXPECT_EQ(m->getvl(1, true), CoreAnsx("0"));
    EXPECT_EQ(fields(*m, 1), loaded + "L");
    EXPECT_FALSE(fs::exists(root / "cache/kick.xml"));
    fs::rename(root / "kick.xml", root / "progs/kick.xml");
    EXPECT_EQ(m->getvl(1, false), kick); // tried again
    fs::remove(root / "progs/kick.xml");
    m->fix_l(1);
    EXPECT_EQ(m->getvl(1, false), CoreAnsx("0"));
    EXPECT_EQ(fields(*m, 1), loaded);
    EXPECT_EQ(m->getvl(-1, true), CoreAnsx("0"));
}

TEST_F(CoreMmryFiles, RereadsWhileAnotherThreadCommits) {
    write("progs/kick.xml", program("Kick"));
    auto m = memory();
    m->loadl(1, "kick.xml");
    std::thread rereader([&m] {
        for (int i = 0; i < 200; ++i) m->fix_l(1);
    });
    for (int i = 0; i < 200; ++i) {
        m->setvl(1, "<PROGRAM><NAME>Edited</NAME></PROGRAM>", false);
        EXPECT_NE(m->getvl(1, false), CoreAnsx("0"));
    }
    rereader.join();
}

} // namespace
