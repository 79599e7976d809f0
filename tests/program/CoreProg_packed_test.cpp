#include "program/CoreProg.h"

#include "tests/filestore/FsysFixture.h"
#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace fsystest;

const char* const kProgram = "<PROGRAM><NAME> Soft Hall </NAME><CATEGORY> Reverb </CATEGORY>"
                             "<SUBCATEGORY1> Hall </SUBCATEGORY1><SUBCATEGORY2> Large </SUBCATEGORY2>"
                             "<DESCRIPTION> A soft hall </DESCRIPTION><VECTORFILENAME> hall.xml "
                             "</VECTORFILENAME>"
                             "<GAINOUT> -3 </GAINOUT></PROGRAM>";
const char* const kElements = "<PROGRAM><NAME> Elements </NAME><VECTOR><ELEMENT> 1 "
                              "</ELEMENT></VECTOR></PROGRAM>";
const std::string kWave = std::string("RIFF\x04\0\0\0WAVE", 12);

struct Header {
    int32_t id = -77;
    CoreAnsx name = "unchanged";
    CoreAnsx categories[3] = {"c0", "c1", "c2"};
    CoreAnsx description = "unchanged";
    CoreAnsx vector = "unchanged";
};

class CoreProgPacked : public FsysFiles {
protected:
    // A packed program as the store writes it: element file, program, kernel
    // wave.
    void pack(const std::string& file, const std::string& program, const std::string& elements = kElements) {
        CoreFsys store(&pool);
        const std::pair<const char*, std::string> items[3] = {
            {"BANK/MYPROG_ENV.XML", elements}, {"BANK/MYPROG.XML", program}, {"BANK/IR.WAV", kWave}};
        for (const auto& item : items)
            ASSERT_TRUE(store.setit(store.crtit(item.first), item.second.data(),
                                    static_cast<int32_t>(item.second.size()), CoreAnsx(""), true, false));
        ASSERT_TRUE(store.savea(at(file)));
    }
    Header get(const std::string& file) {
        Header h;
        CoreProg::getni(&pool, at(file), h.id, h.name, h.categories, h.description, h.vector);
        return h;
    }
    // The container's items by name, as bytes.
    std::map<std::string, std::string> items(const std::string& file) {
        std::map<std::string, std::string> found;
        CoreFsys store(&pool);
        EXPECT_TRUE(store.loada(at(file), "0", false, nullptr));
        for (int i = 0; i < store.llvcn(); ++i) {
            int32_t id = -1;
            const CoreAnsx name = store.llvel(i, id);
            void* data = nullptr;
            const int32_t size = store.getco(id, &data);
            found[str(name)] = std::string(static_cast<const char*>(data), static_cast<size_t>(size));
        }
        return found;
    }
    fs::path onDisk() { return root / "MYPROG.Q7P"; }
};

TEST_F(CoreProgPacked, ReadsTheHeaderOfTheProgramItem) {
    pack("MYPROG.Q7P", kProgram);
    const Header h = get("MYPROG.Q7P");
    EXPECT_EQ(str(h.name), "Soft Hall");
    EXPECT_EQ(str(h.categories[0]), "Reverb");
    EXPECT_EQ(str(h.categories[1]), "Hall");
    EXPECT_EQ(str(h.categories[2]), "Large");
    EXPECT_EQ(str(h.description), "A soft hall");
    EXPECT_EQ(str(h.vector), "hall.xml");
    // The id is the program's, not that of the element file (which contains the
    // key too) nor the last.
    CoreFsys store(&pool);
    ASSERT_TRUE(store.loada(at("MYPROG.Q7P"), "0", false, nullptr));
    EXPECT_EQ(h.id, store.getit("BANK/MYPROG.XML"));
    EXPECT_NE(h.id, store.getit("BANK/MYPROG_ENV.XML"));
}

TEST_F(CoreProgPacked, AbsentValuesTakeTheirDefaults) {
    pack("MYPROG.Q7P", "<PROGRAM><NAME> 0 </NAME><CATEGORY>  </CATEGORY></PROGRAM>");
    const Header h = get("myprog.q7p"); // found whatever the case of the name
    EXPECT_EQ(str(h.name), "NULL");
    EXPECT_EQ(str(h.categories[0]), "");
    EXPECT_EQ(str(h.categories[1]), "");
    EXPECT_EQ(str(h.categories[2]), "");
    EXPECT_EQ(str(h.description), "NULL");
    EXPECT_EQ(str(h.vector), "NULL");
}

