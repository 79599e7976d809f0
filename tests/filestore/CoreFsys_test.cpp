// CoreFsys: records and the lookup rule, blocks copied and freed, whole files loaded and bad files or
// documents refused, stream operations over memory and disk items, names found whatever their case,
// whole-file writes, and the item containers (layout, appnd, loada, untrusted and mutated ones).
#include "base/CoreButl.h"
#include "base/CoreXml_.h"
#include "tests/common/ByteMutator.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/filestore/FsysFixture.h"

#include <cstring>
#include <memory>

using namespace fsystest;
using Items = std::map<std::string, std::string>;

// A container of the items, written to file.
static void writeContainer(CorePool& pool, const CoreAnsx& file, const Items& items) {
    CoreFsys writer(&pool);
    for (const auto& [name, bytes] : items) put(writer, name, bytes);
    ASSERT_TRUE(writer.savea(file));
}

TEST_F(FsysFiles, RecordsGetRisingIdsAndTheLookupRuleFindsContainerItemsBehindAnotherFolder) {
    CoreFsys store(&pool);
    EXPECT_EQ(store.crtit(" a.wav "), 0);
    EXPECT_EQ(store.crtit("A.WAV"), 0);
    EXPECT_EQ(store.crtit("b.wav"), 1);
    store.delct(1);
    EXPECT_EQ(store.crtit("b.wav"), 2); // a deleted id is not handed out again
    EXPECT_EQ(store.crtit("   "), -1);
    for (const char* name : {"KICK.WAV", "A/B.WAV"}) store.crtit(name);
    writeContainer(pool, at("data.q7p"), {{"DATA.WAV", "data"}, {"SUB/X.WAV", "x"}});
    ASSERT_TRUE(store.loada(at("data.q7p"), "0", false, nullptr));
    struct Row { const char *query, *found; };
    const Row rows[] = {{"1.WAV", nullptr}, {"UB/X.WAV", nullptr}, // a separator must precede
                        {"A\\B.WAV", "A/B.WAV"}, {"SUB/KICK.WAV", nullptr},   // loose files match exactly
                        {"X/DATA.WAV", "DATA.WAV"}, {"x.wav", "SUB/X.WAV"}}; // container items by the end
    for (const Row& r : rows) {
        const int32_t found = store.getit(r.query);
        int index = 0;
        EXPECT_EQ(found < 0 ? "-" : str(store.gtiit(found, index)->name), r.found ? r.found : "-") << r.query;
    }
    EXPECT_EQ(itemBytes(store, store.crtit("x.wav")), "x"); // crtit finds by the same rule
    std::vector<CoreAnsx> names(store.getkn());
    store.getks(names.data());
    EXPECT_EQ(str(names[0] + names[1]), "A.WAVB.WAV");
    int index = 7; // accessors outside the list give failure values
    int32_t id = 5;
    EXPECT_TRUE(store.gtiit(99, index) == nullptr && index == -1);
    EXPECT_TRUE(str(store.llvel(9, id)).empty() && id == -1);
}

