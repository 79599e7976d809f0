// Program memory, host chunk: the dump of one slot byte for byte (also under a decimal-comma locale),
// slots that cannot be dumped, the restore of chunk texts into slots with its refusals, and mutated
// chunks that must neither crash nor leave a slot holding anything but one PROGRAM element.
#include "processor/CoreMmry.h"

#include "CoreMmryTestAccess.h"
#include "base/CoreNode.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "tests/common/ByteMutator.h"
#include "tests/common/DecimalCommaLocale.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using Access = CoreMmryTestAccess;

const char* const kKick = "<PROGRAM><NAME>Kick</NAME><SEQUENCE>9</SEQUENCE><CATEGORY>kit</CATEGORY>"
                          "<VECTORFILENAME>old.q7v</VECTORFILENAME><DESCRIPTION></DESCRIPTION><GAINIR>0</GAINIR>"
                          "<H1><ELEMENT><FILENAME>k.wav</FILENAME></ELEMENT></H1></PROGRAM>";
// GAINIR "0" stays bare: the writer keeps a value read as the bare "0" bare, so that it still reads as
// absent after a restore.
const char* const kKickChunk =
    "<SETUP><SELECTEDPROGRAM> 5 </SELECTEDPROGRAM><PROGRAM><NAME> Kick </NAME><CATEGORY> kit </CATEGORY>"
    "<DESCRIPTION></DESCRIPTION><GAINIR>0</GAINIR><H1><ELEMENT><FILENAME> k.wav </FILENAME></ELEMENT></H1>"
    "<SEQUENCE> 5 </SEQUENCE><ORIGINALFILENAME> progs/Kick.q7p </ORIGINALFILENAME>"
    "<VECTORFILENAME> 0 </VECTORFILENAME><WASCRYPTED> 1 </WASCRYPTED></PROGRAM></SETUP>";

std::string text(const CoreAnsx& value) { return value.c_str(); }

// The slot holds exactly one top element, a PROGRAM.
bool holdsOneProgram(CoreMmry& m, int32_t slot) {
    const CoreXml_* document = Access::document(m, slot);
    const CoreNode* root = document ? document->getrt() : nullptr;
    if (!root || !root->getcn() || root->getcn()->Count != 1) return false;
    return root->getcd()->gettx().Trim().UpperCase() == CoreAnsx("PROGRAM");
}

// The dump as first built: the slot's program copied through its text, the slot fields replaced at
// the path and the PROGRAM moved into the chunk.
std::string copiedDump(CoreMmry& m, int32_t n) {
    CoreMmry::MEMORYLOC loc;
    m.getel(n, &loc);
    CoreXml_ chunk;
    chunk.pappd(nullptr, 0, new CoreNode("SETUP"));
    CoreNode* selected = new CoreNode("SELECTEDPROGRAM");
    selected->addcd(new CoreNode(static_cast<double>(n)));
    const CoreAnsx setup("SETUP");
    chunk.pappd(&setup, 1, selected);
    CoreXml_ copy;
    copy.getfc(Access::document(m, n)->settc(false, false));
    const std::pair<const char*, CoreNode*> fields[] = {{"SEQUENCE", new CoreNode(static_cast<int>(n))},
                                                        {"ORIGINALFILENAME", new CoreNode(loc.filepath)},
                                                        {"VECTORFILENAME", new CoreNode(loc.vectorname)},
                                                        {"WASCRYPTED", new CoreNode(loc.packed)}};
    for (const auto& [tag, value] : fields) {
        const CoreAnsx path[2] = {"PROGRAM", tag};
        copy.pappr(path, 2, value);
    }
    const CoreAnsx program("PROGRAM");
    chunk.pmove(&program, 1, &copy, &setup, 1, false);
    return chunk.settc(false, false).c_str();
}

class CoreMmryChunk : public MemoryFolderTest {};

TEST_F(CoreMmryChunk, DumpsASlotByteForByteWhateverTheLocale) {
    for (bool comma : {false, true}) {
        SCOPED_TRACE(comma ? "decimal comma" : "C locale");
        std::optional<DecimalCommaLocale> locale;
        if (comma) locale.emplace();
        auto m = make();
        m->setvl(5, true, "progs/Kick.q7p", kKick);
        EXPECT_EQ(text(m->dumpo(5)), kKickChunk);
        EXPECT_EQ(text(m->getvl(5, false)).find("<SEQUENCE> 9 </SEQUENCE>") != std::string::npos, true)
            << "the slot's own document stays as it was";
    }
}

