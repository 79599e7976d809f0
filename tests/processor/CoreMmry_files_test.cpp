// The program memory's files: program files read into slots, setup files read and written, the folder
// scan, and moving, copying, re-reading and handing out slots. Programs are hand-written, written by the
// program writers or packed into containers; no vector or WAV file is opened.
#include "processor/CoreMmry.h"

#include "CoreMmryTestAccess.h"
#include "base/CoreBlnk.h"
#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/RandomGenerator.h"
#include "filestore/CoreFsys.h"
#include "program/CoreProg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Access = CoreMmryTestAccess;
using Text = std::string;

Text program(const Text& name, const Text& more = "") {
    return "<PROGRAM><NAME>" + name + "</NAME>" + more + "</PROGRAM>";
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

// A data folder with "progs/", "setups/" and "cache/" and two alternative folders, the second holding
// "PROGS/"; programs hand-written, packed (the store upper-cases a container's name) and written by the
// program writers; a log at level 3.
class CoreMmryFiles : public MemoryFolderTest {
protected:
    void SetUp() override {
        MemoryFolderTest::SetUp();
        for (const char* folder : {"progs", "setups", "cache", "alt1/progs", "alt2/PROGS/sub.xml"})
            fs::create_directories(root / folder);
        alternatives[0] = at("alt1/");
        alternatives[1] = at("alt2/");
        CoreLog_::setpt(at(""));
        CoreLog_::setfn("test.log");
        CoreLog_::setdb(3, false);
        write("progs/kick.xml",
              "<PROGRAM><NAME>Kick</NAME><SUBCATEGORY1>0</SUBCATEGORY1><VECTORFILENAME>kick.q7v"
              "</VECTORFILENAME><H1><ELEMENT><FILENAME>k.wav</FILENAME></ELEMENT></H1></PROGRAM>");
        for (const char* file : {"progs/both.xml", "progs/My.Prog.xml", "progs/x.prg", "progs/null.xml",
                                 "progs/p1.xml", "progs/p2.xml", "progs/p3.xml", "progs/p4.xml",
                                 "alt1/progs/kick.xml", "alt2/PROGS/far.xml", "alt2/PROGS/sub.xml/d.xml"})
            write(file, program(fs::path(file).filename()));
        write("progs/noprog.xml", "<OTHER></OTHER>");
        write("progs/bad.xml", "</X>" + program("Bad"));
        pack("progs/both.q7p", "both.XML",
             program("Packed", "<CATEGORY>Pad</CATEGORY><VECTORFILENAME> v.q7v </VECTORFILENAME>"));
        pack("progs/nov.q7p", "progs/nov.XML", program("Nov", "<VECTORFILENAME>0</VECTORFILENAME>"));
        packed = readBytes(root / "progs/BOTH.Q7P");
        write("progs/short.q7p", packed.substr(0, packed.size() - 10));
        CoreBlnk blink; // values framed, an empty description present
        CoreProg writer(&pool, nullptr, 3, "VECTORS/", 500000, 2000000, 1000, 4800, 256, 8192, 4096, &blink,
                        nullptr);
        writer.setnm("Writer");
        writer.setct("Keys", 0);
        CoreXml_ written;
        writer.chggl(&written);
        written.settf(at("progs/writer.xml"), false, false, false);
    }
    std::unique_ptr<CoreMmry> memory(bool cache = false, CoreFsys* store = nullptr) {
        return std::make_unique<CoreMmry>(&pool, at(""), 2, alternatives, "setups/", "progs/", "vectors/",
                                          "cache/", cache, store);
    }
    void write(const Text& file, const Text& bytes) { writeBytes(root / file, bytes); }
    void pack(const Text& file, const Text& item, const Text& bytes) {
        CoreFsys store(&pool);
        store.setit(store.crtit(item.c_str()), bytes.data(), static_cast<int32_t>(bytes.size()), "0", true,
                    false);
        store.savea(at(file));
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
        const bool document = slot >= 0 && slot < CoreMmry::iCmemorydim && Access::document(m, slot);
        return joined + (loc.used ? "U" : "") + (loc.lazy ? "L" : "") + (loc.packed ? "P" : "") +
               (document ? "D" : "");
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
    Text packed; // the container of "both"
};

TEST_F(CoreMmryFiles, LoadsProgramFilesWithTheirHeader) {
    CoreFsys store(&pool, at(""), false, false); // holds one packed program only in memory
    store.setit(store.crtit("progs/mem/both.q7p"), packed.data(), static_cast<int32_t>(packed.size()), "0",
                true, false);
    auto own = memory(), withStore = memory(false, &store);
    // memory: o own store, s given store; before: F free, U used (Old, c0, c1, c2, d), L lazy.
    struct Row {
        char memory, before;
        const char* file;
        bool result;
        Text fields;
    };
    const Row rows[] = {
        {'o', 'U', "kick.xml", true, "Kick|c0|c1|c2|d|kick.xml|kick.xml|~/progs/kick.xml|UD"},
        {'o', 'U', "both", true, "Packed|Pad|c1|c2|d|both.q7p|v.q7v|~/progs/both.q7p|UPD"},
        {'o', 'F', "both.xml", true, "both.xml|||||both.xml|both.xml|~/progs/both.xml|UD"},
        {'o', 'F', "nov.q7p", true, "Nov|||||nov.q7p|nov.q7p|~/progs/nov.q7p|UPD"},
        {'o', 'F', "far", true, "far.xml|||||far.xml|far.xml|~/alt2/progs/far.xml|UD"},
        {'o', 'U', "writer.xml", true, "Writer|Keys||||writer.xml|writer.xml|~/progs/writer.xml|UD"},
        {'o', 'F', "MY.PROG", true, "My.Prog.xml|||||MY.PROG.xml|MY.PROG.xml|~/progs/MY.PROG.xml|UD"},
        {'o', 'F', "x.prg", true, "x.prg|||||x.prg|x.prg|~/progs/x.prg|UD"},
        {'o', 'F', "none", false, "|||||none.xml|none.xml||"},
        {'o', 'F', "p1.q7p", false, "|||||p1.q7p|p1.q7p||"},
        {'o', 'L', "short.q7p", false, "Old|c0|c1|c2|d|short.q7p|short.q7p||UL"},
        {'o', 'F', "noprog.xml", false, "|||||noprog.xml|noprog.xml||"},
        {'o', 'U', "bad.xml", false, "Old|c0|c1|c2|d|bad.xml|bad.xml||U"},
        {'s', 'F', "mem/both", true, "Packed|Pad||||mem/both.q7p|v.q7v|progs/mem/both.q7p|UPD"},
        {'s', 'F', "none", false, "|||||none.q7p|none.q7p||"},
        {'s', 'F', "kick.xml", true, "Kick|||||kick.xml|kick.xml|~/progs/kick.xml|UD"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CoreMmry& m = r.memory == 's' ? *withStore : *own;
        m.clrpr(1);
        if (r.before != 'F') Access::put(m, 1, "Old", "c0", "c1", "c2");
        if (r.before != 'F') m.setds(1, "d");
        if (r.before == 'L') Access::makeLazy(m, 1);
        const int64_t held = pool.getma();
        EXPECT_EQ(m.loadl(1, r.file), r.result);
        EXPECT_EQ(fields(m, 1) + (pool.getma() == held ? "" : " and a store left"), r.fields);
    }
    EXPECT_EQ(occurrences(log(), "Error in file " + (root / "progs/noprog.xml").string() + "\n"), 1u);
    EXPECT_FALSE(own->loadl(-1, "kick.xml") || own->loadl(10000, "kick.xml"));
}

TEST_F(CoreMmryFiles, PlacesSetupEntriesFromTheBanksFirstFreeSlot) {
    const Text three = "<SETUP>" + entry(4, "p4") + entry(1, "p1") + entry(3, "p3") + "</SETUP>";
    // The entries are exchanged into place one by one, so equal sequences change their order.
    const Text ties =
        "<SETUP>" + entry(2, "p1") + entry(1, "p2") + entry(2, "p3") + entry(1, "p4") + "</SETUP>";
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
        {three, "s.xml", 3, true, 0, true, 300, "300:p1.xml 301:p3.xml 302:p4.xml", -1},
        {ties, "s.xml", 5, true, 0, true, 500, "500:p2.xml 501:p4.xml 502:p3.xml 503:p1.xml", -1},
        {three, "s.xml", 0, false, 98, true, 97, "97:x 98:p1.xml 99:p3.xml 100:p4.xml",
         -1}, // into the next bank
        {marked, "s.xml", 1, true, 0, true, 100, "100:p1.xml 101:p2.xml 102:p4.xml",
         101}, // a failed entry marks nothing
        {byHand, "s.xml", 4, true, 0, true, 400, "400:p1.xml 401:p2.xml", -1},
        {"<SETUP><NOTE>1</NOTE></SETUP>", "s.xml", 0, true, 2, true, 0, "", -1},
        {three, "s.xml", 0, false, 10000, true, 0, "0:x 1:x 2:x 3:x 4:x 5:x", -1}, // full: dropped
        {three, "s.xml", 100, true, 2, false, 0, "0:x 1:x", -1},
        {"", "0", 0, false, 2, false, 0, "0:x 1:x", -1}, // no scan yet
        {"", "missing.xml", 0, false, 2, false, 0, "0:x 1:x", -1},
        {"<OTHER>" + entry(1, "p1") + "</OTHER>", "s.xml", 0, false, 2, false, 0, "0:x 1:x", -1},
        {"</X>" + three, "s.xml", 0, false, 2, false, 0, "0:x 1:x", -1},
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

    // Random sequences, with repeats and negatives in even rounds, mostly distinct in odd ones: the
    // placement is that of the setup format's exchange sort, written out here as the format gives it.
    const int most = 12;
    for (int k = 0; k < most; ++k)
        write("progs/r" + std::to_string(k) + ".xml", program("r" + std::to_string(k)));
    RandomGenerator random(2125);
    for (int round = 0; round < 40; ++round) {
        const int count = 1 + static_cast<int>(random.next() % most);
        const int spread = round % 2 == 0 ? 4 : 1000;
        std::vector<int32_t> sequences(count);
        std::vector<Text> files(count);
        Text setup = "<SETUP>";
        for (int k = 0; k < count; ++k) {
            sequences[k] = static_cast<int32_t>(random.next() % spread) - 1;
            files[k] = "r" + std::to_string(k);
            setup += entry(sequences[k], files[k]);
        }
        for (int i = 0; i < count; ++i) {
            for (int j = i; j < count; ++j) {
                if (sequences[j] < sequences[i]) {
                    std::swap(sequences[i], sequences[j]);
                    std::swap(files[i], files[j]);
                }
            }
        }
        write("setups/s.xml", setup + "</SETUP>");
        auto m = memory();
        ASSERT_TRUE(m->loads("s.xml", 6, true));
        Text expected, found;
        for (int k = 0; k < count; ++k) {
            expected += files[k] + " ";
            found += Text(m->getnm(600 + k).c_str()) + " ";
        }
        EXPECT_EQ(found, expected) << setup;
    }
}

TEST_F(CoreMmryFiles, FillsFromTheCacheWhileItIsValid) {
    write("progs/p1.xml", program("p1", "<CATEGORY>Kit</CATEGORY>"));
    for (const char* file : {"progs/p1.xml", "progs/p2.xml", "progs/p3.xml"})
        fs::last_write_time(root / file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    write("setups/c.xml", "<SETUP>" + entry(1, "p1") + entry(2, "p2.xml") + entry(3, "p3") + "</SETUP>");
    auto m = memory(true);
    ASSERT_TRUE(m->loads("c.xml", 0, true));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "cache"), {}), 3);
    ASSERT_TRUE(m->loads("c.xml", 0, true));
    EXPECT_EQ(fields(*m, 0), "p1|Kit||||p1.xml|0|~/progs/p1.xml|UL");
    write("progs/p1.xml", program("p1")); // changed after its cache was written, without its category
    fs::remove(root / "progs/p2.xml");
    ASSERT_TRUE(m->loads("c.xml", 0, true));
    EXPECT_EQ(fields(*m, 0) + " " + placed(*m, 1), "p1|||||p1.xml|p1.xml|~/progs/p1.xml|UD 1:p3.xml");
    const std::pair<const char*, size_t> lines[] = {{"caching file 1/3: p1<", 2},
                                                    {"caching file 2/3: p2.xml<", 2},
                                                    {"caching file 3/3: p3<", 1},
                                                    {"***ERROR***> p2.xml", 1}};
    for (const auto& [line, count] : lines) EXPECT_EQ(occurrences(log(), line + Text("\n")), count) << line;
}

TEST_F(CoreMmryFiles, WritesSetupsAndTheScanThatReadBackInTheirOrder) {
    auto m = memory();
    m->setvl(300, false, "p1.xml", program("a").c_str());
    m->setvl(305, true, "nov.q7p", program("b").c_str());
    EXPECT_TRUE(m->saves("bank.xml", 3) && m->saves("empty.xml", 4) && !m->saves("x.xml", 100));
    const Text head = Text(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator;
    EXPECT_EQ(
        readBytes(root / "setups/bank.xml"),
        head +
            "\n<SETUP>  <PROGRAM>\n    <SEQUENCE> 300 </SEQUENCE>\n    <FILENAME> p1.xml </FILENAME>\n"
            "  </PROGRAM>\n  <PROGRAM>\n    <SEQUENCE> 305 </SEQUENCE>\n    <FILENAME> nov.q7p </FILENAME>\n"
            "  </PROGRAM>\n</SETUP>\n\n");
    EXPECT_EQ(readBytes(root / "setups/empty.xml"), head + "\n<SETUP></SETUP>\n\n");
    ASSERT_TRUE(m->loads("bank.xml", 7, true));
    EXPECT_EQ(placed(*m, 700), "700:p1.xml 701:Nov");
    m->clrpr(300); // a bank saved over the setup just read reads back as saved
    EXPECT_TRUE(m->saves("bank.xml", 3) && m->loads("bank.xml", 7, true));
    EXPECT_EQ(placed(*m, 700), "700:Nov");

    // Each stem once, data folder first; subfolders, other extensions, stems held by slots (NOV) and,
    // while a slot is used, "NULL" left out.
    m->scanp(true);
    Text compact = "<SETUP>", pretty = "\n<SETUP>\n";
    int sequence = 0;
    for (const char* name :
         {"BAD", "BOTH", "FAR", "KICK", "MY.PROG", "NOPROG", "P1", "P2", "P3", "P4", "SHORT", "WRITER"}) {
        const Text parts[] = {"<SEQUENCE> " + std::to_string(sequence++) + " </SEQUENCE>",
                              "<FILENAME> " + Text(name) + " </FILENAME>"};
        compact += "<PROGRAM>" + parts[0] + parts[1] + "</PROGRAM>";
        pretty += "  <PROGRAM>\n    " + parts[0] + "\n    " + parts[1] + "\n  </PROGRAM>\n";
    }
    EXPECT_EQ(Text(Access::scanText(*m).c_str()), compact + "</SETUP>");
    EXPECT_EQ(readBytes(root / "setups/~scanboot.xml"), head + pretty + "</SETUP>\n\n");
    ASSERT_TRUE(m->loads("0", 2, false)); // the failed BAD leaves its slot to the next
    EXPECT_EQ(placed(*m, 200), "200:Packed 201:far.xml 202:Kick 203:My.Prog.xml 204:p1.xml 205:p2.xml");

    fs::remove(root / "setups/~scanboot.xml");
    CoreFsys store(&pool, at(""), false, false);
    memory(false, &store)->scanp(true); // a given store may stand for a container: nothing to list
    EXPECT_FALSE(fs::exists(root / "setups/~scanboot.xml"));
    fs::remove_all(root / "setups");
    write("setups", "a regular file");
    EXPECT_FALSE(m->saves("bank.xml", 3));
    EXPECT_EQ(readBytes(root / "setups") + std::to_string(occurrences(log(), "Could not write file")),
              "a regular file1");
}

TEST_F(CoreMmryFiles, ScansRandomNamesInTheSortOrderOfNamesAndCollectsAtMostTenThousand) {
    const std::vector<Text> programFolders = {"progs/", "alt1/progs/", "alt2/PROGS/"};
    const auto emptyFolders = [&] {
        for (const Text& folder : programFolders) {
            fs::remove_all(root / folder);
            fs::create_directories(root / folder);
        }
    };
    const auto scanned = [&](const std::vector<Text>& names) {
        Text text = "<SETUP>";
        for (size_t i = 0; i < names.size(); ++i)
            text += "<PROGRAM><SEQUENCE> " + std::to_string(i) + " </SEQUENCE><FILENAME> " + names[i] +
                    " </FILENAME></PROGRAM>";
        return text + "</SETUP>";
    };
    // Names compare trimmed and upper-cased, byte by byte: blanks at either end count for nothing and
    // '_' sorts after the letters. Each comparison form is held by one stem only, so the order is whole;
    // the scan writes a name as every value is written, trimmed.
    const Text letters = "aAbBzZ09_-. ";
    const Text extensions[] = {".xml", ".XML", ".q7p", ".Q7P"};
    RandomGenerator random(2143);
    for (int round = 0; round < 8; ++round) {
        emptyFolders();
        std::map<Text, Text> stems; // comparison form -> the scan's stem
        for (int n = 0; n < 40; ++n) {
            Text name(1 + random.next() % 6, ' ');
            for (char& c : name) c = letters[random.next() % letters.size()];
            if (name.front() == '.' || name.back() == '.' || name.find_first_not_of(" ") == Text::npos)
                continue;
            const Text stem = CoreAnsx(name.c_str()).UpperCase().c_str();
            const Text form = CoreAnsx(stem.c_str()).Trim().c_str();
            if (stems.count(form) > 0 && stems[form] != stem) continue;
            stems[form] = stem;
            // Some stems come twice: as the other kind of file, in another folder or in another case.
            for (int copy = 0; copy < (n % 3 == 0 ? 2 : 1); ++copy) {
                const Text spelled = copy == 0 ? name : Text(CoreAnsx(name.c_str()).LowerCase().c_str());
                write(programFolders[random.next() % 3] + spelled + extensions[random.next() % 4],
                      program("r"));
            }
        }
        std::vector<Text> expected;
        for (const auto& [form, stem] : stems) expected.push_back(form);
        auto m = memory();
        m->scanp(true);
        EXPECT_EQ(Text(Access::scanText(*m).c_str()), scanned(expected)) << round;
    }

    // The data folder's 9999 names and the first alternative's one make 10000; the second's is left out.
    emptyFolders();
    std::vector<Text> expected;
    expected.reserve(10000);
    for (int n = 0; n < 9999; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "N%04d", n);
        expected.push_back(name);
        write("progs/" + Text(name) + ".xml", "");
    }
    write("alt1/progs/za.xml", "");
    write("alt2/PROGS/zb.xml", "");
    expected.push_back("ZA");
    auto m = memory();
    m->scanp(true);
    const Text scan = Access::scanText(*m).c_str();
    EXPECT_TRUE(scan == scanned(expected)) << occurrences(scan, "<PROGRAM>") << " names";
}

TEST_F(CoreMmryFiles, MovesCopiesRereadsAndHandsOutSlots) {
    const Text loaded = "Kick|||||kick.xml|kick.xml|~/progs/kick.xml|U", none = "||||||0||",
               lazy = "Packed|Pad||||both.q7p|v.q7v|~/progs/both.q7p|ULP",
               lost = "Lost|||||gone.xml|gone.xml||U", dest = "Dest|||||Dest.xml|0||UD";
    const CoreAnsx kick("<PROGRAM><NAME> Kick </NAME><SUBCATEGORY1>0</SUBCATEGORY1>");
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
        m->loadl(2, "both");
        Access::makeLazy(*m, 2);
        Access::put(*m, 3, "Lost");
        m->loadl(3, "gone.xml");
        Access::put(*m, 10, "Dest");
        m->mvepr(r.from, r.to, r.move);
        EXPECT_EQ(fields(*m, r.from) + " " + fields(*m, r.to), r.source + " " + r.target);
        if (r.move || r.from != 1) continue;
        m->setvl(10, "<PROGRAM></PROGRAM>", false); // the copy is a document of its own
        EXPECT_EQ(m->getvl(1, false).Pos(kick), 1);
    }

    fs::remove(root / "alt1/progs/kick.xml");
    auto m = memory(true);
    m->loadl(1, "kick.xml");
    m->setvl(1, "<PROGRAM></PROGRAM>", false);
    m->fix_l(1);
    m->fix_l(3);
    EXPECT_EQ(m->getvl(1, false).Pos(kick), 1);
    EXPECT_EQ(fields(*m, 3), none);
    Access::makeLazy(*m, 1);
    fs::remove(root / "cache/kick.xml");
    EXPECT_EQ(m->getvl(1, false).Pos(kick), 1); // read, and its cache file written
    EXPECT_TRUE(fs::exists(root / "cache/kick.xml"));
    Access::makeLazy(*m, 1);
    fs::rename(root / "progs/kick.xml", root / "kick.xml");
    EXPECT_EQ(m->getvl(1, true).c_str() + fields(*m, 1), "0" + loaded + "L");
    EXPECT_FALSE(fs::exists(root / "cache/kick.xml"));
    fs::rename(root / "kick.xml", root / "progs/kick.xml");
    EXPECT_EQ(m->getvl(1, false).Pos(kick), 1); // tried again
    fs::remove(root / "progs/kick.xml");
    m->fix_l(1);
    EXPECT_EQ(m->getvl(1, false).c_str() + fields(*m, 1), "0" + loaded);
    EXPECT_EQ(m->getvl(-1, true), CoreAnsx("0"));
}

} // namespace