TEST_F(FsysFiles, SetitCopiesBeforeItFreesAndEveryBlockGoesWithTheStore) {
    {
        CoreFsys store(&pool);
        const int32_t id = store.crtit("SELF.BIN");
        ASSERT_TRUE(store.setit(id, "abcdef", 6, CoreAnsx("C.Q7P"), false, false));
        void* own = nullptr;
        ASSERT_EQ(store.getco(id, &own), 6);
        EXPECT_TRUE(store.setit(id, static_cast<char*>(own) + 1, 4, CoreAnsx("x"), true, true));
        EXPECT_EQ(itemBytes(store, id), "bcde");
        EXPECT_EQ(str(store.gtsit("SELF.BIN")->container), "C.Q7P"); // keepMeta
        EXPECT_FALSE(store.setit(id, "z", -1, "y", true, false) || store.setit(77, "z", 1, "y", true, false));
        writeContainer(pool, at("data.q7p"), {{"SELF.BIN", "data"}}); // loada frees the blocks it replaces
        EXPECT_TRUE(store.loada(at("data.q7p"), "0", false, nullptr));
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(FsysFiles, WholeFilesAreLoadedOrRefusedAndBadDocumentsReported) {
    fs::create_directories(root / "vectors/FOLDER.WAV");
    writeBytes(root / "vectors/Kick.wav", "kick!");
    CoreFsys store(&pool, folder(), false);
    const int32_t kick = store.crtit("VECTORS/KICK.WAV");
    ASSERT_TRUE(store.loadc(kick, false));
    EXPECT_FALSE(store.loadc(kick, true)); // already loaded
    for (const char* name : {"VECTORS/MISSING.WAV", "VECTORS/FOLDER.WAV"})
        EXPECT_FALSE(store.loadc(store.crtit(name), false)) << name;
    // A sparse file of 2^31 bytes cannot be an item: refused, the old data stays.
    std::error_code sparse;
    fs::resize_file(root / "vectors/Kick.wav", uint64_t{1} << 31, sparse);
    if (!sparse) {
        EXPECT_FALSE(store.loadc(kick, false));
        EXPECT_EQ(itemBytes(store, kick), "kick!");
        EXPECT_FALSE(store.wopen(store.crtit("VECTORS/KICK.WAV", true), "rb"));
    }
    // Data dropped by extension comes back from its container; loose data does not.
    writeContainer(pool, at("bank.q7v"), {{"ONE.WAV", "one"}, {"DOC.XML", "<A> 1 </A>"}});
    CoreFsys bank(&pool);
    ASSERT_TRUE(bank.loada(at("BANK.Q7V"), "0", false, nullptr));
    put(bank, "LOOSE.WAV", "l");
    bank.uload(" .wav ");
    EXPECT_EQ(contents(bank), (Items{{"DOC.XML", "<A> 1 </A>"}}));
    bank.rload(".WAV");
    EXPECT_EQ(contents(bank), (Items{{"DOC.XML", "<A> 1 </A>"}, {"ONE.WAV", "one"}}));
    EXPECT_EQ(str(bank.ct2as(bank.getit("DOC.XML")) + bank.ct2as(-3)), "<A> 1 </A>");

    // A document that is not well-formed leaves the target empty and is logged.
    writeBytes(root / "Bad.xml", "<A> 1 </A></B></C>");
    writeBytes(root / "good.XML", "<A> 1 </A>");
    CoreXml_ doc;
    doc.getfc("<OLD> 1 </OLD>");
    EXPECT_EQ(store.getff(&doc, "bad.xml", false), nullptr);
    EXPECT_EQ(doc.getrt(), nullptr);
    EXPECT_NE(log().find("bad.xml"), std::string::npos) << log();
    EXPECT_NE(store.getff(&doc, "GOOD.XML", false), nullptr);
}

enum class ItemKind { Memory, Disk, Reopen };

class FsysStream : public FsysFiles, public ::testing::WithParamInterface<ItemKind> {
protected:
    // A store whose item "ITEM.BIN" holds bytes, opened for reading.
    int32_t open(const std::string& bytes) {
        writeBytes(root / "item.bin", bytes);
        store.reset(new CoreFsys(&pool, folder(), GetParam() == ItemKind::Reopen));
        const int32_t id = store->crtit("ITEM.BIN");
        if (GetParam() == ItemKind::Memory) put(*store, "ITEM.BIN", bytes);
        EXPECT_TRUE(store->wopen(id, "rb"));
        return id;
    }
    std::unique_ptr<CoreFsys> store;
};

// One suite over a memory item, a disk item and a disk item reopened per call: fread's counting,
// seeks within the item, the end of the item at its size, failure values for missing ids, and
// wclse keeping the record.
TEST_P(FsysStream, ReadsSeeksAndEndsLikeAFileWithinTheItem) {
    int32_t id = open("12345");
    char buffer[8] = "......";
    EXPECT_EQ(store->wread(id, buffer, 2, 3), 2);
    EXPECT_EQ(store->wread(id, buffer, 0, 4) + store->wread(id, buffer, -1, 2), 0);
    EXPECT_EQ(std::string(buffer), "12345."); // the partial element is copied
    id = open(std::string(100, 'x') + "y");
    struct Seek { int32_t offset; int whence, result; int32_t position; };
    const Seek seeks[] = {{-1, 2, 0, 100}, {10, 0, 0, 10}, {5, 1, 0, 15}, {-16, 1, -1, 15},
                          {102, 0, -1, 15}, {1, 2, -1, 15}, {0, 3, -1, 15}};
    for (const Seek& r : seeks) {
        EXPECT_EQ(store->wseek(id, r.offset, r.whence), r.result) << r.offset << " from " << r.whence;
        EXPECT_EQ(store->wtell(id), r.position) << r.offset << " from " << r.whence;
    }
    id = open("abc");
    std::string seen;
    char byte = 0;
    for (int guard = 0; !store->weof_(id) && guard < 100; ++guard)
        if (store->wread(id, &byte, 1, 1) == 1) seen += byte;
    EXPECT_EQ(seen, "abc");
    EXPECT_EQ(store->wread(id, &byte, 1, 1) + store->wread(99, &byte, 1, 1), 0);
    EXPECT_EQ(store->wseek(99, 0, 0) + store->wtell(99) + store->weof_(99) - store->wopen(99, "rb"), -3);
    store->wclse(id);
    EXPECT_EQ(store->isvld(id), GetParam() == ItemKind::Memory);
    EXPECT_TRUE(store->wopen(id, "rb") && store->wread(id, &byte, 1, 1) == 1 && byte == 'a');
}

INSTANTIATE_TEST_SUITE_P(AllItemKinds, FsysStream,
                         ::testing::Values(ItemKind::Memory, ItemKind::Disk, ItemKind::Reopen));

TEST_F(FsysFiles, DiskAccessFindsNamesWhateverTheirCase) {
    fs::create_directories(root / "vectors/Dir.wav");
    for (const char* name : {"Kick.wav", "kick.wav", "KICK.WAV", "Snare.wav", "snare.WAV"})
        writeBytes(root / "vectors" / name, fs::path(name).stem().string());
    for (const bool reopen : {false, true}) {
        CoreFsys store(&pool, folder(), reopen);
        // The exact spelling wins, else the first in byte order, every time.
        for (const char* name : {"VECTORS/KICK.WAV", "VECTORS/SNARE.WAV", "VECTORS/SNARE.WAV"}) {
            const int32_t id = store.crtit(name);
            char bytes[8] = {};
            ASSERT_TRUE(store.wopen(id, "rb") && store.wread(id, bytes, 1, 8) > 0);
            EXPECT_EQ(std::string(bytes), std::string(name) == "VECTORS/KICK.WAV" ? "KICK" : "Snare");
        }
        EXPECT_FALSE(store.wopen(store.crtit("VECTORS/DIR.WAV"), "rb") || store.exstf("VECTORS/DIR.WAV"));
        put(store, "MEMORY.BIN", "m");
        EXPECT_TRUE(store.exstf("vectors/snare.wav") && store.exstf("memory.bin"));
    }
    const CoreAnsx alternatives[2] = {at("vectors/dir.wav/"), at("Vectors/")};
    CoreAnsx found("stale");
    EXPECT_TRUE(CoreFsys::exstf(at("none/"), 2, alternatives, "kick.WAV", found));
    EXPECT_EQ(str(found), str(at("Vectors/")));
    EXPECT_FALSE(CoreFsys::exstf(at("none/"), 2, alternatives, "NONE.WAV", found));
    EXPECT_EQ(str(found), "");
}

TEST_F(FsysFiles, SaveaWritesItemsIntoExistingFilesOfAnyCaseAndRefusesEscapingNames) {
    fs::create_directories(root / "sub");
    writeBytes(root / "sub/x.xml", "old");
    CoreFsys store(&pool, folder(), false);
    put(store, "SUB/X.XML", "<DOC><A> 1 </A></DOC>");
    put(store, "BROKEN.XML", "<A> 1 </A></B>");
    put(store, "NEW/FRESH.BIN", "fresh");
    for (const char* escaping : {"/ABS.BIN", "../UP.BIN", "C:\\DRIVE.BIN"}) put(store, escaping, "e");
    store.crtit("NOTLOADED.BIN");
    EXPECT_FALSE(store.savea());
    const std::string header = std::string(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator;
    EXPECT_EQ(readBytes(root / "sub/x.xml"), header + "\n<DOC>\n  <A> 1 </A>\n</DOC>\n\n");
    EXPECT_EQ(readBytes(root / "BROKEN.XML"), "<A> 1 </A></B>"); // malformed XML goes out unchanged
    EXPECT_EQ(readBytes(root / "NEW/FRESH.BIN"), "fresh");
    for (const fs::path& absent : {root / "SUB", root / "NOTLOADED.BIN", root.parent_path() / "UP.BIN"})
        EXPECT_FALSE(fs::exists(absent)) << absent;
    for (const char* logged : {"BROKEN.XML", "../UP.BIN", "/ABS.BIN", "DRIVE.BIN"})
        EXPECT_NE(log().find(logged), std::string::npos) << logged << "\n" << log();
}

TEST_F(FsysFiles, WrfleReplacesWholeFilesAndKeepsTheOldOneWhenAWriteFails) {
    fs::create_directories(root / "Prog");
    const std::string bytes("new\0bytes", 9), big(1 << 16, 'n');
    EXPECT_TRUE(CoreFsys::wrfle(at("PROG/MY.Q7P"), bytes.data(), 9));
    EXPECT_EQ(readBytes(root / "Prog/MY.Q7P"), bytes);
    EXPECT_FALSE(CoreFsys::wrfle(at("nowhere/x.bin"), "x", 1) || CoreFsys::wrfle(at("prog/x.bin"), "x", -1) ||
                 CoreFsys::wrfle(at("prog/x.bin"), nullptr, 1));
    EXPECT_NE(log().find("nowhere/x.bin"), std::string::npos);
    const auto writeBig = [&] { return CoreFsys::wrfle(at("prog/my.q7p"), big.data(), int64_t{1} << 16); };
    EXPECT_EQ(writeUnderFileSizeLimit(4096, writeBig), 0) << "the cut write reported success";
    EXPECT_EQ(readBytes(root / "Prog/MY.Q7P"), bytes);
    EXPECT_EQ(entries(root / "Prog"), 1); // no temporary file stays behind
}

TEST_F(FsysFiles, SaveaWritesTheHeaderTheBlocksAndTheCompactTable) {
    CoreFsys store(&pool);
    put(store, "a", "abc");
    store.crtit("b");
    put(store, "c", "CDEFG");
    // A container of the same name in another case is replaced, not joined by a second file.
    fs::create_directories(root / "prog");
    writeBytes(root / "prog/My.q7p", "old");
    ASSERT_TRUE(store.savea(at("prog/my.q7p")));
    const std::string table = "<TOC>" + tocItem("A", "0", "3") + tocItem("C", "3", "5") + "</TOC>";
    const std::string expected = "Vorlan2 1.3.502" + std::string(25, '\0') + le32(8) + "abcCDEFG" + table;
    EXPECT_EQ(readBytes(root / "prog/My.q7p"), expected);
    EXPECT_EQ(entries(root / "prog"), 1);
    CoreFsys empty(&pool); // no item in memory: an empty table that reads back
    ASSERT_TRUE(empty.savea(at("empty.q7p")));
    EXPECT_EQ(readBytes(root / "EMPTY.Q7P"), title() + le32(0) + " TOC "); // the path upper-cased
    EXPECT_TRUE(empty.loada(at("EMPTY.Q7P"), "0", false, nullptr));
    EXPECT_FALSE(empty.savea(at("missing/folder/X.Q7P")));
    EXPECT_NE(log().find("MISSING/FOLDER/X.Q7P"), std::string::npos) << log();
    writeBytes(root / "ANGLE.Q7P", "untouched"); // names holding '<' are never written
    put(empty, "A<B.WAV", "x");
    EXPECT_FALSE(empty.savea(at("ANGLE.Q7P")));
    EXPECT_EQ(readBytes(root / "ANGLE.Q7P"), "untouched");
}

TEST_F(FsysFiles, AppndGrowsAContainerExactlyAsIfItHadBeenWrittenWithTheItem) {
    for (const bool withItems : {false, true}) {
        CoreFsys store(&pool);
        if (withItems) put(store, "a", "abc");
        ASSERT_TRUE(store.savea(at("grow.q7p")));
        put(store, "NEW.BIN", "0123456789");
        ASSERT_TRUE(store.appnd(at("GROW.Q7P"), "new.bin"));
        ASSERT_TRUE(store.savea(at("whole.q7p")));
        EXPECT_EQ(readBytes(root / "GROW.Q7P"), readBytes(root / "WHOLE.Q7P"));
        // The last table is the one read from the file, before the item was added.
        EXPECT_EQ(str(store.gettc()).find("NEW.BIN"), std::string::npos) << str(store.gettc());
    }
    const std::string grown = readBytes(root / "GROW.Q7P");
    CoreFsys store(&pool);
    put(store, "A", "a");
    store.crtit("NOTLOADED.BIN");
    put(store, "B<AD.BIN", "x");
    for (const char* name : {"MISSING.BIN", "NOTLOADED.BIN", "B<AD.BIN"})
        EXPECT_FALSE(store.appnd(at("GROW.Q7P"), name));
    EXPECT_FALSE(store.appnd(at("NONE.Q7P"), "A") || fs::exists(root / "NONE.Q7P"));
    EXPECT_EQ(readBytes(root / "GROW.Q7P"), grown);
    // A wrong title, a total beyond the file, a table that is not XML.
    for (const std::string& bytes : {"Vorlan3 " + grown.substr(8), grown.substr(0, 40) + le32(99) + "abc",
                                     grown.substr(0, 44) + "abc<TOC></TOC></TOC>"}) {
        writeBytes(root / "broken.q7p", bytes);
        EXPECT_FALSE(store.appnd(at("broken.q7p"), "A")) << bytes.size();
        EXPECT_EQ(readBytes(root / "broken.q7p"), bytes);
    }
}

TEST_F(FsysFiles, LoadaFiltersEntriesKeepsLoadedRecordsOnRequestAndReadsThroughAReaderStore) {
    const Items all = {{"DATA.WAV", "data"}, {"SUB/X.WAV", "x"}};
    writeContainer(pool, at("bank.q7p"), all);
    CoreFsys filtered(&pool);
    ASSERT_TRUE(filtered.loada(at("BANK.Q7P"), "bank/sub/x.wav.bak", false, nullptr));
    EXPECT_EQ(contents(filtered), (Items{{"SUB/X.WAV", "x"}}));
    EXPECT_EQ(str(filtered.gtsit("SUB/X.WAV")->container), str(at("BANK.Q7P")));
    CoreFsys kept(&pool);
    put(kept, "DATA.WAV", "mine");
    const int32_t other = kept.crtit("OTHER/DATA.WAV");
    ASSERT_TRUE(kept.loada(at("BANK.Q7P"), "0", true, nullptr));
    EXPECT_EQ(itemBytes(kept, kept.getit("DATA.WAV")), "mine");
    EXPECT_FALSE(kept.isvld(other)); // found by exact key only
    std::string versioned = readBytes(root / "BANK.Q7P"); // only the first 8 bytes are the mark
    versioned.replace(8, 7, "9.9.999");
    put(kept, "PACKED/V.Q7P", versioned);
    CoreFsys fromMemory(&pool), onDiskReader(&pool, folder(), true), reopened(&pool);
    ASSERT_TRUE(fromMemory.loada("PACKED/V.Q7P", "0", false, &kept));
    ASSERT_TRUE(reopened.loada("bank.q7p", "0", false, &onDiskReader));
    EXPECT_TRUE(contents(fromMemory) == all && contents(reopened) == all);
    // A store reading from itself never overwrites the container it reads.
    CoreFsys self(&pool);
    const std::string table = "<TOC>" + tocItem("SELF.Q7P", "0", "1") + tocItem("Y", "0", "1") + "</TOC>";
    put(self, "SELF.Q7P", container(1, "s", table));
    ASSERT_TRUE(self.loada("SELF.Q7P", "0", false, &self));
    EXPECT_EQ(itemBytes(self, self.getit("Y")), "s");
    EXPECT_EQ(itemBytes(self, self.getit("SELF.Q7P")).substr(0, 8), "Vorlan2 ");
}

TEST_F(FsysFiles, UntrustedContainersAreRefusedOrTheirBadItemsSkipped) {
    const std::string blocks = "goodbad!", good = tocItem("GOOD", "0", "4");
    auto table = [&](std::string bad) { return container(8, "goodbad!", "<TOC>" + good + bad + "</TOC>"); };
    const Items justGood = {{"GOOD", "good"}};
    struct Row { const char* what; std::string bytes; bool result; Items loaded; };
    const Row rows[] = {
        {"shorter than a header", title().substr(0, 30), false, {}},
        {"wrong title", "Vorlan3 " + table("").substr(8), false, {}},
        {"negative total", container(-1, blocks, "<TOC>" + good + "</TOC>"), false, {}},
        {"total beyond the file", container(9999, blocks, "<TOC>" + good + "</TOC>"), false, {}},
        {"total up to the end: empty table", container(8, blocks, ""), false, {}},
        {"table not XML", container(8, blocks, "<TOC></TOC></TOC>"), false, {}},
        {"table without TOC", container(8, blocks, "<LIST>" + good + "</LIST>"), false, {}},
        {"dim missing", table("<ITEM><ENTRY> B </ENTRY><ADDRESS> 4 </ADDRESS></ITEM>"), true, justGood},
        {"negative address", table(tocItem("B", "-1", "4")), true, justGood},
        {"non-numeric", table(tocItem("B", "4x", "4")), true, justGood},
        {"beyond the total", table(tocItem("B", "5", "4")), true, justGood},
        {"huge dim", table(tocItem("B", "0", "99999999999")), true, justGood},
        {"empty entry", table(tocItem("", "4", "4")), true, justGood},
        {"an entry repeats", table(tocItem("GOOD", "4", "4")), true, {{"GOOD", "bad!"}}}};
    for (const Row& r : rows) {
        writeBytes(root / "u.q7p", r.bytes);
        CoreFsys store(&pool), holder(&pool), fromMemory(&pool); // from a file and held by a reader store
        put(store, "BEFORE", "kept");
        put(holder, "U.Q7P", r.bytes);
        EXPECT_EQ(store.loada(at("u.q7p"), "0", false, nullptr), r.result) << r.what;
        EXPECT_EQ(fromMemory.loada("U.Q7P", "0", false, &holder), r.result) << r.what;
        EXPECT_EQ(contents(fromMemory), r.loaded) << r.what;
        Items expected = r.loaded;
        expected["BEFORE"] = "kept";
        EXPECT_EQ(contents(store), expected) << r.what;
    }
    EXPECT_NE(log().find("appears again"), std::string::npos);
    CoreFsys store(&pool);
    fs::create_directories(root / "FOLDER.Q7P");
    EXPECT_FALSE(store.loada(at("folder.q7p"), "0", false, nullptr));
    EXPECT_FALSE(store.loada(at("none.q7p"), "0", false, nullptr));
}

TEST_F(FsysFiles, SingleDocumentContainersRoundTrip) {
    writeBytes(root / "Setup.xml", "<?xml version=\"1.0\"?>\n<SETUP>\n <A> 1 </A>\n <B> x </B>\n</SETUP>\n");
    ASSERT_TRUE(CoreFsys::cvxml(&pool, at("Setup.xml")));
    fs::remove(root / "Setup.xml");
    ASSERT_TRUE(CoreFsys::cvq7x(&pool, at("SETUP.Q7X")));
    CoreXml_ original, converted, back;
    original.getfc("<SETUP><A> 1 </A><B> x </B></SETUP>");
    ASSERT_NE(converted.getff(at("SETUP.xml"), false), nullptr);
    EXPECT_EQ(str(converted.settc(false, false)), str(original.settc(false, false)));
    ASSERT_TRUE(CoreFsys::svq7x(&pool, &original, at("doc.q7x")));
    ASSERT_TRUE(CoreFsys::ldq7x(&pool, &back, at("DOC.Q7X")));
    EXPECT_EQ(str(back.settc(false, false)), str(original.settc(false, false)));
    EXPECT_FALSE(CoreFsys::ldq7x(&pool, &back, at("none.q7x")) || CoreFsys::cvxml(&pool, at("missing.xml")));
    EXPECT_EQ(back.getrt(), nullptr);
    EXPECT_EQ(pool.getma(), 0);
}

// Seeded mutants of valid containers, read from memory and now and then from a file: no mutant
// crashes the reader, every item it reports is bytes of the mutant's blocks under an ENTRY of its
// table, both ways read alike, and every block goes back to the pool.
TEST_F(FsysFiles, MutatedContainersNeverCrashTheReaderNorReportBytesTheyDoNotHold) {
    std::vector<std::string> originals;
    {
        CoreFsys several(&pool);
        put(several, "PROG.XML", "<PROGRAM><NAME> Warm </NAME><GAIN> 0.5 </GAIN></PROGRAM>");
        put(several, "VECTORS/KICK.WAV", std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0", 22));
        put(several, "EMPTY.BIN", "");
        ASSERT_TRUE(several.savea(at("several.q7v")));
        CoreXml_ doc;
        doc.getfc("<SETUP><A> 1 </A><B> two </B></SETUP>");
        ASSERT_TRUE(CoreFsys::svq7x(&pool, &doc, at("setup.q7x")));
        for (const char* name : {"SEVERAL.Q7V", "SETUP.Q7X"}) originals.push_back(readBytes(root / name));
    }
    const auto readItems = [&](CoreFsys& reader, const std::string& mutant) {
        std::string seen;
        const std::string table = str(reader.gettc().UpperCase());
        for (const auto& [key, bytes] : contents(reader)) {
            EXPECT_NE(table.find(key), std::string::npos) << key;
            EXPECT_TRUE(bytes.empty() || mutant.find(bytes, 44) != std::string::npos) << key;
            seen += key + "=" + bytes + ";";
        }
        return seen;
    };
    int readable = 0; // mutants that still gave items: the check must have something to check
    for (size_t c = 0; c < originals.size(); ++c) {
        ByteMutator::Hints hints;
        hints.offsets = {40};
        hints.textStart = 44 + (uint8_t(originals[c][40]) | uint8_t(originals[c][41]) << 8);
        hints.tokens = {"-1", "2147483647", "99999999999", "<ITEM>", "</ITEM>", "<"};
        ByteMutator mutator(20240601u + static_cast<uint32_t>(c));
        for (int m = 0; m < 2000; ++m) {
            SCOPED_TRACE(testing::Message() << "container " << c << " mutant " << m);
            const std::string mutant = mutator.mutate(originals[c], hints);
            std::string fromMemory;
            {
                CoreFsys holder(&pool), reader(&pool);
                put(holder, "MUTANT.Q7P", mutant);
                reader.loada("MUTANT.Q7P", "0", false, &holder);
                fromMemory = readItems(reader, mutant);
            }
            readable += !fromMemory.empty();
            if (m % 50 == 0) {
                writeBytes(root / "mutant.q7p", mutant);
                CoreFsys reader(&pool);
                reader.loada(at("mutant.q7p"), "0", false, nullptr);
                EXPECT_EQ(readItems(reader, mutant), fromMemory);
            }
            ASSERT_EQ(pool.getma(), 0);
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(readable, 1000);
}


// A container cut anywhere in its table of contents is refused with a line naming it, even where the
// lenient XML reader would close the open elements itself; trailing blanks after the table are harmless.
TEST_F(FsysFiles, AContainerCutShortInItsTableIsRefused) {
    CoreFsys writer(&pool);
    put(writer, "A.XML", "<PROGRAM>x</PROGRAM>");
    put(writer, "B.WAV", std::string(100, 'w'));
    ASSERT_TRUE(writer.savea(at("w.q7p")));
    const std::string whole = readBytes(root / "W.Q7P");
    const size_t table = whole.size() - (44 + 20 + 100);
    const Items both = {{"A.XML", "<PROGRAM>x</PROGRAM>"}, {"B.WAV", std::string(100, 'w')}};
    for (const auto& [bytes, loads] : {std::pair{whole, true}, {whole + " \r\n", true}}) {
        writeBytes(root / "c.q7p", bytes);
        CoreFsys store(&pool);
        EXPECT_EQ(store.loada(at("c.q7p"), "0", false, nullptr), loads);
        EXPECT_EQ(contents(store), both);
    }
    for (size_t cut = 1; cut < table; ++cut) {
        writeBytes(root / "c.q7p", whole.substr(0, whole.size() - cut));
        CoreFsys store(&pool);
        put(store, "BEFORE", "kept");
        EXPECT_FALSE(store.loada(at("c.q7p"), "0", false, nullptr)) << cut;
        EXPECT_EQ(contents(store), (Items{{"BEFORE", "kept"}})) << cut;
    }
    EXPECT_NE(log().find("c.q7p: the table of contents is cut short"), std::string::npos);
    writer.init_();
    EXPECT_EQ(pool.getma(), 0);
}
