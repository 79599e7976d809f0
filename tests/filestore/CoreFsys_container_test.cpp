// Tests of the item containers of CoreFsys: the byte layout savea writes, appnd, loada with its
// filter and reader store, hand-built untrusted containers, the single-document helpers, and an
// independent listing of a written container by a small Python script.
#include "base/CoreButl.h"
#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "tests/filestore/FsysFixture.h"

#include <array>
#include <cstdio>
#include <iomanip>
#include <map>
#include <string>
#include <vector>

using namespace fsystest;

namespace {

std::string bytesOf(const CoreFsys& store, int32_t id) {
    void* data = nullptr;
    const int32_t size = store.getco(id, &data);
    return size > 0 ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

void put(CoreFsys& store, const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(store.setit(store.crtit(name.c_str()), bytes.data(), static_cast<int32_t>(bytes.size()), "0",
                            false, false));
}

// key -> bytes of every in-memory record.
std::map<std::string, std::string> contents(const CoreFsys& store) {
    std::map<std::string, std::string> items;
    for (int i = 0; i < store.getkn(); ++i) {
        int32_t id = -1;
        const std::string name = str(store.llvel(i, id));
        if (store.isvld(id)) items[name] = bytesOf(store, id);
    }
    return items;
}

const std::string kExampleTable = "<TOC>" + tocItem("A", "0", "3") + tocItem("C", "3", "5") + "</TOC>";

} // namespace

TEST_F(FsysFiles, SaveaWritesTheHeaderTheBlocksAndTheCompactTable) {
    CoreFsys store(&pool);
    put(store, "a", "abc");
    store.crtit("b");
    put(store, "c", "CDEFG");
    ASSERT_TRUE(store.savea(at("example.q7p")));
    const std::string written = readBytes(root / "EXAMPLE.Q7P");
    const std::string expected = std::string("Vorlan2 1.3.502") + std::string(25, '\0') +
                                 std::string("\x08\x00\x00\x00", 4) + "abc" + "CDEFG" + kExampleTable;
    EXPECT_EQ(written, expected);
    EXPECT_FALSE(fs::exists(root / "example.q7p")); // the whole path is upper-cased

    // A container of the same name in another case is replaced, not joined by a second file.
    fs::create_directories(root / "prog");
    writeBytes(root / "prog/My.q7p", "old");
    ASSERT_TRUE(store.savea(at("prog/my.q7p")));
    EXPECT_EQ(readBytes(root / "prog/My.q7p"), expected);
    EXPECT_EQ(entries(root / "prog"), 1);
    EXPECT_FALSE(fs::exists(root / "PROG"));
}

TEST_F(FsysFiles, AnEmptyStoreWritesAnEmptyTableThatReadsBack) {
    CoreFsys empty(&pool);
    empty.crtit("NOT.IN.MEMORY");
    ASSERT_TRUE(empty.savea(at("EMPTY.Q7P")));
    EXPECT_EQ(readBytes(root / "EMPTY.Q7P"), title() + le32(0) + " TOC ");
    writeBytes(root / "explicit.q7p", container(0, "", "<TOC></TOC>"));
    for (const char* name : {"EMPTY.Q7P", "explicit.q7p"}) {
        CoreFsys reader(&pool);
        EXPECT_TRUE(reader.loada(at(name), "0", false, nullptr)) << name;
        EXPECT_EQ(reader.getkn(), 0) << name;
    }
    EXPECT_FALSE(empty.savea(at("missing/folder/X.Q7P")));
    EXPECT_NE(log().find("MISSING/FOLDER/X.Q7P"), std::string::npos) << log();
}

TEST_F(FsysFiles, AppndGrowsAContainerExactlyAsIfItHadBeenWrittenWithTheItem) {
    CoreFsys store(&pool);
    put(store, "a", "abc");
    put(store, "c", "CDEFG");
    ASSERT_TRUE(store.savea(at("grow.q7p")));
    put(store, "NEW.BIN", "0123456789");
    ASSERT_TRUE(store.appnd(at("GROW.Q7P"), "new.bin"));
    const std::string grown = readBytes(root / "GROW.Q7P");
    EXPECT_EQ(grown.substr(40, 4), le32(18));
    EXPECT_EQ(grown.substr(52, 10), "0123456789");
    EXPECT_EQ(grown.substr(62), "<TOC>" + tocItem("A", "0", "3") + tocItem("C", "3", "5") +
                                    tocItem("NEW.BIN", "8", "10") + "</TOC>");
    ASSERT_TRUE(store.savea(at("whole.q7p")));
    EXPECT_EQ(grown, readBytes(root / "WHOLE.Q7P"));
    // The last table is the one read from the file, before the item was added.
    EXPECT_NE(str(store.gettc()).find("<ENTRY> C </ENTRY>"), std::string::npos) << str(store.gettc());
    EXPECT_EQ(str(store.gettc()).find("NEW.BIN"), std::string::npos);

    // Onto an empty table as well.
    CoreFsys one(&pool);
    ASSERT_TRUE(one.savea(at("single.q7p")));
    put(one, "X", "xy");
    ASSERT_TRUE(one.appnd(at("SINGLE.Q7P"), "X"));
    ASSERT_TRUE(one.savea(at("single2.q7p")));
    EXPECT_EQ(readBytes(root / "SINGLE.Q7P"), readBytes(root / "SINGLE2.Q7P"));
}

TEST_F(FsysFiles, AppndFailuresLeaveTheContainerByteIdentical) {
    CoreFsys store(&pool);
    put(store, "a", "abc");
    ASSERT_TRUE(store.savea(at("keep.q7p")));
    const std::string before = readBytes(root / "KEEP.Q7P");
    store.crtit("NOTLOADED.BIN");
    put(store, "B<AD.BIN", "x");
    EXPECT_FALSE(store.appnd(at("KEEP.Q7P"), "MISSING.BIN"));
    EXPECT_FALSE(store.appnd(at("KEEP.Q7P"), "NOTLOADED.BIN"));
    EXPECT_FALSE(store.appnd(at("KEEP.Q7P"), "B<AD.BIN"));
    EXPECT_FALSE(store.appnd(at("NONE.Q7P"), "A"));
    EXPECT_FALSE(fs::exists(root / "NONE.Q7P"));
    EXPECT_EQ(readBytes(root / "KEEP.Q7P"), before);

    const std::vector<std::string> broken = {
        "Vorlan3 " + before.substr(8),                      // wrong title
        before.substr(0, 44) + "abc" + "<TOC></TOC></TOC>", // table not XML
        before.substr(0, 40) + le32(4) + "abc",             // total beyond the file
        before.substr(0, 30),                               // shorter than a header
        before.substr(0, 44) + "abc",                       // no table at all
    };
    for (size_t i = 0; i < broken.size(); ++i) {
        writeBytes(root / "broken.q7p", broken[i]);
        EXPECT_FALSE(store.appnd(at("broken.q7p"), "A")) << i;
        EXPECT_EQ(readBytes(root / "broken.q7p"), broken[i]) << i;
    }
}

TEST_F(FsysFiles, NamesHoldingALessThanSignAreNeverWritten) {
    writeBytes(root / "ANGLE.Q7P", "untouched");
    CoreFsys store(&pool);
    put(store, "A<B.WAV", "x");
    EXPECT_FALSE(store.savea(at("ANGLE.Q7P")));
    EXPECT_EQ(readBytes(root / "ANGLE.Q7P"), "untouched");
}

TEST_F(FsysFiles, LoadaFiltersEntriesAndKeepsLoadedRecordsOnRequest) {
    {
        CoreFsys writer(&pool);
        put(writer, "DATA.WAV", "data");
        put(writer, "SUB/X.WAV", "x");
        put(writer, "PROG.XML", "<P> 1 </P>");
        ASSERT_TRUE(writer.savea(at("bank.q7p")));
    }
    CoreFsys all(&pool);
    ASSERT_TRUE(all.loada(at("BANK.Q7P"), "0", false, nullptr));
    EXPECT_EQ(contents(all), (std::map<std::string, std::string>{
                                 {"DATA.WAV", "data"}, {"SUB/X.WAV", "x"}, {"PROG.XML", "<P> 1 </P>"}}));
    EXPECT_EQ(str(all.getll()), str(at("BANK.Q7P")));
    EXPECT_EQ(str(all.gtsit("DATA.WAV")->container), str(at("BANK.Q7P")));
    EXPECT_NE(str(all.gettc()).find("SUB/X.WAV"), std::string::npos);

    CoreFsys some(&pool);
    ASSERT_TRUE(some.loada(at("BANK.Q7P"), " data ", false, nullptr));
    EXPECT_EQ(contents(some), (std::map<std::string, std::string>{{"DATA.WAV", "data"}}));
    CoreFsys wider(&pool);
    ASSERT_TRUE(wider.loada(at("BANK.Q7P"), "bank/sub/x.wav.bak", false, nullptr));
    EXPECT_EQ(contents(wider), (std::map<std::string, std::string>{{"SUB/X.WAV", "x"}}));

    CoreFsys kept(&pool);
    put(kept, "DATA.WAV", "mine");
    const int32_t other = kept.crtit("OTHER/DATA.WAV");
    ASSERT_TRUE(kept.loada(at("BANK.Q7P"), "0", true, nullptr));
    EXPECT_EQ(bytesOf(kept, kept.getit("DATA.WAV")), "mine");
    EXPECT_FALSE(kept.isvld(other)); // found by exact key only
    ASSERT_TRUE(kept.loada(at("BANK.Q7P"), "0", false, nullptr));
    EXPECT_EQ(bytesOf(kept, kept.getit("DATA.WAV")), "data");

    // Another version text is accepted; only the first 8 bytes are the mark.
    std::string other_version = readBytes(root / "BANK.Q7P");
    other_version.replace(8, 7, "9.9.999");
    writeBytes(root / "v.q7p", other_version);
    CoreFsys versioned(&pool);
    ASSERT_TRUE(versioned.loada(at("v.q7p"), "0", false, nullptr));
    EXPECT_EQ(contents(versioned), contents(all));
}

TEST_F(FsysFiles, AReaderStoreHoldingTheContainerGivesTheSameRecords) {
    CoreFsys writer(&pool);
    put(writer, "DATA.WAV", "data");
    put(writer, "SUB/X.WAV", "x");
    ASSERT_TRUE(writer.savea(at("c.q7p")));
    const std::string bytes = readBytes(root / "C.Q7P");

    CoreFsys fromDisk(&pool);
    ASSERT_TRUE(fromDisk.loada(at("C.Q7P"), "0", false, nullptr));
    CoreFsys holder(&pool);
    put(holder, "PACKED/C.Q7P", bytes);
    CoreFsys fromMemory(&pool);
    ASSERT_TRUE(fromMemory.loada("PACKED/C.Q7P", "0", false, &holder));
    EXPECT_EQ(contents(fromMemory), contents(fromDisk));
    CoreFsys onDiskReader(&pool, folder(), true);
    CoreFsys reopened(&pool);
    ASSERT_TRUE(reopened.loada("c.q7p", "0", false, &onDiskReader));
    EXPECT_EQ(contents(reopened), contents(fromDisk));

    // A store reading from itself never overwrites the container it reads.
    CoreFsys self(&pool);
    put(self, "SELF.Q7P",
        container(1, "s", "<TOC>" + tocItem("SELF.Q7P", "0", "1") + tocItem("Y", "0", "1") + "</TOC>"));
    ASSERT_TRUE(self.loada("SELF.Q7P", "0", false, &self));
    EXPECT_EQ(bytesOf(self, self.getit("Y")), "s");
    EXPECT_EQ(bytesOf(self, self.getit("SELF.Q7P")).substr(0, 8), "Vorlan2 ");
}

TEST_F(FsysFiles, UntrustedContainersAreRefusedOrTheirBadItemsSkipped) {
    struct Case {
        const char* what;
        std::string bytes;
        bool result;
        std::map<std::string, std::string> loaded;
    };
    const std::string blocks = "goodbad!";
    const auto table = [](const std::string& items) { return "<TOC>" + items + "</TOC>"; };
    const std::string good = tocItem("GOOD", "0", "4");
    const std::map<std::string, std::string> justGood = {{"GOOD", "good"}};
    const std::vector<Case> cases = {
        {"shorter than a header", title().substr(0, 30), false, {}},
        {"wrong title", "Vorlan3 " + container(8, blocks, table(good)).substr(8), false, {}},
        {"negative total", container(-1, blocks, table(good)), false, {}},
        {"total beyond the file", container(9999, blocks, table(good)), false, {}},
        {"total up to the end: empty table", container(8, blocks, ""), false, {}},
        {"table not XML", container(8, blocks, "<TOC></TOC></TOC>"), false, {}},
        {"table without TOC", container(8, blocks, "<LIST>" + good + "</LIST>"), false, {}},
        {"table of plain text", container(8, blocks, "just text"), false, {}},
        {"address missing",
         container(8, blocks, table(good + "<ITEM><ENTRY> B </ENTRY><DIM> 4 </DIM></ITEM>")), true, justGood},
        {"dim missing",
         container(8, blocks, table(good + "<ITEM><ENTRY> B </ENTRY><ADDRESS> 4 </ADDRESS></ITEM>")), true,
         justGood},
        {"negative address", container(8, blocks, table(good + tocItem("B", "-1", "4"))), true, justGood},
        {"negative dim", container(8, blocks, table(good + tocItem("B", "4", "-4"))), true, justGood},
        {"non-numeric",
         container(8, blocks, table(good + tocItem("B", "4x", "4") + tocItem("C", "4", "four"))), true,
         justGood},
        {"beyond the total", container(8, blocks, table(good + tocItem("B", "5", "4"))), true, justGood},
        {"huge dim", container(8, blocks, table(good + tocItem("B", "0", "99999999999"))), true, justGood},
        {"empty entry", container(8, blocks, table(good + tocItem("", "4", "4"))), true, justGood},
        {"entry holding an element",
         container(
             8, blocks,
             table(good + "<ITEM><ENTRY><X> 1 </X></ENTRY><ADDRESS> 4 </ADDRESS><DIM> 4 </DIM></ITEM>")),
         true, justGood},
        {"the last byte of the blocks",
         container(8, blocks, table(tocItem("B", "4", "4"))),
         true,
         {{"B", "bad!"}}},
        {"an entry repeats",
         container(8, blocks, table(good + tocItem("GOOD", "4", "4"))),
         true,
         {{"GOOD", "bad!"}}},
        {"other elements", container(8, blocks, table("<NOTE> x </NOTE>" + good)), true, justGood},
    };
    for (const Case& c : cases) {
        writeBytes(root / "u.q7p", c.bytes);
        CoreFsys store(&pool);
        put(store, "BEFORE", "kept");
        EXPECT_EQ(store.loada(at("u.q7p"), "0", false, nullptr), c.result) << c.what;
        std::map<std::string, std::string> expected = c.loaded;
        expected["BEFORE"] = "kept";
        EXPECT_EQ(contents(store), expected) << c.what;

        // The same bytes held in memory by a reader store.
        CoreFsys holder(&pool);
        put(holder, "U.Q7P", c.bytes);
        CoreFsys fromMemory(&pool);
        EXPECT_EQ(fromMemory.loada("U.Q7P", "0", false, &holder), c.result) << c.what;
        EXPECT_EQ(contents(fromMemory), c.loaded) << c.what;
    }
    EXPECT_NE(log().find("appears again"), std::string::npos);
    EXPECT_NE(log().find("damaged"), std::string::npos);
    CoreFsys store(&pool);
    EXPECT_FALSE(store.loada(at("none.q7p"), "0", false, nullptr));
    fs::create_directories(root / "FOLDER.Q7P");
    EXPECT_FALSE(store.loada(at("folder.q7p"), "0", false, nullptr));
}

TEST_F(FsysFiles, SingleDocumentContainersRoundTrip) {
    CoreXml_ doc;
    ASSERT_NE(doc.getfc("<PROGRAM><NAME> Warm </NAME><GAIN> 0.5 </GAIN><H1><V> 1 </V></H1></PROGRAM>"),
              nullptr);
    ASSERT_TRUE(CoreFsys::svq7x(&pool, &doc, at("doc.q7x")));
    CoreXml_ back;
    ASSERT_TRUE(CoreFsys::ldq7x(&pool, &back, at("DOC.Q7X")));
    EXPECT_EQ(str(back.settc(false, false)), str(doc.settc(false, false)));
    EXPECT_FALSE(CoreFsys::ldq7x(&pool, &back, at("none.q7x")));
    EXPECT_EQ(back.getrt(), nullptr);

    writeBytes(root / "Setup.xml",
               "<?xml version=\"1.0\"?>\n<SETUP>\n  <A> 1 </A>\n  <B> x y </B>\n</SETUP>\n");
    ASSERT_TRUE(CoreFsys::cvxml(&pool, at("Setup.xml")));
    EXPECT_TRUE(fs::exists(root / "SETUP.Q7X"));
    fs::remove(root / "Setup.xml");
    ASSERT_TRUE(CoreFsys::cvq7x(&pool, at("SETUP.Q7X")));
    CoreXml_ original, converted;
    original.getfc("<SETUP><A> 1 </A><B> x y </B></SETUP>");
    ASSERT_NE(converted.getff(at("SETUP.xml"), false), nullptr);
    EXPECT_EQ(str(converted.settc(false, false)), str(original.settc(false, false)));
    EXPECT_EQ(readBytes(root / "SETUP.xml").substr(0, 5), "<?xml");
    EXPECT_FALSE(CoreFsys::cvxml(&pool, at("missing.xml")));
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(FsysFiles, AnIndependentReaderListsTheSameItems) {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    CoreFsys store(&pool);
    put(store, "PROG.XML", "<PROGRAM> 1 </PROGRAM>");
    put(store, "VECTORS/KICK.WAV", std::string("RIFF\0\0\0\0WAVE", 12));
    put(store, "EMPTY.BIN", "");
    store.crtit("NOT.LOADED");
    put(store, "BIG.BIN", std::string(70000, '\x7F'));
    ASSERT_TRUE(store.savea(at("list.q7p")));

    const std::string script = fs::path(__FILE__).parent_path() / "container_list.py";
    const std::string command = "python3 '" + script + "' '" + (root / "LIST.Q7P").string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string listed;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe)) listed += chunk;
    ASSERT_EQ(pclose(pipe), 0) << listed;

