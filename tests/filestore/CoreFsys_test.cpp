// Tests of CoreFsys: records and the lookup rule, in-memory contents, the stream operations over
// memory and disk items, the disk tests and writing items back as loose files.
#include "base/CoreButl.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/filestore/FsysFixture.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace fsystest;

namespace {

// A store holding a container with DATA.WAV and SUB/X.WAV, loaded from disk.
void loadDataContainer(CoreFsys& store, CorePool& pool, const CoreAnsx& file) {
    CoreFsys writer(&pool);
    writer.setit(writer.crtit("DATA.WAV"), "data", 4, CoreAnsx("0"), false, false);
    writer.setit(writer.crtit("SUB/X.WAV"), "x", 1, CoreAnsx("0"), false, false);
    ASSERT_TRUE(writer.savea(file));
    ASSERT_TRUE(store.loada(file, CoreAnsx("0"), false, nullptr));
}

std::string bytesOf(const CoreFsys& store, int32_t id) {
    void* data = nullptr;
    const int32_t size = store.getco(id, &data);
    return size > 0 ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

} // namespace

// ---- records and lookup ---------------------------------------------------------------------------------

TEST_F(FsysFiles, CrtitFormsKeysAndHandsOutRisingIdsThatAreNeverReused) {
    CoreFsys store(&pool);
    EXPECT_EQ(store.crtit("a.wav"), 0);
    EXPECT_EQ(store.crtit(" A.WAV "), 0);
    EXPECT_EQ(store.crtit("b.wav"), 1);
    store.delct(1);
    EXPECT_EQ(store.crtit("b.wav"), 2); // a deleted id is not handed out again
    EXPECT_EQ(store.crtit("a.wav", true), 3);
    EXPECT_EQ(store.crtit("a.wav", false, true), 4);
    EXPECT_EQ(store.getkn(), 4);
    EXPECT_EQ(store.crtit("   "), -1);
    EXPECT_EQ(store.crtit(""), -1);
    EXPECT_EQ(store.getkn(), 4);
    int32_t id = -2;
    EXPECT_EQ(str(store.llvel(0, id)), "A.WAV");
    EXPECT_EQ(id, 0);
    EXPECT_EQ(store.getit("a.wav"), 0); // the first record of that key in list order
}

TEST_F(FsysFiles, LookupFindsExactKeysAndContainerItemsBehindAnotherFolderOnly) {
    CoreFsys store(&pool);
    const int32_t big = store.crtit("BIGKICK.WAV");
    EXPECT_NE(store.crtit("KICK.WAV"), big);
    store.crtit("11.WAV");
    EXPECT_EQ(store.getit("1.WAV"), -1);
    const int32_t slashed = store.crtit("A/B.WAV");
    EXPECT_EQ(store.getit("A\\B.WAV"), slashed);
    EXPECT_EQ(store.crtit("a\\b.wav"), slashed);
    const int32_t looseKick = store.getit("KICK.WAV");
    EXPECT_NE(store.getit("SUB/KICK.WAV"), looseKick); // a loose file of another folder
    EXPECT_EQ(store.getit("SUB/KICK.WAV"), -1);
    EXPECT_EQ(store.getit(""), -1);

    loadDataContainer(store, pool, at("data.q7p"));
    const int32_t data = store.getit("DATA.WAV");
    const int32_t x = store.getit("SUB/X.WAV");
    ASSERT_GE(data, 0);
    ASSERT_GE(x, 0);
    EXPECT_EQ(store.getit("X/DATA.WAV"), data);
    EXPECT_EQ(store.getit("x.wav"), x);
    EXPECT_EQ(store.getit("PROG/SUB/X.WAV"), x);
    EXPECT_EQ(store.getit("A.WAV"), -1);
    EXPECT_EQ(store.getit("DATA"), -1);
    EXPECT_EQ(store.getit("UB/X.WAV"), -1); // a separator must precede the shared part
    EXPECT_EQ(store.crtit("X/DATA.WAV"), data);
    EXPECT_EQ(bytesOf(store, store.crtit("x.wav")), "x");
}

TEST_F(FsysFiles, AccessorsGiveFailureValuesOutsideTheList) {
    CoreFsys store(&pool);
    store.crtit("ONE");
    store.crtit("TWO");
    store.setit(store.crtit("THREE"), "3", 1, CoreAnsx("0"), false, false);
    int index = 7;
    EXPECT_EQ(store.gtiit(99, index), nullptr);
    EXPECT_EQ(index, -1);
    ASSERT_NE(store.gtiit(1, index), nullptr);
    EXPECT_EQ(index, 1);
    int32_t id = 5;
    EXPECT_EQ(str(store.llvel(-1, id)), "");
    EXPECT_EQ(id, -1);
    id = 5;
    EXPECT_EQ(str(store.llvel(3, id)), "");
    EXPECT_EQ(id, -1);
    EXPECT_EQ(store.llvcn(), 3);
    CoreAnsx names[3];
    store.getks(names);
    EXPECT_EQ(str(names[0]) + str(names[1]) + str(names[2]), "ONETWOTHREE");
    store.getks(nullptr);
    EXPECT_FALSE(store.isvld(0));
    EXPECT_TRUE(store.isvld(2));
    EXPECT_FALSE(store.isvld(-1));
    void* data = &index;
    EXPECT_EQ(store.getco(0, &data), 0);
    EXPECT_EQ(data, &index);
    EXPECT_EQ(store.getco(42, &data), 0);
    store.delct(42);
    store.delct(1);
    EXPECT_EQ(store.getkn(), 2);
    EXPECT_EQ(store.gtiit(2, index), store.gtsit("THREE"));
    EXPECT_EQ(index, 1);
}

TEST_F(FsysFiles, SetitCopiesBeforeItFreesAndEveryBlockGoesWithTheStore) {
    {
        CoreFsys store(&pool);
        const int32_t id = store.crtit("SELF.BIN");
        ASSERT_TRUE(store.setit(id, "abcdef", 6, CoreAnsx("C.Q7P"), false, false));
        void* own = nullptr;
        ASSERT_EQ(store.getco(id, &own), 6);
        EXPECT_TRUE(store.setit(id, static_cast<char*>(own) + 1, 4, CoreAnsx("x"), true, true));
        EXPECT_EQ(bytesOf(store, id), "bcde");
        EXPECT_EQ(str(store.gtsit("SELF.BIN")->container), "C.Q7P"); // keepMeta

        EXPECT_FALSE(store.setit(id, "zz", -1, CoreAnsx("y"), true, false));
        EXPECT_FALSE(store.setit(77, "zz", 2, CoreAnsx("y"), true, false));
        EXPECT_EQ(bytesOf(store, id), "bcde");
        EXPECT_TRUE(store.setit(id, nullptr, 0, CoreAnsx("0"), true, false));
        EXPECT_TRUE(store.isvld(id));
        EXPECT_EQ(store.getco(id, &own), 0);

        // loada over records already in memory frees their old blocks.
        loadDataContainer(store, pool, at("data.q7p"));
        EXPECT_TRUE(store.loada(at("data.q7p"), CoreAnsx("0"), false, nullptr));
        store.crtit("LOOSE.BIN");
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(FsysFiles, LoadcReadsWholeFilesAndLeavesRecordsAloneOnFailure) {
    fs::create_directories(root / "vectors");
    writeBytes(root / "vectors/Kick.wav", "kick!");
    fs::create_directories(root / "FOLDER.WAV");
    CoreFsys store(&pool, folder(), false);
    EXPECT_FALSE(store.loadc(5, false));
    const int32_t kick = store.crtit("VECTORS/KICK.WAV");
    ASSERT_TRUE(store.loadc(kick, false));
    EXPECT_EQ(bytesOf(store, kick), "kick!");
    writeBytes(root / "vectors/Kick.wav", "other");
    EXPECT_FALSE(store.loadc(kick, true));
    EXPECT_EQ(bytesOf(store, kick), "kick!");
    ASSERT_TRUE(store.loadc(kick, false));
    EXPECT_EQ(bytesOf(store, kick), "other");

    const int32_t missing = store.crtit("MISSING.WAV");
    EXPECT_FALSE(store.loadc(missing, false));
    EXPECT_FALSE(store.isvld(missing));
    const int32_t directory = store.crtit("FOLDER.WAV");
    EXPECT_FALSE(store.loadc(directory, false));
    EXPECT_FALSE(store.isvld(directory));

    // A sparse file of 2^31 bytes cannot be an item: refused, the old data stays.
    std::error_code sparse;
    fs::resize_file(root / "vectors/Kick.wav", uint64_t{1} << 31, sparse);
    if (!sparse) {
        EXPECT_FALSE(store.loadc(kick, false));
        EXPECT_EQ(bytesOf(store, kick), "other");
        EXPECT_FALSE(store.wopen(store.crtit("VECTORS/KICK.WAV", true), "rb"));
    }
}

TEST_F(FsysFiles, UloadDropsDataByExtensionAndRloadBringsItBack) {
    {
        CoreFsys writer(&pool);
        writer.setit(writer.crtit("ONE.WAV"), "one", 3, CoreAnsx("0"), false, false);
        writer.setit(writer.crtit("two.Wav"), "two", 3, CoreAnsx("0"), false, false);
        writer.setit(writer.crtit("DOC.XML"), "<A> 1 </A>", 10, CoreAnsx("0"), false, false);
        ASSERT_TRUE(writer.savea(at("bank.q7v")));
    }
    CoreFsys store(&pool);
    ASSERT_TRUE(store.loada(at("BANK.Q7V"), CoreAnsx("0"), false, nullptr));
    const int32_t loose = store.crtit("LOOSE.WAV");
    store.setit(loose, "l", 1, CoreAnsx("0"), false, false);
    const int32_t nulled = store.crtit("NULLED.WAV");
    store.setit(nulled, "n", 1, CoreAnsx("NULL"), false, false);
    store.uload(" .wav ");
    EXPECT_EQ(store.getkn(), 5);
    EXPECT_FALSE(store.isvld(store.getit("ONE.WAV")));
    EXPECT_FALSE(store.isvld(store.getit("TWO.WAV")));
    EXPECT_FALSE(store.isvld(loose));
    EXPECT_TRUE(store.isvld(store.getit("DOC.XML")));

    store.rload(".WAV");
    EXPECT_EQ(bytesOf(store, store.getit("ONE.WAV")), "one");
    EXPECT_EQ(bytesOf(store, store.getit("TWO.WAV")), "two");
    EXPECT_FALSE(store.isvld(loose));
    EXPECT_FALSE(store.isvld(nulled));
    EXPECT_EQ(store.getkn(), 5);
}

TEST_F(FsysFiles, Ct2asSkipsZeroBytesAndGetffReportsBadDocuments) {
    CoreFsys store(&pool, folder(), false);
    const int32_t id = store.crtit("Z.BIN");
    store.setit(id, std::string("ab\0c", 4).data(), 4, CoreAnsx("0"), false, false);
    EXPECT_EQ(str(store.ct2as(id)), "abc");
    EXPECT_EQ(str(store.ct2as(store.crtit("NOT.BIN"))), "");
    EXPECT_EQ(str(store.ct2as(-3)), "");

    CoreXml_ doc;
    doc.getfc("<OLD> 1 </OLD>");
    EXPECT_EQ(store.getff(&doc, "MISSING.XML", false), nullptr);
    EXPECT_EQ(doc.getrt(), nullptr);

    writeBytes(root / "Bad.xml", "<A> 1 </A></B></C>");
    EXPECT_EQ(store.getff(&doc, "bad.xml", false), nullptr);
    EXPECT_EQ(doc.getrt(), nullptr);
    EXPECT_NE(log().find("bad.xml"), std::string::npos) << log();

    writeBytes(root / "good.XML", "<A> 1 </A>");
    CoreNode* good = store.getff(&doc, "GOOD.XML", false);
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->getcd("A")->getcd()->gettx().Trim(), CoreAnsx("1"));
}

// ---- stream operations: one suite over a memory item, a disk item and a disk item reopened per call ---

enum class ItemKind { Memory, Disk, Reopen };

class FsysStream : public FsysFiles, public ::testing::WithParamInterface<ItemKind> {
protected:
    // A store whose item "ITEM.BIN" holds bytes, opened for reading.
    int32_t open(const std::string& bytes) {
        writeBytes(root / "item.bin", bytes);
        store.reset(new CoreFsys(&pool, folder(), GetParam() == ItemKind::Reopen));
        const int32_t id = store->crtit("ITEM.BIN");
        if (GetParam() == ItemKind::Memory)
            store->setit(id, bytes.data(), static_cast<int32_t>(bytes.size()), "0", false, false);
        EXPECT_TRUE(store->wopen(id, "rb"));
        return id;
    }
    bool disk() const { return GetParam() != ItemKind::Memory; }
    std::unique_ptr<CoreFsys> store;
};

TEST_P(FsysStream, WreadCountsWholeElementsAndCopiesWhatLiesInsideLikeFread) {
    int32_t id = open("abcd");
    char buffer[16];
    std::memset(buffer, '.', sizeof buffer);
    EXPECT_EQ(store->wread(id, buffer, 2, 4), 2);
    EXPECT_EQ(std::string(buffer, 6), "abcd..");

    id = open("12345");
    std::memset(buffer, '.', sizeof buffer);
    EXPECT_EQ(store->wread(id, buffer, 2, 3), 2);
    EXPECT_EQ(std::string(buffer, 7), "12345..");
    EXPECT_EQ(store->wtell(id), 5);
    EXPECT_EQ(store->wread(id, buffer, 1, 1), 0);

    id = open("abcdefgh");
    std::memset(buffer, '.', sizeof buffer);
    EXPECT_EQ(store->wread(id, buffer, 3, 1), 1);
    EXPECT_EQ(std::string(buffer, 4), "abc.");
    EXPECT_EQ(store->wread(id, buffer, 0, 4), 0);
    EXPECT_EQ(store->wread(id, buffer, 4, 0), 0);
    EXPECT_EQ(store->wread(id, buffer, -1, 2), 0);
    EXPECT_EQ(store->wread(id, nullptr, 1, 2), 0);
    EXPECT_EQ(store->wtell(id), 3);
}

TEST_P(FsysStream, WseekStaysWithinTheItemAndBasesTheEndAtTheSize) {
    const int32_t id = open(std::string(100, 'x') + "y");
    EXPECT_EQ(store->wseek(id, 0, 2), 0);
    EXPECT_EQ(store->wtell(id), 101);
    EXPECT_EQ(store->wseek(id, -1, 2), 0);
    char last = 0;
    EXPECT_EQ(store->wread(id, &last, 1, 1), 1);
    EXPECT_EQ(last, 'y');
    EXPECT_EQ(store->wseek(id, 10, 0), 0);
    EXPECT_EQ(store->wseek(id, 5, 1), 0);
    EXPECT_EQ(store->wtell(id), 15);
    EXPECT_EQ(store->wseek(id, -16, 1), -1);
    EXPECT_EQ(store->wseek(id, 102, 0), -1);
    EXPECT_EQ(store->wseek(id, 1, 2), -1);
    EXPECT_EQ(store->wseek(id, -1, 0), -1);
    EXPECT_EQ(store->wseek(id, 0, 3), -1);
    EXPECT_EQ(store->wtell(id), 15);
    EXPECT_EQ(store->wseek(id, 101, 0), 0);
    EXPECT_EQ(store->wtell(id), 101);
    EXPECT_EQ(store->wseek(id, 0, 0), 0);
    EXPECT_EQ(store->wtell(id), 0);
}

TEST_P(FsysStream, WeofTurnsTrueWhenThePositionReachesTheSizeAndByteLoopsEnd) {
    const int32_t id = open("abc");
    EXPECT_EQ(store->weof_(id), 0);
    std::string seen;
    char byte = 0;
    int guard = 0;
    while (!store->weof_(id) && ++guard < 100) {
        if (store->wread(id, &byte, 1, 1) == 1) seen += byte;
    }
    EXPECT_EQ(seen, "abc");
    EXPECT_LT(guard, 100);
    if (disk())
        EXPECT_NE(store->weof_(id), 0);
    else
        EXPECT_EQ(store->weof_(id), -1);
    EXPECT_EQ(store->wseek(id, 1, 0), 0);
    EXPECT_EQ(store->weof_(id), 0);
    EXPECT_EQ(store->wread(id, &byte, 1, 1), 1);
    EXPECT_EQ(byte, 'b');
}

TEST_P(FsysStream, MissingIdsGiveFailureValuesAndWclseKeepsTheRecord) {
    const int32_t id = open("abc");
    char byte = 0;
    EXPECT_FALSE(store->wopen(99, "rb"));
    EXPECT_EQ(store->wread(99, &byte, 1, 1), 0);
    EXPECT_EQ(store->wseek(99, 0, 0), -1);
    EXPECT_EQ(store->wtell(99), -1);
    EXPECT_EQ(store->weof_(99), -1);
    store->wclse(99);
    store->wclse(id);
    EXPECT_EQ(store->getkn(), 1);
    EXPECT_EQ(store->isvld(id), !disk());
    EXPECT_TRUE(store->wopen(id, "rb"));
    EXPECT_EQ(store->wread(id, &byte, 1, 1), 1);
    EXPECT_EQ(byte, 'a');
}

INSTANTIATE_TEST_SUITE_P(AllItemKinds, FsysStream,
                         ::testing::Values(ItemKind::Memory, ItemKind::Disk, ItemKind::Reopen),
                         [](const ::testing::TestParamInfo<ItemKind>& info) {
                             return info.param == ItemKind::Memory ? "Memory"
                                    : info.param == ItemKind::Disk ? "Disk"
                                                                   : "Reopen";
                         });

// ---- disk tests and writing back --------------------------------------------------------------------------

TEST_F(FsysFiles, DiskAccessFindsNamesWhateverTheirCase) {
    fs::create_directories(root / "vectors");
    writeBytes(root / "vectors/Kick.wav", "Kick");
    writeBytes(root / "vectors/kick.wav", "kick");
    writeBytes(root / "vectors/KICK.WAV", "KICK");
    writeBytes(root / "vectors/Snare.wav", "Snare");
    writeBytes(root / "vectors/snare.WAV", "snare");
    fs::create_directories(root / "vectors/Dir.wav");
    for (const bool reopen : {false, true}) {
        CoreFsys store(&pool, folder(), reopen);
        const int32_t exactKey = store.crtit("VECTORS/KICK.WAV");
        ASSERT_TRUE(store.wopen(exactKey, "rb"));
        char bytes[8] = {};
        EXPECT_EQ(store.wread(exactKey, bytes, 1, 8), 4);
        EXPECT_EQ(std::string(bytes, 4), "KICK"); // the exact spelling wins
        const int32_t snare = store.crtit("VECTORS/SNARE.WAV");
        for (int i = 0; i < 3; ++i) { // the first in byte order, every time
            ASSERT_TRUE(store.wopen(snare, "rb"));
            EXPECT_EQ(store.wread(snare, bytes, 1, 8), 5);
            EXPECT_EQ(std::string(bytes, 5), "Snare");
        }
        EXPECT_FALSE(store.wopen(store.crtit("VECTORS/DIR.WAV"), "rb"));
        EXPECT_FALSE(store.wopen(store.crtit("VECTORS/NONE.WAV"), "rb"));
    }
    CoreFsys store(&pool, folder(), false);
    fs::remove(root / "vectors/KICK.WAV");
    fs::remove(root / "vectors/kick.wav");
    fs::create_directories(root / "Other");
    writeBytes(root / "Other/only.bin", "o");
    EXPECT_TRUE(store.loadc(store.crtit("vectors/KICK.WAV"), false));
    EXPECT_EQ(bytesOf(store, store.getit("VECTORS/KICK.WAV")), "Kick");
    EXPECT_TRUE(store.exstf("OTHER/ONLY.BIN"));
    EXPECT_FALSE(store.exstf("VECTORS/DIR.WAV"));
    EXPECT_FALSE(store.exstf("OTHER/NONE.BIN"));
    CoreFsys held(&pool);
    held.setit(held.crtit("MEMORY.BIN"), "m", 1, "0", false, false);
    EXPECT_TRUE(held.exstf("memory.bin"));
}

TEST_F(FsysFiles, ExstfTriesTheAlternativeFoldersInOrder) {
    for (const char* name : {"first", "Second", "THIRD"}) fs::create_directories(root / name);
    writeBytes(root / "Second/item.xml", "2");
    writeBytes(root / "THIRD/Item.XML", "3");
    const CoreAnsx alternatives[2] = {at("second/"), at("third/")};
    CoreAnsx found("stale");
    EXPECT_TRUE(CoreFsys::exstf(at("first/"), 2, alternatives, "ITEM.XML", found));
    EXPECT_EQ(str(found), str(at("second/")));
    EXPECT_TRUE(CoreFsys::exstf(at("first/"), 1, alternatives + 1, "item.xml", found));
    EXPECT_EQ(str(found), str(at("third/")));
    EXPECT_FALSE(CoreFsys::exstf(at("first/"), 2, alternatives, "NONE.XML", found));
    EXPECT_EQ(str(found), "");
    EXPECT_FALSE(CoreFsys::exstf(at("first/"), 0, nullptr, "ITEM.XML", found));
    EXPECT_TRUE(CoreFsys::exstf(at("Second/"), "ITEM.xml"));
    EXPECT_FALSE(CoreFsys::exstf(at(""), "Second"));
}

TEST_F(FsysFiles, SaveaWritesItemsIntoExistingFilesOfAnyCaseAndRefusesEscapingNames) {
    fs::create_directories(root / "sub");
    writeBytes(root / "sub/x.xml", "old");
    writeBytes(root / "Data.bin", "old data");
    CoreFsys store(&pool, folder(), false);
    const std::string document = "<DOC><A> 1 </A><B> two </B></DOC>";
    store.setit(store.crtit("SUB/X.XML"), document.data(), static_cast<int32_t>(document.size()), "0", false,
                false);
    store.setit(store.crtit("DATA.BIN"), std::string("\0\1\2", 3).data(), 3, "0", false, false);
    store.setit(store.crtit("NEW/FRESH.BIN"), "fresh", 5, "0", false, false);
    store.setit(store.crtit("BROKEN.XML"), "<A> 1 </A></B>", 14, "0", false, false);
    store.setit(store.crtit("/ABS.BIN"), "a", 1, "0", false, false);
    store.setit(store.crtit("../UP.BIN"), "u", 1, "0", false, false);
    store.setit(store.crtit("SUB/../../UP2.BIN"), "u", 1, "0", false, false);
    store.setit(store.crtit("C:\\DRIVE.BIN"), "c", 1, "0", false, false);
    store.crtit("NOTLOADED.BIN");
    EXPECT_FALSE(store.savea());

    const std::string header = std::string(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator;
    EXPECT_EQ(readBytes(root / "sub/x.xml"), header + "\n<DOC>\n  <A> 1 </A>\n  <B> two </B>\n</DOC>\n\n");
    EXPECT_EQ(readBytes(root / "Data.bin"), std::string("\0\1\2", 3));
    EXPECT_EQ(readBytes(root / "NEW/FRESH.BIN"), "fresh");
    EXPECT_EQ(readBytes(root / "BROKEN.XML"), "<A> 1 </A></B>");
    EXPECT_FALSE(fs::exists(root / "SUB"));
    EXPECT_FALSE(fs::exists(root / "DATA.BIN"));
    EXPECT_FALSE(fs::exists(root / "NOTLOADED.BIN"));
    EXPECT_FALSE(fs::exists(root.parent_path() / "UP.BIN"));
    EXPECT_FALSE(fs::exists(root.parent_path() / "UP2.BIN"));
    EXPECT_FALSE(fs::exists("/ABS.BIN"));
    EXPECT_EQ(entries(root / "sub"), 1);
    const std::string logged = log();
    EXPECT_NE(logged.find("BROKEN.XML"), std::string::npos) << logged;
    EXPECT_NE(logged.find("../UP.BIN"), std::string::npos) << logged;
    EXPECT_NE(logged.find("/ABS.BIN"), std::string::npos) << logged;
    EXPECT_NE(logged.find("DRIVE.BIN"), std::string::npos) << logged;
}

TEST_F(FsysFiles, WrfleReplacesWholeFilesAndKeepsTheOldOneWhenAWriteFails) {
    fs::create_directories(root / "Prog");
    writeBytes(root / "Prog/My.q7p", std::string(3000, 'k'));
    const std::string bytes("new\0bytes", 9);
    EXPECT_TRUE(CoreFsys::wrfle(at("PROG/MY.Q7P"), bytes.data(), 9));
    EXPECT_EQ(readBytes(root / "Prog/My.q7p"), bytes);
    EXPECT_EQ(entries(root / "Prog"), 1);
    EXPECT_TRUE(CoreFsys::wrfle(at("prog/Empty.bin"), nullptr, 0));
    EXPECT_EQ(readBytes(root / "Prog/Empty.bin"), "");
    EXPECT_FALSE(CoreFsys::wrfle(at("nowhere/x.bin"), "x", 1));
    EXPECT_FALSE(CoreFsys::wrfle(at("prog/x.bin"), "x", -1));
    EXPECT_FALSE(CoreFsys::wrfle(at("prog/x.bin"), nullptr, 1));
    EXPECT_NE(log().find("nowhere/x.bin"), std::string::npos);

    // A write cut short by the file-size limit.
    const std::string big(1 << 16, 'n');
    const auto writeBig = [&] { return CoreFsys::wrfle(at("PROG/MY.Q7P"), big.data(), int64_t{1} << 16); };
    EXPECT_EQ(writeUnderFileSizeLimit(4096, writeBig), 0) << "the cut write reported success";
    EXPECT_EQ(readBytes(root / "Prog/My.q7p"), bytes);
    EXPECT_EQ(entries(root / "Prog"), 2); // no temporary file stays behind
}