TEST_F(CoreMmryChunk, DumpEqualsTheProgramCopiedThroughItsTextWithTheSlotFieldsLast) {
    const auto deep = [](int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) {
            open += "<D>";
            close += "</D>";
        }
        return "<PROGRAM><NAME>Deep</NAME>" + open + "1" + close + "</PROGRAM>";
    };
    const std::string texts[] = {
        kKick,
        "<program><sequence>1</sequence><Name> x </Name><SEQUENCE>2</SEQUENCE><wascrypted>0</wascrypted></program>",
        "<PROGRAM><NAME>Mixed</NAME>text<H1>a<ELEMENT><FILENAME>k.wav</FILENAME></ELEMENT>b</H1></PROGRAM>",
        "<PROGRAM>only a value</PROGRAM>",
        "<PROGRAM>SEQUENCE</PROGRAM>",
        "<OTHER>1</OTHER>lead<PROGRAM><NAME>Second</NAME><GAIN>0</GAIN><E></E></PROGRAM><PROGRAM><NAME>3</NAME>",
        "<PROGRAM><NAME>Cut</NAME><H1><ELEMENT><FILENAME>k.wav</FILENAME>",
        "<PROGRAM><NAME>Odd</NAME><A<B> v<w </A<B><>empty name</></PROGRAM>",
        "<PROGRAM><NAME>Alone</NAME></PROGRAM><PROGRAM><SEQUENCE>4</SEQUENCE></PROGRAM>",
        deep(254),
        deep(255),
    };
    auto m = make();
    for (const std::string& program : texts) {
        SCOPED_TRACE(program.substr(0, 120));
        m->setvl(5, true, "progs/Kick.q7p", program.c_str());
        EXPECT_EQ(text(m->dumpo(5)), copiedDump(*m, 5));
    }
    // Trees no reader makes: values beside elements, several values, elements without children.
    const auto tree = [](std::initializer_list<CoreNode*> children) {
        CoreNode* program = new CoreNode("PROGRAM");
        for (CoreNode* child : children) program->addcd(child);
        return program;
    };
    const auto valued = [](const char* name, std::initializer_list<const char*> values) {
        CoreNode* node = new CoreNode(name);
        for (const char* value : values) node->addcd(new CoreNode(value));
        return node;
    };
    const std::function<CoreNode*()> trees[] = {
        [&] { return tree({valued("NAME", {"a", "b"}), valued("GAIN", {"0", ""}), valued("X", {"", "0"})}); },
        [&] { return tree({valued("NAME", {"n"}), valued("H1", {}), new CoreNode("value")}); },
        [&] {
            CoreNode* h1 = valued("H1", {"lead"});
            h1->addcd(valued("E", {"1"}));
            h1->addcd(valued("EMPTY", {}));
            return tree({valued("NAME", {"n"}), h1, valued("SEQUENCE", {"7"})});
        },
    };
    for (size_t i = 0; i < std::size(trees); ++i) {
        SCOPED_TRACE(i);
        m->setvl(5, true, "progs/Kick.q7p", kKick);
        Access::document(*m, 5)->setrt(new CoreNode("ROOT"));
        Access::document(*m, 5)->getrt()->addcd(trees[i]());
        EXPECT_EQ(text(m->dumpo(5)), copiedDump(*m, 5));
    }
}

TEST_F(CoreMmryChunk, ASlotWithoutAProgramCannotBeDumped) {
    auto m = make();
    m->setvl(3, false, "gone.xml", "<PROGRAM><NAME>Gone</NAME></PROGRAM>");
    Access::makeLazy(*m, 3); // its file does not exist
    for (int32_t slot : {-1, 0, 3, 10000}) {
        SCOPED_TRACE(slot);
        EXPECT_THROW(m->dumpo(slot), CoreAnsx);
    }
}

