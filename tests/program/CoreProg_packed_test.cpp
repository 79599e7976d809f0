#include "program/CoreProg.h"

#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "tests/filestore/FsysFixture.h"

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
    // A packed program as the store writes it: element file, program, kernel wave (or, with another
    // program name, a wave and that program only).
    void pack(const std::string& file, const std::string& program,
              const char* programName = "BANK/MYPROG.XML") {
        CoreFsys store(&pool);
        const bool usual = std::string(programName) == "BANK/MYPROG.XML";
        put(store, usual ? "BANK/MYPROG_ENV.XML" : "A/OTHER.WAV", usual ? kElements : kWave);
        put(store, programName, program);
        if (usual) put(store, "BANK/IR.WAV", kWave);
        ASSERT_TRUE(store.savea(at(file)));
    }
    Header get(const std::string& file) {
        Header h;
        CoreProg::getni(&pool, at(file), h.id, h.name, h.categories, h.description, h.vector);
        return h;
    }
    // The container's items by name, as bytes.
    std::map<std::string, std::string> items(const std::string& file) {
        CoreFsys store(&pool);
        EXPECT_TRUE(store.loada(at(file), "0", false, nullptr));
        return contents(store);
    }
    // The header as one text: name | categories | description | vector.
    static std::string text(const Header& h) {
        return str(h.name + "|" + h.categories[0] + "," + h.categories[1] + "," + h.categories[2] + "|" +
                   h.description + "|" + h.vector);
    }
    int containers() const {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(root)) count += entry.path().extension() != ".log";
        return count;
    }
    fs::path onDisk() { return root / "MYPROG.Q7P"; }
};

TEST_F(CoreProgPacked, ReadsTheHeaderOfTheProgramItemWithDefaultsForAbsentValues) {
    struct Row { const char* program; const char* itemName; const char* file; const char* header; };
    const Row rows[] = {
        {kProgram, "BANK/MYPROG.XML", "MYPROG.Q7P", "Soft Hall|Reverb,Hall,Large|A soft hall|hall.xml"},
        {"<PROGRAM><NAME> 0 </NAME><CATEGORY>  </CATEGORY></PROGRAM>", "BANK/MYPROG.XML", "myprog.q7p",
         "NULL|,,|NULL|NULL"}, // found whatever the case of the name
        // The first item containing the key serves when none is named after it.
        {kProgram, "A/MYPROG_V2.XML", "MYPROG.Q7P", "Soft Hall|Reverb,Hall,Large|A soft hall|hall.xml"}};
    for (const Row& r : rows) {
        fs::remove(onDisk());
        pack("MYPROG.Q7P", r.program, r.itemName);
        const Header h = get(r.file);
        EXPECT_EQ(text(h), r.header);
        // The id is the program's, not that of the element file (which contains the key too).
        CoreFsys store(&pool);
        ASSERT_TRUE(store.loada(at("MYPROG.Q7P"), "0", false, nullptr));
        EXPECT_EQ(h.id, store.getit(r.itemName));
    }
}

TEST_F(CoreProgPacked, SetThenGetGivesTheNewHeaderAndKeepsTheOtherItems) {
    pack("MYPROG.Q7P", kProgram);
    fs::rename(onDisk(), root / "MyProg.q7p"); // rewritten whatever the case of its name
    const auto before = items("MYPROG.Q7P");
    Header h = get("MYPROG.Q7P");
    CoreAnsx categories[3] = {"Room", "Small", ""};
    {
        CoreXml_ patch;
        CoreNode* extra =
            patch.getfc("<PROGRAM><GAINOUT> 6 </GAINOUT><MIX1><SOURCE> LFO1 </SOURCE></MIX1></PROGRAM>");
        ASSERT_NE(extra, nullptr);
        ASSERT_TRUE(CoreProg::setni(&pool, at("myprog.Q7P"), h.id, "Dark Room", categories, "Dry <and> close",
                                    extra));
    }
    const Header after = get("MYPROG.Q7P");
    EXPECT_EQ(after.id, h.id);
    // '<' in user text follows the XML writer's rule.
    EXPECT_EQ(text(after), "Dark Room|Room,Small,|Dry (and> close|hall.xml");
    const auto now = items("MYPROG.Q7P");
    ASSERT_EQ(now.size(), 3u);
    EXPECT_EQ(now.at("BANK/MYPROG_ENV.XML"), before.at("BANK/MYPROG_ENV.XML"));
    EXPECT_EQ(now.at("BANK/IR.WAV"), before.at("BANK/IR.WAV"));
    CoreXml_ program;
    const CoreNode* p = program.getfc(now.at("BANK/MYPROG.XML").c_str())->getcd("PROGRAM");
    EXPECT_EQ(str(p->getlc("GAINOUT").Trim()), "6"); // the leaf of extra replaced the old value
    EXPECT_EQ(str(p->getcd("MIX1")->getlc("SOURCE").Trim()), "LFO1");
    EXPECT_EQ(containers(), 1);
    EXPECT_TRUE(fs::exists(root / "MyProg.q7p"));

    ASSERT_TRUE(CoreProg::setni(&pool, at("MYPROG.Q7P"), h.id, "0", categories, "d", nullptr));
    EXPECT_EQ(str(get("MYPROG.Q7P").name), "NULL"); // a name "0" is written and read back as absent
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
    for (const std::string& table : {twice, damaged}) { // neither is rewritten
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