TEST_F(CoreProgPacked, FirstItemContainingTheKeyServesWhenNoneIsNamedAfterIt) {
    CoreFsys store(&pool);
    const std::string program = kProgram;
    ASSERT_TRUE(store.setit(store.crtit("A/OTHER.WAV"), kWave.data(), static_cast<int32_t>(kWave.size()), "",
                            true, false));
    ASSERT_TRUE(store.setit(store.crtit("A/MYPROG_V2.XML"), program.data(),
                            static_cast<int32_t>(program.size()), "", true, false));
    ASSERT_TRUE(store.savea(at("MYPROG.Q7P")));
    const Header h = get("MYPROG.Q7P");
    EXPECT_EQ(str(h.name), "Soft Hall");
    CoreFsys reading(&pool);
    ASSERT_TRUE(reading.loada(at("MYPROG.Q7P"), "0", false, nullptr));
    EXPECT_EQ(h.id, reading.getit("A/MYPROG_V2.XML"));
}

TEST_F(CoreProgPacked, SetThenGetGivesTheNewHeaderAndKeepsTheOtherItems) {
    pack("MYPROG.Q7P", kProgram);
    const auto before = items("MYPROG.Q7P");
    Header h = get("MYPROG.Q7P");
    CoreAnsx categories[3] = {"Room", "Small", ""};
    {
        CoreXml_ patch;
        CoreNode* extra = patch.getfc("<PROGRAM><GAINOUT> 6 </GAINOUT><MIX1><SOURCE> LFO1 "
                                      "</SOURCE></MIX1></PROGRAM>");
        ASSERT_NE(extra, nullptr);
        ASSERT_TRUE(CoreProg::setni(&pool, at("MYPROG.Q7P"), h.id, "Dark Room", categories, "Dry <and> close",
                                    extra));
    }
    const Header after = get("MYPROG.Q7P");
    EXPECT_EQ(after.id, h.id);
    EXPECT_EQ(str(after.name), "Dark Room");
    EXPECT_EQ(str(after.categories[0]), "Room");
    EXPECT_EQ(str(after.categories[1]), "Small");
    EXPECT_EQ(str(after.categories[2]), "");
    EXPECT_EQ(str(after.description),
              "Dry (and> close"); // the XML writer's rule for '<' in user text
    EXPECT_EQ(str(after.vector), "hall.xml");

    const auto now = items("MYPROG.Q7P");
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(now.at("BANK/MYPROG_ENV.XML"), before.at("BANK/MYPROG_ENV.XML"));
    EXPECT_EQ(now.at("BANK/IR.WAV"), before.at("BANK/IR.WAV"));
    CoreXml_ program;
    CoreNode* document = program.getfc(now.at("BANK/MYPROG.XML").c_str());
    ASSERT_NE(document, nullptr);
    const CoreNode* p = document->getcd("PROGRAM");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(str(p->getlc("GAINOUT").Trim()),
              "6"); // the leaf of extra replaced the old value
    EXPECT_EQ(str(p->getcd("MIX1")->getlc("SOURCE").Trim()), "LFO1");
    int containers = 0;
    for (const auto& entry : fs::directory_iterator(root)) containers += entry.path().extension() != ".log";
    EXPECT_EQ(containers, 1);
}

TEST_F(CoreProgPacked, NameZeroIsWrittenAndReadBackAsNull) {
    pack("MYPROG.Q7P", kProgram);
    Header h = get("MYPROG.Q7P");
    CoreAnsx categories[3] = {"a", "b", "c"};
    ASSERT_TRUE(CoreProg::setni(&pool, at("MYPROG.Q7P"), h.id, "0", categories, "d", nullptr));
    EXPECT_EQ(str(get("MYPROG.Q7P").name), "NULL");
}