TEST_F(CoreMmryChunk, RestoresProgramsIntoSlotsAndRefusesWhatNamesNone) {
    const std::string kick = kKickChunk;
    const auto setup = [](const std::string& inside) { return "<SETUP>" + inside + "</SETUP>"; };
    const auto prog = [](const std::string& inside) { return "<PROGRAM>" + inside + "</PROGRAM>"; };
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "<A>";
    struct Slot {
        int32_t slot;
        std::string state; // CoreMmryTestAccess::state; "" for the state before the restore
    };
    struct Row {
        const char* name;
        std::string chunk;
        bool throws;
        int32_t result;
        std::vector<Slot> slots;
    };
    const std::string high = "N\x80\xC3\xA9\xFF";
    const Row rows[] = {
        {"the golden", kick, false, 5, {{5, "Kick|kit|||||progs/Kick.q7p|progs/Kick.q7p|progs/progs/Kick.q7p|progs/Kick.q7v|vectors/progs/Kick.q7v|PU"}}},
        {"a name borne by slot 12", setup(prog("<NAME>Named</NAME><SEQUENCE>5</SEQUENCE>")), false, 12,
         {{12, "Named||||||dummy.xml|dummy.xml|progs/dummy.xml|dummy.q7v|vectors/dummy.q7v|U"}, {5, ""}}},
        {"no file name, WASCRYPTED 0, a description",
         setup(prog("<NAME>New</NAME><SEQUENCE>7</SEQUENCE><WASCRYPTED>0</WASCRYPTED><DESCRIPTION>d</DESCRIPTION>")),
         false, 7, {{7, "New||||||dummy.xml|dummy.xml|progs/dummy.xml|dummy.q7v|vectors/dummy.q7v|U"}}},
        {"only SELECTEDPROGRAM", setup("<SELECTEDPROGRAM>7</SELECTEDPROGRAM>"), false, 7, {{7, ""}}},
        {"an empty SETUP", setup(""), false, 0, {}},
        {"three programs, the first selected",
         setup("<SELECTEDPROGRAM>1</SELECTEDPROGRAM>" + prog("<NAME>P3</NAME><SEQUENCE>3</SEQUENCE>") +
               "<OTHER>x</OTHER>" + prog("<NAME>P4</NAME><SEQUENCE>4</SEQUENCE>") +
               prog("<NAME>P9</NAME><SEQUENCE>9</SEQUENCE>")),
         false, 3, {{3, "P3|"}, {4, "P4|"}, {9, "P9|"}}},
        {"bytes 0x80 to 0xFF", setup(prog("<NAME>" + high + "</NAME><SEQUENCE>8</SEQUENCE>")), false, 8,
         {{8, high + "|"}}},
        {"no NAME beside an unnamed slot", setup(prog("<SEQUENCE>8</SEQUENCE>")), false, 8, {{8, "|"}, {2, ""}}},
        {"bytes after the first NUL", kick + std::string(1, '\0') + "<SETUP>", false, 5, {{5, "Kick|"}}},
        {"malformed", "<SETUP></SETUP></PROGRAM>", true, -1, {}},
        {"nesting beyond 256", setup(deep), true, -1, {}},
        {"no SETUP", prog("<NAME>P</NAME><SEQUENCE>4</SEQUENCE>"), false, -1, {{4, ""}}},
        {"NOCHUNK", "NOCHUNK", false, -1, {}},
        {"SEQUENCE -1", setup("<SELECTEDPROGRAM>-1</SELECTEDPROGRAM>" + prog("<NAME>P</NAME><SEQUENCE>-1</SEQUENCE>")),
         false, -1, {}},
        {"SEQUENCE 10000",
         setup("<SELECTEDPROGRAM>10000</SELECTEDPROGRAM>" + prog("<NAME>P</NAME><SEQUENCE>10000</SEQUENCE>")), false,
         -1, {{9999, ""}}},
        {"SEQUENCE 1e300", setup("<SELECTEDPROGRAM>1e300</SELECTEDPROGRAM>" + prog("<NAME>P</NAME><SEQUENCE>1e300</SEQUENCE>")),
         false, -1, {{0, ""}}},
        {"SEQUENCE 9999.5", setup("<SELECTEDPROGRAM>9999.5</SELECTEDPROGRAM>" + prog("<SEQUENCE>9999.5</SEQUENCE>")),
         false, -1, {{9999, ""}}},
        // A PROGRAM without elements is no program; a chunk whose programs were all skipped names no slot.
        {"a PROGRAM of text alone", setup(prog("A")), false, -1, {{0, ""}}},
        {"an empty PROGRAM beside SELECTEDPROGRAM", setup("<SELECTEDPROGRAM>5</SELECTEDPROGRAM>" + prog("")), false,
         -1, {{5, ""}, {0, ""}}},
        {"a skipped PROGRAM beside SELECTEDPROGRAM",
         setup("<SELECTEDPROGRAM>5</SELECTEDPROGRAM>" + prog("<SEQUENCE>-1</SEQUENCE>")), false, -1, {{5, ""}}},
        {"text alone beside a program", setup(prog("A") + prog("<NAME>P4</NAME><SEQUENCE>4</SEQUENCE>")), false, 4,
         {{4, "P4|"}, {0, ""}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto m = make();
        Access::put(*m, 0, "Init");
        m->setvl(2, false, "unnamed.xml", "<PROGRAM><GAINIR>1</GAINIR></PROGRAM>"); // a used slot without name
        Access::put(*m, 5, "Five");
        Access::put(*m, 12, "Named");
        std::vector<std::string> before;
        std::vector<CoreXml_*> documents;
        for (int32_t n = 0; n < CoreMmry::iCmemorydim; ++n) {
            before.push_back(Access::state(*m, n));
            documents.push_back(Access::document(*m, n));
        }
        const CoreAnsx chunk(r.chunk.c_str()); // a CoreAnsx ends at the first NUL, as the restore reads it
        int32_t result = -2;
        if (r.throws) {
            EXPECT_THROW(m->dumpi(chunk), CoreAnsx);
        } else {
            result = m->dumpi(chunk);
            EXPECT_EQ(result, r.result);
        }
        std::vector<bool> checked(CoreMmry::iCmemorydim, false);
        for (const Slot& s : r.slots) {
            checked[s.slot] = true;
            const std::string state = Access::state(*m, s.slot);
            if (s.state.empty()) {
                EXPECT_EQ(state, before[s.slot]) << s.slot;
            } else {
                EXPECT_EQ(state.substr(0, s.state.size()), s.state) << s.slot;
                EXPECT_TRUE(holdsOneProgram(*m, s.slot)) << s.slot;
                EXPECT_EQ(text(m->getds(s.slot)), ""); // a restored slot's description stays empty
            }
        }
        for (int32_t n = 0; n < CoreMmry::iCmemorydim; ++n) {
            if (checked[n]) continue;
            ASSERT_EQ(Access::document(*m, n), documents[n]) << "slot " << n << " changed";
        }
    }
}

TEST_F(CoreMmryChunk, RestoringTheDumpGivesTheSameDump) {
    // A program file of text alone gets the slot fields beside its text: the first dump is already the
    // form that reads back.
    for (const char* program : {kKick, "<PROGRAM>only text</PROGRAM>", "<PROGRAM></PROGRAM>"}) {
        SCOPED_TRACE(program);
        auto m = make();
        m->setvl(5, true, "progs/Kick.q7p", program);
        const CoreAnsx first = m->dumpo(5);
        auto other = make();
        ASSERT_EQ(other->dumpi(first), 5);
        EXPECT_EQ(text(other->dumpo(5)), text(first));
    }
}

TEST_F(CoreMmryChunk, MutatedChunksLeaveEverySlotWholeAndThePoolBalanced) {
    const std::string three =
        "<SETUP><SELECTEDPROGRAM> 3 </SELECTEDPROGRAM><PROGRAM><NAME> A </NAME><SEQUENCE> 3 </SEQUENCE></PROGRAM>"
        "<PROGRAM><NAME> B </NAME><SEQUENCE> 40 </SEQUENCE><WASCRYPTED> 1 </WASCRYPTED></PROGRAM>"
        "<PROGRAM><NAME> Init </NAME><SEQUENCE> 9999 </SEQUENCE></PROGRAM></SETUP>";
    const std::string handWritten = "<?xml version=\"1.0\"?>\n<setup>\n  <selectedprogram>7</selectedprogram>\n"
                                    "  <program><name>Hand</name><sequence>7,5</sequence><LFO1><MINRATE>1</MINRATE>"
                                    "</LFO1><originalfilename>a/b.xml</originalfilename></program>\n</setup>\n";
    ByteMutator::Hints hints;
    hints.textStart = 0;
    hints.tokens = {"<SETUP>", "</SETUP>", "<PROGRAM>", "</PROGRAM>", "<SEQUENCE>", "</SEQUENCE>", "<NAME>",
                    "</NAME>", "<SELECTEDPROGRAM>", "NOCHUNK", "-1", "1e300", "9999", "<", ">", "</"};
    auto m = make();
    Access::put(*m, 0, "Init");
    Access::put(*m, 5, "Five");
    const int64_t held = pool.getma();
    std::vector<CoreXml_*> documents(CoreMmry::iCmemorydim);
    for (int32_t n = 0; n < CoreMmry::iCmemorydim; ++n) documents[n] = Access::document(*m, n);
    ByteMutator mutator(2701);
    for (const std::string& original : {std::string(kKickChunk), three, handWritten}) {
        for (int i = 0; i < 2000; ++i) {
            const std::string mutant = mutator.mutate(original, hints);
            int32_t result = -1;
            try {
                result = m->dumpi(CoreAnsx(mutant.c_str()));
            } catch (const CoreAnsx&) {
                result = -1; // the reader refused it; nothing may have changed
            }
            ASSERT_TRUE(result >= -1 && result < CoreMmry::iCmemorydim) << mutant;
            for (int32_t n = 0; n < CoreMmry::iCmemorydim; ++n) {
                CoreXml_* now = Access::document(*m, n);
                if (now == documents[n]) continue;
                ASSERT_TRUE(holdsOneProgram(*m, n)) << "slot " << n << " after " << mutant;
                documents[n] = now;
            }
            ASSERT_EQ(pool.getma(), held);
        }
    }
}

} // namespace
