// Program commit and description rewrite: an edit of each section reaches the document and reads back,
// committing twice changes nothing, and the description rewrite touches only the program's own item of
// a container, leaving the file byte-identical whenever it cannot.
#include "processor/CorePrcs.h"

#include "ChunkFolder.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CorePrm_.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/program/ProgramDump.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class CorePrcsCommit : public ChunkFolderTest {};

TEST_F(CorePrcsCommit, AnEditOfEachSectionReadsBackAfterTheCommit) {
    struct Row {
        const char* key; // the dump's entry
        std::function<void(CorePrcs&, CoreProg&)> edit;
        const char* reloaded = nullptr; // the entry after the reload when the program itself does not show it
    };
    const Row rows[] = {
        {"MIX2", [](CorePrcs&, CoreProg& p) { p.getif(1)->setiv(0.4, true, true); }},
        {"GAINOUT", [](CorePrcs&, CoreProg& p) { p.getif(9)->setiv(0.25, true, true); }},
        {"NAME", [](CorePrcs&, CoreProg& p) { p.setnm("Room (edited)"); }},
        {"LFO1", [](CorePrcs&, CoreProg& p) { p.getlf(0)->setvl(0.25, 4.0, 0.0, "", "Sine", 0.0, ""); }},
        {"FUN1", [](CorePrcs&, CoreProg& p) { p.getfn(0)->setvl("LFO1", "0.5", "a*b"); }},
        {"DNM1", [](CorePrcs&, CoreProg& p) { p.getdy(0)->setvl("MIX2", "EVF1", false, "LFO1", true, 3, 24.0, 3.0); }},
        {"PRM1", [](CorePrcs&, CoreProg& p) {
             p.getpm(0)->setvl(true, "MIX1", "OFF", "a", "Size", "Room", "m", "", "", 1.0, 20.0, 1.0, 20.0);
         }},
        {"PROGRAMRATE", [](CorePrcs& e, CoreProg&) { Access::setOwnRate(e, true, 5000); }, "5000"},
        {"PROGRAMRATE", [](CorePrcs& e, CoreProg&) { Access::setOwnRate(e, false, 5000); }, "-1"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key);
        auto e = booted();
        ASSERT_EQ(e->getls(), kRoom);
        CoreProg& p = Access::program(*e);
        const progtest::Dump before = progtest::dump(p);
        r.edit(*e, p);
        const progtest::Dump edited = progtest::dump(p);
        if (!r.reloaded) {
            ASSERT_NE(edited.at(r.key), before.at(r.key)) << "the edit changes nothing";
        }
        const CoreAnsx text = e->getdt();
        EXPECT_STREQ(e->getdt().c_str(), text.c_str()); // a second commit changes no byte
        // Reload the committed text as the slot's program.
        e->getmm()->setvl(kRoom, text, false);
        ASSERT_TRUE(e->ldpdm(kRoom, false));
        EXPECT_EQ(progtest::dump(Access::program(*e)).at(r.key), r.reloaded ? r.reloaded : edited.at(r.key));
    }
}

TEST_F(CorePrcsCommit, TheDescriptionRewriteTouchesOnlyTheProgramsItem) {
    const std::string kick = "<PROGRAM><NAME>Kick</NAME><DESCRIPTION>old</DESCRIPTION><GAINIR>1</GAINIR></PROGRAM>";
    const std::string sub = "<PROGRAM><NAME>Sub</NAME></PROGRAM>";
    const std::string wav(300, '\x7f');
    struct Row {
        const char* name;
        std::vector<std::pair<std::string, std::string>> items;
        const char* rewritten; // key of the item rewritten; null: the file stays byte-identical
    };
    const Row rows[] = {
        {"own item before a longer name", {{"KICK.XML", kick}, {"KICKSUB.XML", sub}, {"K.WAV", wav}}, "KICK.XML"},
        {"own item in a folder", {{"A/KICKSUB.XML", sub}, {"B/KICK.XML", kick}}, "B/KICK.XML"},
        {"only a containing name", {{"X.WAV", wav}, {"KICK_V2.XML", kick}}, "KICK_V2.XML"},
        {"no match", {{"SNARE.XML", kick}}, nullptr},
        {"a match that is no program", {{"KICK.XML", "<CACHE><NAME>x</NAME></CACHE>"}}, nullptr},
        {"a malformed match", {{"KICK.XML", "</PROGRAM>"}}, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const auto file = root / "KICK.Q7P";
        pack(file, r.items);
        const std::string original = bytesOf(file);
        CorePrcs::setds(&pool, CoreAnsx(file.string().c_str()), "new text");
        EXPECT_EQ(pool.getma(), 0) << "the pool holds nothing afterwards";
        if (!r.rewritten) {
            EXPECT_EQ(bytesOf(file), original);
            continue;
        }
        CoreFsys store(&pool);
        ASSERT_TRUE(store.loada(CoreAnsx(file.string().c_str()), "0", false, nullptr));
        for (const auto& [key, bytes] : r.items) {
            const int32_t id = store.getit(key.c_str());
            ASSERT_GE(id, 0) << key;
            const std::string now = store.ct2as(id).c_str();
            if (key != r.rewritten) {
                EXPECT_EQ(now, bytes) << key;
                continue;
            }
            EXPECT_EQ(now, "<PROGRAM><NAME> Kick </NAME><GAINIR> 1 </GAINIR><DESCRIPTION> new text </DESCRIPTION>"
                           "</PROGRAM>");
        }
    }
    // An unreadable item: the table names more than the file holds.
    const auto file = root / "KICK.Q7P";
    pack(file, {{"KICK.XML", kick}, {"LOST.WAV", wav}});
    std::string bytes = bytesOf(file);
    const size_t at = bytes.find("LOST.WAV");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(bytes.find("<DIM>", at), 8, "<DIM>999");
    writeText(file, bytes);
    CorePrcs::setds(&pool, CoreAnsx(file.string().c_str()), "new text");
    EXPECT_EQ(bytesOf(file), bytes);
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