TEST_F(CoreProgPacked, ContainerIsRewrittenWhateverTheCaseOfItsName) {
    pack("MYPROG.Q7P", kProgram);
    fs::rename(root / "MYPROG.Q7P", root / "MyProg.q7p");
    Header h = get("MYPROG.Q7P");
    CoreAnsx categories[3] = {"x", "y", "z"};
    ASSERT_TRUE(CoreProg::setni(&pool, at("myprog.Q7P"), h.id, "Renamed", categories, "d", nullptr));
    EXPECT_EQ(str(get("MyProg.q7p").name), "Renamed");
    int containers = 0;
    for (const auto& entry : fs::directory_iterator(root)) containers += entry.path().extension() != ".log";
    EXPECT_EQ(containers, 1);
    EXPECT_TRUE(fs::exists(root / "MyProg.q7p"));
}

TEST_F(CoreProgPacked, FailuresLeaveTheFileByteIdentical) {
    CoreAnsx categories[3] = {"x", "y", "z"};
    // An id that names no record; an item without PROGRAM; an item that does not
    // parse.
    pack("MYPROG.Q7P", kProgram);
    const Header h = get("MYPROG.Q7P");
    std::string bytes = readBytes(onDisk());
    EXPECT_FALSE(CoreProg::setni(&pool, at("MYPROG.Q7P"), 9999, "n", categories, "d", nullptr));
    EXPECT_EQ(readBytes(onDisk()), bytes);

    const struct {
        const char* what;
        std::string program;
    } broken[] = {
        {"no PROGRAM", "<VECTOR><ELEMENT> 1 </ELEMENT></VECTOR>"},
        {"does not parse", "<PROGRAM></NAME></PROGRAM></PROGRAM>"},
    };
    for (const auto& b : broken) {
        fs::remove(onDisk());
        pack("MYPROG.Q7P", b.program);
        bytes = readBytes(onDisk());
        Header untouched = get("MYPROG.Q7P");
        EXPECT_EQ(str(untouched.name), "unchanged") << b.what;
        EXPECT_EQ(untouched.id, -77) << b.what;
        EXPECT_FALSE(CoreProg::setni(&pool, at("MYPROG.Q7P"), h.id, "n", categories, "d", nullptr)) << b.what;
        EXPECT_EQ(readBytes(onDisk()), bytes) << b.what;
    }

    // Missing file; wrong title.
    fs::remove(onDisk());
    EXPECT_FALSE(CoreProg::setni(&pool, at("MYPROG.Q7P"), h.id, "n", categories, "d", nullptr));
    EXPECT_FALSE(fs::exists(onDisk()));
    EXPECT_EQ(get("MYPROG.Q7P").id, -77);
    pack("MYPROG.Q7P", kProgram);
    bytes = readBytes(onDisk());
    std::string wrongTitle = bytes;
    wrongTitle[0] = 'X';
    writeBytes(onDisk(), wrongTitle);
    EXPECT_FALSE(CoreProg::setni(&pool, at("MYPROG.Q7P"), h.id, "n", categories, "d", nullptr));
    EXPECT_EQ(readBytes(onDisk()), wrongTitle);
    EXPECT_EQ(str(get("MYPROG.Q7P").name), "unchanged");
    EXPECT_NE(log().find("MYPROG.Q7P"), std::string::npos);
}

TEST_F(CoreProgPacked, ContainerWithAnItemTheLoaderSkippedIsNotRewritten) {
    const std::string program = kProgram;
    const std::string wave = kWave;
    // Two items of one name, and a third whose table entry points beyond the
    // blocks.
    const std::string blocks = program + wave;
    const std::string twice =
        tocItem("MYPROG.XML", "0", std::to_string(program.size())) +
        tocItem("MYPROG.XML", std::to_string(program.size()), std::to_string(wave.size()));
    const std::string damaged = tocItem("MYPROG.XML", "0", std::to_string(program.size())) +
                                tocItem("IR.WAV", std::to_string(program.size()), "999999");
    for (const std::string& table : {twice, damaged}) {
        writeBytes(onDisk(),
                   container(static_cast<int64_t>(blocks.size()), blocks, "<TOC>" + table + "</TOC>"));
        const std::string bytes = readBytes(onDisk());
        Header h = get("MYPROG.Q7P");
        CoreAnsx categories[3] = {"x", "y", "z"};
        EXPECT_FALSE(CoreProg::setni(&pool, at("MYPROG.Q7P"), h.id, "n", categories, "d", nullptr));
        EXPECT_EQ(readBytes(onDisk()), bytes);
    }
}

} // namespace