    // The store's own view: names, addresses and sizes from the table it read, SHA-1 of its bytes
    // computed by the script over the same file must match what the store holds.
    CoreFsys reader(&pool);
    ASSERT_TRUE(reader.loada(at("LIST.Q7P"), "0", false, nullptr));
    std::string expected;
    int32_t address = 0;
    for (const char* name : {"PROG.XML", "VECTORS/KICK.WAV", "EMPTY.BIN", "BIG.BIN"}) {
        const std::string bytes = bytesOf(reader, reader.getit(name));
        expected +=
            std::string(name) + " " + std::to_string(address) + " " + std::to_string(bytes.size()) + " ";
        // SHA-1 of bytes, written out through a second run of the script's hash on a file of them.
        writeBytes(root / "item.bin", bytes);
        const std::string hashCommand =
            "python3 -c \"import "
            "hashlib,sys;print(hashlib.sha1(open(sys.argv[1],'rb').read()).hexdigest())\" '" +
            (root / "item.bin").string() + "'";
        FILE* hash = popen(hashCommand.c_str(), "r");
        ASSERT_NE(hash, nullptr);
        char digest[64] = {};
        ASSERT_NE(std::fgets(digest, sizeof digest, hash), nullptr);
        pclose(hash);
        expected += digest;
        address += static_cast<int32_t>(bytes.size());
    }
    EXPECT_EQ(listed, expected);
}
